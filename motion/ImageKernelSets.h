#pragma once
// The kernel sets behind the dispatching functions of ImageKernels.h: one table of row functions
// per instruction set, and the scalar pieces that every set shares for row tails. Internal to
// motion/ImageKernels*.cpp.
//
// Pure functions: any thread.

#include "motion/ImageKernels.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define TAVRIX_KERNELS_X86 1
#else
#define TAVRIX_KERNELS_X86 0
#endif

namespace imagekernels::detail {

using GreyRowFn = void (*)(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes);
using ThresholdRowFn = void (*)(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width,
                                int32_t level);
using GreyThresholdRowFn = void (*)(const uint8_t* bgr, size_t readableBytes, int16_t* grey, uint32_t* out,
                                    int32_t width, int32_t level);
using LumaRowFn = void (*)(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range);
using LumaThresholdRowFn = void (*)(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width,
                                    int32_t level, LumaRange range);
// The vector part of ErodeImage over words [0, n) for the n ≤ count it returns: out[i] = a & (a << 1 |
// an >> 31) & b & (b << 1 | bn >> 31) with a, an = source[i], source[i + 1] and b, bn the same a row
// (wordsPerRow words) further on. Reads no word at or past count + wordsPerRow; ErodeImage does the
// rest and the row ends.
using ErodeWordsFn = size_t (*)(const uint32_t* source, uint32_t* out, size_t count, size_t wordsPerRow);

struct KernelTable {
    KernelSet set;
    GreyRowFn greyRow;
    ThresholdRowFn thresholdRow;
    GreyThresholdRowFn greyThresholdRow;
    ErodeWordsFn erodeWords;
    LumaRowFn lumaRow;
    LumaThresholdRowFn lumaThresholdRow;
};

const KernelTable& PlainKernels();
#if TAVRIX_KERNELS_X86
const KernelTable& Sse2Kernels();
const KernelTable& Avx2Kernels();
#endif

constexpr int32_t kWeightB = 11;
constexpr int32_t kWeightG = 59;
constexpr int32_t kWeightR = 3;

inline int16_t GreyOf(const uint8_t* p) {
    return static_cast<int16_t>(kWeightB * p[0] + kWeightG * p[1] + kWeightR * p[2]);
}

inline bool Changed(int16_t a, int16_t b, int32_t level) {
    return std::abs(static_cast<int32_t>(a) - static_cast<int32_t>(b)) > level;
}

// Levels for which the vector compares work: a distance is an unsigned 16-bit number, so a level
// below 0 is below every distance and one of 65535 or more above every one.
inline bool VectorLevel(int32_t level) {
    return level >= 0 && level < 0xFFFF;
}

// Bits of up to 32 pixels starting at x, leftmost pixel in bit 31, computed one at a time.
inline uint32_t ThresholdWordScalar(const int16_t* a, const int16_t* b, int32_t count, int32_t level) {
    uint32_t word = 0;
    for (int32_t i = 0; i < count; ++i) {
        word |= static_cast<uint32_t>(Changed(a[i], b[i], level)) << (31 - i);
    }
    return word;
}

// The offset, span and scale of GreyOfLuma for the vector forms: grey = scale · min(Y −sat offset, span).
struct LumaScale {
    uint8_t offset;
    uint8_t span;
    int16_t scale;
};
inline LumaScale LumaScaleOf(LumaRange range) {
    return range == LumaRange::kFull ? LumaScale{0, 255, 73} : LumaScale{16, 219, 85};
}

// LumaThresholdRow for count pixels (up to 32) from a word boundary on, one pixel at a time.
inline uint32_t LumaThresholdWordScalar(const uint8_t* luma, int16_t* grey, int32_t count, int32_t level,
                                        LumaRange range) {
    uint32_t word = 0;
    for (int32_t i = 0; i < count; ++i) {
        const int16_t fresh = GreyOfLuma(luma[i], range);
        word |= static_cast<uint32_t>(Changed(grey[i], fresh, level)) << (31 - i);
        grey[i] = fresh;
    }
    return word;
}

// The row tails of the vector forms: whole words of 32 pixels and the last partial one.
inline void LumaThresholdWords(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t count,
                               int32_t level, LumaRange range) {
    for (int32_t x = 0; x < count; x += 32) {
        const int32_t n = count - x < 32 ? count - x : 32;
        out[x / 32] = LumaThresholdWordScalar(luma + x, grey + x, n, level, range);
    }
}

// GreyThresholdRow for count pixels from a word boundary on, 32 at a time through a small buffer:
// the row tails of the vector loops and levels out of the vector range.
void GreyThresholdWords(GreyRowFn greyRow, const uint8_t* bgr, size_t readableBytes, int16_t* grey,
                        uint32_t* out, int32_t count, int32_t level);

} // namespace imagekernels::detail
