#pragma once
// A small view over one mapped frame buffer, standing in for a DirectShow media sample: the
// grabber hands one to the frame callback for every frame, the pre-event buffer copies from one,
// and the source element's callback fills one. The view does not own the bytes.
// Header-only so that the two GStreamer elements can use it without linking application code.

#include "platform/HResult.h"

#include <cstdint>

class CMediaSample {
public:
    CMediaSample() = default;
    CMediaSample(uint8_t* data, int32_t size) : m_data(data), m_size(size), m_actualLength(size) {}

    uint8_t* GetPointer() const { return m_data; }
    // The whole buffer size in bytes.
    int32_t GetSize() const { return m_size; }
    int32_t GetActualDataLength() const { return m_actualLength; }
    void SetActualDataLength(int32_t length) { m_actualLength = length; }

    // Stream times in 100-ns units; false while none were set.
    bool GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) const {
        if (!m_timeValid) {
            return false;
        }
        *start = m_start;
        *end = m_end;
        return true;
    }
    void SetTime(REFERENCE_TIME start, REFERENCE_TIME end) {
        m_start = start;
        m_end = end;
        m_timeValid = true;
    }

    bool IsSyncPoint() const { return m_syncPoint; }
    void SetSyncPoint(bool sync) { m_syncPoint = sync; }

private:
    uint8_t* m_data = nullptr;
    int32_t m_size = 0;
    int32_t m_actualLength = 0;
    REFERENCE_TIME m_start = 0;
    REFERENCE_TIME m_end = 0;
    bool m_timeValid = false;
    bool m_syncPoint = false;
};
