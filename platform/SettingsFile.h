#pragma once
// The per-user settings file that stands in for the registry key HKCU\Software\Kestrova\Tavrix:
// $XDG_CONFIG_HOME/Kestrova/Tavrix.conf, a GLib key file with one group per registry subkey. A DWORD
// is a bare decimal integer (MaximumLogLength=1000), a string is written in double quotes
// (UserDbPath="/home/me/.local/share/Tavrix/Tavrix.db"); a value's kind is read from that form, so
// TRACE="1" is a string and TRACE=1 a DWORD. Saving writes a temporary file and renames it over the
// old one, so a crash never leaves the file half written.
//
// Not thread-safe: the settings manager loads and saves on one thread; readers take copies.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct _GKeyFile;

namespace platform {

class CSettingsFile {
public:
    // The default location: $XDG_CONFIG_HOME/Kestrova/Tavrix.conf.
    static std::string DefaultPath();

    explicit CSettingsFile(std::string path = DefaultPath());
    ~CSettingsFile();
    CSettingsFile(const CSettingsFile&) = delete;
    CSettingsFile& operator=(const CSettingsFile&) = delete;

    // Reads the file; a missing file gives an empty set of groups (true). False only when an
    // existing file cannot be parsed (its content is then ignored, never overwritten until Save).
    bool Load();
    // Writes the whole file atomically, creating its folder. False when that fails.
    bool Save() const;

    const std::string& Path() const { return m_path; }
    bool HasGroup(const std::string& group) const;
    bool HasValue(const std::string& group, const std::string& name) const;
    std::vector<std::string> ValueNames(const std::string& group) const;

    // The value as a DWORD: present and written as a bare integer (0..4294967295 or a negative
    // 32-bit number). Anything else (missing, quoted, not a number) gives nothing.
    std::optional<uint32_t> ReadDword(const std::string& group, const std::string& name) const;
    // The value as a string: present and written in double quotes. Anything else gives nothing.
    std::optional<std::string> ReadString(const std::string& group, const std::string& name) const;
    // The stored text of a value, exactly as written (for diagnostics).
    std::optional<std::string> ReadRaw(const std::string& group, const std::string& name) const;

    void WriteDword(const std::string& group, const std::string& name, uint32_t value);
    void WriteString(const std::string& group, const std::string& name, const std::string& value);
    void RemoveValue(const std::string& group, const std::string& name);
    // Creates an empty group (a registry subkey without values).
    void CreateGroup(const std::string& group);

private:
    std::string m_path;
    ::_GKeyFile* m_keyFile;
};

} // namespace platform
