#pragma once
// The system information report's view of the capture device manager: its devices and
// compressors, the media framework version text, and each device's provider, that is the
// GStreamer element factory that serves the device's display name and the plugin it comes from
// ("v4l2src (video4linux2)").
//
// Used on the thread that builds the report; the manager's lists are copies.

#include "foundation/SystemInfo.h"

class CDxDeviceMgrImpl;

class CDxDeviceInfoSource : public ISystemInfoDeviceSource {
public:
    explicit CDxDeviceInfoSource(CDxDeviceMgrImpl& manager) : m_manager(manager) {}

    std::string GetDirectXVersionText() const override;
    std::vector<Entry> GetCaptureDevices() const override;
    std::vector<Entry> GetCompressors() const override;
    // Throws CDirectXEx "Unable to parse device name of capture device." for a display name that
    // names no source, CGeneralEx "Unable to create moniker." when its element factory is missing.
    std::string GetDeviceProvider(const std::string& displayName) const override;

private:
    CDxDeviceMgrImpl& m_manager;
};
