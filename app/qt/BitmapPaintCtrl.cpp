#include "app/qt/BitmapPaintCtrl.h"

#include "app/qt/DMH_Circle.h"
#include "app/qt/DMH_Fill.h"
#include "app/qt/DMH_Freehand.h"
#include "app/qt/DMH_Line.h"
#include "app/qt/DMH_Rectangle.h"
#include "app/qt/MaskRaster.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {
// Red at about 55 % cover, premultiplied as the overlay's format wants it.
const QRgb kInactiveColour = qPremultiply(qRgba(255, 0, 0, 140));
constexpr size_t kUndoSteps = 100;
constexpr double kMinZoom = 0.01;
} // namespace

CBitmapPaintCtrl::CBitmapPaintCtrl(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName("BitmapCtrl");
    m_tools[kFreehand] = std::make_unique<CDMH_Freehand>(this);
    m_tools[kRectangle] = std::make_unique<CDMH_Rectangle>(this);
    m_tools[kLine] = std::make_unique<CDMH_Line>(this);
    m_tools[kCircle] = std::make_unique<CDMH_Circle>(this);
    m_tools[kFill] = std::make_unique<CDMH_Fill>(this);
    viewport()->setCursor(Qt::CrossCursor);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    PassSettingsToTool();
}

CBitmapPaintCtrl::~CBitmapPaintCtrl() = default;

void CBitmapPaintCtrl::SetBackgroundImage(const QImage& picture) {
    if (picture.isNull()) {
        ResetPicture();
        return;
    }
    const bool sameSize = HasPicture() && picture.size() == m_picture.size();
    m_picture = picture;
    if (!sameSize) {
        m_maskBitmap = MaskRaster::MakeBitmap(picture.width(), picture.height());
        m_workBitmap = m_maskBitmap;
        m_drawDC.bitmap = &m_maskBitmap;
        m_backupDC.bitmap = &m_workBitmap;
        m_shapeActive = false;
        m_overlay = QImage(picture.size(), QImage::Format_ARGB32_Premultiplied);
        m_overlay.fill(Qt::transparent);
        m_undo.clear();
        m_redo.clear();
    }
    UpdateScrollBars();
    viewport()->update();
}

void CBitmapPaintCtrl::ResetPicture() {
    m_picture = QImage();
    m_overlay = QImage();
    m_maskBitmap = CMonoBitmap{};
    m_workBitmap = CMonoBitmap{};
    m_drawDC.bitmap = nullptr;
    m_backupDC.bitmap = nullptr;
    m_shapeActive = false;
    m_buttonDown = false;
    m_undo.clear();
    m_redo.clear();
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    viewport()->update();
}

void CBitmapPaintCtrl::SetTool(int index) {
    if (index < 0 || index >= kToolCount || index == m_tool) {
        return;
    }
    if (m_shapeActive) {
        EndShape(); // a drag cut short by the switch leaves the mask as it was
        UpdateOverlay(QRect());
        viewport()->update();
    }
    m_buttonDown = false;
    m_tool = index;
    PassSettingsToTool();
}

void CBitmapPaintCtrl::SetPenWidth(int width) {
    m_penWidth = std::clamp(width, 1, 64);
    PassSettingsToTool();
}

void CBitmapPaintCtrl::SetPaintMode(int mode) {
    m_paintMode = mode == kPaintActive ? kPaintActive : kPaintInactive;
    PassSettingsToTool();
}

void CBitmapPaintCtrl::PassSettingsToTool() {
    CDrawModeHandler& tool = *m_tools[m_tool];
    tool.SetDrawDC(&m_drawDC);
    tool.SetPenWidth(m_penWidth);
    tool.SetDrawBlack(m_paintMode == kPaintActive);
}

void CBitmapPaintCtrl::SetZoom(double factor) {
    m_zoom = std::max(kMinZoom, factor);
    UpdateScrollBars();
    viewport()->update();
}

void CBitmapPaintCtrl::ClearAll() {
    if (!HasPicture()) {
        return;
    }
    PushUndo(m_maskBitmap);
    MaskRaster::Fill(m_maskBitmap, false);
    UpdateOverlay(QRect());
    viewport()->update();
    emit MaskEdited();
}

void CBitmapPaintCtrl::PushUndo(const CMonoBitmap& before) {
    m_undo.push_back(before);
    if (m_undo.size() > kUndoSteps) {
        m_undo.erase(m_undo.begin());
    }
    m_redo.clear();
}

void CBitmapPaintCtrl::ShowMask(const CMonoBitmap& mask) {
    m_maskBitmap = mask;
    UpdateOverlay(QRect());
    viewport()->update();
    emit MaskEdited();
}

void CBitmapPaintCtrl::Undo() {
    if (m_undo.empty() || m_buttonDown || m_shapeActive) {
        return;
    }
    m_redo.push_back(m_maskBitmap);
    const CMonoBitmap previous = std::move(m_undo.back());
    m_undo.pop_back();
    ShowMask(previous);
}

void CBitmapPaintCtrl::Redo() {
    if (m_redo.empty() || m_buttonDown || m_shapeActive) {
        return;
    }
    m_undo.push_back(m_maskBitmap);
    const CMonoBitmap next = std::move(m_redo.back());
    m_redo.pop_back();
    ShowMask(next);
}

double CBitmapPaintCtrl::FitZoom() const {
    if (!HasPicture()) {
        return 1.0;
    }
    const QSize room = viewport()->size();
    const double fit = std::min(room.width() / static_cast<double>(m_picture.width()),
                                room.height() / static_cast<double>(m_picture.height()));
    return std::max(kMinZoom, fit);
}

void CBitmapPaintCtrl::SetMaskImage(const CBinaryImage& image) {
    if (!HasPicture() || image.IsEmpty()) {
        return;
    }
    CMonoBitmap stored;
    image.ToBitmap(stored);
    MaskRaster::CopyOverlap(stored, m_maskBitmap);
    UpdateOverlay(QRect());
    viewport()->update();
}

void CBitmapPaintCtrl::GetMaskImage(CBinaryImage& image) const {
    if (!HasPicture()) {
        return;
    }
    image.FromBitmap(m_maskBitmap);
}

// ---- geometry ----

QPoint CBitmapPaintCtrl::ScrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

QSize CBitmapPaintCtrl::ShownSize() const {
    if (!HasPicture()) {
        return QSize();
    }
    const QPoint scroll = ScrollPosition();
    const int width = static_cast<int>(std::floor((m_picture.width() - scroll.x()) * m_zoom));
    const int height = static_cast<int>(std::floor((m_picture.height() - scroll.y()) * m_zoom));
    return QSize(std::clamp(width, 1, std::max(1, viewport()->width())),
                 std::clamp(height, 1, std::max(1, viewport()->height())));
}

void CBitmapPaintCtrl::UpdateScrollBars() {
    if (!HasPicture()) {
        return;
    }
    const int pageX = std::max(1, static_cast<int>(viewport()->width() / m_zoom));
    const int pageY = std::max(1, static_cast<int>(viewport()->height() / m_zoom));
    horizontalScrollBar()->setRange(0, std::max(0, m_picture.width() - pageX));
    horizontalScrollBar()->setPageStep(pageX);
    verticalScrollBar()->setRange(0, std::max(0, m_picture.height() - pageY));
    verticalScrollBar()->setPageStep(pageY);
}

QPoint CBitmapPaintCtrl::MapToImage(QPoint viewportPoint) const {
    return MapToImage(viewportPoint, m_zoom, ScrollPosition(), ShownSize(), m_picture.size());
}

QPoint CBitmapPaintCtrl::MapToImage(QPoint viewportPoint, double zoom, QPoint scroll, QSize shown,
                                    QSize picture) {
    const auto map = [zoom](int coordinate, int shownLength, int scrollPos, int pictureLength) {
        const int clamped = std::clamp(coordinate, 0, std::max(0, shownLength - 1));
        // Half up: floor(c / zoom + 0.5).
        const int mapped = static_cast<int>(std::floor(clamped / zoom + 0.5)) + scrollPos;
        return std::clamp(mapped, 0, std::max(0, pictureLength - 1));
    };
    return QPoint(map(viewportPoint.x(), shown.width(), scroll.x(), picture.width()),
                  map(viewportPoint.y(), shown.height(), scroll.y(), picture.height()));
}

void CBitmapPaintCtrl::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void CBitmapPaintCtrl::scrollContentsBy(int, int) {
    viewport()->update();
}

// ---- painting ----

void CBitmapPaintCtrl::UpdateOverlay(QRect imageRect) {
    if (m_overlay.isNull() || m_drawDC.bitmap == nullptr || !m_drawDC.bitmap->IsValid()) {
        return;
    }
    const CMonoBitmap& bits = *m_drawDC.bitmap;
    const QRect whole(0, 0, bits.width, bits.height);
    const QRect area = imageRect.isEmpty() ? whole : imageRect.intersected(whole);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_overlay.scanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            line[x] = bits.GetPixel(x, y) ? kInactiveColour : 0;
        }
    }
}

void CBitmapPaintCtrl::RepaintImageRect(QRect imageRect) {
    UpdateOverlay(imageRect);
    if (imageRect.isEmpty()) {
        viewport()->update();
        return;
    }
    const QPoint scroll = ScrollPosition();
    const QRectF screen((imageRect.x() - scroll.x()) * m_zoom, (imageRect.y() - scroll.y()) * m_zoom,
                        imageRect.width() * m_zoom, imageRect.height() * m_zoom);
    viewport()->update(screen.toAlignedRect().adjusted(-2, -2, 2, 2));
}

void CBitmapPaintCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), Qt::black);
    if (!HasPicture()) {
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QSize shown = ShownSize();
    const QPoint scroll = ScrollPosition();
    const QRectF target(0, 0, shown.width(), shown.height());
    const QRectF source(scroll.x(), scroll.y(), shown.width() / m_zoom, shown.height() / m_zoom);
    painter.drawImage(target, m_picture, source);
    painter.drawImage(target, m_overlay, source);
}

// ---- mouse ----

void CBitmapPaintCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_buttonDown = true;
        HandleMouse(MouseStep::Down, event->position().toPoint());
    }
}

void CBitmapPaintCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (m_buttonDown) {
        HandleMouse(MouseStep::Move, event->position().toPoint());
    }
}

void CBitmapPaintCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_buttonDown) {
        m_buttonDown = false;
        HandleMouse(MouseStep::Up, event->position().toPoint());
    }
}

void CBitmapPaintCtrl::HandleMouse(MouseStep step, QPoint viewportPoint) {
    if (!HasPicture()) {
        return;
    }
    const QPoint point = MapToImage(viewportPoint);
    if (step == MouseStep::Move && m_shapeActive && m_drawDC.bitmap && m_backupDC.bitmap) {
        *m_drawDC.bitmap = *m_backupDC.bitmap; // erase the previous preview
    }
    CDrawModeHandler& tool = *m_tools[m_tool];
    QRect dirty;
    bool changed = false;
    switch (step) {
    case MouseStep::Down:
        m_strokeBefore = m_maskBitmap;
        changed = tool.OnButtonDown(point, dirty);
        break;
    case MouseStep::Move:
        changed = tool.OnMouseMove(point, dirty);
        break;
    case MouseStep::Up:
        changed = tool.OnButtonUp(point, dirty);
        break;
    }
    // One undo step per stroke, shape or fill, taken once the button is released and only when
    // it changed something.
    if (step == MouseStep::Up && !m_shapeActive && !m_strokeBefore.bits.empty()) {
        if (m_strokeBefore.bits != m_maskBitmap.bits) {
            PushUndo(m_strokeBefore);
        }
        m_strokeBefore = CMonoBitmap{};
    }
    if (changed) {
        RepaintImageRect(dirty);
        if (!m_shapeActive) {
            emit MaskEdited();
        }
    }
}

void CBitmapPaintCtrl::BeginShape() {
    if (m_drawDC.bitmap == nullptr) {
        return;
    }
    // The work bitmap starts as the mask, so that nothing stale shows before the first preview.
    m_workBitmap = m_maskBitmap;
    m_backupDC.bitmap = &m_maskBitmap;
    m_drawDC.bitmap = &m_workBitmap;
    m_shapeActive = true;
}

void CBitmapPaintCtrl::EndShape() {
    if (!m_shapeActive) {
        return;
    }
    m_drawDC.bitmap = &m_maskBitmap;
    m_backupDC.bitmap = &m_workBitmap;
    m_shapeActive = false;
}
