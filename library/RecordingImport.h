#pragma once
// Import: catalogues the recordings found in a document's record folder that the catalogue does
// not know and whose names match one of the document's cameras' file name templates (".%t" files
// of the four containers). The start time comes from the name's date and time fields (local
// time), else from the file's modification time less its duration. Nothing is ever deleted or
// renamed.
//
// Called by the command line (and any worker); never on the user interface thread: every file is
// probed.

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <vector>

class CRecordingCatalogue;

struct CImportResult {
    std::vector<std::string> imported; // the files catalogued now
    int known = 0;                     // files the catalogue already had
    std::string error;                 // the document could not be read
};

namespace RecordingImport {

// A regular expression matching the file names that a template gives for a camera of a document
// (placeholders of time fields as digits, %t as one of the four file types, %r as anything).
// fields receives, per capture group, the placeholder letter it stands for.
std::regex TemplatePattern(const std::string& nameTemplate, const std::string& cameraName,
                           const std::string& documentName, std::vector<char>& fields);
// The local time that the captured fields give, in ms since 1970 UTC; nullopt when the name holds
// no complete date.
std::optional<int64_t> TimeFromFields(const std::smatch& match, const std::vector<char>& fields);

CImportResult Import(CRecordingCatalogue& catalogue, const std::string& documentPath,
                     int probeTimeoutMs = 10000);

} // namespace RecordingImport
