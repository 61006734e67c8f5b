#pragma once
// The notification log: the user-visible list of run-time happenings (program start and stop,
// camera state changes, chain activations, action results, reported errors), each with a local
// time stamp, a document name, a camera name and a text. Bounded in memory: with capacity C it
// keeps the newest C - 1 entries. Read back from the user database at start-up; while the program
// runs a writer thread writes new entries through to it in batches (so that a crash, a kill or a
// power cut loses at most the last moments), and the exit saves the whole log once more.
//
// AddEntry is called from every thread of the program (camera frame threads among them): it builds
// the entry outside the lock, holds the lock only to stamp the time and append, and calls the
// entry-added listeners after releasing it, so a slow listener never holds up another logging
// thread. The count, entry access and the listeners' registration may be used from any thread;
// Load, Save, StartWriting and StopWriting run on the user interface thread at start-up and exit;
// WritePending runs on the writer thread.
//
// Lock order: m_dbLock (one writer of t_log_entry at a time: WritePending, Save) -> m_lock.

#include "platform/Time.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}
class CNotificationLogWriter;

struct CLogEntry {
    platform::SystemTime time; // local time
    std::string docName;
    std::string camName;
    std::string text;
    // A failure the user must act on (a lost device, a recording that cannot be written, an action
    // that failed): the headless shell also writes these to standard error. Not stored.
    bool error = false;
};

class CNotificationLog {
public:
    static constexpr int32_t kDefaultCapacity = 1000;

    static CNotificationLog& Instance();
    CNotificationLog();
    // Stops the writer thread if it still runs.
    ~CNotificationLog();
    CNotificationLog(const CNotificationLog&) = delete;
    CNotificationLog& operator=(const CNotificationLog&) = delete;

    // Adds an entry stamped with the current local time. Safe and cheap from any thread.
    void AddEntry(const std::string& docName, const std::string& camName, const std::string& text);
    // The same for an entry that reports a failure (CLogEntry::error).
    void AddErrorEntry(const std::string& docName, const std::string& camName, const std::string& text);

    // Number of entries and entry access, index 0 = oldest. An index out of range (the log may have
    // dropped entries since the count was read) gives an empty entry.
    int GetCount() const;
    CLogEntry GetEntry(int index) const;
    // A copy of every entry, oldest first.
    std::vector<CLogEntry> GetEntries() const;

    // Sets the capacity (the log keeps capacity - 1 entries) and drops the oldest entries beyond
    // it. A capacity of 0 or below (a "MaximumLogLength" of 0, or a settings group without that
    // value, which reads as 0) means the default of 1000: a log that silently kept nothing would hide
    // every happening from the user. A capacity of 1 keeps no entry (listeners still see each one).
    void SetCapacity(int32_t capacity);
    int32_t GetCapacity() const;

    // Reads the newest capacity - 1 entries of t_log_entry, placing them before any entry already
    // in the log. A database error shows "An error occurred during loading the notifications : '"
    // + text + "'" and loads nothing. A connection that is not open (the user database failed to
    // open, which was reported then) is skipped.
    void Load(sqlite3x::sqlite3_connection& connection);
    // Replaces the rows of t_log_entry by the entries, oldest first, in one transaction. A database
    // error rolls back and shows "An error occurred during saving the notifications : '" + text +
    // "'". A connection that is not open is skipped.
    void Save(sqlite3x::sqlite3_connection& connection);

    // Write-through. Every entry added (and not loaded) is pending until it is in the user
    // database; at most capacity - 1 pending entries are kept, the newest, since older ones would
    // not survive in the table either. StartWriting starts a thread that writes the pending entries
    // to the database at path on a connection of its own, at least every intervalMs; StopWriting
    // writes what is pending and ends it (call it before Save). Both on the user interface thread.
    static constexpr int kWriteIntervalMs = 1000;
    void StartWriting(const std::string& userDbPath, int intervalMs = kWriteIntervalMs);
    void StopWriting();
    // One batch: appends the pending entries to t_log_entry and deletes the rows beyond the newest
    // capacity - 1 (newest as Load reads them), in one transaction. On a database error the entries
    // stay pending and sqlite3x::database_error is thrown. Called by the writer thread.
    void WritePending(sqlite3x::sqlite3_connection& connection);
    // Number of entries waiting for the next batch (a batch being written is not counted).
    int GetPendingCount() const;

    // Entry-added listeners: called on the adding thread, after the entry is in the log and outside
    // the log's lock, with the new entry. The headless shell echoes entries; the Qt shell posts its
    // "notification list changed" message. A listener must not block. Returns an id for removal.
    using Listener = std::function<void(const CLogEntry& entry)>;
    int AddListener(Listener listener);
    // After it returns the listener is no longer started; a call already running on another thread
    // may still finish.
    void RemoveListener(int id);

    // Removes every entry (tests, and a fresh start of the log).
    void Clear();

private:
    void Add(const std::string& docName, const std::string& camName, const std::string& text, bool error);
    using EntryPtr = std::shared_ptr<const CLogEntry>;
    using ListenerList = std::vector<std::pair<int, Listener>>;

    platform::SystemTime NowLocked();
    // Drops the oldest entries (and pending entries) beyond the capacity into dropped (destroyed
    // outside the lock).
    void TrimLocked(std::vector<EntryPtr>& dropped);
    // Puts entries that could not be written back before the pending ones.
    void Requeue(std::deque<EntryPtr>& batch);

    std::mutex m_dbLock; // held while t_log_entry is written; taken before m_lock
    std::unique_ptr<CNotificationLogWriter> m_writer; // user interface thread only

    mutable std::mutex m_lock; // guards everything below; never held while calling out
    std::deque<EntryPtr> m_entries;
    std::deque<EntryPtr> m_pending; // added, not yet written to the user database
    int32_t m_capacity = kDefaultCapacity;
    std::shared_ptr<const ListenerList> m_listeners = std::make_shared<ListenerList>();
    int m_nextListenerId = 1;
    // Local time of the current second, so that stamping an entry costs no time zone conversion.
    int64_t m_cachedSecond = -1;
    platform::SystemTime m_cachedTime;
};
