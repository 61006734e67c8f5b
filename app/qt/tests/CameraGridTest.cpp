// The camera grid of a document's window: the even layout at several counts and window sizes, the
// live view's panes reflowing as the window resizes and cameras come and go, the selected pane,
// enlarging one camera and back, the state badges, a renamed camera's title and the snapshot.

#include "app/qt/CameraGrid.h"
#include "app/qt/CameraWindow.h"
#include "app/qt/MotionGraph.h"
#include "app/qt/PropMotionDlg.h"
#include "app/qt/TavrixView.h"
#include "app/qt/VideoWidget.h"
#include "app/qt/tests/MainFrameFixture.h"
#include "camera/CamViewStateMgr.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <utility>

namespace {

using tavrixtest::AnswerSheet;
using tavrixtest::WaitUntil;
using CameraGridViewTest = tavrixtest::MainFrameFixture;

// Every pane has the same size, lies inside the area and overlaps no other; the picture part keeps
// the aspect ratio.
void ExpectEvenGrid(const CameraGrid::CLayout& layout, int count, QSize area, double aspect, int chrome) {
    ASSERT_EQ(static_cast<int>(layout.panes.size()), count);
    const QRect bounds(QPoint(0, 0), area);
    for (size_t i = 0; i < layout.panes.size(); ++i) {
        const QRect& pane = layout.panes[i];
        EXPECT_EQ(pane.size(), layout.panes[0].size());
        EXPECT_TRUE(bounds.contains(pane)) << i;
        EXPECT_NEAR(pane.width() / static_cast<double>(pane.height() - chrome), aspect, 0.02) << i;
        for (size_t j = i + 1; j < layout.panes.size(); ++j) {
            EXPECT_FALSE(pane.intersects(layout.panes[j])) << i << " and " << j;
        }
    }
}

TEST(CameraGrid, ChoosesTheEvenGridWithTheLargestPicturesAtEachCountAndSize) {
    const QSize landscape(1200, 900);
    const std::pair<int, std::pair<int, int>> expected[] = {
        {1, {1, 1}}, {2, {2, 1}}, {3, {2, 2}}, {4, {2, 2}},  {5, {3, 2}},
        {6, {3, 2}}, {7, {3, 3}}, {9, {3, 3}}, {12, {4, 3}}, {16, {4, 4}},
    };
    for (const auto& [count, grid] : expected) {
        const CameraGrid::CLayout layout = CameraGrid::Compute(count, landscape, 4.0 / 3.0, 30, 4);
        EXPECT_EQ(std::make_pair(layout.columns, layout.rows), grid) << count << " cameras";
        ExpectEvenGrid(layout, count, landscape, 4.0 / 3.0, 30);
    }
    // Seven cameras in a wide window: two rows of four rather than three rows of three.
    EXPECT_EQ(CameraGrid::Compute(7, QSize(1600, 800), 4.0 / 3.0, 30, 4).columns, 4);
    // A tall window stacks two cameras; a wide one puts three side by side.
    EXPECT_EQ(CameraGrid::Compute(2, QSize(600, 1000), 4.0 / 3.0, 30, 4).columns, 1);
    EXPECT_EQ(CameraGrid::Compute(3, QSize(2400, 500), 16.0 / 9.0, 30, 4).columns, 3);
    ExpectEvenGrid(CameraGrid::Compute(5, QSize(700, 1400), 16.0 / 9.0, 24, 2), 5, QSize(700, 1400),
                   16.0 / 9.0, 24);
    // The panes of a grid are centred, an incomplete last row too.
    const CameraGrid::CLayout three = CameraGrid::Compute(3, landscape, 4.0 / 3.0, 30, 4);
    EXPECT_NEAR(three.panes[2].center().x(), landscape.width() / 2, 2);
    EXPECT_NEAR((three.panes[0].left() + three.panes[1].right()) / 2, landscape.width() / 2, 2);
    // Nothing to lay out, a window too small, an aspect ratio that makes no sense.
    EXPECT_TRUE(CameraGrid::Compute(0, landscape, 4.0 / 3.0, 30, 4).panes.empty());
    EXPECT_EQ(CameraGrid::Compute(4, QSize(10, 10), 4.0 / 3.0, 30, 4).panes.size(), 4u);
    ExpectEvenGrid(CameraGrid::Compute(4, landscape, 0.0, 30, 4), 4, landscape, 4.0 / 3.0, 30);
}

TEST_F(CameraGridViewTest, PanesReflowOnResizeAndWhenCamerasComeAndGo) {
    CTavrixView* view = m_frame->OpenDocument(QString::fromStdString(
        MakeDocument("four.tvrx", {"test:smpte", "test:smpte", "test:smpte", "test:smpte"})));
    ASSERT_NE(view, nullptr);
    m_frame->resize(1200, 900);
    ASSERT_TRUE(WaitUntil([view] { return view->GridColumns() == 2 && view->GridRows() == 2; }))
        << view->GridColumns() << "x" << view->GridRows();
    std::set<std::pair<int, int>> sizes;
    for (CCameraWindow* window : view->CameraWindows()) {
        sizes.emplace(window->width(), window->height());
        EXPECT_TRUE(view->rect().contains(window->geometry()));
    }
    EXPECT_EQ(sizes.size(), 1u) << "every pane has the same size";

    // A wide, low document window: four side by side.
    QMdiSubWindow* sub = m_frame->MdiArea()->subWindowList().first();
    sub->showNormal();
    sub->resize(2000, 300);
    ASSERT_TRUE(WaitUntil([view] { return view->GridColumns() == 4 && view->GridRows() == 1; }))
        << view->GridColumns() << "x" << view->GridRows();

    // A camera removed: three are laid out again.
    m_answer = true; // "Delete the camera?"
    ASSERT_TRUE(view->DeleteCamera(3));
    EXPECT_EQ(view->CameraWindows().size(), 3u);
    EXPECT_EQ(view->GridColumns(), 3);
}

TEST_F(CameraGridViewTest, SelectedPaneIsMarkedEnterAndDoubleClickEnlargeItAndBack) {
    CTavrixView* view =
        m_frame->OpenDocument(QString::fromStdString(MakeDocument("two.tvrx", {"test:smpte", "test:smpte"})));
    ASSERT_NE(view, nullptr);
    CCameraWindow* first = view->FindCameraWindow(0);
    CCameraWindow* second = view->FindCameraWindow(1);
    EXPECT_TRUE(first->IsSelected()) << "the first camera is the selected one at the start";
    EXPECT_FALSE(second->IsSelected());

    QTest::mouseClick(second->Video(), Qt::LeftButton);
    EXPECT_EQ(view->CurrentCameraId(), 1);
    EXPECT_TRUE(second->IsSelected());
    EXPECT_FALSE(first->IsSelected());
    EXPECT_NE(second->palette().color(QPalette::WindowText), first->palette().color(QPalette::WindowText));

    // Enter on the selected pane enlarges it to the whole window; Enter again goes back.
    QTest::keyClick(second, Qt::Key_Return);
    EXPECT_EQ(view->EnlargedCameraId(), 1);
    EXPECT_FALSE(first->isVisible());
    EXPECT_GT(second->width(), view->width() - 20);
    QTest::keyClick(second, Qt::Key_Return);
    EXPECT_EQ(view->EnlargedCameraId(), -1);
    EXPECT_TRUE(first->isVisible());

    // A double-click enlarges the pane it hits (and selects it); Escape goes back.
    QTest::mouseDClick(first->Video(), Qt::LeftButton);
    EXPECT_EQ(view->EnlargedCameraId(), 0);
    EXPECT_EQ(view->CurrentCameraId(), 0);
    EXPECT_EQ(view->GridColumns(), 1);
    QTest::keyClick(first, Qt::Key_Escape);
    EXPECT_EQ(view->EnlargedCameraId(), -1);
    EXPECT_EQ(view->GridColumns(), 2);
}

TEST_F(CameraGridViewTest, BadgesShowTheStateInItsColourAndTitlesFollowARename) {
    tavrixtest::MessageBoxes boxes; // the camera without a device reports it
    CTavrixView* view = m_frame->OpenDocument(
        QString::fromStdString(MakeDocument("badges.tvrx", {"test:smpte", "usb:/dev/video9"})));
    ASSERT_NE(view, nullptr);
    CCameraWindow* live = view->FindCameraWindow(0);
    CCameraWindow* missing = view->FindCameraWindow(1);
    ASSERT_TRUE(WaitUntil([live] { return live->GetState() == CCamViewStateMgr::kInactive; }));
    EXPECT_EQ(live->Badge()->text(), "Inactive");
    EXPECT_EQ(CCameraWindow::BadgeColour(CCamViewStateMgr::kInactive), QColor(120, 120, 120));

    live->ActivateButton()->click();
    ASSERT_TRUE(WaitUntil([live] { return live->GetState() == CCamViewStateMgr::kIdle; }));
    EXPECT_EQ(live->Badge()->text(), "Idle");
    EXPECT_TRUE(live->Badge()->styleSheet().contains(QColor(40, 150, 60).name()));

    missing->ActivateButton()->click();
    ASSERT_TRUE(WaitUntil([missing] { return missing->GetState() == CCamViewStateMgr::kUnavailable; }));
    EXPECT_TRUE(missing->Badge()->styleSheet().contains(QColor(230, 150, 20).name()));
    EXPECT_TRUE(missing->Badge()->toolTip().contains("capture device is missing"))
        << missing->Badge()->toolTip().toStdString();

    // Recording carries its dot and red.
    live->SetState(CCamViewStateMgr::kRecording, "Recording");
    EXPECT_EQ(live->Badge()->text(), QString::fromUtf8("\u25CF Recording"));
    EXPECT_TRUE(live->Badge()->styleSheet().contains(QColor(200, 30, 30).name()));

    // A camera renamed in its sheet: the pane's title follows as the sheet closes.
    AnswerSheet(true, "Porch");
    ASSERT_TRUE(view->EditCamera(0));
    EXPECT_TRUE(live->TitleLabel()->text().startsWith("Porch - "))
        << live->TitleLabel()->text().toStdString();

    // The live caption of a small pane counts the changed pixels only while the camera watches.
    ASSERT_TRUE(WaitUntil([live] { return live->Video()->Caption().contains("changed pixels"); }));
    live->ActivateButton()->click();
    ASSERT_TRUE(WaitUntil([live] { return live->GetState() == CCamViewStateMgr::kInactive; }));
    ASSERT_TRUE(WaitUntil([live] { return live->Video()->Caption() == "Inactive"; }))
        << live->Video()->Caption().toStdString();
}

TEST_F(CameraGridViewTest, SnapshotIsSavedAsPngIntoTheRecordFolderAndLogged) {
    CTavrixView* view =
        m_frame->OpenDocument(QString::fromStdString(MakeDocument("snapshot.tvrx", {"test:smpte"})));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitUntil([view] { return view->FindCameraWindow(0)->Video()->FramesShown() > 0; }));
    QString saved;
    bool answered = false;
    view->SaveSnapshot(0, [&](const QString& path) {
        saved = path;
        answered = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return answered; }));
    ASSERT_FALSE(saved.isEmpty());
    EXPECT_EQ(QFileInfo(saved).absolutePath(), QFileInfo(m_dir.path()).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(saved).fileName().startsWith("Default_"));
    EXPECT_EQ(QImage(saved).size(), QSize(160, 120));
    EXPECT_TRUE(Logged("Snapshot saved to '" + saved.toStdString() + "'"));

    EXPECT_EQ(CTavrixView::SnapshotPath("/rec", "Back/door", QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3))),
              "/rec/Back_door_08122026_010203.png");
    EXPECT_EQ(CTavrixView::SnapshotPath("/rec", "..", QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3))),
              "/rec/Camera_08122026_010203.png");
}

TEST_F(CameraGridViewTest, MotionPageGraphsTheLiveChangedPixelsAgainstTheSlidersThreshold) {
    CTavrixView* view = m_frame->OpenDocument(
        QString::fromStdString(MakeDocument("live.tvrx", {"test:motion?on=0-3600000"})));
    ASSERT_NE(view, nullptr);
    CTavrixDocData copy = view->Document()->GetData();
    CPropMotionDlg page(copy, 0, nullptr, view);
    page.show();

    // Switched off, the camera does not watch: the graph says so.
    page.UpdateLive();
    EXPECT_TRUE(page.Graph()->Values().empty());
    EXPECT_FALSE(page.Graph()->Reason().isEmpty());

    view->FindCameraWindow(0)->ActivateButton()->click();
    ASSERT_TRUE(WaitUntil([&] {
        page.UpdateLive();
        return std::any_of(page.Graph()->Values().begin(), page.Graph()->Values().end(),
                           [](int value) { return value > 0; });
    }));
    EXPECT_TRUE(page.Graph()->Reason().isEmpty());
    EXPECT_FALSE(page.LivePictureLabel()->pixmap().isNull()) << "the live picture with its changed pixels";
    page.Slider(CPropMotionDlg::kPixelCount)->setValue(321);
    EXPECT_EQ(page.Graph()->Threshold(), 321);
    EXPECT_GT(page.Graph()->Scale(), 321);
    EXPECT_FALSE(page.Graph()->grab().isNull());

    // The sliders read in units a user reads.
    page.Slider(CPropMotionDlg::kGreyLevel)->setValue(150);
    EXPECT_EQ(page.ValueLabel(CPropMotionDlg::kGreyLevel)->text(), "15.0 %");
    page.Slider(CPropMotionDlg::kErosionLevel)->setValue(1);
    EXPECT_EQ(page.ValueLabel(CPropMotionDlg::kErosionLevel)->text(), "1 pass");
    page.Slider(CPropMotionDlg::kErosionLevel)->setValue(2);
    EXPECT_EQ(page.ValueLabel(CPropMotionDlg::kErosionLevel)->text(), "2 passes");
    EXPECT_EQ(CPropMotionDlg::ValueText(CPropMotionDlg::kStartDelay, 500), "500 ms");
    // The graph keeps its last minute only.
    for (int i = 0; i < 500; ++i) {
        page.Graph()->AddValue(i);
    }
    EXPECT_EQ(page.Graph()->Values().size(), CMotionGraph::kCapacity);
    EXPECT_EQ(page.Graph()->Values().back(), 499);
}

} // namespace

namespace {

TEST(NewCamera, TakesTheFirstUnusedDeviceAndItsName) {
    CTavrixDocData data;
    CCamera* first = data.AddCamera();
    first->m_videoDeviceDN = "test:ball";
    first->m_camName = "Test picture: colour bars"; // a name taken already
    CCamera* added = data.AddCamera();
    const std::map<std::string, std::string> devices{{"test:ball", "Test picture: moving ball"},
                                                     {"test:smpte", "Test picture: colour bars"},
                                                     {"v4l2:/dev/video0", "USB Camera"}};
    CTavrixView::ChooseNewCameraDevice(data, *added, devices);
    EXPECT_EQ(added->m_videoDeviceDN, "test:smpte");
    EXPECT_EQ(added->m_camName, "Test picture: colour bars (2)");

    // Every device in use: the first camera's device, the name as it was.
    CCamera* more = data.AddCamera();
    more->m_camName = "Camera_9";
    CTavrixView::ChooseNewCameraDevice(data, *more, {{"test:ball", "Test picture: moving ball"}});
    EXPECT_EQ(more->m_videoDeviceDN, "test:ball");
    EXPECT_EQ(more->m_camName, "Camera_9");
}

} // namespace
