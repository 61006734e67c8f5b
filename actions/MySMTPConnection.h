#pragma once
// A small blocking SMTP client (plain SMTP, no TLS) that delivers one message per connection for the
// mail action: greeting, EHLO, AUTH LOGIN when a user name is given, MAIL FROM, RCPT TO per
// recipient, DATA with the header, body and base64 attachments, QUIT. Every failure is thrown as
// CSMTPEx with a fixed message; the text of the last unexpected server response stays readable
// through GetLastCommandResponse() for the caller's log.
//
// Used by one thread at a time (the thread that runs the event-action chain); every call blocks it,
// but never without bound, whatever the server does:
// - connecting ends after the connect time-out (10 s);
// - a response wait ends after the response time-out (2000 ms without data, counted afresh whenever
//   data arrive), and in any case after the reply deadline (10 s from the start of the wait), which
//   bytes do not extend, so a server that trickles a byte now and then cannot hold it;
// - a send ends when the server takes nothing for the send time-out (10 s);
// - the whole delivery, from Connect to the end-of-message reply, ends at the message deadline:
//   60 s from Connect plus 1 s for every 16 KB of the message.
// The socket is looked at at least every 250 ms; when the chain runner of the calling thread cuts its
// actions short, the waiting call fails at once with ECANCELED.
//
// Error numbers are the system's errno values: ETIMEDOUT when a wait, a send or the connection timed
// out or a deadline passed, ECANCELED when the actions were cut short, EPROTO when a reply carried
// another code than expected, EBADMSG when a command was refused, EINVAL when the server name does
// not resolve.

#include "actions/MySMTPMessage.h"
#include "actions/MySMTPSocket.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace mylib {

class MySMTPConnection {
public:
    static constexpr uint32_t kDefaultResponseTimeoutMs = 2000;
    static constexpr uint32_t kPollIntervalMs = 250;
    // A reply longer than this without its final line is taken as a broken server.
    static constexpr size_t kMaxResponseBytes = 1 << 20;

    // The bounds of every wait (see above).
    struct CTimeouts {
        uint32_t connectMs = 10000;
        uint32_t replyMs = 10000;
        uint32_t sendMs = 10000;
        uint32_t messageMs = 60000;
        // Bytes of the message that buy one more second of the message deadline.
        uint32_t bytesPerExtraSecond = 16 * 1024;
    };

    MySMTPConnection() = default;
    MySMTPConnection(const MySMTPConnection&) = delete;
    MySMTPConnection& operator=(const MySMTPConnection&) = delete;
    // Says QUIT when still connected; a refused QUIT is swallowed here (a destructor cannot throw).
    virtual ~MySMTPConnection();

    // Connects, reads the greeting, says EHLO and logs in when user is not empty. True, or throws.
    bool Connect(const std::string& host, int port, const std::string& user, const std::string& password);
    // Sends one message. True, or throws. The connection stays open for Disconnect().
    bool SendMessage(const MySMTPMessage& message);
    // QUIT when connected (throws when it is refused), then closes the socket. After a failed send
    // or a reply that did not come whole the connection counts as no longer connected: no QUIT.
    void Disconnect();

    // The text of the last failed or unexpected response, without its final line break.
    const std::string& GetLastCommandResponse() const { return m_lastCommandResponse; }
    int GetLastResponseCode() const { return m_lastResponseCode; }
    // errno value of the last failure (0 when none).
    int GetLastError() const { return m_lastError; }
    bool IsConnected() const { return m_connected; }

    void SetResponseTimeoutMs(uint32_t timeoutMs) { m_responseTimeoutMs = timeoutMs; }
    uint32_t GetResponseTimeoutMs() const { return m_responseTimeoutMs; }
    void SetTimeouts(const CTimeouts& timeouts) { m_timeouts = timeouts; }
    const CTimeouts& GetTimeouts() const { return m_timeouts; }

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
    void MarkRefused();
    // AUTH LOGIN with the user name and password; throws when the server refuses.
    void Login(const std::string& user, const std::string& password);
    // Waits up to waitMs for data and appends what came to text: 1 data, 0 nothing yet, -1 the
    // connection failed or closed (errno set).
    int ReceiveSome(std::string& text, int waitMs);
    // Sends the message's parts after DATA up to and with the end-of-message indicator.
    void SendContent(const MySMTPMessage& message);

    MySMTPSocket m_socket;
    std::string m_lastCommandResponse;
    bool m_connected = false;
    uint32_t m_responseTimeoutMs = kDefaultResponseTimeoutMs;
    CTimeouts m_timeouts;
    // The end of the whole delivery: set by Connect, extended by SendMessage for the message's size.
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
    int m_lastResponseCode = 0;
    int m_lastError = 0;
    // Bytes received after the end of the last reply; they begin the next one.
    std::string m_pending;
};

} // namespace mylib
