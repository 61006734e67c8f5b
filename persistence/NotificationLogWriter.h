#pragma once
// The notification log's writer thread: writes the entries added since the last batch into the
// user database on a connection of its own, at least every interval, so that entries survive a
// crash, a kill or a power cut. When the database cannot be written (full, locked, gone) the
// entries stay in memory; the failure is reported once (a CUserDbEx report: a log entry and, when
// not unattended, the error dialog), and once the database takes entries again the writer logs
// that it does and goes on with everything that was kept.
//
// Start and Stop are called by the notification log on the user interface thread; everything
// else runs on the writer thread.

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "persistence/sqlite3x.h"

class CNotificationLog;

class CNotificationLogWriter {
public:
    static constexpr const char* kFailedMessage = "The notifications cannot be written to the user database";
    static constexpr const char* kFailedInfo =
        "They are kept in memory and written as soon as the database can be written again.";
    static constexpr const char* kRecoveredText = "The notifications are written to the user database again.";
    // How long one batch waits for a lock held by another connection before it counts as failed.
    static constexpr int kBusyTimeoutMs = 1000;

    CNotificationLogWriter(CNotificationLog& log, std::string path, int intervalMs);
    ~CNotificationLogWriter();
    CNotificationLogWriter(const CNotificationLogWriter&) = delete;
    CNotificationLogWriter& operator=(const CNotificationLogWriter&) = delete;

    void Start();
    // Writes what is pending one last time and ends the thread.
    void Stop();

private:
    void Run();
    void WriteBatch();

    CNotificationLog& m_log;
    const std::string m_path;
    const int m_intervalMs;

    std::mutex m_lock; // guards m_stop
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;

    // Writer thread only.
    sqlite3x::sqlite3_connection m_connection;
    bool m_failing = false;
};
