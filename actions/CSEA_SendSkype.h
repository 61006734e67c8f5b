#pragma once
// The "Send Skype" event action (class id 5): sends a chat message to one contact through the chat client.
// Property table and defaults are fixed here; Execute runs on the thread that runs the chain and
// keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_SendSkype : public CSEventAction {
public:
    static constexpr int32_t kClassId = 5;

    CSEA_SendSkype();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Send Skype"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
