#pragma once
// CDMH_Shape: the common drag of the shape tools (CDMH_Line, CDMH_Rectangle, CDMH_Circle). Button
// down starts the drag on the control's work bitmap; every move draws a preview from the start
// point to the mouse (the control has restored the surface before); button up ends the drag and
// draws the final shape into the mask. GUI thread only.

#include "app/qt/DrawModeHandler.h"

class CDMH_Shape : public CDrawModeHandler {
public:
    using CDrawModeHandler::CDrawModeHandler;
    bool OnButtonDown(QPoint point, QRect& dirtyRect) override;
    bool OnButtonUp(QPoint point, QRect& dirtyRect) override;
    bool OnMouseMove(QPoint point, QRect& dirtyRect) override;

protected:
    // Draws the shape from start to end into the bitmap.
    virtual void DrawShape(CMonoBitmap& bitmap, QPoint start, QPoint end) = 0;
    // The image area the shape from start to end covers.
    virtual QRect ShapeRect(QPoint start, QPoint end) const = 0;

private:
    QPoint m_start;
    QPoint m_end;
    bool m_pressed = false;
};
