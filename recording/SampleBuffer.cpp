#include "recording/SampleBuffer.h"

#include <climits>
#include <cstring>
#include <new>

void CSampleBuffer::CopyFrom(const CMediaSample& sample) {
    const int32_t size = sample.GetSize();
    const uint8_t* source = sample.GetPointer();
    if (size <= 0 || source == nullptr) {
        m_Length = 0;
        return;
    }
    if (!Reserve(size)) {
        return;
    }
    std::memcpy(m_Data.get(), source, static_cast<size_t>(size));
    m_Length = size;
}

void CSampleBuffer::ConvertFrom(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout) {
    if (bgr == nullptr || layout.size == 0 || layout.size > static_cast<size_t>(INT32_MAX)) {
        m_Length = 0;
        return;
    }
    const auto size = static_cast<int32_t>(layout.size);
    if (!Reserve(size)) {
        return;
    }
    i420::BgrToI420(bgr, bgrStride, layout, m_Data.get());
    m_Length = size;
}

bool CSampleBuffer::Reserve(int32_t size) {
    if (m_Capacity < size) {
        m_Data.reset();
        m_Capacity = 0;
        // Zeroed once, so that the row padding a conversion skips never carries stale bytes.
        m_Data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]());
        if (!m_Data) {
            m_Length = 0;
            return false;
        }
        m_Capacity = size;
    }
    return true;
}

bool CSampleBuffer::CopyTo(CMediaSample& out) const {
    if (m_Length > out.GetSize()) {
        return false;
    }
    if (m_Length > 0 && out.GetPointer() != nullptr) {
        std::memcpy(out.GetPointer(), m_Data.get(), static_cast<size_t>(m_Length));
    }
    return true;
}
