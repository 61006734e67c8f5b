// An installed Tavrix as a user gets it: `cmake --install` staged under DESTDIR (as a package build
// does) and into a plain prefix, run from there without the build tree: its own GStreamer
// elements, a recording made headless, the start script of the service; the desktop entry, the
// metainfo and the units pass their validators; the manual page describes every command and option
// of the usage.

#include "TavrixBuildPaths.h"
#include "TavrixVersion.h"
#include "dist/tests/DistTestSupport.h"
#include "recording/tests/RecTestHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using disttest::Quote;
using disttest::ReadFile;

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = new disttest::CTempFolder("tavrix-install");
        // As a package build stages it: prefix /usr under DESTDIR.
        s_stage = s_folder->Path() + "/stage";
        int status = -1;
        s_installLog =
            rectest::RunCommand("DESTDIR=" + Quote(s_stage) + " " + Quote(TAVRIX_CMAKE_COMMAND) +
                                    " --install " + Quote(TAVRIX_BINARY_DIR) + " --prefix /usr 2>&1",
                                &status);
        s_stageOk = status == 0;
        // As `make install PREFIX=...` without DESTDIR: the units name the real paths.
        s_prefix = s_folder->Path() + "/prefix";
        rectest::RunCommand(Quote(TAVRIX_CMAKE_COMMAND) + " --install " + Quote(TAVRIX_BINARY_DIR) +
                                " --prefix " + Quote(s_prefix) + " 2>&1",
                            &status);
        s_prefixOk = status == 0;
    }
    static void TearDownTestSuite() {
        delete s_folder;
        s_folder = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(s_stageOk) << s_installLog;
        ASSERT_TRUE(s_prefixOk);
        m_home = std::make_unique<disttest::CTempFolder>("tavrix-install-run");
        // Private settings, user database, trace and registry; run from an unrelated folder.
        m_environment = "cd " + Quote(m_home->Path()) + " && " + disttest::PrivateEnvironment(m_home->Path());
    }
    std::string RunInstalled(const std::string& arguments, int* status,
                             const std::string& errors = "/dev/null") {
        return rectest::RunCommand(m_environment + Quote(s_stage + "/usr/bin/tavrix") + " " + arguments +
                                       " 2>" + Quote(errors),
                                   status);
    }

    static disttest::CTempFolder* s_folder;
    static std::string s_stage;
    static std::string s_prefix;
    static std::string s_installLog;
    static bool s_stageOk;
    static bool s_prefixOk;
    std::unique_ptr<disttest::CTempFolder> m_home;
    std::string m_environment;
};

disttest::CTempFolder* InstallTest::s_folder = nullptr;
std::string InstallTest::s_stage;
std::string InstallTest::s_prefix;
std::string InstallTest::s_installLog;
bool InstallTest::s_stageOk = false;
bool InstallTest::s_prefixOk = false;

// The width and height of a PNG file, from its header.
std::pair<int, int> PngSize(const std::string& path) {
    const std::string data = ReadFile(path);
    if (data.size() < 24 || data.compare(1, 3, "PNG") != 0) {
        return {0, 0};
    }
    const auto be32 = [&data](size_t at) {
        return (static_cast<unsigned char>(data[at]) << 24) |
               (static_cast<unsigned char>(data[at + 1]) << 16) |
               (static_cast<unsigned char>(data[at + 2]) << 8) | static_cast<unsigned char>(data[at + 3]);
    };
    return {static_cast<int>(be32(16)), static_cast<int>(be32(20))};
}

TEST_F(InstallTest, TheInstallationHoldsEveryPartInItsPlace) {
    const std::string usr = s_stage + "/usr";
    for (const std::string& file :
         {usr + "/bin/tavrix", usr + "/lib/tavrix/gstreamer-1.0/libgsttavrixgrabber.so",
          usr + "/lib/tavrix/gstreamer-1.0/libgsttavrixsource.so", usr + "/lib/tavrix/tavrix-service",
          usr + "/share/applications/com.kestrova.Tavrix.desktop",
          usr + "/share/metainfo/com.kestrova.Tavrix.metainfo.xml",
          usr + "/share/icons/hicolor/scalable/apps/com.kestrova.Tavrix.svg",
          usr + "/share/man/man1/tavrix.1.gz", usr + "/share/doc/tavrix/copyright",
          usr + "/share/doc/tavrix/changelog.gz", s_stage + TAVRIX_SYSTEMD_SYSTEM_UNIT_DIR "/tavrix.service",
          s_stage + TAVRIX_SYSTEMD_USER_UNIT_DIR "/tavrix.service",
          s_stage + TAVRIX_SYSUSERS_DIR "/tavrix.conf"}) {
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
    }
    for (const std::string& program : {usr + "/bin/tavrix", usr + "/lib/tavrix/tavrix-service"}) {
        EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none) << program;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const std::string dim = std::to_string(size) + "x" + std::to_string(size);
        EXPECT_EQ(PngSize(usr + "/share/icons/hicolor/" + dim + "/apps/com.kestrova.Tavrix.png"),
                  std::make_pair(size, size))
            << dim;
    }
    // The units of the prefix /usr run the start script from /usr, and read /etc.
    const std::string unit = ReadFile(s_stage + TAVRIX_SYSTEMD_SYSTEM_UNIT_DIR "/tavrix.service");
    EXPECT_NE(unit.find("ExecStart=/usr/lib/tavrix/tavrix-service /etc/tavrix/documents /var/lib/tavrix "),
              std::string::npos)
        << unit;
    EXPECT_EQ(unit.find(s_stage), std::string::npos) << "no staging folder in what is installed";
    const std::string prefixed = ReadFile(s_prefix + "/lib/systemd/system/tavrix.service");
    EXPECT_NE(
        prefixed.find("ExecStart=" + s_prefix + "/lib/tavrix/tavrix-service " + s_prefix + "/etc/tavrix/"),
        std::string::npos)
        << prefixed;
}

TEST_F(InstallTest, TheInstalledExecutableRunsWithItsOwnElementsAndRecords) {
    int status = -1;
    EXPECT_EQ(RunInstalled("--version", &status), "Tavrix " TAVRIX_VERSION_STRING "\n");
    EXPECT_EQ(status, 0);

    // Its elements come from the installed tree, never from the build tree (the trace says which).
    const std::string devices = RunInstalled("devices", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(devices.find("Video Devices\n"), std::string::npos) << devices;
    EXPECT_NE(devices.find("test:ball\tTest picture: moving ball\n"), std::string::npos) << devices;
    EXPECT_NE(devices.find("test:smpte\tTest picture: colour bars\n"), std::string::npos) << devices;

    const std::string document = m_home->Path() + "/Porch.tvrx";
    RunInstalled("doc create " + Quote(document) + " --camera 'test:motion?on=1000-2000' --record-path " +
                     Quote(m_home->Path() + "/rec"),
                 &status);
    ASSERT_EQ(status, 0);
    disttest::MakeSmallAndQuick(
        [this](const std::string& arguments, int* code) { return RunInstalled(arguments, code); }, document);
    const std::string errors = m_home->Path() + "/err.txt";
    const std::string output = rectest::RunCommand(
        m_environment + "TAVRIX_TRACE=yes " + Quote(s_stage + "/usr/bin/tavrix") + " --headless --activate " +
            "--duration 4 " + Quote(document) + " 2>" + Quote(errors),
        &status);
    EXPECT_EQ(status, 0) << output << ReadFile(errors);
    EXPECT_NE(output.find("\tPorch\tDefault\tStarted recording to '"), std::string::npos) << output;
    EXPECT_NE(output.find("\tPorch\tDefault\tFinished recording to '"), std::string::npos) << output;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(m_home->Path() + "/rec")) {
        ++files;
        EXPECT_GT(rectest::Probe(entry.path().string()).frames, 5) << entry.path();
    }
    EXPECT_EQ(files, 1);

    std::string traces;
    for (const auto& entry : fs::directory_iterator(s_stage + "/usr/bin")) {
        if (entry.path().filename().string().rfind("tavrix.trace.", 0) == 0) {
            traces += ReadFile(entry.path().string());
            fs::remove(entry.path());
        }
    }
    EXPECT_NE(traces.find("plugin folder " + s_stage + "/usr/lib/tavrix/gstreamer-1.0\n"), std::string::npos)
        << traces.substr(0, 2000);
    EXPECT_EQ(traces.find("plugin folder " TAVRIX_PLUGIN_DIR), std::string::npos);
}

// The schema installed for other tools is the one the installed program checks imports with, and
// the installed program exports and imports documents from any folder.
TEST_F(InstallTest, TheInstalledSchemaIsTheOneTheProgramImportsWith) {
    int status = -1;
    const std::string installed = ReadFile(s_stage + "/usr/share/tavrix/tavrix-document.schema.json");
    EXPECT_NE(installed.find("\"tavrix-document\""), std::string::npos);
    EXPECT_EQ(RunInstalled("doc schema", &status), installed);
    EXPECT_EQ(status, 0);

    const std::string document = m_home->Path() + "/Gate.tvrx";
    RunInstalled("doc create " + Quote(document) + " --camera test:ball --record-path " +
                     Quote(m_home->Path()),
                 &status);
    ASSERT_EQ(status, 0);
    const std::string json = RunInstalled("doc export " + Quote(document), &status);
    ASSERT_EQ(status, 0);
    std::ofstream(m_home->Path() + "/gate.json") << json;
    RunInstalled("doc import " + Quote(m_home->Path() + "/gate.json") + " " +
                     Quote(m_home->Path() + "/Copy.tvrx"),
                 &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(RunInstalled("doc export " + Quote(m_home->Path() + "/Copy.tvrx"), &status), json);

    // systemctl reload sends SIGHUP, which re-opens changed documents.
    EXPECT_NE(ReadFile(s_stage + TAVRIX_SYSTEMD_SYSTEM_UNIT_DIR "/tavrix.service")
                  .find("ExecReload=/bin/kill -HUP $MAINPID"),
              std::string::npos);
}

TEST_F(InstallTest, TheServiceStartScriptRunsTheListedDocumentsAndThoseOfItsFolder) {
    const std::string service = s_stage + "/usr/lib/tavrix/tavrix-service";
    const std::string folder = m_home->Path() + "/var";
    fs::create_directories(folder + "/elsewhere");
    int status = -1;
    for (const std::string& document : {folder + "/Porch.tvrx", folder + "/elsewhere/Yard.tvrx"}) {
        RunInstalled("doc create " + Quote(document) + " --camera test:smpte --record-path " + Quote(folder),
                     &status);
        ASSERT_EQ(status, 0);
    }
    // Relative names come from the folder; comments, blank lines and a document named twice are
    // left out.
    std::ofstream(m_home->Path() + "/documents") << "# the documents of this box\n\n  elsewhere/Yard.tvrx  \n"
                                                 << folder << "/Porch.tvrx\n";
    const std::string output =
        rectest::RunCommand(m_environment + Quote(service) + " " + Quote(m_home->Path() + "/documents") +
                                " " + Quote(folder) + " --duration 1 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(disttest::CountOf(output, "\tPorch\t\tDocument opened\n"), 1) << output;
    EXPECT_EQ(disttest::CountOf(output, "\tYard\t\tDocument opened\n"), 1) << output;

    // Nothing to run is a configuration error, which the units do not restart.
    const std::string empty =
        rectest::RunCommand(m_environment + Quote(service) + " " + Quote(m_home->Path() + "/none") + " " +
                                Quote(m_home->Path() + "/elsewhere-empty") + " 2>&1",
                            &status);
    EXPECT_EQ(status, 78);
    EXPECT_NE(empty.find("tavrix-service: no document to run"), std::string::npos) << empty;
}

TEST_F(InstallTest, TheDesktopEntryMetainfoAndUnitsPassTheirValidators) {
    int status = -1;
    std::string output =
        rectest::RunCommand("desktop-file-validate " +
                                Quote(s_prefix + "/share/applications/com.kestrova.Tavrix.desktop") + " 2>&1",
                            &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
    output = rectest::RunCommand("appstreamcli validate --no-net --no-color " +
                                     Quote(s_prefix + "/share/metainfo/com.kestrova.Tavrix.metainfo.xml") +
                                     " 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    // systemd's own check, which also finds the start script named in ExecStart; a user unit
    // needs a runtime folder.
    output = rectest::RunCommand("systemd-analyze verify --man=no " +
                                     Quote(s_prefix + "/lib/systemd/system/tavrix.service") + " 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
    fs::create_directories(m_home->Path() + "/runtime");
    fs::permissions(m_home->Path() + "/runtime", fs::perms::owner_all);
    output = rectest::RunCommand("XDG_RUNTIME_DIR=" + Quote(m_home->Path() + "/runtime") +
                                     " systemd-analyze --user verify --man=no " +
                                     Quote(s_prefix + "/lib/systemd/user/tavrix.service") + " 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
    // The manual page formats without a warning.
    output = rectest::RunCommand("zcat " + Quote(s_prefix + "/share/man/man1/tavrix.1.gz") +
                                     " | groff -man -Tutf8 -ww -z 2>&1",
                                 &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "");
}

TEST_F(InstallTest, TheManualPageDescribesEveryCommandAndOptionOfTheUsage) {
    int status = -1;
    // The program's own usage, whichever stream it goes to.
    const std::string usage =
        rectest::RunCommand(Quote(TAVRIX_BINARY_DIR "/bin/tavrix") + " --help 2>&1", &status);
    const std::string manual = disttest::ManualText(
        rectest::RunCommand("zcat " + Quote(s_prefix + "/share/man/man1/tavrix.1.gz"), &status));
    ASSERT_EQ(status, 0);
    const std::vector<disttest::CUsageLine> lines = disttest::ParseUsage(usage);
    ASSERT_GE(lines.size(), 8u) << usage;
    for (const disttest::CUsageLine& line : lines) {
        if (!line.command.empty()) {
            EXPECT_NE(manual.find("tavrix " + line.command), std::string::npos) << line.command;
        }
        for (const std::string& option : line.options) {
            EXPECT_NE(manual.find(option), std::string::npos) << option << " of: tavrix " << line.command;
        }
    }
}

} // namespace
