#include "recording/DxDeviceInfoSource.h"

#include "foundation/Exceptions.h"
#include "recording/CaptureSourceName.h"
#include "recording/DxDeviceMgr.h"

#include <gst/gst.h>

namespace {
std::vector<ISystemInfoDeviceSource::Entry> Entries(const std::map<std::string, std::string>& map) {
    std::vector<ISystemInfoDeviceSource::Entry> entries;
    for (const auto& [displayName, friendlyName] : map) {
        entries.push_back({displayName, friendlyName});
    }
    return entries;
}
} // namespace

std::string CDxDeviceInfoSource::GetDirectXVersionText() const {
    char text[32] = {};
    m_manager.GetDirectXVersion(nullptr, text, sizeof text);
    return text;
}

std::vector<ISystemInfoDeviceSource::Entry> CDxDeviceInfoSource::GetCaptureDevices() const {
    return Entries(m_manager.GetDevices());
}

std::vector<ISystemInfoDeviceSource::Entry> CDxDeviceInfoSource::GetCompressors() const {
    return Entries(m_manager.GetCompressors());
}

std::string CDxDeviceInfoSource::GetDeviceProvider(const std::string& displayName) const {
    const CCaptureSourceName name = CCaptureSourceName::Parse(displayName);
    const char* factoryName = name.kind == CCaptureSourceName::Kind::V4l2 ? "v4l2src" : "videotestsrc";
    GstElementFactory* factory = gst_element_factory_find(factoryName);
    if (!factory) {
        THROW_GENERAL("Unable to create moniker.");
    }
    std::string provider = factoryName;
    if (const gchar* plugin = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory))) {
        provider += std::string(" (") + plugin + ")";
    }
    gst_object_unref(factory);
    return provider;
}
