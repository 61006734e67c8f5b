#include "app/CommandLine.h"

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
        } else if (!optionsEnded && arg == "--duration") {
            if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], line.durationSeconds)) {
                return Fail("--duration needs a number of seconds above 0");
            }
            ++i;
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
           "       tavrix --headless [--activate] [--duration SECONDS] [--stats] FILE.tvrx...\n"
           "       tavrix doc create FILE [--camera DISPLAYNAME]... [--record-path DIR]\n"
           "       tavrix doc show FILE\n"
           "       tavrix doc set FILE KEY VALUE\n"
           "       tavrix doc export FILE [--with-secrets]\n"
           "       tavrix doc import JSON FILE [--replace]\n"
           "       tavrix doc schema\n";
}
