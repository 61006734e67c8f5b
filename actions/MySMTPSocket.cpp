#include "actions/MySMTPSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mylib {

bool MySMTPSocket::Create() {
    Close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return m_fd >= 0;
}

bool MySMTPSocket::Connect(const std::string& host, uint16_t port) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* result = nullptr;
        if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result) {
            if (result) {
                ::freeaddrinfo(result);
            }
            errno = EINVAL;
            return false;
        }
        address.sin_addr = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
        ::freeaddrinfo(result);
    }
    int rc;
    do {
        rc = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool MySMTPSocket::Send(const char* data, size_t size) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    while (size > 0) {
        ssize_t sent = ::send(m_fd, data, size, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

int MySMTPSocket::WaitReadable(int waitMs) {
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    // poll rather than select: a descriptor above FD_SETSIZE must not overrun an fd_set.
    pollfd entry{m_fd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&entry, 1, waitMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        return -1;
    }
    return rc > 0 ? 1 : 0;
}

ssize_t MySMTPSocket::Receive(char* buffer, size_t size) {
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    ssize_t received;
    do {
        received = ::recv(m_fd, buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return received;
}

void MySMTPSocket::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace mylib
