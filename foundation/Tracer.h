#pragma once
// The tracing facility (TRACER): printf-style diagnostic lines, one trace file per thread next to
// the executable (or under $XDG_STATE_HOME/Tavrix/). Off unless TAVRIX_TRACE=yes or the settings
// value [Tavrix] TRACE=1 asks for it; then each thread appends to a 512 KiB buffer of its own and a
// writer thread moves the buffers to the files every 500 ms, so a trace call never waits for the
// disk and never contends with other threads except on its first call.
//
// Any thread may trace. Start is the first thing the application does and Stop the last.

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Sync.h"

class CTraceBuffer;

class CTracer {
public:
    static CTracer& Instance();

    // Decides from the environment and the settings file whether tracing is wanted and, if so,
    // deletes the trace files of earlier runs and starts the writer thread. True when tracing is on.
    bool Start();
    // Ends tracing: stops the writer thread, writes and closes every file.
    void Stop();
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void TraceV(const char* format, va_list args);
    // Writes every thread's buffer to its file and forces the files to disk.
    void FlushAll();
    // Acquire: a thread that sees tracing on also sees the file prefix Start set before it.
    bool IsEnabled() const { return s_enabled.load(std::memory_order_acquire); }
    // The one flag test a disabled trace call costs.
    static bool Enabled() { return s_enabled.load(std::memory_order_relaxed); }

    // The trace file of a thread is this prefix followed by the thread id in decimal.
    std::string FilePrefix() const;
    // Tests point the files elsewhere; must be called while tracing is off. Empty restores the
    // default (the diagnostic base path + ".trace.").
    void SetFilePrefixForTesting(const std::string& prefix);

    // Implements TRACER_STOP_HERE: traces the marker, flushes, and stops in a debugger when one is
    // attached. Without tracing it does nothing.
    void StopHere(const char* file, int line);

    static constexpr size_t kBufferSize = 0x80000;

private:
    CTracer() = default;
    CTraceBuffer* BufferForCurrentThread();
    void WriterThread();
    void PurgeEndedThreads();
    void DeleteOldFiles();

    static std::atomic<bool> s_enabled;
    static std::atomic<uint64_t> s_generation; // bumped by Stop, invalidates cached buffers

    std::mutex m_startStopLock;
    platform::CCritSec m_registryLock; // guards m_buffers; always taken before a buffer lock
    std::map<uint32_t, std::unique_ptr<CTraceBuffer>> m_buffers;
    std::vector<std::unique_ptr<CTraceBuffer>> m_retired; // buffers of the last run, freed at Start
    std::unique_ptr<platform::CEvent> m_stopEvent;
    std::thread m_writer;
    std::string m_prefixOverride;
    std::string m_prefix;
};

#define TRACE(...)                                                                                           \
    do {                                                                                                     \
        if (CTracer::Enabled())                                                                              \
            CTracer::Instance().Trace(__VA_ARGS__);                                                          \
    } while (0)

// Marks a code path that must never run (a record context started or stopped twice).
#define TRACER_STOP_HERE()                                                                                   \
    do {                                                                                                     \
        if (CTracer::Enabled())                                                                              \
            CTracer::Instance().StopHere(__FILE__, __LINE__);                                                \
    } while (0)
