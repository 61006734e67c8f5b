#include "app/ChainPrograms.h"

#include "actions/CSEA_InvokeCommand.h"
#include "actions/CSEventRecord.h"
#include "foundation/Tracer.h"
#include "persistence/TavrixDoc.h"
#include "platform/SettingsFile.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace ChainPrograms {

namespace {

// C0 and C1 controls (and DEL) as \xNN: a crafted name cannot break the line or move the cursor.
std::string Visible(const std::string& text) {
    std::string visible;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0080..U+009F are C2 80..C2 9F in UTF-8.
        const bool c1 = c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9f;
        if (c < 0x20 || c == 0x7f || c1) {
            const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
            visible += escaped;
        } else {
            visible += text[i];
        }
    }
    return visible;
}

} // namespace

std::vector<CChainProgram> List(const CTavrixDocData& data) {
    std::vector<CChainProgram> programs;
    for (const auto& [cameraId, camera] : data.m_cameras) {
        for (int32_t kind = 1; kind <= 7; ++kind) {
            const int32_t chainId = camera->GetChainId(kind);
            const CSEventActionChain* chain = chainId != -1 ? data.m_chains.Find(chainId) : nullptr;
            if (chain == nullptr) {
                continue;
            }
            for (size_t i = 0; i < chain->GetActionCount(); ++i) {
                const CSEventAction* action = chain->GetAction(i);
                if (action == nullptr || action->GetClassId() != CSEA_InvokeCommand::kClassId) {
                    continue;
                }
                programs.push_back(CChainProgram{camera->m_camName, kind, chain->GetName(),
                                                 action->GetStringProp("Command"),
                                                 action->GetStringProp("Parameters")});
            }
        }
    }
    return programs;
}

std::string Digest(const std::vector<CChainProgram>& programs) {
    if (programs.empty()) {
        return {};
    }
    std::vector<std::pair<std::string, std::string>> commands;
    for (const CChainProgram& program : programs) {
        commands.emplace_back(program.command, program.parameters);
    }
    std::sort(commands.begin(), commands.end());
    commands.erase(std::unique(commands.begin(), commands.end()), commands.end());
    // Each text with its length in front, so that no two different lists read the same.
    std::string canonical;
    for (const auto& [command, parameters] : commands) {
        for (const std::string* text : {&command, &parameters}) {
            canonical += std::to_string(text->size()) + ":" + *text + ";";
        }
    }
    gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(canonical.data()), canonical.size());
    std::string text = digest != nullptr ? digest : "";
    g_free(digest);
    return text;
}

std::string LogText(const CChainProgram& program) {
    return std::string("Event '") + GetEventKindName(program.eventKind) + "' starts the program '" +
           program.command + "' with the parameters '" + program.parameters + "' (chain '" +
           program.chainName + "')";
}

std::string DisplayLine(const CChainProgram& program) {
    std::string line = "Camera '" + Visible(program.cameraName) + "', event '" +
                       GetEventKindName(program.eventKind) + "': " + Visible(program.command);
    if (!program.parameters.empty()) {
        line += " " + Visible(program.parameters);
    }
    return line;
}

} // namespace ChainPrograms

CApprovedPrograms::CApprovedPrograms(std::string settingsPath) : m_settingsPath(std::move(settingsPath)) {}

bool CApprovedPrograms::IsApproved(const std::string& digest) const {
    if (digest.empty()) {
        return true;
    }
    platform::CSettingsFile file(m_settingsPath);
    return file.Load() && file.ReadDword(kGroup, digest).has_value();
}

bool CApprovedPrograms::Approve(const std::string& digest) const {
    if (digest.empty()) {
        return true;
    }
    platform::CSettingsFile file(m_settingsPath);
    if (!file.Load()) {
        TRACE("CApprovedPrograms::Approve() the settings file '%s' cannot be read", m_settingsPath.c_str());
        return false; // never overwrite a file that could not be read
    }
    // Each value is its approval's sequence number: the lowest ones go when there are too many.
    std::vector<std::pair<uint32_t, std::string>> stored;
    for (const std::string& name : file.ValueNames(kGroup)) {
        if (name != digest) {
            stored.emplace_back(file.ReadDword(kGroup, name).value_or(0), name);
        }
    }
    std::sort(stored.begin(), stored.end());
    const uint32_t next = stored.empty() ? 1 : stored.back().first + 1;
    while (stored.size() >= kMaximum) {
        file.RemoveValue(kGroup, stored.front().second);
        stored.erase(stored.begin());
    }
    file.WriteDword(kGroup, digest, next);
    return file.Save();
}
