#pragma once
// What SIGHUP does to a headless run: the settings file is read again, and every document of the
// run whose file changed since it was opened (another modification time, size or file, and other
// content) is closed and opened again from its file; documents whose files did not change keep
// running untouched, their cameras and recordings with them. A changed file that cannot be opened
// (damaged, half written, removed) leaves the running document as it was, with an error in the
// log; the next SIGHUP tries again. A document that could not be opened at the start is opened
// once its file has changed.
//
// Runs on the headless shell's main thread, which owns the application and its documents.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class CTavrixAppCore;
class CServiceNotifier;

// The state of document files on disk, to tell which changed.
class CDocumentFiles {
public:
    struct CState {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t modifiedNs = 0;
        std::string contentHash; // SHA-256 of the bytes; empty when not read
    };

    static CState Read(const std::string& path, bool withHash);
    // Records the file as it is now.
    void Remember(const std::string& path);
    // True when the file differs from what was remembered: by its content when device, inode, size
    // or modification time changed (a file merely touched has not changed).
    bool Changed(const std::string& path) const;

private:
    std::map<std::string, CState> m_states;
};

namespace HeadlessReload {

// The log entries of a reload.
constexpr const char* kReopenedText = "The document file changed: document re-opened";
constexpr const char* kReopenFailedText =
    "The document file changed but cannot be opened: the running document stays as it was";

struct COptions {
    std::vector<std::string> documents; // the run's documents, as named on the command line
    bool activate = false;              // switch the cameras of a re-opened document on
};

// The reload; returns the number of documents re-opened (or opened now).
size_t Reload(CTavrixAppCore& app, CDocumentFiles& files, const COptions& options, CServiceNotifier* service);

} // namespace HeadlessReload
