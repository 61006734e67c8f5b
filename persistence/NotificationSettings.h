#pragma once
// Settings group "NotificationSettings": the notification log's capacity, the user database's path
// and unattended mode (reported exceptions are logged, never shown in a dialog).
//
// A plain value: the settings manager hands out copies to any thread.

#include "persistence/Settings.h"

#include <cstdint>
#include <string>

class CNotificationSettings : public CSettings {
public:
    static constexpr int32_t kDefaultMaximumLogLength = 1000;

    // Defaults; the default user database path is $XDG_DATA_HOME/Tavrix/Tavrix.db (its folder is
    // created).
    CNotificationSettings();

    std::string GetName() const override { return "NotificationSettings"; }
    // Order: "MaximumLogLength", "UserDbPath", "UnattendedMode".
    void Save(CRegAccessInterface& access) const override;
    void Load(CRegAccessInterface& access) override;

    int32_t GetMaximumLogLength() const { return m_maximumLogLength; }
    void SetMaximumLogLength(int32_t length) { m_maximumLogLength = length; }
    const std::string& GetUserDbPath() const { return m_userDbPath; }
    void SetUserDbPath(const std::string& path) { m_userDbPath = path; }
    bool GetUnattendedMode() const { return m_unattendedMode; }
    void SetUnattendedMode(bool unattended) { m_unattendedMode = unattended; }

    static std::string DefaultUserDbPath();

private:
    int32_t m_maximumLogLength = kDefaultMaximumLogLength;
    std::string m_userDbPath;
    bool m_unattendedMode = false;
};
