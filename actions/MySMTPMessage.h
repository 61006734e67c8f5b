#pragma once
// One mail for the SMTP client: From, the To/Cc/Bcc recipient sets, subject, body, attachments,
// mailer and Reply-To, and the header block that goes after DATA. Built by the mail action and sent
// by MySMTPConnection on the same thread.
//
// Header values are single lines: a line break inside a subject, name or address is sent as a blank
// so that configured texts can never add header lines.
//
// A multipart mail separates its parts with a boundary drawn at random for each message. It begins
// with "=_", which neither the quoted-printable body nor the base64 attachments can contain, so no
// text of a camera, document or file name can end a part or forge one.

#include "actions/MySMTPAddress.h"
#include "actions/MySMTPAttachment.h"

#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace mylib {

class MySMTPMessage {
public:
    enum RecipientKind { TO = 0, CC = 1, BCC = 2 };

    // Draws the message's boundary.
    MySMTPMessage();
    virtual ~MySMTPMessage() = default;

    // The header block for the current local time (see GetHeaderAt).
    virtual std::string GetHeader() const;
    // "From: ", "To: ", optional "Cc: ", "Subject: ", "Date: " with the local zone, "X-Mailer: ",
    // optional "Reply-To: ", the MIME lines, and the empty line that ends the header.
    std::string GetHeaderAt(time_t now) const;

    void SetFrom(const MySMTPAddress& from) { m_from = from; }
    // kind 0 To, 1 Cc, 2 Bcc; other kinds are ignored, a repeated address is kept once.
    void AddRecipient(const MySMTPAddress& address, int kind);
    void SetSubject(const std::string& subject) { m_subject = subject; }
    void SetReplyTo(const MySMTPAddress& replyTo) { m_replyTo = replyTo; }
    void SetMailer(const std::string& mailer) { m_mailer = mailer; }
    void AddAttachment(MySMTPAttachment attachment) { m_attachments.push_back(std::move(attachment)); }
    // Stores the text with "\r\n" line ends (a bare "\n" becomes "\r\n", as SMTP requires) and
    // dot-stuffed: a line that begins with a period gets a second one in front.
    void SetBody(const std::string& text);

    const MySMTPAddress& GetFrom() const { return m_from; }
    const std::set<MySMTPAddress>& GetRecipients(int kind) const;
    const std::string& GetSubject() const { return m_subject; }
    const std::string& GetBody() const { return m_body; }
    const std::vector<MySMTPAttachment>& GetAttachments() const { return m_attachments; }
    // The body as it goes into a multipart mail: quoted-printable, as its part header declares,
    // and dot-stuffed.
    std::string GetMimeBody() const;

    // The boundary of the multipart form: "=_Tavrix_" followed by 32 random hexadecimal digits.
    const std::string& GetBoundary() const { return m_boundary; }
    static std::string NewBoundary();

    // Dot-stuffing of a text whose lines end in "\r\n".
    static std::string DotStuff(const std::string& text);
    // Quoted-printable encoding (RFC 2045) of a text whose lines end in "\r\n".
    static std::string QuotedPrintable(const std::string& text);

private:
    std::set<MySMTPAddress> m_to, m_cc, m_bcc;
    std::vector<MySMTPAttachment> m_attachments;
    std::string m_body;    // dot-stuffed
    std::string m_rawBody; // with "\r\n" line ends, not stuffed
    MySMTPAddress m_from;
    std::string m_subject;
    std::string m_mailer = "MySMTPConnection v1.3";
    MySMTPAddress m_replyTo;
    std::string m_boundary;
};

// A header value or command argument as one line: "\r" and "\n" become blanks.
std::string SingleLine(const std::string& text);
// A MIME parameter value: as it is when it is a plain token, otherwise in double quotes with
// backslash escapes, so that a file name with blanks or ";" reaches the reader whole.
std::string MimeParameter(const std::string& value);

} // namespace mylib
