// The stored configuration of an encoder: saved from real encoders, restored onto new ones, and
// bad stored state skipped with a description instead of failing.

#include "recording/CompressorState.h"

#include "recording/tests/GstTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CompressorStateTest : public ::testing::Test {
protected:
    void SetUp() override { gsttest::StartGStreamer(); }

    static gsttest::ElementPtr Make(const char* factory) {
        return gsttest::Own(gst_element_factory_make(factory, nullptr));
    }
};

TEST_F(CompressorStateTest, AnEncoderWithItsDefaultsHasNoState) {
    gsttest::ElementPtr encoder = Make("jpegenc");
    ASSERT_TRUE(encoder);
    EXPECT_EQ(CCompressorState::Save(encoder.get()), "");
    EXPECT_TRUE(CCompressorState::Restore(encoder.get(), std::string()).empty());
    EXPECT_EQ(CCompressorState::Save(nullptr), "");
}

TEST_F(CompressorStateTest, ChangedSettingsSurviveTheTripOntoAFreshEncoder) {
    gsttest::ElementPtr encoder = Make("x264enc");
    if (!encoder) {
        GTEST_SKIP() << "x264enc is not installed";
    }
    // An unsigned number, an enumeration, a boolean and a string with blanks and quotes.
    gst_util_set_object_arg(G_OBJECT(encoder.get()), "bitrate", "777");
    gst_util_set_object_arg(G_OBJECT(encoder.get()), "speed-preset", "ultrafast");
    g_object_set(encoder.get(), "byte-stream", TRUE, "option-string", "me=dia subme=\"1 2\"", nullptr);
    const std::string state = CCompressorState::Save(encoder.get());
    EXPECT_NE(state.find("bitrate=777"), std::string::npos) << state;
    EXPECT_NE(state.find("speed-preset=ultrafast"), std::string::npos) << state;
    EXPECT_EQ(state.find("name="), std::string::npos) << "the element's name is not part of its state";

    gsttest::ElementPtr fresh = Make("x264enc");
    EXPECT_TRUE(CCompressorState::Restore(fresh.get(), state).empty()) << state;
    EXPECT_EQ(CCompressorState::Save(fresh.get()), state);
    guint bitrate = 0;
    gboolean byteStream = FALSE;
    gchar* options = nullptr;
    g_object_get(fresh.get(), "bitrate", &bitrate, "byte-stream", &byteStream, "option-string", &options,
                 nullptr);
    EXPECT_EQ(bitrate, 777u);
    EXPECT_TRUE(byteStream);
    EXPECT_STREQ(options, "me=dia subme=\"1 2\"");
    g_free(options);

    // The bytes a document stores.
    const std::vector<uint8_t> bytes = CCompressorState::SaveBytes(encoder.get());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), state);
}

TEST_F(CompressorStateTest, WhatCannotBeAppliedIsSkippedAndDescribed) {
    gsttest::ElementPtr encoder = Make("jpegenc");
    const std::vector<std::string> problems = CCompressorState::Restore(
        encoder.get(), "quality=33 bogus=1 quality=abc quality=1000 name=other junk =5  snapshot=true");
    const std::vector<std::string> expected = {
        "unknown setting 'bogus' was ignored",
        "value 'abc' of setting 'quality' is not valid and was ignored",
        "value '1000' of setting 'quality' is not valid and was ignored",
        "setting 'name' cannot be changed and was ignored",
        "'junk' is not a setting and was ignored",
        "'=5' is not a setting and was ignored",
    };
    EXPECT_EQ(problems, expected);
    gint quality = 0;
    gboolean snapshot = FALSE;
    g_object_get(encoder.get(), "quality", &quality, "snapshot", &snapshot, nullptr);
    EXPECT_EQ(quality, 33) << "the valid settings still apply";
    EXPECT_TRUE(snapshot);
    gchar* name = gst_element_get_name(encoder.get());
    EXPECT_STRNE(name, "other");
    g_free(name);
}

TEST_F(CompressorStateTest, BinaryStateOfAnotherProgramIsIgnoredWhole) {
    gsttest::ElementPtr encoder = Make("jpegenc");
    const std::vector<uint8_t> binary = {'q', 'u', 'a', 'l', 'i', 't', 'y', '=', '5', 0x00, 0x01, 0xFF, 0x80};
    const std::vector<std::string> problems = CCompressorState::Restore(encoder.get(), binary);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems.front(), "the stored settings are not readable and were ignored");
    gint quality = 0;
    g_object_get(encoder.get(), "quality", &quality, nullptr);
    EXPECT_EQ(quality, 85) << "nothing of the binary state applies";
}

TEST(CompressorStateTokens, BlanksSeparateExceptInsideQuotes) {
    using Tokens = std::vector<std::string>;
    EXPECT_EQ(CCompressorState::Tokenize(""), Tokens{});
    EXPECT_EQ(CCompressorState::Tokenize("  a=1\tb=2\n"), (Tokens{"a=1", "b=2"}));
    EXPECT_EQ(CCompressorState::Tokenize(R"(s="x y" t=1)"), (Tokens{R"(s="x y")", "t=1"}));
    EXPECT_EQ(CCompressorState::Tokenize(R"(s="a \" b" t)"), (Tokens{R"(s="a \" b")", "t"}));
    // An unterminated quote runs to the end; a final backslash is kept.
    EXPECT_EQ(CCompressorState::Tokenize(R"(s="open end\)"), (Tokens{R"(s="open end\)"}));
}

} // namespace
