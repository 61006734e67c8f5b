#include "app/DocJsonCommands.h"

#include "persistence/DocumentJson.h"
#include "persistence/DocumentSchema.h"
#include "persistence/TavrixDoc.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace DocJsonCommands {

namespace {

// More problems than this are summed up in one line: the first ones show what is wrong.
constexpr size_t kMaxProblemsShown = 20;

std::string Dump(const DocumentJson::Json& json) {
    // Bytes that are no UTF-8 (a hand-edited document) become U+FFFD instead of failing the export.
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

bool ReadText(const std::string& source, std::string& text, std::ostream& err) {
    if (source == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        err << "tavrix: cannot read '" << source << "': " << std::strerror(errno) << "\n";
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        err << "tavrix: cannot read '" << source << "'\n";
        return false;
    }
    return true;
}

// nlohmann's "[json.exception.parse_error.101] parse error at line 1, column 2: ..." without the tag.
std::string ParseErrorText(const std::exception& e) {
    std::string text = e.what();
    const size_t tag = text.find("] ");
    return text.rfind("[json.exception.", 0) == 0 && tag != std::string::npos ? text.substr(tag + 2) : text;
}

// An existing target may be replaced only when it is a Tavrix document.
bool MayReplace(const std::string& file, bool replace, std::ostream& err) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return true;
    }
    if (!replace) {
        err << "tavrix: '" << file << "' exists already; --replace replaces it\n";
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        err << "tavrix: '" << file << "' is not a file\n";
        return false;
    }
    try {
        sqlite3x::sqlite3_connection connection;
        DocumentSchema::OpenDocumentDb(connection, file, sqlite3x::open_mode::readonly);
    } catch (const std::exception& e) {
        err << "tavrix: " << e.what() << "; it is left as it is\n";
        return false;
    }
    return true;
}

} // namespace

int Export(const std::string& file, bool withSecrets, std::ostream& out, std::ostream& err) {
    struct stat status {};
    errno = 0;
    if (::stat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        err << "tavrix: cannot open '" << file << "': " << (errno != 0 ? std::strerror(errno) : "not a file")
            << "\n";
        return 1;
    }
    CTavrixDoc document;
    if (!document.OnOpenDocument(file)) {
        return 1; // the reason went to the error stream
    }
    const CTavrixDocData data = document.GetData();
    document.OnCloseDocument();
    out << Dump(DocumentJson::Export(data, withSecrets));
    out.flush();
    return out ? 0 : 1;
}

int Import(const std::string& json, const std::string& file, bool replace, std::ostream& out,
           std::ostream& err) {
    std::string text;
    if (!ReadText(json, text, err)) {
        return 1;
    }
    DocumentJson::Json parsed;
    try {
        parsed = DocumentJson::Json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        err << "tavrix: " << (json == "-" ? std::string("standard input") : "'" + json + "'")
            << " is not JSON: " << ParseErrorText(e) << "\n";
        return 1;
    }
    CTavrixDocData data;
    const std::vector<std::string> problems = DocumentJson::Import(parsed, data);
    if (!problems.empty()) {
        for (size_t i = 0; i < problems.size() && i < kMaxProblemsShown; ++i) {
            err << "tavrix: " << problems[i] << "\n";
        }
        if (problems.size() > kMaxProblemsShown) {
            err << "tavrix: and " << problems.size() - kMaxProblemsShown << " more problems\n";
        }
        err << "tavrix: nothing was written\n";
        return 1;
    }
    if (!MayReplace(file, replace, err)) {
        return 1;
    }
    CTavrixDoc document;
    document.SetData(data);
    if (!document.OnSaveDocumentAs(file)) {
        return 1; // the reason went to the error stream
    }
    document.OnCloseDocument();
    out << "Imported '" << file << "' with " << data.m_cameras.Size() << " camera(s), "
        << data.m_schedules.Size() << " schedule(s) and " << data.m_chains.Size()
        << " chain(s), recording into '" << data.m_commonFilePath << "'\n";
    struct stat status {};
    if (::stat(data.m_commonFilePath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        err << "tavrix: note: the record folder '" << data.m_commonFilePath << "' does not exist yet\n";
    }
    return 0;
}

int Schema(std::ostream& out) {
    out << Dump(DocumentJson::Schema());
    out.flush();
    return out ? 0 : 1;
}

} // namespace DocJsonCommands
