// The recordings of the web API against a real server and a real catalogue: every recording is
// reached by its catalogue id only, its file with range requests a video element can seek with,
// and only an admin with the CSRF token changes or deletes anything.
#include "camera/MessageDispatcher.h"
#include "camera/TavrixViewCore.h"
#include "library/RecordingCatalogue.h"
#include "library/Retention.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "platform/Paths.h"
#include "web/tests/WebTestSupport.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t kDay = 24LL * 3600 * 1000;
constexpr int64_t kBase = 1780000000000LL; // a fixed moment, far from any time zone's edge

class WebRecordingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_record = m_server.Dir() + "/rec";
        ::mkdir(m_record.c_str(), 0700);
        m_catalogue.Open(m_server.Dir() + "/Tavrix.db");
        ASSERT_TRUE(m_server.Login("alice", CWebFixtureServer::kAdminPassword, m_admin, m_adminCsrf));
        ASSERT_TRUE(m_server.Login("bob", CWebFixtureServer::kViewerPassword, m_viewer, m_viewerCsrf));
    }

    // A file of size bytes whose byte i is i % 251, catalogued; its id.
    int64_t Add(const std::string& name, size_t size, const std::string& camera = "Porch",
                const std::string& document = "Garden", int64_t startUtcMs = kBase,
                const std::string& container = "MP4", std::vector<uint8_t> thumbnail = {}) {
        CRecording row;
        row.documentPath = m_server.Dir() + "/" + document + ".tvrx";
        row.documentName = document;
        row.cameraId = 1;
        row.cameraName = camera;
        row.filePath = m_record + "/" + name;
        row.container = container;
        row.startUtcMs = startUtcMs;
        row.endUtcMs = startUtcMs + 10000;
        row.durationMs = 10000;
        row.sizeBytes = static_cast<int64_t>(size);
        row.state = ERecordingState::Finished;
        row.thumbnail = std::move(thumbnail);
        std::ofstream out(row.filePath, std::ios::binary);
        for (size_t i = 0; i < size; ++i) {
            out.put(static_cast<char>(i % 251));
        }
        return m_catalogue.Insert(row);
    }
    static std::string Bytes(size_t first, size_t last) {
        std::string text;
        for (size_t i = first; i <= last; ++i) {
            text += static_cast<char>(i % 251);
        }
        return text;
    }
    std::string Url(int64_t id, const std::string& tail = {}) const {
        return m_server.Url("api/v1/recordings/" + std::to_string(id) + tail);
    }
    CHttpReply Get(const std::string& url, const std::string& range = {}) {
        std::vector<std::string> headers{m_viewer};
        if (!range.empty()) {
            headers.push_back("Range: " + range);
        }
        return HttpRequest("GET", url, {}, headers);
    }
    nlohmann::json List(const std::string& query = {}) {
        const CHttpReply reply = Get(m_server.Url("api/v1/recordings" + query));
        EXPECT_EQ(reply.status, 200) << query << ": " << reply.body;
        return nlohmann::json::parse(reply.body, nullptr, false);
    }

    CWebFixtureServer m_server;
    CRecordingCatalogue m_catalogue;
    std::string m_record;
    std::string m_admin, m_adminCsrf, m_viewer, m_viewerCsrf;
};

TEST_F(WebRecordingsTest, ListIsFilteredPagedAndNamesEachRecordingByIdNeverByPath) {
    const std::vector<uint8_t> jpeg{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 0xff, 0xd9};
    const int64_t a = Add("Porch_1.mp4", 1000, "Porch", "Garden", kBase, "MP4", jpeg);
    const int64_t b = Add("Gate_1.mkv", 2000, "Gate", "Garden", kBase + kDay, "Matroska");
    const int64_t c = Add("Hall_1.avi", 3000, "Hall", "House", kBase + 2 * kDay, "AVI");

    nlohmann::json all = List();
    ASSERT_EQ(all["total"], 3);
    ASSERT_EQ(all["recordings"].size(), 3u);
    EXPECT_EQ(all["recordings"][0]["id"], c) << "newest first";
    const nlohmann::json& porch = all["recordings"][2];
    EXPECT_EQ(porch["id"], a);
    EXPECT_EQ(porch["camera"], "Porch");
    EXPECT_EQ(porch["document"], "Garden");
    EXPECT_EQ(porch["sizeBytes"], 1000);
    EXPECT_EQ(porch["durationMs"], 10000);
    EXPECT_EQ(porch["startUtcMs"], kBase);
    EXPECT_EQ(porch["start"], CRecordingCatalogue::LocalText(kBase));
    EXPECT_EQ(porch["mime"], "video/mp4");
    EXPECT_EQ(porch["playable"], true);
    EXPECT_EQ(porch["file"], "api/v1/recordings/" + std::to_string(a) + "/file");
    EXPECT_EQ(porch["thumbnail"], "api/v1/recordings/" + std::to_string(a) + "/thumbnail");
    EXPECT_TRUE(all["recordings"][0]["thumbnail"].is_null());
    EXPECT_EQ(all["recordings"][0]["playable"], false) << "AVI is for download";
    EXPECT_EQ(all["recordings"][1]["mime"], "video/x-matroska");
    // The folder never leaves the server.
    EXPECT_EQ(Get(m_server.Url("api/v1/recordings")).body.find(m_record), std::string::npos);

    EXPECT_EQ(List("?camera=Gate")["recordings"][0]["id"], b);
    EXPECT_EQ(List("?document=Garden")["total"], 2);
    EXPECT_EQ(List("?since=" + std::to_string(kBase + kDay))["total"], 2);
    EXPECT_EQ(List("?until=" + std::to_string(kBase + kDay))["total"], 1);
    const nlohmann::json page = List("?limit=1&offset=1");
    EXPECT_EQ(page["total"], 3);
    ASSERT_EQ(page["recordings"].size(), 1u);
    EXPECT_EQ(page["recordings"][0]["id"], b);
    // An event's link names a recording by the file it reported: only an exact catalogue match
    // answers, and a path outside the catalogue finds nothing.
    const auto byFile = [&](const std::string& path, const std::string& more = {}) {
        char* escaped = g_uri_escape_string(path.c_str(), nullptr, FALSE);
        const nlohmann::json answer = List("?file=" + std::string(escaped) + more);
        g_free(escaped);
        return answer;
    };
    const nlohmann::json gate = byFile(m_record + "/Gate_1.mkv");
    ASSERT_EQ(gate["total"], 1) << gate.dump();
    EXPECT_EQ(gate["recordings"][0]["id"], b);
    EXPECT_EQ(byFile(m_record + "/Gate_1.mkv", "&camera=Porch")["total"], 0);
    EXPECT_EQ(byFile(m_record + "/../" + platform::BaseName(m_record) + "/Gate_1.mkv")["total"], 0);
    EXPECT_EQ(byFile("/etc/passwd")["total"], 0);

    for (const char* bad : {"?limit=0", "?limit=x", "?since=yesterday", "?offset=-1"}) {
        EXPECT_EQ(Get(m_server.Url(std::string("api/v1/recordings") + bad)).status, 400) << bad;
    }

    const CHttpReply one = Get(Url(b));
    ASSERT_EQ(one.status, 200);
    EXPECT_EQ(nlohmann::json::parse(one.body)["camera"], "Gate");
    const CHttpReply thumbnail = Get(Url(a, "/thumbnail"));
    EXPECT_EQ(thumbnail.status, 200);
    EXPECT_EQ(thumbnail.Header("content-type"), "image/jpeg");
    EXPECT_EQ(thumbnail.body, std::string(jpeg.begin(), jpeg.end()));
    EXPECT_EQ(Get(Url(b, "/thumbnail")).status, 404);
}

TEST_F(WebRecordingsTest, FileAnswersRangesSoThatAPlayerCanSeek) {
    const size_t size = 100000;
    const int64_t id = Add("Porch_1.mp4", size);
    const std::string file = Url(id, "/file");

    const CHttpReply whole = Get(file);
    ASSERT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, Bytes(0, size - 1));
    EXPECT_EQ(whole.Header("accept-ranges"), "bytes");
    EXPECT_EQ(whole.Header("content-type"), "video/mp4");
    EXPECT_EQ(whole.Header("content-length"), std::to_string(size));
    EXPECT_EQ(whole.Header("content-disposition").rfind("inline; filename=\"Porch_1.mp4\"", 0), 0u);

    struct CCase {
        const char* range;
        size_t first, last;
    };
    for (const CCase& c : {CCase{"bytes=10-19", 10, 19}, CCase{"bytes=99990-", 99990, size - 1},
                           CCase{"bytes=-7", size - 7, size - 1}, CCase{"bytes=-200000", 0, size - 1},
                           CCase{"bytes=50000-999999", 50000, size - 1}, CCase{"bytes=0-0", 0, 0}}) {
        const CHttpReply part = Get(file, c.range);
        ASSERT_EQ(part.status, 206) << c.range;
        EXPECT_EQ(part.body, Bytes(c.first, c.last)) << c.range;
        EXPECT_EQ(part.Header("content-range"), "bytes " + std::to_string(c.first) + "-" +
                                                    std::to_string(c.last) + "/" + std::to_string(size))
            << c.range;
        EXPECT_EQ(part.Header("content-length"), std::to_string(c.last - c.first + 1)) << c.range;
    }
    for (const char* bad : {"bytes=100000-", "bytes=200000-200001", "bytes=20-10", "bytes=-0", "bytes=abc",
                            "bytes=5", "bytes=1-x"}) {
        const CHttpReply refused = Get(file, bad);
        EXPECT_EQ(refused.status, 416) << bad;
        EXPECT_EQ(refused.Header("content-range"), "bytes */" + std::to_string(size)) << bad;
    }
    // Another unit, or several ranges: the whole file, as HTTP allows.
    for (const char* whole : {"items=0-5", "bytes=0-1,5-6"}) {
        const CHttpReply reply = Get(file, whole);
        EXPECT_EQ(reply.status, 200) << whole;
        EXPECT_EQ(reply.body.size(), size) << whole;
    }

    const CHttpReply download = Get(file + "?download=1");
    EXPECT_EQ(download.Header("content-disposition").rfind("attachment; filename=\"Porch_1.mp4\"", 0), 0u);
    // Each container with its type.
    for (const auto& [name, container, mime] :
         std::vector<std::tuple<std::string, std::string, std::string>>{{"a.mkv", "Matroska", "video/x-matroska"},
                                                                        {"a.avi", "AVI", "video/x-msvideo"},
                                                                        {"a.wmv", "WMV", "video/x-ms-wmv"}}) {
        const int64_t other = Add(name, 10, "Porch", "Garden", kBase, container);
        EXPECT_EQ(Get(Url(other, "/file")).Header("content-type"), mime) << name;
    }
    // An empty file is served too.
    EXPECT_EQ(Get(Url(Add("empty.mp4", 0), "/file")).status, 200);
}

TEST_F(WebRecordingsTest, OnlyCatalogueIdsReachFilesAndNothingElse) {
    const int64_t id = Add("Porch_1.mp4", 100);
    const std::string sid = std::to_string(id);
    for (const std::string& rel : std::vector<std::string>{"999999/file", "0/file", "-1/file", "1x/file", "..%2F..%2F..%2Fetc%2Fpasswd/file",
          "%2Fetc%2Fpasswd/file", "..%2FTavrix.db/file",
                                                           sid + "/..%2F..%2FTavrix.db", sid + "%2F..%2F..%2FTavrix.db",
                                                           sid + "/file/x", "99999999999999999999/file"}) {
        const CHttpReply reply = Get(m_server.Url("api/v1/recordings/" + rel));
        // libsoup itself refuses an encoded slash beside dot segments (400); we say "not found".
        EXPECT_TRUE(reply.status == 404 || reply.status == 400) << rel << ": " << reply.status;
        EXPECT_EQ(reply.body.find("root:"), std::string::npos) << rel;
        EXPECT_EQ(reply.body.find("SQLite"), std::string::npos) << rel;
    }
    // Dot segments that the client does not collapse.
    const CHttpReply dots = Get(m_server.Url("api/v1/recordings/../../../../etc/passwd"));
    EXPECT_NE(dots.status, 200);
    EXPECT_EQ(dots.body.find("root:"), std::string::npos);

    // A row whose file went: 404, not a crash; a row being written: 409.
    ASSERT_EQ(::unlink((m_record + "/Porch_1.mp4").c_str()), 0);
    EXPECT_EQ(Get(Url(id, "/file")).status, 404);
    const int64_t writing = Add("Porch_2.mp4", 100);
    m_catalogue.SetState(writing, ERecordingState::Writing);
    EXPECT_EQ(Get(Url(writing, "/file")).status, 409);

    // Nothing anonymously.
    for (const std::string& rel : std::vector<std::string>{"api/v1/recordings", "api/v1/recordings/retention",
                                  "api/v1/recordings/" + std::to_string(writing),
                                  "api/v1/recordings/" + std::to_string(writing) + "/file",
                                  "api/v1/recordings/" + std::to_string(writing) + "/thumbnail"}) {
        EXPECT_EQ(HttpRequest("GET", m_server.Url(rel)).status, 401) << rel;
    }
    EXPECT_EQ(HttpRequest("GET", m_server.Url("recordings.html")).status, 303);
}

TEST_F(WebRecordingsTest, OnlyAnAdminWithTheCsrfTokenKeepsAndDeletes) {
    const int64_t id = Add("Porch_1.mp4", 500);
    const std::string path = m_record + "/Porch_1.mp4";
    const std::string one = Url(id);
    const std::string keep = Url(id, "/keep");
    const std::string viewerCsrf = "X-CSRF-Token: " + m_viewerCsrf;
    const std::string adminCsrf = "X-CSRF-Token: " + m_adminCsrf;

    EXPECT_EQ(HttpRequest("DELETE", one, {}, {m_viewer, viewerCsrf}).status, 403) << "a viewer";
    EXPECT_EQ(HttpRequest("POST", keep, {}, {m_viewer, viewerCsrf}).status, 403) << "a viewer";
    EXPECT_EQ(HttpRequest("DELETE", one, {}, {m_admin}).status, 403) << "no CSRF token";
    EXPECT_EQ(HttpRequest("DELETE", one, {}, {m_admin, viewerCsrf}).status, 403) << "another's token";
    EXPECT_EQ(HttpRequest("DELETE", one).status, 401);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    ASSERT_TRUE(m_catalogue.Get(id));

    // Kept: retention and deletion leave it alone until it is let go.
    EXPECT_EQ(HttpRequest("POST", keep, {}, {m_admin, adminCsrf}).status, 200);
    EXPECT_TRUE(m_catalogue.Get(id)->keep);
    EXPECT_EQ(nlohmann::json::parse(Get(one).body)["keep"], true);
    EXPECT_EQ(HttpRequest("DELETE", one, {}, {m_admin, adminCsrf}).status, 409);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    EXPECT_EQ(HttpRequest("DELETE", keep, {}, {m_admin, adminCsrf}).status, 200);
    EXPECT_FALSE(m_catalogue.Get(id)->keep);

    const CHttpReply deleted = HttpRequest("DELETE", one, {}, {m_admin, adminCsrf});
    EXPECT_EQ(deleted.status, 200) << deleted.body;
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the file is gone from the disk";
    EXPECT_FALSE(m_catalogue.Get(id)) << "and its row from the catalogue";
    EXPECT_EQ(Get(one).status, 404);
    EXPECT_EQ(Get(Url(id, "/file")).status, 404);
    EXPECT_EQ(HttpRequest("DELETE", one, {}, {m_admin, adminCsrf}).status, 404);
    EXPECT_EQ(HttpRequest("POST", Url(id + 1, "/keep"), {}, {m_admin, adminCsrf}).status, 404);
    // A method the path does not have.
    EXPECT_EQ(HttpRequest("PUT", Url(Add("Porch_2.mp4", 5)), {}, {m_admin, adminCsrf}).status, 405);
}

TEST_F(WebRecordingsTest, RetentionOfEachCataloguedDocumentIsShown) {
    const std::string documentPath = m_server.Dir() + "/Garden.tvrx";
    {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnNewDocument(documentPath));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_record;
            data.m_retentionDays = 12;
            data.m_retentionMaxGiB = 34;
            data.m_minFreeGiB = 5;
        });
        ASSERT_TRUE(document.OnSaveDocument());
    }
    Add("Porch_1.mp4", 300);
    Add("Porch_2.mp4", 700);
    Add("Hall_1.mp4", 10, "Hall", "Gone");
    const CHttpReply reply = Get(m_server.Url("api/v1/recordings/retention"));
    ASSERT_EQ(reply.status, 200);
    const nlohmann::json documents = nlohmann::json::parse(reply.body);
    ASSERT_EQ(documents.size(), 2u) << reply.body;
    for (const nlohmann::json& document : documents) {
        if (document["document"] == "Garden") {
            EXPECT_EQ(document["recordings"], 2);
            EXPECT_EQ(document["usedBytes"], 1000);
            EXPECT_EQ(document["retentionDays"], 12);
            EXPECT_EQ(document["retentionMaxGiB"], 34);
            EXPECT_EQ(document["minFreeGiB"], 5);
            EXPECT_GT(document["freeBytes"].get<int64_t>(), 0);
        } else {
            EXPECT_EQ(document["document"], "Gone");
            EXPECT_TRUE(document.contains("error")) << "a document that cannot be read is said so";
        }
    }
    // The API description lists the recordings.
    const nlohmann::json openapi =
        nlohmann::json::parse(HttpRequest("GET", m_server.Url("api/v1/openapi.json")).body);
    for (const char* path : {"/api/v1/recordings", "/api/v1/recordings/{id}", "/api/v1/recordings/{id}/file",
                             "/api/v1/recordings/{id}/thumbnail", "/api/v1/recordings/{id}/keep",
                             "/api/v1/recordings/retention"}) {
        EXPECT_TRUE(openapi["paths"].contains(path)) << path;
    }
}

// A document open the way the shells open one: its view (without camera views: no webcam here)
// made and ended on the user-interface thread, which the test runs.
class COpenDocument {
public:
    COpenDocument(const std::string& path, const std::string& recordFolder) {
        EXPECT_TRUE(m_document.OnNewDocument(path));
        m_document.Edit([&](CTavrixDocData& data) {
            data.m_cameras.Remove(0);
            data.m_commonFilePath = recordFolder;
            data.m_retentionDays = 12;
            data.m_retentionMaxGiB = 34;
            data.m_minFreeGiB = 5;
        });
        EXPECT_TRUE(m_document.OnSaveDocument());
        OnUiThread([this] {
            m_view = std::make_unique<CTavrixViewCore>(m_document, CMessageDispatcher::Instance());
        });
    }
    ~COpenDocument() { Close(); }
    void Close() {
        OnUiThread([this] { m_view.reset(); });
    }
    // Runs fn on the user-interface thread and waits for it.
    static void OnUiThread(const std::function<void()>& fn) {
        std::promise<void> done;
        CMessageDispatcher::Instance().PostCall([&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }
    CTavrixDoc& Document() { return m_document; }

private:
    CTavrixDoc m_document;
    std::unique_ptr<CTavrixViewCore> m_view;
};

class WebRetentionTest : public WebRecordingsTest {
protected:
    CHttpReply Put(const std::string& body, const std::vector<std::string>& headers, const char* method = "PUT") {
        return HttpRequest(method, m_server.Url("api/v1/recordings/retention"), body, headers);
    }
    std::vector<std::string> Admin() const {
        return {m_admin, "X-CSRF-Token: " + m_adminCsrf, "Content-Type: application/json"};
    }
    // The values in the document's file: days, max GiB, min free GiB.
    std::array<int32_t, 3> InFile(const std::string& path) {
        std::string error;
        const std::optional<CRetentionSettings> settings = CRetention::ReadDocument(path, &error);
        EXPECT_TRUE(settings) << error;
        return settings ? std::array<int32_t, 3>{settings->days, settings->maxGiB, settings->minFreeGiB}
                        : std::array<int32_t, 3>{-1, -1, -1};
    }
    nlohmann::json Shown(const std::string& document) {
        const nlohmann::json documents =
            nlohmann::json::parse(Get(m_server.Url("api/v1/recordings/retention")).body, nullptr, false);
        for (const nlohmann::json& item : documents) {
            if (item["document"] == document) {
                return item;
            }
        }
        return nullptr;
    }
    static bool Logged(const std::string& document, const std::string& text) {
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            if (entry.docName == document && entry.text == text) {
                return true;
            }
        }
        return false;
    }

    CUiThread m_ui;
};

TEST_F(WebRetentionTest, AdminChangesTheRetentionOfAnOpenDocument) {
    const std::string path = m_server.Dir() + "/Garden.tvrx";
    COpenDocument open(path, m_record);
    Add("Porch_1.mp4", 300);
    EXPECT_EQ(Shown("Garden")["open"], true);
    // Some other change of the desktop user, not saved yet: it stays unsaved.
    open.Document().Edit([](CTavrixDocData& data) { data.m_activateAtStartup = true; });

    const CHttpReply reply = Put(R"({"document": "Garden", "retentionDays": 7, "minFreeGiB": 3})", Admin());
    ASSERT_EQ(reply.status, 200) << reply.body;
    const nlohmann::json answer = nlohmann::json::parse(reply.body);
    EXPECT_EQ(answer["retentionDays"], 7);
    EXPECT_EQ(answer["retentionMaxGiB"], 34) << "a value left out keeps its value";
    EXPECT_EQ(answer["minFreeGiB"], 3);
    EXPECT_EQ(InFile(path), (std::array<int32_t, 3>{7, 34, 3})) << "written into the file at once";
    EXPECT_EQ(open.Document().Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 7)
        << "and into the open document, whose next save keeps it";
    EXPECT_TRUE(open.Document().IsModified()) << "the other change is still the user's to save";
    EXPECT_EQ(Shown("Garden")["retentionDays"], 7);
    EXPECT_TRUE(Logged("Garden", "Retention changed by web user 'alice': Global.RetentionDays 12 -> 7, "
                                 "Global.MinFreeGiB 5 -> 3"));

    // The document's own save writes its copy back: the change survives it.
    COpenDocument::OnUiThread([&] { EXPECT_TRUE(open.Document().OnSaveDocument()); });
    EXPECT_EQ(InFile(path), (std::array<int32_t, 3>{7, 34, 3}));

    // POST does the same; 0 means no limit, the ranges' ends are taken.
    const CHttpReply post = Put(R"({"document": ")" + path + R"(", "retentionDays": 36500, "retentionMaxGiB": 0,
                                    "minFreeGiB": 1048576})",
                                Admin(), "POST");
    ASSERT_EQ(post.status, 200) << post.body;
    EXPECT_EQ(InFile(path), (std::array<int32_t, 3>{36500, 0, 1048576}));

    // Once the document is closed, nothing changes it from here.
    open.Close();
    EXPECT_EQ(Shown("Garden")["open"], false);
    const CHttpReply closed = Put(R"({"document": "Garden", "retentionDays": 1})", Admin());
    EXPECT_EQ(closed.status, 409) << closed.body;
    EXPECT_NE(closed.body.find("is not open in this Tavrix"), std::string::npos) << closed.body;
    EXPECT_EQ(InFile(path), (std::array<int32_t, 3>{36500, 0, 1048576}));
}

TEST_F(WebRetentionTest, RefusedRequestsChangeNothing) {
    const std::string path = m_server.Dir() + "/Garden.tvrx";
    COpenDocument open(path, m_record);
    Add("Porch_1.mp4", 300);
    const std::string good = R"({"document": "Garden", "retentionDays": 7})";
    const std::vector<std::string> json{"Content-Type: application/json"};

    EXPECT_EQ(Put(good, {m_viewer, "X-CSRF-Token: " + m_viewerCsrf}).status, 403) << "a viewer";
    EXPECT_EQ(Put(good, {m_admin}).status, 403) << "no CSRF token";
    EXPECT_EQ(Put(good, {m_admin, "X-CSRF-Token: wrong"}).status, 403) << "a wrong CSRF token";
    EXPECT_EQ(Put(good, {}).status, 401) << "nobody";
    for (const char* bad : {R"({"document": "Garden", "retentionDays": -1})",
                            R"({"document": "Garden", "retentionDays": 36501})",
                            R"({"document": "Garden", "retentionMaxGiB": 1048577})",
                            R"({"document": "Garden", "minFreeGiB": 18446744073709551615})",
                            R"({"document": "Garden", "retentionDays": "7"})",
                            R"({"document": "Garden", "retentionDays": 1.5})",
                            R"({"document": "Garden", "retentionDays": null})",
                            R"({"document": "Garden", "retentiondays": 7})",
                            R"({"document": "Garden"})",
                            R"({"retentionDays": 7})",
                            R"({"document": "", "retentionDays": 7})",
                            R"([1, 2])",
                            "not json"}) {
        const CHttpReply reply = Put(bad, Admin());
        EXPECT_EQ(reply.status, 400) << bad;
        EXPECT_TRUE(nlohmann::json::parse(reply.body, nullptr, false).contains("error")) << bad;
    }
    // A catalogued document that is not open here: another program may have it open and would
    // write its own values back.
    const std::string shedPath = m_server.Dir() + "/Shed.tvrx";
    {
        CTavrixDoc shed;
        ASSERT_TRUE(shed.OnNewDocument(shedPath));
        ASSERT_TRUE(shed.OnSaveDocument());
    }
    Add("Hall_1.mp4", 10, "Hall", "Shed");
    const CHttpReply closed = Put(R"({"document": "Shed", "retentionDays": 1})", Admin());
    EXPECT_EQ(closed.status, 409) << closed.body;
    EXPECT_EQ(InFile(shedPath)[0], CTavrixDocData::kNewRetentionDays);
    EXPECT_EQ(Shown("Shed")["open"], false);
    EXPECT_EQ(Put(R"({"document": "Nowhere", "retentionDays": 1})", Admin()).status, 404);
    EXPECT_EQ(HttpRequest("DELETE", m_server.Url("api/v1/recordings/retention"), {}, Admin()).status, 405);

    // Two open documents of one title: the name is refused, the file is not.
    const std::string twinPath = m_server.Dir() + "/twin/Garden.tvrx";
    ::mkdir((m_server.Dir() + "/twin").c_str(), 0700);
    {
        COpenDocument twin(twinPath, m_record);
        const CHttpReply ambiguous = Put(good, Admin());
        EXPECT_EQ(ambiguous.status, 409) << ambiguous.body;
        EXPECT_NE(ambiguous.body.find("by its file"), std::string::npos) << ambiguous.body;
        EXPECT_EQ(Put(R"({"document": ")" + twinPath + R"(", "retentionDays": 8})", Admin()).status, 200);
        EXPECT_EQ(InFile(twinPath)[0], 8);
    }
    EXPECT_EQ(InFile(path), (std::array<int32_t, 3>{12, 34, 5})) << "nothing changed";
    EXPECT_EQ(Shown("Garden")["retentionDays"], 12);
    EXPECT_FALSE(open.Document().IsModified());
    const nlohmann::json openapi =
        nlohmann::json::parse(HttpRequest("GET", m_server.Url("api/v1/openapi.json")).body);
    EXPECT_TRUE(openapi["paths"]["/api/v1/recordings/retention"].contains("put"));
}

// A user-interface thread that does not take the call in time: 503, and when it comes to the call
// later, the change is not made any more.
TEST(WebRetentionTimeoutTest, AChangeTheUserInterfaceDidNotTakeInTimeIsNeverMade) {
    CWebFixtureServer server([](CWebServerOptions& options) { options.uiCallTimeoutMs = 300; });
    std::string cookie, csrf;
    ASSERT_TRUE(server.Login("alice", CWebFixtureServer::kAdminPassword, cookie, csrf));
    const std::string path = server.Dir() + "/Garden.tvrx";
    auto ui = std::make_unique<CUiThread>();
    auto open = std::make_unique<COpenDocument>(path, server.Dir());
    ui.reset(); // the user-interface thread is busy elsewhere
    const CHttpReply reply =
        HttpRequest("PUT", server.Url("api/v1/recordings/retention"), R"({"document": "Garden", "retentionDays": 1})",
                    {cookie, "X-CSRF-Token: " + csrf});
    EXPECT_EQ(reply.status, 503) << reply.body;
    ui = std::make_unique<CUiThread>(); // takes the late call now
    COpenDocument::OnUiThread([] {});
    EXPECT_EQ(open->Document().Read([](const CTavrixDocData& d) { return d.m_retentionDays; }), 12);
    std::string error;
    EXPECT_EQ(CRetention::ReadDocument(path, &error)->days, 12) << error;
    open.reset();
}

} // namespace
