// What starting GStreamer does to the process beyond GStreamer itself: a broken pipe (the registry
// scanner helper dying while GStreamer feeds it) must not end the program.

#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

// Writes to a pipe whose reading end is closed and ends the process with 0 when the write
// failed with EPIPE instead of raising the signal.
[[noreturn]] void WriteToBrokenPipeAndExit() {
    int fds[2];
    if (pipe(fds) != 0) {
        _exit(2);
    }
    close(fds[0]);
    const ssize_t written = write(fds[1], "x", 1);
    _exit(written == -1 && errno == EPIPE ? 0 : 3);
}

extern "C" void ExitSeven(int) {
    _exit(7);
}

TEST(InitGStreamerSignals, BrokenPipeFailsTheWriteButKeepsAHandlerOfTheProgram) {
    // Each statement runs in a freshly started copy of this test program, where GStreamer has
    // not been started yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            gsttest::StartGStreamer();
            WriteToBrokenPipeAndExit();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            signal(SIGPIPE, &ExitSeven);
            gsttest::StartGStreamer();
            WriteToBrokenPipeAndExit();
        },
        ::testing::ExitedWithCode(7), "");
}

} // namespace
