// Retention on real files, a real user database and real document files: by age, by the size of
// the record folder and by free space (an injected probe, and a real small file system when the
// tests run as root). It never touches files the catalogue does not list, files outside the record
// folder, recordings marked "keep" or the one being written, and it logs each removal.

#include "library/Retention.h"
#include "camera/tests/PrivateXdgFolders.h"
#include "library/RecordingCatalogue.h"
#include "library/tests/LibraryTestSupport.h"
#include "persistence/ConfigStore.h"
#include "persistence/NotificationLog.h"
#include "persistence/SettingRanges.h"
#include "persistence/TavrixDoc.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <mutex>

namespace {

using libtest::CTempFolder;
using libtest::Row;
namespace fs = std::filesystem;

constexpr int64_t kDay = 86400000;
constexpr int64_t kNow = 1800000000000; // a fixed "now" for the injected clock
constexpr int64_t kMiB = 1024 * 1024;

class CLogTexts {
public:
    CLogTexts() {
        m_id = CNotificationLog::Instance().AddListener([this](const CLogEntry& entry) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_texts.push_back(entry.docName + "|" + entry.camName + "|" + entry.text);
        });
    }
    ~CLogTexts() { CNotificationLog::Instance().RemoveListener(m_id); }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_texts;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_texts;
    int m_id = 0;
};

class RetentionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_record = m_folder.Path() + "/rec";
        fs::create_directories(m_record);
        m_catalogue.Open(m_folder.Path() + "/Tavrix.db");
    }
    // A saved document "Office" recording into m_record with the given retention.
    std::string Document(int32_t days, int32_t maxGiB, int32_t minFreeGiB) {
        const std::string path = m_folder.Path() + "/Office.tvrx";
        CTavrixDoc document;
        EXPECT_TRUE(document.OnNewDocument(path));
        document.Edit([&](CTavrixDocData& data) {
            data.m_commonFilePath = m_record;
            data.m_retentionDays = days;
            data.m_retentionMaxGiB = maxGiB;
            data.m_minFreeGiB = minFreeGiB;
        });
        EXPECT_TRUE(document.OnSaveDocument());
        return path;
    }
    CRetentionSettings Settings(const std::string& document) {
        std::string error;
        std::optional<CRetentionSettings> settings = CRetention::ReadDocument(document, &error);
        EXPECT_TRUE(settings) << error;
        return settings.value_or(CRetentionSettings{});
    }
    int64_t Add(const std::string& document, const std::string& name, int64_t ageDays, size_t size = 1000,
                bool keep = false, ERecordingState state = ERecordingState::Finished) {
        CRecording row = Row(document, "Door", m_record + "/" + name, kNow - ageDays * kDay, size);
        row.keep = keep;
        row.state = state;
        return m_catalogue.Insert(row);
    }
    CRetention Retention(CRetention::FreeSpaceProbe probe = {}) {
        return CRetention(m_catalogue, std::move(probe), [] { return kNow; });
    }

    CTempFolder m_folder;
    std::string m_record;
    CRecordingCatalogue m_catalogue;
};

TEST_F(RetentionTest, OldRecordingsGoButNeverKeptWrittenForeignOrOutsideFiles) {
    const std::string document = Document(30, 0, 0);
    CLogTexts log;
    Add(document, "old.avi", 40);
    Add(document, "recent.avi", 10);
    Add(document, "kept.avi", 50, 1000, true);
    Add(document, "writing.avi", 45, 1000, false, ERecordingState::Writing);
    Add("/elsewhere/Home.tvrx", "other-document.avi", 60);
    // Catalogued for this document but outside its record folder, and a file nobody catalogued.
    CRecording outside = Row(document, "Door", m_folder.Path() + "/outside/x.avi", kNow - 90 * kDay);
    m_catalogue.Insert(outside);
    libtest::WriteFile(m_record + "/foreign.avi", 1000);
    fs::last_write_time(m_record + "/foreign.avi",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));

    const std::vector<CRemoval> removals = Retention().Run(Settings(document));
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].recording.filePath, m_record + "/old.avi");
    EXPECT_FALSE(fs::exists(m_record + "/old.avi"));
    EXPECT_FALSE(m_catalogue.FindByPath(m_record + "/old.avi"));
    for (const char* stays : {"recent.avi", "kept.avi", "writing.avi", "other-document.avi", "foreign.avi"}) {
        EXPECT_TRUE(fs::exists(m_record + "/" + stays)) << stays;
    }
    EXPECT_TRUE(fs::exists(outside.filePath));
    EXPECT_EQ(log.Texts(), std::vector<std::string>{"Office|Door|Removed recording '" + m_record +
                                                    "/old.avi' (older than 30 days)"});
}

TEST_F(RetentionTest, AFolderOverItsSizeLosesItsOldestRecordingsUntilItFits) {
    // 1 GiB limit; kept and written recordings count but stay.
    const std::string document = Document(0, 1, 0);
    CLogTexts log;
    // The sizes are sparse files: no real disk is used.
    const auto sparse = [&](const std::string& name, int64_t ageDays, int64_t bytes, bool keep = false) {
        const int64_t id = Add(document, name, ageDays, 10, keep);
        fs::resize_file(m_record + "/" + name, static_cast<uintmax_t>(bytes));
        return id;
    };
    sparse("a.avi", 5, 400 * kMiB, true);
    sparse("b.avi", 4, 300 * kMiB);
    sparse("c.avi", 3, 300 * kMiB);
    sparse("d.avi", 2, 300 * kMiB);
    sparse("e.avi", 1, 100 * kMiB);
    // 1400 MiB in all: b and c go (800 MiB left), the kept a stays although oldest.
    CRetention retention = Retention();
    const std::vector<CRemoval> dry = retention.Run(Settings(document), true);
    ASSERT_EQ(dry.size(), 2u);
    EXPECT_TRUE(fs::exists(m_record + "/b.avi")) << "a dry run removes nothing";
    EXPECT_TRUE(log.Texts().empty());

    const std::vector<CRemoval> removals = retention.Run(Settings(document));
    ASSERT_EQ(removals.size(), 2u);
    EXPECT_EQ(removals[0].Text(), "Removed recording '" + m_record + "/b.avi' (record folder over 1 GiB)");
    EXPECT_EQ(removals[1].recording.filePath, m_record + "/c.avi");
    EXPECT_TRUE(fs::exists(m_record + "/a.avi"));
    EXPECT_TRUE(fs::exists(m_record + "/d.avi"));
    EXPECT_EQ(log.Texts().size(), 2u);
    EXPECT_TRUE(retention.Run(Settings(document)).empty()) << "a second pass finds it in order";
}

TEST_F(RetentionTest, LowFreeSpacePurgesTheOldestUntilTwiceTheMinimumIsFree) {
    const std::string document = Document(0, 0, 1);
    CLogTexts log;
    // The probe: 700 MiB free plus whatever was removed since.
    int64_t removedBytes = 0;
    std::vector<std::string> names = {"a.avi", "b.avi", "c.avi", "d.avi", "e.avi"};
    for (size_t i = 0; i < names.size(); ++i) {
        Add(document, names[i], 10 - static_cast<int64_t>(i), 10, i == 1);
        fs::resize_file(m_record + "/" + names[i], 700 * kMiB);
    }
    const auto probe = [&](const std::string& folder) {
        EXPECT_EQ(folder, m_record);
        int64_t present = 0;
        for (const std::string& name : names) {
            present += fs::exists(m_record + "/" + name) ? 1 : 0;
        }
        removedBytes = (5 - present) * 700 * kMiB;
        return 700 * kMiB + removedBytes;
    };
    const std::vector<CRemoval> removals = Retention(probe).Run(Settings(document));
    // 700 MiB free, 2 GiB wanted: a, c went (b is kept): 2100 MiB free.
    ASSERT_EQ(removals.size(), 2u);
    EXPECT_EQ(removals[0].recording.filePath, m_record + "/a.avi");
    EXPECT_EQ(removals[1].recording.filePath, m_record + "/c.avi");
    EXPECT_EQ(removals[1].Text(), "Removed recording '" + m_record + "/c.avi' (free space below 1 GiB)");
    const std::vector<std::string> texts = log.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Office||" + CRetention::EmergencyText(1));
    EXPECT_TRUE(fs::exists(m_record + "/b.avi"));
}

TEST_F(RetentionTest, ARealSmallDiskRunningFullIsPurged) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    const std::string disk = m_folder.Path() + "/disk";
    fs::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=24m") != 0) {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    // The free-space rule in MiB instead of GiB: the same code with a probe that scales the real
    // free space of the small disk by 1024. 8 "GiB" wanted, about 4 free.
    m_record = disk;
    const std::string document = Document(0, 0, 8);
    for (int i = 0; i < 4; ++i) {
        Add(document, "r" + std::to_string(i) + ".avi", 10 - i, 5 * kMiB);
    }
    const auto scaled = [](const std::string& folder) { return CRetention::StatvfsFreeBytes(folder) * 1024; };
    ASSERT_LT(scaled(disk), 8 * CRetention::kGiB) << "24 MiB disk with 20 MiB used";
    const std::vector<CRemoval> removals = Retention(scaled).Run(Settings(document));
    ASSERT_EQ(removals.size(), 3u);
    EXPECT_EQ(removals[0].recording.filePath, disk + "/r0.avi");
    EXPECT_TRUE(fs::exists(disk + "/r3.avi"));
    EXPECT_GE(scaled(disk), 16 * CRetention::kGiB);
}

TEST_F(RetentionTest, DocumentsWithoutTheKeysKeepEverythingButTheMinimumFreeSpace) {
    const std::string document = Document(30, 5, 3);
    {
        // A document written before the keys existed.
        sqlite3x::sqlite3_connection connection(document);
        connection.executenonquery(
            "delete from t_config_data where id like 'Global.Retention%' or id = 'Global.MinFreeGiB'");
    }
    CRetentionSettings settings = Settings(document);
    EXPECT_EQ(settings.days, 0);
    EXPECT_EQ(settings.maxGiB, 0);
    EXPECT_EQ(settings.minFreeGiB, 2);
    EXPECT_EQ(settings.recordFolder, m_record);
    Add(document, "ancient.avi", 3000);
    EXPECT_TRUE(Retention([](const std::string&) { return 100 * CRetention::kGiB; }).Run(settings).empty());

    CTavrixDocData fresh;
    EXPECT_EQ(fresh.m_retentionDays, 30);
    EXPECT_EQ(fresh.m_retentionMaxGiB, 0);
    EXPECT_EQ(fresh.m_minFreeGiB, 2);
    EXPECT_NE(fresh.m_commonFilePath.find("/Tavrix"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(fresh.m_commonFilePath));
    EXPECT_NE(fresh.m_commonFilePath, platform::TempDir());
    ASSERT_TRUE(SettingRanges::ForKey("Global.RetentionDays"));
    EXPECT_FALSE(SettingRanges::Contains(*SettingRanges::ForKey("Global.MinFreeGiB"), -1));

    std::string error;
    EXPECT_FALSE(CRetention::ReadDocument(m_folder.Path() + "/none.tvrx", &error));
    EXPECT_NE(error.find("none.tvrx"), std::string::npos);
}

} // namespace
