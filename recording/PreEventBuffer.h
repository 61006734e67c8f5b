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
//
// Memory bounds the target length: a camera's frames may take at most its share of the machine's
// memory (a quarter of physical memory divided among the cameras, that is among the pre-event
// buffers that exist), and an overrun at most twice that. A target length whose frames would take
// more is cut to the frames that fit (the window); the cut is traced and told once, through the
// notice function, as one line for the camera's notification log.

#include "platform/HResult.h"
#include "platform/MediaSample.h"
#include "platform/Sync.h"
#include "recording/PreEventBufferElement.h"
#include "recording/PreEventBufferIterator.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CPreEventBuffer {
public:
    // Size in frames; the camera view starts with 1.
    explicit CPreEventBuffer(int32_t size);
    ~CPreEventBuffer();
    CPreEventBuffer(const CPreEventBuffer&) = delete;
    CPreEventBuffer& operator=(const CPreEventBuffer&) = delete;

    using NoticeFunction = std::function<void(const std::string& text)>;

    // Where the line telling of a cut window goes (the camera's notification log). Set before the
    // first frame; called on the thread that appends frames, with no lock of the buffer held.
    void SetNoticeFunction(NoticeFunction notice) { m_notice = std::move(notice); }

    // Sets the target length in frames (a negative size counts as 0). Shrinking destroys the
    // oldest surplus elements; an iterator standing on one of them moves on to the oldest element
    // that remains, losing the destroyed frames, while every other iterator keeps its position.
    void SetBufferSize(int32_t size);
    int32_t GetBufferSize();
    // Number of elements in the list; above the target length after an overrun.
    int32_t GetCurrentSize();
    // The frames the buffer keeps: the target length, cut to what the memory cap holds of the
    // frames seen so far (the target length itself before the first frame).
    int32_t GetWindow();

    // The bytes the buffered frames hold now (their allocations).
    int64_t GetHeldBytes();

    // The memory this camera's frames may take: the cap set, or else its share of the machine's.
    int64_t GetMemoryCap();
    // Sets the cap in bytes; 0 returns to the camera's share.
    void SetMemoryCap(int64_t bytes);

    // The machine's physical memory in bytes.
    static int64_t PhysicalMemoryBytes();
    // A camera's share when `cameras` cameras record: a quarter of physicalBytes among them.
    static int64_t MemoryCapPerCamera(int64_t physicalBytes, int32_t cameras);
    // Pre-event buffers that exist now (one per camera view).
    static int32_t BufferCount() { return s_buffers.load(); }
    // "27.6 MB": a byte count for people, in decimal units.
    static std::string FormatBytes(int64_t bytes);

    // How the buffered frames are held: as they were added (AddSample, the grabber's BGR), or
    // converted to I420 (AddBgrFrameAsI420), the form the recording's encoders take.
    enum class EFrameFormat : int32_t { AsAdded = 0, I420 = 1 };

    // Appends a copy of the sample's buffer as the newest frame. A null sample or one without
    // bytes is ignored.
    void AddSample(const CMediaSample* sample);
    // Appends a BGR frame (top-down, stride bytes a row) converted to I420 (CI420Layout::For(width,
    // height)) as the newest frame: half the memory of the BGR frame, and the conversion takes the
    // place of the copy. A null frame or a size below 1x1 is ignored.
    void AddBgrFrameAsI420(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride);
    // Appends an I420 frame (planes Y, U, V with their strides) as the newest frame, copied into
    // the layout CI420Layout::For(width, height): one copy, no conversion, for sources that decode
    // to YUV. A null plane, a size below 1x1 or a stride shorter than its plane's row is ignored.
    void AddI420Frame(const uint8_t* const planes[3], const int32_t strides[3], int32_t width, int32_t height);
    // The format of the newest frame (AsAdded while the buffer is empty), with its size for I420.
    EFrameFormat GetFrameFormat(int32_t* width = nullptr, int32_t* height = nullptr);
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
    // Appends a frame of frameBytes under the locks, filling its copy with fill(CSampleBuffer&);
    // notice receives a cut's line to tell after the locks are released.
    template <typename Fill>
    void AddFrameLocked(int64_t frameBytes, const Fill& fill, std::string& notice);
    void TellNotice(const std::string& notice);
    void DestroyOldest(int32_t count);
    int64_t OverrunLimit() const;
    int64_t MemoryCapLocked() const;
    // Recomputes m_Window for frames of frameBytes (0: not known yet); when tell, returns the
    // notice text if the window is cut for the first time since the target length was set.
    std::string UpdateWindow(int64_t frameBytes, bool tell);

    // Lock order, outer to inner: m_BufferLock, then m_ListLock, then an iterator's lock.
    platform::CCritSec m_BufferLock;                   // the element list, the sizes and the durations
    platform::CCritSec m_ListLock;                     // m_Iterators
    std::vector<CPreEventBufferIterator*> m_Iterators; // owned, in order of creation
    CPreEventBufferElement* m_Head = nullptr;          // oldest
    CPreEventBufferElement* m_Tail = nullptr;          // newest
    int32_t m_Size = 0;
    int32_t m_CurrentSize = 0;
    int32_t m_Window = 0;                               // m_Size cut to the memory cap
    int64_t m_FrameBytes = 0;                           // size of the newest frame
    EFrameFormat m_FrameFormat = EFrameFormat::AsAdded; // of the newest frame
    int32_t m_FrameWidth = 0;                           // of the newest I420 frame
    int32_t m_FrameHeight = 0;
    int64_t m_FrameDuration = 0; // the newest known frame duration, 100-ns units
    int64_t m_MemoryCap = 0;     // set by SetMemoryCap; 0: the camera's share
    bool m_CutTold = false;      // the cut of the current target length has been told
    NoticeFunction m_notice;

    static std::atomic<int32_t> s_buffers;
};
