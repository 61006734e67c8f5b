#include "camera/TimeSchedule.h"

#include <cstdio>

namespace {

// Minutes since midnight. In 64 bits: a hand-edited document may hold any 32-bit hour.
int64_t Minutes(int32_t hour, int32_t minute) {
    return int64_t{hour} * 60 + minute;
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

bool CTimeScheduleEntry::Matches(const platform::SystemTime& now) const {
    // dayOfWeek counts from Sunday (0); the rule's bits count from Monday, Sunday last.
    if (now.dayOfWeek > 6) {
        return false;
    }
    const int dayBit = now.dayOfWeek == 0 ? 6 : now.dayOfWeek - 1;
    if ((DoW & (1 << dayBit)) == 0) {
        return false;
    }
    if (ValidTime) {
        const int64_t t = Minutes(now.hour, now.minute);
        if (t < Minutes(FromHour, FromMinute) || t >= Minutes(TillHour, TillMinute)) {
            return false;
        }
    }
    if (ValidDay && (now.day < FromDay || now.day > TillDay)) {
        return false;
    }
    if (ValidMonth && (now.month < FromMonth || now.month > TillMonth)) {
        return false;
    }
    if (ValidYear && (now.year < FromYear || now.year > TillYear)) {
        return false;
    }
    return true;
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
        std::snprintf(part, sizeof part, "time %02d:%02d - %02d:%02d", FromHour, FromMinute, TillHour,
                      TillMinute);
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

bool CTimeScheduleEntry::Validate(std::string& message) const {
    const int64_t from = Minutes(FromHour, FromMinute);
    const int64_t till = Minutes(TillHour, TillMinute);
    if (DoW == 0 && !ValidTime && !ValidDay && !ValidMonth && !ValidYear) {
        message = "Empty entries are not allowed. Please select something or delete the entry.";
    } else if (ValidTime && from > till) {
        message = "From Time must be smaller than Till Time.";
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
