#pragma once
// CTavrixApp: the Qt application object of the desktop shell. Its event delivery is the message
// pump's last line of defence: an exception of the program's family that escapes an event handler
// (a menu command, a dialog, a posted call, a dispatcher message) is reported (notification log,
// and the error dialog unless unattended) and the event loop goes on. Any other escaping
// exception is logged and shown the same way instead of ending the program.
//
// DesktopShell::Run is the desktop's start-up and shutdown around the shared application core:
// settings, user database, notification log, capture devices and the version check come up in
// the core's order; then the main frame, the documents of the command line (or, without any, those
// of the last session, SessionState.h), the window shown or minimised as the settings say; at exit the
// documents are closed and the core saves and closes the services in reverse.
//
// GUI thread only.

#include <QApplication>

#include <functional>
#include <string>
#include <vector>

class CTavrixApp : public QApplication {
    Q_OBJECT
public:
    CTavrixApp(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

namespace DesktopShell {

struct COptions {
    std::vector<std::string> documents; // opened at start-up
    bool tracingStarted = false;
    bool activate = false;               // activate every camera once the documents are open
    std::string screenshotPath;          // non-empty: save a picture of the main window, then exit
    double screenshotDelaySeconds = 8.0; // after start-up, before the picture
};

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and in every thread started after it; call it
// first in main. Run then takes them as a request to close the main window (with the save
// prompts of the open documents), so that an interrupted run still saves its notifications.
void BlockTerminationSignals();

// Whether Qt will find what its platform needs to show windows, read from the environment
// (getenv): a platform named in QT_QPA_PLATFORM that needs no display server (offscreen, minimal,
// vnc, eglfs...) always does; xcb needs DISPLAY, wayland WAYLAND_DISPLAY (or WAYLAND_SOCKET);
// without QT_QPA_PLATFORM either will do.
bool HasDisplay(const std::function<const char*(const char*)>& getenv);
// What the program says, on standard error, when it has no display.
constexpr const char* kNoDisplayText =
    "tavrix: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set): the desktop application "
    "needs one.\n"
    "Run 'tavrix --headless FILE.tvrx...' to run documents without a display.\n";

// Runs the desktop application; returns the process's exit status: 1 without a display (nothing
// is started then) or when the application could not start.
int Run(int& argc, char** argv, const COptions& options);

} // namespace DesktopShell
