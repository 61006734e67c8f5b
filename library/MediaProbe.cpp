#include "library/MediaProbe.h"

#include "foundation/Tracer.h"

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

namespace MediaProbe {

std::string ContainerOfFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
        return {};
    }
    std::string type = path.substr(dot + 1);
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
    if (type == "avi") {
        return "AVI";
    }
    if (type == "wmv" || type == "asf") {
        return "WMV";
    }
    if (type == "mp4") {
        return "MP4";
    }
    if (type == "mkv") {
        return "Matroska";
    }
    return {};
}

CMediaFacts Stat(const std::string& path) {
    CMediaFacts facts;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return facts;
    }
    facts.exists = true;
    facts.sizeBytes = static_cast<int64_t>(st.st_size);
    facts.modifiedUnixMs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return facts;
}

namespace {

void ReadVideoStream(GstDiscovererInfo* info, CMediaFacts& facts) {
    GList* videos = gst_discoverer_info_get_video_streams(info);
    if (videos == nullptr) {
        return;
    }
    auto* video = GST_DISCOVERER_VIDEO_INFO(videos->data);
    facts.width = static_cast<int32_t>(gst_discoverer_video_info_get_width(video));
    facts.height = static_cast<int32_t>(gst_discoverer_video_info_get_height(video));
    const guint num = gst_discoverer_video_info_get_framerate_num(video);
    const guint denom = gst_discoverer_video_info_get_framerate_denom(video);
    if (num > 0 && denom > 0 && facts.durationMs > 0) {
        facts.frames = (facts.durationMs * num + 500 * denom) / (1000 * static_cast<int64_t>(denom));
    }
    if (GstCaps* caps = gst_discoverer_stream_info_get_caps(GST_DISCOVERER_STREAM_INFO(video))) {
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        if (s != nullptr && gst_structure_has_name(s, "video/x-raw")) {
            facts.codec = "Uncompressed";
        } else if (gchar* description = gst_pb_utils_get_codec_description(caps)) {
            facts.codec = description;
            g_free(description);
        }
        gst_caps_unref(caps);
    }
    gst_discoverer_stream_info_list_free(videos);
}

} // namespace

CMediaFacts Probe(const std::string& path, int timeoutMs) {
    CMediaFacts facts = Stat(path);
    if (!facts.exists || facts.sizeBytes == 0) {
        return facts;
    }
    GError* error = nullptr;
    GstDiscoverer* discoverer =
        gst_discoverer_new(static_cast<GstClockTime>(timeoutMs) * GST_MSECOND, &error);
    if (discoverer == nullptr) {
        TRACE("MediaProbe::Probe() no discoverer: %s", error != nullptr ? error->message : "");
        g_clear_error(&error);
        return facts;
    }
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    GstDiscovererInfo* info = uri != nullptr ? gst_discoverer_discover_uri(discoverer, uri, &error) : nullptr;
    if (info != nullptr) {
        const GstDiscovererResult result = gst_discoverer_info_get_result(info);
        if (result == GST_DISCOVERER_OK) {
            facts.readable = true;
            const GstClockTime duration = gst_discoverer_info_get_duration(info);
            if (GST_CLOCK_TIME_IS_VALID(duration)) {
                facts.durationMs = static_cast<int64_t>(duration / GST_MSECOND);
            }
            ReadVideoStream(info, facts);
        } else {
            TRACE("MediaProbe::Probe() '%s' result %d", path.c_str(), static_cast<int>(result));
        }
        gst_discoverer_info_unref(info);
    } else {
        TRACE("MediaProbe::Probe() '%s': %s", path.c_str(), error != nullptr ? error->message : "");
    }
    g_clear_error(&error);
    g_free(uri);
    g_object_unref(discoverer);
    return facts;
}

} // namespace MediaProbe
