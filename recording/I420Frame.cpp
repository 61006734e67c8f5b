#include "recording/I420Frame.h"

#include <algorithm>
#include <array>
#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#define TAVRIX_I420_X86 1
#include <tmmintrin.h>
#else
#define TAVRIX_I420_X86 0
#endif

CI420Layout CI420Layout::For(int32_t width, int32_t height) {
    CI420Layout layout;
    if (width < 1 || height < 1) {
        return layout;
    }
    auto roundUp = [](int64_t value, int64_t to) { return (value + to - 1) / to * to; };
    layout.width = width;
    layout.height = height;
    layout.stride[0] = static_cast<int32_t>(roundUp(width, 4));
    layout.stride[1] = static_cast<int32_t>(roundUp(roundUp(width, 2) / 2, 4));
    layout.stride[2] = layout.stride[1];
    const size_t chromaRows = static_cast<size_t>(roundUp(height, 2) / 2);
    layout.offset[0] = 0;
    layout.offset[1] = static_cast<size_t>(layout.stride[0]) * static_cast<size_t>(roundUp(height, 2));
    layout.offset[2] = layout.offset[1] + static_cast<size_t>(layout.stride[1]) * chromaRows;
    layout.size = layout.offset[2] + static_cast<size_t>(layout.stride[2]) * chromaRows;
    return layout;
}

namespace i420 {
namespace {

inline uint8_t LumaOf(int b, int g, int r) {
    return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
// Chroma of the means of a block (each 0..255).
inline uint8_t BlueDifferenceOf(int b, int g, int r) {
    return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline uint8_t RedDifferenceOf(int b, int g, int r) {
    return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// One output row pair from pixel column x0 (even) to the end: rowA's and rowB's luma (rowB null
// when the picture ends with rowA), and the chroma of the blocks, rowB standing in for itself.
struct CRowPair {
    const uint8_t* a;
    const uint8_t* b;
    uint8_t* lumaA;
    uint8_t* lumaB; // null: no second row
    uint8_t* u;
    uint8_t* v;
};

void ConvertRowPairPlain(const CRowPair& rows, int32_t x0, int32_t width) {
    for (int32_t x = x0; x < width; ++x) {
        const uint8_t* p = rows.a + 3 * static_cast<size_t>(x);
        rows.lumaA[x] = LumaOf(p[0], p[1], p[2]);
        if (rows.lumaB != nullptr) {
            const uint8_t* q = rows.b + 3 * static_cast<size_t>(x);
            rows.lumaB[x] = LumaOf(q[0], q[1], q[2]);
        }
    }
    for (int32_t x = x0; x < width; x += 2) {
        const size_t left = 3 * static_cast<size_t>(x);
        const size_t right = 3 * static_cast<size_t>(std::min(x + 1, width - 1));
        int sum[3];
        for (int c = 0; c < 3; ++c) {
            sum[c] = (rows.a[left + c] + rows.a[right + c] + rows.b[left + c] + rows.b[right + c] + 2) >> 2;
        }
        rows.u[x / 2] = BlueDifferenceOf(sum[0], sum[1], sum[2]);
        rows.v[x / 2] = RedDifferenceOf(sum[0], sum[1], sum[2]);
    }
}

#if TAVRIX_I420_X86

// pshufb masks that gather channel c (0 blue, 1 green, 2 red) of 16 pixels from the three
// 16-byte loads k = 0, 1, 2 of their 48 bytes.
struct CGatherMasks {
    alignas(16) uint8_t mask[3][3][16];
    constexpr CGatherMasks() : mask{} {
        for (int c = 0; c < 3; ++c) {
            for (int k = 0; k < 3; ++k) {
                for (int j = 0; j < 16; ++j) {
                    const int at = 3 * j + c - 16 * k;
                    mask[c][k][j] = at >= 0 && at < 16 ? static_cast<uint8_t>(at) : 0x80;
                }
            }
        }
    }
};
constexpr CGatherMasks kGather;

// The functions marked TAVRIX_SSSE3 may use SSSE3; they run only where the processor has it. The
// attribute (rather than a pragma region) works with GCC and clang alike; lambdas would not carry it.
#define TAVRIX_SSSE3 __attribute__((target("ssse3")))

TAVRIX_SSSE3 inline __m128i GatherChannel(__m128i l0, __m128i l1, __m128i l2, int c) {
    const __m128i* m = reinterpret_cast<const __m128i*>(kGather.mask[c]);
    return _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(l0, _mm_load_si128(m)), _mm_shuffle_epi8(l1, _mm_load_si128(m + 1))),
        _mm_shuffle_epi8(l2, _mm_load_si128(m + 2)));
}

TAVRIX_SSSE3 inline void Gather(const uint8_t* p, __m128i& b, __m128i& g, __m128i& r) {
    const __m128i l0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i l1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i l2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    b = GatherChannel(l0, l1, l2, 0);
    g = GatherChannel(l0, l1, l2, 1);
    r = GatherChannel(l0, l1, l2, 2);
}

// The luma of 8 pixels widened to 16 bits: every product and sum stays below 2^16.
TAVRIX_SSSE3 inline __m128i LumaHalf(__m128i b16, __m128i g16, __m128i r16) {
    __m128i sum =
        _mm_add_epi16(_mm_mullo_epi16(r16, _mm_set1_epi16(66)), _mm_mullo_epi16(g16, _mm_set1_epi16(129)));
    sum = _mm_add_epi16(sum, _mm_mullo_epi16(b16, _mm_set1_epi16(25)));
    sum = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(128)), 8);
    return _mm_add_epi16(sum, _mm_set1_epi16(16));
}

// 16 luma bytes of 16 pixels.
TAVRIX_SSSE3 inline __m128i Luma16(__m128i b, __m128i g, __m128i r) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low =
        LumaHalf(_mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(g, zero), _mm_unpacklo_epi8(r, zero));
    const __m128i high =
        LumaHalf(_mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(g, zero), _mm_unpackhi_epi8(r, zero));
    return _mm_packus_epi16(low, high);
}

// The 8 block means of one channel from its 16 bytes in two rows.
TAVRIX_SSSE3 inline __m128i BlockMean(__m128i a, __m128i b) {
    const __m128i ones = _mm_set1_epi8(1);
    const __m128i sum = _mm_add_epi16(_mm_maddubs_epi16(a, ones), _mm_maddubs_epi16(b, ones));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2);
}

TAVRIX_SSSE3 inline __m128i Chroma8(__m128i b, __m128i g, __m128i r, int16_t cb, int16_t cg, int16_t cr) {
    __m128i sum =
        _mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(cr)), _mm_mullo_epi16(g, _mm_set1_epi16(cg)));
    sum = _mm_add_epi16(sum, _mm_mullo_epi16(b, _mm_set1_epi16(cb)));
    sum = _mm_srai_epi16(_mm_add_epi16(sum, _mm_set1_epi16(128)), 8);
    return _mm_add_epi16(sum, _mm_set1_epi16(128));
}

TAVRIX_SSSE3 void ConvertRowPairSsse3(const CRowPair& rows, int32_t width) {
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i ba, ga, ra, bb, gb, rb;
        Gather(rows.a + 3 * static_cast<size_t>(x), ba, ga, ra);
        Gather(rows.b + 3 * static_cast<size_t>(x), bb, gb, rb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.lumaA + x), Luma16(ba, ga, ra));
        if (rows.lumaB != nullptr) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.lumaB + x), Luma16(bb, gb, rb));
        }
        const __m128i b = BlockMean(ba, bb);
        const __m128i g = BlockMean(ga, gb);
        const __m128i r = BlockMean(ra, rb);
        const __m128i u = Chroma8(b, g, r, 112, -74, -38);
        const __m128i v = Chroma8(b, g, r, -18, -94, 112);
        const __m128i uv = _mm_packus_epi16(u, v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.u + x / 2), uv);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.v + x / 2), _mm_srli_si128(uv, 8));
    }
    ConvertRowPairPlain(rows, x, width);
}

bool CpuHasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

#endif

std::atomic<bool> s_useFast{true};

template <typename RowPairFunction>
void Convert(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout, uint8_t* out,
             RowPairFunction convertRows) {
    const int32_t width = layout.width;
    const int32_t height = layout.height;
    for (int32_t y = 0; y < height; y += 2) {
        const bool second = y + 1 < height;
        CRowPair rows;
        rows.a = bgr + static_cast<size_t>(y) * bgrStride;
        rows.b = second ? rows.a + bgrStride : rows.a;
        rows.lumaA = out + layout.offset[0] + static_cast<size_t>(y) * layout.stride[0];
        rows.lumaB = second ? rows.lumaA + layout.stride[0] : nullptr;
        rows.u = out + layout.offset[1] + static_cast<size_t>(y / 2) * layout.stride[1];
        rows.v = out + layout.offset[2] + static_cast<size_t>(y / 2) * layout.stride[2];
        convertRows(rows, width);
    }
}

} // namespace

bool FastConversionSupported() {
#if TAVRIX_I420_X86
    return CpuHasSsse3();
#else
    return false;
#endif
}

void UseFastConversion(bool fast) {
    s_useFast.store(fast);
}

void BgrToI420Reference(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout, uint8_t* out) {
    Convert(bgr, bgrStride, layout, out,
            [](const CRowPair& rows, int32_t width) { ConvertRowPairPlain(rows, 0, width); });
}

void BgrToI420(const uint8_t* bgr, int32_t bgrStride, const CI420Layout& layout, uint8_t* out) {
#if TAVRIX_I420_X86
    if (s_useFast.load(std::memory_order_relaxed) && CpuHasSsse3()) {
        Convert(bgr, bgrStride, layout, out, ConvertRowPairSsse3);
        return;
    }
#endif
    BgrToI420Reference(bgr, bgrStride, layout, out);
}

namespace {
inline uint8_t ClampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}
} // namespace

void I420ToBgr(const uint8_t* const planes[3], const int32_t strides[3], int32_t width, int32_t height,
               bool fullRange, uint8_t* out, int32_t outStride) {
    // Fixed point, 2^16: Y scale and the chroma factors of the inverse BT.601 matrix.
    const int32_t yScale = fullRange ? 65536 : 76309; // 255/219
    const int32_t yOffset = fullRange ? 0 : 16;
    const int32_t crToR = fullRange ? 91881 : 104597;  // 1.402 (· 255/224)
    const int32_t cbToG = fullRange ? 22554 : 25675;   // 0.344
    const int32_t crToG = fullRange ? 46802 : 53279;   // 0.714
    const int32_t cbToB = fullRange ? 116130 : 132201; // 1.772
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* luma = planes[0] + static_cast<size_t>(y) * static_cast<size_t>(strides[0]);
        const uint8_t* cb = planes[1] + static_cast<size_t>(y / 2) * static_cast<size_t>(strides[1]);
        const uint8_t* cr = planes[2] + static_cast<size_t>(y / 2) * static_cast<size_t>(strides[2]);
        uint8_t* dst = out + static_cast<size_t>(y) * static_cast<size_t>(outStride);
        for (int32_t x = 0; x < width; ++x, dst += 3) {
            const int32_t l = (luma[x] - yOffset) * yScale + 32768;
            const int32_t u = cb[x / 2] - 128;
            const int32_t v = cr[x / 2] - 128;
            dst[0] = ClampByte((l + cbToB * u) >> 16);
            dst[1] = ClampByte((l - cbToG * u - crToG * v) >> 16);
            dst[2] = ClampByte((l + crToR * v) >> 16);
        }
    }
}

} // namespace i420
