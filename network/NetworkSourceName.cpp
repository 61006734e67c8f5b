#include "network/NetworkSourceName.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr const char* kMaskedPassword = "****";

struct CSchemeName {
    const char* prefix;
    CNetworkSourceName::Scheme scheme;
};
constexpr CSchemeName kUrlSchemes[] = {
    {"rtsp://", CNetworkSourceName::Scheme::Rtsp},
    {"rtsps://", CNetworkSourceName::Scheme::Rtsps},
    {"http://", CNetworkSourceName::Scheme::Http},
    {"https://", CNetworkSourceName::Scheme::Https},
};
constexpr const char* kFilePrefix = "file:";

[[noreturn]] void ThrowUnparsable(const std::string& displayName) {
    TRACE("CNetworkSourceName::Parse() cannot parse '%s'", MaskPasswords(displayName).c_str());
    THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() ||
            std::tolower(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool HasControlOrSpace(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Percent-decodes text; false for a broken escape or a decoded control character.
bool PercentDecode(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        const auto value = static_cast<unsigned char>(high * 16 + low);
        if (value < 0x20 || value == 0x7f) {
            return false;
        }
        decoded += static_cast<char>(value);
        i += 2;
    }
    return true;
}

// "HOST[:PORT]" or "[V6]:PORT": a host without '/', '@' or spaces and a port 1-65535.
bool ValidHostPort(const std::string& hostPort) {
    std::string host = hostPort;
    std::string port;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos || close == 1) {
            return false;
        }
        if (close + 1 < host.size()) {
            if (host[close + 1] != ':') {
                return false;
            }
            port = host.substr(close + 2);
            if (port.empty()) {
                return false;
            }
        }
        host = host.substr(1, close - 1);
    } else {
        const size_t colon = host.find(':');
        if (colon != std::string::npos) {
            port = host.substr(colon + 1);
            host.resize(colon);
            if (port.empty()) {
                return false;
            }
        }
    }
    if (host.empty() || host.find_first_of("@[]") != std::string::npos) {
        return false;
    }
    if (!port.empty()) {
        if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            return false;
        }
        const int value = std::stoi(port);
        if (value < 1 || value > 65535) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos) {
            return parts;
        }
        begin = end + 1;
    }
}

// RTSP: "transport=tcp|udp" is ours and leaves the query; every other parameter is the camera's.
bool TakeTransport(std::string& query, bool& udp) {
    std::string kept;
    bool seen = false;
    for (const std::string& parameter : Split(query, '&')) {
        if (StartsWithNoCase(parameter, "transport=")) {
            const std::string value = parameter.substr(10);
            if (seen || (value != "udp" && value != "tcp")) {
                return false;
            }
            seen = true;
            udp = value == "udp";
            continue;
        }
        if (!kept.empty()) {
            kept += '&';
        }
        kept += parameter;
    }
    query = kept;
    return true;
}

void ParseUrl(const std::string& displayName, const CSchemeName& scheme, CNetworkSourceName& parsed) {
    parsed.scheme = scheme.scheme;
    std::string rest = displayName.substr(std::char_traits<char>::length(scheme.prefix));
    std::string query;
    const size_t queryAt = rest.find('?');
    if (queryAt != std::string::npos) {
        query = rest.substr(queryAt + 1);
        rest.resize(queryAt);
    }
    // The user part ends at the last '@' (a password may hold '/' or '@' when pasted unencoded).
    const size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = userInfo.find(':');
        if (!PercentDecode(userInfo.substr(0, colon), parsed.user) ||
            (colon != std::string::npos && !PercentDecode(userInfo.substr(colon + 1), parsed.password)) ||
            parsed.user.empty()) {
            ThrowUnparsable(displayName);
        }
        parsed.hasUser = true;
    }
    const size_t slash = rest.find('/');
    const std::string hostPort = rest.substr(0, slash);
    const std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    if (!ValidHostPort(hostPort)) {
        ThrowUnparsable(displayName);
    }
    if (parsed.IsRtsp() && !query.empty() && !TakeTransport(query, parsed.udp)) {
        ThrowUnparsable(displayName);
    }
    std::string prefix = scheme.prefix;
    parsed.location = prefix + hostPort + path + (query.empty() ? "" : "?" + query);
}

void ParseFile(const std::string& displayName, CNetworkSourceName& parsed) {
    parsed.scheme = CNetworkSourceName::Scheme::File;
    std::string path = displayName.substr(std::char_traits<char>::length(kFilePrefix));
    const size_t option = path.rfind("?loop=");
    if (option != std::string::npos) {
        const std::string value = path.substr(option + 6);
        if (value != "0" && value != "1") {
            ThrowUnparsable(displayName);
        }
        parsed.loop = value == "1";
        path.resize(option);
    }
    if (path.rfind("///", 0) == 0) {
        path = path.substr(2); // file:///folder/clip.mp4
    }
    if (path.empty() || path.find('\0') != std::string::npos ||
        std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        ThrowUnparsable(displayName);
    }
    parsed.location = path;
}

} // namespace

bool CNetworkSourceName::IsNetworkName(const std::string& displayName) {
    for (const CSchemeName& scheme : kUrlSchemes) {
        if (StartsWithNoCase(displayName, scheme.prefix)) {
            return true;
        }
    }
    return displayName.rfind(kFilePrefix, 0) == 0;
}

CNetworkSourceName CNetworkSourceName::Parse(const std::string& displayName) {
    CNetworkSourceName parsed;
    if (displayName.rfind(kFilePrefix, 0) == 0) {
        ParseFile(displayName, parsed);
        return parsed;
    }
    if (HasControlOrSpace(displayName)) {
        ThrowUnparsable(displayName);
    }
    for (const CSchemeName& scheme : kUrlSchemes) {
        if (StartsWithNoCase(displayName, scheme.prefix)) {
            ParseUrl(displayName, scheme, parsed);
            return parsed;
        }
    }
    ThrowUnparsable(displayName);
}

std::string MaskPasswords(const std::string& text) {
    std::string masked;
    size_t copied = 0;
    size_t search = 0;
    for (;;) {
        const size_t marker = text.find("://", search);
        if (marker == std::string::npos) {
            break;
        }
        const size_t begin = marker + 3;
        // The address runs to the first blank or quote; its user part to the last '@' in it.
        size_t end = begin;
        while (end < text.size() && static_cast<unsigned char>(text[end]) > 0x20 && text[end] != '\'' &&
               text[end] != '"' && text[end] != '<' && text[end] != '>') {
            ++end;
        }
        const std::string address = text.substr(begin, end - begin);
        const size_t at = address.rfind('@');
        const size_t colon = at == std::string::npos ? std::string::npos : address.find(':');
        if (colon != std::string::npos && colon < at) {
            masked += text.substr(copied, begin + colon + 1 - copied);
            masked += kMaskedPassword;
            copied = begin + at;
        }
        search = end > begin ? end : begin;
    }
    masked += text.substr(copied);
    return masked;
}

bool HasPassword(const std::string& displayName) {
    return MaskPasswords(displayName) != displayName;
}
