#include "platform/Time.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerDay = 86'400LL * 1000 * kTicksPerMillisecond;

// Days from 1601-01-01 to the civil date y-m-d (proleptic Gregorian calendar).
int64_t DaysFrom1601(int64_t y, unsigned m, unsigned d) {
    // Howard Hinnant's days_from_civil, shifted from 1970 to 1601.
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t daysFrom1970 = era * 146097 + static_cast<int64_t>(doe) - 719468;
    return daysFrom1970 + 134774; // 1601-01-01 .. 1970-01-01
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

SystemTime FromTm(const struct tm& tm, int milliseconds) {
    SystemTime st;
    st.year = static_cast<uint16_t>(tm.tm_year + 1900);
    st.month = static_cast<uint16_t>(tm.tm_mon + 1);
    st.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    st.day = static_cast<uint16_t>(tm.tm_mday);
    st.hour = static_cast<uint16_t>(tm.tm_hour);
    st.minute = static_cast<uint16_t>(tm.tm_min);
    st.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    st.milliseconds = static_cast<uint16_t>(milliseconds);
    return st;
}

} // namespace

uint32_t GetTickCount32() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1'000'000u;
    return static_cast<uint32_t>(ms);
}

uint64_t QueryPerformanceCounter() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

uint64_t QueryPerformanceFrequency() {
    return 1'000'000'000u;
}

uint32_t CurrentThreadId() {
    thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
    return id;
}

SystemTime GetLocalTime() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    return FromTm(tm, static_cast<int>(ts.tv_nsec / 1'000'000));
}

SystemTime LocalTimeFromUnix(time_t t) {
    struct tm tm;
    localtime_r(&t, &tm);
    return FromTm(tm, 0);
}

bool SystemTimeToFileTime(const SystemTime& st, int64_t& fileTime) {
    if (st.year < 1601 || st.year > 30827 || st.month < 1 || st.month > 12 || st.day < 1 ||
        st.day > DaysInMonth(st.year, st.month) || st.hour > 23 || st.minute > 59 || st.second > 59 ||
        st.milliseconds > 999) {
        return false;
    }
    const int64_t days = DaysFrom1601(st.year, st.month, st.day);
    const int64_t ms =
        ((static_cast<int64_t>(st.hour) * 60 + st.minute) * 60 + st.second) * 1000 + st.milliseconds;
    fileTime = days * kTicksPerDay + ms * kTicksPerMillisecond;
    return true;
}

bool FileTimeToSystemTime(int64_t fileTime, SystemTime& st) {
    if (fileTime < 0 || fileTime > 0x7FFFFFFFFFFFFFFFLL / 2) {
        return false;
    }
    int64_t days = fileTime / kTicksPerDay;
    int64_t ms = (fileTime % kTicksPerDay) / kTicksPerMillisecond;
    // civil_from_days, with days counted from 1970.
    int64_t z = days - 134774 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    if (y > 30827) {
        return false;
    }
    st.year = static_cast<uint16_t>(y);
    st.month = static_cast<uint16_t>(m);
    st.day = static_cast<uint16_t>(d);
    st.dayOfWeek = static_cast<uint16_t>((days + 1) % 7); // 1601-01-01 was a Monday
    st.hour = static_cast<uint16_t>(ms / 3'600'000);
    st.minute = static_cast<uint16_t>(ms / 60'000 % 60);
    st.second = static_cast<uint16_t>(ms / 1000 % 60);
    st.milliseconds = static_cast<uint16_t>(ms % 1000);
    return true;
}

int LocalUtcOffsetMinutes(time_t t) {
    struct tm tm;
    localtime_r(&t, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

} // namespace platform
