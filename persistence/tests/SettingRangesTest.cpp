// Which stored keys carry a range: camera fields under "Cameras.<i>." and schedule rule fields under
// "Schedules.<i>.Schedule.<j>.", and nothing that only looks like them.

#include "persistence/SettingRanges.h"

#include <gtest/gtest.h>

TEST(SettingRangesTest, RangesAreFoundByTheKeysFieldOnly) {
    const auto range = SettingRanges::ForKey("Cameras.12.FPS");
    ASSERT_TRUE(range);
    EXPECT_EQ(range->minimum, 1);
    EXPECT_EQ(range->maximum, 1000);
    // 0: a network camera's own size.
    EXPECT_EQ(SettingRanges::ForKey("Cameras.0.VideoSize.cy")->minimum, 0);
    EXPECT_EQ(SettingRanges::ForKey("Cameras.0.StreamTimeout")->minimum, 1);
    EXPECT_EQ(SettingRanges::ForKey("Cameras.0.StreamTimeout")->maximum, 3600);
    EXPECT_EQ(SettingRanges::ForKey("Cameras.0.MotionPreEventDelay")->maximum, 10000);
    EXPECT_EQ(SettingRanges::ForKey("Schedules.3.Schedule.10.TillMinute")->maximum, 59);
    EXPECT_EQ(SettingRanges::ForKey("Schedules.3.Schedule.0.FromYear")->minimum, 2000);
    for (const char* key :
         {"Cameras.FPS", "Cameras.x.FPS", "Cameras.0.", "cameras.0.FPS", "Cameras.0.FPS.x",
          "Cameras.0.AreaMaskImage.Width", "Cameras.0.ViewMode", "Cameras.count", "Schedules.0.FromHour",
          "Schedules.0.Schedule.FromHour", "Schedules.0.ScheduleName",
          "EventActionChains.0.Actions.0.FromHour", "Global.ActivateAtStartup"}) {
        EXPECT_FALSE(SettingRanges::ForKey(key)) << key;
    }
}

TEST(SettingRangesTest, TheEndsOfARangeAreInside) {
    const CSettingRange range = *SettingRanges::ForCameraField("MotionErosionLevel");
    EXPECT_TRUE(SettingRanges::Contains(range, 0));
    EXPECT_TRUE(SettingRanges::Contains(range, 5));
    EXPECT_FALSE(SettingRanges::Contains(range, -1));
    EXPECT_FALSE(SettingRanges::Contains(range, 6));
    EXPECT_EQ(SettingRanges::ForCameraField("TimeScheduleId")->minimum, -1) << "-1: no schedule";
}
