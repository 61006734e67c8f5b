#pragma once
// CRecordingPlayer: the player window of a recording inside Tavrix. GStreamer's playbin decodes
// the file (AVI, WMV, MP4, Matroska) into frames that the window paints scaled to fit; below them
// play/pause, a seek bar with the moments of motion marked, a frame step, the speed (0.5x to 8x),
// full screen and "Export still..." (the frame shown, as PNG).
//
// GUI thread only, except the frame hand-over: the streaming thread copies each frame into
// m_pending under m_frameLock and queues a repaint.

#include "library/Playback.h"

#include <QImage>
#include <QSlider>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

// The seek bar: a slider over the recording's length in ms with the motion moments drawn as
// marks below the groove.
class CMotionSeekBar : public QSlider {
    Q_OBJECT
public:
    explicit CMotionSeekBar(QWidget* parent = nullptr);
    void SetMoments(std::vector<int64_t> moments) {
        m_moments = std::move(moments);
        update();
    }
    const std::vector<int64_t>& Moments() const { return m_moments; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<int64_t> m_moments;
};

class CRecordingPlayer : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kSpeeds[] = {"0.5x", "1x", "2x", "4x", "8x"};

    explicit CRecordingPlayer(QWidget* parent = nullptr);
    ~CRecordingPlayer() override;

    // Opens a recording paused on its first frame; motion moments in ms from its start. False with
    // the reason shown in the window when it cannot be played.
    bool Open(const QString& path, std::vector<int64_t> motionMs = {});
    // A new player window for a recording (deleted when closed); the motion moments are read from
    // the catalogue at userDbPath when it lists the file.
    static CRecordingPlayer* ShowRecording(const QString& path, const QString& userDbPath, QWidget* parent);

    void Play();
    void Pause();
    void TogglePlay();
    void StepFrame();
    void SetSpeed(double rate);
    void SeekTo(int64_t ms);
    void ToggleFullScreen();
    // Saves the frame shown as PNG; false when there is none or the file cannot be written.
    bool ExportStill(const QString& path);

    // For the tests.
    CPlayback& Playback() { return m_playback; }
    int FramesShown() const { return m_framesShown; }
    QImage CurrentFrame() const { return m_frame; }
    CMotionSeekBar* SeekBar() const { return m_seekBar; }
    const QString& ErrorText() const { return m_error; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The buttons, the speed and the seek bar answer the user; the position is shown by a timer.
    void ConnectControls(QPushButton* step, QPushButton* fullScreen, QPushButton* still);
    void OnFrame(const uint8_t* rgbx, int32_t width, int32_t height, int32_t stride);
    void TakeFrame();
    void OnTick();
    QRect VideoRect() const;

    CPlayback m_playback;
    QString m_path;
    QString m_error;
    QImage m_frame; // the frame painted
    int m_framesShown = 0;

    std::mutex m_frameLock; // guards m_pending; innermost
    QImage m_pending;
    std::atomic<bool> m_repaintQueued{false};

    QWidget* m_controls;
    QPushButton* m_playButton;
    CMotionSeekBar* m_seekBar;
    QComboBox* m_speed;
    QLabel* m_time;
    QTimer* m_timer;
    bool m_userSeeking = false;
};
