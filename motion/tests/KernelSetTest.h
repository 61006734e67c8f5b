#pragma once
// Runs a test once per kernel set (plain, SSE2, AVX2), each set forced for the test's duration and
// the previous one restored afterwards; sets this processor lacks are skipped. Also the row widths
// at which the kernel sets are held to the references.

#include "motion/ImageKernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

class KernelSetTest : public ::testing::TestWithParam<imagekernels::KernelSet> {
protected:
    void SetUp() override {
        m_previous = imagekernels::ActiveKernelSet();
        if (!imagekernels::UseKernelSet(GetParam())) {
            GTEST_SKIP() << imagekernels::KernelSetName(GetParam()) << " is not available here";
        }
    }
    void TearDown() override { imagekernels::UseKernelSet(m_previous); }

private:
    imagekernels::KernelSet m_previous = imagekernels::KernelSet::kPlain;
};

inline std::string KernelSetTestName(const ::testing::TestParamInfo<imagekernels::KernelSet>& info) {
    switch (info.param) {
    case imagekernels::KernelSet::kPlain:
        return "Plain";
    case imagekernels::KernelSet::kSse2:
        return "Sse2";
    case imagekernels::KernelSet::kAvx2:
        return "Avx2";
    }
    return "Unknown";
}

#define INSTANTIATE_FOR_EVERY_KERNEL_SET(fixture)                                                            \
    INSTANTIATE_TEST_SUITE_P(KernelSets, fixture,                                                            \
                             ::testing::Values(imagekernels::KernelSet::kPlain,                              \
                                               imagekernels::KernelSet::kSse2,                               \
                                               imagekernels::KernelSet::kAvx2),                              \
                             KernelSetTestName)

// Every width from 1 to 160 (all vector step sizes and tails of 8, 16 and 32 pixels meet there),
// then the neighbours of the common frame widths up to 1920.
inline std::vector<int32_t> KernelTestWidths() {
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 160; ++w) {
        widths.push_back(w);
    }
    for (int32_t w : {176,  191,  192,  193,  255,  256,  257,  319,  320,  321,  351,  352,  353,  479,
                      480,  481,  511,  512,  513,  639,  640,  641,  703,  704,  705,  719,  720,  721,
                      767,  768,  769,  799,  800,  801,  1023, 1024, 1025, 1279, 1280, 1281, 1359, 1360,
                      1361, 1439, 1440, 1441, 1599, 1600, 1601, 1903, 1904, 1905, 1917, 1918, 1919, 1920}) {
        widths.push_back(w);
    }
    return widths;
}
