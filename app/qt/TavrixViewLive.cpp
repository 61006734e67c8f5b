// The document window's live extras (TavrixView.h): a camera alone on the whole screen, the active
// area drawn over the live picture, snapshots in the chosen format and the Motion page's preview
// of unsaved detector settings on the running camera.

#include "app/qt/TavrixView.h"

#include "app/qt/CameraWindow.h"
#include "app/qt/SnapshotFormat.h"
#include "app/qt/VideoWidget.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"

#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>

namespace {

// Red at about 55 % cover, as the mask editor paints inactive pixels.
const QRgb kInactiveColour = qPremultiply(qRgba(255, 0, 0, 140));

} // namespace

// ---- one camera on the whole screen ----

void CTavrixView::SetFullScreenCamera(int32_t cameraId) {
    if (cameraId == m_fullScreenId) {
        return;
    }
    if (CCameraWindow* back = FindCameraWindow(m_fullScreenId)) {
        // Back into the grid: a child pane again (changing the parent hides it; Relayout shows it).
        back->setWindowState(Qt::WindowNoState);
        // (setParent(this) alone does nothing: the parent stays the same, only the kind changes.)
        back->setParent(this, back->windowFlags() & ~Qt::WindowType_Mask);
        m_fullScreenId = -1;
        Relayout();
        back->setFocus(Qt::OtherFocusReason);
    }
    m_fullScreenId = -1;
    CCameraWindow* window = FindCameraWindow(cameraId);
    if (window == nullptr) {
        Relayout();
        return;
    }
    m_fullScreenId = cameraId;
    SelectCamera(cameraId);
    // A window of its own that this view still owns: closing the document removes it as well.
    window->setParent(this, Qt::Window);
    window->setWindowTitle(window->TitleLabel()->toolTip());
    window->showFullScreen();
    window->activateWindow();
    window->setFocus(Qt::OtherFocusReason);
    Relayout();
}

bool CTavrixView::FullScreenKey(int key) {
    // The main window's F11 does not reach a window of its own: its keys are handled here.
    const bool fullScreenKey =
        key == Qt::Key_F11 || QKeySequence::keyBindings(QKeySequence::FullScreen).contains(QKeySequence(key));
    if (key == Qt::Key_Escape || fullScreenKey) {
        SetFullScreenCamera(-1);
        return true;
    }
    return key == Qt::Key_Return || key == Qt::Key_Enter; // enlarging means nothing here
}

// ---- the active area over the live picture ----

QImage CTavrixView::MaskOverlay(const CBinaryImage& mask) {
    if (mask.GetWidth() <= 0 || mask.GetHeight() <= 0) {
        return QImage();
    }
    QImage overlay(mask.GetWidth(), mask.GetHeight(), QImage::Format_ARGB32_Premultiplied);
    if (overlay.isNull()) {
        return overlay;
    }
    for (int32_t y = 0; y < mask.GetHeight(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(overlay.scanLine(y));
        for (int32_t x = 0; x < mask.GetWidth(); ++x) {
            line[x] = mask.GetPixel(x, y) ? kInactiveColour : 0;
        }
    }
    return overlay;
}

void CTavrixView::SetMaskShown(int32_t cameraId, bool shown) {
    if (shown) {
        m_maskHidden.erase(cameraId);
    } else {
        m_maskHidden.insert(cameraId);
    }
    UpdateMaskOverlays();
}

void CTavrixView::UpdateMaskOverlays() {
    const CTavrixDoc* document = Document();
    for (const auto& [id, window] : m_cameraWindows) {
        const std::optional<CCamera> camera = document ? document->FindCamera(id) : std::nullopt;
        const bool shown = camera && camera->m_areaMaskEnabled && IsMaskShown(id);
        window->Video()->SetMaskOverlay(shown ? MaskOverlay(camera->m_areaMaskImage) : QImage());
    }
}

// ---- snapshots ----

QString CTavrixView::SnapshotPath(const QString& folder, const QString& cameraName, const QDateTime& when,
                                  const QString& suffix) {
    QString name = cameraName;
    name.replace('/', '_').replace('\\', '_');
    if (name.isEmpty() || name == "." || name == "..") {
        name = "Camera";
    }
    return QDir(folder).filePath(QString("%1_%2.%3").arg(name, when.toString("ddMMyyyy_HHmmss"), suffix));
}

void CTavrixView::SaveSnapshot(int32_t cameraId, std::function<void(const QString& path)> done) {
    CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr;
    if (cameraView == nullptr) {
        if (done) {
            done(QString());
        }
        return;
    }
    const SnapshotFormat::EFormat format =
        SnapshotFormat::Read(CConfigMgrImpl::Instance().GetSettingsPath());
    const std::string documentName = cameraView->GetDocumentName();
    const std::string cameraName = cameraView->GetCameraName();
    const QString path =
        SnapshotPath(QString::fromStdString(cameraView->GetRecordPath()), QString::fromStdString(cameraName),
                     QDateTime::currentDateTime(), SnapshotFormat::Suffix(format));
    RequestSnapshot(cameraId, [documentName, cameraName, path, format, done](std::optional<QImage> image) {
        bool saved = false;
        if (image) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            const int quality = format == SnapshotFormat::EFormat::Jpeg ? SnapshotFormat::kJpegQuality : -1;
            saved = image->save(path, SnapshotFormat::QtName(format), quality);
        }
        CNotificationLog::Instance().AddEntry(
            documentName, cameraName,
            saved ? "Snapshot saved to '" + path.toStdString() + "'"
                  : "The snapshot could not be saved to '" + path.toStdString() + "'" +
                        (image ? std::string() : std::string(": the camera has no picture")));
        if (done) {
            done(saved ? path : QString());
        }
    });
}

// ---- the Motion page's preview ----

void CTavrixView::PreviewMotion(int32_t cameraId, int32_t greyLevel, int32_t pixelCount, int32_t erosionLevel) {
    if (CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr) {
        CMotionDetector& detector = cameraView->GetMotionDetector();
        detector.SetGreyLevel(greyLevel);
        detector.SetPixelCount(pixelCount);
        detector.SetErosionLevel(erosionLevel);
    }
}

void CTavrixView::EndMotionPreview(int32_t cameraId) {
    CCameraView* cameraView = m_core ? m_core->FindCameraView(cameraId) : nullptr;
    const CTavrixDoc* document = Document();
    const std::optional<CCamera> camera = document ? document->FindCamera(cameraId) : std::nullopt;
    if (cameraView != nullptr && camera) {
        // The document's values, as the camera view's options set them.
        PreviewMotion(cameraId, camera->m_motionGreyLevel, camera->m_motionShortTermPixelCount,
                      camera->m_motionErosionLevel);
    }
}
