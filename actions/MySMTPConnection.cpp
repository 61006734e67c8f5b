#include "actions/MySMTPConnection.h"

#include "actions/ActionAbort.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "platform/Time.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace mylib {

namespace {

// The system's text for an error number, with the number: "Connection timed out (110)".
std::string ErrorText(int error) {
    char buffer[256];
    const char* text = strerror_r(error, buffer, sizeof(buffer));
    return std::string(text) + " (" + std::to_string(error) + ")";
}

// Finds the end of the first complete reply in text: the position after the line break of the
// first line whose fourth character is not "-". npos while the reply is incomplete. A bare "\n"
// is accepted as a line end from lenient servers.
size_t FindReplyEnd(const std::string& text) {
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            return std::string::npos;
        }
        size_t length = lineEnd - lineStart;
        if (length > 0 && text[lineEnd - 1] == '\r') {
            --length;
        }
        if (length < 4 || text[lineStart + 3] != '-') {
            return lineEnd + 1;
        }
        lineStart = lineEnd + 1;
    }
    return std::string::npos;
}

std::string WithoutFinalLineBreak(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    return text;
}

int ReplyCode(const std::string& text) {
    if (text.size() < 3) {
        return 0;
    }
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return 0;
        }
        code = code * 10 + (text[i] - '0');
    }
    return code;
}

} // namespace

#define SMTP_FAIL(message) Throw(__LINE__, (message))
#define SMTP_SEND_FAIL(message) ThrowSendFailure(__LINE__, (message))

MySMTPConnection::~MySMTPConnection() {
    try {
        Disconnect();
    } catch (const CSMTPEx&) {
        // The caller that wanted to know has called Disconnect() itself.
    }
}

void MySMTPConnection::Throw(int line, const std::string& message) const {
    throw CSMTPEx(TAVRIX_THROW_SOURCE, "CSMTPEx", line, message, m_lastError ? ErrorText(m_lastError) : "");
}

void MySMTPConnection::ThrowSendFailure(int line, const std::string& message) {
    Throw(line, message + std::to_string(m_lastError));
}

bool MySMTPConnection::SendText(const std::string& text) {
    if (m_socket.Send(text.data(), text.size(), m_timeouts.sendMs, m_deadline)) {
        return true;
    }
    m_lastError = errno;
    // The server did not take the command whole: nothing more can be said on this connection.
    m_connected = false;
    return false;
}

void MySMTPConnection::MarkRefused() {
    // Another reply than the expected one: the command was refused. A time-out, a cut or a lost
    // connection keeps its own number.
    if (m_lastError == EPROTO) {
        m_lastError = EBADMSG;
    }
}

void MySMTPConnection::FailResponse(int error, std::string text) {
    m_lastError = error;
    m_lastCommandResponse = WithoutFinalLineBreak(std::move(text));
    // No whole reply came: what the server says next would answer the wrong command, so no QUIT.
    m_connected = false;
}

int MySMTPConnection::ReceiveSome(std::string& text, int waitMs) {
    const int readable = m_socket.WaitReadable(waitMs);
    if (readable <= 0) {
        return readable;
    }
    char buffer[4096];
    const ssize_t received = m_socket.Receive(buffer, sizeof(buffer));
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return 0;
    }
    if (received <= 0) {
        if (received == 0) {
            errno = ECONNRESET;
        }
        return -1;
    }
    text.append(buffer, static_cast<size_t>(received));
    return 1;
}

bool MySMTPConnection::ReadResponse(int expectedCode) {
    using Clock = std::chrono::steady_clock;
    m_lastError = 0;
    const Clock::time_point replyDeadline =
        std::min(Clock::now() + std::chrono::milliseconds(m_timeouts.replyMs), m_deadline);
    uint32_t lastDataTick = platform::GetTickCount32();
    std::string& text = m_pending;
    size_t replyEnd;
    while ((replyEnd = FindReplyEnd(text)) == std::string::npos) {
        if (ActionCutShort()) {
            FailResponse(ECANCELED, std::move(text));
            text.clear();
            return false;
        }
        uint32_t waited = platform::GetTickCount32() - lastDataTick;
        if (waited > m_responseTimeoutMs || Clock::now() >= replyDeadline) {
            TRACE("MySMTPConnection::ReadResponse() %s", waited > m_responseTimeoutMs
                                                             ? "no data within the response time-out"
                                                             : "no whole reply by its deadline");
            FailResponse(ETIMEDOUT, std::move(text));
            text.clear();
            return false;
        }
        const int64_t untilDeadline =
            std::chrono::duration_cast<std::chrono::milliseconds>(replyDeadline - Clock::now()).count() + 1;
        int64_t waitMs =
            std::min<int64_t>({kPollIntervalMs, m_responseTimeoutMs - waited + 1, untilDeadline});
        const int received = ReceiveSome(text, static_cast<int>(ActionTimeLeftMs(waitMs)));
        if (received < 0) {
            FailResponse(errno, std::move(text));
            text.clear();
            return false;
        }
        if (received == 0) {
            continue;
        }
        lastDataTick = platform::GetTickCount32();
        if (text.size() > kMaxResponseBytes && FindReplyEnd(text) == std::string::npos) {
            FailResponse(EMSGSIZE, text.substr(0, 512));
            text.clear();
            return false;
        }
    }
    std::string reply = WithoutFinalLineBreak(text.substr(0, replyEnd));
    text.erase(0, replyEnd);
    m_lastResponseCode = ReplyCode(reply);
    TRACE("MySMTPConnection::ReadResponse() got %d, expected %d", m_lastResponseCode, expectedCode);
    if (m_lastResponseCode != expectedCode) {
        m_lastError = EPROTO;
        m_lastCommandResponse = std::move(reply);
        return false;
    }
    return true;
}

bool MySMTPConnection::Connect(const std::string& host, int port, const std::string& user,
                               const std::string& password) {
    TRACE("MySMTPConnection::Connect() to %s port %d", host.c_str(), port);
    if (m_socket.IsOpen()) {
        Disconnect();
    }
    m_pending.clear();
    m_lastError = 0;
    m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeouts.messageMs);
    if (!m_socket.Create()) {
        m_lastError = errno;
        SMTP_SEND_FAIL("Failed to create client socket, GetLastError returns: ");
    }
    if (port < 0 || port > 65535 ||
        !m_socket.Connect(host, static_cast<uint16_t>(port), m_timeouts.connectMs)) {
        m_lastError = (port < 0 || port > 65535) ? EINVAL : errno;
        m_socket.Close();
        SMTP_FAIL("Could not connect to the SMTP server " + host + " on port " + std::to_string(port) +
                  ", GetLastError returns: " + std::to_string(m_lastError));
    }
    if (!ReadResponse(220)) {
        m_socket.Close();
        SMTP_FAIL("An unexpected SMTP login response was received");
    }
    char hostName[256] = {};
    if (::gethostname(hostName, sizeof(hostName) - 1) != 0 || hostName[0] == '\0') {
        std::strcpy(hostName, "localhost");
    }
    if (!SendText("EHLO " + SingleLine(hostName) + "\r\n")) {
        Disconnect();
        SMTP_FAIL("An unexpected error occurred while sending the EHLO command");
    }
    if (!ReadResponse(250)) {
        m_socket.Close();
        SMTP_FAIL("An unexpected SMTP login response was received");
    }
    if (!user.empty()) {
        Login(user, password);
    }
    m_connected = true;
    TRACE("MySMTPConnection::Connect() connected");
    return true;
}

void MySMTPConnection::Login(const std::string& user, const std::string& password) {
    TRACE("MySMTPConnection::Connect() logging in as %s", user.c_str());
    if (!SendText("AUTH LOGIN\r\n")) {
        Disconnect();
        SMTP_FAIL("An unexpected error occurred while sending the EHLO command");
    }
    if (!ReadResponse(334)) {
        Disconnect();
        SMTP_FAIL("An unexpected AUTH LOGIN response was received");
    }
    if (!SendText(MySMTPAttachment::EncodeLine(user))) {
        Disconnect();
        SMTP_FAIL("An unexpected error occurred while sending the username");
    }
    if (!ReadResponse(334)) {
        Disconnect();
        SMTP_FAIL("An unexpected AUTH LOGIN response was received");
    }
    if (!SendText(MySMTPAttachment::EncodeLine(password))) {
        Disconnect();
        SMTP_FAIL("An unexpected error occurred while sending the username");
    }
    if (!ReadResponse(235)) {
        Disconnect();
        SMTP_FAIL("An unexpected AUTH LOGIN response was received");
    }
}

bool MySMTPConnection::SendMessage(const MySMTPMessage& message) {
    if (!m_connected) {
        SMTP_FAIL("Failed to send the SMTP message, not connected!");
    }
    TRACE("MySMTPConnection::SendMessage() called");
    // The message deadline grows with what there is to send.
    size_t size = message.GetBody().size();
    for (const MySMTPAttachment& attachment : message.GetAttachments()) {
        size += attachment.GetEncodedText().size();
    }
    if (m_timeouts.bytesPerExtraSecond > 0) {
        m_deadline += std::chrono::seconds(size / m_timeouts.bytesPerExtraSecond);
    }
    if (!SendText("MAIL FROM:<" + SingleLine(message.GetFrom().GetEmailAddress()) + ">\r\n")) {
        SMTP_SEND_FAIL("Failed in call to send MAIL command, GetLastError returns: ");
    }
    if (!ReadResponse(250)) {
        MarkRefused();
        SMTP_FAIL("An unexpected MAIL response was received");
    }
    for (int kind : {MySMTPMessage::TO, MySMTPMessage::CC, MySMTPMessage::BCC}) {
        for (const MySMTPAddress& recipient : message.GetRecipients(kind)) {
            if (!SendText("RCPT TO:<" + SingleLine(recipient.GetEmailAddress()) + ">\r\n")) {
                SMTP_SEND_FAIL("Failed in call to send RCPT command, GetLastError returns: ");
            }
            if (!ReadResponse(250)) {
                MarkRefused();
                SMTP_FAIL("An unexpected RCPT response was received");
            }
        }
    }
    if (!SendText("DATA\r\n")) {
        SMTP_SEND_FAIL("Failed in call to send MAIL command, GetLastError returns: ");
    }
    if (!ReadResponse(354)) {
        MarkRefused();
        SMTP_FAIL("An unexpected DATA response was received");
    }
    SendContent(message);
    TRACE("MySMTPConnection::SendMessage() finished");
    return true;
}

void MySMTPConnection::SendContent(const MySMTPMessage& message) {
    const std::string& boundary = message.GetBoundary();
    if (!SendText(message.GetHeader())) {
        SMTP_SEND_FAIL("Failed in call to send the header, GetLastError returns: ");
    }
    const bool multipart = !message.GetAttachments().empty();
    if (multipart) {
        if (!SendText("\r\n--" + boundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n" +
                      "Content-Transfer-Encoding: quoted-printable\r\n\r\n")) {
            SMTP_SEND_FAIL("Failed in call to send the body header, GetLastError returns: ");
        }
    }
    if (!SendText(multipart ? message.GetMimeBody() : message.GetBody())) {
        SMTP_SEND_FAIL("Failed in call to send the header, GetLastError returns: ");
    }
    for (const MySMTPAttachment& attachment : message.GetAttachments()) {
        std::string header =
            "\r\n\r\n--" + boundary +
            "\r\nContent-Type: application/octet-stream; name=" + MimeParameter(attachment.GetTitle()) +
            "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" +
            MimeParameter(attachment.GetFileName()) + "\r\n\r\n";
        if (!SendText(header)) {
            SMTP_SEND_FAIL("Failed in call to send Mime attachment header, GetLastError returns: ");
        }
        if (!SendText(attachment.GetEncodedText())) {
            SMTP_SEND_FAIL("Failed in call to send the attachment, GetLastError returns: ");
        }
    }
    if (multipart && !SendText("\r\n--" + boundary + "--")) {
        SMTP_SEND_FAIL("Failed in call to send Mime attachment header, GetLastError returns: ");
    }
    if (!SendText("\r\n.\r\n")) {
        SMTP_SEND_FAIL("Failed in call to send end of message indicator, GetLastError returns: ");
    }
    if (!ReadResponse(250)) {
        MarkRefused();
        SMTP_FAIL("An unexpected end of message response was received");
    }
}

void MySMTPConnection::Disconnect() {
    if (m_connected) {
        // Whatever QUIT brings, nothing more can be done on this connection.
        m_connected = false;
        if (!SendText("QUIT\r\n")) {
            m_socket.Close();
            SMTP_SEND_FAIL("Failed in call to send QUIT command, GetLastError returns: ");
        }
        if (!ReadResponse(221)) {
            MarkRefused();
            m_socket.Close();
            SMTP_FAIL("An unexpected QUIT response was received");
        }
    }
    m_socket.Close();
    m_pending.clear();
}

} // namespace mylib
