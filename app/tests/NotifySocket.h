#pragma once
// A service manager's notification socket for the tests: a datagram socket bound to a fresh path,
// whose messages ("READY=1", "WATCHDOG=1\nSTATUS=...") the test reads as sd_notify sent them.

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

class CNotifySocket {
public:
    CNotifySocket() {
        char folder[] = "/tmp/tavrix-notify-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            return;
        }
        m_folder = folder;
        m_path = m_folder + "/notify";
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~CNotifySocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    CNotifySocket(const CNotifySocket&) = delete;
    CNotifySocket& operator=(const CNotifySocket&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& GetPath() const { return m_path; }

    // The next message, or nothing when none came within timeoutMs.
    std::optional<std::string> Receive(int timeoutMs) {
        pollfd entry{m_fd, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            return std::nullopt;
        }
        return std::string(buffer, static_cast<size_t>(n));
    }

private:
    std::string m_folder;
    std::string m_path;
    int m_fd = -1;
};
