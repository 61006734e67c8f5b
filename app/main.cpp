// Tavrix command line entry point.

#include "TavrixVersion.h"
#include "foundation/CrashHandler.h"
#include "foundation/Tracer.h"

#include <cstdio>
#include <cstring>

// Installed before main runs, so that a crash anywhere in the program leaves its report.
static CCrashHandlerInstaller s_crashHandler;

int main(int argc, char** argv) {
    // The tracer is the first service started and the last one stopped.
    CTracer::Instance().Start();
    TRACE("Tavrix %s starting", TAVRIX_VERSION_STRING);

    int status = 0;
    if (argc >= 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("Tavrix %s\n", TAVRIX_VERSION_STRING);
    } else {
        std::fprintf(stderr, "Usage: tavrix --version\n");
        status = 2;
    }

    TRACE("Tavrix stopping with status %d", status);
    CTracer::Instance().Stop();
    return status;
}
