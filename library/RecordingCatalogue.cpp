#include "library/RecordingCatalogue.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <unistd.h>

namespace {

// The columns of a row in the order Query reads them; the thumbnail is the last one.
const char kColumns[] =
    "id,doc_path,doc_name,cam_id,cam_name,file_path,container,codec,start_utc,start_local,end_utc,"
    "end_local,duration_ms,size_bytes,frames,start_event,state,keep,writer_pid,motion";

std::string MotionText(const std::vector<int64_t>& moments) {
    std::string text;
    for (const int64_t ms : moments) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(ms);
    }
    return text;
}

std::vector<int64_t> ParseMotion(const std::string& text) {
    std::vector<int64_t> moments;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(part.c_str(), &end, 10);
        if (errno == 0 && end != part.c_str() && *end == '\0') {
            moments.push_back(value);
        }
    }
    return moments;
}

// Binds the fields of a row from index 1 on in the order of kColumns without id; returns the next
// index.
int BindRow(sqlite3x::sqlite3_command& command, const CRecording& r) {
    int i = 1;
    command.bind(i++, r.documentPath);
    command.bind(i++, r.documentName);
    command.bind(i++, r.cameraId);
    command.bind(i++, r.cameraName);
    command.bind(i++, r.filePath);
    command.bind(i++, r.container);
    command.bind(i++, r.codec);
    command.bind(i++, r.startUtcMs);
    command.bind(i++, r.startLocal.empty() ? CRecordingCatalogue::LocalText(r.startUtcMs) : r.startLocal);
    command.bind(i++, r.endUtcMs);
    command.bind(i++, r.endLocal.empty() && r.endUtcMs != 0 ? CRecordingCatalogue::LocalText(r.endUtcMs)
                                                            : r.endLocal);
    command.bind(i++, r.durationMs);
    command.bind(i++, r.sizeBytes);
    command.bind(i++, r.frames);
    command.bind(i++, r.startEvent);
    command.bind(i++, static_cast<int32_t>(r.state));
    command.bind(i++, static_cast<int32_t>(r.keep ? 1 : 0));
    command.bind(i++, r.writerPid);
    command.bind(i++, MotionText(r.motionMs));
    return i;
}

CRecording ReadRow(const sqlite3x::sqlite3_reader& reader, bool withThumbnail) {
    CRecording r;
    int i = 0;
    r.id = reader.getint64(i++);
    r.documentPath = reader.getstring(i++);
    r.documentName = reader.getstring(i++);
    r.cameraId = reader.getint(i++);
    r.cameraName = reader.getstring(i++);
    r.filePath = reader.getstring(i++);
    r.container = reader.getstring(i++);
    r.codec = reader.getstring(i++);
    r.startUtcMs = reader.getint64(i++);
    r.startLocal = reader.getstring(i++);
    r.endUtcMs = reader.getint64(i++);
    r.endLocal = reader.getstring(i++);
    r.durationMs = reader.getint64(i++);
    r.sizeBytes = reader.getint64(i++);
    r.frames = reader.getint64(i++);
    r.startEvent = reader.getstring(i++);
    const int32_t state = reader.getint(i++);
    r.state = state >= 0 && state <= 2 ? static_cast<ERecordingState>(state) : ERecordingState::Finished;
    r.keep = reader.getint(i++) != 0;
    r.writerPid = reader.getint(i++);
    r.motionMs = ParseMotion(reader.getstring(i++));
    if (withThumbnail) {
        r.thumbnail = reader.getblob(i++);
    }
    return r;
}

// A where-clause parameter.
struct CParam {
    bool text;
    std::string textValue;
    int64_t number;
};

} // namespace

CRecordingCatalogue::~CRecordingCatalogue() {
    try {
        Close();
    } catch (const std::exception&) {
    }
}

std::string CRecordingCatalogue::LocalText(int64_t unixMs) {
    const time_t seconds = static_cast<time_t>(unixMs / 1000);
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr) {
        return {};
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void CRecordingCatalogue::Fail(const char* operation, const std::exception& e) {
    TRACE("CRecordingCatalogue::%s failed: %s", operation, e.what());
    THROW_USERDB(std::string("CRecordingCatalogue::") + operation, e.what());
}

void CRecordingCatalogue::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_path = path;
    int64_t version = 0;
    try {
        platform::MakeDirs(platform::DirName(path));
        m_connection.open(path);
        m_connection.setbusytimeout(kBusyTimeoutMs);
        CreateTables();
        version = m_connection.executeint64("select max(version) from t_recording_schema;");
    } catch (const sqlite3x::database_error& e) {
        try {
            m_connection.close();
        } catch (const sqlite3x::database_error&) {
        }
        Fail("Open", e);
    }
    if (version > kVersion) {
        m_connection.close();
        THROW_USERDB("CRecordingCatalogue::Open", kNewerVersionInfo);
    }
}

void CRecordingCatalogue::CreateTables() {
    if (m_connection.executeint("select count(*) from sqlite_master where name='t_recording_schema';") != 0) {
        return;
    }
    sqlite3x::sqlite3_transaction transaction(m_connection);
    // Another process may have created them meanwhile: the check is repeated inside the lock.
    if (m_connection.executeint("select count(*) from sqlite_master where name='t_recording_schema';") != 0) {
        return;
    }
    m_connection.executenonquery("create table t_recording_schema(version number)");
    m_connection.executenonquery("insert into t_recording_schema values(" + std::to_string(kVersion) + ")");
    m_connection.executenonquery(
        "create table t_recording (id integer primary key autoincrement, doc_path text not null, doc_name text not null,"
        " cam_id integer not null, cam_name text not null, file_path text not null, container text not null,"
        " codec text not null, start_utc integer not null, start_local text not null, end_utc integer not "
        "null,"
        " end_local text not null, duration_ms integer not null, size_bytes integer not null,"
        " frames integer not null, start_event text not null, state integer not null, keep integer not null,"
        " writer_pid integer not null, motion text not null, thumbnail blob)");
    m_connection.executenonquery("create unique index i_recording_file on t_recording(file_path)");
    m_connection.executenonquery("create index i_recording_start on t_recording(start_utc, id)");
    m_connection.executenonquery("create index i_recording_doc on t_recording(doc_path, start_utc)");
    transaction.commit();
}

void CRecordingCatalogue::Close() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_connection.is_open()) {
        m_connection.close();
    }
}

bool CRecordingCatalogue::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_connection.is_open();
}

int64_t CRecordingCatalogue::Insert(const CRecording& recording) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        sqlite3x::sqlite3_transaction transaction(m_connection);
        sqlite3x::sqlite3_command remove(m_connection, "delete from t_recording where file_path = ?;");
        remove.bind(1, recording.filePath);
        remove.executenonquery();
        sqlite3x::sqlite3_command insert(m_connection,
                                         std::string("insert into t_recording (") + (kColumns + 3) +
                                             ",thumbnail) values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?);");
        const int next = BindRow(insert, recording);
        if (recording.thumbnail.empty()) {
            insert.bind(next);
        } else {
            insert.bind(next, recording.thumbnail.data(), static_cast<int>(recording.thumbnail.size()));
        }
        insert.executenonquery();
        const int64_t id = m_connection.insertid();
        transaction.commit();
        return id;
    } catch (const sqlite3x::database_error& e) {
        Fail("Insert", e);
    }
}

void CRecordingCatalogue::Update(const CRecording& r) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        std::string sql = "update t_recording set "
                          "doc_path=?,doc_name=?,cam_id=?,cam_name=?,file_path=?,container=?,codec=?,"
                          "start_utc=?,start_local=?,end_utc=?,end_local=?,duration_ms=?,size_bytes=?,frames="
                          "?,start_event=?,"
                          "state=?,keep=?,writer_pid=?,motion=?";
        sql += r.thumbnail.empty() ? " where id=?;" : ",thumbnail=? where id=?;";
        sqlite3x::sqlite3_command update(m_connection, sql);
        int next = BindRow(update, r);
        if (!r.thumbnail.empty()) {
            update.bind(next++, r.thumbnail.data(), static_cast<int>(r.thumbnail.size()));
        }
        update.bind(next, r.id);
        update.executenonquery();
    } catch (const sqlite3x::database_error& e) {
        Fail("Update", e);
    }
}

std::vector<CRecording> CRecordingCatalogue::Query(const std::string& where,
                                                   const std::vector<std::string>& texts,
                                                   const std::vector<int64_t>& numbers,
                                                   const std::string& tail, bool withThumbnail) {
    // Texts are bound first, then numbers, in the order of their "?" in where and tail.
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<CRecording> rows;
    try {
        std::string sql = std::string("select ") + kColumns + (withThumbnail ? ",thumbnail" : "") +
                          " from t_recording" + (where.empty() ? "" : " where " + where) + " " + tail + ";";
        sqlite3x::sqlite3_command query(m_connection, sql);
        int i = 1;
        for (const std::string& text : texts) {
            query.bind(i++, text);
        }
        for (const int64_t number : numbers) {
            query.bind(i++, number);
        }
        sqlite3x::sqlite3_reader reader = query.executereader();
        while (reader.read()) {
            rows.push_back(ReadRow(reader, withThumbnail));
        }
    } catch (const sqlite3x::database_error& e) {
        Fail("List", e);
    }
    return rows;
}

namespace {

// The where clause of a filter: text conditions first, then numeric ones (Query's binding order).
std::string FilterWhere(const CRecordingFilter& f, std::vector<std::string>& texts,
                        std::vector<int64_t>& numbers) {
    std::string where;
    const auto add = [&where](const char* condition) {
        where += where.empty() ? "" : " and ";
        where += condition;
    };
    if (!f.documentPath.empty()) {
        add("doc_path = ?");
        texts.push_back(f.documentPath);
    }
    if (!f.documentName.empty()) {
        add("doc_name = ?");
        texts.push_back(f.documentName);
    }
    if (!f.cameraName.empty()) {
        add("cam_name = ?");
        texts.push_back(f.cameraName);
    }
    if (f.sinceUtcMs != 0) {
        add("start_utc >= ?");
        numbers.push_back(f.sinceUtcMs);
    }
    if (f.untilUtcMs != 0) {
        add("start_utc < ?");
        numbers.push_back(f.untilUtcMs);
    }
    if (!f.includeMissing) {
        add("state <> 2");
    }
    return where;
}

} // namespace

std::vector<CRecording> CRecordingCatalogue::List(const CRecordingFilter& filter) {
    std::vector<std::string> texts;
    std::vector<int64_t> numbers;
    const std::string where = FilterWhere(filter, texts, numbers);
    numbers.push_back(filter.limit);
    numbers.push_back(filter.offset < 0 ? 0 : filter.offset);
    return Query(where, texts, numbers, "order by start_utc desc, id desc limit ? offset ?",
                 filter.withThumbnails);
}

int64_t CRecordingCatalogue::Count(const CRecordingFilter& filter) {
    std::vector<std::string> texts;
    std::vector<int64_t> numbers;
    const std::string where = FilterWhere(filter, texts, numbers);
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        sqlite3x::sqlite3_command count(m_connection, "select count(*) from t_recording" +
                                                          (where.empty() ? "" : " where " + where) + ";");
        int i = 1;
        for (const std::string& text : texts) {
            count.bind(i++, text);
        }
        for (const int64_t number : numbers) {
            count.bind(i++, number);
        }
        return count.executeint64();
    } catch (const sqlite3x::database_error& e) {
        Fail("Count", e);
    }
}

std::optional<CRecording> CRecordingCatalogue::Get(int64_t id, bool withThumbnail) {
    std::vector<CRecording> rows = Query("id = ?", {}, {id}, "", withThumbnail);
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::move(rows.front());
}

std::optional<CRecording> CRecordingCatalogue::FindByPath(const std::string& filePath) {
    std::vector<CRecording> rows = Query("file_path = ?", {filePath}, {}, "", false);
    if (rows.empty()) {
        return std::nullopt;
    }
    return std::move(rows.front());
}

std::vector<CRecording> CRecordingCatalogue::ListRemovable(const std::string& documentPath) {
    return Query("doc_path = ? and state = 1 and keep = 0", {documentPath}, {}, "order by start_utc, id",
                 false);
}

std::vector<CRecording> CRecordingCatalogue::ListAll() {
    return Query("", {}, {}, "order by start_utc, id", false);
}

std::vector<std::string> CRecordingCatalogue::Documents() {
    std::lock_guard<std::mutex> lock(m_lock);
    std::vector<std::string> documents;
    try {
        sqlite3x::sqlite3_command query(m_connection, "select distinct doc_path from t_recording;");
        sqlite3x::sqlite3_reader reader = query.executereader();
        while (reader.read()) {
            documents.push_back(reader.getstring(0));
        }
    } catch (const sqlite3x::database_error& e) {
        Fail("Documents", e);
    }
    return documents;
}

bool CRecordingCatalogue::SetKeep(int64_t id, bool keep) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        sqlite3x::sqlite3_command update(m_connection, "update t_recording set keep = ? where id = ?;");
        update.bind(1, static_cast<int32_t>(keep ? 1 : 0));
        update.bind(2, id);
        update.executenonquery();
        return m_connection.executeint("select changes();") > 0;
    } catch (const sqlite3x::database_error& e) {
        Fail("SetKeep", e);
    }
}

bool CRecordingCatalogue::SetState(int64_t id, ERecordingState state) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        sqlite3x::sqlite3_command update(m_connection, "update t_recording set state = ? where id = ?;");
        update.bind(1, static_cast<int32_t>(state));
        update.bind(2, id);
        update.executenonquery();
        return m_connection.executeint("select changes();") > 0;
    } catch (const sqlite3x::database_error& e) {
        Fail("SetState", e);
    }
}

bool CRecordingCatalogue::Remove(int64_t id) {
    std::lock_guard<std::mutex> lock(m_lock);
    try {
        sqlite3x::sqlite3_command remove(m_connection, "delete from t_recording where id = ?;");
        remove.bind(1, id);
        remove.executenonquery();
        return m_connection.executeint("select changes();") > 0;
    } catch (const sqlite3x::database_error& e) {
        Fail("Remove", e);
    }
}

bool CRecordingCatalogue::Delete(int64_t id, std::string* error, bool force) {
    const std::optional<CRecording> row = Get(id, false);
    const auto refuse = [error](const std::string& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    if (!row) {
        return refuse("no such recording");
    }
    if (!force && row->state == ERecordingState::Writing) {
        return refuse("the recording is being written");
    }
    if (!force && row->keep) {
        return refuse("the recording is marked keep");
    }
    if (::unlink(row->filePath.c_str()) != 0 && errno != ENOENT) {
        return refuse(row->filePath + ": " + std::strerror(errno));
    }
    Remove(id);
    return true;
}
