#include "library/RecordingImport.h"

#include "library/MediaProbe.h"
#include "library/RecordingCatalogue.h"
#include "library/RecordingLibrary.h"
#include "persistence/Camera.h"
#include "persistence/ConfigStore.h"
#include "persistence/Serializeable.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"
#include "platform/Paths.h"

#include <ctime>
#include <filesystem>

namespace RecordingImport {

namespace {

std::string Escape(const std::string& text) {
    static const std::string special = R"(\^$.|?*+()[]{}/)";
    std::string out;
    for (const char c : text) {
        if (special.find(c) != std::string::npos) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// A placeholder's value as a file name carries it ("/" becomes "_").
std::string NamePart(std::string value) {
    for (char& c : value) {
        if (c == '/') {
            c = '_';
        }
    }
    return value;
}

struct CCameraPattern {
    std::string cameraName;
    int32_t cameraId = -1;
    std::regex pattern;
    std::vector<char> fields;
};

} // namespace

std::regex TemplatePattern(const std::string& nameTemplate, const std::string& cameraName,
                           const std::string& documentName, std::vector<char>& fields) {
    std::string pattern;
    fields.clear();
    for (size_t i = 0; i < nameTemplate.size(); ++i) {
        const char c = nameTemplate[i];
        if (c != '%' || i + 1 == nameTemplate.size()) {
            pattern += Escape(std::string(1, c));
            continue;
        }
        const char p = nameTemplate[++i];
        switch (p) {
        case '%':
            pattern += "%";
            break;
        case 'd':
        case 'm':
        case 'h':
        case 'i':
        case 's':
            pattern += "([0-9]{2})";
            fields.push_back(p);
            break;
        case 'y':
            pattern += "([0-9]{4})";
            fields.push_back(p);
            break;
        case 'n':
            pattern += Escape(NamePart(cameraName));
            break;
        case 'o':
            pattern += Escape(NamePart(documentName));
            break;
        case 'r':
            pattern += "(?:[^/]*)";
            break;
        case 't':
            pattern += "(avi|wmv|mp4|mkv)";
            fields.push_back('t');
            break;
        default:
            pattern += Escape(std::string("%") + p);
            break;
        }
    }
    return std::regex(pattern);
}

std::optional<int64_t> TimeFromFields(const std::smatch& match, const std::vector<char>& fields) {
    struct tm local {};
    bool day = false, month = false, year = false;
    for (size_t i = 0; i < fields.size() && i + 1 < match.size(); ++i) {
        const int value = std::atoi(match[i + 1].str().c_str());
        switch (fields[i]) {
        case 'd':
            local.tm_mday = value;
            day = true;
            break;
        case 'm':
            local.tm_mon = value - 1;
            month = true;
            break;
        case 'y':
            local.tm_year = value - 1900;
            year = true;
            break;
        case 'h':
            local.tm_hour = value;
            break;
        case 'i':
            local.tm_min = value;
            break;
        case 's':
            local.tm_sec = value;
            break;
        default:
            break;
        }
    }
    if (!day || !month || !year) {
        return std::nullopt;
    }
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    if (t == static_cast<time_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<int64_t>(t) * 1000;
}

CImportResult Import(CRecordingCatalogue& catalogue, const std::string& documentPath, int probeTimeoutMs) {
    CImportResult result;
    std::string recordFolder;
    SerializeableMap<CCamera> cameras;
    std::string title = platform::BaseName(documentPath);
    if (title.size() > 5 && title.compare(title.size() - 5, 5, CTavrixDoc::kExtension) == 0) {
        title.resize(title.size() - 5);
    }
    try {
        sqlite3x::sqlite3_connection connection;
        connection.open(documentPath, sqlite3x::open_mode::readonly);
        CConfigStore store(connection);
        sqlite3x::sqlite3_transaction transaction(connection);
        recordFolder = store.GetString("Global.CommonFilePath");
        cameras.Load("Cameras", store);
        transaction.commit();
    } catch (const std::exception& e) {
        result.error = "'" + documentPath + "' cannot be read: " + e.what();
        return result;
    }
    std::vector<CCameraPattern> patterns;
    for (const auto& [id, camera] : cameras) {
        CCameraPattern pattern;
        pattern.cameraName = camera->m_camName;
        pattern.cameraId = camera->GetId();
        pattern.pattern =
            TemplatePattern(camera->m_fileNameTemplate, camera->m_camName, title, pattern.fields);
        patterns.push_back(std::move(pattern));
    }
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path folder(recordFolder);
    std::vector<fs::path> files;
    for (auto it =
             fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it.depth() > 3) {
            it.disable_recursion_pending();
        }
        if (it->is_regular_file(error)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        const std::string relative = fs::relative(file, folder, error).string();
        for (const CCameraPattern& pattern : patterns) {
            std::smatch match;
            if (!std::regex_match(relative, match, pattern.pattern)) {
                continue;
            }
            if (catalogue.FindByPath(file.string())) {
                ++result.known;
                break;
            }
            CRecording row;
            row.documentPath = documentPath;
            row.documentName = title;
            row.cameraId = pattern.cameraId;
            row.cameraName = pattern.cameraName;
            row.filePath = file.string();
            row.startEvent = "Import";
            const CMediaFacts facts = MediaProbe::Stat(row.filePath);
            const std::optional<int64_t> named = TimeFromFields(match, pattern.fields);
            row.startUtcMs = named.value_or(facts.modifiedUnixMs);
            CRecordingLibrary::CompleteFromFile(row, facts.modifiedUnixMs, probeTimeoutMs);
            if (!named) {
                row.startUtcMs = facts.modifiedUnixMs - row.durationMs;
            }
            row.startLocal = CRecordingCatalogue::LocalText(row.startUtcMs);
            catalogue.Insert(row);
            result.imported.push_back(row.filePath);
            break;
        }
    }
    return result;
}

} // namespace RecordingImport
