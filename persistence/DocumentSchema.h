#pragma once
// The schema of a document file: a version table and the flat key-value table t_config_data that
// CConfigStore reads and writes. Opening a document never writes into the file: a file that is not
// a Tavrix document (another program's database, the user database, an empty file) is refused
// untouched. Only creating a new document creates the tables, in a file readable by its owner only
// (documents hold passwords).
//
// Called on the thread that opens or creates a document (the user interface thread) and by the
// document commands.

#include "persistence/sqlite3x.h"

#include <cstdint>
#include <string>

namespace DocumentSchema {

// The version this program writes and the highest it reads.
constexpr int64_t kVersion = 1;

constexpr const char* kNewerVersionMessage =
    "The format of the file is more recent than this application. Please use a new version of Tavrix.";

// A file that is not a Tavrix document; what() is "'FILE' is not a Tavrix document".
class not_a_document : public sqlite3x::database_error {
public:
    explicit not_a_document(const std::string& fileName)
        : sqlite3x::database_error("'" + fileName + "' is not a Tavrix document") {}
};

// True when the open connection's file holds the version table, or the configuration table of a
// document written before the version table existed.
bool IsDocument(sqlite3x::sqlite3_connection& connection);

// Opens an existing document (read and write, or read only) and returns its version (max of the
// version table; 0 for an empty table or a file without one). Nothing is written into the file.
// Throws not_a_document for a SQLite file that is not a Tavrix document (an empty file included)
// and sqlite3x::database_error when the file cannot be opened or is no database at all ("file is
// not a database"); the connection is then closed.
int64_t OpenDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName,
                       sqlite3x::open_mode mode = sqlite3x::open_mode::readwrite);

// Opens the file of a new document: a missing file is created readable and writable by its owner
// only (an existing file keeps its mode); when the file has no version table both tables are
// created and version 1 stored. An existing SQLite file with tables of another program is refused
// with not_a_document, a file that is no database at all with SQLite's text; either is left as it
// was. Returns the version.
int64_t CreateDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName);

// Creates a file that does not exist yet with mode 0600; false when it exists or cannot be made.
bool CreatePrivateFile(const std::string& fileName);

} // namespace DocumentSchema
