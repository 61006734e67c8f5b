#include "foundation/SystemInfo.h"

#include "foundation/Exceptions.h"
#include "foundation/SystemDirectories.h"

#include <algorithm>
#include <cstdlib>
#include <curl/curl.h>
#include <dlfcn.h>
#include <fstream>
#include <netdb.h>
#include <pwd.h>
#include <sstream>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const char kLongRule[] = "------------------------------------------------------------------------------";
const char kShortRule[] = "---------------------------------";

std::string FullyQualifiedHostName() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    std::string name = host;
    if (getaddrinfo(host, nullptr, &hints, &result) == 0 && result) {
        if (result->ai_canonname && *result->ai_canonname) {
            name = result->ai_canonname;
        }
        freeaddrinfo(result);
    }
    return name;
}

std::optional<std::string> UserName() {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) {
        return std::string(found->pw_name);
    }
    if (const char* user = std::getenv("USER"); user && *user) {
        return std::string(user);
    }
    return std::nullopt;
}

uint64_t AvailableMemoryBytes(uint64_t fallback) {
    // MemAvailable counts what can be had without swapping (free plus reclaimable caches).
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t valueKb = 0;
    std::string unit;
    while (meminfo >> key >> valueKb) {
        std::getline(meminfo, unit);
        if (key == "MemAvailable:") {
            return valueKb * 1024;
        }
    }
    return fallback;
}

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
        }
        out += value[i];
    }
    return out;
}

} // namespace

std::string CSystemInfo::OsNameFromRelease(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            return Unquote(line.substr(12));
        }
    }
    return {};
}

std::string CSystemInfo::InternetClientVersion() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    if (!info) {
        return kNoBrowserVersion;
    }
    const unsigned v = info->version_num;
    return std::to_string((v >> 16) & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + ",Build " +
           std::to_string(v & 0xFF);
}

std::optional<CSystemFacts::Screen> CSystemInfo::ReadScreen() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        return std::nullopt;
    }
    // Xlib is loaded only here, so that the program needs no display library to run headless.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib) {
        return std::nullopt;
    }
    using OpenFn = void* (*)(const char*);
    using CloseFn = int (*)(void*);
    using ScreenFn = int (*)(void*);
    using SizeFn = int (*)(void*, int);
    auto open = reinterpret_cast<OpenFn>(dlsym(xlib, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<CloseFn>(dlsym(xlib, "XCloseDisplay"));
    auto defaultScreen = reinterpret_cast<ScreenFn>(dlsym(xlib, "XDefaultScreen"));
    auto width = reinterpret_cast<SizeFn>(dlsym(xlib, "XDisplayWidth"));
    auto height = reinterpret_cast<SizeFn>(dlsym(xlib, "XDisplayHeight"));
    auto depth = reinterpret_cast<SizeFn>(dlsym(xlib, "XDefaultDepth"));
    std::optional<CSystemFacts::Screen> screen;
    if (open && closeDisplay && defaultScreen && width && height && depth) {
        if (void* connection = open(nullptr)) {
            const int number = defaultScreen(connection);
            screen = CSystemFacts::Screen{width(connection, number), height(connection, number),
                                          depth(connection, number)};
            closeDisplay(connection);
        }
    }
    // Xlib keeps internal state alive after the display closes; it stays loaded.
    return screen;
}

CSystemFacts CSystemFacts::Collect() {
    CSystemFacts facts;
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    facts.processorCount = processors > 0 ? static_cast<int>(processors) : 1;
    facts.screen = CSystemInfo::ReadScreen();
    struct sysinfo memory {};
    if (sysinfo(&memory) == 0) {
        facts.totalMemoryBytes = static_cast<uint64_t>(memory.totalram) * memory.mem_unit;
        facts.availableMemoryBytes =
            AvailableMemoryBytes(static_cast<uint64_t>(memory.freeram) * memory.mem_unit);
    }
    facts.computerName = FullyQualifiedHostName();
    facts.userName = UserName();
    facts.osName = CSystemInfo::OsNameFromRelease("/etc/os-release");
    if (facts.osName.empty()) {
        facts.osName = CSystemInfo::OsNameFromRelease("/usr/lib/os-release");
    }
    utsname system{};
    if (uname(&system) == 0) {
        facts.build = system.release;
        facts.additional = system.version;
    }
    facts.browserVersion = CSystemInfo::InternetClientVersion();
    facts.windowsDirectory = SystemRootDirectory();
    facts.systemDirectory = SystemLibraryDirectory();
    return facts;
}

void CSystemInfo::BuildReport(std::ostream& out, const CCpuInfo& cpu, const CSystemFacts& facts,
                              const ISystemInfoDeviceSource& devices) {
    out << "Tavrix System Information" << '\n' << kLongRule << '\n' << '\n';

    out << "Hardware Information" << '\n' << kShortRule << '\n';
    out << "- Number of CPUs:  " << facts.processorCount << " processor(s)" << '\n';
    out << "- CPU Speed:       " << cpu.GetSpeedMhz() << " MHz" << '\n';
    out << "- VendorID:        " << cpu.GetVendorName() << '\n';
    out << "- CPU Type ID:     " << cpu.GetType() << '\n';
    out << "- Family ID:       " << cpu.GetFamily() << '\n';
    out << "- Stepping:        " << cpu.GetStepping() << '\n';
    out << "- Brand ID:        " << cpu.GetName() << '\n';
    if (facts.screen) {
        out << "- Screen:          Width " << facts.screen->width << " Height " << facts.screen->height
            << " BPP " << facts.screen->bitsPerPixel << '\n';
    }
    out << "- RAM:             Installed " << (facts.totalMemoryBytes >> 20) << "MB "
        << "Available " << (facts.availableMemoryBytes >> 20) << " MB" << '\n';
    out << '\n';

    out << "Computer Information" << '\n' << kShortRule << '\n';
    out << "- Computer Name:   " << facts.computerName << '\n';
    if (facts.userName) {
        out << "- User Name:       " << *facts.userName << '\n';
    }
    out << '\n';

    out << "OS Information" << '\n' << kShortRule << '\n';
    out << "- OS Name:         " << (facts.osName.empty() ? "" : facts.osName + " ") << '\n';
    out << "- Build            " << facts.build << '\n';
    out << "- Additional:      " << facts.additional << '\n';
    out << "- IE Version:      " << facts.browserVersion << '\n';
    out << "- DirectX:         " << devices.GetDirectXVersionText() << '\n';
    out << "- Windows Dir:     " << facts.windowsDirectory << '\n';
    out << "- System Dir:      " << facts.systemDirectory << '\n';
    out << '\n';

    const auto byDisplayName = [](const ISystemInfoDeviceSource::Entry& a,
                                  const ISystemInfoDeviceSource::Entry& b) {
        return a.displayName < b.displayName;
    };
    out << "Video Devices" << '\n' << kShortRule << '\n';
    auto captureDevices = devices.GetCaptureDevices();
    std::sort(captureDevices.begin(), captureDevices.end(), byDisplayName);
    for (const auto& device : captureDevices) {
        out << "- " << device.friendlyName << " (" << device.displayName << ")" << '\n';
        try {
            const std::string provider = devices.GetDeviceProvider(device.displayName);
            if (!provider.empty()) {
                out << "      Provider: " << provider << '\n';
            }
        } catch (const CBaseException& e) {
            out << "      Error: " << e.GetText(true) << '\n';
        }
    }
    out << '\n';

    out << "Compressors" << '\n' << kShortRule << '\n';
    auto compressors = devices.GetCompressors();
    std::sort(compressors.begin(), compressors.end(), byDisplayName);
    for (const auto& compressor : compressors) {
        out << "- " << compressor.friendlyName << " (" << compressor.displayName << ")" << '\n';
    }
    out << '\n';

    out << kLongRule << '\n' << '\n';
}

std::string CSystemInfo::BuildReportText(const ISystemInfoDeviceSource& devices) {
    const CCpuInfo cpu;
    const CSystemFacts facts = CSystemFacts::Collect();
    std::ostringstream out;
    BuildReport(out, cpu, facts, devices);
    return out.str();
}
