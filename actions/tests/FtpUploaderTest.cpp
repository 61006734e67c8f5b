// Uploads against a real FTP server (pyftpdlib) on loopback, in passive and active mode.
#include "actions/FtpUploader.h"

#include "PeerProcess.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <vector>

namespace {

const char* kUser = "camera";
const char* kPassword = "s3cret-Pa55word";

class FtpUploaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = MakeTempDir("ftp-upload-");
        mkdir((s_dir + "/root").c_str(), 0755);
        mkdir((s_dir + "/root/uploads").c_str(), 0755);
        mkdir((s_dir + "/root/uploads/deep").c_str(), 0755);
        s_server = new CPeerProcess;
        s_port = s_server->StartServer({kSystemPython, PeerScript("ftp_server.py"), s_dir + "/root",
                                        s_dir + "/connections.log", kUser, kPassword});
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
        RemoveTree(s_dir);
    }
    void SetUp() override { ASSERT_NE(s_port, 0) << "the FTP server did not start"; }

    CFtpUploadJob Job(const std::string& file) {
        CFtpUploadJob job;
        job.sourceFile = file;
        job.server = "127.0.0.1";
        job.port = s_port;
        job.user = kUser;
        job.password = kPassword;
        job.remoteDirectory = "uploads";
        job.remoteName = "Door_07122026_030509.avi";
        return job;
    }
    bool Upload(const CFtpUploadJob& job) {
        m_lines.clear();
        CFtpUploader uploader([this](const std::string& text, bool) { m_lines.push_back(text); });
        return uploader.Upload(job);
    }
    std::string MakeFile(const std::string& name, size_t size) {
        std::string content;
        content.reserve(size);
        for (size_t i = 0; i < size; ++i) {
            content.push_back(static_cast<char>((i * 131 + i / 977) & 0xFF));
        }
        WriteWholeFile(s_dir + "/" + name, content);
        return s_dir + "/" + name;
    }
    static std::string ConnectionLog() { return ReadWholeFile(s_dir + "/connections.log"); }
    static std::string Remote(const std::string& path) { return s_dir + "/root/" + path; }

    std::vector<std::string> m_lines;
    static inline std::string s_dir;
    static inline CPeerProcess* s_server = nullptr;
    static inline int s_port = 0;
};

const std::string P = "Send FTP Event Action: ";

} // namespace

TEST(FtpUrlPathTest, DirectoryAndNameAreEncodedSegmentByLevel) {
    EXPECT_EQ(CFtpUploader::UrlPath("", "a b.avi"), "/a%20b.avi");
    EXPECT_EQ(CFtpUploader::UrlPath("uploads/", "x.avi"), "/uploads/x.avi");
    EXPECT_EQ(CFtpUploader::UrlPath("/pub/cams//", "x;y.avi"), "/%2Fpub/cams/x%3By.avi");
    EXPECT_EQ(CFtpUploader::UrlPath("/", "x.avi"), "/%2F/x.avi");
    EXPECT_EQ(CFtpUploader::UrlPath("d", "a/b%"), "/d/a%2Fb%25");
}

TEST_F(FtpUploaderTest, PassiveUploadIntoASubDirectoryIsByteIdentical) {
    std::string file = MakeFile("passive.avi", 300000);
    size_t before = ConnectionLog().size();
    CFtpUploadJob job = Job(file);
    job.passive = true;
    ASSERT_TRUE(Upload(job));
    EXPECT_EQ(m_lines, (std::vector<std::string>{P + "Open ftp connection to '127.0.0.1'",
                                                 P + "Transferring file 'Door_07122026_030509.avi'",
                                                 P + "succesfully transferred."}));
    EXPECT_EQ(ReadWholeFile(Remote("uploads/Door_07122026_030509.avi")), ReadWholeFile(file));
    std::string log = ConnectionLog().substr(before);
    EXPECT_TRUE(log.find("EPSV") != std::string::npos || log.find("PASV") != std::string::npos) << log;
    EXPECT_EQ(log.find("PORT"), std::string::npos) << log;
}

TEST_F(FtpUploaderTest, ActiveUploadToAnAbsoluteDirectoryWithAnAwkwardName) {
    std::string file = MakeFile("active.avi", 70001);
    size_t before = ConnectionLog().size();
    CFtpUploadJob job = Job(file);
    job.passive = false;
    job.remoteDirectory = "/uploads/deep/";
    job.remoteName = "Front door; 'A' #1.avi";
    ASSERT_TRUE(Upload(job));
    EXPECT_EQ(m_lines.back(), P + "succesfully transferred.");
    EXPECT_EQ(ReadWholeFile(Remote("uploads/deep/Front door; 'A' #1.avi")), ReadWholeFile(file));
    std::string log = ConnectionLog().substr(before);
    EXPECT_NE(log.find("PRT"), std::string::npos) << "EPRT or PORT: " << log;
    EXPECT_EQ(log.find("PASV"), std::string::npos) << log;
    EXPECT_EQ(log.find("EPSV"), std::string::npos) << log;
}

TEST_F(FtpUploaderTest, EmptyDirectoryAndEmptyFileUploadIntoTheLoginDirectory) {
    std::string file = MakeFile("empty.avi", 0);
    CFtpUploadJob job = Job(file);
    job.passive = true;
    job.remoteDirectory = "";
    job.remoteName = "empty.avi";
    ASSERT_TRUE(Upload(job));
    EXPECT_EQ(m_lines.size(), 3u);
    struct stat status {};
    ASSERT_EQ(stat(Remote("empty.avi").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 0);
}

TEST_F(FtpUploaderTest, MissingDirectoryFailsAtTheDirectoryStepWithTheServersReply) {
    std::string file = MakeFile("nodir.avi", 1000);
    CFtpUploadJob job = Job(file);
    job.remoteDirectory = "no/such/dir";
    EXPECT_FALSE(Upload(job));
    ASSERT_EQ(m_lines.size(), 2u);
    EXPECT_EQ(m_lines[0], P + "Open ftp connection to '127.0.0.1'");
    EXPECT_EQ(m_lines[1].rfind(P + "Error unable to change directory: 550 ", 0), 0u) << m_lines[1];
}

TEST_F(FtpUploaderTest, RefusedWriteFailsAtTheDestinationStep) {
    std::string file = MakeFile("refused.avi", 1000);
    CFtpUploadJob job = Job(file);
    job.user = "reader";
    EXPECT_FALSE(Upload(job));
    ASSERT_EQ(m_lines.size(), 3u);
    EXPECT_EQ(m_lines[1], P + "Transferring file 'Door_07122026_030509.avi'");
    EXPECT_EQ(m_lines[2].rfind(P + "Error opening the destination file: 550 ", 0), 0u) << m_lines[2];
}

TEST_F(FtpUploaderTest, WrongPasswordFailsAtTheConnectionAndNeverShowsAPassword) {
    CTraceCapture trace;
    ASSERT_TRUE(trace.Started());
    std::string file = MakeFile("wrongpass.avi", 1000);
    CFtpUploadJob job = Job(file);
    job.password = "Wr0ng-Secret-99";
    EXPECT_FALSE(Upload(job));
    ASSERT_EQ(m_lines.size(), 2u);
    EXPECT_EQ(m_lines[1].rfind(P + "Error opening FTP connection: 530 ", 0), 0u) << m_lines[1];
    std::vector<std::string> failedLines = m_lines;
    ASSERT_TRUE(Upload(Job(file)));
    std::string traced = trace.Finish();
    EXPECT_NE(traced.find("PASS ****"), std::string::npos) << "the login was traced, masked";
    for (const std::string& secret : {std::string("Wr0ng-Secret-99"), std::string(kPassword)}) {
        EXPECT_EQ(traced.find(secret), std::string::npos);
        for (const std::string& line : failedLines) {
            EXPECT_EQ(line.find(secret), std::string::npos);
        }
        for (const std::string& line : m_lines) {
            EXPECT_EQ(line.find(secret), std::string::npos);
        }
    }
}

TEST_F(FtpUploaderTest, UnreachableServerFailsAtTheConnectionWithCurlsText) {
    std::string file = MakeFile("unreachable.avi", 10);
    CFtpUploadJob job = Job(file);
    job.port = 1; // nothing listens on a privileged port here
    EXPECT_FALSE(Upload(job));
    ASSERT_EQ(m_lines.size(), 2u);
    EXPECT_EQ(m_lines[1].rfind(P + "Error opening FTP connection: ", 0), 0u);
    EXPECT_NE(m_lines[1].find("onnect"), std::string::npos) << m_lines[1];

    job = Job(file);
    job.remoteName = "evil\r\nDELE x.avi";
    EXPECT_FALSE(Upload(job));
    EXPECT_EQ(m_lines.back(),
              P + "Error opening the destination file: invalid remote file name 'evil\r\nDELE x.avi'");
}
