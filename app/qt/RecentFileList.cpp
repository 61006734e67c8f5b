#include "app/qt/RecentFileList.h"

#include "foundation/Tracer.h"
#include "platform/SettingsFile.h"

#include <QFileInfo>

CRecentFileList::CRecentFileList(std::string settingsPath) : m_settingsPath(std::move(settingsPath)) {}

void CRecentFileList::Load() {
    m_files.clear();
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        return;
    }
    for (int i = 1; i <= kSize; ++i) {
        const auto value = file.ReadString(kGroup, "File" + std::to_string(i));
        if (value && !value->empty() && !m_files.contains(QString::fromStdString(*value))) {
            m_files << QString::fromStdString(*value);
        }
    }
}

bool CRecentFileList::Save() const {
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        TRACE("CRecentFileList::Save() the settings file '%s' cannot be read: list not written",
              m_settingsPath.c_str());
        return false; // never overwrite a file that could not be read
    }
    file.CreateGroup(kGroup);
    for (int i = 1; i <= kSize; ++i) {
        const std::string name = "File" + std::to_string(i);
        if (i <= m_files.size()) {
            file.WriteString(kGroup, name, m_files[i - 1].toStdString());
        } else {
            file.RemoveValue(kGroup, name);
        }
    }
    return file.Save();
}

void CRecentFileList::Add(const QString& path) {
    if (path.isEmpty()) {
        return;
    }
    const QString full = QFileInfo(path).absoluteFilePath();
    m_files.removeAll(full);
    m_files.prepend(full);
    while (m_files.size() > kSize) {
        m_files.removeLast();
    }
}

void CRecentFileList::Remove(const QString& path) {
    m_files.removeAll(QFileInfo(path).absoluteFilePath());
}
