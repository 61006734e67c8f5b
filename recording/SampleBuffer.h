#pragma once
// The copy of one frame held by an element of the pre-event buffer. Filled on the grabber's
// streaming thread by CPreEventBuffer::AddSample and read by an iterator's GetSample on a source
// element's streaming thread; the buffer lock of the owning CPreEventBuffer guards every access.
//
// The byte array only ever grows: a recycled element keeps its allocation, so a camera whose
// frames all have one size stops allocating once the buffer is full.

#include "platform/HResult.h"
#include "platform/MediaSample.h"

#include <cstdint>
#include <memory>

class CSampleBuffer {
public:
    CSampleBuffer() = default;
    CSampleBuffer(const CSampleBuffer&) = delete;
    CSampleBuffer& operator=(const CSampleBuffer&) = delete;

    // Copies the sample's whole buffer (GetSize bytes, not the actual data length). Reallocates
    // only when the frame is larger than the capacity. The duration is left as it was. When memory
    // for a larger frame cannot be had, the copy holds no bytes (length 0) rather than failing
    // the capture thread.
    void CopyFrom(const CMediaSample& sample);
    // Copies the held bytes to the start of out's buffer. Nothing is copied, and false returned,
    // when they do not fit; the output's actual data length is never changed.
    bool CopyTo(CMediaSample& out) const;

    REFERENCE_TIME GetDuration() const { return m_Duration; }
    void SetDuration(REFERENCE_TIME duration) { m_Duration = duration; }
    int32_t GetCapacity() const { return m_Capacity; }
    int32_t GetLength() const { return m_Length; }
    const uint8_t* GetData() const { return m_Data.get(); }

private:
    REFERENCE_TIME m_Duration = 0; // 100-ns units, from this frame's arrival to the next one's
    std::unique_ptr<uint8_t[]> m_Data;
    int32_t m_Capacity = 0;
    int32_t m_Length = 0;
};
