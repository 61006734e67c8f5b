#include "persistence/SettingRanges.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace SettingRanges {

namespace {

constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();

constexpr CSettingRange kCameraRanges[] = {
    {"MotionGreyLevel", 0, 1000, "thousandths of the grey scale"},
    {"MotionShortTermPixelCount", 0, 1000, "pixels"},
    {"MotionStartDelay", 0, 20000, "ms"},
    {"MotionStopDelay", 0, 20000, "ms"},
    {"MotionErosionLevel", 0, 5, "passes"},
    {"MotionPreEventDelay", 0, 10000, "ms"},
    {"MotionCountdown", 0, 120, "s"},
    {"FPS", 1, 1000, "frames a second"},
    {"VideoSize.cx", 0, 16384, "pixels, 0 for the camera's own size (network cameras and video files)"},
    {"VideoSize.cy", 0, 16384, "pixels, 0 for the camera's own size (network cameras and video files)"},
    {"BitRate", 0, 1000000, "kbit/s, 0 for constant quality in MP4 and Matroska"},
    {"RecordContainer", 0, 2, "0 AVI or WMV, 1 MP4, 2 Matroska"},
    {"StreamTimeout", 1, 3600, "s without a frame before a network camera counts as lost"},
    {"H264Preset", 1, 9, "x264enc speed preset, 1 ultrafast to 9 veryslow"},
    {"PreEventBuffer", 0, 2, "0 automatic, 1 raw frames, 2 encoded H.264 (MP4 and Matroska)"},
    {"CountryCode", 0, 9999, ""},
    {"VideoInputPin", 0, kMaxInt, ""},
    {"InputConnection", 0, kMaxInt, ""},
    {"Codec", 0, kMaxInt, ""},
    {"CodecFormat", 0, kMaxInt, ""},
    {"TimeScheduleId", -1, kMaxInt, "-1 for none"},
    {"AEvent", -1, kMaxInt, "-1 for none"},
    {"DEvent", -1, kMaxInt, "-1 for none"},
    {"MSEvent", -1, kMaxInt, "-1 for none"},
    {"MPEvent", -1, kMaxInt, "-1 for none"},
    {"RBEvent", -1, kMaxInt, "-1 for none"},
    {"RFEvent", -1, kMaxInt, "-1 for none"},
    {"EOEvent", -1, kMaxInt, "-1 for none"},
};

constexpr CSettingRange kRuleRanges[] = {
    {"DoW", 0, 127, "days of the week, Monday 1 to Sunday 64"},
    {"FromHour", 0, 23, ""},
    {"TillHour", 0, 23, ""},
    {"FromMinute", 0, 59, ""},
    {"TillMinute", 0, 59, ""},
    {"FromDay", 1, 31, ""},
    {"TillDay", 1, 31, ""},
    {"FromMonth", 1, 12, ""},
    {"TillMonth", 1, 12, ""},
    {"FromYear", 2000, 2099, ""},
    {"TillYear", 2000, 2099, ""},
};

// The document's own keys, "Global.<name>".
constexpr CSettingRange kGlobalRanges[] = {
    {"RetentionDays", 0, 36500, "days, 0 keeps recordings for ever"},
    {"RetentionMaxGiB", 0, 1048576, "GiB, 0 for no limit"},
    {"MinFreeGiB", 0, 1048576, "GiB, 0 for no minimum"},
};

template <size_t N>
std::optional<CSettingRange> Find(const CSettingRange (&table)[N], const std::string& field) {
    for (const CSettingRange& range : table) {
        if (field == range.name) {
            return range;
        }
    }
    return std::nullopt;
}

// Consumes "<prefix>.<digits>." from key at position; false when it is not there.
bool Consume(const std::string& key, size_t& position, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (key.compare(position, length, prefix) != 0 || position + length >= key.size() ||
        key[position + length] != '.') {
        return false;
    }
    size_t i = position + length + 1;
    const size_t digits = i;
    while (i < key.size() && std::isdigit(static_cast<unsigned char>(key[i])) != 0) {
        ++i;
    }
    if (i == digits || i >= key.size() || key[i] != '.') {
        return false;
    }
    position = i + 1;
    return true;
}

} // namespace

std::optional<CSettingRange> ForCameraField(const std::string& field) {
    return Find(kCameraRanges, field);
}

std::optional<CSettingRange> ForScheduleRuleField(const std::string& field) {
    return Find(kRuleRanges, field);
}

std::optional<CSettingRange> ForKey(const std::string& key) {
    if (key.rfind("Global.", 0) == 0) {
        return Find(kGlobalRanges, key.substr(7));
    }
    size_t position = 0;
    if (Consume(key, position, "Cameras")) {
        return ForCameraField(key.substr(position));
    }
    position = 0;
    if (Consume(key, position, "Schedules") && Consume(key, position, "Schedule")) {
        return ForScheduleRuleField(key.substr(position));
    }
    return std::nullopt;
}

} // namespace SettingRanges
