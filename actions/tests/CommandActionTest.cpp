// The command action end to end: the event's placeholders, the started program's arguments as it
// receives them, and the log lines.
#include "actions/CSEA_InvokeCommand.h"

#include "ActionFixture.h"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

using Words = std::vector<std::string>;

// The arguments the recorder program wrote, after its report line; empty after 10 s.
Words RecordedArguments(const std::string& path) {
    for (int i = 0; i < 1000 && access(path.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string content = ReadWholeFile(path);
    Words words;
    size_t start = content.find('\n');
    if (start == std::string::npos) {
        return words;
    }
    for (++start; start < content.size();) {
        size_t end = content.find('\0', start);
        words.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

class CommandActionTest : public CActionFixture {
protected:
    CSEA_InvokeCommand Action(const std::string& command, const std::string& parameters) {
        CSEA_InvokeCommand action;
        action.SetStringProp("Command", command);
        action.SetStringProp("Parameters", parameters);
        return action;
    }
};

} // namespace

TEST_F(CommandActionTest, RecordedFileAndCameraNameArriveAsSingleArgumentsWhateverTheyHold) {
    SetCamera("Front \"Door\"; rm -rf ~ 'x", false);
    std::string out = m_dir + "/argv.txt";
    std::string recording = m_dir + "/my videos/Door 05;03.avi";
    CSEA_InvokeCommand action = Action(ARGV_RECORDER, out + " %n --file=%r 'two words' %r");
    action.SetBoolProp("ShowWindow", false);
    ASSERT_TRUE(action.Execute(Record(EventKind::RecordFinish, recording)));
    EXPECT_EQ(RecordedArguments(out),
              (Words{"Front \"Door\"; rm -rf ~ 'x", "--file=" + recording, "two words", recording}));
    EXPECT_EQ(LogTexts("Front \"Door\"; rm -rf ~ 'x"),
              Words{"Invoke Command Event Action: Started '" + std::string(ARGV_RECORDER) + "' '" + out +
                    " Front \"Door\"; rm -rf ~ 'x --file=" + recording + " 'two words' " + recording + "'"});
}

TEST_F(CommandActionTest, DatePlaceholdersAndAnEmptyFileAtMotionStart) {
    std::string out = m_dir + "/argv.txt";
    CSEA_InvokeCommand action = Action(ARGV_RECORDER, out + " %n %d.%m.%y %r \"%r\" %t");
    ASSERT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(RecordedArguments(out), (Words{"Door", "05.03.2007", "", "avi"}))
        << "an unquoted empty %r is dropped, a quoted one stays";
    EXPECT_EQ(LogTexts(), Words{"Invoke Command Event Action: Started '" + std::string(ARGV_RECORDER) +
                                "' '" + out + " Door 05.03.2007  \"\" avi'"});
}

TEST_F(CommandActionTest, ProgramsThatCannotStartAreLoggedWithTheSystemsText) {
    EXPECT_FALSE(Action(m_dir + "/missing-program", "%r").Execute(Record(EventKind::MotionStart)));
    EXPECT_FALSE(Action("", "").Execute(Record(EventKind::MotionStart)));
    WriteWholeFile(m_dir + "/not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(Action(m_dir + "/not-executable", "").Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(LogTexts(), (Words{"Invoke Command Event Action: Unable to start: 'No such file or directory'",
                                 "Invoke Command Event Action: Unable to start: 'No such file or directory'",
                                 "Invoke Command Event Action: Unable to start: 'Permission denied'"}));
}
