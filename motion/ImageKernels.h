#pragma once
// The pixel work of the motion images, row by row (erosion: a whole image), in two forms: a fast
// one that the image classes use on every frame, and a plain one-pixel-at-a-time reference that
// defines the result. Both give the same bits for every input; the tests hold them to that.
//
// The fast form comes in kernel sets chosen once at start-up from what the processor offers: AVX2
// where present, else SSE2 (the x86-64 baseline, so the program runs on any x86-64), plain loops on
// other machines. Tests and benchmarks may switch sets to compare them.
//
// Pure functions without state (but for the chosen kernel set, an atomic): any thread.

#include <cstddef>
#include <cstdint>

namespace imagekernels {

enum class KernelSet { kPlain, kSse2, kAvx2 };

// Whether this build and this processor can run the set (kPlain always can).
bool KernelSetSupported(KernelSet set);
// The set the fast functions use now: the best supported one unless UseKernelSet chose another.
KernelSet ActiveKernelSet();
// Makes the fast functions use set from now on; false (and no change) when it is not supported.
bool UseKernelSet(KernelSet set);
const char* KernelSetName(KernelSet set);

// grey[x] = 11·B + 59·G + 3·R of the BGR pixel x. The fast form may read up to readableBytes bytes
// from bgr (at least width · 3); more room lets it keep the vector loop to the end of the row.
void GreyRow(const uint8_t* bgr, int16_t* grey, int32_t width, size_t readableBytes);
void GreyRowReference(const uint8_t* bgr, int16_t* grey, int32_t width);

// The bits of one binary row: bit (31 − x % 32) of word x / 32 is set exactly when
// |a[x] − b[x]| > level; the padding bits of the last word are 0. A level below 0 sets every bit.
void ThresholdRow(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level);
void ThresholdRowReference(const int16_t* a, const int16_t* b, uint32_t* out, int32_t width, int32_t level);

// GreyRow and ThresholdRow in one pass over a frame row: grey holds the previous frame's grey row
// on entry and this row's grey values on return; out gets the bits of ThresholdRow(previous, new).
// The new grey values never go through memory before they are compared. readableBytes as for
// GreyRow.
void GreyThresholdRow(const uint8_t* bgr, size_t readableBytes, int16_t* grey, uint32_t* out, int32_t width,
                      int32_t level);
void GreyThresholdRowReference(const uint8_t* bgr, int16_t* grey, uint32_t* out, int32_t width,
                               int32_t level);

// The luma plane of a YUV frame read onto the grey scale of the BGR frames (0 for black, 18615 for
// white), so that a grey level means the same step of brightness on both kinds of frames:
//   studio range (BT.601/BT.709 "limited", Y 16..235): grey = 85 · clamp(Y − 16, 0, 219), exact
//     since 219 · 85 = 18615; a neutral grey v (R = G = B) that a converter wrote as
//     Y = 16 + round(219 · v / 255) lands within 43 (half a luma step) of its BGR grey 73 · v;
//   full range (JPEG, Y 0..255): grey = 73 · Y, exactly the BGR grey of a neutral pixel.
// For coloured pixels the two differ by design: luma weighs R, G, B as 0.299, 0.587, 0.114, the
// BGR grey as 3/73, 59/73, 11/73; the detector's decisions then follow the luma's weights.
enum class LumaRange { kStudio, kFull };

inline int16_t GreyOfLuma(uint8_t y, LumaRange range) {
    if (range == LumaRange::kFull) {
        return static_cast<int16_t>(73 * y);
    }
    const int32_t v = y < 16 ? 0 : (y > 235 ? 219 : y - 16);
    return static_cast<int16_t>(85 * v);
}

// grey[x] = GreyOfLuma(luma[x]). Reads exactly width bytes.
void LumaRow(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range);
void LumaRowReference(const uint8_t* luma, int16_t* grey, int32_t width, LumaRange range);

// LumaRow and ThresholdRow in one pass, as GreyThresholdRow for BGR: grey holds the previous
// frame's grey row on entry and this row's on return; out gets the changed bits. Reads exactly
// width bytes of luma.
void LumaThresholdRow(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width, int32_t level,
                      LumaRange range);
void LumaThresholdRowReference(const uint8_t* luma, int16_t* grey, uint32_t* out, int32_t width,
                               int32_t level, LumaRange range);

// The 2×2 erosion: out(x, y) = s(x, y) & s(x+1, y) & s(x, y+1) & s(x+1, y+1), pixels past the
// right edge counting as 0. ErodeImage takes a whole image of height rows of wordsPerRow words that
// follow each other without gaps, in one pass over all its words (rows of a few dozen words would
// otherwise cost more in row starts and ends than in work); its last row comes out all 0.
// lastWordMask keeps the valid bits of a row's last word; padding bits of the source are ignored
// and come out 0. out may be source itself, or else must not overlap it. The reference does one
// row from row y and row y + 1 (next, null for the last row), the width in pixels.
void ErodeImage(const uint32_t* source, uint32_t* out, int32_t wordsPerRow, int32_t height,
                uint32_t lastWordMask);
void ErodeRowReference(const uint32_t* row, const uint32_t* next, uint32_t* out, int32_t width);

// The following have one fast form (SSE2 where present), whatever the kernel set: they cost little
// next to the work above.

// a[i] = |a[i] − b[i]| (modulo 2^16, as a 16-bit result).
void AbsDiffRow(int16_t* a, const int16_t* b, size_t count);

// dst[i] &= ~mask[i].
void AndNotWords(uint32_t* dst, const uint32_t* mask, size_t count);

// Set bits of words[0..count) counted word by word, stopping after the word at which the running
// count reaches limit (a limit of 0 or less stops after the first word).
int32_t CountBits(const uint32_t* words, size_t count, int32_t limit);
int32_t CountBitsReference(const uint32_t* words, size_t count, int32_t limit);

// Set bits of one word without the POPCNT instruction (not part of the x86-64 baseline).
inline int32_t PopCount32(uint32_t v) {
    v = v - ((v >> 1) & 0x55555555u);
    v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
    v = (v + (v >> 4)) & 0x0F0F0F0Fu;
    return static_cast<int32_t>((v * 0x01010101u) >> 24);
}

// The mask of the valid bits of a row's last word for a row of width pixels.
inline uint32_t LastWordMask(int32_t width) {
    const int32_t used = width % 32;
    return used == 0 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> used);
}

} // namespace imagekernels
