#pragma once
// What the JSON form of a document and its schema share: the stored fields of a camera and of a
// schedule rule, taken from what a new one stores, and a key-value table in memory through which
// an element is turned into members and back by its own Store and Load.
//
// Used by DocumentJson only; any thread, each table by one thread.

#include "persistence/ConfigStore.h"
#include "persistence/sqlite3x.h"

#include <cstdint>
#include <string>
#include <vector>

class CSEventAction;

namespace DocumentJsonFields {

enum class FieldKind { Integer, Flag, Text, Guid, Bytes };

struct CField {
    std::string name; // the key below the element's prefix ("VideoSize.cx")
    FieldKind kind;
};

// The member standing for the area mask's keys (".AreaMaskImage.ImageAvailable", ...).
constexpr const char* kMaskMember = "AreaMaskImage";
// The prefix under which elements are stored in a memory table.
constexpr const char* kPrefix = "E";

// One stored row.
struct CRow {
    std::string key;
    FieldKind kind = FieldKind::Integer;
    int64_t integer = 0;
    std::string text;
    std::vector<uint8_t> bytes;
};

// A key-value table of the document's layout in memory.
class CMemoryTable {
public:
    CMemoryTable();
    CConfigStore& Store() { return m_store; }
    // Every row in the order it was written, with the kind the key holds.
    std::vector<CRow> Rows();
    // Replaces the value of an existing key (a missing key gets a row).
    void Set(const CRow& row);

private:
    sqlite3x::sqlite3_connection m_connection;
    CConfigStore m_store;
};

// The fields of a camera (the mask's keys become the one member kMaskMember, of kind Bytes) and of
// a schedule rule, in their save order.
const std::vector<CField>& CameraFields();
const std::vector<CField>& RuleFields();
// The rows of a row list that belong to the element under kPrefix, with their names below it.
std::vector<CRow> ElementRows(const std::vector<CRow>& rows);

// The action classes a user can create, in the chain editor's order.
std::vector<int32_t> ActionClasses();

} // namespace DocumentJsonFields
