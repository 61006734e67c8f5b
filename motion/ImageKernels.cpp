#include "motion/ImageKernels.h"

#include "motion/ImageKernelSets.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if TAVRIX_KERNELS_X86
#include <emmintrin.h>
#endif

namespace imagekernels {

using detail::Changed;
using detail::GreyOf;
using detail::KernelTable;
using detail::ThresholdWordScalar;

// ---- references: one pixel at a time, the definition of every result ----

void GreyRowReference(const uint8_t* bgr, int16_t* grey, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
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

void GreyThresholdRowReference(const uint8_t* bgr, int16_t* grey, uint32_t* out, int32_t width,
                               int32_t level) {
    const int32_t words = (width + 31) / 32;
    for (int32_t w = 0; w < words; ++w) {
        out[w] = 0;
    }
    for (int32_t x = 0; x < width; ++x) {
        const int16_t fresh = GreyOf(bgr + 3 * static_cast<size_t>(x));
        if (Changed(grey[x], fresh, level)) {
            out[x / 32] |= 0x80000000u >> (x % 32);
        }
        grey[x] = fresh;
    }
}

void LumaRowReference(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range) {
    for (int32_t x = 0; x < width; ++x) {
        grey[x] = GreyOfLuma(luma[x], range);
    }
}

void LumaThresholdRowReference(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width,
                               int32_t level, LumaRange range) {
    const int32_t words = (width + 31) / 32;
    for (int32_t w = 0; w < words; ++w) {
        out[w] = 0;
    }
    for (int32_t x = 0; x < width; ++x) {
        const int16_t fresh = GreyOfLuma(luma[x], range);
        if (Changed(grey[x], fresh, level)) {
            out[x / 32] |= 0x80000000u >> (x % 32);
        }
        grey[x] = fresh;
    }
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

namespace detail {

void GreyThresholdWords(GreyRowFn greyRow, const uint8_t* bgr, size_t readableBytes, int16_t* grey,
                        uint32_t* out, int32_t count, int32_t level) {
    int16_t fresh[32];
    for (int32_t x = 0; x < count; x += 32) {
        const int32_t n = std::min<int32_t>(32, count - x);
        const size_t offset = 3 * static_cast<size_t>(x);
        greyRow(bgr + offset, fresh, n, readableBytes - offset);
        out[x / 32] = ThresholdWordScalar(grey + x, fresh, n, level);
        std::memcpy(grey + x, fresh, static_cast<size_t>(n) * sizeof(int16_t));
    }
}

// ---- the plain set: word-at-a-time loops for machines without the vector sets ----

namespace {

void GreyRowPlain(const uint8_t* bgr, int16_t* grey, int32_t width, size_t /*readableBytes*/) {
    GreyRowReference(bgr, grey, width);
}

void ThresholdRowPlain(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level) {
    for (int32_t x = 0; x < width; x += 32) {
        out[x / 32] = ThresholdWordScalar(a + x, b + x, std::min<int32_t>(32, width - x), level);
    }
}

void GreyThresholdRowPlain(const uint8_t* bgr, size_t /*readableBytes*/, int16_t* grey, uint32_t* out,
                           int32_t width, int32_t level) {
    for (int32_t x = 0; x < width; x += 32) {
        const int32_t n = std::min<int32_t>(32, width - x);
        uint32_t word = 0;
        for (int32_t i = 0; i < n; ++i) {
            const int16_t fresh = GreyOf(bgr + 3 * static_cast<size_t>(x + i));
            word |= static_cast<uint32_t>(Changed(grey[x + i], fresh, level)) << (31 - i);
            grey[x + i] = fresh;
        }
        out[x / 32] = word;
    }
}

void LumaRowPlain(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range) {
    LumaRowReference(luma, grey, width, range);
}

void LumaThresholdRowPlain(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width, int32_t level,
                           LumaRange range) {
    LumaThresholdWords(luma, grey, out, width, level, range);
}

size_t ErodeWordsPlain(const uint32_t* /*source*/, uint32_t* /*out*/, size_t /*count*/,
                       size_t /*wordsPerRow*/) {
    return 0; // ErodeImage's own word loop does it all
}

} // namespace

const KernelTable& PlainKernels() {
    static constexpr KernelTable table{KernelSet::kPlain, GreyRowPlain, ThresholdRowPlain,
                                       GreyThresholdRowPlain, ErodeWordsPlain, LumaRowPlain,
                                       LumaThresholdRowPlain};
    return table;
}

} // namespace detail

// ---- choice of the set ----

namespace {

const KernelTable* TableOf(KernelSet set) {
    switch (set) {
#if TAVRIX_KERNELS_X86
    case KernelSet::kAvx2:
        return &detail::Avx2Kernels();
    case KernelSet::kSse2:
        return &detail::Sse2Kernels();
#endif
    case KernelSet::kPlain:
        return &detail::PlainKernels();
    default:
        return nullptr;
    }
}

const KernelTable* BestTable() {
    for (KernelSet set : {KernelSet::kAvx2, KernelSet::kSse2}) {
        if (KernelSetSupported(set)) {
            return TableOf(set);
        }
    }
    return &detail::PlainKernels();
}

// Null until the first kernel call or UseKernelSet; the tables themselves never change.
std::atomic<const KernelTable*> g_active{nullptr};

const KernelTable& Active() {
    const KernelTable* table = g_active.load(std::memory_order_acquire);
    if (table == nullptr) {
        const KernelTable* best = BestTable();
        // A set chosen meanwhile by UseKernelSet wins over the default.
        g_active.compare_exchange_strong(table, best, std::memory_order_acq_rel);
        table = g_active.load(std::memory_order_acquire);
    }
    return *table;
}

} // namespace

bool KernelSetSupported(KernelSet set) {
    switch (set) {
    case KernelSet::kPlain:
        return true;
#if TAVRIX_KERNELS_X86
    case KernelSet::kSse2:
        return true; // part of the x86-64 baseline this file is built for
    case KernelSet::kAvx2:
        __builtin_cpu_init();
        // libgcc and compiler-rt report AVX2 only when the system also saves the AVX registers.
        return __builtin_cpu_supports("avx2");
#endif
    default:
        return false;
    }
}

KernelSet ActiveKernelSet() {
    return Active().set;
}

bool UseKernelSet(KernelSet set) {
    if (!KernelSetSupported(set)) {
        return false;
    }
    g_active.store(TableOf(set), std::memory_order_release);
    return true;
}

const char* KernelSetName(KernelSet set) {
    switch (set) {
    case KernelSet::kPlain:
        return "plain";
    case KernelSet::kSse2:
        return "SSE2";
    case KernelSet::kAvx2:
        return "AVX2";
    }
    return "unknown";
}

// ---- the dispatching functions ----

void GreyRow(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes) {
    Active().greyRow(bgr, grey, width, readableBytes);
}

void ThresholdRow(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level) {
    Active().thresholdRow(a, b, out, width, level);
}

void GreyThresholdRow(const uint8_t* bgr, size_t readableBytes, int16_t* grey, uint32_t* out, int32_t width,
                      int32_t level) {
    Active().greyThresholdRow(bgr, readableBytes, grey, out, width, level);
}

void LumaRow(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range) {
    Active().lumaRow(luma, grey, width, range);
}

void LumaThresholdRow(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width, int32_t level,
                      LumaRange range) {
    Active().lumaThresholdRow(luma, grey, out, width, level, range);
}

void ErodeImage(const uint32_t* source, uint32_t* out, int32_t wordsPerRow, int32_t height,
                uint32_t lastWordMask) {
    if (wordsPerRow <= 0 || height <= 0) {
        return;
    }
    const size_t words = static_cast<size_t>(wordsPerRow);
    // Every row but the last as one run of words, each with the word after it and the two below.
    const size_t count = words * static_cast<size_t>(height - 1);
    size_t i = count > 0 ? Active().erodeWords(source, out, count, words) : 0;
    for (; i < count; ++i) {
        // In ascending order each word reads only words not written yet, so out may be source.
        const bool rowEnd = (i + 1) % words == 0;
        const uint32_t a = source[i];
        const uint32_t b = source[i + words];
        const uint32_t an = rowEnd ? 0 : source[i + 1];
        const uint32_t bn = rowEnd ? 0 : source[i + words + 1];
        out[i] = (a & (a << 1 | an >> 31)) & (b & (b << 1 | bn >> 31));
    }
    // A row's last word took its last pixel's right neighbour from the next row (or from padding):
    // that pixel has none and comes out 0, as do the padding bits. The others only read pixels of
    // their own row.
    const uint32_t rowEndMask = lastWordMask << 1;
    for (size_t end = words - 1; end < count; end += words) {
        out[end] &= rowEndMask;
    }
    std::fill(out + count, out + count + words, 0u);
}

// ---- kernels with one fast form (SSE2 where present): cheap next to the passes above ----

void AbsDiffRow(int16_t* a, const int16_t* b, size_t count) {
    size_t i = 0;
#if TAVRIX_KERNELS_X86
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
#if TAVRIX_KERNELS_X86
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
#if TAVRIX_KERNELS_X86
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
