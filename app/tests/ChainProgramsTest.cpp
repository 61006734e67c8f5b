// The programs a document's chains start: which are listed, the digest that says whether the
// user has seen them, and the approvals kept in the settings file.

#include "app/ChainPrograms.h"

#include "actions/CSEA_InvokeCommand.h"
#include "actions/CSEA_PlaySnd.h"
#include "persistence/TavrixDoc.h"
#include "platform/SettingsFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::unique_ptr<CSEventAction> Command(const std::string& command, const std::string& parameters) {
    auto action = std::make_unique<CSEA_InvokeCommand>();
    action->SetStringProp("Command", command);
    action->SetStringProp("Parameters", parameters);
    return action;
}

TEST(ChainPrograms, ListsTheProgramsOfTheChainsThatCamerasBind) {
    CTavrixDocData data;
    CCamera* porch = data.AddCamera();
    porch->m_camName = "Porch";
    CCamera* yard = data.AddCamera();
    yard->m_camName = "Yard";
    CSEventActionChain* alarm = data.AddChain();
    alarm->SetName("Alarm");
    alarm->AddAction(std::make_unique<CSEA_PlaySnd>());
    alarm->AddAction(Command("/bin/a", "-x %f"));
    alarm->AddAction(Command("/bin/b", ""));
    CSEventActionChain* unused = data.AddChain();
    unused->AddAction(Command("/bin/never", ""));
    porch->SetChainId(6, alarm->GetId());
    porch->SetChainId(3, alarm->GetId());
    yard->SetChainId(2, 77); // a chain that does not exist starts nothing

    const std::vector<CChainProgram> programs = ChainPrograms::List(data);
    ASSERT_EQ(programs.size(), 4u);
    EXPECT_EQ(programs[0].cameraName, "Porch");
    EXPECT_EQ(programs[0].eventKind, 3);
    EXPECT_EQ(programs[0].chainName, "Alarm");
    EXPECT_EQ(programs[0].command, "/bin/a");
    EXPECT_EQ(programs[0].parameters, "-x %f");
    EXPECT_EQ(programs[1].command, "/bin/b");
    EXPECT_EQ(programs[2].eventKind, 6);
    EXPECT_EQ(ChainPrograms::LogText(programs[0]),
              "Event 'Motion Start' starts the program '/bin/a' with the parameters '-x %f' (chain 'Alarm')");
    EXPECT_EQ(ChainPrograms::DisplayLine(programs[0]), "Camera 'Porch', event 'Motion Start': /bin/a -x %f");
    EXPECT_EQ(ChainPrograms::DisplayLine(CChainProgram{"A\nB", 1, "C", "/bin/x\x1b", "\xc2\x9b"}),
              "Camera 'A\\x0AB', event 'Activate': /bin/x\\x1B \\x9B");

    porch->SetChainId(3, -1);
    porch->SetChainId(6, -1);
    EXPECT_TRUE(ChainPrograms::List(data).empty());
}

TEST(ChainPrograms, TheDigestFollowsTheProgramsAndTheirParametersOnly) {
    const std::vector<CChainProgram> programs{{"Porch", 3, "Alarm", "/bin/a", "-x"},
                                              {"Porch", 6, "Alarm", "/bin/b", ""}};
    const std::string digest = ChainPrograms::Digest(programs);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(ChainPrograms::Digest({}), "");
    // Order, cameras, events, chains and repetitions do not matter...
    EXPECT_EQ(ChainPrograms::Digest({{"Yard", 1, "Other", "/bin/b", ""},
                                     {"Yard", 1, "Other", "/bin/a", "-x"},
                                     {"Gate", 2, "Other", "/bin/a", "-x"}}),
              digest);
    // ...what is started does.
    EXPECT_NE(
        ChainPrograms::Digest({{"Porch", 3, "Alarm", "/bin/a", "-y"}, {"Porch", 6, "Alarm", "/bin/b", ""}}),
        digest);
    EXPECT_NE(ChainPrograms::Digest({{"", 1, "", "/bin/a -x", ""}, {"", 1, "", "/bin/b", ""}}), digest);
    EXPECT_NE(ChainPrograms::Digest({{"", 1, "", "a", "b"}}), ChainPrograms::Digest({{"", 1, "", "ab", ""}}));
}

class ApprovedProgramsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-approved-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
        m_path = m_folder + "/Tavrix.conf";
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string m_folder;
    std::string m_path;
};

TEST_F(ApprovedProgramsTest, KeepsTheDigestsBesideTheOtherSettingsAndDropsTheOldest) {
    {
        platform::CSettingsFile file(m_path);
        ASSERT_TRUE(file.Load());
        file.WriteDword("MiscSettings", "MiminizeMode", 2);
        ASSERT_TRUE(file.Save());
    }
    const CApprovedPrograms approvals(m_path);
    const std::string first(64, 'a');
    EXPECT_TRUE(approvals.IsApproved("")) << "no programs, nothing to approve";
    EXPECT_FALSE(approvals.IsApproved(first));
    ASSERT_TRUE(approvals.Approve(first));
    EXPECT_TRUE(approvals.IsApproved(first));
    EXPECT_TRUE(CApprovedPrograms(m_path).IsApproved(first)) << "read from the file";
    platform::CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("MiscSettings", "MiminizeMode"), 2u);

    // Approving again keeps one value; past the maximum the oldest approval goes first.
    ASSERT_TRUE(approvals.Approve(first));
    for (size_t i = 1; i < CApprovedPrograms::kMaximum; ++i) {
        ASSERT_TRUE(approvals.Approve(std::to_string(i)));
    }
    EXPECT_TRUE(approvals.IsApproved(first));
    ASSERT_TRUE(approvals.Approve(first)); // used again: now the newest
    ASSERT_TRUE(approvals.Approve("newest"));
    EXPECT_TRUE(approvals.IsApproved(first));
    EXPECT_FALSE(approvals.IsApproved("1"));
    EXPECT_TRUE(approvals.IsApproved("2"));
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ValueNames(CApprovedPrograms::kGroup).size(), CApprovedPrograms::kMaximum);
}

TEST_F(ApprovedProgramsTest, AnUnreadableSettingsFileIsNeitherTrustedNorOverwritten) {
    const std::string garbage = "[broken\nthis is no key file\x01";
    std::ofstream(m_path) << garbage;
    const CApprovedPrograms approvals(m_path);
    EXPECT_FALSE(approvals.Approve(std::string(64, 'b')));
    EXPECT_FALSE(approvals.IsApproved(std::string(64, 'b')));
    std::ifstream file(m_path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), garbage);
}

} // namespace
