// The recordings catalogue in a real user database file: created on first use beside the
// notification log without touching it, refused when newer, listed newest first with filters and
// paging, one row per file, "keep" and delete guarding what the user wants to keep. Also the
// thumbnails it stores and the name templates an import recognises.

#include "foundation/Exceptions.h"
#include "library/RecordingCatalogue.h"
#include "library/RecordingImport.h"
#include "library/Thumbnail.h"
#include "library/tests/LibraryTestSupport.h"
#include "persistence/sqlite3x.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>

namespace {

using libtest::CTempFolder;
using libtest::Row;

TEST(CatalogueTest, TablesAreCreatedBesideTheLogAndANewerCatalogueIsRefusedUnwritten) {
    CTempFolder folder;
    const std::string db = folder.Path() + "/data/Tavrix.db";
    {
        // A user database as the notification log leaves it.
        std::filesystem::create_directories(folder.Path() + "/data");
        sqlite3x::sqlite3_connection log(db);
        log.executenonquery("create table t_userdb_schema(version number)");
        log.executenonquery("insert into t_userdb_schema values(1)");
        log.executenonquery(
            "create table  t_log_entry (log_date integer,docname string,camname string,log_info string)");
        log.executenonquery("insert into t_log_entry values (1,'Office','Door','Tavrix started')");
    }
    {
        CRecordingCatalogue catalogue;
        catalogue.Open(db);
        catalogue.Insert(Row("/d/Office.tvrx", "Door", folder.Path() + "/rec/a.avi", 1000));
        EXPECT_EQ(catalogue.Count({}), 1);
    }
    sqlite3x::sqlite3_connection check(db);
    EXPECT_EQ(check.executeint("select count(*) from t_log_entry"), 1);
    EXPECT_EQ(check.executeint64("select max(version) from t_userdb_schema"), 1);
    EXPECT_EQ(check.executeint64("select max(version) from t_recording_schema"), 1);

    check.executenonquery("insert into t_recording_schema values(2)");
    CRecordingCatalogue newer;
    try {
        newer.Open(db);
        FAIL() << "a newer catalogue must be refused";
    } catch (const CUserDbEx& e) {
        EXPECT_EQ(e.GetMessage(), "CRecordingCatalogue::Open");
        EXPECT_EQ(e.First().info, CRecordingCatalogue::kNewerVersionInfo);
    }
    EXPECT_FALSE(newer.IsOpen());
    EXPECT_EQ(check.executeint("select count(*) from t_recording"), 1);
}

TEST(CatalogueTest, ListingIsNewestFirstFilteredAndPaged) {
    CTempFolder folder;
    CRecordingCatalogue catalogue;
    catalogue.Open(folder.Path() + "/Tavrix.db");
    for (int i = 0; i < 10; ++i) {
        CRecording row = Row(i % 2 == 0 ? "/d/Office.tvrx" : "/d/Home.tvrx", i < 5 ? "Door" : "Yard",
                             folder.Path() + "/rec/" + std::to_string(i) + ".avi", 1000000 + i * 1000);
        row.thumbnail = {0xff, 0xd8, static_cast<uint8_t>(i)};
        row.motionMs = {100, 2500};
        catalogue.Insert(row);
    }
    CRecordingFilter filter;
    filter.withThumbnails = true;
    std::vector<CRecording> rows = catalogue.List(filter);
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows.front().filePath, folder.Path() + "/rec/9.avi");
    EXPECT_EQ(rows.back().filePath, folder.Path() + "/rec/0.avi");
    EXPECT_EQ(rows.front().thumbnail, (std::vector<uint8_t>{0xff, 0xd8, 9}));
    EXPECT_EQ(rows.front().motionMs, (std::vector<int64_t>{100, 2500}));
    EXPECT_EQ(rows.front().startLocal, CRecordingCatalogue::LocalText(1009000));

    filter = {};
    filter.documentPath = "/d/Office.tvrx";
    filter.cameraName = "Yard";
    rows = catalogue.List(filter);
    ASSERT_EQ(rows.size(), 2u); // 6 and 8
    EXPECT_EQ(rows[0].filePath, folder.Path() + "/rec/8.avi");
    EXPECT_TRUE(rows[0].thumbnail.empty()) << "thumbnails only when asked for";

    filter = {};
    filter.sinceUtcMs = 1003000;
    filter.untilUtcMs = 1008000;
    filter.offset = 1;
    filter.limit = 3;
    rows = catalogue.List(filter);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].startUtcMs, 1006000);
    EXPECT_EQ(rows[2].startUtcMs, 1004000);
    EXPECT_EQ(catalogue.Count(filter), 5);
    EXPECT_EQ(catalogue.Documents().size(), 2u);
}

TEST(CatalogueTest, ARecordingOfTheSameFileReplacesItsRowAndKeepAndWritingGuardDelete) {
    CTempFolder folder;
    CRecordingCatalogue catalogue;
    catalogue.Open(folder.Path() + "/Tavrix.db");
    const std::string file = folder.Path() + "/rec/a.avi";
    const int64_t first = catalogue.Insert(Row("/d/Office.tvrx", "Door", file, 1000));
    CRecording again = Row("/d/Office.tvrx", "Door", file, 2000);
    again.state = ERecordingState::Writing;
    const int64_t second = catalogue.Insert(again);
    EXPECT_NE(first, second);
    EXPECT_FALSE(catalogue.Get(first));
    ASSERT_TRUE(catalogue.FindByPath(file));
    EXPECT_EQ(catalogue.FindByPath(file)->startUtcMs, 2000);

    std::string error;
    EXPECT_FALSE(catalogue.Delete(second, &error));
    EXPECT_EQ(error, "the recording is being written");
    ASSERT_TRUE(catalogue.SetState(second, ERecordingState::Finished));
    ASSERT_TRUE(catalogue.SetKeep(second, true));
    EXPECT_FALSE(catalogue.Delete(second, &error));
    EXPECT_EQ(error, "the recording is marked keep");
    EXPECT_TRUE(std::filesystem::exists(file));
    ASSERT_TRUE(catalogue.SetKeep(second, false));
    EXPECT_TRUE(catalogue.Delete(second, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(catalogue.Get(second));
    EXPECT_FALSE(catalogue.SetKeep(second, true)) << "no such row";
}

// Decodes a JPEG's size with libjpeg; false when it is no JPEG.
bool JpegSize(const std::vector<uint8_t>& jpeg, int& width, int& height) {
    if (jpeg.size() < 4 || jpeg[0] != 0xff || jpeg[1] != 0xd8) {
        return false;
    }
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    const bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
    width = static_cast<int>(info.image_width);
    height = static_cast<int>(info.image_height);
    jpeg_destroy_decompress(&info);
    return ok;
}

TEST(CatalogueTest, AThumbnailIsASmallJpegOfTheFrameKeepingItsShapeAndColours) {
    // 640 x 480 BGR with padding at the end of each row; pure red.
    const int width = 640, height = 480, stride = width * 3 + 8;
    std::vector<uint8_t> frame(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame[y * stride + x * 3 + 2] = 255;
        }
    }
    CSmallPicture picture;
    Thumbnail::Shrink(frame.data(), width, height, stride, picture);
    EXPECT_EQ(picture.width, 160);
    EXPECT_EQ(picture.height, 120);
    EXPECT_EQ(picture.rgb[0], 255);
    EXPECT_EQ(picture.rgb[1], 0);
    EXPECT_EQ(picture.rgb[2], 0);
    const std::vector<uint8_t> jpeg = Thumbnail::EncodeJpeg(picture);
    int w = 0, h = 0;
    ASSERT_TRUE(JpegSize(jpeg, w, h));
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);
    EXPECT_LT(jpeg.size(), 20000u);

    // A tall odd picture stays inside 160 x 120 with its shape.
    Thumbnail::Shrink(frame.data(), 75, 301, stride, picture);
    EXPECT_EQ(picture.height, 120);
    EXPECT_EQ(picture.width, 29);
    Thumbnail::Shrink(nullptr, 10, 10, 30, picture);
    EXPECT_TRUE(picture.empty());
    EXPECT_TRUE(Thumbnail::EncodeJpeg(picture).empty());
}

TEST(CatalogueTest, ImportRecognisesTheNamesATemplateGivesWithTheirTime) {
    std::vector<char> fields;
    const std::regex pattern =
        RecordingImport::TemplatePattern("%n_%d%m%y_%h%i%s.%t", "Porch (front)", "Office", fields);
    std::smatch match;
    const std::string name = "Porch (front)_08122026_014841.mp4";
    ASSERT_TRUE(std::regex_match(name, match, pattern));
    const std::optional<int64_t> time = RecordingImport::TimeFromFields(match, fields);
    ASSERT_TRUE(time);
    EXPECT_EQ(CRecordingCatalogue::LocalText(*time), "2026-12-08 01:48:41");
    EXPECT_FALSE(std::regex_match(std::string("Porch (front)_08122026_014841.txt"), pattern));
    EXPECT_FALSE(std::regex_match(std::string("Other_08122026_014841.avi"), pattern));

    const std::regex plain = RecordingImport::TemplatePattern("%o-%r.%t", "Door", "Office/1", fields);
    const std::string named = "Office_1-Motion Start.avi";
    ASSERT_TRUE(std::regex_match(named, match, plain));
    EXPECT_FALSE(RecordingImport::TimeFromFields(match, fields)) << "no date in the name";
}

} // namespace
