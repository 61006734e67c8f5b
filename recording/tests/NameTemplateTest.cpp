#include "recording/NameTemplate.h"

#include "persistence/Camera.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

// Seconds since 1970 of a local wall-clock time, whatever the machine's time zone.
int64_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

CNameTemplate DoorAt7December() {
    CNameTemplate t;
    t.SetCameraName("Door");
    t.SetDocumentName("Office");
    t.SetTime(LocalTime(2026, 12, 7, 3, 5, 9));
    t.SetFileType(false);
    return t;
}

struct Case {
    const char* input;
    const char* expected;
};

} // namespace

TEST(NameTemplateTest, TheDefaultTemplateNamesARecording) {
    EXPECT_EQ(DoorAt7December().Expand(CCamera::kDefaultFileNameTemplate), "Door_07122026_030509.avi");
    CNameTemplate wmv = DoorAt7December();
    wmv.SetFileType(true);
    EXPECT_EQ(wmv.Expand("%n_%d%m%y_%h%i%s.%t"), "Door_07122026_030509.wmv");
}

TEST(NameTemplateTest, PlaceholdersWithAllFactsSet) {
    CNameTemplate t = DoorAt7December();
    t.SetEventString("/rec/Door_1.avi");
    const Case cases[] = {
        {"", ""},
        {"plain name.avi", "plain name.avi"},
        {"%%", "%"},
        {"100%% sure", "100% sure"},
        {"%x%D%N", "%x%D%N"},
        {"%o/%n", "Office/Door"},
        {"%r", "/rec/Door_1.avi"},
        {"%n %d.%m.%y", "Door 07.12.2026"},
        {"%h:%i:%s", "03:05:09"},
        {"end%", "end%"},
        {"%", "%"},
        {"%%%", "%%"},
        {"a%%%n", "a%Door"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t.Expand(c.input), c.expected) << c.input;
    }
}

TEST(NameTemplateTest, FactsNotSetExpandToFixedTexts) {
    const CNameTemplate t;
    const Case cases[] = {
        {"%d%m%y%h%i%s", "000000000000"},
        {"%n|%o|%r|%t", "<unknown>|<unknown>|<unknown>|<unknown>"},
        {"%%", "%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t.Expand(c.input), c.expected) << c.input;
    }
    // A record file name sets everything but the event string.
    EXPECT_EQ(DoorAt7December().Expand("%r"), "<unknown>");
}

TEST(NameTemplateTest, NamesAreInsertedAsTheyAre) {
    CNameTemplate t;
    t.SetCameraName("%d / 100%");
    t.SetEventString("");
    EXPECT_EQ(t.Expand("[%n][%r]"), "[%d / 100%][]");
}

TEST(NameTemplateTest, YearsKeepFourDigits) {
    CNameTemplate t;
    t.SetTime(LocalTime(1999, 1, 2, 23, 59, 58));
    EXPECT_EQ(t.Expand("%y-%m-%d %h%i%s"), "1999-01-02 235958");
}

TEST(NameTemplateTest, CameraRecordGivesItsName) {
    CCamera camera;
    camera.m_camName = "Garage";
    CNameTemplate t;
    t.SetCamera(camera);
    EXPECT_EQ(t.Expand("%n"), "Garage");
}

// A file name takes its folders from the template only: a "/" inside a name cannot add one.
TEST(NameTemplateTest, FileNamesReplaceSeparatorsInsideNamesButKeepTheTemplatesOwn) {
    CNameTemplate t = DoorAt7December();
    t.SetCameraName("../../../escaped");
    t.SetDocumentName("Site/A");
    t.SetEventString("/rec/x.avi");
    const Case cases[] = {
        {"%n_%d%m%y.%t", ".._.._.._escaped_07122026.avi"},
        {"%o/%n/%y-%m-%d_%h%i%s.%t", "Site_A/.._.._.._escaped/2026-12-07_030509.avi"},
        {"%r", "_rec_x.avi"},
        {"a/b%%/c", "a/b%/c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t.ExpandFileName(c.input), c.expected) << c.input;
    }
    // Commands and texts still get the names as they are.
    EXPECT_EQ(t.Expand("%n"), "../../../escaped");
}
