#include "app/qt/DMH_Rectangle.h"

#include "app/qt/MaskRaster.h"

void CDMH_Rectangle::DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) {
    MaskRaster::FillRect(bitmap, start, end, White());
}

QRect CDMH_Rectangle::ShapeRect(QPoint start, QPoint end) const {
    return MaskRaster::SpanRect(start, end, 1);
}
