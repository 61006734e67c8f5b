// The pre-event buffer under real threads, as a camera and its recordings use it: one writer
// appending frames at a steady rate (the grabber's streaming thread), readers pulling frames as
// a source element does, and stop threads that flush or abort at awkward moments. Frames carry
// their number in the first four bytes.

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

class CWriter {
public:
    CWriter(CPreEventBuffer& buffer, int32_t first, int32_t count, std::chrono::microseconds interval)
        : m_thread([this, &buffer, first, count, interval] {
              std::vector<uint8_t> frame(kFrameBytes, 0x5A);
              for (int32_t n = first; n < first + count; ++n) {
                  std::memcpy(frame.data(), &n, sizeof n);
                  CMediaSample sample(frame.data(), kFrameBytes);
                  if (n > first) {
                      buffer.SetLastSampleDuration(interval.count() * 10);
                  }
                  buffer.AddSample(&sample);
                  m_last.store(n);
                  std::this_thread::sleep_for(interval);
              }
              m_done.store(true);
          }) {}
    ~CWriter() { Join(); }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    int32_t Last() const { return m_last.load(); }
    bool Done() const { return m_done.load(); }
    void WaitFor(int32_t frame) const {
        while (m_last.load() < frame && !m_done.load()) {
            std::this_thread::sleep_for(200us);
        }
    }

private:
    std::atomic<int32_t> m_last{-1};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Reads until GetSample returns without a frame; optionally slow.
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
        int32_t number;
        std::memcpy(&number, out.data(), sizeof number);
        got.push_back(number);
        if (delay.count() > 0) {
            std::this_thread::sleep_for(delay);
        }
    }
}

void Prefill(CPreEventBuffer& buffer, int32_t count) {
    std::vector<uint8_t> frame(kFrameBytes);
    for (int32_t n = 0; n < count; ++n) {
        std::memcpy(frame.data(), &n, sizeof n);
        CMediaSample sample(frame.data(), kFrameBytes);
        buffer.AddSample(&sample);
    }
}

::testing::AssertionResult StrictlyIncreasing(const std::vector<int32_t>& frames) {
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i] <= frames[i - 1]) {
            return ::testing::AssertionFailure()
                   << "frame " << frames[i] << " after " << frames[i - 1] << " at position " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Contiguous(const std::vector<int32_t>& frames, int32_t first) {
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i] != first + static_cast<int32_t>(i)) {
            return ::testing::AssertionFailure()
                   << "expected frame " << first + static_cast<int32_t>(i) << ", got " << frames[i];
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST(PreEventBufferThreadsTest, ReaderThatKeepsUpGetsEveryFrameOnceInOrderUntilTheFlush) {
    CPreEventBuffer buffer(25);
    Prefill(buffer, 30); // holds frames 5..29
    CPreEventBufferIterator* it = buffer.StartIterator();
    std::vector<int32_t> got;
    std::thread reader([&] { got = ReadUntilEnd(it); });
    CWriter writer(buffer, 30, 400, 1000us);

    writer.WaitFor(250);
    const int32_t beforeFlush = writer.Last();
    it->FlushIterator(true); // as a record context's stop thread does
    const int32_t afterFlush = writer.Last();
    reader.join();
    writer.Join();

    ASSERT_FALSE(got.empty());
    EXPECT_TRUE(Contiguous(got, 5));
    EXPECT_GE(got.back(), beforeFlush); // everything appended before the flush was delivered
    EXPECT_LE(got.back(), afterFlush);  // nothing appended after it
    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 25);
}

TEST(PreEventBufferThreadsTest, SlowReaderLosesOnlyOldestFramesAndListStaysBounded) {
    CPreEventBuffer buffer(3);
    Prefill(buffer, 3);
    CPreEventBufferIterator* it = buffer.StartIterator();
    std::vector<int32_t> got;
    std::thread reader([&] { got = ReadUntilEnd(it, 4000us); });
    {
        CWriter writer(buffer, 3, 300, 500us);
        while (!writer.Done()) {
            EXPECT_LE(buffer.GetCurrentSize(), 31);
            std::this_thread::sleep_for(2ms);
        }
    }
    it->FlushIterator(true);
    reader.join();
    EXPECT_TRUE(StrictlyIncreasing(got));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 302);  // the newest frame was still counted when the flush began
    EXPECT_LT(got.size(), 300u); // forced reuse took frames from the slow reader
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 3);
}

// Record contexts that start, read, flush, abort and stop at random moments, three at a time,
// while the camera keeps writing. None may see a frame twice or out of order, none may hang,
// and the buffer must end up back at its target length.
TEST(PreEventBufferThreadsTest, RecordingsStartingAndStoppingAtAwkwardMomentsNeverRepeatOrReorderFrames) {
    CPreEventBuffer buffer(8);
    CWriter writer(buffer, 0, 1500, 400us);
    std::atomic<int> recordings{0};
    std::atomic<int> aborted{0};

    auto recorder = [&](unsigned seed) {
        std::mt19937 random(seed);
        while (!writer.Done()) {
            const int mode = static_cast<int>(random() % 6);
            CPreEventBufferIterator* it = buffer.StartIterator();
            std::vector<int32_t> got;
            const auto readerDelay = std::chrono::microseconds(mode == 5 ? 1500 : random() % 300);
            std::thread reader([&] { got = ReadUntilEnd(it, readerDelay); });
            switch (mode) {
            case 0: // abort before the reader has done anything
                it->AbortIterator();
                ++aborted;
                break;
            case 1: // flush at once
                it->FlushIterator(true);
                break;
            case 2: // abort while flushing
            {
                std::thread stopper([&] { it->FlushIterator(true); });
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
                it->AbortIterator();
                ++aborted;
                stopper.join();
                break;
            }
            default: // record a while, then flush and wait
                std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
                it->FlushIterator(true);
                break;
            }
            // A flush without abort ends the reader by itself; an abort ends it at once.
            reader.join();
            EXPECT_TRUE(StrictlyIncreasing(got)) << "mode " << mode;
            if (!it->IsAborted()) {
                EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
                EXPECT_EQ(it->GetSamplesToGet(), 0);
            }
            buffer.StopIterator(it);
            ++recordings;
        }
    };
    std::thread a(recorder, 1u), b(recorder, 2u), c(recorder, 3u);
    a.join();
    b.join();
    c.join();
    writer.Join();
    EXPECT_GT(recordings.load(), 10);
    EXPECT_GT(aborted.load(), 0);
    EXPECT_EQ(buffer.GetCurrentSize(), 8);
}

TEST(PreEventBufferThreadsTest, ResizingWhileRecordingNeverRepeatsFrames) {
    CPreEventBuffer buffer(20);
    Prefill(buffer, 20);
    CPreEventBufferIterator* it = buffer.StartIterator();
    std::vector<int32_t> got;
    std::thread reader([&] { got = ReadUntilEnd(it, 300us); });
    CWriter writer(buffer, 20, 600, 500us);
    std::mt19937 random(7);
    while (!writer.Done()) {
        buffer.SetBufferSize(static_cast<int32_t>(1 + random() % 40));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
    writer.Join();
    it->FlushIterator(true);
    reader.join();
    EXPECT_TRUE(StrictlyIncreasing(got));
    EXPECT_EQ(got.back(), 619);
    buffer.StopIterator(it);
}
