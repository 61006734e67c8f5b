#include "recording/FfmpegLog.h"

#include "foundation/Tracer.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

// Texts written to standard error and when; guarded by s_repeatLock (innermost, held only while
// the map is consulted).
std::mutex s_repeatLock;
std::map<std::string, std::chrono::steady_clock::time_point> s_lastWritten;
constexpr size_t kMaxRemembered = 256;

// True when text has not gone to standard error within the quiet time.
bool FirstInAWhile(const std::string& text) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(s_repeatLock);
    const auto found = s_lastWritten.find(text);
    if (found != s_lastWritten.end() && now - found->second < kFfmpegRepeatQuiet) {
        return false;
    }
    if (s_lastWritten.size() >= kMaxRemembered) {
        s_lastWritten.clear();
    }
    s_lastWritten[text] = now;
    return true;
}

void OnFfmpegLog(void* context, int level, const char* format, va_list args) {
    const bool tracing = CTracer::Enabled();
    if (level > AV_LOG_ERROR && (!tracing || level > AV_LOG_INFO)) {
        return; // chatter: traced at most
    }
    char line[1024] = {};
    int printPrefix = 1;
    va_list copy;
    va_copy(copy, args);
    av_log_format_line2(context, level, format, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    size_t length = std::strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) {
        line[--length] = '\0';
    }
    if (tracing) {
        TRACE("FFmpeg: %s", line);
        return;
    }
    if (FirstInAWhile(line)) {
        av_log_default_callback(context, level, format, args);
    }
}

} // namespace

void InstallFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
    av_log_set_callback(&OnFfmpegLog);
}
