// Chains raised by cameras run on the document's chain runner: the raiser returns at once, a
// camera's chains keep their order while other cameras go on, a mail to a trickling server ends at
// its deadline, and closing the document cuts what still runs and drops what is queued.
#include "actions/EventChainRunner.h"
#include "actions/CSEA_PlaySnd.h"
#include "actions/CSEA_SendFTP.h"
#include "actions/CSEA_SendMail.h"

#include "ActionFixture.h"
#include "ScriptedServer.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr int kScriptLimitMs = 60000;

std::unique_ptr<CSEventAction> Mail(int port) {
    auto mail = std::make_unique<CSEA_SendMail>();
    mail->SetStringProp("Sender", "tavrix@example.org");
    mail->SetStringProp("Recipient", "guard@example.org");
    mail->SetStringProp("SMTPServer", "127.0.0.1");
    mail->SetIntegerProp("SMTPPort", port);
    return mail;
}

std::unique_ptr<CSEventAction> Upload(int port) {
    auto ftp = std::make_unique<CSEA_SendFTP>();
    ftp->SetStringProp("FTPServer", "127.0.0.1");
    ftp->SetIntegerProp("FTPPort", port);
    ftp->SetBoolProp("FTPPassive", true);
    return ftp;
}

// A sound action whose file is missing: it writes its log line at once, which marks where the
// chain stands.
std::unique_ptr<CSEventAction> Marker(const std::string& name) {
    auto sound = std::make_unique<CSEA_PlaySnd>();
    sound->SetStringProp("SoundFile", "/nonexistent/" + name + ".wav");
    return sound;
}

std::string MarkerText(const std::string& name) {
    return "Play Sound Event Action: Sound file '/nonexistent/" + name + ".wav' not found";
}

// Binds a new chain of the given actions to the camera's event.
void Bind(CTavrixDoc& document, int32_t cameraId, int32_t kind, const std::string& name,
          std::vector<std::unique_ptr<CSEventAction>> actions) {
    document.Edit([&](CTavrixDocData& data) {
        CSEventActionChain* chain = data.AddChain();
        chain->SetName(name);
        for (auto& action : actions) {
            chain->AddAction(std::move(action));
        }
        data.m_cameras.Find(cameraId)->SetChainId(kind, chain->GetId());
    });
}

template <typename... T>
std::vector<std::unique_ptr<CSEventAction>> Actions(T... actions) {
    std::vector<std::unique_ptr<CSEventAction>> list;
    (list.push_back(std::move(actions)), ...);
    return list;
}

std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
        texts.push_back(entry.text);
    }
    return texts;
}

size_t IndexOf(const std::vector<std::string>& texts, const std::string& text) {
    return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
}

bool WaitForText(const std::string& text, std::chrono::milliseconds limit = 60s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const auto texts = Texts();
        if (std::find(texts.begin(), texts.end(), text) != texts.end()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

class EventChainRunnerTest : public CActionFixture {
protected:
    // A recording for the upload actions.
    CSEventRecord Recording() {
        CSEventRecord record;
        record.fileName = m_dir + "/Door.avi";
        WriteWholeFile(record.fileName, std::string(1000, 'r'));
        return record;
    }
};

const std::string M = "Send Mail Event Action: ";
const std::string F = "Send FTP Event Action: ";

} // namespace

TEST_F(EventChainRunnerTest, RaisingReturnsAtOnceAndAMailToATricklingServerEndsAtItsDeadline) {
    std::promise<void> raised;
    std::shared_future<void> raisedFuture = raised.get_future().share();
    CScriptedServer server([raisedFuture](CScriptedServer::Peer& peer) {
        // Not a word before the raiser is back: a raiser that ran the chain itself would still be
        // waiting for this greeting.
        ASSERT_EQ(raisedFuture.wait_for(20s), std::future_status::ready);
        peer.Send("220 ready\r\n");
        peer.ReadLine();
        peer.Send("250 hello\r\n");
        peer.ReadLine();
        peer.Send("250 sender ok\r\n");
        peer.ReadLine();
        peer.Send("250 recipient ok\r\n");
        peer.ReadLine();
        peer.Send("354 go ahead\r\n");
        peer.ReadUntil("\r\n.\r\n");
        // A byte every 1.5 s: never 2 s without data, never a whole reply.
        EXPECT_TRUE(peer.Trickle("250 queued\r\n", 1500, kScriptLimitMs)) << "the client held on";
    });
    Bind(m_document, 0, EventKind::MotionStart, "Alarm", Actions(Mail(server.Port()), Marker("after-mail")));

    m_document.PostChain(0, EventKind::MotionStart);
    raised.set_value();
    // The raiser logged the activation before it returned; the chain's own thread may already have
    // announced the mail, but nothing past it can have happened while the server holds its greeting.
    const std::vector<std::string> early = Texts();
    ASSERT_FALSE(early.empty());
    EXPECT_EQ(early[0], "Activate chain 'Alarm' for event 'Motion Start'") << "logged by the raiser";
    EXPECT_LE(early.size(), 2u) << "the chain runs later: " << ::testing::PrintToString(early);

    ASSERT_TRUE(WaitForText(MarkerText("after-mail"))) << ::testing::PrintToString(Texts());
    ASSERT_TRUE(m_document.GetChainRunner().WaitIdle(60s));
    const std::vector<std::string> texts = LogTexts();
    ASSERT_EQ(texts.size(), 5u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[1], M + "Start sending a mail to : 'guard@example.org'");
    EXPECT_EQ(texts[2], M + "Error while sending a mail: An unexpected end of message response was received");
    EXPECT_EQ(texts[3].rfind(M + "Last command response: '2", 0), 0u) << texts[3];
    EXPECT_EQ(texts[4], MarkerText("after-mail")) << "the next action ran after the mail";
}

TEST_F(EventChainRunnerTest, ChainsOfOneCameraKeepTheirOrderWhileOtherCamerasGoOn) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    // An FTP server that holds its answer to USER until the test releases it.
    CScriptedServer server([released](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        EXPECT_EQ(peer.ReadLine().rfind("USER ", 0), 0u);
        ASSERT_EQ(released.wait_for(30s), std::future_status::ready);
        peer.Send("530 Login incorrect.\r\n");
        peer.WaitClosed(10000);
    });
    m_document.Edit([](CTavrixDocData& data) { data.AddCamera()->m_camName = "Yard"; });
    Bind(m_document, 0, EventKind::RecordFinish, "Upload", Actions(Upload(server.Port())));
    Bind(m_document, 0, EventKind::MotionStop, "Door stop", Actions(Marker("door-stop")));
    Bind(m_document, 1, EventKind::MotionStart, "Yard start", Actions(Marker("yard-start")));

    m_document.PostChain(0, EventKind::RecordFinish, Recording());
    m_document.PostChain(0, EventKind::MotionStop);
    m_document.PostChain(1, EventKind::MotionStart);
    ASSERT_TRUE(WaitForText(MarkerText("yard-start"))) << "the other camera does not wait";
    std::vector<std::string> texts = Texts();
    EXPECT_EQ(IndexOf(texts, MarkerText("door-stop")), texts.size()) << "queued behind the upload";

    release.set_value();
    ASSERT_TRUE(WaitForText(MarkerText("door-stop")));
    ASSERT_TRUE(m_document.GetChainRunner().WaitIdle(60s));
    texts = Texts();
    const size_t failed = IndexOf(texts, F + "Error opening FTP connection: 530 Login incorrect.");
    ASSERT_LT(failed, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_GT(IndexOf(texts, MarkerText("door-stop")), failed);
    EXPECT_LT(IndexOf(texts, MarkerText("yard-start")), failed);
}

TEST_F(EventChainRunnerTest, ClosingTheDocumentCutsTheRunningActionAndDropsWhatIsQueued) {
    std::promise<void> userSeen;
    std::future<void> seen = userSeen.get_future();
    // An FTP server that never answers USER: the upload's own time-outs are far away.
    CScriptedServer server([&userSeen](CScriptedServer::Peer& peer) {
        peer.Send("220 ready\r\n");
        EXPECT_EQ(peer.ReadLine().rfind("USER ", 0), 0u);
        userSeen.set_value();
        EXPECT_TRUE(peer.WaitClosed(kScriptLimitMs)) << "the upload was not cut";
    });
    auto document = std::make_unique<CTavrixDoc>();
    ASSERT_TRUE(document->OnNewDocument(m_dir + "/Shop.tvrx"));
    Bind(*document, 0, EventKind::RecordFinish, "Upload",
         Actions(Upload(server.Port()), Marker("after-upload")));
    Bind(*document, 0, EventKind::MotionStop, "Stopped", Actions(Marker("stopped")));
    CNotificationLog::Instance().Clear();

    document->PostChain(0, EventKind::RecordFinish, Recording());
    document->PostChain(0, EventKind::MotionStop);
    ASSERT_EQ(seen.wait_for(60s), std::future_status::ready);
    document->OnCloseDocument();
    document.reset(); // gives the running upload 3 s, then cuts it
    server.Join();

    std::vector<std::string> texts = Texts();
    // The second chain is activated on the posting thread while the runner may already open the
    // connection: its line comes after the first chain's, anywhere before the closing.
    const std::string stopped = "Activate chain 'Stopped' for event 'Motion Stop'";
    const size_t stoppedAt = IndexOf(texts, stopped);
    ASSERT_LT(stoppedAt, texts.size()) << ::testing::PrintToString(texts);
    EXPECT_GE(stoppedAt, 1u);
    EXPECT_LT(stoppedAt, IndexOf(texts, CEventChainRunner::CutShortText("Send FTP")));
    texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(stoppedAt));
    const std::vector<std::string> expected = {
        "Activate chain 'Upload' for event 'Record Finish'",
        F + "Open ftp connection to '127.0.0.1'",
        F + "Error opening FTP connection: Operation cancelled",
        CEventChainRunner::CutShortText("Send FTP"),
        "Event action chain 'Upload' for event 'Record Finish': 1 action(s) not run, the document is closing",
        "Event action chain 'Stopped' for event 'Motion Stop' not run, the document is closing"};
    EXPECT_EQ(texts, expected);
    for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
        EXPECT_EQ(entry.docName, "Shop") << entry.text;
        EXPECT_EQ(entry.camName, "Default") << entry.text;
    }
}
