#pragma once
// The modules (executable and shared objects) of the running process with their loadable
// segments, as the crash handler needs them: which module and which segment ("section", counted
// from 1) hold an address, and at what offset. Filled from the dynamic loader's list inside the
// signal handler into fixed storage: no allocation.

#include <cstddef>
#include <cstdint>

struct CrashModule {
    static constexpr int kMaxSegments = 16;
    uintptr_t loadBias = 0; // added to the segments' virtual addresses
    const char* path = "";  // full path (the program path for the executable itself)
    const char* name = "";  // the path's last component
    int segmentCount = 0;
    uintptr_t segmentStart[kMaxSegments] = {};
    uintptr_t segmentLast[kMaxSegments] = {}; // last address covered, inclusive
};

struct CrashLocation {
    int module = -1;       // index in the table, -1 when no module holds the address
    int section = 0;       // loadable segment number from 1, 0 when unknown
    uint64_t offset = 0;   // offset of the address within that segment
    const char* path = ""; // module path, empty when unknown
};

class CCrashModules {
public:
    static constexpr int kMaxModules = 1024;

    // Reads the loader's module list. programPath names the executable, whose loader entry has no
    // name. Async-signal-safe apart from the loader's own (recursive) list lock.
    void Fill(const char* programPath);
    int Count() const { return m_count; }
    const CrashModule& At(int index) const { return m_modules[index]; }
    // The module and segment that hold an address. A segment covers its virtual address up to and
    // including the address plus the larger of its memory and file sizes.
    CrashLocation Locate(uintptr_t address) const;

private:
    friend int CrashModulesAddOne(CCrashModules& table, uintptr_t bias, const char* path, const void* phdrs,
                                  int phdrCount);
    const char* KeepPath(const char* path);

    CrashModule m_modules[kMaxModules];
    int m_count = 0;
    const char* m_programPath = "";
    char m_pathPool[256 * 1024];
    size_t m_poolUsed = 0;
};
