#include "web/WebUsers.h"

#include "foundation/Exceptions.h"
#include "persistence/ConfigMgrImpl.h"
#include "platform/Paths.h"

#include <argon2.h>
#include <glib.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace {

// Argon2id at the parameters OWASP recommends for interactive logins: 19 MiB, 2 passes, 1 lane.
constexpr uint32_t kTimeCost = 2;
constexpr uint32_t kMemoryKiB = 19 * 1024;
constexpr uint32_t kLanes = 1;
constexpr size_t kSaltLength = 16;
constexpr size_t kHashLength = 32;
constexpr const char* kNewerText =
    "The web user table is newer than this Tavrix knows. Please upgrade Tavrix";

EWebRole RoleFromText(const std::string& text) {
    return text == "admin" ? EWebRole::Admin : EWebRole::Viewer;
}

} // namespace

CWebUsers::CWebUsers(const std::string& path) {
    int64_t version = 0;
    try {
        platform::MakeDirs(platform::DirName(path));
        const bool existed = platform::FileExists(path);
        m_connection.open(path);
        if (!existed) {
            // The user database holds password hashes and tokens: the owner's alone.
            ::chmod(path.c_str(), 0600);
        }
        m_connection.setbusytimeout(5000);
        sqlite3x::sqlite3_transaction transaction(m_connection);
        if (m_connection.executeint("select count(*) from sqlite_master where name='t_web_schema';") == 0) {
            m_connection.executenonquery("create table t_web_schema(version number)");
            m_connection.executenonquery("insert into t_web_schema values(" + std::to_string(kVersion) + ")");
            m_connection.executenonquery(
                "create table t_web_user(name text primary key, password text not null, "
                "role text not null, token text, created integer)");
        }
        transaction.commit();
        version = m_connection.executeint64("select max(version) from t_web_schema;");
    } catch (const sqlite3x::database_error& e) {
        try {
            m_connection.close();
        } catch (const sqlite3x::database_error&) {
        }
        THROW_USERDB("The user database cannot be opened", e.what());
    }
    if (version > kVersion) {
        m_connection.close();
        THROW_USERDB(kNewerText, "t_web_schema version " + std::to_string(version));
    }
}

CWebUsers::~CWebUsers() {
    try {
        m_connection.close();
    } catch (const sqlite3x::database_error&) {
    }
}

std::string CWebUsers::DefaultPath(bool loadSettings) {
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    if (loadSettings) {
        config.LoadAll();
    }
    return config.GetNotificationSettings().GetUserDbPath();
}

bool CWebUsers::IsValidName(const std::string& name) {
    if (name.empty() || name.size() > 64) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                        c == '.' || c == '_' || c == '-' || c == '@';
        if (!ok) {
            return false;
        }
    }
    return true;
}

const char* CWebUsers::RoleName(EWebRole role) {
    return role == EWebRole::Admin ? "admin" : "viewer";
}

std::string CWebUsers::RandomHex(size_t count) {
    std::string bytes(count, '\0');
    size_t done = 0;
    while (done < count) {
        const ssize_t n = getrandom(bytes.data() + done, count - done, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            THROW_GENERAL("No random numbers from the system");
        }
        done += static_cast<size_t>(n);
    }
    static const char* digits = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string CWebUsers::Sha256Hex(const std::string& text) {
    gchar* sum = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(text.data()),
                                             text.size());
    std::string hex(sum);
    g_free(sum);
    return hex;
}

std::string CWebUsers::HashPassword(const std::string& password) {
    std::string salt(kSaltLength, '\0');
    const std::string saltHex = RandomHex(kSaltLength);
    for (size_t i = 0; i < kSaltLength; ++i) {
        salt[i] = static_cast<char>(std::stoi(saltHex.substr(i * 2, 2), nullptr, 16));
    }
    const size_t length =
        argon2_encodedlen(kTimeCost, kMemoryKiB, kLanes, kSaltLength, kHashLength, Argon2_id);
    std::string encoded(length, '\0');
    const int result = argon2id_hash_encoded(kTimeCost, kMemoryKiB, kLanes, password.data(), password.size(),
                                             salt.data(), salt.size(), kHashLength, encoded.data(), length);
    if (result != ARGON2_OK) {
        THROW_GENERAL_INFO("The password could not be hashed", argon2_error_message(result));
    }
    encoded.resize(std::char_traits<char>::length(encoded.c_str()));
    return encoded;
}

bool CWebUsers::VerifyPassword(const std::string& encoded, const std::string& password) {
    return argon2id_verify(encoded.c_str(), password.data(), password.size()) == ARGON2_OK;
}

void CWebUsers::Add(const std::string& name, const std::string& password, EWebRole role) {
    if (!IsValidName(name)) {
        THROW_GENERAL("A user name has 1 to 64 letters, digits and the characters . _ - @");
    }
    if (password.size() < kMinPasswordLength) {
        THROW_GENERAL("The password needs at least " + std::to_string(kMinPasswordLength) + " characters");
    }
    if (Find(name)) {
        THROW_GENERAL("The user '" + name + "' exists already");
    }
    const std::string hash = HashPassword(password);
    try {
        sqlite3x::sqlite3_command insert(
            m_connection, "insert into t_web_user(name, password, role, created) values(?,?,?,?)");
        insert.bind(1, name);
        insert.bind(2, hash);
        insert.bind(3, std::string(RoleName(role)));
        insert.bind(4, static_cast<int64_t>(std::time(nullptr)));
        insert.executenonquery();
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::Add", e.what());
    }
}

bool CWebUsers::Remove(const std::string& name) {
    if (!Find(name)) {
        return false;
    }
    try {
        sqlite3x::sqlite3_command remove(m_connection, "delete from t_web_user where name=?");
        remove.bind(1, name);
        remove.executenonquery();
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::Remove", e.what());
    }
    return true;
}

std::vector<CWebUser> CWebUsers::List() {
    std::vector<CWebUser> users;
    try {
        sqlite3x::sqlite3_command select(m_connection,
                                         "select name, role, token from t_web_user order by name");
        sqlite3x::sqlite3_reader reader = select.executereader();
        while (reader.read()) {
            users.push_back({reader.getstring(0), RoleFromText(reader.getstring(1)),
                             reader.getcoltype(2) != sqlite3x::column_type::null});
        }
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::List", e.what());
    }
    return users;
}

size_t CWebUsers::Count() {
    try {
        return static_cast<size_t>(m_connection.executeint64("select count(*) from t_web_user;"));
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::Count", e.what());
    }
}

std::string CWebUsers::NewToken(const std::string& name) {
    if (!Find(name)) {
        THROW_GENERAL("There is no user '" + name + "'");
    }
    const std::string token = "tvx_" + RandomHex(32);
    try {
        sqlite3x::sqlite3_command update(m_connection, "update t_web_user set token=? where name=?");
        update.bind(1, Sha256Hex(token));
        update.bind(2, name);
        update.executenonquery();
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::NewToken", e.what());
    }
    return token;
}

std::optional<CWebUser> CWebUsers::Find(const std::string& name) {
    try {
        sqlite3x::sqlite3_command select(m_connection,
                                         "select name, role, token from t_web_user where name=?");
        select.bind(1, name);
        sqlite3x::sqlite3_reader reader = select.executereader();
        if (reader.read()) {
            return CWebUser{reader.getstring(0), RoleFromText(reader.getstring(1)),
                            reader.getcoltype(2) != sqlite3x::column_type::null};
        }
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::Find", e.what());
    }
    return std::nullopt;
}

std::optional<CWebUser> CWebUsers::CheckPassword(const std::string& name, const std::string& password) {
    std::string encoded;
    std::optional<CWebUser> user;
    try {
        sqlite3x::sqlite3_command select(m_connection,
                                         "select name, role, password from t_web_user where name=?");
        select.bind(1, name);
        sqlite3x::sqlite3_reader reader = select.executereader();
        if (reader.read()) {
            user = CWebUser{reader.getstring(0), RoleFromText(reader.getstring(1)), false};
            encoded = reader.getstring(2);
        }
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::CheckPassword", e.what());
    }
    if (!user) {
        // The same work for an unknown name, so that timing does not tell which names exist.
        static const std::string dummy = HashPassword("not a password of anyone");
        VerifyPassword(dummy, password);
        return std::nullopt;
    }
    return VerifyPassword(encoded, password) ? user : std::nullopt;
}

std::optional<CWebUser> CWebUsers::CheckToken(const std::string& token) {
    if (token.empty()) {
        return std::nullopt;
    }
    try {
        sqlite3x::sqlite3_command select(m_connection, "select name, role from t_web_user where token=?");
        select.bind(1, Sha256Hex(token));
        sqlite3x::sqlite3_reader reader = select.executereader();
        if (reader.read()) {
            return CWebUser{reader.getstring(0), RoleFromText(reader.getstring(1)), true};
        }
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CWebUsers::CheckToken", e.what());
    }
    return std::nullopt;
}
