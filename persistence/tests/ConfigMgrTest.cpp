#include "persistence/ConfigMgrImpl.h"

#include "persistence/NotificationLog.h"

#include "TempDirFixture.h"

#include <fstream>

namespace {

class ConfigMgrTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        m_path = Path("config/Kestrova/Tavrix.conf");
        CNotificationLog::Instance().Clear();
    }
    void TearDown() override {
        CNotificationLog::Instance().Clear();
        CMiscSettings::SetLockNotificationProbe(nullptr);
        TempDirFixture::TearDown();
    }
    void Write(const std::string& text) {
        std::filesystem::create_directories(Path("config/Kestrova"));
        std::ofstream(m_path) << text;
    }
    std::string Read() {
        std::ifstream in(m_path);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // The texts of the notification log.
    static std::vector<std::string> Logged() {
        std::vector<std::string> texts;
        for (const CLogEntry& entry : CNotificationLog::Instance().GetEntries()) {
            texts.push_back(entry.text);
        }
        return texts;
    }
    std::string m_path;
};

} // namespace

TEST_F(ConfigMgrTest, TheDefaultFileIsUnderTheConfigHome) {
    EXPECT_EQ(CConfigMgrImpl().GetSettingsPath(), m_path);
}

TEST_F(ConfigMgrTest, FirstStartHasDefaultsAndExitWritesEveryValue) {
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    const auto n = config.GetNotificationSettings();
    EXPECT_EQ(n.GetMaximumLogLength(), 1000);
    EXPECT_EQ(n.GetUserDbPath(), Path("data") + "/Tavrix/Tavrix.db");
    EXPECT_FALSE(n.GetUnattendedMode());
    const auto m = config.GetMiscSettings();
    EXPECT_FALSE(m.GetMinimizeOnStartup());
    EXPECT_EQ(m.GetMinimizeMode(), 0);
    EXPECT_EQ(m.GetHotKeyVirtualKeyCode(), 0);

    config.SaveAll();
    platform::CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("NotificationSettings", "MaximumLogLength"), 1000u);
    EXPECT_EQ(file.ReadString("NotificationSettings", "UserDbPath"), Path("data") + "/Tavrix/Tavrix.db");
    EXPECT_EQ(file.ReadDword("NotificationSettings", "UnattendedMode"), 0u);
    EXPECT_EQ(file.ValueNames("MiscSettings"),
              (std::vector<std::string>{"MiminizeMode", "MinimizeOnStartup", "DisableMDWhenInactive",
                                        "InvHK_VirtualKeyCode", "InvHK_Modifiers"}));
}

TEST_F(ConfigMgrTest, MissingDwordsReadZeroAndMissingStringsKeepTheDefault) {
    Write("[MiscSettings]\nMiminizeMode=2\n[NotificationSettings]\nUnattendedMode=1\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    const auto m = config.GetMiscSettings();
    EXPECT_EQ(m.GetMinimizeMode(), 2);
    EXPECT_FALSE(m.GetMinimizeOnStartup());
    EXPECT_FALSE(m.GetDisableMDWhenInactive());
    EXPECT_EQ(m.GetHotKeyModifiers(), 0);
    const auto n = config.GetNotificationSettings();
    EXPECT_EQ(n.GetMaximumLogLength(), 0) << "an existing group without the value reads 0";
    EXPECT_EQ(n.GetUserDbPath(), Path("data") + "/Tavrix/Tavrix.db");
    EXPECT_TRUE(n.GetUnattendedMode());
}

TEST_F(ConfigMgrTest, ValuesOfTheWrongFormCountAsMissing) {
    Write(
        "[NotificationSettings]\nMaximumLogLength=\"500\"\nUserDbPath=/unquoted/path.db\nUnattendedMode=yes\n"
        "[MiscSettings]\nInvHK_VirtualKeyCode=65603\nInvHK_Modifiers=7\nMinimizeOnStartup=4294967296\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    const auto n = config.GetNotificationSettings();
    EXPECT_EQ(n.GetMaximumLogLength(), 0);
    EXPECT_EQ(n.GetUserDbPath(), Path("data") + "/Tavrix/Tavrix.db");
    EXPECT_FALSE(n.GetUnattendedMode());
    const auto m = config.GetMiscSettings();
    EXPECT_EQ(m.GetHotKeyVirtualKeyCode(), 67) << "low 16 bits of 65603";
    EXPECT_EQ(m.GetHotKeyModifiers(), 7);
    EXPECT_FALSE(m.GetMinimizeOnStartup()) << "too big for a DWORD";
}

TEST_F(ConfigMgrTest, ChangesReachTheFileAndOtherGroupsAreKept) {
    Write("[Tavrix]\nTRACE=1\n[RecentFiles]\nFile1=\"/x.tvrx\"\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    auto n = config.GetNotificationSettings();
    n.SetMaximumLogLength(250);
    n.SetUserDbPath("/var/tmp/with \"quote\".db");
    n.SetUnattendedMode(true);
    config.SetNotificationSettings(n);
    auto m = config.GetMiscSettings();
    m.SetMinimizeMode(1);
    m.SetHotKeyVirtualKeyCode(67);
    m.SetHotKeyModifiers(7);
    config.SetMiscSettings(m);
    config.SaveAll();

    CConfigMgrImpl again(m_path);
    again.LoadAll();
    EXPECT_EQ(again.GetNotificationSettings().GetMaximumLogLength(), 250);
    EXPECT_EQ(again.GetNotificationSettings().GetUserDbPath(), "/var/tmp/with \"quote\".db");
    EXPECT_TRUE(again.GetNotificationSettings().GetUnattendedMode());
    EXPECT_EQ(again.GetMiscSettings().GetMinimizeMode(), 1);
    EXPECT_EQ(again.GetMiscSettings().GetHotKeyVirtualKeyCode(), 67);
    EXPECT_EQ(again.GetMiscSettings().GetHotKeyModifiers(), 7);
    const std::string text = Read();
    EXPECT_NE(text.find("TRACE=1"), std::string::npos);
    EXPECT_NE(text.find("File1=\"/x.tvrx\""), std::string::npos);
}

TEST_F(ConfigMgrTest, TheLockNotificationFlagIsProbedAndNeverWritten) {
    CMiscSettings::SetLockNotificationProbe([] { return true; });
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    EXPECT_TRUE(config.GetMiscSettings().GetLockNotificationInstalled()) << "also on a first start";
    config.SaveAll();
    EXPECT_EQ(Read().find("Lock"), std::string::npos);
    CConfigMgrImpl again(m_path);
    again.LoadAll();
    EXPECT_TRUE(again.GetMiscSettings().GetLockNotificationInstalled());
    CMiscSettings::SetLockNotificationProbe(nullptr);
    again.LoadAll();
    EXPECT_FALSE(again.GetMiscSettings().GetLockNotificationInstalled());
}

TEST_F(ConfigMgrTest, AnUnreadableFileGivesDefaultsAndIsKeptAside) {
    Write("[NotificationSettings\nthis is not a key file\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    EXPECT_EQ(config.GetNotificationSettings().GetMaximumLogLength(), 1000);
    config.SaveAll();
    std::ifstream aside(m_path + ".bad");
    std::string text((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[NotificationSettings\nthis is not a key file\n");
    EXPECT_NE(Read().find("MaximumLogLength=1000"), std::string::npos);
}

TEST_F(ConfigMgrTest, AnUnreadableFileIsMovedAsideAtStartWithOneLogLine) {
    Write("[NotificationSettings\nthis is not a key file\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    EXPECT_EQ(Logged(), std::vector<std::string>{"The settings file '" + m_path +
                                                 "' could not be read; it was moved to '" + m_path +
                                                 ".bad' and the default settings are used."});
    std::ifstream aside(m_path + ".bad");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>()),
              "[NotificationSettings\nthis is not a key file\n");
    config.SaveAll();
    EXPECT_EQ(Logged().size(), 1u) << "the exit has nothing more to say";
    EXPECT_NE(Read().find("MaximumLogLength=1000"), std::string::npos);
}

TEST_F(ConfigMgrTest, EachValueResetToItsDefaultGetsOneLogLine) {
    Write("[NotificationSettings]\nMaximumLogLength=abc\nUserDbPath=/unquoted/path.db\nUnattendedMode=1\n"
          "[MiscSettings]\nMiminizeMode=+5\nInvHK_Modifiers=7\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    const std::string in = "] of '" + m_path + "' is ";
    EXPECT_EQ(Logged(),
              (std::vector<std::string>{
                  "The setting 'MaximumLogLength' in [NotificationSettings" + in +
                      "'abc', not a number; the default is used instead.",
                  "The setting 'UserDbPath' in [NotificationSettings" + in +
                      "'/unquoted/path.db', not a text in double quotes; the default is used instead.",
                  "The setting 'MiminizeMode' in [MiscSettings" + in +
                      "'+5', not a number; the default is used instead.",
              }));
    EXPECT_TRUE(config.GetNotificationSettings().GetUnattendedMode());
    EXPECT_EQ(config.GetMiscSettings().GetHotKeyModifiers(), 7);
}

TEST_F(ConfigMgrTest, ALogLengthBelowOneIsOutOfRangeAndAMissingOneIsNoProblem) {
    Write("[NotificationSettings]\nMaximumLogLength=-5\n");
    CConfigMgrImpl config(m_path);
    config.LoadAll();
    EXPECT_EQ(Logged(),
              std::vector<std::string>{"The setting 'MaximumLogLength' in [NotificationSettings] of '" +
                                       m_path + "' is -5, out of range; the default is used instead."});
    CNotificationLog::Instance().Clear();
    Write("[NotificationSettings]\nMaximumLogLength=2\nUnattendedMode=0\n[MiscSettings]\n");
    config.LoadAll();
    EXPECT_TRUE(Logged().empty());
    Write("[NotificationSettings]\nUnattendedMode=0\n");
    config.LoadAll();
    EXPECT_TRUE(Logged().empty()) << "a missing value reads as 0, as it always did";
}
