#pragma once
// CDMH_Freehand: draws a line of the pen's width along the mouse path while the button is held.
// GUI thread only.

#include "app/qt/DrawModeHandler.h"

class CDMH_Freehand : public CDrawModeHandler {
public:
    using CDrawModeHandler::CDrawModeHandler;
    bool OnButtonDown(QPoint point, QRect& dirtyRect) override;
    bool OnButtonUp(QPoint point, QRect& dirtyRect) override;
    bool OnMouseMove(QPoint point, QRect& dirtyRect) override;

private:
    QPoint m_last;
    bool m_pressed = false;
};
