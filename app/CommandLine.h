#pragma once
// The command line of build/bin/tavrix:
//
//   tavrix [--activate] [--screenshot PNG [--screenshot-delay SECONDS]] [FILE.tvrx...]
//                                      the desktop application
//   tavrix --version | -v
//   tavrix devices                     capture devices and compressors
//   tavrix sysinfo                     the system information report
//   tavrix --headless [--activate] [--duration SECONDS] [--stats] [--mqtt HOST[:PORT]] [--http [ADDR:]PORT] FILE.tvrx...
//   tavrix doc create FILE [--camera DISPLAYNAME]... [--record-path DIR]
//   tavrix doc show FILE
//   tavrix doc set FILE KEY VALUE
//   tavrix doc export FILE [--with-secrets]
//   tavrix doc import JSON FILE [--replace]
//   tavrix doc schema
//   tavrix fleet status|watch [--mqtt HOST[:PORT]] [--prefix PREFIX] [--count N] [--timeout SECONDS]
//   tavrix user add NAME [--admin] | user remove NAME | user list | user token NAME
//   tavrix recordings list|prune|import ...   (RecordingsCommands.h parses the rest)
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
        DocSchema,
        FleetStatus,
        FleetWatch,
        UserAdd,
        UserRemove,
        UserList,
        UserToken,
        Recordings
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
    // Headless and fleet: the MQTT broker instead of the settings' one
    std::string mqtt;
    // fleet: the topic prefix instead of the settings' one; watch: end after N events; status:
    // how long to wait for the broker, watch: end after that time
    std::string fleetPrefix;
    int fleetCount = -1;
    double fleetTimeoutSeconds = -1;
    // Headless: the web server's "[ADDR:]PORT", empty when not asked for
    std::string httpListen;
    // user: the account's name and role
    std::string userName;
    bool userAdmin = false;
    // recordings: the arguments after "recordings"
    std::vector<std::string> arguments;
    // Set for Usage when the command line was wrong.
    std::string error;

    static CCommandLine Parse(int argc, const char* const* argv);
    static const char* UsageText();
};
