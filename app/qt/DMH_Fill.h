#pragma once
// CDMH_Fill: floods the area of the other colour under the point where the button comes up with
// the current colour. GUI thread only.

#include "app/qt/DrawModeHandler.h"

class CDMH_Fill : public CDrawModeHandler {
public:
    using CDrawModeHandler::CDrawModeHandler;
    bool OnButtonDown(QPoint, QRect&) override { return false; }
    bool OnButtonUp(QPoint point, QRect& dirtyRect) override;
    bool OnMouseMove(QPoint, QRect&) override { return false; }
};
