#pragma once
// A helper program run by a test (the HTTP camera peer): started with its arguments, its first
// line of output read ("PORT <n>"), killed and reaped at the end.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace nettest {

class CChildProcess {
public:
    explicit CChildProcess(std::vector<std::string> argv) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        std::vector<char*> args;
        for (std::string& arg : argv) {
            args.push_back(arg.data());
        }
        args.push_back(nullptr);
        if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        m_out = pipeFds[0];
    }
    ~CChildProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) {
            close(m_out);
        }
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // The number after "PORT " on the first line, or -1 after 20 s.
    int ReadPort() {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline && m_pid > 0) {
            pollfd fd{m_out, POLLIN, 0};
            if (poll(&fd, 1, 200) <= 0) {
                continue;
            }
            char c = 0;
            if (read(m_out, &c, 1) != 1) {
                return -1;
            }
            if (c == '\n') {
                return line.rfind("PORT ", 0) == 0 ? std::stoi(line.substr(5)) : -1;
            }
            line += c;
        }
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

} // namespace nettest
