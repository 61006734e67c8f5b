#include "mqtt/FleetView.h"

#include <unistd.h>

CFleetTable::CFleetTable(std::string prefix)
    : m_prefix(std::move(prefix)), m_prefixLevels(Levels(m_prefix).size()) {}

std::vector<std::string> CFleetTable::Levels(const std::string& topic) {
    std::vector<std::string> levels;
    size_t start = 0;
    for (;;) {
        const size_t slash = topic.find('/', start);
        levels.push_back(topic.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) {
            return levels;
        }
        start = slash + 1;
    }
}

std::vector<std::string> CFleetTable::Patterns() const {
    return {m_prefix + "/+/status", m_prefix + "/+/web", m_prefix + "/+/+/state", m_prefix + "/+/+/motion",
            m_prefix + "/+/+/last_motion"};
}

bool CFleetTable::Apply(const std::string& topic, const std::string& payload) {
    if (topic.compare(0, m_prefix.size() + 1, m_prefix + "/") != 0) {
        return false;
    }
    const std::vector<std::string> levels = Levels(topic);
    const size_t depth = levels.size() - m_prefixLevels;
    if (depth != 2 && depth != 3) {
        return false;
    }
    const std::string& leaf = levels.back();
    const bool nodeLeaf = depth == 2 && (leaf == "status" || leaf == "web");
    const bool cameraLeaf = depth == 3 && (leaf == "state" || leaf == "motion" || leaf == "last_motion");
    const std::string& nodeName = levels[m_prefixLevels];
    if ((!nodeLeaf && !cameraLeaf) || nodeName.empty()) {
        return false;
    }
    auto node = m_nodes.find(nodeName);
    if (node == m_nodes.end()) {
        if (payload.empty() || m_nodes.size() >= kMaxNodes) {
            return false;
        }
        node = m_nodes.emplace(nodeName, CFleetNode{}).first;
    }
    const std::string value = payload.substr(0, kMaxPayload);
    if (nodeLeaf) {
        (leaf == "status" ? node->second.status : node->second.web) = value;
        return true;
    }
    const std::string& cameraName = levels[m_prefixLevels + 1];
    auto& cameras = node->second.cameras;
    auto camera = cameras.find(cameraName);
    if (camera == cameras.end()) {
        if (payload.empty() || cameraName.empty() || cameras.size() >= kMaxCamerasPerNode) {
            return false;
        }
        camera = cameras.emplace(cameraName, CFleetCamera{}).first;
    }
    (leaf == "state" ? camera->second.state : leaf == "motion" ? camera->second.motion : camera->second.lastMotion) =
        value;
    return true;
}

CFleetView::CFleetView(const CMqttSettings& settings, CMqttClient::LogFn log)
    : m_settings(settings), m_table(settings.prefix) {
    CMqttClient::COptions options =
        settings.ClientOptions("tavrix-" + settings.nodeName + "-fleet-" + std::to_string(::getpid()));
    // Only listens: nothing to queue while the broker is gone.
    options.queueLimit = 1;
    m_client = std::make_unique<CMqttClient>(options, std::move(log));
    m_client->SetMessageHandler([this](const std::string& topic, const std::string& payload, bool) {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_table.Apply(topic, payload)) {
            ++m_version;
        }
    });
    for (const std::string& pattern : m_table.Patterns()) {
        m_client->Subscribe(pattern);
    }
}

CFleetView::~CFleetView() {
    Stop();
}

bool CFleetView::Start(std::string* error) {
    return m_client->Start(error);
}

void CFleetView::Stop() {
    m_client->Stop();
}

CFleetTable CFleetView::Snapshot(uint64_t* version) const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (version != nullptr) {
        *version = m_version;
    }
    return m_table;
}
