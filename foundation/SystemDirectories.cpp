#include "foundation/SystemDirectories.h"

#include "platform/Paths.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

std::string SystemRootDirectory() {
    return "/usr";
}

std::string SystemLibraryDirectory() {
    // The folder of the loaded C library, resolved through symbolic links (/lib -> /usr/lib).
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&::getpid), &info) != 0 && info.dli_fname &&
        info.dli_fname[0] == '/') {
        char resolved[PATH_MAX];
        if (realpath(info.dli_fname, resolved)) {
            return platform::DirName(resolved);
        }
        return platform::DirName(info.dli_fname);
    }
    return "/usr/lib";
}
