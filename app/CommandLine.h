#pragma once
// The command line of build/bin/tavrix:
//
//   tavrix [--activate] [--screenshot PNG [--screenshot-delay SECONDS]] [FILE.tvrx...]
//                                      the desktop application
//   tavrix --version | -v
//   tavrix devices                     capture devices and compressors
//   tavrix sysinfo                     the system information report
//   tavrix --headless [--activate] [--duration SECONDS] [--stats] FILE.tvrx...
//   tavrix doc create FILE [--camera DISPLAYNAME]... [--record-path DIR]
//   tavrix doc show FILE
//   tavrix doc set FILE KEY VALUE
//   tavrix doc export FILE [--with-secrets]
//   tavrix doc import JSON FILE [--replace]
//   tavrix doc schema
//
// Parsed on the main thread before anything starts.

#include <optional>
#include <string>
#include <vector>

struct CCommandLine {
    enum class Command {
        Usage,
        Help,
        Gui,
        Version,
        Devices,
        SysInfo,
        Headless,
        DocCreate,
        DocShow,
        DocSet,
        DocExport,
        DocImport,
        DocSchema
    };

    Command command = Command::Usage;
    // Gui and Headless
    std::vector<std::string> documents;
    bool activate = false;
    double durationSeconds = -1; // below 0: until SIGINT, SIGTERM or SIGHUP
    bool stats = false;
    // Gui: save a picture of the main window after a delay, then exit
    std::string screenshotPath;
    double screenshotDelaySeconds = 8.0;
    // doc
    std::string file;
    std::vector<std::string> cameras;
    std::optional<std::string> recordPath;
    std::string key;
    std::string value;
    // doc export and import
    std::string json;
    bool withSecrets = false;
    bool replace = false;
    // Set for Usage when the command line was wrong.
    std::string error;

    static CCommandLine Parse(int argc, const char* const* argv);
    static const char* UsageText();
};
