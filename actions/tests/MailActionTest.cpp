// The mail action end to end against aiosmtpd (and a scripted server for a refusing greeting): the
// mail's text, the attachment rules, the log lines, and no password in the log.
#include "actions/CSEA_SendMail.h"

#include "ActionFixture.h"
#include "ReceivedMail.h"
#include "ScriptedServer.h"
#include "TraceCapture.h"

#include "actions/MySMTPAttachment.h"

namespace {

const char* kPassword = "Ma1l-Secret-Pass";

class MailActionTest : public CActionFixture {
protected:
    void SetUp() override {
        CActionFixture::SetUp();
        m_mailDir = m_dir + "/mail";
        mkdir(m_mailDir.c_str(), 0755);
        m_port = m_server.StartServer(
            {kSystemPython, PeerScript("smtp_server.py"), m_mailDir, "camera", kPassword});
        ASSERT_NE(m_port, 0);
    }
    void TearDown() override {
        m_server.Stop();
        CActionFixture::TearDown();
    }
    CSEA_SendMail Action(int port) {
        CSEA_SendMail action;
        action.SetStringProp("Sender", "tavrix@example.org");
        action.SetStringProp("Recipient", "guard@example.org");
        action.SetStringProp("SMTPServer", "127.0.0.1");
        action.SetIntegerProp("SMTPPort", port);
        action.SetStringProp("SMTPUser", "camera");
        action.SetStringProp("SMTPPass", kPassword);
        return action;
    }

    std::string m_mailDir;
    CPeerProcess m_server;
    int m_port = 0;
};

const std::string P = "Send Mail Event Action: ";

} // namespace

TEST_F(MailActionTest, RecordFinishMailCarriesTheTextAndTheRecording) {
    std::string recording = m_dir + "/Door_05032007_140709.avi";
    std::string content(524288, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 31) >> 2);
    }
    WriteWholeFile(recording, content);
    CSEA_SendMail action = Action(m_port);
    action.SetBoolProp("AttachFile", true);
    CSEventRecord record = Record(EventKind::RecordFinish, recording);
    record.errorText = "disk almost full";
    CTraceCapture trace;
    ASSERT_TRUE(trace.Started());
    ASSERT_TRUE(action.Execute(record));
    std::string traced = trace.Finish();
    EXPECT_NE(traced.find("MySMTPConnection::Connect() logging in as camera"), std::string::npos);
    EXPECT_EQ(traced.find(kPassword), std::string::npos);
    std::string encoded = mylib::MySMTPAttachment::EncodeLine(kPassword);
    EXPECT_EQ(traced.find(encoded.substr(0, encoded.size() - 2)), std::string::npos) << "nor its login form";
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{P + "Start sending a mail to : 'guard@example.org'",
                                        P + "Successfully sent a mail to : 'guard@example.org'"}));
    EXPECT_FALSE(LogContains(kPassword));

    CReceivedMail mail(m_mailDir, 1);
    ASSERT_TRUE(mail.found);
    EXPECT_TRUE(mail.authenticated);
    EXPECT_EQ(mail.Header("Subject"), "Tavrix event occurred");
    EXPECT_EQ(mail.Header("From"), "tavrix@example.org");
    EXPECT_EQ(mail.Header("To"), "guard@example.org");
    EXPECT_EQ(mail.body, "\nTavrix has recorded an event!\n\n"
                         "Event      : Record Finish\n"
                         "Document   : Lobby\n"
                         "Camera     : Door\n"
                         "Filename   : " +
                             recording +
                             "\n"
                             "Error Text : disk almost full\n\n\n\n");
    ASSERT_EQ(mail.attachments, 1);
    EXPECT_EQ(mail.AttachmentValue(0, "filename"), "Door_05032007_140709.avi");
    EXPECT_EQ(mail.AttachmentContent(0), content) << "512 KB exactly is within the limit";
}

TEST_F(MailActionTest, AttachmentRulesSendTheMailWithoutTheFile) {
    std::string recording = m_dir + "/big.avi";
    WriteWholeFile(recording, std::string(524289, 'b'));
    CSEA_SendMail action = Action(m_port);
    action.SetBoolProp("AttachFile", true);
    action.SetStringProp("Subject", "Door alarm");
    ASSERT_TRUE(action.Execute(Record(EventKind::RecordFinish, recording)));
    ASSERT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{P + "File to be attached beyond size limit.",
                                        P + "Start sending a mail to : 'guard@example.org'",
                                        P + "Successfully sent a mail to : 'guard@example.org'",
                                        P + "Attach files only possible for 'Record finish' event.",
                                        P + "Start sending a mail to : 'guard@example.org'",
                                        P + "Successfully sent a mail to : 'guard@example.org'"}));
    CReceivedMail big(m_mailDir, 1);
    ASSERT_TRUE(big.found);
    EXPECT_EQ(big.attachments, 0);
    EXPECT_EQ(big.Header("Subject"), "Door alarm");
    CReceivedMail motion(m_mailDir, 2);
    ASSERT_TRUE(motion.found);
    EXPECT_EQ(motion.attachments, 0);
    EXPECT_EQ(motion.body.find("Filename"), std::string::npos);
    EXPECT_EQ(motion.body.find("Error Text"), std::string::npos);
    EXPECT_NE(motion.body.find("Event      : Motion Start\n"), std::string::npos);
}

TEST_F(MailActionTest, FailuresLogTheMessageAndTheLastResponse) {
    // The recording is gone: no mail, and no server was asked.
    CSEA_SendMail action = Action(m_port);
    action.SetBoolProp("AttachFile", true);
    EXPECT_FALSE(action.Execute(Record(EventKind::RecordFinish, m_dir + "/gone.avi")));
    // Two addresses in one recipient text go as one address, which the server refuses.
    action = Action(m_port);
    action.SetStringProp("Recipient", "guard@example.org;boss@example.org");
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStop)));
    // A wrong password.
    action = Action(m_port);
    action.SetStringProp("SMTPPass", "Wr0ng-Pass");
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStop)));
    // A server that does not want us.
    CScriptedServer refusing([](CScriptedServer::Peer& peer) { peer.Send("554 5.3.2 not today\r\n"); });
    EXPECT_FALSE(Action(refusing.Port()).Execute(Record(EventKind::MotionStop)));

    std::vector<std::string> texts = LogTexts();
    ASSERT_EQ(texts.size(), 11u);
    EXPECT_EQ(texts[0], P + "Error while sending a mail: Failed to open file to be attached");
    EXPECT_EQ(texts[1], P + "Last command response: ''");
    EXPECT_EQ(texts[2], P + "Start sending a mail to : 'guard@example.org;boss@example.org'");
    EXPECT_EQ(texts[3], P + "Error while sending a mail: An unexpected RCPT response was received");
    EXPECT_EQ(texts[4].rfind(P + "Last command response: '5", 0), 0u) << texts[4];
    EXPECT_EQ(texts[6], P + "Error while sending a mail: An unexpected AUTH LOGIN response was received");
    EXPECT_EQ(texts[7].rfind(P + "Last command response: '535 ", 0), 0u) << texts[7];
    EXPECT_EQ(texts[9], P + "Error while sending a mail: An unexpected SMTP login response was received");
    EXPECT_EQ(texts[10], P + "Last command response: '554 5.3.2 not today'");
    EXPECT_FALSE(LogContains(kPassword));
    EXPECT_FALSE(LogContains("Wr0ng-Pass"));
}

TEST_F(MailActionTest, HostileCameraNameCannotForgeAPartOfTheMail) {
    // A name whose lines would close the text part and open an attachment of its own, under the
    // boundary every mail used to carry and under one of the form mails carry now.
    const std::string forged = "Content-Type: application/octet-stream; name=evil.sh\n"
                               "Content-Transfer-Encoding: base64\n"
                               "Content-Disposition: attachment; filename=evil.sh\n\n"
                               "ZWNobyBnb3QgeW91Cg==\n";
    const std::string name = "Door\n--#BOUNDARY#\n" + forged +
                             "--=_Tavrix_0123456789abcdef0123456789abcdef\n" + forged + "--#BOUNDARY#--\n";
    SetCamera(name, false);
    std::string recording = m_dir + "/Door.avi";
    WriteWholeFile(recording, "the real recording");
    CSEA_SendMail action = Action(m_port);
    action.SetBoolProp("AttachFile", true);
    ASSERT_TRUE(action.Execute(Record(EventKind::RecordFinish, recording)));

    CReceivedMail mail(m_mailDir, 1);
    ASSERT_TRUE(mail.found);
    EXPECT_EQ(mail.defects, "");
    ASSERT_EQ(mail.attachments, 1) << mail.raw;
    EXPECT_EQ(mail.AttachmentValue(0, "filename"), "Door.avi");
    EXPECT_EQ(mail.AttachmentContent(0), "the real recording");
    EXPECT_NE(mail.body.find("Camera     : " + name), std::string::npos)
        << "the name arrives whole in the text: " << mail.body;
}
