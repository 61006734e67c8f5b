#include "actions/CSEventActionChain.h"

#include "actions/CSEA_SendFTP.h"
#include "actions/CSEA_SendMail.h"
#include "actions/CSEventRecord.h"
#include "persistence/ConfigStore.h"
#include "persistence/DocumentSchema.h"
#include "persistence/NotificationLog.h"
#include "persistence/sqlite3x.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// An action whose result is set by the test and which counts its runs.
class ScriptedAction : public CSEventAction {
public:
    ScriptedAction(bool result, int* runs) : m_result(result), m_runs(runs) {}
    int32_t GetClassId() const override { return 99; }
    std::string GetName() const override { return "Scripted"; }
    bool Execute(const CSEventRecord&) override {
        ++*m_runs;
        return m_result;
    }
    const CSEAPropertyRow* GetPropertyTable() const override {
        static const CSEAPropertyRow rows[] = {{nullptr, nullptr, 0}};
        return rows;
    }
    std::unique_ptr<CSEventAction> Clone() const override {
        return std::make_unique<ScriptedAction>(m_result, m_runs);
    }

private:
    bool m_result;
    int* m_runs;
};

class CSEventActionChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrix-chain-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        DocumentSchema::CreateDocumentDb(m_db, (m_dir / "chain.tvrx").string());
        CNotificationLog::Instance().Clear();
    }
    void TearDown() override {
        m_db.close();
        std::filesystem::remove_all(m_dir);
        CNotificationLog::Instance().Clear();
    }
    std::vector<std::string> Keys() {
        std::vector<std::string> keys;
        sqlite3x::sqlite3_command command(m_db, "select id from t_config_data order by rowid");
        auto reader = command.executereader();
        while (reader.read()) {
            keys.push_back(reader.getstring(0));
        }
        return keys;
    }
    std::filesystem::path m_dir;
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

} // namespace

TEST_F(CSEventActionChainTest, RunExecutesEveryActionAndAndsTheResults) {
    int runs = 0;
    CSEventActionChain chain;
    chain.AddAction(std::make_unique<ScriptedAction>(true, &runs));
    chain.AddAction(std::make_unique<ScriptedAction>(false, &runs));
    chain.AddAction(std::make_unique<ScriptedAction>(true, &runs));
    EXPECT_FALSE(chain.Run(CSEventRecord()));
    EXPECT_EQ(runs, 3) << "a failing action does not stop the chain";

    CSEventActionChain empty;
    EXPECT_TRUE(empty.Run(CSEventRecord()));
}

TEST_F(CSEventActionChainTest, StoresItsKeysInOrder) {
    CSEventActionChain chain;
    chain.SetName("Alarm");
    auto ftp = std::make_unique<CSEA_SendFTP>();
    ftp->SetStringProp("FTPServer", "ftp.example.org");
    chain.AddAction(std::move(ftp));
    chain.Store("EventActionChains.0", m_store);
    const std::vector<std::string> keys = Keys();
    const std::vector<std::string> head(keys.begin(), keys.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"EventActionChains.0.ChainName", "EventActionChains.0.count",
                                              "EventActionChains.0.0.class_id",
                                              "EventActionChains.0.0.StringProp.Count",
                                              "EventActionChains.0.0.StringProp.0.id",
                                              "EventActionChains.0.0.StringProp.0.value"}));
    EXPECT_EQ(m_store.GetInt("EventActionChains.0.0.class_id"), 3);
    // String properties in key order: FTPFilename, FTPPass, FTPPath, FTPServer, FTPUser.
    EXPECT_EQ(m_store.GetInt("EventActionChains.0.0.StringProp.Count"), 5);
    EXPECT_EQ(m_store.GetString("EventActionChains.0.0.StringProp.3.id"), "FTPServer");
    EXPECT_EQ(m_store.GetString("EventActionChains.0.0.StringProp.3.value"), "ftp.example.org");
    EXPECT_EQ(m_store.GetInt("EventActionChains.0.0.IntegerProp.Count"), 3);
    EXPECT_EQ(m_store.GetString("EventActionChains.0.0.IntegerProp.0.id"), "FTPPassive");
    EXPECT_EQ(m_store.GetInt("EventActionChains.0.0.IntegerProp.1.value"), 21);

    CSEventActionChain loaded;
    loaded.Load("EventActionChains.0", m_store);
    EXPECT_EQ(loaded.GetName(), "Alarm");
    ASSERT_EQ(loaded.GetActionCount(), 1u);
    EXPECT_EQ(loaded.GetAction(0)->GetClassId(), 3);
    EXPECT_EQ(loaded.GetAction(0)->GetStringProp("FTPServer"), "ftp.example.org");
}

TEST_F(CSEventActionChainTest, PartialPropertiesKeepTheClassDefaults) {
    m_store.PutString("C.ChainName", "Mail only");
    m_store.PutInt("C.count", 1);
    m_store.PutInt("C.0.class_id", 2);
    m_store.PutInt("C.0.StringProp.Count", 1);
    m_store.PutString("C.0.StringProp.0.id", "Recipient");
    m_store.PutString("C.0.StringProp.0.value", "guard@example.org");
    m_store.PutInt("C.0.IntegerProp.Count", 1);
    m_store.PutString("C.0.IntegerProp.0.id", "SMTPPort");
    m_store.PutInt("C.0.IntegerProp.0.value", 587);
    CSEventActionChain chain;
    chain.Load("C", m_store);
    ASSERT_EQ(chain.GetActionCount(), 1u);
    const CSEventAction* mail = chain.GetAction(0);
    EXPECT_EQ(mail->GetStringProp("Recipient"), "guard@example.org");
    EXPECT_EQ(mail->GetIntegerProp("SMTPPort"), 587);
    EXPECT_EQ(mail->GetIntegerProp("MaxAttachSize"), 512) << "default kept";
    EXPECT_EQ(mail->GetStringProps().count("Sender"), 1u);
}

TEST_F(CSEventActionChainTest, AnUnknownClassIdIsLeftOutAndLogged) {
    m_store.PutString("C.ChainName", "Mixed");
    m_store.PutInt("C.count", 2);
    m_store.PutInt("C.0.class_id", 42);
    m_store.PutInt("C.1.class_id", 1);
    m_store.PutInt("C.1.StringProp.Count", 0);
    m_store.PutInt("C.1.IntegerProp.Count", 0);
    CSEventActionChain chain;
    chain.Load("C", m_store);
    ASSERT_EQ(chain.GetActionCount(), 1u);
    EXPECT_EQ(chain.GetAction(0)->GetClassId(), 1);
    ASSERT_EQ(CNotificationLog::Instance().GetCount(), 1);
    EXPECT_EQ(CNotificationLog::Instance().GetEntry(0).text,
              "Event action chain 'Mixed': action 0 has the unknown class id 42 and is left out");
}

TEST_F(CSEventActionChainTest, AFailedLoadLeavesTheChainAsItWas) {
    CSEventActionChain chain;
    chain.SetName("Before");
    chain.AddAction(std::make_unique<CSEA_SendMail>());
    m_store.PutString("C.ChainName", "After");
    m_store.PutInt("C.count", 1000000000);
    EXPECT_THROW(chain.Load("C", m_store), sqlite3x::database_error);
    EXPECT_EQ(chain.GetName(), "Before");
    EXPECT_EQ(chain.GetActionCount(), 1u);
}

TEST_F(CSEventActionChainTest, CopiesCloneEveryAction) {
    int runs = 0;
    CSEventActionChain chain;
    chain.SetName("Original");
    chain.SetId(4);
    auto mail = std::make_unique<CSEA_SendMail>();
    mail->SetStringProp("Subject", "motion");
    chain.AddAction(std::move(mail));
    chain.AddAction(std::make_unique<ScriptedAction>(true, &runs));
    CSEventActionChain copy(chain);
    EXPECT_EQ(copy.GetName(), "Original");
    EXPECT_EQ(copy.GetId(), 4);
    ASSERT_EQ(copy.GetActionCount(), 2u);
    EXPECT_NE(copy.GetAction(0), chain.GetAction(0));
    chain.GetAction(0)->SetStringProp("Subject", "changed");
    EXPECT_EQ(copy.GetAction(0)->GetStringProp("Subject"), "motion");
    copy.Run(CSEventRecord());
    EXPECT_EQ(runs, 1);

    copy.MoveAction(1, 0);
    EXPECT_EQ(copy.GetAction(0)->GetClassId(), 99);
    copy.RemoveAction(0);
    copy.RemoveAction(5);
    EXPECT_EQ(copy.GetActionCount(), 1u);
}
