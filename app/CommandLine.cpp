#include "app/CommandLine.h"

#include "web/WebServer.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

CCommandLine Fail(const std::string& error) {
    CCommandLine line;
    line.command = CCommandLine::Command::Usage;
    line.error = error;
    return line;
}

bool ParseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    seconds = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(seconds) && seconds > 0 &&
           seconds <= 31536000.0;
}

CCommandLine ParseHeadless(const std::vector<std::string>& args) {
    CCommandLine line;
    line.command = CCommandLine::Command::Headless;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--activate") {
            line.activate = true;
        } else if (!optionsEnded && arg == "--stats") {
            line.stats = true;
        } else if (!optionsEnded && arg == "--http") {
            std::string address;
            int port = 0;
            if (i + 1 >= args.size() || !CWebServer::ParseListen(args[i + 1], address, port)) {
                return Fail("--http needs [ADDRESS:]PORT, an IP address and a port from 1 to 65535");
            }
            line.httpListen = args[++i];
        } else if (!optionsEnded && arg == "--duration") {
            if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], line.durationSeconds)) {
                return Fail("--duration needs a number of seconds above 0");
            }
            ++i;
        } else if (!optionsEnded && arg == "--mqtt") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return Fail("--mqtt needs HOST or HOST:PORT");
            }
            line.mqtt = args[++i];
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'");
        } else {
            line.documents.push_back(arg);
        }
    }
    if (line.documents.empty()) {
        return Fail("--headless needs at least one document file");
    }
    return line;
}

// The desktop application: document files and its few options.
CCommandLine ParseGui(const std::vector<std::string>& args) {
    CCommandLine line;
    line.command = CCommandLine::Command::Gui;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg == "--activate") {
            line.activate = true;
        } else if (!optionsEnded && arg == "--screenshot") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return Fail("--screenshot needs a file name");
            }
            line.screenshotPath = args[++i];
        } else if (!optionsEnded && arg == "--screenshot-delay") {
            if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], line.screenshotDelaySeconds)) {
                return Fail("--screenshot-delay needs a number of seconds above 0");
            }
            ++i;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'");
        } else {
            line.documents.push_back(arg);
        }
    }
    return line;
}

// "doc export", "doc import" and "doc schema": the JSON form of a document.
std::optional<CCommandLine> ParseDocJson(const std::string& verb, const std::vector<std::string>& args) {
    CCommandLine line;
    std::vector<std::string> files;
    const char* flag = verb == "export" ? "--with-secrets" : verb == "import" ? "--replace" : nullptr;
    if (flag == nullptr && verb != "schema") {
        return std::nullopt;
    }
    for (size_t i = 1; i < args.size(); ++i) {
        if (flag != nullptr && args[i] == flag) {
            (verb == "export" ? line.withSecrets : line.replace) = true;
        } else if (args[i].size() > 1 && args[i][0] == '-') {
            return Fail("unknown option '" + args[i] + "'");
        } else {
            files.push_back(args[i]);
        }
    }
    if (verb == "schema") {
        line.command = CCommandLine::Command::DocSchema;
        return files.empty() ? line : Fail("doc schema takes no file");
    }
    if (verb == "export") {
        line.command = CCommandLine::Command::DocExport;
        if (files.size() != 1) {
            return Fail("doc export takes one document file");
        }
        line.file = files[0];
        return line;
    }
    line.command = CCommandLine::Command::DocImport;
    if (files.size() != 2) {
        return Fail("doc import takes a JSON file (- for standard input) and a document file");
    }
    line.json = files[0];
    line.file = files[1];
    return line;
}

CCommandLine ParseDoc(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Fail("doc needs create, show, set, export, import or schema");
    }
    if (auto line = ParseDocJson(args[0], args)) {
        return *line;
    }
    CCommandLine line;
    const std::string& verb = args[0];
    if (verb == "create") {
        line.command = CCommandLine::Command::DocCreate;
        for (size_t i = 1; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--camera" || arg == "--record-path") {
                if (i + 1 >= args.size()) {
                    return Fail(arg + " needs a value");
                }
                if (arg == "--camera") {
                    line.cameras.push_back(args[++i]);
                } else if (line.recordPath) {
                    return Fail("--record-path given twice");
                } else {
                    line.recordPath = args[++i];
                }
            } else if (arg.size() > 1 && arg[0] == '-') {
                return Fail("unknown option '" + arg + "'");
            } else if (line.file.empty()) {
                line.file = arg;
            } else {
                return Fail("doc create takes one file");
            }
        }
        if (line.file.empty()) {
            return Fail("doc create needs a file");
        }
        return line;
    }
    if (verb == "show") {
        if (args.size() != 2) {
            return Fail("doc show takes one file");
        }
        line.command = CCommandLine::Command::DocShow;
        line.file = args[1];
        return line;
    }
    if (verb == "set") {
        if (args.size() != 4) {
            return Fail("doc set takes a file, a key and a value");
        }
        line.command = CCommandLine::Command::DocSet;
        line.file = args[1];
        line.key = args[2];
        line.value = args[3];
        return line;
    }
    return Fail("unknown doc command '" + verb + "'");
}

// "fleet status" and "fleet watch": the nodes on the MQTT broker.
CCommandLine ParseFleet(const std::vector<std::string>& args) {
    if (args.empty() || (args[0] != "status" && args[0] != "watch")) {
        return Fail("fleet needs status or watch");
    }
    CCommandLine line;
    line.command =
        args[0] == "status" ? CCommandLine::Command::FleetStatus : CCommandLine::Command::FleetWatch;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            return Fail(arg.size() > 1 && arg[0] == '-' ? arg + " needs a value"
                                                        : "unknown argument '" + arg + "'");
        }
        const std::string& value = args[++i];
        if (arg == "--mqtt") {
            line.mqtt = value;
        } else if (arg == "--prefix") {
            line.fleetPrefix = value;
        } else if (arg == "--count") {
            char* end = nullptr;
            const long count = std::strtol(value.c_str(), &end, 10);
            if (end != value.c_str() + value.size() || count < 1 || count > 1000000000) {
                return Fail("--count needs a number above 0");
            }
            line.fleetCount = static_cast<int>(count);
        } else if (arg == "--timeout") {
            if (!ParseSeconds(value, line.fleetTimeoutSeconds)) {
                return Fail("--timeout needs a number of seconds above 0");
            }
        } else {
            return Fail("unknown option '" + arg + "'");
        }
    }
    return line;
}

// The web interface's accounts: user add NAME [--admin], user remove NAME, user list, user token NAME.
CCommandLine ParseUser(const std::vector<std::string>& args) {
    if (args.empty()) {
        return Fail("user needs add, remove, list or token");
    }
    CCommandLine line;
    const std::string& verb = args[0];
    if (verb == "list") {
        if (args.size() != 1) {
            return Fail("user list takes no arguments");
        }
        line.command = CCommandLine::Command::UserList;
        return line;
    }
    if (verb == "add") {
        line.command = CCommandLine::Command::UserAdd;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--admin") {
                line.userAdmin = true;
            } else if (args[i].size() > 1 && args[i][0] == '-') {
                return Fail("unknown option '" + args[i] + "'");
            } else if (line.userName.empty()) {
                line.userName = args[i];
            } else {
                return Fail("user add takes one name");
            }
        }
    } else if (verb == "remove" || verb == "token") {
        line.command =
            verb == "remove" ? CCommandLine::Command::UserRemove : CCommandLine::Command::UserToken;
        if (args.size() != 2) {
            return Fail("user " + verb + " takes one name");
        }
        line.userName = args[1];
    } else {
        return Fail("unknown user command '" + verb + "'");
    }
    if (line.userName.empty()) {
        return Fail("user " + verb + " needs a name");
    }
    return line;
}

} // namespace

CCommandLine CCommandLine::Parse(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    if (args.empty()) {
        return ParseGui(args);
    }
    const std::string& first = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    CCommandLine line;
    if ((first == "--version" || first == "-v") && rest.empty()) {
        line.command = Command::Version;
    } else if ((first == "--help" || first == "-h") && rest.empty()) {
        line.command = Command::Help;
    } else if (first == "devices" && rest.empty()) {
        line.command = Command::Devices;
    } else if (first == "sysinfo" && rest.empty()) {
        line.command = Command::SysInfo;
    } else if (first == "--headless") {
        return ParseHeadless(rest);
    } else if (first == "doc") {
        return ParseDoc(rest);
    } else if (first == "fleet") {
        return ParseFleet(rest);
    } else if (first == "user") {
        return ParseUser(rest);
    } else if (first == "recordings") {
        line.command = Command::Recordings;
        line.arguments = rest;
    } else if (first == "devices" || first == "sysinfo") {
        return Fail(first + " takes no arguments");
    } else if (first == "--activate" || first == "--screenshot" || first == "--screenshot-delay" ||
               first == "--" ||
               (!first.empty() && first[0] != '-' && first.find_first_of("./") != std::string::npos)) {
        // The desktop's options, or a document file (a name with a dot or a slash; a bare word is
        // taken for a mistyped command).
        return ParseGui(args);
    } else {
        return Fail("unknown command '" + first + "'");
    }
    return line;
}

const char* CCommandLine::UsageText() {
    return "Usage: tavrix [--activate] [--screenshot PNG [--screenshot-delay SECONDS]] [FILE.tvrx...]\n"
           "       tavrix --help\n"
           "       tavrix --version\n"
           "       tavrix devices\n"
           "       tavrix sysinfo\n"
           "       tavrix --headless [--activate] [--duration SECONDS] [--stats] [--mqtt HOST[:PORT]] "
           "[--http [ADDR:]PORT] FILE.tvrx...\n"
           "       tavrix doc create FILE [--camera DISPLAYNAME]... [--record-path DIR]\n"
           "       tavrix doc show FILE\n"
           "       tavrix doc set FILE KEY VALUE\n"
           "       tavrix doc export FILE [--with-secrets]\n"
           "       tavrix doc import JSON FILE [--replace]\n"
           "       tavrix doc schema\n"
           "       tavrix fleet status [--mqtt HOST[:PORT]] [--prefix PREFIX] [--timeout SECONDS]\n"
           "       tavrix fleet watch [--mqtt HOST[:PORT]] [--prefix PREFIX] [--count N] [--timeout "
           "SECONDS]\n"
           "       tavrix user add NAME [--admin]\n"
           "       tavrix user remove NAME\n"
           "       tavrix user list\n"
           "       tavrix user token NAME\n"
           "       tavrix recordings list [--document FILE] [--camera NAME] [--since YYYY-MM-DD] [--json]\n"
           "       tavrix recordings prune FILE.tvrx [--dry-run]\n"
           "       tavrix recordings import FILE.tvrx\n";
}
