#include "motion/ImageBase.h"

#include "foundation/Exceptions.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {
constexpr std::align_val_t kAlignment{64};
}

CImageBase::~CImageBase() {
    Release();
}

bool CImageBase::Allocate(int32_t width, int32_t height, size_t rowBytes) {
    if (m_data != nullptr && width == m_width && height == m_height) {
        return false;
    }
    Release();
    if (width <= 0 || height <= 0) {
        return true;
    }
    if (rowBytes > static_cast<size_t>(std::numeric_limits<int32_t>::max()) / static_cast<size_t>(height)) {
        THROW_GENERAL("Image size too large.");
    }
    const size_t bytes = rowBytes * static_cast<size_t>(height);
    // Rounded up to whole vectors: the fast paths may load (never store) a vector that ends past
    // the last pixel of the last row.
    const size_t allocated = (bytes + 63) & ~size_t{63};
    m_data = ::operator new(allocated, kAlignment); // throws std::bad_alloc, image stays empty
    m_width = width;
    m_height = height;
    m_rowBytes = rowBytes;
    return true;
}

void CImageBase::Release() {
    if (m_data != nullptr) {
        ::operator delete(m_data, kAlignment);
    }
    m_data = nullptr;
    m_width = 0;
    m_height = 0;
    m_rowBytes = 0;
}

void CImageBase::SwapBuffers(CImageBase& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    std::swap(m_rowBytes, other.m_rowBytes);
}

void CImageBase::CopyFrom(const CImageBase& other) {
    if (this == &other) {
        return;
    }
    if (other.IsEmpty()) {
        Free();
        return;
    }
    Create(other.m_width, other.m_height);
    std::memcpy(GetData(), other.GetData(), GetSize());
}

void CImageBase::TakeFrom(CImageBase& other) noexcept {
    if (this != &other) {
        Release();
        SwapBuffers(other);
    }
}
