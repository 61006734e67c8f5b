#pragma once
// A document: one surveillance set-up (cameras, named time schedules, named event-action chains,
// whether cameras are activated on opening, the folder recordings go to), stored in one SQLite
// file ".tvrx" whose connection stays open from creation or opening until the document is closed.
//
// Threads and the document lock:
// - Creating, opening, saving, closing and editing happen on the user interface thread. Editing
//   replaces content under the document lock: SetData (the properties dialogs' copy assigned back
//   on OK) or Edit (a function run under the lock).
// - Camera, schedule-service, countdown and recording threads read the document while it exists.
//   They use the lookups below, which take the lock shortly and return copies (FindCamera,
//   FindChain, FindSchedule, GetCameraName, ...), or Read to look at several things at once.
//   ActivateChain copies the chain under the lock and runs the copy without it, so a chain may
//   run for seconds (mail, FTP) while the user edits and saves the document. PostChain, which the
//   cameras and recordings use, hands that copy to the document's chain runner instead, so the
//   raising thread never waits for an action; the runner ends first when the document goes.
// - The document lock is innermost: it is taken after any camera or service lock and never held
//   while calling out of this class. Read and Edit must not call back into the document.

#include "actions/CSEventActionChain.h"
#include "actions/CSEventRecord.h"
#include "actions/EventChainRunner.h"
#include "camera/TimeSchedule.h"
#include "persistence/Camera.h"
#include "persistence/Serializeable.h"
#include "persistence/sqlite3x.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

class CConfigStore;

// The content of a document, copied whole by the properties dialogs.
struct CTavrixDocData {
    SerializeableMap<CTimeSchedule> m_schedules;        // "Schedules"
    SerializeableMap<CCamera> m_cameras;                // "Cameras"
    SerializeableMap<CSEventActionChain> m_chains;      // "EventActionChains"
    bool m_activateAtStartup = false;                   // "Global.ActivateAtStartup"
    std::string m_commonFilePath = DefaultRecordPath(); // "Global.CommonFilePath"
    // Retention of the recordings in the record folder. New documents get 30 days, no size limit
    // and 2 GiB of minimum free space; documents written before the keys existed read 0, 0 and 2
    // (nothing is removed except when the disk runs full).
    int32_t m_retentionDays = kNewRetentionDays; // "Global.RetentionDays", 0 keeps for ever
    int32_t m_retentionMaxGiB = 0;               // "Global.RetentionMaxGiB", 0 for no limit
    int32_t m_minFreeGiB = kDefaultMinFreeGiB;   // "Global.MinFreeGiB"
    static constexpr int32_t kNewRetentionDays = 30;
    static constexpr int32_t kDefaultMinFreeGiB = 2;
    // How often CTavrixDoc::WriteRetention changed the values (not stored): a copy taken before
    // such a write and assigned back with SetData keeps the written values, which are newer.
    uint64_t m_retentionWrites = 0;

    // Reads and writes the retention keys (a missing key reads as in a document written before it).
    void LoadRetention(CConfigStore& store) {
        ReadRetention(store, m_retentionDays, m_retentionMaxGiB, m_minFreeGiB);
    }
    void SaveRetention(CConfigStore& store) const;
    static void ReadRetention(CConfigStore& store, int32_t& days, int32_t& maxGiB, int32_t& minFreeGiB);

    // The "Tavrix" folder in the user's videos folder (both created when missing); when that
    // cannot be made, "Videos/Tavrix" in the home folder, else "Tavrix/Recordings" in the user's
    // data folder. Never the temporary folder, whose files do not outlive a restart.
    static std::string DefaultRecordPath();

    // Adds a camera named "Camera_" + its id; null when no id is left.
    CCamera* AddCamera();
    // Adds a schedule named "Schedule_" + its id, with one rule of a new rule's values.
    CTimeSchedule* AddSchedule();
    // Adds a chain named "EventActionChain_" + its id, without actions.
    CSEventActionChain* AddChain();
    // Deletion guards: refused (false, message set) while a camera refers to the schedule or chain.
    // A schedule or chain that does not exist is not deleted either (false, empty message).
    bool DeleteSchedule(int32_t scheduleId, std::string& message);
    bool DeleteChain(int32_t chainId, std::string& message);
    bool IsScheduleUsed(int32_t scheduleId) const;
    bool IsChainUsed(int32_t chainId) const;

    static constexpr const char* kScheduleInUseMessage =
        "The schedule cannot be deleted because it is used in a camera definition.";
    static constexpr const char* kChainInUseMessage =
        "The action chain cannot be deleted because it is used in a camera definition.";
};

class CTavrixDoc {
public:
    static constexpr const char* kExtension = ".tvrx";

    CTavrixDoc() = default;
    // Closes the connection; errors are swallowed.
    ~CTavrixDoc();
    CTavrixDoc(const CTavrixDoc&) = delete;
    CTavrixDoc& operator=(const CTavrixDoc&) = delete;

    // ---- life cycle (user interface thread) ----

    // A new document on the file the user named: opens it (creating the file, readable by its owner
    // only, and the tables and version 1 when missing; an existing document file is not loaded, its
    // content is replaced by the first save; a file of another kind is refused untouched)
    // and adds one camera, id 0, named "Default". Marked modified. False, with a message shown, when
    // the file cannot be used.
    bool OnNewDocument(const std::string& path);
    // Opens and loads a document. False, with the message shown, when the file cannot be opened,
    // is not a Tavrix document ("'FILE' is not a Tavrix document"), is newer than this program ("The format
    // of the file is more recent than this application. Please use a new version of Tavrix.") or fails to
    // load ("An error occurred during opening the document: '" + text + "'"); the file is left as it was.
    bool OnOpenDocument(const std::string& path);
    // Saves into the open file in one transaction. On failure the transaction is rolled back (the
    // file keeps its previous content), "An error occurred during saving the document: '" + text +
    // "'" is shown and false returned.
    bool OnSaveDocument();
    // Save As: writes the document into a new file next to the target, then renames it over the
    // target, and only then switches the connection, the path and the title to the new file. A
    // failure leaves the target, the current file and the document unchanged (message as above).
    bool OnSaveDocumentAs(const std::string& path);
    // Closes the connection (errors swallowed).
    void OnCloseDocument();
    // Sets the retention values and writes just their three keys into the open file at once, in
    // one transaction, as a save writes them; other unsaved changes stay unsaved and the modified
    // flag stays as it was. False, with the reason in error and nothing changed (in memory or in
    // the file), for a document that was never saved or a write that fails.
    bool WriteRetention(int32_t days, int32_t maxGiB, int32_t minFreeGiB, std::string& error);

    bool IsOpen() const { return m_connection.is_open(); }
    bool IsModified() const { return m_modified.load(); }
    void SetModifiedFlag(bool modified = true) { m_modified.store(modified); }
    std::string GetPathName() const;
    // The file's name without folder and without ".tvrx": the document name of log entries.
    std::string GetTitle() const;
    // Opens the connection on a file with the schema check; false (message shown) for a file that
    // cannot be opened, is newer than this program or is not a Tavrix document ("'FILE' is not a
    // Tavrix document"; the file is never written then). With create (a new document) a missing
    // file is created, readable by its owner only, and the tables are created when missing.
    bool OpenDb(const std::string& path, bool create = false);

    // ---- content ----

    // A full copy (for the properties dialogs) and its assignment back, which marks the document
    // modified. A copy taken before a WriteRetention (the web interface may change the retention
    // while a dialog is open) keeps the retention values written since.
    CTavrixDocData GetData() const;
    void SetData(const CTavrixDocData& data);
    // Runs f(const CTavrixDocData&) under the shared document lock and returns its result.
    template <class F>
    auto Read(F&& f) const {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        return f(static_cast<const CTavrixDocData&>(m_data));
    }
    // Runs f(CTavrixDocData&) under the exclusive document lock and marks the document modified.
    template <class F>
    auto Edit(F&& f) {
        struct MarkModified {
            CTavrixDoc& doc;
            ~MarkModified() { doc.SetModifiedFlag(true); }
        } mark{*this};
        std::unique_lock<std::shared_mutex> lock(m_lock);
        return f(m_data);
    }

    // ---- lookups (any thread; copies taken under the document lock) ----

    std::optional<CCamera> FindCamera(int32_t cameraId) const;
    std::optional<CSEventActionChain> FindChain(int32_t chainId) const;
    std::optional<CTimeSchedule> FindSchedule(int32_t scheduleId) const;
    std::vector<int32_t> GetCameraIds() const;
    // The camera's ".CamName"; empty for an unknown camera.
    std::string GetCameraName(int32_t cameraId) const;
    // The chain bound to an event kind of a camera; -1 for none, an unknown camera, or a kind
    // outside 1..7.
    int32_t GetChainForEvent(int32_t cameraId, int32_t kind) const;
    bool CameraUsesChain(int32_t cameraId, int32_t chainId) const;
    bool GetActivateAtStartup() const;
    std::string GetCommonFilePath() const;

    // ---- camera events (any thread) ----

    // Raises a camera event: fills the record's time, document, camera and kind; when the camera
    // binds no chain to the kind (-1, or a kind outside 1..7) returns true and does nothing else.
    // Otherwise logs "Activate chain '<name>' for event '<kind name>'" (document title, camera
    // name) and runs the chain on the calling thread, returning its result. A chain id that names
    // no chain of the document (a hand-edited file) is logged and nothing runs; the result is false.
    bool ActivateChain(int32_t cameraId, int32_t kind);
    bool ActivateChain(int32_t cameraId, int32_t kind, CSEventRecord& record);
    // The same with the record and the "Activate chain" entry made now, but the chain queued on the
    // camera's queue of the chain runner: returns at once.
    void PostChain(int32_t cameraId, int32_t kind, CSEventRecord record = {});
    CEventChainRunner& GetChainRunner() { return m_chainRunner; }

private:
    // Fills the record and logs the activation; the copy of the chain to run, or none (result then
    // says what ActivateChain returns).
    std::optional<CSEventActionChain> PrepareChain(int32_t cameraId, int32_t kind, CSEventRecord& record,
                                                   bool& result);
    // Loads everything from the open connection into data (the load order of the format).
    static void LoadData(sqlite3x::sqlite3_connection& connection, CTavrixDocData& data);
    // Replaces the content of t_config_data by data, in one transaction.
    static void WriteData(sqlite3x::sqlite3_connection& connection, const CTavrixDocData& data);
    void CloseConnection();

    mutable std::shared_mutex m_lock; // guards m_data and m_path; innermost, see above
    CTavrixDocData m_data;
    std::string m_path;
    std::atomic<bool> m_modified{false};
    // Used on the user interface thread only (open, save, close).
    sqlite3x::sqlite3_connection m_connection;
    // Last, so that it ends (its queued chains run or cut) before the data its actions read.
    CEventChainRunner m_chainRunner;
};
