#include "recording/RecordFileSync.h"

#include "foundation/Tracer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

CRecordFileSync::~CRecordFileSync() {
    Stop(false);
}

bool CRecordFileSync::Start(const std::string& fileName, std::function<void()> flush, uint32_t intervalMs) {
    Stop(false);
    // Any descriptor of the file serves for fdatasync; the writer keeps its own.
    m_fd = open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        TRACE("CRecordFileSync::Start() cannot open '%s': %s", fileName.c_str(), std::strerror(errno));
        return false;
    }
    m_fileName = fileName;
    m_flush = std::move(flush);
    m_intervalMs = intervalMs;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = false;
    }
    try {
        m_thread = std::thread(&CRecordFileSync::Run, this);
    } catch (const std::system_error& error) {
        TRACE("CRecordFileSync::Start() no thread for '%s': %s", fileName.c_str(), error.what());
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

void CRecordFileSync::EndThread() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CRecordFileSync::Stop(bool finalSync) {
    EndThread();
    if (m_fd >= 0) {
        if (finalSync && fdatasync(m_fd) != 0) {
            TRACE("CRecordFileSync::Stop() fdatasync '%s' failed: %s", m_fileName.c_str(),
                  std::strerror(errno));
        }
        close(m_fd);
        m_fd = -1;
    }
    m_flush = nullptr;
}

int64_t CRecordFileSync::GetSyncCount() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_syncs;
}

void CRecordFileSync::Run() {
    TRACE("CRecordFileSync::Run() started for '%s'", m_fileName.c_str());
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait_for(lock, std::chrono::milliseconds(m_intervalMs), [this] { return m_stop; });
        if (m_stop) {
            break;
        }
        lock.unlock();
        SyncOnce();
        lock.lock();
        ++m_syncs;
    }
    TRACE("CRecordFileSync::Run() exit for '%s'", m_fileName.c_str());
}

void CRecordFileSync::SyncOnce() {
    if (m_flush) {
        m_flush();
    }
    if (fdatasync(m_fd) != 0) {
        // A full or failing disk is the writer's to report; the sync tries again next time.
        TRACE("CRecordFileSync::SyncOnce() fdatasync '%s' failed: %s", m_fileName.c_str(),
              std::strerror(errno));
    }
}
