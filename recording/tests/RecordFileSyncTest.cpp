// The record file syncer on its own: it flushes the writer and syncs the file at its interval
// until stopped, and a file it cannot open does not stop a recording.

#include "recording/RecordFileSync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

TEST(RecordFileSyncTest, FlushesAndSyncsAtItsIntervalUntilStopped) {
    char folder[] = "/tmp/tavrix-sync-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/growing.avi";
    FILE* writer = std::fopen(file.c_str(), "w");
    ASSERT_NE(writer, nullptr);

    std::atomic<int> flushes{0};
    CRecordFileSync sync;
    ASSERT_TRUE(sync.Start(
        file,
        [&] {
            std::fputs("frame", writer);
            std::fflush(writer);
            ++flushes;
        },
        20));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sync.GetSyncCount() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(sync.GetSyncCount(), 3);
    sync.Stop();
    const int atStop = flushes.load();
    EXPECT_GE(atStop, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(flushes.load(), atStop) << "flushed after the stop";
    std::fclose(writer);
    EXPECT_EQ(std::filesystem::file_size(file), 5u * static_cast<unsigned>(atStop));
    sync.Stop(); // a second stop does nothing

    CRecordFileSync missing;
    EXPECT_FALSE(missing.Start(std::string(folder) + "/none.avi", nullptr));
    missing.Stop();
    std::filesystem::remove_all(folder);
}

} // namespace
