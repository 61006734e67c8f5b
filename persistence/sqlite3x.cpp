#include "persistence/sqlite3x.h"

#include <sqlite3.h>

#include <climits>

namespace sqlite3x {

namespace {

const char kNotOpen[] = "database is not open";
const char kUnableToOpen[] = "unable to open database";
const char kReaderClosed[] = "reader is closed";
const char kNothingToRead[] = "nothing to read";
const char kIndexOutOfRange[] = "index out of range";
const char kGuidExpected[] = "type mismatch (GUID expected)";

[[noreturn]] void ThrowSqlite(::sqlite3* db) {
    throw database_error(db ? sqlite3_errmsg(db) : kNotOpen);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// connection

sqlite3_connection::sqlite3_connection(const std::string& fileName) {
    open(fileName);
}

sqlite3_connection::~sqlite3_connection() {
    if (m_db) {
        // close_v2 never fails: with statements still alive the handle becomes a zombie that
        // SQLite closes when the last of them is finalised.
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

void sqlite3_connection::open(const std::string& fileName, open_mode mode) {
    if (m_db) {
        close();
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (mode == open_mode::readwrite) {
        flags = SQLITE_OPEN_READWRITE;
    } else if (mode == open_mode::readonly) {
        flags = SQLITE_OPEN_READONLY;
    }
    ::sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(fileName.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        if (db) {
            sqlite3_close(db);
        }
        throw database_error(kUnableToOpen);
    }
    m_db = db;
}

void sqlite3_connection::close() {
    if (!m_db) {
        return;
    }
    if (sqlite3_close(m_db) != SQLITE_OK) {
        ThrowSqlite(m_db);
    }
    m_db = nullptr;
}

void sqlite3_connection::ensureopen() const {
    if (!m_db) {
        throw database_error(kNotOpen);
    }
}

void sqlite3_connection::setbusytimeout(int timeoutMs) {
    ensureopen();
    if (sqlite3_busy_timeout(m_db, timeoutMs) != SQLITE_OK) {
        ThrowSqlite(m_db);
    }
}

int64_t sqlite3_connection::insertid() {
    ensureopen();
    return sqlite3_last_insert_rowid(m_db);
}

std::string sqlite3_connection::errmsg() const {
    return m_db ? sqlite3_errmsg(m_db) : kNotOpen;
}

void sqlite3_connection::executenonquery(const std::string& sql) {
    ensureopen();
    sqlite3_command(*this, sql).executenonquery();
}

int32_t sqlite3_connection::executeint(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executeint();
}

int64_t sqlite3_connection::executeint64(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executeint64();
}

double sqlite3_connection::executedouble(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executedouble();
}

std::string sqlite3_connection::executestring(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executestring();
}

std::vector<uint8_t> sqlite3_connection::executeblob(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executeblob();
}

GUID sqlite3_connection::executeguid(const std::string& sql) {
    ensureopen();
    return sqlite3_command(*this, sql).executeguid();
}

// ---------------------------------------------------------------------------------------------
// command

struct sqlite3_command::State {
    ::sqlite3* db = nullptr;
    ::sqlite3_stmt* stmt = nullptr; // null once the command is gone
    int readers = 0;
};

sqlite3_command::sqlite3_command(sqlite3_connection& connection, const std::string& sql)
    : m_state(std::make_shared<State>()) {
    connection.ensureopen();
    m_state->db = connection.db();
    const char* tail = nullptr;
    if (sql.size() > static_cast<size_t>(INT_MAX)) {
        throw database_error("statement too long");
    }
    if (sqlite3_prepare_v2(m_state->db, sql.data(), static_cast<int>(sql.size()), &m_state->stmt, &tail) !=
        SQLITE_OK) {
        ThrowSqlite(m_state->db);
    }
    if (!m_state->stmt) {
        // Only white space or comments: nothing SQLite could run.
        throw database_error("not an error");
    }
}

sqlite3_command::~sqlite3_command() {
    sqlite3_finalize(m_state->stmt);
    m_state->stmt = nullptr;
}

namespace {
void CheckBind(::sqlite3* db, int rc) {
    if (rc != SQLITE_OK) {
        ThrowSqlite(db);
    }
}
} // namespace

void sqlite3_command::bind(int index) {
    CheckBind(m_state->db, sqlite3_bind_null(m_state->stmt, index));
}

void sqlite3_command::bind(int index, int32_t value) {
    CheckBind(m_state->db, sqlite3_bind_int(m_state->stmt, index, value));
}

void sqlite3_command::bind(int index, int64_t value) {
    CheckBind(m_state->db, sqlite3_bind_int64(m_state->stmt, index, value));
}

void sqlite3_command::bind(int index, double value) {
    CheckBind(m_state->db, sqlite3_bind_double(m_state->stmt, index, value));
}

void sqlite3_command::bind(int index, const std::string& text) {
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        throw database_error("string or blob too big");
    }
    bind(index, text.data(), static_cast<int>(text.size()));
}

void sqlite3_command::bind(int index, const char* text, int byteCount) {
    // A null pointer would bind NULL; an empty text must stay an empty text.
    CheckBind(m_state->db,
              sqlite3_bind_text(m_state->stmt, index, text ? text : "", byteCount, SQLITE_TRANSIENT));
}

void sqlite3_command::bind(int index, const void* bytes, int byteCount) {
    if (byteCount <= 0 || !bytes) {
        // sqlite3_bind_blob with a null pointer binds NULL; an empty byte string is a zero-length blob.
        CheckBind(m_state->db, sqlite3_bind_zeroblob(m_state->stmt, index, 0));
        return;
    }
    CheckBind(m_state->db, sqlite3_bind_blob(m_state->stmt, index, bytes, byteCount, SQLITE_TRANSIENT));
}

void sqlite3_command::bind(int index, const GUID& guid) {
    const auto bytes = guid.ToBytes();
    bind(index, bytes.data(), static_cast<int>(bytes.size()));
}

bool sqlite3_command::looks_numeric(const std::string& text) {
    // A superset of what SQLite's numeric affinity converts: only signs, digits, decimal points,
    // exponents and white space, with at least one digit. Hexadecimal literals are never converted.
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E' && c != ' ' && c != '\t' &&
                   c != '\n' && c != '\r' && c != '\f' && c != '\v') {
            return false;
        }
    }
    return digit;
}

void sqlite3_command::bindtext_exact(int index, const std::string& text) {
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        throw database_error("string or blob too big");
    }
    if (looks_numeric(text)) {
        bind(index, static_cast<const void*>(text.data()), static_cast<int>(text.size()));
    } else {
        bind(index, text);
    }
}

sqlite3_reader sqlite3_command::executereader() {
    return sqlite3_reader(m_state);
}

void sqlite3_command::executenonquery() {
    sqlite3_reader reader = executereader();
    while (reader.read()) {
    }
}

sqlite3_reader sqlite3_command::firstrow() {
    sqlite3_reader reader = executereader();
    if (!reader.read()) {
        throw database_error(kNothingToRead);
    }
    return reader;
}

int32_t sqlite3_command::executeint() {
    return firstrow().getint(0);
}
int64_t sqlite3_command::executeint64() {
    return firstrow().getint64(0);
}
double sqlite3_command::executedouble() {
    return firstrow().getdouble(0);
}
std::string sqlite3_command::executestring() {
    return firstrow().getstring(0);
}
std::vector<uint8_t> sqlite3_command::executeblob() {
    return firstrow().getblob(0);
}
GUID sqlite3_command::executeguid() {
    return firstrow().getguid(0);
}

// ---------------------------------------------------------------------------------------------
// reader

sqlite3_reader::sqlite3_reader(std::shared_ptr<sqlite3_command::State> state) : m_state(std::move(state)) {
    ++m_state->readers;
}

sqlite3_reader::sqlite3_reader(const sqlite3_reader& other) : m_state(other.m_state) {
    if (m_state) {
        ++m_state->readers;
    }
}

sqlite3_reader& sqlite3_reader::operator=(const sqlite3_reader& other) {
    if (this != &other) {
        close();
        m_state = other.m_state;
        if (m_state) {
            ++m_state->readers;
        }
    }
    return *this;
}

sqlite3_reader::~sqlite3_reader() {
    close();
}

void sqlite3_reader::close() {
    if (!m_state) {
        return;
    }
    if (--m_state->readers == 0 && m_state->stmt) {
        sqlite3_reset(m_state->stmt);
    }
    m_state.reset();
}

bool sqlite3_reader::read() {
    if (!m_state || !m_state->stmt) {
        throw database_error(kReaderClosed);
    }
    switch (sqlite3_step(m_state->stmt)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default: {
        // Take the message first: the reset that readies the statement again may replace it.
        const std::string message = sqlite3_errmsg(m_state->db);
        sqlite3_reset(m_state->stmt);
        throw database_error(message);
    }
    }
}

void sqlite3_reader::reset() {
    if (!m_state || !m_state->stmt) {
        throw database_error(kReaderClosed);
    }
    sqlite3_reset(m_state->stmt);
}

::sqlite3_stmt* sqlite3_reader::checked(int index) const {
    if (!m_state || !m_state->stmt) {
        throw database_error(kReaderClosed);
    }
    // sqlite3_data_count is 0 when the statement is not on a row, so every index is out of range then.
    if (index < 0 || index >= sqlite3_data_count(m_state->stmt)) {
        throw std::out_of_range(kIndexOutOfRange);
    }
    return m_state->stmt;
}

int sqlite3_reader::columncount() const {
    if (!m_state || !m_state->stmt) {
        throw database_error(kReaderClosed);
    }
    return sqlite3_column_count(m_state->stmt);
}

column_type sqlite3_reader::getcoltype(int index) const {
    switch (sqlite3_column_type(checked(index), index)) {
    case SQLITE_INTEGER:
        return column_type::integer;
    case SQLITE_FLOAT:
        return column_type::real;
    case SQLITE_TEXT:
        return column_type::text;
    case SQLITE_BLOB:
        return column_type::blob;
    default:
        return column_type::null;
    }
}

int32_t sqlite3_reader::getint(int index) const {
    return sqlite3_column_int(checked(index), index);
}

int64_t sqlite3_reader::getint64(int index) const {
    return sqlite3_column_int64(checked(index), index);
}

double sqlite3_reader::getdouble(int index) const {
    return sqlite3_column_double(checked(index), index);
}

std::string sqlite3_reader::getstring(int index) const {
    ::sqlite3_stmt* stmt = checked(index);
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    // The stored byte length, so that texts holding a NUL come back whole.
    const int length = sqlite3_column_bytes(stmt, index);
    return text ? std::string(text, static_cast<size_t>(length)) : std::string();
}

std::vector<uint8_t> sqlite3_reader::getblob(int index) const {
    ::sqlite3_stmt* stmt = checked(index);
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, index));
    const int length = sqlite3_column_bytes(stmt, index);
    return bytes ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>();
}

GUID sqlite3_reader::getguid(int index) const {
    ::sqlite3_stmt* stmt = checked(index);
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, index));
    if (!bytes || sqlite3_column_bytes(stmt, index) != 16) {
        throw std::out_of_range(kGuidExpected);
    }
    return GUID::FromBytes(bytes);
}

std::string sqlite3_reader::getcolname(int index) const {
    const char* name = sqlite3_column_name(checked(index), index);
    return name ? name : "";
}

// ---------------------------------------------------------------------------------------------
// transaction

sqlite3_transaction::sqlite3_transaction(sqlite3_connection& connection, bool start)
    : m_connection(connection) {
    if (start) {
        begin();
    }
}

sqlite3_transaction::~sqlite3_transaction() {
    if (m_intrans) {
        try {
            rollback();
        } catch (...) {
        }
    }
}

void sqlite3_transaction::begin() {
    m_connection.executenonquery("begin;");
    m_intrans = true;
}

void sqlite3_transaction::commit() {
    m_connection.executenonquery("commit;");
    m_intrans = false;
}

void sqlite3_transaction::rollback() {
    m_intrans = false;
    m_connection.executenonquery("rollback;");
}

} // namespace sqlite3x
