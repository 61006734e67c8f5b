#include "persistence/DocumentSchema.h"

#include "persistence/sqlite3x.h"

namespace DocumentSchema {

int64_t OpenDocumentDb(sqlite3x::sqlite3_connection& connection, const std::string& fileName) {
    connection.open(fileName);
    if (connection.executeint("select count(*) from sqlite_master where name='t_tavrixdoc_schema';") == 0) {
        // One transaction, so that a failure half way leaves no table without its partner.
        sqlite3x::sqlite3_transaction transaction(connection);
        connection.executenonquery("create table t_tavrixdoc_schema(version number);");
        connection.executenonquery("insert into t_tavrixdoc_schema values(" + std::to_string(kVersion) + ")");
        connection.executenonquery("create table t_config_data(id string, int_value integer, float_value "
                                   "float, string_value string, "
                                   "blob_value blob)");
        transaction.commit();
    }
    // 64-bit, so that a hand-written version such as 4294967296 is not cut down to 0 and accepted.
    return connection.executeint64("select max(version) from t_tavrixdoc_schema;");
}

} // namespace DocumentSchema
