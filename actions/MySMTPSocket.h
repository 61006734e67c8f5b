#pragma once
// One blocking IPv4 TCP stream socket for the SMTP client: create, connect, send, test for readable
// data, receive, close. Used by MySMTPConnection on the thread that runs the mail action; one thread
// at a time.
//
// Failures return false (or -1) and leave the system's error number in errno, which the connection
// turns into its "GetLastError returns: " texts.

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
    // Resolves host (a dotted IPv4 address is used directly, a name through the resolver, first IPv4
    // address) and connects. A name that does not resolve fails with errno EINVAL.
    bool Connect(const std::string& host, uint16_t port);
    // Sends the whole buffer, continuing after partial writes; never raises SIGPIPE.
    bool Send(const char* data, size_t size);
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    // Waits up to waitMs for readable data (0: only tests). 1 readable, 0 nothing, -1 error.
    int WaitReadable(int waitMs);
    // Receives up to size bytes: the count, 0 when the peer closed, -1 on error.
    ssize_t Receive(char* buffer, size_t size);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace mylib
