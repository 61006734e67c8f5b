#include "app/TavrixAppCore.h"

#include "camera/LockMonitor.h"
#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "persistence/UserDbMgrImpl.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kVersionTextSize = 21; // at most 20 characters

void Log(const std::string& text) {
    CNotificationLog::Instance().AddEntry("", "", text);
}

} // namespace

CTavrixAppCore::CTavrixAppCore(CMessageDispatcher& dispatcher, CCameraViewTiming timing)
    : m_dispatcher(dispatcher), m_timing(std::move(timing)) {}

CTavrixAppCore::~CTavrixAppCore() {
    if (m_initialised) {
        ExitInstance();
    }
}

std::string CTavrixAppCore::VersionMessage(const std::string& installedText) {
    return "This application needs at least DirectX 9.0 (installed: " + installedText.substr(0, 20) +
           "). Please install prior using this application !";
}

bool CTavrixAppCore::InitInstance(const COptions& options, std::string* message) {
    m_options = options;
    m_initialised = true;
    m_exited = false;

    // Settings; the lock probe must be in place before they are read.
    CLockMonitor::RegisterSettingsProbe();
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    config.LoadAll();
    ApplyNotificationSettings();

    // The user database and the log kept in it. Without the database the program runs on; its
    // log lives in memory only for this run.
    CUserDbMgrImpl& userDb = CUserDbMgrImpl::Instance();
    try {
        userDb.Open();
        m_userDbOpen = true;
    } catch (const CUserDbEx& e) {
        m_userDbOpen = false;
        ReportException(e, "", "");
        Log(kUserDbUnavailableText);
    }
    CNotificationLog::Instance().Load(userDb.Connection());
    if (m_userDbOpen) {
        // From here on entries reach the database as they happen, not only at a clean exit.
        CNotificationLog::Instance().StartWriting(userDb.GetPath());
    }
    Log("Tavrix started");
    if (options.tracingStarted) {
        Log("Trace facility started.");
    }

    // GStreamer and the capture devices.
    InitGStreamer();
    CDxDeviceMgrImpl& devices = CDxDeviceMgrImpl::Instance();
    devices.RefreshAll();
    uint32_t version = 0;
    char versionText[kVersionTextSize] = {};
    devices.GetDirectXVersion(&version, versionText, sizeof versionText);
    TRACE("CTavrixAppCore::InitInstance() GStreamer %s (%#x)", versionText, version);
    if (version < kMinimumGStreamerVersion) {
        const std::string text = VersionMessage(versionText);
        ShowMessageBox(text);
        if (message != nullptr) {
            *message = text;
        }
        return false;
    }
    if (devices.GetDeviceCount() == 0) {
        Log("This application needs at least one capture device. Please be sure a capture device has been "
            "installed prior using this application!");
    }
    if (config.GetMiscSettings().GetLockNotificationInstalled()) {
        Log(CLockMonitor::kInstalledLogText);
    }

    // Posted calls from worker threads reach this object only while it runs.
    m_alive = std::make_shared<CTavrixAppCore*>(this);
    const std::weak_ptr<CTavrixAppCore*> alive = m_alive;
    if (options.monitorLock) {
        m_lockMonitor = std::make_unique<CLockMonitor>([this, alive](uintptr_t wParam) {
            m_dispatcher.PostCall([alive, wParam] {
                if (const auto app = alive.lock()) {
                    (*app)->OnLockMessage(wParam);
                }
            });
        });
        if (!m_lockMonitor->Start()) {
            TRACE("CTavrixAppCore::InitInstance() no bus for lock notifications");
        }
    }
    if (options.watchDevices) {
        devices.StartDeviceWatch([this, alive] {
            m_dispatcher.PostCall([alive] {
                if (const auto app = alive.lock()) {
                    (*app)->OnDevicesChanged();
                }
            });
        });
        m_deviceWatchStarted = true;
    }
    if (m_mainFrame != CMessageDispatcher::kNoTarget) {
        m_dispatcher.Post(m_mainFrame, ViewMessage::kNotificationListChanged, 0);
    }
    return true;
}

void CTavrixAppCore::ExitInstance() {
    if (m_exited) {
        return;
    }
    m_exited = true;
    // Event actions get 3 s from here, over all documents together; then they are cut short.
    const auto cutAt = CEventChainRunner::Clock::now() + CEventChainRunner::kStopGrace;
    for (const COpenDocument& open : m_documents) {
        open.document->GetChainRunner().CutAt(cutAt);
    }
    CloseAllDocuments();
    if (m_lockMonitor) {
        m_lockMonitor->Stop();
        m_lockMonitor.reset();
    }
    if (m_deviceWatchStarted) {
        CDxDeviceMgrImpl::Instance().StopDeviceWatch();
        m_deviceWatchStarted = false;
    }
    m_alive.reset();
    if (m_logListener != 0) {
        CNotificationLog::Instance().RemoveListener(m_logListener);
        m_logListener = 0;
    }

    Log("Tavrix stopped");
    CUserDbMgrImpl& userDb = CUserDbMgrImpl::Instance();
    CNotificationLog::Instance().StopWriting();
    CNotificationLog::Instance().Save(userDb.Connection());
    try {
        userDb.Close();
    } catch (const CUserDbEx& e) {
        ReportException(e, "", "");
    }
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    if (m_options.unattended) {
        // The run's unattended mode is not the user's setting.
        CNotificationSettings notifications = config.GetNotificationSettings();
        notifications.SetUnattendedMode(m_savedUnattended);
        config.SetNotificationSettings(notifications);
    }
    config.SaveAll();
    m_initialised = false;
}

void CTavrixAppCore::ApplyNotificationSettings() {
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    CNotificationSettings notifications = config.GetNotificationSettings();
    // The user's own setting, restored at exit.
    m_savedUnattended = notifications.GetUnattendedMode();
    if (m_options.unattended) {
        notifications.SetUnattendedMode(true);
        config.SetNotificationSettings(notifications);
    }
    CNotificationLog::Instance().SetCapacity(notifications.GetMaximumLogLength());
}

void CTavrixAppCore::ReloadSettings() {
    CConfigMgrImpl::Instance().LoadAll();
    ApplyNotificationSettings();
}

CTavrixViewCore* CTavrixAppCore::OpenDocument(const std::string& path, CTavrixViewCore::CHooks hooks) {
    // A name that names no regular file is refused here with the system's reason, before the document
    // layer, which would only say that the file is not a Tavrix document.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = errno;
        ShowMessageBox("An error occurred during opening the document: '" + path + ": " +
                       (error != 0 && !S_ISDIR(status.st_mode) ? std::strerror(error) : "not a file") + "'");
        return nullptr;
    }
    auto document = std::make_unique<CTavrixDoc>();
    if (!document->OnOpenDocument(path)) {
        return nullptr;
    }
    if (!ProgramsAllowed(*document)) {
        document->OnCloseDocument();
        return nullptr;
    }
    return AddDocument(std::move(document), std::move(hooks));
}

bool CTavrixAppCore::ProgramsAllowed(const CTavrixDoc& document) {
    const std::vector<CChainProgram> programs =
        document.Read([](const CTavrixDocData& data) { return ChainPrograms::List(data); });
    if (programs.empty()) {
        return true;
    }
    if (m_programsCheck) {
        if (m_programsCheck(document, programs)) {
            return true;
        }
        TRACE("CTavrixAppCore::ProgramsAllowed() '%s': %zu programs not allowed",
              document.GetPathName().c_str(), programs.size());
        CNotificationLog::Instance().AddEntry(document.GetTitle(), "", kProgramsRefusedText);
        return false;
    }
    // Nobody to ask: the programs are run, and said.
    for (const CChainProgram& program : programs) {
        CNotificationLog::Instance().AddEntry(document.GetTitle(), program.cameraName,
                                              ChainPrograms::LogText(program));
    }
    return true;
}

CTavrixViewCore* CTavrixAppCore::AddDocument(std::unique_ptr<CTavrixDoc> document,
                                             CTavrixViewCore::CHooks hooks) {
    if (!document) {
        return nullptr;
    }
    COpenDocument open;
    open.document = std::move(document);
    open.view = std::make_unique<CTavrixViewCore>(*open.document, m_dispatcher, m_timing, std::move(hooks));
    CTavrixViewCore* view = open.view.get();
    m_documents.push_back(std::move(open));
    view->OnInitialUpdate();
    return view;
}

void CTavrixAppCore::CloseDocument(CTavrixViewCore* view) {
    const auto found = std::find_if(m_documents.begin(), m_documents.end(),
                                    [view](const COpenDocument& open) { return open.view.get() == view; });
    if (found == m_documents.end()) {
        return;
    }
    // The database connection first, then the window with its camera views.
    found->document->OnCloseDocument();
    found->view.reset();
    m_documents.erase(found);
}

void CTavrixAppCore::CloseAllDocuments() {
    while (!m_documents.empty()) {
        CloseDocument(m_documents.back().view.get());
    }
}

std::vector<CTavrixViewCore*> CTavrixAppCore::GetViews() const {
    std::vector<CTavrixViewCore*> views;
    for (const COpenDocument& open : m_documents) {
        views.push_back(open.view.get());
    }
    return views;
}

void CTavrixAppCore::OnLockMessage(uintptr_t wParam) {
    if (const std::optional<int> hint = CLockMonitor::HintForLockMessage(wParam)) {
        BroadcastHint(*hint);
    }
}

void CTavrixAppCore::BroadcastHint(int hint) {
    for (const COpenDocument& open : m_documents) {
        open.view->OnUpdate(hint);
    }
    if (m_broadcastObserver) {
        m_broadcastObserver();
    }
}

void CTavrixAppCore::OnDevicesChanged() {
    const std::map<std::string, std::string> devices = CDxDeviceMgrImpl::Instance().GetDevices();
    for (const COpenDocument& open : m_documents) {
        open.view->OnDevicesChanged(devices);
    }
}

bool CTavrixAppCore::HasCaptureDevice() const {
    return CDxDeviceMgrImpl::Instance().GetDeviceCount() != 0;
}

void CTavrixAppCore::SetMainFrameTarget(CMessageDispatcher::TargetId target) {
    m_mainFrame = target;
    if (m_logListener != 0) {
        CNotificationLog::Instance().RemoveListener(m_logListener);
        m_logListener = 0;
    }
    if (target != CMessageDispatcher::kNoTarget) {
        CMessageDispatcher* dispatcher = &m_dispatcher;
        m_logListener = CNotificationLog::Instance().AddListener([dispatcher, target](const CLogEntry&) {
            dispatcher->Post(target, ViewMessage::kNotificationListChanged, 0);
        });
    }
}
