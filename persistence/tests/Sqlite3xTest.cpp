#include "persistence/sqlite3x.h"
#include "persistence/DocumentSchema.h"

#include "TempDirFixture.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace sqlite3x;

namespace {

class Sqlite3xTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        m_db.open(Path("test.db"));
        m_db.executenonquery("create table t(a integer, b string, c blob)");
    }
    sqlite3_connection m_db;
};

std::string ErrorText(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST_F(Sqlite3xTest, FixedTextsOfTheLayer) {
    sqlite3_connection closed;
    EXPECT_EQ(ErrorText([&] { closed.executeint("select 1"); }), "database is not open");
    EXPECT_EQ(ErrorText([&] { closed.executenonquery("select 1"); }), "database is not open");
    EXPECT_EQ(ErrorText([&] { sqlite3_command c(closed, "select 1"); }), "database is not open");

    sqlite3_connection bad;
    EXPECT_EQ(ErrorText([&] { bad.open(Path("no/such/folder/x.db")); }), "unable to open database");
    EXPECT_FALSE(bad.is_open());

    EXPECT_EQ(ErrorText([&] { m_db.executeint("select a from t"); }), "nothing to read");
    EXPECT_EQ(ErrorText([&] { m_db.executenonquery("select * from missing"); }), "no such table: missing");

    sqlite3_reader detached;
    EXPECT_EQ(ErrorText([&] { detached.read(); }), "reader is closed");
    EXPECT_EQ(ErrorText([&] { detached.getint(0); }), "reader is closed");
}

TEST_F(Sqlite3xTest, AReaderOutlivingItsCommandIsClosedNotDangling) {
    sqlite3_reader reader;
    {
        sqlite3_command command(m_db, "select 1, 2");
        reader = command.executereader();
        ASSERT_TRUE(reader.read());
        EXPECT_EQ(reader.getint(1), 2);
        EXPECT_THROW(reader.getint(2), std::out_of_range);
        EXPECT_EQ(ErrorText([&] { reader.getint(-1); }), "index out of range");
    }
    EXPECT_EQ(ErrorText([&] { reader.read(); }), "reader is closed");
    EXPECT_EQ(ErrorText([&] { reader.getint(0); }), "reader is closed");
}

TEST_F(Sqlite3xTest, ColumnsAfterTheLastRowAreOutOfRange) {
    sqlite3_command command(m_db, "select 1");
    auto reader = command.executereader();
    ASSERT_TRUE(reader.read());
    EXPECT_FALSE(reader.read());
    EXPECT_THROW(reader.getint(0), std::out_of_range);
}

TEST_F(Sqlite3xTest, ReleasingTheLastReaderResetsTheStatementForReuse) {
    m_db.executenonquery("insert into t(a) values (1)");
    m_db.executenonquery("insert into t(a) values (2)");
    sqlite3_command command(m_db, "select a from t where a >= ? order by a");
    command.bind(1, int32_t{1});
    EXPECT_EQ(command.executeint(), 1);
    // The first read stopped on row one; without the reset this would go on with row two.
    EXPECT_EQ(command.executeint(), 1);
    command.bind(1, int32_t{2});
    EXPECT_EQ(command.executeint(), 2);
}

TEST_F(Sqlite3xTest, BindsEveryKind) {
    sqlite3_command insert(m_db, "insert into t values (?,?,?)");
    insert.bind(1, int64_t{1} << 40);
    insert.bind(2, std::string("text\0with nul", 13));
    insert.bind(3, MEDIASUBTYPE_RGB24);
    insert.executenonquery();
    EXPECT_EQ(m_db.executeint64("select a from t"), int64_t{1} << 40);
    EXPECT_EQ(m_db.executestring("select b from t"), std::string("text\0with nul", 13));
    EXPECT_EQ(m_db.executeguid("select c from t"), MEDIASUBTYPE_RGB24);

    sqlite3_command nulls(m_db, "insert into t values (?,?,?)");
    nulls.bind(1);
    nulls.bind(2, 2.5);
    nulls.bind(3, static_cast<const void*>(nullptr), 0);
    nulls.executenonquery();
    EXPECT_EQ(m_db.executestring("select typeof(a) || typeof(b) || typeof(c) from t where a is null"),
              "nullrealblob")
        << "an empty byte string is a zero-length blob, not NULL";
    EXPECT_EQ(ErrorText([&] { m_db.executeguid("select c from t where a is null"); }),
              "type mismatch (GUID expected)");
}

TEST_F(Sqlite3xTest, NumericLookingTextsSurviveAStringColumn) {
    const std::vector<std::string> texts = {
        "0123", "1e3",  " 12 ",     "+5",    "1.50", "99999999999999999999",
        "007",  "0x1A", "Infinity", "12abc", "",     "-"};
    for (const auto& text : texts) {
        sqlite3_command insert(m_db, "insert into t(b) values (?)");
        insert.bindtext_exact(1, text);
        insert.executenonquery();
    }
    sqlite3_command select(m_db, "select b from t order by rowid");
    auto reader = select.executereader();
    for (const auto& text : texts) {
        ASSERT_TRUE(reader.read());
        EXPECT_EQ(reader.getstring(0), text);
    }
}

TEST_F(Sqlite3xTest, TransactionRollsBackUnlessCommitted) {
    {
        sqlite3_transaction transaction(m_db);
        m_db.executenonquery("insert into t(a) values (1)");
    }
    EXPECT_EQ(m_db.executeint("select count(*) from t"), 0);
    {
        sqlite3_transaction transaction(m_db);
        m_db.executenonquery("insert into t(a) values (1)");
        transaction.commit();
    }
    EXPECT_EQ(m_db.executeint("select count(*) from t"), 1);
}

TEST_F(Sqlite3xTest, CloseWithALiveStatementFailsWithSqlitesMessageAndStaysOpen) {
    auto command = std::make_unique<sqlite3_command>(m_db, "select 1");
    EXPECT_EQ(ErrorText([&] { m_db.close(); }),
              "unable to close due to unfinalized statements or unfinished backups");
    EXPECT_TRUE(m_db.is_open());
    command.reset();
    m_db.close();
    EXPECT_FALSE(m_db.is_open());
}

using DocumentSchemaTest = TempDirFixture;

namespace {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

TEST_F(DocumentSchemaTest, ANewFileGetsBothTablesAndVersionOneReadableByItsOwnerOnly) {
    ::umask(022);
    sqlite3_connection db;
    EXPECT_EQ(DocumentSchema::CreateDocumentDb(db, Path("new.tvrx")), 1);
    EXPECT_EQ(db.executestring("select sql from sqlite_master where name='t_tavrixdoc_schema'"),
              "CREATE TABLE t_tavrixdoc_schema(version number)");
    EXPECT_EQ(
        db.executestring("select sql from sqlite_master where name='t_config_data'"),
        "CREATE TABLE t_config_data(id string, int_value integer, float_value float, string_value string, "
        "blob_value blob)");
    EXPECT_EQ(db.executeint("select count(*) from t_tavrixdoc_schema"), 1);
    db.close();
    EXPECT_EQ(std::filesystem::status(Path("new.tvrx")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
        << "documents hold passwords";
    // Opening it again finds the table and adds nothing.
    EXPECT_EQ(DocumentSchema::OpenDocumentDb(db, Path("new.tvrx")), 1);
    EXPECT_EQ(db.executeint("select count(*) from t_tavrixdoc_schema"), 1);
    db.close();
    EXPECT_EQ(DocumentSchema::CreateDocumentDb(db, Path("new.tvrx")), 1);
    EXPECT_EQ(db.executeint("select count(*) from t_tavrixdoc_schema"), 1);
}

TEST_F(DocumentSchemaTest, VersionsAreReadWhole) {
    sqlite3_connection db;
    db.open(Path("v.tvrx"));
    db.executenonquery("create table t_tavrixdoc_schema(version number)");
    db.close();
    EXPECT_EQ(DocumentSchema::OpenDocumentDb(db, Path("v.tvrx")), 0) << "an empty version table reads as 0";
    db.executenonquery("insert into t_tavrixdoc_schema values(2)");
    EXPECT_EQ(DocumentSchema::OpenDocumentDb(db, Path("v.tvrx")), 2);
    db.executenonquery("insert into t_tavrixdoc_schema values(4294967296)");
    EXPECT_EQ(DocumentSchema::OpenDocumentDb(db, Path("v.tvrx")), int64_t{4294967296});
}

TEST_F(DocumentSchemaTest, ADocumentFromBeforeTheVersionTableOpensUnchanged) {
    sqlite3_connection db;
    db.open(Path("old.tvrx"));
    db.executenonquery("create table t_config_data(id string, int_value integer, float_value float, "
                       "string_value string, blob_value blob)");
    db.executenonquery("insert into t_config_data(id,int_value) values ('Cameras.count',0)");
    db.close();
    const std::string before = FileBytes(Path("old.tvrx"));
    EXPECT_EQ(DocumentSchema::OpenDocumentDb(db, Path("old.tvrx")), 0);
    EXPECT_EQ(db.executeint("select int_value from t_config_data"), 0);
    db.close();
    EXPECT_EQ(FileBytes(Path("old.tvrx")), before);
}

TEST_F(DocumentSchemaTest, FilesThatAreNoTavrixDocumentAreRefusedAndLeftByteForByte) {
    // Another program's database, a user database and an empty file.
    {
        sqlite3_connection other(Path("other.tvrx"));
        other.executenonquery("create table contacts(name text, phone text)");
        other.executenonquery("insert into contacts values ('Ann','123')");
        sqlite3_connection user(Path("Tavrix.db"));
        user.executenonquery("create table t_userdb_schema(version number)");
        user.executenonquery(
            "create table  t_log_entry (log_date integer,docname string,camname string,log_info string)");
    }
    std::ofstream(Path("empty.tvrx")).close();
    for (const char* name : {"other.tvrx", "Tavrix.db", "empty.tvrx"}) {
        const std::string before = FileBytes(Path(name));
        sqlite3_connection db;
        EXPECT_EQ(ErrorText([&] { DocumentSchema::OpenDocumentDb(db, Path(name)); }),
                  "'" + Path(name) + "' is not a Tavrix document");
        EXPECT_FALSE(db.is_open());
        EXPECT_EQ(FileBytes(Path(name)), before) << name;
        if (std::string(name) != "empty.tvrx") {
            // A new document is not made inside another program's file either.
            EXPECT_EQ(ErrorText([&] { DocumentSchema::CreateDocumentDb(db, Path(name)); }),
                      "'" + Path(name) + "' is not a Tavrix document");
            EXPECT_EQ(FileBytes(Path(name)), before) << name;
        }
        EXPECT_FALSE(std::filesystem::exists(Path(name) + "-journal")) << name;
    }
    // A file that is no database at all keeps SQLite's own text, and its bytes.
    const std::string text = "just some text, not a database at all, long enough to have a header";
    std::ofstream(Path("text.tvrx")) << text;
    sqlite3_connection db;
    EXPECT_EQ(ErrorText([&] { DocumentSchema::OpenDocumentDb(db, Path("text.tvrx")); }),
              "file is not a database");
    EXPECT_EQ(ErrorText([&] { DocumentSchema::CreateDocumentDb(db, Path("text.tvrx")); }),
              "file is not a database");
    EXPECT_EQ(FileBytes(Path("text.tvrx")), text);
    // An empty file becomes a document only when a new one is created in it; it keeps its mode.
    std::filesystem::permissions(Path("empty.tvrx"), std::filesystem::perms(0640));
    EXPECT_EQ(DocumentSchema::CreateDocumentDb(db, Path("empty.tvrx")), 1);
    EXPECT_EQ(std::filesystem::status(Path("empty.tvrx")).permissions(), std::filesystem::perms(0640));
}
