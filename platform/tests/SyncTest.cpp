#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

TEST(SyncTest, ManualResetEventReleasesEveryWaiterAndStaysSet) {
    CEvent event(true, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(kInfinite)) {
                ++released;
            }
        });
    }
    event.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released, 4);
    EXPECT_TRUE(event.TryWait());
    EXPECT_TRUE(event.TryWait()) << "a manual-reset event stays signalled until Reset";
    event.Reset();
    EXPECT_FALSE(event.TryWait());
}

TEST(SyncTest, AutoResetEventIsConsumedByExactlyOneWaiter) {
    CEvent event(false, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.Wait(300)) {
                ++released;
            }
        });
    }
    std::this_thread::sleep_for(30ms);
    event.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(event.TryWait()) << "the one release consumed the signal";
}

TEST(SyncTest, InitiallySignalledAutoResetEventSatisfiesOneTest) {
    CEvent event(false, true);
    EXPECT_TRUE(event.TryWait());
    EXPECT_FALSE(event.TryWait());
}

TEST(SyncTest, SemaphoreHonoursItsMaximumAndReportsThePreviousCount) {
    CSemaphore sem(0, 3);
    int32_t previous = -1;
    EXPECT_TRUE(sem.Release(2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(sem.Release(2, &previous)) << "2 + 2 exceeds the maximum of 3";
    EXPECT_EQ(previous, 2);
    EXPECT_EQ(sem.GetCount(), 2) << "a refused release leaves the count alone";
    EXPECT_TRUE(sem.Release(1));
    EXPECT_FALSE(sem.Release(1));
    EXPECT_FALSE(sem.Release(0));
    EXPECT_TRUE(sem.TryWait());
    EXPECT_TRUE(sem.TryWait());
    EXPECT_TRUE(sem.TryWait());
    EXPECT_FALSE(sem.TryWait());
}

TEST(SyncTest, SemaphoreInitialCountIsClampedToItsRange) {
    CSemaphore sem(10, 5);
    EXPECT_EQ(sem.GetCount(), 5);
    CSemaphore negative(3, -1);
    EXPECT_EQ(negative.GetMaximum(), 0);
    EXPECT_EQ(negative.GetCount(), 0);
    EXPECT_FALSE(negative.Release(1, nullptr));
}

TEST(SyncTest, FirstSignalledObjectInArgumentOrderWins) {
    CEvent abort(true, false);
    CEvent flushed(true, false);
    CSemaphore available(0, 10);
    available.Release(2);
    flushed.Set();
    EXPECT_EQ(WaitForObjects({&abort, &flushed, &available}, 0), 1);
    EXPECT_EQ(available.GetCount(), 2) << "objects after the winner are not consumed";
    abort.Set();
    EXPECT_EQ(WaitForObjects({&abort, &flushed, &available}, 0), 0);
    abort.Reset();
    flushed.Reset();
    EXPECT_EQ(WaitForObjects({&abort, &flushed, &available}, 0), 2);
    EXPECT_EQ(available.GetCount(), 1) << "the winning semaphore gives one count";
}

TEST(SyncTest, WaitTimesOutWhenNothingIsSignalled) {
    CEvent a(false, false);
    CSemaphore b(0, 1);
    EXPECT_EQ(WaitForObjects({&a, &b}, 0), kWaitTimeout);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForObjects({&a, &b}, 50), kWaitTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

TEST(SyncTest, WaitWakesWhenALaterObjectIsSignalledFromAnotherThread) {
    CEvent abort(true, false);
    CSemaphore available(0, 100);
    std::thread producer([&] {
        std::this_thread::sleep_for(20ms);
        available.Release();
    });
    EXPECT_EQ(WaitForObjects({&abort, &available}, kInfinite), 1);
    producer.join();
    EXPECT_EQ(available.GetCount(), 0);
}

TEST(SyncTest, EverySemaphoreCountIsTakenExactlyOnceAcrossManyWaiters) {
    // Producers and consumers hammer one semaphore; every released count must be consumed once.
    CSemaphore sem(0, 1000);
    CEvent stop(true, false);
    constexpr int kPerProducer = 2000;
    std::atomic<int> consumed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < 3; ++c) {
        threads.emplace_back([&] {
            while (WaitForObjects({&stop, &sem}, kInfinite) == 1) {
                ++consumed;
            }
        });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < 2; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i) {
                while (!sem.Release()) {
                    std::this_thread::yield(); // full: wait for the consumers
                }
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    while (sem.GetCount() > 0) {
        std::this_thread::sleep_for(1ms);
    }
    stop.Set();
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(consumed, 2 * kPerProducer);
}

TEST(SyncTest, CriticalSectionIsReentrant) {
    CCritSec lock;
    CAutoLock outer(lock);
    {
        CAutoLock inner(lock);
        SUCCEED();
    }
}
