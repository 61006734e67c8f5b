#include "app/qt/TavrixApp.h"

#include "app/TavrixAppCore.h"
#include "app/qt/DispatcherBridge.h"
#include "app/qt/MainFrame.h"
#include "app/qt/QtErrorDisplay.h"
#include "app/qt/RecentFileList.h"
#include "app/qt/TavrixView.h"
#include "app/qt/WebOptionsPage.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "mqtt/MqttNode.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/signalfd.h>
#include <unistd.h>

#include <memory>

CTavrixApp::CTavrixApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Tavrix");
    setOrganizationName("Kestrova");
    setQuitOnLastWindowClosed(false); // the window may be hidden in the tray: Exit ends the program
}

bool CTavrixApp::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const CBaseException& exception) {
        ReportException(exception, "", "");
    } catch (const std::exception& exception) {
        const std::string text = std::string("Unexpected error: ") + exception.what();
        TRACE("CTavrixApp::notify() %s", text.c_str());
        CNotificationLog::Instance().AddEntry("", "", text);
        ShowMessageBox(text);
    }
    return false;
}

namespace DesktopShell {

namespace {

sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP); // the terminal or session that started the program went away
    return set;
}

QtMessageHandler g_previousMessageHandler = nullptr;

// Qt ends the process with abort() when its platform cannot start (a display that is named but
// cannot be reached). While the application object is created, such a fatal message ends the
// program with status 1 and the hint to the headless shell instead of a crash report and a core.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (g_previousMessageHandler != nullptr) {
            g_previousMessageHandler(type, context, message);
        } else {
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        }
        return;
    }
    std::fprintf(stderr, "tavrix: the desktop application cannot start: %s\n", qPrintable(message));
    std::fputs("Run 'tavrix --headless FILE.tvrx...' to run documents without a display.\n", stderr);
    std::fflush(stderr);
    TRACE("DesktopShell::Run() the platform could not start: %s", qPrintable(message));
    CTracer::Instance().Stop();
    std::_Exit(1);
}

bool IsSet(const char* value) {
    return value != nullptr && value[0] != '\0';
}

} // namespace

bool HasDisplay(const std::function<const char*(const char*)>& getenv) {
    const bool x11 = IsSet(getenv("DISPLAY"));
    const bool wayland = IsSet(getenv("WAYLAND_DISPLAY")) || IsSet(getenv("WAYLAND_SOCKET"));
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (!IsSet(platform)) {
        return x11 || wayland;
    }
    // "name[:options][;name[:options]...]": Qt tries the platforms in order.
    const QStringList names = QString::fromLocal8Bit(platform).split(';', Qt::SkipEmptyParts);
    for (const QString& entry : names) {
        const QString name = entry.section(':', 0, 0).trimmed();
        if (name == "xcb") {
            if (x11) {
                return true;
            }
        } else if (name.startsWith("wayland")) {
            if (wayland) {
                return true;
            }
        } else if (!name.isEmpty()) {
            return true; // offscreen, minimal, vnc, eglfs, linuxfb...: no display server needed
        }
    }
    return false;
}

void BlockTerminationSignals() {
    const sigset_t set = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int Run(int& argc, char** argv, const COptions& options) {
    // Checked before the application object exists: without a display Qt would abort inside it.
    if (!HasDisplay([](const char* name) { return std::getenv(name); })) {
        std::fputs(kNoDisplayText, stderr);
        return 1;
    }
    g_previousMessageHandler = qInstallMessageHandler(StartupMessageHandler);
    CTavrixApp application(argc, argv);
    qInstallMessageHandler(g_previousMessageHandler);
    CQtErrorDisplay errorDisplay;
    CMessageDispatcher& dispatcher = CMessageDispatcher::Instance();
    auto bridge = std::make_unique<CDispatcherBridge>(dispatcher);

    CTavrixAppCore core(dispatcher);
    CTavrixAppCore::COptions coreOptions;
    coreOptions.tracingStarted = options.tracingStarted;
    std::string failure;
    if (!core.InitInstance(coreOptions, &failure)) {
        // The refusal was queued as a message box: shown before the program ends.
        QCoreApplication::processEvents();
        core.ExitInstance();
        return 1;
    }

    // The node on the MQTT broker of the settings, when one is set.
    std::unique_ptr<CMqttNode> mqtt = CMqttNode::StartFromSettings();
    CRecentFileList recentFiles(CConfigMgrImpl::Instance().GetSettingsPath());
    recentFiles.Load();
    int status = 0;
    {
        CMainFrame frame(core, dispatcher, recentFiles);
        errorDisplay.SetParentWindow(&frame);
        core.SetMainFrameTarget(frame.GetTargetId());
        frame.RegisterHotKey();

        bool opened = false;
        for (const std::string& document : options.documents) {
            opened = frame.OpenDocument(QString::fromStdString(document)) != nullptr || opened;
        }
        // The window comes back as it was left; without documents named, the last session's
        // documents too (unless the user chose otherwise), their windows and the cameras that
        // watched. A screenshot run is a picture of what it was given, never of an earlier session.
        const std::string settingsPath = CConfigMgrImpl::Instance().GetSettingsPath();
        if (options.screenshotPath.empty()) {
            const bool reopen = options.documents.empty() && CSessionState::ReopenDocuments(settingsPath);
            opened = frame.RestoreSession(CSessionState::Load(settingsPath), reopen) > 0 || opened;
        }
        if (options.activate) {
            core.ActivateAllCameras();
        }
        // The web interface, when the settings enable it (off by default).
        DesktopWeb::Apply(CConfigMgrImpl::Instance().GetSettingsPath());
        const bool minimize = opened && CConfigMgrImpl::Instance().GetMiscSettings().GetMinimizeOnStartup();
        frame.ShowAtStartup(minimize);
        dispatcher.Post(frame.GetTargetId(), ViewMessage::kNotificationListChanged, 0);

        // SIGINT, SIGTERM and SIGHUP (blocked since main began) arrive as readable data on the GUI thread.
        const sigset_t terminationSignals = TerminationSignals();
        const int signalFd = signalfd(-1, &terminationSignals, SFD_CLOEXEC | SFD_NONBLOCK);
        std::unique_ptr<QSocketNotifier> signalNotifier;
        if (signalFd >= 0) {
            signalNotifier = std::make_unique<QSocketNotifier>(signalFd, QSocketNotifier::Read);
            QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &frame, [signalFd, &frame] {
                signalfd_siginfo info{};
                while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                    TRACE("DesktopShell::Run() signal %u: closing the main window", info.ssi_signo);
                }
                frame.close();
            });
        }

        if (!options.screenshotPath.empty()) {
            const QString path = QString::fromStdString(options.screenshotPath);
            QTimer::singleShot(static_cast<int>(options.screenshotDelaySeconds * 1000), &frame,
                               [&frame, path] {
                                   const bool saved = frame.grab().save(path, "PNG");
                                   TRACE("DesktopShell::Run() screenshot %s: %s", path.toUtf8().constData(),
                                         saved ? "saved" : "failed");
                                   if (!saved) {
                                       CNotificationLog::Instance().AddEntry(
                                           "", "",
                                           "The picture of the main window could not be saved to '" +
                                               path.toStdString() + "'.");
                                   }
                                   frame.close();
                               });
        }

        status = application.exec();
        DesktopWeb::Stop();
        // Closing the window has closed them; a quit from elsewhere still closes whatever is open
        // before the frame and its document windows go.
        frame.CloseAllDocuments(false);
        signalNotifier.reset();
        if (signalFd >= 0) {
            ::close(signalFd);
        }
        core.SetMainFrameTarget(CMessageDispatcher::kNoTarget);
        errorDisplay.SetParentWindow(nullptr);
    }
    core.ExitInstance();
    mqtt.reset();
    recentFiles.Save();
    bridge.reset();
    return status;
}

} // namespace DesktopShell
