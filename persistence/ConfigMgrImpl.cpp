#include "persistence/ConfigMgrImpl.h"

#include "foundation/Tracer.h"

#include <cstdio>
#include <vector>

CConfigMgrImpl& CConfigMgrImpl::Instance() {
    static CConfigMgrImpl instance;
    return instance;
}

CConfigMgrImpl::CConfigMgrImpl(std::string settingsPath) : m_settingsPath(std::move(settingsPath)) {}

void CConfigMgrImpl::LoadAll() {
    TRACE("CConfigMgrImpl::LoadAll() entered");
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        TRACE("CConfigMgrImpl::LoadAll() the settings file '%s' cannot be read, defaults used",
              m_settingsPath.c_str());
    }
    CNotificationSettings notification = GetNotificationSettings();
    CMiscSettings misc = GetMiscSettings();
    const std::vector<CSettings*> groups = {&notification, &misc};

    m_file = &file;
    for (CSettings* group : groups) {
        m_currentGroup = group->GetName();
        if (file.HasGroup(m_currentGroup)) {
            group->Load(*this);
        }
    }
    m_file = nullptr;
    if (!file.HasGroup(misc.GetName())) {
        // A first start has no group yet; the presence of lock notifications is still worth knowing.
        misc.ProbeLockNotification();
    }

    std::lock_guard<std::mutex> lock(m_lock);
    m_notificationSettings = notification;
    m_miscSettings = misc;
    TRACE("CConfigMgrImpl::LoadAll() finished");
}

void CConfigMgrImpl::SaveAll() {
    TRACE("CConfigMgrImpl::SaveAll() entered");
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        // The file exists but cannot be parsed: keep it aside instead of overwriting what may be
        // the user's hand-edited settings.
        const std::string aside = m_settingsPath + ".bad";
        const int moved = std::rename(m_settingsPath.c_str(), aside.c_str());
        TRACE("CConfigMgrImpl::SaveAll() unreadable settings file moved to '%s' (%d)", aside.c_str(), moved);
    }
    const CNotificationSettings notification = GetNotificationSettings();
    const CMiscSettings misc = GetMiscSettings();
    const std::vector<const CSettings*> groups = {&notification, &misc};

    m_file = &file;
    for (const CSettings* group : groups) {
        m_currentGroup = group->GetName();
        file.CreateGroup(m_currentGroup);
        group->Save(*this);
    }
    m_file = nullptr;
    if (!file.Save()) {
        TRACE("CConfigMgrImpl::SaveAll() the settings file '%s' cannot be written", m_settingsPath.c_str());
    }
    TRACE("CConfigMgrImpl::SaveAll() finished");
}

CNotificationSettings CConfigMgrImpl::GetNotificationSettings() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_notificationSettings;
}

void CConfigMgrImpl::SetNotificationSettings(const CNotificationSettings& settings) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_notificationSettings = settings;
}

CMiscSettings CConfigMgrImpl::GetMiscSettings() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_miscSettings;
}

void CConfigMgrImpl::SetMiscSettings(const CMiscSettings& settings) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_miscSettings = settings;
}

void CConfigMgrImpl::WriteDword(const std::string& name, uint32_t value) {
    if (m_file) {
        m_file->WriteDword(m_currentGroup, name, value);
    }
}

void CConfigMgrImpl::WriteString(const std::string& name, const std::string& text) {
    if (m_file) {
        m_file->WriteString(m_currentGroup, name, text);
    }
}

void CConfigMgrImpl::ReadDword(const std::string& name, uint32_t& value) {
    value = 0;
    if (m_file) {
        value = m_file->ReadDword(m_currentGroup, name).value_or(0);
    }
}

void CConfigMgrImpl::ReadString(const std::string& name, std::string& text) {
    if (!m_file) {
        return;
    }
    if (auto stored = m_file->ReadString(m_currentGroup, name)) {
        text = *stored;
    }
}
