#pragma once
// CDMH_Circle: a filled ellipse inscribed in the rectangle spanned by the drag. GUI thread only.

#include "app/qt/DMH_Shape.h"

class CDMH_Circle : public CDMH_Shape {
public:
    using CDMH_Shape::CDMH_Shape;

protected:
    void DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) override;
    QRect ShapeRect(QPoint start, QPoint end) const override;
};
