#include "foundation/CrashSymbolizer.h"

#include "foundation/CrashText.h"

#include <cstdlib>
#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>
#include <unistd.h>

namespace {

constexpr char kModulesHeading[] = "\nLoaded symbols :\n";
constexpr char kStackHeading[] = "\nStack Trace:\n\nCall stack:\nAddress   Frame\n";
constexpr char kInitFailed[] = "\nError initialising symbol library. Stack trace impossible.\n";

// The address to look a frame up by: a return address points after the call, which may already
// belong to the next line or function, so every frame but the crashing one is looked up one byte
// earlier.
uintptr_t LookupAddress(const CrashSnapshot& snapshot, int index) {
    const uintptr_t pc = snapshot.frames[index].pc;
    return index == 0 || pc == 0 ? pc : pc - 1;
}

void ModuleLine(CCrashText& text, const CrashModule& module, int symbols, int type) {
    text.Clear().Str("Name ").StrRight(module.name, 30).Str(" Symbols : ").Dec(symbols, 5).Str(" SymType ");
    text.Dec(type).Str(" \n");
}

bool HasFullSymbolTable(Dwfl_Module* module) {
    GElf_Addr bias = 0;
    Elf* elf = dwfl_module_getelf(module, &bias);
    if (!elf) {
        return false;
    }
    for (Elf_Scn* section = elf_nextscn(elf, nullptr); section; section = elf_nextscn(elf, section)) {
        GElf_Shdr header;
        if (gelf_getshdr(section, &header) && header.sh_type == SHT_SYMTAB) {
            return true;
        }
    }
    return false;
}

void DescribeModule(Dwfl* dwfl, const CrashModule& module, int& symbols, int& type) {
    symbols = 0;
    type = kSymNone;
    if (module.segmentCount == 0) {
        return;
    }
    Dwfl_Module* found = dwfl_addrmodule(dwfl, module.segmentStart[0]);
    if (!found) {
        return;
    }
    const int count = dwfl_module_getsymtab(found);
    symbols = count > 0 ? count : 0;
    GElf_Addr bias = 0;
    if (dwfl_module_getdwarf(found, &bias)) {
        type = kSymDwarf;
    } else if (HasFullSymbolTable(found)) {
        type = kSymFull;
    } else if (symbols > 0) {
        type = kSymExport;
    }
}

void FrameLine(CCrashText& text, Dwfl* dwfl, const CrashSnapshot& snapshot, const CCrashModules& modules,
               int index) {
    const CrashFrame& frame = snapshot.frames[index];
    const uintptr_t lookup = LookupAddress(snapshot, index);
    text.Clear();
    CrashFrameAddresses(text, frame);
    Dwfl_Module* module = dwfl_addrmodule(dwfl, lookup);
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char* name =
        module ? dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr) : nullptr;
    if (!name) {
        CrashUnsymbolisedFrame(text, modules, lookup, dwfl_errno());
        return;
    }
    int status = -1;
    char* demangled = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    text.Str(status == 0 && demangled ? demangled : name);
    std::free(demangled);
    const uint64_t displacement = offset + (frame.pc - lookup);
    text.Char('+').Hex(displacement, 0);
    int lineNumber = 0;
    Dwfl_Line* line = dwfl_module_getsrc(module, lookup);
    const char* source =
        line ? dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr) : nullptr;
    if (source) {
        text.Str(" line ").Dec(lineNumber).Str(" source ").Str(source).Char('\n');
    } else {
        text.Char(' ').Dec(dwfl_errno()).Char('\n');
    }
}

} // namespace

void CrashFrameAddresses(CCrashText& text, const CrashFrame& frame) {
    text.Hex(frame.pc, 16).Str("  ").Hex(frame.frame, 16).Str("  ");
}

void CrashUnsymbolisedFrame(CCrashText& text, const CCrashModules& modules, uintptr_t lookup, int errorCode) {
    const CrashLocation location = modules.Locate(lookup);
    text.Hex(static_cast<uint64_t>(location.section), 4).Char(':').Hex(location.offset, 8).Char(' ');
    text.Str(location.path).Str(" (").Dec(errorCode).Str(")\n");
}

void CrashWriteSymbolSection(int fd, const CrashSnapshot& snapshot, const CCrashModules& modules,
                             const char* debugInfoPath, CrashProgress& progress) {
    char* searchPath = const_cast<char*>(debugInfoPath);
    const Dwfl_Callbacks callbacks = {
        .find_elf = dwfl_linux_proc_find_elf,
        .find_debuginfo = dwfl_standard_find_debuginfo,
        .section_address = nullptr,
        .debuginfo_path = &searchPath,
    };
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl) {
        dwfl_report_begin(dwfl);
        if (dwfl_linux_proc_report(dwfl, getpid()) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
            dwfl_end(dwfl);
            dwfl = nullptr;
        }
    }
    if (!dwfl) {
        CrashWriteAll(fd, kInitFailed, sizeof kInitFailed - 1);
        progress.stage.store(CrashProgress::kInitFailed);
        return;
    }

    CCrashText text;
    CrashWriteAll(fd, kModulesHeading, sizeof kModulesHeading - 1);
    progress.stage.store(CrashProgress::kModulesHeading);
    for (int m = 0; m < modules.Count(); ++m) {
        int symbols = 0;
        int type = kSymNone;
        DescribeModule(dwfl, modules.At(m), symbols, type);
        ModuleLine(text, modules.At(m), symbols, type);
        text.WriteTo(fd);
        progress.modulesWritten.store(m + 1);
        progress.heartbeat.fetch_add(1);
    }
    progress.stage.store(CrashProgress::kModulesDone);

    CrashWriteAll(fd, kStackHeading, sizeof kStackHeading - 1);
    progress.stage.store(CrashProgress::kStackHeading);
    for (int i = 0; i < snapshot.frameCount; ++i) {
        FrameLine(text, dwfl, snapshot, modules, i);
        text.WriteTo(fd);
        progress.framesWritten.store(i + 1);
        progress.heartbeat.fetch_add(1);
    }
    CrashWriteAll(fd, "\n", 1);
    progress.stage.store(CrashProgress::kComplete);
    dwfl_end(dwfl);
}

void CrashFinishSymbolSection(int fd, const CrashSnapshot& snapshot, const CCrashModules& modules,
                              const CrashProgress& progress) {
    const int stage = progress.stage.load();
    if (stage == CrashProgress::kComplete || stage == CrashProgress::kInitFailed) {
        return;
    }
    CCrashText text;
    if (stage < CrashProgress::kModulesHeading) {
        CrashWriteAll(fd, kModulesHeading, sizeof kModulesHeading - 1);
    }
    if (stage < CrashProgress::kModulesDone) {
        for (int m = progress.modulesWritten.load(); m < modules.Count(); ++m) {
            ModuleLine(text, modules.At(m), 0, kSymNone);
            text.WriteTo(fd);
        }
    }
    if (stage < CrashProgress::kStackHeading) {
        CrashWriteAll(fd, kStackHeading, sizeof kStackHeading - 1);
    }
    const int first = stage < CrashProgress::kStackHeading ? 0 : progress.framesWritten.load();
    for (int i = first; i < snapshot.frameCount; ++i) {
        text.Clear();
        CrashFrameAddresses(text, snapshot.frames[i]);
        CrashUnsymbolisedFrame(text, modules, LookupAddress(snapshot, i), -1);
        text.WriteTo(fd);
    }
    CrashWriteAll(fd, "\n", 1);
}
