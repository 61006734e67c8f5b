#pragma once
// A 16-byte GUID laid out as documents store it: the 16 bytes of the GUID in memory order,
// Data1..Data3 little-endian, as on the platform the documents come from.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

struct GUID {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};

    bool operator==(const GUID& o) const { return std::memcmp(this, &o, sizeof(GUID)) == 0; }
    bool operator<(const GUID& o) const { return std::memcmp(this, &o, sizeof(GUID)) < 0; }

    // The 16 bytes in memory order (little-endian fields), as documents store them.
    std::array<uint8_t, 16> ToBytes() const {
        std::array<uint8_t, 16> b{};
        for (int i = 0; i < 4; ++i) {
            b[i] = static_cast<uint8_t>(Data1 >> (8 * i));
        }
        for (int i = 0; i < 2; ++i) {
            b[4 + i] = static_cast<uint8_t>(Data2 >> (8 * i));
            b[6 + i] = static_cast<uint8_t>(Data3 >> (8 * i));
        }
        std::memcpy(&b[8], Data4, 8);
        return b;
    }
    static GUID FromBytes(const uint8_t* b) {
        GUID g;
        g.Data1 = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                  static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
        g.Data2 = static_cast<uint16_t>(b[4] | b[5] << 8);
        g.Data3 = static_cast<uint16_t>(b[6] | b[7] << 8);
        std::memcpy(g.Data4, b + 8, 8);
        return g;
    }
    // Registry form, lower case: {e436eb7d-524f-11ce-9f53-0020af0ba770}
    std::string ToString() const {
        char s[40];
        std::snprintf(s, sizeof s, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", Data1, Data2, Data3,
                      Data4[0], Data4[1], Data4[2], Data4[3], Data4[4], Data4[5], Data4[6], Data4[7]);
        return s;
    }
    // Parses the registry form (braces optional, any case); false on malformed text.
    static bool FromString(const std::string& text, GUID& out) {
        std::string t = text;
        if (t.size() == 38 && t.front() == '{' && t.back() == '}') {
            t = t.substr(1, 36);
        }
        if (t.size() != 36) {
            return false;
        }
        unsigned d1, d2, d3, b[8];
        char tail;
        if (std::sscanf(t.c_str(), "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &d1, &d2, &d3, &b[0], &b[1],
                        &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &tail) != 11) {
            return false;
        }
        out.Data1 = d1;
        out.Data2 = static_cast<uint16_t>(d2);
        out.Data3 = static_cast<uint16_t>(d3);
        for (int i = 0; i < 8; ++i) {
            out.Data4[i] = static_cast<uint8_t>(b[i]);
        }
        return true;
    }
};

// The media subtypes the camera settings name (DirectShow media subtypes).
inline constexpr GUID MEDIASUBTYPE_RGB24 = {
    0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
