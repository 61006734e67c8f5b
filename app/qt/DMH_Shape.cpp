#include "app/qt/DMH_Shape.h"

bool CDMH_Shape::OnButtonDown(QPoint point, QRect&) {
    m_start = m_end = point;
    m_pressed = true;
    m_owner->BeginShape();
    return false;
}

bool CDMH_Shape::OnMouseMove(QPoint point, QRect& dirtyRect) {
    CMonoBitmap* target = Target();
    if (!m_pressed || target == nullptr) {
        return false;
    }
    DrawShape(*target, m_start, point);
    dirtyRect = ShapeRect(m_start, point).united(ShapeRect(m_start, m_end));
    m_end = point;
    return true;
}

bool CDMH_Shape::OnButtonUp(QPoint point, QRect& dirtyRect) {
    if (!m_pressed) {
        return false;
    }
    m_pressed = false;
    m_owner->EndShape();
    CMonoBitmap* target = Target();
    if (target == nullptr) {
        return false;
    }
    DrawShape(*target, m_start, point);
    dirtyRect = ShapeRect(m_start, point).united(ShapeRect(m_start, m_end));
    m_end = point;
    return true;
}
