// The pre-event buffer driven step by step: recycling, overruns, forced reuse, flush and abort,
// resizing and the pending-frame maximum. Every frame carries its number in its first four bytes.

#include "recording/PreEventBuffer.h"

#include "camera/tests/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CPreEventBufferTestAccess {
public:
    static platform::CCritSec& BufferLock(CPreEventBuffer& buffer) { return buffer.m_BufferLock; }
};

namespace {

using State = CPreEventBufferIterator::State;
constexpr int32_t kFrameBytes = 16;

void Add(CPreEventBuffer& buffer, int32_t first, int32_t last = -1, int32_t bytes = kFrameBytes) {
    std::vector<uint8_t> frame(static_cast<size_t>(bytes));
    for (int32_t n = first; n <= std::max(first, last); ++n) {
        std::memcpy(frame.data(), &n, sizeof n);
        CMediaSample sample(frame.data(), bytes);
        buffer.AddSample(&sample);
    }
}

// One GetSample: the frame's number, or -1 when it returned with its arguments untouched.
int32_t Read(CPreEventBufferIterator* it, REFERENCE_TIME* durationOut = nullptr) {
    int32_t number = -1;
    std::vector<uint8_t> out(kFrameBytes);
    std::memcpy(out.data(), &number, sizeof number);
    CMediaSample sample(out.data(), kFrameBytes);
    REFERENCE_TIME duration = -1;
    it->GetSample(&sample, &duration);
    std::memcpy(&number, out.data(), sizeof number);
    if (durationOut) {
        *durationOut = duration;
    }
    return duration == -1 ? -1 : number;
}

// Reads every counted frame; the count and the semaphore must agree before and after.
std::vector<int32_t> ReadPending(CPreEventBufferIterator* it) {
    EXPECT_EQ(it->GetSamplesToGet(), it->GetAvailableCount());
    std::vector<int32_t> got;
    while (it->GetSamplesToGet() > 0) {
        got.push_back(Read(it));
    }
    EXPECT_EQ(it->GetAvailableCount(), 0);
    return got;
}

std::vector<int32_t> Range(int32_t first, int32_t last) {
    std::vector<int32_t> v;
    for (int32_t n = first; n <= last; ++n) {
        v.push_back(n);
    }
    return v;
}

} // namespace

TEST(PreEventBufferTest, IteratorDeliversBufferedFramesOldestFirstThenNewOnes) {
    CPreEventBuffer empty(4);
    CPreEventBufferIterator* fresh = empty.StartIterator(); // on an empty buffer: only new frames
    Add(empty, 10, 11);
    EXPECT_EQ(ReadPending(fresh), Range(10, 11));
    // Caught up, then several frames before the next read: none skipped, none twice.
    Add(empty, 12, 14);
    EXPECT_EQ(ReadPending(fresh), Range(12, 14));
    empty.StopIterator(fresh);

    CPreEventBuffer buffer(5);
    Add(buffer, 0, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    Add(buffer, 3, 4);
    EXPECT_EQ(ReadPending(it), Range(0, 4));
    buffer.StopIterator(it);
    Add(buffer, 5, 9); // full: the oldest are recycled
    EXPECT_EQ(buffer.GetCurrentSize(), 5);
    it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(5, 9));
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, SizeZeroHoldsOnlyTheNewestFrame) {
    CPreEventBuffer buffer(0);
    Add(buffer, 0, 2);
    EXPECT_EQ(buffer.GetCurrentSize(), 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    Add(buffer, 3);
    EXPECT_EQ(Read(it), 3);
    Add(buffer, 4, 5); // frame 4 is recycled for frame 5 before the reader comes
    EXPECT_EQ(ReadPending(it), Range(5, 5));
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 0);
}

TEST(PreEventBufferTest, ReaderOnOldestFrameGrowsTheListThenForcedReuseTakesItsFrames) {
    CPreEventBuffer buffer(2);
    Add(buffer, 0, 1);
    CPreEventBufferIterator* it = buffer.StartIterator();
    for (int32_t n = 2; n <= 20; ++n) { // overruns up to 10 x 2 + 1 elements
        Add(buffer, n);
        EXPECT_EQ(buffer.GetCurrentSize(), n + 1);
    }
    Add(buffer, 21, 31); // forced reuse: the reader loses frames 0..10
    EXPECT_EQ(buffer.GetCurrentSize(), 21);

    CPreEventBufferIterator* late = buffer.StartIterator(); // skips the surplus
    EXPECT_EQ(ReadPending(late), Range(30, 31));
    EXPECT_EQ(ReadPending(it), Range(11, 31));
    buffer.StopIterator(late);
    EXPECT_EQ(buffer.GetCurrentSize(), 21); // one iterator still open
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 2); // trimmed, keeping the newest
    it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(30, 31));
    buffer.StopIterator(it);
}

TEST(PreEventBufferTest, FlushDeliversTheCountedFramesThenEndsAndAbortEndsAtOnce) {
    CPreEventBuffer buffer(10);
    Add(buffer, 0, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    it->FlushIterator(false);
    Add(buffer, 3, 4); // not counted while flushing
    EXPECT_EQ(ReadPending(it), Range(0, 2));
    EXPECT_EQ(it->GetState(), State::flushed);
    EXPECT_EQ(Read(it), -1);
    it->FlushIterator(true); // nothing left: returns at once
    buffer.StopIterator(it);

    // Flushing with nothing counted ends at once, also without a wait, releasing a blocked reader.
    CPreEventBufferIterator* idle = buffer.StartIterator();
    ReadPending(idle);
    std::thread reader([&] { EXPECT_EQ(Read(idle), -1); });
    idle->FlushIterator(false);
    reader.join();
    buffer.StopIterator(idle);

    // Abort releases a flush that still has frames to wait for, and every later read.
    CPreEventBufferIterator* pending = buffer.StartIterator();
    std::thread stopper([&] { pending->FlushIterator(true); });
    pending->AbortIterator();
    stopper.join();
    EXPECT_GT(pending->GetSamplesToGet(), 0);
    EXPECT_EQ(Read(pending), -1);
    buffer.StopIterator(pending);
}

TEST(PreEventBufferTest, DurationsTravelWithFramesOversizedFramesAndBadInputAreHarmless) {
    CPreEventBuffer buffer(-3);
    EXPECT_EQ(buffer.GetBufferSize(), 0);
    buffer.SetBufferSize(4);
    buffer.SetLastSampleDuration(99); // empty: ignored
    buffer.AddSample(nullptr);
    CMediaSample noBytes(nullptr, 100);
    buffer.AddSample(&noBytes);
    EXPECT_EQ(buffer.GetCurrentSize(), 0);

    Add(buffer, 0);
    buffer.SetLastSampleDuration(400000);
    Add(buffer, 1, 1, kFrameBytes * 2); // larger than the reader's sample
    buffer.SetLastSampleDuration(410000);
    Add(buffer, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    REFERENCE_TIME duration = 0;
    EXPECT_EQ(Read(it, &duration), 0);
    EXPECT_EQ(duration, 400000);
    EXPECT_EQ(Read(it, &duration), -1); // counted as delivered, nothing copied
    EXPECT_EQ(duration, 410000);
    EXPECT_EQ(Read(it, &duration), 2);
    EXPECT_EQ(duration, 0);
    Add(buffer, 3);
    it->GetSample(nullptr, nullptr);
    EXPECT_EQ(it->GetSamplesToGet(), 0);
    buffer.StopIterator(nullptr);
    buffer.StopIterator(it);
    buffer.StopIterator(it); // already stopped: ignored
}

TEST(PreEventBufferTest, ShrinkingMovesOnlyIteratorsOnDestroyedFramesAndNeverRepeatsFrames) {
    CPreEventBuffer buffer(10);
    Add(buffer, 0, 9);
    CPreEventBufferIterator* behind = buffer.StartIterator(); // on frame 0
    CPreEventBufferIterator* ahead = buffer.StartIterator();
    for (int i = 0; i < 8; ++i) {
        Read(ahead); // now on frame 8
    }
    CPreEventBufferIterator* flushing = buffer.StartIterator();
    flushing->FlushIterator(false);
    buffer.SetBufferSize(1); // destroys frames 0..8
    EXPECT_EQ(buffer.GetCurrentSize(), 1);
    EXPECT_EQ(ahead->GetSamplesToGet(), 1);
    EXPECT_EQ(flushing->GetState(), State::flushing); // frame 9 is still counted
    EXPECT_EQ(ReadPending(behind), Range(9, 9));
    buffer.SetBufferSize(0); // frame 9 goes too: the flush has nothing left and ends
    EXPECT_EQ(flushing->GetState(), State::flushed);
    EXPECT_EQ(Read(flushing), -1);
    buffer.SetBufferSize(6); // growing moves nobody
    Add(buffer, 10, 11);
    EXPECT_EQ(ReadPending(ahead), Range(10, 11));
    EXPECT_EQ(ReadPending(behind), Range(10, 11));
    buffer.StopIterator(behind);
    buffer.StopIterator(ahead);
    buffer.StopIterator(flushing);
}

TEST(PreEventBufferTest, NoIteratorHasMoreThanTheSemaphoreMaximumPending) {
    // Every read below is preceded by a check that the semaphore holds a count for it: a read
    // without one would wait for ever, so a wrong count ends the test at once instead.
    const int32_t max = CPreEventBufferIterator::kMaxPending;
    CPreEventBuffer buffer(2 * max);
    CPreEventBufferIterator* running = buffer.StartIterator();
    Add(buffer, 0, max + 999);
    // Started on a fuller buffer: begins with the newest frames that fit.
    CPreEventBufferIterator* late = buffer.StartIterator();
    ASSERT_EQ(late->GetSamplesToGet(), max);
    ASSERT_EQ(late->GetAvailableCount(), max);
    EXPECT_EQ(Read(late), 1000);
    // Running past the maximum: each new frame drops the oldest pending one.
    ASSERT_EQ(running->GetSamplesToGet(), max);
    ASSERT_EQ(running->GetAvailableCount(), max);
    EXPECT_EQ(ReadPending(running), Range(1000, max + 999));
    Add(buffer, max + 1000);
    ASSERT_EQ(running->GetAvailableCount(), 1);
    EXPECT_EQ(Read(running), max + 1000);
    buffer.StopIterator(late);
    buffer.StopIterator(running);
}

// The reader has taken the count of the only pending frame but not yet the locks when that frame
// is recycled and a new one appended: it must deliver the new frame once, and the counts must
// agree afterwards, or the next read would hand out the same frame again.
TEST(PreEventBufferTest, FrameRecycledBetweenReadersWaitAndLockIsNotDeliveredTwice) {
    CPreEventBuffer buffer(0);
    CPreEventBufferIterator* it = buffer.StartIterator();
    Add(buffer, 1);
    int32_t got = 0;
    std::unique_lock hold(CPreEventBufferTestAccess::BufferLock(buffer));
    std::thread reader([&] { got = Read(it); });
    while (it->GetAvailableCount() > 0) {
        std::this_thread::yield(); // until the reader has taken the count
    }
    Add(buffer, 2); // re-entrant buffer lock on this thread
    hold.unlock();
    reader.join();
    EXPECT_EQ(got, 2);
    EXPECT_EQ(ReadPending(it), std::vector<int32_t>{});
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
        Add(buffer, 1, 12); // overrun, then forced reuse
        ReadPending(it);
        it->FlushIterator(true);
        buffer.StopIterator(it);
        Add(buffer, 13); // plain reuse
    }
    const std::string text = capture.Finish();
    for (const char* line :
         {"SetBufferSize() to 1\n", "Add sample m_CurrentSize 0\n", "create new, buffer not full\n",
          "try to reuse element\n", "reuse not possible --> overrun\n", "do reuse forced\n", "do reuse\n",
          "Skipped 0 frames, starting now with", "SamplesToGet 1\n", "new m_SamplesToGet 2\n",
          "CPreEventBufferIterator::GetSample() : exit\n", "move m_CurrentReadPtr from ",
          "Stopped last iterator. Shrink PreBuffer list.\n", "CPreEventBufferIterator() d'tor "}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

namespace {

// The lines the buffer tells the camera's log.
struct CNotices {
    std::mutex lock;
    std::vector<std::string> lines;
    CPreEventBuffer::NoticeFunction Function() {
        return [this](const std::string& text) {
            std::lock_guard<std::mutex> guard(lock);
            lines.push_back(text);
        };
    }
};

} // namespace

// A pre-event time of an hour (54000 frames at 15 frames a second) must not take the machine's
// memory: the window is cut to what the camera's cap holds, and the cut is told once.
TEST(PreEventBufferTest, AWindowBeyondTheMemoryCapIsCutToItAndToldOnce) {
    CPreEventBuffer buffer(1);
    CNotices notices;
    buffer.SetNoticeFunction(notices.Function());
    buffer.SetMemoryCap(10 * kFrameBytes);
    buffer.SetBufferSize(54000);
    Add(buffer, 0);
    buffer.SetLastSampleDuration(666666); // 15 frames a second
    Add(buffer, 1, 99);
    EXPECT_EQ(buffer.GetBufferSize(), 54000) << "the camera's request stays as it was";
    EXPECT_EQ(buffer.GetWindow(), 10);
    EXPECT_EQ(buffer.GetCurrentSize(), 10);
    ASSERT_EQ(notices.lines.size(), 1u);
    EXPECT_EQ(notices.lines[0],
              "Pre-event buffer cut to 10 of 54000 frames (0.7 s): the pre-event time would "
              "take 864 KB, more than this camera's share of memory (160 bytes).");

    // An iterator gets the window's frames, the newest ones.
    CPreEventBufferIterator* it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(90, 99));
    buffer.StopIterator(it);

    // A new request is told again, once; a request that fits is not cut and not told.
    buffer.SetBufferSize(20000);
    Add(buffer, 100, 120);
    EXPECT_EQ(notices.lines.size(), 2u);
    buffer.SetBufferSize(5);
    Add(buffer, 121, 140);
    EXPECT_EQ(buffer.GetWindow(), 5);
    EXPECT_EQ(buffer.GetCurrentSize(), 5);
    EXPECT_EQ(notices.lines.size(), 2u);

    // A larger cap widens the window again.
    buffer.SetBufferSize(54000);
    buffer.SetMemoryCap(30 * kFrameBytes);
    Add(buffer, 141, 200);
    EXPECT_EQ(buffer.GetCurrentSize(), 30);
    EXPECT_EQ(notices.lines.size(), 3u);
}

// A reader that stops reading makes the list grow, but never beyond twice the cap.
TEST(PreEventBufferTest, AnOverrunStaysWithinTwiceTheMemoryCap) {
    CPreEventBuffer buffer(8);
    buffer.SetMemoryCap(12 * kFrameBytes);
    Add(buffer, 0, 7);
    CPreEventBufferIterator* it = buffer.StartIterator();
    Add(buffer, 8, 500);
    EXPECT_LE(buffer.GetCurrentSize(), 2 * 12 + 1) << "ten times the window would be 80 frames";
    EXPECT_GE(buffer.GetCurrentSize(), 2 * 12);
    buffer.StopIterator(it);
    EXPECT_EQ(buffer.GetCurrentSize(), 8);
}

// Without a cap of its own a camera gets a quarter of physical memory, shared with the others.
TEST(PreEventBufferTest, TheDefaultCapIsAQuarterOfPhysicalMemoryAmongTheCameras) {
    EXPECT_EQ(CPreEventBuffer::MemoryCapPerCamera(16LL << 30, 4), 1LL << 30);
    EXPECT_EQ(CPreEventBuffer::MemoryCapPerCamera(16LL << 30, 0), 4LL << 30);
    EXPECT_GT(CPreEventBuffer::PhysicalMemoryBytes(), 64LL << 20);

    CPreEventBuffer first(1);
    const int32_t buffers = CPreEventBuffer::BufferCount();
    EXPECT_GE(buffers, 1);
    EXPECT_EQ(first.GetMemoryCap(), CPreEventBuffer::PhysicalMemoryBytes() / 4 / buffers);
    {
        CPreEventBuffer second(1);
        EXPECT_EQ(first.GetMemoryCap(), CPreEventBuffer::PhysicalMemoryBytes() / 4 / (buffers + 1));
    }
    first.SetMemoryCap(1000);
    EXPECT_EQ(first.GetMemoryCap(), 1000);

    EXPECT_EQ(CPreEventBuffer::FormatBytes(27648000), "27.6 MB");
    EXPECT_EQ(CPreEventBuffer::FormatBytes(49766400000), "49.8 GB");
    EXPECT_EQ(CPreEventBuffer::FormatBytes(999), "999 bytes");
}

// A recording may borrow a frame's bytes instead of copying them: they keep the frame while the
// buffer recycles its element for newer frames (which then get other bytes), and once every
// borrower has let go they are used again rather than allocated anew.
TEST(PreEventBufferLendTest, LentFramesStayUnchangedWhileTheBufferMovesOn) {
    CPreEventBuffer buffer(2);
    Add(buffer, 1, 2);
    CPreEventBufferIterator* it = buffer.StartIterator();
    CFrameBytes* lent[2] = {};
    int32_t length = 0;
    REFERENCE_TIME duration = -1;
    it->GetSample(nullptr, &duration, &lent[0], &length);
    ASSERT_NE(lent[0], nullptr);
    EXPECT_EQ(length, kFrameBytes);
    it->GetSample(nullptr, &duration, &lent[1], &length);
    ASSERT_NE(lent[1], nullptr);
    buffer.StopIterator(it);
    const int64_t held = buffer.GetHeldBytes();

    Add(buffer, 3, 6); // recycles both elements twice while frames 1 and 2 are borrowed
    int32_t number = 0;
    std::memcpy(&number, lent[0]->Data(), sizeof number);
    EXPECT_EQ(number, 1);
    std::memcpy(&number, lent[1]->Data(), sizeof number);
    EXPECT_EQ(number, 2);
    EXPECT_GT(buffer.GetHeldBytes(), held) << "the borrowed bytes are held beside the new ones";
    it = buffer.StartIterator();
    EXPECT_EQ(ReadPending(it), Range(5, 6)) << "the buffer itself holds the newest frames";
    buffer.StopIterator(it);

    lent[0]->Release();
    lent[1]->Release();
    Add(buffer, 7, 10);
    it = buffer.StartIterator();
    CFrameBytes* again = nullptr;
    it->GetSample(nullptr, &duration, &again, &length);
    ASSERT_NE(again, nullptr);
    std::memcpy(&number, again->Data(), sizeof number);
    EXPECT_EQ(number, 9);
    again->Release();
    buffer.StopIterator(it);
}
