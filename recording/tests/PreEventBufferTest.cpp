// Behaviour of the pre-event buffer on one thread (plus a reader thread where a wait is the point):
// recycling, overruns, forced reuse, the iterator states and the pending-frame maximum. Every
// frame carries its number in its first four bytes, so a reader can tell exactly which frames
// it got.

#include "recording/PreEventBuffer.h"

#include "camera/tests/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

class CPreEventBufferTestAccess {
public:
    static platform::CCritSec& BufferLock(CPreEventBuffer& buffer) { return buffer.m_BufferLock; }
};

namespace {

constexpr int32_t kFrameBytes = 16;

void Add(CPreEventBuffer& buffer, int32_t number, int32_t bytes = kFrameBytes) {
    std::vector<uint8_t> frame(static_cast<size_t>(bytes), static_cast<uint8_t>(number));
    std::memcpy(frame.data(), &number, sizeof number);
    CMediaSample sample(frame.data(), bytes);
    buffer.AddSample(&sample);
}

void AddRange(CPreEventBuffer& buffer, int32_t first, int32_t last) {
    for (int32_t n = first; n <= last; ++n) {
        Add(buffer, n);
    }
}

// One GetSample; -1 when it returned without a frame (arguments untouched).
int32_t Read(CPreEventBufferIterator* it, REFERENCE_TIME* durationOut = nullptr) {
    std::vector<uint8_t> out(kFrameBytes, 0xEE);
    const int32_t untouched = -1;
    std::memcpy(out.data(), &untouched, sizeof untouched);
    CMediaSample sample(out.data(), kFrameBytes);
    REFERENCE_TIME duration = -1;
    it->GetSample(&sample, &duration);
    if (durationOut) {
        *durationOut = duration;
    }
    if (duration == -1) {
        return -1;
    }
    int32_t number;
    std::memcpy(&number, out.data(), sizeof number);
    return number;
}

std::vector<int32_t> ReadPending(CPreEventBufferIterator* it) {
    std::vector<int32_t> got;
    while (it->GetSamplesToGet() > 0) {
        got.push_back(Read(it));
    }
    return got;
}

std::vector<int32_t> Range(int32_t first, int32_t last) {
    std::vector<int32_t> v;
    for (int32_t n = first; n <= last; ++n) {
        v.push_back(n);
    }
    return v;
}

// The count and the semaphore agree whenever no reader is between its wait and its lock.
void ExpectCountsAgree(CPreEventBufferIterator* it) {
    EXPECT_EQ(it->GetSamplesToGet(), it->GetAvailableCount());
}

} // namespace

TEST(SampleBufferTest, GrowsOnlyForLargerFramesAndSkipsFramesThatDoNotFit) {
    CSampleBuffer copy;
    std::vector<uint8_t> big(100, 7), small(40, 9);
    CMediaSample bigSample(big.data(), 100), smallSample(small.data(), 40);
    copy.CopyFrom(bigSample);
    const uint8_t* storage = copy.GetData();
    EXPECT_EQ(copy.GetCapacity(), 100);
    copy.SetDuration(333);
    copy.CopyFrom(smallSample);
    EXPECT_EQ(copy.GetData(), storage); // no new allocation for a smaller frame
    EXPECT_EQ(copy.GetCapacity(), 100);
    EXPECT_EQ(copy.GetLength(), 40);
    EXPECT_EQ(copy.GetDuration(), 333); // the copy leaves the duration alone

    std::vector<uint8_t> out(39, 0);
    CMediaSample tooSmall(out.data(), 39);
    EXPECT_FALSE(copy.CopyTo(tooSmall));
    EXPECT_EQ(out, std::vector<uint8_t>(39, 0));
    std::vector<uint8_t> fits(64, 0);
    CMediaSample fitting(fits.data(), 64);
    fitting.SetActualDataLength(5);
    EXPECT_TRUE(copy.CopyTo(fitting));
    EXPECT_EQ(fits[39], 9);
    EXPECT_EQ(fits[40], 0);
    EXPECT_EQ(fitting.GetActualDataLength(), 5);
}

TEST(PreEventBufferTest, IteratorOnPartlyFilledBufferDeliversBufferedThenNewFramesOnce) {
    CPreEventBuffer buffer(5);
    AddRange(buffer, 0, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(it->GetSamplesToGet(), 3);
    AddRange(buffer, 3, 4);
    ExpectCountsAgree(it);
    EXPECT_EQ(ReadPending(it), Range(0, 4));
    ExpectCountsAgree(it);
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, IteratorOnEmptyBufferDeliversOnlyNewFrames) {
    CPreEventBuffer buffer(4);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    AddRange(buffer, 10, 11);
    EXPECT_EQ(ReadPending(it), Range(10, 11));
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, FullBufferRecyclesOldestAndKeepsTargetLength) {
    CPreEventBuffer buffer(3);
    AddRange(buffer, 0, 9);
    EXPECT_EQ(buffer.GetCurrentSize(), 3);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(7, 9));
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, SizeZeroHoldsOnlyTheNewestFrame) {
    CPreEventBuffer buffer(0);
    AddRange(buffer, 0, 2);
    EXPECT_EQ(buffer.GetCurrentSize(), 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    Add(buffer, 3);
    EXPECT_EQ(Read(it), 3);
    // Two frames before the reader comes: the first is recycled for the second.
    AddRange(buffer, 4, 5);
    ExpectCountsAgree(it);
    EXPECT_EQ(ReadPending(it), Range(5, 5));
    EXPECT_EQ(buffer.GetCurrentSize(), 1);
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 0);
}

TEST(PreEventBufferTest, ReaderOnOldestFrameMakesListGrowThenForcedReuseDropsItsFrames) {
    CPreEventBuffer buffer(2);
    AddRange(buffer, 0, 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    // The reader stays on frame 0: each new frame grows the list, up to 10 x 2 + 1 elements.
    for (int32_t n = 2; n <= 20; ++n) {
        Add(buffer, n);
        EXPECT_EQ(buffer.GetCurrentSize(), n + 1);
    }
    EXPECT_EQ(it->GetSamplesToGet(), 21);
    // From now on the oldest element goes anyway and the reader loses it.
    AddRange(buffer, 21, 31);
    EXPECT_EQ(buffer.GetCurrentSize(), 21);
    ExpectCountsAgree(it);
    EXPECT_EQ(it->GetSamplesToGet(), 21);

    // A second iterator starts exactly m_Size frames back, skipping the surplus.
    CPreEventBufferIterator* late = buffer.StartIterator();
    EXPECT_EQ(ReadPending(late), Range(30, 31));
    EXPECT_EQ(ReadPending(it), Range(11, 31));
    buffer.StopIterator(late);
    EXPECT_EQ(buffer.GetCurrentSize(), 21); // one iterator is still open
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 2); // trimmed, the newest kept
    CPreEventBufferIterator* after = buffer.StartIterator();
    EXPECT_EQ(ReadPending(after), Range(30, 31));
    buffer.StopIterator(after);
}

TEST(PreEventBufferTest, CaughtUpReaderGetsEveryFrameAppendedSinceInOrder) {
    CPreEventBuffer buffer(8);
    AddRange(buffer, 0, 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(0, 1));
    // Several frames arrive before the caught-up reader asks again: none may be skipped or
    // delivered twice.
    AddRange(buffer, 2, 4);
    EXPECT_EQ(ReadPending(it), Range(2, 4));
    ExpectCountsAgree(it);
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, FlushDeliversCountedFramesIgnoresNewOnesThenEnds) {
    CPreEventBuffer buffer(10);
    AddRange(buffer, 0, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    it->FlushIterator(false);
    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushing);
    AddRange(buffer, 3, 4);
    EXPECT_EQ(it->GetSamplesToGet(), 3);
    EXPECT_EQ(Read(it), 0);
    EXPECT_EQ(Read(it), 1);
    EXPECT_EQ(Read(it), 2);
    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
    EXPECT_EQ(Read(it), -1); // returns at once, arguments untouched
    it->FlushIterator(true); // nothing left: returns at once
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, FlushWithNothingLeftEndsAtOnceAndLaterReadsReturnUntouched) {
    CPreEventBuffer buffer(3);
    CPreEventBufferIterator* waitFor = buffer.StartIterator();
    waitFor->FlushIterator(true);
    EXPECT_EQ(waitFor->GetState(), CPreEventBufferIterator::State::flushed);
    EXPECT_EQ(Read(waitFor), -1);

    // Flushing without waiting must end it too, or a reader blocked in GetSample would hang.
    CPreEventBufferIterator* noWait = buffer.StartIterator();
    std::thread reader([&] { EXPECT_EQ(Read(noWait), -1); });
    noWait->FlushIterator(false);
    reader.join();
    EXPECT_EQ(noWait->GetState(), CPreEventBufferIterator::State::flushed);
    buffer.StopIterator(waitFor);
    buffer.StopIterator(noWait);
}

TEST(PreEventBufferTest, AbortReleasesBlockedReaderAndFlushWaiter) {
    CPreEventBuffer empty(5);
    CPreEventBufferIterator* idle = empty.StartIterator();
    std::thread reader([&] { EXPECT_EQ(Read(idle), -1); });

    CPreEventBuffer buffer(5);
    AddRange(buffer, 0, 1);
    CPreEventBufferIterator* pending = buffer.StartIterator();
    EXPECT_EQ(pending->GetSamplesToGet(), 2);
    std::thread stopper([&] { pending->FlushIterator(true); });

    idle->AbortIterator();
    pending->AbortIterator();
    reader.join();
    stopper.join();
    EXPECT_EQ(pending->GetSamplesToGet(), 2); // returned although frames were still counted
    EXPECT_EQ(Read(pending), -1);
    empty.StopIterator(idle);
    buffer.StopIterator(pending);
}

TEST(PreEventBufferTest, DurationsTravelWithTheirFramesAndOversizedFramesAreCountedNotCopied) {
    CPreEventBuffer buffer(4);
    buffer.SetLastSampleDuration(99); // empty buffer: ignored
    Add(buffer, 0);
    buffer.SetLastSampleDuration(400000);
    Add(buffer, 1, kFrameBytes * 2); // larger than the reader's sample
    buffer.SetLastSampleDuration(410000);
    Add(buffer, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    REFERENCE_TIME duration = 0;
    EXPECT_EQ(Read(it, &duration), 0);
    EXPECT_EQ(duration, 400000);
    std::vector<uint8_t> out(kFrameBytes, 0xAB);
    CMediaSample sample(out.data(), kFrameBytes);
    it->GetSample(&sample, &duration);
    EXPECT_EQ(duration, 410000);
    EXPECT_EQ(out, std::vector<uint8_t>(kFrameBytes, 0xAB));
    EXPECT_EQ(Read(it, &duration), 2);
    EXPECT_EQ(duration, 0); // a new frame has no duration until the next one arrives
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, BadInputIsIgnored) {
    CPreEventBuffer buffer(-3);
    EXPECT_EQ(buffer.GetBufferSize(), 0);
    buffer.SetBufferSize(2);
    buffer.AddSample(nullptr);
    CMediaSample empty;
    buffer.AddSample(&empty);
    CMediaSample noBytes(nullptr, 100);
    buffer.AddSample(&noBytes);
    EXPECT_EQ(buffer.GetCurrentSize(), 0);

    Add(buffer, 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    it->GetSample(nullptr, nullptr); // counted as delivered, nothing written
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    buffer.StopIterator(nullptr);
    buffer.StopIterator(it);
    buffer.StopIterator(it); // already stopped: ignored
    EXPECT_EQ(buffer.GetCurrentSize(), 1);
}

TEST(PreEventBufferTest, ShrinkingMovesOnlyIteratorsOnDestroyedFramesAndNeverRepeatsFrames) {
    CPreEventBuffer buffer(10);
    AddRange(buffer, 0, 9);
    CPreEventBufferIterator* behind = buffer.StartIterator(); // on frame 0
    CPreEventBufferIterator* ahead = buffer.StartIterator();
    for (int i = 0; i < 8; ++i) {
        Read(ahead); // now on frame 8
    }
    buffer.SetBufferSize(4);
    EXPECT_EQ(buffer.GetCurrentSize(), 4);
    ExpectCountsAgree(behind);
    ExpectCountsAgree(ahead);
    EXPECT_EQ(ReadPending(behind), Range(6, 9));
    EXPECT_EQ(ReadPending(ahead), Range(8, 9));

    buffer.SetBufferSize(6); // growing moves nobody
    AddRange(buffer, 10, 11);
    EXPECT_EQ(ReadPending(behind), Range(10, 11));
    EXPECT_EQ(ReadPending(ahead), Range(10, 11));
    buffer.StopIterator(behind);
    buffer.StopIterator(ahead);
    EXPECT_EQ(buffer.GetCurrentSize(), 6);
}

TEST(PreEventBufferTest, ShrinkingAFlushingIteratorsFramesAwayEndsItsFlush) {
    CPreEventBuffer buffer(5);
    AddRange(buffer, 0, 4);
    CPreEventBufferIterator* it = buffer.StartIterator();
    it->FlushIterator(false);
    AddRange(buffer, 5, 7);  // not counted: flushing
    buffer.SetBufferSize(2); // destroys frames 3..5, three of the five still counted
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
    EXPECT_EQ(Read(it), -1);
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, IteratorStartsWithAtMostTheSemaphoreMaximumPending) {
    const int32_t size = CPreEventBufferIterator::kMaxPending + 1000;
    CPreEventBuffer buffer(size);
    AddRange(buffer, 0, size - 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(it->GetSamplesToGet(), CPreEventBufferIterator::kMaxPending);
    ExpectCountsAgree(it);
    EXPECT_EQ(Read(it), 1000); // the newest 5000 frames
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, ReaderPastTheMaximumLosesItsOldestPendingFrames) {
    const int32_t max = CPreEventBufferIterator::kMaxPending;
    CPreEventBuffer buffer(2 * max);
    CPreEventBufferIterator* it = buffer.StartIterator();
    AddRange(buffer, 0, max + 2);
    EXPECT_EQ(it->GetSamplesToGet(), max);
    ExpectCountsAgree(it);
    const std::vector<int32_t> got = ReadPending(it);
    EXPECT_EQ(got, Range(3, max + 2));
    ExpectCountsAgree(it);
    Add(buffer, max + 3);
    EXPECT_EQ(Read(it), max + 3);

    // A flushing reader at the maximum ends after exactly the counted frames.
    AddRange(buffer, max + 4, 2 * max + 4);
    EXPECT_EQ(it->GetSamplesToGet(), max);
    it->FlushIterator(false);
    EXPECT_EQ(ReadPending(it).back(), 2 * max + 4);
    EXPECT_EQ(it->GetState(), CPreEventBufferIterator::State::flushed);
    buffer.StopIterator(it);
}

// The reader has taken the count of the only pending frame but not yet the locks when that frame
// is recycled and a new one appended: it must deliver the new frame once, and the counts must
// agree afterwards (otherwise the next read would hand out the same frame again).
TEST(PreEventBufferTest, FrameRecycledBetweenReadersWaitAndLockIsNotDeliveredTwice) {
    CPreEventBuffer buffer(0);
    Add(buffer, 0);
    CPreEventBufferIterator* it = buffer.StartIterator();
    Add(buffer, 1);
    int32_t got = 0;
    std::unique_lock hold(CPreEventBufferTestAccess::BufferLock(buffer));
    std::thread reader([&] { got = Read(it); });
    while (it->GetAvailableCount() > 0) {
        std::this_thread::yield(); // until the reader has taken the count
    }
    Add(buffer, 2); // frame 1 is recycled for frame 2 (re-entrant lock on this thread)
    EXPECT_EQ(it->GetSamplesToGet(), 1);
    hold.unlock();
    reader.join();
    EXPECT_EQ(got, 2);
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    EXPECT_EQ(it->GetAvailableCount(), 0);
    Add(buffer, 3);
    EXPECT_EQ(Read(it), 3);
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, TracesItsDecisions) {
    CTraceCapture capture;
    {
        CPreEventBuffer buffer(1);
        Add(buffer, 0);
        CPreEventBufferIterator* it = buffer.StartIterator();
        AddRange(buffer, 1, 12); // overrun, then forced reuse
        ReadPending(it);
        it->FlushIterator(true);
        buffer.StopIterator(it);
        Add(buffer, 13); // plain reuse
    }
    const std::string text = capture.Finish();
    for (const char* line :
         {"SetBufferSize() to 1\n", "Add sample m_CurrentSize 0\n", "create new, buffer not full\n",
          "try to reuse element\n", "reuse not possible --> overrun\n", "do reuse forced\n", "do reuse\n",
          "Skipped 0 frames, starting now with", "StartElement ", "SamplesToGet 1\n",
          "new m_SamplesToGet 2\n", "CPreEventBufferIterator::GetSample() after sema wait (",
          "CPreEventBufferIterator::GetSample() : exit\n",
          "CPreEventBufferIterator::CorrectReadPtr() enter (", "move m_CurrentReadPtr from ",
          "CPreEventBufferIterator::FlushIterator() enter (",
          "Stopped last iterator. Shrink PreBuffer list.\n", "CPreEventBufferIterator() d'tor "}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}
