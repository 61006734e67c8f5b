#pragma once
// The "Send FTP" event action (class id 3): uploads the event's recording to an FTP server under names built
// from templates. Property table and defaults are fixed here; Execute runs on the thread that raised the
// event and keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_SendFTP : public CSEventAction {
public:
    static constexpr int32_t kClassId = 3;

    CSEA_SendFTP();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Send FTP"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;
};
