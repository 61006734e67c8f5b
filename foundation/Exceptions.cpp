#include "foundation/Exceptions.h"

#include <cstring>

std::string CErrorEntry::GetText() const {
    std::string text = message;
    text += "\n\nClass \t";
    text += className;
    text += "\nFile  \t";
    text += file;
    text += "\nLine  \t";
    text += std::to_string(line);
    text += "\n";
    if (!internal.empty()) {
        text += "Internal \t" + internal + "\n";
    }
    if (!info.empty()) {
        text += "Info \t" + info + "\n";
    }
    return text;
}

CBaseException::CBaseException(const char* file, const char* className, int line, std::string message,
                               std::string info, const CBaseException* earlier) {
    CErrorEntry first;
    first.file = file ? file : "";
    first.className = className ? className : "";
    first.line = line;
    first.message = std::move(message);
    first.info = std::move(info);
    m_entries.push_back(std::move(first));
    if (earlier) {
        m_entries.insert(m_entries.end(), earlier->m_entries.begin(), earlier->m_entries.end());
    }
}

std::string CBaseException::GetText(bool allRecords) const {
    if (!allRecords) {
        return m_entries.front().GetText();
    }
    std::string text;
    for (const auto& entry : m_entries) {
        text += entry.GetText();
        text += "\n\n\n";
    }
    return text;
}

std::string ExceptionSourceName(const char* path) {
    const char* name = std::strrchr(path, '/');
    name = name ? name + 1 : path;
    const char* dot = std::strrchr(name, '.');
    std::string stem = dot ? std::string(name, dot) : std::string(name);
    return ".\\" + stem;
}
