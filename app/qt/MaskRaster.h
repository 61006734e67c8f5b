#pragma once
// Drawing on a monochrome mask bitmap, pixel by pixel: the primitives behind the area mask
// editor's tools. A set bit (white) is an inactive pixel, a clear bit (black) an active one.
// Everything is clipped to the bitmap; coordinates outside it are allowed and simply not drawn.
// Rectangles are given by two corner points and include both corners.
//
// Plain functions on the caller's bitmap; the mask editor calls them on the GUI thread.

#include "motion/MonoBitmap.h"

#include <QPoint>
#include <QRect>

namespace MaskRaster {

// A bitmap of the size, every pixel black (active).
CMonoBitmap MakeBitmap(int width, int height);
void Fill(CMonoBitmap& bitmap, bool white);
// A straight line from a to b drawn with a round pen of penWidth pixels (1 draws single pixels).
void DrawLine(CMonoBitmap& bitmap, QPoint a, QPoint b, int penWidth, bool white);
// The rectangle spanned by the two corners, filled.
void FillRect(CMonoBitmap& bitmap, QPoint a, QPoint b, bool white);
// The ellipse inscribed in the rectangle spanned by the two corners, filled.
void FillEllipse(CMonoBitmap& bitmap, QPoint a, QPoint b, bool white);
// Paints the 4-connected area of the other colour that holds the point with the colour; nothing
// when the point already has the colour or lies outside.
void FloodFill(CMonoBitmap& bitmap, QPoint point, bool white);
// Copies the part where both bitmaps overlap (from the top left corner, the smaller of both sizes
// in each direction) from source into target; the rest of target stays.
void CopyOverlap(const CMonoBitmap& source, CMonoBitmap& target);
// The normalised rectangle of two corner points, grown by margin pixels on every side.
QRect SpanRect(QPoint a, QPoint b, int margin = 0);

} // namespace MaskRaster
