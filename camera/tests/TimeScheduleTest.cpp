// Time schedule rules and schedules: evaluation at the boundaries, the editor's description and
// validation texts, and storing into and loading from a real document file.

#include "camera/TimeSchedule.h"

#include "persistence/DocumentSchema.h"
#include "persistence/sqlite3x.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace {

// dayOfWeek: 0 Sunday .. 6 Saturday.
platform::SystemTime At(int year, int month, int day, int dayOfWeek, int hour = 12, int minute = 0) {
    return {static_cast<uint16_t>(year), static_cast<uint16_t>(month), static_cast<uint16_t>(dayOfWeek),
            static_cast<uint16_t>(day),  static_cast<uint16_t>(hour),  static_cast<uint16_t>(minute)};
}
platform::SystemTime Monday(int hour, int minute) {
    return At(2024, 2, 5, 1, hour, minute);
}

CTimeScheduleEntry Rule(const std::function<void(CTimeScheduleEntry&)>& change) {
    CTimeScheduleEntry rule;
    change(rule);
    return rule;
}

const CTimeScheduleEntry kOfficeHours = Rule([](CTimeScheduleEntry& r) {
    r.ValidTime = true;
    r.FromHour = 8;
    r.TillHour = 17;
    r.TillMinute = 0;
});

std::string Message(const CTimeScheduleEntry& rule) {
    std::string message = "untouched";
    return rule.Validate(message) ? message : "refused: " + message;
}

} // namespace

TEST(TimeScheduleEntryTest, MatchesAtTheBoundaries) {
    const CTimeScheduleEntry lastDay = Rule([](auto& r) { r.ValidDay = true, r.FromDay = r.TillDay = 31; });
    const CTimeScheduleEntry february =
        Rule([](auto& r) { r.ValidMonth = true, r.FromMonth = r.TillMonth = 2; });
    const CTimeScheduleEntry years = Rule([](auto& r) { r.ValidYear = true; }); // 2003 - 2010
    const CTimeScheduleEntry mondaySunday = Rule([](auto& r) { r.ValidDoW = false, r.DoW = 1 | 64; });
    const CTimeScheduleEntry sundayOnly = Rule([](auto& r) { r.DoW = 64; });
    const CTimeScheduleEntry workdays = Rule([](auto& r) { r.DoW = 1 | 2 | 4 | 8 | 16; });
    const CTimeScheduleEntry noDays = Rule([](auto& r) { r = kOfficeHours, r.DoW = 0; });
    const CTimeScheduleEntry fresh;
    const struct {
        const CTimeScheduleEntry& rule;
        platform::SystemTime now;
        bool matches;
    } cases[] = {
        {fresh, Monday(3, 0), true}, // a new rule: every day, all day
        {kOfficeHours, Monday(7, 59), false},
        {kOfficeHours, Monday(8, 0), true},
        {kOfficeHours, Monday(16, 59), true},
        {kOfficeHours, Monday(17, 0), false},
        {mondaySunday, At(2024, 2, 5, 1), true}, // ValidDoW false: the days apply all the same
        {mondaySunday, At(2024, 2, 6, 2), false},
        {mondaySunday, At(2024, 2, 10, 6), false},
        {mondaySunday, At(2024, 2, 11, 0), true},
        {mondaySunday, At(2024, 2, 11, 7), false}, // no such day
        // Sunday is bit 6 (64), not bit 0: a Sunday-only rule is no Monday rule, and a workdays
        // rule does not hold on Sunday.
        {sundayOnly, At(2024, 2, 11, 0), true},
        {sundayOnly, At(2024, 2, 5, 1), false},
        {sundayOnly, At(2024, 2, 10, 6), false},
        {workdays, At(2024, 2, 11, 0), false},
        {workdays, At(2024, 2, 10, 6), false},
        {workdays, At(2024, 2, 5, 1), true},
        {workdays, At(2024, 2, 9, 5), true},
        {noDays, Monday(9, 0), false},
        {noDays, At(2024, 2, 11, 0, 9, 0), false},
        {lastDay, At(2024, 1, 31, 3), true},
        {lastDay, At(2024, 1, 30, 2), false},
        {february, At(2024, 2, 1, 4, 0, 0), true},
        {february, At(2024, 2, 29, 4, 23, 59), true},
        {february, At(2024, 3, 1, 5, 0, 0), false},
        {february, At(2024, 1, 31, 3, 23, 59), false},
        {years, At(2003, 1, 1, 3), true},
        {years, At(2010, 12, 31, 5), true},
        {years, At(2011, 1, 1, 6), false},
        {years, At(2002, 12, 31, 2), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.rule.Matches(c.now), c.matches)
            << c.rule.Describe() << " at " << c.now.year << "-" << c.now.month << "-" << c.now.day << " "
            << c.now.hour << ":" << c.now.minute << " day " << c.now.dayOfWeek;
    }
}

TEST(TimeScheduleEntryTest, DescribesAndValidatesAsTheEditorShowsIt) {
    EXPECT_EQ(Rule([](auto& r) { r.DoW = 1 | 4 | 16; }).Describe(), "MoWeFr");
    EXPECT_EQ(CTimeScheduleEntry().Describe(), "MoTuWeThFrSaSu");
    EXPECT_EQ(Rule([](auto& r) {
                  r = kOfficeHours, r.DoW = 31, r.ValidMonth = true, r.FromMonth = 4, r.TillMonth = 9;
              }).Describe(),
              "MoTuWeThFr + time 08:00 - 17:00 + month 4 - 9");
    EXPECT_EQ(Rule([](auto& r) {
                  r = kOfficeHours, r.DoW = 0, r.TillMinute = 30, r.ValidDay = true, r.TillDay = 15,
                  r.ValidYear = true;
              }).Describe(),
              "time 08:00 - 17:30 + day 1 - 15 + year 2003 - 2010");
    EXPECT_EQ(Rule([](auto& r) { r.DoW = 0, r.ValidDay = true, r.FromDay = 3, r.TillDay = 9; }).Describe(),
              "day 3 - 9");

    EXPECT_EQ(Message(Rule([](auto& r) { r.DoW = 0; })),
              "refused: Empty entries are not allowed. Please select something or delete the entry.");
    // The time is tested before the (also wrong) day range.
    const CTimeScheduleEntry late = Rule([](auto& r) {
        r = kOfficeHours, r.FromHour = 18, r.ValidDay = true, r.FromDay = 20, r.TillDay = 10;
    });
    // A start after the end is an overnight range: the day range is the first fault then.
    EXPECT_EQ(Message(late), "refused: From Day must be smaller than Till Day.");
    EXPECT_EQ(Message(Rule([&](auto& r) { r = late, r.FromHour = 17; })),
              "refused: From Time must not be equal to Till Time.");
    EXPECT_EQ(Message(Rule([&](auto& r) { r = late, r.FromHour = 8; })),
              "refused: From Day must be smaller than Till Day.");
    EXPECT_EQ(Message(Rule([](auto& r) { r.ValidMonth = true, r.FromMonth = 5, r.TillMonth = 4; })),
              "refused: From Month must be smaller than Till Month.");
    EXPECT_EQ(Message(Rule([](auto& r) { r.ValidYear = true, r.FromYear = 2011; })),
              "refused: From Year must be smaller than Till Year.");
    // Equal day, month and year bounds are accepted, and a rule with only a time range too.
    EXPECT_EQ(Message(Rule([](auto& r) {
                  r.ValidDay = r.ValidMonth = r.ValidYear = true;
                  r.FromDay = r.TillDay = r.FromMonth = r.TillMonth = 3, r.FromYear = r.TillYear = 2020;
              })),
              "untouched");
    EXPECT_EQ(Message(Rule([](auto& r) { r = kOfficeHours, r.DoW = 0; })), "untouched");

    // Hours far out of range (a hand-edited document) compare without overflowing.
    const CTimeScheduleEntry huge = Rule([](auto& r) {
        r = kOfficeHours, r.FromHour = std::numeric_limits<int32_t>::min(),
        r.TillHour = std::numeric_limits<int32_t>::max();
    });
    EXPECT_TRUE(huge.Matches(Monday(9, 0)));
    EXPECT_EQ(Message(huge), "untouched");
    const CTimeScheduleEntry hugeStart =
        Rule([](auto& r) { r = kOfficeHours, r.FromHour = std::numeric_limits<int32_t>::max(); });
    EXPECT_EQ(Message(hugeStart), "untouched");
    EXPECT_TRUE(hugeStart.IsOvernight());
    EXPECT_FALSE(hugeStart.Matches(Monday(18, 0)));
}

TEST(TimeScheduleEntryTest, OvernightRangeRunsFromTheEveningIntoTheNextMorning) {
    // Fridays 22:00 until Saturday 06:00.
    const CTimeScheduleEntry fridayNight = Rule([](auto& r) {
        r.DoW = 16, r.ValidTime = true, r.FromHour = 22, r.TillHour = 6, r.FromMinute = r.TillMinute = 0;
    });
    EXPECT_TRUE(fridayNight.IsOvernight());
    EXPECT_FALSE(kOfficeHours.IsOvernight());
    EXPECT_EQ(fridayNight.Describe(), "Fr + time 22:00 - 06:00 next day");
    EXPECT_EQ(Message(fridayNight), "untouched");
    // The night of the last day of February 2024 (a leap year) and of New Year's Eve 2024.
    const CTimeScheduleEntry monthEnd = Rule([](auto& r) {
        r.ValidTime = true, r.FromHour = 23, r.TillHour = 1, r.FromMinute = 30, r.TillMinute = 0;
        r.ValidDay = true, r.FromDay = 29, r.TillDay = 31;
    });
    const CTimeScheduleEntry year2024 = Rule([](auto& r) {
        r.ValidTime = true, r.FromHour = 20, r.TillHour = 4, r.FromMinute = r.TillMinute = 0;
        r.ValidYear = true, r.FromYear = r.TillYear = 2024;
    });
    const struct {
        const CTimeScheduleEntry& rule;
        platform::SystemTime now;
        bool matches;
    } cases[] = {
        {fridayNight, At(2024, 2, 9, 5, 21, 59), false},
        {fridayNight, At(2024, 2, 9, 5, 22, 0), true},
        {fridayNight, At(2024, 2, 9, 5, 23, 59), true},
        {fridayNight, At(2024, 2, 10, 6, 0, 0), true}, // Saturday morning belongs to Friday's night
        {fridayNight, At(2024, 2, 10, 6, 5, 59), true},
        {fridayNight, At(2024, 2, 10, 6, 6, 0), false},
        {fridayNight, At(2024, 2, 10, 6, 22, 0), false}, // Saturday evening: not a Friday
        {fridayNight, At(2024, 2, 9, 5, 3, 0), false},   // Friday morning: Thursday's night
        {fridayNight, At(2024, 2, 9, 5, 12, 0), false},
        {monthEnd, At(2024, 2, 29, 4, 23, 30), true},
        {monthEnd, At(2024, 3, 1, 5, 0, 30), true}, // began on the 29th
        {monthEnd, At(2024, 3, 2, 6, 0, 30), false},
        {monthEnd, At(2023, 3, 1, 3, 0, 30), false}, // 2023: February had 28 days
        {monthEnd, At(2024, 5, 1, 3, 0, 30), true},  // began on 30 April
        {monthEnd, At(2024, 8, 1, 4, 0, 30), true},  // began on 31 July
        {year2024, At(2024, 12, 31, 2, 23, 0), true},
        {year2024, At(2025, 1, 1, 3, 3, 59), true}, // New Year's night began in 2024
        {year2024, At(2025, 1, 1, 3, 20, 0), false},
        {year2024, At(2024, 1, 1, 1, 3, 0), false}, // began on 31 December 2023
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.rule.Matches(c.now), c.matches)
            << c.rule.Describe() << " at " << c.now.year << "-" << c.now.month << "-" << c.now.day << " "
            << c.now.hour << ":" << c.now.minute << " day " << c.now.dayOfWeek;
    }

    // The week grid: Friday evening and Saturday morning, nothing else.
    EXPECT_FALSE(fridayNight.CoversWeekMinute(4, 21 * 60 + 59));
    EXPECT_TRUE(fridayNight.CoversWeekMinute(4, 22 * 60));
    EXPECT_TRUE(fridayNight.CoversWeekMinute(5, 5 * 60 + 59));
    EXPECT_FALSE(fridayNight.CoversWeekMinute(5, 6 * 60));
    EXPECT_FALSE(fridayNight.CoversWeekMinute(4, 3 * 60));
    EXPECT_FALSE(fridayNight.CoversWeekMinute(5, 22 * 60));
    // A Sunday night reaches into Monday morning.
    const CTimeScheduleEntry sundayNight = Rule([&](auto& r) { r = fridayNight, r.DoW = 64; });
    EXPECT_TRUE(sundayNight.CoversWeekMinute(0, 60));
    EXPECT_FALSE(sundayNight.CoversWeekMinute(6, 60));
    EXPECT_TRUE(CTimeScheduleEntry().CoversWeekMinute(2, 0));
    EXPECT_FALSE(kOfficeHours.CoversWeekMinute(2, 17 * 60));
}

TEST(TimeScheduleTest, ActiveWhenAnyRuleMatchesNeverWithoutRules) {
    CTimeSchedule schedule;
    EXPECT_EQ(schedule.GetId(), -1);
    EXPECT_FALSE(schedule.IsActiveAt(Monday(9, 0)));
    EXPECT_EQ(schedule.AddEntry(Rule([](auto& r) { r.DoW = 32 | 64; })), 0u); // weekend
    EXPECT_FALSE(schedule.IsActiveAt(Monday(9, 0)));
    EXPECT_EQ(schedule.AddEntry(kOfficeHours), 1u);
    EXPECT_TRUE(schedule.IsActiveAt(Monday(9, 0)));

    CTimeSchedule copy = schedule;
    copy.GetEntry(1)->TillHour = 19;
    EXPECT_TRUE(copy.IsActiveAt(Monday(18, 0)));
    EXPECT_FALSE(schedule.IsActiveAt(Monday(18, 0))); // the copy is deep

    EXPECT_EQ(schedule.GetEntry(2), nullptr);
    EXPECT_FALSE(schedule.RemoveEntry(2));
    EXPECT_TRUE(schedule.RemoveEntry(1));
    EXPECT_FALSE(schedule.IsActiveAt(Monday(9, 0)));
}

class TimeScheduleStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-schedule-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        DocumentSchema::CreateDocumentDb(m_db, (m_dir / "s.tvrx").string());
    }
    void TearDown() override {
        m_db.close();
        std::filesystem::remove_all(m_dir);
    }

    std::filesystem::path m_dir;
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

TEST_F(TimeScheduleStoreTest, WritesTheDocumentKeysInOrderAndLoadsThemBack) {
    SerializeableMap<CTimeSchedule> schedules;
    CTimeSchedule* office = schedules.Add();
    office->SetName("Schedule_0");
    office->AddEntry();
    const CTimeScheduleEntry night = Rule([](auto& r) {
        r.ValidDoW = false, r.DoW = 31, r.ValidTime = true, r.FromHour = 1, r.TillHour = 5, r.FromMinute = 15,
        r.TillMinute = 45, r.ValidYear = true, r.FromYear = 2020, r.TillYear = 2030;
    });
    office->AddEntry(night);
    schedules.Add()->SetName("Nothing");
    schedules.Save("Schedules", m_store);

    std::vector<std::string> keys;
    sqlite3x::sqlite3_command command(m_db,
                                      "select id from t_config_data where id like 'Schedules.0.Schedule.1.%' "
                                      "order by rowid");
    for (auto reader = command.executereader(); reader.read();) {
        keys.push_back(reader.getstring(0));
    }
    std::vector<std::string> expected;
    for (const char* key : {"ValidDoW", "DoW", "ValidTime", "FromHour", "TillHour", "FromMinute",
                            "TillMinute", "ValidDay", "FromDay", "TillDay", "ValidMonth", "FromMonth",
                            "TillMonth", "ValidYear", "FromYear", "TillYear"}) {
        expected.push_back(std::string("Schedules.0.Schedule.1.") + key);
    }
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(m_store.GetString("Schedules.0.ScheduleName"), "Schedule_0");
    EXPECT_EQ(m_store.GetInt("Schedules.0.Schedule.count"), 2);
    EXPECT_EQ(m_store.GetInt("Schedules.0.Schedule.1.FromHour"), 1);

    SerializeableMap<CTimeSchedule> loaded;
    loaded.Load("Schedules", m_store);
    ASSERT_EQ(loaded.Size(), 2u);
    ASSERT_EQ(loaded.Find(0)->GetEntryCount(), 2u);
    EXPECT_EQ(loaded.Find(0)->GetName(), "Schedule_0");
    EXPECT_EQ(*loaded.Find(0)->GetEntry(0), CTimeScheduleEntry());
    EXPECT_EQ(*loaded.Find(0)->GetEntry(1), night);
    EXPECT_EQ(loaded.Find(1)->GetName(), "Nothing");
    EXPECT_EQ(loaded.Find(1)->GetEntryCount(), 0u);
}

TEST_F(TimeScheduleStoreTest, FailedLoadLeavesTheScheduleAsItWas) {
    CTimeSchedule stored;
    stored.SetName("Stored");
    stored.AddEntry(kOfficeHours);
    stored.Store("S", m_store);
    m_db.executenonquery("delete from t_config_data where id = 'S.Schedule.0.TillYear'");

    CTimeSchedule schedule;
    schedule.SetName("Mine");
    schedule.AddEntry();
    schedule.AddEntry();
    EXPECT_THROW(schedule.Load("S", m_store), sqlite3x::database_error);
    EXPECT_EQ(schedule.GetName(), "Mine");
    EXPECT_EQ(schedule.GetEntryCount(), 2u);
    CTimeScheduleEntry rule = Rule([](auto& r) { r.DoW = 3; });
    EXPECT_THROW(rule.Load("S.Schedule.0", m_store), sqlite3x::database_error);
    EXPECT_EQ(rule.DoW, 3);
}
