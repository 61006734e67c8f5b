// api/v1/fleet: every node on the MQTT broker with its cameras, and the link to each node's own
// web interface, from the server's fleet view.
#include "web/WebServerImpl.h"

namespace {

// Only a web address is passed on as a link: a node could publish anything ("javascript:…").
bool IsWebUrl(const std::string& url) {
    const auto starts = [&](const char* scheme) { return url.rfind(scheme, 0) == 0; };
    if (!starts("http://") && !starts("https://")) {
        return false;
    }
    for (const char c : url) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f || c == '"' || c == '<' || c == '>' || c == '\\') {
            return false;
        }
    }
    return true;
}

} // namespace

nlohmann::json WebFleetJson(const CFleetTable& table, const std::string& localNode, bool enabled,
                            bool connected, const std::string& broker) {
    nlohmann::json nodes = nlohmann::json::array();
    for (const auto& [name, node] : table.Nodes()) {
        nlohmann::json cameras = nlohmann::json::array();
        for (const auto& [cameraName, camera] : node.cameras) {
            cameras.push_back(nlohmann::json{{"name", cameraName},
                                             {"state", camera.state},
                                             {"motion", camera.motion == "ON"},
                                             {"lastMotion", camera.lastMotion}});
        }
        const bool local = name == localNode;
        nlohmann::json entry{{"name", name},
                             {"status", node.status},
                             {"online", node.status == "online"},
                             {"local", local},
                             {"cameras", cameras}};
        // The own pages by a relative link, as every link of the server; the others' as published.
        if (local) {
            entry["web"] = "./";
        } else if (IsWebUrl(node.web)) {
            entry["web"] = node.web;
        }
        nodes.push_back(entry);
    }
    nlohmann::json result{{"enabled", enabled}, {"connected", connected}, {"nodes", nodes}};
    if (enabled) {
        result["broker"] = broker;
        result["prefix"] = table.Prefix();
        result["node"] = localNode;
    }
    return result;
}

void CWebServer::CImpl::ListFleet(SoupServerMessage* msg) {
    if (!fleet) {
        Reply(msg, SOUP_STATUS_OK, WebFleetJson(CFleetTable(""), "", false, false, ""));
        return;
    }
    const CMqttSettings& settings = fleet->GetSettings();
    Reply(msg, SOUP_STATUS_OK,
          WebFleetJson(fleet->Snapshot(), settings.nodeName, true, fleet->IsConnected(), settings.BrokerText()));
}
