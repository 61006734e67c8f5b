#pragma once
// What the tests of an installed Tavrix share: temporary folders, shell quoting, a private
// environment for a run of the program, the usage text taken apart and the manual page as text.

#include "TavrixBuildPaths.h"
#include "recording/tests/RecTestHost.h"

#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace disttest {

class CTempFolder {
public:
    explicit CTempFolder(const std::string& name) {
        std::string pattern = "/tmp/" + name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~CTempFolder() {
        std::error_code ignored;
        if (!m_path.empty()) {
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// The text in single quotes for sh.
inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

inline int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// Settings, user database and traces of a run kept in `folder`; the GStreamer registry in the
// build folder, shared by the runs of these tests (a first scan of every plugin takes seconds). The
// installed program's elements are never kept in the registry: it loads them from its own folder.
inline std::string PrivateEnvironment(const std::string& folder) {
    return "HOME=" + Quote(folder) + " XDG_CONFIG_HOME=" + Quote(folder + "/config") +
           " XDG_DATA_HOME=" + Quote(folder + "/data") + " XDG_STATE_HOME=" + Quote(folder + "/state") +
           " XDG_CACHE_HOME=" + Quote(folder + "/cache") +
           " GST_REGISTRY=" + Quote(TAVRIX_BINARY_DIR "/gst-registry-dist-tests.bin") + " ";
}

// The first camera of a document at 160x120, 10 frames a second, half a second before and after
// each motion: quick to run and to record.
inline void MakeSmallAndQuick(const std::function<std::string(const std::string&, int*)>& run,
                              const std::string& document) {
    for (const char* setting :
         {"Cameras.0.VideoSize.cx 160", "Cameras.0.VideoSize.cy 120", "Cameras.0.FPS 10",
          "Cameras.0.MotionPreEventDelay 500", "Cameras.0.MotionStopDelay 500"}) {
        int status = -1;
        run("doc set " + Quote(document) + " " + setting, &status);
    }
}

// One line of the usage: its command words ("doc create", empty for the desktop application and
// the lines that begin with an option) and every option named on it.
struct CUsageLine {
    std::string command;
    std::vector<std::string> options;
};

inline std::vector<CUsageLine> ParseUsage(const std::string& usage) {
    std::vector<CUsageLine> lines;
    std::istringstream input(usage);
    std::string text;
    const std::regex start(R"(^(Usage:)?\s+tavrix(\s|$))");
    const std::regex option(R"(^--?[A-Za-z][A-Za-z0-9-]*$)");
    const std::regex word(R"(^[a-z][a-z0-9-]*$)");
    while (std::getline(input, text)) {
        std::smatch match;
        if (!std::regex_search(text, match, start)) {
            continue;
        }
        CUsageLine line;
        std::istringstream tokens(text.substr(match.length()));
        std::string token;
        bool commandEnded = false;
        while (tokens >> token) {
            std::string bare;
            for (const char c : token) {
                if (c != '[' && c != ']') {
                    bare += c;
                }
            }
            while (bare.size() >= 3 && bare.compare(bare.size() - 3, 3, "...") == 0) {
                bare.resize(bare.size() - 3);
            }
            if (!commandEnded && std::regex_match(bare, word) && bare == token) {
                line.command += (line.command.empty() ? "" : " ") + bare;
                continue;
            }
            commandEnded = true;
            if (std::regex_match(bare, option)) {
                line.options.push_back(bare);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// The manual page's source as plain text: escapes resolved, font changes, quotes and request
// names dropped, blanks collapsed.
inline std::string ManualText(const std::string& roff) {
    std::string text;
    std::istringstream input(roff);
    std::string line;
    while (std::getline(input, line)) {
        if (line.rfind(".\\\"", 0) == 0) {
            continue;
        }
        if (!line.empty() && line[0] == '.') {
            const size_t blank = line.find(' ');
            line = blank == std::string::npos ? "" : line.substr(blank + 1);
        }
        text += line + " ";
    }
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'f' && i + 2 < text.size()) {
                i += 2; // \fB \fI \fR \fP
            } else if (next == '(' && i + 3 < text.size()) {
                plain += text.substr(i + 2, 2) == "aq" ? "'" : "";
                i += 3;
            } else {
                if (next != '&') {
                    plain += next == 'e' ? '\\' : next; // \- \e
                }
                ++i;
            }
        } else if (text[i] != '"') {
            plain += text[i];
        }
    }
    std::string collapsed;
    for (const char c : plain) {
        if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (!collapsed.empty() && collapsed.back() != ' ') {
                collapsed += ' ';
            }
        } else {
            collapsed += c;
        }
    }
    return collapsed;
}

} // namespace disttest
