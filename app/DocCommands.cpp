#include "app/DocCommands.h"

#include "app/TerminalText.h"
#include "foundation/Exceptions.h"
#include "network/NetworkSourceName.h"
#include "persistence/Camera.h"
#include "persistence/DocumentSchema.h"
#include "persistence/SettingRanges.h"
#include "persistence/StoredKeys.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"
#include "platform/Guid.h"
#include "platform/Paths.h"
#include "recording/CaptureSourceName.h"
#include "recording/TavrixElements.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace DocCommands {

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Opens an existing document file for show (read only) and set: a clear line on the error stream
// and false when it is missing, no SQLite file, no document or a newer one. Nothing is written into
// a file that is not a document.
bool OpenExisting(const std::string& file, sqlite3x::sqlite3_connection& connection, sqlite3x::open_mode mode,
                  std::ostream& err) {
    errno = 0;
    if (!IsRegularFile(file)) {
        err << "tavrix: cannot open '" << file << "': " << (errno != 0 ? std::strerror(errno) : "not a file")
            << "\n";
        return false;
    }
    try {
        if (DocumentSchema::OpenDocumentDb(connection, file, mode) > DocumentSchema::kVersion) {
            err << "tavrix: " << DocumentSchema::kNewerVersionMessage << "\n";
            return false;
        }
        if (connection.executeint("select count(*) from sqlite_master where name='t_config_data';") == 0) {
            err << "tavrix: '" << file << "' holds no settings (no table t_config_data)\n";
            return false;
        }
    } catch (const DocumentSchema::not_a_document& e) {
        err << "tavrix: " << e.what() << "\n";
        return false;
    } catch (const sqlite3x::database_error& e) {
        err << "tavrix: '" << file << "' is not a Tavrix document: " << e.what() << "\n";
        return false;
    }
    return true;
}

// "from 1 to 1000 (frames a second)", as the camera sheet offers it.
std::string RangeText(const CSettingRange& range) {
    std::string text =
        "the value must be from " + std::to_string(range.minimum) + " to " + std::to_string(range.maximum);
    if (*range.unit != '\0') {
        text += std::string(" (") + range.unit + ")";
    }
    return text;
}

struct StoredValue {
    Column column = Column::None;
    int64_t integer = 0;
    std::string text;
    std::vector<uint8_t> bytes;
};

StoredValue ReadValue(sqlite3x::sqlite3_reader& reader) {
    StoredValue value;
    if (reader.getcoltype(1) != sqlite3x::column_type::null) {
        value.column = Column::Integer;
        value.integer = reader.getint64(1);
    } else if (reader.getcoltype(2) != sqlite3x::column_type::null) {
        value.column = Column::Text;
        value.text = reader.getstring(2);
    } else if (reader.getcoltype(3) != sqlite3x::column_type::null) {
        value.column = Column::Blob;
        value.bytes = reader.getblob(3);
    }
    return value;
}

std::string FormatValue(Kind kind, const StoredValue& value) {
    switch (kind) {
    case Kind::Integer:
        return std::to_string(value.integer);
    case Kind::Boolean:
        return value.integer == 1 ? "true" : (value.integer == 0 ? "false" : std::to_string(value.integer));
    case Kind::Text:
        return EscapeText(value.text);
    case Kind::Guid:
        return GUID::FromBytes(value.bytes.data()).ToString();
    case Kind::Blob:
        return HexOf(value.bytes);
    case Kind::Null:
        break;
    }
    return "";
}

} // namespace

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Integer:
        return "integer";
    case Kind::Boolean:
        return "boolean";
    case Kind::Text:
        return "text";
    case Kind::Guid:
        return "guid";
    case Kind::Blob:
        return "blob";
    case Kind::Null:
        break;
    }
    return "null";
}

Kind KindOf(const std::string& key, Column column, size_t blobSize) {
    switch (column) {
    case Column::Integer:
        return StoredKeys::IsFlag(key) ? Kind::Boolean : Kind::Integer;
    case Column::Text:
        return Kind::Text;
    case Column::Blob:
        return StoredKeys::IsGuid(key) && blobSize == 16 ? Kind::Guid : Kind::Blob;
    case Column::None:
        break;
    }
    return Kind::Null;
}

std::string EscapeText(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    TerminalText::Split(text, [&](TerminalText::Piece piece, std::string_view bytes) {
        if (piece == TerminalText::Piece::Text) {
            for (const char c : bytes) {
                escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
            }
            return;
        }
        // Control characters and bytes that are no UTF-8 never reach the terminal raw.
        for (const char c : bytes) {
            switch (c) {
            case '\t':
                escaped += "\\t";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += TerminalText::HexEscape(static_cast<unsigned char>(c));
            }
        }
    });
    return escaped;
}

bool UnescapeText(const std::string& text, std::string& result) {
    result.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            result += text[i];
            continue;
        }
        if (++i >= text.size()) {
            return false;
        }
        switch (text[i]) {
        case '\\':
            result += '\\';
            break;
        case 't':
            result += '\t';
            break;
        case 'n':
            result += '\n';
            break;
        case 'r':
            result += '\r';
            break;
        case 'x': {
            std::vector<uint8_t> byte;
            if (i + 2 >= text.size()) {
                return false;
            }
            if (!ParseHex(text.substr(i + 1, 2), byte)) {
                return false;
            }
            result += static_cast<char>(byte[0]);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::string HexOf(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (text.size() % 2 != 0) {
        return false;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

bool ParseInt32(const std::string& text, int32_t& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseBoolean(const std::string& text, bool& value) {
    std::string lower;
    for (const char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "true" || lower == "1" || lower == "yes" || lower == "on") {
        value = true;
        return true;
    }
    if (lower == "false" || lower == "0" || lower == "no" || lower == "off") {
        value = false;
        return true;
    }
    return false;
}

int Create(const std::string& file, const std::vector<std::string>& cameras,
           const std::optional<std::string>& recordPath, std::ostream& out, std::ostream& err) {
    std::error_code error;
    if (std::filesystem::exists(file, error)) {
        err << "tavrix: '" << file << "' exists already; a new document needs a new file\n";
        return 1;
    }
    InitGStreamer(); // test source names are checked against the test picture's patterns
    for (const std::string& camera : cameras) {
        try {
            CCaptureSourceName::Parse(camera);
        } catch (const CBaseException& e) {
            err << "tavrix: camera '" << MaskPasswords(camera) << "': " << e.GetMessage() << "\n";
            return 1;
        }
    }
    std::string folder;
    if (recordPath) {
        folder = std::filesystem::absolute(*recordPath, error).lexically_normal().string();
        if (error || !platform::MakeDirs(folder) || !std::filesystem::is_directory(folder, error)) {
            err << "tavrix: the record path '" << *recordPath << "' is not a folder that can be used\n";
            return 1;
        }
        if (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
    }

    CTavrixDoc document;
    if (!document.OnNewDocument(file)) {
        return 1; // the reason went to the error stream
    }
    document.Edit([&](CTavrixDocData& data) {
        for (size_t i = 0; i < cameras.size(); ++i) {
            // The new document's first camera is "Default"; the others are named after their id.
            CCamera* camera = i == 0 ? data.m_cameras.Find(0) : data.AddCamera();
            if (camera != nullptr) {
                camera->m_videoDeviceDN = cameras[i];
                if (CNetworkSourceName::IsNetworkName(cameras[i])) {
                    // A network camera (or a video file) is watched at its own size.
                    camera->m_videoSizeCx = 0;
                    camera->m_videoSizeCy = 0;
                }
            }
        }
        if (recordPath) {
            data.m_commonFilePath = folder;
        }
    });
    const bool saved = document.OnSaveDocument();
    document.OnCloseDocument();
    if (!saved) {
        std::filesystem::remove(file, error);
        return 1;
    }
    out << "Created '" << file << "' with " << document.GetCameraIds().size()
        << " camera(s), recording into '" << document.GetCommonFilePath() << "'\n";
    return 0;
}

int Show(const std::string& file, std::ostream& out, std::ostream& err) {
    sqlite3x::sqlite3_connection connection;
    if (!OpenExisting(file, connection, sqlite3x::open_mode::readonly, err)) {
        return 1;
    }
    try {
        sqlite3x::sqlite3_command command(
            connection, "select id, int_value, string_value, blob_value from t_config_data order by id;");
        sqlite3x::sqlite3_reader reader = command.executereader();
        while (reader.read()) {
            const std::string key =
                reader.getcoltype(0) == sqlite3x::column_type::null ? std::string() : reader.getstring(0);
            const StoredValue value = ReadValue(reader);
            const Kind kind = KindOf(key, value.column, value.bytes.size());
            out << EscapeText(key) << '\t' << KindName(kind) << '\t' << FormatValue(kind, value) << '\n';
        }
    } catch (const std::exception& e) {
        err << "tavrix: cannot read '" << file << "': " << e.what() << "\n";
        return 1;
    }
    return 0;
}

namespace {

// A value to store, parsed for the kind the key holds.
struct NewValue {
    Column column = Column::None;
    int32_t number = 0;
    std::string text;
    std::vector<uint8_t> bytes;
};

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A network camera's or a video file's display name that parses.
bool IsNetworkStreamName(const std::string& text) {
    if (!CNetworkSourceName::IsNetworkName(text)) {
        return false;
    }
    try {
        CNetworkSourceName::Parse(text);
        return true;
    } catch (const CBaseException&) {
        return false;
    }
}

// Empty, or a GStreamer element factory name (what ".H264Encoder" holds).
bool IsElementName(const std::string& name) {
    if (name.size() > 64) {
        return false;
    }
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '_') {
            return false;
        }
    }
    return true;
}

// Parses value for the key's kind; nothing, with the refusal in refusal, when it does not fit the
// kind or lies outside the key's range.
std::optional<NewValue> ParseNewValue(const std::string& key, Kind kind, const std::string& value,
                                      std::string& refusal) {
    const auto refuse = [&](const char* expected) {
        refusal =
            "'" + value + "' is not a " + KindName(kind) + " value for '" + key + "' (" + expected + ")";
        return std::nullopt;
    };
    NewValue parsed;
    switch (kind) {
    case Kind::Integer: {
        parsed.column = Column::Integer;
        if (!ParseInt32(value, parsed.number)) {
            return refuse("a whole number from -2147483648 to 2147483647");
        }
        const auto range = SettingRanges::ForKey(key);
        if (range && !SettingRanges::Contains(*range, parsed.number)) {
            refusal = value + " is out of range for '" + key + "': " + RangeText(*range);
            return std::nullopt;
        }
        return parsed;
    }
    case Kind::Boolean: {
        parsed.column = Column::Integer;
        bool flag = false;
        if (!ParseBoolean(value, flag)) {
            return refuse("true or false");
        }
        parsed.number = flag ? 1 : 0;
        return parsed;
    }
    case Kind::Text:
        parsed.column = Column::Text;
        if (!UnescapeText(value, parsed.text)) {
            return refuse("a text; a backslash only before \\, t, n, r or xNN");
        }
        if (EndsWith(key, ".H264Encoder") && !IsElementName(parsed.text)) {
            refusal = "'" + value + "' is not an encoder for '" + key +
                      "': the value must be empty (the fastest H.264 encoder that works) or the name of a "
                      "GStreamer element such as x264enc (letters, digits, '-' and '_', at most 64)";
            return std::nullopt;
        }
        if (EndsWith(key, ".DetectDeviceDN") && !parsed.text.empty() && !IsNetworkStreamName(parsed.text)) {
            refusal = "'" + MaskPasswords(value) + "' is not a stream for '" + key +
                      "': the value must be empty (detection on the main stream) or an rtsp://, rtsps://, "
                      "http://, https:// or file: name";
            return std::nullopt;
        }
        return parsed;
    case Kind::Guid: {
        parsed.column = Column::Blob;
        GUID guid;
        if (!GUID::FromString(value, guid)) {
            return refuse("a GUID such as {e436eb7d-524f-11ce-9f53-0020af0ba770}");
        }
        const auto raw = guid.ToBytes();
        parsed.bytes.assign(raw.begin(), raw.end());
        return parsed;
    }
    case Kind::Blob:
        parsed.column = Column::Blob;
        if (!ParseHex(value, parsed.bytes)) {
            return refuse("bytes in hexadecimal, two digits each");
        }
        return parsed;
    case Kind::Null:
        break;
    }
    refusal = "the key '" + key + "' holds no value whose kind could be kept";
    return std::nullopt;
}

void WriteValue(sqlite3x::sqlite3_connection& connection, const std::string& key, const NewValue& value) {
    sqlite3x::sqlite3_transaction transaction(connection);
    if (value.column == Column::Integer) {
        sqlite3x::sqlite3_command update(connection, "update t_config_data set int_value = ? where id = ?;");
        update.bind(1, value.number);
        update.bind(2, key);
        update.executenonquery();
    } else if (value.column == Column::Text) {
        sqlite3x::sqlite3_command update(connection,
                                         "update t_config_data set string_value = ? where id = ?;");
        update.bindtext_exact(1, value.text);
        update.bind(2, key);
        update.executenonquery();
    } else {
        sqlite3x::sqlite3_command update(connection, "update t_config_data set blob_value = ? where id = ?;");
        update.bind(1, value.bytes.data(), static_cast<int>(value.bytes.size()));
        update.bind(2, key);
        update.executenonquery();
    }
    transaction.commit();
}

// Camera keys that documents of earlier versions lack, with the value their absence means (a
// number, or a text when absentText is given).
struct CLaterKey {
    const char* suffix;
    int32_t absentValue;
    const char* absentText = nullptr;
};
constexpr CLaterKey kLaterKeys[] = {
    {".RecordContainer", 0},
    {".StreamTimeout", CCamera::kDefaultStreamTimeout},
    {".PreEventBuffer", CCamera::kPreEventAutomatic},
    {".H264Encoder", 0, ""},
    {".DetectDeviceDN", 0, ""},
    {".H264Preset", 3},
};

// A later camera key: set creates it (with the value that means the same as its absence) for a
// camera that exists.
bool AddMissingLaterKey(sqlite3x::sqlite3_connection& connection, const std::string& key) {
    const CLaterKey* later = nullptr;
    for (const CLaterKey& candidate : kLaterKeys) {
        const std::string suffix = candidate.suffix;
        if (key.rfind("Cameras.", 0) == 0 && key.size() > suffix.size() &&
            key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
            later = &candidate;
        }
    }
    if (later == nullptr) {
        return false;
    }
    const std::string suffix = later->suffix;
    sqlite3x::sqlite3_command camera(connection, "select count(*) from t_config_data where id = ?;");
    camera.bind(1, key.substr(0, key.size() - suffix.size()) + ".WMVActive");
    if (camera.executeint() == 0) {
        return false;
    }
    if (later->absentText != nullptr) {
        sqlite3x::sqlite3_command insert(connection,
                                         "insert into t_config_data(id,string_value) values (?,?);");
        insert.bind(1, key);
        insert.bindtext_exact(2, std::string(later->absentText));
        insert.executenonquery();
        return true;
    }
    sqlite3x::sqlite3_command insert(connection, "insert into t_config_data(id,int_value) values (?,?);");
    insert.bind(1, key);
    insert.bind(2, later->absentValue);
    insert.executenonquery();
    return true;
}

} // namespace

int Set(const std::string& file, const std::string& key, const std::string& value, std::ostream& out,
        std::ostream& err) {
    sqlite3x::sqlite3_connection connection;
    if (!OpenExisting(file, connection, sqlite3x::open_mode::readwrite, err)) {
        return 1;
    }
    try {
        StoredValue stored;
        bool added = false;
        for (;; added = true) {
            sqlite3x::sqlite3_command find(
                connection,
                "select id, int_value, string_value, blob_value from t_config_data where id = ?;");
            find.bind(1, key);
            sqlite3x::sqlite3_reader reader = find.executereader();
            if (reader.read()) {
                stored = ReadValue(reader);
                break;
            }
            reader.close();
            if (added || !AddMissingLaterKey(connection, key)) {
                err << "tavrix: the document has no key '" << key << "' (tavrix doc show lists them)\n";
                return 1;
            }
        }
        std::string refusal;
        const auto parsed =
            ParseNewValue(key, KindOf(key, stored.column, stored.bytes.size()), value, refusal);
        if (!parsed) {
            if (added) {
                // A refused value leaves the document as it was, without the later key.
                sqlite3x::sqlite3_command remove(connection, "delete from t_config_data where id = ?;");
                remove.bind(1, key);
                remove.executenonquery();
            }
            err << "tavrix: " << refusal << "\n";
            return 1;
        }
        WriteValue(connection, key, *parsed);
        if (parsed->column == Column::Text && HasPassword(parsed->text)) {
            // The document now holds a password: readable by its owner only.
            struct stat status {};
            if (::stat(file.c_str(), &status) == 0 && (status.st_mode & 077) != 0) {
                ::chmod(file.c_str(), status.st_mode & 07700);
            }
        }
    } catch (const std::exception& e) {
        err << "tavrix: cannot change '" << file << "': " << e.what() << "\n";
        return 1;
    }
    out << key << " set\n";
    return 0;
}

} // namespace DocCommands
