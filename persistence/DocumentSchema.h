#pragma once
// The schema of a document file: a version table and the flat key-value table t_config_data that
// CConfigStore reads and writes. OpenDocumentDb opens a document's connection and brings a file
// without the version table up to the current schema before anything is read.
//
// Called on the thread that opens or creates a document (the user interface thread).

#include <cstdint>
#include <string>

namespace sqlite3x {
class sqlite3_connection;
}

namespace DocumentSchema {

// The version this program writes and the highest it reads.
constexpr int64_t kVersion = 1;

constexpr const char* kNewerVersionMessage =
    "The format of the file is more recent than this application. Please use a new version of Tavrix.";

// Opens the connection on fileName; when the file has no table t_tavrixdoc_schema, creates both
// tables and stores version 1. Returns the file's version (max of the version table; 0 for an empty
// table). Throws sqlite3x::database_error when the file cannot be opened or is no database.
int64_t OpenDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName);

} // namespace DocumentSchema
