// The pre-event buffer under real threads, as a camera and its recordings use it: a writer
// appending frames at a steady rate, readers pulling frames as a source element does, and stop
// threads that flush or abort at awkward moments. Frames carry their number in the first bytes.

#include "recording/PreEventBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr int32_t kFrameBytes = 64 * 48 * 3;

// Appends frames first..first+count-1, one per interval, on its own thread.
class CWriter {
public:
    CWriter(CPreEventBuffer& buffer, int32_t first, int32_t count, std::chrono::microseconds interval)
        : m_thread([this, &buffer, first, count, interval] {
              std::vector<uint8_t> frame(kFrameBytes);
              for (int32_t n = first; n < first + count; ++n) {
                  std::memcpy(frame.data(), &n, sizeof n);
                  CMediaSample sample(frame.data(), kFrameBytes);
                  buffer.SetLastSampleDuration(interval.count() * 10);
                  buffer.AddSample(&sample);
                  m_last = n;
                  std::this_thread::sleep_for(interval);
              }
              m_done = true;
          }) {}
    ~CWriter() { m_thread.join(); }

    std::atomic<int32_t> m_last{-1};
    std::atomic<bool> m_done{false};

private:
    std::thread m_thread;
};

// Reads until GetSample returns without a frame.
std::vector<int32_t> ReadUntilEnd(CPreEventBufferIterator* it, std::chrono::microseconds delay = 0us) {
    std::vector<int32_t> got;
    std::vector<uint8_t> out(kFrameBytes);
    for (;;) {
        CMediaSample sample(out.data(), kFrameBytes);
        REFERENCE_TIME duration = -1;
        it->GetSample(&sample, &duration);
        if (duration == -1) {
            return got;
        }
        got.push_back(0);
        std::memcpy(&got.back(), out.data(), sizeof(int32_t));
        std::this_thread::sleep_for(delay);
    }
}

::testing::AssertionResult Increasing(const std::vector<int32_t>& frames, int step) {
    for (size_t i = 1; i < frames.size(); ++i) {
        if (step ? frames[i] != frames[i - 1] + step : frames[i] <= frames[i - 1]) {
            return ::testing::AssertionFailure() << "frame " << frames[i] << " after " << frames[i - 1];
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(PreEventBufferThreadsTest, ReaderThatKeepsUpGetsEveryFrameOnceInOrderUntilTheFlush) {
    CPreEventBuffer buffer(25);
    std::vector<int32_t> got;
    int32_t beforeStart = 0, afterStart = 0, beforeFlush = 0, afterFlush = 0;
    {
        CWriter writer(buffer, 0, 400, 1000us);
        while (writer.m_last < 30) {
            std::this_thread::sleep_for(200us);
        }
        beforeStart = writer.m_last;
        CPreEventBufferIterator* it = buffer.StartIterator();
        afterStart = writer.m_last;
        std::thread reader([&] { got = ReadUntilEnd(it); });
        while (writer.m_last < 250) {
            std::this_thread::sleep_for(200us);
        }
        beforeFlush = writer.m_last;
        it->FlushIterator(true); // as a record context's stop thread does
        afterFlush = writer.m_last;
        reader.join();
        EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
        buffer.StopIterator(it);
    }
    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(Increasing(got, 1));
    EXPECT_GE(got.front(), beforeStart - 24); // began with the 25 buffered frames
    EXPECT_LE(got.front(), afterStart - 24);
    EXPECT_GE(got.back(), beforeFlush); // everything appended before the flush
    EXPECT_LE(got.back(), afterFlush);  // nothing appended after it
}

// Record contexts that start, read (some slowly, forcing reuse), flush, abort and stop at random
// moments, three at a time, while the camera keeps writing and its pre-event time is changed.
// None may see a frame twice or out of order, none may hang, and the list stays bounded.
TEST(PreEventBufferThreadsTest, RecordingsStartingAndStoppingAtAwkwardMomentsNeverRepeatOrReorderFrames) {
    CPreEventBuffer buffer(8);
    std::atomic<int> recordings{0}, aborted{0};
    {
        CWriter writer(buffer, 0, 1500, 400us);
        auto recorder = [&](unsigned seed) {
            std::mt19937 random(seed);
            while (!writer.m_done) {
                const int mode = static_cast<int>(random() % 6);
                CPreEventBufferIterator* it = buffer.StartIterator();
                std::vector<int32_t> got;
                const auto delay = std::chrono::microseconds(mode == 5 ? 3000 : random() % 300);
                std::thread reader([&] { got = ReadUntilEnd(it, delay); });
                if (mode == 0) { // abort before the reader has done anything
                    it->AbortIterator();
                    ++aborted;
                } else if (mode == 1) { // abort while a stop thread flushes
                    std::thread stopper([&] { it->FlushIterator(true); });
                    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                    it->AbortIterator();
                    ++aborted;
                    stopper.join();
                } else { // record a while (or not at all), then flush and wait
                    std::this_thread::sleep_for(std::chrono::microseconds(mode == 2 ? 0 : random() % 20000));
                    it->FlushIterator(true);
                    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
                }
                reader.join();
                EXPECT_TRUE(Increasing(got, 0)) << "mode " << mode;
                buffer.StopIterator(it);
                ++recordings;
            }
        };
        std::thread a(recorder, 1u), b(recorder, 2u), c(recorder, 3u);
        std::mt19937 random(7);
        while (!writer.m_done) {
            EXPECT_LE(buffer.GetCurrentSize(), 10 * buffer.GetBufferSize() + 1);
            buffer.SetBufferSize(static_cast<int32_t>(4 + random() % 8));
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 5000));
        }
        a.join();
        b.join();
        c.join();
    }
    EXPECT_GT(recordings.load(), 10);
    EXPECT_GT(aborted.load(), 0);
    EXPECT_LE(buffer.GetCurrentSize(), buffer.GetBufferSize()); // trimmed once the last recording stopped
}
