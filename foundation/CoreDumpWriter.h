#pragma once
// Writes an ELF core file of the running process, readable by gdb and the other standard tools:
// a note segment with the crashed thread's status and registers (NT_PRSTATUS, NT_FPREGSET) and
// those of the other threads that could be caught,
// the process info (NT_PRPSINFO), the signal (NT_SIGINFO), the auxiliary vector (NT_AUXV) and the
// mapped files (NT_FILE), then one loadable segment per memory mapping.
//
// Memory content follows the kernel's default choice: writable and anonymous mappings whole, and
// file mappings with privately copied pages (relocated data, which holds the dynamic loader's
// list the tools need to find the libraries); other file-backed read-only mappings only their
// ELF header page (the tools read the rest from the files); nothing of unreadable ones or of
// those marked not to be dumped. Very large mappings are written sparsely (resident pages
// only). Called by the crash handler's core-writing child process, which holds a frozen copy of
// the crashed process; it uses system calls and its own mmap'ed scratch memory only.

#include "foundation/CrashState.h"

#include <cstddef>
#include <cstdint>

class CCoreDumpWriter {
public:
    // excludeStart/excludeEnd: a range of the crash handler's own scratch memory to leave out.
    CCoreDumpWriter(const CrashSnapshot& snapshot, uintptr_t excludeStart, uintptr_t excludeEnd,
                    std::atomic<uint32_t>* heartbeat)
        : m_snapshot(snapshot), m_excludeStart(excludeStart), m_excludeEnd(excludeEnd),
          m_heartbeat(heartbeat) {}

    // Writes the core to fd from offset 0. False when the memory map could not be read or a
    // header could not be written; unreadable memory pages are left as holes.
    bool Write(int fd);

private:
    struct Mapping {
        uintptr_t start, end;
        uint64_t fileOffset;
        bool read, write, exec;
        bool copiedPages; // private pages written since mapping (relocated data, RELRO)
        bool dontDump;    // marked by madvise(MADV_DONTDUMP)
        const char* path; // "" for anonymous memory
        uint64_t contentSize;
        uint64_t fileAt; // where its content starts in the core
    };

    bool ReadMaps();
    void ChooseContent(Mapping& mapping) const;
    size_t NoteFileSize() const;
    size_t OtherThreadsNoteSize() const;
    bool WriteNotes(int fd, uint64_t offset, size_t& written);
    void WriteMemory(int fd, const Mapping& mapping);
    void Beat();

    const CrashSnapshot& m_snapshot;
    uintptr_t m_excludeStart, m_excludeEnd;
    std::atomic<uint32_t>* m_heartbeat;

    char* m_mapsText = nullptr;
    size_t m_mapsSize = 0;
    Mapping* m_mappings = nullptr;
    size_t m_mappingCount = 0;
    size_t m_fileMappingCount = 0;
    size_t m_fileNamesSize = 0;
    unsigned char m_auxv[8192];
    size_t m_auxvSize = 0;
    char m_commandLine[80];
    size_t m_pageSize = 4096;
};
