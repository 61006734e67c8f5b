#include "app/HeadlessShell.h"

#include "app/HeadlessReload.h"
#include "app/JournalLog.h"
#include "app/ServiceNotifier.h"
#include "app/TavrixAppCore.h"
#include "app/TerminalText.h"
#include "camera/MessageDispatcher.h"
#include "foundation/ErrorReport.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace HeadlessShell {

namespace {

// Wakes the signal thread when the shell ends.
constexpr int kWakeSignal = SIGUSR1;

sigset_t HandledSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // Re-reads the settings and re-opens the documents whose files changed, as daemons do.
    sigaddset(&set, SIGHUP);
    sigaddset(&set, kWakeSignal);
    return set;
}

// Control characters (C0, DEL and C1) become blanks, so that a name from a document never drives
// the terminal; bytes that are no UTF-8 become U+FFFD.
std::string Field(const std::string& text) {
    return TerminalText::ReplaceControls(text);
}

void ReportToStandardError(const std::string& text, const std::string& document, const std::string& camera);

// Where the echo of the entries goes: nowhere for a stream that is the journal while the entries
// reach the journal as structured entries already (under systemd), so that nothing shows twice.
struct CEchoTargets {
    bool standardOutput = true;
    bool standardError = true;
};

CEchoTargets EchoTargets(const CJournalLog& journal) {
    CEchoTargets targets;
    if (journal.IsEnabled()) {
        targets.standardOutput = !CJournalLog::IsJournalStream(STDOUT_FILENO);
        targets.standardError = !CJournalLog::IsJournalStream(STDERR_FILENO);
    }
    return targets;
}

// Every entry goes to standard output; a failure also to standard error, where a supervisor or a
// pipe that keeps only errors sees it. (Reported exceptions reach standard error through the error
// report observer below, so they are not entries marked as errors.)
void Echo(const CLogEntry& entry, CEchoTargets targets) {
    if (targets.standardOutput) {
        const std::string line = EchoLine(entry.time, entry.docName, entry.camName, entry.text) + "\n";
        // One write a line, so that lines from several threads never mix.
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
    if (entry.error && targets.standardError) {
        ReportToStandardError(entry.text, entry.docName, entry.camName);
    }
}

void ReportToStandardError(const std::string& text, const std::string& document, const std::string& camera) {
    std::string line = "tavrix: error";
    if (!document.empty()) {
        line += " in " + Field(document);
    }
    if (!camera.empty()) {
        line += ", camera " + Field(camera);
    }
    line += ": " + Field(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void PrintStats(CTavrixAppCore& app, double wallSeconds) {
    for (CTavrixViewCore* view : app.GetViews()) {
        for (const int32_t cameraId : view->GetCameraViewIds()) {
            CCameraView* camera = view->FindCameraView(cameraId);
            if (camera == nullptr) {
                continue;
            }
            const CCameraView::CStats stats = camera->GetStats();
            const double onFrameMs = static_cast<double>(stats.onFrameNs) / 1e6;
            std::fprintf(stderr,
                         "stats\t%s\t%s\tframes=%lld\tonframe_ms=%.1f\tonframe_us_per_frame=%.1f\t"
                         "onframe_ms_per_s=%.2f\trecordings=%lld\tstart_latency_ms_avg=%.1f\t"
                         "start_latency_ms_max=%.1f\n",
                         Field(view->GetDocument().GetTitle()).c_str(),
                         Field(camera->GetCameraName()).c_str(), static_cast<long long>(stats.frames),
                         onFrameMs,
                         stats.frames > 0 ? static_cast<double>(stats.onFrameNs) / 1e3 / stats.frames : 0.0,
                         wallSeconds > 0 ? onFrameMs / wallSeconds : 0.0,
                         static_cast<long long>(stats.recordingsStarted),
                         stats.recordingsStarted > 0
                             ? static_cast<double>(stats.startLatencyTotalUs) / 1e3 / stats.recordingsStarted
                             : 0.0,
                         static_cast<double>(stats.startLatencyMaxUs) / 1e3);
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::fprintf(stderr, "process\twall_s=%.2f\tcpu_user_s=%.2f\tcpu_sys_s=%.2f\tmax_rss_kb=%ld\n",
                 wallSeconds, static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6,
                 static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss);
    std::fflush(stderr);
}

// Delivers the dispatcher's messages until Quit (a signal) or the end of the run's duration.
void RunUntilStopped(CMessageDispatcher& dispatcher, const CHeadlessOptions& options,
                     std::chrono::steady_clock::time_point started) {
    if (options.durationSeconds <= 0) {
        dispatcher.Run();
        return;
    }
    const auto end = started + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(options.durationSeconds));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 ||
            dispatcher.RunFor(static_cast<uint32_t>(std::min<int64_t>(left.count(), 60000)))) {
            return;
        }
    }
}

} // namespace

void BlockTerminationSignals() {
    const sigset_t set = HandledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::string EchoLine(const platform::SystemTime& time, const std::string& document, const std::string& camera,
                     const std::string& text) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", time.year, time.month, time.day,
                  time.hour, time.minute, time.second);
    return std::string(stamp) + "\t" + Field(document) + "\t" + Field(camera) + "\t" + Field(text);
}

// What a SIGHUP runs on the main thread: set while the documents run, empty otherwise. Only the
// main thread reads or changes it (the signal thread posts a call that looks at it there).
struct CReloadHook {
    std::function<void()> reload;
};

int Run(const CHeadlessOptions& options) {
    CMessageDispatcher& dispatcher = CMessageDispatcher::Instance();
    const auto reloadHook = std::make_shared<CReloadHook>();
    std::thread signals([&dispatcher, reloadHook] {
        const sigset_t set = HandledSignals();
        bool stopping = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0 || signal == kWakeSignal) {
                return;
            }
            if (signal == SIGHUP) {
                // Ignored once stopping: the documents are closing anyway.
                if (!stopping) {
                    TRACE("HeadlessShell::Run() SIGHUP: reloading");
                    dispatcher.PostCall([reloadHook] {
                        if (reloadHook->reload) {
                            reloadHook->reload();
                        }
                    });
                }
                continue;
            }
            if (stopping) {
                std::fputs("tavrix: stopping now\n", stderr);
                std::_Exit(128 + signal);
            }
            stopping = true;
            TRACE("HeadlessShell::Run() signal %d: stopping", signal);
            dispatcher.Quit();
        }
    });

    // Under systemd every entry also goes to the journal, with its priority, document and camera.
    const CJournalLog journal;
    const int listener = CNotificationLog::Instance().AddListener(
        [targets = EchoTargets(journal)](const CLogEntry& entry) { Echo(entry, targets); });
    SetErrorReportObserver(ReportToStandardError);
    const auto started = std::chrono::steady_clock::now();

    int status = 0;
    {
        CTavrixAppCore app(dispatcher);
        CTavrixAppCore::COptions appOptions;
        appOptions.tracingStarted = options.tracingStarted;
        appOptions.unattended = true;
        if (app.InitInstance(appOptions)) {
            size_t opened = 0;
            for (const std::string& document : options.documents) {
                if (app.OpenDocument(document) != nullptr) {
                    ++opened;
                } else {
                    std::fprintf(stderr, "tavrix: the document '%s' could not be opened\n", document.c_str());
                    status = 1;
                }
            }
            // The documents that opened run; a document that did not still ends the run with 1.
            if (opened > 0) {
                if (options.activate) {
                    app.ActivateAllCameras();
                }
                // Ready for systemd, whose watchdog is fed while the cameras deliver frames.
                const auto service = CServiceNotifier::StartFor(app, dispatcher, opened);
                CDocumentFiles files;
                for (const std::string& document : options.documents) {
                    files.Remember(document);
                }
                const HeadlessReload::COptions reloadOptions{options.documents, options.activate};
                reloadHook->reload = [&] {
                    HeadlessReload::Reload(app, files, reloadOptions, service.get());
                };
                RunUntilStopped(dispatcher, options, started);
                reloadHook->reload = nullptr;
            }
            if (options.stats) {
                PrintStats(app,
                           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            }
        } else {
            status = 1;
        }
        app.ExitInstance();
    }

    SetErrorReportObserver({});
    CNotificationLog::Instance().RemoveListener(listener);
    pthread_kill(signals.native_handle(), kWakeSignal);
    signals.join();
    return status;
}

} // namespace HeadlessShell
