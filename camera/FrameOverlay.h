#pragma once
// What the camera view draws into every frame besides the changed pixels, and where: the local
// date and time and the camera's name near the top of the picture, the average changed-pixel
// count and the frame rate near the bottom. Positions are those of the text renderer
// (CTextOverlay): x from the left edge, y the row of the text's lowest line counted from the
// picture's bottom edge.
//
// The date is the user's short date as the C library formats it for the LC_TIME locale of the
// environment ("%x": 12/07/26 in the C locale, 07/12/26 in en_GB, 07.12.2026 in de_DE), followed
// by one blank and the time in 24 hours ("%H:%M:%S").
//
// Pure helpers plus one small per-camera cache (CDateTimeStamp) used on the streaming thread.

#include <cstdint>
#include <ctime>
#include <string>

namespace FrameOverlay {

// viewMode bits (".ViewMode", all set by default: 63).
constexpr int32_t kShowName = 1;
constexpr int32_t kShowMotion = 2;
constexpr int32_t kShowTime = 4;
constexpr int32_t kShowPixelCount = 8;
constexpr int32_t kShowFrameRate = 16;
constexpr int32_t kTransparentText = 32;

struct Position {
    int32_t x;
    int32_t y;
    bool operator==(const Position&) const = default;
};
inline Position TimePosition(int32_t frameHeight) {
    return {10, frameHeight - 30};
}
inline Position NamePosition(int32_t frameHeight) {
    return {10, frameHeight - 15};
}
constexpr Position kPixelCountPosition{10, 10};
constexpr Position kFrameRatePosition{80, 10};

// "% 3d PC" and "% 2d FPS".
std::string PixelCountText(int32_t averageCount);
std::string FrameRateText(int32_t averageFps);

// Frames a second for one frame interval (100-ns units): 1000 / whole milliseconds, truncated.
// -1 for an interval under 1 ms (or not positive), which has no rate to average.
int32_t FrameRateOfInterval(int64_t interval100ns);

// The date and time text for a moment, in the user's locale; see above.
std::string DateTimeText(std::time_t time);

} // namespace FrameOverlay

// The date and time text of the current second, formatted once a second.
class CDateTimeStamp {
public:
    const std::string& Text(std::time_t now);

private:
    std::time_t m_second = -1;
    std::string m_text;
};
