#include "mqtt/MqttNode.h"

#include "actions/CSEventRecord.h"
#include "camera/CamViewStateMgr.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

#include <nlohmann/json.hpp>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>

namespace {

std::mutex s_currentLock; // guards s_current; held while the publish action uses the node
CMqttNode* s_current = nullptr;

constexpr const char* kDiscoveryPrefix = "homeassistant";

// Home Assistant's ids take letters, digits, '_' and '-'.
std::string DiscoveryId(const std::string& text) {
    std::string id;
    for (const char c : text) {
        id += (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-') ? c : '_';
    }
    return id;
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    std::string result = text.substr(first, last - first + 1);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

// One path segment of a URL, percent-encoded (RFC 3986 unreserved characters stay).
std::string UrlSegment(const std::string& text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string segment;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            segment += c;
        } else {
            segment += '%';
            segment += kHex[u >> 4];
            segment += kHex[u & 15];
        }
    }
    return segment;
}

} // namespace

CMqttNode::CMqttNode(CMqttSettings settings, LogFn log)
    : m_settings(std::move(settings)), m_log(std::move(log)) {
    CMqttClient::COptions options =
        m_settings.ClientOptions("tavrix-" + m_settings.nodeName + "-" + std::to_string(::getpid()));
    options.willTopic = NodeTopic("status");
    options.willPayload = "offline";
    m_client = std::make_unique<CMqttClient>(
        options, [this](const std::string& text, bool error) { Log("", "", text, error); });
    m_client->SetConnectHandler([this] { Announce(); });
    m_client->SetMessageHandler([this](const std::string& topic, const std::string& payload, bool retained) {
        OnMessage(topic, payload, retained);
    });
    m_client->Subscribe(m_settings.prefix + "/" + m_settings.nodeName + "/+/set");
}

CMqttNode::~CMqttNode() {
    Stop();
}

void CMqttNode::Log(const std::string& document, const std::string& camera, const std::string& text,
                    bool error) const {
    if (m_log) {
        m_log(document, camera, text, error);
    }
}

std::string CMqttNode::NodeTopic(const std::string& leaf) const {
    return m_settings.prefix + "/" + m_settings.nodeName + "/" + leaf;
}

std::string CMqttNode::CameraTopic(const std::string& cameraName, const std::string& leaf) const {
    return m_settings.prefix + "/" + m_settings.nodeName + "/" + CMqttSettings::TopicLevel(cameraName) + "/" +
           leaf;
}

bool CMqttNode::Start(std::string* error) {
    if (m_started) {
        return true;
    }
    // The hub first, so that no state change between the connection and the subscription is lost:
    // whatever arrives before the connection waits in the client's queue.
    CCameraHub::Instance().Subscribe(this);
    if (!m_client->Start(error)) {
        CCameraHub::Instance().Unsubscribe(this);
        return false;
    }
    m_started = true;
    std::lock_guard<std::mutex> lock(s_currentLock);
    s_current = this;
    return true;
}

void CMqttNode::Stop() {
    if (!m_started || m_stopped) {
        return;
    }
    m_stopped = true;
    {
        std::lock_guard<std::mutex> lock(s_currentLock);
        if (s_current == this) {
            s_current = nullptr;
        }
    }
    CCameraHub::Instance().Unsubscribe(this);
    m_client->Stop(NodeTopic("status"), "offline");
}

std::unique_ptr<CMqttNode> CMqttNode::StartFromSettings(const std::string& hostOverride) {
    CMqttSettings settings = CMqttSettings::LoadDefault();
    if (!hostOverride.empty()) {
        const auto hostPort = CMqttSettings::ParseHostPort(hostOverride);
        if (!hostPort) {
            CNotificationLog::Instance().AddErrorEntry(
                "", "", "The MQTT broker '" + hostOverride + "' is no HOST or HOST:PORT; MQTT is off");
            return nullptr;
        }
        settings.Override(*hostPort);
    }
    if (!settings.Enabled()) {
        return nullptr;
    }
    auto node =
        std::make_unique<CMqttNode>(settings, [](const std::string& document, const std::string& camera,
                                                 const std::string& text, bool error) {
            if (error) {
                CNotificationLog::Instance().AddErrorEntry(document, camera, text);
            } else {
                CNotificationLog::Instance().AddEntry(document, camera, text);
            }
        });
    std::string error;
    if (!node->Start(&error)) {
        CNotificationLog::Instance().AddErrorEntry("", "", "MQTT is off: " + error);
        return nullptr;
    }
    CNotificationLog::Instance().AddEntry("", "",
                                          "MQTT node '" + settings.nodeName + "' publishes to " +
                                              settings.BrokerText() + " under '" + settings.prefix + "/'");
    return node;
}

void CMqttNode::WithCurrent(const std::function<void(CMqttNode*)>& fn) {
    std::lock_guard<std::mutex> lock(s_currentLock);
    fn(s_current);
}

std::string CMqttNode::IsoTime(int64_t unixTimeMs) {
    const time_t seconds = static_cast<time_t>(unixTimeMs / 1000);
    const int millis = static_cast<int>(unixTimeMs % 1000);
    tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char tail[40];
    std::snprintf(tail, sizeof tail, ".%03d%c%02ld:%02ld", millis, offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return std::string(stamp) + tail;
}

std::string CMqttNode::EventJson(const CCameraEventNote& note, const std::string& node,
                                 const std::string& webUrl) {
    nlohmann::json event;
    event["node"] = node;
    event["type"] = note.eventName;
    event["kind"] = note.kind;
    event["document"] = note.documentName;
    event["camera"] = note.cameraName;
    event["cameraId"] = note.cameraId;
    event["time"] = IsoTime(note.unixTimeMs);
    event["recordFile"] = note.recordFile;
    if (!webUrl.empty()) {
        event["web"] = webUrl;
        event["snapshot"] = webUrl + "api/v1/cameras/" + UrlSegment(note.documentName) + "/" +
                            std::to_string(note.cameraId) + "/snapshot";
        if (!note.recordFile.empty()) {
            event["recording"] = webUrl + "recordings.html?file=" + UrlSegment(note.recordFile);
        }
    }
    // Names from documents may hold any bytes: never let them make the JSON invalid.
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::pair<std::string, std::string>>
CMqttNode::DiscoveryMessages(const std::string& cameraName) const {
    const std::string level = CMqttSettings::TopicLevel(cameraName);
    const std::string objectBase = DiscoveryId(m_settings.nodeName + "_" + level);
    const std::string nodeId = DiscoveryId("tavrix_" + m_settings.nodeName);
    nlohmann::json device;
    device["identifiers"] = nlohmann::json::array({"tavrix_" + objectBase});
    device["name"] = cameraName + " (" + m_settings.nodeName + ")";
    device["manufacturer"] = "Tavrix";
    device["model"] = "Tavrix camera";
    const auto common = [&](const std::string& name, const std::string& uniqueSuffix,
                            const std::string& leaf) {
        nlohmann::json config;
        config["name"] = name;
        config["unique_id"] = "tavrix_" + objectBase + "_" + uniqueSuffix;
        config["state_topic"] = CameraTopic(cameraName, leaf);
        config["availability_topic"] = NodeTopic("status");
        config["payload_available"] = "online";
        config["payload_not_available"] = "offline";
        config["qos"] = 1;
        config["device"] = device;
        return config;
    };
    nlohmann::json motion = common(cameraName + " motion", "motion", "motion");
    motion["device_class"] = "motion";
    motion["payload_on"] = "ON";
    motion["payload_off"] = "OFF";
    nlohmann::json state = common(cameraName + " state", "state", "state");
    state["icon"] = "mdi:cctv";
    const auto dump = [](const nlohmann::json& json) {
        return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    };
    return {{std::string(kDiscoveryPrefix) + "/binary_sensor/" + nodeId + "/" + DiscoveryId(level) +
                 "_motion/config",
             dump(motion)},
            {std::string(kDiscoveryPrefix) + "/sensor/" + nodeId + "/" + DiscoveryId(level) + "_state/config",
             dump(state)}};
}

void CMqttNode::AnnounceCamera(const std::string& cameraName) {
    if (!m_settings.homeAssistant) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_announced.insert(cameraName).second) {
            return;
        }
    }
    for (const auto& [topic, payload] : DiscoveryMessages(cameraName)) {
        m_client->Publish(topic, payload, true);
    }
}

void CMqttNode::Announce() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_announced.clear();
    }
    m_client->Publish(NodeTopic("status"), "online", true);
    {
        // Also when there is none: an empty retained message deletes what an earlier run left.
        // Under the lock, so that a URL set meanwhile is never overtaken by an older one.
        std::lock_guard<std::mutex> lock(m_lock);
        m_client->Publish(NodeTopic("web"), m_webUrl, true);
    }
    struct CSeen {
        std::string name;
        std::string state;
    };
    std::vector<CSeen> cameras;
    CCameraHub::Instance().ForEachCamera([&](ICameraControl& camera) {
        cameras.push_back({camera.GetCameraName(), CCamViewStateMgr::GetStateName(camera.GetState())});
    });
    for (const CSeen& camera : cameras) {
        AnnounceCamera(camera.name);
        m_client->Publish(CameraTopic(camera.name, "state"), camera.state, true);
    }
}

void CMqttNode::OnCameraState(const CCameraStateNote& note) {
    AnnounceCamera(note.cameraName);
    m_client->Publish(CameraTopic(note.cameraName, "state"), note.stateName, true);
    // A camera switched off in the middle of a motion never tells its end.
    if (note.newState == CCamViewStateMgr::kInactive || note.newState == CCamViewStateMgr::kUnavailable) {
        bool wasOn = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            wasOn = m_motionOn.erase(note.cameraName) > 0;
        }
        if (wasOn) {
            m_client->Publish(CameraTopic(note.cameraName, "motion"), "OFF", true);
        }
    }
}

void CMqttNode::OnCameraEvent(const CCameraEventNote& note) {
    if (note.kind == EventKind::MotionStart || note.kind == EventKind::MotionStop) {
        const bool on = note.kind == EventKind::MotionStart;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (on) {
                m_motionOn.insert(note.cameraName);
            } else {
                m_motionOn.erase(note.cameraName);
            }
        }
        m_client->Publish(CameraTopic(note.cameraName, "motion"), on ? "ON" : "OFF", true);
        if (on) {
            m_client->Publish(CameraTopic(note.cameraName, "last_motion"), IsoTime(note.unixTimeMs), true);
        }
    }
    m_client->Publish(NodeTopic("events"), EventJson(note, m_settings.nodeName, GetWebUrl()), false);
}

void CMqttNode::SetWebUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_webUrl != url) {
        m_webUrl = url;
        m_client->Publish(NodeTopic("web"), url, true);
    }
}

void CMqttNode::ClearWebUrl(const std::string& url) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!url.empty() && m_webUrl == url) {
        m_webUrl.clear();
        m_client->Publish(NodeTopic("web"), {}, true);
    }
}

std::string CMqttNode::GetWebUrl() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_webUrl;
}

void CMqttNode::OnMessage(const std::string& topic, const std::string& payload, bool retained) {
    const std::string head = m_settings.prefix + "/" + m_settings.nodeName + "/";
    const std::string tail = "/set";
    if (topic.size() <= head.size() + tail.size() || topic.compare(0, head.size(), head) != 0 ||
        topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0) {
        return;
    }
    if (retained) {
        // A command kept by the broker would be repeated at every connection.
        TRACE("CMqttNode::OnMessage() retained command on '%s' ignored", topic.c_str());
        return;
    }
    OnSetCommand(topic.substr(head.size(), topic.size() - head.size() - tail.size()), payload);
}

void CMqttNode::OnSetCommand(const std::string& cameraLevel, const std::string& payload) {
    const std::string command = Trimmed(payload.substr(0, 64));
    struct CTarget {
        std::string document;
        std::string documentPath;
        std::string camera;
        int32_t id = -1;
    };
    std::vector<CTarget> targets;
    CCameraHub::Instance().ForEachCamera([&](ICameraControl& camera) {
        const std::string name = camera.GetCameraName();
        if (CMqttSettings::TopicLevel(name) == cameraLevel) {
            targets.push_back(
                {camera.GetDocumentName(), camera.GetDocumentPath(), name, camera.GetCameraId()});
        }
    });
    if (targets.empty()) {
        Log("", "", "MQTT command for the unknown camera '" + cameraLevel + "' ignored", false);
        return;
    }
    for (const CTarget& target : targets) {
        if (command != "activate" && command != "deactivate") {
            Log(target.document, target.camera,
                "MQTT command ignored: only 'activate' and 'deactivate' are understood", false);
            continue;
        }
        if (!m_settings.remoteControl) {
            Log(target.document, target.camera,
                "MQTT command '" + command + "' refused: remote control is off in the settings", false);
            continue;
        }
        Log(target.document, target.camera, "MQTT command '" + command + "' received", false);
        const bool activate = command == "activate";
        const std::string key = target.documentPath.empty() ? target.document : target.documentPath;
        CCameraHub::RunOnUiThread([key, id = target.id, activate] {
            CCameraHub::Instance().WithCamera(key, id, [activate](ICameraControl& camera) {
                if (activate && !camera.IsActivated()) {
                    camera.Activate();
                } else if (!activate && camera.IsActivated()) {
                    camera.Deactivate();
                }
            });
        });
    }
}
