// Network cameras: what Tavrix costs per camera-second on RTSP H.264 streams at 1920x1080 and 25
// frames a second, served from loopback by GStreamer's RTSP server in this process (one encoder
// per mount shared by every client, so the server's cost does not grow with the cameras and is
// never counted: only the child processes are measured, by their rusage).
//
//   Tavrix/N/full, Tavrix/N/640   `tavrix --headless --activate --stats` with N cameras on the
//                                  stream, watched at the camera's own size or at 640x360.
//                                  Counters: cpu_ms (per camera-second, all of the process),
//                                  decode_ms (the same streams received and decoded alone by
//                                  gst-launch-1.0, per camera-second), own_ms = cpu_ms - decode_ms
//                                  (Tavrix's share: conversion, scaling, the grabber, detection),
//                                  onframe_ms (of it, Tavrix's own per-frame work), fps per camera,
//                                  cpu_ms_frame (the process's CPU per frame delivered), rss_MB
//                                  (peak), recordings (should be 0: nothing moves).
//   Motion/N                       the peer Motion (Debian package `motion`) on the same streams
//                                  with detection on and every output off; cpu_ms, rss_MB, and
//                                  tavrix_per_motion = Tavrix cpu_ms (full size) / Motion cpu_ms
//                                  (goal: at most 0.5), tavrix640_per_motion (Tavrix at 640x360).
//   Reconnect                      one camera; the server stops until Tavrix logs "Capturing device
//                                  lost." (lost_after_s), stays away 5 s, comes back: reconnect_s
//                                  from its return to "Capturing device re-connected.", which the
//                                  camera logs at the first decoded frame of the new stream.
//
// BENCH_VERBOSE=1 prints what the programs wrote.
//
// The picture is GStreamer's still 75% colour bars at a constant quantizer, so that neither program
// sees motion and records: both do the same detection work on every frame. BENCH_SECONDS (20) sets
// the length of each run.
// Skipped with a message when `motion` or the program is missing.

#include "TavrixBuildPaths.h"
#include "network/tests/RtspTestServer.h"
#include "recording/TavrixElements.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct CChildRun {
    double cpuS = 0;
    double wallS = 0;
    double maxRssMB = 0;
    std::string output;
    int status = -1;
};

int Seconds() {
    const char* text = std::getenv("BENCH_SECONDS");
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 20;
}

std::string Tavrix() {
    return TAVRIX_BINARY_DIR "/bin/tavrix";
}

bool HaveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs argv with its output read line by line (onLine may return false to stop reading; it is
// also called with an empty line every 100 ms, so that it can act on time); after
// stopAfter the child gets stopSignal; returns its rusage once it ended.
CChildRun RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds stopAfter, int stopSignal,
                   const std::function<bool(const std::string&)>& onLine = {}) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return {};
    }
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CChildRun run;
    std::string pending;
    bool signalled = false;
    bool reading = true;
    for (;;) {
        const auto now = Clock::now();
        if (!signalled && now - start >= stopAfter) {
            kill(pid, stopSignal);
            signalled = true;
        }
        pollfd fd{pipeFds[0], POLLIN, 0};
        const int ready = poll(&fd, 1, 100);
        if (ready == 0 && reading && onLine && !onLine(std::string())) {
            reading = false;
            kill(pid, stopSignal); // seen what was asked for: the child may end
            signalled = true;
        }
        if (ready > 0) {
            char buffer[4096];
            const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            run.output.append(buffer, static_cast<size_t>(got));
            pending.append(buffer, static_cast<size_t>(got));
            for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (reading && onLine && !onLine(line)) {
                    reading = false;
                    kill(pid, stopSignal);
                    signalled = true;
                }
            }
        }
        if (signalled && Clock::now() - start > stopAfter + std::chrono::seconds(30)) {
            kill(pid, SIGKILL); // a child that does not end on its own
        }
    }
    close(pipeFds[0]);
    rusage usage{};
    wait4(pid, &run.status, 0, &usage);
    run.wallS = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuS = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.maxRssMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    if (std::getenv("BENCH_VERBOSE") != nullptr) {
        std::fprintf(stderr, "%s\n", run.output.c_str());
    }
    return run;
}

// The server, the work folder and the figures the later benchmarks compare with.
struct CBenchState {
    std::unique_ptr<CRtspTestServer> server;
    fs::path work;
    std::map<int, double> tavrixFullCpuMs; // by camera count
    std::map<int, double> tavrixSmallCpuMs;
    std::map<int, double> decodeCpuMs;

    static CBenchState& Get() {
        static CBenchState state;
        if (!state.server) {
            InitGStreamer();
            state.server = std::make_unique<CRtspTestServer>(
                CRtspTestServer::ProbeStreams(1920, 1080, 25, "smpte75", /*quantizer=*/18));
            state.server->Start();
            state.work = fs::temp_directory_path() / ("tavrix-netbench-" + std::to_string(getpid()));
            fs::create_directories(state.work / "rec");
            setenv("XDG_CONFIG_HOME", (state.work / "config").c_str(), 1);
            setenv("XDG_DATA_HOME", (state.work / "data").c_str(), 1);
            setenv("XDG_STATE_HOME", (state.work / "state").c_str(), 1);
        }
        return state;
    }
    ~CBenchState() {
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }
};

bool RunQuiet(const std::vector<std::string>& argv) {
    std::string command;
    for (const std::string& arg : argv) {
        command += "'" + arg + "' ";
    }
    return std::system((command + ">/dev/null 2>&1").c_str()) == 0;
}

// A document with `cameras` cameras on the stream, watched at width x height. Motion must last a
// second before it counts, so that the first frames (the reference still empty) start no
// recording: the picture never moves, and neither program should record.
std::string MakeDocument(CBenchState& state, int cameras, int width, int height, const std::string& tag) {
    const std::string file = (state.work / ("bench-" + tag + ".tvrx")).string();
    std::vector<std::string> create = {Tavrix(), "doc", "create", file};
    for (int i = 0; i < cameras; ++i) {
        create.push_back("--camera");
        create.push_back(state.server->Url("/h264"));
    }
    create.push_back("--record-path");
    create.push_back((state.work / "rec").string());
    fs::remove(file);
    RunQuiet(create);
    for (int i = 0; i < cameras; ++i) {
        const std::string camera = "Cameras." + std::to_string(i) + ".";
        RunQuiet({Tavrix(), "doc", "set", file, camera + "VideoSize.cx", std::to_string(width)});
        RunQuiet({Tavrix(), "doc", "set", file, camera + "VideoSize.cy", std::to_string(height)});
        RunQuiet({Tavrix(), "doc", "set", file, camera + "FPS", "25"});
        RunQuiet({Tavrix(), "doc", "set", file, camera + "MotionStartDelay", "1000"});
    }
    return file;
}

// Sums one field of the "stats" lines of a headless run.
double SumStats(const std::string& output, const std::string& field) {
    double sum = 0;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("stats\t", 0) != 0) {
            continue;
        }
        const size_t at = line.find("\t" + field + "=");
        if (at != std::string::npos) {
            sum += std::atof(line.c_str() + at + field.size() + 2);
        }
    }
    return sum;
}

double DecodeOnly(CBenchState& state, int cameras, int seconds) {
    if (state.decodeCpuMs.count(cameras) != 0) {
        return state.decodeCpuMs[cameras];
    }
    std::vector<std::string> argv = {"gst-launch-1.0", "-q"};
    for (int i = 0; i < cameras; ++i) {
        for (const std::string& part : std::vector<std::string>{
                 "rtspsrc", "location=" + state.server->Url("/h264"), "protocols=tcp", "latency=200", "!",
                 "rtph264depay", "!", "h264parse", "!", "avdec_h264", "!", "fakesink", "sync=false"}) {
            argv.push_back(part);
        }
    }
    const CChildRun run = RunChild(argv, std::chrono::seconds(seconds), SIGINT);
    const double ms = run.cpuS * 1000.0 / run.wallS / cameras;
    state.decodeCpuMs[cameras] = ms;
    return ms;
}

void BM_Tavrix(benchmark::State& st) {
    const int cameras = static_cast<int>(st.range(0));
    const bool full = st.range(1) == 0;
    if (!fs::exists(Tavrix())) {
        st.SkipWithError("the program is not built");
        return;
    }
    CBenchState& state = CBenchState::Get();
    const int seconds = Seconds();
    for (auto _ : st) {
        const std::string file = MakeDocument(state, cameras, full ? 1920 : 640, full ? 1080 : 360,
                                              std::to_string(cameras) + (full ? "full" : "640"));
        const CChildRun run = RunChild(
            {Tavrix(), "--headless", "--activate", "--stats", "--duration", std::to_string(seconds), file},
            std::chrono::seconds(seconds + 60), SIGINT);
        const double cpuMs = run.cpuS * 1000.0 / run.wallS / cameras;
        const double decodeMs = DecodeOnly(state, cameras, seconds);
        const double frames = SumStats(run.output, "frames");
        st.counters["cpu_ms"] = cpuMs;
        st.counters["decode_ms"] = decodeMs;
        st.counters["own_ms"] = cpuMs - decodeMs;
        st.counters["onframe_ms"] = SumStats(run.output, "onframe_ms") / run.wallS / cameras;
        st.counters["fps"] = frames / run.wallS / cameras;
        // A machine that cannot keep up delivers fewer frames: the cost of each tells more then.
        st.counters["cpu_ms_frame"] = frames > 0 ? run.cpuS * 1000.0 / frames : 0;
        st.counters["rss_MB"] = run.maxRssMB;
        (full ? state.tavrixFullCpuMs : state.tavrixSmallCpuMs)[cameras] = cpuMs;
        st.counters["recordings"] = SumStats(run.output, "recordings");
        if (frames == 0) {
            st.SkipWithError(("no frames: " + run.output.substr(0, 2000)).c_str());
        }
    }
}

void BM_Motion(benchmark::State& st) {
    const int cameras = static_cast<int>(st.range(0));
    if (!HaveProgram("motion")) {
        st.SkipWithError("motion is not installed (scripts/deps.sh --bench)");
        return;
    }
    CBenchState& state = CBenchState::Get();
    const int seconds = Seconds();
    const fs::path folder = state.work / ("motion" + std::to_string(cameras));
    fs::create_directories(folder);
    std::ofstream config(folder / "motion.conf");
    config << "daemon off\nsetup_mode off\nlog_level 6\nlog_file " << (folder / "motion.log").string()
           << "\ntarget_dir " << folder.string()
           << "\nwebcontrol_port 0\nstream_port 0\npicture_output off\nmovie_output off\n"
              "snapshot_interval 0\nthreshold 1500\nframerate 25\n";
    for (int i = 1; i <= cameras; ++i) {
        const fs::path camera = folder / ("camera" + std::to_string(i) + ".conf");
        std::ofstream(camera) << "camera_id " << i << "\nnetcam_url " << state.server->Url("/h264")
                              << "\nnetcam_params rtsp_transport=tcp\n";
        config << "camera " << camera.string() << "\n";
    }
    config.close();
    for (auto _ : st) {
        const CChildRun run = RunChild({"motion", "-n", "-c", (folder / "motion.conf").string()},
                                       std::chrono::seconds(seconds), SIGTERM);
        const double cpuMs = run.cpuS * 1000.0 / run.wallS / cameras;
        st.counters["cpu_ms"] = cpuMs;
        st.counters["rss_MB"] = run.maxRssMB;
        if (state.tavrixFullCpuMs.count(cameras) != 0 && cpuMs > 0) {
            st.counters["tavrix_per_motion"] = state.tavrixFullCpuMs[cameras] / cpuMs;
        }
        if (state.tavrixSmallCpuMs.count(cameras) != 0 && cpuMs > 0) {
            st.counters["tavrix640_per_motion"] = state.tavrixSmallCpuMs[cameras] / cpuMs;
        }
        std::ifstream logFile(folder / "motion.log");
        const std::string log((std::istreambuf_iterator<char>(logFile)), std::istreambuf_iterator<char>());
        if (log.find("onnected") == std::string::npos) {
            st.SkipWithError(("motion did not connect: " + log.substr(0, 3000)).c_str());
        }
    }
}

void BM_Reconnect(benchmark::State& st) {
    if (!fs::exists(Tavrix())) {
        st.SkipWithError("the program is not built");
        return;
    }
    CBenchState& state = CBenchState::Get();
    for (auto _ : st) {
        const std::string file = MakeDocument(state, 1, 640, 360, "reconnect");
        enum { Running, Lost, Back, Done } phase = Running;
        Clock::time_point returned;
        Clock::time_point stopped;
        double lostS = -1;
        Clock::time_point stopAt = Clock::now() + std::chrono::seconds(8);
        double reconnectS = -1;
        const CChildRun run =
            RunChild({Tavrix(), "--headless", "--activate", "--duration", "150", file},
                     std::chrono::seconds(150), SIGINT, [&](const std::string& line) {
                         // The server is stopped from here (called every 100 ms) once the camera ran a while.
                         if (phase == Running && Clock::now() >= stopAt) {
                             state.server->Stop();
                             stopped = Clock::now();
                             phase = Lost;
                         }
                         if (phase == Lost && line.find("Capturing device lost.") != std::string::npos) {
                             lostS = std::chrono::duration<double>(Clock::now() - stopped).count();
                             sleep(5);
                             state.server->Start();
                             returned = Clock::now();
                             phase = Back;
                         } else if (phase == Back &&
                                    line.find("Capturing device re-connected.") != std::string::npos) {
                             reconnectS = std::chrono::duration<double>(Clock::now() - returned).count();
                             phase = Done;
                             return false;
                         }
                         return true;
                     });
        state.server->Start();
        st.counters["reconnect_s"] = reconnectS;
        st.counters["lost_after_s"] = lostS;
        if (reconnectS < 0) {
            st.SkipWithError(("no re-connection seen: " + run.output.substr(0, 3000)).c_str());
        }
    }
}

} // namespace

BENCHMARK(BM_Tavrix)
    ->ArgsProduct({{1, 4}, {0, 1}})
    ->ArgNames({"cameras", "size640"})
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_Motion)->Arg(1)->Arg(4)->ArgName("cameras")->Iterations(1)->UseRealTime();
BENCHMARK(BM_Reconnect)->Iterations(1)->UseRealTime();

BENCHMARK_MAIN();
