// The system information report on the real device manager: the test sources with their provider,
// the compressors, the media framework version, and a display name that names nothing.

#include "recording/DxDeviceInfoSource.h"
#include "foundation/Exceptions.h"
#include "recording/DxDeviceMgr.h"
#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

TEST(DxDeviceInfoSourceTest, TheReportListsTheManagersDevicesWithProvidersAndItsCompressors) {
    gsttest::StartGStreamer();
    setenv("DISPLAY", "", 1);
    setenv("WAYLAND_DISPLAY", "", 1);
    CDxDeviceMgrImpl manager("/nonexistent/by-id");
    manager.RefreshAll();
    const CDxDeviceInfoSource source(manager);

    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    EXPECT_EQ(source.GetDirectXVersionText(), std::to_string(major) + "." + std::to_string(minor));
    EXPECT_EQ(source.GetCaptureDevices().size(), manager.GetDeviceCount());
    EXPECT_EQ(source.GetDeviceProvider("test:ball"), "videotestsrc (videotestsrc)");
    EXPECT_EQ(source.GetDeviceProvider("v4l2:/dev/video7"), "v4l2src (video4linux2)");
    try {
        source.GetDeviceProvider("webcam number one");
        ADD_FAILURE() << "no exception";
    } catch (const CDirectXEx& e) {
        EXPECT_EQ(e.GetMessage(), "Unable to parse device name of capture device.");
    }

    const CCpuInfo cpu([](uint32_t, uint32_t r[4]) { r[0] = r[1] = r[2] = r[3] = 0; }, 0);
    std::ostringstream out;
    CSystemInfo::BuildReport(out, cpu, CSystemFacts{}, source);
    const std::string report = out.str();
    EXPECT_NE(report.find("\n- DirectX:         " + source.GetDirectXVersionText() + "\n"),
              std::string::npos);
    EXPECT_NE(report.find(
                  "\n- Test picture: moving ball (test:ball)\n      Provider: videotestsrc (videotestsrc)\n"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("\n- JPEG image encoder (jpegenc)\n"), std::string::npos);
    // Devices in ascending order of display name.
    EXPECT_LT(report.find("(test:ball)"), report.find("(test:smpte)"));
}
