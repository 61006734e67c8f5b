#include "persistence/DocumentJsonFields.h"

#include "actions/CSEventActionFactory.h"
#include "camera/TimeSchedule.h"
#include "persistence/Camera.h"
#include "persistence/StoredKeys.h"

namespace DocumentJsonFields {

namespace {

std::vector<CField> FieldsOf(const std::vector<CRow>& rows) {
    std::vector<CField> fields;
    for (const CRow& row : ElementRows(rows)) {
        const std::string maskPrefix = std::string(kMaskMember) + ".";
        if (row.key.rfind(maskPrefix, 0) == 0) {
            if (row.key == maskPrefix + "ImageAvailable") {
                fields.push_back({kMaskMember, FieldKind::Bytes});
            }
            continue;
        }
        fields.push_back({row.key, row.kind});
    }
    return fields;
}

} // namespace

CMemoryTable::CMemoryTable() : m_store(m_connection) {
    m_connection.open(":memory:");
    m_connection.executenonquery(
        "create table t_config_data(id string, int_value integer, float_value float, string_value string, "
        "blob_value blob)");
}

std::vector<CRow> CMemoryTable::Rows() {
    std::vector<CRow> rows;
    sqlite3x::sqlite3_command command(
        m_connection, "select id, int_value, string_value, blob_value from t_config_data order by rowid;");
    sqlite3x::sqlite3_reader reader = command.executereader();
    while (reader.read()) {
        CRow row;
        row.key = reader.getstring(0);
        if (reader.getcoltype(1) != sqlite3x::column_type::null) {
            row.integer = reader.getint64(1);
            row.kind = StoredKeys::IsFlag(row.key) ? FieldKind::Flag : FieldKind::Integer;
        } else if (reader.getcoltype(2) != sqlite3x::column_type::null) {
            row.text = reader.getstring(2);
            row.kind = FieldKind::Text;
        } else {
            if (reader.getcoltype(3) != sqlite3x::column_type::null) {
                row.bytes = reader.getblob(3);
            }
            row.kind = StoredKeys::IsGuid(row.key) ? FieldKind::Guid : FieldKind::Bytes;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void CMemoryTable::Set(const CRow& row) {
    sqlite3x::sqlite3_command remove(m_connection, "delete from t_config_data where id = ?;");
    remove.bind(1, row.key);
    remove.executenonquery();
    switch (row.kind) {
    case FieldKind::Integer:
    case FieldKind::Flag:
        m_store.PutInt(row.key, static_cast<int32_t>(row.integer));
        break;
    case FieldKind::Text:
        m_store.PutString(row.key, row.text);
        break;
    case FieldKind::Guid:
    case FieldKind::Bytes:
        m_store.PutBlob(row.key, row.bytes.size(), row.bytes.data());
        break;
    }
}

std::vector<CRow> ElementRows(const std::vector<CRow>& rows) {
    const std::string prefix = std::string(kPrefix) + ".";
    std::vector<CRow> element;
    for (const CRow& row : rows) {
        if (row.key.rfind(prefix, 0) == 0) {
            CRow named = row;
            named.key = row.key.substr(prefix.size());
            element.push_back(std::move(named));
        }
    }
    return element;
}

const std::vector<CField>& CameraFields() {
    static const std::vector<CField> kFields = [] {
        CMemoryTable table;
        CCamera().Store(kPrefix, table.Store());
        return FieldsOf(table.Rows());
    }();
    return kFields;
}

const std::vector<CField>& RuleFields() {
    static const std::vector<CField> kFields = [] {
        CMemoryTable table;
        CTimeScheduleEntry().Store(kPrefix, table.Store());
        return FieldsOf(table.Rows());
    }();
    return kFields;
}

std::vector<int32_t> ActionClasses() {
    std::vector<int32_t> classes;
    for (const int32_t* id = CSEventActionFactory::Instance().GetCreatableClasses(); *id != -1; ++id) {
        classes.push_back(*id);
    }
    return classes;
}

} // namespace DocumentJsonFields
