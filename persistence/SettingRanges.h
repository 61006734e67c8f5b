#pragma once
// The ranges of the numbers a document stores, in one place: the values the camera sheet and the
// schedule editor let a user choose (motion sliders, frame rate, picture size, bit rate, schedule
// rule fields, ...). The document commands refuse a value outside them; the dialogs may take their
// limits from here too. A key without a range here accepts any 32-bit number (flags, ids of the
// devices' inputs, formats whose limits depend on the device).
//
// Plain constant data: any thread.

#include <cstdint>
#include <optional>
#include <string>

struct CSettingRange {
    const char* name; // the key's field suffix, as stored (".VideoSize.cx" is "VideoSize.cx")
    int32_t minimum;
    int32_t maximum;
    const char* unit; // what the number counts, for messages ("ms", "frames a second"); may be empty
};

namespace SettingRanges {

// Camera fields: the motion sliders (grey level and changed pixels 0-1000, start and stop delay
// 0-20000 ms, erosion 0-5, pre-event time 0-10000 ms, countdown 0-120 s), frame rate 1-1000,
// picture size 0-16384 (0: a network camera's own size), stream time-out 1-3600 s, bit rate 1-1000000 kbit/s,
// country code 0-9999, the chain and schedule ids (-1 for none) and device indexes (from 0).
std::optional<CSettingRange> ForCameraField(const std::string& field);
// Schedule rule fields: hours 0-23, minutes 0-59, days 1-31, months 1-12, years 2000-2099, days
// of the week as a set of 7 bits (0-127).
std::optional<CSettingRange> ForScheduleRuleField(const std::string& field);
// The range of a full document key: "Cameras.<i>.<field>" or "Schedules.<i>.Schedule.<j>.<field>".
std::optional<CSettingRange> ForKey(const std::string& key);

inline bool Contains(const CSettingRange& range, int64_t value) {
    return value >= range.minimum && value <= range.maximum;
}

} // namespace SettingRanges
