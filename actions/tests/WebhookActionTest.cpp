// The webhook and MQTT publish actions against real peers on loopback: a Python HTTP server that
// answers with chosen codes, slowly or only after failures, and Debian's mosquitto broker.

#include "actions/CSEA_MqttPublish.h"
#include "actions/CSEA_Webhook.h"
#include "actions/CSEventActionFactory.h"
#include "mqtt/MqttNode.h"
#include "mqtt/tests/MqttTestBroker.h"
#include "persistence/ConfigStore.h"

#include "ActionFixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

class WebhookActionTest : public CActionFixture {
protected:
    void SetUp() override {
        CActionFixture::SetUp();
        m_requests = m_dir + "/requests.jsonl";
        m_port = m_server.StartServer({kSystemPython, PeerScript("http_server.py"), m_requests});
        ASSERT_GT(m_port, 0);
    }
    void TearDown() override {
        m_server.Stop();
        CActionFixture::TearDown();
    }
    CSEA_Webhook Action(const std::string& path) {
        CSEA_Webhook action;
        action.SetStringProp("WebhookURL", "http://127.0.0.1:" + std::to_string(m_port) + path);
        return action;
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

    CPeerProcess m_server;
    std::string m_requests;
    int m_port = 0;
};

TEST_F(WebhookActionTest, TheBodyTemplateCarriesJsonSafeEventFieldsAndTheSecretHeaderNeverReachesTheLog) {
    SetCamera("Door \"north\"\\1", false);
    CSEA_Webhook action = Action("/hook?token=url-secret");
    action.SetStringProp("WebhookHeaders", "Content-Type: application/json | X-Site: %o");
    action.SetStringProp("WebhookAuthorization", "Bearer very-secret");
    action.SetStringProp(
        "WebhookBody",
        R"({"camera":"{{camera}}","event":"{{event}}","file":"{{file}}","raw":"%n","all":{{json}}})");
    ASSERT_TRUE(action.Execute(Record(EventKind::RecordFinish, m_dir + "/rec \"1\".mp4")));

    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]["method"], "POST");
    EXPECT_EQ(requests[0]["headers"]["Authorization"], "Bearer very-secret");
    EXPECT_EQ(requests[0]["headers"]["X-Site"], "Lobby");
    EXPECT_EQ(requests[0]["headers"]["Content-Type"], "application/json");
    // The raw %n breaks JSON on purpose in a field of its own; the {{...}} fields never do.
    const std::string body = requests[0]["body"];
    const std::string safe = body.substr(0, body.find(",\"raw\"")) + "}";
    const nlohmann::json parsed = nlohmann::json::parse(safe);
    EXPECT_EQ(parsed["camera"], "Door \"north\"\\1");
    EXPECT_EQ(parsed["event"], "Record Finish");
    EXPECT_EQ(parsed["file"], m_dir + "/rec \"1\".mp4");
    const size_t allAt = body.find("\"all\":") + 6;
    const nlohmann::json all = nlohmann::json::parse(body.substr(allAt, body.size() - allAt - 1));
    EXPECT_EQ(all["document"], "Lobby");
    EXPECT_EQ(all["type"], "Record Finish");
    EXPECT_EQ(all["kind"], 6);

    const auto texts = LogTexts("Door \"north\"\\1");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "Webhook Event Action: POST http://127.0.0.1:" + std::to_string(m_port) +
                            "/hook answered 200 (try 1 of 3)");
    EXPECT_FALSE(LogContains("very-secret"));
    EXPECT_FALSE(LogContains("url-secret"));
}

TEST_F(WebhookActionTest, ServerErrorsAreRetriedClientErrorsAreNotAndEveryCodeIsLogged) {
    CSEA_Webhook flaky = Action("/flaky/2");
    flaky.SetIntegerProp("WebhookRetries", 3);
    EXPECT_TRUE(flaky.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(Requests().size(), 3u);

    CSEA_Webhook refused = Action("/status/404");
    refused.SetStringProp("WebhookMethod", "put");
    EXPECT_FALSE(refused.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(Requests().size(), 4u);
    EXPECT_EQ(Requests().back()["method"], "PUT");

    CSEA_Webhook down = Action("/status/500");
    down.SetIntegerProp("WebhookRetries", 1);
    EXPECT_FALSE(down.Execute(Record(EventKind::MotionStart)));
    EXPECT_EQ(Requests().size(), 6u);

    const std::string base = "Webhook Event Action: ";
    const std::string url = "http://127.0.0.1:" + std::to_string(m_port);
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                              base + "POST " + url + "/flaky/2 answered 503 (try 1 of 4)",
                              base + "POST " + url + "/flaky/2 answered 503 (try 2 of 4)",
                              base + "POST " + url + "/flaky/2 answered 200 (try 3 of 4)",
                              base + "PUT " + url + "/status/404 answered 404 (try 1 of 3)",
                              base + "POST " + url + "/status/500 answered 500 (try 1 of 2)",
                              base + "POST " + url + "/status/500 answered 500 (try 2 of 2)",
                          }));
}

TEST_F(WebhookActionTest, ASlowServerTimesOutAndAMissingServerOrBadUrlFailsCleanly) {
    CSEA_Webhook slow = Action("/slow");
    slow.SetIntegerProp("WebhookTimeout", 1);
    slow.SetIntegerProp("WebhookRetries", 0);
    EXPECT_FALSE(slow.Execute(Record(EventKind::MotionStart)));

    CSEA_Webhook missing;
    missing.SetStringProp("WebhookURL", "http://127.0.0.1:" + std::to_string(mqtttest::FreePort()) + "/x");
    missing.SetIntegerProp("WebhookRetries", 0);
    EXPECT_FALSE(missing.Execute(Record(EventKind::MotionStart)));

    CSEA_Webhook bad;
    bad.SetStringProp("WebhookURL", "file:///etc/passwd");
    EXPECT_FALSE(bad.Execute(Record(EventKind::MotionStart)));

    const auto texts = LogTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find("/slow failed: "), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("imed out"), std::string::npos) << texts[0];
    EXPECT_NE(texts[1].find("/x failed: "), std::string::npos) << texts[1];
    EXPECT_EQ(texts[2],
              "Webhook Event Action: the URL 'file:///etc/passwd' is no http:// or https:// address");
}

TEST_F(WebhookActionTest, TheNewActionsAreOfferedByTheFactoryUnderTheNextClassIdsAndCloneTheirProperties) {
    std::vector<int32_t> offered;
    for (const int32_t* id = CSEventActionFactory::Instance().GetCreatableClasses(); *id != -1; ++id) {
        offered.push_back(*id);
    }
    EXPECT_EQ(offered, (std::vector<int32_t>{1, 2, 3, 5, 4, 6, 7, 8}));
    for (const int32_t id : {6, 7, 8}) {
        const auto action = CSEventActionFactory::Instance().Create(id);
        ASSERT_TRUE(action) << id;
        EXPECT_EQ(action->GetClassId(), id);
        const auto copy = action->Clone();
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->GetStringProps(), action->GetStringProps());
    }
    EXPECT_FALSE(CSEventActionFactory::Instance().Create(9));
}

TEST_F(WebhookActionTest, MqttPublishSendsItsTemplatesOnTheNodesBrokerAndFailsWithoutOne) {
    CSEA_MqttPublish action;
    action.SetStringProp("MqttTopic", "site/%o/%n/alert");
    action.SetStringProp("MqttPayload", R"({"what":"{{event}}","camera":"{{camera}}"})");
    action.SetBoolProp("MqttRetain", true);
    EXPECT_FALSE(action.Execute(Record(EventKind::MotionStart)));

    mqtttest::CTestBroker broker(m_dir);
    ASSERT_TRUE(broker.Start());
    CMqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.Port();
    settings.nodeName = "n1";
    CMqttNode node(settings, nullptr);
    ASSERT_TRUE(node.Start());
    ASSERT_TRUE(node.GetClient().WaitConnected(60000));
    EXPECT_TRUE(action.Execute(Record(EventKind::MotionStart)));
    mqtttest::CSubscriber subscriber(broker.Port(), {"site/#"});
    ASSERT_TRUE(
        subscriber.WaitForPayload("site/Lobby/Door/alert", R"({"what":"Motion Start","camera":"Door"})"));
    node.Stop();

    const auto texts = LogTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "MQTT Publish Event Action: no MQTT broker is configured (settings group [MQTT])");
    EXPECT_EQ(texts[1], "MQTT Publish Event Action: published to 'site/Lobby/Door/alert'");
}

} // namespace
