#pragma once
// Retention: removes old recordings of a document by the rules its "Global.RetentionDays",
// "Global.RetentionMaxGiB" and "Global.MinFreeGiB" keys set.
//
// Only recordings that the catalogue lists, that lie inside the document's record folder, that
// are finished and that the user did not mark "keep" are ever removed; files the catalogue does
// not know are never touched. The oldest go first. Each removal is one notification log entry
// ("Removed recording '...' (older than N days)", "(record folder over N GiB)" or "(free space
// below N GiB)"). When the record folder's file system has less free space than the minimum, the
// emergency purge is logged first and runs until there is twice the minimum.
//
// Called on the recordings library's worker thread and by the command line; never on the user
// interface thread. The free-space probe and the clock are injectable for tests.

#include "library/Recording.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CRecordingCatalogue;

// What retention needs of a document, read from its file.
struct CRetentionSettings {
    std::string documentPath;
    std::string documentName;
    std::string recordFolder;
    int32_t days = 0;
    int32_t maxGiB = 0;
    int32_t minFreeGiB = 0;
};

struct CRemoval {
    enum class EReason { Age, Size, FreeSpace };
    CRecording recording;
    EReason reason = EReason::Age;
    int32_t limit = 0; // the N of the log text
    std::string Text() const;
};

class CRetention {
public:
    static constexpr int64_t kGiB = 1024LL * 1024 * 1024;
    // Bytes free for the user on the file system holding a folder; below 0 when unknown.
    using FreeSpaceProbe = std::function<int64_t(const std::string& folder)>;
    using Clock = std::function<int64_t()>; // ms since 1970 UTC

    static int64_t StatvfsFreeBytes(const std::string& folder);
    // The settings stored in a document file, read without changing it; nullopt with the reason
    // in error when it cannot be read.
    static std::optional<CRetentionSettings> ReadDocument(const std::string& documentPath,
                                                          std::string* error);
    static std::string EmergencyText(int32_t minFreeGiB);

    explicit CRetention(CRecordingCatalogue& catalogue, FreeSpaceProbe probe = StatvfsFreeBytes,
                        Clock clock = {});

    // Applies the rules: removes the files and their rows and logs each removal. With dryRun
    // nothing is removed or logged; the result lists what would go.
    std::vector<CRemoval> Run(const CRetentionSettings& settings, bool dryRun = false);

private:
    // Whether files lie inside a folder, both resolved; the resolved folders are kept for a pass.
    class CFolderCheck {
    public:
        explicit CFolderCheck(const std::string& folder);
        bool Inside(const std::string& path);

    private:
        std::string m_prefix; // the folder resolved, with a trailing "/"; empty when it is not there
        std::map<std::string, std::string> m_resolved;
    };
    bool RemoveOne(const CRetentionSettings& settings, const CRemoval& removal, bool dryRun);
    // The rules, in the order Run applies them, over one pass's candidates.
    struct CPass;
    bool Usable(CPass& pass, size_t i);
    bool Remove(CPass& pass, size_t i, CRemoval::EReason reason, int32_t limit);
    void ByAge(CPass& pass);
    void BySize(CPass& pass);
    void ByFreeSpace(CPass& pass);

    CRecordingCatalogue& m_catalogue;
    FreeSpaceProbe m_probe;
    Clock m_clock;
};
