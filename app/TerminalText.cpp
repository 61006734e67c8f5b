#include "app/TerminalText.h"

namespace TerminalText {

namespace {

// The length of the valid UTF-8 character at text[i], or 0 when the byte there starts none.
size_t CharacterLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;  // the second byte's bounds exclude overlong forms, surrogates and
    unsigned char high = 0xbf; // code points beyond U+10FFFF
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) {
            return 0;
        }
    }
    return length;
}

bool IsControl(std::string_view text, size_t i, size_t length) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (length == 1) {
        return lead < 0x20 || lead == 0x7f;
    }
    // U+0080..U+009F: C2 80..C2 9F.
    return length == 2 && lead == 0xc2 && static_cast<unsigned char>(text[i + 1]) <= 0x9f;
}

} // namespace

void Split(std::string_view text, const std::function<void(Piece, std::string_view)>& emit) {
    size_t runStart = 0;
    size_t i = 0;
    const auto flushRun = [&] {
        if (i > runStart) {
            emit(Piece::Text, text.substr(runStart, i - runStart));
        }
    };
    while (i < text.size()) {
        const size_t length = CharacterLength(text, i);
        if (length != 0 && !IsControl(text, i, length)) {
            i += length;
            continue;
        }
        flushRun();
        const size_t taken = length == 0 ? 1 : length;
        emit(length == 0 ? Piece::Invalid : Piece::Control, text.substr(i, taken));
        i += taken;
        runStart = i;
    }
    flushRun();
}

std::string HexEscape(unsigned char byte) {
    static const char kDigits[] = "0123456789abcdef";
    return std::string("\\x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

std::string EscapeControls(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    Split(text, [&](Piece piece, std::string_view bytes) {
        if (piece == Piece::Text) {
            result.append(bytes);
            return;
        }
        for (const char c : bytes) {
            result += HexEscape(static_cast<unsigned char>(c));
        }
    });
    return result;
}

std::string ReplaceControls(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    Split(text, [&](Piece piece, std::string_view bytes) {
        switch (piece) {
        case Piece::Text:
            result.append(bytes);
            break;
        case Piece::Control:
            result += ' ';
            break;
        case Piece::Invalid:
            result += "\xef\xbf\xbd"; // U+FFFD REPLACEMENT CHARACTER
            break;
        }
    });
    return result;
}

} // namespace TerminalText
