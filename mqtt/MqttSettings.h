#pragma once
// CMqttSettings: the MQTT connection of this node, settings file group "[MQTT]":
//   Host (string, empty: no MQTT), Port (DWORD, 1883), User, Password (strings), TLS (DWORD 0/1),
//   NodeName (string, default: the host name), Prefix (string, default "tavrix"),
//   HomeAssistant (DWORD 0/1: discovery messages), RemoteControl (DWORD 0/1: obey
//   PREFIX/NODE/CAMERA/set), QueueLimit (DWORD, 1000: messages kept while the broker is gone).
//
// A plain value: read on the thread that starts the client, copied to wherever it is needed.

#include "mqtt/MqttClient.h"

#include <cstdint>
#include <optional>
#include <string>

namespace platform {
class CSettingsFile;
}

struct CMqttSettings {
    static constexpr const char* kGroup = "MQTT";
    static constexpr uint16_t kDefaultPort = 1883;
    static constexpr uint16_t kDefaultTlsPort = 8883;
    static constexpr uint32_t kDefaultQueueLimit = 1000;

    std::string host;
    uint16_t port = kDefaultPort;
    std::string user;
    std::string password;
    bool tls = false;
    std::string nodeName;
    std::string prefix = "tavrix";
    bool homeAssistant = false;
    bool remoteControl = false;
    uint32_t queueLimit = kDefaultQueueLimit;

    bool Enabled() const { return !host.empty(); }
    // The options of a client of this broker (host, port, login, TLS, queue limit).
    CMqttClient::COptions ClientOptions(const std::string& clientId) const;
    // "host:port" for log lines (never the user or the password).
    std::string BrokerText() const;

    // Reads the group; values missing or of the wrong kind keep their defaults. An empty or
    // unusable node name or prefix becomes the default one (names are made topic-safe).
    static CMqttSettings Load(const platform::CSettingsFile& file);
    // Loads the settings file at its default place.
    static CMqttSettings LoadDefault();
    void Save(platform::CSettingsFile& file) const;

    // "HOST", "HOST:PORT", "[V6ADDR]:PORT": the host and, when given, the port. Nothing when the
    // text is empty or the port is not 1..65535.
    struct CHostPort {
        std::string host;
        std::optional<uint16_t> port;
    };
    static std::optional<CHostPort> ParseHostPort(const std::string& text);
    // Applies "--mqtt HOST[:PORT]": the host and the port when given.
    void Override(const CHostPort& hostPort);

    // A name usable as one topic level: the characters '/', '+', '#', blanks and control
    // characters become '_'; empty stays empty.
    static std::string TopicLevel(const std::string& name);
    static std::string DefaultNodeName();
};
