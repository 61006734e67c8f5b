#pragma once
// What the flat keys of a document hold beyond the column their value sits in: the keys the program
// reads as flags (integers 0 or 1) and the key that holds a GUID (16 bytes). The document commands
// and the JSON form of a document both take the kind of a stored value from here.
//
// Plain functions over constant data: any thread.

#include <string>

namespace StoredKeys {

// The last part of a dotted key ("Cameras.0.AreaMaskEnabled" gives "AreaMaskEnabled").
std::string LastPart(const std::string& key);
// True for the keys (by their last part) that the program stores and reads as flags.
bool IsFlag(const std::string& key);
// True for the key (by its last part) that holds a GUID of 16 bytes.
bool IsGuid(const std::string& key);

} // namespace StoredKeys
