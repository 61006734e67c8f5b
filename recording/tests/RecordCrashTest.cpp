// A recording killed with SIGKILL keeps what had reached its file writer, but for the last few
// seconds: each format is recorded by a real child process (record_crash_helper), killed five
// seconds into the recording, and the file it leaves is decoded with ffprobe and ffmpeg. The
// figures are printed per format.

#include "recording/tests/RecTestHost.h"

#include "TavrixBuildPaths.h"
#include "recording/AviRepair.h"
#include "recording/RecordFileSync.h"
#include "recording/WmvRepair.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

using namespace rectest;

extern char** environ;

namespace {

const std::string kHelper = std::string(TAVRIX_BINARY_DIR) + "/bin/record_crash_helper";
constexpr int kFps = 15;

struct CKilled {
    std::string file;
    long writtenAtKill = -1; // frames that had reached the writer when the helper was killed
};

// Runs the helper, waits until `frames` frames have reached its writer and kills it.
CKilled RecordAndKill(const std::string& format, const std::string& rate, const std::string& folder,
                      long frames) {
    CKilled killed;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe";
        return killed;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const char* argv[] = {kHelper.c_str(), format.c_str(), folder.c_str(),
                          rate.empty() ? nullptr : rate.c_str(), nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, kHelper.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        ADD_FAILURE() << "cannot run " << kHelper;
        return killed;
    }
    std::string pending;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (killed.writtenAtKill < frames && std::chrono::steady_clock::now() < deadline) {
        pollfd poller{out[0], POLLIN, 0};
        if (poll(&poller, 1, 1000) <= 0) {
            continue;
        }
        char chunk[512];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n <= 0) {
            break; // the helper ended
        }
        pending.append(chunk, static_cast<size_t>(n));
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.rfind("file ", 0) == 0) {
                killed.file = line.substr(5);
            } else if (line.rfind("written ", 0) == 0) {
                killed.writtenAtKill = std::atol(line.c_str() + 8);
            }
        }
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_TRUE(WIFSIGNALED(status)) << format << ": the helper ended before it was killed";
    EXPECT_GE(killed.writtenAtKill, frames) << format << ": the recording did not get far enough";
    return killed;
}

struct CFormat {
    const char* format;
    const char* rate;   // kbit/s, or "" for the format's default
    long maxLossMs = 0; // the most a kill may cost; 0: the sync interval and a half
};

// How test names and failures show a format (instead of its bytes).
void PrintTo(const CFormat& format, std::ostream* out) {
    *out << format.format << (*format.rate ? std::string(" at ") + format.rate + " kbit/s" : "");
}

class RecordCrashTest : public ::testing::TestWithParam<CFormat> {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-killed-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::string m_folder;
};

// Five seconds into the recording (after the two seconds of pre-event frames): at most the
// frames of the last sync interval and a half may be lost, for MP4 and Matroska no more than two
// seconds, for WMV (each finished packet written at once) no more than one. At low bit rates the writers' own
// buffers (64 KB in the file sink, 32 KB in FFmpeg's) used to hold all of it.
TEST_P(RecordCrashTest, AKilledRecordingKeepsAllButItsLastSeconds) {
    const std::string format =
        std::string(GetParam().format) + (*GetParam().rate ? "@" : "") + GetParam().rate;
    const long preEvent = 2 * kFps;
    const CKilled killed = RecordAndKill(GetParam().format, GetParam().rate, m_folder, preEvent + 5 * kFps);
    ASSERT_FALSE(killed.file.empty());
    const CProbe probe = Probe(killed.file);
    const std::vector<int32_t> numbers = ReadFrameNumbers(killed.file, 320, 240);
    const long size = static_cast<long>(std::filesystem::file_size(killed.file));
    std::printf("%s killed: %ld frames written, %ld decoded by ffprobe, %zu by ffmpeg, %ld bytes\n",
                format.c_str(), killed.writtenAtKill, probe.frames, numbers.size(), size);
    const long maxLossMs = GetParam().maxLossMs > 0 ? GetParam().maxLossMs
                                                    : static_cast<long>(CRecordFileSync::kIntervalMs) * 3 / 2;
    const long allowedLoss = maxLossMs * kFps / 1000;
    EXPECT_GE(probe.frames, killed.writtenAtKill - allowedLoss) << format;
    EXPECT_GE(static_cast<long>(numbers.size()), killed.writtenAtKill - allowedLoss) << format;
    // The frame being written at the kill may be cut short and decode damaged; all before it
    // run on without a gap.
    std::vector<int32_t> whole = numbers;
    if (!whole.empty()) {
        whole.pop_back();
    }
    EXPECT_TRUE(Consecutive(whole)) << format;
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordCrashTest,
                         ::testing::Values(CFormat{"avi", ""}, CFormat{"x264", ""}, CFormat{"x264", "64"},
                                           CFormat{"jpeg", ""}, CFormat{"wmv", "", 1000},
                                           CFormat{"wmv", "64", 1000}, CFormat{"mp4", "", 2000},
                                           CFormat{"mp4", "64", 2000}, CFormat{"mkv", "", 2000}),
                         [](const ::testing::TestParamInfo<CFormat>& info) {
                             return std::string(info.param.format) +
                                    (*info.param.rate ? std::string("_") + info.param.rate + "kbit" : "");
                         });

// ffprobe's frame count from the file's header and index, without decoding (0 when none).
long HeaderFrames(const std::string& file) {
    const std::string out = RunCommand("ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames "
                                       "-of default=nw=1:nk=1 '" +
                                       file + "' 2>/dev/null");
    return std::atol(out.c_str());
}

class AviRepairTest : public RecordCrashTest {};

// A killed AVI recording has its frames but an empty header: the repair indexes every frame that
// reached the disk whole, drops one cut short, and leaves an ordinary finished file that a second
// repair does not touch; a finished file is never touched.
TEST_P(AviRepairTest, AKilledAviRecordingIsRepairedIntoAFinishedFileWithEveryWholeFrame) {
    const CKilled killed = RecordAndKill(GetParam().format, "", m_folder, 2 * kFps + 2 * kFps);
    ASSERT_FALSE(killed.file.empty());
    ASSERT_EQ(avirepair::Inspect(killed.file), avirepair::EState::Unfinished);
    // A frame being written when the power went: the file ends inside its chunk.
    const auto size = std::filesystem::file_size(killed.file);
    std::filesystem::resize_file(killed.file, size - 100);
    const long decodedBefore = Probe(killed.file).frames;
    EXPECT_EQ(HeaderFrames(killed.file), 0) << "the header of a killed file counts no frames";

    // Written to just now: left alone, as a file that may still be being recorded.
    EXPECT_TRUE(avirepair::RepairFolder(m_folder).empty());
    avirepair::BeginRecording(killed.file);
    EXPECT_TRUE(avirepair::RepairFolder(m_folder, 0).empty()) << "a file being recorded is not touched";
    avirepair::EndRecording(killed.file);
    const std::vector<avirepair::CResult> results = avirepair::RepairFolder(m_folder, 0);
    ASSERT_EQ(results.size(), 1u);
    const avirepair::CResult& result = results[0];
    EXPECT_TRUE(result.repaired) << result.problem;
    EXPECT_GT(result.cutBytes, 0) << "the frame cut short is dropped";
    std::printf("%s repaired: %lld frames indexed (%ld decodable before), %lld bytes cut\n",
                GetParam().format, static_cast<long long>(result.frames), decodedBefore,
                static_cast<long long>(result.cutBytes));
    EXPECT_GE(result.frames, killed.writtenAtKill - 3 * kFps / 2);
    EXPECT_EQ(avirepair::Inspect(killed.file), avirepair::EState::Finished);
    const CProbe probe = Probe(killed.file);
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.frames, result.frames);
    EXPECT_EQ(HeaderFrames(killed.file), result.frames) << "the header counts every frame";
    const std::string errors = RunCommand("ffmpeg -v error -i '" + killed.file + "' -f null - 2>&1");
    EXPECT_TRUE(errors.empty()) << errors;
    // With B-frames (x264enc's defaults) the frames shown just before the one cut off depend on
    // it; all before them run on without a gap.
    std::vector<int32_t> numbers = ReadFrameNumbers(killed.file, 320, 240);
    numbers.resize(numbers.size() > 3 ? numbers.size() - 3 : 0);
    EXPECT_TRUE(Consecutive(numbers));
    // Seeking to the middle works through the index.
    const std::string seeked = RunCommand("ffmpeg -v error -ss 2 -i '" + killed.file +
                                          "' -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
    EXPECT_EQ(seeked.size(), 320u * 240u);

    EXPECT_TRUE(avirepair::RepairFolder(m_folder, 0).empty()) << "a repaired file is finished";
}

INSTANTIATE_TEST_SUITE_P(Formats, AviRepairTest,
                         ::testing::Values(CFormat{"avi", ""}, CFormat{"jpeg", ""}, CFormat{"x264", ""}),
                         [](const ::testing::TestParamInfo<CFormat>& info) {
                             return std::string(info.param.format);
                         });

// The duration the container states (ffprobe's format duration), in seconds; -1 when it states none.
double StatedSeconds(const std::string& file) {
    const std::string out = RunCommand(
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + file + "' 2>/dev/null");
    return out.rfind("N/A", 0) == 0 || out.empty() ? -1.0 : std::atof(out.c_str());
}

// A killed WMV recording has its packets but a header counting none and stating no length: the
// repair cuts a packet written in part, fills in the counts and the length, appends the seek
// index, and leaves an ordinary finished file with every frame that reached the disk; files being
// recorded or written to lately are left alone, and a repaired file is not touched again.
TEST_F(RecordCrashTest, AKilledWmvRecordingIsRepairedIntoAFinishedFileWithItsLength) {
    const CKilled killed = RecordAndKill("wmv", "", m_folder, 2 * kFps + 3 * kFps);
    ASSERT_FALSE(killed.file.empty());
    ASSERT_EQ(wmvrepair::Inspect(killed.file), avirepair::EState::Unfinished);
    EXPECT_LT(StatedSeconds(killed.file), 0.5) << "a killed file states no length";
    // A packet being written when the power went: the file ends inside it.
    std::filesystem::resize_file(killed.file, std::filesystem::file_size(killed.file) - 100);
    const long decodedBefore = Probe(killed.file).frames;

    EXPECT_TRUE(avirepair::RepairFolder(m_folder).empty()) << "written to just now";
    avirepair::BeginRecording(killed.file);
    EXPECT_TRUE(avirepair::RepairFolder(m_folder, 0).empty()) << "a file being recorded is not touched";
    avirepair::EndRecording(killed.file);
    const std::vector<avirepair::CResult> results = avirepair::RepairFolder(m_folder, 0);
    ASSERT_EQ(results.size(), 1u);
    const avirepair::CResult& result = results[0];
    ASSERT_TRUE(result.repaired) << result.problem;
    EXPECT_GT(result.cutBytes, 0) << "the packet cut short is dropped";
    EXPECT_EQ(wmvrepair::Inspect(killed.file), avirepair::EState::Finished);

    const CProbe probe = Probe(killed.file);
    const double stated = StatedSeconds(killed.file);
    std::printf("wmv repaired: %lld frames (%ld written at the kill, %ld decodable before, %ld after), "
                "stated length %.2f s, %lld bytes cut\n",
                static_cast<long long>(result.frames), killed.writtenAtKill, decodedBefore, probe.frames,
                stated, static_cast<long long>(result.cutBytes));
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_GE(probe.frames, decodedBefore - 1) << "at most the frame of the cut packet is lost";
    EXPECT_GE(probe.frames, killed.writtenAtKill - kFps) << "at most a second is lost";
    EXPECT_NEAR(stated, static_cast<double>(probe.frames) / kFps, 0.25) << "the header states the length";
    const std::string errors = RunCommand("ffmpeg -v error -i '" + killed.file + "' -f null - 2>&1");
    EXPECT_TRUE(errors.empty()) << errors;
    std::vector<int32_t> numbers = ReadFrameNumbers(killed.file, 320, 240);
    ASSERT_GT(numbers.size(), 2u * kFps);
    numbers.pop_back();
    EXPECT_TRUE(Consecutive(numbers));
    // Seeking two seconds in lands on the frame shown then.
    const std::string seeked = RunCommand("ffmpeg -v error -ss 2 -i '" + killed.file +
                                          "' -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
    ASSERT_EQ(seeked.size(), 320u * 240u);
    const int32_t seekedNumber = ReadNumber(reinterpret_cast<const uint8_t*>(seeked.data()), 320);
    EXPECT_NEAR(seekedNumber - numbers.front(), 2 * kFps, 1);

    EXPECT_TRUE(avirepair::RepairFolder(m_folder, 0).empty()) << "a repaired file is finished";
}

// Files the repair must not touch: a finished WMV file, one cut inside its header, foreign bytes
// named .wmv; a WMV file whose header came through but no packet is reported, not changed.
TEST_F(RecordCrashTest, FinishedDamagedAndForeignWmvFilesAreNotChanged) {
    const std::string finished = m_folder + "/finished.wmv";
    RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=15 -t 1 -c:v wmv2 '" + finished + "'");
    ASSERT_EQ(wmvrepair::Inspect(finished), avirepair::EState::Finished);
    std::string bytes;
    {
        std::ifstream in(finished, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(bytes.size(), 1000u);
    const auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(m_folder + "/" + name, std::ios::binary) << content;
    };
    // The header's size field sits at 16; the data object follows the header.
    const size_t headerBytes = static_cast<size_t>(static_cast<uint8_t>(bytes[16])) |
                               static_cast<size_t>(static_cast<uint8_t>(bytes[17])) << 8;
    std::string unfinishedHeader = bytes.substr(0, headerBytes + 50);
    for (size_t i = 0; i + 16 <= unfinishedHeader.size(); ++i) {
        if (unfinishedHeader.compare(i, 4, "\xA1\xDC\xAB\x8C") == 0) {
            std::fill_n(unfinishedHeader.begin() + static_cast<std::ptrdiff_t>(i) + 40, 8,
                        '\0'); // file size 0
            std::fill_n(unfinishedHeader.begin() + static_cast<std::ptrdiff_t>(i) + 56, 8,
                        '\0'); // no packets
        }
    }
    write("cut_in_header.wmv", bytes.substr(0, headerBytes / 2));
    write("foreign.wmv", std::string(5000, 'x'));
    write("no_packet.wmv", unfinishedHeader);
    write("empty.wmv", "");
    EXPECT_EQ(wmvrepair::Inspect(m_folder + "/no_packet.wmv"), avirepair::EState::Unrepairable);
    const std::vector<avirepair::CResult> results = avirepair::RepairFolder(m_folder, 0);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].file, m_folder + "/no_packet.wmv");
    EXPECT_FALSE(results[0].repaired);
    EXPECT_FALSE(results[0].problem.empty());
    std::ifstream again(finished, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>()), bytes);
    EXPECT_EQ(std::filesystem::file_size(m_folder + "/no_packet.wmv"), unfinishedHeader.size());
    EXPECT_EQ(std::filesystem::file_size(m_folder + "/cut_in_header.wmv"), headerBytes / 2);
}

} // namespace
