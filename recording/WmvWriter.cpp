#include "recording/WmvWriter.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "recording/FfmpegLog.h"

#include <gst/video/video.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

GST_DEBUG_CATEGORY_STATIC(tavrix_wmv_writer_debug);
#define GST_CAT_DEFAULT tavrix_wmv_writer_debug

namespace {

struct CCodecEntry {
    const char* name;
    const char* friendlyName;
    AVCodecID id;
};

// Newest first, as the device list shows the WMV encoders.
const CCodecEntry kCodecs[] = {
    {"avenc_wmv2", "Windows Media Video 8", AV_CODEC_ID_WMV2},
    {"avenc_wmv1", "Windows Media Video 7", AV_CODEC_ID_WMV1},
};

std::vector<const CCodecEntry*> PresentCodecs() {
    std::vector<const CCodecEntry*> present;
    for (const CCodecEntry& entry : kCodecs) {
        if (avcodec_find_encoder(entry.id) != nullptr) {
            present.push_back(&entry);
        }
    }
    return present;
}

std::string AvErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

GstFlowReturn OnNewSample(GstAppSink* appsink, gpointer user) {
    GstSample* sample = gst_app_sink_pull_sample(appsink);
    if (sample == nullptr) {
        return GST_FLOW_EOS;
    }
    const GstFlowReturn result = static_cast<CWmvWriter*>(user)->OnSample(sample);
    gst_sample_unref(sample);
    return result;
}

void OnEosCallback(GstAppSink*, gpointer user) {
    static_cast<CWmvWriter*>(user)->OnEos();
}

} // namespace

std::vector<CWmvWriter::CCodecInfo> CWmvWriter::GetCodecs() {
    std::vector<CCodecInfo> codecs;
    for (const CCodecEntry* entry : PresentCodecs()) {
        codecs.push_back({entry->name, entry->friendlyName, {""}});
    }
    return codecs;
}

CWmvWriter::CWmvWriter() {
    static std::once_flag once;
    std::call_once(once, [] {
        GST_DEBUG_CATEGORY_INIT(tavrix_wmv_writer_debug, "tavrixwmvwriter", 0, "Tavrix WMV file writer");
    });
}

CWmvWriter::~CWmvWriter() {
    Finish();
}

HRESULT CWmvWriter::HResultFromAvError(int error) {
    switch (error) {
    case AVERROR(ENOSPC):
        return HRESULT_DISK_FULL;
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
        return HRESULT_PATH_NOT_FOUND;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
        return E_ACCESSDENIED;
    case AVERROR(ENOMEM):
        return E_OUTOFMEMORY;
    case AVERROR(EINVAL):
    case AVERROR(ENAMETOOLONG):
        return E_INVALIDARG;
    case AVERROR(EIO):
        return HRESULT_WRITE_FAULT;
    default:
        return E_FAIL;
    }
}

void CWmvWriter::Open(const std::string& fileName, int32_t codec, int32_t codecFormat, int64_t bitsPerSecond,
                      int32_t width, int32_t height, REFERENCE_TIME frameTime) {
    InstallFfmpegLog();
    std::lock_guard<std::mutex> lock(m_lock);
    const std::vector<const CCodecEntry*> codecs = PresentCodecs();
    if (codec < 0 || static_cast<size_t>(codec) >= codecs.size() || codecFormat != 0) {
        THROW_DIRECTX_INFO(E_INVALIDARG, "Unable to get format info",
                           "codec " + std::to_string(codec) + ", format " + std::to_string(codecFormat) +
                               "; " + std::to_string(codecs.size()) + " WMV codecs with one format each");
    }
    if (width <= 0 || height <= 0 || frameTime <= 0 || bitsPerSecond <= 0) {
        THROW_DIRECTX_INFO(E_INVALIDARG, "Could not configure ASF writer filter",
                           std::to_string(width) + "x" + std::to_string(height) + ", frame time " +
                               std::to_string(frameTime) + ", " + std::to_string(bitsPerSecond) + " bit/s");
    }
    const AVCodec* encoder = avcodec_find_encoder(codecs[codec]->id);

    m_fileName = fileName;
    m_width = width;
    m_height = height;
    m_lastPts = -1;
    m_failed = false;
    m_result = S_OK;
    m_framesWritten.store(0);
    int num = 1;
    int den = 25;
    try {
        if (avformat_alloc_output_context2(&m_format, nullptr, "asf", fileName.c_str()) < 0 ||
            m_format == nullptr) {
            THROW_GENERAL("Could not create ASF writer filter.");
        }
        m_stream = avformat_new_stream(m_format, nullptr);
        if (m_stream == nullptr) {
            THROW_DIRECTX(E_OUTOFMEMORY, "Could not add stream in profile");
        }
        m_encoder = avcodec_alloc_context3(encoder);
        m_frame = av_frame_alloc();
        m_packet = av_packet_alloc();
        if (m_encoder == nullptr || m_frame == nullptr || m_packet == nullptr) {
            THROW_DIRECTX(E_OUTOFMEMORY, "Could not configure ASF writer filter");
        }
        // The WMV encoders need even sizes: an odd last column or row is repeated once.
        m_encoder->width = (width + 1) & ~1;
        m_encoder->height = (height + 1) & ~1;
        m_encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        // The encoders' rate control spends bit rate x time base per frame, so the time base is
        // one frame; its denominator must stay below 2^16 for these encoders.
        av_reduce(&num, &den, frameTime, 10000000, 65535);
        m_encoder->time_base = AVRational{num, den};
        m_encoder->framerate = AVRational{den, num};
        SetRateControl(m_encoder, bitsPerSecond);
        m_encoder->gop_size = std::max(1, den / std::max(num, 1)); // a key frame a second
        // Slices encoded on every core where the encoder can; one thread where it cannot.
        m_encoder->thread_count = 0;
        m_encoder->thread_type = FF_THREAD_SLICE;
        if ((m_format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        int error = avcodec_open2(m_encoder, encoder, nullptr);
        if (error < 0) {
            THROW_DIRECTX_INFO(HResultFromAvError(error), "Could not configure ASF writer filter",
                               AvErrorText(error));
        }
        error = avcodec_parameters_from_context(m_stream->codecpar, m_encoder);
        if (error < 0) {
            THROW_DIRECTX_INFO(HResultFromAvError(error), "Could not add stream in profile",
                               AvErrorText(error));
        }
        m_stream->time_base = m_encoder->time_base;
        m_frame->format = AV_PIX_FMT_YUV420P;
        m_frame->width = m_encoder->width;
        m_frame->height = m_encoder->height;
        error = av_frame_get_buffer(m_frame, 0);
        if (error < 0) {
            THROW_DIRECTX_INFO(HResultFromAvError(error), "Could not configure ASF writer filter",
                               AvErrorText(error));
        }
        // Only for BGR frames (a camera view hands I420, which the encoder reads in place); no scaling
        // happens, so the fastest mode gives the same picture.
        m_scaler = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUV420P,
                                  SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
        if (m_scaler == nullptr) {
            THROW_DIRECTX(E_FAIL, "Could not configure ASF writer filter");
        }
        error = avio_open(&m_format->pb, fileName.c_str(), AVIO_FLAG_WRITE);
        if (error < 0) {
            THROW_DIRECTX_INFO(HResultFromAvError(error), "Failed to set target filename",
                               fileName + ": " + AvErrorText(error));
        }
        // Every finished ASF packet goes to the operating system at once rather than after
        // FFmpeg's 32 KB write buffer fills: the motion frame reaches the file without waiting,
        // and a killed program loses at most the packet being filled (the syncer still forces
        // the data to the disk every two seconds).
        m_format->flush_packets = 1;
        error = avformat_write_header(m_format, nullptr);
        if (error < 0) {
            THROW_DIRECTX_INFO(HResultFromAvError(error), "Could not configure ASF writer filter",
                               AvErrorText(error));
        }
    } catch (...) {
        Release();
        throw;
    }
    m_open = true;
    TRACE("CWmvWriter::Open() %s %dx%d, time base %d/%d, %lld bit/s into '%s'", codecs[codec]->name, width,
          height, num, den, static_cast<long long>(bitsPerSecond), fileName.c_str());
}

void CWmvWriter::SetRateControl(AVCodecContext* encoder, int64_t bitsPerSecond) {
    // The average alone is a wish these encoders overshoot at low rates (by three quarters at
    // 100 kbit/s and 640x480): the maximum rate with a buffer of one second holds every second
    // to the rate, and a tolerance of a tenth of a second keeps the average close.
    encoder->bit_rate = bitsPerSecond;
    encoder->rc_max_rate = bitsPerSecond;
    encoder->rc_buffer_size = static_cast<int>(std::min<int64_t>(bitsPerSecond, INT32_MAX));
    encoder->rc_initial_buffer_occupancy = encoder->rc_buffer_size * 3 / 4;
    encoder->bit_rate_tolerance = static_cast<int>(std::min<int64_t>(bitsPerSecond / 10, INT32_MAX));
}

void CWmvWriter::Attach(GstAppSink* appsink) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_appsink = appsink;
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = OnEosCallback;
    callbacks.new_sample = OnNewSample;
    gst_app_sink_set_callbacks(appsink, &callbacks, this, nullptr);
}

void CWmvWriter::PostError(int error, const char* what) {
    m_failed = true;
    if (m_result == S_OK) {
        m_result = HResultFromAvError(error);
    }
    const std::string text = AvErrorText(error);
    TRACE("CWmvWriter: %s failed for '%s': %s", what, m_fileName.c_str(), text.c_str());
    if (m_appsink == nullptr) {
        return;
    }
    if (error == AVERROR(ENOSPC)) {
        GST_ELEMENT_ERROR(GST_ELEMENT(m_appsink), RESOURCE, NO_SPACE_LEFT, ("No space left on the device."),
                          ("%s '%s': %s", what, m_fileName.c_str(), text.c_str()));
    } else {
        GST_ELEMENT_ERROR(GST_ELEMENT(m_appsink), RESOURCE, WRITE, ("Could not write the WMV file."),
                          ("%s '%s': %s", what, m_fileName.c_str(), text.c_str()));
    }
}

int CWmvWriter::EncodeAndWrite(AVFrame* frame) {
    int error = avcodec_send_frame(m_encoder, frame);
    if (error < 0 && error != AVERROR_EOF) {
        return error;
    }
    for (;;) {
        error = avcodec_receive_packet(m_encoder, m_packet);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return 0;
        }
        if (error < 0) {
            return error;
        }
        av_packet_rescale_ts(m_packet, m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        error = av_interleaved_write_frame(m_format, m_packet); // takes the packet's data
        if (error < 0) {
            return error;
        }
    }
}

GstFlowReturn CWmvWriter::OnSample(GstSample* sample) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open || m_failed) {
        return GST_FLOW_ERROR;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    const bool known = buffer != nullptr && caps != nullptr && gst_video_info_from_caps(&info, caps) &&
                       (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_BGR ||
                        GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_I420) &&
                       GST_VIDEO_INFO_WIDTH(&info) == m_width && GST_VIDEO_INFO_HEIGHT(&info) == m_height;
    if (!known) {
        m_failed = true;
        m_result = VFW_E_TYPE_NOT_ACCEPTED;
        if (m_appsink != nullptr) {
            GST_ELEMENT_ERROR(GST_ELEMENT(m_appsink), STREAM, FORMAT,
                              ("The WMV writer got frames of another format."),
                              ("expected BGR or I420 %dx%d", m_width, m_height));
        }
        return GST_FLOW_ERROR;
    }
    // Stream time of the frame in encoder units, strictly increasing.
    int64_t pts = m_lastPts + 1;
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
        pts = av_rescale_q(static_cast<int64_t>(GST_BUFFER_PTS(buffer)), AVRational{1, 1000000000},
                           m_encoder->time_base);
    }
    pts = std::max(pts, m_lastPts + 1);
    int error = 0;
    if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_I420 && m_width == m_encoder->width &&
        m_height == m_encoder->height) {
        // The encoder's own format at its own size: it reads the frame where it is.
        AVFrame* picture = WrapI420(buffer, info);
        if (picture == nullptr) {
            return GST_FLOW_OK; // nothing to encode; the next frame may map
        }
        m_lastPts = pts;
        picture->pts = pts;
        error = EncodeAndWrite(picture);
        av_frame_free(&picture);
    } else {
        GstVideoFrame frame;
        if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            return GST_FLOW_OK;
        }
        error = av_frame_make_writable(m_frame);
        if (error >= 0) {
            FillPicture(frame);
            m_lastPts = pts;
            m_frame->pts = pts;
            error = EncodeAndWrite(m_frame);
        }
        gst_video_frame_unmap(&frame);
    }
    if (error < 0) {
        PostError(error, "Writing a frame");
        return GST_FLOW_ERROR;
    }
    m_framesWritten.fetch_add(1);
    return GST_FLOW_OK;
}

AVFrame* CWmvWriter::WrapI420(GstBuffer* buffer, const GstVideoInfo& info) const {
    // The mapping holds a reference on the buffer until the encoder frees the picture.
    auto* mapped = new GstVideoFrame;
    if (!gst_video_frame_map(mapped, &info, buffer, GST_MAP_READ)) {
        delete mapped;
        return nullptr;
    }
    const auto unmap = [](void* opaque, uint8_t*) {
        auto* frame = static_cast<GstVideoFrame*>(opaque);
        gst_video_frame_unmap(frame);
        delete frame;
    };
    AVBufferRef* reference =
        av_buffer_create(static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(mapped, 0)),
                         GST_VIDEO_FRAME_SIZE(mapped), unmap, mapped, AV_BUFFER_FLAG_READONLY);
    AVFrame* picture = reference != nullptr ? av_frame_alloc() : nullptr;
    if (picture == nullptr) {
        if (reference != nullptr) {
            av_buffer_unref(&reference); // unmaps
        } else {
            unmap(mapped, nullptr);
        }
        return nullptr;
    }
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = m_width;
    picture->height = m_height;
    for (guint plane = 0; plane < 3; ++plane) {
        picture->data[plane] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(mapped, plane));
        picture->linesize[plane] = GST_VIDEO_FRAME_PLANE_STRIDE(mapped, plane);
    }
    picture->buf[0] = reference;
    return picture;
}

void CWmvWriter::FillPicture(const GstVideoFrame& frame) {
    if (GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_I420) {
        // The encoder's own format: the planes are copied, nothing is converted.
        const int chromaWidth = (m_width + 1) / 2;
        const int chromaHeight = (m_height + 1) / 2;
        for (guint plane = 0; plane < 3; ++plane) {
            const int rowBytes = plane == 0 ? m_width : chromaWidth;
            const int rows = plane == 0 ? m_height : chromaHeight;
            av_image_copy_plane(m_frame->data[plane], m_frame->linesize[plane],
                                static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane)),
                                GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane), rowBytes, rows);
        }
    } else {
        const uint8_t* source[1] = {static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0))};
        const int sourceStride[1] = {GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)};
        sws_scale(m_scaler, source, sourceStride, 0, m_height, m_frame->data, m_frame->linesize);
    }
    // Repeat the last column and row into the padding of an odd-sized picture (the chroma of an
    // odd size already covers it).
    uint8_t* luma = m_frame->data[0];
    const int lumaStride = m_frame->linesize[0];
    if (m_frame->width > m_width) {
        for (int y = 0; y < m_height; ++y) {
            luma[y * lumaStride + m_width] = luma[y * lumaStride + m_width - 1];
        }
    }
    if (m_frame->height > m_height) {
        std::memcpy(luma + m_height * lumaStride, luma + (m_height - 1) * lumaStride, m_frame->width);
    }
}

void CWmvWriter::OnEos() {
    Finish();
}

HRESULT CWmvWriter::Finish() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open) {
        return m_result;
    }
    m_open = false;
    // Drain the encoder unless the file already failed; write the trailer in any case, so that
    // a file cut short by a full disk still gets its header completed where that is possible.
    if (!m_failed) {
        const int error = EncodeAndWrite(nullptr);
        if (error < 0) {
            PostError(error, "Writing the last frames");
        }
    }
    if (m_failed && m_format->pb != nullptr) {
        // A failed write leaves the I/O context in an error state that would swallow the
        // trailer; try it once more: the header is rewritten in place.
        m_format->pb->error = 0;
    }
    const int error = av_write_trailer(m_format);
    if (error < 0 && !m_failed) {
        PostError(error, "Writing the end of the file");
    }
    TRACE("CWmvWriter::Finish() '%s': %lld frames, result 0x%08X", m_fileName.c_str(),
          static_cast<long long>(m_framesWritten.load()), static_cast<unsigned>(m_result));
    Release();
    return m_result;
}

bool CWmvWriter::Flush() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_open || m_failed || m_format == nullptr || m_format->pb == nullptr) {
        return false;
    }
    // The muxer's packets so far leave FFmpeg's write buffer for the file.
    avio_flush(m_format->pb);
    return m_format->pb->error == 0;
}

bool CWmvWriter::IsFinished() {
    std::lock_guard<std::mutex> lock(m_lock);
    return !m_open;
}

void CWmvWriter::Release() {
    if (m_format != nullptr && m_format->pb != nullptr) {
        avio_closep(&m_format->pb);
    }
    avformat_free_context(m_format);
    m_format = nullptr;
    m_stream = nullptr;
    avcodec_free_context(&m_encoder);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
}
