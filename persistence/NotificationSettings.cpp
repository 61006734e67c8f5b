#include "persistence/NotificationSettings.h"

#include "platform/Paths.h"

CNotificationSettings::CNotificationSettings() : m_userDbPath(DefaultUserDbPath()) {}

std::string CNotificationSettings::DefaultUserDbPath() {
    const std::string folder = platform::XdgDataHome() + "/Tavrix";
    platform::MakeDirs(folder);
    return folder + "/Tavrix.db";
}

void CNotificationSettings::Save(CRegAccessInterface& access) const {
    access.WriteDword("MaximumLogLength", static_cast<uint32_t>(m_maximumLogLength));
    access.WriteString("UserDbPath", m_userDbPath);
    access.WriteDword("UnattendedMode", m_unattendedMode ? 1 : 0);
}

void CNotificationSettings::Load(CRegAccessInterface& access) {
    uint32_t value = 0;
    access.ReadDword("MaximumLogLength", value);
    m_maximumLogLength = static_cast<int32_t>(value);
    access.ReadString("UserDbPath", m_userDbPath);
    access.ReadDword("UnattendedMode", value);
    m_unattendedMode = value != 0;
}
