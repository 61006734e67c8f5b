#include "foundation/CrashFiles.h"

#include "foundation/CrashText.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kNameAttempts = 100;
constexpr char kTokenLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Six letters from the kernel's random source; a clock-based mix when that is not available.
void RandomToken(char (&token)[8]) {
    unsigned char bytes[6] = {};
    if (syscall(SYS_getrandom, bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<long>(sizeof bytes)) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t mix = (static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull) ^
                       (static_cast<uint64_t>(getpid()) << 20) ^ static_cast<uint64_t>(now.tv_sec);
        for (unsigned char& b : bytes) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(mix >> 56);
        }
    }
    for (size_t i = 0; i < sizeof bytes; ++i) {
        token[i] = kTokenLetters[bytes[i] % (sizeof kTokenLetters - 1)];
    }
    token[sizeof bytes] = '\0';
}

// A plain file of this user's with no other name, opened for writing without following a link.
// replace: emptied (the core file); otherwise opened for appending (the report).
int OpenOwnFile(const char* path, bool replace) {
    if (path[0] == '\0') {
        return -1;
    }
    // Not truncated on opening: a file that is not ours must stay as it is. Not blocking on a
    // FIFO planted under the name.
    const int fd =
        open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (replace ? 0 : O_APPEND), 0600);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1 ||
        (replace && ftruncate(fd, 0) != 0)) {
        close(fd);
        return -1;
    }
    if ((info.st_mode & 077) != 0) {
        fchmod(fd, 0600); // a report left by an older version, readable by others
    }
    fcntl(fd, F_SETFL, replace ? 0 : O_APPEND);
    return fd;
}

// Opens a folder that belongs to this user and that nobody else may write to (with mask 022) or
// even enter (with mask 077). Never through a link at its last component.
int OpenOwnFolder(const char* path, mode_t forbidden) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
        (info.st_mode & forbidden) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// mkdir -p with mode 0700 for every folder it creates.
void MakeFolders(const char* path) {
    char partial[PATH_MAX];
    const size_t length = CrashStrLen(path);
    if (length == 0 || length >= sizeof partial) {
        return;
    }
    for (size_t i = 1; i <= length; ++i) {
        if (path[i] == '/' || path[i] == '\0') {
            CrashStrCopy(partial, i + 1, path);
            mkdir(partial, 0700);
        }
    }
}

} // namespace

void CCrashFiles::Prepare(const std::string& basePath, const std::string& privateDir,
                          const std::string& tempDir) {
    CrashStrCopy(m_reportPath, sizeof m_reportPath, (basePath + ".report").c_str());
    CrashStrCopy(m_dumpPath, sizeof m_dumpPath, (basePath + ".minidump").c_str());
    CrashStrCopy(m_privateDir, sizeof m_privateDir, privateDir.c_str());
    CrashStrCopy(m_tempDir, sizeof m_tempDir, tempDir.c_str());
    CrashStrCopy(m_programName, sizeof m_programName, platform::BaseName(basePath).c_str());
    NewToken();
}

void CCrashFiles::NewToken() {
    RandomToken(m_token);
    m_pid = getpid(); // the crashed process's, also in the child that writes the core file
}

int CCrashFiles::OpenReport() const {
    const int fd = OpenOwnFile(m_reportPath, false);
    return fd >= 0 ? fd : OpenFallback(".report");
}

int CCrashFiles::OpenMinidump() const {
    const int fd = OpenOwnFile(m_dumpPath, true);
    return fd >= 0 ? fd : OpenFallback(".minidump");
}

int CCrashFiles::OpenFallbackFolder() const {
    if (m_privateDir[0] == '/') {
        MakeFolders(m_privateDir);
        const int fd = OpenOwnFolder(m_privateDir, 022);
        if (fd >= 0) {
            return fd;
        }
    }
    // A folder of this user's own in the temporary folder. Its name can be taken by someone else
    // beforehand: then a new folder with a name nobody could guess, first the one named after this
    // crash's token, which the report and the core file (written at the same time by two
    // processes) both find.
    CCrashText folder;
    folder.Str(m_tempDir).Str("/tavrix-").Dec(static_cast<int64_t>(geteuid()));
    mkdir(folder.Data(), 0700);
    int fd = OpenOwnFolder(folder.Data(), 077);
    char token[8];
    CrashStrCopy(token, sizeof token, m_token);
    for (int attempt = 0; fd < 0 && attempt < kNameAttempts; ++attempt) {
        CCrashText unique;
        unique.Str(folder.Data()).Char('-').Str(token);
        const bool made = mkdir(unique.Data(), 0700) == 0;
        if (made || (attempt == 0 && errno == EEXIST)) {
            fd = OpenOwnFolder(unique.Data(), 077);
        }
        RandomToken(token);
    }
    return fd;
}

int CCrashFiles::OpenFallback(const char* suffix) const {
    const int folder = OpenFallbackFolder();
    if (folder < 0) {
        return -1;
    }
    char token[8];
    CrashStrCopy(token, sizeof token, m_token);
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        CCrashText name;
        name.Str(m_programName).Char('-').Dec(static_cast<int64_t>(m_pid)).Char('-').Str(token).Str(suffix);
        fd = openat(folder, name.Data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            break;
        }
        RandomToken(token);
    }
    close(folder);
    return fd;
}
