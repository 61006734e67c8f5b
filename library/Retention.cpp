#include "library/Retention.h"

#include "foundation/Tracer.h"
#include "library/MediaProbe.h"
#include "library/RecordingCatalogue.h"
#include "persistence/ConfigStore.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "persistence/sqlite3x.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/statvfs.h>
#include <unistd.h>

std::string CRemoval::Text() const {
    std::string text = "Removed recording '" + recording.filePath + "' (";
    switch (reason) {
    case EReason::Age:
        text += "older than " + std::to_string(limit) + " days)";
        break;
    case EReason::Size:
        text += "record folder over " + std::to_string(limit) + " GiB)";
        break;
    case EReason::FreeSpace:
        text += "free space below " + std::to_string(limit) + " GiB)";
        break;
    }
    return text;
}

std::string CRetention::EmergencyText(int32_t minFreeGiB) {
    return "Free space below " + std::to_string(minFreeGiB) +
           " GiB on the record folder's file system: removing the oldest recordings";
}

int64_t CRetention::StatvfsFreeBytes(const std::string& folder) {
    struct statvfs disk {};
    if (::statvfs(folder.c_str(), &disk) != 0) {
        return -1;
    }
    return static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize);
}

std::optional<CRetentionSettings> CRetention::ReadDocument(const std::string& documentPath,
                                                           std::string* error) {
    try {
        sqlite3x::sqlite3_connection connection;
        connection.open(documentPath, sqlite3x::open_mode::readonly);
        connection.setbusytimeout(2000);
        CConfigStore store(connection);
        sqlite3x::sqlite3_transaction transaction(connection);
        // Read key by key: a document model would make its default record folder on the way.
        CRetentionSettings settings;
        settings.recordFolder = store.GetString("Global.CommonFilePath");
        CTavrixDocData::ReadRetention(store, settings.days, settings.maxGiB, settings.minFreeGiB);
        transaction.commit();
        settings.documentPath = documentPath;
        std::string title = platform::BaseName(documentPath);
        const std::string extension = CTavrixDoc::kExtension;
        if (title.size() > extension.size() &&
            title.compare(title.size() - extension.size(), extension.size(), extension) == 0) {
            title.resize(title.size() - extension.size());
        }
        settings.documentName = title;
        return settings;
    } catch (const std::exception& e) {
        if (error != nullptr) {
            *error = "'" + documentPath + "' cannot be read: " + e.what();
        }
        return std::nullopt;
    }
}

CRetention::CRetention(CRecordingCatalogue& catalogue, FreeSpaceProbe probe, Clock clock)
    : m_catalogue(catalogue), m_probe(std::move(probe)), m_clock(std::move(clock)) {
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                .count();
        };
    }
}

namespace {

std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

} // namespace

CRetention::CFolderCheck::CFolderCheck(const std::string& folder) : m_prefix(Resolved(folder)) {
    if (!m_prefix.empty() && m_prefix.back() != '/') {
        m_prefix += '/';
    }
}

bool CRetention::CFolderCheck::Inside(const std::string& path) {
    // The file's folder resolved (links and ".." followed), once per folder: removing a file
    // removes its entry in that folder, wherever a link there points to.
    if (m_prefix.empty()) {
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    auto found = m_resolved.find(folder);
    if (found == m_resolved.end()) {
        found = m_resolved.emplace(folder, Resolved(folder)).first;
    }
    if (found->second.empty()) {
        return false;
    }
    const std::string file =
        found->second + (found->second.back() == '/' ? "" : "/") + path.substr(slash + 1);
    return file.compare(0, m_prefix.size(), m_prefix) == 0;
}

bool CRetention::RemoveOne(const CRetentionSettings& settings, const CRemoval& removal, bool dryRun) {
    if (dryRun) {
        return true;
    }
    // The row is read again: the user may have marked it "keep" since the list was taken.
    const std::optional<CRecording> now = m_catalogue.Get(removal.recording.id, false);
    if (!now || now->keep || now->state != ERecordingState::Finished) {
        return false;
    }
    if (::unlink(removal.recording.filePath.c_str()) != 0 && errno != ENOENT) {
        TRACE("CRetention::RemoveOne() '%s': %s", removal.recording.filePath.c_str(), std::strerror(errno));
        return false;
    }
    m_catalogue.Remove(removal.recording.id);
    CNotificationLog::Instance().AddEntry(settings.documentName, removal.recording.cameraName,
                                          removal.Text());
    return true;
}

// One pass over a document's candidates: finished, not kept, oldest first. Whether each is still
// there and inside the folder is looked at when a rule reaches it, so that a pass over a large
// catalogue touches only the files it may remove.
struct CRetention::CPass {
    enum class ECandidate : uint8_t { Unknown, Usable, Skipped, Gone };

    const CRetentionSettings& settings;
    bool dryRun;
    std::vector<CRecording> candidates;
    std::vector<ECandidate> status;
    CFolderCheck folder;
    std::vector<CRemoval> removals;

    bool Gone(size_t i) const { return status[i] == ECandidate::Gone; }
};

bool CRetention::Usable(CPass& pass, size_t i) {
    if (pass.status[i] == CPass::ECandidate::Unknown) {
        CRecording& candidate = pass.candidates[i];
        const CMediaFacts facts = MediaProbe::Stat(candidate.filePath);
        if (!facts.exists && !pass.dryRun) {
            m_catalogue.SetState(candidate.id, ERecordingState::Missing);
        }
        const bool inside = facts.exists && pass.folder.Inside(candidate.filePath);
        candidate.sizeBytes = facts.sizeBytes;
        pass.status[i] = inside ? CPass::ECandidate::Usable : CPass::ECandidate::Skipped;
    }
    return pass.status[i] == CPass::ECandidate::Usable;
}

bool CRetention::Remove(CPass& pass, size_t i, CRemoval::EReason reason, int32_t limit) {
    if (pass.Gone(i) || !Usable(pass, i)) {
        return false;
    }
    CRemoval removal{pass.candidates[i], reason, limit};
    if (!RemoveOne(pass.settings, removal, pass.dryRun)) {
        return false;
    }
    pass.status[i] = CPass::ECandidate::Gone;
    pass.removals.push_back(std::move(removal));
    return true;
}

void CRetention::ByAge(CPass& pass) {
    const int64_t cutoff = m_clock() - static_cast<int64_t>(pass.settings.days) * 86400000LL;
    for (size_t i = 0; i < pass.candidates.size() && pass.candidates[i].startUtcMs < cutoff; ++i) {
        Remove(pass, i, CRemoval::EReason::Age, pass.settings.days);
    }
}

void CRetention::BySize(CPass& pass) {
    // Everything the document's catalogue holds in the folder counts, kept recordings and the ones
    // being written too; only candidates can go.
    int64_t total = 0;
    CRecordingFilter all;
    all.documentPath = pass.settings.documentPath;
    all.includeMissing = false;
    for (const CRecording& row : m_catalogue.List(all)) {
        const CMediaFacts facts = MediaProbe::Stat(row.filePath);
        if (facts.exists && pass.folder.Inside(row.filePath)) {
            total += facts.sizeBytes;
        }
    }
    for (size_t i = 0; pass.dryRun && i < pass.candidates.size(); ++i) {
        total -= pass.Gone(i) ? pass.candidates[i].sizeBytes : 0;
    }
    const int64_t limit = static_cast<int64_t>(pass.settings.maxGiB) * kGiB;
    for (size_t i = 0; i < pass.candidates.size() && total > limit; ++i) {
        if (Remove(pass, i, CRemoval::EReason::Size, pass.settings.maxGiB)) {
            total -= pass.candidates[i].sizeBytes;
        }
    }
}

void CRetention::ByFreeSpace(CPass& pass) {
    const CRetentionSettings& settings = pass.settings;
    const int64_t minimum = static_cast<int64_t>(settings.minFreeGiB) * kGiB;
    int64_t free = m_probe(settings.recordFolder);
    if (free < 0 || free >= minimum) {
        return;
    }
    TRACE("CRetention::Run() '%s' has %lld bytes free", settings.recordFolder.c_str(),
          static_cast<long long>(free));
    bool anyLeft = false;
    for (size_t i = 0; i < pass.candidates.size() && !anyLeft; ++i) {
        anyLeft = !pass.Gone(i) && Usable(pass, i);
    }
    if (!pass.dryRun && anyLeft) {
        CNotificationLog::Instance().AddEntry(settings.documentName, "", EmergencyText(settings.minFreeGiB));
    }
    for (size_t i = 0; i < pass.candidates.size() && free < 2 * minimum; ++i) {
        if (Remove(pass, i, CRemoval::EReason::FreeSpace, settings.minFreeGiB)) {
            free = pass.dryRun ? free + pass.candidates[i].sizeBytes : m_probe(settings.recordFolder);
        }
    }
}

std::vector<CRemoval> CRetention::Run(const CRetentionSettings& settings, bool dryRun) {
    if (settings.days <= 0 && settings.maxGiB <= 0 && settings.minFreeGiB <= 0) {
        return {};
    }
    CPass pass{settings,
               dryRun,
               m_catalogue.ListRemovable(settings.documentPath),
               {},
               CFolderCheck(settings.recordFolder),
               {}};
    pass.status.assign(pass.candidates.size(), CPass::ECandidate::Unknown);
    if (settings.days > 0) {
        ByAge(pass);
    }
    if (settings.maxGiB > 0) {
        BySize(pass);
    }
    if (settings.minFreeGiB > 0 && m_probe) {
        ByFreeSpace(pass);
    }
    return std::move(pass.removals);
}
