// Tavrix command line entry point: the headless shell, the document commands and the device and
// system reports (CommandLine.h lists them).

#include "TavrixVersion.h"
#include "app/CommandLine.h"
#include "app/DocCommands.h"
#include "app/DocJsonCommands.h"
#include "app/HeadlessShell.h"
#include "app/qt/TavrixApp.h"
#include "camera/LockMonitor.h"
#include "foundation/CrashHandler.h"
#include "foundation/SystemInfo.h"
#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "recording/DxDeviceInfoSource.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"

#include <cstdio>
#include <iostream>
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
            // Names are shown as everywhere else: a password in an address masked.
            std::printf("%s\t%s\n", MaskPasswords(displayName).c_str(), MaskPasswords(friendlyName).c_str());
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
    const std::string report = MaskPasswords(CSystemInfo::BuildReportText(CDxDeviceInfoSource(mgr)));
    std::fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}

int Run(int& argc, char** argv, const CCommandLine& line, bool tracing) {
    switch (line.command) {
    case CCommandLine::Command::Gui: {
        DesktopShell::COptions options;
        options.documents = line.documents;
        options.tracingStarted = tracing;
        options.activate = line.activate;
        options.screenshotPath = line.screenshotPath;
        options.screenshotDelaySeconds = line.screenshotDelaySeconds;
        return DesktopShell::Run(argc, argv, options);
    }
    case CCommandLine::Command::Version:
        std::printf("Tavrix %s\n", TAVRIX_VERSION_STRING);
        return 0;
    case CCommandLine::Command::Devices:
        return ListDevices();
    case CCommandLine::Command::SysInfo:
        return PrintSystemInfo();
    case CCommandLine::Command::Headless: {
        CHeadlessOptions options;
        options.documents = line.documents;
        options.activate = line.activate;
        options.durationSeconds = line.durationSeconds;
        options.stats = line.stats;
        options.tracingStarted = tracing;
        return HeadlessShell::Run(options);
    }
    case CCommandLine::Command::DocCreate:
        return DocCommands::Create(line.file, line.cameras, line.recordPath, std::cout, std::cerr);
    case CCommandLine::Command::DocShow:
        return DocCommands::Show(line.file, std::cout, std::cerr);
    case CCommandLine::Command::DocSet:
        return DocCommands::Set(line.file, line.key, line.value, std::cout, std::cerr);
    case CCommandLine::Command::DocExport:
        return DocJsonCommands::Export(line.file, line.withSecrets, std::cout, std::cerr);
    case CCommandLine::Command::DocImport:
        return DocJsonCommands::Import(line.json, line.file, line.replace, std::cout, std::cerr);
    case CCommandLine::Command::DocSchema:
        return DocJsonCommands::Schema(std::cout);
    case CCommandLine::Command::Help:
        // Asked for: the usage on standard output, and success.
        std::fputs(CCommandLine::UsageText(), stdout);
        return 0;
    case CCommandLine::Command::Usage:
        break;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "tavrix: %s\n", line.error.c_str());
    }
    std::fputs(CCommandLine::UsageText(), stderr);
    return 2;
}

} // namespace

// Installed before main runs, so that a crash anywhere in the program leaves its report.
static CCrashHandlerInstaller s_crashHandler;

int main(int argc, char** argv) {
    const CCommandLine line = CCommandLine::Parse(argc, argv);
    if (line.command == CCommandLine::Command::Headless) {
        // Before the first thread starts: only the shell's signal thread takes them.
        HeadlessShell::BlockTerminationSignals();
    } else if (line.command == CCommandLine::Command::Gui) {
        DesktopShell::BlockTerminationSignals();
    }
    // The tracer is the first service started and the last one stopped.
    const bool tracing = CTracer::Instance().Start();
    TRACE("Tavrix %s starting", TAVRIX_VERSION_STRING);
    // The settings ask whether a session lock signal source is present when they are loaded.
    CLockMonitor::RegisterSettingsProbe();

    const int status = Run(argc, argv, line, tracing);

    TRACE("Tavrix stopping with status %d", status);
    CTracer::Instance().Stop();
    return status;
}
