#include "persistence/NotificationLog.h"

#include "foundation/ErrorReport.h"
#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "persistence/NotificationLogWriter.h"
#include "persistence/sqlite3x.h"

#include <algorithm>
#include <ctime>

namespace {

void InsertRow(sqlite3x::sqlite3_command& insert, const CLogEntry& entry) {
    int64_t fileTime = 0;
    platform::SystemTimeToFileTime(entry.time, fileTime);
    insert.bind(1, fileTime);
    // The name and text columns are declared "string" (numeric affinity): keep "007" as it is.
    insert.bindtext_exact(2, entry.docName);
    insert.bindtext_exact(3, entry.camName);
    insert.bindtext_exact(4, entry.text);
    insert.executenonquery();
}

} // namespace

CNotificationLog& CNotificationLog::Instance() {
    static CNotificationLog instance;
    return instance;
}

CNotificationLog::CNotificationLog() = default;

CNotificationLog::~CNotificationLog() {
    StopWriting();
}

platform::SystemTime CNotificationLog::NowLocked() {
    // Stamped under the lock so that the entries' times never run backwards against their order.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != m_cachedSecond) {
        m_cachedTime = platform::LocalTimeFromUnix(now.tv_sec);
        m_cachedSecond = now.tv_sec;
    }
    platform::SystemTime time = m_cachedTime;
    time.milliseconds = static_cast<uint16_t>(now.tv_nsec / 1000000);
    return time;
}

void CNotificationLog::TrimLocked(std::vector<EntryPtr>& dropped) {
    const size_t keep = static_cast<size_t>(m_capacity - 1);
    while (m_entries.size() > keep) {
        dropped.push_back(std::move(m_entries.front()));
        m_entries.pop_front();
    }
    while (m_pending.size() > keep) {
        dropped.push_back(std::move(m_pending.front()));
        m_pending.pop_front();
    }
}

void CNotificationLog::AddEntry(const std::string& docName, const std::string& camName,
                                const std::string& text) {
    Add(docName, camName, text, false);
}

void CNotificationLog::AddErrorEntry(const std::string& docName, const std::string& camName,
                                     const std::string& text) {
    Add(docName, camName, text, true);
}

void CNotificationLog::Add(const std::string& docName, const std::string& camName, const std::string& text,
                           bool error) {
    // Everything that allocates happens before the lock is taken.
    auto entry = std::make_shared<CLogEntry>();
    entry->docName = docName;
    entry->camName = camName;
    // No password of a network camera's address reaches the log, whoever wrote the text.
    entry->text = MaskPasswords(text);
    entry->error = error;

    std::shared_ptr<const ListenerList> listeners;
    EntryPtr dropped;
    EntryPtr droppedPending;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        entry->time = NowLocked();
        m_entries.push_back(entry);
        m_pending.push_back(entry);
        const size_t keep = static_cast<size_t>(m_capacity - 1);
        if (m_entries.size() > keep) {
            dropped = std::move(m_entries.front());
            m_entries.pop_front();
        }
        if (m_pending.size() > keep) {
            droppedPending = std::move(m_pending.front());
            m_pending.pop_front();
        }
        listeners = m_listeners;
    }
    for (const auto& [id, listener] : *listeners) {
        listener(*entry);
    }
}

int CNotificationLog::GetCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_entries.size());
}

CLogEntry CNotificationLog::GetEntry(int index) const {
    EntryPtr entry;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (index < 0 || static_cast<size_t>(index) >= m_entries.size()) {
            return {};
        }
        entry = m_entries[static_cast<size_t>(index)];
    }
    return *entry;
}

std::vector<CLogEntry> CNotificationLog::GetEntries() const {
    std::vector<EntryPtr> snapshot;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        snapshot.assign(m_entries.begin(), m_entries.end());
    }
    std::vector<CLogEntry> entries;
    entries.reserve(snapshot.size());
    for (const auto& entry : snapshot) {
        entries.push_back(*entry);
    }
    return entries;
}

void CNotificationLog::SetCapacity(int32_t capacity) {
    if (capacity <= 0) {
        TRACE("CNotificationLog::SetCapacity() capacity %d replaced by %d", capacity, kDefaultCapacity);
        capacity = kDefaultCapacity;
    }
    std::vector<EntryPtr> dropped;
    std::lock_guard<std::mutex> lock(m_lock);
    m_capacity = capacity;
    TrimLocked(dropped);
}

int32_t CNotificationLog::GetCapacity() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_capacity;
}

void CNotificationLog::Load(sqlite3x::sqlite3_connection& connection) {
    if (!connection.is_open()) {
        TRACE("CNotificationLog::Load() user database not open, nothing loaded");
        return;
    }
    const int64_t capacity = GetCapacity();
    std::vector<EntryPtr> loaded;
    try {
        const int64_t count = connection.executeint64("select count(*) from t_log_entry");
        const int64_t wanted = std::max<int64_t>(0, std::min(count, capacity - 1));
        // Rows are saved oldest first, so the row id orders entries of the same millisecond.
        sqlite3x::sqlite3_command command(
            connection,
            "select LOG_DATE,DOCNAME,CAMNAME,LOG_INFO from t_log_entry order by LOG_DATE desc, rowid desc");
        auto reader = command.executereader();
        // Newest first; reversed below so that the oldest comes first.
        while (static_cast<int64_t>(loaded.size()) < wanted && reader.read()) {
            auto entry = std::make_shared<CLogEntry>();
            if (!platform::FileTimeToSystemTime(reader.getint64(0), entry->time)) {
                entry->time = {};
            }
            entry->docName = reader.getstring(1);
            entry->camName = reader.getstring(2);
            entry->text = reader.getstring(3);
            loaded.push_back(std::move(entry));
        }
    } catch (const sqlite3x::database_error& e) {
        ShowMessageBox(std::string("An error occurred during loading the notifications : '") + e.what() +
                       "'");
        return;
    }
    std::vector<EntryPtr> dropped;
    std::lock_guard<std::mutex> lock(m_lock);
    m_entries.insert(m_entries.begin(), loaded.rbegin(), loaded.rend());
    TrimLocked(dropped);
}

void CNotificationLog::Save(sqlite3x::sqlite3_connection& connection) {
    if (!connection.is_open()) {
        TRACE("CNotificationLog::Save() user database not open, nothing saved");
        return;
    }
    std::lock_guard<std::mutex> writing(m_dbLock);
    std::vector<EntryPtr> snapshot;
    std::deque<EntryPtr> pending;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        snapshot.assign(m_entries.begin(), m_entries.end());
        pending.swap(m_pending);
    }
    try {
        sqlite3x::sqlite3_transaction transaction(connection);
        connection.executenonquery("delete from t_log_entry");
        sqlite3x::sqlite3_command insert(connection, "insert into t_log_entry values (?,?,?,?)");
        for (const auto& entry : snapshot) {
            InsertRow(insert, *entry);
        }
        transaction.commit();
    } catch (const sqlite3x::database_error& e) {
        Requeue(pending);
        ShowMessageBox(std::string("An error occurred during saving the notifications : '") + e.what() + "'");
    }
}

void CNotificationLog::Requeue(std::deque<EntryPtr>& batch) {
    std::vector<EntryPtr> dropped;
    std::lock_guard<std::mutex> lock(m_lock);
    batch.insert(batch.end(), m_pending.begin(), m_pending.end());
    m_pending.swap(batch);
    TrimLocked(dropped);
}

void CNotificationLog::WritePending(sqlite3x::sqlite3_connection& connection) {
    std::lock_guard<std::mutex> writing(m_dbLock);
    std::deque<EntryPtr> batch;
    int64_t keep = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        batch.swap(m_pending);
        keep = m_capacity - 1;
    }
    if (batch.empty()) {
        return;
    }
    try {
        sqlite3x::sqlite3_transaction transaction(connection);
        sqlite3x::sqlite3_command insert(connection, "insert into t_log_entry values (?,?,?,?)");
        for (const auto& entry : batch) {
            InsertRow(insert, *entry);
        }
        // The table keeps what the next start would load: the newest capacity - 1 rows.
        if (connection.executeint64("select count(*) from t_log_entry") > keep) {
            sqlite3x::sqlite3_command trim(connection,
                                           "delete from t_log_entry where rowid not in (select rowid from "
                                           "t_log_entry order by LOG_DATE desc, rowid desc limit ?)");
            trim.bind(1, keep);
            trim.executenonquery();
        }
        transaction.commit();
    } catch (const sqlite3x::database_error&) {
        Requeue(batch);
        throw;
    }
}

int CNotificationLog::GetPendingCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return static_cast<int>(m_pending.size());
}

void CNotificationLog::StartWriting(const std::string& userDbPath, int intervalMs) {
    StopWriting();
    m_writer = std::make_unique<CNotificationLogWriter>(*this, userDbPath, intervalMs);
    m_writer->Start();
}

void CNotificationLog::StopWriting() {
    if (m_writer) {
        m_writer->Stop();
        m_writer.reset();
    }
}

int CNotificationLog::AddListener(Listener listener) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto list = std::make_shared<ListenerList>(*m_listeners);
    const int id = m_nextListenerId++;
    list->emplace_back(id, std::move(listener));
    m_listeners = std::move(list);
    return id;
}

void CNotificationLog::RemoveListener(int id) {
    std::lock_guard<std::mutex> lock(m_lock);
    auto list = std::make_shared<ListenerList>(*m_listeners);
    list->erase(
        std::remove_if(list->begin(), list->end(), [id](const auto& item) { return item.first == id; }),
        list->end());
    m_listeners = std::move(list);
}

void CNotificationLog::Clear() {
    std::deque<EntryPtr> dropped;
    std::deque<EntryPtr> droppedPending;
    std::lock_guard<std::mutex> lock(m_lock);
    dropped.swap(m_entries);
    droppedPending.swap(m_pending);
}
