#pragma once
// Debian's mosquitto broker, started by a test on a free loopback port in a folder of its own,
// anonymous or with a password file; it keeps its retained messages and persistent sessions across
// Stop and Start. Plus a subscriber that collects what the broker delivers.

#include "mqtt/MqttClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mqtttest {

inline uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

inline bool PortAccepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Waits (generously: the machine is shared) until the condition holds.
inline bool WaitFor(const std::function<bool()>& condition, int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class CTestBroker {
public:
    // folder: where its configuration, password file and persistence go.
    CTestBroker(std::string folder, std::string user = {}, std::string password = {})
        : m_folder(std::move(folder)), m_port(FreePort()) {
        std::ofstream config(m_folder + "/mosquitto.conf");
        config << "listener " << m_port << " 127.0.0.1\n"
               << "persistence true\npersistence_location " << m_folder << "/\n"
               << "log_dest file " << m_folder << "/mosquitto.log\n";
        if (getuid() == 0) {
            config << "user root\n";
        }
        if (user.empty()) {
            config << "allow_anonymous true\n";
        } else {
            const std::string command = "mosquitto_passwd -b -c '" + m_folder + "/passwd' '" + user + "' '" +
                                        password + "' >/dev/null 2>&1";
            if (std::system(command.c_str()) != 0) {
                m_error = "mosquitto_passwd failed";
            }
            config << "allow_anonymous false\npassword_file " << m_folder << "/passwd\n";
        }
    }
    ~CTestBroker() { Stop(); }

    uint16_t Port() const { return m_port; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }

    bool Start() {
        if (!m_error.empty()) {
            return false;
        }
        m_pid = fork();
        if (m_pid == 0) {
            // Not the test's output: a broker left behind must not hold its pipe open.
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            const std::string config = m_folder + "/mosquitto.conf";
            execlp("mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return WaitFor([&] { return PortAccepts(m_port); });
    }
    // A clean stop: the broker saves its retained messages and sessions.
    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }

private:
    std::string m_folder;
    uint16_t m_port;
    pid_t m_pid = -1;
    std::string m_error;
};

// Collects every message of its subscriptions.
class CSubscriber {
public:
    struct CMessage {
        std::string topic;
        std::string payload;
        bool retained = false;
    };
    CSubscriber(uint16_t port, const std::vector<std::string>& patterns, std::string user = {},
                std::string password = {}, std::string clientId = {}, bool cleanSession = true) {
        CMqttClient::COptions options;
        options.host = "127.0.0.1";
        options.port = port;
        options.user = std::move(user);
        options.password = std::move(password);
        options.clientId = clientId.empty() ? "test-subscriber-" + std::to_string(++s_count) : clientId;
        options.cleanSession = cleanSession;
        options.reconnectMaxSeconds = 2;
        m_client = std::make_unique<CMqttClient>(options, nullptr);
        m_client->SetMessageHandler(
            [this](const std::string& topic, const std::string& payload, bool retained) {
                std::lock_guard<std::mutex> lock(m_lock);
                m_messages.push_back({topic, payload, retained});
            });
        for (const std::string& pattern : patterns) {
            m_client->Subscribe(pattern);
        }
        m_client->Start();
    }
    bool WaitConnected() { return m_client->WaitConnected(60000); }
    std::vector<CMessage> Messages() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages;
    }
    std::vector<std::string> Payloads(const std::string& topic) {
        std::vector<std::string> payloads;
        for (const CMessage& message : Messages()) {
            if (message.topic == topic) {
                payloads.push_back(message.payload);
            }
        }
        return payloads;
    }
    std::string Last(const std::string& topic) {
        const auto payloads = Payloads(topic);
        return payloads.empty() ? std::string() : payloads.back();
    }
    bool WaitForPayload(const std::string& topic, const std::string& payload, int seconds = 60) {
        return WaitFor(
            [&] {
                for (const std::string& seen : Payloads(topic)) {
                    if (seen == payload) {
                        return true;
                    }
                }
                return false;
            },
            seconds);
    }
    CMqttClient& Client() { return *m_client; }

private:
    static inline int s_count = 0;
    std::mutex m_lock;
    std::vector<CMessage> m_messages;
    std::unique_ptr<CMqttClient> m_client;
};

} // namespace mqtttest
