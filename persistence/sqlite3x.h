#pragma once
// sqlite3x: the thin layer through which documents and the user database reach SQLite. Every
// SQLite failure becomes a sqlite3x::database_error whose text is either one of the fixed texts
// below or SQLite's own message for the connection:
//   "unable to open database"  the file cannot be opened
//   "database is not open"     an operation without an open file
//   "reader is closed"         a reader that is not attached, or whose command is gone
//   "nothing to read"          a single-value read found no row
// Column index errors and GUID length errors are std::out_of_range ("index out of range",
// "type mismatch (GUID expected)").
//
// No locks: a connection and its commands are used by one thread at a time (the thread that
// loads, saves or closes the document; the user interface thread for the user database).
// Commands and readers must not outlive their connection's close().

#include "platform/Guid.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sqlite3x {

class database_error : public std::runtime_error {
public:
    explicit database_error(const std::string& text) : std::runtime_error(text) {}
    explicit database_error(const char* text) : std::runtime_error(text) {}
};

// How a connection opens its file.
enum class open_mode {
    create,    // read and write, creating a missing file
    readwrite, // read and write an existing file
    readonly,  // read an existing file; nothing is ever written into it
};

class sqlite3_connection {
public:
    sqlite3_connection() = default;
    explicit sqlite3_connection(const std::string& fileName);
    // Closes the file if still open; errors are swallowed (SQLite finishes the close once the last
    // statement is finalised).
    ~sqlite3_connection();
    sqlite3_connection(const sqlite3_connection&) = delete;
    sqlite3_connection& operator=(const sqlite3_connection&) = delete;

    // Opens the file (by default creating it when missing); "unable to open database" on failure.
    // An open connection is closed first.
    void open(const std::string& fileName, open_mode mode = open_mode::create);
    // Closes; SQLite's message when SQLite refuses (unfinalised statements), the file then stays open.
    void close();
    bool is_open() const { return m_db != nullptr; }
    ::sqlite3* db() const { return m_db; }

    // Milliseconds SQLite waits for a lock held by another process before failing with "database
    // is locked".
    void setbusytimeout(int timeoutMs);
    int64_t insertid();
    // SQLite's current error message for this connection.
    std::string errmsg() const;

    // One-shot statements; each prepares, runs and finalises its statement.
    void executenonquery(const std::string& sql);
    int32_t executeint(const std::string& sql);
    int64_t executeint64(const std::string& sql);
    double executedouble(const std::string& sql);
    std::string executestring(const std::string& sql);
    std::vector<uint8_t> executeblob(const std::string& sql);
    GUID executeguid(const std::string& sql);

    // Throws "database is not open" when no file is open.
    void ensureopen() const;

private:
    ::sqlite3* m_db = nullptr;
};

class sqlite3_reader;

class sqlite3_command {
public:
    // Prepares the statement; SQLite's message when preparing fails.
    sqlite3_command(sqlite3_connection& connection, const std::string& sql);
    ~sqlite3_command();
    sqlite3_command(const sqlite3_command&) = delete;
    sqlite3_command& operator=(const sqlite3_command&) = delete;

    // Parameters are numbered from 1. Texts and blobs are bound as transient copies.
    void bind(int index); // null
    void bind(int index, int32_t value);
    void bind(int index, int64_t value);
    void bind(int index, double value);
    void bind(int index, const std::string& text);
    void bind(int index, const char* text, int byteCount);
    // A zero-length blob, never null, for byteCount 0.
    void bind(int index, const void* bytes, int byteCount);
    void bind(int index, const GUID& guid);
    // Binds a text so that a column declared "string" (numeric affinity) keeps it byte for byte.
    // SQLite turns a text such as "0123", "1e3" or " 12 " stored in such a column into a number
    // ("123", "1000", "12"); a text that could be taken for a number is therefore bound as a blob
    // holding its bytes, which no affinity touches and which reads back as the same text.
    void bindtext_exact(int index, const std::string& text);
    // True for a text that numeric affinity might turn into a number.
    static bool looks_numeric(const std::string& text);

    // A reader over the statement's rows. When the last reader of this command is released the
    // statement is reset for reuse.
    sqlite3_reader executereader();
    // Runs the statement once (to completion) and resets it.
    void executenonquery();
    // Run the statement and return column 0 of the first row; "nothing to read" without a row.
    int32_t executeint();
    int64_t executeint64();
    double executedouble();
    std::string executestring();
    std::vector<uint8_t> executeblob();
    GUID executeguid();

    struct State; // shared with the readers so that a reader notices when its command is gone

private:
    sqlite3_reader firstrow();
    std::shared_ptr<State> m_state;
};

// Column types as reported for the current row.
enum class column_type { integer, real, text, blob, null };

class sqlite3_reader {
public:
    sqlite3_reader() = default; // not attached: every getter throws "reader is closed"
    sqlite3_reader(const sqlite3_reader& other);
    sqlite3_reader& operator=(const sqlite3_reader& other);
    ~sqlite3_reader();

    // Advances one row: true for a row, false at the end; SQLite's message for any other result.
    bool read();
    // Resets the statement to before its first row.
    void reset();
    // Detaches; the statement is reset when this was its last reader.
    void close();

    int columncount() const;
    column_type getcoltype(int index) const;
    int32_t getint(int index) const;
    int64_t getint64(int index) const;
    double getdouble(int index) const;
    std::string getstring(int index) const;
    std::vector<uint8_t> getblob(int index) const;
    GUID getguid(int index) const;
    std::string getcolname(int index) const;

private:
    friend class sqlite3_command;
    explicit sqlite3_reader(std::shared_ptr<sqlite3_command::State> state);
    ::sqlite3_stmt* checked(int index) const;
    std::shared_ptr<sqlite3_command::State> m_state;
};

// "begin;" on creation; commit() runs "commit;"; destroyed without commit it runs "rollback;" and
// swallows any error.
class sqlite3_transaction {
public:
    explicit sqlite3_transaction(sqlite3_connection& connection, bool start = true);
    ~sqlite3_transaction();
    sqlite3_transaction(const sqlite3_transaction&) = delete;
    sqlite3_transaction& operator=(const sqlite3_transaction&) = delete;

    void begin();
    void commit();
    void rollback();

private:
    sqlite3_connection& m_connection;
    bool m_intrans = false;
};

} // namespace sqlite3x
