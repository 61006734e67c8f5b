#pragma once
// The frame-producing logic of the "tavrixsource" element and its control interface
// ITavrixSource. GstTavrixSource (the GObject element) owns one instance and forwards its
// virtual methods here: Start/Stop and caps from the state-change and streaming threads, Fill
// from the streaming thread for every frame, Unlock/UnlockStop from whichever thread flushes or
// stops the element. The control operations are called by the application.
//
// Locks, never nested: m_stateLock guards the settings and the callback; m_streamLock the stream
// time and frame count; m_waitLock the flushing flag that ends a pause between two attempts.

#include "source/ITavrixSource.h"

#include <gst/base/gstpushsrc.h>
#include <gst/video/video.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

class CTavrixSource final : public ITavrixSource {
public:
    explicit CTavrixSource(GstBaseSrc* element);
    CTavrixSource(const CTavrixSource&) = delete;
    CTavrixSource& operator=(const CTavrixSource&) = delete;

    // ITavrixSource
    HRESULT SetSampleCallback(ITavrixSourceCB* callback) override;
    HRESULT SetVideoSize(int width, int height) override;
    HRESULT SetFrameTime(REFERENCE_TIME timePerFrame) override;
    HRESULT SetPixelFormat(int format) override;

    // The element's side.
    // Takes the settings for this run; false (with an error posted) when no size was set.
    bool Start();
    void Stop();
    // The one format offered (the template caps while no size is known), intersected with filter.
    GstCaps* GetCaps(GstCaps* filter);
    bool SetCaps(GstCaps* caps);
    // Sets up a pool of frame-sized buffers for the negotiated caps.
    bool DecideAllocation(GstQuery* query);
    // The next frame: lent by the callback and wrapped without a copy when it lends, else copied
    // by the callback into a buffer of the element's pool (Fill).
    GstFlowReturn Create(GstBuffer** out);
    // Asks the callback until it gives a frame, ends the stream or the element is flushed.
    GstFlowReturn Fill(GstBuffer* buffer);
    void Unlock();
    void UnlockStop();

    // The frame rate offered for a frame time: 10^7 / timePerFrame as a fraction, 30/1 rather
    // than 10000000/333333 when the frame time is an integer rate's truncated interval.
    static void FrameRateFromFrameTime(REFERENCE_TIME timePerFrame, int* numerator, int* denominator);

private:
    GstCaps* FixedCaps(int width, int height, REFERENCE_TIME frameTime, int format) const;
    // Waits one frame time (5 ms to 1 s) or until flushed; false when flushed.
    bool PauseBeforeRetry(REFERENCE_TIME frameTime);
    // Asks the callback to lend frames; GST_FLOW_CUSTOM_SUCCESS when it does not lend.
    GstFlowReturn CreateLent(GstBuffer** out);
    // The callback to ask and the frame time; false (with *result) when flushing.
    bool NextCallback(ITavrixSourceCB** callback, REFERENCE_TIME* frameTime, GstFlowReturn* result);
    // Time stamps, offsets and flags of the next frame, which lasts duration.
    void Stamp(GstBuffer* buffer, REFERENCE_TIME duration);

    GstBaseSrc* const m_element;

    std::mutex m_stateLock;
    ITavrixSourceCB* m_callback = nullptr;
    int m_width = 0;
    int m_height = 0;
    REFERENCE_TIME m_frameTime = 0;
    int m_format = kTavrixFormatBgr;
    bool m_started = false;
    int m_activeWidth = 0; // the settings of the current run, taken at Start
    int m_activeHeight = 0;
    REFERENCE_TIME m_activeFrameTime = 0;
    int m_activeFormat = kTavrixFormatBgr;

    std::mutex m_streamLock;
    REFERENCE_TIME m_streamTime = 0; // start of the next frame, 0 when the element starts
    uint64_t m_frameCount = 0;
    GstVideoInfo m_info{}; // negotiated format; written and read on the streaming thread
    bool m_lends = true;   // streaming thread: the callback may lend its frames

    std::mutex m_waitLock;
    std::condition_variable m_waitCond;
    bool m_flushing = false;
};
