#include "persistence/ConfigStore.h"

#include "persistence/sqlite3x.h"

#include <climits>

namespace {

const char kInsertInt[] = "insert into t_config_data(id,int_value) values (?,?)";
const char kInsertString[] = "insert into t_config_data(id,string_value) values (?,?)";
const char kInsertBlob[] = "insert into t_config_data(id,blob_value) values (?,?)";
const char kSelectInt[] = "select int_value from t_config_data where id = ?";
const char kSelectString[] = "select string_value from t_config_data where id = ?";
const char kSelectBlob[] = "select blob_value from t_config_data where id = ?";

// Runs a single-value select for key and leaves the reader on its first row; "nothing to read"
// when the key has no row.
sqlite3x::sqlite3_reader SelectFirst(sqlite3x::sqlite3_command& command, const std::string& key) {
    command.bind(1, key);
    sqlite3x::sqlite3_reader reader = command.executereader();
    if (!reader.read()) {
        throw sqlite3x::database_error("nothing to read");
    }
    return reader;
}

const char kIntegerExpected[] = "type mismatch (integer expected)";
const char kTextExpected[] = "type mismatch (text expected)";
const char kBlobExpected[] = "type mismatch (byte string expected)";

// A row whose value column does not hold the kind asked for (a hand-edited file, or a key written
// with another kind) is refused rather than read as 0 or as an empty text: a camera with a frame
// rate of 0 or a schedule without days would otherwise load silently.
void ExpectKind(const sqlite3x::sqlite3_reader& reader, sqlite3x::column_type kind, const char* text) {
    if (reader.getcoltype(0) != kind) {
        throw sqlite3x::database_error(text);
    }
}

} // namespace

void CConfigStore::PutInt(const std::string& key, int32_t value) {
    sqlite3x::sqlite3_command command(m_connection, kInsertInt);
    command.bind(1, key);
    command.bind(2, value);
    command.executenonquery();
}

void CConfigStore::PutBool(const std::string& key, bool value) {
    PutInt(key, value ? 1 : 0);
}

void CConfigStore::PutString(const std::string& key, const std::string& value) {
    sqlite3x::sqlite3_command command(m_connection, kInsertString);
    command.bind(1, key);
    command.bindtext_exact(2, value);
    command.executenonquery();
}

void CConfigStore::PutGuid(const std::string& key, const GUID& value) {
    sqlite3x::sqlite3_command command(m_connection, kInsertBlob);
    command.bind(1, key);
    command.bind(2, value);
    command.executenonquery();
}

void CConfigStore::PutBlob(const std::string& key, size_t byteCount, const void* bytes) {
    if (byteCount > static_cast<size_t>(INT_MAX)) {
        throw sqlite3x::database_error("string or blob too big");
    }
    sqlite3x::sqlite3_command command(m_connection, kInsertBlob);
    command.bind(1, key);
    command.bind(2, bytes, static_cast<int>(byteCount));
    command.executenonquery();
}

int32_t CConfigStore::GetInt(const std::string& key) {
    sqlite3x::sqlite3_command command(m_connection, kSelectInt);
    auto reader = SelectFirst(command, key);
    ExpectKind(reader, sqlite3x::column_type::integer, kIntegerExpected);
    const int64_t value = reader.getint64(0);
    if (value < INT32_MIN || value > INT32_MAX) {
        throw sqlite3x::database_error(kIntegerExpected);
    }
    return static_cast<int32_t>(value);
}

bool CConfigStore::GetBool(const std::string& key) {
    sqlite3x::sqlite3_command command(m_connection, kSelectInt);
    auto reader = SelectFirst(command, key);
    ExpectKind(reader, sqlite3x::column_type::integer, kIntegerExpected);
    return reader.getint64(0) == 1;
}

std::string CConfigStore::GetString(const std::string& key) {
    sqlite3x::sqlite3_command command(m_connection, kSelectString);
    auto reader = SelectFirst(command, key);
    // string_value is declared "string", which SQLite gives numeric affinity: files written by
    // other programs may hold a numeric-looking text as a number, and we write such texts as blobs
    // (sqlite3_command::bindtext_exact). All of them read back as their text; only NULL is no text.
    if (reader.getcoltype(0) == sqlite3x::column_type::null) {
        throw sqlite3x::database_error(kTextExpected);
    }
    return reader.getstring(0);
}

GUID CConfigStore::GetGuid(const std::string& key) {
    sqlite3x::sqlite3_command command(m_connection, kSelectBlob);
    return SelectFirst(command, key).getguid(0);
}

std::vector<uint8_t> CConfigStore::GetBlob(const std::string& key) {
    sqlite3x::sqlite3_command command(m_connection, kSelectBlob);
    auto reader = SelectFirst(command, key);
    ExpectKind(reader, sqlite3x::column_type::blob, kBlobExpected);
    return reader.getblob(0);
}
