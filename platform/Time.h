#pragma once
// Clocks, thread ids and calendar time in the forms the rest of Tavrix uses: a 32-bit wrapping millisecond
// tick, a high-resolution counter, kernel thread ids, local time with milliseconds (the fields of a
// SYSTEMTIME record) and the 100-ns "file time" count since 1601 the user database stores.

#include <cstdint>
#include <ctime>
#include <functional>

namespace platform {

// Milliseconds from the monotonic clock, wrapping at 2^32 like the Win32 tick count. Compare
// ticks by unsigned difference: (uint32_t)(now - then) >= delay.
uint32_t GetTickCount32();
// A millisecond tick source that tests can replace (motion delays, countdowns, schedules).
using TickSource = std::function<uint32_t()>;

// High-resolution counter (nanoseconds of the monotonic clock) and its frequency (counts a second).
uint64_t QueryPerformanceCounter();
uint64_t QueryPerformanceFrequency();

// The kernel's id of the calling thread (gettid).
uint32_t CurrentThreadId();

// Calendar time with the fields of a Win32 SYSTEMTIME record. dayOfWeek: 0 = Sunday.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0; // 1..12
    uint16_t dayOfWeek = 0;
    uint16_t day = 0; // 1..31
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

// The current local time with milliseconds.
SystemTime GetLocalTime();
// Local calendar time of a time_t (seconds since 1970 UTC), milliseconds 0.
SystemTime LocalTimeFromUnix(time_t t);

// 100-ns intervals since 1601-01-01 of the given calendar fields, taken as they are (the user
// database stores local wall-clock time this way, with no conversion to UTC). Returns false for
// fields outside their ranges.
bool SystemTimeToFileTime(const SystemTime& time, int64_t& fileTime);
// The reverse; dayOfWeek is computed. False for negative or out-of-range counts.
bool FileTimeToSystemTime(int64_t fileTime, SystemTime& time);

// Offset of local time from UTC in minutes at the given moment (east positive), daylight saving
// included.
int LocalUtcOffsetMinutes(time_t t);

} // namespace platform
