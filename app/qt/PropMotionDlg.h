#pragma once
// CPropMotionDlg: the camera's "Motion" page: sliders for the motion detector's settings, each
// from 0 to its maximum (grey level 0-1000 thousandths, pixel count 0-1000, start and stop delay
// 0-20000 ms, erosion 0-5 passes, pre-event time 0-10000 ms, activation countdown 0-120 s).
// A stored value outside its slider's range (a hand-edited file) is kept unless the slider is
// moved. Below the sliders the page shows the memory the chosen pre-event time takes (frame size
// x frame rate x seconds, from the camera's stored video format) and whether it exceeds the
// camera's share of memory, beyond which the pre-event buffer keeps fewer seconds.
//
// The grey level reads in per cent ("15.0 %" for 150 thousandths), erosion in passes ("1 pass").
// While the page is shown and the camera watches, "Live" shows the changed-pixel count as a moving
// graph with the pixel-count slider's value as its threshold line, and the live picture with the
// changed pixels marked, refreshed four times a second. The running camera detects with the grey
// level, pixel count and erosion of the sliders while the page is shown (a preview: the document
// keeps its values until OK; hiding the page, Cancel included, puts the camera's back), so that
// the marks and the count answer a slider at once. GUI thread only.

#include "app/qt/PropertyPage.h"

#include <array>
#include <cstdint>

class CMotionGraph;
class ISnapshotSource;
class QLabel;
class QSlider;
class QTimer;

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

    // live: where the live count and picture come from (null: none, as in a new document).
    CPropMotionDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr,
                   ISnapshotSource* live = nullptr);
    ~CPropMotionDlg() override;

    QString Title() const override { return "Motion"; }
    void Store() override;

    QSlider* Slider(Setting setting) const { return m_rows[setting].slider; }
    QLabel* PreEventMemoryLabel() const { return m_preEventMemory; }
    QLabel* ValueLabel(Setting setting) const { return m_rows[setting].value; }
    CMotionGraph* Graph() const { return m_graph; }
    QLabel* LivePictureLabel() const { return m_livePicture; }
    // One refresh of the live graph and picture (the page's timer calls it).
    void UpdateLive();
    // The text beside a slider: "15.0 %", "1 pass", "500 ms".
    static QString ValueText(Setting setting, int32_t value);
    static int32_t Maximum(Setting setting);
    // The bytes the pre-event buffer takes for delayMs of the camera's frames (BGR frames of its
    // video size at its frame rate, as many as the camera view buffers).
    static int64_t PreEventBytes(const CCamera& camera, int32_t delayMs);
    // The rate the camera's frames come at: its stored rate, or for the device's best (the
    // default 1000, or 0) the best rate of the device when its formats are known, else 30.
    static int32_t EffectiveFps(const CCamera& camera);
    // Whether the running camera detects with the sliders' values now.
    bool IsPreviewing() const { return m_previewing; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int32_t* Field(CCamera& camera, Setting setting);
    void ShowPreEventMemory();
    // The value a setting would be stored with: the slider's, or the stored one while unmoved.
    int32_t ChosenValue(Setting setting) const;
    void ApplyPreview();
    void EndPreview();

    struct Row {
        QSlider* slider = nullptr;
        QLabel* value = nullptr;
        int32_t stored = 0;
    };
    std::array<Row, kSettingCount> m_rows;
    QLabel* m_preEventMemory = nullptr;
    ISnapshotSource* m_live = nullptr;
    CMotionGraph* m_graph = nullptr;
    QLabel* m_livePicture = nullptr;
    QTimer* m_liveTimer = nullptr;
    bool m_previewing = false;
};
