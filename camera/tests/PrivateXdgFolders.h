#pragma once
// Settings, user database and trace folders of a test process in a temporary folder of its own.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace camtest {

// The process-wide settings compute their paths from the XDG folders on first use: these point
// into a temporary folder before any test runs, away from the user's own files.
struct PrivateXdgFolders {
    PrivateXdgFolders() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-camtest-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            dir = pattern;
            ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
            ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
        }
    }
    ~PrivateXdgFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::filesystem::path dir;
};
inline PrivateXdgFolders g_privateXdgFolders;

} // namespace camtest
