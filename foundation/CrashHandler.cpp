#include "foundation/CrashHandler.h"

#include "TavrixVersion.h"
#include "foundation/CoreDumpWriter.h"
#include "foundation/CrashFiles.h"
#include "foundation/CrashModules.h"
#include "foundation/CrashState.h"
#include "foundation/CrashSymbolizer.h"
#include "foundation/CrashText.h"
#include "foundation/SystemDirectories.h"
#include "foundation/Tracer.h"
#include "platform/Paths.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unwind.h>
#if defined(__x86_64__)
#include <asm/prctl.h>
#endif

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kAltStackSize = 256 * 1024;
constexpr size_t kSymbolizerStackSize = 8 << 20;
constexpr size_t kCoreStackSize = 512 * 1024;
// A child that shows no progress for this long is ended; so is one that runs past its limit.
constexpr int64_t kStallLimitNs = 10'000'000'000;
constexpr int64_t kSymbolizerLimitNs = 60'000'000'000;
constexpr int64_t kCoreLimitNs = 300'000'000'000;
// How long a second crashing thread waits for the first one's report before it dies too.
constexpr int64_t kSecondCrashWaitNs = 400'000'000'000;
constexpr unsigned kTraceFlushLimitSeconds = 5;

enum State : int { kNotInstalled = 0, kArmed = 1, kRunning = 2, kDone = 3 };

std::atomic<int> g_state{kNotInstalled};
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
std::atomic<int> g_crashSignal{0};

// Everything the handler needs is prepared at installation, in fixed storage.
CCrashFiles g_files;
char g_programPath[PATH_MAX];
char g_versionLine[260];
char g_symbolPath[8192];
char g_debugInfoPath[8192];
char g_abortName[128];
CCrashLocalTime g_localTime;

CrashSnapshot g_snapshot;
CCrashModules g_modules;
CrashProgress* g_progress = nullptr;
uintptr_t g_scratchStart = 0, g_scratchEnd = 0;

const struct {
    uint32_t code;
    const char* name;
} kExceptionNames[] = {
    {0x80000001, "GUARD_PAGE"},
    {0x80000002, "DATATYPE_MISALIGNMENT"},
    {0x80000003, "BREAKPOINT"},
    {0x80000004, "SINGLE_STEP"},
    {0xC0000005, "ACCESS_VIOLATION"},
    {0xC0000006, "IN_PAGE_ERROR"},
    {0xC0000008, "INVALID_HANDLE"},
    {0xC000001D, "ILLEGAL_INSTRUCTION"},
    {0xC0000025, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, "INVALID_DISPOSITION"},
    {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, "FLT_DENORMAL_OPERAND"},
    {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, "FLT_INEXACT_RESULT"},
    {0xC0000090, "FLT_INVALID_OPERATION"},
    {0xC0000091, "FLT_OVERFLOW"},
    {0xC0000092, "FLT_STACK_CHECK"},
    {0xC0000093, "FLT_UNDERFLOW"},
    {0xC0000094, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095, "INT_OVERFLOW"},
    {0xC0000096, "PRIV_INSTRUCTION"},
    {0xC00000FD, "STACK_OVERFLOW"},
};

int64_t MonotonicNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void SleepMs(int ms) {
    timespec delay{0, static_cast<long>(ms) * 1'000'000};
    nanosleep(&delay, nullptr);
}

// Reads TracerPid from /proc/self/status with plain system calls.
bool DebuggerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char text[4096];
    size_t used = 0;
    for (;;) {
        const ssize_t n = read(fd, text + used, sizeof text - 1 - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        used += static_cast<size_t>(n);
        if (used == sizeof text - 1) {
            break;
        }
    }
    close(fd);
    text[used] = '\0';
    static const char kKey[] = "\nTracerPid:";
    for (size_t i = 0; i + sizeof kKey - 1 <= used; ++i) {
        if (std::memcmp(text + i, kKey, sizeof kKey - 1) == 0) {
            const char* p = text + i + sizeof kKey - 1;
            while (*p == ' ' || *p == '\t') {
                ++p;
            }
            return *p >= '1' && *p <= '9';
        }
    }
    return false;
}

// ---- capturing the crash -------------------------------------------------------------------

struct WalkState {
    CrashSnapshot* snapshot;
    bool found; // the signal frame was passed and the crashed frame reached
    int skipped;
};

_Unwind_Reason_Code CollectFrame(_Unwind_Context* context, void* argument) {
    auto* walk = static_cast<WalkState*>(argument);
    CrashSnapshot& s = *walk->snapshot;
    int beforeInstruction = 0;
    const uintptr_t pc = _Unwind_GetIPInfo(context, &beforeInstruction);
    if (!walk->found) {
        // The handler's own frames come first; the crashed frame is the one the kernel's signal
        // frame returns to, whose program counter is exact.
        if (pc == s.faultAddress && beforeInstruction) {
            walk->found = true;
        } else {
            return ++walk->skipped > 64 ? _URC_END_OF_STACK : _URC_NO_REASON;
        }
    }
    if (s.frameCount >= CrashSnapshot::kMaxFrames) {
        return _URC_END_OF_STACK;
    }
    const uintptr_t frame = _Unwind_GetCFA(context);
    if (pc == 0 || frame == 0) {
        return _URC_END_OF_STACK;
    }
    s.frames[s.frameCount++] = {pc, frame};
    return _URC_NO_REASON;
}

uintptr_t StackPointer(const mcontext_t& m) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(m.gregs[REG_RSP]);
#else
    return m.sp;
#endif
}

uintptr_t InstructionPointer(const mcontext_t& m) {
#if defined(__x86_64__)
    return static_cast<uintptr_t>(m.gregs[REG_RIP]);
#else
    return m.pc;
#endif
}

void Capture(int signal, const siginfo_t* info, const ucontext_t* context) {
    CrashSnapshot& s = g_snapshot;
    s.signal = signal;
    s.info = *info;
    s.machine = context->uc_mcontext;
    s.faultAddress = InstructionPointer(s.machine);
    s.exceptionCode = CCrashHandler::ExceptionCodeForSignal(
        signal, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr), StackPointer(s.machine));
    const char* name = CCrashHandler::ExceptionName(s.exceptionCode);
    s.exceptionName = name ? name : g_abortName;
#if defined(__x86_64__)
    if (context->uc_mcontext.fpregs) {
        std::memcpy(s.fpState, context->uc_mcontext.fpregs, sizeof s.fpState);
        s.fpValid = true;
    }
    unsigned long base = 0;
    if (syscall(SYS_arch_prctl, ARCH_GET_FS, &base) == 0) {
        s.fsBase = base;
    }
    if (syscall(SYS_arch_prctl, ARCH_GET_GS, &base) == 0) {
        s.gsBase = base;
    }
#endif
    s.pid = getpid();
    s.tid = static_cast<pid_t>(syscall(SYS_gettid));
    s.ppid = getppid();
    s.pgrp = getpgrp();
    s.sid = getsid(0);

    s.frameCount = 0;
    WalkState walk{&s, false, 0};
    _Unwind_Backtrace(&CollectFrame, &walk);
    if (s.frameCount == 0) {
        // No unwind information led back to the crash: report at least the crashed frame.
        s.frames[0] = {s.faultAddress, StackPointer(s.machine)};
        s.frameCount = 1;
    }
    g_modules.Fill(g_programPath);
}

// ---- the other threads' registers ----------------------------------------------------------

// Every other thread is interrupted with this signal; its handler stores the thread's registers
// and parks the thread until the crash handler has taken the core file's copy of the process.
// Parked threads also cannot end the process while the report is written.
std::atomic<int> g_releaseThreads{0};
constexpr int64_t kThreadCaptureWaitNs = 300'000'000;
constexpr int64_t kThreadParkLimitNs = 600'000'000'000;

int ThreadSignal() {
    return SIGRTMAX - 3;
}

void OnThreadCapture(int, siginfo_t*, void* contextPointer) {
    const int savedErrno = errno;
    const auto tid = static_cast<pid_t>(syscall(SYS_gettid));
    CrashSnapshot& s = g_snapshot;
    for (int i = 0; i < s.threadCount; ++i) {
        CrashThreadState& t = s.threads[i];
        if (t.tid != tid || t.captured.load()) {
            continue;
        }
        const auto* context = static_cast<const ucontext_t*>(contextPointer);
        t.machine = context->uc_mcontext;
#if defined(__x86_64__)
        if (context->uc_mcontext.fpregs) {
            std::memcpy(t.fpState, context->uc_mcontext.fpregs, sizeof t.fpState);
            t.fpValid = true;
        }
        unsigned long base = 0;
        if (syscall(SYS_arch_prctl, ARCH_GET_FS, &base) == 0) {
            t.fsBase = base;
        }
#endif
        t.captured.store(1);
        const int64_t until = MonotonicNs() + kThreadParkLimitNs;
        while (!g_releaseThreads.load() && MonotonicNs() < until) {
            SleepMs(2);
        }
        break;
    }
    errno = savedErrno;
}

struct LinuxDirent64 {
    uint64_t inode;
    int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

void CaptureOtherThreads() {
    CrashSnapshot& s = g_snapshot;
    s.threadCount = 0;
    g_releaseThreads.store(0);
    struct sigaction action {};
    action.sa_sigaction = &OnThreadCapture;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(ThreadSignal(), &action, nullptr);

    const int dir = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return;
    }
    alignas(8) char entries[4096];
    for (;;) {
        const long n = syscall(SYS_getdents64, dir, entries, sizeof entries);
        if (n <= 0) {
            break;
        }
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(entries + at);
            at += entry->length;
            pid_t tid = 0;
            for (const char* c = entry->name; *c >= '0' && *c <= '9'; ++c) {
                tid = tid * 10 + (*c - '0');
            }
            if (tid <= 0 || tid == s.tid || s.threadCount >= CrashSnapshot::kMaxThreads) {
                continue;
            }
            CrashThreadState& t = s.threads[s.threadCount++];
            t.tid = tid;
            t.captured.store(0);
            t.fpValid = false;
        }
    }
    close(dir);
    for (int i = 0; i < s.threadCount; ++i) {
        syscall(SYS_tgkill, s.pid, s.threads[i].tid, ThreadSignal());
    }
    // Threads that block the signal or have ended by now are left out of the core file.
    const int64_t until = MonotonicNs() + kThreadCaptureWaitNs;
    for (int i = 0; i < s.threadCount; ++i) {
        while (!s.threads[i].captured.load() && MonotonicNs() < until) {
            SleepMs(1);
        }
    }
}

// ---- the report's first part -----------------------------------------------------------------

void WriteRegisters(CCrashText& t, const ucontext_t* context) {
    t.Clear().Str("\nRegisters:\n");
#if defined(__x86_64__)
    const greg_t* g = context->uc_mcontext.gregs;
    static const struct {
        const char* name;
        int index;
    } kGeneral[] = {{"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI},
                    {"RDI", REG_RDI}, {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10}, {"R11", REG_R11},
                    {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14}, {"R15", REG_R15}};
    for (const auto& reg : kGeneral) {
        t.Str(reg.name).Char(':').Hex(static_cast<uint64_t>(g[reg.index]), 16).Char('\n');
    }
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    uint16_t ds = 0, es = 0, ss = 0;
    // DS and ES are not part of the saved context on x86-64; they are the same in the handler.
    asm volatile("mov %%ds, %0" : "=r"(ds));
    asm volatile("mov %%es, %0" : "=r"(es));
    asm volatile("mov %%ss, %0" : "=r"(ss));
    if ((context->uc_flags & 0x2 /* UC_SIGCONTEXT_SS */) && (segments >> 48) != 0) {
        ss = static_cast<uint16_t>(segments >> 48);
    }
    t.Str("CS:RIP:")
        .Hex(segments & 0xFFFF, 4)
        .Char(':')
        .Hex(static_cast<uint64_t>(g[REG_RIP]), 16)
        .Char('\n');
    t.Str("SS:RSP:").Hex(ss, 4).Char(':').Hex(static_cast<uint64_t>(g[REG_RSP]), 16);
    t.Str("  RBP:").Hex(static_cast<uint64_t>(g[REG_RBP]), 16).Char('\n');
    t.Str("DS:").Hex(ds, 4).Str("  ES:").Hex(es, 4).Str("  FS:").Hex((segments >> 32) & 0xFFFF, 4);
    t.Str("  GS:").Hex((segments >> 16) & 0xFFFF, 4).Char('\n');
    t.Str("Flags:").Hex(static_cast<uint64_t>(g[REG_EFL]), 8).Char('\n');
#elif defined(__aarch64__)
    const mcontext_t& m = context->uc_mcontext;
    for (int i = 0; i < 31; ++i) {
        t.Char('X').Dec(i).Char(':').Hex(m.regs[i], 16).Char('\n');
    }
    t.Str("PC:").Hex(m.pc, 16).Char('\n');
    t.Str("SP:").Hex(m.sp, 16).Str("  FP:").Hex(m.regs[29], 16).Char('\n');
    t.Str("Flags:").Hex(m.pstate, 8).Char('\n');
#endif
}

void WriteReportHead(int fd, const ucontext_t* context) {
    const CrashSnapshot& s = g_snapshot;
    CCrashText t;
    for (int i = 0; i < 152; ++i) {
        t.Char('/');
    }
    t.Char('\n');
    t.WriteTo(fd);

    t.Clear().Str("Exception code: ").Hex(s.exceptionCode, 8).Char(' ').Str(s.exceptionName).Char('\n');
    t.WriteTo(fd);

    const CrashLocation where = g_modules.Locate(s.faultAddress);
    t.Clear()
        .Str("Fault address:  ")
        .Hex(s.faultAddress, 16)
        .Char(' ')
        .Hex(static_cast<uint64_t>(where.section), 2);
    t.Char(':').Hex(where.offset, 8).Char(' ').Str(where.path).Char('\n');
    t.WriteTo(fd);

    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const CrashCalendarTime local = g_localTime.LocalTime(now.tv_sec);
    t.Clear().Str("\nTime:\n").Dec(local.month, 2, '0').Char('/').Dec(local.day, 2, '0').Char('/');
    t.Dec(local.year, 4, '0').Char(' ').Dec(local.hour, 2, '0').Char(':').Dec(local.minute, 2, '0').Char(':');
    t.Dec(local.second, 2, '0').Char('\n');
    t.WriteTo(fd);

    WriteRegisters(t, context);
    t.WriteTo(fd);

    t.Clear().Char('\n').Str(g_versionLine).Char('\n');
    t.WriteTo(fd);
    t.Clear().Str("Program path:\n").Str(g_programPath).Char('\n');
    t.WriteTo(fd);
    // The symbol path may be longer than one text buffer.
    CrashWriteAll(fd, "\nSymbol path :\n", 15);
    CrashWriteAll(fd, g_symbolPath, CrashStrLen(g_symbolPath));
    CrashWriteAll(fd, "\n", 1);
}

// ---- the child processes ----------------------------------------------------------------------

void PrepareChild() {
    // A fault in a child ends the child only; it never reports.
    for (int signal : kSignals) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        sigaction(signal, &action, nullptr);
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

[[noreturn]] void ExitChild(int status) {
    syscall(SYS_exit_group, status);
    __builtin_unreachable();
}

int CoreChild(void*) {
    PrepareChild();
    const int fd = g_files.OpenMinidump();
    if (fd < 0) {
        ExitChild(1);
    }
    CCoreDumpWriter writer(g_snapshot, g_scratchStart, g_scratchEnd, &g_progress->coreHeartbeat);
    const bool ok = writer.Write(fd);
    fsync(fd);
    close(fd);
    g_progress->coreDone.store(ok ? 1 : 2);
    ExitChild(ok ? 0 : 1);
}

int g_reportFd = -1;

int SymbolChild(void*) {
    PrepareChild();
    CrashWriteSymbolSection(g_reportFd, g_snapshot, g_modules, g_debugInfoPath, *g_progress);
    ExitChild(0);
}

struct Child {
    pid_t pid = -1;
    const std::atomic<uint32_t>* heartbeat = nullptr;
    int64_t limitNs = 0;
    uint32_t lastBeat = 0;
    int64_t lastChangeNs = 0;
    bool running = false;
};

pid_t StartChild(int (*function)(void*), char* stackTop) {
    // No exit signal: the program's own SIGCHLD handling never sees this child.
    return clone(function, stackTop, 0, nullptr);
}

// Waits for the children, ending any that stalls or overruns its limit.
void WaitForChildren(Child* children, int count) {
    const int64_t start = MonotonicNs();
    for (int i = 0; i < count; ++i) {
        children[i].running = children[i].pid > 0;
        children[i].lastChangeNs = start;
    }
    for (;;) {
        bool any = false;
        const int64_t now = MonotonicNs();
        for (int i = 0; i < count; ++i) {
            Child& c = children[i];
            if (!c.running) {
                continue;
            }
            int status = 0;
            const pid_t done = waitpid(c.pid, &status, WNOHANG | __WALL);
            if (done == c.pid || (done < 0 && errno != EINTR)) {
                c.running = false;
                continue;
            }
            const uint32_t beat = c.heartbeat->load(std::memory_order_relaxed);
            if (beat != c.lastBeat) {
                c.lastBeat = beat;
                c.lastChangeNs = now;
            }
            if (now - c.lastChangeNs > kStallLimitNs || now - start > c.limitNs) {
                kill(c.pid, SIGKILL);
                waitpid(c.pid, &status, __WALL);
                c.running = false;
                continue;
            }
            any = true;
        }
        if (!any) {
            return;
        }
        SleepMs(5);
    }
}

void WriteFiles(const ucontext_t* context) {
    // The report and the core file of this crash, when they cannot go to their own places, get
    // fallback names alike.
    g_files.NewToken();
    const int reportFd = g_files.OpenReport();
    if (reportFd >= 0) {
        WriteReportHead(reportFd, context);
    }

    // Scratch memory for the children's stacks, and a shared page for their progress.
    const size_t scratchSize = kSymbolizerStackSize + kCoreStackSize;
    void* scratch =
        mmap(nullptr, scratchSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    void* shared =
        mmap(nullptr, sizeof(CrashProgress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    Child children[2];
    if (scratch != MAP_FAILED && shared != MAP_FAILED) {
        g_scratchStart = reinterpret_cast<uintptr_t>(scratch);
        g_scratchEnd = g_scratchStart + scratchSize;
        g_progress = new (shared) CrashProgress;
        g_reportFd = reportFd;
        char* symbolStackTop = static_cast<char*>(scratch) + kSymbolizerStackSize;
        char* coreStackTop = static_cast<char*>(scratch) + scratchSize;
        children[0].pid = StartChild(&CoreChild, coreStackTop);
        children[0].heartbeat = &g_progress->coreHeartbeat;
        children[0].limitNs = kCoreLimitNs;
        if (reportFd >= 0) {
            children[1].pid = StartChild(&SymbolChild, symbolStackTop);
            children[1].heartbeat = &g_progress->heartbeat;
            children[1].limitNs = kSymbolizerLimitNs;
        }
        WaitForChildren(children, 2);
    }
    if (reportFd >= 0) {
        static CrashProgress nothing;
        CrashFinishSymbolSection(reportFd, g_snapshot, g_modules, g_progress ? *g_progress : nothing);
        fsync(reportFd);
        close(reportFd);
    }
}

// ---- trace, then the default action -------------------------------------------------------

void DieNow(int) {
    // The trace flush did not finish in time: end the process with the crash's own signal.
    const int signal = g_crashSignal.load();
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    kill(getpid(), signal);
}

void TraceAndFlush() {
    if (!CTracer::Enabled()) {
        return;
    }
    struct sigaction watchdog {};
    watchdog.sa_handler = &DieNow;
    sigaction(SIGALRM, &watchdog, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    alarm(kTraceFlushLimitSeconds);
    TRACE("---------------------------------------------------------");
    TRACE("------------------ UNHANDLED EXCEPTION ------------------");
    TRACE("---------------------------------------------------------");
    CTracer::Instance().FlushAll();
    alarm(0);
}

void DefaultAction(int signal, const siginfo_t* info) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    // A fault raised by the processor repeats when the handler returns and then meets the
    // default action. A signal that was sent (abort, kill) is sent again; it stays pending until
    // the handler returns.
    if (info->si_code <= 0 || signal == SIGABRT) {
        syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), signal);
    }
}

void OnCrash(int signal, siginfo_t* info, void* contextPointer) {
    const int savedErrno = errno;
    int expected = kArmed;
    if (!g_state.compare_exchange_strong(expected, kRunning)) {
        // Not armed, or a report is already being written: a second crash writes nothing. When
        // another thread is still writing, let it finish before this thread ends the process.
        const int64_t until = MonotonicNs() + kSecondCrashWaitNs;
        while (g_state.load() == kRunning && MonotonicNs() < until) {
            SleepMs(10);
        }
        DefaultAction(signal, info);
        errno = savedErrno;
        return;
    }
    g_crashSignal.store(signal);
    if (!DebuggerAttached()) {
        const auto* context = static_cast<const ucontext_t*>(contextPointer);
        Capture(signal, info, context);
        CaptureOtherThreads();
        WriteFiles(context);
        // The threads may hold locks the trace needs.
        g_releaseThreads.store(1);
        TraceAndFlush();
    }
    g_state.store(kDone);
    DefaultAction(signal, info);
    errno = savedErrno;
}

// ---- installation --------------------------------------------------------------------------

struct AltStack {
    void* memory = nullptr;
    ~AltStack() {
        if (!memory) {
            return;
        }
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(memory, kAltStackSize);
    }
};
thread_local AltStack t_altStack;

void AppendPathElements(std::string& target, const char* value, char separator) {
    // Elements of a search-path variable, which may use ";" or ":" between them.
    std::string element;
    for (const char* p = value;; ++p) {
        if (*p == ';' || *p == ':' || *p == '\0') {
            if (!element.empty()) {
                target += separator;
                target += element;
            }
            element.clear();
            if (*p == '\0') {
                return;
            }
        } else {
            element += *p;
        }
    }
}

_Unwind_Reason_Code CountFrame(_Unwind_Context*, void* count) {
    ++*static_cast<int*>(count);
    return _URC_NO_REASON;
}

} // namespace

uint32_t CCrashHandler::ExceptionCodeForSignal(int signal, int code, uintptr_t faultData,
                                               uintptr_t stackPointer) {
    switch (signal) {
    case SIGSEGV: {
        // A fault within reach of the stack pointer is the stack running into its guard area.
        constexpr uintptr_t kReach = 64 * 1024;
        const bool nearStack =
            faultData != 0 && faultData + kReach >= stackPointer && faultData <= stackPointer + kReach;
        return nearStack ? kExceptionStackOverflow : kExceptionAccessViolation;
    }
    case SIGBUS:
        return code == BUS_ADRALN ? kExceptionDatatypeMisalignment : kExceptionInPageError;
    case SIGILL:
        return code == ILL_PRVOPC || code == ILL_PRVREG ? kExceptionPrivInstruction
                                                        : kExceptionIllegalInstruction;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV:
            return kExceptionIntDivideByZero;
        case FPE_INTOVF:
            return kExceptionIntOverflow;
        case FPE_FLTDIV:
            return kExceptionFltDivideByZero;
        case FPE_FLTOVF:
            return 0xC0000091;
        case FPE_FLTUND:
            return 0xC0000093;
        case FPE_FLTRES:
            return 0xC000008F;
        case FPE_FLTINV:
            return 0xC0000090;
        case FPE_FLTSUB:
            return 0xC000008C;
        default:
            return 0xC0000090;
        }
    default:
        return kExceptionFatalAppExit;
    }
}

const char* CCrashHandler::ExceptionName(uint32_t code) {
    for (const auto& entry : kExceptionNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return nullptr;
}

std::string CCrashHandler::VersionLine(int major, int minor, int patch) {
    char line[260];
    if (patch != 0) {
        std::snprintf(line, sizeof line, "Tavrix Version %d.%d BETA %d\n", major, minor, patch);
    } else {
        std::snprintf(line, sizeof line, "Tavrix Version %d.%d\n", major, minor);
    }
    return line;
}

std::string CCrashHandler::SymbolPath(const std::string& programPath) {
    std::string path =
        platform::DirName(programPath) + ";" + SystemLibraryDirectory() + ";" + SystemRootDirectory();
    for (const char* variable : {"TAVRIX_SYMBOL_PATH", "TAVRIX_ALTERNATE_SYMBOL_PATH"}) {
        if (const char* value = std::getenv(variable)) {
            path += ";";
            path += value;
        }
    }
    return path;
}

std::string CCrashHandler::ReportPath() {
    return g_files.ReportPath();
}

std::string CCrashHandler::MinidumpPath() {
    return g_files.MinidumpPath();
}

bool CCrashHandler::IsInstalled() {
    return g_state.load() != kNotInstalled;
}

void CCrashHandler::Install() {
    if (!IsInstalled()) {
        Install(platform::DiagnosticBasePath());
    }
}

void CCrashHandler::Install(const std::string& basePath) {
    if (IsInstalled()) {
        return;
    }
    g_files.Prepare(basePath, platform::XdgStateHome() + "/Tavrix", platform::TempDir());
    const std::string program = platform::ExecutablePath();
    CrashStrCopy(g_programPath, sizeof g_programPath, program.c_str());
    CrashStrCopy(g_versionLine, sizeof g_versionLine,
                 VersionLine(TAVRIX_VERSION_MAJOR, TAVRIX_VERSION_MINOR, TAVRIX_VERSION_PATCH).c_str());
    CrashStrCopy(g_symbolPath, sizeof g_symbolPath, SymbolPath(program).c_str());
    std::string debugInfo = "-:.debug:/usr/lib/debug";
    for (const char* variable : {"TAVRIX_SYMBOL_PATH", "TAVRIX_ALTERNATE_SYMBOL_PATH"}) {
        if (const char* value = std::getenv(variable)) {
            AppendPathElements(debugInfo, value, ':');
        }
    }
    CrashStrCopy(g_debugInfoPath, sizeof g_debugInfoPath, debugInfo.c_str());
    // Codes outside the table are named by the system's description of the signal.
    const char* description = sigdescr_np(SIGABRT);
    CrashStrCopy(g_abortName, sizeof g_abortName, description ? description : "Aborted");
    g_localTime.Prepare(std::time(nullptr));

    // Run once what the handler will run, so that lazy binding and the unwinder's first-use
    // set-up happen now and not in the handler.
    int frames = 0;
    _Unwind_Backtrace(&CountFrame, &frames);
    g_modules.Fill(g_programPath);
    (void)DebuggerAttached();

    ProtectCurrentThread();
    struct sigaction action {};
    action.sa_sigaction = &OnCrash;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
    }
    g_state.store(kArmed);
}

void CCrashHandler::Remove() {
    if (!IsInstalled()) {
        return;
    }
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    g_state.store(kNotInstalled);
}

void CCrashHandler::ProtectCurrentThread() {
    if (t_altStack.memory) {
        return;
    }
    void* memory =
        mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) {
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackSize;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackSize);
        return;
    }
    t_altStack.memory = memory;
}
