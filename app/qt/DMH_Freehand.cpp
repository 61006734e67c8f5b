#include "app/qt/DMH_Freehand.h"

#include "app/qt/MaskRaster.h"

bool CDMH_Freehand::OnButtonDown(QPoint point, QRect& dirtyRect) {
    m_last = point;
    m_pressed = true;
    // A click without a move marks the point too, so that single pixels can be painted.
    if (CMonoBitmap* target = Target()) {
        MaskRaster::DrawLine(*target, point, point, m_penWidth, White());
        dirtyRect = MaskRaster::SpanRect(point, point, m_penWidth);
        return true;
    }
    return false;
}

bool CDMH_Freehand::OnButtonUp(QPoint, QRect&) {
    m_pressed = false;
    return false;
}

bool CDMH_Freehand::OnMouseMove(QPoint point, QRect& dirtyRect) {
    CMonoBitmap* target = Target();
    if (!m_pressed || target == nullptr) {
        return false;
    }
    MaskRaster::DrawLine(*target, m_last, point, m_penWidth, White());
    dirtyRect = MaskRaster::SpanRect(m_last, point, m_penWidth);
    m_last = point;
    return true;
}
