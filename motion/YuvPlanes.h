#pragma once
// A YUV 4:2:0 frame with separate planes (I420: Y, then U and V at half width and height, odd
// sizes rounded up) as the camera view receives it from sources that decode to YUV, and the
// BT.601 colours the overlay draws into it. Header-only; the planes are not owned.

#include <cstdint>

struct CYuvPlanes {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int32_t strideY = 0;
    int32_t strideU = 0;
    int32_t strideV = 0;
    bool fullRange = false; // Y 0..255 (JPEG) rather than studio range 16..235

    bool IsValid(int32_t width) const {
        return y != nullptr && u != nullptr && v != nullptr && strideY >= width && strideU >= (width + 1) / 2 &&
               strideV >= (width + 1) / 2;
    }
};

struct CYuvColour {
    uint8_t y;
    uint8_t u;
    uint8_t v;
};

namespace yuvdetail {
// v · num / (den · 2^16), rounded half away from zero.
constexpr int64_t Scale(int64_t v, int64_t num, int64_t den) {
    const int64_t scaled = v * num;
    const int64_t d = den << 16;
    return scaled >= 0 ? (scaled + d / 2) / d : -((-scaled + d / 2) / d);
}
constexpr uint8_t Clamp(int64_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}
} // namespace yuvdetail

// The BT.601 YUV of a BGR colour, rounded, at studio range (Y 16..235, chroma 16..240) or full range.
constexpr CYuvColour YuvColourOf(int32_t b, int32_t g, int32_t r, bool fullRange) {
    using yuvdetail::Clamp;
    using yuvdetail::Scale;
    // Coefficients · 2^16 (0.299, 0.587, 0.114; −0.1687, −0.3313, 0.5; 0.5, −0.4187, −0.0813);
    // studio range scales Y by 219/255 and chroma by 224/255.
    const int64_t yFull = 19595LL * r + 38470LL * g + 7471LL * b;
    const int64_t uFull = -11056LL * r - 21712LL * g + 32768LL * b;
    const int64_t vFull = 32768LL * r - 27440LL * g - 5328LL * b;
    if (fullRange) {
        return {Clamp(Scale(yFull, 1, 1)), Clamp(128 + Scale(uFull, 1, 1)), Clamp(128 + Scale(vFull, 1, 1))};
    }
    return {Clamp(16 + Scale(yFull, 219, 255)), Clamp(128 + Scale(uFull, 224, 255)),
            Clamp(128 + Scale(vFull, 224, 255))};
}
