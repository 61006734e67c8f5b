#pragma once
// What the desktop keeps between runs so that it comes back as it was left: the documents open at
// exit with the placement of their windows and the cameras that were switched on, and the main
// window's geometry. Kept in the settings file, group [Session]: "ReopenDocuments" (1 by default:
// reopen at start-up when no document is named on the command line), "MainWindowGeometry",
// "MainWindowState", "NotificationColumns" (the notifications list's columns), "DocumentCount", and per
// document N (1..) "DocumentN", "DocumentNPlacement"
// ("x,y,width,height,maximized") and "DocumentNActiveCameras" (camera ids, comma-separated).
//
// "Start Tavrix when I log in": an XDG autostart entry, ~/.config/autostart/tavrix.desktop (under
// XDG_CONFIG_HOME when set), that starts this executable.
//
// CStartupOptions is the Options dialog's group of both choices. GUI thread only.

#include <QByteArray>
#include <QGroupBox>
#include <QRect>
#include <QString>

#include <string>
#include <vector>

class QCheckBox;

struct CSessionDocument {
    QString path;
    QRect placement; // the document window inside the main window; empty: maximised
    bool maximized = true;
    std::vector<int32_t> activeCameras;

    bool operator==(const CSessionDocument&) const = default;
};

struct CSessionState {
    static constexpr const char* kGroup = "Session";

    QByteArray mainWindowGeometry;
    QByteArray mainWindowState;
    QByteArray notifyColumns;
    std::vector<CSessionDocument> documents;

    // Reads or writes the [Session] group of a settings file; the file's other groups stay.
    // Load of a missing or damaged group gives an empty session.
    static CSessionState Load(const std::string& settingsPath);
    bool Save(const std::string& settingsPath) const;

    // "ReopenDocuments", on unless the settings file says 0.
    static bool ReopenDocuments(const std::string& settingsPath);
    static bool SetReopenDocuments(const std::string& settingsPath, bool reopen);
};

namespace Autostart {

// ~/.config/autostart/tavrix.desktop, or under XDG_CONFIG_HOME.
QString EntryPath();
// True when the entry exists and is not hidden.
bool IsEnabled();
// Writes the entry (starting `executable`) or removes it; false with nothing changed on failure.
bool SetEnabled(bool enabled, const QString& executable);

} // namespace Autostart

class CStartupOptions : public QGroupBox {
    Q_OBJECT
public:
    CStartupOptions(std::string settingsPath, QWidget* parent = nullptr);
    QCheckBox* ReopenField() const { return m_reopen; }
    QCheckBox* AutostartField() const { return m_autostart; }
    // Writes both choices; false (with a message) when the autostart entry cannot be written.
    bool Store(QString& message);

private:
    const std::string m_settingsPath;
    QCheckBox* m_reopen;
    QCheckBox* m_autostart;
};
