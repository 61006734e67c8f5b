#pragma once
// The Linux folders that stand where reports name the Windows and system directories: the
// system root "/usr", where the operating system's programs and data live, and the folder of
// the system's shared libraries (the C library's folder, e.g. /usr/lib/x86_64-linux-gnu).

#include <string>

std::string SystemRootDirectory();
std::string SystemLibraryDirectory();
