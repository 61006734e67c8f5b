#include "actions/ProcessLauncher.h"

#include "PeerProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using Words = std::vector<std::string>;

Words SplitWords(const std::string& text) {
    Words words;
    for (const auto& token : CProcessLauncher::Split(text)) {
        words.push_back(token.text);
    }
    return words;
}

// Waits for the recorder's output file; empty after 10 s.
std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        if (access(path.c_str(), F_OK) == 0) {
            return ReadWholeFile(path);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

Words RecordedArguments(const std::string& content) {
    Words words;
    size_t start = content.find('\n') + 1;
    while (start < content.size()) {
        size_t end = content.find('\0', start);
        words.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

} // namespace

TEST(ProcessLauncherTest, SplitFollowsShellQuotingRules) {
    EXPECT_EQ(SplitWords("  a  b\tc\nd "), (Words{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitWords(R"("a b" 'c"d' e\;f)"), (Words{"a b", "c\"d", "e;f"}));
    EXPECT_EQ(SplitWords(R"("x\"y\\z\n" 'no\escape')"), (Words{"x\"y\\z\\n", "no\\escape"}));
    EXPECT_EQ(SplitWords(R"(a'b'"c"d \ e)"), (Words{"abcd", " e"}));
    EXPECT_EQ(SplitWords(R"(trailing\)"), (Words{"trailing\\"}));
    EXPECT_EQ(SplitWords(R"("unclosed quote)"), (Words{"unclosed quote"}));
    EXPECT_EQ(SplitWords(""), Words{});
    auto tokens = CProcessLauncher::Split(R"('' x)");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_TRUE(tokens[0].quoted);
    EXPECT_EQ(tokens[0].text, "");
}

TEST(ProcessLauncherTest, PlaceholderValuesNeverChangeTheSplitting) {
    auto expand = [](const std::string& word) {
        std::string out;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word.compare(i, 2, "%n") == 0) {
                out += "Bob's \"cam\"; rm -rf ~";
                ++i;
            } else if (word.compare(i, 2, "%r") == 0) {
                ++i; // no file at this event
            } else {
                out += word[i];
            }
        }
        return out;
    };
    EXPECT_EQ(CProcessLauncher::BuildArguments("--camera=%n %r \"%r\" %n", expand),
              (Words{"--camera=Bob's \"cam\"; rm -rf ~", "", "Bob's \"cam\"; rm -rf ~"}));
}

TEST(ProcessLauncherTest, ProgramGetsItsArgumentsIntactDetachedWithNothingInherited) {
    std::string dir = MakeTempDir("launch-");
    std::string out = dir + "/argv.txt";
    // A descriptor without close-on-exec must still not reach the program.
    int leaked = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 0);
    Words arguments = {"two words", "quote\"s and 'singles'", "semi;colon && rm -rf /", "", "$HOME `id`",
                       "ünï"};
    Words all = {out};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ASSERT_EQ(CProcessLauncher::Start(ARGV_RECORDER, all), 0);
    close(leaked);
    std::string content = WaitForFile(out);
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(RecordedArguments(content), arguments);
    std::string report = content.substr(0, content.find('\n'));
    EXPECT_EQ(report, "session=1 stdin=/dev/null stdout=/dev/null stderr=/dev/null fds=3");
    RemoveTree(dir);
}

TEST(ProcessLauncherTest, FinishedProgramsAreCollected) {
    pid_t pid = -1;
    ASSERT_EQ(CProcessLauncher::Start("true", {}, &pid), 0) << "a bare name is looked up in PATH";
    ASSERT_GT(pid, 0);
    std::string proc = "/proc/" + std::to_string(pid);
    bool gone = false;
    for (int i = 0; i < 500 && !gone; ++i) {
        gone = access(proc.c_str(), F_OK) != 0;
        if (!gone) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    EXPECT_TRUE(gone) << "the ended program must not stay as a zombie";
}

TEST(ProcessLauncherTest, FailuresReturnTheSystemsErrorAndText) {
    EXPECT_EQ(CProcessLauncher::Start("no-such-program-anywhere", {}), ENOENT) << "looked up in PATH";
    EXPECT_EQ(CProcessLauncher::SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(CProcessLauncher::SystemErrorText(98765), "Error 98765");
}
