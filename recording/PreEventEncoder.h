#pragma once
// CPreEventEncoder: a local camera's continuous H.264 encoder for its compact pre-event buffer.
// Every frame the camera view stamps is converted to I420 and encoded at once, with the camera's
// recording settings (encoder, bit rate, speed) and a key frame every two seconds, into the
// camera's CEncodedPreEventBuffer; a recording into MP4 or Matroska then copies those access
// units (the file begins at the key frame before its pre-event time) and the encoder simply goes
// on. Ten seconds of 1920x1080 take megabytes instead of the gigabyte of raw frames, for an
// encoder that runs all the time.
//
//   appsrc (I420, leaky: a frame the encoder cannot take yet is dropped, the camera never waits)
//     ! videoconvert (nothing to do for x264enc) ! <H.264 encoder> ! h264parse ! appsink
//
// Threads: Start and the destructor on the camera view's user-interface thread; PushBgrFrame on
// the grabber's streaming thread (never blocks); the appsink's callback on the encoder's
// streaming thread; the observers anywhere.

#include "platform/HResult.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class CEncodedPreEventBuffer;

class CPreEventEncoder {
public:
    struct CSettings {
        int32_t width = 0;
        int32_t height = 0;
        REFERENCE_TIME frameTime = 400000; // 100-ns units
        int64_t bitsPerSecond = 0;         // 0: constant quality
        std::string encoder;               // ".H264Encoder"; "" the fastest that works
        int32_t preset = 3;                // ".H264Preset"

        bool operator==(const CSettings& other) const {
            return width == other.width && height == other.height && frameTime == other.frameTime &&
                   bitsPerSecond == other.bitsPerSecond && encoder == other.encoder && preset == other.preset;
        }
    };

    explicit CPreEventEncoder(CEncodedPreEventBuffer& target) : m_target(target) {}
    ~CPreEventEncoder();
    CPreEventEncoder(const CPreEventEncoder&) = delete;
    CPreEventEncoder& operator=(const CPreEventEncoder&) = delete;

    // Builds and runs the encoder. Throws CDirectXEx "Unable to parse device name of compressor."
    // when no H.264 encoder is present and "Unable to start the recording graph." when the
    // pipeline cannot be built or run.
    void Start(const CSettings& settings);
    const CSettings& GetSettings() const { return m_settings; }
    // The encoder's factory name.
    const std::string& GetEncoderName() const { return m_encoderName; }

    // Queues a BGR frame (top-down, stride bytes a row, of the started size) stamped with
    // time100ns (a monotonic clock). False when the encoder has failed or the frame does not fit;
    // the caller then keeps the frame raw.
    bool PushBgrFrame(const uint8_t* bgr, int32_t stride, int64_t time100ns);
    // The same for an I420 frame of the started size: its three planes and their row strides.
    bool PushI420Frame(const uint8_t* const planes[3], const int32_t strides[3], int64_t time100ns);
    // An error of the pipeline since Start (the encoder stopped).
    bool HasFailed() const { return m_failed.load(); }
    std::string GetError() const;
    // Frames taken and access units given to the buffer.
    int64_t GetFramesPushed() const { return m_pushed.load(); }
    int64_t GetUnitsEncoded() const { return m_encoded.load(); }

private:
    // Takes a buffer from the pool, lets fill write the frame's I420 bytes into it, stamps and
    // queues it.
    template <typename Fill>
    bool PushFilled(int64_t time100ns, const Fill& fill);
    static GstFlowReturn OnSample(GstElement* sink, gpointer user);
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer user);

    CEncodedPreEventBuffer& m_target;
    CSettings m_settings;
    std::string m_encoderName;
    GstElement* m_pipeline = nullptr; // owned
    GstElement* m_source = nullptr;   // in the pipeline
    GstBufferPool* m_pool = nullptr;  // owned
    GstCaps* m_lastCaps = nullptr;    // encoder thread: the caps last given to the buffer
    int64_t m_baseTime100ns = -1;     // streaming thread: the first frame's time
    std::atomic<bool> m_failed{false};
    std::atomic<int64_t> m_pushed{0};
    std::atomic<int64_t> m_encoded{0};
    mutable std::mutex m_errorLock; // innermost
    std::string m_error;
};
