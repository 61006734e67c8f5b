#pragma once
// CBitmapPaintCtrl: the painting control of the area mask editor. It shows a still picture of
// the camera, scaled by a zoom factor and scrolled, with the mask's inactive pixels painted in
// semi-transparent red over it (the picture shows through), and lets the user paint the mask with one of five
// tools (freehand, rectangle, line, circle, fill), a pen width and a colour ("Active" paints black,
// "Inactive" white).
//
// The mask is edited as a monochrome bitmap of the picture's size (top row first; a set bit is an
// inactive pixel). Without a picture nothing can be painted and the mask cannot be read or set.
// Mouse points are mapped to the picture by dividing by the zoom factor, rounding half up, and
// adding the scroll position (scroll positions count picture pixels).
//
// Every stroke, shape, fill and "Clear All" can be undone and redone (Undo, Redo; up to 100
// steps); a new picture size starts over.
//
// GUI thread only; the active-area page owns it.

#include "app/qt/DrawModeHandler.h"
#include "motion/BinaryImage.h"
#include "motion/MonoBitmap.h"

#include <QAbstractScrollArea>
#include <QImage>

#include <array>
#include <memory>

class CBitmapPaintCtrl : public QAbstractScrollArea, public IDrawModeHost {
    Q_OBJECT
public:
    // Tool indexes.
    enum Tool { kFreehand = 0, kRectangle = 1, kLine = 2, kCircle = 3, kFill = 4, kToolCount = 5 };
    // Paint modes: 0 paints active (black), 1 inactive (white).
    enum PaintMode { kPaintActive = 0, kPaintInactive = 1 };

    explicit CBitmapPaintCtrl(QWidget* parent = nullptr);
    ~CBitmapPaintCtrl() override;

    // Shows a picture. A picture of the size already shown only replaces the picture; any other
    // size starts a new mask, all active.
    void SetBackgroundImage(const QImage& picture);
    // Drops the picture and the mask.
    void ResetPicture();
    bool HasPicture() const { return !m_picture.isNull(); }

    void SetTool(int index);
    void SetPenWidth(int width);
    void SetPaintMode(int mode);
    void SetZoom(double factor);
    double GetZoom() const { return m_zoom; }
    int GetTool() const { return m_tool; }
    // Makes every pixel active.
    void ClearAll();
    bool CanUndo() const { return !m_undo.empty(); }
    bool CanRedo() const { return !m_redo.empty(); }
    void Undo();
    void Redo();
    // The zoom at which the whole picture fits the control (1 without a picture).
    double FitZoom() const;

    // Copies the overlapping part of the image into the mask (with a picture and a non-empty image
    // only).
    void SetMaskImage(const CBinaryImage& image);
    // Fills the image from the mask; without a picture the image is left as it is.
    void GetMaskImage(CBinaryImage& image) const;
    const CMonoBitmap& GetMaskBitmap() const { return m_maskBitmap; }

    // A point of the viewport in picture coordinates: clamped to the part of the picture shown,
    // divided by the zoom, rounded half up, plus the scroll position, and kept inside the picture.
    QPoint MapToImage(QPoint viewportPoint) const;
    static QPoint MapToImage(QPoint viewportPoint, double zoom, QPoint scroll, QSize shown, QSize picture);

signals:
    // The mask changed by painting or "Clear All".
    void MaskEdited();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // IDrawModeHost
    void BeginShape() override;
    void EndShape() override;

private:
    enum class MouseStep { Down, Move, Up };
    void HandleMouse(MouseStep step, QPoint viewportPoint);
    void PassSettingsToTool();
    void UpdateScrollBars();
    // The viewport size that the picture covers at the current zoom and scroll position.
    QSize ShownSize() const;
    QPoint ScrollPosition() const;
    // Recolours the overlay from the bitmap selected for drawing, within rect (all when empty).
    void UpdateOverlay(QRect imageRect);
    void RepaintImageRect(QRect imageRect);
    // Keeps the mask as it was before an edit, for Undo.
    void PushUndo(const CMonoBitmap& before);
    void ShowMask(const CMonoBitmap& mask);

    QImage m_picture;
    double m_zoom = 1.0;
    int m_penWidth = 1;
    int m_paintMode = kPaintInactive;
    int m_tool = kFreehand;
    std::array<std::unique_ptr<CDrawModeHandler>, kToolCount> m_tools;
    CMonoBitmap m_maskBitmap;
    CMonoBitmap m_workBitmap;
    CMaskDC m_drawDC;   // normally holds the mask; the work bitmap during a shape drag
    CMaskDC m_backupDC; // holds the mask during a shape drag
    QImage m_overlay;   // red where the bitmap selected into m_drawDC is white
    bool m_shapeActive = false;
    bool m_buttonDown = false;
    std::vector<CMonoBitmap> m_undo;
    std::vector<CMonoBitmap> m_redo;
    CMonoBitmap m_strokeBefore; // the mask when the button went down
};
