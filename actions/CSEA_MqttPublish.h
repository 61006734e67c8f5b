#pragma once
// The "MQTT Publish" event action (class id 7): publishes a message built from a topic template
// and a payload template (EventTemplate.h) with QoS 1 on the broker of the settings' "[MQTT]"
// group, through the node's own connection; while the broker is gone the message waits in its
// queue. Without a configured broker the action fails with a log line.
//
// Execute runs on the thread that runs the event's chain and never waits for the network.

#include "actions/CSEventAction.h"

class CSEA_MqttPublish : public CSEventAction {
public:
    static constexpr int32_t kClassId = 7;

    CSEA_MqttPublish();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "MQTT Publish"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
