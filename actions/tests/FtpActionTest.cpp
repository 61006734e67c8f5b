// The FTP action end to end against pyftpdlib: templated remote directory and name, the log lines
// with the document and camera, and no password anywhere in the log.
#include "actions/CSEA_SendFTP.h"

#include "ActionFixture.h"

#include <sys/stat.h>

namespace {

const char* kPassword = "Ftp-Act10n-Secret";

class FtpActionTest : public CActionFixture {
protected:
    void SetUp() override {
        CActionFixture::SetUp();
        mkdir((m_dir + "/root").c_str(), 0755);
        mkdir((m_dir + "/root/Door").c_str(), 0755);
        m_port = m_server.StartServer({kSystemPython, PeerScript("ftp_server.py"), m_dir + "/root",
                                       m_dir + "/connections.log", "camera", kPassword});
        ASSERT_NE(m_port, 0);
    }
    void TearDown() override {
        m_server.Stop();
        CActionFixture::TearDown();
    }
    CSEA_SendFTP Action() {
        CSEA_SendFTP action;
        action.SetStringProp("FTPServer", "127.0.0.1");
        action.SetIntegerProp("FTPPort", m_port);
        action.SetStringProp("FTPUser", "camera");
        action.SetStringProp("FTPPass", kPassword);
        action.SetStringProp("FTPPath", "%n");
        return action;
    }

    CPeerProcess m_server;
    int m_port = 0;
};

const std::string P = "Send FTP Event Action: ";

} // namespace

TEST_F(FtpActionTest, RecordingGoesIntoTheCamerasDirectoryUnderTheTemplatedName) {
    std::string recording = m_dir + "/recording.avi";
    std::string content(524288, '\0'); // exactly at the 512 KB limit
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i % 251);
    }
    WriteWholeFile(recording, content);
    CSEA_SendFTP action = Action();
    EXPECT_EQ(action.GetStringProp("FTPFilename"), "%n_%d%m%y_%h%i%s.%t");
    for (bool passive : {true, false}) {
        action.SetBoolProp("FTPPassive", passive);
        ASSERT_TRUE(action.Execute(Record(EventKind::RecordFinish, recording))) << passive;
        EXPECT_EQ(ReadWholeFile(m_dir + "/root/Door/Door_05032007_140709.avi"), content);
        unlink((m_dir + "/root/Door/Door_05032007_140709.avi").c_str());
    }
    const std::vector<std::string> once = {P + "Open ftp connection to '127.0.0.1'",
                                           P + "Transferring file 'Door_05032007_140709.avi'",
                                           P + "succesfully transferred."};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(LogTexts(), twice);
    EXPECT_FALSE(LogContains(kPassword));
}

TEST_F(FtpActionTest, FailuresEndWithOneLogLineAndFalse) {
    std::string recording = m_dir + "/recording.wmv";
    WriteWholeFile(recording, std::string(524289, 'x'));
    CSEA_SendFTP action = Action();
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStart)));
    EXPECT_FALSE(action.Execute(Record(EventKind::RecordFinish, recording)));
    action.SetStringProp("FTPPass", "not-the-password");
    action.SetIntegerProp("MaxAttachSize", 1024);
    EXPECT_FALSE(action.Execute(Record(EventKind::RecordFinish, recording)));
    std::vector<std::string> texts = LogTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], P + "Error opening the source file: ");
    EXPECT_EQ(texts[1], P + "File to be attached beyond size limit.");
    EXPECT_EQ(texts[2], P + "Open ftp connection to '127.0.0.1'");
    EXPECT_EQ(texts[3].rfind(P + "Error opening FTP connection: 530 ", 0), 0u) << texts[3];
    EXPECT_EQ(ReadWholeFile(m_dir + "/connections.log"), "connect\n") << "only the last attempt connected";
    EXPECT_FALSE(LogContains("not-the-password"));
}
