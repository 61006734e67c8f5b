#include "platform/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("tavrix-settings-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_path = (m_dir / "Kestrova" / "Tavrix.conf").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }
    void WriteFile(const std::string& text) {
        fs::create_directories(fs::path(m_path).parent_path());
        std::ofstream(m_path) << text;
    }
    fs::path m_dir;
    std::string m_path;
};

} // namespace

TEST_F(SettingsFileTest, AMissingFileLoadsAsEmpty) {
    CSettingsFile file(m_path);
    EXPECT_TRUE(file.Load());
    EXPECT_FALSE(file.HasGroup("Tavrix"));
    EXPECT_FALSE(file.ReadDword("Tavrix", "TRACE"));
}

TEST_F(SettingsFileTest, TheFormOfAValueDecidesItsKind) {
    WriteFile(
        "[Tavrix]\nTRACE=1\n[NotificationSettings]\nMaximumLogLength=1000\nUserDbPath=\"/x/Tavrix.db\"\n"
        "Quoted=\"1\"\nNegative=-1\nJunk=12abc\nEmpty=\n");
    CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("Tavrix", "TRACE"), 1u);
    EXPECT_EQ(file.ReadDword("NotificationSettings", "MaximumLogLength"), 1000u);
    EXPECT_EQ(file.ReadString("NotificationSettings", "UserDbPath"), "/x/Tavrix.db");
    EXPECT_FALSE(file.ReadDword("NotificationSettings", "UserDbPath")) << "a string is no DWORD";
    EXPECT_FALSE(file.ReadDword("NotificationSettings", "Quoted")) << "\"1\" is a string";
    EXPECT_EQ(file.ReadString("NotificationSettings", "Quoted"), "1");
    EXPECT_FALSE(file.ReadString("NotificationSettings", "MaximumLogLength")) << "a DWORD is no string";
    EXPECT_EQ(file.ReadDword("NotificationSettings", "Negative"), 0xFFFFFFFFu);
    EXPECT_FALSE(file.ReadDword("NotificationSettings", "Junk"));
    EXPECT_FALSE(file.ReadDword("NotificationSettings", "Empty"));
    EXPECT_FALSE(file.ReadString("NotificationSettings", "Empty"));
}

TEST_F(SettingsFileTest, ADwordIsABareDecimalIntegerWithoutPlusOrLeadingBlank) {
    // Blanks around "=" belong to the key file's syntax; "\s" is the key file's escaped blank,
    // which makes the value a text with a leading blank, not a number.
    WriteFile(
        "[G]\nPlus=+5\nEscapedBlank=\\s5\nAroundEquals = 5\nMinus=-5\nPlusZero=+0\nQuotedBlank=\" 5\"\n");
    CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_FALSE(file.ReadDword("G", "Plus")) << "+5 is not the form a DWORD is written in";
    EXPECT_FALSE(file.ReadString("G", "Plus"));
    EXPECT_FALSE(file.ReadDword("G", "PlusZero"));
    EXPECT_FALSE(file.ReadDword("G", "EscapedBlank"));
    EXPECT_FALSE(file.ReadDword("G", "QuotedBlank"));
    EXPECT_EQ(file.ReadString("G", "QuotedBlank"), " 5");
    EXPECT_EQ(file.ReadDword("G", "AroundEquals"), 5u);
    EXPECT_EQ(file.ReadDword("G", "Minus"), static_cast<uint32_t>(-5));
}

TEST_F(SettingsFileTest, ValuesSurviveASaveAndLoadWithAwkwardText) {
    const std::string awkward = "C:\\path with \"quotes\"\nand a line break; #not a comment";
    {
        CSettingsFile file(m_path);
        file.WriteDword("MiscSettings", "MiminizeMode", 2);
        file.WriteString("NotificationSettings", "UserDbPath", awkward);
        file.CreateGroup("Empty");
        ASSERT_TRUE(file.Save());
    }
    CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("MiscSettings", "MiminizeMode"), 2u);
    EXPECT_EQ(file.ReadString("NotificationSettings", "UserDbPath"), awkward);
    EXPECT_TRUE(file.HasGroup("Empty"));
    EXPECT_TRUE(file.ValueNames("Empty").empty());
}

TEST_F(SettingsFileTest, AnUnreadableFileIsReportedAndNotTouched) {
    WriteFile("this is [not a key file\n");
    CSettingsFile file(m_path);
    EXPECT_FALSE(file.Load());
    std::ifstream in(m_path);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "this is [not a key file");
}

TEST_F(SettingsFileTest, SaveReplacesTheFileWhole) {
    WriteFile("[Old]\nValue=1\n");
    CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    file.RemoveValue("Old", "Value");
    file.WriteDword("New", "Value", 7);
    ASSERT_TRUE(file.Save());
    CSettingsFile again(m_path);
    ASSERT_TRUE(again.Load());
    EXPECT_FALSE(again.HasValue("Old", "Value"));
    EXPECT_EQ(again.ReadDword("New", "Value"), 7u);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(m_path).parent_path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(SettingsFileTest, DefaultPathFollowsXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
    EXPECT_EQ(CSettingsFile::DefaultPath(), m_dir.string() + "/Kestrova/Tavrix.conf");
    if (old) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}
