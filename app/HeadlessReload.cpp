#include "app/HeadlessReload.h"

#include "app/ServiceNotifier.h"
#include "app/TavrixAppCore.h"
#include "foundation/Tracer.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"

#include <glib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <memory>

CDocumentFiles::CState CDocumentFiles::Read(const std::string& path, bool withHash) {
    CState state;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return state;
    }
    state.exists = true;
    state.device = status.st_dev;
    state.inode = status.st_ino;
    state.size = status.st_size;
    state.modifiedNs = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    if (withHash) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::unique_ptr<gchar, decltype(&g_free)> hash(
            g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()),
                                        bytes.size()),
            &g_free);
        state.contentHash = hash.get();
    }
    return state;
}

void CDocumentFiles::Remember(const std::string& path) {
    m_states[path] = Read(path, true);
}

bool CDocumentFiles::Changed(const std::string& path) const {
    const auto known = m_states.find(path);
    const CState now = Read(path, false);
    if (known == m_states.end()) {
        return now.exists;
    }
    const CState& before = known->second;
    if (now.exists != before.exists) {
        return true;
    }
    if (!now.exists || (now.device == before.device && now.inode == before.inode && now.size == before.size &&
                        now.modifiedNs == before.modifiedNs)) {
        return false;
    }
    return Read(path, true).contentHash != before.contentHash;
}

namespace HeadlessReload {

namespace {

CTavrixViewCore* FindView(CTavrixAppCore& app, const std::string& path) {
    for (CTavrixViewCore* view : app.GetViews()) {
        if (view->GetDocument().GetPathName() == path) {
            return view;
        }
    }
    return nullptr;
}

std::string Title(const std::string& path) {
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    const size_t dot = name.rfind(CTavrixDoc::kExtension);
    return dot != std::string::npos && dot + std::string(CTavrixDoc::kExtension).size() == name.size()
               ? name.substr(0, dot)
               : name;
}

// Replaces the running document of path (if any) by the one in its file now; false when the file
// cannot be opened, the running document then stays.
bool Reopen(CTavrixAppCore& app, const std::string& path, const COptions& options) {
    {
        // The new content is read before the running document is closed: a damaged or half
        // written file must not stop cameras that work.
        CTavrixDoc probe;
        if (!probe.OnOpenDocument(path)) {
            CNotificationLog::Instance().AddErrorEntry(Title(path), "", kReopenFailedText);
            return false;
        }
    }
    if (CTavrixViewCore* running = FindView(app, path)) {
        app.CloseDocument(running);
    }
    CTavrixViewCore* view = app.OpenDocument(path);
    if (view == nullptr) {
        CNotificationLog::Instance().AddErrorEntry(Title(path), "", kReopenFailedText);
        return false;
    }
    CNotificationLog::Instance().AddEntry(view->GetDocument().GetTitle(), "", kReopenedText);
    if (options.activate) {
        view->OnUpdate(ViewHint::kActivateAll);
    }
    return true;
}

} // namespace

size_t Reload(CTavrixAppCore& app, CDocumentFiles& files, const COptions& options,
              CServiceNotifier* service) {
    TRACE("HeadlessReload::Reload() entered");
    if (service != nullptr) {
        service->NotifyReloading();
    }
    app.ReloadSettings();
    size_t reopened = 0;
    for (const std::string& path : options.documents) {
        if (!files.Changed(path)) {
            continue;
        }
        if (Reopen(app, path, options)) {
            files.Remember(path);
            ++reopened;
        }
    }
    const size_t running = app.GetViews().size();
    CNotificationLog::Instance().AddEntry("", "",
                                          "SIGHUP: settings read again, " + std::to_string(reopened) +
                                              (reopened == 1 ? " document" : " documents") + " re-opened");
    if (service != nullptr) {
        service->NotifyReloaded("Running " + std::to_string(running) +
                                (running == 1 ? " document" : " documents"));
    }
    return reopened;
}

} // namespace HeadlessReload
