#include "persistence/Serializeable.h"

#include "persistence/DocumentSchema.h"
#include "persistence/sqlite3x.h"

#include "TempDirFixture.h"

namespace {

struct Item {
    int32_t id = -1;
    std::string name = "new";
    void SetId(int32_t value) { id = value; }
    int32_t GetId() const { return id; }
    void Store(const std::string& prefix, CConfigStore& store) const {
        store.PutString(prefix + ".Name", name);
    }
    void Load(const std::string& prefix, CConfigStore& store) { name = store.GetString(prefix + ".Name"); }
};

struct Entry {
    int32_t value = 7;
    void Store(const std::string& prefix, CConfigStore& store) const {
        store.PutInt(prefix + ".Value", value);
    }
    void Load(const std::string& prefix, CConfigStore& store) { value = store.GetInt(prefix + ".Value"); }
};

class SerializeableTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        DocumentSchema::CreateDocumentDb(m_db, Path("s.tvrx"));
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
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

SerializeableMap<Item> MapWithIds(std::initializer_list<int32_t> ids) {
    SerializeableMap<Item> map;
    for (int32_t id : ids) {
        // Fill ids that are not consecutive by adding and removing.
        while (map.GetNextId() < id) {
            map.Remove(map.Add()->GetId());
        }
        map.Add()->name = "item" + std::to_string(id);
    }
    return map;
}

} // namespace

TEST_F(SerializeableTest, MapSavesInIdOrderWithPositionsAndLoadsTheNextId) {
    auto map = MapWithIds({3, 7});
    map.Save("Cameras", m_store);
    EXPECT_EQ(Keys(), (std::vector<std::string>{"Cameras.count", "Cameras.0.id", "Cameras.0.Name",
                                                "Cameras.1.id", "Cameras.1.Name"}));
    EXPECT_EQ(m_store.GetInt("Cameras.0.id"), 3);
    EXPECT_EQ(m_store.GetInt("Cameras.1.id"), 7);

    SerializeableMap<Item> loaded;
    EXPECT_EQ(loaded.GetNextId(), 0) << "a map that was never loaded starts at 0";
    loaded.Load("Cameras", m_store);
    EXPECT_EQ(loaded.GetNextId(), 8);
    ASSERT_EQ(loaded.Size(), 2u);
    EXPECT_EQ(loaded.Find(3)->name, "item3");
    EXPECT_EQ(loaded.Find(3)->GetId(), 3);
    EXPECT_EQ(loaded.Find(7)->name, "item7");
    EXPECT_EQ(loaded.Find(4), nullptr);
    EXPECT_EQ(loaded.Add()->GetId(), 8);
}

TEST_F(SerializeableTest, EmptyMapLoadsWithNextIdOne) {
    SerializeableMap<Item>().Save("Schedules", m_store);
    EXPECT_EQ(m_store.GetInt("Schedules.count"), 0);
    SerializeableMap<Item> loaded;
    loaded.Load("Schedules", m_store);
    EXPECT_TRUE(loaded.Empty());
    EXPECT_EQ(loaded.GetNextId(), 1);
}

TEST_F(SerializeableTest, DuplicateIdKeepsTheFirstElement) {
    m_store.PutInt("M.count", 2);
    m_store.PutInt("M.0.id", 5);
    m_store.PutString("M.0.Name", "first");
    m_store.PutInt("M.1.id", 5);
    m_store.PutString("M.1.Name", "second");
    SerializeableMap<Item> loaded;
    loaded.Load("M", m_store);
    ASSERT_EQ(loaded.Size(), 1u);
    EXPECT_EQ(loaded.Find(5)->name, "first");
}

TEST_F(SerializeableTest, AFailedLoadLeavesTheMapAsItWas) {
    auto map = MapWithIds({0, 1});
    // A huge count with one element stored: fails at the second element without reserving for it.
    m_store.PutInt("M.count", 2000000000);
    m_store.PutInt("M.0.id", 9);
    m_store.PutString("M.0.Name", "x");
    try {
        map.Load("M", m_store);
        FAIL() << "load should fail";
    } catch (const sqlite3x::database_error& e) {
        EXPECT_STREQ(e.what(), "nothing to read");
    }
    EXPECT_EQ(map.Size(), 2u);
    EXPECT_EQ(map.GetNextId(), 2);
    EXPECT_EQ(map.Find(9), nullptr);
}

TEST_F(SerializeableTest, CopiesAreDeep) {
    auto map = MapWithIds({2});
    SerializeableMap<Item> copy(map);
    copy.Find(2)->name = "changed";
    EXPECT_EQ(map.Find(2)->name, "item2");
    EXPECT_EQ(copy.GetNextId(), 3);
    map = copy;
    EXPECT_EQ(map.Find(2)->name, "changed");
    EXPECT_NE(map.Find(2), copy.Find(2));
}

TEST_F(SerializeableTest, AddSkipsTakenIdsAndStopsAtTheLargestId) {
    m_store.PutInt("M.count", 1);
    m_store.PutInt("M.0.id", INT32_MAX);
    m_store.PutString("M.0.Name", "last");
    SerializeableMap<Item> map;
    map.Load("M", m_store);
    EXPECT_EQ(map.GetNextId(), INT32_MAX);
    EXPECT_EQ(map.Add(), nullptr) << "no id is left, and none may be handed out twice";
    EXPECT_EQ(map.Size(), 1u);
}

TEST_F(SerializeableTest, VecRoundTripsInOrder) {
    SerializeableVec<Entry> vec(3);
    vec[0].value = 1;
    vec[2].value = 3;
    vec.Save("S.Schedule", m_store);
    EXPECT_EQ(Keys(), (std::vector<std::string>{"S.Schedule.count", "S.Schedule.0.Value",
                                                "S.Schedule.1.Value", "S.Schedule.2.Value"}));
    SerializeableVec<Entry> loaded;
    loaded.Load("S.Schedule", m_store);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0].value, 1);
    EXPECT_EQ(loaded[1].value, 7);
    EXPECT_EQ(loaded[2].value, 3);

    m_store.PutInt("Bad.count", 2);
    m_store.PutInt("Bad.0.Value", 1);
    EXPECT_THROW(loaded.Load("Bad", m_store), sqlite3x::database_error);
    EXPECT_EQ(loaded.size(), 3u);
    m_store.PutInt("Neg.count", -5);
    loaded.Load("Neg", m_store);
    EXPECT_TRUE(loaded.empty());
}
