#pragma once
// The system information report: a plain-text description of the machine for support requests
// (processor, screen, memory, computer and user name, operating system, internet client and
// media framework versions, the capture devices with their providers and the video compressors).
// The desktop's "System Info" command copies it to the clipboard and shows one of the message
// texts below; `tavrix sysinfo` prints it.
//
// The Windows labels of the report stand for these Linux facts:
//   OS Name      the distribution's PRETTY_NAME from /etc/os-release (nothing when not there)
//   Build        the kernel release (uname -r)
//   Additional   the kernel's version string (uname -v)
//   IE Version   libcurl, the internet client library that serves the program's FTP uploads, as
//                "major.minor,Build patch"
//   DirectX      the media framework's version text from the capture device source
//   Windows Dir  the system root, /usr
//   System Dir   the folder of the system's shared libraries
//
// Built on the thread that asks for it (the GUI thread or the command line).

#include "foundation/CpuInfo.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Where the report gets the capture devices, the compressors and the media framework version:
// the capture device manager.
class ISystemInfoDeviceSource {
public:
    struct Entry {
        std::string displayName;
        std::string friendlyName;
    };
    virtual ~ISystemInfoDeviceSource() = default;
    virtual std::string GetDirectXVersionText() const = 0;
    virtual std::vector<Entry> GetCaptureDevices() const = 0;
    virtual std::vector<Entry> GetCompressors() const = 0;
    // The provider of a device (the media framework's element factory and plugin that serve it),
    // read through its display name; empty when it cannot be read. Throws the exception family
    // when the display name cannot be parsed or bound.
    virtual std::string GetDeviceProvider(const std::string& displayName) const = 0;
};

// The machine's facts apart from the processor and the devices.
struct CSystemFacts {
    int processorCount = 0;
    struct Screen {
        int width = 0, height = 0, bitsPerPixel = 0;
    };
    std::optional<Screen> screen; // when the display mode can be read
    uint64_t totalMemoryBytes = 0;
    uint64_t availableMemoryBytes = 0;
    std::string computerName;
    std::optional<std::string> userName;
    std::string osName;
    std::string build;
    std::string additional;
    std::string browserVersion;
    std::string windowsDirectory;
    std::string systemDirectory;

    static CSystemFacts Collect();
};

class CSystemInfo {
public:
    // Writes the report.
    static void BuildReport(std::ostream& out, const CCpuInfo& cpu, const CSystemFacts& facts,
                            const ISystemInfoDeviceSource& devices);
    // The report of this machine.
    static std::string BuildReportText(const ISystemInfoDeviceSource& devices);

    // The outcomes of copying the report to the clipboard, as the message box shows them.
    static constexpr const char* kClipboardOpenFailed = "Cannot open the Clipboard";
    static constexpr const char* kClipboardEmptyFailed = "Cannot empty the Clipboard";
    static constexpr const char* kClipboardOutOfMemory = "Out of memory during Clipboard copy";
    static constexpr const char* kClipboardSetFailed = "Unable to set Clipboard data";
    static constexpr const char* kClipboardCopied = "System information sucessfully copied to the Clipboard!";

    // The browser line's text when no version can be found.
    static constexpr const char* kNoBrowserVersion = "Cannot extract version number of Internet Explorer";
    // libcurl's version in the form the report uses ("7.88,Build 1").
    static std::string InternetClientVersion();
    // The X display's screen size and depth; nothing without a reachable display.
    static std::optional<CSystemFacts::Screen> ReadScreen();
    // PRETTY_NAME of an os-release file; empty when it has none.
    static std::string OsNameFromRelease(const std::string& osReleasePath);
};
