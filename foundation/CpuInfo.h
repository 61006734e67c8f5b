#pragma once
// CCpuInfo: the processor facts of the system information report, read once with the processor
// identification instruction (CPUID): manufacturer, type, family, model, stepping, name (the
// brand string, or a name from a built-in table for processors without one), whether a
// time-stamp counter exists and the clock speed it shows over a 50 ms busy wait.
//
// Built on whatever thread asks for the report; it takes 50 ms when the counter exists.

#include <cstdint>
#include <functional>
#include <string>

class CCpuInfo {
public:
    // One CPUID query: leaf in, EAX, EBX, ECX, EDX out.
    using CpuidFunction = std::function<void(uint32_t leaf, uint32_t regs[4])>;

    // Reads the processor this runs on and measures its speed.
    CCpuInfo();
    // Reads the answers of another CPUID source; speedMhz is taken as given (no measurement).
    CCpuInfo(const CpuidFunction& cpuid, int speedMhz);

    const std::string& GetVendorString() const { return m_vendorString; }
    const std::string& GetVendorName() const { return m_vendorName; }
    int GetType() const { return m_type; }
    int GetFamily() const { return m_family; }
    int GetModel() const { return m_model; }
    int GetStepping() const { return m_stepping; }
    int GetExtendedFamily() const { return m_extendedFamily; }
    int GetExtendedModel() const { return m_extendedModel; }
    const std::string& GetName() const { return m_name; }
    bool HasTimeStampCounter() const { return m_hasTsc; }
    // MHz, -1 without a time-stamp counter.
    int GetSpeedMhz() const { return m_speedMhz; }

    // The manufacturer of a 12-character vendor string ("Unknown Manufacturer" when not known).
    static std::string VendorName(const std::string& vendorString);
    // The table name of a processor without a brand string.
    static std::string TableName(const std::string& vendorString, int family, int model);

private:
    void Read(const CpuidFunction& cpuid);
    static int MeasureSpeedMhz();

    std::string m_vendorString;
    std::string m_vendorName;
    int m_type = 0, m_family = 0, m_model = 0, m_stepping = 0;
    int m_extendedFamily = 0, m_extendedModel = 0;
    std::string m_name;
    bool m_hasTsc = false;
    int m_speedMhz = -1;
};
