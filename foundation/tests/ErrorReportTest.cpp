#include "foundation/ErrorReport.h"

#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// The process-wide settings compute their default paths from the XDG folders on first use: point
// them into a temporary folder before any test runs, away from the user's own files.
struct PrivateXdgFolders {
    PrivateXdgFolders() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-errorreport-XXXXXX").string();
        if (::mkdtemp(pattern.data())) {
            m_dir = pattern;
            ::setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
            ::setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        }
    }
    ~PrivateXdgFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::filesystem::path m_dir;
} g_privateXdgFolders;

class RecordingDisplay : public IErrorDisplay {
public:
    void ShowErrorDialog(const CErrorEntry& entry) override { dialogs.push_back(entry); }
    void ShowMessageBox(const std::string& text) override { messages.push_back(text); }
    std::vector<CErrorEntry> dialogs;
    std::vector<std::string> messages;
};

class ErrorReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        CNotificationLog::Instance().Clear();
        SetUnattended(false);
        SetErrorDisplay(&m_display);
    }
    void TearDown() override {
        SetErrorDisplay(nullptr);
        SetUnattended(false);
        CNotificationLog::Instance().Clear();
    }
    static void SetUnattended(bool unattended) {
        auto settings = CConfigMgrImpl::Instance().GetNotificationSettings();
        settings.SetUnattendedMode(unattended);
        CConfigMgrImpl::Instance().SetNotificationSettings(settings);
    }
    RecordingDisplay m_display;
};

} // namespace

TEST_F(ErrorReportTest, LogTextJoinsInternalTextAndInfoWithSemicolons) {
    const CDirectXEx directx(E_FAIL, ".\\CameraView", "CDirectXEx", 10,
                             "Unable to render the preview graph.");
    EXPECT_EQ(ExceptionLogText(directx), "Unable to render the preview graph.;" + GetHResultName(E_FAIL));
    const CGeneralEx general(".\\RecordContext", "CGeneralEx", 20, "No record path.");
    EXPECT_EQ(ExceptionLogText(general), "No record path.");
    const CGeneralEx withInfo(".\\X", "CGeneralEx", 1, "msg", "x");
    EXPECT_EQ(ExceptionLogText(withInfo), "msg;x");
    const CDirectXEx both(E_FAIL, ".\\X", "CDirectXEx", 1, "msg", "info");
    EXPECT_EQ(ExceptionLogText(both), "msg;" + GetHResultName(E_FAIL) + ";info");
    // Only the first record counts; an earlier cause is not part of the line.
    const CGeneralEx wrapped(".\\Y", "CGeneralEx", 2, "outer", "", &withInfo);
    EXPECT_EQ(ExceptionLogText(wrapped), "outer");
}

TEST_F(ErrorReportTest, ReportLogsAndShowsTheFirstRecord) {
    const CDirectXEx e(E_FAIL, ".\\CameraView", "CDirectXEx", 42, "Could not create record filter graph.",
                       "more");
    ReportException(e, "Office", "Door");
    ASSERT_EQ(CNotificationLog::Instance().GetCount(), 1);
    const CLogEntry entry = CNotificationLog::Instance().GetEntry(0);
    EXPECT_EQ(entry.docName, "Office");
    EXPECT_EQ(entry.camName, "Door");
    EXPECT_EQ(entry.text, ExceptionLogText(e));
    ASSERT_EQ(m_display.dialogs.size(), 1u);
    EXPECT_EQ(m_display.dialogs[0].message, "Could not create record filter graph.");
    EXPECT_EQ(m_display.dialogs[0].internal, GetHResultName(E_FAIL));
    EXPECT_EQ(m_display.dialogs[0].file, ".\\CameraView");
    EXPECT_EQ(m_display.dialogs[0].line, 42);
    EXPECT_EQ(m_display.dialogs[0].info, "more");
}

TEST_F(ErrorReportTest, UnattendedModeLogsButShowsNoDialog) {
    SetUnattended(true);
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 1, "quiet"), "", "");
    EXPECT_EQ(CNotificationLog::Instance().GetCount(), 1);
    EXPECT_EQ(CNotificationLog::Instance().GetEntry(0).text, "quiet");
    EXPECT_TRUE(m_display.dialogs.empty());
}

TEST_F(ErrorReportTest, WithoutADisplayTheDialogGoesToStandardError) {
    SetErrorDisplay(nullptr);
    ::testing::internal::CaptureStderr();
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 7, "headless", "why"), "", "");
    ShowMessageBox("a message");
    const std::string out = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Tavrix - Error\nError: headless\nLowlevel Error: \nSource File: .\\X\n"
                       "Exception Class: CGeneralEx\nSouce Line: 7\nAdditional Info: why\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("a message\n"), std::string::npos);
    SetUnattended(true);
    ::testing::internal::CaptureStderr();
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 7, "silent"), "", "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ErrorReportTest, ObserverSeesEveryReportAlsoWhenUnattended) {
    std::vector<std::string> seen;
    SetErrorReportObserver([&seen](const std::string& text, const std::string& doc, const std::string& cam) {
        seen.push_back(doc + "|" + cam + "|" + text);
    });
    SetUnattended(true);
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 1, "unattended", "i"), "Office", "Door");
    SetUnattended(false);
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 1, "attended"), "", "");
    SetErrorReportObserver({});
    ReportException(CGeneralEx(".\\X", "CGeneralEx", 1, "after removal"), "", "");
    EXPECT_EQ(seen, (std::vector<std::string>{"Office|Door|unattended;i", "||attended"}));
    EXPECT_EQ(m_display.dialogs.size(), 2u) << "the dialog does not depend on the observer";
}

TEST_F(ErrorReportTest, MessageBoxesGoToTheDisplay) {
    ShowMessageBox("An error occurred during opening the document: 'nothing to read'");
    ASSERT_EQ(m_display.messages.size(), 1u);
    EXPECT_EQ(m_display.messages[0], "An error occurred during opening the document: 'nothing to read'");
}
