#pragma once
// CDrawModeHandler: the base of the area mask editor's drawing tools (CDMH_Freehand,
// CDMH_Rectangle, CDMH_Line, CDMH_Circle, CDMH_Fill). The painting control passes mouse input in
// image coordinates; a tool draws into the bitmap selected into its drawing surface and tells the
// control which part of the image to repaint. Shape tools draw previews while the mouse is dragged
// and ask the control (IDrawModeHost) to switch the surface to a work bitmap for that time.
//
// GUI thread only, owned by CBitmapPaintCtrl.

#include "motion/MonoBitmap.h"

#include <QPoint>
#include <QRect>

// A drawing surface: the bitmap currently selected into it (the mask, or the work bitmap during
// a shape drag). The control switches the selection; the tools draw into whatever is selected.
struct CMaskDC {
    CMonoBitmap* bitmap = nullptr;
};

// What a shape tool needs of its control.
class IDrawModeHost {
public:
    // Shape drag begins: previews go into the work bitmap, the mask is kept aside.
    virtual void BeginShape() = 0;
    // Shape drag ends: the surface holds the mask again, ready for the final shape.
    virtual void EndShape() = 0;

protected:
    ~IDrawModeHost() = default;
};

class CDrawModeHandler {
public:
    explicit CDrawModeHandler(IDrawModeHost* owner) : m_owner(owner) {}
    virtual ~CDrawModeHandler() = default;
    CDrawModeHandler(const CDrawModeHandler&) = delete;
    CDrawModeHandler& operator=(const CDrawModeHandler&) = delete;

    // Each returns true when it changed pixels, with dirtyRect (image coordinates) set to the area
    // to repaint; an empty dirtyRect asks for a repaint of everything.
    virtual bool OnButtonDown(QPoint point, QRect& dirtyRect) = 0;
    virtual bool OnButtonUp(QPoint point, QRect& dirtyRect) = 0;
    virtual bool OnMouseMove(QPoint point, QRect& dirtyRect) = 0;

    void SetDrawDC(CMaskDC* drawDC) { m_drawDC = drawDC; }
    void SetPenWidth(int penWidth) { m_penWidth = penWidth < 1 ? 1 : penWidth; }
    // True paints black (active), false white (inactive).
    void SetDrawBlack(bool drawBlack) { m_drawBlack = drawBlack; }
    int GetPenWidth() const { return m_penWidth; }
    bool GetDrawBlack() const { return m_drawBlack; }

protected:
    // The bitmap to draw into, or null when the control has no picture.
    CMonoBitmap* Target() const { return m_drawDC ? m_drawDC->bitmap : nullptr; }
    // The colour as a mask bit: white (inactive) unless drawing black.
    bool White() const { return !m_drawBlack; }

    CMaskDC* m_drawDC = nullptr;
    int m_penWidth = 1;
    IDrawModeHost* m_owner;
    bool m_drawBlack = false;
};
