#include "motion/TextOverlay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint8_t kBackground = 0x33;
constexpr size_t kGuard = 64;

// A top-down BGR frame with guard bytes before and after it, to catch writes outside the frame.
struct Frame {
    Frame(int32_t w, int32_t h, int32_t strideBytes = 0)
        : width(w), height(h), stride(strideBytes == 0 ? w * 3 : strideBytes),
          bytes(kGuard * 2 + static_cast<size_t>(stride) * h, kBackground) {}
    uint8_t* Data() { return bytes.data() + kGuard; }
    const uint8_t* Pixel(int32_t x, int32_t memoryRow) const {
        return bytes.data() + kGuard + static_cast<size_t>(memoryRow) * stride + 3 * x;
    }
    bool Untouched(int32_t x, int32_t memoryRow) const {
        const uint8_t* p = Pixel(x, memoryRow);
        return p[0] == kBackground && p[1] == kBackground && p[2] == kBackground;
    }
    bool Green(int32_t x, int32_t memoryRow) const {
        const uint8_t* p = Pixel(x, memoryRow);
        return p[0] == 0 && p[1] == 255 && p[2] == 0;
    }
    bool Black(int32_t x, int32_t memoryRow) const {
        const uint8_t* p = Pixel(x, memoryRow);
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; ++i) {
            if (bytes[i] != kBackground || bytes[bytes.size() - 1 - i] != kBackground) {
                return false;
            }
        }
        for (int32_t y = 0; y < height; ++y) { // row padding
            for (int32_t i = width * 3; i < stride; ++i) {
                if (bytes[kGuard + static_cast<size_t>(y) * stride + i] != kBackground) {
                    return false;
                }
            }
        }
        return true;
    }
    int32_t width, height, stride;
    std::vector<uint8_t> bytes;
};

// Checks that the glyph of c is drawn with its left edge at column x and its top glyph row at
// memory row top, set bits green and clear bits black.
void ExpectGlyph(const Frame& frame, char c, int32_t x, int32_t top) {
    const uint8_t glyph = CTextOverlay::GlyphIndex(c);
    ASSERT_NE(glyph, CTextOverlay::kNoGlyph) << c;
    for (int32_t r = 0; r < 10; ++r) {
        const uint8_t bits = CTextOverlay::GlyphRow(glyph, r);
        for (int32_t b = 0; b < 8; ++b) {
            const bool on = (bits >> (7 - b)) & 1;
            ASSERT_TRUE(on ? frame.Green(x + b, top + r) : frame.Black(x + b, top + r))
                << "char '" << c << "' row " << r << " bit " << b;
        }
    }
}

} // namespace

TEST(TextOverlay, CharacterTableMapsEveryGlyphAndNothingElse) {
    const std::string glyphs = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz;:-_/.";
    ASSERT_EQ(glyphs.size(), 68u);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        EXPECT_EQ(CTextOverlay::GlyphIndex(glyphs[i]), i) << glyphs[i];
    }
    int mapped = 0;
    for (int c = 0; c < 256; ++c) {
        mapped += CTextOverlay::GlyphIndex(static_cast<char>(c)) != CTextOverlay::kNoGlyph;
    }
    EXPECT_EQ(mapped, 68);
    for (char c : {' ', '@', ',', '%', '\0', '\xff', '\xe4'}) {
        EXPECT_EQ(CTextOverlay::GlyphIndex(c), CTextOverlay::kNoGlyph) << int(c);
    }
}

TEST(TextOverlay, GlyphTableSpotChecks) {
    struct Row {
        char c;
        int row;
        uint8_t bits;
    } rows[] = {{'0', 0, 0x78}, {'4', 4, 0xfc}, {'9', 7, 0xf0}, {'A', 7, 0xee}, {'M', 0, 0xef},
                {'Q', 8, 0x3e}, {'V', 0, 0xe7}, {'a', 7, 0x77}, {'g', 9, 0x78}, {'j', 9, 0xf0},
                {'m', 3, 0xda}, {'q', 9, 0x0e}, {'y', 9, 0x70}, {';', 8, 0x40}, {':', 7, 0x30},
                {'-', 4, 0xfc}, {'_', 9, 0xff}, {'/', 8, 0x80}, {'.', 6, 0x30}, {'.', 8, 0x00}};
    for (const Row& r : rows) {
        EXPECT_EQ(CTextOverlay::GlyphRow(CTextOverlay::GlyphIndex(r.c), r.row), r.bits)
            << r.c << " row " << r.row;
    }
    EXPECT_EQ(CTextOverlay::GlyphRow(68, 0), 0);
    EXPECT_EQ(CTextOverlay::GlyphRow(0, 10), 0);
}

TEST(TextOverlay, TextStandsUprightCountingYFromTheBottom) {
    Frame frame(40, 30);
    CTextOverlay overlay;
    overlay.Init(40, 30, false);
    overlay.DrawText(frame.Data(), 0, 0, "Qg");
    // y = 0: the lowest line is the bottom memory row (29), the glyph's top row lands 9 above.
    ExpectGlyph(frame, 'Q', 0, 20);
    ExpectGlyph(frame, 'g', 8, 20);
    EXPECT_TRUE(frame.Untouched(0, 19));
    EXPECT_TRUE(frame.Untouched(16, 25));
    overlay.DrawText(frame.Data(), 3, 20, "A"); // y = height − 10: the top rows of the frame
    ExpectGlyph(frame, 'A', 3, 0);
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(TextOverlay, AllSixtyEightGlyphsFitExactlyWithoutTouchingAnythingElse) {
    const std::string glyphs = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz;:-_/.";
    Frame frame(68 * 8, 10, 68 * 8 * 3 + 4); // padded rows
    CTextOverlay overlay;
    overlay.Init(68 * 8, 10, false);
    overlay.DrawText(frame.Data(), 0, 0, glyphs, frame.stride);
    for (size_t i = 0; i < glyphs.size(); ++i) {
        ExpectGlyph(frame, glyphs[i], static_cast<int32_t>(i) * 8, 0);
    }
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(TextOverlay, AtMostEightyCharacters) {
    Frame frame(1000, 10);
    CTextOverlay overlay;
    overlay.Init(1000, 10, false);
    overlay.DrawText(frame.Data(), 0, 0, std::string(100, '8'));
    ExpectGlyph(frame, '8', 79 * 8, 0);
    for (int32_t x = 640; x < 1000; ++x) {
        EXPECT_TRUE(frame.Untouched(x, 5)) << x;
    }
}

TEST(TextOverlay, RightBorderDrawsWholeCharactersOnly) {
    Frame frame(30, 10);
    CTextOverlay overlay;
    overlay.Init(30, 10, false);
    overlay.DrawText(frame.Data(), 10, 0, "ABCDEF"); // (30 − 10) / 8 = 2 characters
    ExpectGlyph(frame, 'A', 10, 0);
    ExpectGlyph(frame, 'B', 18, 0);
    for (int32_t r = 0; r < 10; ++r) {
        for (int32_t x = 26; x < 30; ++x) {
            EXPECT_TRUE(frame.Untouched(x, r)) << x << "," << r;
        }
    }
    overlay.DrawText(frame.Data(), 25, 0, "X"); // no whole character fits
    overlay.DrawText(frame.Data(), 30, 0, "X");
    overlay.DrawText(frame.Data(), 1000, 0, "X");
    EXPECT_TRUE(frame.Untouched(26, 5));
    EXPECT_TRUE(frame.GuardsIntact());
}

TEST(TextOverlay, BottomAndTopBordersClipRowsWithoutWritingOutside) {
    CTextOverlay overlay;
    {
        Frame frame(16, 12);
        overlay.Init(16, 12, false);
        overlay.DrawText(frame.Data(), 0, -4, "E"); // glyph rows 6..9 below the picture
        // Glyph rows 0..5 land on picture rows 5..0 from the bottom: memory rows 6..11.
        for (int32_t r = 0; r < 6; ++r) {
            const uint8_t bits = CTextOverlay::GlyphRow(CTextOverlay::GlyphIndex('E'), r);
            EXPECT_EQ(frame.Green(0, 6 + r), ((bits >> 7) & 1) == 1) << r;
            EXPECT_FALSE(frame.Untouched(1, 6 + r));
        }
        EXPECT_TRUE(frame.Untouched(0, 5));
        EXPECT_TRUE(frame.GuardsIntact());
    }
    {
        Frame frame(16, 12);
        overlay.Init(16, 12, false);
        overlay.DrawText(frame.Data(), 0, 9, "E"); // glyph rows 0..6 above the picture
        for (int32_t m = 0; m < 3; ++m) {
            EXPECT_FALSE(frame.Untouched(1, m)) << m;
        }
        EXPECT_TRUE(frame.Untouched(1, 3));
        overlay.DrawText(frame.Data(), 0, 500, "E");
        overlay.DrawText(frame.Data(), 0, -500, "E");
        overlay.DrawText(frame.Data(), -4, 0, "EE"); // left columns clipped
        EXPECT_TRUE(frame.Black(0, 11) || frame.Green(0, 11));
        EXPECT_TRUE(frame.GuardsIntact());
    }
    {
        Frame frame(16, 12);
        overlay.Init(16, 12, false);
        overlay.DrawText(frame.Data(), 0, 0, "A", 16 * 3 - 1); // stride shorter than a row
        overlay.DrawText(nullptr, 0, 0, "A");
        EXPECT_TRUE(frame.Untouched(4, 11));
    }
}

TEST(TextOverlay, BlankLeavesAGapBlackUnlessTransparent) {
    Frame frame(24, 10);
    CTextOverlay overlay;
    overlay.Init(24, 10, false);
    overlay.DrawText(frame.Data(), 0, 0, "1 1");
    for (int32_t r = 0; r < 10; ++r) {
        for (int32_t x = 8; x < 16; ++x) {
            EXPECT_TRUE(frame.Black(x, r));
        }
    }
    Frame clear(24, 10);
    overlay.Init(24, 10, true);
    overlay.DrawText(clear.Data(), 0, 0, "1 1");
    const uint8_t one = CTextOverlay::GlyphIndex('1');
    for (int32_t r = 0; r < 10; ++r) {
        for (int32_t x = 0; x < 24; ++x) {
            const bool inGlyph = x < 8 || x >= 16;
            const bool on = inGlyph && ((CTextOverlay::GlyphRow(one, r) >> (7 - x % 8)) & 1);
            EXPECT_TRUE(on ? clear.Green(x, r) : clear.Untouched(x, r)) << x << "," << r;
        }
    }
}
