#include "persistence/NotificationLogWriter.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

#include <chrono>

CNotificationLogWriter::CNotificationLogWriter(CNotificationLog& log, std::string path, int intervalMs)
    : m_log(log), m_path(std::move(path)), m_intervalMs(intervalMs) {}

CNotificationLogWriter::~CNotificationLogWriter() {
    Stop();
}

void CNotificationLogWriter::Start() {
    TRACE("CNotificationLogWriter::Start() writing to '%s' every %d ms", m_path.c_str(), m_intervalMs);
    m_thread = std::thread([this] { Run(); });
}

void CNotificationLogWriter::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
        TRACE("CNotificationLogWriter::Stop() finished");
    }
}

void CNotificationLogWriter::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(m_intervalMs), [this] { return m_stop; });
        // A batch that starts after Stop was seen holds every entry added before Stop.
        const bool stopping = m_stop;
        lock.unlock();
        WriteBatch();
        lock.lock();
        if (stopping) {
            break;
        }
    }
    lock.unlock();
    try {
        m_connection.close();
    } catch (const sqlite3x::database_error& e) {
        TRACE("CNotificationLogWriter::Run() close failed: %s", e.what());
    }
}

void CNotificationLogWriter::WriteBatch() {
    if (m_log.GetPendingCount() == 0) {
        return;
    }
    try {
        if (!m_connection.is_open()) {
            // The file must exist: a user database removed while running is not silently replaced
            // by one without tables.
            m_connection.open(m_path, sqlite3x::open_mode::readwrite);
            m_connection.setbusytimeout(kBusyTimeoutMs);
        }
        m_log.WritePending(m_connection);
    } catch (const sqlite3x::database_error& e) {
        TRACE("CNotificationLogWriter::WriteBatch() failed: %s", e.what());
        // A fresh connection for the next attempt, whatever state this one is in.
        try {
            m_connection.close();
        } catch (const sqlite3x::database_error&) {
        }
        if (!m_failing) {
            m_failing = true;
            ReportException(CUserDbEx(TAVRIX_THROW_SOURCE, "CUserDbEx", __LINE__, kFailedMessage,
                                      "'" + std::string(e.what()) + "'. " + kFailedInfo),
                            "", "");
        }
        return;
    }
    if (m_failing) {
        m_failing = false;
        TRACE("CNotificationLogWriter::WriteBatch() writing again");
        m_log.AddEntry("", "", kRecoveredText);
    }
}
