#include "camera/FrameOverlay.h"

#include <clocale>
#include <cstdio>
#include <locale.h>
#include <mutex>

namespace FrameOverlay {

namespace {

// The environment's LC_TIME locale, made once; the C locale when the environment names none
// that exists.
locale_t TimeLocale() {
    static locale_t locale = [] {
        locale_t made = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
        if (made == static_cast<locale_t>(nullptr)) {
            made = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
        }
        return made;
    }();
    return locale;
}

} // namespace

std::string PixelCountText(int32_t averageCount) {
    char text[32];
    std::snprintf(text, sizeof text, "% 3d PC", averageCount);
    return text;
}

std::string FrameRateText(int32_t averageFps) {
    char text[32];
    std::snprintf(text, sizeof text, "% 2d FPS", averageFps);
    return text;
}

int32_t FrameRateOfInterval(int64_t interval100ns) {
    const int64_t milliseconds = interval100ns / 10000;
    if (milliseconds <= 0) {
        return -1;
    }
    return static_cast<int32_t>(1000.0 / static_cast<double>(milliseconds));
}

std::string DateTimeText(std::time_t time) {
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        return {};
    }
    char text[96];
    const locale_t locale = TimeLocale();
    const size_t length = locale != static_cast<locale_t>(nullptr)
                              ? strftime_l(text, sizeof text, "%x %H:%M:%S", &local, locale)
                              : std::strftime(text, sizeof text, "%x %H:%M:%S", &local);
    return std::string(text, length);
}

} // namespace FrameOverlay

const std::string& CDateTimeStamp::Text(std::time_t now) {
    if (now != m_second) {
        m_second = now;
        m_text = FrameOverlay::DateTimeText(now);
    }
    return m_text;
}
