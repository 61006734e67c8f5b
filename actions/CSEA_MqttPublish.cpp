#include "actions/CSEA_MqttPublish.h"

#include "actions/CSEventRecord.h"
#include "actions/EventActionContext.h"
#include "actions/EventTemplate.h"
#include "mqtt/MqttNode.h"

namespace {
const std::string kPrefix = "MQTT Publish Event Action: ";
const CSEAPropertyRow kProperties[] = {
    {"MqttTopic", "Topic", SEAPropertyType::Text},
    {"MqttPayload", "Payload", SEAPropertyType::Text},
    {"MqttRetain", "Retain the message", SEAPropertyType::Bool},
    {nullptr, nullptr, 0},
};
} // namespace

CSEA_MqttPublish::CSEA_MqttPublish() {
    SetStringProp("MqttTopic", "tavrix/actions/%o/%n");
    SetStringProp("MqttPayload", "{{json}}");
    SetBoolProp("MqttRetain", false);
}

const CSEAPropertyRow* CSEA_MqttPublish::GetPropertyTable() const {
    return kProperties;
}

bool CSEA_MqttPublish::Execute(const CSEventRecord& record) {
    const CEventActionContext context(record);
    std::string topic = context.Expand(GetStringProp("MqttTopic"));
    if (topic.empty() || topic.find_first_of("+#") != std::string::npos || topic.size() > 65535) {
        context.LogError(kPrefix + "the topic '" + topic + "' cannot be published to");
        return false;
    }
    const std::string payload = EventTemplate::Expand(context, record, GetStringProp("MqttPayload"));
    bool published = false;
    CMqttNode::WithCurrent([&](CMqttNode* node) {
        if (node != nullptr) {
            node->GetClient().Publish(topic, payload, GetBoolProp("MqttRetain"));
            published = true;
        }
    });
    if (!published) {
        context.LogError(kPrefix + "no MQTT broker is configured (settings group [MQTT])");
        return false;
    }
    context.Log(kPrefix + "published to '" + topic + "'");
    return true;
}
