#pragma once
// The contract between the application and the GStreamer element "tavrixsource" (plugin file
// libgsttavrixsource.so), the only source of each recording pipeline. It offers exactly one
// format, video/x-raw BGR (or I420, as the application chooses) of the size and frame time the
// application sets, and asks the
// application's ITavrixSourceCB for every frame on its streaming thread. The application reaches
// the control interface through the element's read-only pointer property "control":
//
//     ITavrixSource* source = nullptr;
//     g_object_get(element, "control", &source, nullptr);
//
// valid as long as the element exists. Control operations return result codes and never throw.
//
// Header-only: the plugin links no application code and the application links no plugin code.

#include "grabber/VideoFormat.h"
#include "platform/HResult.h"
#include "platform/MediaSample.h"

#include <cstddef>

// Returned by ITavrixSourceCB::GetSampleCB when there will be no more frames: the element ends
// the stream (end-of-stream travels down the pipeline, the multiplexer finishes the file and the
// sink posts EOS on the bus), so the application can wait for EOS and then stop the pipeline.
constexpr HRESULT TAVRIX_S_END_OF_STREAM = MakeHResult(0x00041001);

// The formats the element can offer (ITavrixSource::SetPixelFormat).
constexpr int kTavrixFormatBgr = 0;
constexpr int kTavrixFormatI420 = 1;

// A frame the application lends to the element instead of copying it: size bytes at data in the
// layout GetSampleCB describes, which stay unchanged until the element calls release(owner),
// once, from any thread, when no buffer of the pipeline reads them any more (possibly after the
// pipeline has stopped).
struct CTavrixLentFrame {
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* owner = nullptr;
    void (*release)(void* owner) = nullptr;
};

// Implemented by the application (the record context). Not reference counted: the application
// keeps the object alive until the pipeline has been stopped.
class ITavrixSourceCB {
public:
    // As GetSampleCB, but the frame is lent (the element wraps the bytes in its buffer, read-only)
    // rather than copied into a buffer of the element's. With S_OK and a frame, *frame is filled
    // and the element owns one release call. E_NOTIMPL (what callbacks that do not lend return):
    // the element asks GetSampleCB from then on. A frame smaller than the negotiated size is
    // released and skipped.
    virtual HRESULT LendSampleCB(CTavrixLentFrame* frame, REFERENCE_TIME* duration) {
        (void)frame;
        (void)duration;
        return E_NOTIMPL;
    }

    // Called on the element's streaming thread for each frame it is about to produce; may block
    // until the application has a frame. The sample views one frame buffer of the negotiated
    // format: BGR, top-down, BgrRowStride(width) bytes a row; or, when I420 was chosen, the
    // planes Y, U and V in GStreamer's I420 layout; GetSize() bytes in all.
    //
    // - A frame: fill the sample, set *duration (100-ns units, >= 0) and return S_OK. The frame
    //   is stamped [t, t + duration) where t starts at 0 when the element starts and advances
    //   by each duration.
    // - No frame this time: return S_FALSE, or return S_OK leaving *duration untouched. Nothing
    //   is delivered (no stale or duplicate frame); the element asks again after one frame time
    //   (at least 5 ms) unless it is being stopped or flushed.
    // - No more frames: return TAVRIX_S_END_OF_STREAM; the stream ends cleanly.
    // - An error code fails the stream with an error message on the bus.
    //
    // The element cannot interrupt a blocking callback: before stopping the pipeline the
    // application ends any wait inside it (flush or abort of its frame iterator).
    virtual HRESULT GetSampleCB(CMediaSample* sample, REFERENCE_TIME* duration) = 0;

protected:
    ~ITavrixSourceCB() = default;
};

class ITavrixSource {
public:
    // All three are called after creating the element and before the pipeline starts; a change
    // takes effect at the next start.
    // Registers the frame callback (null: the element produces no frames until one is set). S_OK.
    virtual HRESULT SetSampleCallback(ITavrixSourceCB* callback) = 0;
    // The one frame size offered; other sizes are refused during negotiation. E_INVALIDARG
    // unless 1 <= width, height <= 16384; otherwise S_OK.
    virtual HRESULT SetVideoSize(int width, int height) = 0;
    // Average time per frame in 100-ns units (the offered frame rate is 10^7 / timePerFrame;
    // 0 offers a variable rate). E_INVALIDARG for a negative value; otherwise S_OK.
    virtual HRESULT SetFrameTime(REFERENCE_TIME timePerFrame) = 0;
    // The format offered: kTavrixFormatBgr (the default) or kTavrixFormatI420 (BT.601 at studio
    // range, the colorimetry the caps state). E_INVALIDARG for any other value; otherwise S_OK.
    virtual HRESULT SetPixelFormat(int format) = 0;

protected:
    ~ITavrixSource() = default;
};
