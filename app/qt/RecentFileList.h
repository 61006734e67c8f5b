#pragma once
// CRecentFileList: the four most recently used documents of the File menu. They are kept in the
// settings file, group "[Recent File List]", values "File1" (the newest) to "File4", as strings;
// read at start-up after the settings and written at exit together with them. The settings
// manager keeps the group when it writes its own.
//
// GUI thread only (start-up, the File menu, exit).

#include <QString>
#include <QStringList>

#include <string>

class CRecentFileList {
public:
    static constexpr int kSize = 4;
    static constexpr const char* kGroup = "Recent File List";

    explicit CRecentFileList(std::string settingsPath);

    // Reads the list; a missing or unreadable file gives an empty list.
    void Load();
    // Writes the list into the settings file, keeping every other group. False when the file
    // cannot be written.
    bool Save() const;

    // Puts a document first (moving it up when already listed); keeps at most four.
    void Add(const QString& path);
    void Remove(const QString& path);
    const QStringList& Files() const { return m_files; }

private:
    std::string m_settingsPath;
    QStringList m_files;
};
