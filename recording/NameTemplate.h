#pragma once
// Expansion of %-placeholders in record file names, command parameters, FTP names and chat texts
// from the facts of one moment: a time, a document name, a camera name, an event string and the
// video file type. A fact that was not set expands to a fixed text ("00" for time fields,
// "<unknown>" for the others).
//
//   %% "%"   %d day   %m month   %y year (4 digits)   %h hour   %i minute   %s second
//   %n camera name   %o document name   %r event string   %t file type ("avi", "wmv", "mp4", "mkv")
// Any other character after "%" is kept with its "%"; a "%" that ends the template stays "%".
//
// ExpandFileName is the expansion for file names: a "/" (or a NUL) inside a placeholder's value
// is replaced by "_", so that a name never adds folders of its own; separators written in the
// template itself stay. CRecordFilePath then checks the result against the record folder.
//
// A plain value used by one thread at a time (record start threads, chain threads).

#include <cstdint>
#include <string>

namespace platform {
struct SystemTime;
}
class CTavrixDoc;
class CCamera;

class CNameTemplate {
public:
    // Seconds since 1970 UTC; expanded in local time.
    void SetTime(int64_t unixTime);
    // The document's title.
    void SetDocument(const CTavrixDoc& document);
    // The camera's name (".CamName").
    void SetCamera(const CCamera& camera);
    void SetEventString(const std::string& text);
    void SetFileType(bool isWmv); // "wmv" or "avi"
    // The file type of a recording, for %t.
    void SetFileExtension(const std::string& extension);
    // The same facts for callers that hold only the names.
    void SetDocumentName(const std::string& name);
    void SetCameraName(const std::string& name);

    std::string Expand(const std::string& nameTemplate) const;
    // Expand for a file name: placeholder values cannot add folders (see above).
    std::string ExpandFileName(const std::string& nameTemplate) const;

private:
    std::string ExpandValues(const std::string& nameTemplate, bool forFileName) const;
    // The replacement of "%" followed by p.
    std::string Placeholder(char p, const platform::SystemTime& local) const;

    bool m_timeSet = false;
    int64_t m_time = 0;
    bool m_documentSet = false;
    std::string m_documentName;
    bool m_cameraSet = false;
    std::string m_cameraName;
    bool m_eventStringSet = false;
    std::string m_eventString;
    bool m_fileTypeSet = false;
    std::string m_fileType;
};
