#pragma once
// CPlayback: plays one recording (AVI, WMV, MP4, Matroska: whatever GStreamer's playbin decodes)
// into frames for a window: every decoded picture is handed to the frame callback as RGBx, both
// while playing and when paused after a seek or a frame step, so that the window always shows the
// frame at the position. Speeds from 0.5x to 8x; frame steps forward.
//
// Threads: the methods are called on one thread (the player window's, the user-interface
// thread); the frame callback runs on GStreamer's streaming thread and must copy the picture and
// return. Poll is called regularly (a timer) to take the pipeline's messages (end, errors).

#include <cstdint>
#include <functional>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstAppSink GstAppSink;

class CPlayback {
public:
    // rgbx: 4 bytes a pixel, top row first, stride bytes a row; ptsMs: its position in the file.
    using FrameCallback = std::function<void(const uint8_t* rgbx, int32_t width, int32_t height,
                                             int32_t stride, int64_t ptsMs)>;

    static constexpr double kMinRate = 0.5;
    static constexpr double kMaxRate = 8.0;

    explicit CPlayback(FrameCallback onFrame);
    ~CPlayback();
    CPlayback(const CPlayback&) = delete;
    CPlayback& operator=(const CPlayback&) = delete;

    // Opens the file paused on its first frame (waits up to timeoutMs for it). False with the
    // reason in error when it cannot be played.
    bool Open(const std::string& path, std::string* error = nullptr, int timeoutMs = 10000);
    void Close();
    bool IsOpen() const { return m_pipeline != nullptr; }

    void Play();
    void Pause();
    bool IsPlaying() const { return m_playing; }
    // To a position (ms), exactly, at the current speed.
    bool Seek(int64_t ms);
    // 0.5 to 8 (clamped); takes effect at the current position.
    bool SetRate(double rate);
    double GetRate() const { return m_rate; }
    // Pauses and shows the next frame.
    bool StepFrame();

    int64_t PositionMs() const;
    int64_t DurationMs() const;
    // Takes the pipeline's messages; true once the end was reached. error receives an error text.
    bool Poll(std::string* error = nullptr);

private:
    static int OnSample(GstAppSink* sink, void* self, bool preroll);

    FrameCallback m_onFrame;
    GstElement* m_pipeline = nullptr;
    bool m_playing = false;
    bool m_ended = false;
    double m_rate = 1.0;
};
