#pragma once
// The per-user preferences: one process-wide manager that loads every settings group from the
// settings file at start-up ($XDG_CONFIG_HOME/Kestrova/Tavrix.conf, one group per settings group),
// hands out copies, takes changed copies back and writes every group at exit. It is also the value
// access through which the groups read and write, on the group being processed.
//
// LoadAll and SaveAll run on the user interface thread; the getters and setters may be called from
// any thread (a chain thread reporting an exception reads the notification settings).

#include "persistence/MiscSettings.h"
#include "persistence/NotificationSettings.h"
#include "persistence/RegAccessInterface.h"

#include "platform/SettingsFile.h"

#include <mutex>
#include <string>
#include <vector>

class CConfigMgrImpl : public CRegAccessInterface {
public:
    // The process-wide instance on the default settings file, created on first use.
    static CConfigMgrImpl& Instance();

    explicit CConfigMgrImpl(std::string settingsPath = platform::CSettingsFile::DefaultPath());

    // Reads every group; a group missing from the file keeps its defaults, a value missing inside
    // an existing group reads as 0 (DWORD) or keeps the default (string). A file that cannot be read
    // is moved aside to "<file>.bad" (never overwritten) and the defaults are used. Each value that
    // is present but unreadable in its kind, or out of range ("MaximumLogLength" below 1), is reset
    // to its default; the move and each reset value get one notification log line.
    void LoadAll();
    // Writes every group with all its values. Other groups of the file (the tracer's "Tavrix", the
    // shell's recent files) are kept; a file damaged since LoadAll is moved aside first (and
    // logged). Write failures are traced, not reported.
    void SaveAll();

    CNotificationSettings GetNotificationSettings() const;
    void SetNotificationSettings(const CNotificationSettings& settings);
    CMiscSettings GetMiscSettings() const;
    void SetMiscSettings(const CMiscSettings& settings);

    const std::string& GetSettingsPath() const { return m_settingsPath; }

    // CRegAccessInterface, on the group being loaded or saved.
    void WriteDword(const std::string& name, uint32_t value) override;
    void WriteString(const std::string& name, const std::string& text) override;
    void ReadDword(const std::string& name, uint32_t& value) override;
    void ReadString(const std::string& name, std::string& text) override;

private:
    const std::string m_settingsPath;

    mutable std::mutex m_lock; // guards the two groups; never held while the file is read or written
    CNotificationSettings m_notificationSettings;
    CMiscSettings m_miscSettings;

    // Moves the unreadable file to "<file>.bad"; returns the log line saying so.
    std::string MoveAside() const;
    std::string ProblemText(const std::string& group, const std::string& name, const std::string& value,
                            const std::string& reason) const;
    void NoteWrongForm(const std::string& name, const char* reason);

    // Only during LoadAll/SaveAll, on the calling thread.
    platform::CSettingsFile* m_file = nullptr;
    std::string m_currentGroup;
    std::vector<std::string>* m_problems = nullptr; // LoadAll's lines to log
};
