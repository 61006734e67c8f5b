// What the grabber costs per frame compared with GStreamer's own pass-through element "identity":
// the same frames (BGR 640x480 and 1920x1080, recycled through a buffer pool so that none is ever
// copied for being shared) are pushed through one harness around each element, alternately, in
// the same run. The grabber has an empty frame callback registered, so it maps every frame
// writable and calls the application, as it does in a camera's pipeline.
// Counters: identity_us and grabber_us per frame, overhead_us = grabber_us - identity_us
// (goal: under 10 us), callbacks_per_frame (1).

#include "grabber/ITavrixGrabber.h"
#include "TavrixBuildPaths.h"
#include "recording/TavrixElements.h"

#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>
#include <gst/video/video.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Does nothing but count, so the run can show the callback saw every frame.
class EmptyCallback final : public ITavrixGrabberCB {
public:
    HRESULT OnFrame(CMediaSample* /*sample*/) override {
        ++calls;
        return S_OK;
    }
    int64_t calls = 0;
};

void StartGStreamer() {
    static bool started = false;
    if (!started) {
        setenv("GST_REGISTRY", TAVRIX_PLUGIN_DIR "/../gst-registry-bench.bin", 1);
        setenv("GST_PLUGIN_PATH", TAVRIX_PLUGIN_DIR, 1);
        InitGStreamer();
        started = true;
    }
}

GstHarness* HarnessFor(GstElement* element, GstCaps* caps) {
    GstHarness* h = gst_harness_new_with_element(element, "sink", "src");
    gst_harness_set_src_caps(h, gst_caps_ref(caps));
    gst_harness_set_drop_buffers(h, TRUE);
    return h;
}

GstBufferPool* PoolFor(GstCaps* caps) {
    GstVideoInfo info;
    gst_video_info_from_caps(&info, caps);
    GstBufferPool* pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(GST_VIDEO_INFO_SIZE(&info)), 4, 0);
    gst_buffer_pool_set_config(pool, config);
    gst_buffer_pool_set_active(pool, TRUE);
    return pool;
}

// Pushes one pooled frame through the harness; the time it took in nanoseconds.
double PushFrame(GstHarness* h, GstBufferPool* pool, GstClockTime pts) {
    GstBuffer* buffer = nullptr;
    gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
    GST_BUFFER_PTS(buffer) = pts;
    const auto start = std::chrono::steady_clock::now();
    const GstFlowReturn ret = gst_harness_push(h, buffer);
    const auto end = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(ret);
    return std::chrono::duration<double, std::nano>(end - start).count();
}

void BM_GrabberOverheadPerFrame(benchmark::State& state) {
    StartGStreamer();
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    GstCaps* caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT, width,
                            "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);

    GstElement* identity = GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("identity", nullptr)));
    GstElement* grabber = GST_ELEMENT(gst_object_ref_sink(CreateGrabberElement()));
    EmptyCallback callback;
    GetGrabberControl(grabber)->SetFrameCallback(&callback);
    GstHarness* identityHarness = HarnessFor(identity, caps);
    GstHarness* grabberHarness = HarnessFor(grabber, caps);
    GstBufferPool* pool = PoolFor(caps);

    double identityNs = 0;
    double grabberNs = 0;
    GstClockTime pts = 0;
    for (auto _ : state) {
        identityNs += PushFrame(identityHarness, pool, pts);
        grabberNs += PushFrame(grabberHarness, pool, pts);
        pts += GST_SECOND / 30;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["identity_us"] = identityNs / frames / 1000.0;
    state.counters["grabber_us"] = grabberNs / frames / 1000.0;
    state.counters["overhead_us"] = (grabberNs - identityNs) / frames / 1000.0;
    state.counters["callbacks_per_frame"] = static_cast<double>(callback.calls) / frames;
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height));

    gst_harness_teardown(identityHarness);
    gst_harness_teardown(grabberHarness);
    gst_buffer_pool_set_active(pool, FALSE);
    gst_object_unref(pool);
    gst_object_unref(identity);
    gst_object_unref(grabber);
    gst_caps_unref(caps);
}

BENCHMARK(BM_GrabberOverheadPerFrame)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
