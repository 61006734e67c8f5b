#include "foundation/Tracer.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Each test gets a private folder for trace files and for the settings file, and the environment
// variable unset, so that only what the test arranges can switch tracing on.
class TracerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("tavrix-tracer-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "config");
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        unsetenv("TAVRIX_TRACE");
        m_prefix = (m_dir / "tavrix.trace.").string();
        CTracer::Instance().SetFilePrefixForTesting(m_prefix);
    }
    void TearDown() override {
        CTracer::Instance().Stop();
        CTracer::Instance().SetFilePrefixForTesting("");
        unsetenv("TAVRIX_TRACE");
        unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(m_dir);
    }
    void WriteSettings(const std::string& text) {
        fs::create_directories(m_dir / "config" / "Kestrova");
        std::ofstream(m_dir / "config" / "Kestrova" / "Tavrix.conf") << text;
    }
    std::vector<fs::path> TraceFiles() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(m_dir)) {
            if (entry.path().filename().string().rfind("tavrix.trace.", 0) == 0) {
                files.push_back(entry.path());
            }
        }
        return files;
    }
    std::string FileOf(uint32_t tid) const { return m_prefix + std::to_string(tid); }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static uint32_t Tid() { return static_cast<uint32_t>(::gettid()); }

    fs::path m_dir;
    std::string m_prefix;
};

} // namespace

TEST_F(TracerTest, OffWithoutEnvironmentOrSettingsTouchesNoFile) {
    std::ofstream(m_prefix + "99") << "old run";
    EXPECT_FALSE(CTracer::Instance().Start());
    EXPECT_FALSE(CTracer::Instance().IsEnabled());
    TRACE("nothing %d", 1);
    CTracer::Instance().FlushAll();
    ASSERT_EQ(TraceFiles().size(), 1u) << "no file created and the old one not deleted";
    EXPECT_EQ(Read(m_prefix + "99"), "old run");
}

TEST_F(TracerTest, EnvironmentValueYesInAnyCaseEnablesAndOthersDoNot) {
    for (const char* value : {"no", "yess", "yes       x", ""}) {
        setenv("TAVRIX_TRACE", value, 1);
        EXPECT_FALSE(CTracer::Instance().Start()) << value;
    }
    setenv("TAVRIX_TRACE", "YES", 1);
    EXPECT_TRUE(CTracer::Instance().Start());
    EXPECT_TRUE(CTracer::Instance().IsEnabled());
}

TEST_F(TracerTest, SettingsValueMustBeTheInteger1) {
    WriteSettings("[Tavrix]\nTRACE=\"1\"\n");
    EXPECT_FALSE(CTracer::Instance().Start()) << "a string \"1\" does not enable tracing";
    WriteSettings("[Tavrix]\nTRACE=2\n");
    EXPECT_FALSE(CTracer::Instance().Start());
    WriteSettings("[Tavrix]\nTRACE=1\n");
    setenv("TAVRIX_TRACE", "no", 1);
    EXPECT_TRUE(CTracer::Instance().Start())
        << "the settings value enables even when the environment says no";
}

TEST_F(TracerTest, StartDeletesEarlierRunsAndWritesOneFilePerThreadInTheLineFormat) {
    std::ofstream(m_prefix + "12345") << "old";
    std::ofstream(m_prefix + "anything") << "old";
    std::ofstream(m_dir / "other.txt") << "kept";
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    EXPECT_TRUE(TraceFiles().empty()) << "earlier trace files are deleted at start";
    EXPECT_TRUE(fs::exists(m_dir / "other.txt"));

    TRACE("CRecContext::StartRecordBlocking() rc started twice RC %p", static_cast<void*>(nullptr));
    TRACE("value %d", 42);
    CTracer::Instance().FlushAll();
    const std::string text = Read(FileOf(Tid()));
    std::istringstream lines(text);
    std::string line;
    const std::regex format("^[0-9a-f]{16}-[0-9a-f]{8} : (.*)$");
    std::vector<std::string> messages;
    while (std::getline(lines, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, format)) << line;
        char tid[9];
        std::snprintf(tid, sizeof tid, "%08x", Tid());
        EXPECT_EQ(line.substr(17, 8), tid);
        messages.push_back(m[1]);
    }
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "CRecContext::StartRecordBlocking() rc started twice RC (nil)");
    EXPECT_EQ(messages[1], "value 42");
}

TEST_F(TracerTest, LongMessagesAreCutAt999Characters) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    const std::string longText(1500, 'x');
    TRACE("%s", longText.c_str());
    CTracer::Instance().FlushAll();
    const std::string text = Read(FileOf(Tid()));
    const auto colon = text.find(" : ");
    ASSERT_NE(colon, std::string::npos);
    EXPECT_EQ(text.substr(colon + 3), std::string(999, 'x') + "\n");
}

TEST_F(TracerTest, OverflowBetweenWriterPassesKeepsEveryLineAndMarksIt) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    // About 1.2 MB, far more than one buffer, written faster than one writer pass.
    const std::string payload(900, 'p');
    constexpr int kLines = 1300;
    for (int i = 0; i < kLines; ++i) {
        TRACE("line %05d %s", i, payload.c_str());
    }
    CTracer::Instance().FlushAll();
    const std::string text = Read(FileOf(Tid()));
    EXPECT_NE(text.find("TRACER: Buffer overflow\n\r"), std::string::npos);
    size_t pos = 0;
    for (int i = 0; i < kLines; ++i) {
        char needle[32];
        std::snprintf(needle, sizeof needle, "line %05d ", i);
        const size_t found = text.find(needle, pos);
        ASSERT_NE(found, std::string::npos) << "line " << i << " lost or out of order";
        pos = found;
    }
}

TEST_F(TracerTest, TwoThreadsWriteTwoFilesEachWithItsOwnLinesInOrder) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    uint32_t tids[2] = {};
    auto body = [&](int index) {
        tids[index] = Tid();
        for (int i = 0; i < 200; ++i) {
            TRACE("thread %d line %d", index, i);
        }
    };
    std::thread a(body, 0), b(body, 1);
    a.join();
    b.join();
    CTracer::Instance().FlushAll();
    for (int index = 0; index < 2; ++index) {
        std::istringstream lines(Read(FileOf(tids[index])));
        std::string line;
        int expected = 0;
        while (std::getline(lines, line)) {
            EXPECT_NE(line.find("thread " + std::to_string(index) + " line " + std::to_string(expected)),
                      std::string::npos)
                << line;
            ++expected;
        }
        EXPECT_EQ(expected, 200);
    }
}

TEST_F(TracerTest, FileOfAnEndedThreadIsWrittenAndClosedWithinAboutTwoSeconds) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    uint32_t tid = 0;
    std::thread([&] {
        tid = Tid();
        TRACE("short-lived thread");
    }).join();
    const std::string file = FileOf(tid);
    auto fileIsOpen = [&] {
        std::error_code ec;
        for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code linkError;
            if (fs::read_symlink(it->path(), linkError) == file) {
                return true;
            }
        }
        return false;
    };
    // The writer purges ended threads every fourth 500 ms pass; allow generous slack for a machine
    // busy with other test processes.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while ((fileIsOpen() || Read(file).empty()) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(fileIsOpen());
    EXPECT_NE(Read(file).find("short-lived thread"), std::string::npos);
}

// Traces may hold what the user typed: the files are the owner's only, and a name planted in the
// folder beforehand (a link to a file of the user's, another user's file) is never written.
TEST_F(TracerTest, FilesAreTheOwnersOnlyAndPlantedLinksOrForeignFilesAreNotWritten) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    TRACE("own file");
    CTracer::Instance().FlushAll();
    struct stat info {};
    ASSERT_EQ(stat(FileOf(Tid()).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string target = (m_dir / "precious.txt").string();
    std::ofstream(target) << "untouched";
    std::thread([&] {
        ASSERT_EQ(symlink(target.c_str(), FileOf(Tid()).c_str()), 0);
        TRACE("through a link");
        CTracer::Instance().FlushAll();
        struct stat link {};
        ASSERT_EQ(lstat(FileOf(Tid()).c_str(), &link), 0);
        EXPECT_TRUE(S_ISLNK(link.st_mode));
    }).join();
    EXPECT_EQ(Read(target), "untouched");

    if (geteuid() == 0) {
        // Only the superuser can make a file that belongs to someone else.
        std::thread([&] {
            const std::string foreign = FileOf(Tid());
            std::ofstream(foreign) << "theirs";
            ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
            ASSERT_EQ(chmod(foreign.c_str(), 0666), 0);
            TRACE("into their file");
            CTracer::Instance().FlushAll();
            EXPECT_EQ(Read(foreign), "theirs");
        }).join();
    }
    // Tracing goes on for the others.
    TRACE("still tracing");
    CTracer::Instance().FlushAll();
    EXPECT_NE(Read(FileOf(Tid())).find("still tracing"), std::string::npos);
}

TEST_F(TracerTest, RestartAfterStopWritesAgain) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    TRACE("first run");
    CTracer::Instance().Stop();
    EXPECT_FALSE(CTracer::Instance().IsEnabled());
    TRACE("while stopped");
    ASSERT_TRUE(CTracer::Instance().Start());
    EXPECT_TRUE(TraceFiles().empty()) << "the new run deletes the first run's file";
    TRACE("second run");
    CTracer::Instance().Stop();
    const std::string text = Read(FileOf(Tid()));
    EXPECT_EQ(text.find("first run"), std::string::npos);
    EXPECT_EQ(text.find("while stopped"), std::string::npos);
    EXPECT_NE(text.find("second run"), std::string::npos);
}

TEST_F(TracerTest, StopHereTracesTheMarkerAndFlushes) {
    setenv("TAVRIX_TRACE", "yes", 1);
    ASSERT_TRUE(CTracer::Instance().Start());
    TRACER_STOP_HERE();
    // Flushed already: readable without Stop or FlushAll.
    EXPECT_NE(Read(FileOf(Tid())).find(" : Stopped by TRACER_STOP_HERE-Macro\n"), std::string::npos);
}
