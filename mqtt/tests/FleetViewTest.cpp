// The fleet as the web interface keeps it: the table built from the nodes' retained topics, and the
// view that keeps it up to date on a real broker, where nodes come, publish and die.

#include "mqtt/FleetView.h"
#include "mqtt/tests/MqttScriptedNode.h"
#include "mqtt/tests/MqttTestBroker.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using mqtttest::CScriptedNode;
using mqtttest::CTestBroker;
using mqtttest::PublishRetained;
using mqtttest::WaitFor;

TEST(FleetTableTest, TakesTheNodesTopicsUnderItsPrefixAndNothingElse) {
    CFleetTable table("site/tavrix");
    struct CCase {
        const char* topic;
        const char* payload;
        bool taken;
    };
    for (const CCase& c : std::vector<CCase>{{"site/tavrix/gate/status", "online", true},
                                             {"site/tavrix/gate/web", "http://gate.lan:8080/", true},
                                             {"site/tavrix/gate/Drive/state", "Idle", true},
                                             {"site/tavrix/gate/Drive/motion", "ON", true},
                                             {"site/tavrix/gate/Drive/last_motion", "2026-12-08T15:00:00+01:00", true},
                                             {"site/tavrix/gate/events", "{}", false},
                                             {"site/tavrix/gate/Drive/set", "activate", false},
                                             {"site/tavrix/gate/Drive/extra/state", "Idle", false},
                                             {"site/tavrix/status", "online", false},
                                             {"site/tavrixx/yard/status", "online", false},
                                             {"other/tavrix/yard/status", "online", false},
                                             {"site/tavrix//status", "online", false},
                                             {"site/tavrix/ghost/status", "", false}}) {
        EXPECT_EQ(table.Apply(c.topic, c.payload), c.taken) << c.topic;
    }
    ASSERT_EQ(table.Nodes().size(), 1u) << "a deleted message of an unknown node makes no node";
    const CFleetNode& gate = table.Nodes().at("gate");
    EXPECT_EQ(gate.status, "online");
    EXPECT_EQ(gate.web, "http://gate.lan:8080/");
    ASSERT_EQ(gate.cameras.size(), 1u);
    EXPECT_EQ(gate.cameras.at("Drive").state, "Idle");
    EXPECT_EQ(gate.cameras.at("Drive").motion, "ON");
    EXPECT_EQ(gate.cameras.at("Drive").lastMotion, "2026-12-08T15:00:00+01:00");

    // A deleted retained message empties its value; an overlong payload is cut.
    EXPECT_TRUE(table.Apply("site/tavrix/gate/web", ""));
    EXPECT_EQ(table.Nodes().at("gate").web, "");
    EXPECT_TRUE(table.Apply("site/tavrix/gate/Drive/state", std::string(5000, 'x')));
    EXPECT_EQ(table.Nodes().at("gate").cameras.at("Drive").state.size(), CFleetTable::kMaxPayload);
}

TEST(FleetTableTest, ABrokerFullOfStrayCamerasCannotGrowItWithoutBound) {
    CFleetTable table("tavrix");
    for (size_t i = 0; i < CFleetTable::kMaxCamerasPerNode + 10; ++i) {
        table.Apply("tavrix/gate/cam" + std::to_string(i) + "/state", "Idle");
    }
    EXPECT_EQ(table.Nodes().at("gate").cameras.size(), CFleetTable::kMaxCamerasPerNode);
    for (size_t i = 0; i < CFleetTable::kMaxNodes + 10; ++i) {
        table.Apply("tavrix/node" + std::to_string(i) + "/status", "online");
    }
    EXPECT_EQ(table.Nodes().size(), CFleetTable::kMaxNodes);
}

class FleetViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-fleetview-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string m_folder;
};

TEST_F(FleetViewTest, SeesTheRetainedFleetThenFollowsANodeThatDiesAndOneThatComesLater) {
    CTestBroker broker(m_folder);
    ASSERT_TRUE(broker.Start());
    // A node that was there before the view: its retained topics reach the view when it connects.
    CScriptedNode gate(broker.Port(), "tavrix/gate/status");
    ASSERT_TRUE(gate.Start());
    ASSERT_TRUE(PublishRetained(broker.Port(), "tavrix/gate/web", "http://gate.lan:8080/"));
    ASSERT_TRUE(PublishRetained(broker.Port(), "tavrix/gate/Drive/state", "Recording"));
    ASSERT_TRUE(PublishRetained(broker.Port(), "tavrix/gate/Drive/motion", "ON"));

    CMqttSettings settings;
    settings.host = "127.0.0.1";
    settings.port = broker.Port();
    settings.nodeName = "desk";
    CFleetView view(settings, nullptr);
    ASSERT_TRUE(view.Start());
    const auto gateIs = [&](const std::string& status) {
        const CFleetTable table = view.Snapshot();
        const auto node = table.Nodes().find("gate");
        return node != table.Nodes().end() && node->second.status == status;
    };
    // Retained messages of several subscriptions: all of them, in any order.
    ASSERT_TRUE(WaitFor([&] {
        if (!gateIs("online")) {
            return false;
        }
        const CFleetNode node = view.Snapshot().Nodes().at("gate");
        return !node.web.empty() && node.cameras.count("Drive") == 1 && !node.cameras.at("Drive").state.empty() &&
               !node.cameras.at("Drive").motion.empty();
    }));
    {
        const CFleetTable table = view.Snapshot();
        const CFleetNode& node = table.Nodes().at("gate");
        EXPECT_EQ(node.web, "http://gate.lan:8080/");
        EXPECT_EQ(node.cameras.at("Drive").state, "Recording");
        EXPECT_EQ(node.cameras.at("Drive").motion, "ON");
    }

    // A node coming later, while the view runs.
    uint64_t before = 0;
    view.Snapshot(&before);
    CScriptedNode yard(broker.Port(), "tavrix/yard/status");
    ASSERT_TRUE(yard.Start());
    ASSERT_TRUE(PublishRetained(broker.Port(), "tavrix/yard/Shed/state", "Idle"));
    ASSERT_TRUE(WaitFor([&] {
        const CFleetTable table = view.Snapshot();
        const auto node = table.Nodes().find("yard");
        return node != table.Nodes().end() && node->second.status == "online" &&
               node->second.cameras.count("Shed") == 1;
    }));
    uint64_t after = 0;
    view.Snapshot(&after);
    EXPECT_GT(after, before) << "every change moves the version on";

    // The gate dies without a goodbye: its will says offline. Its page goes away.
    gate.Kill();
    EXPECT_TRUE(WaitFor([&] { return gateIs("offline"); }));
    ASSERT_TRUE(PublishRetained(broker.Port(), "tavrix/gate/web", ""));
    EXPECT_TRUE(WaitFor([&] { return view.Snapshot().Nodes().at("gate").web.empty(); }));
    EXPECT_EQ(view.Snapshot().Nodes().at("yard").status, "online");
    view.Stop();
}

} // namespace
