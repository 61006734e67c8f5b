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
    m_isWmv = isWmv;
    m_fileTypeSet = true;
}

std::string CNameTemplate::Expand(const std::string& nameTemplate) const {
    platform::SystemTime local;
    if (m_timeSet) {
        local = platform::LocalTimeFromUnix(static_cast<time_t>(m_time));
    }
    auto number = [&](int value, int digits) {
        if (!m_timeSet) {
            return std::string("00");
        }
        char text[16];
        std::snprintf(text, sizeof text, "%0*d", digits, value);
        return std::string(text);
    };
    const std::string unknown = "<unknown>";

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
        switch (p) {
        case '%':
            out += '%';
            break;
        case 'd':
            out += number(local.day, 2);
            break;
        case 'm':
            out += number(local.month, 2);
            break;
        case 'y':
            out += number(local.year, 4);
            break;
        case 'h':
            out += number(local.hour, 2);
            break;
        case 'i':
            out += number(local.minute, 2);
            break;
        case 's':
            out += number(local.second, 2);
            break;
        case 'n':
            out += m_cameraSet ? m_cameraName : unknown;
            break;
        case 'o':
            out += m_documentSet ? m_documentName : unknown;
            break;
        case 'r':
            out += m_eventStringSet ? m_eventString : unknown;
            break;
        case 't':
            out += m_fileTypeSet ? (m_isWmv ? "wmv" : "avi") : unknown;
            break;
        default:
            out += '%';
            out += p;
            break;
        }
    }
    return out;
}
