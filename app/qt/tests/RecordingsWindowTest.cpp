// The recordings in the desktop application, offscreen: the player opens a real file of every
// container Tavrix writes, shows its first frame, plays on with the position advancing, steps a
// frame, changes speed and exports a still; the Recordings bar lists a real catalogue newest first
// with thumbnails, keeps and deletes; double-clicking a "Finished recording to '...'" row in the
// notifications list opens that recording in the player.

#include "app/qt/RecordingsWindow.h"
#include "app/qt/MainFrame.h"
#include "app/qt/NotifyBar.h"
#include "app/qt/NotifyListModel.h"
#include "app/qt/RecordingPlayer.h"
#include "app/qt/tests/MainFrameFixture.h"
#include "library/RecordingCatalogue.h"
#include "library/Thumbnail.h"
#include "persistence/NotificationLog.h"
#include "persistence/UserDbMgrImpl.h"
#include "recording/tests/GstTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

namespace {

using tavrixtest::WaitUntil;

// Writes 3 s of a moving test picture (160 x 120, 10 frames a second) with a GStreamer pipeline
// ending in the given encoder and muxer.
bool WriteClip(const std::string& file, const std::string& encodeAndMux) {
    gsttest::StartGStreamer();
    const std::string description = "videotestsrc pattern=ball num-buffers=30 ! "
                                    "video/x-raw,width=160,height=120,framerate=10/1,format=I420 ! " +
                                    encodeAndMux + " ! filesink location=\"" + file + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        ADD_FAILURE() << (error != nullptr ? error->message : "no pipeline");
        g_clear_error(&error);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (message != nullptr) {
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

struct CClip {
    const char* name;
    const char* pipeline;
};
const CClip kClips[] = {
    {"clip.avi", "avimux"},
    {"clip.wmv", "avenc_wmv2 bitrate=256000 ! asfmux"},
    {"clip.mp4", "x264enc ! h264parse ! mp4mux"},
    {"clip.mkv", "x264enc ! h264parse ! matroskamux"},
};

TEST(RecordingPlayerTest, EveryContainerPlaysWithItsPositionAdvancingAndAStillExports) {
    QTemporaryDir dir;
    for (const CClip& clip : kClips) {
        const QString file = dir.filePath(clip.name);
        SCOPED_TRACE(clip.name);
        ASSERT_TRUE(WriteClip(file.toStdString(), clip.pipeline));
        CRecordingPlayer player;
        player.show();
        ASSERT_TRUE(player.Open(file, {500, 2000})) << player.ErrorText().toStdString();
        EXPECT_EQ(player.SeekBar()->Moments().size(), 2u);
        ASSERT_TRUE(WaitUntil([&] { return player.FramesShown() >= 1; }, 20000))
            << "the first frame is shown";
        EXPECT_EQ(player.CurrentFrame().size(), QSize(160, 120));
        EXPECT_GT(player.Playback().DurationMs(), 2500);

        player.Play();
        ASSERT_TRUE(WaitUntil(
            [&] { return player.Playback().PositionMs() > 800 && player.FramesShown() > 5; }, 30000))
            << "position " << player.Playback().PositionMs() << ", frames " << player.FramesShown();
        player.Pause();
        const int shown = player.FramesShown();
        player.StepFrame();
        EXPECT_TRUE(WaitUntil([&] { return player.FramesShown() > shown; }, 20000))
            << "a step shows the next frame";

        player.SetSpeed(4.0);
        EXPECT_DOUBLE_EQ(player.Playback().GetRate(), 4.0);
        player.SeekTo(200);
        player.Play();
        EXPECT_TRUE(WaitUntil([&] { return player.Playback().Poll(); }, 30000)) << "plays to its end at 4x";

        const QString still = dir.filePath(QString(clip.name) + ".png");
        ASSERT_TRUE(player.ExportStill(still));
        EXPECT_EQ(QImage(still).size(), QSize(160, 120));
    }
    CRecordingPlayer broken;
    EXPECT_FALSE(broken.Open(dir.filePath("none.mp4")));
    EXPECT_FALSE(broken.ErrorText().isEmpty());
}

TEST(RecordingPlayerTest, OnlyRecordingNotificationsNameARecording) {
    EXPECT_EQ(CRecordingsWindow::RecordingOfNotification("Finished recording to '/v/Door_1.mp4'"),
              "/v/Door_1.mp4");
    EXPECT_EQ(CRecordingsWindow::RecordingOfNotification("Started recording to '/v/it''s.avi'"),
              "/v/it''s.avi");
    EXPECT_TRUE(CRecordingsWindow::RecordingOfNotification("Document opened").isEmpty());
    EXPECT_TRUE(CRecordingsWindow::RecordingOfNotification("Started recording to ''").isEmpty());
}

using RecordingsWindowTest = tavrixtest::MainFrameFixture;

CRecordingPlayer* OpenPlayer() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* player = qobject_cast<CRecordingPlayer*>(widget); player && player->isVisible()) {
            return player;
        }
    }
    return nullptr;
}

TEST_F(RecordingsWindowTest, DoubleClickingAFinishedRecordingNotificationPlaysIt) {
    const QString file = m_dir.filePath("Door_08122026_101010.avi");
    ASSERT_TRUE(WriteClip(file.toStdString(), "avimux"));
    CNotificationLog::Instance().AddEntry("Office", "Door",
                                          "Finished recording to '" + file.toStdString() + "'");
    m_frame->NotifyBar()->OnListChanged();
    QTableView* view = m_frame->NotifyBar()->View();
    const int row = view->model()->rowCount() - 1;
    ASSERT_GE(row, 0);
    emit view->doubleClicked(view->model()->index(row, CNotifyListModel::kInformation));
    CRecordingPlayer* player = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (player = OpenPlayer()) != nullptr && player->FramesShown() > 0; }, 20000));
    EXPECT_TRUE(player->windowTitle().startsWith("Door_08122026_101010.avi"));
    player->close();
    QApplication::processEvents();

    CNotificationLog::Instance().AddEntry("Office", "Door", "Document opened");
    m_frame->NotifyBar()->OnListChanged();
    emit view->doubleClicked(
        view->model()->index(view->model()->rowCount() - 1, CNotifyListModel::kInformation));
    QApplication::processEvents();
    EXPECT_EQ(OpenPlayer(), nullptr) << "other rows open nothing";
}

TEST_F(RecordingsWindowTest, TheRecordingsBarListsTheCatalogueNewestFirstKeepsAndDeletes) {
    CRecordingCatalogue catalogue;
    catalogue.Open(CUserDbMgrImpl::Instance().GetPath());
    CSmallPicture picture;
    std::vector<uint8_t> frame(160 * 120 * 3, 128);
    Thumbnail::Shrink(frame.data(), 160, 120, 160 * 3, picture);
    std::vector<int64_t> ids;
    for (int i = 0; i < 3; ++i) {
        CRecording row;
        row.documentPath = m_dir.filePath("Office.tvrx").toStdString();
        row.documentName = "Office";
        row.cameraName = i == 2 ? "Yard" : "Door";
        row.filePath = m_dir.filePath(QString("r%1.avi").arg(i)).toStdString();
        QFile(QString::fromStdString(row.filePath)).open(QIODevice::WriteOnly);
        row.container = "AVI";
        row.startUtcMs = 1800000000000 + i * 60000;
        row.durationMs = 7000 + i;
        row.sizeBytes = 3 * 1024 * 1024;
        row.state = ERecordingState::Finished;
        row.thumbnail = Thumbnail::EncodeJpeg(picture);
        ids.push_back(catalogue.Insert(row));
    }
    auto* window = m_frame->findChild<CRecordingsWindow*>();
    ASSERT_NE(window, nullptr);
    QSignalSpy loaded(window, &CRecordingsWindow::Loaded);
    window->show();
    ASSERT_TRUE(WaitUntil([&] { return loaded.count() > 0 && window->Rows().size() == 3; }, 20000));
    QTableWidget* table = window->Table();
    EXPECT_EQ(table->item(0, CRecordingsWindow::kFile)->text(), m_dir.filePath("r2.avi"));
    EXPECT_EQ(table->item(0, CRecordingsWindow::kCamera)->text(), "Yard");
    EXPECT_EQ(table->item(0, CRecordingsWindow::kDuration)->text(), "0:00:07");
    EXPECT_EQ(table->item(0, CRecordingsWindow::kSize)->text(), "3.0 MiB");
    EXPECT_FALSE(table->item(0, CRecordingsWindow::kStart)->icon().isNull()) << "the thumbnail";

    // Filter by camera.
    const int yard = window->CameraFilter()->findData("Yard");
    ASSERT_GE(yard, 0);
    window->CameraFilter()->setCurrentIndex(yard);
    const int before = static_cast<int>(loaded.count());
    window->Refresh();
    ASSERT_TRUE(WaitUntil([&] { return loaded.count() > before; }, 20000));
    ASSERT_EQ(window->Rows().size(), 1u);
    window->CameraFilter()->setCurrentIndex(0);

    // Keep, from the check box.
    table->item(0, CRecordingsWindow::kKeep)->setCheckState(Qt::Checked);
    EXPECT_TRUE(catalogue.Get(window->Rows()[0].id)->keep);

    // Delete the newest: to the trash (or deleted), and out of the catalogue and the list.
    const int64_t id = window->Rows()[0].id;
    const std::string path = window->Rows()[0].filePath;
    ASSERT_TRUE(window->Delete(0, false));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
    EXPECT_FALSE(catalogue.Get(id));
    EXPECT_EQ(table->rowCount(), 0);
}

} // namespace
