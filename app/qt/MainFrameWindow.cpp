// The main frame's window: closing, minimising into the tray or out of sight, full screen, the
// hot key, the Options and About boxes and the system information command (MainFrame.h).

#include "app/qt/MainFrame.h"

#include "TavrixVersion.h"
#include "app/qt/BackgroundTask.h"
#include "app/qt/GlobalHotKey.h"
#include "app/qt/NotifyBar.h"
#include "app/qt/OptionsDlg.h"
#include "app/qt/TavrixView.h"
#include "app/qt/UiMessages.h"
#include "foundation/SystemInfo.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigMgrImpl.h"
#include "recording/DxDeviceInfoSource.h"
#include "recording/DxDeviceMgr.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTimer>

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Taken before the documents close: which are open, where, and which cameras watch.
    const CSessionState session = CaptureSession();
    if (!CloseAllDocuments()) {
        event->ignore();
        return;
    }
    const std::string sessionPath =
        m_sessionPath.empty() ? CConfigMgrImpl::Instance().GetSettingsPath() : m_sessionPath;
    if (!session.Save(sessionPath)) {
        TRACE("CMainFrame::closeEvent() the session could not be kept in '%s'", sessionPath.c_str());
    }
    m_tray->hide();
    event->accept();
    QApplication::quit();
}

void CMainFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        // Hiding from within the state change confuses some window managers: done right after.
        QTimer::singleShot(0, this, &CMainFrame::ApplyMinimizeMode);
    }
}

int CMainFrame::EffectiveMinimizeMode() const {
    const int32_t mode = CConfigMgrImpl::Instance().GetMiscSettings().GetMinimizeMode();
    if (mode == 2 && !m_hotKey->IsRegistered()) {
        // Hidden without a tray icon, only the hot key brings the window back: without a grabbed
        // key the tray takes its place.
        TRACE("CMainFrame::EffectiveMinimizeMode() no hot key: the tray instead of hiding");
        return 1;
    }
    return mode;
}

void CMainFrame::ApplyMinimizeMode() {
    switch (EffectiveMinimizeMode()) {
    case 1:
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            m_tray->show();
            hide();
        } else {
            // Without a tray the window could not be found again: it stays minimised.
            TRACE("CMainFrame::ApplyMinimizeMode() no system tray: the window stays minimised");
        }
        break;
    case 2:
        hide();
        break;
    default:
        break; // 0 and anything else: an ordinary minimise
    }
}

void CMainFrame::ShowAtStartup(bool minimize) {
    if (!minimize) {
        show();
        return;
    }
    switch (EffectiveMinimizeMode()) {
    case 1:
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            m_tray->show();
            break;
        }
        showMinimized();
        break;
    case 2:
        break; // hidden: the hot key shows it
    default:
        showMinimized();
        break;
    }
}

void CMainFrame::RestoreWindow() {
    if (isFullScreen()) {
        showFullScreen();
    } else {
        showNormal();
    }
    raise();
    activateWindow();
    m_tray->hide();
}

void CMainFrame::ToggleFullScreen() {
    if (isFullScreen()) {
        showNormal();
    } else if (CTavrixView* view = ActiveView(); view && view->EnlargedCameraId() >= 0) {
        // An enlarged camera fills the screen alone; its own F11 or Escape brings it back.
        view->SetFullScreenCamera(view->EnlargedCameraId());
    } else {
        showFullScreen();
    }
    m_fullScreenAction->setChecked(isFullScreen());
}

void CMainFrame::RegisterHotKey() {
    const CMiscSettings misc = CConfigMgrImpl::Instance().GetMiscSettings();
    m_hotKey->Register(CHotKey(misc.GetHotKeyVirtualKeyCode(), misc.GetHotKeyModifiers()));
}

void CMainFrame::ShowOptions() {
    COptionsDlg dialog(CConfigMgrImpl::Instance(), this);
    if (dialog.exec() == QDialog::Accepted) {
        RegisterHotKey();
    }
}

void CMainFrame::ShowAbout() {
    QMessageBox::about(this, "About Tavrix",
                       QString("<b>Tavrix %1</b><p>Video surveillance: motion detection frame by frame, "
                               "recordings that begin before the motion, and actions on camera events.</p>"
                               "<p>Qt %2, GStreamer %3</p>")
                           .arg(TAVRIX_VERSION_STRING, qVersion(), QString::fromUtf8(gst_version_string())));
}

void CMainFrame::CopySystemInfo() {
    BackgroundTask::Run(
        this, [] { return CSystemInfo::BuildReportText(CDxDeviceInfoSource(CDxDeviceMgrImpl::Instance())); },
        [](CMainFrame& frame, std::string report) {
            QString message;
            QClipboard* clipboard = QGuiApplication::clipboard();
            if (clipboard == nullptr) {
                message = CSystemInfo::kClipboardOpenFailed;
            } else {
                const QString text = QString::fromStdString(report);
                clipboard->setText(text);
                message = clipboard->text() == text ? CSystemInfo::kClipboardCopied
                                                    : CSystemInfo::kClipboardSetFailed;
            }
            UiMessages::ShowInformation(&frame, message);
            emit frame.SystemInfoFinished(message);
        });
}

void CMainFrame::OnMessage(uint32_t message, uintptr_t, intptr_t) {
    if (message == ViewMessage::kNotificationListChanged) {
        m_notifyBar->OnListChanged();
    }
}
