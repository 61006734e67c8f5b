#pragma once
// What a capture device can deliver, as the device manager learns it from the device's caps: frame
// sizes, media subtypes, the frame-interval range and the frame rates derived from it, and the
// crossbar and tuner data of analogue capture cards. Copied by value to callers (the camera
// settings, the camera view).

#include "platform/Guid.h"

#include <array>
#include <compare>
#include <cstdint>
#include <set>

struct CVideoSize {
    int32_t cx = 0;
    int32_t cy = 0;
    auto operator<=>(const CVideoSize&) const = default;
};

struct CVideoDeviceCaps {
    static constexpr int32_t kMaxCrossbarPins = 20;

    bool hasCrossbar = false;
    bool hasTuner = false;
    int64_t minFrameInterval = 0; // 100-ns units
    int64_t maxFrameInterval = 0;
    int32_t minFPS = 0;
    int32_t maxFPS = 0;
    std::set<CVideoSize> sizes;
    std::set<GUID> subtypes;
    int32_t crossbarOutputCount = 0; // at most kMaxCrossbarPins
    int32_t crossbarInputCount = 0;
    std::array<int32_t, kMaxCrossbarPins> inputTypes{};  // physical connector type per input pin
    std::array<int32_t, kMaxCrossbarPins> outputTypes{}; // per output pin
    int32_t tunerChannelMin = 0;
    int32_t tunerChannelMax = 0;
    uint32_t tunerTVFormats = 0; // analog video standard flags (GetTVStandards)
    int32_t tunerInputConnections = 0;
};
