#pragma once
// CRecordPipeline: builds, runs and stops the GStreamer pipeline of one recording, step by step
// as the record context (CRecContext) asks, each step failing with the record context's message:
//
// The source gives the frames as the pre-event buffer holds them: I420 for a camera view (what
// the encoders take, so the converters below pass them through untouched) or BGR.
//
//   AVI:  tavrixsource ! [videoconvert ! video/x-raw,format=I420 !] <encoder> ! avimux ! filesink
//         (videoconvert only with an encoder, the I420 caps only when the encoder takes I420;
//         without an encoder the frames go into the AVI file as uncompressed BGR, converted from
//         I420 by videoconvert ! video/x-raw,format=BGR where needed, and avimux stores them
//         bottom-up as AVI wants, so players show them upright)
//   WMV:  tavrixsource ! appsink, feeding a CWmvWriter (FFmpeg's WMV encoder and ASF writer)
//   MP4, Matroska:
//         tavrixsource ! videoconvert ! video/x-raw,format=I420 ! <H.264 encoder> ! h264parse !
//         mp4mux | matroskamux ! filesink
//         (4:2:0 so that browsers and phones play it; a key frame every two seconds. mp4mux
//         writes a fragment every second, so that a file cut short keeps all but its last
//         second, and rewrites it as an ordinary MP4 at the end of the stream; matroskamux
//         writes its clusters as it goes)
//   MP4, Matroska from an encoded pre-event buffer (a network camera's own H.264 or H.265, or a
//   local camera's continuous pre-event encoder):
//         appsrc (the stream's caps) ! h264parse | h265parse ! mp4mux | matroskamux ! filesink
//         (no decoder and no encoder: the access units are copied as they are)
//
// While it runs, the file is flushed and synced to the disk every two seconds (CRecordFileSync):
// the AVI file sink writes every buffer as it comes, the WMV writer is flushed by the syncer.
//
// Used by the record context's start and stop threads, one at a time (the context's start/stop
// lock). The first error posted on the pipeline's bus and the number of frames that reached the
// writer are recorded from the streaming threads and may be read from any thread.

#include "platform/HResult.h"
#include "recording/RecordFileSync.h"
#include "recording/WmvWriter.h"
#include "source/ITavrixSource.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Sets an H.264 encoder (x264enc or a VA-API one) for surveillance: no frame held back for
// look-ahead or B-frames, a key frame every kH264KeyFrameInterval, at bitsPerSecond or (0) at
// constant quality, x264enc at its speed preset (".H264Preset").
constexpr REFERENCE_TIME kH264KeyFrameInterval = 2 * 10000000LL;
void ConfigureH264Encoder(GstElement* encoder, int64_t bitsPerSecond, REFERENCE_TIME frameTime,
                          int32_t preset);

class CRecordPipeline {
public:
    using LogFunction = std::function<void(const std::string& text)>;

    // framesWritten counts the frames that reach the file writer; it must outlive the pipeline.
    explicit CRecordPipeline(std::atomic<int64_t>& framesWritten) : m_framesWritten(framesWritten) {}
    // Stops the pipeline if it still runs, finishes the WMV file and releases everything.
    ~CRecordPipeline();
    CRecordPipeline(const CRecordPipeline&) = delete;
    CRecordPipeline& operator=(const CRecordPipeline&) = delete;

    // The pipeline itself. CDirectXEx "Could not create record filter graph.".
    void Create();
    GstElement* GetPipeline() const { return m_pipeline; }

    // The source element, configured and added as "TavrixSourceFilter". Throws the source's own
    // failures ("Could not TavrixSource filter (TavrixSource.ax registered?).", "Could not get
    // control interface for TavrixSource filter."), CDirectXEx "Could not set the video format of
    // TavrixSource filter." for a size or frame time it refuses, and CDirectXEx "Unable to add
    // TavrixSourceFilter to the record graph.".
    // pixelFormat: kTavrixFormatBgr or kTavrixFormatI420, the form of the callback's frames.
    void AddSource(ITavrixSourceCB* callback, int32_t width, int32_t height, REFERENCE_TIME frameTime,
                   int pixelFormat = kTavrixFormatBgr);

    // The AVI branch. compressorDN names the encoder's factory (empty: uncompressed); its state
    // is restored from compressorData, and what cannot be restored is passed to log. Throws
    // CDirectXEx "Unable to parse device name of compressor." (no such encoder), CGeneralEx
    // "Unable to attach to compressor filter." (not a video encoder), CDirectXEx "Unable to bind
    // to compressor via moniker.", "Could not add compressor filter in graph." and "Unable to
    // set record file name.".
    void BuildAvi(const std::string& compressorDN, const std::vector<uint8_t>& compressorData,
                  const std::string& fileName, const LogFunction& log);
    // The WMV branch: creates the file (see CWmvWriter::Open for the failures) and adds the
    // appsink as "ASFWriter" (CDirectXEx "Could not add ASF writer filter in graph.").
    void BuildWmv(int32_t codec, int32_t codecFormat, int64_t bitsPerSecond, const std::string& fileName,
                  int32_t width, int32_t height, REFERENCE_TIME frameTime);
    // The MP4 or Matroska branch (container: 1 MP4, 2 Matroska), H.264 through the preferred
    // encoder when it works here (else FindH264Encoder's, told to log) at bitsPerSecond, or at
    // constant quality when 0; x264enc at its speed preset (".H264Preset"). Throws CDirectXEx
    // "Unable to parse device name of compressor." when no H.264 encoder is present, "Could not
    // add compressor filter in graph." and "Unable to set record file name.".
    void BuildH264(int32_t container, int64_t bitsPerSecond, const std::string& fileName,
                   REFERENCE_TIME frameTime, const std::string& preferredEncoder = "", int32_t preset = 3,
                   const LogFunction& log = nullptr);
    // The source of a recording copied from an encoded stream: an appsrc "EncodedSource" with
    // the stream's caps (video/x-h264 or video/x-h265) that asks next() for each access unit on
    // its streaming thread (next may block; it returns a new reference, or null at the end of
    // the stream). Throws CDirectXEx "Unable to add TavrixSourceFilter to the record graph."
    // when no appsrc can be made.
    using NextUnitFunction = std::function<GstBuffer*()>;
    void AddEncodedSource(GstCaps* caps, NextUnitFunction next);
    // The branch of such a recording: the stream's parser and the container (1 MP4, 2
    // Matroska). codec "h264" or "h265". The file's title is title (the camera's name) and its
    // date the start of the recording: a copied stream carries no stamped name or time. Throws as
    // BuildH264 does for the multiplexer and CDirectXEx "Unable to render the stream." when the
    // parser is missing.
    void BuildCopy(int32_t container, const std::string& codec, const std::string& fileName,
                   const std::string& title = "");
    // Links the branch. CDirectXEx "Unable to render the stream.".
    void Render();

    // Sets the pipeline playing and waits at most prerollTimeoutMs for it to get there (the
    // first frame reaching the writer completes that); then starts syncing the file. CDirectXEx "Unable to
    // start the recording graph." when the state change fails or an error was posted, with the error's text
    // as info. Returns true when the pipeline is playing, false when it still waits for its first frame.
    bool Run(uint32_t prerollTimeoutMs);
    // Sets the pipeline to NULL (closing the AVI file), finishes the WMV file and syncs the
    // finished file to the disk. CDirectXEx
    // "Unable to stop the recording graph." when the state change fails.
    void Stop();

    // The first error posted on the bus (S_OK and empty when none).
    HRESULT GetFirstError(std::string* text = nullptr) const;
    // Frames that have reached the writer (the multiplexer or the WMV writer).
    int64_t GetFramesWritten() const { return m_framesWritten.load(); }
    // The WMV writer of the WMV branch (null for AVI).
    CWmvWriter* GetWmvWriter() const { return m_wmv.get(); }

private:
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer user);
    static GstPadProbeReturn OnFrameProbe(GstPad* pad, GstPadProbeInfo* info, gpointer user);
    // Adds element to the pipeline and to the chain that Render links; false when refused.
    bool Append(GstElement* element);
    void CountFramesAt(GstPad* pad);
    // Adds the named converter (and, when caps is given, a caps filter after it) to the chain.
    void AppendConverter(const char* factory, const char* name, const char* caps = nullptr);
    // Adds the MP4 or Matroska writer for fileName.
    void AppendContainer(int32_t container, const std::string& fileName);
    static void OnNeedData(GstElement* source, guint length, gpointer user);
    // Adds muxer ! filesink writing fileName, the muxer's input being the counted one.
    void AppendWriter(GstElement* mux, const std::string& fileName);

    GstElement* m_pipeline = nullptr;         // owned
    std::vector<GstElement*> m_chain;         // in the pipeline, source first
    std::unique_ptr<CWmvWriter> m_wmv;        // WMV branch only
    std::string m_fileName;                   // the record file
    CRecordFileSync m_fileSync;               // after m_wmv: its thread flushes the writer
    GstElement* m_frameCounterSink = nullptr; // element whose input is counted once linked
    int m_sourceFormat = kTavrixFormatBgr;    // what AddSource's element gives
    NextUnitFunction m_nextUnit;              // AddEncodedSource's supplier

    mutable std::mutex m_errorLock;
    HRESULT m_firstError = S_OK;
    std::string m_firstErrorText;
    std::atomic<int64_t>& m_framesWritten;
};
