#include "persistence/TavrixDoc.h"

#include "camera/CameraHub.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "persistence/ConfigStore.h"
#include "persistence/DocumentSchema.h"
#include "persistence/NotificationLog.h"
#include "platform/Paths.h"

#include <glib.h>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kOpenError[] = "An error occurred during opening the document: '";
const char kSaveError[] = "An error occurred during saving the document: '";

// Whether the content holds a password: a network camera's address with one, or a password
// property of an action (FTP, mail) that is set.
bool HoldsSecrets(const CTavrixDocData& data) {
    for (const auto& [id, camera] : data.m_cameras) {
        if (HasPassword(camera->m_videoDeviceDN) || HasPassword(camera->m_detectDeviceDN)) {
            return true;
        }
    }
    for (const auto& [id, chain] : data.m_chains) {
        for (size_t i = 0; i < chain->GetActionCount(); ++i) {
            const CSEventAction* action = chain->GetAction(i);
            for (const CSEAPropertyRow* row = action->GetPropertyTable();
                 row != nullptr && row->key != nullptr; ++row) {
                if (row->type == SEAPropertyType::Password && !action->GetStringProp(row->key).empty()) {
                    return true;
                }
            }
        }
    }
    return false;
}

// A file holding passwords is readable by its owner only, whatever its mode was before.
void KeepPrivate(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) == 0 && (status.st_mode & 077) != 0) {
        ::fchmod(fd, status.st_mode & 07700);
    }
}

void KeepPrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        KeepPrivate(fd);
        ::close(fd);
    }
}

std::string UsableFolder(GUserDirectory which) {
    const char* folder = g_get_user_special_dir(which);
    if (folder && *folder && platform::MakeDirs(folder)) {
        return folder;
    }
    return {};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CTavrixDocData

std::string CTavrixDocData::DefaultRecordPath() {
    if (std::string videos = UsableFolder(G_USER_DIRECTORY_VIDEOS); !videos.empty()) {
        if (platform::MakeDirs(videos + "/Tavrix")) {
            return videos + "/Tavrix";
        }
    }
    const std::string home = platform::HomeDir() + "/Videos/Tavrix";
    if (platform::MakeDirs(home)) {
        return home;
    }
    const std::string data = platform::XdgDataHome() + "/Tavrix/Recordings";
    platform::MakeDirs(data);
    return data;
}

namespace {

bool HasKey(CConfigStore& store, const std::string& key) {
    sqlite3x::sqlite3_command find(store.Connection(), "select count(*) from t_config_data where id = ?;");
    find.bind(1, key);
    return find.executeint() > 0;
}

} // namespace

void CTavrixDocData::ReadRetention(CConfigStore& store, int32_t& days, int32_t& maxGiB, int32_t& minFreeGiB) {
    days = HasKey(store, "Global.RetentionDays") ? store.GetInt("Global.RetentionDays") : 0;
    maxGiB = HasKey(store, "Global.RetentionMaxGiB") ? store.GetInt("Global.RetentionMaxGiB") : 0;
    minFreeGiB = HasKey(store, "Global.MinFreeGiB") ? store.GetInt("Global.MinFreeGiB") : kDefaultMinFreeGiB;
}

void CTavrixDocData::SaveRetention(CConfigStore& store) const {
    store.PutInt("Global.RetentionDays", m_retentionDays);
    store.PutInt("Global.RetentionMaxGiB", m_retentionMaxGiB);
    store.PutInt("Global.MinFreeGiB", m_minFreeGiB);
}

CCamera* CTavrixDocData::AddCamera() {
    CCamera* camera = m_cameras.Add();
    if (camera) {
        camera->m_camName = "Camera_" + std::to_string(camera->GetId());
    }
    return camera;
}

CTimeSchedule* CTavrixDocData::AddSchedule() {
    CTimeSchedule* schedule = m_schedules.Add();
    if (schedule) {
        schedule->SetName("Schedule_" + std::to_string(schedule->GetId()));
        schedule->AddEntry();
    }
    return schedule;
}

CSEventActionChain* CTavrixDocData::AddChain() {
    CSEventActionChain* chain = m_chains.Add();
    if (chain) {
        chain->SetName("EventActionChain_" + std::to_string(chain->GetId()));
    }
    return chain;
}

bool CTavrixDocData::IsScheduleUsed(int32_t scheduleId) const {
    for (const auto& [id, camera] : m_cameras) {
        if (camera->m_timeScheduleId == scheduleId) {
            return true;
        }
    }
    return false;
}

bool CTavrixDocData::IsChainUsed(int32_t chainId) const {
    for (const auto& [id, camera] : m_cameras) {
        if (camera->UsesChain(chainId)) {
            return true;
        }
    }
    return false;
}

bool CTavrixDocData::DeleteSchedule(int32_t scheduleId, std::string& message) {
    message.clear();
    if (IsScheduleUsed(scheduleId)) {
        message = kScheduleInUseMessage;
        return false;
    }
    return m_schedules.Remove(scheduleId);
}

bool CTavrixDocData::DeleteChain(int32_t chainId, std::string& message) {
    message.clear();
    if (IsChainUsed(chainId)) {
        message = kChainInUseMessage;
        return false;
    }
    return m_chains.Remove(chainId);
}

// ---------------------------------------------------------------------------------------------
// CTavrixDoc: life cycle

CTavrixDoc::~CTavrixDoc() {
    CloseConnection();
}

void CTavrixDoc::CloseConnection() {
    try {
        m_connection.close();
    } catch (const sqlite3x::database_error& e) {
        TRACE("CTavrixDoc::CloseConnection() close failed: %s", e.what());
    }
}

bool CTavrixDoc::OpenDb(const std::string& path, bool create) {
    int64_t version = 0;
    try {
        version = create ? DocumentSchema::CreateDocumentDb(m_connection, path)
                         : DocumentSchema::OpenDocumentDb(m_connection, path);
    } catch (const DocumentSchema::not_a_document& e) {
        CloseConnection();
        ShowMessageBox(e.what());
        return false;
    } catch (const sqlite3x::database_error& e) {
        CloseConnection();
        ShowMessageBox(kOpenError + std::string(e.what()) + "'");
        return false;
    }
    if (version > DocumentSchema::kVersion) {
        CloseConnection();
        ShowMessageBox(DocumentSchema::kNewerVersionMessage);
        return false;
    }
    return true;
}

bool CTavrixDoc::OnNewDocument(const std::string& path) {
    TRACE("CTavrixDoc::OnNewDocument() '%s'", path.c_str());
    SetModifiedFlag(true);
    if (!OpenDb(path, true)) {
        return false;
    }
    CTavrixDocData data;
    CCamera* camera = data.m_cameras.Add();
    camera->m_camName = "Default";
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_data = std::move(data);
    m_path = path;
    return true;
}

bool CTavrixDoc::OnOpenDocument(const std::string& path) {
    TRACE("CTavrixDoc::OnOpenDocument() '%s'", path.c_str());
    SetModifiedFlag(false);
    if (!OpenDb(path)) {
        return false;
    }
    CTavrixDocData data;
    try {
        LoadData(m_connection, data);
    } catch (const std::exception& e) {
        // database_error ("nothing to read", SQLite's messages), the GUID length check
        // (std::out_of_range) and anything a damaged file may provoke end the open alike.
        CloseConnection();
        ShowMessageBox(kOpenError + std::string(e.what()) + "'");
        return false;
    } catch (const CBaseException& e) {
        CloseConnection();
        ShowMessageBox(kOpenError + e.GetMessage() + "'");
        return false;
    }
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_data = std::move(data);
    m_path = path;
    return true;
}

void CTavrixDoc::LoadData(sqlite3x::sqlite3_connection& connection, CTavrixDocData& data) {
    CConfigStore store(connection);
    // One read transaction for the whole load: every key is read from the same state of the file,
    // and SQLite takes its file lock once instead of once a key.
    sqlite3x::sqlite3_transaction transaction(connection);
    data.m_activateAtStartup = store.GetBool("Global.ActivateAtStartup");
    data.m_commonFilePath = store.GetString("Global.CommonFilePath");
    data.LoadRetention(store);
    data.m_cameras.Load("Cameras", store);
    data.m_schedules.Load("Schedules", store);
    data.m_chains.Load("EventActionChains", store);
    transaction.commit();
}

void CTavrixDoc::WriteData(sqlite3x::sqlite3_connection& connection, const CTavrixDocData& data) {
    CConfigStore store(connection);
    sqlite3x::sqlite3_transaction transaction(connection);
    connection.executenonquery("delete from t_config_data");
    store.PutBool("Global.ActivateAtStartup", data.m_activateAtStartup);
    store.PutString("Global.CommonFilePath", data.m_commonFilePath);
    data.m_cameras.Save("Cameras", store);
    data.m_schedules.Save("Schedules", store);
    data.m_chains.Save("EventActionChains", store);
    // Keys added after the format was fixed come after it.
    data.SaveRetention(store);
    transaction.commit();
}

bool CTavrixDoc::OnSaveDocument() {
    TRACE("CTavrixDoc::OnSaveDocument() entered");
    try {
        m_connection.ensureopen();
        // Only the user interface thread changes the content, and it is the one saving: reading
        // it under the shared lock lets camera threads go on reading meanwhile.
        std::shared_lock<std::shared_mutex> lock(m_lock);
        WriteData(m_connection, m_data);
        if (HoldsSecrets(m_data)) {
            KeepPrivate(m_path); // m_path is read under the same lock
        }
    } catch (const sqlite3x::database_error& e) {
        ShowMessageBox(kSaveError + std::string(e.what()) + "'");
        return false;
    }
    SetModifiedFlag(false);
    return true;
}

bool CTavrixDoc::WriteRetention(int32_t days, int32_t maxGiB, int32_t minFreeGiB, std::string& error) {
    if (GetPathName().empty() || !m_connection.is_open()) {
        error = "the document was never saved";
        return false;
    }
    try {
        // The keys SaveRetention writes (a CTavrixDocData would make its default record folder).
        // t_config_data has no unique key: the old rows go first, or a read would find them.
        CConfigStore store(m_connection);
        sqlite3x::sqlite3_transaction transaction(m_connection);
        m_connection.executenonquery("delete from t_config_data where id in "
                                     "('Global.RetentionDays','Global.RetentionMaxGiB','Global.MinFreeGiB')");
        store.PutInt("Global.RetentionDays", days);
        store.PutInt("Global.RetentionMaxGiB", maxGiB);
        store.PutInt("Global.MinFreeGiB", minFreeGiB);
        transaction.commit();
    } catch (const sqlite3x::database_error& e) {
        error = e.what();
        TRACE("CTavrixDoc::WriteRetention() '%s': %s", GetPathName().c_str(), error.c_str());
        return false;
    }
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_data.m_retentionDays = days;
    m_data.m_retentionMaxGiB = maxGiB;
    m_data.m_minFreeGiB = minFreeGiB;
    ++m_data.m_retentionWrites;
    return true;
}

bool CTavrixDoc::OnSaveDocumentAs(const std::string& path) {
    TRACE("CTavrixDoc::OnSaveDocumentAs() '%s'", path.c_str());
    // The document is written completely into a new file beside the target first; renaming it over
    // the target is atomic, so the target is either untouched or the complete new document.
    std::string temporary = platform::DirName(path) + "/." + platform::BaseName(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        ShowMessageBox(kSaveError + std::string("unable to open database") + "'");
        return false;
    }
    // The temporary file is the owner's only (mkstemp); the result keeps the mode of a file it
    // replaces, and a new file stays the owner's only: documents hold passwords.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
    }
    {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        if (HoldsSecrets(m_data)) {
            KeepPrivate(fd);
        }
    }
    ::close(fd);
    try {
        sqlite3x::sqlite3_connection target;
        DocumentSchema::CreateDocumentDb(target, temporary);
        {
            std::shared_lock<std::shared_mutex> lock(m_lock);
            WriteData(target, m_data);
        }
        target.close();
        if (std::rename(temporary.c_str(), path.c_str()) != 0) {
            throw sqlite3x::database_error("unable to open database");
        }
    } catch (const sqlite3x::database_error& e) {
        std::remove(temporary.c_str());
        ShowMessageBox(kSaveError + std::string(e.what()) + "'");
        return false;
    }
    // The new file is complete: the document continues on it.
    const std::string oldPath = GetPathName();
    CloseConnection();
    try {
        m_connection.open(path, sqlite3x::open_mode::readwrite);
    } catch (const sqlite3x::database_error& e) {
        // Saved, but the new file cannot be reopened: stay on the old one.
        ShowMessageBox(kOpenError + std::string(e.what()) + "'");
        OpenDb(oldPath);
        return false;
    }
    {
        std::unique_lock<std::shared_mutex> lock(m_lock);
        m_path = path;
    }
    SetModifiedFlag(false);
    return true;
}

void CTavrixDoc::OnCloseDocument() {
    TRACE("CTavrixDoc::OnCloseDocument() '%s'", GetPathName().c_str());
    CloseConnection();
}

std::string CTavrixDoc::GetPathName() const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_path;
}

std::string CTavrixDoc::GetTitle() const {
    std::string name = platform::BaseName(GetPathName());
    const size_t extension = std::char_traits<char>::length(kExtension);
    if (name.size() > extension && name.compare(name.size() - extension, extension, kExtension) == 0) {
        name.resize(name.size() - extension);
    }
    return name;
}

// ---------------------------------------------------------------------------------------------
// CTavrixDoc: content and lookups

CTavrixDocData CTavrixDoc::GetData() const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_data;
}

void CTavrixDoc::SetData(const CTavrixDocData& data) {
    CTavrixDocData copy(data); // copied outside the lock
    {
        std::unique_lock<std::shared_mutex> lock(m_lock);
        if (copy.m_retentionWrites != m_data.m_retentionWrites) {
            copy.m_retentionDays = m_data.m_retentionDays;
            copy.m_retentionMaxGiB = m_data.m_retentionMaxGiB;
            copy.m_minFreeGiB = m_data.m_minFreeGiB;
            copy.m_retentionWrites = m_data.m_retentionWrites;
        }
        std::swap(m_data, copy);
    }
    SetModifiedFlag(true);
}

std::optional<CCamera> CTavrixDoc::FindCamera(int32_t cameraId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CCamera* camera = m_data.m_cameras.Find(cameraId);
    return camera ? std::optional<CCamera>(*camera) : std::nullopt;
}

std::optional<CSEventActionChain> CTavrixDoc::FindChain(int32_t chainId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CSEventActionChain* chain = m_data.m_chains.Find(chainId);
    return chain ? std::optional<CSEventActionChain>(*chain) : std::nullopt;
}

std::optional<CTimeSchedule> CTavrixDoc::FindSchedule(int32_t scheduleId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CTimeSchedule* schedule = m_data.m_schedules.Find(scheduleId);
    return schedule ? std::optional<CTimeSchedule>(*schedule) : std::nullopt;
}

std::vector<int32_t> CTavrixDoc::GetCameraIds() const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    std::vector<int32_t> ids;
    for (const auto& [id, camera] : m_data.m_cameras) {
        ids.push_back(id);
    }
    return ids;
}

std::string CTavrixDoc::GetCameraName(int32_t cameraId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CCamera* camera = m_data.m_cameras.Find(cameraId);
    return camera ? camera->m_camName : std::string();
}

int32_t CTavrixDoc::GetChainForEvent(int32_t cameraId, int32_t kind) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CCamera* camera = m_data.m_cameras.Find(cameraId);
    return camera ? camera->GetChainId(kind) : -1;
}

bool CTavrixDoc::CameraUsesChain(int32_t cameraId, int32_t chainId) const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    const CCamera* camera = m_data.m_cameras.Find(cameraId);
    return camera && camera->UsesChain(chainId);
}

bool CTavrixDoc::GetActivateAtStartup() const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_data.m_activateAtStartup;
}

std::string CTavrixDoc::GetCommonFilePath() const {
    std::shared_lock<std::shared_mutex> lock(m_lock);
    return m_data.m_commonFilePath;
}

// ---------------------------------------------------------------------------------------------
// CTavrixDoc: camera events

bool CTavrixDoc::ActivateChain(int32_t cameraId, int32_t kind) {
    CSEventRecord record;
    return ActivateChain(cameraId, kind, record);
}

std::optional<CSEventActionChain> CTavrixDoc::PrepareChain(int32_t cameraId, int32_t kind,
                                                           CSEventRecord& record, bool& result) {
    result = true;
    record.time = static_cast<int64_t>(std::time(nullptr));
    record.document = this;
    record.cameraId = cameraId;
    record.kind = kind;

    std::optional<CSEventActionChain> chain;
    int32_t chainId = -1;
    std::string cameraName;
    {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        const CCamera* camera = m_data.m_cameras.Find(cameraId);
        chainId = camera ? camera->GetChainId(kind) : -1;
        if (chainId == -1) {
            return std::nullopt;
        }
        cameraName = camera->m_camName;
        if (const CSEventActionChain* found = m_data.m_chains.Find(chainId)) {
            chain.emplace(*found); // run a copy, outside the lock
        }
    }
    const std::string title = GetTitle();
    if (!chain) {
        TRACE("CTavrixDoc::ActivateChain() camera %d names chain %d which does not exist", cameraId, chainId);
        CNotificationLog::Instance().AddEntry(title, cameraName,
                                              "Unable to activate chain " + std::to_string(chainId) +
                                                  " for event '" + record.GetEventName() +
                                                  "': the document holds no such chain");
        result = false;
        return std::nullopt;
    }
    CNotificationLog::Instance().AddEntry(title, cameraName,
                                          "Activate chain '" + chain->GetName() + "' for event '" +
                                              record.GetEventName() + "'");
    return chain;
}

bool CTavrixDoc::ActivateChain(int32_t cameraId, int32_t kind, CSEventRecord& record) {
    bool result = true;
    std::optional<CSEventActionChain> chain = PrepareChain(cameraId, kind, record, result);
    return chain ? chain->Run(record) : result;
}

void CTavrixDoc::PostChain(int32_t cameraId, int32_t kind, CSEventRecord record) {
    CCameraHub& hub = CCameraHub::Instance();
    if (hub.HasListeners()) {
        CCameraEventNote note;
        note.documentName = GetTitle();
        note.documentPath = GetPathName();
        note.cameraId = cameraId;
        note.cameraName = GetCameraName(cameraId);
        note.kind = kind;
        note.eventName = GetEventKindName(kind);
        note.recordFile = record.fileName;
        note.unixTimeMs = CCameraHub::NowUnixMs();
        hub.PublishEvent(note);
    }
    bool result = true;
    if (std::optional<CSEventActionChain> chain = PrepareChain(cameraId, kind, record, result)) {
        m_chainRunner.Post(cameraId, std::move(*chain), std::move(record));
    }
}
