#pragma once
// Another node on the broker, played by Debian's mosquitto_pub speaking real MQTT: a status
// connection that says "online" and leaves "offline" as its last will (mosquitto_pub -l keeps the
// connection while its input stays open; SIGKILL drops it without a goodbye), and one-shot retained
// messages for the node's other topics.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace mqtttest {

// Runs a program with the arguments given (no shell) and waits; its exit code, -1 when it failed.
inline int RunProgram(const std::vector<std::string>& arguments) {
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A retained message (an empty payload deletes the retained one), QoS 1.
inline bool PublishRetained(uint16_t port, const std::string& topic, const std::string& payload) {
    std::vector<std::string> arguments{"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port),
                                       "-q",            "1",  "-r",        "-t", topic};
    if (payload.empty()) {
        arguments.push_back("-n");
    } else {
        arguments.push_back("-m");
        arguments.push_back(payload);
    }
    return RunProgram(arguments) == 0;
}

class CScriptedNode {
public:
    CScriptedNode(uint16_t port, std::string statusTopic) : m_port(port), m_topic(std::move(statusTopic)) {}
    ~CScriptedNode() { Kill(); }
    CScriptedNode(const CScriptedNode&) = delete;
    CScriptedNode& operator=(const CScriptedNode&) = delete;

    // Connects and publishes "online" (retained) on the status topic.
    bool Start() {
        int input[2];
        if (pipe(input) != 0) {
            return false;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(input[0], 0);
            close(input[0]);
            close(input[1]);
            const std::string port = std::to_string(m_port);
            execlp("mosquitto_pub", "mosquitto_pub", "-h", "127.0.0.1", "-p", port.c_str(), "-q", "1", "-r", "-t",
                   m_topic.c_str(), "-l", "--will-topic", m_topic.c_str(), "--will-payload", "offline",
                   "--will-retain", "--will-qos", "1", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(input[0]);
        m_input = input[1];
        return m_pid > 0 && write(m_input, "online\n", 7) == 7;
    }
    // Dies without a goodbye: the broker sends the will.
    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_input >= 0) {
            close(m_input);
            m_input = -1;
        }
    }

private:
    uint16_t m_port;
    std::string m_topic;
    pid_t m_pid = -1;
    int m_input = -1;
};

} // namespace mqtttest
