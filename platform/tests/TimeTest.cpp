#include "platform/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace platform;

TEST(TimeTest, FileTimeCountsHundredNanosecondsSince1601) {
    SystemTime epoch{1601, 1, 1, 1, 0, 0, 0, 0};
    int64_t ft = -1;
    ASSERT_TRUE(SystemTimeToFileTime(epoch, ft));
    EXPECT_EQ(ft, 0);

    // 1970-01-01 is 11644473600 seconds after 1601-01-01.
    SystemTime unixEpoch{1970, 1, 4, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(unixEpoch, ft));
    EXPECT_EQ(ft, 116444736000000000LL);
}

TEST(TimeTest, FileTimeRoundTripKeepsMillisecondsAndComputesTheWeekday) {
    SystemTime t{2026, 12, 0, 7, 3, 5, 9, 123};
    int64_t ft = 0;
    ASSERT_TRUE(SystemTimeToFileTime(t, ft));
    SystemTime back;
    ASSERT_TRUE(FileTimeToSystemTime(ft, back));
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.month, 12);
    EXPECT_EQ(back.day, 7);
    EXPECT_EQ(back.hour, 3);
    EXPECT_EQ(back.minute, 5);
    EXPECT_EQ(back.second, 9);
    EXPECT_EQ(back.milliseconds, 123);
    EXPECT_EQ(back.dayOfWeek, 1) << "7 December 2026 is a Monday";

    SystemTime leap{2024, 2, 0, 29, 23, 59, 59, 999};
    ASSERT_TRUE(SystemTimeToFileTime(leap, ft));
    ASSERT_TRUE(FileTimeToSystemTime(ft + 10'000, back));
    EXPECT_EQ(back.month, 3);
    EXPECT_EQ(back.day, 1);
    EXPECT_EQ(back.hour, 0);
}

TEST(TimeTest, InvalidCalendarFieldsAndCountsAreRefused) {
    int64_t ft;
    EXPECT_FALSE(SystemTimeToFileTime({2023, 2, 0, 29, 0, 0, 0, 0}, ft)) << "2023 is no leap year";
    EXPECT_FALSE(SystemTimeToFileTime({2023, 13, 0, 1, 0, 0, 0, 0}, ft));
    EXPECT_FALSE(SystemTimeToFileTime({1600, 12, 0, 31, 0, 0, 0, 0}, ft));
    EXPECT_FALSE(SystemTimeToFileTime({2023, 1, 0, 1, 24, 0, 0, 0}, ft));
    SystemTime t;
    EXPECT_FALSE(FileTimeToSystemTime(-1, t));
}

TEST(TimeTest, LocalTimeFromUnixFollowsTheTimeZone) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    SystemTime t = LocalTimeFromUnix(0);
    EXPECT_EQ(t.year, 1970);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.dayOfWeek, 4);
    EXPECT_EQ(LocalUtcOffsetMinutes(0), 0);
    setenv("TZ", "CET-1", 1);
    tzset();
    EXPECT_EQ(LocalTimeFromUnix(0).hour, 1);
    EXPECT_EQ(LocalUtcOffsetMinutes(0), 60);
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(TimeTest, ThreadIdsAreTheKernelsAndDifferPerThread) {
    const uint32_t mine = CurrentThreadId();
    uint32_t other = 0;
    std::thread([&] { other = CurrentThreadId(); }).join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(mine, other);
}

TEST(TimeTest, CountersMoveForward) {
    const uint64_t a = QueryPerformanceCounter();
    const uint32_t tick = GetTickCount32();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GT(QueryPerformanceCounter(), a);
    EXPECT_GE(static_cast<uint32_t>(GetTickCount32() - tick), 4u);
    EXPECT_EQ(QueryPerformanceFrequency(), 1'000'000'000u);
}
