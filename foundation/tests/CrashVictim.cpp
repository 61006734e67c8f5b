// A program that crashes on purpose, in the way its first argument names, with the crash handler
// installed on the base path of its second argument. The crash handler tests run it as a child.
//
//   crash_victim <mode> <base path> [trace file prefix]
//   modes: segv fpe fltdiv ill bus abort overflow kill thread sleepers twice traced exit

#include "foundation/CrashHandler.h"
#include "foundation/Tracer.h"

#include <cfenv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <thread>
#include <unistd.h>

namespace {

volatile int g_zero = 0;
volatile double g_zeroDouble = 0.0;

__attribute__((noinline)) void VictimWriteThroughNull(int* target) {
    *target = 42;
    asm volatile("" ::: "memory");
}

__attribute__((noinline)) int VictimDivide(int value) {
    return value / g_zero;
}

__attribute__((noinline)) double VictimDivideFloat(double value) {
    return value / g_zeroDouble;
}

__attribute__((noinline)) int VictimRecurse(int depth) {
    volatile char pad[512];
    pad[0] = static_cast<char>(depth);
    // The end condition never holds: the recursion runs until the stack is exhausted.
    if (depth < 0 && g_zero == 0) {
        return 0;
    }
    return VictimRecurse(depth + 1) + pad[0];
}

__attribute__((noinline)) int VictimReadTruncatedFile(const char* base) {
    // A mapped page whose file was cut off below it: reading it is a bus error.
    const std::string path = std::string(base) + ".busfile";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, 8192) != 0) {
        return 1;
    }
    auto* mapped = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) {
        return 1;
    }
    unlink(path.c_str());
    return mapped[4096];
}

__attribute__((noinline)) void VictimSleeper() {
    for (;;) {
        pause();
    }
}

void Crash(const char* mode, const char* base) {
    if (std::strcmp(mode, "segv") == 0) {
        VictimWriteThroughNull(nullptr);
    } else if (std::strcmp(mode, "fpe") == 0) {
        std::printf("%d\n", VictimDivide(7));
    } else if (std::strcmp(mode, "fltdiv") == 0) {
        feenableexcept(FE_DIVBYZERO);
        std::printf("%f\n", VictimDivideFloat(7.0));
    } else if (std::strcmp(mode, "ill") == 0) {
        asm volatile("ud2");
    } else if (std::strcmp(mode, "bus") == 0) {
        std::printf("%d\n", VictimReadTruncatedFile(base));
    } else if (std::strcmp(mode, "abort") == 0) {
        std::abort();
    } else if (std::strcmp(mode, "overflow") == 0) {
        std::printf("%d\n", VictimRecurse(0));
    } else if (std::strcmp(mode, "kill") == 0) {
        kill(getpid(), SIGSEGV);
        pause();
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: crash_victim <mode> <base path> [trace prefix]\n");
        return 2;
    }
    const char* mode = argv[1];
    CCrashHandler::Install(argv[2]);
    if (argc >= 4) {
        CTracer::Instance().SetFilePrefixForTesting(argv[3]);
        CTracer::Instance().Start();
        TRACE("victim running");
    }
    if (std::strcmp(mode, "traced") == 0) {
        // The parent becomes this process's tracer, as a debugger would.
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            return 3;
        }
        VictimWriteThroughNull(nullptr);
    } else if (std::strcmp(mode, "thread") == 0) {
        std::thread worker([] { VictimWriteThroughNull(nullptr); });
        worker.join();
    } else if (std::strcmp(mode, "sleepers") == 0) {
        // Two more threads wait while the main thread crashes: all three are in the core file.
        std::thread(VictimSleeper).detach();
        std::thread(VictimSleeper).detach();
        usleep(100000);
        VictimWriteThroughNull(nullptr);
    } else if (std::strcmp(mode, "twice") == 0) {
        // Two threads crash at once: one report only.
        std::thread first([] { VictimWriteThroughNull(nullptr); });
        std::thread second([] { VictimWriteThroughNull(nullptr); });
        first.join();
        second.join();
    } else if (std::strcmp(mode, "exit") != 0) {
        Crash(mode, argv[2]);
    }
    CTracer::Instance().Stop();
    return 0;
}
