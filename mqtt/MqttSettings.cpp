#include "mqtt/MqttSettings.h"

#include "platform/SettingsFile.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

std::string CMqttSettings::BrokerText() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string CMqttSettings::TopicLevel(const std::string& name) {
    std::string level = name;
    for (char& c : level) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '+' || c == '#' || c == ' ' || u < 0x20 || u == 0x7f) {
            c = '_';
        }
    }
    return level;
}

std::string CMqttSettings::DefaultNodeName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "tavrix";
    }
    return TopicLevel(name);
}

CMqttSettings CMqttSettings::Load(const platform::CSettingsFile& file) {
    CMqttSettings settings;
    const auto text = [&](const char* name, std::string& value) {
        if (const auto read = file.ReadString(kGroup, name)) {
            value = *read;
        }
    };
    const auto flag = [&](const char* name, bool& value) {
        if (const auto read = file.ReadDword(kGroup, name)) {
            value = *read != 0;
        }
    };
    text("Host", settings.host);
    text("User", settings.user);
    text("Password", settings.password);
    text("NodeName", settings.nodeName);
    text("Prefix", settings.prefix);
    flag("TLS", settings.tls);
    flag("HomeAssistant", settings.homeAssistant);
    flag("RemoteControl", settings.remoteControl);
    settings.port = settings.tls ? kDefaultTlsPort : kDefaultPort;
    if (const auto port = file.ReadDword(kGroup, "Port"); port && *port >= 1 && *port <= 65535) {
        settings.port = static_cast<uint16_t>(*port);
    }
    if (const auto limit = file.ReadDword(kGroup, "QueueLimit"); limit && *limit >= 1 && *limit <= 1000000) {
        settings.queueLimit = *limit;
    }
    settings.nodeName = TopicLevel(settings.nodeName);
    if (settings.nodeName.empty()) {
        settings.nodeName = DefaultNodeName();
    }
    // The prefix may have several levels ("site/tavrix") but no wildcards and no empty level.
    std::string prefix;
    size_t start = 0;
    while (start <= settings.prefix.size()) {
        const size_t end = std::min(settings.prefix.find('/', start), settings.prefix.size());
        const std::string level = TopicLevel(settings.prefix.substr(start, end - start));
        if (!level.empty()) {
            prefix += (prefix.empty() ? "" : "/") + level;
        }
        start = end + 1;
    }
    settings.prefix = prefix.empty() ? "tavrix" : prefix;
    return settings;
}

CMqttSettings CMqttSettings::LoadDefault() {
    platform::CSettingsFile file;
    file.Load();
    return Load(file);
}

void CMqttSettings::Save(platform::CSettingsFile& file) const {
    file.CreateGroup(kGroup);
    file.WriteString(kGroup, "Host", host);
    file.WriteDword(kGroup, "Port", port);
    file.WriteString(kGroup, "User", user);
    file.WriteString(kGroup, "Password", password);
    file.WriteDword(kGroup, "TLS", tls ? 1 : 0);
    file.WriteString(kGroup, "NodeName", nodeName);
    file.WriteString(kGroup, "Prefix", prefix);
    file.WriteDword(kGroup, "HomeAssistant", homeAssistant ? 1 : 0);
    file.WriteDword(kGroup, "RemoteControl", remoteControl ? 1 : 0);
    file.WriteDword(kGroup, "QueueLimit", queueLimit);
}

std::optional<CMqttSettings::CHostPort> CMqttSettings::ParseHostPort(const std::string& text) {
    CHostPort result;
    std::string portText;
    if (!text.empty() && text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        result.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') {
                return std::nullopt;
            }
            portText = text.substr(close + 2);
            if (portText.empty()) {
                return std::nullopt;
            }
        }
    } else if (const size_t colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        result.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (portText.empty()) {
            return std::nullopt;
        }
    } else {
        result.host = text; // a bare name or a bare IPv6 address
    }
    if (result.host.empty()) {
        return std::nullopt;
    }
    if (!portText.empty()) {
        char* end = nullptr;
        const long port = std::strtol(portText.c_str(), &end, 10);
        if (end != portText.c_str() + portText.size() || port < 1 || port > 65535) {
            return std::nullopt;
        }
        result.port = static_cast<uint16_t>(port);
    }
    return result;
}

void CMqttSettings::Override(const CHostPort& hostPort) {
    host = hostPort.host;
    if (hostPort.port) {
        port = *hostPort.port;
    }
}

CMqttClient::COptions CMqttSettings::ClientOptions(const std::string& clientId) const {
    CMqttClient::COptions options;
    options.host = host;
    options.port = port;
    options.user = user;
    options.password = password;
    options.tls = tls;
    options.clientId = clientId;
    options.queueLimit = queueLimit;
    return options;
}
