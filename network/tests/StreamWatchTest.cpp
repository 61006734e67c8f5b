// The stream watch of a network camera: it reports the first frames until the camera takes the
// stream, a stream without frames once after the time-out (counted from the start when no frame
// ever came), and a stream that has run long enough once. Lower bounds of time only.

#include "network/StreamWatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

struct CCounts {
    std::atomic<int> first{0};
    std::atomic<int> timedOut{0};
    std::atomic<int> healthy{0};
    CNetworkStreamWatch::CCallbacks Callbacks() {
        return {[this] { ++first; }, [this] { ++timedOut; }, [this] { ++healthy; }};
    }
};

TEST(StreamWatchTest, AStreamThatNeverSendsTimesOutOnceCountedFromTheStart) {
    auto stream = std::make_shared<CNetworkStreamState>();
    CCounts counts;
    const auto started = Clock::now();
    CNetworkStreamWatch watch(stream, {300, 60000, 10}, counts.Callbacks());
    ASSERT_TRUE(WaitFor([&] { return counts.timedOut.load() == 1; }));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(300));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    watch.Stop();
    EXPECT_EQ(counts.timedOut.load(), 1);
    EXPECT_EQ(counts.first.load(), 0);
    EXPECT_EQ(counts.healthy.load(), 0);
}

TEST(StreamWatchTest, FirstFramesAreReportedUntilTakenAndAStreamThatStopsTimesOut) {
    auto stream = std::make_shared<CNetworkStreamState>();
    CCounts counts;
    CNetworkStreamWatch watch(stream, {1000, 60000, 10}, counts.Callbacks());
    stream->CountFrame(NowNs());
    ASSERT_TRUE(WaitFor([&] { return counts.first.load() >= 2; })) << "asked again until taken";
    watch.Started();
    const int reported = counts.first.load();
    // Frames keep coming for a while: no time-out.
    for (int i = 0; i < 40; ++i) {
        stream->CountFrame(NowNs());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(counts.timedOut.load(), 0);
    EXPECT_LE(counts.first.load(), reported + 1) << "at most one report already under way";
    // Then they stop.
    ASSERT_TRUE(WaitFor([&] { return counts.timedOut.load() == 1; }));
    EXPECT_EQ(stream->GetFrames(), 41);
}

TEST(StreamWatchTest, AStreamThatRunsForTheHealthyTimeIsReportedOnce) {
    auto stream = std::make_shared<CNetworkStreamState>();
    CCounts counts;
    CNetworkStreamWatch watch(stream, {5000, 200, 10}, counts.Callbacks());
    const auto started = Clock::now();
    stream->CountFrame(NowNs());
    watch.Started();
    ASSERT_TRUE(WaitFor([&] {
        stream->CountFrame(NowNs());
        return counts.healthy.load() == 1;
    }));
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(counts.healthy.load(), 1);
    EXPECT_EQ(counts.timedOut.load(), 0);
}

} // namespace
