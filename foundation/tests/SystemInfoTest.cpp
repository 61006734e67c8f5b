// The system information report: its exact layout from known facts, the processor name table,
// the lines that are left out, device errors, and the facts of this machine.

#include "foundation/SystemInfo.h"
#include "foundation/Exceptions.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

// Answers CPUID like a processor with the given vendor, signature and (optional) brand string.
CCpuInfo::CpuidFunction FakeCpu(const char* vendor, uint32_t signature, bool tsc, const char* brand) {
    return [=](uint32_t leaf, uint32_t r[4]) {
        std::memset(r, 0, 4 * sizeof(uint32_t));
        if (leaf == 0) {
            r[0] = 1;
            std::memcpy(&r[1], vendor, 4);
            std::memcpy(&r[3], vendor + 4, 4);
            std::memcpy(&r[2], vendor + 8, 4);
        } else if (leaf == 1) {
            r[0] = signature;
            r[3] = tsc ? 1u << 4 : 0;
        } else if (leaf == 0x80000000u) {
            r[0] = brand ? 0x80000004u : 0x80000000u;
        } else if (brand && leaf >= 0x80000002u && leaf <= 0x80000004u) {
            char block[16] = {};
            const size_t from = (leaf - 0x80000002u) * 16;
            const size_t length = std::strlen(brand);
            for (size_t i = 0; i < 16 && from + i < length; ++i) {
                block[i] = brand[from + i];
            }
            std::memcpy(r, block, 16);
        }
    };
}

class ScriptedDevices : public ISystemInfoDeviceSource {
public:
    std::string GetDirectXVersionText() const override { return "1.22"; }
    std::vector<Entry> GetCaptureDevices() const override { return devices; }
    std::vector<Entry> GetCompressors() const override { return compressors; }
    std::string GetDeviceProvider(const std::string& displayName) const override {
        if (displayName.rfind("bad:", 0) == 0) {
            THROW_DIRECTX(MK_E_SYNTAX, "Unable to parse device name of capture device.");
        }
        const auto found = providers.find(displayName);
        return found == providers.end() ? std::string() : found->second;
    }
    std::vector<Entry> devices;
    std::vector<Entry> compressors;
    std::map<std::string, std::string> providers;
};

CSystemFacts KnownFacts() {
    CSystemFacts facts;
    facts.processorCount = 4;
    facts.screen = CSystemFacts::Screen{1920, 1080, 24};
    facts.totalMemoryBytes = 16ull << 30;
    facts.availableMemoryBytes = (9ull << 30) + 12345;
    facts.computerName = "watch.example.org";
    facts.userName = "guard";
    facts.osName = "Debian GNU/Linux 12 (bookworm)";
    facts.build = "6.1.0-18-amd64";
    facts.additional = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)";
    facts.browserVersion = "7.88,Build 1";
    facts.windowsDirectory = "/usr";
    facts.systemDirectory = "/usr/lib/x86_64-linux-gnu";
    return facts;
}

std::string Report(const CCpuInfo& cpu, const CSystemFacts& facts, const ISystemInfoDeviceSource& devices) {
    std::ostringstream out;
    CSystemInfo::BuildReport(out, cpu, facts, devices);
    return out.str();
}

} // namespace

TEST(SystemInfoTest, TheReportHasItsLayoutLineByLine) {
    const CCpuInfo cpu(FakeCpu("GenuineIntel", 0x000906EA, true, "  Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"),
                       3192);
    ScriptedDevices devices;
    devices.devices = {{"v4l2:/dev/video0", "USB Camera"}, {"test:ball", "Test picture (ball)"}};
    devices.providers = {{"v4l2:/dev/video0", "v4l2src (video4linux2)"},
                         {"test:ball", "videotestsrc (videotestsrc)"}};
    devices.compressors = {{"x264enc", "x264 H.264 Encoder"}, {"jpegenc", "JPEG image encoder"}};
    const std::string expected =
        "Tavrix System Information\n"
        "------------------------------------------------------------------------------\n"
        "\n"
        "Hardware Information\n"
        "---------------------------------\n"
        "- Number of CPUs:  4 processor(s)\n"
        "- CPU Speed:       3192 MHz\n"
        "- VendorID:        Intel Corporation\n"
        "- CPU Type ID:     0\n"
        "- Family ID:       6\n"
        "- Stepping:        10\n"
        "- Brand ID:        Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
        "- Screen:          Width 1920 Height 1080 BPP 24\n"
        "- RAM:             Installed 16384MB Available 9216 MB\n"
        "\n"
        "Computer Information\n"
        "---------------------------------\n"
        "- Computer Name:   watch.example.org\n"
        "- User Name:       guard\n"
        "\n"
        "OS Information\n"
        "---------------------------------\n"
        "- OS Name:         Debian GNU/Linux 12 (bookworm) \n"
        "- Build            6.1.0-18-amd64\n"
        "- Additional:      #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)\n"
        "- IE Version:      7.88,Build 1\n"
        "- DirectX:         1.22\n"
        "- Windows Dir:     /usr\n"
        "- System Dir:      /usr/lib/x86_64-linux-gnu\n"
        "\n"
        "Video Devices\n"
        "---------------------------------\n"
        "- Test picture (ball) (test:ball)\n"
        "      Provider: videotestsrc (videotestsrc)\n"
        "- USB Camera (v4l2:/dev/video0)\n"
        "      Provider: v4l2src (video4linux2)\n"
        "\n"
        "Compressors\n"
        "---------------------------------\n"
        "- JPEG image encoder (jpegenc)\n"
        "- x264 H.264 Encoder (x264enc)\n"
        "\n"
        "------------------------------------------------------------------------------\n"
        "\n";
    EXPECT_EQ(Report(cpu, KnownFacts(), devices), expected);
    EXPECT_EQ(cpu.GetModel(), 14);
    EXPECT_EQ(cpu.GetExtendedModel(), 9);
    EXPECT_TRUE(cpu.HasTimeStampCounter());
}

TEST(SystemInfoTest, LinesThatCannotBeReadAreLeftOutAndUnknownSystemsHaveNoName) {
    const CCpuInfo cpu(FakeCpu("GenuineIntel", 0x0520, false, nullptr), 500);
    CSystemFacts facts = KnownFacts();
    facts.screen.reset();
    facts.userName.reset();
    facts.osName.clear();
    ScriptedDevices none;
    const std::string report = Report(cpu, facts, none);
    EXPECT_EQ(report.find("- Screen:"), std::string::npos);
    EXPECT_EQ(report.find("- User Name:"), std::string::npos);
    EXPECT_NE(report.find("\n- OS Name:         \n- Build "), std::string::npos);
    // Without a time-stamp counter the speed is -1; without a brand string the table names it.
    EXPECT_NE(report.find("\n- CPU Speed:       -1 MHz\n"), std::string::npos);
    EXPECT_NE(report.find("\n- Brand ID:        P54C\n"), std::string::npos);
    // No devices and no compressors: headings and rules only.
    EXPECT_NE(report.find("\nVideo Devices\n---------------------------------\n\nCompressors\n"
                          "---------------------------------\n\n-----"),
              std::string::npos);
}

TEST(SystemInfoTest, ADeviceThatCannotBeBoundShowsTheFullErrorAndTheReportGoesOn) {
    const CCpuInfo cpu(FakeCpu("AuthenticAMD", 0x0622, true, nullptr), 1000);
    ScriptedDevices devices;
    devices.devices = {{"bad:thing", "Broken"}, {"test:snow", "Snow"}};
    devices.providers = {{"test:snow", "videotestsrc (videotestsrc)"}};
    const std::string report = Report(cpu, KnownFacts(), devices);
    const auto at =
        report.find("- Broken (bad:thing)\n      Error: Unable to parse device name of capture device.\n");
    ASSERT_NE(at, std::string::npos) << report;
    const std::string rest = report.substr(at);
    EXPECT_NE(rest.find("Class \tCDirectXEx\nFile  \t.\\SystemInfoTest\nLine  \t"), std::string::npos);
    EXPECT_NE(rest.find("Internal \tMK_E_SYNTAX\n"), std::string::npos);
    EXPECT_NE(rest.find("- Snow (test:snow)\n      Provider: videotestsrc (videotestsrc)\n"),
              std::string::npos);
    EXPECT_NE(report.find("- Brand ID:        Athlon\n"), std::string::npos);
}

TEST(CpuInfoTest, NamesAndTableEntries) {
    EXPECT_EQ(CCpuInfo::VendorName("GenuineIntel"), "Intel Corporation");
    EXPECT_EQ(CCpuInfo::VendorName("AMD ISBETTER"), "Advanced Micro Devices");
    EXPECT_EQ(CCpuInfo::VendorName("CentaurHauls"), "IDT\\Centaur, Via Inc.");
    EXPECT_EQ(CCpuInfo::VendorName("TransmetaCPU"), "Transmeta");
    EXPECT_EQ(CCpuInfo::VendorName("HygonGenuine"), "Unknown Manufacturer");

    EXPECT_EQ(CCpuInfo::TableName("GenuineIntel", 3, 0), "Newer i80386 family");
    EXPECT_EQ(CCpuInfo::TableName("GenuineIntel", 4, 3), "i80486DX2");
    EXPECT_EQ(CCpuInfo::TableName("GenuineIntel", 15, 9), "Unknown Pentium 4 family");
    EXPECT_EQ(CCpuInfo::TableName("GenuineIntel", 9, 0), "Unknown Intel family");
    EXPECT_EQ(CCpuInfo::TableName("AuthenticAMD", 5, 8), "K6-2");
    EXPECT_EQ(CCpuInfo::TableName("AuthenticAMD", 11, 0), "Unknown AMD family");
    EXPECT_EQ(CCpuInfo::TableName("GenuineTMx86", 5, 4), "Crusoe TM3x00 and TM5x00");
    EXPECT_EQ(CCpuInfo::TableName("CyrixInstead", 5, 2), "Cx6x86");
    EXPECT_EQ(CCpuInfo::TableName("SomeoneElse!", 5, 2), "Unknown family");

    // A brand string made only of blanks counts as none.
    const CCpuInfo blank(FakeCpu("CyrixInstead", 0x0520, false, "                "), 0);
    EXPECT_EQ(blank.GetName(), "Cx6x86");
    EXPECT_EQ(blank.GetVendorName(), "Cyrix Corp., VIA Inc.");
}

TEST(SystemInfoTest, ThisMachinesFactsAreRead) {
    const CSystemFacts facts = CSystemFacts::Collect();
    EXPECT_GE(facts.processorCount, 1);
    EXPECT_GT(facts.totalMemoryBytes, 0u);
    EXPECT_LE(facts.availableMemoryBytes, facts.totalMemoryBytes);
    EXPECT_FALSE(facts.computerName.empty());
    EXPECT_FALSE(facts.build.empty());
    EXPECT_EQ(facts.windowsDirectory, "/usr");
    EXPECT_EQ(facts.systemDirectory[0], '/');
    EXPECT_TRUE(std::regex_match(facts.browserVersion, std::regex("\\d+\\.\\d+,Build \\d+")));

    const CCpuInfo cpu;
    EXPECT_FALSE(cpu.GetVendorString().empty());
    EXPECT_FALSE(cpu.GetName().empty());
    if (cpu.HasTimeStampCounter()) {
        EXPECT_GT(cpu.GetSpeedMhz(), 0);
    }
}

TEST(SystemInfoTest, OsNameComesFromTheReleaseFile) {
    const std::string path = testing::TempDir() + "/os-release-test";
    {
        std::ofstream out(path);
        out << "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n";
    }
    EXPECT_EQ(CSystemInfo::OsNameFromRelease(path), "Debian GNU/Linux 12 (bookworm)");
    {
        std::ofstream out(path);
        out << "PRETTY_NAME=Plain\n";
    }
    EXPECT_EQ(CSystemInfo::OsNameFromRelease(path), "Plain");
    {
        std::ofstream out(path);
        out << "NAME=Nameless\n";
    }
    EXPECT_EQ(CSystemInfo::OsNameFromRelease(path), "");
    EXPECT_EQ(CSystemInfo::OsNameFromRelease(path + ".missing"), "");
    std::remove(path.c_str());
}
