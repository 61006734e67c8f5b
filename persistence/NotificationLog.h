#pragma once
// The notification log: the user-visible list of run-time happenings (program start and stop,
// camera state changes, chain activations, action results, reported errors), each with a local
// time stamp, a document name, a camera name and a text. A bounded ring in memory, saved into the
// user database at exit and read back at start-up.
//
// AddEntry is called from every thread of the program.

#include "platform/Time.h"

#include <string>

struct CLogEntry {
    platform::SystemTime time; // local time
    std::string docName;
    std::string camName;
    std::string text;
};

class CNotificationLog {
public:
    static CNotificationLog& Instance();

    // Adds an entry stamped with the current local time. Safe and cheap from any thread.
    void AddEntry(const std::string& docName, const std::string& camName, const std::string& text);

    // Number of entries and entry access, index 0 = oldest.
    int GetCount() const;
    CLogEntry GetEntry(int index) const;

    // The rest of the interface (capacity, load and save, change listeners) is declared with the
    // implementation.
};
