#include "recording/SampleBuffer.h"

#include <climits>
#include <cstring>
#include <new>
#include <utility>

CFrameBytes* CFrameBytes::Create(int32_t size) {
    auto* bytes = new (std::nothrow) CFrameBytes;
    if (bytes == nullptr) {
        return nullptr;
    }
    // Zeroed once, so that the row padding a conversion skips never carries stale bytes.
    bytes->m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]());
    if (!bytes->m_data) {
        delete bytes;
        return nullptr;
    }
    return bytes;
}

CSampleBuffer::~CSampleBuffer() {
    if (m_Bytes != nullptr) {
        m_Bytes->Release();
    }
    if (m_Spare != nullptr) {
        m_Spare->Release();
    }
}

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
    std::memcpy(m_Bytes->Data(), source, static_cast<size_t>(size));
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
    i420::BgrToI420(bgr, bgrStride, layout, m_Bytes->Data());
    m_Length = size;
}

void CSampleBuffer::CopyI420From(const uint8_t* const planes[3], const int32_t strides[3],
                                 const CI420Layout& layout) {
    if (layout.size == 0 || layout.size > static_cast<size_t>(INT32_MAX)) {
        m_Length = 0;
        return;
    }
    const auto size = static_cast<int32_t>(layout.size);
    if (!Reserve(size)) {
        return;
    }
    const bool contiguous = strides[0] == layout.stride[0] && strides[1] == layout.stride[1] &&
                            strides[2] == layout.stride[2] &&
                            planes[1] == planes[0] + layout.offset[1] && planes[2] == planes[0] + layout.offset[2];
    if (contiguous) {
        std::memcpy(m_Bytes->Data(), planes[0], layout.size);
    } else {
        const int32_t chromaWidth = (layout.width + 1) / 2;
        const int32_t rows[3] = {layout.height, (layout.height + 1) / 2, (layout.height + 1) / 2};
        const int32_t rowBytes[3] = {layout.width, chromaWidth, chromaWidth};
        for (int p = 0; p < 3; ++p) {
            for (int32_t y = 0; y < rows[p]; ++y) {
                std::memcpy(m_Bytes->Data() + layout.offset[p] + static_cast<size_t>(y) * layout.stride[p],
                            planes[p] + static_cast<size_t>(y) * static_cast<size_t>(strides[p]),
                            static_cast<size_t>(rowBytes[p]));
            }
        }
    }
    m_Length = size;
}

bool CSampleBuffer::Reserve(int32_t size) {
    if (m_Bytes != nullptr && m_Capacity >= size && !m_Bytes->IsShared()) {
        return true;
    }
    if (m_Bytes != nullptr && m_Spare != nullptr && m_Capacity >= size && !m_Spare->IsShared()) {
        // A recording still reads the held bytes but has let go of the earlier ones: swap.
        std::swap(m_Bytes, m_Spare);
        return true;
    }
    // Larger frames, or a recording still reads the held ones: fresh bytes. Bytes still read are
    // kept as the spare, for when the recording lets go of them (a short window recycles frames
    // the encoder has not finished with yet).
    const int32_t capacity = m_Capacity > size ? m_Capacity : size;
    if (m_Spare != nullptr) {
        m_Spare->Release();
        m_Spare = nullptr;
    }
    if (m_Bytes != nullptr && m_Capacity >= size) {
        m_Spare = m_Bytes;
    } else if (m_Bytes != nullptr) {
        m_Bytes->Release();
    }
    m_Bytes = nullptr;
    m_Capacity = 0;
    m_Bytes = CFrameBytes::Create(capacity);
    if (m_Bytes == nullptr) {
        m_Length = 0;
        return false;
    }
    m_Capacity = capacity;
    return true;
}

bool CSampleBuffer::CopyTo(CMediaSample& out) const {
    if (m_Length > out.GetSize()) {
        return false;
    }
    if (m_Length > 0 && out.GetPointer() != nullptr) {
        std::memcpy(out.GetPointer(), m_Bytes->Data(), static_cast<size_t>(m_Length));
    }
    return true;
}

CFrameBytes* CSampleBuffer::Lend() const {
    if (m_Bytes == nullptr || m_Length <= 0) {
        return nullptr;
    }
    m_Bytes->AddRef();
    return m_Bytes;
}
