#pragma once
// The small value-access interface through which a settings group reads and writes its values, so
// that a group never touches the settings file itself. All four operations work on the group that
// the settings manager has opened for the group being loaded or saved.
//
// Used on the thread that loads and saves the settings (the user interface thread).

#include <cstdint>
#include <string>

class CRegAccessInterface {
public:
    virtual ~CRegAccessInterface() = default;
    // Stores a DWORD (a bare integer in the settings file).
    virtual void WriteDword(const std::string& name, uint32_t value) = 0;
    // Stores a string (a quoted text in the settings file).
    virtual void WriteString(const std::string& name, const std::string& text) = 0;
    // Reads a DWORD; a missing value, or one that is not a DWORD (a quoted text, junk), reads as 0.
    virtual void ReadDword(const std::string& name, uint32_t& value) = 0;
    // Reads a string; a missing value, or one that is not a string, leaves text unchanged.
    virtual void ReadString(const std::string& name, std::string& text) = 0;
};
