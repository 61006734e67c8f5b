// The SSE2 kernel set: the x86-64 baseline, so it runs on every x86-64 processor.

#include "motion/ImageKernelSets.h"

#if TAVRIX_KERNELS_X86

#include <array>
#include <emmintrin.h>
#include <xmmintrin.h>

namespace imagekernels::detail {
namespace {

constexpr std::array<uint8_t, 256> MakeReverseTable() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        int r = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (i & (1 << bit)) {
                r |= 0x80 >> bit;
            }
        }
        table[static_cast<size_t>(i)] = static_cast<uint8_t>(r);
    }
    return table;
}
// Bit order reversal of a byte: the vector compare yields pixel i in bit i, the image wants the
// leftmost pixel in the most significant bit.
constexpr std::array<uint8_t, 256> kReverse = MakeReverseTable();

inline uint32_t Reverse16(uint32_t m) {
    return static_cast<uint32_t>(kReverse[m & 0xFF]) << 8 | kReverse[(m >> 8) & 0xFF];
}

// Grey values of four pixels held one per 32-bit lane as bytes B, G, R, (next byte), as 32-bit
// values. B and R go through one multiply-add; G, masked to G·256, through a high multiply by
// 59·256, which yields 59·G without a shift (shifts compete with the shuffles for the same units).
inline __m128i Grey4(__m128i pixels) {
    const __m128i maskBR = _mm_set1_epi32(0x00FF00FF);
    const __m128i maskG = _mm_set1_epi32(0x0000FF00);
    const __m128i weightsBR = _mm_set1_epi32(kWeightB | (kWeightR << 16));
    const __m128i weightG = _mm_set1_epi32(kWeightG << 8);
    const __m128i br = _mm_madd_epi16(_mm_and_si128(pixels, maskBR), weightsBR);
    const __m128i g = _mm_mulhi_epu16(_mm_and_si128(pixels, maskG), weightG); // (G·256 · 59·256) >> 16
    return _mm_add_epi32(br, g);
}

// Grey values of the eight pixels at p, from four overlapping 16-byte loads: a load at a pixel's
// first byte holds that pixel in lane 0 and the pixel four further on in lane 3 (byte 12). The
// load at byte 9 reads 25 bytes from p, one past the eight pixels.
inline __m128i Grey8(const uint8_t* p) {
    const __m128 l0 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m128 l3 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3)));
    const __m128 l6 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 6)));
    const __m128 l9 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 9)));
    // Pixels 0, 4, 2, 6 and 1, 5, 3, 7.
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(l0, l6, _MM_SHUFFLE(3, 0, 3, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(l3, l9, _MM_SHUFFLE(3, 0, 3, 0)));
    // Grey values are below 2^15: an even pixel's value and its odd neighbour's share one 32-bit
    // lane as two 16-bit values, giving 0 1 | 4 5 | 2 3 | 6 7, then lanes 0 2 1 3.
    const __m128i pairs = _mm_or_si128(Grey4(even), _mm_slli_epi32(Grey4(odd), 16));
    return _mm_shuffle_epi32(pairs, _MM_SHUFFLE(3, 1, 2, 0));
}
constexpr size_t kGrey8ReadBytes = 25;

inline __m128i Load(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// max − min of signed values is the exact distance as an unsigned 16-bit number.
inline __m128i Distance(__m128i a, __m128i b) {
    return _mm_sub_epi16(_mm_max_epi16(a, b), _mm_min_epi16(a, b));
}

// 16 pixels from two vectors of distances: bit (15 − i) set when distance i > level. biasedLevel =
// level ^ 0x8000 in every 16-bit lane, for an unsigned compare through the signed one.
inline uint32_t Above16(__m128i d0, __m128i d1, __m128i biasedLevel) {
    const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i c0 = _mm_cmpgt_epi16(_mm_xor_si128(d0, bias), biasedLevel);
    const __m128i c1 = _mm_cmpgt_epi16(_mm_xor_si128(d1, bias), biasedLevel);
    return Reverse16(static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(c0, c1))));
}

inline uint32_t Threshold16(const int16_t* a, const int16_t* b, __m128i biasedLevel) {
    return Above16(Distance(Load(a), Load(b)), Distance(Load(a + 8), Load(b + 8)), biasedLevel);
}

inline __m128i BiasedLevel(int32_t level) {
    return _mm_set1_epi16(static_cast<int16_t>(level ^ 0x8000));
}

void GreyRowSse2(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes) {
    int32_t x = 0;
    for (; x + 8 <= width && 3 * static_cast<size_t>(x) + kGrey8ReadBytes <= readableBytes; x += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x), Grey8(bgr + 3 * static_cast<size_t>(x)));
    }
    for (; x < width; ++x) {
        grey[x] = GreyOf(bgr + 3 * static_cast<size_t>(x));
    }
}

void ThresholdRowSse2(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level) {
    const int32_t fullWords = width / 32;
    const int32_t rest = width % 32;
    if (!VectorLevel(level)) {
        // Every distance (0..65535) is above a negative level; none is above 65535 or more.
        const uint32_t all = level < 0 ? 0xFFFFFFFFu : 0u;
        for (int32_t w = 0; w < fullWords; ++w) {
            out[w] = all;
        }
        if (rest != 0) {
            out[fullWords] = all & LastWordMask(width);
        }
        return;
    }
    const __m128i biasedLevel = BiasedLevel(level);
    int32_t w = 0;
    for (; w < fullWords; ++w) {
        const int16_t* pa = a + 32 * static_cast<size_t>(w);
        const int16_t* pb = b + 32 * static_cast<size_t>(w);
        out[w] = Threshold16(pa, pb, biasedLevel) << 16 | Threshold16(pa + 16, pb + 16, biasedLevel);
    }
    if (rest != 0) {
        const int16_t* pa = a + 32 * static_cast<size_t>(w);
        const int16_t* pb = b + 32 * static_cast<size_t>(w);
        uint32_t word = 0;
        int32_t done = 0;
        if (rest >= 16) {
            word = Threshold16(pa, pb, biasedLevel) << 16;
            done = 16;
        }
        word |= ThresholdWordScalar(pa + done, pb + done, rest - done, level) >> done;
        out[w] = word;
    }
}

// 16 pixels of a frame row: the new grey values replace the old ones at grey, and the bits of
// those whose value moved by more than the level come back as bit (15 − i).
inline uint32_t GreyThreshold16(const uint8_t* p, int16_t* grey, __m128i biasedLevel) {
    const __m128i new0 = Grey8(p);
    const __m128i new1 = Grey8(p + 24);
    const __m128i old0 = Load(grey);
    const __m128i old1 = Load(grey + 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(grey), new0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + 8), new1);
    return Above16(Distance(old0, new0), Distance(old1, new1), biasedLevel);
}

void GreyThresholdRowSse2(const uint8_t* bgr, size_t readableBytes, int16_t* grey, uint32_t* out,
                          int32_t width, int32_t level) {
    int32_t x = 0;
    if (VectorLevel(level)) {
        const __m128i biasedLevel = BiasedLevel(level);
        // The last Grey8 of a step starts at byte 72.
        for (; x + 32 <= width && 3 * static_cast<size_t>(x) + 72 + kGrey8ReadBytes <= readableBytes;
             x += 32) {
            const uint8_t* p = bgr + 3 * static_cast<size_t>(x);
            out[x / 32] = GreyThreshold16(p, grey + x, biasedLevel) << 16 |
                          GreyThreshold16(p + 48, grey + x + 16, biasedLevel);
        }
    }
    const size_t done = 3 * static_cast<size_t>(x);
    GreyThresholdWords(GreyRowSse2, bgr + done, readableBytes - done, grey + x, out + x / 32, width - x,
                       level);
}

// Grey values of 16 luma bytes at p: pixels 0-7 in lo, 8-15 in hi.
inline void Luma16(const uint8_t* p, const LumaScale& scale, __m128i& lo, __m128i& hi) {
    const __m128i offset = _mm_set1_epi8(static_cast<char>(scale.offset));
    const __m128i span = _mm_set1_epi8(static_cast<char>(scale.span));
    const __m128i factor = _mm_set1_epi16(scale.scale);
    const __m128i zero = _mm_setzero_si128();
    const __m128i v = _mm_min_epu8(
        _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), offset), span);
    lo = _mm_mullo_epi16(_mm_unpacklo_epi8(v, zero), factor);
    hi = _mm_mullo_epi16(_mm_unpackhi_epi8(v, zero), factor);
}

void LumaRowSse2(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range) {
    const LumaScale scale = LumaScaleOf(range);
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i lo;
        __m128i hi;
        Luma16(luma + x, scale, lo, hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x + 8), hi);
    }
    for (; x < width; ++x) {
        grey[x] = GreyOfLuma(luma[x], range);
    }
}

inline uint32_t LumaThreshold16(const uint8_t* p, int16_t* grey, const LumaScale& scale, __m128i biasedLevel) {
    __m128i new0;
    __m128i new1;
    Luma16(p, scale, new0, new1);
    const __m128i old0 = Load(grey);
    const __m128i old1 = Load(grey + 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(grey), new0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + 8), new1);
    return Above16(Distance(old0, new0), Distance(old1, new1), biasedLevel);
}

void LumaThresholdRowSse2(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width, int32_t level,
                          LumaRange range) {
    int32_t x = 0;
    if (VectorLevel(level)) {
        const LumaScale scale = LumaScaleOf(range);
        const __m128i biasedLevel = BiasedLevel(level);
        for (; x + 32 <= width; x += 32) {
            out[x / 32] = LumaThreshold16(luma + x, grey + x, scale, biasedLevel) << 16 |
                          LumaThreshold16(luma + x + 16, grey + x + 16, scale, biasedLevel);
        }
    }
    LumaThresholdWords(luma + x, grey + x, out + x / 32, width - x, level, range);
}

size_t ErodeWordsSse2(const uint32_t* source, uint32_t* out, size_t count, size_t wordsPerRow) {
    const uint32_t* next = source + wordsPerRow;
    size_t i = 0;
    // Four words a step while the word after the step is still in range. Words go in ascending
    // order and each reads only itself, the word after it and the two below, so out may be source.
    for (; i + 4 < count; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i an = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i + 1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + i));
        const __m128i bn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + i + 1));
        const __m128i ha = _mm_and_si128(a, _mm_or_si128(_mm_slli_epi32(a, 1), _mm_srli_epi32(an, 31)));
        const __m128i hb = _mm_and_si128(b, _mm_or_si128(_mm_slli_epi32(b, 1), _mm_srli_epi32(bn, 31)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(ha, hb));
    }
    return i;
}

} // namespace

const KernelTable& Sse2Kernels() {
    static constexpr KernelTable table{KernelSet::kSse2, GreyRowSse2, ThresholdRowSse2, GreyThresholdRowSse2,
                                       ErodeWordsSse2, LumaRowSse2, LumaThresholdRowSse2};
    return table;
}

} // namespace imagekernels::detail

#endif
