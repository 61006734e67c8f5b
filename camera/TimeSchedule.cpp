#include "camera/TimeSchedule.h"

#include <cstdio>

namespace {

// Minutes since midnight. In 64 bits: a hand-edited document may hold any 32-bit hour.
int64_t Minutes(int32_t hour, int32_t minute) {
    return int64_t{hour} * 60 + minute;
}

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 31;
    }
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The calendar day before `now` (time fields unchanged).
platform::SystemTime DayBefore(platform::SystemTime now) {
    now.dayOfWeek = static_cast<uint16_t>((now.dayOfWeek + 6) % 7);
    if (now.day > 1) {
        --now.day;
        return now;
    }
    if (now.month > 1) {
        --now.month;
    } else {
        now.month = 12;
        --now.year;
    }
    now.day = static_cast<uint16_t>(DaysInMonth(now.year, now.month));
    return now;
}

// The rule's bit for a day of the week counted from Sunday (0); the bits count from Monday.
int32_t DayBit(int dayOfWeekFromSunday) {
    return 1 << (dayOfWeekFromSunday == 0 ? 6 : dayOfWeekFromSunday - 1);
}

void Join(std::string& text, const std::string& part) {
    if (!text.empty()) {
        text += " + ";
    }
    text += part;
}

} // namespace

void CTimeScheduleEntry::Store(const std::string& prefix, CConfigStore& store) const {
    store.PutBool(prefix + ".ValidDoW", ValidDoW);
    store.PutInt(prefix + ".DoW", DoW);
    store.PutBool(prefix + ".ValidTime", ValidTime);
    store.PutInt(prefix + ".FromHour", FromHour);
    store.PutInt(prefix + ".TillHour", TillHour);
    store.PutInt(prefix + ".FromMinute", FromMinute);
    store.PutInt(prefix + ".TillMinute", TillMinute);
    store.PutBool(prefix + ".ValidDay", ValidDay);
    store.PutInt(prefix + ".FromDay", FromDay);
    store.PutInt(prefix + ".TillDay", TillDay);
    store.PutBool(prefix + ".ValidMonth", ValidMonth);
    store.PutInt(prefix + ".FromMonth", FromMonth);
    store.PutInt(prefix + ".TillMonth", TillMonth);
    store.PutBool(prefix + ".ValidYear", ValidYear);
    store.PutInt(prefix + ".FromYear", FromYear);
    store.PutInt(prefix + ".TillYear", TillYear);
}

void CTimeScheduleEntry::Load(const std::string& prefix, CConfigStore& store) {
    CTimeScheduleEntry loaded;
    loaded.ValidDoW = store.GetBool(prefix + ".ValidDoW");
    loaded.DoW = store.GetInt(prefix + ".DoW");
    loaded.ValidTime = store.GetBool(prefix + ".ValidTime");
    loaded.FromHour = store.GetInt(prefix + ".FromHour");
    loaded.TillHour = store.GetInt(prefix + ".TillHour");
    loaded.FromMinute = store.GetInt(prefix + ".FromMinute");
    loaded.TillMinute = store.GetInt(prefix + ".TillMinute");
    loaded.ValidDay = store.GetBool(prefix + ".ValidDay");
    loaded.FromDay = store.GetInt(prefix + ".FromDay");
    loaded.TillDay = store.GetInt(prefix + ".TillDay");
    loaded.ValidMonth = store.GetBool(prefix + ".ValidMonth");
    loaded.FromMonth = store.GetInt(prefix + ".FromMonth");
    loaded.TillMonth = store.GetInt(prefix + ".TillMonth");
    loaded.ValidYear = store.GetBool(prefix + ".ValidYear");
    loaded.FromYear = store.GetInt(prefix + ".FromYear");
    loaded.TillYear = store.GetInt(prefix + ".TillYear");
    *this = loaded;
}

bool CTimeScheduleEntry::IsOvernight() const {
    return ValidTime && Minutes(FromHour, FromMinute) > Minutes(TillHour, TillMinute);
}

bool CTimeScheduleEntry::Matches(const platform::SystemTime& now) const {
    if (now.dayOfWeek > 6) {
        return false;
    }
    // The day whose dates and day of the week the rule is tested on: today, or for the part of an
    // overnight range after midnight the day it began.
    platform::SystemTime day = now;
    if (ValidTime) {
        const int64_t t = Minutes(now.hour, now.minute);
        const int64_t from = Minutes(FromHour, FromMinute);
        const int64_t till = Minutes(TillHour, TillMinute);
        if (from <= till) {
            if (t < from || t >= till) {
                return false;
            }
        } else if (t < till) {
            day = DayBefore(now);
        } else if (t < from) {
            return false;
        }
    }
    if ((DoW & DayBit(day.dayOfWeek)) == 0) {
        return false;
    }
    if (ValidDay && (day.day < FromDay || day.day > TillDay)) {
        return false;
    }
    if (ValidMonth && (day.month < FromMonth || day.month > TillMonth)) {
        return false;
    }
    if (ValidYear && (day.year < FromYear || day.year > TillYear)) {
        return false;
    }
    return true;
}

bool CTimeScheduleEntry::CoversWeekMinute(int day, int minuteOfDay) const {
    if (day < 0 || day > 6 || minuteOfDay < 0 || minuteOfDay >= 24 * 60) {
        return false;
    }
    int ruleDay = day;
    if (ValidTime) {
        const int64_t from = Minutes(FromHour, FromMinute);
        const int64_t till = Minutes(TillHour, TillMinute);
        if (from <= till) {
            if (minuteOfDay < from || minuteOfDay >= till) {
                return false;
            }
        } else if (minuteOfDay < till) {
            ruleDay = (day + 6) % 7; // the morning part of the evening before
        } else if (minuteOfDay < from) {
            return false;
        }
    }
    return (DoW & (1 << ruleDay)) != 0;
}

std::string CTimeScheduleEntry::Describe() const {
    static const char* const kDays[] = {"Mo", "Tu", "We", "Th", "Fr", "Sa", "Su"};
    std::string text;
    for (int bit = 0; bit < 7; ++bit) {
        if (DoW & (1 << bit)) {
            text += kDays[bit];
        }
    }
    char part[96];
    if (ValidTime) {
        std::snprintf(part, sizeof part, "time %02d:%02d - %02d:%02d%s", FromHour, FromMinute, TillHour,
                      TillMinute, IsOvernight() ? " next day" : "");
        Join(text, part);
    }
    if (ValidDay) {
        std::snprintf(part, sizeof part, "day %d - %d", FromDay, TillDay);
        Join(text, part);
    }
    if (ValidMonth) {
        std::snprintf(part, sizeof part, "month %d - %d", FromMonth, TillMonth);
        Join(text, part);
    }
    if (ValidYear) {
        std::snprintf(part, sizeof part, "year %d - %d", FromYear, TillYear);
        Join(text, part);
    }
    return text;
}

// A start after the end is an overnight range, no longer an error.
bool CTimeScheduleEntry::Validate(std::string& message) const {
    const int64_t from = Minutes(FromHour, FromMinute);
    const int64_t till = Minutes(TillHour, TillMinute);
    if (DoW == 0 && !ValidTime && !ValidDay && !ValidMonth && !ValidYear) {
        message = "Empty entries are not allowed. Please select something or delete the entry.";
    } else if (ValidTime && from == till) {
        message = "From Time must not be equal to Till Time.";
    } else if (ValidDay && FromDay > TillDay) {
        message = "From Day must be smaller than Till Day.";
    } else if (ValidMonth && FromMonth > TillMonth) {
        message = "From Month must be smaller than Till Month.";
    } else if (ValidYear && FromYear > TillYear) {
        message = "From Year must be smaller than Till Year.";
    } else {
        return true;
    }
    return false;
}

void CTimeSchedule::Store(const std::string& prefix, CConfigStore& store) const {
    store.PutString(prefix + ".ScheduleName", m_Name);
    m_Schedule.Save(prefix + ".Schedule", store);
}

void CTimeSchedule::Load(const std::string& prefix, CConfigStore& store) {
    std::string name = store.GetString(prefix + ".ScheduleName");
    SerializeableVec<CTimeScheduleEntry> rules;
    rules.Load(prefix + ".Schedule", store);
    m_Name = std::move(name);
    m_Schedule = std::move(rules);
}

bool CTimeSchedule::IsActiveAt(const platform::SystemTime& now) const {
    for (const CTimeScheduleEntry& entry : m_Schedule) {
        if (entry.Matches(now)) {
            return true;
        }
    }
    return false;
}

CTimeScheduleEntry* CTimeSchedule::GetEntry(size_t index) {
    return index < m_Schedule.size() ? &m_Schedule[index] : nullptr;
}

const CTimeScheduleEntry* CTimeSchedule::GetEntry(size_t index) const {
    return index < m_Schedule.size() ? &m_Schedule[index] : nullptr;
}

size_t CTimeSchedule::AddEntry(const CTimeScheduleEntry& entry) {
    m_Schedule.push_back(entry);
    return m_Schedule.size() - 1;
}

bool CTimeSchedule::RemoveEntry(size_t index) {
    if (index >= m_Schedule.size()) {
        return false;
    }
    m_Schedule.erase(m_Schedule.begin() + static_cast<std::ptrdiff_t>(index));
    return true;
}
