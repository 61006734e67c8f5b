// The web interface's costs: encoding a camera frame for the MJPEG stream, CPU and memory of a real
// server with 1 to 50 viewers of a 640x360 camera at 10 frames a second, the time from a camera frame
// to its JPEG leaving the server, and requests per second of the camera list.
#include "web/JpegEncoder.h"
#include "web/WebUsers.h"
#include "web/tests/WebTestSupport.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

std::vector<uint8_t> TestPicture(int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / width);
            p[1] = static_cast<uint8_t>(y * 255 / height);
            p[2] = static_cast<uint8_t>((x ^ y) & 0xFF);
        }
    }
    return frame;
}

// One frame to one JPEG, as a feed's worker does it: a 640x360 frame as it is, and a 1280x720 one
// scaled to 640x360 on the way.
void BM_EncodeStreamFrame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    const std::vector<uint8_t> frame = TestPicture(width, height);
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string jpeg = JpegEncoder::Encode(frame.data(), width, height, width * 3, 640, 360, 70);
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.data());
    }
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
    state.counters["cpu_percent_at_10fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 10.0 * 100.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EncodeStreamFrame)->Arg(640)->Arg(1280)->Unit(benchmark::kMillisecond);

// A real server on loopback, a camera of 640x360 at 10 frames a second and N viewers reading the
// stream (in this process, so the figures include the viewers' own reading). Over 5 seconds: CPU
// of the process, per viewer above the camera alone, memory, and the frame-to-socket latency.
void BM_MjpegViewers(benchmark::State& state) {
    const int viewers = static_cast<int>(state.range(0));
    CScriptedCamera camera("Bench", 1, "Cam", 640, 360, 10);
    CWebFixtureServer server;
    std::string session, csrf;
    if (!server.Login("bob", CWebFixtureServer::kViewerPassword, session, csrf)) {
        state.SkipWithError("login failed");
        return;
    }
    for (auto _ : state) {
        const long residentBefore = ResidentKb();
        std::vector<int> sockets;
        for (int i = 0; i < viewers; ++i) {
            sockets.push_back(
                RawGet(server.Server().GetPort(), "/api/v1/cameras/Bench/1/stream", session + "\r\n"));
        }
        std::atomic<int64_t> received{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> readers;
        for (int socket : sockets) {
            readers.emplace_back([socket, &received, &stop] {
                while (!stop.load()) {
                    received += ReadStreamParts(socket, 1, std::chrono::milliseconds(500));
                }
            });
        }
        std::this_thread::sleep_for(std::chrono::seconds(1)); // every viewer connected and served
        const CWebServerStats before = server.Server().GetStats();
        const int64_t receivedBefore = received.load();
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double cpu = CpuSeconds() - cpuBefore;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const CWebServerStats after = server.Server().GetStats();
        const long resident = ResidentKb();
        stop = true;
        for (std::thread& reader : readers) {
            reader.join();
        }
        for (int socket : sockets) {
            ::close(socket);
        }
        const double latencySamples = static_cast<double>(after.latencySamples - before.latencySamples);
        state.counters["viewers"] = viewers;
        state.counters["cpu_percent"] = cpu / wall * 100.0;
        state.counters["frames_per_s_per_viewer"] =
            static_cast<double>(received.load() - receivedBefore) / wall / std::max(1, viewers);
        state.counters["encodes_per_s"] =
            static_cast<double>(after.framesEncoded - before.framesEncoded) / wall;
        state.counters["latency_ms"] =
            latencySamples > 0 ? static_cast<double>(after.totalFrameLatencyNs - before.totalFrameLatencyNs) /
                                     latencySamples / 1e6
                               : 0.0;
        state.counters["rss_growth_kb"] = static_cast<double>(resident - residentBefore);
        state.counters["rss_kb"] = static_cast<double>(resident);
    }
}
BENCHMARK(BM_MjpegViewers)->Arg(0)->Arg(1)->Arg(10)->Arg(50)->Iterations(1)->Unit(benchmark::kSecond);

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// GET /api/v1/cameras with a token over one kept-alive connection, four cameras running.
void BM_CameraListRequests(benchmark::State& state) {
    std::vector<std::unique_ptr<CScriptedCamera>> cameras;
    for (int i = 0; i < 4; ++i) {
        cameras.push_back(
            std::make_unique<CScriptedCamera>("Bench", i, "Cam " + std::to_string(i), 64, 36, 0));
    }
    CWebFixtureServer server;
    std::string token;
    {
        CWebUsers users(server.Dir() + "/Tavrix.db");
        token = users.NewToken("bob");
    }
    CURL* curl = curl_easy_init();
    curl_slist* headers = curl_slist_append(nullptr, ("Authorization: Bearer " + token).c_str());
    const std::string url = server.Url("api/v1/cameras");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    for (auto _ : state) {
        long status = 0;
        if (curl_easy_perform(curl) != CURLE_OK ||
            (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status), status != 200)) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
}
BENCHMARK(BM_CameraListRequests)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
