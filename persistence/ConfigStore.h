#pragma once
// Typed access to the flat key-value table t_config_data of an open document (or any SQLite file
// with that table): one row per dotted key ("Cameras.0.CamName"), the value in the column of its
// kind. Every operation prepares its statement anew, binds key and value by position and runs it.
// A Get of a key without a row throws sqlite3x::database_error("nothing to read"). A row whose value
// column does not hold the kind asked for (NULL, a text where an integer belongs, an integer beyond
// 32 bits) throws database_error("type mismatch (integer expected)"), "(text expected)" or
// "(byte string expected)"; a GUID blob of another length than 16 throws std::out_of_range("type
// mismatch (GUID expected)"). Texts are written so that SQLite's numeric affinity of the
// string_value column cannot turn "007" into 7 (see sqlite3_command::bindtext_exact).
//
// Used on the thread that loads or saves a document.

#include "platform/Guid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sqlite3x {
class sqlite3_connection;
}

class CConfigStore {
public:
    explicit CConfigStore(sqlite3x::sqlite3_connection& connection) : m_connection(connection) {}

    void PutInt(const std::string& key, int32_t value);
    void PutBool(const std::string& key, bool value); // stored as 0 or 1
    void PutString(const std::string& key, const std::string& value);
    void PutGuid(const std::string& key, const GUID& value); // the 16 bytes in memory order
    void PutBlob(const std::string& key, size_t byteCount, const void* bytes);

    int32_t GetInt(const std::string& key);
    bool GetBool(const std::string& key); // true exactly when the stored integer is 1
    std::string GetString(const std::string& key);
    GUID GetGuid(const std::string& key); // a blob of another length than 16 throws
    std::vector<uint8_t> GetBlob(const std::string& key);

    sqlite3x::sqlite3_connection& Connection() { return m_connection; }

private:
    sqlite3x::sqlite3_connection& m_connection;
};
