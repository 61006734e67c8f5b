#include "app/qt/DMH_Circle.h"

#include "app/qt/MaskRaster.h"

void CDMH_Circle::DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) {
    MaskRaster::FillEllipse(bitmap, start, end, White());
}

QRect CDMH_Circle::ShapeRect(QPoint start, QPoint end) const {
    return MaskRaster::SpanRect(start, end, 1);
}
