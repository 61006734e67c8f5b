#pragma once
// CRecordingCatalogue: the catalogue of recordings, a versioned table beside the notification log
// in the user database. One row per recording from its Record Begin on (see Recording.h). The
// tables are created on first use; a catalogue of a newer version is refused (CUserDbEx with
// kNewerVersionInfo) and never written, as the user database refuses a newer log.
//
// This is the query interface of every user of the catalogue (the recordings library's worker, the
// desktop's Recordings window, the command line, the web server): list with filters and paging,
// get by id, set "keep", delete.
//
// Threads: any thread; each instance has its own SQLite connection guarded by m_lock (innermost,
// held for one statement or transaction, never while calling out). Several instances (and
// processes) may use one file: a writer waits up to kBusyTimeoutMs for another's lock.
// Failures of SQLite are thrown as CUserDbEx with the operation's name and SQLite's text.

#include "library/Recording.h"
#include "persistence/sqlite3x.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CRecordingCatalogue {
public:
    static constexpr int64_t kVersion = 1;
    static constexpr int kBusyTimeoutMs = 5000;
    static constexpr const char* kNewerVersionInfo =
        "Recordings catalogue version is higher than expected. Please upgrade Tavrix";

    CRecordingCatalogue() = default;
    ~CRecordingCatalogue();
    CRecordingCatalogue(const CRecordingCatalogue&) = delete;
    CRecordingCatalogue& operator=(const CRecordingCatalogue&) = delete;

    // Opens the user database at path (creating the file, its folder and the catalogue's tables
    // when missing).
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const;
    const std::string& GetPath() const { return m_path; }

    // A new row; a row for the same file is replaced (a name template that gives the same name
    // twice). Returns the new id; ids are never used twice, so an id a client kept never names
    // another recording.
    int64_t Insert(const CRecording& recording);
    // Writes every field of the row with recording.id (the thumbnail only when it is not empty).
    void Update(const CRecording& recording);
    std::optional<CRecording> Get(int64_t id, bool withThumbnail = true);
    std::optional<CRecording> FindByPath(const std::string& filePath);
    // Newest first (start time, then id).
    std::vector<CRecording> List(const CRecordingFilter& filter);
    int64_t Count(const CRecordingFilter& filter);
    // Rows of a document that retention may consider: finished, not kept, oldest first, without
    // thumbnails.
    std::vector<CRecording> ListRemovable(const std::string& documentPath);
    // Every row without thumbnail, oldest first (reconciliation).
    std::vector<CRecording> ListAll();
    // The distinct document files of the catalogue.
    std::vector<std::string> Documents();
    // False when no such row exists.
    bool SetKeep(int64_t id, bool keep);
    bool SetState(int64_t id, ERecordingState state);
    // Removes the row only; false when it did not exist.
    bool Remove(int64_t id);
    // Deletes the recording's file (when it is there) and its row. Refused (false, reason in error)
    // for a recording being written or marked "keep" unless force.
    bool Delete(int64_t id, std::string* error = nullptr, bool force = false);

    // "YYYY-MM-DD HH:MM:SS" of a UTC time in the local time zone.
    static std::string LocalText(int64_t unixMs);

private:
    void CreateTables();
    std::vector<CRecording> Query(const std::string& where, const std::vector<std::string>& texts,
                                  const std::vector<int64_t>& numbers, const std::string& tail,
                                  bool withThumbnail);
    [[noreturn]] void Fail(const char* operation, const std::exception& e);

    mutable std::mutex m_lock; // guards m_connection; innermost
    sqlite3x::sqlite3_connection m_connection;
    std::string m_path;
};
