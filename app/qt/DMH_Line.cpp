#include "app/qt/DMH_Line.h"

#include "app/qt/MaskRaster.h"

void CDMH_Line::DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) {
    MaskRaster::DrawLine(bitmap, start, end, m_penWidth, White());
}

QRect CDMH_Line::ShapeRect(QPoint start, QPoint end) const {
    return MaskRaster::SpanRect(start, end, m_penWidth);
}
