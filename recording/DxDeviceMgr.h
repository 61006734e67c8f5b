#pragma once
// CDxDeviceMgrImpl: the process-wide registry of the machine's video capture devices and video
// compressors, and the source of each device's capabilities.
//
// Devices are the cameras GStreamer's device monitor finds ("Video/Source", display name "v4l2:"
// + the stable /dev/v4l/by-id path when there is one) plus generated test sources that are always
// listed, so that a machine without a camera has devices to use. Compressors are the video
// encoders whose output the AVI multiplexer accepts (display name = factory name, friendly name =
// its long name); the WMV encoders are listed separately for the WMV path. Added and removed
// devices are written to the notification log; once StartDeviceWatch has been called, cameras
// plugged in or out while the program runs are noticed through the monitor's bus.
//
// Threads: RefreshAll and the settings dialogs' GetVideoDeviceCaps on the main thread,
// ForceVideoDeviceCaps where a camera builds its pipeline, RefreshDevices also on the watch
// thread. A lock guards the lists and the cache (never held while the notification log runs its
// listeners); refreshes are serialised among themselves. Needs InitGStreamer first.

#include "recording/V4l2VideoInputs.h"
#include "recording/VideoDeviceCaps.h"

#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class CDxDeviceMgrImpl {
public:
    static CDxDeviceMgrImpl& Instance();

    // The V4L2 device behind an element of a device's pipeline, or null (V4l2DeviceOfElement).
    using VideoInputOpener = std::function<std::unique_ptr<IV4l2Device>(GstElement*)>;

    // byIdFolder: where the stable camera links are looked up; openVideoInputs: how the inputs
    // and tuner of a pipeline's elements are reached (tests use a folder and a script of their
    // own).
    explicit CDxDeviceMgrImpl(std::string byIdFolder = "/dev/v4l/by-id",
                              VideoInputOpener openVideoInputs = V4l2DeviceOfElement);
    ~CDxDeviceMgrImpl();
    CDxDeviceMgrImpl(const CDxDeviceMgrImpl&) = delete;
    CDxDeviceMgrImpl& operator=(const CDxDeviceMgrImpl&) = delete;

    // Devices (logging the differences), compressors, WMV encoders and the video output check.
    void RefreshAll();
    // Re-enumerates the capture devices and logs, per device, "Device '<friendly name>' has been
    // removed from the system." / "... added to the system." (removed first, each in display
    // name order); drops the capabilities of removed devices.
    void RefreshDevices();

    // Starts noticing cameras that come and go: each change refreshes the devices and then calls
    // onChange (may be empty) on the watch thread; it must not block. Stopped by StopDeviceWatch
    // or the destructor. A second start replaces onChange.
    void StartDeviceWatch(std::function<void()> onChange = {});
    void StopDeviceWatch();

    // Copies of the lists: display name -> friendly name.
    std::map<std::string, std::string> GetDevices() const;
    std::map<std::string, std::string> GetCompressors() const;
    size_t GetDeviceCount() const;
    size_t GetCompressorCount() const;
    // The friendly name of a listed device; empty when it is not listed.
    std::string GetDeviceFriendlyName(const std::string& displayName) const;
    // The WMV encoders present, newest first (display name, friendly name); .Codec indexes them.
    std::vector<std::pair<std::string, std::string>> GetWmvCodecs() const;
    // Whether a display is available for live video windows (result of the last RefreshAll).
    bool IsVMR9Available() const;

    // The device's capabilities, from the cache or from a pipeline of its own that opens the
    // device (READY) without streaming. Throws CDirectXEx/CGeneralEx as the device cannot be
    // parsed, created or opened; nothing is cached then.
    CVideoDeviceCaps GetVideoDeviceCaps(const std::string& displayName);
    // Learns the capabilities from a camera's own source element (in its running pipeline) unless
    // they are cached already. The result only fills the cache.
    void ForceVideoDeviceCaps(const std::string& displayName, GstElement* captureElement,
                              GstElement* pipeline);
    // Whether the capabilities of a device are cached.
    bool HasCachedCaps(const std::string& displayName) const;

    // GStreamer's version: code = major << 16 | minor << 8, text "major.minor" truncated to
    // textSize - 1 characters (textSize 0 writes nothing).
    void GetDirectXVersion(uint32_t* code, char* text, size_t textSize) const;

    static std::string GetPhysicalConnectorName(int32_t type);
    static std::string GetSubtypeName(const GUID& subtype);
    // The analog video standards set in flags, in table order, with their names and values.
    static std::vector<std::pair<std::string, uint32_t>> GetTVStandards(uint32_t flags);

    // The display name under which a monitored device is listed, or empty when it cannot be
    // opened by a display name (not a V4L2 device).
    std::string DisplayNameOf(GstDevice* device) const;
    // The capabilities that a source's caps describe, with the frame-rate rules applied.
    static CVideoDeviceCaps CapsFromGstCaps(const GstCaps* caps);

private:
    enum class Category { VideoInput, VideoCompressor };

    void RefreshInternal(Category category, std::map<std::string, std::string>& map);
    void EnumerateCaptureDevices(std::map<std::string, std::string>& map);
    void EnumerateCompressors(std::map<std::string, std::string>& map);
    CVideoDeviceCaps GetVideoDeviceCapsInternal(bool useSupplied, const std::string& displayName,
                                                GstElement* captureElement, GstElement* pipeline);
    static GstElement* GetVideoDeviceCaps_CreateVideoDev(const std::string& displayName);
    static GstElement* GetVideoDeviceCaps_CreateGraph(GstElement* captureElement);
    static void GetVideoDeviceCaps_CapDevCaps(GstElement* captureElement, CVideoDeviceCaps& caps);
    void GetVideoDeviceCaps_FilterCaps(GstElement* pipeline, CVideoDeviceCaps& caps) const;
    GstDeviceMonitor* Monitor();
    void WatchThread(GstBus* bus);

    const std::string m_byIdFolder;
    const VideoInputOpener m_openVideoInputs;

    std::mutex m_refreshLock;            // serialises refreshes; taken before m_lock
    mutable std::recursive_mutex m_lock; // guards everything below
    std::map<std::string, std::string> m_devices;
    std::map<std::string, std::string> m_compressors;
    std::vector<std::pair<std::string, std::string>> m_wmvCodecs;
    bool m_vmr9Available = false;
    std::map<std::string, CVideoDeviceCaps> m_capsCache;
    GstDeviceMonitor* m_monitor = nullptr;

    std::mutex m_watchLock; // guards the watch thread's start and stop
    std::thread m_watchThread;
    GstBus* m_watchBus = nullptr;
    std::function<void()> m_onDeviceChange; // under m_lock
};
