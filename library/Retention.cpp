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

std::vector<CRemoval> CRetention::Run(const CRetentionSettings& settings, bool dryRun) {
    std::vector<CRemoval> removals;
    if (settings.days <= 0 && settings.maxGiB <= 0 && settings.minFreeGiB <= 0) {
        return removals;
    }
    // Candidates: finished, not kept, oldest first. Whether each is still there and inside the
    // folder is looked at when a rule reaches it, so that a pass over a large catalogue touches
    // only the files it may remove.
    std::vector<CRecording> candidates = m_catalogue.ListRemovable(settings.documentPath);
    enum class ECandidate : uint8_t { Unknown, Usable, Skipped, Gone };
    std::vector<ECandidate> status(candidates.size(), ECandidate::Unknown);
    CFolderCheck folder(settings.recordFolder);
    const auto usable = [&](size_t i) {
        if (status[i] == ECandidate::Unknown) {
            const CMediaFacts facts = MediaProbe::Stat(candidates[i].filePath);
            if (!facts.exists && !dryRun) {
                m_catalogue.SetState(candidates[i].id, ERecordingState::Missing);
            }
            const bool inside = facts.exists && folder.Inside(candidates[i].filePath);
            candidates[i].sizeBytes = facts.sizeBytes;
            status[i] = inside ? ECandidate::Usable : ECandidate::Skipped;
        }
        return status[i] == ECandidate::Usable;
    };
    const auto remove = [&](size_t i, CRemoval::EReason reason, int32_t limit) {
        if (!usable(i)) {
            return false;
        }
        CRemoval removal{candidates[i], reason, limit};
        if (RemoveOne(settings, removal, dryRun)) {
            status[i] = ECandidate::Gone;
            removals.push_back(std::move(removal));
            return true;
        }
        return false;
    };

    if (settings.days > 0) {
        const int64_t cutoff = m_clock() - static_cast<int64_t>(settings.days) * 86400000LL;
        for (size_t i = 0; i < candidates.size() && candidates[i].startUtcMs < cutoff; ++i) {
            remove(i, CRemoval::EReason::Age, settings.days);
        }
    }
    if (settings.maxGiB > 0) {
        // Everything the document's catalogue holds in the folder counts, kept recordings and the
        // ones being written too; only candidates can go.
        int64_t total = 0;
        CRecordingFilter all;
        all.documentPath = settings.documentPath;
        all.includeMissing = false;
        for (const CRecording& row : m_catalogue.List(all)) {
            const CMediaFacts facts = MediaProbe::Stat(row.filePath);
            if (facts.exists && folder.Inside(row.filePath)) {
                total += facts.sizeBytes;
            }
        }
        if (dryRun) {
            for (size_t i = 0; i < candidates.size(); ++i) {
                total -= status[i] == ECandidate::Gone ? candidates[i].sizeBytes : 0;
            }
        }
        const int64_t limit = static_cast<int64_t>(settings.maxGiB) * kGiB;
        for (size_t i = 0; i < candidates.size() && total > limit; ++i) {
            if (status[i] != ECandidate::Gone && remove(i, CRemoval::EReason::Size, settings.maxGiB)) {
                total -= candidates[i].sizeBytes;
            }
        }
    }
    if (settings.minFreeGiB > 0 && m_probe) {
        const int64_t minimum = static_cast<int64_t>(settings.minFreeGiB) * kGiB;
        int64_t free = m_probe(settings.recordFolder);
        if (free >= 0 && free < minimum) {
            TRACE("CRetention::Run() '%s' has %lld bytes free", settings.recordFolder.c_str(),
                  static_cast<long long>(free));
            bool anyLeft = false;
            for (size_t i = 0; i < candidates.size() && !anyLeft; ++i) {
                anyLeft = status[i] != ECandidate::Gone && usable(i);
            }
            if (!dryRun && anyLeft) {
                CNotificationLog::Instance().AddEntry(settings.documentName, "",
                                                      EmergencyText(settings.minFreeGiB));
            }
            for (size_t i = 0; i < candidates.size() && free < 2 * minimum; ++i) {
                if (status[i] != ECandidate::Gone &&
                    remove(i, CRemoval::EReason::FreeSpace, settings.minFreeGiB)) {
                    free = dryRun ? free + candidates[i].sizeBytes : m_probe(settings.recordFolder);
                }
            }
        }
    }
    return removals;
}
