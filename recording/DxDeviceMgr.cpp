#include "recording/DxDeviceMgr.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "network/NetworkSourceName.h"
#include "persistence/NotificationLog.h"
#include "recording/CaptureSourceName.h"
#include "recording/MediaSubtypes.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <memory>

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;
constexpr size_t kMaxNameBytes = 1023;
constexpr const char* kStopWatchMessage = "tavrix-stop-device-watch";

// Generated sources, listed on every machine (display name, friendly name).
const std::pair<const char*, const char*> kTestSources[] = {
    {"test:ball", "Test picture: moving ball"},
    {"test:motion?on=5000-10000,20000-25000", "Test picture: motion at 5-10 s and 20-25 s"},
    {"test:smpte", "Test picture: colour bars"},
};

// WMV encoders for the WMV path, newest first.
const char* const kWmvEncoders[] = {"avenc_wmv2", "avenc_wmv1"};

// A size range wider than this is a generated source offering "any size".
constexpr int kUnboundedSize = 8192;

// Names are kept to at most 1023 bytes, cut at a character boundary.
std::string LimitName(const char* text) {
    std::string name = text != nullptr ? text : "";
    if (name.size() > kMaxNameBytes) {
        size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return name;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// One capability's size range, as DirectShow stream capabilities describe it.
struct SizeRange {
    int maxW = 0;
    int maxH = 0;
    int minW = 0;
    int minH = 0;
    int granularityX = 0;
    int granularityY = 0;
};

// The values an integer caps field allows: a fixed value, a range (with its step) or a list.
bool IntField(const GValue* value, std::vector<int>& fixed, int& min, int& max, int& step) {
    if (value == nullptr) {
        return false;
    }
    if (G_VALUE_HOLDS_INT(value)) {
        fixed.push_back(g_value_get_int(value));
        return true;
    }
    if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        min = gst_value_get_int_range_min(value);
        max = gst_value_get_int_range_max(value);
        step = gst_value_get_int_range_step(value);
        return true;
    }
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const GValue* item = gst_value_list_get_value(value, i);
            if (G_VALUE_HOLDS_INT(item)) {
                fixed.push_back(g_value_get_int(item));
            }
        }
        return !fixed.empty();
    }
    return false;
}

// The size ranges a caps structure describes.
std::vector<SizeRange> SizeRanges(const GstStructure* s) {
    std::vector<int> widths;
    std::vector<int> heights;
    int minW = 0, maxW = 0, stepW = 0, minH = 0, maxH = 0, stepH = 0;
    std::vector<SizeRange> ranges;
    if (!IntField(gst_structure_get_value(s, "width"), widths, minW, maxW, stepW) ||
        !IntField(gst_structure_get_value(s, "height"), heights, minH, maxH, stepH)) {
        return ranges;
    }
    if (!widths.empty() || !heights.empty()) {
        // Fixed sizes (or lists of them): each combination is a capability of its own.
        if (widths.empty()) {
            widths = {maxW};
        }
        if (heights.empty()) {
            heights = {maxH};
        }
        for (int w : widths) {
            for (int h : heights) {
                ranges.push_back(SizeRange{w, h, w, h, 0, 0});
            }
        }
        return ranges;
    }
    const int granularityX = stepW > 1 ? stepW : 0;
    const int granularityY = stepH > 1 ? stepH : 0;
    if (maxW > kUnboundedSize || maxH > kUnboundedSize) {
        // A source that takes any size: offered like a camera with a 4:3 and a 16:9 range.
        const SizeRange presets[] = {{1280, 960, 160, 120, 0, 0}, {1920, 1080, 240, 135, 0, 0}};
        for (const SizeRange& p : presets) {
            SizeRange r{std::min(maxW, p.maxW), std::min(maxH, p.maxH), std::max(minW, p.minW),
                        std::max(minH, p.minH), granularityX,           granularityY};
            if (r.minW <= r.maxW && r.minH <= r.maxH) {
                ranges.push_back(r);
            }
        }
        return ranges;
    }
    ranges.push_back(SizeRange{maxW, maxH, minW, minH, granularityX, granularityY});
    return ranges;
}

void CalcSizes(const SizeRange& r, std::set<CVideoSize>& sizes) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CalcSizes() entered");
    if (r.maxW > 0 && r.maxH > 0) {
        const double aspect = static_cast<double>(r.maxW) / static_cast<double>(r.maxH);
        TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CalcSizes() aspect ration %f", aspect);
        // Halving stops at 0 too: a minimum width of 0 would never end the loop.
        for (int w = r.maxW; w >= r.minW && w > 0; w /= 2) {
            // w / aspect, computed exactly: 640 x 480 halves to 320 x 240, not 320 x 239.
            const auto h = static_cast<int32_t>(static_cast<int64_t>(w) * r.maxH / r.maxW);
            sizes.insert(CVideoSize{w, h});
            TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CalcSizes() size %d %d", w, h);
        }
    }
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CalcSizes() finished");
}

void AddStandardSizes(const SizeRange& r, std::set<CVideoSize>& sizes) {
    static const CVideoSize kStandard[] = {{648, 486}, {720, 486}, {720, 520},  {720, 486},
                                           {720, 576}, {768, 576}, {1280, 729}, {1920, 1080}};
    for (const CVideoSize& s : kStandard) {
        const bool sameAspect = static_cast<int64_t>(s.cx) * r.maxH == static_cast<int64_t>(s.cy) * r.maxW;
        if (sameAspect && r.minW <= s.cx && s.cx <= r.maxW && r.minH <= s.cy && s.cy <= r.maxH &&
            (r.granularityX == 0 || s.cx % r.granularityX == 0) &&
            (r.granularityY == 0 || s.cy % r.granularityY == 0)) {
            sizes.insert(s);
        }
    }
}

// Frame interval of a rate in 100-ns units; false for a rate of 0 (no bound on the interval).
bool IntervalOf(int numerator, int denominator, int64_t& interval) {
    if (numerator <= 0 || denominator <= 0) {
        return false;
    }
    interval = kUnitsPerSecond * denominator / numerator;
    return true;
}

void AddFrameIntervals(const GstStructure* s, CVideoDeviceCaps& caps) {
    const GValue* rate = gst_structure_get_value(s, "framerate");
    if (rate == nullptr) {
        return;
    }
    std::vector<std::pair<int, int>> slowest;
    std::vector<std::pair<int, int>> fastest;
    if (GST_VALUE_HOLDS_FRACTION(rate)) {
        slowest.emplace_back(gst_value_get_fraction_numerator(rate),
                             gst_value_get_fraction_denominator(rate));
        fastest = slowest;
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(rate)) {
        const GValue* min = gst_value_get_fraction_range_min(rate);
        const GValue* max = gst_value_get_fraction_range_max(rate);
        slowest.emplace_back(gst_value_get_fraction_numerator(min), gst_value_get_fraction_denominator(min));
        fastest.emplace_back(gst_value_get_fraction_numerator(max), gst_value_get_fraction_denominator(max));
    } else if (GST_VALUE_HOLDS_LIST(rate)) {
        for (guint i = 0; i < gst_value_list_get_size(rate); ++i) {
            const GValue* item = gst_value_list_get_value(rate, i);
            if (GST_VALUE_HOLDS_FRACTION(item)) {
                slowest.emplace_back(gst_value_get_fraction_numerator(item),
                                     gst_value_get_fraction_denominator(item));
            }
        }
        fastest = slowest;
    }
    for (const auto& [n, d] : fastest) {
        int64_t interval = 0;
        if (IntervalOf(n, d, interval)) {
            caps.minFrameInterval = std::min(caps.minFrameInterval, interval);
        }
    }
    for (const auto& [n, d] : slowest) {
        int64_t interval = 0;
        if (IntervalOf(n, d, interval)) {
            caps.maxFrameInterval = std::max(caps.maxFrameInterval, interval);
        }
    }
}

void AddCapabilities(const GstCaps* gstCaps, CVideoDeviceCaps& caps) {
    if (gstCaps == nullptr || gst_caps_is_any(gstCaps)) {
        return;
    }
    for (guint i = 0; i < gst_caps_get_size(gstCaps); ++i) {
        const GstStructure* s = gst_caps_get_structure(gstCaps, i);
        const char* name = gst_structure_get_name(s);
        if (!g_str_has_prefix(name, "video/") && !g_str_has_prefix(name, "image/")) {
            continue;
        }
        for (const SizeRange& range : SizeRanges(s)) {
            CalcSizes(range, caps.sizes);
            AddStandardSizes(range, caps.sizes);
        }
        AddFrameIntervals(s, caps);
        for (const GUID& subtype : SubtypesFromStructure(s)) {
            caps.subtypes.insert(subtype);
        }
    }
}

// The frame-rate rules of the device manager, applied to the interval range found.
void ApplyFrameRateRules(CVideoDeviceCaps& caps) {
    if (caps.minFrameInterval != 0) {
        caps.maxFPS = static_cast<int32_t>(kUnitsPerSecond / caps.minFrameInterval);
    } else {
        caps.maxFPS = 30;
        caps.minFrameInterval = 333333;
    }
    if (caps.maxFrameInterval != 0) {
        caps.minFPS = static_cast<int32_t>(kUnitsPerSecond / caps.maxFrameInterval);
    } else {
        caps.minFPS = 5;
        caps.maxFrameInterval = 2000000;
    }
    if (caps.minFPS < 6) {
        caps.minFPS = 5;
    }
}

struct PipelineReleaser {
    void operator()(GstElement* pipeline) const {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};

} // namespace

CDxDeviceMgrImpl& CDxDeviceMgrImpl::Instance() {
    static CDxDeviceMgrImpl instance;
    return instance;
}

CDxDeviceMgrImpl::CDxDeviceMgrImpl(std::string byIdFolder, VideoInputOpener openVideoInputs)
    : m_byIdFolder(std::move(byIdFolder)), m_openVideoInputs(std::move(openVideoInputs)) {}

CDxDeviceMgrImpl::~CDxDeviceMgrImpl() {
    StopDeviceWatch();
    if (m_monitor != nullptr) {
        gst_object_unref(m_monitor);
    }
}

void CDxDeviceMgrImpl::RefreshAll() {
    TRACE("CDxDeviceMgrImpl::RefreshAll() entered");
    RefreshDevices();
    std::map<std::string, std::string> compressors;
    RefreshInternal(Category::VideoCompressor, compressors);
    std::vector<std::pair<std::string, std::string>> wmvCodecs;
    for (const char* name : kWmvEncoders) {
        if (GstElementFactory* factory = gst_element_factory_find(name)) {
            wmvCodecs.emplace_back(name, LimitName(gst_element_factory_get_longname(factory)));
            gst_object_unref(factory);
        }
    }
    // Live video windows need a display; without one the cameras run without video windows.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x11 = std::getenv("DISPLAY");
    const bool videoOutput = (wayland != nullptr && *wayland != '\0') || (x11 != nullptr && *x11 != '\0');
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_compressors = std::move(compressors);
        m_wmvCodecs = std::move(wmvCodecs);
        m_vmr9Available = videoOutput;
    }
    if (videoOutput) {
        TRACE("CDxDeviceMgrImpl::RefreshAll() VMR9 is available");
    } else {
        TRACE("CDxDeviceMgrImpl::RefreshAll() VMR9 is NOT available");
    }
    TRACE("CDxDeviceMgrImpl::RefreshAll() finished");
}

void CDxDeviceMgrImpl::RefreshInternal(Category category, std::map<std::string, std::string>& map) {
    TRACE("CDxDeviceMgrImpl::RefreshInternal() entered");
    map.clear();
    if (category == Category::VideoInput) {
        EnumerateCaptureDevices(map);
    } else {
        EnumerateCompressors(map);
    }
    TRACE("CDxDeviceMgrImpl::RefreshInternal() finished");
}

GstDeviceMonitor* CDxDeviceMgrImpl::Monitor() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_monitor == nullptr) {
        m_monitor = gst_device_monitor_new();
        gst_device_monitor_add_filter(m_monitor, "Video/Source", nullptr);
        // Cameras that a sound server also offers stay listed under their V4L2 node.
        gst_device_monitor_set_show_all_devices(m_monitor, TRUE);
    }
    return m_monitor;
}

void CDxDeviceMgrImpl::EnumerateCaptureDevices(std::map<std::string, std::string>& map) {
    TRACE("CDxDeviceMgrImpl::RefreshInternal() create enumerator");
    GstDeviceMonitor* monitor = Monitor();
    TRACE("CDxDeviceMgrImpl::RefreshInternal() enumerate devices");
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* item = devices; item != nullptr; item = item->next) {
        auto* device = static_cast<GstDevice*>(item->data);
        TRACE("CDxDeviceMgrImpl::RefreshInternal() fetch device");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get property bag");
        GstStructure* properties = gst_device_get_properties(device);
        if (properties == nullptr) {
            continue;
        }
        gst_structure_free(properties);
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get friendly name");
        gchar* displayText = gst_device_get_display_name(device);
        const std::string friendlyName = LimitName(displayText);
        g_free(displayText);
        if (friendlyName.empty()) {
            continue;
        }
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", friendlyName.c_str());
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get display name");
        const std::string displayName = LimitName(DisplayNameOf(device).c_str());
        if (displayName.empty()) {
            continue;
        }
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", displayName.c_str());
        map.emplace(displayName, friendlyName);
    }
    g_list_free_full(devices, gst_object_unref);

    for (const auto& [displayName, friendlyName] : kTestSources) {
        TRACE("CDxDeviceMgrImpl::RefreshInternal() fetch device");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get friendly name");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", friendlyName);
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get display name");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", displayName);
        map.emplace(displayName, friendlyName);
    }
}

void CDxDeviceMgrImpl::EnumerateCompressors(std::map<std::string, std::string>& map) {
    TRACE("CDxDeviceMgrImpl::RefreshInternal() create enumerator");
    GstElementFactory* avimux = gst_element_factory_find("avimux");
    if (avimux == nullptr) {
        return;
    }
    GstCaps* aviCaps = nullptr;
    for (const GList* t = gst_element_factory_get_static_pad_templates(avimux); t != nullptr; t = t->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(t->data);
        if (templ->direction == GST_PAD_SINK && g_str_has_prefix(templ->name_template, "video")) {
            aviCaps = gst_static_pad_template_get_caps(templ);
        }
    }
    gst_object_unref(avimux);
    if (aviCaps == nullptr) {
        return;
    }
    TRACE("CDxDeviceMgrImpl::RefreshInternal() enumerate devices");
    GList* factories =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER, GST_RANK_NONE);
    for (GList* item = factories; item != nullptr; item = item->next) {
        auto* factory = static_cast<GstElementFactory*>(item->data);
        TRACE("CDxDeviceMgrImpl::RefreshInternal() fetch device");
        const std::string name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
        // OpenMAX IL encoders need hardware that desktop machines do not have.
        if (g_str_has_suffix(name.c_str(), "_omx") ||
            !gst_element_factory_can_src_any_caps(factory, aviCaps)) {
            continue;
        }
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get property bag");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get friendly name");
        const std::string friendlyName = LimitName(gst_element_factory_get_longname(factory));
        if (friendlyName.empty()) {
            continue;
        }
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", friendlyName.c_str());
        TRACE("CDxDeviceMgrImpl::RefreshInternal() get display name");
        TRACE("CDxDeviceMgrImpl::RefreshInternal() name is '%s'", name.c_str());
        map.emplace(name, friendlyName);
    }
    gst_plugin_feature_list_free(factories);
    gst_caps_unref(aviCaps);
}

std::string CDxDeviceMgrImpl::DisplayNameOf(GstDevice* device) const {
    GstStructure* properties = device != nullptr ? gst_device_get_properties(device) : nullptr;
    if (properties == nullptr) {
        return {};
    }
    std::string path;
    if (const char* v4l2Path = gst_structure_get_string(properties, "api.v4l2.path")) {
        path = v4l2Path;
    } else if (g_strcmp0(gst_structure_get_string(properties, "device.api"), "v4l2") == 0) {
        const char* devicePath = gst_structure_get_string(properties, "device.path");
        path = devicePath != nullptr ? devicePath : "";
    }
    gst_structure_free(properties);
    if (path.empty()) {
        return {};
    }
    // Prefer the stable link: /dev/videoN numbers change with the order devices are plugged in.
    const std::string target = RealPath(path);
    if (DIR* dir = target.empty() ? nullptr : opendir(m_byIdFolder.c_str())) {
        std::vector<std::string> links;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                links.push_back(m_byIdFolder + "/" + entry->d_name);
            }
        }
        closedir(dir);
        std::sort(links.begin(), links.end());
        for (const std::string& link : links) {
            if (RealPath(link) == target) {
                return "v4l2:" + link;
            }
        }
    }
    return "v4l2:" + path;
}

void CDxDeviceMgrImpl::RefreshDevices() {
    std::lock_guard<std::mutex> refresh(m_refreshLock);
    TRACE("CDxDeviceMgrImpl::RefreshDevices() entered");
    std::map<std::string, std::string> fresh;
    RefreshInternal(Category::VideoInput, fresh);
    std::vector<std::string> removed;
    std::vector<std::string> added;
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        for (const auto& [displayName, friendlyName] : m_devices) {
            if (fresh.count(displayName) == 0) {
                removed.push_back("Device '" + friendlyName + "' has been removed from the system.");
                m_capsCache.erase(displayName);
            }
        }
        for (const auto& [displayName, friendlyName] : fresh) {
            if (m_devices.count(displayName) == 0) {
                added.push_back("Device '" + friendlyName + "' has been added to the system.");
            }
        }
        m_devices = std::move(fresh);
    }
    for (const std::vector<std::string>* texts : {&removed, &added}) {
        for (const std::string& text : *texts) {
            CNotificationLog::Instance().AddEntry("", "", text);
            TRACE("CDxDeviceMgrImpl::RefreshDevices() %s", text.c_str());
        }
    }
    TRACE("CDxDeviceMgrImpl::RefreshDevices() finished");
}

void CDxDeviceMgrImpl::StartDeviceWatch(std::function<void()> onChange) {
    std::lock_guard<std::mutex> watch(m_watchLock);
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_onDeviceChange = std::move(onChange);
    }
    if (m_watchThread.joinable()) {
        return;
    }
    GstDeviceMonitor* monitor = Monitor();
    if (!gst_device_monitor_start(monitor)) {
        TRACE("CDxDeviceMgrImpl::StartDeviceWatch() the device monitor did not start");
        return;
    }
    m_watchBus = gst_device_monitor_get_bus(monitor);
    m_watchThread = std::thread(&CDxDeviceMgrImpl::WatchThread, this, m_watchBus);
}

void CDxDeviceMgrImpl::StopDeviceWatch() {
    std::lock_guard<std::mutex> watch(m_watchLock);
    if (!m_watchThread.joinable()) {
        return;
    }
    gst_bus_post(m_watchBus,
                 gst_message_new_application(nullptr, gst_structure_new_empty(kStopWatchMessage)));
    m_watchThread.join();
    gst_device_monitor_stop(Monitor());
    gst_object_unref(m_watchBus);
    m_watchBus = nullptr;
}

void CDxDeviceMgrImpl::WatchThread(GstBus* bus) {
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_DEVICE_ADDED | GST_MESSAGE_DEVICE_REMOVED |
                                                   GST_MESSAGE_APPLICATION);
    for (;;) {
        GstMessage* message = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE, types);
        if (message == nullptr) {
            continue;
        }
        bool stop = false;
        // Several changes at once (a hub plugged in) make one refresh.
        while (message != nullptr) {
            stop = stop || (GST_MESSAGE_TYPE(message) == GST_MESSAGE_APPLICATION &&
                            gst_message_has_name(message, kStopWatchMessage));
            gst_message_unref(message);
            message = gst_bus_pop_filtered(bus, types);
        }
        if (stop) {
            return;
        }
        RefreshDevices();
        std::function<void()> onChange;
        {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            onChange = m_onDeviceChange;
        }
        if (onChange) {
            onChange();
        }
    }
}

std::map<std::string, std::string> CDxDeviceMgrImpl::GetDevices() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_devices;
}

std::map<std::string, std::string> CDxDeviceMgrImpl::GetCompressors() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_compressors;
}

size_t CDxDeviceMgrImpl::GetDeviceCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_devices.size();
}

size_t CDxDeviceMgrImpl::GetCompressorCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_compressors.size();
}

std::string CDxDeviceMgrImpl::GetDeviceFriendlyName(const std::string& displayName) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const auto found = m_devices.find(displayName);
    return found != m_devices.end() ? found->second : std::string();
}

std::vector<std::pair<std::string, std::string>> CDxDeviceMgrImpl::GetWmvCodecs() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_wmvCodecs;
}

bool CDxDeviceMgrImpl::IsVMR9Available() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_vmr9Available;
}

bool CDxDeviceMgrImpl::HasCachedCaps(const std::string& displayName) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_capsCache.count(displayName) != 0;
}

CVideoDeviceCaps CDxDeviceMgrImpl::GetVideoDeviceCaps(const std::string& displayName) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps() entered");
    CVideoDeviceCaps caps = GetVideoDeviceCapsInternal(false, displayName, nullptr, nullptr);
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps() finished");
    return caps;
}

void CDxDeviceMgrImpl::ForceVideoDeviceCaps(const std::string& displayName, GstElement* captureElement,
                                            GstElement* pipeline) {
    TRACE("CDxDeviceMgrImpl::ForceVideoDeviceCaps() entered for '%s'", MaskPasswords(displayName).c_str());
    GetVideoDeviceCapsInternal(true, displayName, captureElement, pipeline);
    TRACE("CDxDeviceMgrImpl::ForceVideoDeviceCaps() finished");
}

CVideoDeviceCaps CDxDeviceMgrImpl::GetVideoDeviceCapsInternal(bool useSupplied,
                                                              const std::string& displayName,
                                                              GstElement* captureElement,
                                                              GstElement* pipeline) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() entered");
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        const auto cached = m_capsCache.find(displayName);
        if (cached != m_capsCache.end()) {
            TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() finished (from cache)");
            return cached->second;
        }
    }
    CVideoDeviceCaps caps;
    std::unique_ptr<GstElement, PipelineReleaser> ownPipeline;
    if (useSupplied) {
        TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() use supplied graph");
        if (captureElement == nullptr) {
            THROW_GENERAL("Unable to attach to capture device.");
        }
    } else {
        TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() create own graph");
        captureElement = GetVideoDeviceCaps_CreateVideoDev(displayName);
        ownPipeline.reset(GetVideoDeviceCaps_CreateGraph(captureElement));
        pipeline = ownPipeline.get();
    }
    GetVideoDeviceCaps_CapDevCaps(captureElement, caps);
    GetVideoDeviceCaps_FilterCaps(pipeline, caps);
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() frame interval min %ld max %ld",
          static_cast<long>(caps.minFrameInterval), static_cast<long>(caps.maxFrameInterval));
    ApplyFrameRateRules(caps);
    {
        std::lock_guard<std::recursive_mutex> lock(m_lock);
        m_capsCache[displayName] = caps;
    }
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCapsInternal() finished");
    return caps;
}

GstElement* CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateVideoDev(const std::string& displayName) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateVideoDev() entered");
    GstElement* element = nullptr;
    try {
        element = CreateCaptureSource(displayName, "CAPDEV");
    } catch (const CDirectXEx& e) {
        // Reported as the device manager's own failure.
        THROW_DIRECTX(e.GetHResult(), e.GetMessage());
    }
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateVideoDev() finished");
    return element;
}

GstElement* CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateGraph(GstElement* captureElement) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateGraph() entered");
    GstElement* pipeline = gst_pipeline_new(nullptr);
    if (pipeline == nullptr) {
        gst_object_unref(gst_object_ref_sink(captureElement));
        THROW_DIRECTX(E_OUTOFMEMORY, "Unable to create the preview graph.");
    }
    std::unique_ptr<GstElement, PipelineReleaser> guard(GST_ELEMENT(gst_object_ref_sink(pipeline)));
    if (!gst_bin_add(GST_BIN(pipeline), captureElement)) {
        gst_object_unref(gst_object_ref_sink(captureElement));
        THROW_DIRECTX(E_FAIL, "Could not add capture device in graph.");
    }
    // Opening the device (READY) is enough to read what it offers; it does not stream.
    if (gst_element_set_state(pipeline, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
        THROW_DIRECTX(HRESULT_DEVICE_NOT_CONNECTED, "Unable to render the preview graph.");
    }
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CreateGraph() finished");
    return guard.release();
}

void CDxDeviceMgrImpl::GetVideoDeviceCaps_CapDevCaps(GstElement* captureElement, CVideoDeviceCaps& caps) {
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CapDevCaps() entered");
    caps.minFrameInterval = std::numeric_limits<int64_t>::max();
    // The capture output is the source's "src" pad.
    if (GstPad* pad = gst_element_get_static_pad(captureElement, "src")) {
        GstCaps* offered = gst_pad_query_caps(pad, nullptr);
        AddCapabilities(offered, caps);
        gst_caps_unref(offered);
        gst_object_unref(pad);
    }
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_CapDevCaps() finished");
}

void CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps(GstElement* pipeline, CVideoDeviceCaps& caps) const {
    // Crossbars and TV tuners: the video inputs and tuner of a V4L2 device that an element of the
    // pipeline holds open. A later one overwrites an earlier one's values.
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps() entered");
    if (pipeline == nullptr || !GST_IS_BIN(pipeline) || !m_openVideoInputs) {
        TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps() finished");
        return;
    }
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
    if (elements == nullptr) {
        THROW_DIRECTX(E_FAIL, "Unable to eunumerate filters.");
    }
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(elements, &item)) {
        case GST_ITERATOR_OK: {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            if (std::unique_ptr<IV4l2Device> device = m_openVideoInputs(element)) {
                CVideoDeviceCaps found;
                CV4l2VideoInputs::ReadCaps(*device, found);
                if (found.hasCrossbar) {
                    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps() found crossbar");
                }
                if (found.hasTuner) {
                    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps() found tuner");
                }
                caps.hasCrossbar = found.hasCrossbar;
                caps.crossbarInputCount = found.crossbarInputCount;
                caps.crossbarOutputCount = found.crossbarOutputCount;
                caps.inputTypes = found.inputTypes;
                caps.outputTypes = found.outputTypes;
                caps.hasTuner = found.hasTuner;
                caps.tunerChannelMin = found.tunerChannelMin;
                caps.tunerChannelMax = found.tunerChannelMax;
                caps.tunerTVFormats = found.tunerTVFormats;
                caps.tunerInputConnections = found.tunerInputConnections;
            }
            g_value_reset(&item);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(elements);
            break;
        case GST_ITERATOR_ERROR:
        case GST_ITERATOR_DONE:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    TRACE("CDxDeviceMgrImpl::GetVideoDeviceCaps_FilterCaps() finished");
}

CVideoDeviceCaps CDxDeviceMgrImpl::CapsFromGstCaps(const GstCaps* gstCaps) {
    CVideoDeviceCaps caps;
    caps.minFrameInterval = std::numeric_limits<int64_t>::max();
    AddCapabilities(gstCaps, caps);
    ApplyFrameRateRules(caps);
    return caps;
}

void CDxDeviceMgrImpl::GetDirectXVersion(uint32_t* code, char* text, size_t textSize) const {
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    if (code != nullptr) {
        *code = (major << 16) | (minor << 8);
    }
    if (text != nullptr && textSize > 0) {
        std::snprintf(text, textSize, "%u.%u", major, minor);
    }
}

std::string CDxDeviceMgrImpl::GetPhysicalConnectorName(int32_t type) {
    static const char* const kNames[] = {
        "Tuner", "Composite", "SVideo",   "RGB", "YRYBY",         "Serial Digital", "Parallel Digital",
        "SCSI",  "Aux",       "Firewire", "USB", "Video Decoder", "Video Encoder",  "SCART"};
    if (type >= 1 && type <= static_cast<int32_t>(std::size(kNames))) {
        return kNames[type - 1];
    }
    return "Unknown";
}

std::string CDxDeviceMgrImpl::GetSubtypeName(const GUID& subtype) {
    return GetMediaSubtypeName(subtype);
}

std::vector<std::pair<std::string, uint32_t>> CDxDeviceMgrImpl::GetTVStandards(uint32_t flags) {
    static const std::pair<const char*, uint32_t> kStandards[] = {
        {"NTSC_M", 0x1},       {"NTSC_M_J", 0x2},      {"NTSC_433 ", 0x4},        {"PAL_B ", 0x10},
        {"PAL_D ", 0x20},      {"PAL_H ", 0x80},       {"PAL_I ", 0x100},         {"PAL_M ", 0x200},
        {"PAL_N ", 0x400},     {"PAL_60 ", 0x800},     {"SECAM_B ", 0x1000},      {"SECAM_D ", 0x2000},
        {"SECAM_G ", 0x4000},  {"SECAM_H ", 0x8000},   {"SECAM_K ", 0x10000},     {"SECAM_K1 ", 0x20000},
        {"SECAM_L ", 0x40000}, {"SECAM_L1 ", 0x80000}, {"PAL_N_COMBO ", 0x100000}};
    std::vector<std::pair<std::string, uint32_t>> standards;
    for (const auto& [name, value] : kStandards) {
        if ((flags & value) != 0) {
            standards.emplace_back(name, value);
        }
    }
    return standards;
}
