#pragma once
// CRecordFileSync: keeps a record file on the disk while it is being written. Every two seconds
// of recording a thread of its own hands what the writer still buffers to the operating system
// (the flush function) and forces the file's data to the disk (fdatasync), so that a crash, a
// kill or a power cut loses at most the last seconds of a recording instead of all of it.
//
// The recording pipeline starts it once its file is being written (Start, on a record start
// thread) and ends it after the file has been finished (Stop, on the stop thread), which also
// syncs the finished file once more. The flush function runs on the syncer's thread; it must be
// safe against the writer's streaming thread. Start and Stop are called by one thread at a time.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CRecordFileSync {
public:
    static constexpr uint32_t kIntervalMs = 2000;

    CRecordFileSync() = default;
    // Stops the thread; no final sync (Stop does that).
    ~CRecordFileSync();
    CRecordFileSync(const CRecordFileSync&) = delete;
    CRecordFileSync& operator=(const CRecordFileSync&) = delete;

    // Opens fileName for syncing and starts the thread. flush may be empty (a writer that keeps
    // nothing back). False, traced, when the file cannot be opened: the recording goes on.
    bool Start(const std::string& fileName, std::function<void()> flush, uint32_t intervalMs = kIntervalMs);
    // Ends the thread and, when finalSync, forces the file to the disk once more.
    void Stop(bool finalSync = true);
    // Syncs done so far by the thread (for the tests).
    int64_t GetSyncCount();

private:
    void Run();
    void SyncOnce();
    void EndThread();

    std::mutex m_lock; // m_stop, m_syncs; innermost
    std::condition_variable m_wake;
    bool m_stop = false;
    int64_t m_syncs = 0;
    std::thread m_thread;
    std::function<void()> m_flush;
    std::string m_fileName;
    uint32_t m_intervalMs = kIntervalMs;
    int m_fd = -1;
};
