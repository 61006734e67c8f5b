// Which files a document opens, and who may read the files it writes: opening never writes into a
// file that is not a Tavrix document, and documents (which hold passwords) are the owner's only.

#include "persistence/TavrixDoc.h"

#include "foundation/ErrorReport.h"
#include "persistence/sqlite3x.h"

#include "TempDirFixture.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {

class DocumentFileTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        SetErrorDisplay(&m_display);
    }
    void TearDown() override {
        SetErrorDisplay(nullptr);
        TempDirFixture::TearDown();
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void MakeSavedDocument(const std::string& path) {
        CTavrixDoc doc;
        ASSERT_TRUE(doc.OnNewDocument(path));
        ASSERT_TRUE(doc.OnSaveDocument());
    }
    static void Tamper(const std::string& path, const std::string& sql) {
        sqlite3x::sqlite3_connection db(path);
        db.executenonquery(sql);
    }
    // Opening must fail with exactly this message and leave the file byte for byte as it was.
    void ExpectOpenRefused(const std::string& path, const std::string& message) {
        const std::string before = ReadFile(path);
        m_display.messages.clear();
        CTavrixDoc doc;
        EXPECT_FALSE(doc.OnOpenDocument(path));
        EXPECT_FALSE(doc.IsOpen());
        ASSERT_EQ(m_display.messages.size(), 1u);
        EXPECT_EQ(m_display.messages[0], message);
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    }
    RecordingDisplay m_display;
};

} // namespace

TEST_F(DocumentFileTest, FilesThatAreNoTavrixDocumentAreRefusedByNameAndNeverWritten) {
    const std::string text = Path("text.tvrx");
    std::ofstream(text) << "Tavrix set-up? No, this is a shopping list: eggs, milk, bread, batteries.\n";
    ExpectOpenRefused(text, "An error occurred during opening the document: 'file is not a database'");

    const std::string empty = Path("empty.tvrx");
    std::ofstream(empty).close();
    ExpectOpenRefused(empty, "'" + empty + "' is not a Tavrix document");
    EXPECT_EQ(std::filesystem::file_size(empty), 0u);

    const std::string other = Path("addresses.tvrx");
    Tamper(other, "create table people(name text)");
    Tamper(other, "insert into people values ('Ann')");
    ExpectOpenRefused(other, "'" + other + "' is not a Tavrix document");

    // The user database is a SQLite file of Tavrix, but no document.
    const std::string userDb = Path("Tavrix.db");
    Tamper(userDb, "create table t_userdb_schema(version number)");
    Tamper(userDb,
           "create table  t_log_entry (log_date integer,docname string,camname string,log_info string)");
    ExpectOpenRefused(userDb, "'" + userDb + "' is not a Tavrix document");
    sqlite3x::sqlite3_connection db(userDb);
    EXPECT_EQ(db.executeint("select count(*) from sqlite_master"), 2) << "no table was added";
}

TEST_F(DocumentFileTest, NewDocumentsAndSaveAsFilesAreTheOwnersOnlyAndSavingKeepsAMode) {
    ::umask(022);
    const auto mode = [](const std::string& path) {
        return std::filesystem::status(path).permissions() & std::filesystem::perms::all;
    };
    const auto ownerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    const std::string path = Path("Secret.tvrx");
    CTavrixDoc doc;
    ASSERT_TRUE(doc.OnNewDocument(path));
    ASSERT_TRUE(doc.OnSaveDocument());
    EXPECT_EQ(mode(path), ownerOnly) << "documents hold passwords";

    // A mode the user chose stays through saving.
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    doc.Edit([](CTavrixDocData& d) { d.m_cameras.Find(0)->m_camName = "Changed"; });
    ASSERT_TRUE(doc.OnSaveDocument());
    EXPECT_EQ(mode(path), std::filesystem::perms(0640));

    // Save As: a new file is the owner's only; a replaced file keeps its mode.
    ASSERT_TRUE(doc.OnSaveDocumentAs(Path("Copy.tvrx")));
    EXPECT_EQ(mode(Path("Copy.tvrx")), ownerOnly);
    MakeSavedDocument(Path("Shared.tvrx"));
    std::filesystem::permissions(Path("Shared.tvrx"), std::filesystem::perms(0664));
    ASSERT_TRUE(doc.OnSaveDocumentAs(Path("Shared.tvrx")));
    EXPECT_EQ(mode(Path("Shared.tvrx")), std::filesystem::perms(0664));
}

TEST_F(DocumentFileTest, NewDocumentIsRefusedInsideAnotherProgramsDatabase) {
    const std::string other = Path("addresses.tvrx");
    Tamper(other, "create table people(name text)");
    const std::string before = ReadFile(other);
    CTavrixDoc doc;
    EXPECT_FALSE(doc.OnNewDocument(other));
    EXPECT_EQ(m_display.messages.at(0), "'" + other + "' is not a Tavrix document");
    EXPECT_EQ(ReadFile(other), before);
    // An empty file (as a file dialog may leave) becomes the new document.
    std::ofstream(Path("empty.tvrx")).close();
    CTavrixDoc fresh;
    EXPECT_TRUE(fresh.OnNewDocument(Path("empty.tvrx")));
    EXPECT_TRUE(fresh.OnSaveDocument());
}
