#pragma once
// The contract between the application and the GStreamer element "tavrixgrabber" (plugin file
// libgsttavrixgrabber.so). The element sits in each camera's preview pipeline between the capture
// source and the video sink, accepts video/x-raw in BGR or I420 and hands every frame to the
// application's ITavrixGrabberCB before passing it on. The application reaches the element's
// control interface through its read-only pointer property "control":
//
//     ITavrixGrabber* grabber = nullptr;
//     g_object_get(element, "control", &grabber, nullptr);
//
// The pointer stays valid as long as the element exists (the application holds a reference to the
// element while it uses it). Control operations return result codes and never throw.
//
// Header-only: the plugin links no application code and the application links no plugin code.

#include "grabber/RgbPicture.h"
#include "grabber/VideoFormat.h"
#include "platform/HResult.h"
#include "platform/MediaSample.h"

#include <cstdint>

// Implemented by the application (the camera view). Not reference counted: the application keeps
// the object alive while it is registered with the element.
class ITavrixGrabberCB {
public:
    // Called once per frame on the pipeline's streaming thread, before the frame goes downstream,
    // with the element's frame lock held (SetFrameCallback waits for a frame in progress).
    // The sample views the frame's bytes (the format is GetInputMediaType's: BGR, top-down,
    // `stride` bytes a row, or I420 planes at the format's offsets) with the frame's times in 100-ns units; the bytes may be changed in
    // place and the changes reach the sink.
    // Returns S_OK to pass the frame on, S_FALSE to drop it, or an error code to fail the stream
    // (the element posts an error on the bus).
    virtual HRESULT OnFrame(CMediaSample* sample) = 0;

protected:
    ~ITavrixGrabberCB() = default;
};

// Buffer properties for SetSampleBuffer (the media framework's allocator properties).
struct ALLOCATOR_PROPERTIES {
    int32_t cBuffers = 0; // number of buffers; must be 1
    int32_t cbBuffer = 0; // size of the buffer in bytes
    int32_t cbAlign = 0;  // alignment
    int32_t cbPrefix = 0; // bytes before each frame's data
};

class ITavrixGrabber {
public:
    // The negotiated input format. VFW_E_NOT_CONNECTED until caps have been negotiated on the
    // input (that is, once the pipeline is PAUSED or PLAYING and the first caps have arrived) and
    // again after the element has been stopped; E_POINTER for a null argument.
    virtual HRESULT GetInputMediaType(CVideoFormat* format) = 0;

    // Registers the frame callback (null removes it). Without a callback frames pass through
    // untouched. Waits for a frame in progress. S_OK.
    virtual HRESULT SetFrameCallback(ITavrixGrabberCB* callback) = 0;

    // Delivery into a caller's buffer: while set, each frame (as it arrived, before the callback)
    // is also copied into `buffer` after `cbPrefix` bytes, when it fits into `cbBuffer` bytes.
    // E_INVALIDARG when the element is linked to another element, when the buffer count is not 1,
    // or for a negative size or prefix; E_POINTER for a null buffer; otherwise S_OK. The buffer
    // is not owned and must outlive the element or a later call that replaces it.
    virtual HRESULT SetSampleBuffer(ALLOCATOR_PROPERTIES properties, uint8_t* buffer) = 0;

    // Takes a snapshot of the next frame as it arrives from upstream (before the callback can
    // draw into it), as BGR whatever the input format: waits up to the element's "snapshot-timeout" (2000 ms unless changed) for
    // it. S_OK with *picture filled; E_FAIL on time-out; E_POINTER for a null argument.
    // After a time-out the request stays pending: the next frame still produces a snapshot, kept
    // until the next TakeSnapshot (which then returns it at once) or the element's destruction.
    virtual HRESULT TakeSnapshot(CRgbPicture* picture) = 0;

protected:
    ~ITavrixGrabber() = default;
};
