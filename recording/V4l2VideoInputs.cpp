#include "recording/V4l2VideoInputs.h"

#include "foundation/Tracer.h"

#include <linux/videodev2.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

// Connector types (the values GetPhysicalConnectorName names).
constexpr int32_t kConnectorTuner = 1;
constexpr int32_t kConnectorVideoDecoder = 12;

// The stored TV format flags and the V4L2 standards they stand for.
const std::pair<uint32_t, v4l2_std_id> kStandards[] = {
    {0x1, V4L2_STD_NTSC_M},       {0x2, V4L2_STD_NTSC_M_JP},    {0x4, V4L2_STD_NTSC_443},
    {0x10, V4L2_STD_PAL_B},       {0x20, V4L2_STD_PAL_D},       {0x40, V4L2_STD_PAL_G},
    {0x80, V4L2_STD_PAL_H},       {0x100, V4L2_STD_PAL_I},      {0x200, V4L2_STD_PAL_M},
    {0x400, V4L2_STD_PAL_N},      {0x800, V4L2_STD_PAL_60},     {0x1000, V4L2_STD_SECAM_B},
    {0x2000, V4L2_STD_SECAM_D},   {0x4000, V4L2_STD_SECAM_G},   {0x8000, V4L2_STD_SECAM_H},
    {0x10000, V4L2_STD_SECAM_K},  {0x20000, V4L2_STD_SECAM_K1}, {0x40000, V4L2_STD_SECAM_L},
    {0x80000, V4L2_STD_SECAM_LC}, {0x100000, V4L2_STD_PAL_Nc}};

// Connector names as drivers spell them, lower case, and their types.
const std::pair<const char*, int32_t> kConnectorNames[] = {
    {"s-video", 3},   {"svideo", 3},    {"s video", 3}, {"composite", 2}, {"cvbs", 2},
    {"component", 5}, {"ypbpr", 5},     {"scart", 14},  {"rgb", 4},       {"vga", 4},
    {"sdi", 6},       {"firewire", 10}, {"1394", 10},   {"usb", 11},      {"aux", 9}};

std::string Lower(const uint8_t* text, size_t size) {
    std::string lower;
    for (size_t i = 0; i < size && text[i] != 0; ++i) {
        lower += static_cast<char>(text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a' : text[i]);
    }
    return lower;
}

// The device's inputs in index order, up to kMaxInputs.
std::vector<v4l2_input> Inputs(IV4l2Device& device) {
    std::vector<v4l2_input> inputs;
    for (int32_t index = 0; index < CV4l2VideoInputs::kMaxInputs; ++index) {
        v4l2_input input{};
        input.index = static_cast<uint32_t>(index);
        if (device.Ioctl(VIDIOC_ENUMINPUT, &input) != 0) {
            break;
        }
        inputs.push_back(input);
    }
    return inputs;
}

bool HasTuner(IV4l2Device& device) {
    v4l2_tuner tuner{};
    tuner.index = 0;
    return device.Ioctl(VIDIOC_G_TUNER, &tuner) == 0;
}

// Selects an input unless it is the current one already: 0 or the errno of the refusal.
int SelectInput(IV4l2Device& device, int32_t index) {
    int current = -1;
    if (device.Ioctl(VIDIOC_G_INPUT, &current) == 0 && current == index) {
        return 0;
    }
    int wanted = index;
    return device.Ioctl(VIDIOC_S_INPUT, &wanted);
}

// Sets the standard unless the current one is among those asked for.
int SelectStandard(IV4l2Device& device, v4l2_std_id wanted) {
    v4l2_std_id current = 0;
    if (device.Ioctl(VIDIOC_G_STD, &current) == 0 && current != 0 && (current & ~wanted) == 0) {
        return 0;
    }
    return device.Ioctl(VIDIOC_S_STD, &wanted);
}

} // namespace

int CV4l2FdDevice::Ioctl(unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ioctl(m_fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

std::unique_ptr<IV4l2Device> V4l2DeviceOfElement(GstElement* element) {
    if (element == nullptr ||
        g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device-fd") == nullptr) {
        return nullptr;
    }
    gint fd = -1;
    g_object_get(element, "device-fd", &fd, nullptr);
    if (fd < 0) {
        return nullptr;
    }
    return std::make_unique<CV4l2FdDevice>(fd);
}

void CV4l2VideoInputs::ReadCaps(IV4l2Device& device, CVideoDeviceCaps& caps) {
    const std::vector<v4l2_input> inputs = Inputs(device);
    caps.tunerInputConnections = static_cast<int32_t>(std::count_if(
        inputs.begin(), inputs.end(), [](const v4l2_input& i) { return i.type == V4L2_INPUT_TYPE_TUNER; }));
    if (inputs.size() > 1) {
        caps.hasCrossbar = true;
        caps.crossbarInputCount =
            std::min(static_cast<int32_t>(inputs.size()), CVideoDeviceCaps::kMaxCrossbarPins);
        for (int32_t pin = 0; pin < caps.crossbarInputCount; ++pin) {
            caps.inputTypes[static_cast<size_t>(pin)] = ConnectorType(inputs[static_cast<size_t>(pin)]);
        }
        // The inputs lead to one video output: the card's decoder.
        caps.crossbarOutputCount = 1;
        caps.outputTypes[0] = kConnectorVideoDecoder;
    }
    v4l2_tuner tuner{};
    tuner.index = 0;
    if (device.Ioctl(VIDIOC_G_TUNER, &tuner) == 0) {
        caps.hasTuner = true;
        TRACE("CV4l2VideoInputs::ReadCaps() tuner '%.32s' from %u to %u",
              reinterpret_cast<const char*>(tuner.name), tuner.rangelow, tuner.rangehigh);
    }
    caps.tunerTVFormats = 0;
    for (uint32_t index = 0; index < 64; ++index) {
        v4l2_standard standard{};
        standard.index = index;
        if (device.Ioctl(VIDIOC_ENUMSTD, &standard) != 0) {
            break;
        }
        caps.tunerTVFormats |= FromV4l2Standard(standard.id);
    }
    TRACE("CV4l2VideoInputs::ReadCaps() %d inputs, tuner %d, TV formats %#x", static_cast<int>(inputs.size()),
          caps.hasTuner ? 1 : 0, caps.tunerTVFormats);
}

CVideoInputOutcome CV4l2VideoInputs::Apply(IV4l2Device& device, const CVideoInputSettings& settings) {
    CVideoInputOutcome outcome;
    const std::vector<v4l2_input> inputs = Inputs(device);
    outcome.inputCount = static_cast<int32_t>(inputs.size());
    outcome.crossbarFound = inputs.size() > 1;
    if (outcome.crossbarFound && settings.hasCrossbar) {
        const int32_t index = settings.videoInputPin;
        const int error = index < 0 || index >= outcome.inputCount ? EINVAL : SelectInput(device, index);
        if (error == EBUSY) {
            outcome.busy = true;
        } else {
            outcome.crossbarError = error;
        }
    }
    outcome.tunerFound = HasTuner(device);
    if (outcome.tunerFound && settings.hasTuner) {
        const int32_t connect = settings.inputConnection;
        if (connect >= 0 && connect < outcome.inputCount &&
            inputs[static_cast<size_t>(connect)].type == V4L2_INPUT_TYPE_TUNER &&
            SelectInput(device, connect) == EBUSY) {
            outcome.busy = true;
        }
        const v4l2_std_id standard = ToV4l2Standard(static_cast<uint32_t>(settings.tvFormat));
        if (standard != 0 && SelectStandard(device, standard) == EBUSY) {
            outcome.busy = true;
        }
    }
    return outcome;
}

int32_t CV4l2VideoInputs::ConnectorType(const v4l2_input& input) {
    if (input.type == V4L2_INPUT_TYPE_TUNER) {
        return kConnectorTuner;
    }
    const std::string name = Lower(input.name, sizeof input.name);
    for (const auto& [part, type] : kConnectorNames) {
        if (name.find(part) != std::string::npos) {
            return type;
        }
    }
    return 0;
}

uint64_t CV4l2VideoInputs::ToV4l2Standard(uint32_t tvFormat) {
    v4l2_std_id standard = 0;
    for (const auto& [flag, id] : kStandards) {
        if ((tvFormat & flag) != 0) {
            standard |= id;
        }
    }
    return standard;
}

uint32_t CV4l2VideoInputs::FromV4l2Standard(uint64_t standard) {
    uint32_t flags = 0;
    for (const auto& [flag, id] : kStandards) {
        if ((standard & id) != 0) {
            flags |= flag;
        }
    }
    return flags;
}
