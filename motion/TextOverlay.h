#pragma once
// Draws short texts (time stamp, camera name, pixel count, frame rate) into a 24-bit BGR frame
// with a fixed 8×10 pixel font: set font bits green, clear bits black or, in transparent mode,
// left as they were. Positions count from the picture's bottom-left corner: y is the picture row
// of the text's lowest line counted from the bottom edge (memory row height − 1 − y of a top-down
// frame), so a text at y = height − 15 stands near the top and one at y = 10 near the bottom, and
// every text reads upright.
//
// Clipping: at most 80 characters; at the right border only whole characters are drawn; rows and
// columns outside the frame are skipped, so no position writes outside the frame.
//
// The camera view sets one up per frame on the streaming thread; no lock.

#include "motion/YuvPlanes.h"

#include <array>
#include <cstdint>
#include <string_view>

class CTextOverlay {
public:
    static constexpr int32_t kGlyphWidth = 8;
    static constexpr int32_t kGlyphHeight = 10;
    static constexpr int32_t kMaxChars = 80;
    static constexpr int32_t kGlyphCount = 68;
    static constexpr uint8_t kNoGlyph = 255;

    void Init(int32_t width, int32_t height, bool transparent);
    // Draws text with its lower-left corner at (x, y) into a frame of the Init size whose rows lie
    // strideBytes apart (0: width · 3). A null frame or a stride shorter than a row draws nothing.
    void DrawText(uint8_t* frame, int32_t x, int32_t y, std::string_view text, int32_t strideBytes = 0);

    // The same into a YUV 4:2:0 frame of the Init size: the font's green and black in BT.601 at
    // the frame's range; a chroma sample that a set font pixel shares takes the text's colour.
    // Planes that do not fit the width (IsValid) draw nothing.
    void DrawText(const CYuvPlanes& frame, int32_t x, int32_t y, std::string_view text);

    // The glyph index of a character (0..67), or kNoGlyph.
    static uint8_t GlyphIndex(char c);
    // Row r (0 = top) of a glyph, the most significant bit the leftmost pixel.
    static uint8_t GlyphRow(int32_t glyph, int32_t row);

private:
    // Calls pixel(memoryRow, column, on) for every pixel the text draws (clear font pixels only
    // when not transparent), clipped to the frame.
    template <typename Pixel>
    void ForEachPixel(int32_t x, int32_t y, std::string_view text, const Pixel& pixel);

    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_transparent = false;
    std::array<uint8_t, kMaxChars> m_glyphs{};
};
