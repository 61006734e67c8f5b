// Tavrix command line entry point.

#include "TavrixVersion.h"
#include "camera/LockMonitor.h"
#include "foundation/CrashHandler.h"
#include "foundation/SystemInfo.h"
#include "foundation/Tracer.h"
#include "recording/DxDeviceInfoSource.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace {

// "tavrix devices": the capture devices and the compressors, display name TAB friendly name.
int ListDevices() {
    InitGStreamer();
    CDxDeviceMgrImpl& mgr = CDxDeviceMgrImpl::Instance();
    mgr.RefreshAll();
    const auto print = [](const char* heading, const std::map<std::string, std::string>& entries) {
        std::printf("%s\n", heading);
        for (const auto& [displayName, friendlyName] : entries) {
            std::printf("%s\t%s\n", displayName.c_str(), friendlyName.c_str());
        }
    };
    print("Video Devices", mgr.GetDevices());
    print("Compressors", mgr.GetCompressors());
    return 0;
}

// "tavrix sysinfo": the system information report (the desktop copies it to the clipboard).
int PrintSystemInfo() {
    InitGStreamer();
    CDxDeviceMgrImpl& mgr = CDxDeviceMgrImpl::Instance();
    mgr.RefreshAll();
    const std::string report = CSystemInfo::BuildReportText(CDxDeviceInfoSource(mgr));
    std::fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}

} // namespace

// Installed before main runs, so that a crash anywhere in the program leaves its report.
static CCrashHandlerInstaller s_crashHandler;

int main(int argc, char** argv) {
    // The tracer is the first service started and the last one stopped.
    CTracer::Instance().Start();
    TRACE("Tavrix %s starting", TAVRIX_VERSION_STRING);
    // The settings ask whether a session lock signal source is present when they are loaded.
    CLockMonitor::RegisterSettingsProbe();

    int status = 0;
    if (argc >= 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("Tavrix %s\n", TAVRIX_VERSION_STRING);
    } else if (argc >= 2 && std::strcmp(argv[1], "devices") == 0) {
        status = ListDevices();
    } else if (argc >= 2 && std::strcmp(argv[1], "sysinfo") == 0) {
        status = PrintSystemInfo();
    } else {
        std::fprintf(stderr, "Usage: tavrix --version | devices | sysinfo\n");
        status = 2;
    }

    TRACE("Tavrix stopping with status %d", status);
    CTracer::Instance().Stop();
    return status;
}
