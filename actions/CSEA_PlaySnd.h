#pragma once
// The "Play Sound" event action (class id 1): plays a sound file, asynchronously.
// Property table and defaults are fixed here; Execute runs on the thread that runs the chain and
// keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_PlaySnd : public CSEventAction {
public:
    static constexpr int32_t kClassId = 1;

    CSEA_PlaySnd();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Play Sound"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
