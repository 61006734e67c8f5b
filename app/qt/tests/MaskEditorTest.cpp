// The area mask editor: the pixels each tool paints, the mapping of mouse points through zoom and
// scrolling, the copy of a stored mask of another size, and the red overlay over the picture.

#include "app/qt/BitmapPaintCtrl.h"
#include "app/qt/MaskRaster.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace {

class MaskEditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_ctrl.resize(220, 220);
        m_ctrl.show(); // lays out the viewport and its scroll bars
        QImage picture(40, 30, QImage::Format_RGB888);
        picture.fill(QColor(0, 0, 255));
        m_ctrl.SetBackgroundImage(picture);
        m_ctrl.SetTool(CBitmapPaintCtrl::kFreehand);
        m_ctrl.SetPaintMode(CBitmapPaintCtrl::kPaintInactive);
        m_ctrl.SetPenWidth(1);
    }

    void Send(QEvent::Type type, QPoint point, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(point), QPointF(point), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(m_ctrl.viewport(), &event);
    }
    void Press(QPoint point) { Send(QEvent::MouseButtonPress, point, Qt::LeftButton); }
    void Move(QPoint point) { Send(QEvent::MouseMove, point, Qt::LeftButton); }
    void Release(QPoint point) { Send(QEvent::MouseButtonRelease, point, Qt::NoButton); }
    void Drag(QPoint from, QPoint to) {
        Press(from);
        Move((from + to) / 2);
        Move(to);
        Release(to);
    }
    bool Inactive(int x, int y) const { return m_ctrl.GetMaskBitmap().GetPixel(x, y); }
    int InactiveCount() const {
        int count = 0;
        const CMonoBitmap& mask = m_ctrl.GetMaskBitmap();
        for (int y = 0; y < mask.height; ++y) {
            for (int x = 0; x < mask.width; ++x) {
                count += mask.GetPixel(x, y) ? 1 : 0;
            }
        }
        return count;
    }

    CBitmapPaintCtrl m_ctrl;
};

TEST_F(MaskEditorTest, FreehandPaintsThePathAndActiveErasesIt) {
    Press({5, 5});
    Move({10, 5});
    Move({10, 8});
    Release({10, 8});
    for (int x = 5; x <= 10; ++x) {
        EXPECT_TRUE(Inactive(x, 5)) << x;
    }
    for (int y = 5; y <= 8; ++y) {
        EXPECT_TRUE(Inactive(10, y)) << y;
    }
    EXPECT_EQ(InactiveCount(), 9);

    // Moving without the button held paints nothing.
    Move({20, 20});
    EXPECT_FALSE(Inactive(20, 20));

    m_ctrl.SetPaintMode(CBitmapPaintCtrl::kPaintActive);
    Press({5, 5});
    Move({10, 5});
    Release({10, 5});
    EXPECT_EQ(InactiveCount(), 3); // only the vertical part below the erased row remains
}

TEST_F(MaskEditorTest, FreehandPenWidthPaintsARoundFootprint) {
    m_ctrl.SetPenWidth(3);
    Press({10, 10});
    Release({10, 10});
    EXPECT_EQ(InactiveCount(), 9); // 3 x 3
    m_ctrl.ClearAll();
    m_ctrl.SetPenWidth(5);
    Press({10, 10});
    Release({10, 10});
    EXPECT_TRUE(Inactive(8, 10));
    EXPECT_TRUE(Inactive(12, 10));
    EXPECT_FALSE(Inactive(8, 8)); // corners of the 5 x 5 square are outside the disc
    EXPECT_EQ(InactiveCount(), 21);
}

TEST_F(MaskEditorTest, LineShowsOnlyTheFinalLineAndLeavesTheMaskAloneWhileDragging) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kLine);
    Press({2, 2});
    Move({20, 25}); // a preview that must not stay
    EXPECT_EQ(InactiveCount(), 0) << "the preview goes to the work bitmap, not the mask";
    Move({20, 2});
    Release({20, 2});
    for (int x = 2; x <= 20; ++x) {
        EXPECT_TRUE(Inactive(x, 2)) << x;
    }
    EXPECT_FALSE(Inactive(11, 13)) << "the preview toward (20, 25) was erased";
    EXPECT_EQ(InactiveCount(), 19);
}

TEST_F(MaskEditorTest, RectangleFillsTheSpanIncludingBothCorners) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kRectangle);
    Drag({8, 10}, {3, 4}); // dragged up and left: normalised
    for (int y = 4; y <= 10; ++y) {
        for (int x = 3; x <= 8; ++x) {
            EXPECT_TRUE(Inactive(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(InactiveCount(), 6 * 7);
    // An active rectangle carves a hole.
    m_ctrl.SetPaintMode(CBitmapPaintCtrl::kPaintActive);
    Drag({5, 6}, {6, 7});
    EXPECT_FALSE(Inactive(5, 6));
    EXPECT_FALSE(Inactive(6, 7));
    EXPECT_EQ(InactiveCount(), 6 * 7 - 4);
}

TEST_F(MaskEditorTest, CircleIsInscribedInTheSpan) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kCircle);
    Drag({0, 0}, {10, 10});
    EXPECT_TRUE(Inactive(5, 5));
    EXPECT_TRUE(Inactive(0, 5));
    EXPECT_TRUE(Inactive(10, 5));
    EXPECT_TRUE(Inactive(5, 0));
    EXPECT_TRUE(Inactive(5, 10));
    EXPECT_FALSE(Inactive(0, 0));
    EXPECT_FALSE(Inactive(10, 10));
    EXPECT_FALSE(Inactive(1, 1));
    EXPECT_FALSE(Inactive(11, 5));
    // Symmetric about the centre.
    const CMonoBitmap& mask = m_ctrl.GetMaskBitmap();
    for (int y = 0; y <= 10; ++y) {
        for (int x = 0; x <= 10; ++x) {
            EXPECT_EQ(mask.GetPixel(x, y), mask.GetPixel(10 - x, y));
            EXPECT_EQ(mask.GetPixel(x, y), mask.GetPixel(x, 10 - y));
        }
    }
}

TEST_F(MaskEditorTest, FillFloodsTheEnclosedAreaOnly) {
    // A closed box from (5,5) to (15,12).
    m_ctrl.SetTool(CBitmapPaintCtrl::kLine);
    Drag({5, 5}, {15, 5});
    Drag({15, 5}, {15, 12});
    Drag({15, 12}, {5, 12});
    Drag({5, 12}, {5, 5});
    const int outline = InactiveCount();
    EXPECT_EQ(outline, 2 * 11 + 2 * 6);

    m_ctrl.SetTool(CBitmapPaintCtrl::kFill);
    Press({10, 8}); // down and moves do nothing
    EXPECT_EQ(InactiveCount(), outline);
    Release({10, 8});
    EXPECT_EQ(InactiveCount(), 11 * 8);
    EXPECT_FALSE(Inactive(4, 8));
    EXPECT_FALSE(Inactive(16, 8));

    // Filling active inside the inactive box clears the box, outline included.
    m_ctrl.SetPaintMode(CBitmapPaintCtrl::kPaintActive);
    Press({10, 8});
    Release({10, 8});
    EXPECT_EQ(InactiveCount(), 0);
    // Filling an area that already has the colour changes nothing.
    Press({0, 0});
    Release({0, 0});
    EXPECT_EQ(InactiveCount(), 0);
}

TEST(MaskEditorMapping, ZoomDividesAndRoundsHalfUp) {
    const QSize shown(1000, 1000);
    const QSize picture(500, 500);
    // 12 %: 6 / 0.12 = 50, 7 / 0.12 = 58.33.
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({6, 7}, 0.12, {0, 0}, shown, picture), QPoint(50, 58));
    // 200 %: 1 / 2 = 0.5 rounds up to 1; 3 / 2 = 1.5 to 2; 2 / 2 = 1.
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({1, 3}, 2.0, {0, 0}, shown, picture), QPoint(1, 2));
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({2, 0}, 2.0, {0, 0}, shown, picture), QPoint(1, 0));
    // 300 %: 4 / 3 = 1.33 -> 1, 5 / 3 = 1.67 -> 2.
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({4, 5}, 3.0, {0, 0}, shown, picture), QPoint(1, 2));
    // The scroll position is added after the division.
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({3, 3}, 2.0, {10, 20}, shown, picture), QPoint(12, 22));
    // Points beyond the shown part are clamped to it, and the result stays inside the picture.
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({-5, 900}, 1.0, {0, 0}, QSize(100, 80), picture), QPoint(0, 79));
    EXPECT_EQ(CBitmapPaintCtrl::MapToImage({199, 199}, 4.0, {0, 0}, QSize(200, 200), QSize(50, 50)),
              QPoint(49, 49));
}

TEST_F(MaskEditorTest, ZoomedAndScrolledClicksPaintTheMappedPixel) {
    m_ctrl.SetZoom(2.0);
    Press({3, 3}); // 1.5 -> 2
    Release({3, 3});
    EXPECT_TRUE(Inactive(2, 2));
    EXPECT_EQ(InactiveCount(), 1);

    m_ctrl.ClearAll();
    m_ctrl.SetZoom(5.0); // 40 x 30 at 500 % does not fit 150 x 150: scroll bars
    m_ctrl.resize(150, 150);
    ASSERT_GT(m_ctrl.horizontalScrollBar()->maximum(), 0);
    m_ctrl.horizontalScrollBar()->setValue(10);
    Press({10, 10}); // 2 + 10 scrolled
    Release({10, 10});
    EXPECT_TRUE(Inactive(12, 2));
    EXPECT_EQ(InactiveCount(), 1);
}

TEST_F(MaskEditorTest, StoredMaskOfAnotherSizeIsCopiedWhereItOverlaps) {
    CBinaryImage stored;
    stored.Create(60, 10); // wider and lower than the 40 x 30 picture
    stored.Fill(true);
    m_ctrl.SetMaskImage(stored);
    CBinaryImage result;
    m_ctrl.GetMaskImage(result);
    ASSERT_EQ(result.GetWidth(), 40);
    ASSERT_EQ(result.GetHeight(), 30);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            EXPECT_EQ(result.GetPixel(x, y), y < 10) << x << "," << y;
        }
    }
}

TEST_F(MaskEditorTest, PictureOfTheSameSizeKeepsTheMaskAnotherSizeStartsAllActive) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kRectangle);
    Drag({0, 0}, {39, 29});
    QImage same(40, 30, QImage::Format_RGB888);
    same.fill(Qt::green);
    m_ctrl.SetBackgroundImage(same);
    EXPECT_EQ(InactiveCount(), 40 * 30);
    QImage other(41, 30, QImage::Format_RGB888);
    other.fill(Qt::green);
    m_ctrl.SetBackgroundImage(other);
    EXPECT_EQ(InactiveCount(), 0);
    EXPECT_EQ(m_ctrl.GetMaskBitmap().width, 41);
}

TEST_F(MaskEditorTest, ClearAllMakesEverythingActive) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kRectangle);
    Drag({0, 0}, {39, 29});
    m_ctrl.ClearAll();
    CBinaryImage result;
    m_ctrl.GetMaskImage(result);
    EXPECT_EQ(result.CountPixels(1 << 30), 0);
}

TEST(MaskEditorWithoutPicture, NothingIsPaintedAndTheStoredMaskStays) {
    CBitmapPaintCtrl ctrl;
    ctrl.resize(100, 100);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(ctrl.viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(ctrl.viewport(), &release);
    EXPECT_TRUE(ctrl.GetMaskBitmap().IsEmpty());

    CBinaryImage stored;
    stored.Create(8, 8);
    stored.SetPixel(3, 4, true);
    ctrl.SetMaskImage(stored);
    ctrl.ClearAll();
    ctrl.GetMaskImage(stored);
    EXPECT_EQ(stored.GetWidth(), 8);
    EXPECT_TRUE(stored.GetPixel(3, 4));
}

TEST_F(MaskEditorTest, InactivePixelsShowRedOverThePicture) {
    m_ctrl.SetTool(CBitmapPaintCtrl::kRectangle);
    Drag({0, 0}, {9, 9});
    m_ctrl.SetZoom(2.0);
    const QImage shown = m_ctrl.viewport()->grab().toImage();
    // Picture pixel (2, 2) is inactive: red over the blue picture, which shows through.
    const QColor masked(shown.pixel(5, 5));
    EXPECT_GT(masked.red(), 120);
    EXPECT_GT(masked.blue(), 60);
    EXPECT_EQ(masked.green(), 0);
    EXPECT_EQ(QColor(shown.pixel(30, 30)), QColor(0, 0, 255));   // picture pixel (15, 15): active
    EXPECT_EQ(QColor(shown.pixel(100, 100)), QColor(Qt::black)); // beyond the 80 x 60 picture
}

TEST_F(MaskEditorTest, EveryStrokeShapeFillAndClearCanBeUndoneAndRedone) {
    EXPECT_FALSE(m_ctrl.CanUndo());
    Drag({0, 0}, {5, 0}); // a freehand stroke
    const int afterStroke = InactiveCount();
    ASSERT_GT(afterStroke, 0);
    m_ctrl.SetTool(CBitmapPaintCtrl::kRectangle);
    Drag({10, 10}, {20, 20});
    const int afterShape = InactiveCount();
    ASSERT_GT(afterShape, afterStroke);
    m_ctrl.ClearAll();
    EXPECT_EQ(InactiveCount(), 0);

    m_ctrl.Undo();
    EXPECT_EQ(InactiveCount(), afterShape);
    m_ctrl.Undo();
    EXPECT_EQ(InactiveCount(), afterStroke) << "the whole shape is one step, not its previews";
    m_ctrl.Undo();
    EXPECT_EQ(InactiveCount(), 0);
    EXPECT_FALSE(m_ctrl.CanUndo());
    m_ctrl.Undo(); // nothing left: nothing happens
    m_ctrl.Redo();
    m_ctrl.Redo();
    EXPECT_EQ(InactiveCount(), afterShape);
    EXPECT_TRUE(m_ctrl.CanRedo());

    // A new edit drops what could be redone; a click that changes nothing is no step.
    m_ctrl.SetTool(CBitmapPaintCtrl::kFill);
    Press({30, 2});
    Release({30, 2});
    EXPECT_FALSE(m_ctrl.CanRedo());
    const int afterFill = InactiveCount();
    EXPECT_GT(afterFill, afterShape);
    Press({30, 2}); // filling an inactive area again changes nothing
    Release({30, 2});
    m_ctrl.Undo();
    EXPECT_EQ(InactiveCount(), afterShape);
}

TEST(MaskRaster, FloodFillHandlesALargeOpenAreaWithoutRecursion) {
    CMonoBitmap bitmap = MaskRaster::MakeBitmap(1000, 1000);
    MaskRaster::FloodFill(bitmap, {500, 500}, true);
    EXPECT_TRUE(bitmap.GetPixel(0, 0));
    EXPECT_TRUE(bitmap.GetPixel(999, 999));
    // Outside the bitmap: nothing happens.
    MaskRaster::FloodFill(bitmap, {-1, 5}, false);
    MaskRaster::DrawLine(bitmap, {-50, -50}, {2000, 2000}, 9, false);
    EXPECT_FALSE(bitmap.GetPixel(500, 500));
}

} // namespace
