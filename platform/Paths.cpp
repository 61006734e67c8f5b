#include "platform/Paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return "tavrix";
    }
    buffer[n] = '\0';
    return buffer;
}

std::string DirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        return pw->pw_dir;
    }
    return "/tmp";
}

static std::string XdgDir(const char* variable, const char* fallbackUnderHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') {
        return value;
    }
    return HomeDir() + "/" + fallbackUnderHome;
}

std::string XdgConfigHome() {
    return XdgDir("XDG_CONFIG_HOME", ".config");
}
std::string XdgDataHome() {
    return XdgDir("XDG_DATA_HOME", ".local/share");
}
std::string XdgStateHome() {
    return XdgDir("XDG_STATE_HOME", ".local/state");
}

std::string TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool MakeDirs(const std::string& path) {
    if (path.empty() || IsDirectory(path)) {
        return !path.empty();
    }
    const std::string parent = DirName(path);
    if (parent != path && !IsDirectory(parent)) {
        MakeDirs(parent);
    }
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST ? IsDirectory(path) : false;
}

std::string DiagnosticBasePath() {
    const std::string exe = ExecutablePath();
    if (access(DirName(exe).c_str(), W_OK) == 0) {
        return exe;
    }
    const std::string dir = XdgStateHome() + "/Tavrix";
    MakeDirs(dir);
    return dir + "/" + BaseName(exe);
}

} // namespace platform
