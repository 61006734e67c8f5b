#pragma once
// The symbolised part of a crash report: the loaded modules with their symbol counts and the call
// stack with function, displacement and source line, read from the modules' symbol tables and
// DWARF debugging information with elfutils' libdw.
//
// libdw allocates memory, so it never runs in the signal handler: the crash handler starts a
// child process for it and finishes the report itself from the recorded progress when the child
// fails or takes too long.

#include "foundation/CrashModules.h"
#include "foundation/CrashState.h"

// Symbol types of the module lines.
enum CrashSymbolType : int {
    kSymNone = 0,   // no symbols at all
    kSymExport = 4, // only the dynamic (exported) symbols
    kSymFull = 6,   // the full symbol table
    kSymDwarf = 7,  // symbol table and DWARF debugging information (source lines)
};

// Writes "Loaded symbols", "Stack Trace" and the call stack to fd, recording each step in the
// progress block. debugInfoPath is libdw's search list for separate debugging files.
void CrashWriteSymbolSection(int fd, const CrashSnapshot& snapshot, const CCrashModules& modules,
                             const char* debugInfoPath, CrashProgress& progress);

// Writes whatever the symbolising child left unwritten, without symbols: modules with no symbol
// information and frames as segment:offset and module path. Async-signal-safe.
void CrashFinishSymbolSection(int fd, const CrashSnapshot& snapshot, const CCrashModules& modules,
                              const CrashProgress& progress);

// The frame line prefix "%016lX  %016lX  " and the unsymbolised frame line
// "%04X:%08X %s (%d)\n". Async-signal-safe.
class CCrashText;
void CrashFrameAddresses(CCrashText& text, const CrashFrame& frame);
void CrashUnsymbolisedFrame(CCrashText& text, const CCrashModules& modules, uintptr_t lookup, int errorCode);
