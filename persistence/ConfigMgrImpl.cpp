#include "persistence/ConfigMgrImpl.h"

#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

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
    std::vector<std::string> problems;
    if (!file.Load()) {
        TRACE("CConfigMgrImpl::LoadAll() the settings file '%s' cannot be read, defaults used",
              m_settingsPath.c_str());
        problems.push_back(MoveAside());
    }
    CNotificationSettings notification = GetNotificationSettings();
    CMiscSettings misc = GetMiscSettings();
    const std::vector<CSettings*> groups = {&notification, &misc};

    m_file = &file;
    m_problems = &problems;
    for (CSettings* group : groups) {
        m_currentGroup = group->GetName();
        if (file.HasGroup(m_currentGroup)) {
            group->Load(*this);
        }
    }
    m_problems = nullptr;
    m_file = nullptr;
    // The log needs a capacity of at least 1; a number below is replaced by the default.
    const auto logLength = file.ReadDword(notification.GetName(), "MaximumLogLength");
    if (logLength && notification.GetMaximumLogLength() <= 0) {
        problems.push_back(ProblemText(notification.GetName(), "MaximumLogLength",
                                       std::to_string(notification.GetMaximumLogLength()), "out of range"));
    }
    if (!file.HasGroup(misc.GetName())) {
        // A first start has no group yet; the presence of lock notifications is still worth knowing.
        misc.ProbeLockNotification();
    }

    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_notificationSettings = notification;
        m_miscSettings = misc;
    }
    for (const std::string& problem : problems) {
        CNotificationLog::Instance().AddEntry("", "", problem);
    }
    TRACE("CConfigMgrImpl::LoadAll() finished");
}

std::string CConfigMgrImpl::MoveAside() const {
    // Kept aside instead of being overwritten at exit: it may hold the user's hand-edited settings.
    const std::string aside = m_settingsPath + ".bad";
    if (std::rename(m_settingsPath.c_str(), aside.c_str()) == 0) {
        TRACE("CConfigMgrImpl::MoveAside() unreadable settings file moved to '%s'", aside.c_str());
        return "The settings file '" + m_settingsPath + "' could not be read; it was moved to '" + aside +
               "' and the default settings are used.";
    }
    TRACE("CConfigMgrImpl::MoveAside() unable to move '%s' aside", m_settingsPath.c_str());
    return "The settings file '" + m_settingsPath + "' could not be read, nor moved to '" + aside +
           "'; the default settings are used.";
}

std::string CConfigMgrImpl::ProblemText(const std::string& group, const std::string& name,
                                        const std::string& value, const std::string& reason) const {
    return "The setting '" + name + "' in [" + group + "] of '" + m_settingsPath + "' is " + value + ", " +
           reason + "; the default is used instead.";
}

void CConfigMgrImpl::SaveAll() {
    TRACE("CConfigMgrImpl::SaveAll() entered");
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        // Damaged since the start (or it could not be moved then): kept aside as well.
        CNotificationLog::Instance().AddEntry("", "", MoveAside());
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
    if (!m_file) {
        return;
    }
    if (const auto stored = m_file->ReadDword(m_currentGroup, name)) {
        value = *stored;
    } else {
        NoteWrongForm(name, "not a number");
    }
}

void CConfigMgrImpl::ReadString(const std::string& name, std::string& text) {
    if (!m_file) {
        return;
    }
    if (auto stored = m_file->ReadString(m_currentGroup, name)) {
        text = *stored;
    } else {
        NoteWrongForm(name, "not a text in double quotes");
    }
}

void CConfigMgrImpl::NoteWrongForm(const std::string& name, const char* reason) {
    // A missing value is no problem (it reads as 0 or keeps the default, as always); a value that is
    // there but unreadable in its kind is worth a line.
    const auto raw = m_file->ReadRaw(m_currentGroup, name);
    if (raw && m_problems) {
        m_problems->push_back(ProblemText(m_currentGroup, name, "'" + *raw + "'", reason));
    }
}
