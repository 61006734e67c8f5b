// The camera's property pages: name and schedule choice, the motion sliders' ranges, the event
// chains with their empty choice, the active area page with and without a picture, and the video
// page over the device manager's real test sources.

#include "app/qt/BitmapPaintCtrl.h"
#include "app/qt/FrameRateBox.h"
#include "app/qt/PropActiveAreaDlg.h"
#include "app/qt/PropEventsDlg.h"
#include "app/qt/PropGeneralDlg.h"
#include "app/qt/PropMotionDlg.h"
#include "app/qt/PropVideoDlg.h"
#include "recording/DxDeviceMgr.h"
#include "recording/PreEventBuffer.h"
#include "recording/TavrixElements.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class CameraPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_camera = m_data.AddCamera();
        m_data.AddSchedule()->SetName("Office hours");
        m_data.AddChain()->SetName("Mail me");
    }
    CTavrixDocData m_data;
    CCamera* m_camera = nullptr;
};

TEST_F(CameraPagesTest, GeneralPageNeedsANameAndOffersAlwaysActive) {
    CPropGeneralDlg page(m_data, 0, false);
    EXPECT_EQ(page.ScheduleField()->itemText(0), "<Always active>");
    EXPECT_EQ(page.ScheduleField()->currentData().toInt(), -1);
    EXPECT_FALSE(page.LockField()->isEnabled()) << "no lock notifications: the choice is not offered";
    page.NameField()->setText("  ");
    QString message;
    EXPECT_FALSE(page.Validate(message));
    EXPECT_FALSE(message.isEmpty());
    page.NameField()->setText("Garage");
    page.ScheduleField()->setCurrentIndex(1);
    page.ViewModeField(1)->setChecked(false); // no red motion pixels
    EXPECT_TRUE(page.Validate(message));
    page.Store();
    EXPECT_EQ(m_camera->m_camName, "Garage");
    EXPECT_EQ(m_camera->m_timeScheduleId, 0);
    EXPECT_EQ(m_camera->m_viewMode, 63 & ~2);
}

TEST_F(CameraPagesTest, UnknownScheduleAndChainIdsAreKeptUntilChanged) {
    m_camera->m_timeScheduleId = 42;
    m_camera->SetChainId(3, 17);
    CPropGeneralDlg general(m_data, 0, true);
    CPropEventsDlg events(m_data, 0);
    general.Store();
    events.Store();
    EXPECT_EQ(m_camera->m_timeScheduleId, 42);
    EXPECT_EQ(m_camera->GetChainId(3), 17);
}

TEST_F(CameraPagesTest, EventsPageOffersNoActionAndEveryChain) {
    CPropEventsDlg page(m_data, 0);
    for (int kind = 1; kind <= 7; ++kind) {
        QComboBox* combo = page.EventField(kind);
        ASSERT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->itemText(0), "<No Action>");
        EXPECT_EQ(combo->itemText(1), "Mail me");
        EXPECT_EQ(combo->currentData().toInt(), -1);
    }
    page.EventField(3)->setCurrentIndex(1); // Motion Start
    page.EventField(6)->setCurrentIndex(1); // Record Finish
    page.Store();
    EXPECT_EQ(m_camera->m_msEvent, 0);
    EXPECT_EQ(m_camera->m_rfEvent, 0);
    EXPECT_EQ(m_camera->m_aEvent, -1);
    EXPECT_TRUE(m_data.IsChainUsed(0));
}

TEST_F(CameraPagesTest, MotionSlidersSpanTheirRangesAndKeepUnmovedOutOfRangeValues) {
    m_camera->m_motionStopDelay = 25000; // beyond the slider, from a hand-edited file
    CPropMotionDlg page(m_data, 0);
    const std::pair<CPropMotionDlg::Setting, int> maxima[] = {
        {CPropMotionDlg::kGreyLevel, 1000},   {CPropMotionDlg::kPixelCount, 1000},
        {CPropMotionDlg::kStartDelay, 20000}, {CPropMotionDlg::kStopDelay, 20000},
        {CPropMotionDlg::kErosionLevel, 5},   {CPropMotionDlg::kPreEventDelay, 10000},
        {CPropMotionDlg::kCountdown, 120}};
    for (const auto& [setting, maximum] : maxima) {
        EXPECT_EQ(page.Slider(setting)->minimum(), 0);
        EXPECT_EQ(page.Slider(setting)->maximum(), maximum);
    }
    EXPECT_EQ(page.Slider(CPropMotionDlg::kGreyLevel)->value(), 150);
    EXPECT_EQ(page.Slider(CPropMotionDlg::kStopDelay)->value(), 20000);
    page.Slider(CPropMotionDlg::kErosionLevel)->setValue(3);
    page.Slider(CPropMotionDlg::kCountdown)->setValue(12);
    page.Store();
    EXPECT_EQ(m_camera->m_motionStopDelay, 25000);
    EXPECT_EQ(m_camera->m_motionErosionLevel, 3);
    EXPECT_EQ(m_camera->m_motionCountdown, 12);
    EXPECT_EQ(m_camera->m_motionPreEventDelay, 2000);
}

// A picture source for the active area page: answers with the picture later, on the GUI thread,
// as the document's view does.
class PictureSource : public ISnapshotSource {
public:
    explicit PictureSource(std::optional<QImage> picture) : m_picture(std::move(picture)) {}
    void RequestSnapshot(int32_t cameraId, Done done) override {
        m_cameraId = cameraId;
        QMetaObject::invokeMethod(
            qApp, [done, picture = m_picture] { done(picture); }, Qt::QueuedConnection);
    }
    int32_t m_cameraId = -1;

private:
    std::optional<QImage> m_picture;
};

void WaitFor(QObject* object, const char* signal) {
    QSignalSpy spy(object, signal);
    if (spy.isEmpty()) {
        ASSERT_TRUE(spy.wait(10000)) << signal;
    }
}

TEST_F(CameraPagesTest, ActiveAreaPageStartsWithItsControls) {
    CPropActiveAreaDlg page(m_data, 0, nullptr);
    EXPECT_TRUE(page.ToolButton(CBitmapPaintCtrl::kFreehand)->isChecked());
    EXPECT_EQ(page.ZoomField()->count(), 9);
    EXPECT_EQ(page.ZoomField()->itemData(0).toInt(), 12);
    EXPECT_EQ(page.ZoomField()->itemData(7).toInt(), 500);
    EXPECT_EQ(page.ZoomField()->currentText(), "Fit") << "the whole picture at start";
    EXPECT_FALSE(page.UndoButton()->isEnabled());
    EXPECT_FALSE(page.RedoButton()->isEnabled());
    EXPECT_EQ(page.PenSizeField()->count(), 9);
    EXPECT_EQ(page.PenSizeField()->currentData().toInt(), 1);
    EXPECT_EQ(page.ColourField()->itemText(0), "Active");
    EXPECT_EQ(page.ColourField()->currentText(), "Inactive");
    page.ZoomField()->setCurrentIndex(0);
    EXPECT_DOUBLE_EQ(page.PaintCtrl()->GetZoom(), 0.12);
    page.ToolButton(CBitmapPaintCtrl::kCircle)->click();
    EXPECT_EQ(page.PaintCtrl()->GetTool(), CBitmapPaintCtrl::kCircle);
    EXPECT_FALSE(page.ToolButton(CBitmapPaintCtrl::kFreehand)->isChecked());
}

TEST_F(CameraPagesTest, ActiveAreaKeysUndoAndRedoAndTheZoomFitsThePicture) {
    QImage picture(320, 240, QImage::Format_RGB888);
    picture.fill(Qt::darkGreen);
    PictureSource source(picture);
    CPropActiveAreaDlg page(m_data, 0, &source);
    page.resize(500, 400);
    page.show();
    WaitFor(&page, SIGNAL(SnapshotFinished()));
    ASSERT_TRUE(page.PaintCtrl()->HasPicture());
    const QSize room = page.PaintCtrl()->viewport()->size();
    EXPECT_LE(320 * page.PaintCtrl()->GetZoom(), room.width() + 1);
    EXPECT_LE(240 * page.PaintCtrl()->GetZoom(), room.height() + 1);
    EXPECT_TRUE(320 * page.PaintCtrl()->GetZoom() >= room.width() - 1 ||
                240 * page.PaintCtrl()->GetZoom() >= room.height() - 1)
        << "as large as fits";

    page.PaintCtrl()->ClearAll();
    EXPECT_TRUE(page.UndoButton()->isEnabled());
    page.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    page.PaintCtrl()->setFocus();
    QTest::keyClick(page.PaintCtrl(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_FALSE(page.PaintCtrl()->CanUndo());
    EXPECT_TRUE(page.RedoButton()->isEnabled());
    QTest::keyClick(page.PaintCtrl(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(page.PaintCtrl()->CanUndo());
    EXPECT_FALSE(page.PaintCtrl()->CanRedo());
}

TEST_F(CameraPagesTest, ActiveAreaWithoutPictureKeepsTheStoredMask) {
    m_camera->m_areaMaskImage.Create(16, 8);
    m_camera->m_areaMaskImage.SetPixel(5, 5, true);
    PictureSource none(std::nullopt);
    CPropActiveAreaDlg page(m_data, 0, &none);
    WaitFor(&page, SIGNAL(SnapshotFinished()));
    EXPECT_EQ(none.m_cameraId, 0);
    EXPECT_FALSE(page.PaintCtrl()->HasPicture());
    page.EnableField()->setChecked(true);
    page.Store();
    EXPECT_TRUE(m_camera->m_areaMaskEnabled);
    ASSERT_EQ(m_camera->m_areaMaskImage.GetWidth(), 16);
    EXPECT_TRUE(m_camera->m_areaMaskImage.GetPixel(5, 5));
}

TEST_F(CameraPagesTest, ActiveAreaPaintedOnAPictureIsStored) {
    m_camera->m_areaMaskImage.Create(8, 8); // smaller than the picture: copied where it overlaps
    m_camera->m_areaMaskImage.Fill(true);
    QImage picture(32, 24, QImage::Format_RGB888);
    picture.fill(Qt::darkGreen);
    PictureSource source(picture);
    CPropActiveAreaDlg page(m_data, 0, &source);
    page.resize(500, 400);
    page.show();
    WaitFor(&page, SIGNAL(SnapshotFinished()));
    ASSERT_TRUE(page.PaintCtrl()->HasPicture());
    // At 100 %, "Clear All", then an inactive rectangle over the right half.
    page.ZoomField()->setCurrentIndex(page.ZoomField()->findData(100));
    page.PaintCtrl()->ClearAll();
    page.ToolButton(CBitmapPaintCtrl::kRectangle)->click();
    QWidget* viewport = page.PaintCtrl()->viewport();
    const auto send = [viewport](QEvent::Type type, QPoint point, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(point), QPointF(point), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    send(QEvent::MouseButtonPress, {16, 0}, Qt::LeftButton);
    send(QEvent::MouseMove, {31, 23}, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {31, 23}, Qt::NoButton);
    page.Store();
    const CBinaryImage& mask = m_camera->m_areaMaskImage;
    ASSERT_EQ(mask.GetWidth(), 32);
    ASSERT_EQ(mask.GetHeight(), 24);
    EXPECT_EQ(mask.CountPixels(1 << 20), 16 * 24);
    EXPECT_FALSE(mask.GetPixel(0, 0)) << "cleared";
    EXPECT_TRUE(mask.GetPixel(31, 23));
    EXPECT_FALSE(page.PaintCtrl()->HasPicture()) << "the page resets its control after storing";
}

TEST_F(CameraPagesTest, VideoPageListsTheTestSourcesAndTheirFormats) {
    InitGStreamer();
    CDxDeviceMgrImpl::Instance().RefreshAll();
    m_camera->m_videoDeviceDN = "test:smpte";
    m_camera->m_videoSizeCx = 352;
    m_camera->m_videoSizeCy = 288;
    m_camera->m_fps = 15;
    CPropVideoDlg page(m_data, 0);
    EXPECT_EQ(page.DeviceField()->currentData().toString(), "test:smpte");
    WaitFor(&page, SIGNAL(CapsFinished()));
    ASSERT_TRUE(page.CapsLoaded()) << page.StatusLabel()->text().toStdString();
    EXPECT_EQ(page.SubtypeField()->currentText(), "RGB24");
    EXPECT_EQ(page.SizeField()->currentData().toSize(), QSize(352, 288));
    EXPECT_EQ(page.FpsField()->value(), 15);
    page.SizeField()->setCurrentIndex(0);
    const QSize chosen = page.SizeField()->currentData().toSize();
    page.Store();
    EXPECT_EQ(m_camera->m_videoDeviceDN, "test:smpte");
    EXPECT_EQ(m_camera->m_videoSizeCx, chosen.width());
    EXPECT_EQ(m_camera->m_fps, 15);

    // A device that is not there stays chosen, marked, and its formats are not read.
    m_camera->m_videoDeviceDN = "v4l2:/dev/v4l/by-id/usb-gone-video-index0";
    CPropVideoDlg gone(m_data, 0);
    EXPECT_TRUE(gone.DeviceField()->currentText().startsWith("<not present>"));
    WaitFor(&gone, SIGNAL(CapsFinished()));
    EXPECT_FALSE(gone.CapsLoaded());
    EXPECT_FALSE(gone.StatusLabel()->text().isEmpty());
    gone.Store();
    EXPECT_EQ(m_camera->m_videoDeviceDN, "v4l2:/dev/v4l/by-id/usb-gone-video-index0");
    EXPECT_EQ(m_camera->m_videoSizeCx, chosen.width()) << "nothing else changed";
}

// A new camera's rate (the default of 1000, "as fast as the device can") reads as the device's
// best, and stays stored as it was unless the user picks a number.
TEST_F(CameraPagesTest, VideoPageShowsTheDevicesBestFrameRateAsSuch) {
    InitGStreamer();
    CDxDeviceMgrImpl::Instance().RefreshAll();
    const CVideoDeviceCaps caps = CDxDeviceMgrImpl::Instance().GetVideoDeviceCaps("test:ball");
    ASSERT_GT(caps.maxFPS, 0);
    m_camera->m_videoDeviceDN = "test:ball";
    ASSERT_EQ(m_camera->m_fps, CFrameRateBox::kBestStored) << "a new camera's default";
    {
        CPropVideoDlg page(m_data, 0);
        WaitFor(&page, SIGNAL(CapsFinished()));
        ASSERT_TRUE(page.CapsLoaded()) << page.StatusLabel()->text().toStdString();
        CFrameRateBox* fps = page.FpsField();
        EXPECT_TRUE(fps->IsBestChosen());
        EXPECT_EQ(fps->text(), QString("Best: %1 frames/s").arg(caps.maxFPS));
        EXPECT_FALSE(fps->text().contains("1000"));
        page.Store();
        EXPECT_EQ(m_camera->m_fps, 1000) << "kept as stored";
        // One step down is the highest number; one up is the best choice again.
        fps->stepBy(-1);
        EXPECT_EQ(fps->value(), caps.maxFPS);
        EXPECT_EQ(fps->text(), QString("%1 frames/s").arg(caps.maxFPS));
        page.Store();
        EXPECT_EQ(m_camera->m_fps, caps.maxFPS);
        fps->stepBy(1);
        EXPECT_TRUE(fps->IsBestChosen());
        page.Store();
        EXPECT_EQ(m_camera->m_fps, 1000);
    }
    // The Motion page counts the pre-event memory at that best rate, not at a thousand a second.
    m_camera->m_videoSizeCx = 640;
    m_camera->m_videoSizeCy = 480;
    m_camera->m_motionPreEventDelay = 2000;
    EXPECT_EQ(CPropMotionDlg::EffectiveFps(*m_camera), caps.maxFPS);
    EXPECT_EQ(CPropMotionDlg::PreEventBytes(*m_camera, 2000), int64_t{640} * 480 * 3 * 2 * caps.maxFPS);
    CPropMotionDlg motion(m_data, 0);
    EXPECT_TRUE(motion.PreEventMemoryLabel()->text().contains(QString("best %1 frames/s").arg(caps.maxFPS)))
        << motion.PreEventMemoryLabel()->text().toStdString();

    // Without the device's formats the choice still reads as the best, without a number.
    m_camera->m_videoDeviceDN = "v4l2:/dev/v4l/by-id/usb-gone-video-index0";
    CPropVideoDlg gone(m_data, 0);
    WaitFor(&gone, SIGNAL(CapsFinished()));
    EXPECT_EQ(gone.FpsField()->text(), "Best the device offers");
}

TEST(FrameRateBox, KeepsStoredRatesOutsideTheDevicesRangeAndReadsTypedTexts) {
    CFrameRateBox box;
    box.SetRates(5, 30, 30);
    box.SetStoredRate(60); // from another camera, or a hand-edited file
    EXPECT_EQ(box.value(), 60);
    EXPECT_EQ(box.StoredRate(), 60);
    EXPECT_FALSE(box.IsBestChosen());
    box.ChooseBest();
    EXPECT_EQ(box.text(), "Best: 30 frames/s");
    EXPECT_EQ(box.StoredRate(), 1000);
    box.SetStoredRate(0); // "as fast as it can" in the capture format: the best, stored as it was
    EXPECT_TRUE(box.IsBestChosen());
    EXPECT_EQ(box.StoredRate(), 0);
    box.SetStoredRate(2);
    EXPECT_EQ(box.value(), 2);
    EXPECT_EQ(box.minimum(), 2);

    // Typing: a number with or without the unit, or the best choice by its name.
    box.SetRates(5, 30, 30);
    box.SetStoredRate(15);
    box.selectAll();
    QTest::keyClicks(&box, "25");
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_EQ(box.value(), 25);
    box.selectAll();
    QTest::keyClicks(&box, "Best");
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_TRUE(box.IsBestChosen()) << box.text().toStdString();
    box.selectAll();
    QTest::keyClicks(&box, "99");
    QTest::keyClick(&box, Qt::Key_Enter);
    EXPECT_NE(box.value(), 99) << "more than the device offers is not taken";

    // A rate not known (a network camera's stream): the best choice says what it stands for.
    box.SetRates(1, 999, 0);
    box.SetStoredRate(1000);
    box.SetUnknownBestText("The stream's own rate");
    EXPECT_EQ(box.text(), "The stream's own rate");
    EXPECT_EQ(box.StoredRate(), 1000);
}

} // namespace

namespace {

// The motion page shows what a pre-event time costs: frame size x frame rate x seconds.
TEST_F(CameraPagesTest, MotionPageShowsTheMemoryOfThePreEventTime) {
    m_camera->m_videoSizeCx = 640;
    m_camera->m_videoSizeCy = 480;
    m_camera->m_fps = 15;
    m_camera->m_motionPreEventDelay = 2000;
    CPropMotionDlg page(m_data, 0);
    QLabel* label = page.PreEventMemoryLabel();
    ASSERT_NE(label, nullptr);
    // 640 x 480 x 3 bytes, 30 frames.
    EXPECT_EQ(CPropMotionDlg::PreEventBytes(*m_camera, 2000), 27648000);
    EXPECT_TRUE(label->text().startsWith("Pre-event buffer: 27.6 MB (640\u00d7480, 15 frames/s, 2.0 s)"))
        << label->text().toStdString();
    page.Slider(CPropMotionDlg::kPreEventDelay)->setValue(10000);
    EXPECT_TRUE(label->text().contains("138.2 MB")) << label->text().toStdString();
    EXPECT_FALSE(label->text().contains("share")) << "ten seconds fit any machine that runs these tests";
}

// An hour from a hand-edited file is shown as what it would take, with what the buffer keeps.
TEST_F(CameraPagesTest, MotionPageWarnsWhenThePreEventTimeExceedsTheCamerasShare) {
    m_camera->m_videoSizeCx = 640;
    m_camera->m_videoSizeCy = 480;
    m_camera->m_fps = 15;
    m_camera->m_motionPreEventDelay = 3600000;
    const int64_t bytes = CPropMotionDlg::PreEventBytes(*m_camera, 3600000);
    EXPECT_EQ(bytes, 49766400000);
    const int64_t share = CPreEventBuffer::MemoryCapPerCamera(CPreEventBuffer::PhysicalMemoryBytes(), 1);
    if (bytes <= share) {
        GTEST_SKIP() << "this machine holds an hour of pre-event frames";
    }
    CPropMotionDlg page(m_data, 0);
    const QString text = page.PreEventMemoryLabel()->text();
    EXPECT_TRUE(text.contains("49.8 GB")) << text.toStdString();
    EXPECT_TRUE(text.contains("More than this camera's share of memory (" +
                              QString::fromStdString(CPreEventBuffer::FormatBytes(share)) + ")"))
        << text.toStdString();
    page.Store();
    EXPECT_EQ(m_camera->m_motionPreEventDelay, 3600000) << "the page shows, it does not change";
}

} // namespace
