#include "app/qt/PropMotionDlg.h"

#include "app/qt/FrameRateBox.h"
#include "app/qt/MotionGraph.h"
#include "app/qt/PropActiveAreaDlg.h"
#include "grabber/VideoFormat.h"
#include "recording/DxDeviceMgr.h"
#include "recording/PreEventBuffer.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace {
// The rate taken for a device whose best is not known yet (as the device manager takes it for a
// device that names none).
constexpr int32_t kUnknownBestFps = 30;

struct SettingInfo {
    const char* label;
    int32_t maximum;
    const char* unit;
    int32_t pageStep;
};
constexpr SettingInfo kSettings[] = {
    {"&Grey level threshold:", 1000, "\u2030", 10},
    {"&Changed pixels:", 1000, "pixels", 10},
    {"&Start delay:", 20000, "ms", 500},
    {"Sto&p delay:", 20000, "ms", 500},
    {"&Erosion:", 5, "passes", 1},
    {"P&re-event time:", 10000, "ms", 500},
    {"Activation &countdown:", 120, "s", 5},
};
} // namespace

int32_t CPropMotionDlg::Maximum(Setting setting) {
    return kSettings[setting].maximum;
}

int64_t CPropMotionDlg::PreEventBytes(const CCamera& camera, int32_t delayMs) {
    const int64_t frameBytes = static_cast<int64_t>(BgrRowStride(std::max(camera.m_videoSizeCx, 0))) *
                               std::max(camera.m_videoSizeCy, 0);
    // As the camera view sizes its buffer: the delay over the frame time, truncated.
    const int64_t frames = static_cast<int64_t>(std::max(delayMs, 0)) * EffectiveFps(camera) / 1000;
    return frameBytes * frames;
}

int32_t CPropMotionDlg::EffectiveFps(const CCamera& camera) {
    if (camera.m_fps > 0 && camera.m_fps < CFrameRateBox::kBestStored) {
        return camera.m_fps;
    }
    // Only formats read already (the Video page, a running camera): reading them opens the device.
    CDxDeviceMgrImpl& devices = CDxDeviceMgrImpl::Instance();
    if (!camera.m_videoDeviceDN.empty() && devices.HasCachedCaps(camera.m_videoDeviceDN)) {
        const int32_t best = devices.GetVideoDeviceCaps(camera.m_videoDeviceDN).maxFPS;
        if (best > 0) {
            return best;
        }
    }
    return kUnknownBestFps;
}

void CPropMotionDlg::showEvent(QShowEvent* event) {
    CCameraPage::showEvent(event);
    ShowPreEventMemory(); // the video format may have been stored since
    ApplyPreview();
    UpdateLive();
    m_liveTimer->start();
}

void CPropMotionDlg::hideEvent(QHideEvent* event) {
    m_liveTimer->stop();
    EndPreview();
    CCameraPage::hideEvent(event);
}

CPropMotionDlg::~CPropMotionDlg() {
    EndPreview();
}

int32_t CPropMotionDlg::ChosenValue(Setting setting) const {
    const Row& row = m_rows[setting];
    const int32_t shown = std::clamp(row.stored, 0, kSettings[setting].maximum);
    return row.slider->value() == shown ? row.stored : row.slider->value();
}

void CPropMotionDlg::ApplyPreview() {
    if (m_live == nullptr || !isVisible()) {
        return;
    }
    m_live->PreviewMotion(m_cameraId, ChosenValue(kGreyLevel), ChosenValue(kPixelCount),
                          ChosenValue(kErosionLevel));
    m_previewing = true;
}

void CPropMotionDlg::EndPreview() {
    if (m_live != nullptr && m_previewing) {
        m_previewing = false;
        m_live->EndMotionPreview(m_cameraId);
    }
}

QString CPropMotionDlg::ValueText(Setting setting, int32_t value) {
    switch (setting) {
    case kGreyLevel:
        return QString("%1 %").arg(value / 10.0, 0, 'f', 1); // stored in thousandths
    case kErosionLevel:
        return value == 1 ? QString("1 pass") : QString("%1 passes").arg(value);
    default:
        return QString("%1 %2").arg(value).arg(kSettings[setting].unit);
    }
}

void CPropMotionDlg::UpdateLive() {
    m_graph->SetThreshold(m_rows[kPixelCount].slider->value());
    const int32_t count = m_live ? m_live->LiveChangedPixels(m_cameraId) : -1;
    if (count < 0) {
        m_graph->SetUnavailable(
            m_live ? "The camera does not watch: switch it on to see its changed pixels here."
                   : "No live picture for a camera that is not running yet.");
        m_livePicture->setText("No live picture");
        return;
    }
    m_graph->AddValue(count);
    const QImage picture = m_live->LivePicture(m_cameraId);
    if (!picture.isNull()) {
        m_livePicture->setPixmap(QPixmap::fromImage(
            picture.scaled(m_livePicture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    }
}

void CPropMotionDlg::ShowPreEventMemory() {
    const CCamera& camera = Camera();
    // An unmoved slider stands for the stored value, also one beyond its range.
    const int32_t delayMs = ChosenValue(kPreEventDelay);
    const int64_t bytes = PreEventBytes(camera, delayMs);
    const bool best = camera.m_fps <= 0 || camera.m_fps >= CFrameRateBox::kBestStored;
    QString text = QString("Pre-event buffer: %1 (%2\u00d7%3, %4%5 frames/s, %6 s)")
                       .arg(QString::fromStdString(CPreEventBuffer::FormatBytes(bytes)))
                       .arg(camera.m_videoSizeCx)
                       .arg(camera.m_videoSizeCy)
                       .arg(best ? "best " : "")
                       .arg(EffectiveFps(camera))
                       .arg(delayMs / 1000.0, 0, 'f', 1);
    const int64_t share = CPreEventBuffer::MemoryCapPerCamera(CPreEventBuffer::PhysicalMemoryBytes(),
                                                              static_cast<int32_t>(m_data.m_cameras.Size()));
    if (bytes > share && bytes > 0) {
        const double keptSeconds = delayMs / 1000.0 * static_cast<double>(share) / static_cast<double>(bytes);
        text += QString("\nMore than this camera's share of memory (%1): about %2 s will be kept.")
                    .arg(QString::fromStdString(CPreEventBuffer::FormatBytes(share)))
                    .arg(keptSeconds, 0, 'f', 1);
    }
    m_preEventMemory->setText(text);
}

int32_t* CPropMotionDlg::Field(CCamera& camera, Setting setting) {
    switch (setting) {
    case kGreyLevel:
        return &camera.m_motionGreyLevel;
    case kPixelCount:
        return &camera.m_motionShortTermPixelCount;
    case kStartDelay:
        return &camera.m_motionStartDelay;
    case kStopDelay:
        return &camera.m_motionStopDelay;
    case kErosionLevel:
        return &camera.m_motionErosionLevel;
    case kPreEventDelay:
        return &camera.m_motionPreEventDelay;
    case kCountdown:
        return &camera.m_motionCountdown;
    default:
        return nullptr;
    }
}

CPropMotionDlg::CPropMotionDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent, ISnapshotSource* live)
    : CCameraPage(data, cameraId, parent), m_live(live) {
    auto* form = new QFormLayout;
    CCamera& camera = Camera();
    for (int i = 0; i < kSettingCount; ++i) {
        const auto setting = static_cast<Setting>(i);
        const SettingInfo& info = kSettings[i];
        Row& row = m_rows[static_cast<size_t>(i)];
        row.stored = *Field(camera, setting);
        row.slider = new QSlider(Qt::Horizontal, this);
        row.slider->setRange(0, info.maximum);
        row.slider->setPageStep(info.pageStep);
        row.slider->setValue(std::clamp(row.stored, 0, info.maximum));
        row.value = new QLabel(this);
        row.value->setMinimumWidth(row.value->fontMetrics().horizontalAdvance("20000 pixels"));
        const auto show = [label = row.value, setting](int value) {
            label->setText(ValueText(setting, value));
        };
        show(row.stored);
        connect(row.slider, &QSlider::valueChanged, row.value, show);
        auto* line = new QHBoxLayout;
        line->addWidget(row.slider, 1);
        line->addWidget(row.value);
        auto* label = new QLabel(info.label, this);
        label->setBuddy(row.slider); // else the label shows its "&"
        form->addRow(label, line);
    }
    m_preEventMemory = new QLabel(this);
    m_preEventMemory->setWordWrap(true);
    form->addRow(m_preEventMemory);
    connect(m_rows[kPreEventDelay].slider, &QSlider::valueChanged, this, [this] { ShowPreEventMemory(); });
    ShowPreEventMemory();

    // Live feedback: the graph and the picture side by side.
    m_graph = new CMotionGraph(this);
    m_graph->SetThreshold(m_rows[kPixelCount].slider->value());
    connect(m_rows[kPixelCount].slider, &QSlider::valueChanged, m_graph, &CMotionGraph::SetThreshold);
    m_livePicture = new QLabel(this);
    m_livePicture->setFixedSize(160, 120);
    m_livePicture->setAlignment(Qt::AlignCenter);
    m_livePicture->setStyleSheet("QLabel { background-color: black; color: gray; }");
    auto* liveGroup = new QGroupBox("Live (with the sliders' values; Cancel puts back the camera's)", this);
    auto* liveLayout = new QHBoxLayout(liveGroup);
    liveLayout->addWidget(m_graph, 1);
    liveLayout->addWidget(m_livePicture);
    m_liveTimer = new QTimer(this);
    m_liveTimer->setInterval(250);
    connect(m_liveTimer, &QTimer::timeout, this, &CPropMotionDlg::UpdateLive);
    for (const Setting previewed : {kGreyLevel, kPixelCount, kErosionLevel}) {
        connect(m_rows[previewed].slider, &QSlider::valueChanged, this, &CPropMotionDlg::ApplyPreview);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(liveGroup);
    UpdateLive();
}

void CPropMotionDlg::Store() {
    CCamera& camera = Camera();
    for (int i = 0; i < kSettingCount; ++i) {
        const auto setting = static_cast<Setting>(i);
        // Unmoved: the stored value stays, even where it lies outside the slider's range.
        *Field(camera, setting) = ChosenValue(setting);
    }
}
