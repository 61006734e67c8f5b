#pragma once
// What the crash handler captures of a crash before it writes anything: the signal, the exception
// code and name it maps to, the crashed thread's registers and its walked call stack. Filled
// inside the signal handler into static storage and read by the report, the core file writer and
// the symbolising child process, which inherit it with the process's memory.

#include <atomic>
#include <csignal>
#include <cstdint>
#include <sys/types.h>
#include <sys/ucontext.h>

struct CrashFrame {
    uintptr_t pc = 0;    // program counter (the return address for every frame but the first)
    uintptr_t frame = 0; // the frame's canonical frame address (stack pointer at its call)
};

// The registers of one of the process's other threads, caught at the crash.
struct CrashThreadState {
    pid_t tid = 0;
    std::atomic<int> captured{0}; // 1 once the thread has stored its registers
    mcontext_t machine{};
    bool fpValid = false;
#if defined(__x86_64__)
    unsigned char fpState[512] = {};
    uint64_t fsBase = 0;
#endif
};

struct CrashSnapshot {
    static constexpr int kMaxFrames = 256;
    static constexpr int kMaxThreads = 512;

    int signal = 0;
    siginfo_t info{};
    uint32_t exceptionCode = 0;
    const char* exceptionName = "";
    uintptr_t faultAddress = 0; // the instruction that faulted

    pid_t pid = 0, tid = 0, ppid = 0, pgrp = 0, sid = 0;
    mcontext_t machine{}; // general registers; the floating-point state is copied below
    bool fpValid = false;
#if defined(__x86_64__)
    unsigned char fpState[512] = {}; // the FXSAVE area
    uint64_t fsBase = 0, gsBase = 0;
#endif

    CrashFrame frames[kMaxFrames];
    int frameCount = 0;

    // The other threads, in the order found; only those with `captured` set are written.
    CrashThreadState threads[kMaxThreads];
    int threadCount = 0;
};

// How far the symbolising child got, in memory shared with the crashed process, so that the
// handler can finish the report itself when the child hangs or dies.
struct CrashProgress {
    enum Stage : int {
        kNothing = 0,
        kModulesHeading = 1, // "\nLoaded symbols :\n" written
        kModulesDone = 2,
        kStackHeading = 3, // "\nStack Trace:\n\nCall stack:\nAddress   Frame\n" written
        kComplete = 4,     // every frame and the closing line feed written
        kInitFailed = 5,   // the symbol library could not start; its message is written
    };
    std::atomic<uint32_t> heartbeat{0}; // bumped by a child at every step
    std::atomic<int> stage{kNothing};
    std::atomic<int> modulesWritten{0};
    std::atomic<int> framesWritten{0};
    std::atomic<uint32_t> coreHeartbeat{0};
    std::atomic<int> coreDone{0};
};
