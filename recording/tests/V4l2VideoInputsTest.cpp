// The inputs, tuner and standards of a V4L2 capture card, against a card played from a script:
// what the device manager reports of them, and how the camera's settings route them (only what
// differs, never while streaming).

#include "recording/V4l2VideoInputs.h"

#include "recording/DxDeviceMgr.h"
#include "recording/tests/ScriptedV4l2Device.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>

namespace {

std::vector<std::string> StandardNames(uint32_t flags) {
    std::vector<std::string> names;
    for (const auto& [name, value] : CDxDeviceMgrImpl::GetTVStandards(flags)) {
        names.push_back(name);
    }
    return names;
}

} // namespace

TEST(V4l2VideoInputsTest, ACardsInputsTunerAndStandardsFillTheCrossbarAndTunerCaps) {
    CScriptedV4l2Device card = TvCard();
    CVideoDeviceCaps caps;
    CV4l2VideoInputs::ReadCaps(card, caps);
    EXPECT_TRUE(caps.hasCrossbar);
    EXPECT_EQ(caps.crossbarInputCount, 3);
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(caps.inputTypes[0]), "Tuner");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(caps.inputTypes[1]), "Composite");
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(caps.inputTypes[2]), "SVideo");
    EXPECT_EQ(caps.crossbarOutputCount, 1);
    EXPECT_EQ(CDxDeviceMgrImpl::GetPhysicalConnectorName(caps.outputTypes[0]), "Video Decoder");
    EXPECT_TRUE(caps.hasTuner);
    EXPECT_EQ(caps.tunerInputConnections, 1);
    // PAL B/G is a group of two standards; PAL_G has no name of its own in the list.
    EXPECT_EQ(caps.tunerTVFormats, 0x1u | 0x10u | 0x40u | 0x100u | 0x40000u);
    EXPECT_EQ(StandardNames(caps.tunerTVFormats),
              (std::vector<std::string>{"NTSC_M", "PAL_B ", "PAL_I ", "SECAM_L "}));
    // Reading routes nothing.
    EXPECT_EQ(card.calls.count(VIDIOC_S_INPUT), 0u);
    EXPECT_EQ(card.calls.count(VIDIOC_S_STD), 0u);

    // A webcam: one input without standards, no tuner.
    CScriptedV4l2Device webcam;
    webcam.inputs = {{"Camera 1", V4L2_INPUT_TYPE_CAMERA, {}}};
    CVideoDeviceCaps plain;
    CV4l2VideoInputs::ReadCaps(webcam, plain);
    EXPECT_FALSE(plain.hasCrossbar);
    EXPECT_FALSE(plain.hasTuner);
    EXPECT_EQ(plain.crossbarInputCount, 0);
    EXPECT_EQ(plain.crossbarOutputCount, 0);
    EXPECT_EQ(plain.tunerTVFormats, 0u);
    EXPECT_EQ(plain.tunerInputConnections, 0);

    // A board with more inputs than the caps hold: the first 20 are listed.
    CScriptedV4l2Device board;
    for (int i = 0; i < 24; ++i) {
        board.inputs.push_back({"Composite" + std::to_string(i), V4L2_INPUT_TYPE_CAMERA, {}});
    }
    CVideoDeviceCaps many;
    CV4l2VideoInputs::ReadCaps(board, many);
    EXPECT_EQ(many.crossbarInputCount, CVideoDeviceCaps::kMaxCrossbarPins);
    EXPECT_EQ(many.inputTypes[19], 2);
}

TEST(V4l2VideoInputsTest, RoutingChangesOnlyWhatDiffersAndIsRefusedWhileStreaming) {
    CScriptedV4l2Device card = TvCard();
    CVideoInputSettings settings;
    settings.hasCrossbar = true;
    settings.videoInputPin = 2;

    CVideoInputOutcome outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_TRUE(outcome.crossbarFound);
    EXPECT_TRUE(outcome.tunerFound);
    EXPECT_EQ(outcome.inputCount, 3);
    EXPECT_EQ(outcome.crossbarError, 0);
    EXPECT_FALSE(outcome.busy);
    EXPECT_EQ(card.currentInput, 2);
    EXPECT_EQ(card.calls[VIDIOC_S_INPUT], 1);
    EXPECT_EQ(card.calls.count(VIDIOC_S_STD), 0u) << "no tuner asked for";

    // Applying the same settings to a streaming card asks nothing of it.
    card.streaming = true;
    outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_FALSE(outcome.busy);
    EXPECT_EQ(card.calls[VIDIOC_S_INPUT], 1);

    // A new input while streaming is refused: the caller must stop the device and apply again.
    settings.videoInputPin = 1;
    outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_TRUE(outcome.busy);
    EXPECT_EQ(outcome.crossbarError, 0);
    EXPECT_EQ(card.currentInput, 2);
    card.streaming = false;
    outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_FALSE(outcome.busy);
    EXPECT_EQ(card.currentInput, 1);

    // An input the card does not have is an error; without ".hasCrossbar" nothing is routed.
    settings.videoInputPin = 3;
    EXPECT_EQ(CV4l2VideoInputs::Apply(card, settings).crossbarError, EINVAL);
    settings.hasCrossbar = false;
    const int routed = card.calls[VIDIOC_S_INPUT];
    outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_TRUE(outcome.crossbarFound);
    EXPECT_EQ(outcome.crossbarError, 0);
    EXPECT_EQ(card.calls[VIDIOC_S_INPUT], routed);
    EXPECT_EQ(card.currentInput, 1);
}

TEST(V4l2VideoInputsTest, TheTunerSelectsItsInputAndTheStoredStandard) {
    CScriptedV4l2Device card = TvCard();
    card.currentInput = 1;
    CVideoInputSettings settings;
    settings.hasTuner = true;
    settings.inputConnection = 0;
    settings.tvFormat = 0x10; // PAL_B
    CVideoInputOutcome outcome = CV4l2VideoInputs::Apply(card, settings);
    EXPECT_FALSE(outcome.busy);
    EXPECT_EQ(card.currentInput, 0);
    EXPECT_EQ(card.currentStandard, V4L2_STD_PAL_B);

    // Set already: nothing is asked again, also while streaming.
    card.streaming = true;
    const int standardsSet = card.calls[VIDIOC_S_STD];
    EXPECT_FALSE(CV4l2VideoInputs::Apply(card, settings).busy);
    EXPECT_EQ(card.calls[VIDIOC_S_STD], standardsSet);
    settings.tvFormat = 0x100; // PAL_I
    EXPECT_TRUE(CV4l2VideoInputs::Apply(card, settings).busy);
    EXPECT_EQ(card.currentStandard, V4L2_STD_PAL_B);

    // The tuner's input connection must be a tuner input: a composite one is not selected.
    card.streaming = false;
    settings.inputConnection = 2;
    CV4l2VideoInputs::Apply(card, settings);
    EXPECT_EQ(card.currentInput, 0);
    EXPECT_EQ(card.currentStandard, V4L2_STD_PAL_I);
}

TEST(V4l2VideoInputsTest, StoredTvFormatsMapToV4l2StandardsAndBack) {
    EXPECT_EQ(CV4l2VideoInputs::ToV4l2Standard(0x10), V4L2_STD_PAL_B);
    EXPECT_EQ(CV4l2VideoInputs::ToV4l2Standard(0x1 | 0x40000), V4L2_STD_NTSC_M | V4L2_STD_SECAM_L);
    EXPECT_EQ(CV4l2VideoInputs::ToV4l2Standard(0), 0u);
    for (const auto& [name, value] : CDxDeviceMgrImpl::GetTVStandards(0xFFFFFFFF)) {
        EXPECT_EQ(CV4l2VideoInputs::FromV4l2Standard(CV4l2VideoInputs::ToV4l2Standard(value)), value) << name;
    }
    EXPECT_EQ(CV4l2VideoInputs::FromV4l2Standard(V4L2_STD_PAL_BG), 0x10u | 0x40u);
}
