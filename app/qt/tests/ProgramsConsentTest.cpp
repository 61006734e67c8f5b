// A document that this user did not save on this machine must not start programs unseen: the
// desktop lists what its chains would start and asks before the document runs; "No" opens nothing
// and runs nothing, "Yes" is remembered for those programs; saving makes them the user's own, and
// a document whose programs were changed elsewhere is asked about again.

#include "app/qt/ProgramsConsent.h"
#include "actions/CSEA_InvokeCommand.h"
#include "app/qt/TavrixView.h"
#include "app/qt/tests/MainFrameFixture.h"

#include <QFileInfo>

#include <filesystem>

namespace {

using tavrixtest::WaitUntil;

class ProgramsConsentTest : public tavrixtest::MainFrameFixture {
protected:
    // A document made elsewhere: its camera is switched on when it opens, and its Activate chain
    // touches the marker file.
    std::string ForeignDocument(const QString& name, const std::string& marker) {
        const std::string path = MakeDocument(name, {"test:smpte"});
        CTavrixDoc document;
        EXPECT_TRUE(document.OnOpenDocument(path));
        document.Edit([&marker](CTavrixDocData& data) {
            data.m_activateAtStartup = true;
            CSEventActionChain* chain = data.AddChain();
            chain->SetName("Alarm");
            auto action = std::make_unique<CSEA_InvokeCommand>();
            action->SetStringProp("Command", "/usr/bin/touch");
            action->SetStringProp("Parameters", "'" + marker + "'");
            chain->AddAction(std::move(action));
            data.m_cameras.Find(0)->SetChainId(1, chain->GetId());
        });
        EXPECT_TRUE(document.OnSaveDocument());
        return path;
    }
    size_t Count(const std::string& text) {
        const std::vector<std::string> texts = LogTexts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }
};

TEST_F(ProgramsConsentTest, AForeignDocumentShowsItsProgramsAndRunsNothingUntilAllowed) {
    const std::string marker = m_dir.filePath("ran").toStdString();
    const QString path = QString::fromStdString(ForeignDocument("foreign.tvrx", marker));

    // The log holds earlier runs' entries too (kept in the user database).
    const size_t opened = Count("Document opened");
    const size_t refused = Count(CTavrixAppCore::kProgramsRefusedText);
    m_answer = false;
    EXPECT_EQ(m_frame->OpenDocument(path), nullptr);
    ASSERT_EQ(m_questions.size(), 1);
    const QString question = m_questions[0];
    EXPECT_TRUE(question.contains("/usr/bin/touch '" + QString::fromStdString(marker) + "'"))
        << question.toStdString();
    EXPECT_TRUE(question.contains("Camera 'Default', event 'Activate'")) << question.toStdString();
    EXPECT_TRUE(m_frame->Views().empty());
    EXPECT_EQ(Count(CTavrixAppCore::kProgramsRefusedText), refused + 1);
    EXPECT_EQ(Count("Document opened"), opened) << "no camera came up, no chain ran";
    EXPECT_FALSE(std::filesystem::exists(marker));

    // Asked again; "Yes" runs the document with its programs.
    m_answer = true;
    CTavrixView* view = m_frame->OpenDocument(path);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m_questions.size(), 2);
    EXPECT_TRUE(WaitUntil([&marker] { return std::filesystem::exists(marker); }, 20000));
    ASSERT_TRUE(m_frame->CloseDocument(view));

    // The answer is kept for these programs.
    m_answer = false;
    view = m_frame->OpenDocument(path);
    EXPECT_NE(view, nullptr);
    EXPECT_EQ(m_questions.size(), 2);
}

TEST_F(ProgramsConsentTest, SavingMakesTheProgramsTheUsersAndAChangeElsewhereIsAskedAgain) {
    const std::string marker = m_dir.filePath("saved").toStdString();
    const std::string path = ForeignDocument("own.tvrx", marker);
    m_answer = true;
    CTavrixView* view = m_frame->OpenDocument(QString::fromStdString(path));
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(m_questions.size(), 1);
    // The user changes the program's parameters and saves: a new list, but the user's own.
    view->Document()->Edit([&marker](CTavrixDocData& data) {
        data.m_chains.begin()->second->GetAction(0)->SetStringProp("Parameters", "'" + marker + "-2'");
    });
    ASSERT_TRUE(m_frame->SaveDocument(view));
    ASSERT_TRUE(m_frame->CloseDocument(view));
    m_answer = false;
    view = m_frame->OpenDocument(QString::fromStdString(path));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(m_questions.size(), 1) << "saved by this user on this machine";
    ASSERT_TRUE(m_frame->CloseDocument(view));

    // Someone changes the program in the file: the document is foreign again.
    {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.Edit([](CTavrixDocData& data) {
            data.m_chains.begin()->second->GetAction(0)->SetStringProp("Command", "/usr/bin/false");
        });
        ASSERT_TRUE(document.OnSaveDocument());
    }
    EXPECT_EQ(m_frame->OpenDocument(QString::fromStdString(path)), nullptr);
    ASSERT_EQ(m_questions.size(), 2);
    EXPECT_TRUE(m_questions[1].contains("/usr/bin/false")) << m_questions[1].toStdString();

    // A document without programs is never asked about.
    EXPECT_NE(m_frame->OpenDocument(QString::fromStdString(MakeDocument("plain.tvrx", {"test:smpte"}))),
              nullptr);
    EXPECT_EQ(m_questions.size(), 2);
}

TEST(ProgramsConsentQuestion, ListsEachProgramOnceAndShowsControlCharactersAsCodes) {
    QTemporaryDir dir;
    CTavrixDoc document;
    ASSERT_TRUE(document.OnNewDocument(dir.filePath("many.tvrx").toStdString()));
    std::vector<CChainProgram> programs;
    for (int i = 0; i < 30; ++i) {
        programs.push_back(CChainProgram{"Cam", 3, "Chain", "/bin/prog" + std::to_string(i), "-x"});
    }
    programs.push_back(programs.front()); // a second camera runs the same: listed once
    programs.push_back(CChainProgram{"Cam\x1b]0;title\x07", 1, "Chain", "/bin/echo", "\x1b[2J\xc2\x9b"});
    const QString text = ProgramsConsent::QuestionText(document, programs);
    EXPECT_TRUE(text.contains(dir.filePath("many.tvrx")));
    EXPECT_EQ(text.count("/bin/prog0 -x"), 1);
    EXPECT_TRUE(text.contains("/bin/prog19 -x"));
    EXPECT_FALSE(text.contains("/bin/prog20 -x"));
    EXPECT_TRUE(text.contains("... and 11 more")) << text.toStdString();
    EXPECT_FALSE(text.contains(QChar(0x1b)));
    EXPECT_FALSE(text.contains(QChar(0x9b)));
    document.OnCloseDocument();
}

} // namespace
