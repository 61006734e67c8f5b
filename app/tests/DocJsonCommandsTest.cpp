// "tavrix doc export|import|schema" on real files: the round trip through a JSON file, the rules
// for the target file, and what a user sees for damaged JSON and wrong values.

#include "app/DocJsonCommands.h"
#include "app/CommandLine.h"
#include "persistence/DocumentJson.h"
#include "persistence/tests/RichDocument.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

class DocJsonCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tavrix-docjson-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::string Path(const std::string& name) const { return m_folder + "/" + name; }
    std::string SaveRich(const std::string& name) {
        CTavrixDoc doc;
        doc.SetData(richdoc::Make(Path("records")));
        EXPECT_TRUE(doc.OnSaveDocumentAs(Path(name)));
        return Path(name);
    }
    std::string Export(const std::string& file, bool withSecrets = true) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(DocJsonCommands::Export(file, withSecrets, out, err), 0) << err.str();
        return out.str();
    }
    void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    int Import(const std::string& json, const std::string& file, bool replace = false) {
        m_out.str("");
        m_err.str("");
        return DocJsonCommands::Import(json, file, replace, m_out, m_err);
    }
    static mode_t Mode(const std::string& path) {
        struct stat status {};
        ::stat(path.c_str(), &status);
        return status.st_mode & 07777;
    }

    std::string m_folder;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

TEST_F(DocJsonCommandsTest, ExportImportExportThroughAFileIsIdentical) {
    const std::string original = SaveRich("original.tvrx");
    const std::string json = Export(original);
    Write(Path("site.json"), json);

    ASSERT_EQ(Import(Path("site.json"), Path("copy.tvrx")), 0) << m_err.str();
    EXPECT_EQ(m_out.str(), "Imported '" + Path("copy.tvrx") +
                               "' with 2 camera(s), 2 schedule(s) and 2 chain(s), recording into '" +
                               Path("records") + "'\n");
    EXPECT_EQ(m_err.str(), "tavrix: note: the record folder '" + Path("records") + "' does not exist yet\n");
    EXPECT_EQ(Export(Path("copy.tvrx")), json);
    EXPECT_EQ(richdoc::Rows(Path("copy.tvrx")), richdoc::Rows(original));
    EXPECT_EQ(Mode(Path("copy.tvrx")), 0600u) << "documents hold passwords";
}

TEST_F(DocJsonCommandsTest, AnExistingFileIsReplacedOnlyWhenAskedAndOnlyWhenItIsADocument) {
    const std::string target = SaveRich("target.tvrx");
    ::chmod(target.c_str(), 0640);
    CTavrixDoc small;
    small.SetData(CTavrixDocData());
    small.OnSaveDocumentAs(Path("small.tvrx"));
    Write(Path("small.json"), Export(Path("small.tvrx")));
    const std::string before = Read(target);

    EXPECT_EQ(Import(Path("small.json"), target), 1);
    EXPECT_EQ(m_err.str(), "tavrix: '" + target + "' exists already; --replace replaces it\n");
    EXPECT_EQ(Read(target), before);

    ASSERT_EQ(Import(Path("small.json"), target, true), 0) << m_err.str();
    EXPECT_EQ(richdoc::Rows(target), richdoc::Rows(Path("small.tvrx")));
    EXPECT_EQ(Mode(target), 0640u) << "the mode of the replaced file stays";

    // Another program's database and a text file are never replaced.
    {
        sqlite3x::sqlite3_connection other(Path("other.db"));
        other.executenonquery("create table t(x)");
    }
    Write(Path("notes.txt"), "my notes\n");
    for (const std::string& foreign : {Path("other.db"), Path("notes.txt")}) {
        const std::string content = Read(foreign);
        EXPECT_EQ(Import(Path("small.json"), foreign, true), 1);
        EXPECT_NE(m_err.str().find("it is left as it is"), std::string::npos) << m_err.str();
        EXPECT_EQ(Read(foreign), content);
    }
    EXPECT_EQ(Import(Path("small.json"), m_folder, true), 1);
    EXPECT_EQ(m_err.str(), "tavrix: '" + m_folder + "' is not a file\n");
}

TEST_F(DocJsonCommandsTest, DamagedJsonAndWrongValuesWriteNothingAndSayWhere) {
    Write(Path("damaged.json"), "{\"format\": \"tavrix-document\",\n \"version\": 1,,\n}");
    EXPECT_EQ(Import(Path("damaged.json"), Path("out.tvrx")), 1);
    EXPECT_NE(m_err.str().find("tavrix: '" + Path("damaged.json") +
                               "' is not JSON: parse error at line 2, column 15"),
              std::string::npos)
        << m_err.str();
    EXPECT_FALSE(std::filesystem::exists(Path("out.tvrx")));

    std::string json = Export(SaveRich("rich.tvrx"));
    DocumentJson::Json parsed = DocumentJson::Json::parse(json);
    parsed["cameras"][1]["MotionShortTermPixelCount"] = 5000;
    parsed["chains"][0]["actions"][2]["properties"]["FTPPass"] = "********";
    Write(Path("wrong.json"), parsed.dump());
    EXPECT_EQ(Import(Path("wrong.json"), Path("out.tvrx")), 1);
    EXPECT_EQ(m_err.str(),
              "tavrix: $.cameras[1].MotionShortTermPixelCount: 5000 is out of range: must be from 0 to "
              "1000 (pixels)\ntavrix: nothing was written\n");
    EXPECT_FALSE(std::filesystem::exists(Path("out.tvrx")));

    EXPECT_EQ(Import(Path("missing.json"), Path("out.tvrx")), 1);
    EXPECT_EQ(m_err.str(), "tavrix: cannot read '" + Path("missing.json") + "': No such file or directory\n");

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(DocJsonCommands::Export(Path("missing.tvrx"), false, out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("No such file or directory"), std::string::npos) << err.str();
}

// The schema is checked with an independent validator (Python's jsonschema, when installed): it
// must be a valid draft 2020-12 schema that accepts an export and refuses what the import refuses.
TEST_F(DocJsonCommandsTest, TheSchemaIsValidJsonSchemaForAnotherValidatorToo) {
    if (std::system("/usr/bin/python3 -c 'import jsonschema' 2>/dev/null") != 0) {
        GTEST_SKIP() << "python3-jsonschema is not installed";
    }
    std::ostringstream schema;
    ASSERT_EQ(DocJsonCommands::Schema(schema), 0);
    Write(Path("schema.json"), schema.str());
    Write(Path("good.json"), Export(SaveRich("rich.tvrx"), false));
    DocumentJson::Json wrong = DocumentJson::Json::parse(Read(Path("good.json")));
    wrong["schedules"][0]["rules"][0]["FromHour"] = 24;
    Write(Path("wrong.json"), wrong.dump());
    Write(Path("check.py"), "import json, sys, jsonschema\n"
                            "schema = json.load(open(sys.argv[1]))\n"
                            "jsonschema.Draft202012Validator.check_schema(schema)\n"
                            "v = jsonschema.Draft202012Validator(schema)\n"
                            "good = list(v.iter_errors(json.load(open(sys.argv[2]))))\n"
                            "wrong = list(v.iter_errors(json.load(open(sys.argv[3]))))\n"
                            "print(len(good), len(wrong), [list(e.absolute_path) for e in wrong])\n");
    const std::string command = "/usr/bin/python3 " + Path("check.py") + " " + Path("schema.json") + " " +
                                Path("good.json") + " " + Path("wrong.json") + " > " + Path("result.txt") +
                                " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << Read(Path("result.txt"));
    EXPECT_EQ(Read(Path("result.txt")), "0 1 [['schedules', 0, 'rules', 0, 'FromHour']]\n");
}

TEST_F(DocJsonCommandsTest, TheCommandLineNamesFilesAndFlags) {
    const auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "tavrix");
        return CCommandLine::Parse(static_cast<int>(args.size()), args.data());
    };
    CCommandLine line = parse({"doc", "export", "a.tvrx", "--with-secrets"});
    EXPECT_EQ(line.command, CCommandLine::Command::DocExport);
    EXPECT_EQ(line.file, "a.tvrx");
    EXPECT_TRUE(line.withSecrets);
    line = parse({"doc", "import", "-", "a.tvrx", "--replace"});
    EXPECT_EQ(line.command, CCommandLine::Command::DocImport);
    EXPECT_EQ(line.json, "-");
    EXPECT_EQ(line.file, "a.tvrx");
    EXPECT_TRUE(line.replace);
    EXPECT_FALSE(parse({"doc", "import", "a.json", "a.tvrx"}).replace);
    EXPECT_EQ(parse({"doc", "schema"}).command, CCommandLine::Command::DocSchema);
    EXPECT_EQ(parse({"doc", "export"}).error, "doc export takes one document file");
    EXPECT_EQ(parse({"doc", "export", "a.tvrx", "--replace"}).error, "unknown option '--replace'");
    EXPECT_EQ(parse({"doc", "import", "a.tvrx"}).error,
              "doc import takes a JSON file (- for standard input) and a document file");
    EXPECT_EQ(parse({"doc", "schema", "x"}).error, "doc schema takes no file");
}

} // namespace
