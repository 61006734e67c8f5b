#include "foundation/CoreDumpWriter.h"

#include "foundation/CrashText.h"

#include <cerrno>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/procfs.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <unistd.h>

namespace {

#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#else
#error "The core file writer knows the registers of x86-64 and AArch64 only."
#endif

// Mappings larger than this are written sparsely (only their resident pages); beyond the second
// limit nothing of them is written (address-space reservations of sanitizers and allocators).
constexpr uint64_t kSparseAbove = 256ull << 20;
constexpr uint64_t kSkipAbove = 64ull << 30;
constexpr size_t kChunk = 1 << 20;

void* MapScratch(size_t size) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

// Reads a whole small file into a buffer; returns the length read.
size_t ReadSmallFile(const char* path, void* buffer, size_t capacity) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    size_t used = 0;
    while (used < capacity) {
        const ssize_t n = read(fd, static_cast<char*>(buffer) + used, capacity - used);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        used += static_cast<size_t>(n);
    }
    close(fd);
    return used;
}

uint64_t ParseHex(const char*& p) {
    uint64_t value = 0;
    for (;; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            value = value * 16 + static_cast<uint64_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value = value * 16 + static_cast<uint64_t>(c - 'a' + 10);
        } else {
            return value;
        }
    }
}

void SkipField(const char*& p) {
    while (*p && *p != ' ' && *p != '\n') {
        ++p;
    }
    while (*p == ' ') {
        ++p;
    }
}

bool PwriteAll(int fd, const void* data, size_t length, uint64_t offset) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = pwrite(fd, p, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

// Shared anonymous memory shows as "/dev/zero (deleted)": it has no file to name.
bool IsFileBacked(const char* path) {
    return path[0] == '/' && std::strncmp(path, "/dev/zero", 9) != 0;
}

size_t Align4(size_t n) {
    return (n + 3) & ~size_t{3};
}

size_t NoteSize(size_t descSize) {
    return sizeof(Elf64_Nhdr) + Align4(5) + Align4(descSize);
}

size_t PutNote(unsigned char* out, uint32_t type, const void* desc, size_t descSize) {
    Elf64_Nhdr header{};
    header.n_namesz = 5;
    header.n_descsz = static_cast<Elf64_Word>(descSize);
    header.n_type = type;
    std::memcpy(out, &header, sizeof header);
    size_t at = sizeof header;
    std::memcpy(out + at, "CORE", 5);
    at += Align4(5);
    if (descSize > 0) {
        std::memcpy(out + at, desc, descSize);
    }
    return at + Align4(descSize);
}

void FillRegisters(const mcontext_t& machine, uint64_t fsBase, uint64_t gsBase, elf_gregset_t& out) {
#if defined(__x86_64__)
    user_regs_struct r{};
    const greg_t* g = machine.gregs;
    r.r15 = static_cast<unsigned long long>(g[REG_R15]);
    r.r14 = static_cast<unsigned long long>(g[REG_R14]);
    r.r13 = static_cast<unsigned long long>(g[REG_R13]);
    r.r12 = static_cast<unsigned long long>(g[REG_R12]);
    r.rbp = static_cast<unsigned long long>(g[REG_RBP]);
    r.rbx = static_cast<unsigned long long>(g[REG_RBX]);
    r.r11 = static_cast<unsigned long long>(g[REG_R11]);
    r.r10 = static_cast<unsigned long long>(g[REG_R10]);
    r.r9 = static_cast<unsigned long long>(g[REG_R9]);
    r.r8 = static_cast<unsigned long long>(g[REG_R8]);
    r.rax = static_cast<unsigned long long>(g[REG_RAX]);
    r.rcx = static_cast<unsigned long long>(g[REG_RCX]);
    r.rdx = static_cast<unsigned long long>(g[REG_RDX]);
    r.rsi = static_cast<unsigned long long>(g[REG_RSI]);
    r.rdi = static_cast<unsigned long long>(g[REG_RDI]);
    r.orig_rax = ~0ull;
    r.rip = static_cast<unsigned long long>(g[REG_RIP]);
    r.eflags = static_cast<unsigned long long>(g[REG_EFL]);
    r.rsp = static_cast<unsigned long long>(g[REG_RSP]);
    const uint64_t segments = static_cast<uint64_t>(g[REG_CSGSFS]);
    r.cs = segments & 0xFFFF;
    r.gs = (segments >> 16) & 0xFFFF;
    r.fs = (segments >> 32) & 0xFFFF;
    r.ss = (segments >> 48) & 0xFFFF;
    if (r.ss == 0) {
        r.ss = 0x2b; // the user data segment, which the kernel restores on return anyway
    }
    r.fs_base = fsBase;
    r.gs_base = gsBase;
    static_assert(sizeof r == sizeof out);
    std::memcpy(&out, &r, sizeof r);
#elif defined(__aarch64__)
    (void)fsBase;
    (void)gsBase;
    std::memset(&out, 0, sizeof out);
    for (int i = 0; i < 31; ++i) {
        out[i] = machine.regs[i];
    }
    out[31] = machine.sp;
    out[32] = machine.pc;
    out[33] = machine.pstate;
#endif
}

} // namespace

void CCoreDumpWriter::Beat() {
    if (m_heartbeat) {
        m_heartbeat->fetch_add(1, std::memory_order_relaxed);
    }
}

bool CCoreDumpWriter::ReadMaps() {
    m_pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    // The detailed map (with each mapping's anonymous pages and flags) is read whole into scratch
    // memory that grows until the file fits; the plain map serves when it cannot be read.
    bool detailed = true;
    size_t capacity = 4 << 20;
    for (;;) {
        m_mapsText = static_cast<char*>(MapScratch(capacity));
        if (!m_mapsText) {
            return false;
        }
        m_mapsSize =
            ReadSmallFile(detailed ? "/proc/self/smaps" : "/proc/self/maps", m_mapsText, capacity - 1);
        if (m_mapsSize == 0 && detailed) {
            munmap(m_mapsText, capacity);
            detailed = false;
            continue;
        }
        if (m_mapsSize < capacity - 1) {
            break;
        }
        munmap(m_mapsText, capacity);
        capacity *= 2;
        if (capacity > (1024u << 20)) {
            return false;
        }
    }
    m_mapsText[m_mapsSize] = '\0';

    size_t lines = 0;
    for (size_t i = 0; i < m_mapsSize; ++i) {
        lines += m_mapsText[i] == '\n' ? 1 : 0;
    }
    // The program header count is 16 bits; the note takes one entry.
    const size_t maxMappings = 65000;
    m_mappings = static_cast<Mapping*>(
        MapScratch((lines < maxMappings ? lines : maxMappings) * sizeof(Mapping) + sizeof(Mapping)));
    if (!m_mappings) {
        return false;
    }
    char* p = m_mapsText;
    Mapping* current = nullptr;
    while (*p) {
        char* lineEnd = p;
        while (*lineEnd && *lineEnd != '\n') {
            ++lineEnd;
        }
        const bool more = *lineEnd == '\n';
        *lineEnd = '\0';
        const char c = *p;
        const bool header = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
        if (header && m_mappingCount < maxMappings) {
            const char* q = p;
            Mapping m{};
            m.start = ParseHex(q);
            if (*q == '-') {
                ++q;
            }
            m.end = ParseHex(q);
            while (*q == ' ') {
                ++q;
            }
            m.read = q[0] == 'r';
            m.write = q[1] == 'w';
            m.exec = q[2] == 'x';
            SkipField(q);
            m.fileOffset = ParseHex(q);
            while (*q == ' ') {
                ++q;
            }
            SkipField(q); // device
            SkipField(q); // inode
            m.path = q;
            current = nullptr;
            if (m.end > m.start) {
                if (IsFileBacked(m.path)) {
                    ++m_fileMappingCount;
                    m_fileNamesSize += CrashStrLen(m.path) + 1;
                }
                m_mappings[m_mappingCount] = m;
                current = &m_mappings[m_mappingCount++];
            }
        } else if (current && std::strncmp(p, "Anonymous:", 10) == 0) {
            const char* q = p + 10;
            while (*q == ' ') {
                ++q;
            }
            current->copiedPages = *q >= '1' && *q <= '9';
        } else if (current && std::strncmp(p, "VmFlags:", 8) == 0) {
            for (const char* q = p + 8; q[0] && q[1]; ++q) {
                if (q[-1] == ' ' && q[0] == 'd' && q[1] == 'd' && (q[2] == ' ' || q[2] == '\0')) {
                    current->dontDump = true;
                }
            }
        }
        p = more ? lineEnd + 1 : lineEnd;
    }
    return m_mappingCount > 0;
}

void CCoreDumpWriter::ChooseContent(Mapping& m) const {
    const uint64_t size = m.end - m.start;
    m.contentSize = 0;
    if (!m.read || m.dontDump || size > kSkipAbove) {
        return;
    }
    if (m.start < m_excludeEnd && m.end > m_excludeStart) {
        return; // the crash handler's own scratch memory
    }
    if (std::strcmp(m.path, "[vvar]") == 0 || std::strcmp(m.path, "[vsyscall]") == 0 ||
        std::strncmp(m.path, "[vvar_", 6) == 0) {
        return; // kernel pages that are not ordinary memory
    }
    const bool fileBacked = IsFileBacked(m.path);
    if (m.write || !fileBacked || m.copiedPages) {
        m.contentSize = size;
        return;
    }
    // Read-only file mappings: only the first page when it holds an ELF header, from which the
    // tools find the file again (build id).
    // The bytes are read through the kernel so that a truncated file cannot fault here.
    unsigned char bytes[4] = {};
    iovec local{bytes, sizeof bytes};
    iovec remote{reinterpret_cast<void*>(m.start), sizeof bytes};
    if (m.fileOffset == 0 && process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == sizeof bytes &&
        bytes[0] == 0x7f && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') {
        m.contentSize = m_pageSize;
    }
}

size_t CCoreDumpWriter::OtherThreadsNoteSize() const {
    size_t size = 0;
    for (int i = 0; i < m_snapshot.threadCount; ++i) {
        const CrashThreadState& thread = m_snapshot.threads[i];
        if (thread.captured.load()) {
            size += NoteSize(sizeof(elf_prstatus));
#if defined(__x86_64__)
            size += thread.fpValid ? NoteSize(sizeof thread.fpState) : 0;
#endif
        }
    }
    return size;
}

size_t CCoreDumpWriter::NoteFileSize() const {
    return NoteSize(sizeof(elf_prstatus)) + NoteSize(sizeof(elf_prpsinfo)) + NoteSize(sizeof(siginfo_t)) +
           NoteSize(m_auxvSize) +
           NoteSize(2 * sizeof(uint64_t) + m_fileMappingCount * 3 * sizeof(uint64_t) + m_fileNamesSize) +
#if defined(__x86_64__)
           (m_snapshot.fpValid ? NoteSize(sizeof m_snapshot.fpState) : 0) +
#endif
           OtherThreadsNoteSize();
}

bool CCoreDumpWriter::WriteNotes(int fd, uint64_t offset, size_t& written) {
    const size_t total = NoteFileSize();
    auto* out = static_cast<unsigned char*>(MapScratch(total));
    if (!out) {
        return false;
    }
    size_t at = 0;

    elf_prstatus status{};
    status.pr_info.si_signo = m_snapshot.signal;
    status.pr_info.si_code = m_snapshot.info.si_code;
    status.pr_info.si_errno = m_snapshot.info.si_errno;
    status.pr_cursig = static_cast<short>(m_snapshot.signal);
    status.pr_pid = m_snapshot.tid;
    status.pr_ppid = m_snapshot.ppid;
    status.pr_pgrp = m_snapshot.pgrp;
    status.pr_sid = m_snapshot.sid;
#if defined(__x86_64__)
    FillRegisters(m_snapshot.machine, m_snapshot.fsBase, m_snapshot.gsBase, status.pr_reg);
#else
    FillRegisters(m_snapshot.machine, 0, 0, status.pr_reg);
#endif
    status.pr_fpvalid = m_snapshot.fpValid ? 1 : 0;
    at += PutNote(out + at, NT_PRSTATUS, &status, sizeof status);

    elf_prpsinfo info{};
    info.pr_state = 0;
    info.pr_sname = 'R';
    info.pr_uid = getuid();
    info.pr_gid = getgid();
    info.pr_pid = m_snapshot.pid;
    info.pr_ppid = m_snapshot.ppid;
    info.pr_pgrp = m_snapshot.pgrp;
    info.pr_sid = m_snapshot.sid;
    const size_t argsLength = ReadSmallFile("/proc/self/cmdline", m_commandLine, sizeof m_commandLine);
    const char* name = m_commandLine;
    for (size_t i = 0; i < argsLength && m_commandLine[i]; ++i) {
        if (m_commandLine[i] == '/') {
            name = m_commandLine + i + 1;
        }
    }
    CrashStrCopy(info.pr_fname, sizeof info.pr_fname, argsLength ? name : "");
    for (size_t i = 0; i < argsLength && i + 1 < sizeof info.pr_psargs; ++i) {
        info.pr_psargs[i] = m_commandLine[i] ? m_commandLine[i] : ' ';
    }
    at += PutNote(out + at, NT_PRPSINFO, &info, sizeof info);
    at += PutNote(out + at, NT_SIGINFO, &m_snapshot.info, sizeof(siginfo_t));
    at += PutNote(out + at, NT_AUXV, m_auxv, m_auxvSize);

    // NT_FILE: count, page size, (start, end, offset in pages) per file mapping, then the names.
    {
        Elf64_Nhdr header{};
        header.n_namesz = 5;
        const size_t descSize =
            2 * sizeof(uint64_t) + m_fileMappingCount * 3 * sizeof(uint64_t) + m_fileNamesSize;
        header.n_descsz = static_cast<Elf64_Word>(descSize);
        header.n_type = NT_FILE;
        std::memcpy(out + at, &header, sizeof header);
        std::memcpy(out + at + sizeof header, "CORE", 5);
        unsigned char* desc = out + at + sizeof header + Align4(5);
        uint64_t* words = reinterpret_cast<uint64_t*>(desc);
        words[0] = m_fileMappingCount;
        words[1] = m_pageSize;
        size_t w = 2;
        char* names = reinterpret_cast<char*>(desc + (2 + m_fileMappingCount * 3) * sizeof(uint64_t));
        for (size_t i = 0; i < m_mappingCount; ++i) {
            const Mapping& m = m_mappings[i];
            if (!IsFileBacked(m.path)) {
                continue;
            }
            words[w++] = m.start;
            words[w++] = m.end;
            words[w++] = m.fileOffset / m_pageSize;
            const size_t length = CrashStrLen(m.path);
            std::memcpy(names, m.path, length + 1);
            names += length + 1;
        }
        at += sizeof header + Align4(5) + Align4(descSize);
    }
#if defined(__x86_64__)
    if (m_snapshot.fpValid) {
        at += PutNote(out + at, NT_FPREGSET, m_snapshot.fpState, sizeof m_snapshot.fpState);
    }
#endif
    // The other threads that were caught, each with its status and floating-point registers.
    for (int i = 0; i < m_snapshot.threadCount; ++i) {
        const CrashThreadState& thread = m_snapshot.threads[i];
        if (!thread.captured.load()) {
            continue;
        }
        elf_prstatus other{};
        other.pr_pid = thread.tid;
        other.pr_ppid = m_snapshot.ppid;
        other.pr_pgrp = m_snapshot.pgrp;
        other.pr_sid = m_snapshot.sid;
#if defined(__x86_64__)
        FillRegisters(thread.machine, thread.fsBase, 0, other.pr_reg);
#else
        FillRegisters(thread.machine, 0, 0, other.pr_reg);
#endif
        other.pr_fpvalid = thread.fpValid ? 1 : 0;
        at += PutNote(out + at, NT_PRSTATUS, &other, sizeof other);
#if defined(__x86_64__)
        if (thread.fpValid) {
            at += PutNote(out + at, NT_FPREGSET, thread.fpState, sizeof thread.fpState);
        }
#endif
    }
    written = at;
    const bool ok = PwriteAll(fd, out, at, offset);
    munmap(out, total);
    return ok;
}

void CCoreDumpWriter::WriteMemory(int fd, const Mapping& m) {
    const bool sparse = m.contentSize > kSparseAbove;
    unsigned char* residency = nullptr;
    const size_t pages = (m.contentSize + m_pageSize - 1) / m_pageSize;
    if (sparse) {
        residency = static_cast<unsigned char*>(MapScratch(pages));
        if (residency && mincore(reinterpret_cast<void*>(m.start), m.contentSize, residency) != 0) {
            munmap(residency, pages);
            residency = nullptr;
        }
    }
    for (uint64_t done = 0; done < m.contentSize; done += kChunk) {
        const size_t length =
            static_cast<size_t>(m.contentSize - done < kChunk ? m.contentSize - done : kChunk);
        const auto* from = reinterpret_cast<const char*>(m.start + done);
        Beat();
        if (!residency && PwriteAll(fd, from, length, m.fileAt + done)) {
            continue;
        }
        // Page by page: pages that cannot be read (or are not resident in a sparse mapping) stay
        // holes in the file, which read back as zeros.
        for (size_t page = 0; page < length; page += m_pageSize) {
            const size_t index = static_cast<size_t>((done + page) / m_pageSize);
            if (residency && (residency[index] & 1) == 0) {
                continue;
            }
            const size_t pageLength = length - page < m_pageSize ? length - page : m_pageSize;
            PwriteAll(fd, from + page, pageLength, m.fileAt + done + page);
        }
    }
    if (residency) {
        munmap(residency, pages);
    }
}

bool CCoreDumpWriter::Write(int fd) {
    if (!ReadMaps()) {
        return false;
    }
    m_auxvSize = ReadSmallFile("/proc/self/auxv", m_auxv, sizeof m_auxv);
    for (size_t i = 0; i < m_mappingCount; ++i) {
        ChooseContent(m_mappings[i]);
    }

    const size_t phnum = 1 + m_mappingCount;
    const uint64_t notesAt = sizeof(Elf64_Ehdr) + phnum * sizeof(Elf64_Phdr);
    const size_t notesSize = NoteFileSize();
    uint64_t dataAt = (notesAt + notesSize + m_pageSize - 1) / m_pageSize * m_pageSize;
    for (size_t i = 0; i < m_mappingCount; ++i) {
        m_mappings[i].fileAt = dataAt;
        dataAt += m_mappings[i].contentSize;
    }

    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_ident[EI_OSABI] = ELFOSABI_NONE;
    header.e_type = ET_CORE;
    header.e_machine = kMachine;
    header.e_version = EV_CURRENT;
    header.e_phoff = sizeof(Elf64_Ehdr);
    header.e_ehsize = sizeof(Elf64_Ehdr);
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = static_cast<Elf64_Half>(phnum);
    if (!PwriteAll(fd, &header, sizeof header, 0)) {
        return false;
    }

    auto* headers = static_cast<Elf64_Phdr*>(MapScratch(phnum * sizeof(Elf64_Phdr)));
    if (!headers) {
        return false;
    }
    headers[0].p_type = PT_NOTE;
    headers[0].p_offset = notesAt;
    headers[0].p_filesz = notesSize;
    headers[0].p_align = 4;
    for (size_t i = 0; i < m_mappingCount; ++i) {
        const Mapping& m = m_mappings[i];
        Elf64_Phdr& h = headers[i + 1];
        h.p_type = PT_LOAD;
        h.p_flags = (m.read ? PF_R : 0) | (m.write ? PF_W : 0) | (m.exec ? PF_X : 0);
        h.p_offset = m.fileAt;
        h.p_vaddr = m.start;
        h.p_filesz = m.contentSize;
        h.p_memsz = m.end - m.start;
        h.p_align = m_pageSize;
    }
    const bool headersOk = PwriteAll(fd, headers, phnum * sizeof(Elf64_Phdr), sizeof(Elf64_Ehdr));
    munmap(headers, phnum * sizeof(Elf64_Phdr));
    size_t notesWritten = 0;
    if (!headersOk || !WriteNotes(fd, notesAt, notesWritten)) {
        return false;
    }
    Beat();
    for (size_t i = 0; i < m_mappingCount; ++i) {
        if (m_mappings[i].contentSize > 0) {
            WriteMemory(fd, m_mappings[i]);
        }
    }
    // The file's length covers the last segment even when its final pages were holes.
    if (ftruncate(fd, static_cast<off_t>(dataAt)) != 0) {
        return false;
    }
    return true;
}
