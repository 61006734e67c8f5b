#pragma once
// The "tavrix doc" commands: create a document with the defaults of a new document, show every
// stored key of one, set one stored value keeping its kind.
//
// Kinds follow the typed document store: integer, boolean (an integer 0 or 1 under a key the
// program reads as a flag), text, guid (16 bytes under ".MediaSubtype"), blob (other bytes).
// Values are shown one a line, tab-separated (key, kind, value), in key order: integers in
// decimal, booleans as true/false (any other stored number as it is), texts with backslash,
// tab, line feed and carriage return escaped as \\ \t \n \r and every other control character
// (C0, DEL, C1) and byte that is no valid UTF-8 as \xNN, one escape a byte, so that a crafted
// document cannot drive the terminal; GUIDs in registry form, blobs as lower-case hexadecimal.
// "doc set" reads the same escapes back, and refuses numbers outside the ranges the camera sheet
// and the schedule editor allow.
//
// Run on the main thread of a command-line invocation; errors go to the error stream as one
// clear line, never a crash.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace DocCommands {

// "doc create": refuses an existing file; the record folder is created when missing.
int Create(const std::string& file, const std::vector<std::string>& cameras,
           const std::optional<std::string>& recordPath, std::ostream& out, std::ostream& err);
int Show(const std::string& file, std::ostream& out, std::ostream& err);
int Set(const std::string& file, const std::string& key, const std::string& value, std::ostream& out,
        std::ostream& err);

// ---- the pieces, for tests ----

enum class Kind { Integer, Boolean, Text, Guid, Blob, Null };
const char* KindName(Kind kind);
// The kind of a stored row: its key and which value column holds a value (and its size).
enum class Column { Integer, Text, Blob, None };
Kind KindOf(const std::string& key, Column column, size_t blobSize);

std::string EscapeText(const std::string& text);
// False for a malformed escape (a backslash before anything but \ t n r or xNN, or at the end).
bool UnescapeText(const std::string& text, std::string& result);
std::string HexOf(const std::vector<uint8_t>& bytes);
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes);
// A 32-bit integer in decimal (optional sign), nothing else.
bool ParseInt32(const std::string& text, int32_t& value);
// true/false, 1/0, yes/no, on/off (any case).
bool ParseBoolean(const std::string& text, bool& value);

} // namespace DocCommands
