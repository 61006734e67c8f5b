#pragma once
// A read position on a camera's pre-event buffer. A record context opens one when its recording
// starts: the iterator first hands out the buffered frames, oldest first, then every frame that
// is appended, until the record context flushes it (deliver what is still counted, then end) or
// aborts it (end at once).
//
// Threads: GetSample runs on the source element's streaming thread; FlushIterator and
// WaitForFlush on the record context's stop thread; AbortIterator on whichever thread forces a
// stop; AddedOneSample, IsCurrentReadPtr and CorrectReadPtr on the grabber's streaming thread,
// called by the buffer with its buffer and list locks held. Created and destroyed only by
// CPreEventBuffer (StartIterator / StopIterator).
//
// Counting: m_SamplesToGet is the number of elements from m_CurrentReadPtr to the newest one that
// are still to be delivered, and the semaphore holds one count for each. The reader takes its
// count from the semaphore before it can take any lock, so between its wait and its lock one
// count is "in flight"; a recycled frame whose count is already in flight is recorded in
// m_VoidedWakeups, and the reader that arrives with such a count waits again instead of
// delivering. So, whenever the iterator lock is held:
//     semaphore count + counts in flight - m_VoidedWakeups == m_SamplesToGet.
//
// At most kMaxPending (5000, the semaphore's maximum) frames are pending for one iterator. A
// reader that falls that far behind loses its oldest pending frame for each new one (traced),
// the same way a forced reuse of the buffer takes it, so the count never passes the maximum.

#include "platform/HResult.h"
#include "platform/MediaSample.h"
#include "platform/Sync.h"
#include "recording/PreEventBufferElement.h"

#include <cstdint>

class CPreEventBuffer;

class CPreEventBufferIterator {
public:
    enum class State : int32_t { running = 0, flushing = 1, flushed = 2 };
    static constexpr int32_t kMaxPending = 5000;

    CPreEventBufferIterator(const CPreEventBufferIterator&) = delete;
    CPreEventBufferIterator& operator=(const CPreEventBufferIterator&) = delete;

    // Blocks until a frame is available, the iterator is aborted, or flushing has ended. With a
    // frame, copies it into *out (when it fits and out is given) and its duration into *duration
    // (when given). On abort or end both are left untouched. With lent given, the frame is not
    // copied but lent: *lent gets its bytes with a reference the caller releases (null when the
    // frame holds none) and *lentLength their length.
    void GetSample(CMediaSample* out, REFERENCE_TIME* duration, CFrameBytes** lent = nullptr,
                   int32_t* lentLength = nullptr);
    // Stops counting new frames; with wait, returns only once the counted ones are delivered or
    // the iterator is aborted.
    void FlushIterator(bool wait);
    void WaitForFlush();
    // Makes every current and later GetSample and WaitForFlush return at once.
    void AbortIterator();

    // Called by the buffer, under its buffer and list locks, after it appended `appended`.
    void AddedOneSample(CPreEventBufferElement* appended);
    // Whether element is the next one this iterator will deliver. A flushed iterator reads
    // nothing more and so never holds an element back from recycling.
    bool IsCurrentReadPtr(const CPreEventBufferElement* element);
    // Called by the buffer before it recycles or destroys element.
    void CorrectReadPtr(CPreEventBufferElement* element);

    // Observers, each read under the iterator lock.
    State GetState();
    int32_t GetSamplesToGet();
    int32_t GetAvailableCount() const { return m_Available.GetCount(); }
    bool IsAborted() const { return m_AbortEvent.Wait(0); }

private:
    friend class CPreEventBuffer;
    CPreEventBufferIterator(CPreEventBuffer* buffer, CPreEventBufferElement* start, int32_t count);
    ~CPreEventBufferIterator();

    // Both called with the iterator lock held.
    void TakeOneCount();
    void MarkFlushedLocked();

    CPreEventBuffer* const m_Buffer;
    // Innermost lock: taken after the buffer's buffer lock and list lock, never held while waiting.
    platform::CCritSec m_Lock;
    State m_State = State::running;
    CPreEventBufferElement* m_CurrentReadPtr;
    int32_t m_SamplesToGet;
    int32_t m_VoidedWakeups = 0;
    platform::CSemaphore m_Available{0, kMaxPending};
    mutable platform::CEvent m_AbortEvent{true, false}; // manual reset: a test does not clear it
    platform::CEvent m_FlushedEvent{true, false};
};
