#include "recording/MotionPainter.h"

#include <algorithm>
#include <cstring>

bool CMotionPainter::IsInWindow(int64_t timeMs) const {
    return std::any_of(m_windows.begin(), m_windows.end(),
                       [timeMs](const CMotionWindow& w) { return timeMs >= w.startMs && timeMs < w.endMs; });
}

bool CMotionPainter::Paint(uint8_t* frame, int32_t width, int32_t height, int32_t stride, int64_t timeMs) {
    if (frame == nullptr || width <= 0 || height <= 0 || stride < width * 3 || !IsInWindow(timeMs)) {
        return false;
    }
    const int32_t blockWidth = std::max(1, width / 4);
    const int32_t blockHeight = std::max(1, height / 2);
    const int32_t top = (height - blockHeight) / 2;
    const int64_t travel = static_cast<int64_t>(width - blockWidth) + 1;
    const auto left = static_cast<int32_t>((timeMs * width / 1000) % travel);
    const uint8_t level = (m_paintedFrames % 2 == 0) ? 0xFF : 0x00;
    for (int32_t y = top; y < top + blockHeight; ++y) {
        std::memset(frame + static_cast<size_t>(y) * stride + static_cast<size_t>(left) * 3, level,
                    static_cast<size_t>(blockWidth) * 3);
    }
    ++m_paintedFrames;
    return true;
}
