#include "motion/BinaryImage.h"

#include "foundation/Exceptions.h"
#include "motion/GrayScaleImage.h"
#include "motion/ImageKernels.h"

#include <algorithm>

CBinaryImage::CBinaryImage(const CBinaryImage& other) : CImageBase() {
    CopyFrom(other);
}

CBinaryImage::CBinaryImage(CBinaryImage&& other) noexcept : CImageBase() {
    TakeFrom(other);
}

CBinaryImage& CBinaryImage::operator=(const CBinaryImage& other) {
    CopyFrom(other);
    return *this;
}

CBinaryImage& CBinaryImage::operator=(CBinaryImage&& other) noexcept {
    TakeFrom(other);
    return *this;
}

void CBinaryImage::Create(int32_t width, int32_t height) {
    Allocate(width, height, static_cast<size_t>(WordsPerRow(width)) * sizeof(uint32_t));
}

void CBinaryImage::Free() {
    Release();
}

void CBinaryImage::SetPixel(int32_t x, int32_t y, bool set) {
    uint32_t& word = Row(y)[x / 32];
    const uint32_t bit = 0x80000000u >> (x % 32);
    word = set ? word | bit : word & ~bit;
}

void CBinaryImage::Fill(bool set) {
    if (IsEmpty()) {
        return;
    }
    const int32_t words = GetWordsPerRow();
    const uint32_t last = imagekernels::LastWordMask(m_width);
    for (int32_t y = 0; y < m_height; ++y) {
        uint32_t* row = Row(y);
        std::fill(row, row + words, set ? 0xFFFFFFFFu : 0u);
        row[words - 1] &= last;
    }
}

void CBinaryImage::Threshold(const CGrayScaleImage& a, const CGrayScaleImage& b, int32_t level) {
    if (a.IsEmpty() || !a.SameSize(b)) {
        THROW_GENERAL("Grey-level images of different sizes.");
    }
    Create(a.GetWidth(), a.GetHeight());
    for (int32_t y = 0; y < m_height; ++y) {
        imagekernels::ThresholdRow(a.Row(y), b.Row(y), Row(y), m_width, level);
    }
}

void CBinaryImage::Erode(const CBinaryImage& source) {
    if (source.IsEmpty()) {
        Free();
        return;
    }
    Create(source.m_width, source.m_height); // no-op when eroding in place
    imagekernels::ErodeImage(source.Words(), Words(), GetWordsPerRow(), m_height,
                             imagekernels::LastWordMask(m_width));
}

int32_t CBinaryImage::CountPixels(int32_t limit) const {
    if (IsEmpty()) {
        return 0;
    }
    return imagekernels::CountBits(Words(), WordCount(), limit);
}

bool CBinaryImage::ApplyMask(const CBinaryImage& mask) {
    if (IsEmpty() || !SameSize(mask)) {
        return false;
    }
    imagekernels::AndNotWords(Words(), mask.Words(), WordCount());
    return true;
}

void CBinaryImage::DrawToFrame(uint8_t* frame, int32_t strideBytes) const {
    if (IsEmpty() || frame == nullptr) {
        return;
    }
    const int64_t stride = strideBytes == 0 ? int64_t{m_width} * 3 : strideBytes;
    if (stride < int64_t{m_width} * 3) {
        THROW_GENERAL("Frame row stride shorter than a row.");
    }
    const int32_t words = GetWordsPerRow();
    const uint32_t last = imagekernels::LastWordMask(m_width);
    for (int32_t y = 0; y < m_height; ++y) {
        const uint32_t* row = Row(y);
        uint8_t* dst = frame + static_cast<size_t>(y) * static_cast<size_t>(stride);
        for (int32_t w = 0; w < words; ++w) {
            uint32_t word = w + 1 == words ? row[w] & last : row[w];
            while (word != 0) {
                const int bit = __builtin_clz(word); // 0 = leftmost pixel of the word
                word &= ~(0x80000000u >> bit);
                uint8_t* pixel = dst + 3 * (static_cast<size_t>(w) * 32 + static_cast<size_t>(bit));
                pixel[0] = 0;
                pixel[1] = 0;
                pixel[2] = 255;
            }
        }
    }
}

void CBinaryImage::DrawToFrame(const CYuvPlanes& frame) const {
    if (IsEmpty() || !frame.IsValid(m_width)) {
        return;
    }
    const CYuvColour red = YuvColourOf(0, 0, 255, frame.fullRange);
    const int32_t words = GetWordsPerRow();
    const uint32_t last = imagekernels::LastWordMask(m_width);
    for (int32_t y = 0; y < m_height; ++y) {
        const uint32_t* row = Row(y);
        uint8_t* luma = frame.y + static_cast<size_t>(y) * static_cast<size_t>(frame.strideY);
        uint8_t* u = frame.u + static_cast<size_t>(y / 2) * static_cast<size_t>(frame.strideU);
        uint8_t* v = frame.v + static_cast<size_t>(y / 2) * static_cast<size_t>(frame.strideV);
        for (int32_t w = 0; w < words; ++w) {
            uint32_t word = w + 1 == words ? row[w] & last : row[w];
            while (word != 0) {
                const int bit = __builtin_clz(word);
                word &= ~(0x80000000u >> bit);
                const size_t x = static_cast<size_t>(w) * 32 + static_cast<size_t>(bit);
                luma[x] = red.y;
                u[x / 2] = red.u;
                v[x / 2] = red.v;
            }
        }
    }
}

void CBinaryImage::ToBitmap(CMonoBitmap& bitmap) const {
    bitmap = CMonoBitmap{};
    if (IsEmpty()) {
        return;
    }
    const int32_t words = GetWordsPerRow();
    bitmap.width = m_width;
    bitmap.height = m_height;
    bitmap.rowBytes = words * 4;
    bitmap.bits.resize(static_cast<size_t>(bitmap.rowBytes) * static_cast<size_t>(m_height));
    uint8_t* out = bitmap.bits.data();
    for (int32_t y = 0; y < m_height; ++y) {
        const uint32_t* row = Row(y);
        for (int32_t w = 0; w < words; ++w) {
            const uint32_t word = row[w];
            *out++ = static_cast<uint8_t>(word >> 24);
            *out++ = static_cast<uint8_t>(word >> 16);
            *out++ = static_cast<uint8_t>(word >> 8);
            *out++ = static_cast<uint8_t>(word);
        }
    }
}

void CBinaryImage::FromBitmap(const CMonoBitmap& bitmap) {
    if (bitmap.IsEmpty()) {
        Free();
        return;
    }
    if (!bitmap.IsValid()) {
        THROW_GENERAL("Invalid monochrome bitmap.");
    }
    Create(bitmap.width, bitmap.height);
    const int32_t words = GetWordsPerRow();
    const uint32_t last = imagekernels::LastWordMask(m_width);
    // Only the bytes that hold pixels are read; the bitmap's rows may be shorter or longer than
    // the image's.
    const size_t usedBytes = std::min(static_cast<size_t>(bitmap.rowBytes), static_cast<size_t>(words) * 4);
    for (int32_t y = 0; y < m_height; ++y) {
        const uint8_t* in =
            bitmap.bits.data() + static_cast<size_t>(y) * static_cast<size_t>(bitmap.rowBytes);
        uint32_t* row = Row(y);
        for (int32_t w = 0; w < words; ++w) {
            uint32_t word = 0;
            for (size_t k = 0; k < 4; ++k) {
                const size_t index = static_cast<size_t>(w) * 4 + k;
                word = word << 8 | (index < usedBytes ? in[index] : 0u);
            }
            row[w] = word;
        }
        row[words - 1] &= last;
    }
}
