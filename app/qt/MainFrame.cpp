#include "app/qt/MainFrame.h"

#include "app/TavrixAppCore.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/GlobalHotKey.h"
#include "app/qt/NotifyBar.h"
#include "app/qt/ProgramsConsent.h"
#include "app/qt/RecordingsWindow.h"
#include "app/qt/TavrixView.h"
#include "app/qt/UiMessages.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "persistence/UserDbMgrImpl.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QSystemTrayIcon>

namespace {

const char kFilter[] = "Tavrix Files (*.tvrx)";

// The keys of a command: the given one first (shown in the menu), then the platform's own.
QList<QKeySequence> Shortcuts(const QKeySequence& first, QKeySequence::StandardKey standard) {
    QList<QKeySequence> keys{first};
    for (const QKeySequence& key : QKeySequence::keyBindings(standard)) {
        if (!keys.contains(key)) {
            keys << key;
        }
    }
    return keys;
}

QList<QKeySequence> FullScreenShortcuts() {
    return Shortcuts(QKeySequence(Qt::Key_F11), QKeySequence::FullScreen);
}

// Ctrl+W on every platform, as users of other programs expect, besides Ctrl+F4 and the like.
QList<QKeySequence> CloseShortcuts() {
    return Shortcuts(QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence::Close);
}

// The program's icon, drawn: a camera body with its lens.
QIcon MakeIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 60, 90));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(2, 8, 22, 16, 3, 3);
    painter.drawPolygon(QPolygon({QPoint(24, 12), QPoint(30, 8), QPoint(30, 24), QPoint(24, 20)}));
    painter.setBrush(QColor(220, 40, 40));
    painter.drawEllipse(QPoint(13, 16), 4, 4);
    return QIcon(pixmap);
}

} // namespace

CMainFrame::CMainFrame(CTavrixAppCore& app, CMessageDispatcher& dispatcher, CRecentFileList& recentFiles,
                       QWidget* parent)
    : QMainWindow(parent), m_app(app), m_dispatcher(dispatcher), m_recentFiles(recentFiles) {
    setWindowTitle("Tavrix");
    setWindowIcon(MakeIcon());
    resize(1024, 720);
    m_mdi = new QMdiArea(this);
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { UpdateCommands(); });

    m_notifyBar = new CNotifyBar(CNotificationLog::Instance(), this);
    addDockWidget(Qt::BottomDockWidgetArea, m_notifyBar);

    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip("Tavrix");
    auto* trayMenu = new QMenu(this);
    trayMenu->addAction("&Show Tavrix", this, &CMainFrame::RestoreWindow);
    trayMenu->addAction("E&xit", this, &QMainWindow::close);
    m_tray->setContextMenu(trayMenu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            RestoreWindow();
        }
    });

    m_hotKey = new CGlobalHotKey(this);
    connect(m_hotKey, &CGlobalHotKey::Activated, this, &CMainFrame::RestoreWindow);

    CreateMenus();
    m_targetId = m_dispatcher.Register(this);
    UpdateCommands();

    // A document that another user or machine made shows its programs and asks before it runs.
    m_app.SetProgramsCheck([this](const CTavrixDoc& document, const std::vector<CChainProgram>& programs) {
        return ProgramsConsent::Check(this, document, programs);
    });
    // "Activate all" and the lock switch cameras; a camera without its device keeps its state.
    m_app.SetBroadcastObserver([this] {
        for (CTavrixView* view : Views()) {
            view->UpdateCameraButtons();
        }
    });
}

CMainFrame::~CMainFrame() {
    m_app.SetBroadcastObserver({});
    m_app.SetProgramsCheck({});
    m_dispatcher.Unregister(m_targetId);
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    m_newAction = file->addAction("&New...", QKeySequence::New, this, [this] { FileNew(); });
    m_openAction = file->addAction("&Open...", QKeySequence::Open, this, [this] { FileOpen(); });
    QAction* save =
        file->addAction("&Save", QKeySequence::Save, this, [this] { SaveDocument(ActiveView()); });
    QAction* saveAs = file->addAction("Save &As...", QKeySequence::SaveAs, this, [this] {
        CTavrixView* view = ActiveView();
        if (view == nullptr) {
            return;
        }
        // The dialog adds the extension itself, so that its overwrite question is asked for the
        // file that will be written.
        QFileDialog dialog(this, "Save As", view->windowFilePath(), kFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("tvrx");
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            SaveDocumentAs(view, dialog.selectedFiles().first());
        }
    });
    QAction* close = file->addAction("&Close", this, [this] { CloseDocument(ActiveView()); });
    close->setShortcuts(CloseShortcuts());
    m_closeAction = close;
    QAction* properties = file->addAction("Document &Properties...", this, [this] {
        if (CTavrixView* view = ActiveView()) {
            view->EditDocument();
        }
    });
    file->addSeparator();
    for (int i = 0; i < CRecentFileList::kSize; ++i) {
        QAction* recent = file->addAction(QString(), this, [this, i] { OpenRecent(i); });
        recent->setVisible(false);
        m_recentActions.push_back(recent);
    }
    m_recentSeparator = file->addSeparator();
    file->addAction("E&xit", QKeySequence::Quit, this, &QMainWindow::close);
    connect(file, &QMenu::aboutToShow, this, [this] {
        UpdateRecentMenu();
        UpdateCommands();
    });
    m_documentActions = {save, saveAs, close, properties};

    QMenu* camera = menuBar()->addMenu("&Camera");
    camera->addAction("&Activate all cameras", this, [this] { m_app.ActivateAllCameras(); });
    camera->addAction("&Deactivate all cameras", this, [this] { m_app.DeactivateAllCameras(); });
    camera->addSeparator();
    QAction* cameraProperties = camera->addAction("Camera &Properties...", this, [this] {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->EditCamera(view->CurrentCameraId());
        }
    });
    QAction* newCamera = camera->addAction("&New Camera...", this, [this] {
        if (CTavrixView* view = ActiveView()) {
            view->AddCamera();
        }
    });
    QAction* deleteCamera = camera->addAction("De&lete Camera", this, [this] {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->DeleteCamera(view->CurrentCameraId());
        }
    });
    camera->addSeparator();
    // These act on the selected pane of the active document.
    QAction* enlarge = camera->addAction("&Enlarge / Back to the Grid", this, [this] {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->ToggleEnlarged(view->CurrentCameraId());
        }
    });
    QAction* cameraFullScreen = camera->addAction("Camera &Full Screen", this, [this] {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->SetFullScreenCamera(view->CurrentCameraId());
        }
    });
    cameraFullScreen->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F11));
    QAction* showMask = camera->addAction("Show Active A&rea", this, [this](bool shown) {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->SetMaskShown(view->CurrentCameraId(), shown);
        }
    });
    showMask->setCheckable(true);
    connect(camera, &QMenu::aboutToShow, this, [this, showMask] {
        CTavrixView* view = ActiveView();
        showMask->setChecked(view == nullptr || view->IsMaskShown(view->CurrentCameraId()));
    });
    QAction* snapshot = camera->addAction("Save &Snapshot", this, [this] {
        if (CTavrixView* view = ActiveView(); view && view->CurrentCameraId() >= 0) {
            view->SaveSnapshot(view->CurrentCameraId());
        }
    });
    connect(camera, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);
    m_documentActions.push_back(newCamera);
    m_cameraActions = {cameraProperties, deleteCamera, enlarge, cameraFullScreen, showMask, snapshot};

    QMenu* view = menuBar()->addMenu("&View");
    m_fullScreenAction = view->addAction("&Full Screen", this, &CMainFrame::ToggleFullScreen);
    m_fullScreenAction->setShortcuts(FullScreenShortcuts());
    m_fullScreenAction->setCheckable(true);
    view->addAction(m_notifyBar->toggleViewAction());
    CRecordingsWindow::Install(this, view, m_notifyBar->View(),
                               QString::fromStdString(CUserDbMgrImpl::Instance().GetPath()));
    QMenu* windows = view->addMenu("&Windows");
    windows->addAction("&Tile", m_mdi, &QMdiArea::tileSubWindows);
    windows->addAction("&Cascade", m_mdi, &QMdiArea::cascadeSubWindows);
    view->addSeparator();
    view->addAction("&Options...", this, &CMainFrame::ShowOptions);

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction("System &Info", this, &CMainFrame::CopySystemInfo);
    help->addAction("&About Tavrix...", this, &CMainFrame::ShowAbout);
}

void CMainFrame::UpdateRecentMenu() {
    const QStringList& files = m_recentFiles.Files();
    for (int i = 0; i < CRecentFileList::kSize; ++i) {
        QAction* action = m_recentActions[static_cast<size_t>(i)];
        if (i < files.size()) {
            action->setText(QString("&%1 %2").arg(i + 1).arg(files[i]));
            action->setVisible(true);
        } else {
            action->setVisible(false);
        }
    }
    m_recentSeparator->setVisible(!files.isEmpty());
}

void CMainFrame::UpdateCommands() {
    // The active document's title in the main window's, as a maximised document window has none.
    CTavrixView* active = ActiveView();
    setWindowTitle(active ? QString("%1 - Tavrix").arg(QString(active->windowTitle()).remove("[*]"))
                          : "Tavrix");
    const bool devices = m_app.HasCaptureDevice();
    m_newAction->setEnabled(devices);
    m_openAction->setEnabled(devices);
    for (QAction* recent : m_recentActions) {
        recent->setEnabled(devices);
    }
    CTavrixView* view = ActiveView();
    for (QAction* action : m_documentActions) {
        action->setEnabled(view != nullptr);
    }
    for (QAction* action : m_cameraActions) {
        action->setEnabled(view != nullptr && view->CurrentCameraId() >= 0);
    }
}

// ---- documents ----

CTavrixView* CMainFrame::ActiveView() const {
    QMdiSubWindow* sub = m_mdi->activeSubWindow();
    if (sub == nullptr && !m_mdi->subWindowList().isEmpty()) {
        sub = m_mdi->subWindowList().first();
    }
    return sub ? qobject_cast<CTavrixView*>(sub->widget()) : nullptr;
}

std::vector<CTavrixView*> CMainFrame::Views() const {
    std::vector<CTavrixView*> views;
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        if (auto* view = qobject_cast<CTavrixView*>(sub->widget())) {
            views.push_back(view);
        }
    }
    return views;
}

QMdiSubWindow* CMainFrame::SubWindowOf(CTavrixView* view) const {
    for (QMdiSubWindow* sub : m_mdi->subWindowList()) {
        if (sub->widget() == view) {
            return sub;
        }
    }
    return nullptr;
}

CTavrixView* CMainFrame::AddViewWindow(CTavrixView* view) {
    QMdiSubWindow* sub = m_mdi->addSubWindow(view);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // The document window's own menu binds keys of File Close (Ctrl+W, Ctrl+F4) as well: with the
    // focus inside the window both would claim them and neither would run. Its other keys stay.
    if (QMenu* systemMenu = sub->systemMenu()) {
        const QList<QKeySequence> closeKeys = m_closeAction->shortcuts();
        for (QAction* action : systemMenu->actions()) {
            QList<QKeySequence> keys = action->shortcuts();
            keys.removeIf([&closeKeys](const QKeySequence& key) { return closeKeys.contains(key); });
            action->setShortcuts(keys);
        }
    }
    sub->setWindowIcon(windowIcon());
    sub->installEventFilter(this);
    connect(view, &CTavrixView::DocumentChanged, this, &CMainFrame::UpdateCommands);
    // The cameras get the room there is; "Tile" in the View menu puts several documents side by side.
    sub->showMaximized();
    m_mdi->setActiveSubWindow(sub);
    UpdateCommands();
    return view;
}

CTavrixView* CMainFrame::FileNew() {
    if (!m_app.HasCaptureDevice()) {
        return nullptr;
    }
    // The new document's file comes first; without a name nothing is created. Replacing an
    // existing file is asked by FileNewNamed, not by the dialog, so that it is asked once.
    QFileDialog dialog(this, kNewDocumentTitle, QString(), kFilter);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setLabelText(QFileDialog::Accept, kCreateText);
    dialog.setDefaultSuffix("tvrx");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return nullptr;
    }
    return FileNewNamed(dialog.selectedFiles().first());
}

CTavrixView* CMainFrame::FileNewNamed(const QString& path) {
    const bool existed = QFileInfo::exists(path);
    if (existed && !MayReplace(path)) {
        return nullptr;
    }
    auto document = std::make_unique<CTavrixDoc>();
    if (!document->OnNewDocument(path.toStdString())) {
        return nullptr; // the reason was shown
    }
    if (!CCameraPropertySheet::Edit(*document, 0, nullptr, this)) {
        // Cancelled: no document, and no file left behind that this command created.
        document->OnCloseDocument();
        document.reset();
        if (!existed) {
            QFile::remove(path);
        }
        return nullptr;
    }
    auto* view = new CTavrixView;
    CTavrixViewCore* core = m_app.AddDocument(std::move(document), view->MakeHooks());
    view->Attach(core);
    m_recentFiles.Add(path);
    return AddViewWindow(view);
}

bool CMainFrame::MayReplace(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    for (CTavrixView* open : Views()) {
        if (open->windowFilePath() == full) {
            UiMessages::ShowWarning(
                this,
                QString("'%1' is open. Close it before creating a new document in its place.").arg(full));
            return false;
        }
    }
    return UiMessages::AskYesNo(this, QString("'%1' exists already. Replace its cameras, schedules and event "
                                              "action chains with the new document when it is saved?")
                                          .arg(full));
}

CTavrixView* CMainFrame::FileOpen() {
    if (!m_app.HasCaptureDevice()) {
        return nullptr;
    }
    const QString path = QFileDialog::getOpenFileName(this, "Open", QString(), kFilter);
    return path.isEmpty() ? nullptr : OpenDocument(path);
}

CTavrixView* CMainFrame::OpenDocument(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    for (CTavrixView* open : Views()) {
        if (open->windowFilePath() == full) {
            m_mdi->setActiveSubWindow(SubWindowOf(open));
            return open;
        }
    }
    auto* view = new CTavrixView;
    CTavrixViewCore* core = m_app.OpenDocument(full.toStdString(), view->MakeHooks());
    if (core == nullptr) {
        delete view;
        m_recentFiles.Remove(full); // a file that cannot be opened leaves the list
        return nullptr;
    }
    view->Attach(core);
    m_recentFiles.Add(full);
    return AddViewWindow(view);
}

void CMainFrame::OpenRecent(int index) {
    const QStringList& files = m_recentFiles.Files();
    if (index >= 0 && index < files.size() && m_app.HasCaptureDevice()) {
        OpenDocument(files[index]);
    }
}

bool CMainFrame::SaveDocument(CTavrixView* view) {
    CTavrixDoc* document = view ? view->Document() : nullptr;
    if (document == nullptr) {
        return false;
    }
    const bool saved = document->OnSaveDocument();
    if (saved) {
        ProgramsConsent::RecordSaved(*document);
    }
    view->UpdateTitle();
    UpdateCommands();
    return saved;
}

bool CMainFrame::SaveDocumentAs(CTavrixView* view, const QString& path) {
    CTavrixDoc* document = view ? view->Document() : nullptr;
    if (document == nullptr) {
        return false;
    }
    const bool saved = document->OnSaveDocumentAs(QFileInfo(path).absoluteFilePath().toStdString());
    if (saved) {
        ProgramsConsent::RecordSaved(*document);
        m_recentFiles.Add(path);
    }
    view->UpdateTitle();
    UpdateCommands();
    return saved;
}

bool CMainFrame::CloseDocument(CTavrixView* view, bool prompt) {
    CTavrixDoc* document = view ? view->Document() : nullptr;
    if (document == nullptr) {
        return false;
    }
    if (prompt && document->IsModified()) {
        switch (UiMessages::AskYesNoCancel(
            this, QString("Save changes to %1?").arg(QString::fromStdString(document->GetTitle())))) {
        case UiMessages::Answer::Yes:
            if (!SaveDocument(view)) {
                return false;
            }
            break;
        case UiMessages::Answer::No:
            break;
        case UiMessages::Answer::Cancel:
            return false;
        }
    }
    // The database connection, then the camera views (their windows go with them), then the
    // document's window.
    m_app.CloseDocument(view->Core());
    view->Attach(nullptr);
    if (QMdiSubWindow* sub = SubWindowOf(view)) {
        sub->removeEventFilter(this);
        sub->close();
    }
    UpdateCommands();
    return true;
}

bool CMainFrame::CloseAllDocuments(bool prompt) {
    for (CTavrixView* view : Views()) {
        if (!CloseDocument(view, prompt)) {
            return false;
        }
    }
    return true;
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
            if (auto* view = qobject_cast<CTavrixView*>(sub->widget())) {
                // Closing a document's window is closing the document, with its save prompt. The
                // window may be gone by the time the queued close runs: then there is nothing to do.
                event->ignore();
                const QPointer<CTavrixView> guarded(view);
                QMetaObject::invokeMethod(
                    this,
                    [this, guarded] {
                        if (guarded) {
                            CloseDocument(guarded.data());
                        }
                    },
                    Qt::QueuedConnection);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
