#pragma once
// CWebUsers: the accounts of the web interface, kept in the user database next to the notification
// log (table t_web_user, versioned in t_web_schema; a newer version is refused so that nothing is
// ever written into a table this program does not know). Passwords are stored as Argon2id hashes
// (libargon2), API tokens as their SHA-256, never in clear.
//
// Each instance owns its own connection to the file, so the web server's thread and the command
// line never share one with the user interface thread. Not thread-safe: one thread per instance.

#include "persistence/sqlite3x.h"

#include <optional>
#include <string>
#include <vector>

enum class EWebRole { Viewer, Admin };

struct CWebUser {
    std::string name;
    EWebRole role = EWebRole::Viewer;
    bool hasToken = false;
};

class CWebUsers {
public:
    static constexpr int64_t kVersion = 1;
    static constexpr size_t kMinPasswordLength = 8;

    // Opens (creating the folder, the file and the table when missing) the database at path. Throws
    // CUserDbEx with SQLite's text, or for a table newer than this program knows.
    explicit CWebUsers(const std::string& path);
    ~CWebUsers();
    CWebUsers(const CWebUsers&) = delete;
    CWebUsers& operator=(const CWebUsers&) = delete;

    // The user database path of the settings ("UserDbPath"); loads the settings when asked.
    static std::string DefaultPath(bool loadSettings);

    // Adds a user; throws CGeneralEx for a name already taken, an invalid name or a password
    // shorter than kMinPasswordLength.
    void Add(const std::string& name, const std::string& password, EWebRole role);
    // False when there was no such user.
    bool Remove(const std::string& name);
    std::vector<CWebUser> List();
    size_t Count();
    // A new API token for the user (replacing the former one), returned once; throws CGeneralEx
    // for an unknown user.
    std::string NewToken(const std::string& name);

    // The user when name and password match; nullopt otherwise (takes as long for an unknown user).
    std::optional<CWebUser> CheckPassword(const std::string& name, const std::string& password);
    // The user holding this API token.
    std::optional<CWebUser> CheckToken(const std::string& token);
    std::optional<CWebUser> Find(const std::string& name);

    static bool IsValidName(const std::string& name);
    static const char* RoleName(EWebRole role);
    // Argon2id, encoded with its parameters and salt.
    static std::string HashPassword(const std::string& password);
    static bool VerifyPassword(const std::string& encoded, const std::string& password);
    // count random bytes, as lower-case hex.
    static std::string RandomHex(size_t count);
    static std::string Sha256Hex(const std::string& text);

private:
    sqlite3x::sqlite3_connection m_connection;
};
