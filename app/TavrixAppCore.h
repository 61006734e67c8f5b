#pragma once
// CTavrixAppCore: the application object without windows, shared by the headless shell and the Qt
// shell. It brings the process-wide services up in their order (settings, user database,
// notification log, GStreamer and the capture devices with the version check, the session lock
// monitor, the device watch), opens and closes documents with their views, broadcasts the
// application's commands to every document's view (activate all cameras: hint 5, deactivate all:
// 6, workstation locked: 7, unlocked: 8) and saves and closes the services in reverse at exit.
// The tracer is started before and stopped after it by the shell's main function.
//
// A document whose chains start programs (ChainPrograms.h) is checked after it has been read and
// before its view makes it run: the shell's check decides (the desktop asks the user); without a
// check each program is written to the notification log and the document runs.
//
// Threads: everything on the user-interface thread, which delivers the dispatcher's messages; the
// lock monitor's and the device watch's news arrive there as posted calls.

#include "app/ChainPrograms.h"
#include "camera/CameraView.h"
#include "camera/MessageDispatcher.h"
#include "camera/TavrixViewCore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CLockMonitor;
class CTavrixDoc;

class CTavrixAppCore {
public:
    struct COptions {
        // The tracer started (the shell's first step): "Trace facility started." is logged.
        bool tracingStarted = false;
        // Reported exceptions never show a dialog during this run; the user's own setting is
        // kept in the settings file.
        bool unattended = false;
        // Watch the session's lock signals and the capture devices coming and going.
        bool monitorLock = true;
        bool watchDevices = true;
    };

    // The lowest GStreamer version the application runs with: 1.20.
    static constexpr uint32_t kMinimumGStreamerVersion = (1u << 16) | (20u << 8);
    static constexpr const char* kUserDbUnavailableText =
        "The user database could not be opened: the notifications of this run will not be kept.";

    explicit CTavrixAppCore(CMessageDispatcher& dispatcher, CCameraViewTiming timing = {});
    // Runs the exit processing if the shell did not.
    ~CTavrixAppCore();
    CTavrixAppCore(const CTavrixAppCore&) = delete;
    CTavrixAppCore& operator=(const CTavrixAppCore&) = delete;

    // Start-up. False, with the message shown (and in message), when the application must end:
    // GStreamer older than 1.20. ExitInstance still runs afterwards.
    bool InitInstance(const COptions& options, std::string* message = nullptr);
    // Closes every document, then "Tavrix stopped", the log saved into the user database, the
    // database closed, the settings saved. Runs once.
    void ExitInstance();

    // Reads the settings file again (SIGHUP of the headless shell) and applies what a running
    // application takes from it: the log length, and the unattended mode of this run.
    void ReloadSettings();

    // The refusal text of the version check for an installed version text ("1.18").
    static std::string VersionMessage(const std::string& installedText);

    // Decides whether a document whose chains start programs may run; false closes it unopened.
    using ProgramsCheck =
        std::function<bool(const CTavrixDoc& document, const std::vector<CChainProgram>& programs)>;
    void SetProgramsCheck(ProgramsCheck check) { m_programsCheck = std::move(check); }
    static constexpr const char* kProgramsRefusedText =
        "The document was not opened: the programs of its event action chains were not allowed.";

    // Opens a document and shows its view ("Document opened", the camera views). Null when the
    // document cannot be opened (the message was shown) or its programs were not allowed.
    CTavrixViewCore* OpenDocument(const std::string& path, CTavrixViewCore::CHooks hooks = {});
    // Shows the view of a document that is open already (a new one from File New).
    CTavrixViewCore* AddDocument(std::unique_ptr<CTavrixDoc> document, CTavrixViewCore::CHooks hooks = {});
    void CloseDocument(CTavrixViewCore* view);
    void CloseAllDocuments();
    std::vector<CTavrixViewCore*> GetViews() const;

    void ActivateAllCameras() { BroadcastHint(ViewHint::kActivateAll); }
    void DeactivateAllCameras() { BroadcastHint(ViewHint::kDeactivateAll); }
    // The lock message: wParam 1 locked (hint 7), 2 unlocked (hint 8), anything else nothing.
    void OnLockMessage(uintptr_t wParam);
    void BroadcastHint(int hint);
    // Called after every broadcast, when the cameras may have been switched on or off without a
    // change of state (a camera without its device): the desktop relabels its buttons.
    void SetBroadcastObserver(std::function<void()> observer) { m_broadcastObserver = std::move(observer); }
    // The capture devices changed: every view hears which are present now.
    void OnDevicesChanged();

    // File New and File Open are enabled only while a capture device is known.
    bool HasCaptureDevice() const;
    // The main frame's message target for 2024 (notification list changed); the Qt shell sets
    // it. Every log entry then posts 2024 to it.
    void SetMainFrameTarget(CMessageDispatcher::TargetId target);

private:
    // Takes the notification settings just read: the log's capacity, the run's unattended mode.
    void ApplyNotificationSettings();
    // The programs check of a document just read: true when it may run.
    bool ProgramsAllowed(const CTavrixDoc& document);

    struct COpenDocument {
        std::unique_ptr<CTavrixDoc> document;
        std::unique_ptr<CTavrixViewCore> view;
    };

    CMessageDispatcher& m_dispatcher;
    const CCameraViewTiming m_timing;
    COptions m_options;
    bool m_initialised = false;
    bool m_exited = false;
    bool m_userDbOpen = false;
    bool m_savedUnattended = false;
    std::vector<COpenDocument> m_documents;
    std::unique_ptr<CLockMonitor> m_lockMonitor;
    bool m_deviceWatchStarted = false;
    CMessageDispatcher::TargetId m_mainFrame = CMessageDispatcher::kNoTarget;
    int m_logListener = 0;
    ProgramsCheck m_programsCheck;
    std::function<void()> m_broadcastObserver;
    std::shared_ptr<CTavrixAppCore*> m_alive;
};
