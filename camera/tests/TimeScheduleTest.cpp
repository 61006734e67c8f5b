// Time schedule rules and schedules: evaluation at the boundaries, the editor's description and
// validation texts, and storing into and loading from a real document file.

#include "camera/TimeSchedule.h"

#include "persistence/DocumentSchema.h"
#include "persistence/Serializeable.h"
#include "persistence/sqlite3x.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// dayOfWeek: 0 Sunday .. 6 Saturday. 2024-02-05 was a Monday.
platform::SystemTime At(int year, int month, int day, int dayOfWeek, int hour = 12, int minute = 0) {
    platform::SystemTime t;
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.dayOfWeek = static_cast<uint16_t>(dayOfWeek);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    return t;
}

platform::SystemTime MondayAt(int hour, int minute) {
    return At(2024, 2, 5, 1, hour, minute);
}

CTimeScheduleEntry OfficeHours() {
    CTimeScheduleEntry rule;
    rule.ValidTime = true;
    rule.FromHour = 8;
    rule.TillHour = 17;
    rule.TillMinute = 0;
    return rule;
}

std::string Message(const CTimeScheduleEntry& rule) {
    std::string message = "untouched";
    return rule.Validate(message) ? "" : message;
}

} // namespace

TEST(TimeScheduleEntryTest, NewRuleHasTheEditorsDefaults) {
    const CTimeScheduleEntry rule;
    EXPECT_TRUE(rule.ValidDoW);
    EXPECT_EQ(rule.DoW, 127);
    EXPECT_FALSE(rule.ValidTime || rule.ValidDay || rule.ValidMonth || rule.ValidYear);
    EXPECT_EQ(std::vector<int32_t>({rule.FromHour, rule.TillHour, rule.FromMinute, rule.TillMinute}),
              std::vector<int32_t>({0, 23, 0, 59}));
    EXPECT_EQ(std::vector<int32_t>(
                  {rule.FromDay, rule.TillDay, rule.FromMonth, rule.TillMonth, rule.FromYear, rule.TillYear}),
              std::vector<int32_t>({1, 31, 1, 12, 2003, 2010}));
    EXPECT_TRUE(rule.Matches(MondayAt(3, 0))); // every day, all day
}

TEST(TimeScheduleEntryTest, TimeRangeIncludesItsStartMinuteAndExcludesItsEnd) {
    const CTimeScheduleEntry rule = OfficeHours();
    EXPECT_FALSE(rule.Matches(MondayAt(7, 59)));
    EXPECT_TRUE(rule.Matches(MondayAt(8, 0)));
    EXPECT_TRUE(rule.Matches(MondayAt(16, 59)));
    EXPECT_FALSE(rule.Matches(MondayAt(17, 0)));
}

TEST(TimeScheduleEntryTest, DayOfWeekBitsCountFromMondayWithSundayLast) {
    CTimeScheduleEntry rule;
    rule.ValidDoW = false;                          // not consulted: the days always apply
    rule.DoW = 1 | 64;                              // Monday and Sunday
    EXPECT_TRUE(rule.Matches(At(2024, 2, 5, 1)));   // Monday
    EXPECT_FALSE(rule.Matches(At(2024, 2, 6, 2)));  // Tuesday
    EXPECT_FALSE(rule.Matches(At(2024, 2, 10, 6))); // Saturday
    EXPECT_TRUE(rule.Matches(At(2024, 2, 11, 0)));  // Sunday
    EXPECT_FALSE(rule.Matches(At(2024, 2, 11, 7))); // no such day

    // Only a time range and no day: accepted by the editor, never active.
    CTimeScheduleEntry noDays = OfficeHours();
    noDays.DoW = 0;
    EXPECT_EQ(Message(noDays), "");
    for (int day = 0; day < 7; ++day) {
        EXPECT_FALSE(noDays.Matches(At(2024, 2, 4 + day, day, 9, 0)));
    }
}

TEST(TimeScheduleEntryTest, DayMonthAndYearRangesIncludeBothEnds) {
    CTimeScheduleEntry lastDay;
    lastDay.ValidDay = true;
    lastDay.FromDay = lastDay.TillDay = 31;
    EXPECT_TRUE(lastDay.Matches(At(2024, 1, 31, 3)));
    EXPECT_FALSE(lastDay.Matches(At(2024, 1, 30, 2)));
    EXPECT_FALSE(lastDay.Matches(At(2024, 2, 1, 4)));

    CTimeScheduleEntry february;
    february.ValidMonth = true;
    february.FromMonth = february.TillMonth = 2;
    EXPECT_TRUE(february.Matches(At(2024, 2, 1, 4)));
    EXPECT_TRUE(february.Matches(At(2024, 2, 29, 4, 23, 59)));
    EXPECT_FALSE(february.Matches(At(2024, 3, 1, 5, 0, 0)));
    EXPECT_FALSE(february.Matches(At(2024, 1, 31, 3, 23, 59)));

    CTimeScheduleEntry years;
    years.ValidYear = true;
    years.FromYear = 2003;
    years.TillYear = 2010;
    EXPECT_TRUE(years.Matches(At(2003, 1, 1, 3)));
    EXPECT_TRUE(years.Matches(At(2010, 12, 31, 5)));
    EXPECT_FALSE(years.Matches(At(2011, 1, 1, 6)));
    EXPECT_FALSE(years.Matches(At(2002, 12, 31, 2)));
}

TEST(TimeScheduleEntryTest, DescribeJoinsTheDaysAndTheRangesInOrder) {
    CTimeScheduleEntry rule;
    rule.DoW = 1 | 4 | 16;
    EXPECT_EQ(rule.Describe(), "MoWeFr");
    rule.DoW = 127;
    EXPECT_EQ(rule.Describe(), "MoTuWeThFrSaSu");

    CTimeScheduleEntry workdays = OfficeHours();
    workdays.DoW = 31;
    workdays.ValidMonth = true;
    workdays.FromMonth = 4;
    workdays.TillMonth = 9;
    EXPECT_EQ(workdays.Describe(), "MoTuWeThFr + time 08:00 - 17:00 + month 4 - 9");

    CTimeScheduleEntry noDays;
    noDays.DoW = 0;
    noDays.ValidTime = true;
    noDays.FromHour = 8;
    noDays.TillHour = 17;
    noDays.TillMinute = 30;
    noDays.ValidDay = true;
    noDays.TillDay = 15;
    noDays.ValidYear = true;
    EXPECT_EQ(noDays.Describe(), "time 08:00 - 17:30 + day 1 - 15 + year 2003 - 2010");
    noDays.ValidTime = false;
    EXPECT_EQ(noDays.Describe(), "day 1 - 15 + year 2003 - 2010");
}

TEST(TimeScheduleEntryTest, ValidateGivesTheFirstFailingTestsMessage) {
    CTimeScheduleEntry empty;
    empty.DoW = 0;
    EXPECT_EQ(Message(empty), "Empty entries are not allowed. Please select something or delete the entry.");

    CTimeScheduleEntry time = OfficeHours();
    time.FromHour = 18;
    time.ValidDay = true;
    time.FromDay = 20; // also wrong, but the time is tested first
    time.TillDay = 10;
    EXPECT_EQ(Message(time), "From Time must be smaller than Till Time.");
    time.FromHour = 17;
    EXPECT_EQ(Message(time), "From Time must not be equal to Till Time.");
    time.FromHour = 8;
    EXPECT_EQ(Message(time), "From Day must be smaller than Till Day.");

    CTimeScheduleEntry month;
    month.ValidMonth = true;
    month.FromMonth = 5;
    month.TillMonth = 4;
    EXPECT_EQ(Message(month), "From Month must be smaller than Till Month.");
    CTimeScheduleEntry year;
    year.ValidYear = true;
    year.FromYear = 2011;
    EXPECT_EQ(Message(year), "From Year must be smaller than Till Year.");

    CTimeScheduleEntry equalBounds;
    equalBounds.ValidDay = equalBounds.ValidMonth = equalBounds.ValidYear = true;
    equalBounds.FromDay = equalBounds.TillDay = 3;
    equalBounds.FromMonth = equalBounds.TillMonth = 3;
    equalBounds.FromYear = equalBounds.TillYear = 2020;
    EXPECT_EQ(Message(equalBounds), "");
    std::string message = "kept";
    EXPECT_TRUE(equalBounds.Validate(message));
    EXPECT_EQ(message, "kept");
}

TEST(TimeScheduleTest, ActiveWhenAnyRuleMatchesNeverWithoutRules) {
    CTimeSchedule schedule;
    EXPECT_EQ(schedule.GetId(), -1);
    EXPECT_FALSE(schedule.IsActiveAt(MondayAt(9, 0)));

    CTimeScheduleEntry weekend;
    weekend.DoW = 32 | 64;
    EXPECT_EQ(schedule.AddEntry(weekend), 0u);
    EXPECT_FALSE(schedule.IsActiveAt(MondayAt(9, 0)));
    EXPECT_EQ(schedule.AddEntry(OfficeHours()), 1u);
    EXPECT_TRUE(schedule.IsActiveAt(MondayAt(9, 0)));
    EXPECT_FALSE(schedule.IsActiveAt(MondayAt(18, 0)));

    CTimeSchedule copy = schedule;
    copy.GetEntry(1)->TillHour = 19;
    EXPECT_TRUE(copy.IsActiveAt(MondayAt(18, 0)));
    EXPECT_FALSE(schedule.IsActiveAt(MondayAt(18, 0))); // the copy is deep

    EXPECT_EQ(schedule.GetEntry(2), nullptr);
    EXPECT_FALSE(schedule.RemoveEntry(2));
    EXPECT_TRUE(schedule.RemoveEntry(1));
    EXPECT_EQ(schedule.GetEntryCount(), 1u);
    EXPECT_FALSE(schedule.IsActiveAt(MondayAt(9, 0)));
}

class TimeScheduleStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-schedule-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        DocumentSchema::OpenDocumentDb(m_db, (m_dir / "s.tvrx").string());
    }
    void TearDown() override {
        m_db.close();
        std::filesystem::remove_all(m_dir);
    }
    std::vector<std::string> Keys() {
        std::vector<std::string> keys;
        sqlite3x::sqlite3_command command(m_db, "select id from t_config_data order by rowid");
        auto reader = command.executereader();
        while (reader.read()) {
            keys.push_back(reader.getstring(0));
        }
        return keys;
    }

    std::filesystem::path m_dir;
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

TEST_F(TimeScheduleStoreTest, WritesTheDocumentKeysInOrder) {
    CTimeSchedule schedule;
    schedule.SetName("Office");
    schedule.AddEntry(OfficeHours());
    schedule.Store("S", m_store);
    const std::vector<std::string> expected = {
        "S.ScheduleName",          "S.Schedule.count",        "S.Schedule.0.ValidDoW",
        "S.Schedule.0.DoW",        "S.Schedule.0.ValidTime",  "S.Schedule.0.FromHour",
        "S.Schedule.0.TillHour",   "S.Schedule.0.FromMinute", "S.Schedule.0.TillMinute",
        "S.Schedule.0.ValidDay",   "S.Schedule.0.FromDay",    "S.Schedule.0.TillDay",
        "S.Schedule.0.ValidMonth", "S.Schedule.0.FromMonth",  "S.Schedule.0.TillMonth",
        "S.Schedule.0.ValidYear",  "S.Schedule.0.FromYear",   "S.Schedule.0.TillYear"};
    EXPECT_EQ(Keys(), expected);
    EXPECT_EQ(m_store.GetInt("S.Schedule.0.TillHour"), 17);
    EXPECT_TRUE(m_store.GetBool("S.Schedule.0.ValidTime"));
}

TEST_F(TimeScheduleStoreTest, DocumentMapOfSchedulesRoundTrips) {
    SerializeableMap<CTimeSchedule> schedules;
    CTimeSchedule* office = schedules.Add();
    office->SetName("Schedule_" + std::to_string(office->GetId()));
    office->AddEntry();
    CTimeScheduleEntry night;
    night.DoW = 31;
    night.ValidTime = true;
    night.FromHour = 1;
    night.TillHour = 5;
    night.FromMinute = 15;
    night.TillMinute = 45;
    night.ValidYear = true;
    night.FromYear = 2020;
    night.TillYear = 2030;
    night.ValidDoW = false;
    office->AddEntry(night);
    CTimeSchedule* empty = schedules.Add();
    empty->SetName("Nothing");
    schedules.Save("Schedules", m_store);
    EXPECT_EQ(m_store.GetInt("Schedules.0.Schedule.1.FromHour"), 1);

    SerializeableMap<CTimeSchedule> loaded;
    loaded.Load("Schedules", m_store);
    ASSERT_EQ(loaded.Size(), 2u);
    const CTimeSchedule* first = loaded.Find(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetName(), "Schedule_0");
    ASSERT_EQ(first->GetEntryCount(), 2u);
    EXPECT_EQ(*first->GetEntry(0), CTimeScheduleEntry());
    EXPECT_EQ(*first->GetEntry(1), night);
    EXPECT_EQ(loaded.Find(1)->GetName(), "Nothing");
    EXPECT_EQ(loaded.Find(1)->GetEntryCount(), 0u);
}

TEST_F(TimeScheduleStoreTest, FailedLoadLeavesTheScheduleAsItWas) {
    CTimeSchedule stored;
    stored.SetName("Stored");
    stored.AddEntry(OfficeHours());
    stored.Store("S", m_store);
    sqlite3x::sqlite3_command(m_db, "delete from t_config_data where id = 'S.Schedule.0.TillYear'")
        .executenonquery();

    CTimeSchedule schedule;
    schedule.SetName("Mine");
    schedule.AddEntry();
    schedule.AddEntry();
    EXPECT_THROW(schedule.Load("S", m_store), sqlite3x::database_error);
    EXPECT_EQ(schedule.GetName(), "Mine");
    EXPECT_EQ(schedule.GetEntryCount(), 2u);

    CTimeScheduleEntry rule;
    rule.DoW = 3;
    EXPECT_THROW(rule.Load("S.Schedule.0", m_store), sqlite3x::database_error);
    EXPECT_EQ(rule.DoW, 3);
}
