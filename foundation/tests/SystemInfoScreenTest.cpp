// The screen line read from a real X server (Xvfb) of a known size and depth.

#include "foundation/SystemInfo.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TEST(SystemInfoScreenTest, TheScreenLineShowsTheDisplaysModeAndIsLeftOutWithoutDisplay) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    char program[] = "Xvfb";
    char displayFd[] = "-displayfd";
    char three[] = "3";
    char screenOption[] = "-screen";
    char zero[] = "0";
    char mode[] = "800x600x24";
    char noTcp[] = "-nolisten";
    char tcp[] = "tcp";
    char* argv[] = {program, displayFd, three, screenOption, zero, mode, noTcp, tcp, nullptr};
    pid_t server = 0;
    const int spawned = posix_spawnp(&server, "Xvfb", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    ASSERT_EQ(spawned, 0) << "Xvfb is needed for this test";

    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd wait{pipeFds[0], POLLIN, 0};
    while (poll(&wait, 1, 20000) > 0) {
        char c;
        if (read(pipeFds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    close(pipeFds[0]);
    ASSERT_FALSE(number.empty());

    const char* saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    setenv("DISPLAY", (":" + number).c_str(), 1);
    const auto screen = CSystemInfo::ReadScreen();
    setenv("DISPLAY", ":59999", 1); // no such server
    const auto missing = CSystemInfo::ReadScreen();
    if (saved) {
        setenv("DISPLAY", previous.c_str(), 1);
    } else {
        unsetenv("DISPLAY");
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);

    ASSERT_TRUE(screen.has_value());
    EXPECT_EQ(screen->width, 800);
    EXPECT_EQ(screen->height, 600);
    EXPECT_EQ(screen->bitsPerPixel, 24);
    EXPECT_FALSE(missing.has_value());
}
