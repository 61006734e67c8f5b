// The capture device manager over GStreamer's device monitor. Cameras cannot exist on a test
// machine, so a device provider of the test's own stands in for V4L2: it reports "v4l2" devices
// through the real monitor, and plugging and unplugging them posts the monitor's real bus messages.

#include "recording/DxDeviceMgr.h"
#include "recording/MediaSubtypes.h"
#include "recording/tests/GstTestSupport.h"
#include "recording/tests/ScriptedV4l2Device.h"

#include "foundation/Exceptions.h"
#include "persistence/NotificationLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <unistd.h>
#include <vector>

// A camera of the test provider: creates a test picture source.
struct TestCamDevice {
    GstDevice parent;
};
struct TestCamDeviceClass {
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(TestCamDevice, test_cam_device, GST_TYPE_DEVICE)
static GstElement* test_cam_device_create_element(GstDevice* /*device*/, const gchar* name) {
    return gst_element_factory_make("videotestsrc", name);
}
static void test_cam_device_class_init(TestCamDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = test_cam_device_create_element;
}
static void test_cam_device_init(TestCamDevice* /*self*/) {}

// The provider: its device list is what the test plugs in.
struct TestCamProvider {
    GstDeviceProvider parent;
};
struct TestCamProviderClass {
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(TestCamProvider, test_cam_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {
std::mutex g_plugged_lock;
std::vector<GstDevice*> g_plugged; // one reference each
} // namespace

static GList* test_cam_provider_probe(GstDeviceProvider* /*provider*/) {
    std::lock_guard<std::mutex> lock(g_plugged_lock);
    GList* devices = nullptr;
    for (GstDevice* device : g_plugged) {
        devices = g_list_append(devices, gst_object_ref(device));
    }
    return devices;
}
static void test_cam_provider_class_init(TestCamProviderClass* klass) {
    GstDeviceProviderClass* provider_class = GST_DEVICE_PROVIDER_CLASS(klass);
    provider_class->probe = test_cam_provider_probe;
    gst_device_provider_class_set_static_metadata(provider_class, "Test cameras", "Video/Source",
                                                  "Cameras plugged in by the tests", "Tavrix developers");
}
static void test_cam_provider_init(TestCamProvider* /*self*/) {}

namespace {

class DxDeviceMgrTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        static std::once_flag once;
        std::call_once(once, [] {
            gst_device_provider_register(nullptr, "tavrixtestcams", GST_RANK_PRIMARY,
                                         test_cam_provider_get_type());
        });
        CNotificationLog::Instance().Clear();
        char folder[] = "/tmp/tavrix-byid-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_mgr = std::make_unique<CDxDeviceMgrImpl>(m_folder + "/by-id");
        mkdir((m_folder + "/by-id").c_str(), 0700);
    }
    void TearDown() override {
        m_mgr.reset();
        while (!g_plugged.empty()) {
            Unplug(g_plugged.back());
        }
        std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    // A "V4L2" camera: a node file standing in for /dev/videoN, optionally with a by-id link.
    GstDevice* Plug(const std::string& friendlyName, const std::string& node,
                    const std::string& byIdName = {}) {
        const std::string path = m_folder + "/" + node;
        std::ofstream(path).put('\n');
        if (!byIdName.empty()) {
            EXPECT_EQ(symlink(path.c_str(), (m_folder + "/by-id/" + byIdName).c_str()), 0);
        }
        GstStructure* props = gst_structure_new("v4l2deviceprovider", "device.api", G_TYPE_STRING, "v4l2",
                                                "device.path", G_TYPE_STRING, path.c_str(), nullptr);
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=YUY2,width=640,height=480,framerate=30/1");
        auto* device = GST_DEVICE(g_object_new(test_cam_device_get_type(), "display-name",
                                               friendlyName.c_str(), "device-class", "Video/Source", "caps",
                                               caps, "properties", props, nullptr));
        gst_caps_unref(caps);
        gst_structure_free(props);
        gst_object_ref_sink(device);
        {
            std::lock_guard<std::mutex> lock(g_plugged_lock);
            g_plugged.push_back(device);
        }
        GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("tavrixtestcams");
        if (gst_device_provider_is_started(provider)) {
            gst_device_provider_device_add(provider, GST_DEVICE(gst_object_ref(device)));
        }
        gst_object_unref(provider);
        return device;
    }
    void Unplug(GstDevice* device) {
        {
            std::lock_guard<std::mutex> lock(g_plugged_lock);
            g_plugged.erase(std::find(g_plugged.begin(), g_plugged.end(), device));
        }
        GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("tavrixtestcams");
        if (gst_device_provider_is_started(provider)) {
            gst_device_provider_device_remove(provider, device);
        }
        gst_object_unref(provider);
        gst_object_unref(device);
    }

    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            EXPECT_TRUE(entry.docName.empty() && entry.camName.empty());
            texts.push_back(entry.text);
        }
        return texts;
    }

    std::string m_folder;
    std::unique_ptr<CDxDeviceMgrImpl> m_mgr;
};

TEST_F(DxDeviceMgrTest, TestSourcesAreAlwaysListedAndLoggedOnceAsAdded) {
    m_mgr->RefreshDevices();
    const std::map<std::string, std::string> devices = m_mgr->GetDevices();
    EXPECT_EQ(devices.at("test:smpte"), "Test picture: colour bars");
    EXPECT_EQ(devices.at("test:ball"), "Test picture: moving ball");
    EXPECT_EQ(devices.count("test:motion?on=5000-10000,20000-25000"), 1u);
    EXPECT_EQ(m_mgr->GetDeviceCount(), devices.size());
    EXPECT_EQ(m_mgr->GetDeviceFriendlyName("test:smpte"), "Test picture: colour bars");
    EXPECT_EQ(m_mgr->GetDeviceFriendlyName("test:nothing"), "");

    const std::vector<std::string> texts = LogTexts();
    EXPECT_EQ(texts.size(), devices.size());
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "Device 'Test picture: colour bars' has been added to the system."),
              texts.end());

    m_mgr->RefreshDevices();
    EXPECT_EQ(LogTexts().size(), texts.size()) << "a refresh without change logs nothing";
}

TEST_F(DxDeviceMgrTest, CamerasAreNamedByTheirStableLinkAndBothOfTwoEqualOnesAreKept) {
    Plug("USB Camera", "video0", "usb-Maker_USB_Camera_0001-video-index0");
    Plug("USB Camera", "video2");
    m_mgr->RefreshDevices();
    const std::map<std::string, std::string> devices = m_mgr->GetDevices();
    EXPECT_EQ(devices.at("v4l2:" + m_folder + "/by-id/usb-Maker_USB_Camera_0001-video-index0"), "USB Camera");
    EXPECT_EQ(devices.at("v4l2:" + m_folder + "/video2"), "USB Camera") << "no link: the node itself";
    const std::vector<std::string> texts = LogTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Device 'USB Camera' has been added to the system."), 2);
}

TEST_F(DxDeviceMgrTest, UnpluggedCameraIsLoggedOnceAndItsCapabilitiesDropped) {
    SKIP_PIPELINE_TEST_UNDER_TSAN(); // the device monitor's bus hands devices between threads
    GstDevice* camera = Plug("Door Camera", "video4", "usb-Door-video-index0");
    std::mutex lock;
    std::condition_variable changed;
    int changes = 0;
    m_mgr->RefreshDevices();
    m_mgr->StartDeviceWatch([&] {
        std::lock_guard<std::mutex> guard(lock);
        ++changes;
        changed.notify_all();
    });
    const std::string name = "v4l2:" + m_folder + "/by-id/usb-Door-video-index0";
    gsttest::ElementPtr element = gsttest::Own(gst_element_factory_make("videotestsrc", nullptr));
    m_mgr->ForceVideoDeviceCaps(name, element.get(), nullptr);
    ASSERT_TRUE(m_mgr->HasCachedCaps(name));
    CNotificationLog::Instance().Clear();

    // Starting the monitor may report the cameras already present as well: wait for the state
    // that the unplugging and plugging lead to, woken by each change.
    auto waitFor = [&](const std::function<bool()>& done) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(10), done);
    };
    Unplug(camera);
    ASSERT_TRUE(waitFor([&] { return m_mgr->GetDevices().count(name) == 0; }))
        << "no device-removed message from the monitor";
    EXPECT_EQ(LogTexts(), std::vector<std::string>{"Device 'Door Camera' has been removed from the system."});
    EXPECT_FALSE(m_mgr->HasCachedCaps(name));

    const std::string again = "v4l2:" + m_folder + "/video5";
    Plug("Door Camera", "video5");
    ASSERT_TRUE(waitFor([&] { return m_mgr->GetDevices().count(again) == 1; }))
        << "no device-added message from the monitor";
    EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Device 'Door Camera' has been removed from the system.",
                                                    "Device 'Door Camera' has been added to the system."}));
    m_mgr->StopDeviceWatch();
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_GE(changes, 2);
}

TEST_F(DxDeviceMgrTest, CapabilitiesOfATestSourceComeFromItsOwnPipelineThenFromTheCache) {
    const CVideoDeviceCaps caps = m_mgr->GetVideoDeviceCaps("test:smpte");
    EXPECT_EQ(caps.subtypes, std::set<GUID>{MEDIASUBTYPE_RGB24});
    for (const CVideoSize size : {CVideoSize{640, 480}, CVideoSize{320, 240}, CVideoSize{160, 120},
                                  CVideoSize{1920, 1080}, CVideoSize{768, 576}}) {
        EXPECT_EQ(caps.sizes.count(size), 1u) << size.cx << "x" << size.cy;
    }
    EXPECT_EQ(caps.maxFPS, 30) << "1 to 30 frames a second, as a common webcam";
    EXPECT_EQ(caps.minFPS, 5);
    EXPECT_FALSE(caps.hasCrossbar);
    EXPECT_FALSE(caps.hasTuner);
    EXPECT_TRUE(m_mgr->HasCachedCaps("test:smpte"));

    // Cached: a supplied element is not even looked at.
    m_mgr->ForceVideoDeviceCaps("test:smpte", nullptr, nullptr);
    EXPECT_EQ(m_mgr->GetVideoDeviceCaps("test:smpte").sizes, caps.sizes);
}

// A capture card's inputs and tuner reach the caps from the element that holds the device open,
// in the manager's own pipeline as in a camera's. The card is played from a script here; the
// real element (v4l2src) hands out its descriptor only while its device is open.
TEST_F(DxDeviceMgrTest, CrossbarAndTunerOfACaptureCardComeFromTheDeviceItsPipelineHoldsOpen) {
    std::vector<std::string> asked;
    CDxDeviceMgrImpl mgr(m_folder + "/by-id", [&asked](GstElement* element) -> std::unique_ptr<IV4l2Device> {
        gchar* name = gst_element_get_name(element);
        asked.push_back(name);
        const bool card = g_str_equal(name, "CAPDEV") || g_str_equal(name, "CaptureDevice");
        g_free(name);
        return card ? std::make_unique<CScriptedV4l2Device>(TvCard()) : nullptr;
    });
    const CVideoDeviceCaps caps = mgr.GetVideoDeviceCaps("test:smpte");
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "CAPDEV"), 1)
        << "every element of the pipeline is asked";
    EXPECT_TRUE(caps.hasCrossbar);
    EXPECT_EQ(caps.crossbarInputCount, 3);
    EXPECT_EQ(caps.inputTypes[2], 3);
    EXPECT_TRUE(caps.hasTuner);
    EXPECT_EQ(caps.tunerInputConnections, 1);
    EXPECT_NE(caps.tunerTVFormats & 0x10u, 0u);
    EXPECT_FALSE(caps.sizes.empty()) << "the picture's capabilities as before";

    // A camera's running pipeline, handed over after it was built.
    GstElement* pipeline = gst_pipeline_new("PreviewGraph");
    GstElement* source = gst_element_factory_make("videotestsrc", "CaptureDevice");
    GstElement* sink = gst_element_factory_make("fakesink", "Sink");
    gst_bin_add_many(GST_BIN(pipeline), source, sink, nullptr);
    ASSERT_TRUE(gst_element_link(source, sink));
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    mgr.ForceVideoDeviceCaps("test:ball", source, pipeline);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    ASSERT_TRUE(mgr.HasCachedCaps("test:ball"));
    EXPECT_TRUE(mgr.GetVideoDeviceCaps("test:ball").hasCrossbar);

    // The real way in: only an element with an open V4L2 device has one.
    GstElement* test = gst_element_factory_make("videotestsrc", nullptr);
    gst_object_ref_sink(test);
    EXPECT_EQ(V4l2DeviceOfElement(test), nullptr);
    gst_object_unref(test);
    if (GstElement* v4l2 = gst_element_factory_make("v4l2src", nullptr)) {
        gst_object_ref_sink(v4l2);
        EXPECT_EQ(V4l2DeviceOfElement(v4l2), nullptr) << "not opened";
        gst_object_unref(v4l2);
    }
}

TEST_F(DxDeviceMgrTest, DevicesThatCannotBeParsedOrOpenedFailWithoutCaching) {
    try {
        m_mgr->GetVideoDeviceCaps("camera 1");
        ADD_FAILURE() << "no exception";
    } catch (const CDirectXEx& e) {
        EXPECT_EQ(e.GetMessage(), "Unable to parse device name of capture device.");
        EXPECT_EQ(e.First().file, ".\\DxDeviceMgr");
    }
    const std::string missing = "v4l2:" + m_folder + "/video9";
    try {
        m_mgr->GetVideoDeviceCaps(missing);
        ADD_FAILURE() << "no exception";
    } catch (const CDirectXEx& e) {
        EXPECT_EQ(e.GetMessage(), "Unable to render the preview graph.");
    }
    EXPECT_FALSE(m_mgr->HasCachedCaps("camera 1"));
    EXPECT_FALSE(m_mgr->HasCachedCaps(missing));
    EXPECT_THROW(m_mgr->ForceVideoDeviceCaps(missing, nullptr, nullptr), CGeneralEx);
}

GUID Subtype(const std::string& name) {
    for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
        if (name == info.name) {
            return info.guid;
        }
    }
    ADD_FAILURE() << name;
    return GUID{};
}

CVideoDeviceCaps CapsOf(const char* text) {
    GstCaps* caps = gst_caps_from_string(text);
    EXPECT_NE(caps, nullptr) << text;
    CVideoDeviceCaps result = CDxDeviceMgrImpl::CapsFromGstCaps(caps);
    gst_caps_unref(caps);
    return result;
}

TEST(DeviceCapsTest, SizesHalveFromTheLargestAndAddStandardSizesOfTheSameShape) {
    gsttest::StartGStreamer();
    CVideoDeviceCaps caps = CapsOf("video/x-raw,format=YUY2,width=[160,640],height=[120,480],framerate=30/1");
    EXPECT_EQ(caps.sizes, (std::set<CVideoSize>{{640, 480}, {320, 240}, {160, 120}}));
    EXPECT_EQ(caps.subtypes, std::set<GUID>{Subtype("YUY2")});

    caps = CapsOf("video/x-raw,format=UYVY,width=[160,1280,8],height=[120,960,8],framerate=25/1");
    EXPECT_EQ(caps.sizes.count(CVideoSize{768, 576}), 1u) << "4:3 standard size on the granularity";
    EXPECT_EQ(caps.sizes.count(CVideoSize{648, 486}), 0u) << "486 is not a multiple of 8";
    EXPECT_EQ(caps.sizes.count(CVideoSize{1280, 960}), 1u);
    EXPECT_EQ(caps.sizes.count(CVideoSize{160, 120}), 1u);

    caps = CapsOf("image/jpeg,width=1280,height=720,framerate={30/1,15/1};"
                  "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,5/1}");
    EXPECT_EQ(caps.sizes, (std::set<CVideoSize>{{1280, 720}, {640, 480}}));
    EXPECT_EQ(caps.subtypes.size(), 2u);
    EXPECT_EQ(caps.maxFPS, 30);
    EXPECT_EQ(caps.minFPS, 5);
    EXPECT_EQ(caps.maxFrameInterval, 2000000);

    // A minimum width of 0 must not keep halving forever.
    caps = CapsOf("video/x-raw,format=BGR,width=[0,64],height=[0,48],framerate=30/1");
    EXPECT_EQ(caps.sizes.count(CVideoSize{1, 0}), 1u);
}

TEST(DeviceCapsTest, FrameRatesFollowTheIntervalRules) {
    gsttest::StartGStreamer();
    CVideoDeviceCaps caps = CapsOf("video/x-raw,format=BGR,width=320,height=240,framerate=[1/1,30/1]");
    EXPECT_EQ(caps.minFrameInterval, 333333);
    EXPECT_EQ(caps.maxFPS, 30);
    EXPECT_EQ(caps.maxFrameInterval, 10000000);
    EXPECT_EQ(caps.minFPS, 5) << "1 fps is raised to 5";

    caps = CapsOf("video/x-raw,format=BGR,width=320,height=240,framerate=[10/1,60/1]");
    EXPECT_EQ(caps.maxFPS, 60);
    EXPECT_EQ(caps.minFPS, 10);

    caps = CapsOf("video/x-raw,format=BGR,width=320,height=240");
    EXPECT_EQ(caps.maxFPS, 0) << "no interval known: largest minimum interval";
    EXPECT_EQ(caps.minFrameInterval, INT64_MAX);
    EXPECT_EQ(caps.minFPS, 5);

    caps = CapsOf("audio/x-raw,rate=44100");
    EXPECT_TRUE(caps.sizes.empty());
    EXPECT_EQ(caps.maxFPS, 0);
}

TEST_F(DxDeviceMgrTest, CompressorsAreTheEncodersTheAviWriterTakes) {
    setenv("DISPLAY", "", 1);
    setenv("WAYLAND_DISPLAY", "", 1);
    m_mgr->RefreshAll();
    const std::map<std::string, std::string> compressors = m_mgr->GetCompressors();
    EXPECT_EQ(compressors.at("jpegenc"), "JPEG image encoder");
    EXPECT_EQ(compressors.count("x264enc"), 1u);
    EXPECT_EQ(compressors.count("avenc_mpeg4"), 1u);
    EXPECT_EQ(compressors.count("vp9enc"), 0u) << "avimux does not take VP9";
    EXPECT_EQ(compressors.count("avenc_h264_omx"), 0u) << "needs OpenMAX hardware";
    EXPECT_EQ(compressors.count("videotestsrc"), 0u);
    EXPECT_EQ(m_mgr->GetCompressorCount(), compressors.size());
    const auto wmv = m_mgr->GetWmvCodecs();
    ASSERT_EQ(wmv.size(), 2u);
    EXPECT_EQ(wmv[0].first, "avenc_wmv2");
    EXPECT_EQ(wmv[1].first, "avenc_wmv1");
    EXPECT_EQ(wmv[0].second, "libav Windows Media Video 8 encoder");
    EXPECT_FALSE(m_mgr->IsVMR9Available()) << "no display";
    EXPECT_GE(m_mgr->GetDeviceCount(), 3u);
}

TEST(DeviceTablesTest, ConnectorsSubtypesStandardsAndVersion) {
    gsttest::StartGStreamer();
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(0), "Unknown");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(1), "Tuner");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(6), "Serial Digital");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(14), "SCART");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(15), "Unknown");

    EXPECT_EQ(CDxDeviceMgrImpl::GetSubtypeName(MEDIASUBTYPE_RGB24), "RGB24");
    GUID yuy2;
    ASSERT_TRUE(GUID::FromString("{32595559-0000-0010-8000-00AA00389B71}", yuy2));
    EXPECT_EQ(CDxDeviceMgrImpl::GetSubtypeName(yuy2), "YUY2");
    GUID mjpg;
    ASSERT_TRUE(GUID::FromString("{47504A4D-0000-0010-8000-00AA00389B71}", mjpg));
    EXPECT_EQ(CDxDeviceMgrImpl::GetSubtypeName(mjpg), "MJPG");
    EXPECT_EQ(CDxDeviceMgrImpl::GetSubtypeName(GUID{}), "Unknown");

    const auto standards = CDxDeviceMgrImpl::GetTVStandards(0x1 | 0x40 | 0x4 | 0x100000);
    const std::vector<std::pair<std::string, uint32_t>> expected = {
        {"NTSC_M", 0x1}, {"NTSC_433 ", 0x4}, {"PAL_N_COMBO ", 0x100000}};
    EXPECT_EQ(standards, expected) << "PAL_G is not offered";
    EXPECT_TRUE(CDxDeviceMgrImpl::GetTVStandards(0).empty());

    CDxDeviceMgrImpl mgr;
    uint32_t code = 0;
    char text[16] = "untouched";
    mgr.GetDirectXVersion(&code, text, sizeof text);
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    EXPECT_EQ(code, (major << 16) | (minor << 8));
    EXPECT_EQ(std::string(text), std::to_string(major) + "." + std::to_string(minor));
    char shortText[3] = "xx";
    mgr.GetDirectXVersion(&code, shortText, sizeof shortText);
    EXPECT_STREQ(shortText, "1.");
    char none[2] = "z";
    mgr.GetDirectXVersion(nullptr, none, 0);
    EXPECT_STREQ(none, "z");
}

TEST(MediaSubtypesTest, SubtypesMapToCapsAndBack) {
    gsttest::StartGStreamer();
    GstCaps* caps = CapsFromSubtype(MEDIASUBTYPE_RGB24);
    ASSERT_NE(caps, nullptr);
    EXPECT_STREQ(gst_structure_get_string(gst_caps_get_structure(caps, 0), "format"), "BGR");
    gst_caps_unref(caps);

    GstCaps* offered = gst_caps_from_string("video/x-raw,format={BGR,YUY2,NV21}");
    const std::vector<GUID> subtypes = SubtypesFromStructure(gst_caps_get_structure(offered, 0));
    gst_caps_unref(offered);
    ASSERT_EQ(subtypes.size(), 2u) << "NV21 has no subtype";
    EXPECT_EQ(subtypes[0], MEDIASUBTYPE_RGB24);
    EXPECT_EQ(GetMediaSubtypeName(subtypes[1]), "YUY2");

    for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
        GstCaps* back = CapsFromSubtype(info.guid);
        if (info.mediaType == nullptr) {
            EXPECT_EQ(back, nullptr) << info.name;
            continue;
        }
        ASSERT_NE(back, nullptr) << info.name;
        const std::vector<GUID> again = SubtypesFromStructure(gst_caps_get_structure(back, 0));
        ASSERT_EQ(again.size(), 1u) << info.name;
        // Aliases (IYUV, YUYV) come back as the subtype listed first for the same format.
        EXPECT_EQ(GetMediaSubtypeName(again[0]) == info.name || std::string(info.name) == "IYUV" ||
                      std::string(info.name) == "YUYV",
                  true)
            << info.name;
        gst_caps_unref(back);
    }
}

} // namespace
