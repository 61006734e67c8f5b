#include "network/StreamProbeTarget.h"

#include "foundation/Exceptions.h"

#include <glib.h>
#include <gst/gst.h>

#include <memory>

namespace {

[[noreturn]] void ThrowUnparsable() {
    THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string Unescape(const char* text) {
    if (text == nullptr) {
        return {};
    }
    std::unique_ptr<char, decltype(&g_free)> plain(g_uri_unescape_string(text, nullptr), g_free);
    if (!plain) {
        ThrowUnparsable(); // an escape that decodes to NUL
    }
    return plain.get();
}

// Removes "transport=udp|tcp" from a query ("a=1&transport=udp&b=2" -> "a=1&b=2"); tells whether
// UDP was asked for.
std::string TakeTransport(const std::string& query, bool& udp) {
    std::string kept;
    size_t pos = 0;
    while (pos <= query.size()) {
        size_t end = query.find('&', pos);
        if (end == std::string::npos) {
            end = query.size();
        }
        const std::string part = query.substr(pos, end - pos);
        if (part == "transport=udp") {
            udp = true;
        } else if (part != "transport=tcp" && !part.empty()) {
            kept += (kept.empty() ? "" : "&") + part;
        }
        pos = end + 1;
    }
    return kept;
}

CStreamProbeTarget ParseUrl(const std::string& displayName, CStreamProbeTarget::Kind kind) {
    char* scheme = nullptr;
    char* user = nullptr;
    char* password = nullptr;
    char* host = nullptr;
    int port = -1;
    char* path = nullptr;
    char* query = nullptr;
    const gboolean ok = g_uri_split_with_user(
        displayName.c_str(), static_cast<GUriFlags>(G_URI_FLAGS_HAS_PASSWORD | G_URI_FLAGS_ENCODED), &scheme,
        &user, &password, nullptr, &host, &port, &path, &query, nullptr, nullptr);
    std::unique_ptr<char, decltype(&g_free)> holds[] = {{scheme, g_free}, {user, g_free}, {password, g_free},
                                                        {host, g_free},   {path, g_free}, {query, g_free}};
    if (!ok || host == nullptr || *host == '\0') {
        ThrowUnparsable();
    }
    CStreamProbeTarget target;
    target.kind = kind;
    target.user = Unescape(user);
    target.password = Unescape(password);
    std::string rest = query == nullptr ? std::string() : TakeTransport(query, target.udp);
    std::string hostPart = host;
    if (hostPart.find(':') != std::string::npos) {
        hostPart = "[" + hostPart + "]"; // an IPv6 address
    }
    target.uri = std::string(scheme) + "://" + hostPart + (port > 0 ? ":" + std::to_string(port) : "") +
                 (path != nullptr && *path != '\0' ? path : "/") + (rest.empty() ? "" : "?" + rest);
    target.shown = MaskDisplayNamePassword(displayName);
    return target;
}

CStreamProbeTarget ParseFile(const std::string& displayName) {
    std::string path = displayName.substr(5);
    const size_t loop = path.rfind("?loop=");
    if (loop != std::string::npos) {
        path.erase(loop);
    }
    if (StartsWith(path, "//")) {
        std::unique_ptr<char, decltype(&g_free)> local(
            g_filename_from_uri(("file:" + path).c_str(), nullptr, nullptr), g_free);
        if (!local) {
            ThrowUnparsable();
        }
        path = local.get();
    }
    if (path.empty()) {
        ThrowUnparsable();
    }
    if (!g_path_is_absolute(path.c_str())) {
        std::unique_ptr<char, decltype(&g_free)> cwd(g_get_current_dir(), g_free);
        std::unique_ptr<char, decltype(&g_free)> joined(g_build_filename(cwd.get(), path.c_str(), nullptr),
                                                        g_free);
        path = joined.get();
    }
    std::unique_ptr<char, decltype(&g_free)> uri(gst_filename_to_uri(path.c_str(), nullptr), g_free);
    if (!uri) {
        ThrowUnparsable();
    }
    CStreamProbeTarget target;
    target.kind = CStreamProbeTarget::Kind::File;
    target.uri = uri.get();
    target.filePath = path;
    target.shown = displayName;
    return target;
}

} // namespace

CStreamProbeTarget CStreamProbeTarget::Parse(const std::string& displayName) {
    if (StartsWith(displayName, "rtsp://") || StartsWith(displayName, "rtsps://")) {
        return ParseUrl(displayName, Kind::Rtsp);
    }
    if (StartsWith(displayName, "http://") || StartsWith(displayName, "https://")) {
        return ParseUrl(displayName, Kind::Http);
    }
    if (StartsWith(displayName, "file:")) {
        return ParseFile(displayName);
    }
    ThrowUnparsable();
}

std::string MaskDisplayNamePassword(const std::string& displayName) {
    const size_t scheme = displayName.find("://");
    if (scheme == std::string::npos) {
        return displayName;
    }
    const size_t authority = scheme + 3;
    const size_t authorityEnd = displayName.find_first_of("/?#", authority);
    const size_t at =
        displayName.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd);
    if (at == std::string::npos || at < authority) {
        return displayName;
    }
    const size_t colon = displayName.find(':', authority);
    if (colon == std::string::npos || colon > at) {
        return displayName;
    }
    return displayName.substr(0, colon + 1) + "****" + displayName.substr(at);
}
