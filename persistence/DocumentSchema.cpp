#include "persistence/DocumentSchema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DocumentSchema {

namespace {

void CloseQuietly(sqlite3x::sqlite3_connection& connection) {
    try {
        connection.close();
    } catch (const sqlite3x::database_error&) {
    }
}

bool HasTable(sqlite3x::sqlite3_connection& connection, const char* name);

int64_t ReadVersion(sqlite3x::sqlite3_connection& connection) {
    if (!HasTable(connection, "t_tavrixdoc_schema")) {
        return 0; // a document from before the version table
    }
    // 64-bit, so that a hand-written version such as 4294967296 is not cut down to 0 and accepted.
    return connection.executeint64("select ifnull(max(version),0) from t_tavrixdoc_schema;");
}

bool HasTable(sqlite3x::sqlite3_connection& connection, const char* name) {
    return connection.executeint(std::string("select count(*) from sqlite_master where name='") + name +
                                 "';") != 0;
}

// Creates the version table with version 1 and, unless a document from before the version table
// has it already, the configuration table.
void CreateTables(sqlite3x::sqlite3_connection& connection) {
    // One transaction, so that a failure half way leaves no table without its partner.
    sqlite3x::sqlite3_transaction transaction(connection);
    connection.executenonquery("create table t_tavrixdoc_schema(version number);");
    connection.executenonquery("insert into t_tavrixdoc_schema values(" + std::to_string(kVersion) + ")");
    if (!HasTable(connection, "t_config_data")) {
        connection.executenonquery("create table t_config_data(id string, int_value integer, float_value "
                                   "float, string_value string, "
                                   "blob_value blob)");
    }
    transaction.commit();
}

} // namespace

bool IsDocument(sqlite3x::sqlite3_connection& connection) {
    return connection.executeint("select count(*) from sqlite_master where type='table' and name in "
                                 "('t_tavrixdoc_schema','t_config_data');") > 0;
}

int64_t OpenDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName,
                       sqlite3x::open_mode mode) {
    try {
        // The check reads the file without any right to write it; only a document is reopened
        // for writing.
        connection.open(fileName, sqlite3x::open_mode::readonly);
        if (!IsDocument(connection)) {
            throw not_a_document(fileName);
        }
        if (mode != sqlite3x::open_mode::readonly) {
            connection.open(fileName, sqlite3x::open_mode::readwrite);
        }
        return ReadVersion(connection);
    } catch (const sqlite3x::database_error&) {
        CloseQuietly(connection);
        throw;
    }
}

int64_t CreateDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName) {
    try {
        struct stat status {};
        if (::stat(fileName.c_str(), &status) != 0) {
            // SQLite would create the file with the default mode; documents hold passwords.
            if (!CreatePrivateFile(fileName)) {
                throw sqlite3x::database_error("unable to open database");
            }
        } else if (status.st_size > 0) {
            // An existing file: a document (its content is replaced at the first save) or an
            // empty database; anything else stays untouched.
            connection.open(fileName, sqlite3x::open_mode::readonly);
            const bool usable =
                IsDocument(connection) || connection.executeint("select count(*) from sqlite_master;") == 0;
            connection.close();
            if (!usable) {
                throw not_a_document(fileName);
            }
        }
        connection.open(fileName, sqlite3x::open_mode::readwrite);
        if (!HasTable(connection, "t_tavrixdoc_schema")) {
            CreateTables(connection);
        }
        return ReadVersion(connection);
    } catch (const sqlite3x::database_error&) {
        CloseQuietly(connection);
        throw;
    }
}

bool CreatePrivateFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace DocumentSchema
