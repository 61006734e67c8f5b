#pragma once
// Text from documents and logs on its way to a terminal: control characters in it (an escape
// sequence in a camera name retitles or clears the terminal; U+009B is a control sequence
// introducer of its own) must never reach the terminal raw. The text is split into valid UTF-8
// characters, control characters (C0 U+0000-U+001F, DEL U+007F, C1 U+0080-U+009F as UTF-8) and
// bytes that are no valid UTF-8 (which a terminal in another encoding might read as C1 controls).
// "doc show" escapes them, the headless shell's echo replaces them.
//
// Pure functions: any thread.

#include <functional>
#include <string>
#include <string_view>

namespace TerminalText {

enum class Piece {
    Text,    // one or more valid UTF-8 characters that are no controls
    Control, // one control character (1 byte for C0 and DEL, 2 bytes for C1)
    Invalid, // one byte that is no part of valid UTF-8
};

// Calls emit for each piece of text, in order; the pieces together are text.
void Split(std::string_view text, const std::function<void(Piece, std::string_view)>& emit);

// Every byte of a control character or of invalid UTF-8 as \xNN (two lower-case hexadecimal
// digits); everything else unchanged. U+009B becomes \xc2\x9b.
std::string EscapeControls(std::string_view text);
// Each control character as one blank, each invalid byte as U+FFFD; everything else unchanged.
std::string ReplaceControls(std::string_view text);

// \xNN of one byte.
std::string HexEscape(unsigned char byte);

} // namespace TerminalText
