#pragma once
// CPropMotionDlg: the camera's "Motion" page: sliders for the motion detector's settings, each
// from 0 to its maximum (grey level 0-1000 thousandths, pixel count 0-1000, start and stop delay
// 0-20000 ms, erosion 0-5 passes, pre-event time 0-10000 ms, activation countdown 0-120 s).
// A stored value outside its slider's range (a hand-edited file) is kept unless the slider is
// moved. GUI thread only.

#include "app/qt/PropertyPage.h"

#include <array>
#include <cstdint>

class QLabel;
class QSlider;

class CPropMotionDlg : public CCameraPage {
    Q_OBJECT
public:
    enum Setting {
        kGreyLevel,
        kPixelCount,
        kStartDelay,
        kStopDelay,
        kErosionLevel,
        kPreEventDelay,
        kCountdown,
        kSettingCount
    };

    CPropMotionDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr);

    QString Title() const override { return "Motion"; }
    void Store() override;

    QSlider* Slider(Setting setting) const { return m_rows[setting].slider; }
    static int32_t Maximum(Setting setting);

private:
    int32_t* Field(CCamera& camera, Setting setting);

    struct Row {
        QSlider* slider = nullptr;
        QLabel* value = nullptr;
        int32_t stored = 0;
    };
    std::array<Row, kSettingCount> m_rows;
};
