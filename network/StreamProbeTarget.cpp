#include "network/StreamProbeTarget.h"

#include "network/NetworkSourceName.h"

#include <glib.h>
#include <gst/gst.h>

#include <memory>

CStreamProbeTarget CStreamProbeTarget::Parse(const std::string& displayName) {
    // The camera's own parser: the probe opens exactly what the camera would.
    const CNetworkSourceName name = CNetworkSourceName::Parse(displayName);
    CStreamProbeTarget target;
    target.user = name.user;
    target.password = name.password;
    target.udp = name.udp;
    target.shown = MaskPasswords(displayName);
    if (name.IsFile()) {
        target.kind = Kind::File;
        target.filePath = name.location;
        if (!g_path_is_absolute(target.filePath.c_str())) {
            std::unique_ptr<char, decltype(&g_free)> cwd(g_get_current_dir(), g_free);
            std::unique_ptr<char, decltype(&g_free)> joined(
                g_build_filename(cwd.get(), target.filePath.c_str(), nullptr), g_free);
            target.filePath = joined.get();
        }
        std::unique_ptr<char, decltype(&g_free)> uri(gst_filename_to_uri(target.filePath.c_str(), nullptr),
                                                     g_free);
        target.uri = uri ? uri.get() : "";
    } else {
        target.kind = name.IsRtsp() ? Kind::Rtsp : Kind::Http;
        target.uri = name.location;
    }
    return target;
}

std::string MaskDisplayNamePassword(const std::string& displayName) {
    return MaskPasswords(displayName);
}
