#pragma once
// The video output at the end of a camera's preview pipeline, behind the grabber: it shows the
// frames with their overlay texts. The document's view hands one to each camera view it builds;
// the headless shell's renderer shows nothing (CNullVideoRenderer), the Qt shell's shows the
// frames in the camera's window, for instance through CFrameConsumerRenderer.
//
// Threads: CreateSink on the user interface thread while the camera view builds its pipeline;
// Place and Show there too, except when a lost device hides the window: then they come from the
// pipeline's event thread, so a GUI implementation posts them to its GUI thread and never waits. A frame
// consumer runs on the sink's streaming thread and must not block (copy the frame and post it to the GUI
// thread); the sink drops frames instead of holding up the capture when the consumer falls behind.

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <memory>

class IVideoRenderer {
public:
    virtual ~IVideoRenderer() = default;
    // The sink element for a new pipeline (a floating reference). Throws an exception of the
    // family when none can be made.
    virtual GstElement* CreateSink() = 0;
    // Places the video at (x, y) with the given size in the camera's window. Throws an exception
    // of the family when the window cannot be placed.
    virtual void Place(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual void Show(bool visible) = 0;
};

// No window: the frames end in a fakesink that keeps the pace of the clock, as a display would.
class CNullVideoRenderer : public IVideoRenderer {
public:
    GstElement* CreateSink() override;
    void Place(int32_t, int32_t, int32_t, int32_t) override {}
    void Show(bool) override {}
};

// Hands every frame that reaches the sink to a consumer: BGR, top-down, `stride` bytes a row.
// The optional placement and visibility hooks let a window follow Place and Show.
class CFrameConsumerRenderer : public IVideoRenderer {
public:
    using FrameConsumer =
        std::function<void(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride)>;
    using PlaceHook = std::function<void(int32_t x, int32_t y, int32_t width, int32_t height)>;
    using ShowHook = std::function<void(bool visible)>;

    explicit CFrameConsumerRenderer(FrameConsumer consumer, PlaceHook place = {}, ShowHook show = {});
    ~CFrameConsumerRenderer() override;

    GstElement* CreateSink() override;
    void Place(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Show(bool visible) override;

private:
    struct Shared;
    // Shared with the sinks' callbacks, which may outlive this object by a frame in flight.
    std::shared_ptr<Shared> m_shared;
    PlaceHook m_place;
    ShowHook m_show;
};
