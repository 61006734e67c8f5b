#include "persistence/UserDbMgrImpl.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigMgrImpl.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CUserDbMgrImpl& CUserDbMgrImpl::Instance() {
    static CUserDbMgrImpl instance(CConfigMgrImpl::Instance());
    return instance;
}

CUserDbMgrImpl::CUserDbMgrImpl(CConfigMgrImpl& config) : m_config(config) {}

void CUserDbMgrImpl::Open() {
    m_path = m_config.GetNotificationSettings().GetUserDbPath();
    TRACE("CUserDbMgrImpl::Open() opening '%s'", m_path.c_str());
    int64_t version = 0;
    try {
        platform::MakeDirs(platform::DirName(m_path));
        m_connection.open(m_path);
        m_connection.setbusytimeout(2000);
        if (m_connection.executeint("select count(*) from sqlite_master where name='t_userdb_schema';") ==
            0) {
            sqlite3x::sqlite3_transaction transaction(m_connection);
            m_connection.executenonquery("create table t_userdb_schema(version number)");
            m_connection.executenonquery("insert into t_userdb_schema values(" + std::to_string(kVersion) +
                                         ")");
            m_connection.executenonquery(
                "create table  t_log_entry (log_date integer,docname string,camname string,log_info string)");
            transaction.commit();
        }
        version = m_connection.executeint64("select max(version) from t_userdb_schema;");
    } catch (const sqlite3x::database_error& e) {
        try {
            m_connection.close();
        } catch (const sqlite3x::database_error&) {
        }
        THROW_USERDB("CUserDbMgrImpl::Open", e.what());
    }
    if (version > kVersion) {
        m_connection.close();
        THROW_USERDB("CUserDbMgrImpl::Open",
                     "User database version is higher than expected. Please upgrade Tavrix");
    }
    TRACE("CUserDbMgrImpl::Open() finished, version %lld", static_cast<long long>(version));
}

void CUserDbMgrImpl::Close() {
    TRACE("CUserDbMgrImpl::Close() entered");
    try {
        m_connection.close();
    } catch (const sqlite3x::database_error& e) {
        THROW_USERDB("CUserDbMgrImpl::Close", e.what());
    }
    CNotificationSettings settings = m_config.GetNotificationSettings();
    const std::string newPath = settings.GetUserDbPath();
    if (m_path.empty() || newPath == m_path) {
        return;
    }
    if (!platform::FileExists(m_path)) {
        TRACE("CUserDbMgrImpl::Close() '%s' does not exist, nothing to move", m_path.c_str());
        return;
    }
    platform::MakeDirs(platform::DirName(newPath));
    if (MoveFileNoReplace(m_path, newPath)) {
        TRACE("CUserDbMgrImpl::Close() moved '%s' to '%s'", m_path.c_str(), newPath.c_str());
        m_path = newPath;
        return;
    }
    TRACE("CUserDbMgrImpl::Close() unable to move '%s' to '%s', old path kept", m_path.c_str(),
          newPath.c_str());
    settings.SetUserDbPath(m_path);
    m_config.SetNotificationSettings(settings);
}

namespace {

// Copies from into a new file to (which must not exist) and removes from; on failure removes the
// partial copy and leaves from untouched.
bool CopyThenRemove(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    struct stat st {};
    const mode_t mode = ::fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0600;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) {
            break;
        }
    }
    ok = ok && ::fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    ::close(in);
    if (!ok) {
        ::unlink(to.c_str());
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

} // namespace

bool CUserDbMgrImpl::MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without RENAME_NOREPLACE: a hard link fails on an existing target too.
        if (::link(from.c_str(), to.c_str()) == 0) {
            ::unlink(from.c_str());
            return true;
        }
        if (errno == EEXIST) {
            return false;
        }
    }
    // Another file system (EXDEV) or no hard links there.
    return CopyThenRemove(from, to);
}
