// The fleet in the web interface: what api/v1/fleet makes of the broker's table (links only to web
// addresses, this node's own page by a relative link), the page and its login. The fleet on a real
// broker with real nodes is tested with the MQTT node (mqtt_tests).

#include "web/WebServerImpl.h"
#include "web/tests/WebTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(WebFleetTest, NodesLinkOnlyToWebAddressesAndThisNodeRelatively) {
    CFleetTable table("tavrix");
    const std::vector<std::pair<std::string, std::string>> published{
        {"desk", "http://127.0.0.1:8080/"},
        {"gate", "https://cams.example.com/gate/"},
        {"evil", "javascript:alert(1)"},
        {"quote", "http://a\"onmouseover=alert(1)"},
        {"blank", "http://a b/"},
        {"none", ""}};
    for (const auto& [node, web] : published) {
        table.Apply("tavrix/" + node + "/status", node == "gate" ? "offline" : "online");
        table.Apply("tavrix/" + node + "/web", web);
    }
    table.Apply("tavrix/gate/Drive/state", "Recording");
    table.Apply("tavrix/gate/Drive/motion", "ON");
    table.Apply("tavrix/gate/Drive/last_motion", "2026-12-08T15:00:00.000+01:00");

    const nlohmann::json fleet = WebFleetJson(table, "desk", true, true, "broker.lan:1883");
    EXPECT_EQ(fleet["prefix"], "tavrix");
    EXPECT_EQ(fleet["broker"], "broker.lan:1883");
    std::map<std::string, nlohmann::json> nodes;
    for (const nlohmann::json& node : fleet["nodes"]) {
        nodes[node["name"]] = node;
    }
    ASSERT_EQ(nodes.size(), published.size());
    EXPECT_EQ(nodes["desk"]["web"], "./");
    EXPECT_EQ(nodes["desk"]["local"], true);
    EXPECT_EQ(nodes["gate"]["web"], "https://cams.example.com/gate/");
    EXPECT_EQ(nodes["gate"]["online"], false);
    EXPECT_EQ(nodes["gate"]["status"], "offline");
    for (const char* unsafe : {"evil", "quote", "blank", "none"}) {
        EXPECT_FALSE(nodes[unsafe].contains("web")) << unsafe << ": " << nodes[unsafe].dump();
    }
    const nlohmann::json camera = nodes["gate"]["cameras"].at(0);
    EXPECT_EQ(camera["name"], "Drive");
    EXPECT_EQ(camera["state"], "Recording");
    EXPECT_EQ(camera["motion"], true);
    EXPECT_EQ(camera["lastMotion"], "2026-12-08T15:00:00.000+01:00");
}

TEST(WebFleetTest, WithoutABrokerTheFleetIsOffAndThePageAndApiNeedALogin) {
    CWebFixtureServer server;
    EXPECT_EQ(HttpRequest("GET", server.Url("api/v1/fleet")).status, 401);
    const CHttpReply page = HttpRequest("GET", server.Url("fleet.html"));
    EXPECT_EQ(page.status, 303);
    EXPECT_EQ(page.Header("location"), "login.html");

    std::string cookie, csrf;
    ASSERT_TRUE(server.Login("bob", CWebFixtureServer::kViewerPassword, cookie, csrf));
    const CHttpReply reply = HttpRequest("GET", server.Url("api/v1/fleet"), {}, {cookie});
    ASSERT_EQ(reply.status, 200);
    const nlohmann::json fleet = nlohmann::json::parse(reply.body);
    EXPECT_EQ(fleet["enabled"], false);
    EXPECT_TRUE(fleet["nodes"].empty());
    EXPECT_EQ(HttpRequest("GET", server.Url("fleet.html"), {}, {cookie}).status, 200);
    EXPECT_EQ(HttpRequest("GET", server.Url("fleet.js")).status, 200);
    const nlohmann::json openapi = nlohmann::json::parse(HttpRequest("GET", server.Url("api/v1/openapi.json")).body);
    EXPECT_TRUE(openapi["paths"].contains("/api/v1/fleet"));
}

TEST(WebFleetTest, ThePublicUrlIsTheConfiguredWebAddressOrTheServersOwn) {
    CWebFixtureServer configured([](CWebServerOptions& options) { options.publicUrl = "https://cams.example.com/gate"; });
    EXPECT_EQ(configured.Server().GetPublicUrl(), "https://cams.example.com/gate/");
    CWebFixtureServer unusable([](CWebServerOptions& options) { options.publicUrl = "javascript:alert(1)"; });
    EXPECT_EQ(unusable.Server().GetPublicUrl(), unusable.Server().GetUrl());
    CWebFixtureServer plain;
    EXPECT_EQ(plain.Server().GetPublicUrl(), plain.Server().GetUrl());
    EXPECT_EQ(plain.Server().GetUrl().rfind("http://127.0.0.1:", 0), 0u);
}

} // namespace
