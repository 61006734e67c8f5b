#include "recording/NameTemplate.h"

#include "persistence/Camera.h"
#include "persistence/TavrixDoc.h"
#include "platform/Time.h"

#include <cstdio>

void CNameTemplate::SetTime(int64_t unixTime) {
    m_time = unixTime;
    m_timeSet = true;
}

void CNameTemplate::SetDocument(const CTavrixDoc& document) {
    SetDocumentName(document.GetTitle());
}

void CNameTemplate::SetCamera(const CCamera& camera) {
    SetCameraName(camera.m_camName);
}

void CNameTemplate::SetDocumentName(const std::string& name) {
    m_documentName = name;
    m_documentSet = true;
}

void CNameTemplate::SetCameraName(const std::string& name) {
    m_cameraName = name;
    m_cameraSet = true;
}

void CNameTemplate::SetEventString(const std::string& text) {
    m_eventString = text;
    m_eventStringSet = true;
}

void CNameTemplate::SetFileType(bool isWmv) {
    SetFileExtension(isWmv ? "wmv" : "avi");
}

void CNameTemplate::SetFileExtension(const std::string& extension) {
    m_fileType = extension;
    m_fileTypeSet = true;
}

namespace {

// A placeholder's value as a part of one file name: no folder separator, no end of string.
std::string FileNamePart(std::string value) {
    for (char& c : value) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    return value;
}

} // namespace

std::string CNameTemplate::Expand(const std::string& nameTemplate) const {
    return ExpandValues(nameTemplate, false);
}

std::string CNameTemplate::ExpandFileName(const std::string& nameTemplate) const {
    return ExpandValues(nameTemplate, true);
}

std::string CNameTemplate::ExpandValues(const std::string& nameTemplate, bool forFileName) const {
    platform::SystemTime local;
    if (m_timeSet) {
        local = platform::LocalTimeFromUnix(static_cast<time_t>(m_time));
    }
    std::string out;
    out.reserve(nameTemplate.size() + 32);
    for (size_t i = 0; i < nameTemplate.size(); ++i) {
        const char c = nameTemplate[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 == nameTemplate.size()) {
            // A single "%" at the end has nothing to name: it stays as it is.
            out += '%';
            break;
        }
        const char p = nameTemplate[++i];
        const std::string replacement = Placeholder(p, local);
        // The fixed texts ("%x", "<unknown>", numbers, "avi") hold no separator.
        out += forFileName ? FileNamePart(replacement) : replacement;
    }
    return out;
}

std::string CNameTemplate::Placeholder(char p, const platform::SystemTime& local) const {
    auto number = [this](int value, int digits) {
        if (!m_timeSet) {
            return std::string("00");
        }
        char text[16];
        std::snprintf(text, sizeof text, "%0*d", digits, value);
        return std::string(text);
    };
    const std::string unknown = "<unknown>";
    switch (p) {
    case '%':
        return "%";
    case 'd':
        return number(local.day, 2);
    case 'm':
        return number(local.month, 2);
    case 'y':
        return number(local.year, 4);
    case 'h':
        return number(local.hour, 2);
    case 'i':
        return number(local.minute, 2);
    case 's':
        return number(local.second, 2);
    case 'n':
        return m_cameraSet ? m_cameraName : unknown;
    case 'o':
        return m_documentSet ? m_documentName : unknown;
    case 'r':
        return m_eventStringSet ? m_eventString : unknown;
    case 't':
        return m_fileTypeSet ? m_fileType : unknown;
    default:
        return std::string("%") + p;
    }
}
