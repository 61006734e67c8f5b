#pragma once
// The crash handler: when the process dies of a fault that nothing handled (SIGSEGV, SIGBUS,
// SIGILL, SIGFPE, SIGABRT), it leaves an ELF core file "<diagnostic base>.minidump" and appends
// a plain-text report to "<diagnostic base>.report" (exception, fault address, time, registers,
// version, program path, symbol path, loaded modules, symbolised call stack), marks the event in
// the trace and flushes it, and then lets the signal's default action end the process, so that
// the exit status still names the signal. Those files are written only when they are the user's
// own plain files (never through a link); otherwise each crash gets new files of its own in a
// private folder (CCrashFiles). It runs once per process and not at all under a debugger.
//
// Install it before anything else runs: a CCrashHandlerInstaller static object in the program's
// main file, or Install() as the first call of main. Threads that want a stack overflow reported
// call ProtectCurrentThread() once (the installing thread is protected by Install).

#include <cstdint>
#include <string>

class CCrashHandler {
public:
    // Arms the handler with the default diagnostic base path (next to the executable or under
    // $XDG_STATE_HOME/Tavrix/). Does nothing when already installed.
    static void Install();
    // The same with another base path (file names are the base followed by ".report" and
    // ".minidump").
    static void Install(const std::string& basePath);
    // Puts the signal actions found at installation back.
    static void Remove();
    static bool IsInstalled();

    // Gives the calling thread an alternate signal stack, so that the handler can run even when
    // the thread's own stack is exhausted. Released when the thread ends.
    static void ProtectCurrentThread();

    // The exception code a signal maps to. faultData is the signal's fault address, stackPointer
    // the thread's stack pointer at the fault (a fault next to it is a stack overflow).
    static uint32_t ExceptionCodeForSignal(int signal, int signalCode, uintptr_t faultData,
                                           uintptr_t stackPointer);
    // The name of an exception code from the table, or nullptr for codes not in it.
    static const char* ExceptionName(uint32_t code);
    // "Tavrix Version %d.%d BETA %d\n" when patch is not 0, else "Tavrix Version %d.%d\n".
    static std::string VersionLine(int major, int minor, int patch);
    // The executable's folder, the system library folder and the system root, then the values of
    // TAVRIX_SYMBOL_PATH and TAVRIX_ALTERNATE_SYMBOL_PATH where set, joined by ";".
    static std::string SymbolPath(const std::string& programPath);

    // The files the handler writes to when it can (the fallbacks are named per crash).
    static std::string ReportPath();
    static std::string MinidumpPath();
};

class CCrashHandlerInstaller {
public:
    CCrashHandlerInstaller() { CCrashHandler::Install(); }
    ~CCrashHandlerInstaller() { CCrashHandler::Remove(); }
    CCrashHandlerInstaller(const CCrashHandlerInstaller&) = delete;
    CCrashHandlerInstaller& operator=(const CCrashHandlerInstaller&) = delete;
};

// Exception codes the signals map to (the names are those of the table in ExceptionName).
constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
constexpr uint32_t kExceptionStackOverflow = 0xC00000FD;
constexpr uint32_t kExceptionInPageError = 0xC0000006;
constexpr uint32_t kExceptionDatatypeMisalignment = 0x80000002;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
constexpr uint32_t kExceptionPrivInstruction = 0xC0000096;
constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094;
constexpr uint32_t kExceptionIntOverflow = 0xC0000095;
constexpr uint32_t kExceptionFltDivideByZero = 0xC000008E;
// An abort (failed assertion, uncaught C++ exception, heap corruption found by the C library):
// the fatal-application-exit status, named by the system's own description of the signal.
constexpr uint32_t kExceptionFatalAppExit = 0x40000015;
