// The signal-safe pieces of the crash handler: the formatter against printf, the calendar and
// local-time conversions against the C library, the exception table, the module lookup.

#include "foundation/CrashText.h"
#include "foundation/CrashHandler.h"
#include "foundation/CrashModules.h"
#include "foundation/CrashSymbolizer.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dlfcn.h>
#include <memory>
#include <string>
#include <unistd.h>

TEST(CrashTextTest, FormatsLikePrintf) {
    const int64_t numbers[] = {0, 7, -7, 42, 12345, -100000, INT64_MAX, INT64_MIN};
    for (int64_t n : numbers) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%5" PRId64 "|%02" PRId64 "|%" PRId64, n, n, n);
        CCrashText text;
        text.Dec(n, 5).Char('|').Dec(n, 2, '0').Char('|').Dec(n);
        EXPECT_STREQ(text.Data(), expected);
    }
    const uint64_t hexes[] = {0, 0xA, 0xC0000005, 0xDEADBEEFCAFEull, UINT64_MAX};
    for (uint64_t h : hexes) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%08" PRIX64 " %016" PRIX64 " %" PRIX64, h, h, h);
        CCrashText text;
        text.Hex(h, 8).Char(' ').Hex(h, 16).Char(' ').Hex(h, 0);
        EXPECT_STREQ(text.Data(), expected);
    }
    CCrashText right;
    right.StrRight("libc.so.6", 30).Char('|').StrRight("a-name-longer-than-the-field-of-thirty", 30);
    char expected[128];
    std::snprintf(expected, sizeof expected, "%30s|%30s", "libc.so.6",
                  "a-name-longer-than-the-field-of-thirty");
    EXPECT_STREQ(right.Data(), expected);
}

TEST(CrashTextTest, OverlongTextIsCutAndStaysTerminated) {
    CCrashText text;
    for (int i = 0; i < 2000; ++i) {
        text.Char('x');
    }
    EXPECT_EQ(text.Size(), CCrashText::kCapacity - 1);
    EXPECT_EQ(text.Data()[text.Size()], '\0');
    text.Clear().Str(nullptr).Str("ok");
    EXPECT_STREQ(text.Data(), "ok");
    char small[4];
    CrashStrCopy(small, sizeof small, "abcdef");
    EXPECT_STREQ(small, "abc");
}

TEST(CrashTextTest, CivilTimeMatchesTheCLibrary) {
    // Across leap years, century rules and times before 1970.
    for (int64_t t = -2208988800LL; t < 4102444800LL; t += 86400 * 37 + 3607) {
        const time_t value = static_cast<time_t>(t);
        struct tm expected;
        ASSERT_NE(gmtime_r(&value, &expected), nullptr);
        const CrashCalendarTime got = CrashCivilTime(t);
        ASSERT_EQ(got.year, expected.tm_year + 1900) << t;
        ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
        ASSERT_EQ(got.day, expected.tm_mday) << t;
        ASSERT_EQ(got.hour, expected.tm_hour) << t;
        ASSERT_EQ(got.minute, expected.tm_min) << t;
        ASSERT_EQ(got.second, expected.tm_sec) << t;
    }
}

TEST(CrashTextTest, LocalTimeFollowsDaylightSavingChangesPreparedAhead) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const time_t start = 1704067200; // 2024-01-01 00:00 UTC
    CCrashLocalTime table;
    table.Prepare(start, 3);
    // Every hour of three years, and the seconds around the first change (2024-03-31 01:00 UTC).
    for (time_t t = start; t < start + 3 * 365 * 86400; t += 3600) {
        struct tm local;
        localtime_r(&t, &local);
        ASSERT_EQ(table.OffsetAt(t), local.tm_gmtoff) << t;
    }
    const time_t change = 1711846800;
    EXPECT_EQ(table.OffsetAt(change - 1), 3600);
    EXPECT_EQ(table.OffsetAt(change), 7200);
    const CrashCalendarTime local = table.LocalTime(change);
    EXPECT_EQ(local.month, 3);
    EXPECT_EQ(local.day, 31);
    EXPECT_EQ(local.hour, 3);
    if (saved) {
        setenv("TZ", previous.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST(CrashHandlerTableTest, SignalsMapToTheExceptionCodes) {
    const uintptr_t sp = 0x7ffd00100000;
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, 0, sp), 0xC0000005u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, 0x1000, sp), 0xC0000005u);
    // Just below the stack pointer (a call into the guard area), and within a large frame.
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGSEGV, SEGV_ACCERR, sp - 8, sp), 0xC00000FDu);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, sp + 4000, sp), 0xC00000FDu);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, sp - 0x200000, sp), 0xC0000005u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGBUS, BUS_ADRALN, 1, sp), 0x80000002u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGBUS, BUS_ADRERR, 1, sp), 0xC0000006u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGBUS, BUS_OBJERR, 1, sp), 0xC0000006u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGILL, ILL_ILLOPN, 1, sp), 0xC000001Du);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGILL, ILL_PRVOPC, 1, sp), 0xC0000096u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_INTDIV, 1, sp), 0xC0000094u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_INTOVF, 1, sp), 0xC0000095u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_FLTDIV, 1, sp), 0xC000008Eu);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_FLTOVF, 1, sp), 0xC0000091u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_FLTUND, 1, sp), 0xC0000093u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGFPE, FPE_FLTINV, 1, sp), 0xC0000090u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeForSignal(SIGABRT, SI_TKILL, 0, sp), 0x40000015u);

    EXPECT_STREQ(CCrashHandler::ExceptionName(0xC0000005), "ACCESS_VIOLATION");
    EXPECT_STREQ(CCrashHandler::ExceptionName(0xC00000FD), "STACK_OVERFLOW");
    EXPECT_STREQ(CCrashHandler::ExceptionName(0x80000001), "GUARD_PAGE");
    EXPECT_EQ(CCrashHandler::ExceptionName(0x40000015), nullptr);
}

TEST(CrashHandlerTableTest, VersionLineAndSymbolPath) {
    EXPECT_EQ(CCrashHandler::VersionLine(2, 1, 0), "Tavrix Version 2.1\n");
    EXPECT_EQ(CCrashHandler::VersionLine(2, 1, 7), "Tavrix Version 2.1 BETA 7\n");
    unsetenv("TAVRIX_SYMBOL_PATH");
    unsetenv("TAVRIX_ALTERNATE_SYMBOL_PATH");
    const std::string three = CCrashHandler::SymbolPath("/opt/tavrix/bin/tavrix");
    EXPECT_EQ(three.rfind("/opt/tavrix/bin;", 0), 0u) << three;
    EXPECT_EQ(std::count(three.begin(), three.end(), ';'), 2) << three;
    setenv("TAVRIX_ALTERNATE_SYMBOL_PATH", "/sym/b", 1);
    EXPECT_EQ(CCrashHandler::SymbolPath("/x/y"), "/x;" + three.substr(three.find(';') + 1) + ";/sym/b");
    unsetenv("TAVRIX_ALTERNATE_SYMBOL_PATH");
}

namespace {
__attribute__((noinline)) int LocatedFunction(int x) {
    return x * 3 + 1;
}
} // namespace

TEST(CrashModulesTest, LocatesAnAddressInItsModuleAndSegment) {
    auto modules = std::make_unique<CCrashModules>();
    modules->Fill("/the/program");
    ASSERT_GT(modules->Count(), 2);
    EXPECT_STREQ(modules->At(0).path, "/the/program");
    EXPECT_STREQ(modules->At(0).name, "program");

    const auto address = reinterpret_cast<uintptr_t>(&LocatedFunction);
    const CrashLocation inProgram = modules->Locate(address);
    ASSERT_EQ(inProgram.module, 0);
    ASSERT_GE(inProgram.section, 1);
    const CrashModule& program = modules->At(0);
    EXPECT_EQ(program.segmentStart[inProgram.section - 1] + inProgram.offset, address);

    // A function of the C library is found in the C library.
    const auto inLibc = modules->Locate(reinterpret_cast<uintptr_t>(&std::qsort));
    ASSERT_GE(inLibc.module, 1);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::qsort), &info), 0);
    EXPECT_STREQ(inLibc.path, info.dli_fname);

    const CrashLocation nowhere = modules->Locate(16);
    EXPECT_EQ(nowhere.module, -1);
    EXPECT_EQ(nowhere.section, 0);
    EXPECT_STREQ(nowhere.path, "");
    EXPECT_EQ(LocatedFunction(1), 4);
}

namespace {
std::string FinishAfter(CrashProgress::Stage stage, int modulesWritten, int framesWritten) {
    auto modules = std::make_unique<CCrashModules>();
    modules->Fill("/the/program");
    auto snapshot = std::make_unique<CrashSnapshot>();
    snapshot->frames[0] = {reinterpret_cast<uintptr_t>(&LocatedFunction), 0x7000};
    snapshot->frames[1] = {reinterpret_cast<uintptr_t>(&LocatedFunction) + 1, 0x7100};
    snapshot->frameCount = 2;
    CrashProgress progress;
    progress.stage = stage;
    progress.modulesWritten = modulesWritten;
    progress.framesWritten = framesWritten;
    FILE* file = std::tmpfile();
    CrashFinishSymbolSection(fileno(file), *snapshot, *modules, progress);
    std::string text(65536, '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    return text;
}
} // namespace

TEST(CrashSymbolizerTest, TheHandlerFinishesWhatTheSymbolisingChildLeftUnwritten) {
    // Nothing written: both headings, every module without symbols, every frame unsymbolised.
    const std::string all = FinishAfter(CrashProgress::kNothing, 0, 0);
    EXPECT_EQ(all.rfind("\nLoaded symbols :\nName ", 0), 0u) << all;
    EXPECT_NE(all.find("                        program Symbols :     0 SymType 0 \n"), std::string::npos);
    EXPECT_NE(all.find("\nStack Trace:\n\nCall stack:\nAddress   Frame\n"), std::string::npos);
    char first[64];
    std::snprintf(first, sizeof first, "%016" PRIXPTR "  %016X  00",
                  reinterpret_cast<uintptr_t>(&LocatedFunction), 0x7000);
    EXPECT_NE(all.find(first), std::string::npos) << all;
    EXPECT_NE(all.find(" /the/program (-1)\n"), std::string::npos);

    // The child stopped after one module: the rest of the modules, the stack, no second heading.
    const std::string rest = FinishAfter(CrashProgress::kModulesHeading, 1, 0);
    EXPECT_EQ(rest.find("Loaded symbols"), std::string::npos);
    EXPECT_EQ(rest.find(" program Symbols"), std::string::npos);
    EXPECT_NE(rest.find("\nStack Trace:\n"), std::string::npos);

    // The child stopped after the first frame: only the second frame and the closing line feed.
    const std::string last = FinishAfter(CrashProgress::kStackHeading, 99, 1);
    EXPECT_EQ(last.find("Stack Trace"), std::string::npos);
    EXPECT_EQ(last.find("0000000000007000"), std::string::npos);
    EXPECT_NE(last.find("0000000000007100"), std::string::npos);
    EXPECT_EQ(last.substr(last.size() - 2), "\n\n");

    EXPECT_EQ(FinishAfter(CrashProgress::kComplete, 0, 0), "");
    EXPECT_EQ(FinishAfter(CrashProgress::kInitFailed, 0, 0), "");
}
