#include "camera/VideoRenderer.h"

#include "foundation/Exceptions.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <mutex>

namespace {

[[noreturn]] void ThrowNoSink() {
    THROW_DIRECTX(REGDB_E_CLASSNOTREG, "Unable to render the preview graph.");
}

} // namespace

GstElement* CNullVideoRenderer::CreateSink() {
    GstElement* sink = gst_element_factory_make("fakesink", "VideoRenderer");
    if (sink == nullptr) {
        ThrowNoSink();
    }
    g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    return sink;
}

struct CFrameConsumerRenderer::Shared {
    std::mutex lock; // guards consumer against the destructor
    FrameConsumer consumer;
};

CFrameConsumerRenderer::CFrameConsumerRenderer(FrameConsumer consumer, PlaceHook place, ShowHook show)
    : m_shared(std::make_shared<Shared>()), m_place(std::move(place)), m_show(std::move(show)) {
    m_shared->consumer = std::move(consumer);
}

CFrameConsumerRenderer::~CFrameConsumerRenderer() {
    std::lock_guard<std::mutex> lock(m_shared->lock);
    m_shared->consumer = nullptr;
}

GstElement* CFrameConsumerRenderer::CreateSink() {
    GstElement* sink = gst_element_factory_make("appsink", "VideoRenderer");
    if (sink == nullptr) {
        ThrowNoSink();
    }
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGR");
    // One frame waiting at most: a slow window loses frames, the capture never waits for it.
    g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, "enable-last-sample",
                 FALSE, nullptr);
    gst_caps_unref(caps);

    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer data) -> GstFlowReturn {
        auto* shared = static_cast<std::shared_ptr<Shared>*>(data)->get();
        GstSample* sample = gst_app_sink_pull_sample(appSink);
        if (sample == nullptr) {
            return GST_FLOW_OK;
        }
        GstVideoInfo info;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (buffer != nullptr && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
            gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            const int32_t stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
            const int32_t height = GST_VIDEO_INFO_HEIGHT(&info);
            if (map.size >= static_cast<gsize>(stride) * static_cast<gsize>(height)) {
                std::lock_guard<std::mutex> lock(shared->lock);
                if (shared->consumer) {
                    shared->consumer(map.data, GST_VIDEO_INFO_WIDTH(&info), height, stride);
                }
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new std::shared_ptr<Shared>(m_shared),
                               [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });
    return sink;
}

void CFrameConsumerRenderer::Place(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (m_place) {
        m_place(x, y, width, height);
    }
}

void CFrameConsumerRenderer::Show(bool visible) {
    if (m_show) {
        m_show(visible);
    }
}
