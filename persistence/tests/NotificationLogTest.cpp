#include "persistence/NotificationLog.h"

#include "foundation/ErrorReport.h"
#include "persistence/NotificationLogWriter.h"
#include "persistence/sqlite3x.h"

#include "TempDirFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace {

class NotificationLogTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        SetErrorDisplay(&m_display);
        m_db.open(Path("user.db"));
        m_db.executenonquery("create table t_userdb_schema(version number)");
        m_db.executenonquery(
            "create table  t_log_entry (log_date integer,docname string,camname string,log_info string)");
    }
    void TearDown() override {
        SetErrorDisplay(nullptr);
        TempDirFixture::TearDown();
    }
    // Rows with log_date 1..n (n newest), texts "row<k>".
    void InsertRows(int n) {
        sqlite3x::sqlite3_transaction transaction(m_db);
        sqlite3x::sqlite3_command insert(m_db, "insert into t_log_entry values (?,?,?,?)");
        platform::SystemTime base{2026, 12, 1, 7, 3, 5, 9, 0};
        int64_t baseTime = 0;
        ASSERT_TRUE(platform::SystemTimeToFileTime(base, baseTime));
        for (int k = 1; k <= n; ++k) {
            insert.bind(1, baseTime + int64_t{k} * 10000); // k milliseconds later
            insert.bind(2, std::string("Doc"));
            insert.bind(3, std::string("Cam"));
            insert.bind(4, "row" + std::to_string(k));
            insert.executenonquery();
        }
        transaction.commit();
    }
    RecordingDisplay m_display;
    sqlite3x::sqlite3_connection m_db;
};

} // namespace

TEST_F(NotificationLogTest, KeepsTheNewestCapacityMinusOneEntriesOldestFirst) {
    CNotificationLog log;
    for (int i = 0; i < 1500; ++i) {
        log.AddEntry("Doc", "Cam", std::to_string(i));
    }
    ASSERT_EQ(log.GetCount(), 999);
    EXPECT_EQ(log.GetEntry(0).text, "501");
    EXPECT_EQ(log.GetEntry(998).text, "1499");
    EXPECT_EQ(log.GetEntry(999).text, "") << "out of range gives an empty entry";
    EXPECT_EQ(log.GetEntry(-1).text, "");
    EXPECT_EQ(log.GetEntry(5).docName, "Doc");
    EXPECT_EQ(log.GetEntry(5).camName, "Cam");
}

TEST_F(NotificationLogTest, EntriesAreStampedWithTheLocalTimeInOrder) {
    CNotificationLog log;
    const platform::SystemTime before = platform::GetLocalTime();
    for (int i = 0; i < 50; ++i) {
        log.AddEntry("", "", "x");
    }
    int64_t previous = 0;
    int64_t first = 0;
    for (const auto& entry : log.GetEntries()) {
        int64_t fileTime = 0;
        ASSERT_TRUE(platform::SystemTimeToFileTime(entry.time, fileTime));
        EXPECT_GE(fileTime, previous);
        previous = fileTime;
        first = first ? first : fileTime;
    }
    int64_t beforeTime = 0;
    platform::SystemTimeToFileTime(before, beforeTime);
    EXPECT_GE(first, beforeTime - 10000000) << "within a second of the local clock";
    EXPECT_LE(first, beforeTime + 10000000);
}

TEST_F(NotificationLogTest, CapacityZeroMeansTheDefaultAndOneKeepsNothing) {
    CNotificationLog log;
    log.SetCapacity(0);
    EXPECT_EQ(log.GetCapacity(), 1000);
    log.SetCapacity(-7);
    EXPECT_EQ(log.GetCapacity(), 1000);

    log.SetCapacity(1);
    int seen = 0;
    log.AddListener([&](const CLogEntry&) { ++seen; });
    log.AddEntry("", "", "gone");
    EXPECT_EQ(log.GetCount(), 0);
    EXPECT_EQ(seen, 1);
}

TEST_F(NotificationLogTest, LoweringTheCapacityDropsTheOldest) {
    CNotificationLog log;
    for (int i = 0; i < 10; ++i) {
        log.AddEntry("", "", std::to_string(i));
    }
    log.SetCapacity(4);
    ASSERT_EQ(log.GetCount(), 3);
    EXPECT_EQ(log.GetEntry(0).text, "7");
}

TEST_F(NotificationLogTest, LoadsTheNewestRowsAndSaveWritesOnlyThose) {
    InsertRows(1200);
    CNotificationLog log;
    log.Load(m_db);
    ASSERT_EQ(log.GetCount(), 999);
    EXPECT_EQ(log.GetEntry(0).text, "row202");
    EXPECT_EQ(log.GetEntry(998).text, "row1200");
    EXPECT_EQ(log.GetEntry(998).time.milliseconds, 200);

    log.Save(m_db);
    EXPECT_EQ(m_db.executeint("select count(*) from t_log_entry"), 999);
    EXPECT_EQ(m_db.executestring("select log_info from t_log_entry order by log_date limit 1"), "row202");
    EXPECT_TRUE(m_display.messages.empty());
}

TEST_F(NotificationLogTest, ASmallerCapacityAtTheNextStartLoadsFewer) {
    InsertRows(999);
    CNotificationLog log;
    log.SetCapacity(500);
    log.Load(m_db);
    ASSERT_EQ(log.GetCount(), 499);
    EXPECT_EQ(log.GetEntry(0).text, "row501");
}

TEST_F(NotificationLogTest, SaveAndLoadKeepTimesTextsAndOrder) {
    CNotificationLog log;
    log.AddEntry("007", "0123", "1e3");
    log.AddEntry("Office", "Door", "second");
    log.AddEntry("", "", "");
    const auto saved = log.GetEntries();
    log.Save(m_db);

    CNotificationLog reloaded;
    reloaded.Load(m_db);
    const auto loaded = reloaded.GetEntries();
    ASSERT_EQ(loaded.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(loaded[i].time, saved[i].time);
        EXPECT_EQ(loaded[i].text, saved[i].text) << "entries of the same millisecond keep their order too";
    }
    EXPECT_EQ(loaded[0].docName, "007") << "numeric-looking names keep every character";
    EXPECT_EQ(loaded[0].camName, "0123");
    EXPECT_EQ(loaded[0].text, "1e3");
}

TEST_F(NotificationLogTest, LoadedEntriesGoBeforeEntriesAlreadyAdded) {
    InsertRows(3);
    CNotificationLog log;
    log.AddEntry("", "", "live");
    log.Load(m_db);
    ASSERT_EQ(log.GetCount(), 4);
    EXPECT_EQ(log.GetEntry(0).text, "row1");
    EXPECT_EQ(log.GetEntry(3).text, "live");
}

TEST_F(NotificationLogTest, ALoadErrorIsShownAndLoadsNothing) {
    m_db.executenonquery("drop table t_log_entry");
    CNotificationLog log;
    log.Load(m_db);
    EXPECT_EQ(log.GetCount(), 0);
    ASSERT_EQ(m_display.messages.size(), 1u);
    EXPECT_EQ(m_display.messages[0],
              "An error occurred during loading the notifications : 'no such table: t_log_entry'");
}

TEST_F(NotificationLogTest, ASaveErrorRollsBackAndKeepsTheOldRows) {
    InsertRows(5);
    m_db.executenonquery("create trigger refuse before insert on t_log_entry when new.log_info = 'boom' "
                         "begin select raise(abort, 'refused by trigger'); end");
    CNotificationLog log;
    log.AddEntry("", "", "fine");
    log.AddEntry("", "", "boom");
    log.Save(m_db);
    ASSERT_EQ(m_display.messages.size(), 1u);
    EXPECT_EQ(m_display.messages[0],
              "An error occurred during saving the notifications : 'refused by trigger'");
    EXPECT_EQ(m_db.executeint("select count(*) from t_log_entry"), 5);
    EXPECT_EQ(m_db.executeint("select count(*) from t_log_entry where log_info = 'fine'"), 0);
}

TEST_F(NotificationLogTest, AClosedConnectionIsSkippedQuietly) {
    sqlite3x::sqlite3_connection closed;
    CNotificationLog log;
    log.AddEntry("", "", "kept");
    log.Save(closed);
    log.Load(closed);
    EXPECT_EQ(log.GetCount(), 1);
    EXPECT_TRUE(m_display.messages.empty());
}

TEST_F(NotificationLogTest, ListenersRunOutsideTheLockAndCanBeRemoved) {
    CNotificationLog log;
    std::vector<std::string> seen;
    int countInListener = -1;
    const int id = log.AddListener([&](const CLogEntry& entry) {
        seen.push_back(entry.text);
        // Re-entering the log from a listener would deadlock if it were called under the lock.
        countInListener = log.GetCount();
        if (entry.text == "first") {
            log.AddEntry("", "", "from listener");
        }
    });
    log.AddEntry("", "", "first");
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "from listener"}));
    EXPECT_EQ(countInListener, 2);
    log.RemoveListener(id);
    log.AddEntry("", "", "unseen");
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(NotificationLogTest, ManyThreadsAddAtOnceWithoutLoss) {
    CNotificationLog log;
    log.SetCapacity(100000);
    std::atomic<int> heard{0};
    log.AddListener([&](const CLogEntry&) { heard.fetch_add(1, std::memory_order_relaxed); });
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 2000; ++i) {
                log.AddEntry("Doc", "Cam" + std::to_string(t), std::to_string(i));
            }
        });
    }
    // A reader at the same time, as the user interface thread is.
    for (int i = 0; i < 200; ++i) {
        const int count = log.GetCount();
        if (count > 0) {
            EXPECT_EQ(log.GetEntry(count - 1).docName, "Doc");
        }
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(log.GetCount(), 16000);
    EXPECT_EQ(heard.load(), 16000);
    // Each thread's entries stay in the order it added them.
    std::vector<int> next(8, 0);
    for (const auto& entry : log.GetEntries()) {
        const int t = std::stoi(entry.camName.substr(3));
        EXPECT_EQ(entry.text, std::to_string(next[t]++));
    }
}

// ---- write-through into the user database while the program runs ----

namespace {

// A display that the writer thread reports to while the test thread reads it.
class LockedDisplay : public IErrorDisplay {
public:
    void ShowErrorDialog(const CErrorEntry& entry) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_dialogs.push_back(entry.message + " / " + entry.info);
    }
    void ShowMessageBox(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_dialogs.push_back(text);
    }
    std::vector<std::string> Dialogs() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_dialogs;
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_dialogs;
};

// Waits (generously: the machine is shared) until condition holds.
bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> StoredTexts(sqlite3x::sqlite3_connection& db) {
    std::vector<std::string> texts;
    sqlite3x::sqlite3_command select(db, "select log_info from t_log_entry order by log_date, rowid");
    auto reader = select.executereader();
    while (reader.read()) {
        texts.push_back(reader.getstring(0));
    }
    return texts;
}

int CountOf(const std::vector<CLogEntry>& entries, const std::string& start) {
    return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                          [&](const CLogEntry& e) { return e.text.rfind(start, 0) == 0; }));
}

} // namespace

TEST_F(NotificationLogTest, EntriesReachTheDatabaseWhileTheProgramRuns) {
    m_db.setbusytimeout(5000);
    CNotificationLog log;
    log.StartWriting(Path("user.db"), 50);
    for (int i = 0; i < 20; ++i) {
        log.AddEntry("Doc", "Cam", "entry " + std::to_string(i));
    }
    // A second connection, as another process would after a kill, sees every entry without any
    // save at exit.
    EXPECT_TRUE(WaitFor([&] { return m_db.executeint("select count(*) from t_log_entry") == 20; }))
        << m_db.executeint("select count(*) from t_log_entry");
    EXPECT_EQ(StoredTexts(m_db).front(), "entry 0");
    EXPECT_EQ(StoredTexts(m_db).back(), "entry 19");
    EXPECT_EQ(m_db.executestring("select camname from t_log_entry limit 1"), "Cam");
    log.AddEntry("", "", "last");
    log.StopWriting();
    EXPECT_EQ(StoredTexts(m_db).back(), "last") << "stopping writes what is pending";
    EXPECT_EQ(log.GetPendingCount(), 0);
}

TEST_F(NotificationLogTest, WritingThroughKeepsTheCapacityRuleAndTheExitSaveLeavesTheSameRows) {
    InsertRows(3);
    CNotificationLog log;
    log.SetCapacity(6);
    log.Load(m_db);
    EXPECT_EQ(log.GetPendingCount(), 0) << "loaded entries are in the database already";
    for (int i = 0; i < 4; ++i) {
        log.AddEntry("", "", "new" + std::to_string(i));
    }
    log.WritePending(m_db);
    EXPECT_EQ(StoredTexts(m_db), (std::vector<std::string>{"row3", "new0", "new1", "new2", "new3"}));
    for (int i = 4; i < 12; ++i) {
        log.AddEntry("", "", "new" + std::to_string(i));
    }
    log.WritePending(m_db);
    const std::vector<std::string> written = StoredTexts(m_db);
    EXPECT_EQ(written, (std::vector<std::string>{"new7", "new8", "new9", "new10", "new11"}));

    // The clean exit's save leaves exactly what the write-through left.
    log.Save(m_db);
    EXPECT_EQ(StoredTexts(m_db), written);
    CNotificationLog reloaded;
    reloaded.SetCapacity(6);
    reloaded.Load(m_db);
    ASSERT_EQ(reloaded.GetCount(), 5);
    EXPECT_EQ(reloaded.GetEntry(0).text, "new7");
}

TEST_F(NotificationLogTest, ALockedDatabaseIsReportedOnceAndTheEntriesFollowWhenItIsFree) {
    LockedDisplay display;
    SetErrorDisplay(&display);
    sqlite3x::sqlite3_connection other(Path("user.db"));
    other.executenonquery("begin exclusive");

    // The report goes to the process's log, as every report does.
    CNotificationLog& log = CNotificationLog::Instance();
    log.Clear();
    log.SetCapacity(100);
    log.StartWriting(Path("user.db"), 20);
    log.AddEntry("", "", "before");
    ASSERT_TRUE(
        WaitFor([&] { return CountOf(log.GetEntries(), CNotificationLogWriter::kFailedMessage) == 1; }));
    // Several more batches fail meanwhile; none of them reports again.
    for (int i = 0; i < 10; ++i) {
        log.AddEntry("", "", "meanwhile " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_EQ(CountOf(log.GetEntries(), CNotificationLogWriter::kFailedMessage), 1);
    EXPECT_EQ(log.GetEntry(1).text.find("'database is locked'") != std::string::npos, true)
        << log.GetEntry(1).text;

    other.executenonquery("rollback");
    m_db.setbusytimeout(5000);
    ASSERT_TRUE(WaitFor([&] {
        const auto texts = StoredTexts(m_db);
        return !texts.empty() && texts.back() == CNotificationLogWriter::kRecoveredText;
    }));
    const std::vector<std::string> texts = StoredTexts(m_db);
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(texts[0], "before");
    EXPECT_EQ(texts[1].rfind(CNotificationLogWriter::kFailedMessage, 0), 0u);
    EXPECT_EQ(texts[11], "meanwhile 9");
    log.StopWriting();
    log.Clear();
    log.SetCapacity(CNotificationLog::kDefaultCapacity);
    const auto dialogs = display.Dialogs();
    EXPECT_EQ(dialogs.size(), 1u) << "one report, not one per batch";
    SetErrorDisplay(&m_display);
}

TEST_F(NotificationLogTest, EntriesWaitingForTheDatabaseAreBoundedByTheCapacity) {
    sqlite3x::sqlite3_connection other(Path("user.db"));
    other.executenonquery("begin exclusive");
    CNotificationLog log;
    log.SetCapacity(4);
    for (int i = 0; i < 10; ++i) {
        log.AddEntry("", "", std::to_string(i));
    }
    EXPECT_EQ(log.GetPendingCount(), 3);
    m_db.setbusytimeout(10);
    EXPECT_THROW(log.WritePending(m_db), sqlite3x::database_error);
    EXPECT_EQ(log.GetPendingCount(), 3) << "a failed batch stays pending";
    other.executenonquery("rollback");
    log.WritePending(m_db);
    EXPECT_EQ(StoredTexts(m_db), (std::vector<std::string>{"7", "8", "9"}));
    EXPECT_EQ(log.GetPendingCount(), 0);
}
