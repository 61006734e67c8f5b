#include "persistence/UserDbMgrImpl.h"

#include "foundation/Exceptions.h"
#include "persistence/ConfigMgrImpl.h"
#include "platform/SettingsFile.h"

#include "TempDirFixture.h"

#include <fstream>

namespace {

class UserDbMgrTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        m_config = std::make_unique<CConfigMgrImpl>(Path("Tavrix.conf"));
        UsePath(Path("db/Tavrix.db"));
    }
    void UsePath(const std::string& path) {
        auto settings = m_config->GetNotificationSettings();
        settings.SetUserDbPath(path);
        m_config->SetNotificationSettings(settings);
    }
    std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::unique_ptr<CConfigMgrImpl> m_config;
};

CUserDbEx CatchUserDb(const std::function<void()>& f) {
    try {
        f();
    } catch (const CUserDbEx& e) {
        return e;
    }
    ADD_FAILURE() << "no CUserDbEx";
    return CUserDbEx("", "", 0, "");
}

} // namespace

TEST_F(UserDbMgrTest, TheDefaultPathIsUnderTheDataHome) {
    EXPECT_EQ(CNotificationSettings().GetUserDbPath(), Path("data") + "/Tavrix/Tavrix.db");
}

TEST_F(UserDbMgrTest, ANewDatabaseGetsBothTablesAndVersionOne) {
    CUserDbMgrImpl db(*m_config);
    db.Open();
    auto& c = db.Connection();
    EXPECT_EQ(c.executestring("select sql from sqlite_master where name='t_userdb_schema'"),
              "CREATE TABLE t_userdb_schema(version number)");
    EXPECT_EQ(c.executestring("select sql from sqlite_master where name='t_log_entry'"),
              "CREATE TABLE t_log_entry (log_date integer,docname string,camname string,log_info string)");
    EXPECT_EQ(c.executeint("select max(version) from t_userdb_schema"), 1);
    db.Close();
    db.Open();
    EXPECT_EQ(db.Connection().executeint("select count(*) from t_userdb_schema"), 1);
    db.Close();
}

TEST_F(UserDbMgrTest, ANewerVersionIsRefusedAndNotWritten) {
    {
        CUserDbMgrImpl db(*m_config);
        db.Open();
        db.Connection().executenonquery("insert into t_userdb_schema values(2)");
        db.Close();
    }
    const std::string before = ReadFile(Path("db/Tavrix.db"));
    CUserDbMgrImpl db(*m_config);
    const CUserDbEx e = CatchUserDb([&] { db.Open(); });
    EXPECT_EQ(e.GetMessage(), "CUserDbMgrImpl::Open");
    EXPECT_EQ(e.First().info, "User database version is higher than expected. Please upgrade Tavrix");
    EXPECT_EQ(e.First().className, "CUserDbEx");
    EXPECT_FALSE(db.Connection().is_open());
    db.Close();
    EXPECT_EQ(ReadFile(Path("db/Tavrix.db")), before);
}

TEST_F(UserDbMgrTest, AFileThatIsNoDatabaseRaisesWithSqlitesText) {
    std::filesystem::create_directories(Path("db"));
    std::ofstream(Path("db/Tavrix.db"))
        << "this is not a database file, it is plain text of some length......";
    CUserDbMgrImpl db(*m_config);
    const CUserDbEx e = CatchUserDb([&] { db.Open(); });
    EXPECT_EQ(e.GetMessage(), "CUserDbMgrImpl::Open");
    EXPECT_EQ(e.First().info, "file is not a database");
}

TEST_F(UserDbMgrTest, AChangedPathMovesTheFileAtClose) {
    CUserDbMgrImpl db(*m_config);
    db.Open();
    db.Connection().executenonquery("insert into t_log_entry values (1,'d','c','kept')");
    UsePath(Path("moved/elsewhere.db"));
    db.Close();
    EXPECT_FALSE(std::filesystem::exists(Path("db/Tavrix.db")));
    EXPECT_EQ(m_config->GetNotificationSettings().GetUserDbPath(), Path("moved/elsewhere.db"));
    db.Open();
    EXPECT_EQ(db.Connection().executestring("select log_info from t_log_entry"), "kept");
    db.Close();
}

TEST_F(UserDbMgrTest, AMoveOntoAnExistingFileFailsAndTheOldPathIsWrittenBack) {
    std::ofstream(Path("existing.db")) << "someone else's file";
    CUserDbMgrImpl db(*m_config);
    db.Open();
    UsePath(Path("existing.db"));
    db.Close();
    EXPECT_EQ(ReadFile(Path("existing.db")), "someone else's file");
    EXPECT_TRUE(std::filesystem::exists(Path("db/Tavrix.db")));
    EXPECT_EQ(m_config->GetNotificationSettings().GetUserDbPath(), Path("db/Tavrix.db"));

    m_config->SaveAll();
    platform::CSettingsFile file(Path("Tavrix.conf"));
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadString("NotificationSettings", "UserDbPath"), Path("db/Tavrix.db"));
}

TEST_F(UserDbMgrTest, ANewPathStaysWhenThereWasNoFileToMove) {
    std::ofstream(Path("plainfile")) << "a file where a folder would have to be";
    UsePath(Path("plainfile/x.db"));
    CUserDbMgrImpl db(*m_config);
    EXPECT_THROW(db.Open(), CUserDbEx);
    UsePath(Path("fixed.db"));
    db.Close();
    EXPECT_EQ(m_config->GetNotificationSettings().GetUserDbPath(), Path("fixed.db"));
}

TEST_F(UserDbMgrTest, MoveFileNoReplaceNeverOverwrites) {
    std::ofstream(Path("a")) << "A";
    std::ofstream(Path("b")) << "B";
    EXPECT_FALSE(CUserDbMgrImpl::MoveFileNoReplace(Path("a"), Path("b")));
    EXPECT_EQ(ReadFile(Path("a")), "A");
    EXPECT_EQ(ReadFile(Path("b")), "B");
    EXPECT_TRUE(CUserDbMgrImpl::MoveFileNoReplace(Path("a"), Path("c")));
    EXPECT_EQ(ReadFile(Path("c")), "A");
    EXPECT_FALSE(std::filesystem::exists(Path("a")));
    EXPECT_FALSE(CUserDbMgrImpl::MoveFileNoReplace(Path("missing"), Path("d")));
    EXPECT_FALSE(std::filesystem::exists(Path("d")));
}
