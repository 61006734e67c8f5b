// The recordings catalogue at scale: the write of one recording (its row at Record Begin and the
// update at its finish with a thumbnail), listing the newest 1,000 of 100,000 rows with their
// thumbnails (goal: under 200 ms, off the user-interface thread), and a retention pass over
// 100,000 rows of one document whose files exist (a dry run with 60 days of retention that would
// remove the oldest 13,600: every candidate is read, found on disk and checked).

#include "library/RecordingCatalogue.h"
#include "library/Retention.h"
#include "library/Thumbnail.h"
#include "persistence/sqlite3x.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

constexpr int kRows = 100000;
constexpr int64_t kNow = 1800000000000;

std::vector<uint8_t> SampleThumbnail() {
    std::vector<uint8_t> frame(640 * 480 * 3);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
    }
    CSmallPicture picture;
    Thumbnail::Shrink(frame.data(), 640, 480, 640 * 3, picture);
    return Thumbnail::EncodeJpeg(picture);
}

CRecording SampleRow(int i, const std::string& folder, const std::vector<uint8_t>& thumbnail) {
    CRecording row;
    row.documentPath = folder + "/Office.tvrx";
    row.documentName = "Office";
    row.cameraId = i % 4;
    row.cameraName = "Camera_" + std::to_string(i % 4);
    row.filePath = folder + "/rec/Camera_" + std::to_string(i % 4) + "_" + std::to_string(i) + ".mp4";
    row.container = "MP4";
    row.codec = "H.264 (High Profile)";
    row.startUtcMs = kNow - static_cast<int64_t>(kRows - i) * 60000;
    row.endUtcMs = row.startUtcMs + 7000;
    row.durationMs = 7000;
    row.sizeBytes = 1500000;
    row.frames = 105;
    row.startEvent = "Motion Start";
    row.state = ERecordingState::Finished;
    row.motionMs = {2000};
    row.thumbnail = thumbnail;
    return row;
}

// A user database of 100,000 catalogued recordings, made once.
struct CBigCatalogue {
    std::string folder;
    std::string path;
    CBigCatalogue() {
        char name[] = "/tmp/tavrix-catbench-XXXXXX";
        folder = ::mkdtemp(name);
        path = folder + "/Tavrix.db";
        CRecordingCatalogue catalogue;
        catalogue.Open(path);
        const std::vector<uint8_t> thumbnail = SampleThumbnail();
        sqlite3x::sqlite3_connection connection(path);
        sqlite3x::sqlite3_transaction transaction(connection);
        sqlite3x::sqlite3_command insert(
            connection,
            "insert into t_recording (doc_path,doc_name,cam_id,cam_name,file_path,container,codec,start_utc,"
            "start_local,end_utc,end_local,duration_ms,size_bytes,frames,start_event,state,keep,writer_pid,"
            "motion,"
            "thumbnail) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,0,0,'2000',?);");
        for (int i = 0; i < kRows; ++i) {
            const CRecording row = SampleRow(i, folder, thumbnail);
            insert.bind(1, row.documentPath);
            insert.bind(2, row.documentName);
            insert.bind(3, row.cameraId);
            insert.bind(4, row.cameraName);
            insert.bind(5, row.filePath);
            insert.bind(6, row.container);
            insert.bind(7, row.codec);
            insert.bind(8, row.startUtcMs);
            insert.bind(9, std::string("2027-01-15 08:00:00"));
            insert.bind(10, row.endUtcMs);
            insert.bind(11, std::string("2027-01-15 08:00:07"));
            insert.bind(12, row.durationMs);
            insert.bind(13, row.sizeBytes);
            insert.bind(14, row.frames);
            insert.bind(15, row.startEvent);
            insert.bind(16, row.thumbnail.data(), static_cast<int>(row.thumbnail.size()));
            insert.executenonquery();
        }
        transaction.commit();
        // The files themselves, empty: the retention pass looks at each one.
        std::filesystem::create_directories(folder + "/rec");
        for (int i = 0; i < kRows; ++i) {
            const std::string file =
                folder + "/rec/Camera_" + std::to_string(i % 4) + "_" + std::to_string(i) + ".mp4";
            std::fclose(std::fopen(file.c_str(), "w"));
        }
    }
    ~CBigCatalogue() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

CBigCatalogue& Big() {
    static CBigCatalogue big;
    return big;
}

void BM_CatalogueWritePerRecording(benchmark::State& state) {
    char name[] = "/tmp/tavrix-catwrite-XXXXXX";
    const std::string folder = ::mkdtemp(name);
    CRecordingCatalogue catalogue;
    catalogue.Open(folder + "/Tavrix.db");
    const std::vector<uint8_t> thumbnail = SampleThumbnail();
    int i = 0;
    for (auto _ : state) {
        CRecording row = SampleRow(i++, folder, {});
        row.state = ERecordingState::Writing;
        row.id = catalogue.Insert(row);
        row.state = ERecordingState::Finished;
        row.thumbnail = thumbnail;
        catalogue.Update(row);
    }
    state.counters["thumbnail_bytes"] = static_cast<double>(thumbnail.size());
    catalogue.Close();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
BENCHMARK(BM_CatalogueWritePerRecording)->Unit(benchmark::kMicrosecond);

void BM_ListNewest1000Of100000WithThumbnails(benchmark::State& state) {
    CRecordingCatalogue catalogue;
    catalogue.Open(Big().path);
    for (auto _ : state) {
        CRecordingFilter filter;
        filter.withThumbnails = true;
        filter.limit = 1000;
        const std::vector<CRecording> rows = catalogue.List(filter);
        benchmark::DoNotOptimize(rows.data());
        if (rows.size() != 1000) {
            state.SkipWithError("wrong row count");
        }
    }
}
BENCHMARK(BM_ListNewest1000Of100000WithThumbnails)->Unit(benchmark::kMillisecond);

void BM_PrunePassOver100000Rows(benchmark::State& state) {
    CRecordingCatalogue catalogue;
    catalogue.Open(Big().path);
    CRetentionSettings settings;
    settings.documentPath = Big().folder + "/Office.tvrx";
    settings.documentName = "Office";
    settings.recordFolder = Big().folder + "/rec";
    settings.days = 60;
    settings.minFreeGiB = 2;
    // A dry run: the same reading, checking and planning, and the next iteration finds the same.
    CRetention retention(
        catalogue, [](const std::string&) { return 100 * CRetention::kGiB; }, [] { return kNow; });
    for (auto _ : state) {
        benchmark::DoNotOptimize(retention.Run(settings, true));
    }
}
BENCHMARK(BM_PrunePassOver100000Rows)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
