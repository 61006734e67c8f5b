#include "recording/MediaSubtypes.h"

#include <cstring>

namespace {

constexpr GUID RgbSubtype(uint8_t last) {
    return GUID{0xe436eb00u | last, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
}

// A FOURCC subtype: {XXXXXXXX-0000-0010-8000-00AA00389B71} with the four characters in Data1.
constexpr GUID FourCcSubtype(const char (&code)[5]) {
    return GUID{static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
                    static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
                    static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
                    static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24,
                0x0000,
                0x0010,
                {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

constexpr const char* kRaw = "video/x-raw";

bool SameText(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

} // namespace

const std::vector<CMediaSubtypeInfo>& GetMediaSubtypes() {
    // Where two subtypes share one GStreamer format, the first is the one reported for it.
    static const std::vector<CMediaSubtypeInfo> table = {
        {RgbSubtype(0x78), "RGB1", nullptr, nullptr},
        {RgbSubtype(0x79), "RGB4", nullptr, nullptr},
        {RgbSubtype(0x7a), "RGB8", nullptr, nullptr},
        {RgbSubtype(0x7b), "RGB565", kRaw, "RGB16"},
        {RgbSubtype(0x7c), "RGB555", kRaw, "RGB15"},
        {RgbSubtype(0x7d), "RGB24", kRaw, "BGR"},
        {RgbSubtype(0x7e), "RGB32", kRaw, "BGRx"},
        {GUID{0x773c9ac0, 0x3274, 0x11d0, {0xb7, 0x24, 0x00, 0xaa, 0x00, 0x6c, 0x1a, 0x01}}, "ARGB32", kRaw,
         "BGRA"},
        {FourCcSubtype("AYUV"), "AYUV", kRaw, "VUYA"},
        {FourCcSubtype("YUY2"), "YUY2", kRaw, "YUY2"},
        {FourCcSubtype("YUYV"), "YUYV", kRaw, "YUY2"},
        {FourCcSubtype("UYVY"), "UYVY", kRaw, "UYVY"},
        {FourCcSubtype("YVYU"), "YVYU", kRaw, "YVYU"},
        {FourCcSubtype("I420"), "I420", kRaw, "I420"},
        {FourCcSubtype("IYUV"), "IYUV", kRaw, "I420"},
        {FourCcSubtype("YV12"), "YV12", kRaw, "YV12"},
        {FourCcSubtype("NV12"), "NV12", kRaw, "NV12"},
        {FourCcSubtype("YVU9"), "YVU9", kRaw, "YVU9"},
        {FourCcSubtype("Y800"), "Y800", kRaw, "GRAY8"},
        {FourCcSubtype("v210"), "v210", kRaw, "v210"},
        {FourCcSubtype("Y41P"), "Y41P", nullptr, nullptr},
        {FourCcSubtype("Y211"), "Y211", nullptr, nullptr},
        {FourCcSubtype("Y411"), "Y411", nullptr, nullptr},
        {FourCcSubtype("MJPG"), "MJPG", "image/jpeg", nullptr},
        {FourCcSubtype("dvsd"), "dvsd", "video/x-dv", nullptr},
        {FourCcSubtype("dvhd"), "dvhd", nullptr, nullptr},
        {FourCcSubtype("dvsl"), "dvsl", nullptr, nullptr},
        {FourCcSubtype("H264"), "H264", "video/x-h264", nullptr},
    };
    return table;
}

std::string GetMediaSubtypeName(const GUID& subtype) {
    for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
        if (info.guid == subtype) {
            return info.name;
        }
    }
    return "Unknown";
}

std::vector<GUID> SubtypesFromStructure(const GstStructure* structure) {
    std::vector<GUID> subtypes;
    if (structure == nullptr) {
        return subtypes;
    }
    const char* mediaType = gst_structure_get_name(structure);
    auto add = [&](const char* format) {
        for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
            if (SameText(info.mediaType, mediaType) &&
                (info.format == nullptr || SameText(info.format, format))) {
                subtypes.push_back(info.guid);
                return;
            }
        }
    };
    if (!SameText(mediaType, kRaw)) {
        add(nullptr);
        return subtypes;
    }
    const GValue* format = gst_structure_get_value(structure, "format");
    if (format != nullptr && G_VALUE_HOLDS_STRING(format)) {
        add(g_value_get_string(format));
    } else if (format != nullptr && GST_VALUE_HOLDS_LIST(format)) {
        for (guint i = 0; i < gst_value_list_get_size(format); ++i) {
            const GValue* item = gst_value_list_get_value(format, i);
            if (G_VALUE_HOLDS_STRING(item)) {
                add(g_value_get_string(item));
            }
        }
    }
    return subtypes;
}

GstCaps* CapsFromSubtype(const GUID& subtype) {
    for (const CMediaSubtypeInfo& info : GetMediaSubtypes()) {
        if (info.guid == subtype && info.mediaType != nullptr) {
            GstCaps* caps = gst_caps_new_empty_simple(info.mediaType);
            if (info.format != nullptr) {
                gst_caps_set_simple(caps, "format", G_TYPE_STRING, info.format, nullptr);
            }
            return caps;
        }
    }
    return nullptr;
}
