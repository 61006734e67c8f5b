#pragma once
// The video inputs, tuner and analog TV standards of a V4L2 capture card: what the device manager
// reports as the card's crossbar and TV tuner (CVideoDeviceCaps), and the routing the camera view
// applies. A card with more than one video input is what a media graph shows as a crossbar; its
// first tuner is the TV tuner. Routing must happen while the device does not stream: drivers
// refuse VIDIOC_S_INPUT and VIDIOC_S_STD with EBUSY then, so the camera view routes before its
// pipeline plays, and stops the pipeline for a change asked for while it runs.
//
// The ioctls go through IV4l2Device: the real one is a thin wrapper of the descriptor that the
// capture source element holds open; tests answer the same requests and structures from a script.
// Used on the thread that owns the device's pipeline (the user-interface thread); no locks.

#include "recording/VideoDeviceCaps.h"

#include <gst/gst.h>

#include <cstdint>
#include <memory>

struct v4l2_input;

class IV4l2Device {
public:
    virtual ~IV4l2Device() = default;
    // One ioctl: 0, or the errno value of its failure.
    virtual int Ioctl(unsigned long request, void* argument) = 0;
};

// The device behind a descriptor that someone else owns and keeps open.
class CV4l2FdDevice final : public IV4l2Device {
public:
    explicit CV4l2FdDevice(int fd) : m_fd(fd) {}
    int Ioctl(unsigned long request, void* argument) override;

private:
    const int m_fd;
};

// The V4L2 device a capture source element holds open (v4l2src's "device-fd", valid from READY
// on), or null for an element of another kind or one that has not opened its device.
std::unique_ptr<IV4l2Device> V4l2DeviceOfElement(GstElement* element);

// What a camera's settings ask of its card's inputs (".hasCrossbar", ".VideoInputPin",
// ".hasTuner", ".InputConnection", ".TVFormat").
struct CVideoInputSettings {
    bool hasCrossbar = false;
    int32_t videoInputPin = 0;
    bool hasTuner = false;
    int32_t inputConnection = 0;
    int32_t tvFormat = 0;
};

// What routing found and did.
struct CVideoInputOutcome {
    bool crossbarFound = false; // more than one video input
    bool tunerFound = false;
    int32_t inputCount = 0;
    // errno of a failed crossbar routing (EINVAL for an input the card does not have); 0 when it
    // was routed or nothing was asked.
    int crossbarError = 0;
    // A change was refused because the device streams: stop it and apply again.
    bool busy = false;
};

class CV4l2VideoInputs {
public:
    // At most this many inputs are enumerated (a driver that never says "no more" ends here).
    static constexpr int32_t kMaxInputs = 64;

    // Fills the crossbar and tuner part of caps from VIDIOC_ENUMINPUT, VIDIOC_G_TUNER and
    // VIDIOC_ENUMSTD: has crossbar with more than one input, then the input count (at most 20),
    // each input's connector type and one output (the video decoder); has tuner when the card
    // has one; the TV formats of the current input's standards; the number of tuner inputs.
    static void ReadCaps(IV4l2Device& device, CVideoDeviceCaps& caps);

    // Routes the card as the settings say, changing only what differs from the device's current
    // input and standard. A tuner's input and standard are best effort, as a tuner's answers are.
    static CVideoInputOutcome Apply(IV4l2Device& device, const CVideoInputSettings& settings);

    // The connector type of an input (the values of CDxDeviceMgrImpl::GetPhysicalConnectorName):
    // 1 for a tuner, otherwise from its name ("Composite", "S-Video", ...), 0 when unknown.
    static int32_t ConnectorType(const v4l2_input& input);
    // The stored TV format flags (GetTVStandards' values) as V4L2 standards, and back.
    static uint64_t ToV4l2Standard(uint32_t tvFormat);
    static uint32_t FromV4l2Standard(uint64_t standard);
};
