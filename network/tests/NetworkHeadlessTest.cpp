// A network camera in the program as a user runs it: `tavrix doc create` with an RTSP address that
// holds a password, then `tavrix --headless` recording the camera's motion from the RTSP test
// server, with the password nowhere in what the program writes.

#include "network/tests/RtspTestServer.h"
#include "recording/tests/GstTestSupport.h"
#include "recording/tests/RecTestHost.h"

#include "TavrixBuildPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kTavrix = TAVRIX_BINARY_DIR "/bin/tavrix";

class NetworkHeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        gsttest::StartGStreamer();
        char folder[] = "/tmp/tavrix-nethl-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
        m_environment = "XDG_CONFIG_HOME='" + m_folder + "/config' XDG_DATA_HOME='" + m_folder +
                        "/data' XDG_STATE_HOME='" + m_folder +
                        "/state' GST_REGISTRY='" TAVRIX_BINARY_DIR "/gst-registry-tests.bin' ";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string Run(const std::string& arguments, int* exitCode) {
        return rectest::RunCommand(m_environment + kTavrix + std::string(" ") + arguments + " 2>&1",
                                   exitCode);
    }

    std::string m_folder;
    std::string m_environment;
};

TEST_F(NetworkHeadlessTest, AnRtspCameraWithAPasswordIsCreatedRecordedAndNeverShowsThePassword) {
    CRtspTestServer server(
        {CRtspTestServer::Stream("/porch", "h264", "test:motion?on=2500-3500", 160, 120, 10)
             .WithLogin("viewer", "Sup3rSecret")});
    server.Start();
    const std::string document = m_folder + "/Gate.tvrx";
    int status = -1;
    const std::string created =
        Run("doc create '" + document + "' --camera '" + server.Url("/porch", "viewer", "Sup3rSecret") +
                "' --record-path '" + m_folder + "/rec'",
            &status);
    ASSERT_EQ(status, 0) << created;
    struct stat file {};
    ASSERT_EQ(::stat(document.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    for (const auto& [key, value] :
         {std::pair<const char*, const char*>{"Cameras.0.MotionPreEventDelay", "1000"},
          {"Cameras.0.MotionStopDelay", "500"},
          {"Cameras.0.StreamTimeout", "5"}}) {
        Run("doc set '" + document + "' " + key + " " + value, &status);
        ASSERT_EQ(status, 0) << key;
    }

    const std::string output = Run("--headless --activate --duration 9 '" + document + "'", &status);
    EXPECT_EQ(status, 0) << output;
    for (const char* text :
         {"\tGate\tDefault\tChanged camera state from 'Inactive' to 'Idle'",
          "\tGate\tDefault\tStarted recording to '", "\tGate\tDefault\tFinished recording to '"}) {
        EXPECT_NE(output.find(text), std::string::npos) << text << " in\n" << output;
    }
    EXPECT_EQ(output.find("Capturing device lost."), std::string::npos) << output;
    EXPECT_EQ(output.find("Sup3rSecret"), std::string::npos) << output;

    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_folder + "/rec")) {
        ++files;
        const rectest::CProbe probe = rectest::Probe(entry.path().string());
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_EQ(probe.width, 160) << "the camera's own size";
        EXPECT_GE(probe.frames, 15);
    }
    EXPECT_EQ(files, 1);
}

} // namespace
