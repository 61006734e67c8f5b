#pragma once
// CWmvWriter: the WMV file writer of a recording. It encodes I420 (or BGR) frames with FFmpeg's WMV
// encoders (libavcodec wmv2 / wmv1) at the camera's bit rate and writes them into an ASF file
// with FFmpeg's ASF writer (libavformat). GStreamer's avenc_wmv2 ! asfmux pair ignores the bit
// rate and writes files whose last frames FFmpeg cannot read; this writer does neither.
//
// It sits at the end of a recording pipeline as the consumer of an appsink: the record pipeline
// opens it during the start (Open, which creates the file and writes its header), attaches it to
// the appsink, and the appsink's streaming thread hands it every frame (OnSample) and the end of
// the stream (OnEos, which finishes the file). A write error is posted on the pipeline's bus as
// a GStreamer error from the appsink (a full disk as GST_RESOURCE_ERROR_NO_SPACE_LEFT) and fails
// the stream. Finish is called again by the stop thread once the pipeline has stopped, so the
// file is finished on every stop, also when end-of-stream never arrived.
//
// Locking: one mutex serialises the streaming thread's calls with Finish.

#include "platform/HResult.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwsContext;

class CWmvWriter {
public:
    struct CCodecInfo {
        std::string name;                 // the GStreamer factory name the device list shows
        std::string friendlyName;         // e.g. "Windows Media Video 8"
        std::vector<std::string> formats; // format descriptions; "" is shown as "<Default>"
    };
    // The WMV codecs present, newest first: ".Codec" indexes this list, ".CodecFormat" the
    // codec's formats.
    static std::vector<CCodecInfo> GetCodecs();

    CWmvWriter();
    // Finishes the file if it is still open.
    ~CWmvWriter();
    CWmvWriter(const CWmvWriter&) = delete;
    CWmvWriter& operator=(const CWmvWriter&) = delete;

    // Sets up the encoder and creates the file with its header. frameTime is the capture's
    // average time per frame (100-ns units, > 0); bitsPerSecond the target bit rate. Throws with
    // the record context's messages: CDirectXEx "Unable to get format info" (no such codec or
    // format), CGeneralEx "Could not create ASF writer filter.", CDirectXEx "Could not add
    // stream in profile", "Could not configure ASF writer filter" (the encoder refuses the
    // settings, the header cannot be written) and "Failed to set target filename" (the file
    // cannot be created). Nothing is left open after a throw.
    void Open(const std::string& fileName, int32_t codec, int32_t codecFormat, int64_t bitsPerSecond,
              int32_t width, int32_t height, REFERENCE_TIME frameTime);
    // Makes the appsink hand its frames and end-of-stream to this writer. The appsink must stay
    // alive while the writer is in use, and the writer while the appsink's pipeline runs.
    void Attach(GstAppSink* appsink);

    // Streaming thread: one frame (a BGR or I420 sample of the opened size), and the end of the
    // stream.
    GstFlowReturn OnSample(GstSample* sample);
    void OnEos();
    // Drains the encoder, writes the trailer and closes the file. Idempotent; returns the first
    // error of the file (S_OK when everything was written).
    HRESULT Finish();

    // Hands what FFmpeg has buffered of the file to the operating system (any thread; the
    // recording's file syncer calls it every few seconds). False when the file is not open.
    bool Flush();

    int64_t GetFramesWritten() const { return m_framesWritten.load(); }
    bool IsFinished();

    // The result code of an FFmpeg error (AVERROR(ENOSPC) -> 0x80070070, and so on).
    static HRESULT HResultFromAvError(int error);

private:
    // The encoder's rate control: average, maximum and buffer from the bit rate.
    static void SetRateControl(AVCodecContext* encoder, int64_t bitsPerSecond);
    // All with m_lock held.
    int EncodeAndWrite(AVFrame* frame);
    // The encoder's picture from a mapped BGR or I420 frame of the opened size.
    void FillPicture(const GstVideoFrame& frame);
    // An I420 frame of the encoder's size as a picture that refers to the buffer's bytes (no
    // copy); null when the buffer cannot be mapped. The caller frees the picture.
    AVFrame* WrapI420(GstBuffer* buffer, const GstVideoInfo& info) const;
    void PostError(int error, const char* what);
    void Release();

    std::mutex m_lock;
    GstAppSink* m_appsink = nullptr; // not owned; the element that reports errors
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_encoder = nullptr;
    AVStream* m_stream = nullptr;
    AVFrame* m_frame = nullptr;
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    int32_t m_width = 0; // of the frames handed in
    int32_t m_height = 0;
    int64_t m_lastPts = -1; // in the encoder's time base
    bool m_open = false;    // header written, trailer not yet
    bool m_failed = false;  // a write failed; further frames are refused
    HRESULT m_result = S_OK;
    std::string m_fileName;
    std::atomic<int64_t> m_framesWritten{0};
};
