// A camera that records until it is killed, for the tests of what a killed recording leaves:
//
//   record_crash_helper <avi|x264|jpeg|wmv|mp4|mkv> <folder> [kbit/s]
//
// It feeds 320x240 frames at 15 frames a second into a pre-event buffer of two seconds, starts
// one recording into <folder>/killed.<avi|wmv|mp4|mkv> once the buffer is full, prints "file <path>"
// once the recording runs and then "written <n>" every 100 ms (frames that reached the file
// writer), and never stops by itself. A bit rate, for x264, wmv, mp4 and mkv (H.264), makes the file grow
// slowly, as a small picture or a quiet scene does: then the writers' own buffers hold seconds of it.

#include "recording/tests/RecTestHost.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

using namespace rectest;

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <avi|x264|jpeg|wmv|mp4|mkv> <folder> [kbit/s]\n", argv[0]);
        return 2;
    }
    const std::string format = argv[1];
    gsttest::StartGStreamer();
    constexpr int32_t kWidth = 320;
    constexpr int32_t kHeight = 240;
    constexpr int32_t kPreEventFrames = 30;
    CTestHost host(kWidth, kHeight, 666666, kPreEventFrames);
    host.SetRecordPath(argv[2]);
    // The host's own folder is not used, and a killed helper would leave it behind.
    std::filesystem::remove(host.Folder());
    CRecordSettings settings;
    settings.wmvActive = format == "wmv";
    settings.compressorDN = format == "x264" ? "x264enc" : format == "jpeg" ? "jpegenc" : "";
    settings.recordContainer = format == "mp4" ? 1 : format == "mkv" ? 2 : 0;
    if (settings.recordContainer != 0) {
        settings.bitRate = 0; // constant quality unless a bit rate is given
    }
    if (argc == 4) {
        const std::string rate = argv[3];
        settings.bitRate = std::atoi(rate.c_str());
        if (format == "x264") {
            const std::string data = "bitrate=" + rate;
            settings.compressorData.assign(data.begin(), data.end());
        }
    }
    host.SetSettings(settings);
    const bool avi = format == "avi" || format == "x264" || format == "jpeg";
    host.SetFileName("killed." + (avi ? std::string("avi") : format));
    CFrameFeeder feeder(host.Buffer(), kWidth, kHeight, std::chrono::milliseconds(66));
    feeder.WaitForFrame(kPreEventFrames + 2);
    host.SetFeeder(&feeder);
    auto* rc = new CRecContext(&host);
    rc->StartRecord();
    for (;;) {
        // The context lives until a stop, which never comes.
        if (host.Failures() > 0) {
            std::printf("failed\n");
            std::fflush(stdout);
            return 1;
        }
        const auto raised = host.Raised();
        if (!raised.empty()) {
            std::printf("file %s\n", raised.front().second.c_str());
            break;
        }
        std::this_thread::sleep_for(20ms);
    }
    for (;;) {
        std::printf("written %lld\n", static_cast<long long>(rc->GetFramesWritten()));
        std::fflush(stdout);
        std::this_thread::sleep_for(100ms);
    }
}
