#include "foundation/CrashModules.h"

#include "foundation/CrashText.h"

#include <elf.h>
#include <link.h>

const char* CCrashModules::KeepPath(const char* path) {
    const size_t length = CrashStrLen(path);
    if (m_poolUsed + length + 1 > sizeof m_pathPool) {
        return "";
    }
    char* kept = m_pathPool + m_poolUsed;
    CrashStrCopy(kept, length + 1, path);
    m_poolUsed += length + 1;
    return kept;
}

int CrashModulesAddOne(CCrashModules& table, uintptr_t bias, const char* path, const void* phdrs,
                       int phdrCount) {
    if (table.m_count >= CCrashModules::kMaxModules) {
        return 1; // stop iterating
    }
    CrashModule& module = table.m_modules[table.m_count];
    module = CrashModule{};
    module.loadBias = bias;
    module.path = table.KeepPath(path && *path ? path : table.m_programPath);
    module.name = module.path;
    for (const char* p = module.path; *p; ++p) {
        if (*p == '/') {
            module.name = p + 1;
        }
    }
    const auto* headers = static_cast<const ElfW(Phdr)*>(phdrs);
    for (int i = 0; i < phdrCount && module.segmentCount < CrashModule::kMaxSegments; ++i) {
        if (headers[i].p_type != PT_LOAD) {
            continue;
        }
        const uintptr_t start = bias + headers[i].p_vaddr;
        const uint64_t size =
            headers[i].p_memsz > headers[i].p_filesz ? headers[i].p_memsz : headers[i].p_filesz;
        module.segmentStart[module.segmentCount] = start;
        module.segmentLast[module.segmentCount] = start + size;
        ++module.segmentCount;
    }
    ++table.m_count;
    return 0;
}

namespace {
int AddModule(dl_phdr_info* info, size_t, void* data) {
    return CrashModulesAddOne(*static_cast<CCrashModules*>(data), info->dlpi_addr, info->dlpi_name,
                              info->dlpi_phdr, info->dlpi_phnum);
}
} // namespace

void CCrashModules::Fill(const char* programPath) {
    m_count = 0;
    m_poolUsed = 0;
    m_programPath = programPath ? programPath : "";
    dl_iterate_phdr(&AddModule, this);
}

CrashLocation CCrashModules::Locate(uintptr_t address) const {
    CrashLocation location;
    for (int m = 0; m < m_count; ++m) {
        const CrashModule& module = m_modules[m];
        for (int s = 0; s < module.segmentCount; ++s) {
            if (address >= module.segmentStart[s] && address <= module.segmentLast[s]) {
                location.module = m;
                location.section = s + 1;
                location.offset = address - module.segmentStart[s];
                location.path = module.path;
                return location;
            }
        }
    }
    return location;
}
