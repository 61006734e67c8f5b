#include "platform/SettingsFile.h"

#include "platform/Paths.h"

#include <glib.h>

#include <cerrno>
#include <cstdlib>

namespace platform {
namespace {

// Strings are stored quoted, with backslash escapes for the quote, the backslash and line breaks,
// so that any text survives the key file's one-line values.
std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
            break;
        }
    }
    return out + "\"";
}

std::optional<std::string> Unquote(const std::string& raw) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"') {
        return std::nullopt;
    }
    std::string out;
    for (size_t i = 1; i + 1 < raw.size(); ++i) {
        char c = raw[i];
        if (c == '\\' && i + 2 < raw.size()) {
            char e = raw[++i];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            default:
                out += e;
                break;
            }
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::string CSettingsFile::DefaultPath() {
    return XdgConfigHome() + "/Kestrova/Tavrix.conf";
}

CSettingsFile::CSettingsFile(std::string path) : m_path(std::move(path)), m_keyFile(g_key_file_new()) {}

CSettingsFile::~CSettingsFile() {
    g_key_file_free(m_keyFile);
}

bool CSettingsFile::Load() {
    g_key_file_free(m_keyFile);
    m_keyFile = g_key_file_new();
    GError* error = nullptr;
    if (!g_key_file_load_from_file(m_keyFile, m_path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
        const bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        g_error_free(error);
        g_key_file_free(m_keyFile);
        m_keyFile = g_key_file_new();
        return missing;
    }
    return true;
}

bool CSettingsFile::Save() const {
    if (!MakeDirs(DirName(m_path))) {
        return false;
    }
    gsize length = 0;
    gchar* data = g_key_file_to_data(m_keyFile, &length, nullptr);
    // A temporary file in the same folder, synced and renamed over the old one; readable by its
    // owner only, as the file may hold a password (the MQTT broker's).
    const gboolean ok =
        g_file_set_contents_full(m_path.c_str(), data, static_cast<gssize>(length),
                                 static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                                    G_FILE_SET_CONTENTS_ONLY_EXISTING),
                                 0600, nullptr);
    g_free(data);
    return ok;
}

bool CSettingsFile::HasGroup(const std::string& group) const {
    return g_key_file_has_group(m_keyFile, group.c_str());
}

bool CSettingsFile::HasValue(const std::string& group, const std::string& name) const {
    return g_key_file_has_key(m_keyFile, group.c_str(), name.c_str(), nullptr);
}

std::vector<std::string> CSettingsFile::ValueNames(const std::string& group) const {
    std::vector<std::string> names;
    gsize n = 0;
    gchar** keys = g_key_file_get_keys(m_keyFile, group.c_str(), &n, nullptr);
    for (gsize i = 0; keys && i < n; ++i) {
        names.emplace_back(keys[i]);
    }
    g_strfreev(keys);
    return names;
}

std::optional<std::string> CSettingsFile::ReadRaw(const std::string& group, const std::string& name) const {
    gchar* value = g_key_file_get_value(m_keyFile, group.c_str(), name.c_str(), nullptr);
    if (!value) {
        return std::nullopt;
    }
    std::string text(value);
    g_free(value);
    return text;
}

std::optional<uint32_t> CSettingsFile::ReadDword(const std::string& group, const std::string& name) const {
    const auto raw = ReadRaw(group, name);
    if (!raw || raw->empty()) {
        return std::nullopt;
    }
    const char* begin = raw->c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (errno != 0 || end == begin || *end != '\0' || (*begin != '-' && (*begin < '0' || *begin > '9')) ||
        value < INT32_MIN || value > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<std::string> CSettingsFile::ReadString(const std::string& group,
                                                     const std::string& name) const {
    const auto raw = ReadRaw(group, name);
    return raw ? Unquote(*raw) : std::nullopt;
}

void CSettingsFile::WriteDword(const std::string& group, const std::string& name, uint32_t value) {
    g_key_file_set_value(m_keyFile, group.c_str(), name.c_str(), std::to_string(value).c_str());
}

void CSettingsFile::WriteString(const std::string& group, const std::string& name, const std::string& value) {
    g_key_file_set_value(m_keyFile, group.c_str(), name.c_str(), Quote(value).c_str());
}

void CSettingsFile::RemoveValue(const std::string& group, const std::string& name) {
    g_key_file_remove_key(m_keyFile, group.c_str(), name.c_str(), nullptr);
}

void CSettingsFile::CreateGroup(const std::string& group) {
    if (!HasGroup(group)) {
        // The setters create a group; removing the value again leaves it empty.
        g_key_file_set_value(m_keyFile, group.c_str(), "_", "");
        g_key_file_remove_key(m_keyFile, group.c_str(), "_", nullptr);
    }
}

} // namespace platform
