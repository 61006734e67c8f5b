// The accounts in the user database and the "tavrix user" commands.
#include "web/WebUsers.h"
#include "foundation/Exceptions.h"
#include "persistence/sqlite3x.h"
#include "web/WebCommands.h"
#include "web/tests/WebTestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

namespace {

class WebUsersTest : public ::testing::Test {
protected:
    void TearDown() override { RemoveTree(m_dir); }
    std::string m_dir = MakeWebTempDir();
    std::string m_db = m_dir + "/sub/Tavrix.db";
};

TEST_F(WebUsersTest, PasswordsAreStoredAsArgon2idAndTheFileIsTheOwnersAlone) {
    {
        CWebUsers users(m_db);
        users.Add("alice", "correct horse", EWebRole::Admin);
        EXPECT_TRUE(users.CheckPassword("alice", "correct horse"));
        EXPECT_FALSE(users.CheckPassword("alice", "correct horsE"));
        EXPECT_FALSE(users.CheckPassword("nobody", "correct horse"));
        EXPECT_EQ(users.CheckPassword("alice", "correct horse")->role, EWebRole::Admin);
    }
    sqlite3x::sqlite3_connection connection(m_db);
    const std::string stored = connection.executestring("select password from t_web_user where name='alice'");
    EXPECT_EQ(stored.rfind("$argon2id$", 0), 0u) << stored;
    EXPECT_EQ(stored.find("correct horse"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(m_db.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(WebUsersTest, BadNamesShortPasswordsAndDuplicatesAreRefused) {
    CWebUsers users(m_db);
    users.Add("bob", "long enough", EWebRole::Viewer);
    EXPECT_THROW(users.Add("bob", "another one", EWebRole::Admin), CGeneralEx);
    EXPECT_THROW(users.Add("carol", "short", EWebRole::Viewer), CGeneralEx);
    EXPECT_THROW(users.Add("", "long enough", EWebRole::Viewer), CGeneralEx);
    EXPECT_THROW(users.Add("a b", "long enough", EWebRole::Viewer), CGeneralEx);
    EXPECT_THROW(users.Add("x'; drop table t_web_user; --", "long enough", EWebRole::Viewer), CGeneralEx);
    EXPECT_EQ(users.Count(), 1u);
}

TEST_F(WebUsersTest, TokensAreStoredHashedAndReplacedByANewOne) {
    CWebUsers users(m_db);
    users.Add("bob", "long enough", EWebRole::Viewer);
    const std::string first = users.NewToken("bob");
    EXPECT_EQ(users.CheckToken(first)->name, "bob");
    const std::string second = users.NewToken("bob");
    EXPECT_FALSE(users.CheckToken(first));
    EXPECT_TRUE(users.CheckToken(second));
    EXPECT_FALSE(users.CheckToken(""));
    EXPECT_THROW(users.NewToken("nobody"), CGeneralEx);
    sqlite3x::sqlite3_connection connection(m_db);
    EXPECT_EQ(connection.executeint("select count(*) from t_web_user where token like '%" +
                                    second.substr(4, 20) + "%'"),
              0);
}

TEST_F(WebUsersTest, ANewerTableIsRefusedAndLeftUntouched) {
    {
        CWebUsers users(m_db);
        users.Add("bob", "long enough", EWebRole::Viewer);
    }
    {
        sqlite3x::sqlite3_connection connection(m_db);
        connection.executenonquery("update t_web_schema set version=2");
    }
    try {
        CWebUsers users(m_db);
        FAIL() << "a newer table was opened";
    } catch (const CUserDbEx& e) {
        EXPECT_NE(e.GetMessage().find("Please upgrade Tavrix"), std::string::npos);
    }
    sqlite3x::sqlite3_connection connection(m_db);
    EXPECT_EQ(connection.executeint("select count(*) from t_web_user"), 1);
}

TEST_F(WebUsersTest, UserCommandsAddListTokenAndRemove) {
    std::istringstream password("s3cret-password\n");
    std::ostringstream out, err;
    EXPECT_EQ(WebCommands::Add("alice", true, m_db, password, out, err), 0) << err.str();
    std::istringstream again("s3cret-password\n");
    EXPECT_EQ(WebCommands::Add("alice", false, m_db, again, out, err), 1);
    EXPECT_NE(err.str().find("exists already"), std::string::npos);
    std::istringstream empty("");
    EXPECT_EQ(WebCommands::Add("bob", false, m_db, empty, out, err), 1) << "no password, no user";

    std::ostringstream list;
    EXPECT_EQ(WebCommands::List(m_db, list, err), 0);
    EXPECT_EQ(list.str(), "alice\tadmin\t-\n");
    std::ostringstream token;
    EXPECT_EQ(WebCommands::Token("alice", m_db, token, err), 0);
    EXPECT_EQ(token.str().rfind("tvx_", 0), 0u);
    std::ostringstream listed;
    WebCommands::List(m_db, listed, err);
    EXPECT_EQ(listed.str(), "alice\tadmin\ttoken\n");
    EXPECT_EQ(WebCommands::Remove("alice", m_db, out, err), 0);
    EXPECT_EQ(WebCommands::Remove("alice", m_db, out, err), 1);
    CWebUsers users(m_db);
    EXPECT_EQ(users.Count(), 0u);
}

} // namespace
