#pragma once
// A V4L2 capture card played from a script, for the machine the tests run on has none: it answers
// the input, tuner and standard ioctls with the kernel's own structures and error codes, as a
// driver does (EINVAL past the last input or standard, ENODATA for standards on an input that has
// none, EBUSY for a new input or standard while streaming, ENOTTY for what it does not know),
// and counts the changes asked of it.

#include "recording/V4l2VideoInputs.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

struct CScriptedInput {
    std::string name;
    uint32_t type = V4L2_INPUT_TYPE_CAMERA;
    // The standards the input offers, one VIDIOC_ENUMSTD entry each (an entry may be a group).
    std::vector<v4l2_std_id> standards;
};

class CScriptedV4l2Device : public IV4l2Device {
public:
    std::vector<CScriptedInput> inputs;
    bool hasTuner = false;
    bool streaming = false;
    int currentInput = 0;
    v4l2_std_id currentStandard = 0;
    std::map<unsigned long, int> calls; // request -> how often it was made

    int Ioctl(unsigned long request, void* argument) override {
        ++calls[request];
        switch (request) {
        case VIDIOC_ENUMINPUT: {
            auto* input = static_cast<v4l2_input*>(argument);
            if (input->index >= inputs.size()) {
                return EINVAL;
            }
            const CScriptedInput& scripted = inputs[input->index];
            const uint32_t index = input->index;
            std::memset(input, 0, sizeof *input);
            input->index = index;
            std::strncpy(reinterpret_cast<char*>(input->name), scripted.name.c_str(), sizeof input->name - 1);
            input->type = scripted.type;
            input->tuner = 0;
            for (v4l2_std_id id : scripted.standards) {
                input->std |= id;
            }
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(argument) = currentInput;
            return 0;
        case VIDIOC_S_INPUT: {
            const int index = *static_cast<int*>(argument);
            if (index < 0 || index >= static_cast<int>(inputs.size())) {
                return EINVAL;
            }
            if (streaming) {
                return EBUSY;
            }
            currentInput = index;
            return 0;
        }
        case VIDIOC_G_TUNER: {
            auto* tuner = static_cast<v4l2_tuner*>(argument);
            if (!hasTuner || tuner->index != 0) {
                return EINVAL;
            }
            std::strncpy(reinterpret_cast<char*>(tuner->name), "Television", sizeof tuner->name - 1);
            tuner->type = V4L2_TUNER_ANALOG_TV;
            tuner->rangelow = 44 * 16;
            tuner->rangehigh = 958 * 16;
            return 0;
        }
        case VIDIOC_ENUMSTD: {
            auto* standard = static_cast<v4l2_standard*>(argument);
            const std::vector<v4l2_std_id>& offered = Current().standards;
            if (offered.empty()) {
                return ENODATA;
            }
            if (standard->index >= offered.size()) {
                return EINVAL;
            }
            standard->id = offered[standard->index];
            return 0;
        }
        case VIDIOC_G_STD:
            if (Current().standards.empty()) {
                return ENODATA;
            }
            *static_cast<v4l2_std_id*>(argument) = currentStandard;
            return 0;
        case VIDIOC_S_STD: {
            v4l2_std_id offered = 0;
            for (v4l2_std_id id : Current().standards) {
                offered |= id;
            }
            const v4l2_std_id wanted = *static_cast<v4l2_std_id*>(argument) & offered;
            if (wanted == 0) {
                return offered == 0 ? ENODATA : EINVAL;
            }
            if (streaming) {
                return EBUSY;
            }
            currentStandard = wanted;
            return 0;
        }
        default:
            return ENOTTY;
        }
    }

private:
    const CScriptedInput& Current() const {
        static const CScriptedInput none;
        return currentInput >= 0 && currentInput < static_cast<int>(inputs.size()) ? inputs[currentInput]
                                                                                   : none;
    }
};

// A PAL/SECAM TV card: a tuner input, a composite and an S-Video input.
inline CScriptedV4l2Device TvCard() {
    CScriptedV4l2Device card;
    const std::vector<v4l2_std_id> standards = {V4L2_STD_PAL_BG, V4L2_STD_PAL_I, V4L2_STD_SECAM_L,
                                                V4L2_STD_NTSC_M};
    card.inputs = {{"Television", V4L2_INPUT_TYPE_TUNER, standards},
                   {"Composite1", V4L2_INPUT_TYPE_CAMERA, standards},
                   {"S-Video", V4L2_INPUT_TYPE_CAMERA, standards}};
    card.hasTuner = true;
    card.currentStandard = V4L2_STD_NTSC_M;
    return card;
}
