#include "recording/SampleBuffer.h"

#include <cstring>
#include <new>

void CSampleBuffer::CopyFrom(const CMediaSample& sample) {
    const int32_t size = sample.GetSize();
    const uint8_t* source = sample.GetPointer();
    if (size <= 0 || source == nullptr) {
        m_Length = 0;
        return;
    }
    if (m_Capacity < size) {
        m_Data.reset();
        m_Capacity = 0;
        m_Data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
        if (!m_Data) {
            m_Length = 0;
            return;
        }
        m_Capacity = size;
    }
    std::memcpy(m_Data.get(), source, static_cast<size_t>(size));
    m_Length = size;
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
