// libFuzzer target: documents from untrusted bytes.
//
// Every input is used twice:
// 1. as a whole file: the bytes are written to a ".tvrx" file and opened as a document;
// 2. as edits of the key-value table of a complete document (one camera with a mask, a schedule,
//    a chain with one action of every kind): the input is read as a list of operations (delete a
//    row, give a row an integer, a text or a blob, rename its key, duplicate it), applied with
//    SQLite, and the edited file is opened.
// Opening must never crash, leak or hang; when it succeeds the document must save, and the saved
// file must open again to the same cameras (checked with abort(), which the fuzzer reports).

#include "actions/CSEventActionFactory.h"
#include "foundation/ErrorReport.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class SilentDisplay : public IErrorDisplay {
public:
    void ShowErrorDialog(const CErrorEntry&) override {}
    void ShowMessageBox(const std::string&) override {}
};

std::string WorkFolder() {
    // Kept for the whole process (never destroyed), so the exit handler that removes it can use it.
    static const std::string* folder = [] {
        std::string pattern =
            (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/tavrix-fuzz-XXXXXX");
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        auto* path = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(WorkFolder(), ignored);
        });
        return path;
    }();
    return *folder;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The complete document the table edits start from.
const std::vector<uint8_t>& BaseDocument() {
    static const std::vector<uint8_t> bytes = [] {
        const std::string path = WorkFolder() + "/base.tvrx";
        std::remove(path.c_str());
        CTavrixDoc doc;
        if (!doc.OnNewDocument(path)) {
            std::abort();
        }
        doc.Edit([](CTavrixDocData& data) {
            CCamera* camera = data.m_cameras.Find(0);
            camera->m_areaMaskImage.Create(40, 3);
            camera->m_areaMaskImage.Fill(false);
            camera->m_areaMaskImage.SetPixel(3, 1, true);
            camera->m_compressorData = {'a', '=', '1'};
            camera->m_timeScheduleId = 0;
            data.AddSchedule();
            CSEventActionChain* chain = data.AddChain();
            for (int32_t id = 1; id <= 5; ++id) {
                chain->AddAction(CSEventActionFactory::Instance().Create(id));
            }
            camera->SetChainId(EventKind::MotionStart, chain->GetId());
        });
        if (!doc.OnSaveDocument()) {
            std::abort();
        }
        doc.OnCloseDocument();
        std::vector<uint8_t> content = ReadFile(path);
        std::remove(path.c_str());
        return content;
    }();
    return bytes;
}

// True when the file holds triggers or views, which may legitimately change what a save writes.
bool HasActiveSchema(const std::string& path) {
    try {
        sqlite3x::sqlite3_connection db(path);
        return db.executeint("select count(*) from sqlite_master where type in ('trigger', 'view')") != 0;
    } catch (const sqlite3x::database_error&) {
        return true;
    }
}

// Opens the file; when it opens, saves it, opens the saved file again and compares the cameras.
void OpenAndRoundTrip(const std::string& path) {
    std::vector<CCamera> cameras;
    {
        CTavrixDoc doc;
        if (!doc.OnOpenDocument(path)) {
            return;
        }
        for (int32_t id : doc.GetCameraIds()) {
            cameras.push_back(*doc.FindCamera(id));
        }
        if (!doc.OnSaveDocument()) {
            return; // e.g. a read-only or full file system: refused with a message, not a fault
        }
    }
    if (HasActiveSchema(path)) {
        return;
    }
    CTavrixDoc again;
    if (!again.OnOpenDocument(path)) {
        std::fprintf(stderr, "a document saved by us does not open again\n");
        std::abort();
    }
    const std::vector<int32_t> ids = again.GetCameraIds();
    if (ids.size() != cameras.size()) {
        std::abort();
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        if (!(*again.FindCamera(ids[i]) == cameras[i])) {
            std::fprintf(stderr, "camera %d changed in a save and load\n", ids[i]);
            std::abort();
        }
    }
}

// Reads the input as edits of t_config_data.
class Edits {
public:
    Edits(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool More() const { return m_pos < m_size; }
    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    int64_t Integer() {
        uint64_t value = 0;
        const int width = 1 + Byte() % 8;
        for (int i = 0; i < width; ++i) {
            value = value << 8 | Byte();
        }
        return static_cast<int64_t>(value);
    }
    std::string Bytes() {
        const size_t wanted = Byte() % 64; // Byte() moves m_pos: read it before the remainder
        const size_t length = std::min<size_t>(wanted, m_size - m_pos);
        std::string text(reinterpret_cast<const char*>(m_data + m_pos), length);
        m_pos += length;
        return text;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void EditTable(const std::string& path, const uint8_t* data, size_t size) {
    const auto& base = BaseDocument();
    WriteFile(path, base.data(), base.size());
    try {
        sqlite3x::sqlite3_connection db(path);
        const int64_t rows = db.executeint64("select count(*) from t_config_data");
        Edits edits(data, size);
        for (int n = 0; edits.More() && n < 64; ++n) {
            const uint8_t op = edits.Byte();
            const int64_t pick = static_cast<int64_t>(edits.Byte()) << 8 | edits.Byte();
            const int64_t row = 1 + pick % (rows > 0 ? rows : 1);
            const std::string where = " where rowid = " + std::to_string(row);
            switch (op % 7) {
            case 0:
                db.executenonquery("delete from t_config_data" + where);
                break;
            case 1: {
                sqlite3x::sqlite3_command c(db,
                                            "update t_config_data set int_value = ?, string_value = null, "
                                            "blob_value = null" +
                                                where);
                c.bind(1, edits.Integer());
                c.executenonquery();
                break;
            }
            case 2: {
                sqlite3x::sqlite3_command c(db,
                                            "update t_config_data set int_value = null, string_value = ?, "
                                            "blob_value = null" +
                                                where);
                c.bind(1, edits.Bytes());
                c.executenonquery();
                break;
            }
            case 3: {
                const std::string bytes = edits.Bytes();
                sqlite3x::sqlite3_command c(db,
                                            "update t_config_data set int_value = null, string_value = null, "
                                            "blob_value = ?" +
                                                where);
                c.bind(1, static_cast<const void*>(bytes.data()), static_cast<int>(bytes.size()));
                c.executenonquery();
                break;
            }
            case 4: {
                // Renames a key: keeps a prefix of it and appends fuzzed text.
                sqlite3x::sqlite3_command c(db,
                                            "update t_config_data set id = substr(id, 1, ?) || ?" + where);
                c.bind(1, static_cast<int32_t>(edits.Byte() % 48));
                c.bind(2, edits.Bytes());
                c.executenonquery();
                break;
            }
            case 5:
                db.executenonquery("insert into t_config_data select * from t_config_data" + where);
                break;
            default: {
                // Makes a row hold a value of every kind at once, or none.
                sqlite3x::sqlite3_command c(db, "update t_config_data set int_value = ?, string_value = ?, "
                                                "blob_value = ?" +
                                                    where);
                if (edits.Byte() % 2) {
                    c.bind(1, edits.Integer());
                    c.bind(2, edits.Bytes());
                    c.bind(3, static_cast<const void*>("x"), 1);
                } else {
                    c.bind(1);
                    c.bind(2);
                    c.bind(3);
                }
                c.executenonquery();
                break;
            }
            }
        }
    } catch (const sqlite3x::database_error&) {
        return; // an edit SQLite refuses: nothing to open
    }
    OpenAndRoundTrip(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static SilentDisplay display;
    SetErrorDisplay(&display);
    BaseDocument();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = WorkFolder() + "/input.tvrx";
    std::remove(path.c_str());
    WriteFile(path, data, size);
    OpenAndRoundTrip(path);

    std::remove(path.c_str());
    EditTable(path, data, size);
    // Only an empty folder is left should the process end without its exit handlers.
    std::remove(path.c_str());
    std::remove((path + "-journal").c_str());
    return 0;
}
