#pragma once
// Time schedules: a named, ordered list of validity rules saying when a camera is active. The
// document holds them (keyed by id) and a camera refers to at most one. The schedule editor uses
// Describe and Validate; the schedule service (one per camera view) asks IsActiveAt once a second
// on its own thread, on a copy of the schedule that it guards with its own lock.
//
// Both classes are plain values: copies are deep, and nothing here locks.

#include "persistence/ConfigStore.h"
#include "persistence/Serializeable.h"
#include "platform/Time.h"

#include <cstdint>
#include <string>

// One rule. Every applicable test must pass: the day of the week always, the time of day, the day
// of the month, the month and the year when their Valid flags are set.
//
// A time range whose start lies after its end (22:00 - 06:00) runs overnight: from the start on a
// day the rule allows until the end on the following morning. The part after midnight belongs to
// the day the range began, so its day of the week, day, month and year are those of the evening
// before. The fields keep their meaning; only this combination, which earlier versions refused
// in the editor (and never matched), gained one.
class CTimeScheduleEntry {
public:
    // Stored and loaded; evaluation and validation do not consult it.
    bool ValidDoW = true;
    // Days of the week: bit 0 Monday ... bit 5 Saturday, bit 6 Sunday.
    int32_t DoW = 127;
    bool ValidTime = false;
    int32_t FromHour = 0;
    int32_t TillHour = 23;
    int32_t FromMinute = 0;
    int32_t TillMinute = 59;
    bool ValidDay = false;
    int32_t FromDay = 1;
    int32_t TillDay = 31;
    bool ValidMonth = false;
    int32_t FromMonth = 1;
    int32_t TillMonth = 12;
    bool ValidYear = false;
    int32_t FromYear = 2003;
    int32_t TillYear = 2010;

    // Writes or reads R.ValidDoW, R.DoW, R.ValidTime, ... R.TillYear in that order. A failed load
    // (a missing key throws sqlite3x::database_error) leaves the rule as it was.
    void Store(const std::string& prefix, CConfigStore& store) const;
    void Load(const std::string& prefix, CConfigStore& store);

    // now: local calendar time (dayOfWeek 0 = Sunday). The time-of-day range includes its start
    // minute and excludes its end minute; day, month and year ranges include both ends. Wall-clock
    // time: across a daylight-saving change a rule covers the local times it names.
    bool Matches(const platform::SystemTime& now) const;
    // Whether the rule covers a minute of the week (day 0 Monday .. 6 Sunday, minute 0..1439),
    // leaving its day, month and year ranges aside: what the editor's week grid shows.
    bool CoversWeekMinute(int day, int minuteOfDay) const;
    // The rule's time range runs past midnight.
    bool IsOvernight() const;
    // The rule is limited to some dates (day, month or year range).
    bool HasDateLimits() const { return ValidDay || ValidMonth || ValidYear; }
    // The editor's one-line text, e.g. "MoTuWeThFr + time 08:00 - 17:00 + month 4 - 9"; an
    // overnight range reads "time 22:00 - 06:00 next day".
    std::string Describe() const;
    // False, with the editor's message, when the rule must not be accepted.
    bool Validate(std::string& message) const;

    bool operator==(const CTimeScheduleEntry&) const = default;
};

class CTimeSchedule {
public:
    CTimeSchedule() = default;

    // The id is written by the document's map (P.id), not by the schedule.
    int32_t GetId() const { return m_Id; }
    void SetId(int32_t id) { m_Id = id; }
    const std::string& GetName() const { return m_Name; }
    void SetName(const std::string& name) { m_Name = name; }

    // Writes or reads P.ScheduleName and the rules under P.Schedule (P.Schedule.count,
    // P.Schedule.<i>.ValidDoW, ...). A failed load leaves the schedule as it was.
    void Store(const std::string& prefix, CConfigStore& store) const;
    void Load(const std::string& prefix, CConfigStore& store);

    // True when any rule matches; a schedule without rules is never active.
    bool IsActiveAt(const platform::SystemTime& now) const;

    size_t GetEntryCount() const { return m_Schedule.size(); }
    // Null for an index out of range.
    CTimeScheduleEntry* GetEntry(size_t index);
    const CTimeScheduleEntry* GetEntry(size_t index) const;
    // Appends a rule and returns its index.
    size_t AddEntry(const CTimeScheduleEntry& entry = CTimeScheduleEntry());
    // False for an index out of range.
    bool RemoveEntry(size_t index);

private:
    int32_t m_Id = -1;
    std::string m_Name;
    SerializeableVec<CTimeScheduleEntry> m_Schedule;
};
