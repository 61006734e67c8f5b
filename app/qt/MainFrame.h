#pragma once
// CMainFrame: the main window of the desktop shell: a multi-document area with one window per
// open document, the menus (File: New, Open, the four recent files, Save, Save As, Close, Exit;
// Camera: activate and deactivate all cameras, the camera and document properties, new and
// deleted cameras, the selected camera full screen (Shift+F11), its active area shown on the
// picture, its snapshot; View: full screen (F11: the enlarged camera alone when one is enlarged,
// else the whole window), the notifications bar, Options; Help: System Info,
// About), the "Notifications" bar, the tray icon and the global hot key that shows the hidden
// window.
//
// Minimising follows the setting "MiminizeMode": 0 an ordinary minimise, 1 a tray icon and the
// window hidden, 2 the window hidden (the hot key or the tray brings it back); other values do
// nothing more than minimise.
//
// New, Open and the recent files are enabled only while a capture device is known. A document
// whose chains start programs and that this user did not save on this machine shows them and
// asks before it runs (ProgramsConsent); saving a document makes its programs this user's.
//
// Save As writes the document completely into the new file (beside it first, then renamed over
// it) and continues on the new file; the old file stays as it was last saved.
//
// Closing the window keeps the session (SessionState.h): the documents open, their windows'
// placement, their cameras switched on and the window's geometry; RestoreSession brings it back
// at the next start.
//
// GUI thread only. It is the dispatcher's target for message 2024 (notification list changed).

#include "app/qt/RecentFileList.h"
#include "app/qt/SessionState.h"
#include "camera/MessageDispatcher.h"

#include <QMainWindow>

#include <string>
#include <vector>

class CGlobalHotKey;
class CNotifyBar;
class CTavrixAppCore;
class CTavrixView;
class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSystemTrayIcon;

class CMainFrame : public QMainWindow, public IMessageTarget {
    Q_OBJECT
public:
    CMainFrame(CTavrixAppCore& app, CMessageDispatcher& dispatcher, CRecentFileList& recentFiles,
               QWidget* parent = nullptr);
    ~CMainFrame() override;

    CMessageDispatcher::TargetId GetTargetId() const { return m_targetId; }

    // The file dialog of File New.
    static constexpr const char* kNewDocumentTitle = "New document";
    static constexpr const char* kCreateText = "Create";

    // File commands; each returns what it achieved, for the tests. A new document on an existing
    // file asks before the file's content is replaced (and is refused while that file is open).
    CTavrixView* FileNew();
    CTavrixView* FileNewNamed(const QString& path);
    CTavrixView* FileOpen();
    CTavrixView* OpenDocument(const QString& path);
    bool SaveDocument(CTavrixView* view);
    bool SaveDocumentAs(CTavrixView* view, const QString& path);
    // Asks to save unsaved changes (Yes, No, Cancel); false when the user cancelled. Without the
    // prompt, unsaved changes are dropped (the end of the program after its window was closed).
    bool CloseDocument(CTavrixView* view, bool prompt = true);
    bool CloseAllDocuments(bool prompt = true);

    // Shows the window after start-up: minimised as the settings say when asked to.
    void ShowAtStartup(bool minimize);
    // Applies the minimise mode to the window (tray icon and hiding).
    void ApplyMinimizeMode();
    // Shows the hidden or minimised window again (hot key, tray icon).
    void RestoreWindow();
    void ToggleFullScreen();
    // Registers the hot key of the settings again (after the options changed).
    void RegisterHotKey();
    // Builds the system information report on a pool thread and copies it to the clipboard.
    void CopySystemInfo();

    // The session as it is now, and bringing one back: the window's geometry and the
    // notifications list's columns, and (reopenDocuments) the documents reopened (a file that is
    // gone is logged and skipped) with their placement, their cameras switched on as they were.
    // Returns the number of documents opened.
    CSessionState CaptureSession() const;
    int RestoreSession(const CSessionState& session, bool reopenDocuments = true);
    // Where the session is kept: the settings file (tests set their own).
    void SetSessionPath(std::string path) { m_sessionPath = std::move(path); }

    CTavrixView* ActiveView() const;
    std::vector<CTavrixView*> Views() const;
    CNotifyBar* NotifyBar() const { return m_notifyBar; }
    QMdiArea* MdiArea() const { return m_mdi; }
    QSystemTrayIcon* TrayIcon() const { return m_tray; }
    QAction* NewAction() const { return m_newAction; }
    QAction* OpenAction() const { return m_openAction; }
    QAction* FullScreenAction() const { return m_fullScreenAction; }
    QAction* CloseAction() const { return m_closeAction; }
    const std::vector<QAction*>& RecentActions() const { return m_recentActions; }
    // Brings the enabled state of the commands up to date.
    void UpdateCommands();

    // IMessageTarget: 2024.
    void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

signals:
    // The system information report was copied (or not), with the message shown.
    void SystemInfoFinished(const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenus();
    void UpdateRecentMenu();
    CTavrixView* AddViewWindow(CTavrixView* view);
    // File New on an existing file: true when its content may be replaced.
    bool MayReplace(const QString& path);
    QMdiSubWindow* SubWindowOf(CTavrixView* view) const;
    void OpenRecent(int index);
    // The minimise mode of the settings; hiding (2) becomes the tray (1) while no hot key is
    // grabbed, as nothing could bring the window back.
    int EffectiveMinimizeMode() const;
    void ShowOptions();
    void ShowAbout();

    CTavrixAppCore& m_app;
    CMessageDispatcher& m_dispatcher;
    CRecentFileList& m_recentFiles;
    CMessageDispatcher::TargetId m_targetId = CMessageDispatcher::kNoTarget;
    QMdiArea* m_mdi;
    CNotifyBar* m_notifyBar;
    QSystemTrayIcon* m_tray;
    CGlobalHotKey* m_hotKey;
    QAction* m_newAction = nullptr;
    QAction* m_openAction = nullptr;
    std::vector<QAction*> m_recentActions;
    QAction* m_recentSeparator = nullptr;
    std::vector<QAction*> m_documentActions; // need an open document
    std::vector<QAction*> m_cameraActions;   // need a camera
    QAction* m_fullScreenAction = nullptr;
    QAction* m_closeAction = nullptr;
    bool m_closing = false;
    std::string m_sessionPath;
};
