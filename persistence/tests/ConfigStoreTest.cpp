#include "persistence/ConfigStore.h"

#include "persistence/DocumentSchema.h"
#include "persistence/sqlite3x.h"

#include "TempDirFixture.h"

using sqlite3x::database_error;

namespace {

class ConfigStoreTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        DocumentSchema::CreateDocumentDb(m_db, Path("store.tvrx"));
    }
    std::string ErrorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

} // namespace

TEST_F(ConfigStoreTest, EveryKindRoundTripsInItsOwnColumn) {
    const uint8_t bytes[] = {0, 1, 2, 0xff};
    m_store.PutInt("I", -123456);
    m_store.PutBool("B", true);
    m_store.PutString("S", "Door \xc3\xa9");
    m_store.PutGuid("G", MEDIASUBTYPE_RGB24);
    m_store.PutBlob("X", sizeof bytes, bytes);
    m_store.PutBlob("E", 0, nullptr);

    EXPECT_EQ(m_store.GetInt("I"), -123456);
    EXPECT_TRUE(m_store.GetBool("B"));
    EXPECT_EQ(m_store.GetString("S"), "Door \xc3\xa9");
    EXPECT_EQ(m_store.GetGuid("G"), MEDIASUBTYPE_RGB24);
    EXPECT_EQ(m_store.GetBlob("X"), std::vector<uint8_t>(bytes, bytes + 4));
    EXPECT_TRUE(m_store.GetBlob("E").empty());

    // One row a value, the other value columns null, float_value never used.
    EXPECT_EQ(m_db.executeint("select count(*) from t_config_data"), 6);
    EXPECT_EQ(m_db.executeint("select count(*) from t_config_data where float_value is not null"), 0);
    EXPECT_EQ(m_db.executestring("select typeof(int_value)||typeof(string_value)||typeof(blob_value) from "
                                 "t_config_data where id='I'"),
              "integernullnull");
    EXPECT_EQ(m_db.executestring("select typeof(blob_value) from t_config_data where id='E'"), "blob");
    EXPECT_EQ(m_db.executeint("select length(blob_value) from t_config_data where id='G'"), 16);
    EXPECT_EQ(m_db.executestring("select hex(blob_value) from t_config_data where id='G'"),
              "7DEB36E44F52CE119F530020AF0BA770")
        << "the GUID's bytes in memory order";
}

TEST_F(ConfigStoreTest, BooleansAreTrueOnlyForOne) {
    m_store.PutBool("F", false);
    m_store.PutInt("Two", 2);
    m_store.PutInt("Minus", -1);
    EXPECT_EQ(m_db.executeint("select int_value from t_config_data where id='F'"), 0);
    EXPECT_FALSE(m_store.GetBool("F"));
    EXPECT_FALSE(m_store.GetBool("Two"));
    EXPECT_FALSE(m_store.GetBool("Minus"));
}

TEST_F(ConfigStoreTest, MissingKeysAndWrongKindsFailWithTheirTexts) {
    EXPECT_EQ(ErrorOf([&] { m_store.GetInt("Nope"); }), "nothing to read");
    EXPECT_EQ(ErrorOf([&] { m_store.GetString("Nope"); }), "nothing to read");
    EXPECT_EQ(ErrorOf([&] { m_store.GetGuid("Nope"); }), "nothing to read");
    EXPECT_EQ(ErrorOf([&] { m_store.GetBlob("Nope"); }), "nothing to read");
    // Keys are case-sensitive.
    m_store.PutInt("Cameras.count", 1);
    EXPECT_EQ(ErrorOf([&] { m_store.GetInt("cameras.count"); }), "nothing to read");

    const uint8_t fifteen[15] = {};
    m_store.PutBlob("G15", sizeof fifteen, fifteen);
    EXPECT_THROW(m_store.GetGuid("G15"), std::out_of_range);
    EXPECT_EQ(ErrorOf([&] { m_store.GetGuid("G15"); }), "type mismatch (GUID expected)");

    m_store.PutString("Text", "abc");
    EXPECT_EQ(ErrorOf([&] { m_store.GetInt("Text"); }), "type mismatch (integer expected)");
    EXPECT_EQ(ErrorOf([&] { m_store.GetBool("Text"); }), "type mismatch (integer expected)");
    EXPECT_EQ(ErrorOf([&] { m_store.GetBlob("Text"); }), "type mismatch (byte string expected)");
    EXPECT_EQ(ErrorOf([&] { m_store.GetGuid("Text"); }), "type mismatch (GUID expected)");
    m_store.PutInt("Int", 5);
    EXPECT_EQ(ErrorOf([&] { m_store.GetString("Int"); }), "type mismatch (text expected)");

    m_db.executenonquery("insert into t_config_data(id,int_value) values ('Big', 4294967296)");
    EXPECT_EQ(ErrorOf([&] { m_store.GetInt("Big"); }), "type mismatch (integer expected)");
}

TEST_F(ConfigStoreTest, TextsKeepEveryByte) {
    for (const std::string& text :
         std::vector<std::string>{"007", "0123", "1e3", " 12 ", "", std::string("a\0b", 3)}) {
        m_db.executenonquery("delete from t_config_data");
        m_store.PutString("S", text);
        EXPECT_EQ(m_store.GetString("S"), text);
    }
    // A file written by another program that let SQLite turn a text into a number still reads.
    m_db.executenonquery("insert into t_config_data(id,string_value) values ('Other', '42')");
    EXPECT_EQ(m_db.executestring("select typeof(string_value) from t_config_data where id='Other'"),
              "integer");
    EXPECT_EQ(m_store.GetString("Other"), "42");
}

TEST_F(ConfigStoreTest, TheFirstRowOfADuplicatedKeyWins) {
    m_store.PutInt("K", 1);
    m_store.PutInt("K", 2);
    EXPECT_EQ(m_store.GetInt("K"), 1);
}
