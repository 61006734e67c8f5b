#include "PeerProcess.h"
#include "TavrixBuildPaths.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

bool CPeerProcess::Start(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return false;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (rc != 0) {
        m_pid = -1;
        close(in[1]);
        close(out[0]);
        return false;
    }
    m_stdin = in[1];
    m_stdout = out[0];
    return true;
}

std::optional<std::string> CPeerProcess::ReadLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t lineEnd = m_buffered.find('\n');
        if (lineEnd != std::string::npos) {
            std::string line = m_buffered.substr(0, lineEnd);
            m_buffered.erase(0, lineEnd + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_stdout < 0) {
            return std::nullopt;
        }
        pollfd entry{m_stdout, POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[512];
        ssize_t got = read(m_stdout, buffer, sizeof(buffer));
        if (got <= 0) {
            return std::nullopt;
        }
        m_buffered.append(buffer, static_cast<size_t>(got));
    }
}

int CPeerProcess::StartServer(const std::vector<std::string>& argv, int timeoutMs) {
    if (!Start(argv)) {
        return 0;
    }
    std::optional<std::string> line = ReadLine(timeoutMs);
    if (!line || line->rfind("PORT ", 0) != 0) {
        return 0;
    }
    return std::atoi(line->c_str() + 5);
}

void CPeerProcess::Stop() {
    if (m_stdin >= 0) {
        close(m_stdin);
        m_stdin = -1;
    }
    if (m_pid > 0) {
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }
    if (m_stdout >= 0) {
        close(m_stdout);
        m_stdout = -1;
    }
}

std::string PeerScript(const std::string& name) {
    return std::string(TAVRIX_SOURCE_DIR) + "/actions/tests/peers/" + name;
}

std::string MakeTempDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
        return {};
    }
    return pattern;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) {
        std::filesystem::remove_all(path, ignored);
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
