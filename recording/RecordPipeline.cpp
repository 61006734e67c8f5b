#include "recording/RecordPipeline.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "recording/CompressorState.h"
#include "recording/DxEventRec.h"
#include "recording/RecordContainer.h"
#include "recording/TavrixElements.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>

namespace {

// Creates an element by factory name; null when the factory is missing.
GstElement* Make(const char* factory, const char* name) {
    return gst_element_factory_make(factory, name);
}

// The kind of element the compressor list offers: an encoder of video or of still pictures.
bool IsVideoEncoder(GstElementFactory* factory) {
    return gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER);
}

// The longest stretch of a recording that a crash may cost in MP4 (its unwritten fragment).
constexpr guint kFragmentMs = 1000;
// x264's constant quality (rate factor) when no bit rate is given: good for surveillance scenes.
constexpr const char* kConstantQuality = "23";

bool HasProperty(GstElement* element, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

// FFmpeg's encoders in GStreamer (avenc_*) encode on one thread unless told: a backlog of
// pre-event frames then takes longer to reach the file. Automatic, as x264enc is by default.
void UseAllCores(GstElement* encoder) {
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), "threads");
    if (spec != nullptr && G_IS_PARAM_SPEC_ENUM(spec) && (spec->flags & G_PARAM_WRITABLE) != 0) {
        g_object_set(encoder, "threads", 0, nullptr); // "auto"
    }
}

// AVI stores one time stamp per frame in the order frames are stored; frames stored out of the
// order they are shown (B-frames, which x264enc's presets use) come out with wrong times and
// broken seeking in players. Whatever the stored state asks, AVI gets none.
void DisableBFrames(GstElement* encoder) {
    for (const char* name : {"bframes", "b-frames"}) { // x264enc, VA-API encoders
        GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(encoder), name);
        if (spec != nullptr && G_PARAM_SPEC_VALUE_TYPE(spec) == G_TYPE_UINT) {
            g_object_set(encoder, name, 0u, nullptr);
        }
    }
}

} // namespace

// Surveillance settings: no frame held back for look-ahead or B-frames (a frame reaches the file
// as soon as it is encoded), fast, a key frame every two seconds, the bit rate or constant quality.
void ConfigureH264Encoder(GstElement* encoder, int64_t bitsPerSecond, REFERENCE_TIME frameTime,
                          int32_t preset) {
    const REFERENCE_TIME frame = frameTime > 0 ? frameTime : 666666;
    const guint keyInterval =
        static_cast<guint>(std::max<REFERENCE_TIME>(1, (kH264KeyFrameInterval + frame / 2) / frame));
    const guint kbits = static_cast<guint>(std::clamp<int64_t>((bitsPerSecond + 500) / 1000, 1, 2000000));
    DisableBFrames(encoder); // zerolatency does it for x264enc; the VA-API encoders need it said
    if (HasProperty(encoder, "key-int-max")) {
        g_object_set(encoder, "key-int-max", keyInterval, nullptr);
    }
    if (HasProperty(encoder, "tune")) { // x264enc
        gst_util_set_object_arg(G_OBJECT(encoder), "tune", "zerolatency");
        gst_util_set_object_arg(G_OBJECT(encoder), "speed-preset", X264PresetName(preset));
        if (bitsPerSecond > 0) {
            g_object_set(encoder, "bitrate", kbits, nullptr);
        } else {
            gst_util_set_object_arg(G_OBJECT(encoder), "pass", "qual");
            gst_util_set_object_arg(G_OBJECT(encoder), "quantizer", kConstantQuality);
        }
    } else if (HasProperty(encoder, "rate-control")) { // VA-API encoders
        if (bitsPerSecond > 0) {
            gst_util_set_object_arg(G_OBJECT(encoder), "rate-control", "cbr");
            g_object_set(encoder, "bitrate", kbits, nullptr);
        } else {
            gst_util_set_object_arg(G_OBJECT(encoder), "rate-control", "cqp");
        }
    }
}

CRecordPipeline::~CRecordPipeline() {
    m_fileSync.Stop(false);
    if (m_pipeline != nullptr) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        GstBus* bus = gst_element_get_bus(m_pipeline);
        if (bus != nullptr) {
            gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
            gst_object_unref(bus);
        }
    }
    if (m_wmv) {
        m_wmv->Finish();
    }
    if (m_pipeline != nullptr) {
        gst_object_unref(m_pipeline);
    }
}

void CRecordPipeline::Create() {
    m_pipeline = gst_pipeline_new("RecordGraph");
    if (m_pipeline == nullptr) {
        THROW_DIRECTX(E_OUTOFMEMORY, "Could not create record filter graph.");
    }
    gst_object_ref_sink(m_pipeline);
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, &CRecordPipeline::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
}

GstBusSyncReply CRecordPipeline::OnBusMessage(GstBus*, GstMessage* message, gpointer user) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        auto* self = static_cast<CRecordPipeline*>(user);
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        {
            std::lock_guard<std::mutex> lock(self->m_errorLock);
            if (self->m_firstError == S_OK) {
                self->m_firstError = CDxEventRec::HResultFromGstError(error, debug);
                self->m_firstErrorText = std::string(error != nullptr ? error->message : "") +
                                         (debug != nullptr ? std::string(" (") + debug + ")" : "");
            }
        }
        g_clear_error(&error);
        g_free(debug);
    }
    return GST_BUS_PASS; // the event receiver pops every message
}

HRESULT CRecordPipeline::GetFirstError(std::string* text) const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    if (text != nullptr) {
        *text = m_firstErrorText;
    }
    return m_firstError;
}

bool CRecordPipeline::Append(GstElement* element) {
    if (!gst_bin_add(GST_BIN(m_pipeline), element)) {
        return false; // a floating element refused by the bin is sunk and freed by gst_bin_add
    }
    m_chain.push_back(element);
    return true;
}

void CRecordPipeline::AddSource(ITavrixSourceCB* callback, int32_t width, int32_t height,
                                REFERENCE_TIME frameTime, int pixelFormat) {
    GstElement* source = CreateSourceElement("TavrixSourceFilter");
    ITavrixSource* control = nullptr;
    try {
        control = GetSourceControl(source);
    } catch (...) {
        gst_object_unref(gst_object_ref_sink(source));
        throw;
    }
    control->SetSampleCallback(callback);
    HRESULT hr = control->SetVideoSize(width, height);
    if (SUCCEEDED(hr)) {
        hr = control->SetFrameTime(frameTime);
    }
    if (SUCCEEDED(hr)) {
        hr = control->SetPixelFormat(pixelFormat);
    }
    if (FAILED(hr)) {
        gst_object_unref(gst_object_ref_sink(source));
        THROW_DIRECTX_INFO(hr, "Could not set the video format of TavrixSource filter.",
                           std::to_string(width) + "x" + std::to_string(height) + ", frame time " +
                               std::to_string(frameTime));
    }
    if (!Append(source)) {
        THROW_DIRECTX(E_FAIL, "Unable to add TavrixSourceFilter to the record graph.");
    }
    m_sourceFormat = pixelFormat;
}

void CRecordPipeline::BuildAvi(const std::string& compressorDN, const std::vector<uint8_t>& compressorData,
                               const std::string& fileName, const LogFunction& log) {
    if (!compressorDN.empty()) {
        GstElementFactory* factory = gst_element_factory_find(compressorDN.c_str());
        if (factory == nullptr) {
            THROW_DIRECTX_INFO(MK_E_NOOBJECT, "Unable to parse device name of compressor.", compressorDN);
        }
        if (!IsVideoEncoder(factory)) {
            gst_object_unref(factory);
            THROW_GENERAL_INFO("Unable to attach to compressor filter.",
                               compressorDN + " is no video encoder");
        }
        const bool takesI420 = [&] {
            GstCaps* i420 = gst_caps_from_string("video/x-raw,format=I420");
            const bool result = gst_element_factory_can_sink_any_caps(factory, i420);
            gst_caps_unref(i420);
            return result;
        }();
        GstElement* encoder = gst_element_factory_create(factory, "Compressor");
        gst_object_unref(factory);
        if (encoder == nullptr) {
            THROW_DIRECTX_INFO(E_FAIL, "Unable to bind to compressor via moniker.", compressorDN);
        }
        gst_object_ref_sink(encoder);
        UseAllCores(encoder); // before the stored state, which may say otherwise
        for (const std::string& problem : CCompressorState::Restore(encoder, compressorData)) {
            if (log) {
                log("Compressor '" + compressorDN + "': " + problem);
            }
        }
        DisableBFrames(encoder);
        const bool added = gst_bin_add(GST_BIN(m_pipeline), encoder);
        gst_object_unref(encoder); // the bin holds it now, or it is gone
        if (!added) {
            THROW_DIRECTX(E_FAIL, "Could not add compressor filter in graph.");
        }
        // The converters between the BGR source and the encoder belong to rendering the stream.
        AppendConverter("videoconvert", "CompressorConvert", takesI420 ? "video/x-raw,format=I420" : nullptr);
        m_chain.push_back(encoder);
    } else if (m_sourceFormat != kTavrixFormatBgr) {
        // Uncompressed AVI holds BGR, as it always did.
        AppendConverter("videoconvert", "RecordConvert", "video/x-raw,format=BGR");
    }

    AppendWriter(Make("avimux", "AviMux"), fileName);
}

void CRecordPipeline::AppendConverter(const char* factory, const char* name, const char* caps) {
    GstElement* convert = Make(factory, name);
    if (convert != nullptr && HasProperty(convert, "n-threads")) {
        // A conversion that is needed at all is worth both cores at high resolutions; one that
        // has nothing to do passes the frames through untouched.
        g_object_set(convert, "n-threads", 0u, nullptr);
    }
    GstElement* filter = caps != nullptr ? Make("capsfilter", "CompressorFormat") : nullptr;
    if (convert == nullptr || (caps != nullptr && filter == nullptr) || !Append(convert)) {
        if (filter != nullptr) {
            gst_object_unref(gst_object_ref_sink(filter));
        }
        THROW_DIRECTX_INFO(VFW_E_CANNOT_CONNECT, "Unable to render the stream.",
                           std::string("no ") + factory + " element");
    }
    if (filter != nullptr) {
        GstCaps* filterCaps = gst_caps_from_string(caps);
        g_object_set(filter, "caps", filterCaps, nullptr);
        gst_caps_unref(filterCaps);
        if (!Append(filter)) {
            THROW_DIRECTX(VFW_E_CANNOT_CONNECT, "Unable to render the stream.");
        }
    }
}

void CRecordPipeline::AppendWriter(GstElement* mux, const std::string& fileName) {
    GstElement* sink = Make("filesink", "FileWriter");
    if (mux == nullptr || sink == nullptr) {
        if (mux != nullptr) {
            gst_object_unref(gst_object_ref_sink(mux));
        }
        if (sink != nullptr) {
            gst_object_unref(gst_object_ref_sink(sink));
        }
        THROW_DIRECTX_INFO(VFW_E_NOT_FOUND, "Unable to set record file name.",
                           "no multiplexer or filesink element");
    }
    g_object_set(sink, "location", fileName.c_str(), nullptr);
    // Every buffer goes to the file as it comes, so that the syncer finds nothing held back.
    gst_util_set_object_arg(G_OBJECT(sink), "buffer-mode", "unbuffered");
    m_fileName = fileName;
    const size_t writerIndex = m_chain.size();
    const bool muxAdded = Append(mux);
    if (!muxAdded || !Append(sink)) {
        if (!muxAdded) {
            gst_object_unref(gst_object_ref_sink(sink)); // a refused element is freed by the bin
        }
        THROW_DIRECTX(E_FAIL, "Unable to set record file name.");
    }
    m_frameCounterSink = m_chain[writerIndex];
}

void CRecordPipeline::BuildH264(int32_t container, int64_t bitsPerSecond, const std::string& fileName,
                                REFERENCE_TIME frameTime, const std::string& preferredEncoder, int32_t preset,
                                const LogFunction& log) {
    const std::string factory = FindH264Encoder(preferredEncoder);
    if (factory.empty()) {
        THROW_DIRECTX_INFO(MK_E_NOOBJECT, "Unable to parse device name of compressor.",
                           "no H.264 encoder present");
    }
    if (!preferredEncoder.empty() && factory != preferredEncoder && log) {
        log("H.264 encoder '" + preferredEncoder + "' does not work here; recording with '" + factory + "'.");
    }
    // Browsers and phones play 4:2:0 only; from BGR, x264enc would otherwise choose 4:4:4.
    AppendConverter("videoconvert", "CompressorConvert", "video/x-raw,format=I420");
    GstElement* encoder = Make(factory.c_str(), "Compressor");
    if (encoder == nullptr) {
        THROW_DIRECTX_INFO(E_FAIL, "Unable to bind to compressor via moniker.", factory);
    }
    ConfigureH264Encoder(encoder, bitsPerSecond, frameTime, preset);
    if (!Append(encoder)) {
        THROW_DIRECTX(E_FAIL, "Could not add compressor filter in graph.");
    }
    AppendConverter("h264parse", "H264Parser");
    AppendContainer(container, fileName);
}

void CRecordPipeline::AppendContainer(int32_t container, const std::string& fileName) {
    GstElement* mux = nullptr;
    if (container == static_cast<int32_t>(ERecordContainer::Mp4)) {
        mux = Make("mp4mux", "Mp4Mux");
        if (mux != nullptr) {
            // Fragments while recording (a file cut short plays up to its last fragment); an
            // ordinary MP4 with a full index once the end of the stream reaches the muxer.
            g_object_set(mux, "fragment-duration", kFragmentMs, nullptr);
            gst_util_set_object_arg(G_OBJECT(mux), "fragment-mode", "first-moov-then-finalise");
        }
    } else {
        mux = Make("matroskamux", "MatroskaMux");
    }
    AppendWriter(mux, fileName);
}

void CRecordPipeline::AddEncodedSource(GstCaps* caps, NextUnitFunction next) {
    GstElement* source = Make("appsrc", "EncodedSource");
    if (source == nullptr) {
        THROW_DIRECTX_INFO(E_FAIL, "Unable to add TavrixSourceFilter to the record graph.", "no appsrc");
    }
    // Time stamps as the units carry them (made to begin at 0); the source blocks in need-data
    // until the next unit, as tavrixsource blocks in its callback.
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "is-live", FALSE, "do-timestamp", FALSE,
                 "max-buffers", guint64{4}, "block", FALSE, nullptr);
    m_nextUnit = std::move(next);
    g_signal_connect(source, "need-data", G_CALLBACK(&CRecordPipeline::OnNeedData), this);
    if (!Append(source)) {
        THROW_DIRECTX(E_FAIL, "Unable to add TavrixSourceFilter to the record graph.");
    }
}

void CRecordPipeline::OnNeedData(GstElement* source, guint, gpointer user) {
    auto* self = static_cast<CRecordPipeline*>(user);
    GstBuffer* unit = self->m_nextUnit ? self->m_nextUnit() : nullptr;
    if (unit == nullptr) {
        gst_app_src_end_of_stream(GST_APP_SRC(source));
    } else {
        gst_app_src_push_buffer(GST_APP_SRC(source), unit); // takes the reference
    }
}

void CRecordPipeline::BuildCopy(int32_t container, const std::string& codec, const std::string& fileName,
                                const std::string& title) {
    // The parser gives the multiplexer the stream form it takes (length-prefixed with the
    // parameter sets in the caps); the pictures themselves are not touched.
    AppendConverter(codec == "h265" ? "h265parse" : "h264parse", "StreamParser");
    AppendContainer(container, fileName);
    GstElement* mux = m_frameCounterSink;
    if (mux != nullptr && GST_IS_TAG_SETTER(mux)) {
        GstDateTime* now = gst_date_time_new_now_local_time();
        gst_tag_setter_add_tags(GST_TAG_SETTER(mux), GST_TAG_MERGE_REPLACE, GST_TAG_DATE_TIME, now, nullptr);
        if (!title.empty()) {
            gst_tag_setter_add_tags(GST_TAG_SETTER(mux), GST_TAG_MERGE_REPLACE, GST_TAG_TITLE, title.c_str(),
                                    nullptr);
        }
        gst_date_time_unref(now);
    }
}

void CRecordPipeline::BuildWmv(int32_t codec, int32_t codecFormat, int64_t bitsPerSecond,
                               const std::string& fileName, int32_t width, int32_t height,
                               REFERENCE_TIME frameTime) {
    m_wmv = std::make_unique<CWmvWriter>();
    m_wmv->Open(fileName, codec, codecFormat, bitsPerSecond, width, height, frameTime);
    m_fileName = fileName;
    GstElement* sink = Make("appsink", "ASFWriter");
    if (sink == nullptr) {
        THROW_GENERAL("Could not create ASF writer filter.");
    }
    g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, "max-buffers", 1u, nullptr);
    if (!Append(sink)) {
        THROW_DIRECTX(E_FAIL, "Could not add ASF writer filter in graph.");
    }
    m_wmv->Attach(GST_APP_SINK(sink));
    m_frameCounterSink = sink;
}

void CRecordPipeline::Render() {
    for (size_t i = 1; i < m_chain.size(); ++i) {
        if (!gst_element_link(m_chain[i - 1], m_chain[i])) {
            THROW_DIRECTX_INFO(VFW_E_CANNOT_CONNECT, "Unable to render the stream.",
                               std::string(GST_ELEMENT_NAME(m_chain[i - 1])) + " cannot feed " +
                                   GST_ELEMENT_NAME(m_chain[i]));
        }
    }
    if (m_frameCounterSink == nullptr) {
        THROW_DIRECTX_INFO(VFW_E_NO_SINK, "Unable to render the stream.", "no writer");
    }
    // Frames leaving the element before the writer have reached the writer.
    for (size_t i = 1; i < m_chain.size(); ++i) {
        if (m_chain[i] == m_frameCounterSink) {
            GstPad* pad = gst_element_get_static_pad(m_chain[i - 1], "src");
            if (pad != nullptr) {
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CRecordPipeline::OnFrameProbe, this,
                                  nullptr);
                gst_object_unref(pad);
            }
        }
    }
}

GstPadProbeReturn CRecordPipeline::OnFrameProbe(GstPad*, GstPadProbeInfo*, gpointer user) {
    static_cast<CRecordPipeline*>(user)->m_framesWritten.fetch_add(1);
    return GST_PAD_PROBE_OK;
}

bool CRecordPipeline::Run(uint32_t prerollTimeoutMs) {
    auto fail = [this](const char* why) {
        std::string text;
        HRESULT hr = GetFirstError(&text);
        THROW_DIRECTX_INFO(hr != S_OK ? hr : E_FAIL, "Unable to start the recording graph.",
                           text.empty() ? std::string(why) : text);
    };
    GstStateChangeReturn result = gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    if (result == GST_STATE_CHANGE_FAILURE) {
        fail("the pipeline refused to play");
    }
    if (result == GST_STATE_CHANGE_ASYNC) {
        result = gst_element_get_state(m_pipeline, nullptr, nullptr,
                                       static_cast<GstClockTime>(prerollTimeoutMs) * GST_MSECOND);
        if (result == GST_STATE_CHANGE_FAILURE) {
            fail("the pipeline failed while starting");
        }
    }
    if (GetFirstError() != S_OK) {
        fail("an error was posted while starting");
    }
    std::function<void()> flush;
    if (CWmvWriter* wmv = m_wmv.get()) {
        flush = [wmv] { wmv->Flush(); };
    }
    m_fileSync.Start(m_fileName, std::move(flush));
    return result != GST_STATE_CHANGE_ASYNC;
}

void CRecordPipeline::Stop() {
    if (m_pipeline != nullptr &&
        gst_element_set_state(m_pipeline, GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE) {
        THROW_DIRECTX(E_FAIL, "Unable to stop the recording graph.");
    }
    if (m_wmv) {
        m_wmv->Finish();
    }
    m_fileSync.Stop(true);
}
