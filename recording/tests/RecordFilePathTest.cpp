// Record file names checked against the record folder: whatever a template and the names in it
// give, the file lies inside the folder, and the template's own sub-folders are created.

#include "recording/RecordFilePath.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

class RecordFilePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        char root[] = "/tmp/tavrix-recpath-XXXXXX";
        ASSERT_NE(mkdtemp(root), nullptr);
        m_root = root;
        m_folder = m_root + "/records";
        std::filesystem::create_directory(m_folder);
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    std::string m_root;   // holds the record folder and what lies beside it
    std::string m_folder; // the record folder
};

TEST_F(RecordFilePathTest, PlainNamesAndTemplateFoldersStayInsideAndFoldersAreCreated) {
    CRecordFilePath plain = PrepareRecordFilePath(m_folder, "Door_07122026_030509.avi");
    EXPECT_EQ(plain.hr, S_OK);
    EXPECT_EQ(plain.path, m_folder + "/Door_07122026_030509.avi");

    CRecordFilePath nested = PrepareRecordFilePath(m_folder + "/", "Door/2026-12-07/030509.wmv");
    EXPECT_EQ(nested.hr, S_OK) << nested.problem;
    EXPECT_EQ(nested.path, m_folder + "/Door/2026-12-07/030509.wmv");
    EXPECT_EQ(nested.relative, "Door/2026-12-07/030509.wmv");
    EXPECT_TRUE(std::filesystem::is_directory(m_folder + "/Door/2026-12-07"));

    // Empty and "." components are dropped; a leading "/" is still inside the folder.
    CRecordFilePath cleaned = PrepareRecordFilePath(m_folder, "/./Door//x.avi");
    EXPECT_EQ(cleaned.hr, S_OK);
    EXPECT_EQ(cleaned.path, m_folder + "/Door/x.avi");
}

TEST_F(RecordFilePathTest, NamesThatWouldLeaveTheFolderAreRefusedAndCreateNothing) {
    const char* const names[] = {"../../../escaped_07122026.avi", "Door/../../x.avi", "..", "a/..", ""};
    for (const char* name : names) {
        const CRecordFilePath result = PrepareRecordFilePath(m_folder, name);
        EXPECT_EQ(result.hr, E_INVALIDARG) << name;
        EXPECT_TRUE(result.path.empty()) << name;
        EXPECT_FALSE(result.problem.empty()) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder + "/Door")) << "a refused name made a folder";
    EXPECT_EQ(PrepareRecordFilePath(m_folder, "Door/").hr, E_INVALIDARG) << "no file name";
}

TEST_F(RecordFilePathTest, ALinkInTheFolderCannotLeadTheRecordingOut) {
    const std::string outside = m_root + "/outside";
    std::filesystem::create_directory(outside);
    std::filesystem::create_directory_symlink(outside, m_folder + "/link");
    const CRecordFilePath result = PrepareRecordFilePath(m_folder, "link/sub/x.avi");
    EXPECT_EQ(result.hr, E_ACCESSDENIED);
    EXPECT_FALSE(std::filesystem::exists(outside + "/sub")) << "a folder was made outside";

    // A link to a folder inside the record folder is fine.
    std::filesystem::create_directory(m_folder + "/real");
    std::filesystem::create_directory_symlink(m_folder + "/real", m_folder + "/inner");
    EXPECT_EQ(PrepareRecordFilePath(m_folder, "inner/x.avi").hr, S_OK);
}

TEST_F(RecordFilePathTest, AMissingRecordFolderOrAFileInTheWayIsReportedWithItsCause) {
    EXPECT_EQ(PrepareRecordFilePath(m_root + "/missing", "x.avi").hr, HRESULT_PATH_NOT_FOUND);
    {
        FILE* file = std::fopen((m_folder + "/file").c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    const CRecordFilePath result = PrepareRecordFilePath(m_folder, "file/x.avi");
    EXPECT_EQ(result.hr, HRESULT_PATH_NOT_FOUND);
    EXPECT_NE(result.problem.find("file"), std::string::npos) << result.problem;
}

} // namespace
