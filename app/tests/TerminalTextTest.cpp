// Text on its way to a terminal: control characters (C0, DEL, C1) and bytes that are no UTF-8
// never pass raw, whatever a document or a log entry holds; every other character passes as it is.

#include "app/TerminalText.h"
#include "app/HeadlessShell.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// True when text holds a C0 control, DEL, a C1 control in UTF-8 or a lone byte 0x80-0x9f.
bool HoldsControls(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f) {
            return true;
        }
        if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            return true;
        }
    }
    return false;
}

struct Case {
    const char* name;
    std::string text;
    std::string escaped;
    std::string replaced;
};

const Case kCases[] = {
    {"plain", "Porch 2", "Porch 2", "Porch 2"},
    {"title sequence", "a\x1b]0;owned\x07z", "a\\x1b]0;owned\\x07z", "a ]0;owned z"},
    {"clear screen", "\x1b[2J\x1b[H", "\\x1b[2J\\x1b[H", " [2J [H"},
    {"C1 CSI U+009B",
     "x\xc2\x9b"
     "31my",
     "x\\xc2\\x9b31my", "x 31my"},
    {"C1 first and last", "\xc2\x80-\xc2\x9f", "\\xc2\\x80-\\xc2\\x9f", " - "},
    {"no-break space is text", "a\xc2\xa0z", "a\xc2\xa0z", "a\xc2\xa0z"},
    {"accents and symbols", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7",
     "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7"},
    {"DEL and NUL", std::string("a\x7f", 2) + std::string(1, '\0') + "b", "a\\x7f\\x00b", "a  b"},
    {"lone C1 byte",
     "a\x9b"
     "b",
     "a\\x9bb",
     "a\xef\xbf\xbd"
     "b"},
    {"overlong slash", "\xc0\xaf", "\\xc0\\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},
    {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
    {"cut short at the end", "ok\xe2\x82", "ok\\xe2\\x82", "ok\xef\xbf\xbd\xef\xbf\xbd"},
    {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80",
     "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
};

} // namespace

TEST(TerminalTextTest, ControlsAndInvalidBytesAreEscapedOrReplacedAndTextIsKept) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TerminalText::EscapeControls(c.text), c.escaped);
        EXPECT_EQ(TerminalText::ReplaceControls(c.text), c.replaced);
        EXPECT_FALSE(HoldsControls(TerminalText::EscapeControls(c.text)));
        EXPECT_FALSE(HoldsControls(TerminalText::ReplaceControls(c.text)));
    }
}

TEST(TerminalTextTest, TheHeadlessEchoCarriesNoControlOfADocumentOrCameraName) {
    const platform::SystemTime time{2026, 12, 2, 8, 9, 30, 5, 0};
    const std::string line = HeadlessShell::EchoLine(time, "Doc\x1b]0;owned\x07",
                                                     "Cam\xc2\x9b"
                                                     "2J",
                                                     "Started recording to '/r/a\xc2\x85.wmv'");
    EXPECT_EQ(line, "2026-12-08 09:30:05\tDoc ]0;owned \tCam 2J\tStarted recording to '/r/a .wmv'");
    std::string fields = line;
    std::replace(fields.begin(), fields.end(), '\t', '|');
    EXPECT_FALSE(HoldsControls(fields)) << "nothing but the field separators";
}
