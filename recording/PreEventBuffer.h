#pragma once
// The most recent frames of one camera, so that a recording started by an event can begin with
// the frames from before it. One per camera view, which appends every frame (AddSample) and
// tells the buffer how long the previous frame lasted (SetLastSampleDuration) on the grabber's
// streaming thread. Record contexts open iterators (StartIterator) on their start threads and
// close them (StopIterator) on their stop threads once their recording pipeline has stopped.
//
// The buffer is a singly linked list of elements from the oldest (head) to the newest (tail).
// Its target length is m_Size frames; once full, the oldest element is recycled for the next
// frame, unless an iterator still has to read it: then the list grows (an overrun), up to ten
// times the target length, after which the oldest element is recycled anyway and the iterators
// standing on it lose that frame (a forced reuse). Recycled elements keep their frame memory, so
// in steady state AddSample allocates nothing, and it never waits for a reader: readers hold the
// buffer lock only while they copy one frame out, never while they wait.

#include "platform/HResult.h"
#include "platform/MediaSample.h"
#include "platform/Sync.h"
#include "recording/PreEventBufferElement.h"
#include "recording/PreEventBufferIterator.h"

#include <cstdint>
#include <vector>

class CPreEventBuffer {
public:
    // Size in frames; the camera view starts with 1.
    explicit CPreEventBuffer(int32_t size);
    ~CPreEventBuffer();
    CPreEventBuffer(const CPreEventBuffer&) = delete;
    CPreEventBuffer& operator=(const CPreEventBuffer&) = delete;

    // Sets the target length in frames (a negative size counts as 0). Shrinking destroys the
    // oldest surplus elements; an iterator standing on one of them moves on to the oldest element
    // that remains, losing the destroyed frames, while every other iterator keeps its position.
    void SetBufferSize(int32_t size);
    int32_t GetBufferSize();
    // Number of elements in the list; above the target length after an overrun.
    int32_t GetCurrentSize();

    // Appends a copy of the sample's buffer as the newest frame. A null sample or one without
    // bytes is ignored.
    void AddSample(const CMediaSample* sample);
    // Stores the duration of the newest frame; ignored while the buffer is empty.
    void SetLastSampleDuration(REFERENCE_TIME duration);

    // Opens an iterator positioned at most m_Size frames (and at most the iterator's pending
    // maximum) back from the newest. The buffer owns it until StopIterator.
    CPreEventBufferIterator* StartIterator();
    // Closes the iterator; no GetSample may be waiting on it. When it was the last one, trims the
    // list back to the target length, keeping the newest frames. Unknown pointers are ignored.
    void StopIterator(CPreEventBufferIterator* it);

private:
    friend class CPreEventBufferIterator;
    friend class CPreEventBufferTestAccess; // tests hold the buffer lock to stage races

    // Called with the buffer lock held.
    CPreEventBufferElement* UnlinkHead();
    void DestroyOldest(int32_t count);
    int64_t OverrunLimit() const { return 10 * static_cast<int64_t>(m_Size); }

    // Lock order, outer to inner: m_BufferLock, then m_ListLock, then an iterator's lock.
    platform::CCritSec m_BufferLock;                   // the element list, the sizes and the durations
    platform::CCritSec m_ListLock;                     // m_Iterators
    std::vector<CPreEventBufferIterator*> m_Iterators; // owned, in order of creation
    CPreEventBufferElement* m_Head = nullptr;          // oldest
    CPreEventBufferElement* m_Tail = nullptr;          // newest
    int32_t m_Size = 0;
    int32_t m_CurrentSize = 0;
};
