#pragma once
// Base of a settings group: one group of the settings file (a registry subkey on the platform the
// settings come from), loaded and saved as a whole by CConfigMgrImpl through CRegAccessInterface.
// Groups are plain values, copied freely.

#include "persistence/RegAccessInterface.h"

#include <string>

class CSettings {
public:
    virtual ~CSettings() = default;
    // The group's name in the settings file ("NotificationSettings", "MiscSettings").
    virtual std::string GetName() const = 0;
    virtual void Save(CRegAccessInterface& access) const = 0;
    virtual void Load(CRegAccessInterface& access) = 0;
};
