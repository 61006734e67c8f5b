#pragma once
// The "Invoke Command" event action (class id 4): starts a program with parameters expanded from the event.
// Property table and defaults are fixed here; Execute runs on the thread that runs the chain and
// keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_InvokeCommand : public CSEventAction {
public:
    static constexpr int32_t kClassId = 4;

    CSEA_InvokeCommand();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Invoke Command"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
