#include "actions/MySMTPSocket.h"

#include "actions/ActionAbort.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mylib {

namespace {
// The longest single poll, so that a cut of the running actions is seen soon.
constexpr int64_t kPollStepMs = 100;
} // namespace

bool MySMTPSocket::Create() {
    Close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return m_fd >= 0;
}

int MySMTPSocket::WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
        if (ActionCutShort()) {
            errno = ECANCELED;
            return -1;
        }
        const int64_t left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            errno = ETIMEDOUT;
            return 0;
        }
        pollfd entry{m_fd, events, 0};
        const int rc = ::poll(&entry, 1, static_cast<int>(ActionTimeLeftMs(std::min(left, kPollStepMs))));
        if (rc < 0 && errno != EINTR) {
            return -1;
        }
        if (rc > 0) {
            return 1;
        }
    }
}

bool MySMTPSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
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
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return false;
    }
    if (WaitFor(POLLOUT, deadline) <= 0) {
        return false;
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return false;
    }
    errno = error;
    return error == 0;
}

bool MySMTPSocket::Send(const char* data, size_t size, uint32_t stallMs, Clock::time_point deadline) {
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    while (size > 0) {
        ssize_t sent = ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                return false;
            }
            // The peer takes nothing: wait until it does, for stallMs at most.
            const Clock::time_point stallEnd = Clock::now() + std::chrono::milliseconds(stallMs);
            if (WaitFor(POLLOUT, std::min(stallEnd, deadline)) <= 0) {
                return false;
            }
            continue;
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
        received = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
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
