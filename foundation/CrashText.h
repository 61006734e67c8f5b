#pragma once
// Text building for the crash handler. Everything here is async-signal-safe: no allocation, no
// locks, no locale, only our own digit formatting into a fixed buffer and write(2). The crash
// handler formats each piece of its report into one CCrashText and writes it at once.
//
// Also the conversion of a UTC time to local calendar time without the C library's time zone
// lock: the offsets are taken from the C library when the handler is installed, for the current
// moment and for every daylight-saving change of the next years, and only looked up at crash time.

#include <cstddef>
#include <cstdint>
#include <ctime>

class CCrashText {
public:
    static constexpr size_t kCapacity = 1024;

    CCrashText() { m_text[0] = '\0'; }
    CCrashText& Clear();
    // Appends text; what does not fit is cut (the buffer keeps its terminator).
    CCrashText& Str(const char* text);
    CCrashText& Str(const char* text, size_t length);
    // A string right-aligned in a field of the given width (printf "%30s").
    CCrashText& StrRight(const char* text, int width);
    CCrashText& Char(char c);
    // Upper-case hexadecimal, zero-padded to at least minDigits (printf "%08X", "%016lX").
    CCrashText& Hex(uint64_t value, int minDigits);
    // Decimal, padded to at least width with the given character (printf "%02d", "%5d").
    CCrashText& Dec(int64_t value, int width = 0, char pad = ' ');

    const char* Data() const { return m_text; }
    size_t Size() const { return m_length; }
    // Writes the whole text to the descriptor, retrying on short writes and interruptions.
    bool WriteTo(int fd) const;

private:
    char m_text[kCapacity];
    size_t m_length = 0;
};

// Writes a whole buffer (retrying short writes and EINTR). Async-signal-safe.
bool CrashWriteAll(int fd, const void* data, size_t length);
// Length of a terminated string, and bounded copy that always terminates. Async-signal-safe.
size_t CrashStrLen(const char* text);
void CrashStrCopy(char* target, size_t capacity, const char* source);

struct CrashCalendarTime {
    int year, month, day, hour, minute, second;
};

// Civil date and time of a count of seconds since 1970-01-01 00:00 (no time zone applied).
CrashCalendarTime CrashCivilTime(int64_t secondsSinceEpoch);

// Local-time offsets of the coming years, filled outside the signal handler.
class CCrashLocalTime {
public:
    // Takes the offset now and finds every change of it within the next `years` years.
    void Prepare(time_t now, int years = 10);
    // Offset from UTC in seconds (east positive) at the given moment.
    int64_t OffsetAt(time_t t) const;
    // Local calendar time of a moment.
    CrashCalendarTime LocalTime(time_t t) const {
        return CrashCivilTime(static_cast<int64_t>(t) + OffsetAt(t));
    }

private:
    static constexpr int kMaxChanges = 64;
    int64_t m_initialOffset = 0;
    int m_changeCount = 0;
    time_t m_changeAt[kMaxChanges] = {};
    int64_t m_offsetAfter[kMaxChanges] = {};
};
