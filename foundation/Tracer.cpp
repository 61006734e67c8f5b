#include "foundation/Tracer.h"

#include "platform/Paths.h"
#include "platform/SettingsFile.h"
#include "platform/Time.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

std::atomic<bool> CTracer::s_enabled{false};
std::atomic<uint64_t> CTracer::s_generation{1};

namespace {

// Opens (creating it readable by the owner only) a trace file for appending. Traces may quote
// what the user typed, so a link planted at the file's name is never followed, and a file that is
// not a plain file of this user's own (another user's, a FIFO, a second name of some other file)
// is not written: -1 then, and that thread's text is dropped.
int OpenOwnFile(const std::string& name) {
    const int fd =
        open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// One tracing thread's buffer and file. The lock is re-entrant because writing the buffer out
// during an overflow happens inside an append.
class CTraceBuffer {
public:
    CTraceBuffer(uint32_t threadId, std::string fileName)
        : m_threadId(threadId), m_fileName(std::move(fileName)),
          m_buffer(new (std::nothrow) char[CTracer::kBufferSize]) {
        if (!m_buffer) {
            static const char kPanic[] =
                "TRACER panic !! No buffer memory for current thread. Default to OutputDebugString\r\n";
            (void)!write(STDERR_FILENO, kPanic, sizeof kPanic - 1);
        }
    }
    ~CTraceBuffer() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }

    void Append(const char* text, size_t length) {
        platform::CAutoLock lock(m_lock);
        if (!m_buffer) {
            // No memory of our own: the text goes to the debug output, here standard error.
            (void)!write(STDERR_FILENO, text, length);
            return;
        }
        if (m_used + length > CTracer::kBufferSize) {
            WriteToFile(false);
            static const char kOverflow[] = "TRACER: Buffer overflow\n\r";
            Append(kOverflow, sizeof kOverflow - 1);
            if (length > CTracer::kBufferSize - m_used) {
                length = CTracer::kBufferSize - m_used; // a single line never exceeds 1100 bytes
            }
        }
        std::memcpy(m_buffer.get() + m_used, text, length);
        m_used += length;
    }

    void WriteToFile(bool forceToDisk) {
        if (m_fd < 0) {
            // Opening happens outside the buffer lock; only the owner and the writer ever get here.
            const int fd = OpenOwnFile(m_fileName);
            platform::CAutoLock lock(m_lock);
            if (m_fd < 0) {
                m_fd = fd;
            } else if (fd >= 0) {
                close(fd);
            }
        }
        int fd;
        {
            platform::CAutoLock lock(m_lock);
            fd = m_fd;
            WriteBufferLocked();
        }
        if (forceToDisk && fd >= 0) {
            fsync(fd);
        }
    }

    uint32_t ThreadId() const { return m_threadId; }

    void Close() {
        platform::CAutoLock lock(m_lock);
        // Lines a thread traced after the last flush still reach its file.
        WriteBufferLocked();
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
        m_used = 0;
    }

private:
    // Writes and empties the buffer; called with m_lock held.
    void WriteBufferLocked() {
        if (m_used == 0) {
            return;
        }
        if (m_fd >= 0) {
            size_t done = 0;
            while (done < m_used) {
                const ssize_t n = write(m_fd, m_buffer.get() + done, m_used - done);
                if (n <= 0) {
                    break; // the text is dropped; tracing goes on
                }
                done += static_cast<size_t>(n);
            }
        }
        m_used = 0;
    }

    platform::CCritSec m_lock;
    const uint32_t m_threadId;
    const std::string m_fileName;
    std::unique_ptr<char[]> m_buffer;
    size_t m_used = 0;
    int m_fd = -1;
};

namespace {

struct ThreadCache {
    CTraceBuffer* buffer = nullptr;
    uint64_t generation = 0;
};
thread_local ThreadCache t_cache;

bool EnvironmentRequestsTracing() {
    const char* value = std::getenv("TAVRIX_TRACE");
    if (!value) {
        return false;
    }
    // The value is read into a 10-byte buffer: a longer value does not fit and counts as not "yes".
    if (std::strlen(value) >= 10) {
        return false;
    }
    return strcasecmp(value, "yes") == 0;
}

bool SettingsRequestTracing() {
    platform::CSettingsFile settings;
    if (!settings.Load()) {
        return false;
    }
    const auto value = settings.ReadDword("Tavrix", "TRACE");
    return value && *value == 1;
}

std::set<uint32_t> ThreadsOfThisProcess(bool& ok) {
    std::set<uint32_t> ids;
    DIR* dir = opendir("/proc/self/task");
    ok = dir != nullptr;
    if (!dir) {
        return ids;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            ids.insert(static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10)));
        }
    }
    closedir(dir);
    return ids;
}

bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
        }
    }
    return false;
}

} // namespace

CTracer& CTracer::Instance() {
    static CTracer* tracer = new CTracer; // never destroyed: threads may trace during exit
    return *tracer;
}

std::string CTracer::FilePrefix() const {
    return m_prefixOverride.empty() ? platform::DiagnosticBasePath() + ".trace." : m_prefixOverride;
}

void CTracer::SetFilePrefixForTesting(const std::string& prefix) {
    std::lock_guard lock(m_startStopLock);
    if (!IsEnabled()) {
        m_prefixOverride = prefix;
    }
}

bool CTracer::Start() {
    std::lock_guard lock(m_startStopLock);
    if (IsEnabled()) {
        return true;
    }
    if (!EnvironmentRequestsTracing() && !SettingsRequestTracing()) {
        return false;
    }
    m_prefix = FilePrefix();
    m_retired.clear();
    m_stopEvent = std::make_unique<platform::CEvent>(true, false);
    DeleteOldFiles();
    try {
        m_writer = std::thread(&CTracer::WriterThread, this);
    } catch (const std::system_error&) {
        m_stopEvent.reset();
        return false;
    }
    s_enabled.store(true, std::memory_order_release);
    return true;
}

void CTracer::Stop() {
    std::lock_guard lock(m_startStopLock);
    if (!IsEnabled()) {
        return;
    }
    m_stopEvent->Set();
    if (m_writer.joinable()) {
        m_writer.join();
    }
    FlushAll();
    s_enabled.store(false, std::memory_order_release);
    s_generation.fetch_add(1);
    {
        // A thread that passed the enabled test just before it was cleared may still append to its
        // buffer: close the files now but keep the buffers' memory until the next Start.
        platform::CAutoLock registry(m_registryLock);
        for (auto& [tid, buffer] : m_buffers) {
            buffer->Close();
            m_retired.push_back(std::move(buffer));
        }
        m_buffers.clear();
    }
    m_stopEvent.reset();
}

void CTracer::DeleteOldFiles() {
    // Every file whose name is the prefix followed by anything, in the prefix's folder.
    const std::string dir = platform::DirName(m_prefix);
    const std::string namePrefix = platform::BaseName(m_prefix);
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return;
    }
    std::vector<std::string> victims;
    while (dirent* entry = readdir(d)) {
        if (std::strncmp(entry->d_name, namePrefix.c_str(), namePrefix.size()) == 0) {
            victims.push_back(dir + "/" + entry->d_name);
        }
    }
    closedir(d);
    for (const auto& file : victims) {
        unlink(file.c_str());
    }
}

CTraceBuffer* CTracer::BufferForCurrentThread() {
    const uint64_t generation = s_generation.load(std::memory_order_acquire);
    if (t_cache.buffer && t_cache.generation == generation) {
        return t_cache.buffer;
    }
    const uint32_t tid = platform::CurrentThreadId();
    platform::CAutoLock registry(m_registryLock);
    auto& slot = m_buffers[tid];
    if (!slot) {
        slot = std::make_unique<CTraceBuffer>(tid, m_prefix + std::to_string(tid));
    }
    t_cache = {slot.get(), generation};
    return slot.get();
}

void CTracer::Trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    TraceV(format, args);
    va_end(args);
}

void CTracer::TraceV(const char* format, va_list args) {
    if (!IsEnabled()) {
        return;
    }
    char text[1000];
    std::vsnprintf(text, sizeof text, format, args); // longer text is cut at 999 characters
    const uint64_t counter = platform::QueryPerformanceCounter();
    char line[1100];
    int length =
        std::snprintf(line, sizeof line, "%08x%08x-%08x : %s\n", static_cast<uint32_t>(counter >> 32),
                      static_cast<uint32_t>(counter), platform::CurrentThreadId(), text);
    if (length < 0) {
        return;
    }
    if (static_cast<size_t>(length) >= sizeof line) {
        length = sizeof line - 1;
    }
    BufferForCurrentThread()->Append(line, static_cast<size_t>(length));
}

void CTracer::FlushAll() {
    if (!IsEnabled()) {
        return;
    }
    platform::CAutoLock registry(m_registryLock);
    for (auto& [tid, buffer] : m_buffers) {
        buffer->WriteToFile(true);
    }
}

void CTracer::WriterThread() {
    int passes = 0;
    while (!m_stopEvent->Wait(500)) {
        std::vector<CTraceBuffer*> buffers;
        {
            platform::CAutoLock registry(m_registryLock);
            for (auto& [tid, buffer] : m_buffers) {
                buffers.push_back(buffer.get());
            }
        }
        for (CTraceBuffer* buffer : buffers) {
            buffer->WriteToFile(false);
        }
        if (++passes == 4) {
            passes = 0;
            PurgeEndedThreads();
        }
    }
}

void CTracer::PurgeEndedThreads() {
    platform::CAutoLock registry(m_registryLock);
    bool ok = false;
    const std::set<uint32_t> alive = ThreadsOfThisProcess(ok);
    if (!ok) {
        return;
    }
    for (auto it = m_buffers.begin(); it != m_buffers.end();) {
        if (alive.count(it->first) == 0) {
            it->second->WriteToFile(true);
            it = m_buffers.erase(it);
        } else {
            ++it;
        }
    }
}

void CTracer::StopHere(const char* file, int line) {
    Trace("Stopped by TRACER_STOP_HERE-Macro");
    Trace("TRACER_STOP_HERE at %s:%d", platform::BaseName(file).c_str(), line);
    FlushAll();
    if (DebuggerAttached()) {
        std::raise(SIGTRAP);
    }
}
