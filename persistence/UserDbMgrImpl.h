#pragma once
// The user database: the per-user SQLite file that keeps the notification log between runs
// ("UserDbPath", default $XDG_DATA_HOME/Tavrix/Tavrix.db). Opened at start-up, closed at exit; a
// "UserDbPath" changed while the program runs takes effect at exit by moving the file.
//
// Open, Close and the connection are used on the user interface thread only.

#include "persistence/sqlite3x.h"

#include <string>

class CConfigMgrImpl;

class CUserDbMgrImpl {
public:
    static constexpr int64_t kVersion = 1;

    // The process-wide instance on the process-wide settings, created on first use.
    static CUserDbMgrImpl& Instance();

    explicit CUserDbMgrImpl(CConfigMgrImpl& config);

    // Opens the database at the current "UserDbPath" (creating its folder, its tables and version 1
    // when missing). Throws CUserDbEx "CUserDbMgrImpl::Open" with the SQLite text as info, or with
    // "User database version is higher than expected. Please upgrade Tavrix" for a newer file; the
    // connection is then closed, so nothing is ever written into a newer database.
    void Open();
    // Closes the database (CUserDbEx "CUserDbMgrImpl::Close" when SQLite refuses) and, when
    // "UserDbPath" has changed since Open, moves the file to the new path without replacing an
    // existing file; when the move fails the settings get the old path back. When the old file does
    // not exist (Open failed) there is nothing to move and the new path stays.
    void Close();

    sqlite3x::sqlite3_connection& Connection() { return m_connection; }
    // The path the database was opened with.
    const std::string& GetPath() const { return m_path; }

    // Moves a file to a path that must not exist yet, across file systems too. False (nothing
    // changed at the target) when the target exists or the move fails.
    static bool MoveFileNoReplace(const std::string& from, const std::string& to);

private:
    CConfigMgrImpl& m_config;
    sqlite3x::sqlite3_connection m_connection;
    std::string m_path;
};
