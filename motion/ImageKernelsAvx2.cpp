// The AVX2 kernel set, chosen at run time on processors that have AVX2. Only the functions marked
// with the target attribute use AVX2 instructions; the rest of the program keeps the baseline, so
// nothing here runs (nor gets inlined elsewhere) on a processor without it. Row tails go to the
// SSE2 set.

#include "motion/ImageKernelSets.h"

#if TAVRIX_KERNELS_X86

#include <immintrin.h>

#define TAVRIX_AVX2 __attribute__((target("avx2")))

namespace imagekernels::detail {
namespace {

TAVRIX_AVX2 inline __m256i Load(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

TAVRIX_AVX2 inline __m128i Load16Bytes(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Four pixels a 128-bit lane, spread to B, G, R, 0 in each 32-bit lane, through one multiply-add
// of bytes (11·B + 59·G and 3·R + 0·0, both far below the 16-bit saturation) and one of 16-bit
// pairs (their sum). The lower lane's load starts at its four pixels (bytes 0-11), the upper lane's
// 4 bytes before them (bytes 4-15), so that no load reaches past the 48 bytes of the step.
TAVRIX_AVX2 inline __m256i Grey4x2(__m256i twoLoads) {
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, //
                                            4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m256i weights = _mm256_set1_epi32(kWeightB | kWeightG << 8 | kWeightR << 16);
    const __m256i ones = _mm256_set1_epi16(1);
    return _mm256_madd_epi16(_mm256_maddubs_epi16(_mm256_shuffle_epi8(twoLoads, spread), weights), ones);
}

// Grey values of the 16 pixels (48 bytes) at p, in order. The first vector holds pixels 0-3 and
// 8-11, the second 4-7 and 12-15, so that the lane-wise pack puts all 16 in order.
TAVRIX_AVX2 inline __m256i Grey16(const uint8_t* p) {
    const __m256i first =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load16Bytes(p)), Load16Bytes(p + 20), 1);
    const __m256i second =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Load16Bytes(p + 12)), Load16Bytes(p + 32), 1);
    return _mm256_packs_epi32(Grey4x2(first), Grey4x2(second));
}

// max − min of signed values is the exact distance as an unsigned 16-bit number.
TAVRIX_AVX2 inline __m256i Distance(__m256i a, __m256i b) {
    return _mm256_sub_epi16(_mm256_max_epi16(a, b), _mm256_min_epi16(a, b));
}

// The word of 32 pixels from two vectors of distances (pixels 0-15 and 16-31): bit (31 − i) set
// when distance i > level. biasedLevel = level ^ 0x8000 in every 16-bit lane, for an unsigned
// compare through the signed one. The byte mask is put in reverse pixel order before it is
// gathered, so that pixel 0 lands in bit 31.
TAVRIX_AVX2 inline uint32_t Above32(__m256i d0, __m256i d1, __m256i biasedLevel) {
    const __m256i bias = _mm256_set1_epi16(static_cast<int16_t>(0x8000));
    const __m256i c0 = _mm256_cmpgt_epi16(_mm256_xor_si256(d0, bias), biasedLevel);
    const __m256i c1 = _mm256_cmpgt_epi16(_mm256_xor_si256(d1, bias), biasedLevel);
    // Bytes per lane: pixels 0-7, 16-23 | 8-15, 24-31; reversed: 23-16, 7-0 | 31-24, 15-8.
    const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, //
                                             15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    const __m256i reversed = _mm256_shuffle_epi8(_mm256_packs_epi16(c0, c1), reverse);
    const __m256i ordered = _mm256_permute4x64_epi64(reversed, _MM_SHUFFLE(1, 3, 0, 2)); // 31-0
    return static_cast<uint32_t>(_mm256_movemask_epi8(ordered));
}

TAVRIX_AVX2 void GreyRowAvx2(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey + x), Grey16(bgr + 3 * static_cast<size_t>(x)));
    }
    const size_t done = 3 * static_cast<size_t>(x);
    Sse2Kernels().greyRow(bgr + done, grey + x, width - x, readableBytes - done);
}

TAVRIX_AVX2 void ThresholdRowAvx2(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width,
                                  int32_t level) {
    int32_t x = 0;
    if (VectorLevel(level)) {
        const __m256i biasedLevel = _mm256_set1_epi16(static_cast<int16_t>(level ^ 0x8000));
        for (; x + 32 <= width; x += 32) {
            out[x / 32] = Above32(Distance(Load(a + x), Load(b + x)),
                                  Distance(Load(a + x + 16), Load(b + x + 16)), biasedLevel);
        }
    }
    Sse2Kernels().thresholdRow(a + x, b + x, out + x / 32, width - x, level);
}

TAVRIX_AVX2 void GreyThresholdRowAvx2(const uint8_t* bgr, size_t readableBytes, int16_t* grey, uint32_t* out,
                                      int32_t width, int32_t level) {
    int32_t x = 0;
    if (VectorLevel(level)) {
        const __m256i biasedLevel = _mm256_set1_epi16(static_cast<int16_t>(level ^ 0x8000));
        for (; x + 32 <= width; x += 32) {
            const uint8_t* p = bgr + 3 * static_cast<size_t>(x);
            int16_t* g = grey + x;
            const __m256i new0 = Grey16(p);
            const __m256i new1 = Grey16(p + 48);
            const __m256i old0 = Load(g);
            const __m256i old1 = Load(g + 16);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(g), new0);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + 16), new1);
            out[x / 32] = Above32(Distance(old0, new0), Distance(old1, new1), biasedLevel);
        }
    }
    if (x < width) {
        const size_t done = 3 * static_cast<size_t>(x);
        GreyThresholdWords(GreyRowAvx2, bgr + done, readableBytes - done, grey + x, out + x / 32, width - x,
                           level);
    }
}

// Grey values of the 32 luma bytes at p: pixels 0-15 in lo, 16-31 in hi.
TAVRIX_AVX2 inline void Luma32(const uint8_t* p, const LumaScale& scale, __m256i& lo, __m256i& hi) {
    const __m256i offset = _mm256_set1_epi8(static_cast<char>(scale.offset));
    const __m256i span = _mm256_set1_epi8(static_cast<char>(scale.span));
    const __m256i factor = _mm256_set1_epi16(scale.scale);
    const __m256i v = _mm256_min_epu8(
        _mm256_subs_epu8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), offset), span);
    lo = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), factor);
    hi = _mm256_mullo_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), factor);
}

TAVRIX_AVX2 void LumaRowAvx2(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range) {
    const LumaScale scale = LumaScaleOf(range);
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i lo;
        __m256i hi;
        Luma32(luma + x, scale, lo, hi);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey + x), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey + x + 16), hi);
    }
    Sse2Kernels().lumaRow(luma + x, grey + x, width - x, range);
}

TAVRIX_AVX2 void LumaThresholdRowAvx2(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width,
                                      int32_t level, LumaRange range) {
    int32_t x = 0;
    if (VectorLevel(level)) {
        const LumaScale scale = LumaScaleOf(range);
        const __m256i biasedLevel = _mm256_set1_epi16(static_cast<int16_t>(level ^ 0x8000));
        for (; x + 32 <= width; x += 32) {
            int16_t* g = grey + x;
            __m256i new0;
            __m256i new1;
            Luma32(luma + x, scale, new0, new1);
            const __m256i old0 = Load(g);
            const __m256i old1 = Load(g + 16);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(g), new0);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(g + 16), new1);
            out[x / 32] = Above32(Distance(old0, new0), Distance(old1, new1), biasedLevel);
        }
    }
    LumaThresholdWords(luma + x, grey + x, out + x / 32, width - x, level, range);
}

TAVRIX_AVX2 size_t ErodeWordsAvx2(const uint32_t* source, uint32_t* out, size_t count, size_t wordsPerRow) {
    const uint32_t* next = source + wordsPerRow;
    size_t i = 0;
    // Eight words a step while the word after the step is still in range. Words go in ascending
    // order and each reads only itself, the word after it and the two below, so out may be source.
    for (; i + 8 < count; i += 8) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        const __m256i an = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i + 1));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(next + i));
        const __m256i bn = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(next + i + 1));
        const __m256i ha =
            _mm256_and_si256(a, _mm256_or_si256(_mm256_slli_epi32(a, 1), _mm256_srli_epi32(an, 31)));
        const __m256i hb =
            _mm256_and_si256(b, _mm256_or_si256(_mm256_slli_epi32(b, 1), _mm256_srli_epi32(bn, 31)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_and_si256(ha, hb));
    }
    return i + Sse2Kernels().erodeWords(source + i, out + i, count - i, wordsPerRow);
}

} // namespace

const KernelTable& Avx2Kernels() {
    static constexpr KernelTable table{KernelSet::kAvx2, GreyRowAvx2, ThresholdRowAvx2, GreyThresholdRowAvx2,
                                       ErodeWordsAvx2, LumaRowAvx2, LumaThresholdRowAvx2};
    return table;
}

} // namespace imagekernels::detail

#endif
