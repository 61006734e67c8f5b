#pragma once
// The copy of one frame held by an element of the pre-event buffer. Filled on the grabber's
// streaming thread by CPreEventBuffer::AddSample and read by an iterator's GetSample on a source
// element's streaming thread; the buffer lock of the owning CPreEventBuffer guards every access.
//
// The byte array only ever grows: a recycled element keeps its allocation, so a camera whose
// frames all have one size stops allocating once the buffer is full. A recording may borrow the
// bytes instead of copying them (Lend): while it holds them, a recycled element takes fresh
// bytes rather than overwrite them.

#include "platform/HResult.h"
#include "platform/MediaSample.h"
#include "recording/I420Frame.h"

#include <atomic>
#include <cstdint>
#include <memory>

// Frame bytes shared by reference between an element of the pre-event buffer and the recordings
// that read them without a copy (the source element wraps them in its GStreamer buffers). Any
// thread; the last Release frees them.
class CFrameBytes {
public:
    // size zeroed bytes with one reference; null when the memory cannot be had.
    static CFrameBytes* Create(int32_t size);
    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    void Release() {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    // Whether anyone besides the caller holds the bytes. When not, the others' reads have ended
    // before this returns (acquire), so the caller may overwrite them.
    bool IsShared() const { return m_refs.load(std::memory_order_acquire) > 1; }
    uint8_t* Data() const { return m_data.get(); }

private:
    CFrameBytes() = default;
    ~CFrameBytes() = default;
    std::atomic<int32_t> m_refs{1};
    std::unique_ptr<uint8_t[]> m_data;
};

class CSampleBuffer {
public:
    CSampleBuffer() = default;
    ~CSampleBuffer();
    CSampleBuffer(const CSampleBuffer&) = delete;
    CSampleBuffer& operator=(const CSampleBuffer&) = delete;

    // Copies the sample's whole buffer (GetSize bytes, not the actual data length). Reallocates
    // only when the frame is larger than the capacity. The duration is left as it was. When memory
    // for a larger frame cannot be had, the copy holds no bytes (length 0) rather than failing
    // the capture thread.
    void CopyFrom(const CMediaSample& sample);
    // Converts a BGR frame (bgrStride bytes a row) into I420 of the layout's size, held as
    // layout.size bytes; the same growth and failure rules as CopyFrom.
    void ConvertFrom(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout);
    // Copies an I420 frame (planes and their strides) into the layout, held as layout.size bytes:
    // one block copy when the frame already has that layout, else plane by plane, row by row.
    void CopyI420From(const uint8_t* const planes[3], const int32_t strides[3], const CI420Layout& layout);
    // Copies the held bytes to the start of out's buffer. Nothing is copied, and false returned,
    // when they do not fit; the output's actual data length is never changed.
    bool CopyTo(CMediaSample& out) const;
    // The held bytes with one more reference for the caller, who releases it; null when none
    // are held. GetLength() bytes are the frame.
    CFrameBytes* Lend() const;

    REFERENCE_TIME GetDuration() const { return m_Duration; }
    void SetDuration(REFERENCE_TIME duration) { m_Duration = duration; }
    // The bytes held for frames: the frame's, and a spare of the same size while one is kept.
    int32_t GetCapacity() const { return m_Spare != nullptr ? 2 * m_Capacity : m_Capacity; }
    int32_t GetLength() const { return m_Length; }
    const uint8_t* GetData() const { return m_Bytes != nullptr ? m_Bytes->Data() : nullptr; }

private:
    // Makes room for size bytes; false (length 0) when the memory cannot be had.
    bool Reserve(int32_t size);

    REFERENCE_TIME m_Duration = 0;  // 100-ns units, from this frame's arrival to the next one's
    CFrameBytes* m_Bytes = nullptr; // one reference owned
    CFrameBytes* m_Spare = nullptr; // earlier bytes of m_Capacity still lent out when replaced, or null
    int32_t m_Capacity = 0;
    int32_t m_Length = 0;
};
