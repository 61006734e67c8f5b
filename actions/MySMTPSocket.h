#pragma once
// One IPv4 TCP stream socket for the SMTP client: create, connect, send, test for readable data,
// receive, close. Used by MySMTPConnection on the thread that runs the mail action; one thread at a
// time. Connect and Send are bounded: a server that does not accept the connection, or takes no
// byte of what is sent, fails them with ETIMEDOUT instead of holding the thread; and when the chain
// runner of the calling thread cuts its actions short (ActionCutShort) they fail with ECANCELED.
//
// Failures return false (or -1) and leave the system's error number in errno, which the connection
// turns into its "GetLastError returns: " texts.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace mylib {

class MySMTPSocket {
public:
    MySMTPSocket() = default;
    MySMTPSocket(const MySMTPSocket&) = delete;
    MySMTPSocket& operator=(const MySMTPSocket&) = delete;
    ~MySMTPSocket() { Close(); }

    // Creates the stream socket (close-on-exec). False with errno set on failure.
    bool Create();
    using Clock = std::chrono::steady_clock;

    // Resolves host (a dotted IPv4 address is used directly, a name through the resolver, first IPv4
    // address) and connects within timeoutMs. A name that does not resolve fails with errno EINVAL.
    // The socket stays non-blocking afterwards; Send and Receive wait with poll.
    bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs);
    // Sends the whole buffer, continuing after partial writes; never raises SIGPIPE. Fails with
    // ETIMEDOUT when the peer takes nothing for stallMs or deadline passes.
    bool Send(const char* data, size_t size, uint32_t stallMs, Clock::time_point deadline);
    // Waits up to waitMs for readable data (0: only tests). 1 readable, 0 nothing, -1 error.
    int WaitReadable(int waitMs);
    // Receives up to size bytes: the count, 0 when the peer closed, -1 on error.
    ssize_t Receive(char* buffer, size_t size);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    // Waits for events on the socket until deadline, in short steps that look at the cut of the
    // calling thread's actions. 1 ready, 0 time-out (errno ETIMEDOUT), -1 error or cut (ECANCELED).
    int WaitFor(short events, Clock::time_point deadline);

    int m_fd = -1;
};

} // namespace mylib
