#pragma once
// The capture source of a network camera or a video file: a bin that connects, depayloads,
// decodes and converts to the BGR frames the grabber takes, scaled and rate-limited as the camera
// asks (0: the camera's own size and rate).
//
//   RTSP   rtspsrc ~> depay ! parse ! tee "Encoded" ! decoder ! TAIL
//   HTTP   souphttpsrc ! multipartdemux ~> tee "Encoded" ! jpeg decoder ! TAIL
//   File   uridecodebin ~> (loop) ! TAIL
//   TAIL   [videorate max-rate] ! videoscale ! videoconvert ! capsfilter(BGR or I420[, size])
//          -> ghost "src"
// The rate is limited first and the picture scaled in the decoder's own format before any
// conversion, so that frames that are dropped or shrunk are never converted at full size; a
// camera view that detects on luma asks for I420 (`yuv`), which a software decoder's output
// already is (the conversion then passes frames through untouched).
//
// (~> a pad that appears once the stream is known.) The tee "Encoded" carries the camera's own
// encoded stream (H.264, H.265 or JPEG, parsed) before the decoder: a recorder that keeps the
// camera's encoding requests a pad from it (through a queue) instead of taking decoded frames.
//
// A stream that ends (the RTSP server stopped, the HTTP server closed the stream, a video file
// without loop played to its end) is turned into an error of the bin where the decoded frames
// enter TAIL, and its end-of-stream dropped there: the camera notices the loss at once instead of
// after its stream time-out, and no element of TAIL ever sees the end (videorate asserts on an
// end that arrives while it holds back a frame at a lower rate). Frames of a stream without a
// stated rate (MJPEG over HTTP) get their durations there too, which videorate needs.
//
// The decoder is a hardware one (GStreamer's `va` decoders, named explicitly) when one exists for
// the codec and opens a VA device, else software; the choice is traced and kept in the stream
// state, which also counts the frames leaving the bin (for the camera's stream watch) and records
// whether the camera refused the credentials (HTTP 401/403, RTSP 401).
//
// Threads: created on any thread after InitGStreamer; the bin's streaming threads fill the stream
// state, which any thread reads.

#include "network/NetworkSourceName.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

struct CNetworkSourceSettings {
    int32_t width = 0; // 0 (either side): the camera's own size
    int32_t height = 0;
    int32_t fps = 0;  // 0, or 1000 and more: the camera's own rate; else at most this many a second
    bool yuv = false; // I420 frames rather than BGR
};

// The decoder chosen for a codec.
struct CDecoderChoice {
    std::string factory; // empty: no decoder for the codec
    bool hardware = false;
    // "vah264dec (hardware)", "avdec_h264 (software)"; "none" when empty.
    std::string Describe() const;
};

// "h264", "h265" or "jpeg": the hardware decoder when it works here, else the software one. The
// hardware check (the element reaches READY, which opens the VA device) runs once per factory.
// TAVRIX_DECODER=software in the environment skips the hardware decoders.
CDecoderChoice ChooseDecoder(const std::string& codec);

// What a network source's stream has done so far.
class CNetworkStreamState {
public:
    // Streaming thread: a decoded frame left the bin.
    void CountFrame(int64_t nowNs);
    int64_t GetFrames() const { return m_frames.load(std::memory_order_acquire); }
    // Monotonic nanoseconds (steady clock) of the first and the last frame; 0 before the first.
    int64_t GetFirstFrameNs() const { return m_firstFrameNs.load(std::memory_order_acquire); }
    int64_t GetLastFrameNs() const { return m_lastFrameNs.load(std::memory_order_acquire); }

    void SetDecoder(const std::string& codec, const CDecoderChoice& decoder);
    // "h264 with avdec_h264 (software)"; empty before the stream is known.
    std::string GetDecoderDescription() const;

    // The source refused the credentials (or had none to give).
    void SetAuthFailed() { m_authFailed.store(true); }
    bool IsAuthFailed() const { return m_authFailed.load(); }
    // The stream ended (end-of-stream before TAIL); a video file that played to its end (no loop)
    // also counts as finished: it does not come back by connecting again.
    void SetEnded(bool finished);
    bool HasEnded() const { return m_ended.load(); }
    bool IsFinished() const { return m_finished.load(); }
    // The first error of the source, passwords masked.
    void SetError(const std::string& text);
    std::string GetError() const;

private:
    std::atomic<int64_t> m_frames{0};
    std::atomic<int64_t> m_firstFrameNs{0};
    std::atomic<int64_t> m_lastFrameNs{0};
    std::atomic<bool> m_authFailed{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_finished{false};
    mutable std::mutex m_lock; // guards the texts below; innermost
    std::string m_decoder;
    std::string m_error;
};

// The source bin for a parsed name, a floating reference named elementName (empty: generated).
// Throws CDirectXEx "Unable to bind to capture device via moniker." when an element it needs is
// missing.
GstElement* CreateNetworkSource(const CNetworkSourceName& name, const CNetworkSourceSettings& settings,
                                const std::string& elementName);
// The stream state of a bin made by CreateNetworkSource; null for any other element.
std::shared_ptr<CNetworkStreamState> NetworkStreamStateOf(GstElement* source);

// The name of the tee that carries the encoded stream inside the bin.
constexpr const char* kEncodedTeeName = "Encoded";
