#pragma once
// The SMTP client of the mail action: socket, address, attachment (base64), message and connection.

#include "actions/MySMTPAddress.h"
#include "actions/MySMTPAttachment.h"
#include "actions/MySMTPConnection.h"
#include "actions/MySMTPMessage.h"
#include "actions/MySMTPSocket.h"
