#pragma once
// The notification log: the user-visible list of run-time happenings (program start and stop,
// camera state changes, chain activations, action results, reported errors), each with a local
// time stamp, a document name, a camera name and a text. Bounded in memory: with capacity C it
// keeps the newest C - 1 entries. Saved into the user database at exit and read back at start-up.
//
// AddEntry is called from every thread of the program (camera frame threads among them): it builds
// the entry outside the lock, holds the lock only to stamp the time and append, and calls the
// entry-added listeners after releasing it, so a slow listener never holds up another logging
// thread. The count, entry access and the listeners' registration may be used from any thread;
// Load and Save run on the user interface thread at start-up and exit.

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

struct CLogEntry {
    platform::SystemTime time; // local time
    std::string docName;
    std::string camName;
    std::string text;
};

class CNotificationLog {
public:
    static constexpr int32_t kDefaultCapacity = 1000;

    static CNotificationLog& Instance();
    CNotificationLog() = default;
    CNotificationLog(const CNotificationLog&) = delete;
    CNotificationLog& operator=(const CNotificationLog&) = delete;

    // Adds an entry stamped with the current local time. Safe and cheap from any thread.
    void AddEntry(const std::string& docName, const std::string& camName, const std::string& text);

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
    using EntryPtr = std::shared_ptr<const CLogEntry>;
    using ListenerList = std::vector<std::pair<int, Listener>>;

    platform::SystemTime NowLocked();
    // Drops the oldest entries beyond the capacity into dropped (destroyed outside the lock).
    void TrimLocked(std::vector<EntryPtr>& dropped);

    mutable std::mutex m_lock; // guards everything below; never held while calling out
    std::deque<EntryPtr> m_entries;
    int32_t m_capacity = kDefaultCapacity;
    std::shared_ptr<const ListenerList> m_listeners = std::make_shared<ListenerList>();
    int m_nextListenerId = 1;
    // Local time of the current second, so that stamping an entry costs no time zone conversion.
    int64_t m_cachedSecond = -1;
    platform::SystemTime m_cachedTime;
};
