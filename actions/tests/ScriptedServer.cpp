#include "ScriptedServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

CScriptedServer::CScriptedServer(Script script) {
    m_listen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    listen(m_listen, 4);
    socklen_t length = sizeof(address);
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this, script = std::move(script)] { Run(script); });
}

CScriptedServer::~CScriptedServer() {
    Join();
    close(m_listen);
}

void CScriptedServer::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string CScriptedServer::Transcript() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_transcript;
}

void CScriptedServer::Run(Script script) {
    pollfd entry{m_listen, POLLIN, 0};
    if (poll(&entry, 1, 10000) <= 0) {
        return;
    }
    Peer peer;
    peer.m_fd = accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    peer.m_server = this;
    if (peer.m_fd < 0) {
        return;
    }
    script(peer);
    // Take whatever the client still sends (QUIT) before closing.
    peer.Fill(100);
    close(peer.m_fd);
}

void CScriptedServer::Peer::Send(const std::string& text) {
    (void)send(m_fd, text.data(), text.size(), MSG_NOSIGNAL);
}

bool CScriptedServer::Peer::Fill(int timeoutMs) {
    return Take(timeoutMs) > 0;
}

int CScriptedServer::Peer::Take(int timeoutMs) {
    pollfd entry{m_fd, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) {
        return 0;
    }
    char buffer[65536];
    ssize_t got = recv(m_fd, buffer, sizeof(buffer), 0);
    if (got <= 0) {
        return -1;
    }
    m_buffer.append(buffer, static_cast<size_t>(got));
    std::lock_guard<std::mutex> guard(m_server->m_lock);
    m_server->m_transcript.append(buffer, static_cast<size_t>(got));
    return 1;
}

bool CScriptedServer::Peer::Trickle(const std::string& text, int everyMs, int maxMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    for (size_t i = 0; std::chrono::steady_clock::now() < end; ++i) {
        if (!text.empty()) {
            Send(text.substr(i % text.size(), 1));
        }
        const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(everyMs);
        for (auto now = std::chrono::steady_clock::now(); now < next;
             now = std::chrono::steady_clock::now()) {
            if (Take(static_cast<int>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1)) < 0) {
                return true;
            }
        }
    }
    return false;
}

bool CScriptedServer::Peer::WaitClosed(int maxMs) {
    return Trickle("", maxMs, maxMs) || Take(0) < 0;
}

std::string CScriptedServer::Peer::ReadUntil(const std::string& end, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t at = m_buffer.find(end);
        if (at != std::string::npos) {
            std::string piece = m_buffer.substr(0, at + end.size());
            m_buffer.erase(0, at + end.size());
            return piece;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) {
            return {};
        }
    }
}

std::string CScriptedServer::Peer::ReadLine(int timeoutMs) {
    return ReadUntil("\r\n", timeoutMs);
}

void CScriptedServer::Peer::SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
