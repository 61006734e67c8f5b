#pragma once
// A test peer run as a child process (the Python SMTP and FTP servers): its standard input is a
// pipe that the peer watches to end itself when the test ends, its standard output a pipe from
// which the test reads the peer's announcements ("PORT 12345").

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

class CPeerProcess {
public:
    CPeerProcess() = default;
    CPeerProcess(const CPeerProcess&) = delete;
    CPeerProcess& operator=(const CPeerProcess&) = delete;
    ~CPeerProcess() { Stop(); }

    bool Start(const std::vector<std::string>& argv);
    // One line of the peer's standard output, without its line break; none after timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs);
    // Starts the peer and reads its "PORT n" line: the port, or 0 on failure.
    int StartServer(const std::vector<std::string>& argv, int timeoutMs = 20000);
    // Closes the peer's standard input, waits up to 5 s for it to end, then kills it.
    void Stop();
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_buffered;
};

// Debian's interpreter, which has the server modules the peers need.
inline const char* kSystemPython = "/usr/bin/python3";
// A peer script of the actions tests.
std::string PeerScript(const std::string& name);
// A fresh empty directory under the temporary directory.
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
