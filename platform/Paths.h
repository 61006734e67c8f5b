#pragma once
// Where the program's own files go: the executable's path, the folder for trace files, crash
// reports and minidumps (next to the executable when that folder is writable, otherwise
// $XDG_STATE_HOME/Tavrix/ under the same file names), and the XDG base folders.

#include <string>

namespace platform {

// Full path of the running executable (/proc/self/exe resolved).
std::string ExecutablePath();
// The folder part of a path ("/a/b/c" -> "/a/b"); "." for a bare name.
std::string DirName(const std::string& path);
// The last component of a path ("/a/b/c.txt" -> "c.txt").
std::string BaseName(const std::string& path);

// The path that diagnostic file names are built on: the executable's full path when its folder is
// writable, else $XDG_STATE_HOME/Tavrix/<executable name> (the folder is created). A suffix such as
// ".trace.1234" or ".report" is appended by the caller.
std::string DiagnosticBasePath();

// XDG base folders with their documented defaults under $HOME.
std::string XdgConfigHome();
std::string XdgDataHome();
std::string XdgStateHome();
std::string HomeDir();
// The temporary folder ($TMPDIR or /tmp), without a trailing slash.
std::string TempDir();

// Creates a folder and its parents; true when it exists afterwards.
bool MakeDirs(const std::string& path);
bool IsDirectory(const std::string& path);
bool FileExists(const std::string& path);

} // namespace platform
