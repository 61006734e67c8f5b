#include "app/RecordingsCommands.h"

#include "app/TerminalText.h"
#include "foundation/Exceptions.h"
#include "library/RecordingCatalogue.h"
#include "library/RecordingImport.h"
#include "library/RecordingLibrary.h"
#include "library/Retention.h"
#include "persistence/ConfigMgrImpl.h"
#include "persistence/NotificationLog.h"
#include "recording/TavrixElements.h"

#include <nlohmann/json.hpp>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace RecordingsCommands {

namespace {

constexpr const char* kListUsage =
    "recordings list [--document FILE] [--camera NAME] [--since YYYY-MM-DD] [--json]";

std::string Absolute(const std::string& file) {
    char resolved[PATH_MAX];
    return ::realpath(file.c_str(), resolved) != nullptr ? std::string(resolved) : file;
}

// Local midnight of a "YYYY-MM-DD" day in ms since 1970 UTC; -1 when the text is no date.
int64_t DayStart(const std::string& text) {
    struct tm day {};
    int year = 0, month = 0, mday = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &mday, &rest) != 3 || month < 1 ||
        month > 12 || mday < 1 || mday > 31 || year < 1970) {
        return -1;
    }
    day.tm_year = year - 1900;
    day.tm_mon = month - 1;
    day.tm_mday = mday;
    day.tm_isdst = -1;
    const time_t t = std::mktime(&day);
    return t == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(t) * 1000;
}

// Opens the catalogue of the user database that the settings name.
bool OpenCatalogue(CRecordingCatalogue& catalogue, std::ostream& err) {
    CConfigMgrImpl& config = CConfigMgrImpl::Instance();
    config.LoadAll();
    try {
        catalogue.Open(config.GetNotificationSettings().GetUserDbPath());
        return true;
    } catch (const CUserDbEx& e) {
        err << "tavrix: the recordings catalogue cannot be opened: " << e.First().info << "\n";
        return false;
    }
}

nlohmann::json ToJson(const CRecording& r) {
    return {{"id", r.id},
            {"document", r.documentPath},
            {"documentName", r.documentName},
            {"cameraId", r.cameraId},
            {"camera", r.cameraName},
            {"path", r.filePath},
            {"container", r.container},
            {"codec", r.codec},
            {"startUtcMs", r.startUtcMs},
            {"start", r.startLocal},
            {"endUtcMs", r.endUtcMs},
            {"end", r.endLocal},
            {"durationMs", r.durationMs},
            {"sizeBytes", r.sizeBytes},
            {"frames", r.frames},
            {"startEvent", r.startEvent},
            {"state", RecordingStateName(r.state)},
            {"keep", r.keep},
            {"motionMs", r.motionMs},
            {"thumbnailBytes", r.thumbnail.size()}};
}

int List(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CRecordingFilter filter;
    bool json = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            json = true;
        } else if ((arg == "--document" || arg == "--camera" || arg == "--since") && i + 1 < args.size()) {
            const std::string& value = args[++i];
            if (arg == "--document") {
                filter.documentPath = Absolute(value);
            } else if (arg == "--camera") {
                filter.cameraName = value;
            } else if ((filter.sinceUtcMs = DayStart(value)) < 0) {
                err << "tavrix: --since needs a date YYYY-MM-DD\n";
                return 2;
            }
        } else {
            err << "tavrix: " << (arg.rfind("--", 0) == 0 ? "wrong option '" : "unexpected '") << arg
                << "'\nUsage: tavrix " << kListUsage << "\n";
            return 2;
        }
    }
    CRecordingCatalogue catalogue;
    if (!OpenCatalogue(catalogue, err)) {
        return 1;
    }
    filter.withThumbnails = json;
    try {
        const std::vector<CRecording> rows = catalogue.List(filter);
        if (json) {
            nlohmann::json array = nlohmann::json::array();
            for (const CRecording& row : rows) {
                array.push_back(ToJson(row));
            }
            out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
            return 0;
        }
        for (const CRecording& row : rows) {
            std::string path = TerminalText::EscapeControls(row.filePath);
            if (row.state != ERecordingState::Finished) {
                path += std::string(" (") + RecordingStateName(row.state) + ")";
            }
            out << row.startLocal << "\t" << TerminalText::EscapeControls(row.cameraName) << "\t"
                << DurationText(row.durationMs) << "\t" << SizeText(row.sizeBytes) << "\t" << path << "\n";
        }
    } catch (const CUserDbEx& e) {
        err << "tavrix: the recordings catalogue cannot be read: " << e.First().info << "\n";
        return 1;
    }
    return 0;
}

int Prune(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string file;
    bool dryRun = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--dry-run") {
            dryRun = true;
        } else if (file.empty() && args[i].rfind("--", 0) != 0) {
            file = args[i];
        } else {
            err << "tavrix: unexpected '" << args[i]
                << "'\nUsage: tavrix recordings prune FILE.tvrx [--dry-run]\n";
            return 2;
        }
    }
    if (file.empty()) {
        err << "tavrix: recordings prune needs a document file\n";
        return 2;
    }
    std::string error;
    const std::optional<CRetentionSettings> settings = CRetention::ReadDocument(Absolute(file), &error);
    if (!settings) {
        err << "tavrix: " << error << "\n";
        return 1;
    }
    CRecordingCatalogue catalogue;
    if (!OpenCatalogue(catalogue, err)) {
        return 1;
    }
    // The removals are notification log entries like those of a running Tavrix: written into the
    // user database as they happen.
    CNotificationLog& log = CNotificationLog::Instance();
    if (!dryRun) {
        log.SetCapacity(CConfigMgrImpl::Instance().GetNotificationSettings().GetMaximumLogLength());
        log.StartWriting(catalogue.GetPath());
    }
    try {
        InitGStreamer();
        CRecordingLibrary::Reconcile(catalogue);
        CRetention retention(catalogue);
        const std::vector<CRemoval> removals = retention.Run(*settings, dryRun);
        for (const CRemoval& removal : removals) {
            std::string text = TerminalText::EscapeControls(removal.Text());
            if (dryRun) {
                text.replace(0, 7, "Would remove");
            }
            out << text << "\n";
        }
        out << (dryRun ? "Would remove " : "Removed ") << removals.size() << " recording(s)\n";
    } catch (const CUserDbEx& e) {
        err << "tavrix: the recordings catalogue cannot be used: " << e.First().info << "\n";
        log.StopWriting();
        return 1;
    }
    log.StopWriting();
    return 0;
}

int Import(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2 || args[1].rfind("--", 0) == 0) {
        err << "tavrix: recordings import takes one document file\n";
        return 2;
    }
    CRecordingCatalogue catalogue;
    if (!OpenCatalogue(catalogue, err)) {
        return 1;
    }
    try {
        InitGStreamer();
        const CImportResult result = RecordingImport::Import(catalogue, Absolute(args[1]));
        if (!result.error.empty()) {
            err << "tavrix: " << result.error << "\n";
            return 1;
        }
        for (const std::string& file : result.imported) {
            out << "Imported '" << TerminalText::EscapeControls(file) << "'\n";
        }
        out << "Imported " << result.imported.size() << " recording(s), " << result.known
            << " already catalogued\n";
    } catch (const CUserDbEx& e) {
        err << "tavrix: the recordings catalogue cannot be used: " << e.First().info << "\n";
        return 1;
    }
    return 0;
}

} // namespace

std::string SizeText(int64_t bytes) {
    char text[32];
    if (bytes >= 1024LL * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f GiB", static_cast<double>(bytes) / (1024.0 * 1024 * 1024));
    } else if (bytes >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024));
    } else if (bytes >= 1024) {
        std::snprintf(text, sizeof text, "%lld KiB", static_cast<long long>(bytes / 1024));
    } else {
        std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
    }
    return text;
}

std::string DurationText(int64_t ms) {
    const long long seconds = (ms + 500) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string verb = args.empty() ? "" : args[0];
    if (verb == "list") {
        return List(args, out, err);
    }
    if (verb == "prune") {
        return Prune(args, out, err);
    }
    if (verb == "import") {
        return Import(args, out, err);
    }
    err << "tavrix: recordings needs list, prune or import\n";
    return 2;
}

} // namespace RecordingsCommands
