// The S3 upload action against a local S3-compatible server that checks AWS signature version 4
// (peers/s3_server.py): one PUT, a multipart upload, a wrong secret, an aborted multipart upload
// and the size limit.

#include "actions/CSEA_S3Upload.h"
#include "actions/S3Uploader.h"

#include "ActionFixture.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

class S3ActionTest : public CActionFixture {
protected:
    void SetUp() override {
        CActionFixture::SetUp();
        m_requests = m_dir + "/s3-requests.jsonl";
        m_port = m_server.StartServer({kSystemPython, PeerScript("s3_server.py"), m_requests, m_dir + "/s3",
                                       "TAVRIXKEY", "s3-secret/Key+1"});
        ASSERT_GT(m_port, 0);
    }
    void TearDown() override {
        m_server.Stop();
        CActionFixture::TearDown();
    }
    std::string Recording(size_t bytes) {
        const std::string path = m_dir + "/Door 1.mp4";
        std::string data(bytes, '\0');
        std::mt19937 random(7);
        for (char& c : data) {
            c = static_cast<char>(random());
        }
        std::ofstream(path, std::ios::binary) << data;
        return path;
    }
    CSEA_S3Upload Action(const std::string& secret = "s3-secret/Key+1") {
        CSEA_S3Upload action;
        action.SetStringProp("S3Endpoint", "http://127.0.0.1:" + std::to_string(m_port) + "/");
        action.SetStringProp("S3Region", "eu-central-1");
        action.SetStringProp("S3Bucket", "recordings");
        action.SetStringProp("S3Key", "%o/%n/clip %y.mp4");
        action.SetStringProp("S3AccessKey", "TAVRIXKEY");
        action.SetStringProp("S3Secret", secret);
        return action;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<nlohmann::json> Requests() {
        std::vector<nlohmann::json> requests;
        std::ifstream in(m_requests);
        std::string line;
        while (std::getline(in, line)) {
            requests.push_back(nlohmann::json::parse(line));
        }
        return requests;
    }
    std::string Stored() const { return m_dir + "/s3/recordings/Lobby/Door/clip 2007.mp4"; }

    CPeerProcess m_server;
    std::string m_requests;
    int m_port = 0;
};

TEST_F(S3ActionTest, ARecordingIsStoredSignedUnderItsKeyTemplateWithOnePut) {
    const std::string file = Recording(200 * 1024);
    ASSERT_TRUE(Action().Execute(Record(EventKind::RecordFinish, file)));
    EXPECT_EQ(Read(Stored()), Read(file));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "PUT");
    EXPECT_EQ(requests[0]["path"], "/recordings/Lobby/Door/clip%202007.mp4");
    EXPECT_EQ(LogTexts(),
              (std::vector<std::string>{"S3 Upload Event Action: stored '" + file +
                                        "' as 'recordings/Lobby/Door/clip 2007.mp4' (204800 bytes)"}));
    EXPECT_FALSE(LogContains("s3-secret"));
}

TEST_F(S3ActionTest, ALargeRecordingGoesAsAMultipartUploadOfSignedParts) {
    const std::string file = Recording(static_cast<size_t>(CS3Uploader::kDefaultPartSize) + 3 * 1024 * 1024);
    ASSERT_TRUE(Action().Execute(Record(EventKind::RecordFinish, file)));
    EXPECT_EQ(Read(Stored()), Read(file));
    std::vector<std::string> steps;
    for (const auto& request : Requests()) {
        EXPECT_EQ(request["status"], 200) << request.dump();
        const std::string query = request["query"];
        steps.push_back(request["method"].get<std::string>() + " " +
                        query.substr(0, query.find_first_of("=&") + 1) +
                        (query.rfind("partNumber=", 0) == 0 ? query.substr(11, 1) : ""));
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"POST uploads=", "PUT partNumber=1", "PUT partNumber=2",
                                               "POST uploadId="}));
}

TEST_F(S3ActionTest, AWrongSecretIsRefusedByTheStorageAndLoggedWithoutTheSecret) {
    const std::string file = Recording(1000);
    EXPECT_FALSE(Action("not-the-secret").Execute(Record(EventKind::RecordFinish, file)));
    EXPECT_FALSE(std::filesystem::exists(Stored()));
    const auto texts = LogTexts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0],
              "S3 Upload Event Action: storing 'recordings/Lobby/Door/clip 2007.mp4' failed: the storage "
              "answered 403 SignatureDoesNotMatch: SignatureDoesNotMatch");
    EXPECT_FALSE(LogContains("not-the-secret"));
}

TEST_F(S3ActionTest, AMultipartUploadRefusedAtItsEndIsAbortedAndTooLargeFilesAreNeverSent) {
    const std::string file = Recording(3 * 1024 * 1024);
    std::vector<std::string> lines;
    CS3Uploader uploader([&](const std::string& text, bool) { lines.push_back(text); });
    uploader.SetPartSize(1024 * 1024); // below S3's smallest part: the storage refuses to complete
    CS3UploadJob job;
    job.sourceFile = file;
    job.endpoint = "http://127.0.0.1:" + std::to_string(m_port);
    job.region = "eu-central-1";
    job.bucket = "recordings";
    job.key = "small/parts.mp4";
    job.accessKey = "TAVRIXKEY";
    job.secret = "s3-secret/Key+1";
    EXPECT_FALSE(uploader.Upload(job));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0],
              "S3 Upload Event Action: the multipart upload of 'recordings/small/parts.mp4' failed: "
              "completing: the storage answered 400 EntityTooSmall: EntityTooSmall");
    ASSERT_FALSE(Requests().empty());
    EXPECT_EQ(Requests().back()["method"], "DELETE");
    EXPECT_EQ(Requests().back()["status"], 204);
    const size_t sent = Requests().size();

    CSEA_S3Upload limited = Action();
    limited.SetIntegerProp("MaxAttachSize", 1024);
    EXPECT_FALSE(limited.Execute(Record(EventKind::RecordFinish, file)));
    EXPECT_EQ(Requests().size(), sent);
    EXPECT_EQ(LogTexts().back(), "S3 Upload Event Action: File to be attached beyond size limit.");
}

} // namespace
