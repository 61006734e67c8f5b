#pragma once
// CDMH_Rectangle: a filled rectangle spanned by the drag, without outline. GUI thread only.

#include "app/qt/DMH_Shape.h"

class CDMH_Rectangle : public CDMH_Shape {
public:
    using CDMH_Shape::CDMH_Shape;

protected:
    void DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) override;
    QRect ShapeRect(QPoint start, QPoint end) const override;
};
