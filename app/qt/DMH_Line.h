#pragma once
// CDMH_Line: a straight line of the pen's width from where the button went down to where it came
// up, previewed while dragging. GUI thread only.

#include "app/qt/DMH_Shape.h"

class CDMH_Line : public CDMH_Shape {
public:
    using CDMH_Shape::CDMH_Shape;

protected:
    void DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) override;
    QRect ShapeRect(QPoint start, QPoint end) const override;
};
