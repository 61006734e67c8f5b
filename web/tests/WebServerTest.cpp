// The web server's API as a client sees it: real server on loopback, real HTTP requests.
#include "foundation/Exceptions.h"
#include "persistence/NotificationLog.h"
#include "web/WebUsers.h"
#include "web/tests/WebTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

class WebServerTest : public ::testing::Test {
protected:
    CScriptedCamera m_camera{"Front Door", 3, "Porch", 320, 240, 15};
    CUiThread m_ui;
};

TEST_F(WebServerTest, LoginGivesSessionCookieAndCsrfTokenAndWrongPasswordIs401) {
    CWebFixtureServer server;
    const CHttpReply good =
        HttpRequest("POST", server.Url("api/v1/session"), R"({"user":"alice","password":"alice-secret-1"})");
    ASSERT_EQ(good.status, 200);
    const nlohmann::json answer = nlohmann::json::parse(good.body);
    EXPECT_EQ(answer["csrf"].get<std::string>().size(), 64u);
    EXPECT_EQ(answer["role"], "admin");
    const std::string cookie = good.Header("set-cookie");
    EXPECT_EQ(cookie.rfind("tavrix_session=", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    EXPECT_NE(cookie.find("Path=/"), std::string::npos);
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "plain HTTP cannot carry a Secure cookie";

    const CHttpReply bad =
        HttpRequest("POST", server.Url("api/v1/session"), R"({"user":"alice","password":"wrong password"})");
    EXPECT_EQ(bad.status, 401);
    EXPECT_TRUE(bad.Header("set-cookie").empty());
    EXPECT_EQ(HttpRequest("POST", server.Url("api/v1/session"), R"({"user":"nobody","password":"x"})").status,
              401);
    EXPECT_EQ(HttpRequest("POST", server.Url("api/v1/session"), "not json").status, 400);

    // The session works, and ends with DELETE.
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/cameras"), {}, {session}).status, 200);
    EXPECT_EQ(
        HttpRequest("DELETE", server.Url("api/v1/session"), {}, {session, "X-CSRF-Token: " + csrf}).status,
        200);
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/cameras"), {}, {session}).status, 401);
}

TEST_F(WebServerTest, NothingIsReadableAnonymouslyButTheLoginAndTheApiDescription) {
    CWebFixtureServer server;
    const std::string camera = "api/v1/cameras/Front%20Door/3/";
    for (const auto& [method, rel] :
         std::vector<std::pair<std::string, std::string>>{{"GET", "api/v1/cameras"},
                                                          {"GET", "api/v1/session"},
                                                          {"DELETE", "api/v1/session"},
                                                          {"GET", "api/v1/events"},
                                                          {"GET", "api/v1/events/stream"},
                                                          {"GET", "api/v1/fleet"},
                                                          {"GET", camera + "snapshot"},
                                                          {"GET", camera + "stream"},
                                                          {"POST", camera + "activate"},
                                                          {"POST", camera + "deactivate"},
                                                          {"GET", "api/v1/recordings"},
                                                          {"GET", "api/v1/anything/else"},
                                                          {"GET", "api/v2/cameras"}}) {
        const CHttpReply reply = HttpRequest(method, server.Url(rel));
        EXPECT_EQ(reply.status, 401) << method << " " << rel;
        EXPECT_EQ(reply.body.find("Porch"), std::string::npos);
    }
    // A wrong token or cookie is no better than none.
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/cameras"), {}, {"Authorization: Bearer tvx_0000"}).status,
              401);
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/cameras"), {}, {"Cookie: tavrix_session=abc"}).status,
              401);

    const CHttpReply openapi = HttpRequest("GET", server.Url("api/v1/openapi.json"));
    EXPECT_EQ(openapi.status, 200);
    EXPECT_EQ(nlohmann::json::parse(openapi.body)["openapi"], "3.0.3");
    // The pages with data send an anonymous visitor to the login page (a relative link).
    for (const char* page : {"", "index.html", "events.html"}) {
        const CHttpReply reply = HttpRequest("GET", server.Url(page));
        EXPECT_EQ(reply.status, 303) << page;
        EXPECT_EQ(reply.Header("location"), "login.html");
    }
    EXPECT_EQ(HttpRequest("GET", server.Url("login.html")).status, 200);
    EXPECT_EQ(HttpRequest("GET", server.Url("app.js")).status, 200);
}

TEST_F(WebServerTest, StateChangingRequestsNeedTheCsrfTokenAndAdminsAlone) {
    CWebFixtureServer server;
    std::string admin, adminCsrf, viewer, viewerCsrf;
    ASSERT_TRUE(server.Login("alice", CWebFixtureServer::kAdminPassword, admin, adminCsrf));
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, viewer, viewerCsrf));
    const std::string deactivate = server.Url("api/v1/cameras/Front%20Door/3/deactivate");
    const std::string activate = server.Url("api/v1/cameras/Front%20Door/3/activate");

    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {admin}).status, 403) << "no CSRF token";
    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {admin, "X-CSRF-Token: " + viewerCsrf}).status, 403)
        << "another session's token";
    EXPECT_EQ(HttpRequest("DELETE", server.Url("api/v1/session"), {}, {admin}).status, 403);
    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {viewer, "X-CSRF-Token: " + viewerCsrf}).status, 403)
        << "a viewer may not deactivate";
    EXPECT_EQ(m_camera.Deactivations(), 0);

    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {admin, "X-CSRF-Token: " + adminCsrf}).status, 202);
    EXPECT_TRUE(WaitFor([&] { return m_camera.Deactivations() == 1; }))
        << "the user interface thread deactivates";
    EXPECT_TRUE(WaitFor([&] {
        const auto cameras =
            nlohmann::json::parse(HttpRequest("GET", server.Url("api/v1/cameras"), {}, {viewer}).body);
        return cameras.size() == 1 && cameras[0]["state"] == "Inactive" && cameras[0]["active"] == false;
    }));
    EXPECT_EQ(HttpRequest("POST", activate, {}, {admin, "X-CSRF-Token: " + adminCsrf}).status, 202);
    EXPECT_TRUE(WaitFor([&] { return m_camera.Activations() == 1; }));
    EXPECT_EQ(HttpRequest("POST", server.Url("api/v1/cameras/Front%20Door/99/activate"), {},
                          {admin, "X-CSRF-Token: " + adminCsrf})
                  .status,
              404);
}

TEST_F(WebServerTest, AnApiTokenAuthenticatesWithoutCookieOrCsrfAndCarriesItsRole) {
    std::string adminToken, viewerToken;
    CWebFixtureServer server;
    {
        CWebUsers users(server.Dir() + "/Tavrix.db");
        adminToken = users.NewToken("alice");
        viewerToken = users.NewToken("bob");
    }
    const CHttpReply cameras =
        HttpRequest("GET", server.Url("api/v1/cameras"), {}, {"Authorization: Bearer " + viewerToken});
    ASSERT_EQ(cameras.status, 200);
    EXPECT_EQ(nlohmann::json::parse(cameras.body)[0]["name"], "Porch");
    const std::string deactivate = server.Url("api/v1/cameras/Front%20Door/3/deactivate");
    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {"Authorization: Bearer " + viewerToken}).status, 403);
    EXPECT_EQ(HttpRequest("POST", deactivate, {}, {"Authorization: Bearer " + adminToken}).status, 202);
    EXPECT_TRUE(WaitFor([&] { return m_camera.Deactivations() == 1; }));
    // A new token replaces the old one.
    {
        CWebUsers users(server.Dir() + "/Tavrix.db");
        users.NewToken("bob");
    }
    EXPECT_EQ(
        HttpRequest("GET", server.Url("api/v1/cameras"), {}, {"Authorization: Bearer " + viewerToken}).status,
        401);
}

TEST_F(WebServerTest, LoginsAreRateLimitedPerAddressAndFailuresLoggedWithoutThePassword) {
    CWebFixtureServer server([](CWebServerOptions& options) { options.loginFailuresAllowed = 3; });
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(HttpRequest("POST", server.Url("api/v1/session"),
                              R"({"user":"alice","password":"guess-)" + std::to_string(i) + "\"}")
                      .status,
                  401);
    }
    const CHttpReply limited =
        HttpRequest("POST", server.Url("api/v1/session"), R"({"user":"alice","password":"alice-secret-1"})");
    EXPECT_EQ(limited.status, 429) << "even the right password waits";
    EXPECT_FALSE(limited.Header("retry-after").empty());
    bool logged = false;
    for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
        EXPECT_EQ(entry.text.find("guess-"), std::string::npos) << entry.text;
        logged = logged || entry.text == "Web login failed for user 'alice' from 127.0.0.1";
    }
    EXPECT_TRUE(logged);
}

TEST_F(WebServerTest, ParallelGuessesCannotSlipPastTheRateLimitWhilePasswordsAreChecked) {
    CWebFixtureServer server([](CWebServerOptions& options) { options.loginFailuresAllowed = 3; });
    std::vector<std::thread> guesses;
    std::atomic<int> refused{0}, limited{0};
    for (int i = 0; i < 10; ++i) {
        guesses.emplace_back([&, i] {
            const long status = HttpRequest("POST", server.Url("api/v1/session"),
                                            R"({"user":"bob","password":"guess-)" + std::to_string(i) + "\"}")
                                    .status;
            (status == 401 ? refused : limited) += status == 401 || status == 429 ? 1 : 100;
        });
    }
    for (std::thread& guess : guesses) {
        guess.join();
    }
    // Checks under way count against the address as failures do.
    EXPECT_EQ(refused.load(), 3);
    EXPECT_EQ(limited.load(), 7);
}

TEST_F(WebServerTest, PathsFromRequestsNeverReachTheFileSystem) {
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("alice", CWebFixtureServer::kAdminPassword, session, csrf));
    for (const char* rel :
         {"../../../../etc/passwd", "%2e%2e/%2e%2e/%2e%2e/etc/passwd", "..%2f..%2f..%2fetc%2fpasswd",
          "www/index.html", "static/app.js", "./app.js/../../CMakeLists.txt", "%2fetc%2fpasswd",
          "api/v1/cameras/..%2F..%2F..%2Fetc%2Fpasswd/0/snapshot",
          "api/v1/cameras/Front%20Door/..%2F3/snapshot", "WebServer.cpp", "CMakeLists.txt"}) {
        const CHttpReply reply = HttpRequest("GET", server.Url(rel), {}, {session});
        EXPECT_TRUE(reply.status == 404 || reply.status == 400) << rel << " gave " << reply.status;
        EXPECT_EQ(reply.body.find("root:"), std::string::npos) << rel;
        EXPECT_EQ(reply.body.find("cmake_minimum_required"), std::string::npos) << rel;
    }
}

TEST_F(WebServerTest, CameraListHasRelativeUrlsThatWorkUnderABasePath) {
    CWebFixtureServer server([](CWebServerOptions& options) { options.basePath = "/cams/tavrix"; });
    EXPECT_NE(server.Server().GetUrl().find("/cams/tavrix/"), std::string::npos);
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    const CHttpReply reply = HttpRequest("GET", server.Url("api/v1/cameras"), {}, {session});
    ASSERT_EQ(reply.status, 200);
    const nlohmann::json cameras = nlohmann::json::parse(reply.body);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0]["document"], "Front Door");
    EXPECT_EQ(cameras[0]["name"], "Porch");
    EXPECT_EQ(cameras[0]["state"], "Idle");
    EXPECT_EQ(cameras[0]["stream"], "api/v1/cameras/Front%20Door/3/stream");
    EXPECT_EQ(cameras[0]["snapshot"], "api/v1/cameras/Front%20Door/3/snapshot");
    // Outside the base nothing answers.
    const std::string root = "http://127.0.0.1:" + std::to_string(server.Server().GetPort()) + "/";
    EXPECT_EQ(HttpRequest("GET", root + "api/v1/cameras", {}, {session}).status, 404);
    const CHttpReply bare = HttpRequest("GET", root + "cams/tavrix", {}, {session});
    EXPECT_EQ(bare.status, 303);
    EXPECT_EQ(bare.Header("location"), "tavrix/");

    const CHttpReply snapshot =
        HttpRequest("GET", server.Url(cameras[0]["snapshot"].get<std::string>()), {}, {session});
    ASSERT_EQ(snapshot.status, 200);
    EXPECT_EQ(snapshot.Header("content-type"), "image/jpeg");
    int width = 0, height = 0;
    ASSERT_TRUE(JpegSize(snapshot.body, width, height));
    EXPECT_EQ(width, 320) << "a snapshot has the camera's own size";
    EXPECT_EQ(height, 240);
}

TEST_F(WebServerTest, EventsAreFilteredAndNewOnesArriveAsServerSentEvents) {
    CWebFixtureServer server;
    std::string session, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf));
    CNotificationLog::Instance().AddEntry("Front Door", "Porch", "Motion at the gate 17");
    CNotificationLog::Instance().AddEntry("Back Yard", "Shed", "Motion at the shed 17");
    const CHttpReply filtered =
        HttpRequest("GET", server.Url("api/v1/events?document=Front%20Door&text=GATE"), {}, {session});
    ASSERT_EQ(filtered.status, 200);
    const nlohmann::json entries = nlohmann::json::parse(filtered.body);
    ASSERT_GE(entries.size(), 1u);
    for (const auto& entry : entries) {
        EXPECT_EQ(entry["document"], "Front Door");
    }
    EXPECT_EQ(entries[0]["text"], "Motion at the gate 17");

    const int socket =
        RawGet(server.Server().GetPort(), "/api/v1/events/stream?camera=Shed", session + "\r\n");
    ASSERT_GE(socket, 0);
    std::string received;
    char buffer[4096];
    // The stream is open once its first comment arrived; then the entries follow.
    ASSERT_TRUE(WaitFor([&] {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            received.append(buffer, static_cast<size_t>(n));
        return received.find(": connected") != std::string::npos;
    }));
    CNotificationLog::Instance().AddEntry("Front Door", "Porch", "not for this filter");
    CNotificationLog::Instance().AddEntry("Back Yard", "Shed", "Door of the shed opened");
    EXPECT_TRUE(WaitFor([&] {
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            received.append(buffer, static_cast<size_t>(n));
        return received.find("Door of the shed opened") != std::string::npos;
    }));
    EXPECT_EQ(received.find("not for this filter"), std::string::npos);
    EXPECT_NE(received.find("text/event-stream"), std::string::npos);
    ::close(socket);
}

TEST(WebServerStartTest, RefusesAnAddressBeyondLoopbackWhileNoUserExists) {
    const std::string dir = MakeWebTempDir();
    CWebServer server;
    CWebServerOptions options;
    options.address = "0.0.0.0";
    options.port = 0;
    options.userDbPath = dir + "/Tavrix.db";
    try {
        server.Start(options);
        FAIL() << "started without a user on 0.0.0.0";
    } catch (const CGeneralEx& e) {
        EXPECT_NE(e.GetMessage().find("no web user is defined"), std::string::npos) << e.GetMessage();
    }
    EXPECT_FALSE(server.IsRunning());
    // Loopback is allowed: nothing can be read there without a user anyway.
    options.address = "127.0.0.1";
    server.Start(options);
    EXPECT_EQ(HttpRequest("GET", server.GetUrl() + "api/v1/cameras").status, 401);
    server.Stop();
    RemoveTree(dir);
}

TEST(WebServerStartTest, UnderTlsTheSessionCookieIsSecureAndPlainHttpIsNotServed) {
    const std::string dir = MakeWebTempDir();
    const std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -keyout '" + dir +
        "/key.pem' -out '" + dir + "/cert.pem' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        RemoveTree(dir);
        GTEST_SKIP() << "openssl cannot make a test certificate";
    }
    {
        CWebFixtureServer server([&](CWebServerOptions& options) {
            options.tlsCertificate = dir + "/cert.pem";
            options.tlsKey = dir + "/key.pem";
        });
        EXPECT_EQ(server.Server().GetUrl().rfind("https://", 0), 0u);
        const CHttpReply login =
            HttpRequest("POST", server.Url("api/v1/session"), R"({"user":"bob","password":"bob-secret-22"})");
        ASSERT_EQ(login.status, 200);
        EXPECT_NE(login.Header("set-cookie").find("; Secure"), std::string::npos)
            << login.Header("set-cookie");
        const std::string plain =
            "http://127.0.0.1:" + std::to_string(server.Server().GetPort()) + "/api/v1/cameras";
        EXPECT_NE(HttpRequest("GET", plain).status, 401) << "no answer in plain HTTP";
    }
    CWebServer broken;
    CWebServerOptions options;
    options.port = 0;
    options.userDbPath = dir + "/Tavrix.db";
    options.tlsCertificate = dir + "/cert.pem";
    options.tlsKey = dir + "/missing.pem";
    EXPECT_THROW(broken.Start(options), CGeneralEx);
    RemoveTree(dir);
}

TEST(WebServerStartTest, ListenAddressesOfTheCommandLine) {
    std::string address;
    int port = 0;
    EXPECT_TRUE(CWebServer::ParseListen("8080", address, port));
    EXPECT_EQ(address, "127.0.0.1");
    EXPECT_EQ(port, 8080);
    EXPECT_TRUE(CWebServer::ParseListen("0.0.0.0:80", address, port));
    EXPECT_EQ(address, "0.0.0.0");
    EXPECT_TRUE(CWebServer::ParseListen("[::1]:9000", address, port));
    EXPECT_EQ(address, "::1");
    for (const char* bad : {"", "0", "65536", "host:80", "1.2.3.4:", "80a", "-1"}) {
        EXPECT_FALSE(CWebServer::ParseListen(bad, address, port)) << bad;
    }
    EXPECT_TRUE(CWebServer::IsLoopback("127.0.0.1"));
    EXPECT_TRUE(CWebServer::IsLoopback("::1"));
    EXPECT_FALSE(CWebServer::IsLoopback("0.0.0.0"));
}

} // namespace
