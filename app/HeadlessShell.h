#pragma once
// The headless shell: runs documents without windows until SIGINT or SIGTERM (or for a given time),
// unattended: no error dialog is ever shown; every notification log entry is echoed to standard
// output as it is added (local time, document, camera and text separated by tabs) and every
// reported error also goes to standard error; under systemd the entries go to the journal instead
// (JournalLog.h). A second SIGINT or SIGTERM ends the process at once. SIGHUP reads the settings
// file again and re-opens the documents whose files changed (HeadlessReload.h).
//
// Runs on the main thread, which delivers the dispatcher's messages; BlockTerminationSignals must
// be called before any other thread starts, so that only the shell's signal thread takes them.

#include "platform/Time.h"

#include <string>
#include <vector>

struct CHeadlessOptions {
    std::vector<std::string> documents;
    bool activate = false;       // activate every camera after opening ("Activate all cameras")
    double durationSeconds = -1; // above 0: end by itself after that time, as SIGTERM would
    bool stats = false;          // per-camera frame and recording figures on standard error at exit
    bool tracingStarted = false;
};

namespace HeadlessShell {

// Blocks SIGINT, SIGTERM and SIGHUP (and the shell's own wake-up signal) in the calling thread and in
// every thread it starts afterwards.
void BlockTerminationSignals();
// Runs the documents; the exit status: 0, or 1 when the application could not start or no
// document could be opened.
int Run(const CHeadlessOptions& options);

// The echo line of a log entry (without the line feed): control characters in the fields become
// blanks, so that every entry stays one line of four tab-separated fields.
std::string EchoLine(const platform::SystemTime& time, const std::string& document, const std::string& camera,
                     const std::string& text);

} // namespace HeadlessShell
