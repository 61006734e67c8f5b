// A real `tavrix --headless` on Debian's mosquitto broker: the topics and payloads of a test:motion
// run, Home Assistant discovery, the retained state after a broker restart, the last will after
// SIGKILL, a broker that goes and comes back mid-run, remote activate/deactivate allowed and
// refused, two nodes seen by `tavrix fleet status` and `fleet watch`, and the fleet in the web
// interface of a node.

#include "TavrixBuildPaths.h"
#include "mqtt/tests/MqttTestBroker.h"
#include "recording/tests/RecTestHost.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using mqtttest::CSubscriber;
using mqtttest::CTestBroker;
using mqtttest::WaitFor;

constexpr const char* kTavrix = TAVRIX_BINARY_DIR "/bin/tavrix";

class MqttNodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-mqttnode-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
        std::filesystem::create_directories(m_folder + "/broker");
    }
    void TearDown() override {
        for (const pid_t child : m_children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    // The environment of one node: its own settings (group [MQTT] as given), database and traces.
    std::string Environment(const std::string& node) const {
        const std::string home = m_folder + "/" + node;
        return "XDG_CONFIG_HOME='" + home + "/config' XDG_DATA_HOME='" + home + "/data' XDG_STATE_HOME='" +
               home + "/state' GST_REGISTRY='" TAVRIX_BINARY_DIR "/gst-registry-tests.bin' ";
    }
    void WriteSettings(const std::string& node, const std::string& mqttGroup) {
        const std::string folder = m_folder + "/" + node + "/config/Kestrova";
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/Tavrix.conf") << "[MQTT]\nNodeName=\"" << node << "\"\n" << mqttGroup;
    }
    std::string Run(const std::string& node, const std::string& arguments, int* status) {
        return rectest::RunCommand(Environment(node) + kTavrix + " " + arguments + " 2>/dev/null", status);
    }
    // A document with one small test camera "Gate" whose picture moves in the given windows.
    std::string MotionDocument(const std::string& node, const std::string& motion) {
        const std::string document = m_folder + "/" + node + "/Yard.tvrx";
        std::filesystem::create_directories(m_folder + "/" + node);
        int status = -1;
        Run(node,
            "doc create '" + document + "' --camera 'test:motion?on=" + motion + "' --record-path '" +
                m_folder + "/" + node + "/rec'",
            &status);
        EXPECT_EQ(status, 0);
        for (const auto& [key, value] : {std::pair<const char*, const char*>{"Cameras.0.VideoSize.cx", "160"},
                                         {"Cameras.0.VideoSize.cy", "120"},
                                         {"Cameras.0.FPS", "10"},
                                         {"Cameras.0.CamName", "Gate"},
                                         {"Cameras.0.MotionPreEventDelay", "500"},
                                         {"Cameras.0.MotionStopDelay", "500"}}) {
            Run(node, "doc set '" + document + "' " + key + " '" + value + "'", &status);
            EXPECT_EQ(status, 0) << key;
        }
        return document;
    }
    // Starts "tavrix ARGUMENTS" for the node, standard output and error into files of its folder.
    pid_t Start(const std::string& node, const std::string& arguments) {
        const pid_t child = fork();
        if (child == 0) {
            const std::string command = Environment(node) + "exec " + kTavrix + " " + arguments + " >'" +
                                        m_folder + "/" + node + "/out.txt' 2>'" + m_folder + "/" + node +
                                        "/err.txt'";
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        m_children.push_back(child);
        return child;
    }
    int Wait(pid_t child) {
        int status = 0;
        waitpid(child, &status, 0);
        std::erase(m_children, child);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output(const std::string& node, const char* file = "out.txt") const {
        std::ifstream in(m_folder + "/" + node + "/" + file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // A web admin "admin" in the node's user database.
    void AddWebUser(const std::string& node) {
        int status = -1;
        rectest::RunCommand("printf '%s\\n' '" + std::string(kWebPassword) + "' | " + Environment(node) + kTavrix +
                                " user add admin --admin >/dev/null 2>&1",
                            &status);
        EXPECT_EQ(status, 0);
    }
    // curl with the arguments given: the body, and the status in code (0: no answer).
    static std::string Curl(const std::string& arguments, int* code) {
        std::string out = rectest::RunCommand("curl -s -m 20 -w '\\n%{http_code}' " + arguments + " 2>/dev/null");
        const size_t last = out.rfind('\n');
        *code = last == std::string::npos ? 0 : std::atoi(out.c_str() + last + 1);
        return last == std::string::npos ? std::string() : out.substr(0, last);
    }
    // Logs in at the web interface; the cookie jar's file.
    std::string WebLogin(const std::string& node, const std::string& url) {
        const std::string jar = m_folder + "/" + node + "/cookies";
        int code = 0;
        Curl("-c '" + jar + "' -H 'Content-Type: application/json' -d '{\"user\":\"admin\",\"password\":\"" +
                 std::string(kWebPassword) + "\"}' " + url + "api/v1/session",
             &code);
        EXPECT_EQ(code, 200);
        return jar;
    }
    static constexpr const char* kWebPassword = "fleet-secret-1";
    bool WaitForOutput(const std::string& node, const std::string& text) {
        return WaitFor([&] { return Output(node).find(text) != std::string::npos; });
    }

    std::string m_folder;
    std::vector<pid_t> m_children;
};

TEST_F(MqttNodeTest, AMotionRunPublishesStatusStatesMotionEventsAndDiscoveryThatOutliveABrokerRestart) {
    CTestBroker broker(m_folder + "/broker", "alpha", "pa55-word");
    ASSERT_TRUE(broker.Start());
    CSubscriber subscriber(broker.Port(), {"tavrix/#", "homeassistant/#"}, "alpha", "pa55-word");
    ASSERT_TRUE(subscriber.WaitConnected());
    WriteSettings("alpha", "User=\"alpha\"\nPassword=\"pa55-word\"\nHomeAssistant=1\n");
    const std::string document = MotionDocument("alpha", "2000-3500");
    const pid_t node = Start("alpha", "--headless --activate --duration 9 --mqtt " + broker.HostPort() +
                                          " '" + document + "'");
    EXPECT_EQ(Wait(node), 0) << Output("alpha", "err.txt");
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/alpha/status", "offline"));

    const auto status = subscriber.Payloads("tavrix/alpha/status");
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.front(), "online");
    EXPECT_EQ(subscriber.Payloads("tavrix/alpha/Gate/motion"), (std::vector<std::string>{"ON", "OFF"}));
    const auto states = subscriber.Payloads("tavrix/alpha/Gate/state");
    EXPECT_NE(std::find(states.begin(), states.end(), "Recording"), states.end());
    EXPECT_EQ(states.back(), "Idle");
    const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)");
    EXPECT_TRUE(std::regex_match(subscriber.Last("tavrix/alpha/Gate/last_motion"), iso));

    std::vector<std::string> types;
    std::string recordFile;
    for (const std::string& payload : subscriber.Payloads("tavrix/alpha/events")) {
        const nlohmann::json event = nlohmann::json::parse(payload);
        types.push_back(event.at("type"));
        EXPECT_EQ(event.at("document"), "Yard");
        EXPECT_EQ(event.at("camera"), "Gate");
        EXPECT_EQ(event.at("node"), "alpha");
        EXPECT_TRUE(std::regex_match(event.at("time").get<std::string>(), iso)) << payload;
        if (event.at("type") == "Record Finish") {
            recordFile = event.at("recordFile");
        }
    }
    EXPECT_NE(std::find(types.begin(), types.end(), "Motion Start"), types.end());
    EXPECT_NE(std::find(types.begin(), types.end(), "Motion Stop"), types.end());
    ASSERT_FALSE(recordFile.empty());
    EXPECT_TRUE(std::filesystem::exists(recordFile)) << recordFile;

    const nlohmann::json motion =
        nlohmann::json::parse(subscriber.Last("homeassistant/binary_sensor/tavrix_alpha/Gate_motion/config"));
    EXPECT_EQ(motion.at("state_topic"), "tavrix/alpha/Gate/motion");
    EXPECT_EQ(motion.at("availability_topic"), "tavrix/alpha/status");
    EXPECT_EQ(motion.at("device_class"), "motion");
    EXPECT_EQ(motion.at("payload_on"), "ON");
    EXPECT_EQ(motion.at("unique_id"), "tavrix_alpha_Gate_motion");
    const nlohmann::json state =
        nlohmann::json::parse(subscriber.Last("homeassistant/sensor/tavrix_alpha/Gate_state/config"));
    EXPECT_EQ(state.at("state_topic"), "tavrix/alpha/Gate/state");
    EXPECT_EQ(state.at("device").at("identifiers"), motion.at("device").at("identifiers"));

    // The password never shows.
    EXPECT_EQ(Output("alpha").find("pa55-word"), std::string::npos);
    EXPECT_EQ(Output("alpha", "err.txt").find("pa55-word"), std::string::npos);

    // Retained across a restart of the broker.
    broker.Stop();
    ASSERT_TRUE(broker.Start());
    CSubscriber later(broker.Port(), {"tavrix/#"}, "alpha", "pa55-word");
    ASSERT_TRUE(later.WaitForPayload("tavrix/alpha/status", "offline"));
    ASSERT_TRUE(later.WaitForPayload("tavrix/alpha/Gate/state", "Idle"));
    ASSERT_TRUE(later.WaitForPayload("tavrix/alpha/Gate/motion", "OFF"));
    EXPECT_TRUE(later.Payloads("tavrix/alpha/events").empty());
}

TEST_F(MqttNodeTest, TheLastWillSaysOfflineWhenTavrixIsKilled) {
    CTestBroker broker(m_folder + "/broker");
    ASSERT_TRUE(broker.Start());
    CSubscriber subscriber(broker.Port(), {"tavrix/+/status"});
    ASSERT_TRUE(subscriber.WaitConnected());
    WriteSettings("beta", "");
    const std::string document = MotionDocument("beta", "100000-100100");
    const pid_t node =
        Start("beta", "--headless --activate --mqtt " + broker.HostPort() + " '" + document + "'");
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/beta/status", "online"));
    kill(node, SIGKILL);
    Wait(node);
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/beta/status", "offline"));
}

TEST_F(MqttNodeTest, ABrokerGoneMidRunBlocksNoCameraAndGetsTheQueuedEventsWhenBack) {
    CTestBroker broker(m_folder + "/broker");
    ASSERT_TRUE(broker.Start());
    // A persistent session: the broker keeps the subscription and the messages across its restart.
    CSubscriber subscriber(broker.Port(), {"tavrix/gamma/#"}, {}, {}, "test-persistent", false);
    ASSERT_TRUE(subscriber.WaitConnected());
    WriteSettings("gamma", "");
    const std::string document = MotionDocument("gamma", "6000-7000");
    const pid_t node = Start("gamma", "--headless --activate --duration 40 --mqtt " + broker.HostPort() +
                                          " '" + document + "'");
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/gamma/Gate/state", "Idle"));
    broker.Stop();
    ASSERT_TRUE(WaitForOutput("gamma", "is gone"));
    // The camera goes on: it records its motion while the broker is away.
    ASSERT_TRUE(WaitForOutput("gamma", "Finished recording"));
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(WaitForOutput("gamma", "is back:"));
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/gamma/Gate/motion", "OFF"));
    EXPECT_EQ(subscriber.Payloads("tavrix/gamma/Gate/motion"), (std::vector<std::string>{"ON", "OFF"}));
    ASSERT_TRUE(WaitFor([&] {
        for (const std::string& payload : subscriber.Payloads("tavrix/gamma/events")) {
            if (payload.find("\"Record Finish\"") != std::string::npos) {
                return true;
            }
        }
        return false;
    }));
    kill(node, SIGTERM);
    EXPECT_EQ(Wait(node), 0);
    EXPECT_NE(Output("gamma").find("Finished recording"), std::string::npos);
}

TEST_F(MqttNodeTest, RemoteActivateAndDeactivateAreObeyedOnlyWhenTheSettingsAllowThem) {
    CTestBroker broker(m_folder + "/broker");
    ASSERT_TRUE(broker.Start());
    CSubscriber subscriber(broker.Port(), {"tavrix/#"});
    ASSERT_TRUE(subscriber.WaitConnected());
    WriteSettings("allowed", "RemoteControl=1\n");
    WriteSettings("refused", "");
    const pid_t allowed = Start("allowed", "--headless --mqtt " + broker.HostPort() + " '" +
                                               MotionDocument("allowed", "100000-100100") + "'");
    const pid_t refused = Start("refused", "--headless --mqtt " + broker.HostPort() + " '" +
                                               MotionDocument("refused", "100000-100100") + "'");
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/allowed/Gate/state", "Inactive"));
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/refused/Gate/state", "Inactive"));

    subscriber.Client().Publish("tavrix/allowed/Gate/set", "activate", false);
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/allowed/Gate/state", "Idle"));
    subscriber.Client().Publish("tavrix/allowed/Gate/set", " DEACTIVATE\n", false);
    ASSERT_TRUE(WaitFor([&] { return subscriber.Last("tavrix/allowed/Gate/state") == "Inactive"; }));
    subscriber.Client().Publish("tavrix/allowed/Nobody/set", "activate", false);
    ASSERT_TRUE(WaitForOutput("allowed", "unknown camera 'Nobody'"));

    subscriber.Client().Publish("tavrix/refused/Gate/set", "activate", false);
    ASSERT_TRUE(WaitForOutput("refused", "MQTT command 'activate' refused: remote control is off"));
    EXPECT_EQ(subscriber.Last("tavrix/refused/Gate/state"), "Inactive");
    EXPECT_EQ(Output("refused").find("to 'Idle'"), std::string::npos);

    kill(allowed, SIGTERM);
    kill(refused, SIGTERM);
    EXPECT_EQ(Wait(allowed), 0);
    EXPECT_EQ(Wait(refused), 0);
}

TEST_F(MqttNodeTest, TwoNodesOnOneBrokerAreListedByFleetStatusAndTheirEventsByFleetWatch) {
    CTestBroker broker(m_folder + "/broker");
    ASSERT_TRUE(broker.Start());
    WriteSettings("north", "");
    WriteSettings("south", "");
    WriteSettings("desk", "");
    const std::string north = MotionDocument("north", "3000-4000");
    const std::string south = MotionDocument("south", "100000-100100");
    // The watcher first: it prints the events as they come.
    const pid_t watch = Start("desk", "fleet watch --mqtt " + broker.HostPort() + " --count 2 --timeout 120");
    CSubscriber subscriber(broker.Port(), {"tavrix/+/status"});
    ASSERT_TRUE(WaitFor([&] { return Output("desk", "err.txt").find("Connected") != std::string::npos; }))
        << Output("desk", "err.txt");
    const pid_t a =
        Start("north", "--headless --activate --duration 8 --mqtt " + broker.HostPort() + " '" + north + "'");
    const pid_t b =
        Start("south", "--headless --duration 8 --mqtt " + broker.HostPort() + " '" + south + "'");
    EXPECT_EQ(Wait(a), 0);
    EXPECT_EQ(Wait(b), 0);
    EXPECT_EQ(Wait(watch), 0);
    const std::string events = Output("desk");
    EXPECT_NE(events.find("\tnorth\tYard\tGate\t"), std::string::npos) << events;

    int status = -1;
    const std::string table = Run("desk", "fleet status --mqtt " + broker.HostPort(), &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(table.find("NODE\tSTATUS\tCAMERA\tSTATE\tMOTION\tLAST MOTION\n"), std::string::npos) << table;
    EXPECT_TRUE(std::regex_search(table, std::regex(R"(\nnorth\toffline\tGate\tIdle\tOFF\t\d{4}-)")))
        << table;
    EXPECT_TRUE(std::regex_search(table, std::regex(R"(\nsouth\toffline\tGate\tInactive\t-\t-\n)"))) << table;

    // A broker that is not there is an error, not an empty list.
    broker.Stop();
    Run("desk", "fleet status --timeout 2 --mqtt " + broker.HostPort(), &status);
    EXPECT_EQ(status, 1);
}

TEST_F(MqttNodeTest, TheWebInterfaceShowsEveryNodeWithALinkToItsPageAndTheWillOfOneThatDied) {
    CTestBroker broker(m_folder + "/broker");
    ASSERT_TRUE(broker.Start());
    CSubscriber subscriber(broker.Port(), {"tavrix/#"});
    ASSERT_TRUE(subscriber.WaitConnected());
    for (const char* node : {"alpha", "beta"}) {
        WriteSettings(node, "");
        AddWebUser(node);
    }
    const std::string alphaDocument = MotionDocument("alpha", "100000-100100");
    const std::string betaDocument = MotionDocument("beta", "4000-5000");
    const std::string alphaUrl = "http://127.0.0.1:" + std::to_string(mqtttest::FreePort()) + "/";
    const std::string betaUrl = "http://127.0.0.1:" + std::to_string(mqtttest::FreePort()) + "/";
    const auto listen = [](const std::string& url) { return url.substr(7, url.size() - 8); };
    const pid_t alpha = Start("alpha", "--headless --activate --mqtt " + broker.HostPort() + " --http " +
                                           listen(alphaUrl) + " '" + alphaDocument + "'");
    const pid_t beta = Start("beta", "--headless --activate --mqtt " + broker.HostPort() + " --http " +
                                         listen(betaUrl) + " '" + betaDocument + "'");
    int code = 0;
    ASSERT_TRUE(WaitFor([&] { return Curl(alphaUrl + "api/v1/openapi.json", &code), code == 200; }))
        << Output("alpha", "err.txt");

    // Nothing of the fleet without a login.
    const std::string anonymous = Curl(alphaUrl + "api/v1/fleet", &code);
    EXPECT_EQ(code, 401);
    EXPECT_EQ(anonymous.find("beta"), std::string::npos);

    const std::string jar = WebLogin("alpha", alphaUrl);
    nlohmann::json fleet;
    const auto node = [&](const std::string& name) {
        for (const nlohmann::json& entry : fleet["nodes"]) {
            if (entry["name"] == name) {
                return entry;
            }
        }
        return nlohmann::json();
    };
    const auto readFleet = [&] {
        fleet = nlohmann::json::parse(Curl("-b '" + jar + "' " + alphaUrl + "api/v1/fleet", &code), nullptr, false);
        return code == 200 && fleet.is_object();
    };
    ASSERT_TRUE(WaitFor([&] {
        return readFleet() && node("alpha")["online"] == true && node("beta")["online"] == true &&
               node("beta").contains("web") && node("alpha")["cameras"].size() == 1 &&
               node("beta")["cameras"].size() == 1 && node("beta")["cameras"][0]["state"] == "Idle";
    })) << fleet.dump(1);
    EXPECT_EQ(fleet["enabled"], true);
    EXPECT_EQ(fleet["connected"], true);
    EXPECT_EQ(fleet["node"], "alpha");
    EXPECT_EQ(node("alpha")["local"], true);
    EXPECT_EQ(node("alpha")["web"], "./") << "this node's own pages by a relative link";
    EXPECT_EQ(node("beta")["local"], false);
    EXPECT_EQ(node("beta")["web"], betaUrl);
    EXPECT_EQ(node("beta")["cameras"][0]["name"], "Gate");

    // Beta's motion reaches alpha's fleet, and its events point at beta's web interface.
    ASSERT_TRUE(WaitFor([&] { return readFleet() && node("beta")["cameras"][0]["lastMotion"] != ""; }))
        << fleet.dump(1);
    std::string snapshot;
    ASSERT_TRUE(WaitFor([&] {
        for (const std::string& payload : subscriber.Payloads("tavrix/beta/events")) {
            const nlohmann::json event = nlohmann::json::parse(payload, nullptr, false);
            if (event.is_object() && event.value("type", "") == "Motion Start") {
                EXPECT_EQ(event.value("web", ""), betaUrl);
                snapshot = event.value("snapshot", "");
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(snapshot, betaUrl + "api/v1/cameras/Yard/0/snapshot");
    // An event with a recording links to that recording on beta's recordings page.
    std::string recording;
    std::string recordFile;
    ASSERT_TRUE(WaitFor([&] {
        for (const std::string& payload : subscriber.Payloads("tavrix/beta/events")) {
            const nlohmann::json event = nlohmann::json::parse(payload, nullptr, false);
            if (event.is_object() && !event.value("recordFile", "").empty()) {
                recordFile = event.value("recordFile", "");
                recording = event.value("recording", "");
                return true;
            }
        }
        return false;
    }));
    const std::string recordingPage = betaUrl + "recordings.html?file=";
    ASSERT_EQ(recording.substr(0, recordingPage.size()), recordingPage) << recording;
    char* unescaped = g_uri_unescape_string(recording.c_str() + recordingPage.size(), nullptr);
    ASSERT_NE(unescaped, nullptr);
    EXPECT_EQ(std::string(unescaped), recordFile);
    g_free(unescaped);
    const std::string betaJar = WebLogin("beta", betaUrl);
    Curl("-b '" + betaJar + "' -o '" + m_folder + "/snapshot.jpg' " + snapshot, &code);
    EXPECT_EQ(code, 200) << "the snapshot URL of the event is beta's camera";

    // Beta dies without a goodbye: the broker's last will marks it offline in alpha's fleet.
    kill(beta, SIGKILL);
    Wait(beta);
    EXPECT_TRUE(WaitFor([&] { return readFleet() && node("beta")["online"] == false; })) << fleet.dump(1);
    EXPECT_EQ(node("beta")["status"], "offline");

    // A clean stop takes alpha's page off the broker before it says offline.
    kill(alpha, SIGTERM);
    EXPECT_EQ(Wait(alpha), 0);
    ASSERT_TRUE(subscriber.WaitForPayload("tavrix/alpha/status", "offline"));
    const auto pages = subscriber.Payloads("tavrix/alpha/web");
    ASSERT_GE(pages.size(), 2u);
    EXPECT_EQ(pages[pages.size() - 2], alphaUrl);
    EXPECT_EQ(pages.back(), "");
}

} // namespace
