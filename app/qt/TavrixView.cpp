#include "app/qt/TavrixView.h"

#include "app/qt/BackgroundTask.h"
#include "app/qt/CameraGrid.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/CameraWindow.h"
#include "app/qt/DocPropertySheet.h"
#include "app/qt/UiMessages.h"
#include "app/qt/VideoWidget.h"
#include "camera/CamViewStateMgr.h"
#include "persistence/TavrixDoc.h"
#include "recording/DxDeviceMgr.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <set>

namespace {

QImage ToImage(const CRgbPicture& picture) {
    if (picture.IsEmpty() || picture.stride < picture.width * 3 ||
        picture.bytes.size() < static_cast<size_t>(picture.stride) * static_cast<size_t>(picture.height)) {
        return QImage();
    }
    QImage image(picture.width, picture.height, QImage::Format_BGR888);
    for (int32_t y = 0; y < picture.height; ++y) {
        std::memcpy(image.scanLine(y), picture.Row(y), static_cast<size_t>(picture.width) * 3);
    }
    return image;
}

constexpr int kSpacing = 4;

// Why a camera is in a state the user must act on, for the badge's tooltip.
QString StateReason(int32_t state) {
    switch (state) {
    case CCamViewStateMgr::kUnavailable:
        return "the capture device is missing or delivers no pictures; it is re-connected when it "
               "comes back (see the notifications)";
    case CCamViewStateMgr::kUnable2Rec:
        return "the recording cannot be written: the record folder is missing, not writable or full "
               "(see the notifications)";
    default:
        return QString();
    }
}

// A camera watches (detects motion, may record) in these states.
bool IsWatching(int32_t state) {
    return state == CCamViewStateMgr::kIdle || state == CCamViewStateMgr::kRecording ||
           state == CCamViewStateMgr::kUnable2Rec;
}

} // namespace

CTavrixView::CTavrixView(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(24, 24, 24));
    background.setColor(QPalette::WindowText, QColor(220, 220, 220));
    setPalette(background);
    m_empty = new QLabel("This document has no cameras.", this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_captionTimer = new QTimer(this);
    m_captionTimer->setInterval(500);
    connect(m_captionTimer, &QTimer::timeout, this, &CTavrixView::UpdateCaptions);
    m_captionTimer->start();
}

CTavrixView::~CTavrixView() = default;

CTavrixViewCore::CHooks CTavrixView::MakeHooks() {
    CTavrixViewCore::CHooks hooks;
    // The view logic lives shorter than this window: the application closes the document (and
    // with it the view logic) before the window goes.
    hooks.createRenderer = [this](int32_t cameraId) {
        return EnsureCameraWindow(cameraId)->Video()->CreateRenderer();
    };
    hooks.cameraViewCreated = [this](CCameraView& cameraView) {
        EnsureCameraWindow(cameraView.GetCameraId());
        UpdateCameraTitle(cameraView);
        UpdateMaskOverlays();
    };
    hooks.cameraViewDestroyed = [this](CCameraView& cameraView) {
        RemoveCameraWindow(cameraView.GetCameraId());
    };
    hooks.cameraChanged = [this](CCameraView& cameraView) { UpdateCameraTitle(cameraView); };
    return hooks;
}

void CTavrixView::Attach(CTavrixViewCore* core) {
    m_core = core;
    if (m_core) {
        for (const int32_t id : m_core->GetCameraViewIds()) {
            if (CCameraView* cameraView = m_core->FindCameraView(id)) {
                UpdateCameraTitle(*cameraView);
            }
        }
    }
    UpdateMaskOverlays();
    UpdateTitle();
}

CTavrixDoc* CTavrixView::Document() const {
    return m_core ? &m_core->GetDocument() : nullptr;
}

void CTavrixView::UpdateTitle() {
    if (CTavrixDoc* document = Document()) {
        setWindowTitle(QString::fromStdString(document->GetTitle()) + "[*]");
        setWindowModified(document->IsModified());
        setWindowFilePath(QString::fromStdString(document->GetPathName()));
    }
}

CCameraWindow* CTavrixView::FindCameraWindow(int32_t cameraId) const {
    const auto found = m_cameraWindows.find(cameraId);
    return found != m_cameraWindows.end() ? found->second : nullptr;
}

std::vector<CCameraWindow*> CTavrixView::CameraWindows() const {
    std::vector<CCameraWindow*> windows;
    for (const auto& [id, window] : m_cameraWindows) {
        windows.push_back(window);
    }
    return windows;
}

int32_t CTavrixView::CurrentCameraId() const {
    if (m_cameraWindows.count(m_currentCameraId) != 0) {
        return m_currentCameraId;
    }
    return m_cameraWindows.empty() ? -1 : m_cameraWindows.begin()->first;
}

CCameraWindow* CTavrixView::EnsureCameraWindow(int32_t cameraId) {
    if (CCameraWindow* existing = FindCameraWindow(cameraId)) {
        return existing;
    }
    auto* window = new CCameraWindow(cameraId, this);
    window->installEventFilter(this);
    window->Video()->installEventFilter(this);
    connect(window, &CCameraWindow::ActivateClicked, this, [this](int32_t id) { SwitchCamera(id); });
    m_cameraWindows.emplace(cameraId, window);
    window->SetSelected(cameraId == CurrentCameraId());
    window->show();
    Relayout();
    return window;
}

void CTavrixView::RemoveCameraWindow(int32_t cameraId) {
    const auto found = m_cameraWindows.find(cameraId);
    if (found == m_cameraWindows.end()) {
        return;
    }
    CCameraWindow* window = found->second;
    m_cameraWindows.erase(found);
    delete window;
    if (m_enlargedId == cameraId) {
        m_enlargedId = -1;
    }
    if (m_fullScreenId == cameraId) {
        m_fullScreenId = -1;
    }
    SelectCamera(CurrentCameraId());
    Relayout();
}

void CTavrixView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Relayout();
}

void CTavrixView::Relayout() {
    // A pane shown alone on the screen is not part of the grid until it comes back.
    std::vector<CCameraWindow*> panes;
    for (const auto& [id, window] : m_cameraWindows) {
        if (id != m_fullScreenId) {
            panes.push_back(window);
        }
    }
    m_empty->setVisible(m_cameraWindows.empty());
    m_empty->setGeometry(rect());
    if (panes.empty()) {
        m_columns = m_rows = 0;
        return;
    }
    const QRect area = rect().adjusted(kSpacing, kSpacing, -kSpacing, -kSpacing);
    if (CCameraWindow* enlarged = m_enlargedId != m_fullScreenId ? FindCameraWindow(m_enlargedId) : nullptr) {
        for (CCameraWindow* window : panes) {
            window->setVisible(window == enlarged);
        }
        enlarged->setGeometry(area);
        m_columns = m_rows = 1;
        return;
    }
    // The pictures' aspect ratio: the first camera's picture size (4:3 until it is known).
    const CCameraWindow* first = panes.front();
    const QSize video = first->Video()->sizeHint();
    const double aspect =
        video.height() > 0 ? static_cast<double>(video.width()) / video.height() : 4.0 / 3.0;
    const CameraGrid::CLayout layout = CameraGrid::Compute(static_cast<int>(panes.size()), area.size(),
                                                           aspect, first->ChromeHeight(), kSpacing);
    m_columns = layout.columns;
    m_rows = layout.rows;
    for (size_t index = 0; index < panes.size(); ++index) {
        panes[index]->setGeometry(layout.panes[index].translated(area.topLeft()));
        panes[index]->setVisible(true);
    }
}

void CTavrixView::SelectCamera(int32_t cameraId) {
    if (m_cameraWindows.count(cameraId) != 0) {
        m_currentCameraId = cameraId;
    }
    const int32_t current = CurrentCameraId();
    for (const auto& [id, window] : m_cameraWindows) {
        window->SetSelected(id == current);
    }
}

void CTavrixView::SetEnlargedCamera(int32_t cameraId) {
    m_enlargedId = m_cameraWindows.count(cameraId) != 0 ? cameraId : -1;
    if (m_enlargedId >= 0) {
        SelectCamera(m_enlargedId);
    }
    Relayout();
}

void CTavrixView::ToggleEnlarged(int32_t cameraId) {
    SetEnlargedCamera(m_enlargedId == cameraId ? -1 : cameraId);
    if (CCameraWindow* window = FindCameraWindow(cameraId)) {
        window->setFocus(Qt::OtherFocusReason);
    }
}

int32_t CTavrixView::CameraOf(QObject* watched) const {
    for (const auto& [id, window] : m_cameraWindows) {
        if (watched == window || watched == window->Video()) {
            return id;
        }
    }
    return -1;
}

void CTavrixView::UpdateCameraTitle(CCameraView& cameraView) {
    if (CCameraWindow* window = FindCameraWindow(cameraView.GetCameraId())) {
        const QString stateText = QString::fromStdString(cameraView.GetStateText());
        window->SetTitle(QString::fromStdString(cameraView.GetCameraName()), stateText);
        window->SetState(cameraView.GetState(), stateText, StateReason(cameraView.GetState()));
        window->SetActivated(cameraView.IsActivated());
    }
}

void CTavrixView::UpdateAllCameras() {
    if (m_core == nullptr) {
        return;
    }
    for (const int32_t id : m_core->GetCameraViewIds()) {
        if (CCameraView* cameraView = m_core->FindCameraView(id)) {
            UpdateCameraTitle(*cameraView);
        }
    }
    UpdateCaptions();
}

void CTavrixView::UpdateCaptions() {
    for (const auto& [id, window] : m_cameraWindows) {
        CCameraView* cameraView = m_core ? m_core->FindCameraView(id) : nullptr;
        if (cameraView == nullptr) {
            window->Video()->SetCaption(QString());
            continue;
        }
        const int32_t state = cameraView->GetState();
        QString caption = QString::fromStdString(cameraView->GetStateText());
        // The changed pixels count only while the camera watches.
        if (IsWatching(state)) {
            caption += QString("   %1 changed pixels").arg(cameraView->GetMotionDetector().GetLastCount());
        }
        window->Video()->SetCaption(caption);
    }
}

void CTavrixView::UpdateCameraButtons() {
    for (const auto& [id, window] : m_cameraWindows) {
        if (CCameraView* cameraView = m_core ? m_core->FindCameraView(id) : nullptr) {
            window->SetActivated(cameraView->IsActivated());
        }
    }
}

void CTavrixView::SwitchCamera(int32_t cameraId) {
    SelectCamera(cameraId);
    if (m_core == nullptr) {
        return;
    }
    m_core->OnCameraButton(cameraId);
    // A camera without its device keeps its state: its button follows the switch all the same.
    if (CCameraView* cameraView = m_core->FindCameraView(cameraId)) {
        UpdateCameraTitle(*cameraView);
    }
}

bool CTavrixView::eventFilter(QObject* watched, QEvent* event) {
    const int32_t cameraId = CameraOf(watched);
    if (cameraId < 0) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::FocusIn:
        SelectCamera(cameraId);
        break;
    case QEvent::ContextMenu:
        SelectCamera(cameraId);
        ShowContextMenu(cameraId, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    case QEvent::MouseButtonDblClick:
        if (cameraId == m_fullScreenId) {
            SetFullScreenCamera(-1);
        } else {
            ToggleEnlarged(cameraId);
        }
        return true;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (cameraId == m_fullScreenId) {
            if (FullScreenKey(key)) {
                return true;
            }
            break;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ToggleEnlarged(cameraId);
            return true;
        }
        if (key == Qt::Key_Escape && m_enlargedId >= 0) {
            SetEnlargedCamera(-1);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void CTavrixView::ShowContextMenu(int32_t cameraId, const QPoint& globalPos) {
    QMenu menu(this);
    const CCameraWindow* cameraWindow = FindCameraWindow(cameraId);
    menu.addAction(QString("&") + cameraWindow->ActivateButton()->text(), this,
                   [this, cameraId] { SwitchCamera(cameraId); });
    menu.addAction(m_enlargedId == cameraId ? "Back to the &Grid" : "&Enlarge", this,
                   [this, cameraId] { ToggleEnlarged(cameraId); });
    menu.addAction(m_fullScreenId == cameraId ? "Back from &Full Screen" : "&Full Screen", this,
                   [this, cameraId] { SetFullScreenCamera(m_fullScreenId == cameraId ? -1 : cameraId); });
    menu.addAction("Save &Snapshot", this, [this, cameraId] { SaveSnapshot(cameraId); });
    QAction* mask = menu.addAction("Show Active A&rea", this,
                                   [this, cameraId](bool shown) { SetMaskShown(cameraId, shown); });
    mask->setCheckable(true);
    mask->setChecked(IsMaskShown(cameraId));
    menu.addSeparator();
    menu.addAction("Camera &Properties...", this, [this, cameraId] { EditCamera(cameraId); });
    menu.addAction("De&lete Camera", this, [this, cameraId] { DeleteCamera(cameraId); });
    menu.exec(globalPos);
}

void CTavrixView::AfterEdit() {
    if (m_core) {
        m_core->RefreshCameraViews();
    }
    UpdateAllCameras(); // a renamed camera's title follows at once
    UpdateMaskOverlays();
    UpdateTitle();
    emit DocumentChanged();
}

bool CTavrixView::EditCamera(int32_t cameraId) {
    CTavrixDoc* document = Document();
    if (document == nullptr || !CCameraPropertySheet::Edit(*document, cameraId, this, window())) {
        return false;
    }
    AfterEdit();
    return true;
}

bool CTavrixView::EditDocument() {
    CTavrixDoc* document = Document();
    if (document == nullptr || !CDocPropertySheet::Edit(*document, window())) {
        return false;
    }
    AfterEdit();
    return true;
}

bool CTavrixView::AddCamera() {
    CTavrixDoc* document = Document();
    if (document == nullptr) {
        return false;
    }
    CTavrixDocData copy = document->GetData();
    CCamera* camera = copy.AddCamera();
    if (camera == nullptr) {
        return false;
    }
    ChooseNewCameraDevice(copy, *camera, CDxDeviceMgrImpl::Instance().GetDevices());
    CCameraPropertySheet sheet(copy, camera->GetId(), nullptr, window());
    if (sheet.exec() != QDialog::Accepted) {
        return false;
    }
    document->SetData(copy);
    AfterEdit();
    return true;
}

bool CTavrixView::DeleteCamera(int32_t cameraId) {
    CTavrixDoc* document = Document();
    if (document == nullptr) {
        return false;
    }
    const std::string name = document->GetCameraName(cameraId);
    if (!UiMessages::AskYesNo(window(),
                              QString("Delete the camera '%1'?").arg(QString::fromStdString(name)))) {
        return false;
    }
    CTavrixDocData copy = document->GetData();
    if (!copy.m_cameras.Remove(cameraId)) {
        return false;
    }
    document->SetData(copy);
    AfterEdit();
    return true;
}

void CTavrixView::RequestSnapshot(int32_t cameraId, Done done) {
    CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr;
    if (cameraView == nullptr) {
        QMetaObject::invokeMethod(
            this, [done] { done(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    // The handle holds what the picture is taken from, so the wait (up to two seconds) may run on
    // a pool thread while the camera view is rebuilt or goes away.
    CSnapshotHandle handle = cameraView->PrepareSnapshot();
    BackgroundTask::Run(
        this,
        [handle]() -> std::optional<QImage> {
            CRgbPicture picture;
            if (!handle.Take(&picture)) {
                return std::nullopt;
            }
            QImage image = ToImage(picture);
            return image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image));
        },
        [done](CTavrixView&, std::optional<QImage> image) { done(std::move(image)); });
}

int32_t CTavrixView::LiveChangedPixels(int32_t cameraId) {
    CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr;
    if (cameraView == nullptr || !cameraView->HasGraph() || !IsWatching(cameraView->GetState())) {
        return -1;
    }
    return cameraView->GetMotionDetector().GetLastCount();
}

QString CTavrixView::LiveDecoder(int32_t cameraId) {
    CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr;
    if (cameraView == nullptr || !cameraView->HasGraph()) {
        return {};
    }
    return QString::fromStdString(cameraView->GetStreamDecoder());
}

QImage CTavrixView::LivePicture(int32_t cameraId) {
    const CCameraWindow* window = FindCameraWindow(cameraId);
    return window ? window->Video()->CurrentFrame() : QImage();
}

void CTavrixView::ChooseNewCameraDevice(CTavrixDocData& data, CCamera& camera,
                                        const std::map<std::string, std::string>& devices) {
    std::set<std::string> used;
    std::set<std::string> names;
    for (const auto& [id, existing] : data.m_cameras) {
        if (existing.get() != &camera) {
            used.insert(existing->m_videoDeviceDN);
            names.insert(existing->m_camName);
        }
    }
    for (const auto& [displayName, friendlyName] : devices) {
        if (used.count(displayName) != 0) {
            continue;
        }
        camera.m_videoDeviceDN = displayName;
        if (!friendlyName.empty()) {
            std::string name = friendlyName;
            for (int number = 2; names.count(name) != 0; ++number) {
                name = friendlyName + " (" + std::to_string(number) + ")";
            }
            camera.m_camName = name;
        }
        return;
    }
    // Every device in use: the device of the document's first camera, as before.
    for (const auto& [id, existing] : data.m_cameras) {
        if (existing.get() != &camera && !existing->m_videoDeviceDN.empty()) {
            camera.m_videoDeviceDN = existing->m_videoDeviceDN;
            return;
        }
    }
}
