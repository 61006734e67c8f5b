#include "motion/BinaryImage.h"
#include "motion/GrayScaleImage.h"
#include "persistence/ConfigStore.h"
#include "persistence/DocumentSchema.h"
#include "persistence/sqlite3x.h"

#include "TempDirFixture.h"

#include <cstring>

namespace {

class ImageStoreTest : public TempDirFixture {
protected:
    void SetUp() override {
        TempDirFixture::SetUp();
        DocumentSchema::CreateDocumentDb(m_db, Path("images.tvrx"));
    }
    sqlite3x::sqlite3_connection m_db;
    CConfigStore m_store{m_db};
};

} // namespace

TEST_F(ImageStoreTest, AnEmptyImageWritesOnlyItsAvailability) {
    CBinaryImage empty;
    empty.Store("M", m_store);
    EXPECT_EQ(m_db.executeint("select count(*) from t_config_data"), 1);
    EXPECT_FALSE(m_store.GetBool("M.ImageAvailable"));
    CBinaryImage loaded;
    loaded.Create(8, 8);
    loaded.Load("M", m_store);
    EXPECT_TRUE(loaded.IsEmpty());
}

TEST_F(ImageStoreTest, BinaryImageRoundTripsAndIsStoredBottomRowFirst) {
    CBinaryImage mask;
    mask.Create(45, 3); // two words a row, 19 padding bits
    mask.Fill(false);
    mask.SetPixel(0, 0, true);  // top-left
    mask.SetPixel(44, 2, true); // bottom-right
    mask.Store("Cameras.0.AreaMaskImage", m_store);
    EXPECT_TRUE(m_store.GetBool("Cameras.0.AreaMaskImage.ImageAvailable"));
    EXPECT_EQ(m_store.GetInt("Cameras.0.AreaMaskImage.Width"), 45);
    EXPECT_EQ(m_store.GetInt("Cameras.0.AreaMaskImage.Height"), 3);
    const std::vector<uint8_t> data = m_store.GetBlob("Cameras.0.AreaMaskImage.Data");
    ASSERT_EQ(data.size(), 3u * 2 * 4);
    // First stored row = bottom row: its pixel 44 is bit 31-12 of the second word (little-endian).
    uint32_t word = 0;
    std::memcpy(&word, &data[4], 4);
    EXPECT_EQ(word, 0x80000000u >> 12);
    // Last stored row = top row: pixel 0 is the top bit of its first word, stored last in the word.
    EXPECT_EQ(data[16 + 3], 0x80);

    CBinaryImage loaded;
    loaded.Load("Cameras.0.AreaMaskImage", m_store);
    ASSERT_TRUE(loaded.SameSize(mask));
    EXPECT_EQ(std::memcmp(loaded.GetData(), mask.GetData(), mask.GetSize()), 0);
    EXPECT_TRUE(loaded.GetPixel(0, 0));
    EXPECT_TRUE(loaded.GetPixel(44, 2));
}

TEST_F(ImageStoreTest, GreyImageRoundTrips) {
    CGrayScaleImage grey;
    grey.Create(5, 4);
    auto* pixels = static_cast<int16_t*>(grey.GetData());
    for (int i = 0; i < 20; ++i) {
        pixels[i] = static_cast<int16_t>(i * 900);
    }
    grey.Store("G", m_store);
    EXPECT_EQ(m_store.GetBlob("G.Data").size(), 40u);
    CGrayScaleImage loaded;
    loaded.Load("G", m_store);
    ASSERT_TRUE(loaded.SameSize(grey));
    EXPECT_EQ(std::memcmp(loaded.GetData(), grey.GetData(), 40), 0);
}

TEST_F(ImageStoreTest, DataOfTheWrongLengthGivesAnEmptyImageSilently) {
    struct Case {
        int32_t width, height;
        size_t bytes;
    };
    const Case cases[] = {
        {32, 2, 7},                  // too short
        {32, 2, 9},                  // too long
        {0, 2, 8},                   // no width
        {32, -2, 8},                 // negative height
        {2147483647, 2147483647, 8}, // a damaged size: nothing is allocated for it
        {-5, 3, 0},
    };
    for (const auto& c : cases) {
        m_db.executenonquery("delete from t_config_data");
        m_store.PutBool("M.ImageAvailable", true);
        m_store.PutInt("M.Width", c.width);
        m_store.PutInt("M.Height", c.height);
        const std::vector<uint8_t> bytes(c.bytes, 0xff);
        m_store.PutBlob("M.Data", bytes.size(), bytes.data());
        CBinaryImage image;
        image.Create(4, 4);
        EXPECT_NO_THROW(image.Load("M", m_store)) << c.width << "x" << c.height;
        EXPECT_TRUE(image.IsEmpty()) << c.width << "x" << c.height;
    }
}

TEST_F(ImageStoreTest, AMissingKeyFailsTheLoad) {
    m_store.PutBool("M.ImageAvailable", true);
    m_store.PutInt("M.Width", 32);
    EXPECT_THROW(CBinaryImage().Load("M", m_store), sqlite3x::database_error);
}
