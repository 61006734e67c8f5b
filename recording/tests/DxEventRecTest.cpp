// The pipeline event receiver on real pipelines' buses: which messages become which events, in
// which order, and how it stops (also from inside its own callback).

#include "recording/DxEventRec.h"

#include "foundation/Exceptions.h"
#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Event = std::tuple<long, LONG_PTR, LONG_PTR>;

class CCollector : public CDxEventRecDB {
public:
    void DxEvent(long code, LONG_PTR param1, LONG_PTR param2) override {
        if (m_onEvent) {
            m_onEvent(code);
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.emplace_back(code, param1, param2);
        m_changed.notify_all();
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, timeout, [&] { return m_events.size() >= count; });
    }
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_events;
    }
    std::function<void(long)> m_onEvent;

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

void PostError(GstElement* pipeline, GQuark domain, int code, const char* debug) {
    GError* error = g_error_new_literal(domain, code, "test error");
    gst_element_post_message(pipeline, gst_message_new_error(GST_OBJECT(pipeline), error, debug));
    g_error_free(error);
}

class DxEventRecTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_PIPELINE_TEST_UNDER_TSAN();
        gsttest::StartGStreamer();
        m_pipeline = gsttest::Own(gst_pipeline_new("events"));
    }
    gsttest::ElementPtr m_pipeline;
};

TEST_F(DxEventRecTest, MessagesBecomeEventsInOrderAndOthersAreNotPassedOn) {
    CCollector collector;
    CDxEventRec receiver;
    receiver.Start(m_pipeline.get(), &collector);
    EXPECT_TRUE(receiver.IsRunning());

    gst_element_post_message(m_pipeline.get(), gst_message_new_latency(GST_OBJECT(m_pipeline.get())));
    PostError(m_pipeline.get(), GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT, "write failed");
    ASSERT_TRUE(CDxEventRec::PostEvent(m_pipeline.get(), EC_DEVICE_LOST, 0, 0));
    ASSERT_TRUE(CDxEventRec::PostEvent(m_pipeline.get(), EC_DEVICE_LOST, 0, 1));
    gst_element_post_message(m_pipeline.get(), gst_message_new_eos(GST_OBJECT(m_pipeline.get())));
    ASSERT_TRUE(collector.WaitForCount(4));
    receiver.Stop();
    EXPECT_FALSE(receiver.IsRunning());

    const std::vector<Event> expected = {Event{EC_ERRORABORT, HRESULT_DISK_FULL, 0},
                                         Event{EC_DEVICE_LOST, 0, 0}, Event{EC_DEVICE_LOST, 0, 1},
                                         Event{EC_COMPLETE, S_OK, 0}};
    EXPECT_EQ(collector.Events(), expected);
}

TEST_F(DxEventRecTest, StopEndsDeliveryAndTheReceiverCanStartAgain) {
    CCollector collector;
    CDxEventRec receiver;
    receiver.Start(m_pipeline.get(), &collector);
    receiver.Stop();
    receiver.Stop(); // a second stop does nothing
    CDxEventRec::PostEvent(m_pipeline.get(), EC_COMPLETE, 1, 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(collector.Events().empty()) << "an event was delivered after the stop";

    // The event waiting on the bus is delivered once a receiver starts again.
    receiver.Start(m_pipeline.get(), &collector);
    ASSERT_TRUE(collector.WaitForCount(1));
    EXPECT_EQ(collector.Events().front(), (Event{EC_COMPLETE, 1, 0}));
}

TEST_F(DxEventRecTest, StopFromInsideTheCallbackDeliversNothingMore) {
    CCollector collector;
    CDxEventRec receiver;
    collector.m_onEvent = [&](long code) {
        if (code == EC_ERRORABORT) {
            receiver.Stop(); // on the receiver's own thread: must not wait for itself
        }
    };
    // Both messages are on the bus before the receiver starts, so they arrive in one batch.
    PostError(m_pipeline.get(), GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, nullptr);
    CDxEventRec::PostEvent(m_pipeline.get(), EC_COMPLETE, 0, 0);
    receiver.Start(m_pipeline.get(), &collector);
    ASSERT_TRUE(collector.WaitForCount(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(collector.Events().size(), 1u);
    EXPECT_FALSE(receiver.IsRunning());
}

TEST_F(DxEventRecTest, StartWithoutABusFailsWithItsMessage) {
    CCollector collector;
    CDxEventRec receiver;
    // An element outside any pipeline has no bus.
    gsttest::ElementPtr lonely = gsttest::Own(gst_element_factory_make("fakesink", nullptr));
    try {
        receiver.Start(lonely.get(), &collector);
        FAIL() << "no exception";
    } catch (const CGeneralEx& exception) {
        EXPECT_EQ(exception.GetMessage(), "Unable to get IMediaEvent of filter graph.");
        EXPECT_EQ(exception.First().file, ".\\DxEventRec");
    }
    EXPECT_THROW(receiver.Start(nullptr, &collector), CGeneralEx);
    EXPECT_FALSE(receiver.IsRunning());
    EXPECT_FALSE(CDxEventRec::PostEvent(nullptr, EC_COMPLETE, 0, 0));
}

TEST(DxEventRecMapping, ErrorsMapToStableResultCodes) {
    gsttest::StartGStreamer();
    struct CCase {
        GQuark domain;
        int code;
        const char* message;
        const char* debug;
        HRESULT expected;
    };
    const char* enospc = std::strerror(ENOSPC);
    const CCase cases[] = {
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT, "x", nullptr, HRESULT_DISK_FULL},
        // A full disk reported in other words by an element.
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "x", "write: ENOSPC", HRESULT_DISK_FULL},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "x", enospc, HRESULT_DISK_FULL},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, enospc, nullptr, HRESULT_DISK_FULL},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, "x", "disk broken", HRESULT_WRITE_FAULT},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, "x", nullptr, HRESULT_FILE_NOT_FOUND},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_WRITE, "x", nullptr, HResultFromWin32(110)},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED, "x", nullptr, E_ACCESSDENIED},
        {GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, "x", nullptr, VFW_E_NO_ACCEPTABLE_TYPES},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_NOT_IMPLEMENTED, "x", nullptr, E_NOTIMPL},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED, "x", nullptr, MakeHResult(0xA0040001)},
        {GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_ENCODE, "x", nullptr, MakeHResult(0xA0020006)},
        {GST_CORE_ERROR, GST_CORE_ERROR_STATE_CHANGE, "x", nullptr, MakeHResult(0xA0010004)},
        {g_quark_from_static_string("tavrix-other"), 7, "x", nullptr, MakeHResult(0xA00F0007)},
    };
    for (const CCase& c : cases) {
        GError* error = g_error_new_literal(c.domain, c.code, c.message);
        EXPECT_EQ(CDxEventRec::HResultFromGstError(error, c.debug), c.expected)
            << g_quark_to_string(c.domain) << " " << c.code << " " << (c.debug ? c.debug : "");
        g_error_free(error);
    }
    EXPECT_EQ(CDxEventRec::HResultFromGstError(nullptr, nullptr), E_FAIL);
}

} // namespace
