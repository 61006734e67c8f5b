#pragma once
// Draws the motion of the "test:motion" source: inside a motion window a block a quarter of the
// frame wide and half of it high crosses the picture once a second and flips between white and
// black on every frame, so that every frame differs clearly from the one before; outside the
// windows the frame is left as it is (the still test picture). Deterministic: the picture depends
// only on the frame's time and on how many frames were painted before.
//
// Called on the source's streaming thread only.

#include "recording/CaptureSourceName.h"

#include <cstdint>
#include <vector>

class CMotionPainter {
public:
    explicit CMotionPainter(std::vector<CMotionWindow> windows) : m_windows(std::move(windows)) {}

    bool IsInWindow(int64_t timeMs) const;
    // Paints into one BGR frame (width x height, stride bytes a row) at timeMs since the source
    // started; true when it painted (the time is inside a window).
    bool Paint(uint8_t* frame, int32_t width, int32_t height, int32_t stride, int64_t timeMs);

private:
    std::vector<CMotionWindow> m_windows;
    uint64_t m_paintedFrames = 0;
};
