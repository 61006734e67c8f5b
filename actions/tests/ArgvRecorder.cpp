// Helper program of the command tests: writes what it was started with into the file named by its
// first argument: a line "session=<0|1> stdin=<target> stdout=<target> fds=<count>" and then every
// further argument followed by a NUL byte.
#include <cstdio>
#include <dirent.h>
#include <string>
#include <unistd.h>

static std::string Target(int fd) {
    char path[64], target[512] = {};
    std::snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
    ssize_t n = readlink(path, target, sizeof(target) - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : "closed";
}

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    int fds = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++fds;
            }
        }
        closedir(dir);
        --fds; // the directory listing itself
    }
    std::string report = "session=" + std::to_string(getsid(0) == getpid() ? 1 : 0) + " stdin=" + Target(0) +
                         " stdout=" + Target(1) + " stderr=" + Target(2) + " fds=" + std::to_string(fds) +
                         "\n";
    for (int i = 2; i < argc; ++i) {
        report += argv[i];
        report.push_back('\0');
    }
    std::string temporary = std::string(argv[1]) + ".tmp";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) {
        return 1;
    }
    std::fwrite(report.data(), 1, report.size(), out);
    std::fclose(out);
    return std::rename(temporary.c_str(), argv[1]) == 0 ? 0 : 1;
}
