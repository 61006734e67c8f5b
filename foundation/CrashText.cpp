#include "foundation/CrashText.h"

#include <cerrno>
#include <unistd.h>

CCrashText& CCrashText::Clear() {
    m_length = 0;
    m_text[0] = '\0';
    return *this;
}

CCrashText& CCrashText::Str(const char* text, size_t length) {
    if (!text) {
        return *this;
    }
    const size_t room = kCapacity - 1 - m_length;
    if (length > room) {
        length = room;
    }
    for (size_t i = 0; i < length; ++i) {
        m_text[m_length + i] = text[i];
    }
    m_length += length;
    m_text[m_length] = '\0';
    return *this;
}

CCrashText& CCrashText::Str(const char* text) {
    return text ? Str(text, CrashStrLen(text)) : *this;
}

CCrashText& CCrashText::StrRight(const char* text, int width) {
    const size_t length = text ? CrashStrLen(text) : 0;
    for (int i = static_cast<int>(length); i < width; ++i) {
        Char(' ');
    }
    return Str(text, length);
}

CCrashText& CCrashText::Char(char c) {
    return Str(&c, 1);
}

CCrashText& CCrashText::Hex(uint64_t value, int minDigits) {
    static const char kDigits[] = "0123456789ABCDEF";
    char digits[16];
    int count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0 && count < 16);
    for (int i = count; i < minDigits && i < 64; ++i) {
        Char('0');
    }
    while (count > 0) {
        Char(digits[--count]);
    }
    return *this;
}

CCrashText& CCrashText::Dec(int64_t value, int width, char pad) {
    char digits[24];
    int count = 0;
    const bool negative = value < 0;
    // Work on the unsigned magnitude so that the smallest int64 does not overflow.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    const int used = count + (negative ? 1 : 0);
    if (negative && pad == '0') {
        Char('-');
    }
    for (int i = used; i < width && i < 64; ++i) {
        Char(pad);
    }
    if (negative && pad != '0') {
        Char('-');
    }
    while (count > 0) {
        Char(digits[--count]);
    }
    return *this;
}

bool CCrashText::WriteTo(int fd) const {
    return CrashWriteAll(fd, m_text, m_length);
}

bool CrashWriteAll(int fd, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

size_t CrashStrLen(const char* text) {
    size_t n = 0;
    while (text && text[n] != '\0') {
        ++n;
    }
    return n;
}

void CrashStrCopy(char* target, size_t capacity, const char* source) {
    if (capacity == 0) {
        return;
    }
    size_t i = 0;
    for (; source && source[i] != '\0' && i + 1 < capacity; ++i) {
        target[i] = source[i];
    }
    target[i] = '\0';
}

CrashCalendarTime CrashCivilTime(int64_t seconds) {
    // Days since the epoch and the time of day, flooring for moments before 1970.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian calendar, eras of 400 years).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year),        static_cast<int>(month),          static_cast<int>(day),
            static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60)};
}

namespace {
int64_t OffsetFromLibrary(time_t t) {
    struct tm local;
    if (!localtime_r(&t, &local)) {
        return 0;
    }
    return local.tm_gmtoff;
}
} // namespace

void CCrashLocalTime::Prepare(time_t now, int years) {
    m_initialOffset = OffsetFromLibrary(now);
    m_changeCount = 0;
    // Step through the coming years a day at a time; where the offset differs from the day before,
    // narrow the change down to the second.
    const time_t end = now + static_cast<time_t>(years) * 366 * 86400;
    int64_t previous = m_initialOffset;
    time_t previousAt = now;
    for (time_t t = now + 86400; t <= end && m_changeCount < kMaxChanges; t += 86400) {
        const int64_t offset = OffsetFromLibrary(t);
        if (offset == previous) {
            previousAt = t;
            continue;
        }
        time_t low = previousAt; // offset == previous
        time_t high = t;         // offset == new
        while (high - low > 1) {
            const time_t middle = low + (high - low) / 2;
            if (OffsetFromLibrary(middle) == previous) {
                low = middle;
            } else {
                high = middle;
            }
        }
        m_changeAt[m_changeCount] = high;
        m_offsetAfter[m_changeCount] = offset;
        ++m_changeCount;
        previous = offset;
        previousAt = t;
    }
}

int64_t CCrashLocalTime::OffsetAt(time_t t) const {
    int64_t offset = m_initialOffset;
    for (int i = 0; i < m_changeCount && t >= m_changeAt[i]; ++i) {
        offset = m_offsetAfter[i];
    }
    return offset;
}
