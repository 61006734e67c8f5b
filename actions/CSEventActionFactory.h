#pragma once
// Creates event actions by class id (1 Play Sound, 2 Send Mail, 3 Send FTP, 4 Invoke Command,
// 5 Send Skype, 6 Webhook, 7 MQTT Publish, 8 S3 Upload), each with its default properties. One process-wide
// instance; any thread.

#include "actions/CSEventAction.h"

#include <cstdint>
#include <memory>

class CSEventActionFactory {
public:
    static CSEventActionFactory& Instance();

    // A new action with its defaults, or null for a class id outside 1..8.
    std::unique_ptr<CSEventAction> Create(int32_t classId) const;
    // A new action of the same class with a copy of both property maps (null for an unknown class).
    std::unique_ptr<CSEventAction> Clone(const CSEventAction& action) const;
    // The class ids in the order the chain editor offers them, ended by -1: 1, 2, 3, 5, 4, 6, 7, 8, -1.
    const int32_t* GetCreatableClasses() const;
    // The chain editor's command id for adding an action of a class.
    static constexpr int32_t kFirstCommandId = 25000;
};
