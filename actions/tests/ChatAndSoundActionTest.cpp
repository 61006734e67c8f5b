// The chat-message action against a scripted chat client on a private D-Bus daemon, and the sound
// action with a generated sound file through a fake audio sink.
#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_SendSkype.h"
#include "actions/SkypeSession.h"
#include "actions/SoundPlayer.h"

#include "ActionFixture.h"
#include "ScriptedChatClient.h"
#include "SoundFile.h"

#include <cstdlib>

namespace {

using Answer = std::optional<std::string>;
using Texts = std::vector<std::string>;

class ChatActionTest : public CActionFixture {
protected:
    static void SetUpTestSuite() {
        s_bus = new CPrivateBus;
        s_busStarted = s_bus->Start();
    }
    static void TearDownTestSuite() {
        delete s_bus;
        s_bus = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_busStarted);
        CActionFixture::SetUp();
    }
    void TearDown() override {
        CSkypeConnection::SetDefaultWaitMs(CSkypeConnection::kDefaultWaitMs);
        CActionFixture::TearDown();
    }
    std::unique_ptr<CScriptedChatClient> StartClient(const std::string& messageAnswer) {
        auto client = std::make_unique<CScriptedChatClient>(
            s_bus->Address(),
            [messageAnswer](auto& self, const std::string& sender, const std::string& command) -> Answer {
                if (command == "NAME Tavrix") {
                    return "OK";
                }
                if (command.rfind("CHAT CREATE ", 0) == 0) {
                    return "CHAT #" + command.substr(12) + "/$tavrix;7 STATUS DIALOG";
                }
                self.Notify(sender, "CHAT #x ACTIVITY_TIMESTAMP 1");
                return messageAnswer;
            });
        EXPECT_TRUE(client->Start());
        return client;
    }
    CSEA_SendSkype Action() {
        CSEA_SendSkype action;
        action.SetStringProp("Recipient", "alice");
        action.SetStringProp("Text", "Motion at %n (%d.%m.%y %h:%i)");
        return action;
    }

    static inline CPrivateBus* s_bus = nullptr;
    static inline bool s_busStarted = false;
};

const std::string S = "Send Skype Event Action: ";

} // namespace

TEST_F(ChatActionTest, MessageWithTheCamerasNameIsSent) {
    auto client = StartClient("MESSAGE 12 STATUS SENDING");
    ASSERT_TRUE(Action().Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(LogTexts(), (Texts{S + "sending message 'Motion at Door (05.03.2007 14:07)' to 'alice'",
                                 S + "Message sent"}));
    EXPECT_EQ(client->Commands(), (Texts{"NAME Tavrix", "CHAT CREATE alice",
                                         "CHATMESSAGE #alice/$tavrix;7 Motion at Door (05.03.2007 14:07)"}));
}

TEST_F(ChatActionTest, ErrorAnswerToTheMessageIsAFailureWithTheClientsText) {
    auto client = StartClient("ERROR 510 Invalid/unknown user");
    EXPECT_FALSE(Action().Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(LogTexts(), (Texts{S + "sending message 'Motion at Door (05.03.2007 14:07)' to 'alice'",
                                 S + "Error while sending a chat message: ERROR 510 Invalid/unknown user"}));
}

TEST_F(ChatActionTest, NoClientTimesOutAndTheChainGoesOn) {
    CSkypeConnection::SetDefaultWaitMs(250);
    EXPECT_FALSE(Action().Execute(Record(EventKind::ErrorOccurred)));
    EXPECT_EQ(LogTexts(), (Texts{S + "sending message 'Motion at Door (05.03.2007 14:07)' to 'alice'",
                                 S + "Error while sending a chat message: Timeout attaching to Skype"}));
}

class SoundActionTest : public CActionFixture {};

TEST_F(SoundActionTest, MissingFileIsLoggedAndAnExistingOnePlays) {
    setenv("TAVRIX_AUDIO_SINK", "fakesink", 1);
    CSEA_PlaySnd action;
    action.SetStringProp("SoundFile", m_dir + "/missing.wav");
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStart)));
    action.SetStringProp("SoundFile", "");
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(LogTexts(), (Texts{"Play Sound Event Action: Sound file '" + m_dir + "/missing.wav' not found",
                                 "Play Sound Event Action: Sound file '' not found"}));

    // A real sound, generated here, and a file that is not a sound: both count as started.
    std::string wav = m_dir + "/alarm.wav";
    ASSERT_TRUE(MakeSoundFile(wav));
    CSoundPlayer& player = CSoundPlayer::Instance();
    ASSERT_TRUE(player.WaitIdle(20000));
    uint32_t finished = player.FinishedCount();
    uint32_t failed = player.FailedCount();
    action.SetStringProp("SoundFile", wav);
    EXPECT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    ASSERT_TRUE(player.WaitIdle(20000));
    EXPECT_EQ(player.FinishedCount(), finished + 1);
    // Two in a row: the second may replace the first; both are done with afterwards.
    EXPECT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    EXPECT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    ASSERT_TRUE(player.WaitIdle(20000));
    EXPECT_GE(player.FinishedCount(), finished + 2);
    action.SetStringProp("SoundFile", m_dir + "/Lobby.tvrx");
    EXPECT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    ASSERT_TRUE(player.WaitIdle(20000));
    EXPECT_EQ(player.FailedCount(), failed + 1);
    EXPECT_EQ(LogTexts().size(), 2u) << "playing writes nothing to the log";
}
