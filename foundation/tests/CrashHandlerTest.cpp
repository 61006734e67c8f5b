// Crashes child processes on purpose and checks what the crash handler leaves behind: the report's
// layout, the core file (through gdb), the exit signal, appending, the one-report rule and the
// debugger rule.

#include "foundation/CrashHandler.h"
#include "TavrixBuildPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const std::string kVictim = std::string(TAVRIX_BINARY_DIR) + "/bin/crash_victim";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

class CrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/crashtest.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_base = m_dir + "/victim";
    }
    void TearDown() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

    // Runs the victim and returns its wait status. extraEnv entries are "NAME=value".
    int Run(const std::string& mode, std::vector<std::string> extraArgs = {},
            std::vector<std::string> extraEnv = {}, bool traced = false) {
        std::vector<std::string> args = {kVictim, mode, m_base};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("TAVRIX_", 0) != 0) {
                env.push_back(entry);
            }
        }
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, kVictim.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
        int status = 0;
        for (;;) {
            EXPECT_EQ(waitpid(pid, &status, 0), pid);
            if (!traced || !WIFSTOPPED(status)) {
                return status;
            }
            // As a debugger does: pass every signal on to the traced process.
            const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(signal)));
        }
    }

    std::string Report() const { return ReadFile(m_base + ".report"); }

    std::string m_dir;
    std::string m_base;
};

TEST_F(CrashHandlerTest, AccessViolationWritesTheReportInItsLayoutAndDiesOfTheSignal) {
    const int status = Run("segv");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    const std::string report = Report();
    std::istringstream lines(report);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, std::string(152, '/'));
    std::getline(lines, line);
    EXPECT_EQ(line, "Exception code: C0000005 ACCESS_VIOLATION");
    std::getline(lines, line);
    EXPECT_TRUE(
        std::regex_match(line, std::regex("Fault address:  [0-9A-F]{16} 0[1-9]:[0-9A-F]{8} " + kVictim)))
        << line;
    EXPECT_TRUE(
        std::regex_search(report, std::regex("\nTime:\n\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\n")));
    EXPECT_TRUE(std::regex_search(report, std::regex("\nRegisters:\nRAX:[0-9A-F]{16}\nRBX:[0-9A-F]{16}\n")));
    EXPECT_TRUE(std::regex_search(report, std::regex("\nCS:RIP:[0-9A-F]{4}:[0-9A-F]{16}\n"
                                                     "SS:RSP:[0-9A-F]{4}:[0-9A-F]{16}  RBP:[0-9A-F]{16}\n"
                                                     "DS:[0-9A-F]{4}  ES:[0-9A-F]{4}  FS:[0-9A-F]{4}  "
                                                     "GS:[0-9A-F]{4}\nFlags:[0-9A-F]{8}\n")));
    EXPECT_NE(report.find("\n\nTavrix Version "), std::string::npos);
    EXPECT_NE(report.find("\nProgram path:\n" + kVictim + "\n"), std::string::npos);
    // Without the symbol path variables the path has exactly three parts.
    const auto symbolAt = report.find("\nSymbol path :\n");
    ASSERT_NE(symbolAt, std::string::npos);
    const std::string symbolPath =
        report.substr(symbolAt + 15, report.find('\n', symbolAt + 15) - symbolAt - 15);
    EXPECT_EQ(Count(symbolPath, ";"), 2) << symbolPath;
    EXPECT_EQ(symbolPath.substr(0, symbolPath.find(';')), std::string(TAVRIX_BINARY_DIR) + "/bin");

    // The program itself is listed with its symbols and debugging information.
    EXPECT_TRUE(std::regex_search(report, std::regex("\nLoaded symbols :\nName +crash_victim Symbols : +\\d+ "
                                                     "SymType 7 \n")))
        << report;
    EXPECT_TRUE(
        std::regex_search(report, std::regex("Name +libc\\.so\\.6 Symbols : +\\d+ SymType [467] \n")));
    // The first frame is the faulting function, with its source line.
    const auto stackAt = report.find("\nStack Trace:\n\nCall stack:\nAddress   Frame\n");
    ASSERT_NE(stackAt, std::string::npos);
    std::istringstream stack(report.substr(stackAt + 43));
    std::getline(stack, line);
    EXPECT_TRUE(std::regex_match(
        line,
        std::regex("[0-9A-F]{16}  [0-9A-F]{16}  .*VictimWriteThroughNull.*\\+[0-9A-F]+ line \\d+ source "
                   ".*CrashVictim\\.cpp")))
        << line;
    EXPECT_NE(report.find(" main+"), std::string::npos);
    EXPECT_EQ(report.back(), '\n');
}

TEST_F(CrashHandlerTest, TheCoreFileLoadsInGdbWithTheCrashingFrame) {
    Run("segv");
    const std::string core = m_base + ".minidump";
    ASSERT_TRUE(Exists(core));
    // The process's memory and its report are for the owner's eyes only.
    for (const std::string& file : {core, m_base + ".report"}) {
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
    }
    const std::string out = m_dir + "/gdb.txt";
    const std::string command =
        "gdb -nx -batch -ex bt -ex 'info sharedlibrary' '" + kVictim + "' '" + core + "' >'" + out + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string gdb = ReadFile(out);
    EXPECT_NE(gdb.find("terminated with signal SIGSEGV"), std::string::npos) << gdb;
    EXPECT_NE(gdb.find("#0  "), std::string::npos) << gdb;
    EXPECT_NE(gdb.find("VictimWriteThroughNull"), std::string::npos) << gdb;
    EXPECT_NE(gdb.find("main"), std::string::npos) << gdb;
    // The dynamic loader's list is in the core: the shared libraries are found.
    EXPECT_TRUE(std::regex_search(gdb, std::regex("Yes .*/libc\\.so\\.6"))) << gdb;
    EXPECT_EQ(gdb.find("Can't open file"), std::string::npos) << gdb;
}

TEST_F(CrashHandlerTest, TheCoreFileHoldsEveryThreadWithTheCrashedOneFirst) {
    Run("sleepers");
    const std::string out = m_dir + "/gdb.txt";
    const std::string command = "gdb -nx -batch -ex 'info threads' -ex 'thread apply all bt' '" + kVictim +
                                "' '" + m_base + ".minidump' >'" + out + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string gdb = ReadFile(out);
    EXPECT_TRUE(std::regex_search(
        gdb, std::regex("\\* 1 +.*LWP \\d+\\) +\\(anonymous namespace\\)::VictimWriteThroughNull")))
        << gdb;
    EXPECT_NE(gdb.find("\n  3 "), std::string::npos) << gdb;
    EXPECT_EQ(Count(gdb, "VictimSleeper"), 2) << gdb;
}

TEST_F(CrashHandlerTest, EachSignalMapsToItsExceptionName) {
    const struct {
        const char* mode;
        int signal;
        const char* line;
    } cases[] = {
        {"fpe", SIGFPE, "Exception code: C0000094 INT_DIVIDE_BY_ZERO"},
        {"fltdiv", SIGFPE, "Exception code: C000008E FLT_DIVIDE_BY_ZERO"},
        {"ill", SIGILL, "Exception code: C000001D ILLEGAL_INSTRUCTION"},
        {"bus", SIGBUS, "Exception code: C0000006 IN_PAGE_ERROR"},
        {"abort", SIGABRT, "Exception code: 40000015 Aborted"},
        {"overflow", SIGSEGV, "Exception code: C00000FD STACK_OVERFLOW"},
        {"kill", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION"},
        {"thread", SIGSEGV, "Exception code: C0000005 ACCESS_VIOLATION"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        unlink((m_base + ".report").c_str());
        const int status = Run(c.mode);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), c.signal);
        const std::string report = Report();
        EXPECT_NE(report.find("\n" + std::string(c.line) + "\n"), std::string::npos) << report.substr(0, 400);
        EXPECT_NE(report.find("\nStack Trace:\n"), std::string::npos);
    }
}

TEST_F(CrashHandlerTest, ASecondRunAppendsItsReportAndTwoCrashesInOneRunWriteOne) {
    Run("segv");
    Run("fpe");
    std::string report = Report();
    EXPECT_EQ(Count(report, "Exception code: "), 2);
    EXPECT_LT(report.find("ACCESS_VIOLATION"), report.find("INT_DIVIDE_BY_ZERO"));

    unlink((m_base + ".report").c_str());
    const int status = Run("twice");
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    report = Report();
    EXPECT_EQ(Count(report, "Exception code: "), 1);
    EXPECT_EQ(Count(report, "\nStack Trace:\n"), 1);
}

TEST_F(CrashHandlerTest, UnderADebuggerNothingIsWritten) {
    const int status = Run("traced", {}, {}, true);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_FALSE(Exists(m_base + ".report"));
    EXPECT_FALSE(Exists(m_base + ".minidump"));
}

// The fallback files of one crash: "<program>-<pid>-<token>.report" and ".minidump" with the same
// stem, new files readable by the owner only, in a folder nobody else may write to.
void ExpectOneFreshPairIn(const std::string& folder) {
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0) << folder;
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 022, 0u) << folder;
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                names.push_back(entry->d_name);
            }
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 2u) << folder;
    std::smatch dump, report;
    ASSERT_TRUE(std::regex_match(names[0], dump, std::regex("victim-(\\d+-[A-Za-z0-9]{6})\\.minidump")))
        << names[0];
    ASSERT_TRUE(std::regex_match(names[1], report, std::regex("victim-(\\d+-[A-Za-z0-9]{6})\\.report")))
        << names[1];
    EXPECT_EQ(dump[1], report[1]);
    for (const std::string& name : names) {
        ASSERT_EQ(lstat((folder + "/" + name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }
    EXPECT_NE(ReadFile(folder + "/" + names[1]).find("ACCESS_VIOLATION"), std::string::npos);
    EXPECT_GT(ReadFile(folder + "/" + names[0]).size(), 0u);
}

TEST_F(CrashHandlerTest, WhenTheirFolderCannotBeWrittenTheFilesGoToThePrivateStateFolderUnderNewNames) {
    // A file planted under the fixed name in the shared temporary folder receives nothing.
    const std::string tmp = m_dir + "/tmp";
    mkdir(tmp.c_str(), 01777);
    std::ofstream(tmp + "/victim.report") << "planted";
    chmod((tmp + "/victim.report").c_str(), 0666);
    m_base = m_dir + "/no/such/folder/victim";
    Run("segv", {}, {"TMPDIR=" + tmp, "XDG_STATE_HOME=" + m_dir + "/state"});
    EXPECT_EQ(ReadFile(tmp + "/victim.report"), "planted");
    EXPECT_FALSE(Exists(tmp + "/victim.minidump"));
    ExpectOneFreshPairIn(m_dir + "/state/Tavrix");

    // A second crash gets files of its own.
    Run("fpe", {}, {"TMPDIR=" + tmp, "XDG_STATE_HOME=" + m_dir + "/state"});
    EXPECT_EQ(std::system(("test $(ls '" + m_dir + "/state/Tavrix' | wc -l) = 4").c_str()), 0);
}

TEST_F(CrashHandlerTest, PlantedLinksAndOtherUsersFilesNextToTheProgramAreNeverWritten) {
    const std::string precious = m_dir + "/precious.txt";
    std::ofstream(precious) << "untouched";
    ASSERT_EQ(symlink(precious.c_str(), (m_base + ".report").c_str()), 0);
    const std::string dump = m_base + ".minidump";
    if (geteuid() == 0) {
        // Only the superuser can make a file that belongs to someone else.
        std::ofstream(dump) << "theirs";
        ASSERT_EQ(chown(dump.c_str(), 65534, 65534), 0);
        ASSERT_EQ(chmod(dump.c_str(), 0666), 0);
    } else {
        // A second name of a file of the user's own.
        ASSERT_EQ(link(precious.c_str(), dump.c_str()), 0);
    }
    const int status = Run("segv", {}, {"XDG_STATE_HOME=" + m_dir + "/state"});
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_EQ(ReadFile(precious), "untouched");
    struct stat info {};
    ASSERT_EQ(lstat((m_base + ".report").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadFile(dump), geteuid() == 0 ? "theirs" : "untouched");
    ExpectOneFreshPairIn(m_dir + "/state/Tavrix");
}

TEST_F(CrashHandlerTest, WithoutAPrivateStateFolderTheFilesGoToAFolderOfTheUsersOwnInTheTemporaryFolder) {
    // The state folder is open to everybody, and the temporary folder's usual name for this user
    // is taken by a folder that others may enter: a new private folder is made.
    const std::string state = m_dir + "/state";
    mkdir(state.c_str(), 0700);
    mkdir((state + "/Tavrix").c_str(), 0777);
    chmod((state + "/Tavrix").c_str(), 0777);
    const std::string tmp = m_dir + "/tmp";
    mkdir(tmp.c_str(), 01777);
    const std::string usual = tmp + "/tavrix-" + std::to_string(geteuid());
    mkdir(usual.c_str(), 0755);
    chmod(usual.c_str(), 0755);
    m_base = m_dir + "/no/such/folder/victim";
    Run("segv", {}, {"TMPDIR=" + tmp, "XDG_STATE_HOME=" + state});
    EXPECT_EQ(std::system(("test -z \"$(find '" + state + "/Tavrix' '" + usual + "' -mindepth 1)\"").c_str()),
              0);

    std::vector<std::string> made;
    if (DIR* dir = opendir(tmp.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (std::string(entry->d_name)
                    .rfind(std::string("tavrix-" + std::to_string(geteuid())) + "-", 0) == 0) {
                made.push_back(tmp + "/" + entry->d_name);
            }
        }
        closedir(dir);
    }
    ASSERT_EQ(made.size(), 1u);
    struct stat info {};
    ASSERT_EQ(stat(made[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ExpectOneFreshPairIn(made[0]);
}

TEST_F(CrashHandlerTest, TheTraceGetsTheThreeLinesAndIsFlushed) {
    const std::string prefix = m_dir + "/trace.";
    Run("segv", {prefix}, {"TAVRIX_TRACE=yes"});
    const std::string listing = m_dir + "/list.txt";
    std::system(("cat '" + m_dir + "'/trace.* >'" + listing + "' 2>/dev/null").c_str());
    const std::string trace = ReadFile(listing);
    EXPECT_NE(trace.find("victim running"), std::string::npos);
    EXPECT_NE(trace.find(" : ---------------------------------------------------------\n"),
              std::string::npos);
    EXPECT_NE(trace.find(" : ------------------ UNHANDLED EXCEPTION ------------------\n"),
              std::string::npos);
}

TEST_F(CrashHandlerTest, SymbolPathVariablesExtendTheSymbolPath) {
    Run("segv", {}, {"TAVRIX_SYMBOL_PATH=/opt/a", "TAVRIX_ALTERNATE_SYMBOL_PATH=/opt/b"});
    EXPECT_NE(Report().find(";/usr;/opt/a;/opt/b\n"), std::string::npos);
}

} // namespace
