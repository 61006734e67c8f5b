#pragma once
// A small blocking SMTP client (plain SMTP, no TLS) that delivers one message per connection for the
// mail action: greeting, EHLO, AUTH LOGIN when a user name is given, MAIL FROM, RCPT TO per
// recipient, DATA with the header, body and base64 attachments, QUIT. Every failure is thrown as
// CSMTPEx with a fixed message; the text of the last unexpected server response stays readable
// through GetLastCommandResponse() for the caller's log.
//
// Used by one thread at a time (the thread that runs the event-action chain); every call blocks it.
// A response wait ends after the response time-out (2000 ms, counted afresh whenever data arrive),
// looking at the socket at least every 250 ms.
//
// Error numbers are the system's errno values: ETIMEDOUT when a response wait timed out, EPROTO
// when a reply carried another code than expected, EBADMSG when a command was refused, EINVAL when
// the server name does not resolve.

#include "actions/MySMTPMessage.h"
#include "actions/MySMTPSocket.h"

#include <cstdint>
#include <string>

namespace mylib {

class MySMTPConnection {
public:
    static constexpr uint32_t kDefaultResponseTimeoutMs = 2000;
    static constexpr uint32_t kPollIntervalMs = 250;
    // A reply longer than this without its final line is taken as a broken server.
    static constexpr size_t kMaxResponseBytes = 1 << 20;

    MySMTPConnection() = default;
    MySMTPConnection(const MySMTPConnection&) = delete;
    MySMTPConnection& operator=(const MySMTPConnection&) = delete;
    // Says QUIT when still connected; a refused QUIT is swallowed here (a destructor cannot throw).
    virtual ~MySMTPConnection();

    // Connects, reads the greeting, says EHLO and logs in when user is not empty. True, or throws.
    bool Connect(const std::string& host, int port, const std::string& user, const std::string& password);
    // Sends one message. True, or throws. The connection stays open for Disconnect().
    bool SendMessage(const MySMTPMessage& message);
    // QUIT when connected (throws when it is refused), then closes the socket.
    void Disconnect();

    // The text of the last failed or unexpected response, without its final line break.
    const std::string& GetLastCommandResponse() const { return m_lastCommandResponse; }
    int GetLastResponseCode() const { return m_lastResponseCode; }
    // errno value of the last failure (0 when none).
    int GetLastError() const { return m_lastError; }
    bool IsConnected() const { return m_connected; }

    void SetResponseTimeoutMs(uint32_t timeoutMs) { m_responseTimeoutMs = timeoutMs; }
    uint32_t GetResponseTimeoutMs() const { return m_responseTimeoutMs; }

protected:
    // Reads one whole reply (every line of a multi-line reply) and compares its code. False after a
    // time-out, a socket error, a closed connection or another code; the received text is then the
    // last command response.
    virtual bool ReadResponse(int expectedCode);

private:
    [[noreturn]] void Throw(int line, const std::string& message) const;
    [[noreturn]] void ThrowSendFailure(int line, const std::string& message);
    bool SendText(const std::string& text);
    void FailResponse(int error, std::string text);

    MySMTPSocket m_socket;
    std::string m_lastCommandResponse;
    bool m_connected = false;
    uint32_t m_responseTimeoutMs = kDefaultResponseTimeoutMs;
    int m_lastResponseCode = 0;
    int m_lastError = 0;
    // Bytes received after the end of the last reply; they begin the next one.
    std::string m_pending;
};

} // namespace mylib
