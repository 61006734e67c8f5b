// The live pane beyond the grid: the active area drawn over the picture (and switched off), a
// snapshot as JPEG when the options say so, one camera alone on the whole screen and back, and
// the Motion page's sliders previewed on the running camera before OK.

#include "app/qt/CameraWindow.h"
#include "app/qt/MotionGraph.h"
#include "app/qt/PropMotionDlg.h"
#include "app/qt/SnapshotFormat.h"
#include "app/qt/TavrixView.h"
#include "app/qt/VideoWidget.h"
#include "app/qt/tests/MainFrameFixture.h"
#include "platform/SettingsFile.h"

#include <QAction>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using tavrixtest::WaitUntil;

class LivePaneTest : public tavrixtest::MainFrameFixture {
protected:
    // Edits a saved document (before it is opened).
    void EditDocument(const std::string& path, const std::function<void(CTavrixDocData&)>& edit) {
        CTavrixDoc document;
        ASSERT_TRUE(document.OnOpenDocument(path));
        document.Edit(edit);
        ASSERT_TRUE(document.OnSaveDocument());
        document.OnCloseDocument();
    }
    // A pixel of the widget as drawn, at a point of the picture given in picture coordinates.
    static QColor DrawnPixel(CVideoWidget* video, QPoint inPicture) {
        const QImage drawn = video->grab().toImage();
        const QSize shown = video->CurrentFrame().size().scaled(video->size(), Qt::KeepAspectRatio);
        const QPoint origin((video->width() - shown.width()) / 2, (video->height() - shown.height()) / 2);
        const double scale = shown.width() / static_cast<double>(video->CurrentFrame().width());
        const QPoint at = origin + QPoint(static_cast<int>(inPicture.x() * scale), static_cast<int>(inPicture.y() * scale));
        return drawn.pixelColor(at * drawn.devicePixelRatio());
    }
};

TEST_F(LivePaneTest, EnabledActiveAreaIsDrawnOverTheLivePictureUntilSwitchedOff) {
    const std::string path = MakeDocument("mask.tvrx", {"test:smpte", "test:smpte", "test:smpte"});
    EditDocument(path, [](CTavrixDocData& data) {
        // Camera 0: the left half inactive, enabled. Camera 1: the same mask, not enabled.
        // Camera 2: enabled, but painted on a picture of another size.
        for (int32_t id = 0; id < 3; ++id) {
            CCamera* camera = data.m_cameras.Find(id);
            CBinaryImage mask;
            mask.Create(id == 2 ? 320 : 160, id == 2 ? 240 : 120);
            mask.Fill(false);
            for (int32_t y = 0; y < mask.GetHeight(); ++y) {
                for (int32_t x = 0; x < mask.GetWidth() / 2; ++x) {
                    mask.SetPixel(x, y, true);
                }
            }
            camera->m_areaMaskImage = mask;
            camera->m_areaMaskEnabled = id != 1;
        }
    });
    CTavrixView* view = m_frame->OpenDocument(QString::fromStdString(path));
    ASSERT_NE(view, nullptr);
    CVideoWidget* masked = view->FindCameraWindow(0)->Video();
    ASSERT_TRUE(WaitUntil([&] {
        return masked->FramesShown() > 0 && view->FindCameraWindow(2)->Video()->FramesShown() > 0;
    }));
    EXPECT_TRUE(masked->MaskOverlayShown());
    EXPECT_GT(qAlpha(masked->MaskOverlay().pixel(10, 60)), 0) << "an inactive pixel is covered";
    EXPECT_EQ(qAlpha(masked->MaskOverlay().pixel(150, 60)), 0) << "an active pixel is not";
    EXPECT_FALSE(view->FindCameraWindow(1)->Video()->MaskOverlayShown()) << "the mask is not enabled";
    EXPECT_FALSE(view->FindCameraWindow(2)->Video()->MaskOverlayShown()) << "a mask of another size";

    // Drawn semi-transparent: the inactive half turns redder than the picture, the picture shows
    // through; the active half stays as it is.
    const QPoint inactive(20, 60);
    const QColor under = masked->CurrentFrame().pixelColor(inactive);
    const QColor covered = DrawnPixel(masked, inactive);
    EXPECT_NE(covered, under);
    EXPECT_GE(covered.red(), under.red());
    EXPECT_LT(covered.blue() + covered.green(), under.blue() + under.green() + 1);

    // Switched off for the pane: the picture as it is.
    view->SetMaskShown(0, false);
    EXPECT_FALSE(view->IsMaskShown(0));
    EXPECT_FALSE(masked->MaskOverlayShown());
    const QColor plain = DrawnPixel(masked, inactive);
    EXPECT_NEAR(plain.red(), under.red(), 12);
    EXPECT_NEAR(plain.green(), under.green(), 12);
    view->SetMaskShown(0, true);
    EXPECT_TRUE(masked->MaskOverlayShown());
}

TEST_F(LivePaneTest, SnapshotIsJpegWhenTheOptionsSaySoAndPngOtherwise) {
    const std::string settings = CConfigMgrImpl::Instance().GetSettingsPath();
    EXPECT_EQ(SnapshotFormat::Read(settings), SnapshotFormat::EFormat::Png) << "PNG unless chosen";
    CTavrixView* view =
        m_frame->OpenDocument(QString::fromStdString(MakeDocument("jpeg.tvrx", {"test:smpte"})));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitUntil([view] { return view->FindCameraWindow(0)->Video()->FramesShown() > 0; }));
    const auto snapshot = [view] {
        QString saved;
        bool answered = false;
        view->SaveSnapshot(0, [&](const QString& path) {
            saved = path;
            answered = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return answered; }));
        return saved;
    };

    ASSERT_TRUE(SnapshotFormat::Write(settings, SnapshotFormat::EFormat::Jpeg));
    const QString jpeg = snapshot();
    SnapshotFormat::Write(settings, SnapshotFormat::EFormat::Png);
    ASSERT_FALSE(jpeg.isEmpty());
    EXPECT_TRUE(jpeg.endsWith(".jpg")) << jpeg.toStdString();
    QImageReader reader(jpeg);
    EXPECT_EQ(reader.format(), "jpeg");
    EXPECT_EQ(reader.size(), QSize(160, 120));
    EXPECT_TRUE(Logged("Snapshot saved to '" + jpeg.toStdString() + "'"));

    QTest::qWait(1100); // the next snapshot's file name has the next second
    const QString png = snapshot();
    EXPECT_TRUE(png.endsWith(".png")) << png.toStdString();
    EXPECT_EQ(QImageReader(png).format(), "png");

    // An unknown stored format is PNG.
    {
        platform::CSettingsFile file(settings);
        ASSERT_TRUE(file.Load());
        file.WriteString(SnapshotFormat::kGroup, "Format", "TIFF");
        ASSERT_TRUE(file.Save());
    }
    EXPECT_EQ(SnapshotFormat::Read(settings), SnapshotFormat::EFormat::Png);
    EXPECT_EQ(CTavrixView::SnapshotPath("/rec", "Gate", QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3)), "jpg"),
              "/rec/Gate_08122026_010203.jpg");
}

TEST_F(LivePaneTest, F11ShowsTheEnlargedCameraAloneFullScreenAndBringsItBack) {
    CTavrixView* view =
        m_frame->OpenDocument(QString::fromStdString(MakeDocument("full.tvrx", {"test:smpte", "test:smpte"})));
    ASSERT_NE(view, nullptr);
    CCameraWindow* second = view->FindCameraWindow(1);

    // The grid as today: F11 makes the main window full screen and back.
    m_frame->FullScreenAction()->trigger();
    EXPECT_TRUE(m_frame->isFullScreen());
    EXPECT_EQ(view->FullScreenCameraId(), -1);
    m_frame->FullScreenAction()->trigger();
    EXPECT_FALSE(m_frame->isFullScreen());

    // An enlarged camera: F11 shows it alone, a window of its own on the whole screen.
    view->SetEnlargedCamera(1);
    m_frame->FullScreenAction()->trigger();
    EXPECT_FALSE(m_frame->isFullScreen());
    EXPECT_EQ(view->FullScreenCameraId(), 1);
    EXPECT_TRUE(second->isWindow());
    EXPECT_TRUE(second->isFullScreen());
    EXPECT_TRUE(second->isVisible());
    EXPECT_TRUE(view->FindCameraWindow(0)->parentWidget() == view && !view->FindCameraWindow(0)->isWindow());
    ASSERT_TRUE(WaitUntil([second] { return second->Video()->FramesShown() > 0; }))
        << "the pictures keep coming to the pane on its own screen";
    const int64_t shown = second->Video()->FramesShown();
    ASSERT_TRUE(WaitUntil([&] { return second->Video()->FramesShown() > shown; }));

    // Its own F11 brings it back into the document window, enlarged as it was.
    QTest::keyClick(second, Qt::Key_F11);
    EXPECT_EQ(view->FullScreenCameraId(), -1);
    EXPECT_FALSE(second->isWindow());
    EXPECT_EQ(second->parentWidget(), view);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(view->EnlargedCameraId(), 1);
    EXPECT_GT(second->width(), view->width() - 20);

    // The Camera menu's command takes the selected camera from the grid; Escape brings it back
    // into the grid, the other pane beside it again.
    view->SetEnlargedCamera(-1);
    view->SelectCamera(0);
    view->SetFullScreenCamera(0);
    CCameraWindow* first = view->FindCameraWindow(0);
    EXPECT_TRUE(first->isWindow());
    EXPECT_EQ(view->GridColumns() * view->GridRows(), 1) << "the other camera alone in the grid meanwhile";
    QTest::keyClick(first->Video(), Qt::Key_Escape);
    EXPECT_FALSE(first->isWindow());
    EXPECT_EQ(view->GridColumns() * view->GridRows(), 2);
    EXPECT_TRUE(first->isVisible() && second->isVisible());

    // Closing the document while a camera fills the screen takes its window along.
    view->SetFullScreenCamera(1);
    QPointer<CCameraWindow> alone(second);
    EXPECT_TRUE(m_frame->CloseDocument(view, false));
    QApplication::processEvents();
    EXPECT_TRUE(alone.isNull());
}

TEST_F(LivePaneTest, MotionSlidersArePreviewedOnTheRunningCameraAndPutBackOnCancel) {
    CTavrixView* view = m_frame->OpenDocument(
        QString::fromStdString(MakeDocument("preview.tvrx", {"test:motion?on=0-3600000"})));
    ASSERT_NE(view, nullptr);
    view->FindCameraWindow(0)->ActivateButton()->click();
    CCameraView* cameraView = view->Core()->FindCameraView(0);
    ASSERT_NE(cameraView, nullptr);
    CMotionDetector& detector = cameraView->GetMotionDetector();
    ASSERT_TRUE(WaitUntil([&] { return detector.GetLastCount() > 0; }));
    const int32_t storedGrey = view->Document()->FindCamera(0)->m_motionGreyLevel;
    // The detector keeps the grey level on its own scale: compared as it reports it.
    const int32_t storedLevel = detector.GetGreyLevel();

    CTavrixDocData copy = view->Document()->GetData();
    auto page = std::make_unique<CPropMotionDlg>(copy, 0, nullptr, view);
    page->show();
    // The grey level at its top: no difference exceeds it, the marks and the count go at once.
    page->Slider(CPropMotionDlg::kGreyLevel)->setValue(1000);
    page->Slider(CPropMotionDlg::kPixelCount)->setValue(77);
    page->Slider(CPropMotionDlg::kErosionLevel)->setValue(2);
    EXPECT_TRUE(page->IsPreviewing());
    const int32_t previewLevel = detector.GetGreyLevel();
    EXPECT_GT(previewLevel, storedLevel);
    EXPECT_EQ(detector.GetPixelCount(), 77);
    EXPECT_EQ(detector.GetErosionLevel(), 2);
    EXPECT_EQ(page->Graph()->Threshold(), 77);
    ASSERT_TRUE(WaitUntil([&] {
        page->UpdateLive();
        return !page->Graph()->Values().empty() && page->Graph()->Values().back() == 0;
    })) << "the live count follows the unsaved grey level";
    EXPECT_EQ(view->Document()->FindCamera(0)->m_motionGreyLevel, storedGrey) << "the document keeps its value";

    // Hidden (the sheet cancelled or another page chosen): the camera detects as stored again.
    page->hide();
    EXPECT_FALSE(page->IsPreviewing());
    EXPECT_EQ(detector.GetGreyLevel(), storedLevel);
    EXPECT_EQ(detector.GetErosionLevel(), view->Document()->FindCamera(0)->m_motionErosionLevel);
    ASSERT_TRUE(WaitUntil([&] { return detector.GetLastCount() > 0; }));
    // Shown again: the sliders' values once more; the page going puts the stored ones back.
    page->show();
    EXPECT_EQ(detector.GetGreyLevel(), previewLevel);
    page.reset();
    EXPECT_EQ(detector.GetGreyLevel(), storedLevel);
    EXPECT_EQ(detector.GetPixelCount(), view->Document()->FindCamera(0)->m_motionShortTermPixelCount);
}

} // namespace
