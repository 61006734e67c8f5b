#include "actions/EventTemplate.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "mqtt/MqttNode.h"

#include <nlohmann/json.hpp>

#include <utility>
#include <vector>

namespace EventTemplate {

std::string JsonEscaped(const std::string& text) {
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return quoted.substr(1, quoted.size() - 2);
}

std::string Expand(const CEventActionContext& context, const CSEventRecord& record, const std::string& text) {
    const std::string expanded = context.Expand(text);
    if (expanded.find("{{") == std::string::npos) {
        return expanded;
    }
    const std::string time = CMqttNode::IsoTime(record.time * 1000);
    nlohmann::json event;
    event["type"] = record.GetEventName();
    event["kind"] = record.kind;
    event["document"] = context.GetDocumentTitle();
    event["camera"] = context.GetCameraName();
    event["cameraId"] = record.cameraId;
    event["time"] = time;
    event["recordFile"] = record.fileName;
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"{{event}}", JsonEscaped(record.GetEventName())},
        {"{{kind}}", std::to_string(record.kind)},
        {"{{document}}", JsonEscaped(context.GetDocumentTitle())},
        {"{{camera}}", JsonEscaped(context.GetCameraName())},
        {"{{file}}", JsonEscaped(record.fileName)},
        {"{{time}}", JsonEscaped(time)},
        {"{{json}}", event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)},
    };
    std::string result;
    size_t pos = 0;
    while (pos < expanded.size()) {
        bool replaced = false;
        if (expanded.compare(pos, 2, "{{") == 0) {
            for (const auto& [name, value] : fields) {
                if (expanded.compare(pos, name.size(), name) == 0) {
                    result += value;
                    pos += name.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            result += expanded[pos++];
        }
    }
    return result;
}

} // namespace EventTemplate
