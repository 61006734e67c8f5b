#include "foundation/CpuInfo.h"

#include "platform/Time.h"

#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace {

void RealCpuid(uint32_t leaf, uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#if defined(__x86_64__) || defined(__i386__)
    __cpuid(leaf, regs[0], regs[1], regs[2], regs[3]);
#else
    (void)leaf;
#endif
}

struct ModelName {
    int family;
    int model; // -1: any model of the family not listed before
    const char* name;
};

struct VendorTable {
    const char* vendor;
    const ModelName* names;
    size_t count;
    const char* unknownFamily;
};

const ModelName kIntel[] = {
    {3, -1, "Newer i80386 family"},
    {4, 0, "i80486DX-25/33"},
    {4, 1, "i80486DX-50"},
    {4, 2, "i80486SX"},
    {4, 3, "i80486DX2"},
    {4, 4, "i80486SL"},
    {4, 5, "i80486SX2"},
    {4, 7, "i80486DX2WB"},
    {4, 8, "i80486DX4"},
    {4, 9, "i80486DX4WB"},
    {4, -1, "Unknown i80486 family"},
    {5, 0, "P5 A-step"},
    {5, 1, "P5"},
    {5, 2, "P54C"},
    {5, 3, "P24T OverDrive"},
    {5, 4, "P55C"},
    {5, 7, "P54C"},
    {5, 8, "P55C (0.25 micron)"},
    {5, -1, "Unknown Pentium family"},
    {6, 0, "P6 A-step"},
    {6, 1, "P6"},
    {6, 3, "Pentium II (0.28 micron)"},
    {6, 5, "Pentium II (0.25 micron)"},
    {6, 6, "Pentium II with on-die L2 cache"},
    {6, 7, "Pentium III (0.25 micron)"},
    {6, 8, "Pentium III (0.18 micron) with 256 KB on-die L2 cache"},
    {6, 10, "Pentium III (0.18 micron) with 1 or 2 MB on-die L2 cache"},
    {6, 11, "Pentium III (0.13 micron) with 256 or 512 KB on-die L2 cache"},
    {6, -1, "Unknown P6 family"},
    {7, -1, "Itanium"},
    {15, 0, "Pentium 4 (0.18 micron)"},
    {15, 1, "Pentium 4 (0.18 micron)"},
    {15, 2, "Pentium 4 (0.13 micron)"},
    {15, 3, "Pentium 4 (0.09 micron)"},
    {15, -1, "Unknown Pentium 4 family"},
};

const ModelName kAmd[] = {
    {4, 3, "80486DX2"},
    {4, 7, "80486DX2WB"},
    {4, 8, "80486DX4"},
    {4, 9, "80486DX4WB"},
    {4, 14, "5x86"},
    {4, 15, "5x86WB"},
    {4, -1, "Unknown 80486 family"},
    {5, 0, "SSA5 (PR75, PR90, PR100)"},
    {5, 1, "5k86 (PR120, PR133)"},
    {5, 2, "5k86 (PR166)"},
    {5, 3, "5k86 (PR200)"},
    {5, 6, "K6 (0.30 micron)"},
    {5, 7, "K6 (0.25 micron)"},
    {5, 8, "K6-2"},
    {5, 9, "K6-III"},
    {5, 13, "K6-2+ or K6-III+ (0.18 micron)"},
    {5, -1, "Unknown 80586 family"},
    {6, 1, "Athlon"},
    {6, 2, "Athlon"},
    {6, 3, "Duron"},
    {6, 4, "Athlon (Thunderbird)"},
    {6, 6, "Athlon (Palomino)"},
    {6, 7, "Duron (Morgan)"},
    {6, 8, "Athlon (Thoroughbred)"},
    {6, 10, "Athlon (Barton)"},
    {6, -1, "Unknown K7 family"},
    {15, -1, "Unknown K8 family"},
};

const ModelName kTransmeta[] = {
    {5, -1, "Crusoe TM3x00 and TM5x00"},
    {15, -1, "Efficeon TM8x00"},
};

const ModelName kCyrix[] = {
    {4, 4, "MediaGX"},
    {5, 2, "Cx6x86"},
    {5, 4, "MediaGX MMX Enhanced"},
    {5, -1, "Unknown Cx6x86 family"},
    {6, 0, "MII (6x86MX)"},
    {6, 5, "VIA Cyrix M2 core"},
    {6, 6, "WinChip C5A"},
    {6, 7, "WinChip C5B"},
    {6, 8, "WinChip C5N"},
    {6, 9, "WinChip C5XL"},
    {6, -1, "Unknown 6x86MX family"},
};

const ModelName kCentaur[] = {
    {5, 4, "Centaur C6"},       {5, 8, "Centaur C2"}, {5, 9, "Centaur C3"}, {5, -1, "Unknown Centaur family"},
    {6, -1, "VIA C3 or later"},
};

const ModelName kNexGen[] = {{5, 0, "Nx586"}};
const ModelName kUmc[] = {{4, 1, "U5D"}, {4, 2, "U5S"}};
const ModelName kRise[] = {{5, 0, "mP6 (0.25 micron)"}, {5, 2, "mP6 (0.18 micron)"}};
const ModelName kNsc[] = {{5, 4, "GX1, GXLV, GXm"}, {5, 5, "GX2"}};

#define TABLE(v, names, unknown)                                                                             \
    { v, names, sizeof names / sizeof names[0], unknown }
const VendorTable kTables[] = {
    TABLE("GenuineIntel", kIntel, "Unknown Intel family"),
    TABLE("AuthenticAMD", kAmd, "Unknown AMD family"),
    TABLE("AMD ISBETTER", kAmd, "Unknown AMD family"),
    TABLE("GenuineTMx86", kTransmeta, "Unknown Crusoe family"),
    TABLE("TransmetaCPU", kTransmeta, "Unknown Crusoe family"),
    TABLE("CyrixInstead", kCyrix, "Unknown Cyrix family"),
    TABLE("CentaurHauls", kCentaur, "Unknown Centaur family"),
    TABLE("NexGenDriven", kNexGen, "Unknown NexGen family"),
    TABLE("UMC UMC UMC ", kUmc, "Unknown UMC family"),
    TABLE("RiseRiseRise", kRise, "Unknown Rise family"),
    TABLE("Geode By NSC", kNsc, "Unknown Geode family"),
};
#undef TABLE

} // namespace

std::string CCpuInfo::VendorName(const std::string& vendor) {
    static const struct {
        const char* vendor;
        const char* name;
    } kNames[] = {
        {"GenuineIntel", "Intel Corporation"},
        {"AuthenticAMD", "Advanced Micro Devices"},
        {"AMD ISBETTER", "Advanced Micro Devices"},
        {"Geode By NSC", "National Semiconductor"},
        {"UMC UMC UMC ", "United Microelectronics Corp."},
        {"CyrixInstead", "Cyrix Corp., VIA Inc."},
        {"NexGenDriven", "NexGen Inc., Advanced Micro Devices"},
        {"CentaurHauls", "IDT\\Centaur, Via Inc."},
        {"RiseRiseRise", "Rise"},
        {"GenuineTMx86", "Transmeta"},
        {"TransmetaCPU", "Transmeta"},
    };
    for (const auto& entry : kNames) {
        if (vendor == entry.vendor) {
            return entry.name;
        }
    }
    return "Unknown Manufacturer";
}

std::string CCpuInfo::TableName(const std::string& vendor, int family, int model) {
    for (const VendorTable& table : kTables) {
        if (vendor != table.vendor) {
            continue;
        }
        for (size_t i = 0; i < table.count; ++i) {
            const ModelName& entry = table.names[i];
            if (entry.family == family && (entry.model == model || entry.model == -1)) {
                return entry.name;
            }
        }
        return table.unknownFamily;
    }
    return "Unknown family";
}

CCpuInfo::CCpuInfo() {
    Read(&RealCpuid);
    m_speedMhz = m_hasTsc ? MeasureSpeedMhz() : -1;
}

CCpuInfo::CCpuInfo(const CpuidFunction& cpuid, int speedMhz) {
    Read(cpuid);
    m_speedMhz = m_hasTsc ? speedMhz : -1;
}

void CCpuInfo::Read(const CpuidFunction& cpuid) {
    uint32_t r[4];
    cpuid(0, r);
    const uint32_t maxLeaf = r[0];
    char vendor[13];
    std::memcpy(vendor, &r[1], 4);     // EBX
    std::memcpy(vendor + 4, &r[3], 4); // EDX
    std::memcpy(vendor + 8, &r[2], 4); // ECX
    vendor[12] = '\0';
    m_vendorString.assign(vendor, strnlen(vendor, 12));
    m_vendorName = VendorName(m_vendorString);

    if (maxLeaf >= 1) {
        cpuid(1, r);
        const uint32_t eax = r[0];
        m_stepping = eax & 0xF;
        m_model = (eax >> 4) & 0xF;
        m_family = (eax >> 8) & 0xF;
        m_type = (eax >> 12) & 0xF;
        m_extendedModel = (eax >> 16) & 0xF;
        m_extendedFamily = (eax >> 20) & 0xFF;
        m_hasTsc = (r[3] & (1u << 4)) != 0;
    }

    cpuid(0x80000000u, r);
    if (r[0] >= 0x80000004u) {
        char brand[49] = {};
        for (uint32_t i = 0; i < 3; ++i) {
            cpuid(0x80000002u + i, r);
            std::memcpy(brand + 16 * i, r, 16);
        }
        std::string name(brand, strnlen(brand, 48));
        // The brand string is padded with blanks at the front on some processors.
        const auto first = name.find_first_not_of(' ');
        m_name = first == std::string::npos ? std::string() : name.substr(first);
        while (!m_name.empty() && m_name.back() == ' ') {
            m_name.pop_back();
        }
    }
    if (m_name.empty()) {
        m_name = TableName(m_vendorString, m_family, m_model);
    }
}

int CCpuInfo::MeasureSpeedMhz() {
#if defined(__x86_64__) || defined(__i386__)
    // Counter ticks during a 50 ms busy wait timed with the high-resolution counter, less the
    // ticks one bare read of that counter costs.
    const uint64_t frequency = platform::QueryPerformanceFrequency();
    const uint64_t waitCounts = frequency / 20;
    const uint64_t tscOverheadStart = __rdtsc();
    (void)platform::QueryPerformanceCounter();
    const uint64_t overhead = __rdtsc() - tscOverheadStart;

    const uint64_t start = platform::QueryPerformanceCounter();
    const uint64_t tscStart = __rdtsc();
    while (platform::QueryPerformanceCounter() - start < waitCounts) {
    }
    const uint64_t ticks = __rdtsc() - tscStart;
    const uint64_t net = ticks > overhead ? ticks - overhead : 0;
    return static_cast<int>(net / 50 / 1000);
#else
    return -1;
#endif
}
