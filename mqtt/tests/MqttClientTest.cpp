// The MQTT client against Debian's mosquitto broker on loopback: delivery, passwords, the bounded
// queue while the broker is gone and the re-connection; and the settings group it is made from.

#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"
#include "mqtt/tests/MqttTestBroker.h"
#include "platform/SettingsFile.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using mqtttest::CSubscriber;
using mqtttest::CTestBroker;
using mqtttest::WaitFor;

class MqttClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-mqtt-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    CMqttClient::COptions Options(uint16_t port) {
        CMqttClient::COptions options;
        options.host = "127.0.0.1";
        options.port = port;
        options.clientId = "test-publisher";
        options.reconnectMaxSeconds = 2;
        return options;
    }
    CMqttClient::LogFn Collect() {
        return [this](const std::string& text, bool error) {
            std::lock_guard<std::mutex> lock(m_logLock);
            m_log.push_back((error ? "E " : "I ") + text);
        };
    }
    bool Logged(const std::string& part) {
        std::lock_guard<std::mutex> lock(m_logLock);
        for (const std::string& line : m_log) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::string AllLog() {
        std::lock_guard<std::mutex> lock(m_logLock);
        std::string all;
        for (const std::string& line : m_log) {
            all += line + "\n";
        }
        return all;
    }

    std::string m_folder;
    std::mutex m_logLock;
    std::vector<std::string> m_log;
};

TEST_F(MqttClientTest, MessagesReachASubscriberOfAPasswordBrokerAndAWrongPasswordIsRefusedWithoutLeakingIt) {
    CTestBroker broker(m_folder, "node", "s3cret-pass");
    ASSERT_TRUE(broker.Start());
    CSubscriber subscriber(broker.Port(), {"t/#"}, "node", "s3cret-pass");
    ASSERT_TRUE(subscriber.WaitConnected());

    CMqttClient::COptions options = Options(broker.Port());
    options.user = "node";
    options.password = "s3cret-pass";
    CMqttClient client(options, Collect());
    ASSERT_TRUE(client.Start());
    ASSERT_TRUE(client.WaitConnected(60000));
    client.Publish("t/a", "one", false);
    client.Publish("t/b", "{\"x\":1}", true);
    EXPECT_TRUE(client.PublishAndWait("t/c", "three", false, 60000));
    ASSERT_TRUE(subscriber.WaitForPayload("t/c", "three"));
    EXPECT_EQ(subscriber.Last("t/a"), "one");
    EXPECT_EQ(subscriber.Last("t/b"), "{\"x\":1}");
    EXPECT_TRUE(Logged("Connected to the MQTT broker at 127.0.0.1:" + std::to_string(broker.Port())));

    // Retained: a later subscriber still gets it.
    CSubscriber late(broker.Port(), {"t/#"}, "node", "s3cret-pass");
    ASSERT_TRUE(late.WaitForPayload("t/b", "{\"x\":1}"));
    EXPECT_TRUE(late.Payloads("t/a").empty());

    CMqttClient::COptions wrong = Options(broker.Port());
    wrong.clientId = "test-wrong";
    wrong.user = "node";
    wrong.password = "not-the-password";
    CMqttClient refused(wrong, Collect());
    ASSERT_TRUE(refused.Start());
    ASSERT_TRUE(WaitFor([&] { return Logged("refused the connection"); })) << AllLog();
    EXPECT_FALSE(refused.IsConnected());
    refused.Publish("t/d", "never", false);
    refused.Stop();
    EXPECT_EQ(AllLog().find("not-the-password"), std::string::npos);
    EXPECT_EQ(AllLog().find("s3cret-pass"), std::string::npos);
    client.Stop();
}

TEST_F(MqttClientTest, WhileTheBrokerIsGoneMessagesWaitInABoundedQueueAndGoOutInOrderWhenItIsBack) {
    CTestBroker broker(m_folder);
    ASSERT_TRUE(broker.Start());
    CMqttClient::COptions options = Options(broker.Port());
    options.queueLimit = 10;
    CMqttClient client(options, Collect());
    ASSERT_TRUE(client.Start());
    ASSERT_TRUE(client.WaitConnected(60000));

    broker.Stop();
    ASSERT_TRUE(WaitFor([&] { return !client.IsConnected(); }));
    ASSERT_TRUE(WaitFor([&] { return Logged("is gone"); })) << AllLog();
    for (int i = 0; i < 15; ++i) {
        // Retained, so that a subscriber after the restart sees what arrived.
        client.Publish("q/" + std::to_string(i), "m" + std::to_string(i), true);
    }
    EXPECT_EQ(client.GetStats().queued, 10u);
    EXPECT_EQ(client.GetStats().dropped, 5u);

    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(client.WaitConnected(60000));
    ASSERT_TRUE(WaitFor([&] { return Logged("is back: 10 queued message(s) sent, 5 dropped"); })) << AllLog();
    CSubscriber subscriber(broker.Port(), {"q/#"});
    ASSERT_TRUE(subscriber.WaitForPayload("q/14", "m14"));
    ASSERT_TRUE(WaitFor([&] { return subscriber.Messages().size() >= 10; }));
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(subscriber.Payloads("q/" + std::to_string(i)).empty()) << i;
    }
    for (int i = 5; i < 15; ++i) {
        EXPECT_EQ(subscriber.Last("q/" + std::to_string(i)), "m" + std::to_string(i));
    }
    EXPECT_EQ(client.GetStats().queued, 0u);
}

TEST_F(MqttClientTest, AClientStartedBeforeItsBrokerKeepsTryingAndConnectsOnceItRuns) {
    CTestBroker broker(m_folder);
    CMqttClient client(Options(broker.Port()), Collect());
    ASSERT_TRUE(client.Start());
    client.Publish("early/x", "kept", true);
    ASSERT_TRUE(WaitFor([&] { return Logged("Cannot reach the MQTT broker"); })) << AllLog();
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(client.WaitConnected(60000));
    CSubscriber subscriber(broker.Port(), {"early/#"});
    EXPECT_TRUE(subscriber.WaitForPayload("early/x", "kept"));
    // Stopping never hangs, connected or not.
    client.Stop();
    broker.Stop();
    CMqttClient orphan(Options(broker.Port()), Collect());
    ASSERT_TRUE(orphan.Start());
    orphan.Stop();
}

TEST(MqttSettingsTest, TheGroupIsReadWithDefaultsAndHostOverridesAreParsed) {
    char folder[] = "/tmp/tavrix-mqtt-settings-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/Tavrix.conf";
    {
        platform::CSettingsFile file(path);
        const CMqttSettings defaults = CMqttSettings::Load(file);
        EXPECT_FALSE(defaults.Enabled());
        EXPECT_EQ(defaults.port, 1883);
        EXPECT_EQ(defaults.prefix, "tavrix");
        EXPECT_FALSE(defaults.nodeName.empty());
        EXPECT_FALSE(defaults.remoteControl);
        file.WriteString("MQTT", "Host", "broker.lan");
        file.WriteDword("MQTT", "TLS", 1);
        file.WriteString("MQTT", "NodeName", "gate/house #2");
        file.WriteString("MQTT", "Prefix", "site//cams/+");
        file.WriteString("MQTT", "Port", "not a dword");
        const CMqttSettings read = CMqttSettings::Load(file);
        EXPECT_EQ(read.host, "broker.lan");
        EXPECT_EQ(read.port, 8883); // TLS without a port
        EXPECT_EQ(read.nodeName, "gate_house__2");
        EXPECT_EQ(read.prefix, "site/cams/_");
        ASSERT_TRUE(file.Save());
    }
    // The file may hold the broker's password: its owner's alone.
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove_all(folder);

    const auto plain = CMqttSettings::ParseHostPort("mqtt.example");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "mqtt.example");
    EXPECT_FALSE(plain->port);
    const auto withPort = CMqttSettings::ParseHostPort("127.0.0.1:1884");
    ASSERT_TRUE(withPort && withPort->port);
    EXPECT_EQ(*withPort->port, 1884);
    const auto v6 = CMqttSettings::ParseHostPort("[::1]:1885");
    ASSERT_TRUE(v6 && v6->port);
    EXPECT_EQ(v6->host, "::1");
    for (const char* bad : {"", ":1883", "host:", "host:0", "host:70000", "host:12a", "[::1", "[::1]x"}) {
        EXPECT_FALSE(CMqttSettings::ParseHostPort(bad)) << bad;
    }
}

} // namespace
