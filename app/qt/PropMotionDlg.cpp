#include "app/qt/PropMotionDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>

#include <algorithm>

namespace {
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

CPropMotionDlg::CPropMotionDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent)
    : CCameraPage(data, cameraId, parent) {
    auto* form = new QFormLayout(this);
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
        const QString unit = info.unit;
        const auto show = [label = row.value, unit](int value) {
            label->setText(QString("%1 %2").arg(value).arg(unit));
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
}

void CPropMotionDlg::Store() {
    CCamera& camera = Camera();
    for (int i = 0; i < kSettingCount; ++i) {
        const auto setting = static_cast<Setting>(i);
        const Row& row = m_rows[static_cast<size_t>(i)];
        const int32_t shown = std::clamp(row.stored, 0, kSettings[i].maximum);
        // Unmoved: the stored value stays, even where it lies outside the slider's range.
        *Field(camera, setting) = row.slider->value() == shown ? row.stored : row.slider->value();
    }
}
