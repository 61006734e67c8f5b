#include "motion/ImageKernels.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#define TAVRIX_HAVE_SSE2 1
#else
#define TAVRIX_HAVE_SSE2 0
#endif

namespace imagekernels {
namespace {

constexpr int32_t kWeightB = 11;
constexpr int32_t kWeightG = 59;
constexpr int32_t kWeightR = 3;

inline int16_t GreyOf(const uint8_t* p) {
    return static_cast<int16_t>(kWeightB * p[0] + kWeightG * p[1] + kWeightR * p[2]);
}

inline bool Changed(int16_t a, int16_t b, int32_t level) {
    return std::abs(static_cast<int32_t>(a) - static_cast<int32_t>(b)) > level;
}

// Bits of up to 32 pixels starting at x, leftmost pixel in bit 31, computed one at a time.
inline uint32_t ThresholdWordScalar(const int16_t* a, const int16_t* b, int32_t count, int32_t level) {
    uint32_t word = 0;
    for (int32_t i = 0; i < count; ++i) {
        word |= static_cast<uint32_t>(Changed(a[i], b[i], level)) << (31 - i);
    }
    return word;
}

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

#if TAVRIX_HAVE_SSE2

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

// 16 pixels: bit (15 − i) set when |a[i] − b[i]| > level. biasedLevel = level ^ 0x8000 in every
// 16-bit lane, for an unsigned compare through the signed one.
inline uint32_t Threshold16(const int16_t* a, const int16_t* b, __m128i biasedLevel) {
    const __m128i bias = _mm_set1_epi16(static_cast<int16_t>(0x8000));
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8));
    // max − min of signed values is the exact distance as an unsigned 16-bit number.
    const __m128i d0 = _mm_sub_epi16(_mm_max_epi16(a0, b0), _mm_min_epi16(a0, b0));
    const __m128i d1 = _mm_sub_epi16(_mm_max_epi16(a1, b1), _mm_min_epi16(a1, b1));
    const __m128i c0 = _mm_cmpgt_epi16(_mm_xor_si128(d0, bias), biasedLevel);
    const __m128i c1 = _mm_cmpgt_epi16(_mm_xor_si128(d1, bias), biasedLevel);
    const uint32_t m = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(c0, c1)));
    return Reverse16(m);
}

#endif

} // namespace

void GreyRowReference(const uint8_t* bgr, int16_t* grey, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        grey[x] = GreyOf(bgr + 3 * static_cast<size_t>(x));
    }
}

void GreyRow(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes) {
    int32_t x = 0;
#if TAVRIX_HAVE_SSE2
    // Eight pixels a step from four overlapping 16-byte loads: a load at a pixel's first byte holds
    // that pixel in lane 0 and the pixel four further on in lane 3 (byte 12). The load at byte 9
    // reads up to byte 24 of the step.
    for (; x + 8 <= width && 3 * static_cast<size_t>(x) + 25 <= readableBytes; x += 8) {
        const uint8_t* p = bgr + 3 * static_cast<size_t>(x);
        const __m128 l0 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m128 l3 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 3)));
        const __m128 l6 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 6)));
        const __m128 l9 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 9)));
        // Pixels 0, 4, 2, 6 and 1, 5, 3, 7.
        const __m128i even = _mm_castps_si128(_mm_shuffle_ps(l0, l6, _MM_SHUFFLE(3, 0, 3, 0)));
        const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(l3, l9, _MM_SHUFFLE(3, 0, 3, 0)));
        // Grey values are below 2^15: an even pixel's value and its odd neighbour's share one
        // 32-bit lane as two 16-bit values, giving 0 1 | 4 5 | 2 3 | 6 7, then lanes 0 2 1 3.
        const __m128i pairs = _mm_or_si128(Grey4(even), _mm_slli_epi32(Grey4(odd), 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x),
                         _mm_shuffle_epi32(pairs, _MM_SHUFFLE(3, 1, 2, 0)));
    }
#else
    (void)readableBytes;
#endif
    for (; x < width; ++x) {
        grey[x] = GreyOf(bgr + 3 * static_cast<size_t>(x));
    }
}

void ThresholdRowReference(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level) {
    const int32_t words = (width + 31) / 32;
    for (int32_t w = 0; w < words; ++w) {
        out[w] = 0;
    }
    for (int32_t x = 0; x < width; ++x) {
        if (Changed(a[x], b[x], level)) {
            out[x / 32] |= 0x80000000u >> (x % 32);
        }
    }
}

void ThresholdRow(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level) {
    const int32_t fullWords = width / 32;
    const int32_t rest = width % 32;
    if (level < 0 || level >= 0xFFFF) {
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
    int32_t w = 0;
#if TAVRIX_HAVE_SSE2
    const __m128i biasedLevel = _mm_set1_epi16(static_cast<int16_t>(level ^ 0x8000));
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
#else
    for (; w < fullWords; ++w) {
        out[w] =
            ThresholdWordScalar(a + 32 * static_cast<size_t>(w), b + 32 * static_cast<size_t>(w), 32, level);
    }
    if (rest != 0) {
        out[w] = ThresholdWordScalar(a + 32 * static_cast<size_t>(w), b + 32 * static_cast<size_t>(w), rest,
                                     level);
    }
#endif
}

void ErodeRowReference(const uint32_t* row, const uint32_t* next, uint32_t* out, int32_t width) {
    auto bit = [width](const uint32_t* r, int32_t x) -> uint32_t {
        if (r == nullptr || x >= width) {
            return 0;
        }
        return (r[x / 32] >> (31 - x % 32)) & 1u;
    };
    const int32_t words = (width + 31) / 32;
    for (int32_t w = 0; w < words; ++w) {
        out[w] = 0;
    }
    for (int32_t x = 0; x < width; ++x) {
        if (bit(row, x) & bit(row, x + 1) & bit(next, x) & bit(next, x + 1)) {
            out[x / 32] |= 0x80000000u >> (x % 32);
        }
    }
}

void ErodeRow(const uint32_t* row, const uint32_t* next, uint32_t* out, int32_t words,
              uint32_t lastWordMask) {
    if (words <= 0) {
        return;
    }
    if (next == nullptr) {
        for (int32_t i = 0; i < words; ++i) {
            out[i] = 0;
        }
        return;
    }
    int32_t i = 0;
#if TAVRIX_HAVE_SSE2
    // Four words a step while the word after the step is still in this row. Words are processed in
    // ascending order and each reads only itself and the word after it, so out may equal row.
    for (; i + 4 < words; i += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i an = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i + 1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + i));
        const __m128i bn = _mm_loadu_si128(reinterpret_cast<const __m128i*>(next + i + 1));
        const __m128i ha = _mm_and_si128(a, _mm_or_si128(_mm_slli_epi32(a, 1), _mm_srli_epi32(an, 31)));
        const __m128i hb = _mm_and_si128(b, _mm_or_si128(_mm_slli_epi32(b, 1), _mm_srli_epi32(bn, 31)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_and_si128(ha, hb));
    }
#endif
    for (; i < words; ++i) {
        const bool last = i + 1 == words;
        const uint32_t a = last ? row[i] & lastWordMask : row[i];
        const uint32_t b = last ? next[i] & lastWordMask : next[i];
        const uint32_t an = last ? 0 : row[i + 1];
        const uint32_t bn = last ? 0 : next[i + 1];
        out[i] = (a & (a << 1 | an >> 31)) & (b & (b << 1 | bn >> 31));
    }
}

void AbsDiffRow(int16_t* a, const int16_t* b, size_t count) {
    size_t i = 0;
#if TAVRIX_HAVE_SSE2
    for (; i + 8 <= count; i += 8) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + i),
                         _mm_sub_epi16(_mm_max_epi16(va, vb), _mm_min_epi16(va, vb)));
    }
#endif
    for (; i < count; ++i) {
        a[i] = static_cast<int16_t>(std::abs(static_cast<int32_t>(a[i]) - static_cast<int32_t>(b[i])));
    }
}

void AndNotWords(uint32_t* dst, const uint32_t* mask, size_t count) {
    size_t i = 0;
#if TAVRIX_HAVE_SSE2
    for (; i + 4 <= count; i += 4) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_andnot_si128(m, d));
    }
#endif
    for (; i < count; ++i) {
        dst[i] &= ~mask[i];
    }
}

namespace {
int32_t ClampCount(int64_t total) {
    return total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
}
} // namespace

int32_t CountBitsReference(const uint32_t* words, size_t count, int32_t limit) {
    int64_t total = 0;
    for (size_t i = 0; i < count; ++i) {
        for (int bit = 0; bit < 32; ++bit) {
            total += (words[i] >> bit) & 1u;
        }
        if (total >= limit) {
            break;
        }
    }
    return ClampCount(total);
}

int32_t CountBits(const uint32_t* words, size_t count, int32_t limit) {
    if (count == 0) {
        return 0;
    }
    if (limit <= 0) {
        return PopCount32(words[0]);
    }
    // The running count only grows on non-zero words, so testing the limit after those alone
    // stops at the same word as testing after every word.
    int64_t total = 0;
    size_t i = 0;
#if TAVRIX_HAVE_SSE2
    // Changed pixels are rare after erosion: skip four zero words at a time.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(v, zero)) == 0xFFFF) {
            continue;
        }
        for (size_t k = i; k < i + 4; ++k) {
            if (words[k] != 0) {
                total += PopCount32(words[k]);
                if (total >= limit) {
                    return ClampCount(total);
                }
            }
        }
    }
#endif
    for (; i < count; ++i) {
        if (words[i] != 0) {
            total += PopCount32(words[i]);
            if (total >= limit) {
                return ClampCount(total);
            }
        }
    }
    return ClampCount(total);
}

} // namespace imagekernels
