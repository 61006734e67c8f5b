#include "motion/GrayScaleImage.h"

#include "foundation/Exceptions.h"
#include "motion/ImageKernels.h"

#include <algorithm>

namespace {

int64_t FrameStride(int32_t width, int32_t strideBytes) {
    return strideBytes == 0 ? int64_t{width} * 3 : strideBytes;
}

} // namespace

CGrayScaleImage::CGrayScaleImage(const CGrayScaleImage& other) : CImageBase() {
    CopyFrom(other);
}

CGrayScaleImage::CGrayScaleImage(CGrayScaleImage&& other) noexcept : CImageBase() {
    TakeFrom(other);
}

CGrayScaleImage& CGrayScaleImage::operator=(const CGrayScaleImage& other) {
    CopyFrom(other);
    return *this;
}

CGrayScaleImage& CGrayScaleImage::operator=(CGrayScaleImage&& other) noexcept {
    TakeFrom(other);
    return *this;
}

void CGrayScaleImage::Create(int32_t width, int32_t height) {
    Allocate(width, height, width > 0 ? static_cast<size_t>(width) * sizeof(int16_t) : 0);
}

void CGrayScaleImage::Free() {
    Release();
}

void CGrayScaleImage::FromFrame(const uint8_t* frame, int32_t width, int32_t height, int32_t strideBytes) {
    if (frame == nullptr || width <= 0 || height <= 0) {
        THROW_GENERAL("Invalid frame for the grey-level image.");
    }
    const int64_t stride = FrameStride(width, strideBytes);
    if (stride < int64_t{width} * 3) {
        THROW_GENERAL("Frame row stride shorter than a row.");
    }
    Create(width, height);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = frame + static_cast<size_t>(y) * static_cast<size_t>(stride);
        // Every row but the last is followed by the frame's next row, which the vector loop may
        // read into; the last row ends at the frame's end.
        const size_t readable = y + 1 < height ? static_cast<size_t>(stride) + rowBytes : rowBytes;
        imagekernels::GreyRow(src, Row(y), width, readable);
    }
}

void CGrayScaleImage::ToFrame(uint8_t* frame, int32_t strideBytes) const {
    if (IsEmpty() || frame == nullptr) {
        return;
    }
    const int64_t stride = FrameStride(m_width, strideBytes);
    if (stride < int64_t{m_width} * 3) {
        THROW_GENERAL("Frame row stride shorter than a row.");
    }
    for (int32_t y = 0; y < m_height; ++y) {
        const int16_t* src = Row(y);
        uint8_t* dst = frame + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int32_t x = 0; x < m_width; ++x, dst += 3) {
            const int32_t grey = std::clamp<int32_t>(src[x], 0, kFullScale);
            const uint8_t v = static_cast<uint8_t>(grey * 255 / kFullScale);
            dst[0] = v;
            dst[1] = v;
            dst[2] = v;
        }
    }
}

void CGrayScaleImage::AbsDiff(const CGrayScaleImage& other) {
    if (IsEmpty() || !SameSize(other)) {
        THROW_GENERAL("Grey-level images of different sizes.");
    }
    imagekernels::AbsDiffRow(Pixels(), other.Pixels(),
                             static_cast<size_t>(m_width) * static_cast<size_t>(m_height));
}
