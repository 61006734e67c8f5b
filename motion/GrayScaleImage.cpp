#include "motion/GrayScaleImage.h"

#include "foundation/Exceptions.h"
#include "motion/BinaryImage.h"
#include "motion/ImageKernels.h"

#include <algorithm>

namespace {

int64_t FrameStride(int32_t width, int32_t strideBytes) {
    return strideBytes == 0 ? int64_t{width} * 3 : strideBytes;
}

// The row stride of a frame that FromFrame accepts; throws for any other.
size_t CheckedFrameStride(const uint8_t* frame, int32_t width, int32_t height, int32_t strideBytes) {
    if (frame == nullptr || width <= 0 || height <= 0) {
        THROW_GENERAL("Invalid frame for the grey-level image.");
    }
    const int64_t stride = FrameStride(width, strideBytes);
    if (stride < int64_t{width} * 3) {
        THROW_GENERAL("Frame row stride shorter than a row.");
    }
    return static_cast<size_t>(stride);
}

// Bytes the kernels may read from row y: every row but the last is followed by the frame's next
// row, which the vector loops may read into; the last row ends at the frame's end.
size_t ReadableBytes(int32_t y, int32_t height, size_t stride, size_t rowBytes) {
    return y + 1 < height ? stride + rowBytes : rowBytes;
}

size_t CheckedLumaStride(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes) {
    if (luma == nullptr || width <= 0 || height <= 0) {
        THROW_GENERAL("Invalid frame for the grey-level image.");
    }
    const int64_t stride = strideBytes == 0 ? int64_t{width} : strideBytes;
    if (stride < width) {
        THROW_GENERAL("Frame row stride shorter than a row.");
    }
    return static_cast<size_t>(stride);
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
    const size_t stride = CheckedFrameStride(frame, width, height, strideBytes);
    Create(width, height);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; ++y) {
        imagekernels::GreyRow(frame + static_cast<size_t>(y) * stride, Row(y), width,
                              ReadableBytes(y, height, stride, rowBytes));
    }
}

void CGrayScaleImage::UpdateFromFrame(const uint8_t* frame, int32_t width, int32_t height,
                                      int32_t strideBytes, int32_t level, CBinaryImage& changed) {
    const size_t stride = CheckedFrameStride(frame, width, height, strideBytes);
    if (IsEmpty() || width != m_width || height != m_height) {
        THROW_GENERAL("Frame size differs from the grey-level image.");
    }
    changed.Create(width, height);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; ++y) {
        imagekernels::GreyThresholdRow(frame + static_cast<size_t>(y) * stride,
                                       ReadableBytes(y, height, stride, rowBytes), Row(y), changed.Row(y),
                                       width, level);
    }
}

void CGrayScaleImage::FromLuma(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes,
                               imagekernels::LumaRange range) {
    const size_t stride = CheckedLumaStride(luma, width, height, strideBytes);
    Create(width, height);
    for (int32_t y = 0; y < height; ++y) {
        imagekernels::LumaRow(luma + static_cast<size_t>(y) * stride, Row(y), width, range);
    }
}

void CGrayScaleImage::UpdateFromLuma(const uint8_t* luma, int32_t width, int32_t height, int32_t strideBytes,
                                     imagekernels::LumaRange range, int32_t level, CBinaryImage& changed) {
    const size_t stride = CheckedLumaStride(luma, width, height, strideBytes);
    if (IsEmpty() || width != m_width || height != m_height) {
        THROW_GENERAL("Frame size differs from the grey-level image.");
    }
    changed.Create(width, height);
    for (int32_t y = 0; y < height; ++y) {
        imagekernels::LumaThresholdRow(luma + static_cast<size_t>(y) * stride, Row(y), changed.Row(y), width,
                                       level, range);
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
