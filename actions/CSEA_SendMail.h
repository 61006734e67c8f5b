#pragma once
// The "Send Mail" event action (class id 2): sends one e-mail per event through the SMTP client, optionally
// with the recording attached. Property table and defaults are fixed here; Execute runs on the thread that
// raised the event and keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_SendMail : public CSEventAction {
public:
    static constexpr int32_t kClassId = 2;

    CSEA_SendMail();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Send Mail"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
