#pragma once
// The frame-grabbing logic of the "tavrixgrabber" element and its control interface
// ITavrixGrabber. GstTavrixGrabber (the GObject element) owns one instance and forwards its
// virtual methods here: SetCaps and Stop from the streaming/state-change threads, ProcessFrame
// from the streaming thread for every buffer. The control operations are called by the
// application from any thread.
//
// Locks: m_frameLock (the element's frame lock) guards the callback, the negotiated format and the
// sample buffer, and is held while a frame is processed; m_snapshotLock guards the finished
// snapshot and is only ever taken inside m_frameLock or alone.

#include "grabber/ITavrixGrabber.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/video.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class CTavrixGrabber final : public ITavrixGrabber {
public:
    // element: the owning element (not owned; outlives this object). snapshotTimeoutMs is asked
    // for at every TakeSnapshot, so the element's property can change it at any time.
    CTavrixGrabber(GstBaseTransform* element, std::function<uint32_t()> snapshotTimeoutMs);
    ~CTavrixGrabber();
    CTavrixGrabber(const CTavrixGrabber&) = delete;
    CTavrixGrabber& operator=(const CTavrixGrabber&) = delete;

    // ITavrixGrabber
    HRESULT GetInputMediaType(CVideoFormat* format) override;
    HRESULT SetFrameCallback(ITavrixGrabberCB* callback) override;
    HRESULT SetSampleBuffer(ALLOCATOR_PROPERTIES properties, uint8_t* buffer) override;
    HRESULT TakeSnapshot(CRgbPicture* picture) override;

    // The element's side.
    // Accepts the input caps: BGR or I420 video. False refuses them.
    bool SetCaps(GstCaps* caps);
    // The element stopped: the input is no longer negotiated.
    void Stop();
    // Before each buffer: whether the buffer must be writable (a callback is registered). The
    // element switches to passthrough when it need not be, so frames without a callback are not
    // copied even when shared.
    bool WantsWritableFrames();
    // One buffer; writable tells whether the element made it writable for this frame.
    GstFlowReturn ProcessFrame(GstBuffer* buffer, bool writable);

private:
    void FillSnapshotLocked(const GstMapInfo& map);
    // An I420 frame's snapshot, converted to BGR; before the frame is mapped for the callback.
    void FillYuvSnapshotLocked(GstBuffer* buffer);
    void PublishSnapshotLocked(std::unique_ptr<CRgbPicture> picture);
    void CopyToSampleBufferLocked(const GstMapInfo& map);

    GstBaseTransform* const m_element;
    const std::function<uint32_t()> m_snapshotTimeoutMs;

    std::recursive_mutex
        m_frameLock; // re-entrant: the callback may ask for the format or change the callback
    ITavrixGrabberCB* m_callback = nullptr;
    bool m_haveFormat = false;
    GstVideoInfo m_info{};
    GstVideoConverter* m_snapshotConverter = nullptr; // I420 to BGR, made at the first snapshot
    CVideoFormat m_format;
    ALLOCATOR_PROPERTIES m_bufferProperties;
    uint8_t* m_sampleBuffer = nullptr;

    // A snapshot request: set by TakeSnapshot, consumed by the next frame (tested without a lock
    // on every frame, so an idle grabber costs one atomic load).
    std::atomic<bool> m_snapshotRequested{false};
    std::mutex m_snapshotLock;
    std::condition_variable m_snapshotReadyCond;
    bool m_snapshotReady = false;
    std::unique_ptr<CRgbPicture> m_snapshot; // the last snapshot not yet taken
};
