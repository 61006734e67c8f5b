// The main frame's session: what is kept at exit and brought back at start-up (MainFrame.h,
// SessionState.h).

#include "app/qt/MainFrame.h"

#include "app/qt/NotifyBar.h"
#include "app/qt/TavrixView.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"

#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

CSessionState CMainFrame::CaptureSession() const {
    CSessionState session;
    session.mainWindowGeometry = saveGeometry();
    session.mainWindowState = saveState();
    session.notifyColumns = m_notifyBar->SaveColumns();
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        auto* view = qobject_cast<CTavrixView*>(sub->widget());
        if (view == nullptr || view->Core() == nullptr || view->windowFilePath().isEmpty()) {
            continue;
        }
        CSessionDocument document;
        document.path = view->windowFilePath();
        document.maximized = sub->isMaximized();
        document.placement = sub->isMaximized() ? QRect() : sub->geometry();
        for (const int32_t id : view->Core()->GetCameraViewIds()) {
            if (CCameraView* camera = view->Core()->FindCameraView(id); camera && camera->IsActivated()) {
                document.activeCameras.push_back(id);
            }
        }
        session.documents.push_back(std::move(document));
    }
    return session;
}

int CMainFrame::RestoreSession(const CSessionState& session, bool reopenDocuments) {
    if (!session.mainWindowGeometry.isEmpty()) {
        restoreGeometry(session.mainWindowGeometry);
    }
    if (!session.mainWindowState.isEmpty()) {
        restoreState(session.mainWindowState);
    }
    m_notifyBar->RestoreColumns(session.notifyColumns);
    int opened = 0;
    if (!reopenDocuments) {
        return opened;
    }
    for (const CSessionDocument& document : session.documents) {
        if (!QFileInfo::exists(document.path)) {
            CNotificationLog::Instance().AddEntry(
                "", "",
                "The document '" + document.path.toStdString() +
                    "' that was open at exit no longer exists; it was not reopened.");
            continue;
        }
        CTavrixView* view = OpenDocument(document.path);
        if (view == nullptr) {
            continue; // the reason was shown
        }
        ++opened;
        if (QMdiSubWindow* sub = SubWindowOf(view);
            sub && !document.maximized && document.placement.isValid()) {
            sub->showNormal();
            sub->setGeometry(document.placement);
        }
        // The cameras that watched at exit watch again (a document that activates its cameras
        // itself has done so already).
        for (const int32_t id : document.activeCameras) {
            CCameraView* camera = view->Core() ? view->Core()->FindCameraView(id) : nullptr;
            if (camera != nullptr && !camera->IsActivated()) {
                TRACE("CMainFrame::RestoreSession() activating camera %d of '%s'", id,
                      document.path.toUtf8().constData());
                view->Core()->OnCameraButton(id);
            }
        }
        view->UpdateAllCameras();
    }
    return opened;
}
