#include "app/qt/TavrixView.h"

#include "app/qt/BackgroundTask.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/CameraWindow.h"
#include "app/qt/DocPropertySheet.h"
#include "app/qt/UiMessages.h"
#include "app/qt/VideoWidget.h"
#include "persistence/TavrixDoc.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>

#include <cmath>

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

} // namespace

CTavrixView::CTavrixView(QWidget* parent) : QWidget(parent) {
    m_grid = new QGridLayout(this);
    m_grid->setContentsMargins(2, 2, 2, 2);
    m_grid->setSpacing(4);
    m_empty = new QLabel("This document has no cameras.", this);
    m_empty->setAlignment(Qt::AlignCenter);
    m_grid->addWidget(m_empty, 0, 0);
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
    m_grid->removeWidget(window);
    delete window;
    Relayout();
}

void CTavrixView::Relayout() {
    for (const auto& [id, window] : m_cameraWindows) {
        m_grid->removeWidget(window);
    }
    m_grid->removeWidget(m_empty);
    m_empty->setVisible(m_cameraWindows.empty());
    if (m_cameraWindows.empty()) {
        m_grid->addWidget(m_empty, 0, 0);
        return;
    }
    // As square a grid as the number of cameras allows, in camera id order.
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(m_cameraWindows.size()))));
    int index = 0;
    for (const auto& [id, window] : m_cameraWindows) {
        m_grid->addWidget(window, index / columns, index % columns);
        ++index;
    }
}

void CTavrixView::UpdateCameraTitle(CCameraView& cameraView) {
    if (CCameraWindow* window = FindCameraWindow(cameraView.GetCameraId())) {
        window->SetTitle(QString::fromStdString(cameraView.GetCameraName()),
                         QString::fromStdString(cameraView.GetStateText()));
        window->SetActivated(cameraView.IsActivated());
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
    m_currentCameraId = cameraId;
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
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn) {
        for (const auto& [id, window] : m_cameraWindows) {
            if (watched == window || watched == window->Video()) {
                m_currentCameraId = id;
            }
        }
    } else if (event->type() == QEvent::ContextMenu) {
        for (const auto& [id, window] : m_cameraWindows) {
            if (watched == window || watched == window->Video()) {
                const int32_t cameraId = id;
                m_currentCameraId = cameraId;
                QMenu menu(this);
                const CCameraWindow* cameraWindow = window;
                menu.addAction(QString("&") + cameraWindow->ActivateButton()->text(), this,
                               [this, cameraId] { SwitchCamera(cameraId); });
                menu.addAction("Camera &Properties...", this, [this, cameraId] { EditCamera(cameraId); });
                menu.addAction("De&lete Camera", this, [this, cameraId] { DeleteCamera(cameraId); });
                menu.exec(static_cast<QContextMenuEvent*>(event)->globalPos());
                return true;
            }
        }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        for (const auto& [id, window] : m_cameraWindows) {
            if (watched == window || watched == window->Video()) {
                const int32_t cameraId = id;
                // After this event has been handled: the sheet runs its own event loop.
                QMetaObject::invokeMethod(
                    this, [this, cameraId] { EditCamera(cameraId); }, Qt::QueuedConnection);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CTavrixView::AfterEdit() {
    if (m_core) {
        m_core->RefreshCameraViews();
    }
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
    // A new camera starts on the device of the document's first camera, if any.
    for (const auto& [id, existing] : copy.m_cameras) {
        if (existing.get() != camera && !existing->m_videoDeviceDN.empty()) {
            camera->m_videoDeviceDN = existing->m_videoDeviceDN;
            break;
        }
    }
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
