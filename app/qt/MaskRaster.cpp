#include "app/qt/MaskRaster.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace MaskRaster {

namespace {

void Plot(CMonoBitmap& bitmap, int x, int y, bool white) {
    if (x >= 0 && y >= 0 && x < bitmap.width && y < bitmap.height) {
        bitmap.SetPixel(x, y, white);
    }
}

// A round pen's footprint centred on (x, y): the pixels of a disc of penWidth pixels diameter.
void Stamp(CMonoBitmap& bitmap, int x, int y, int penWidth, bool white) {
    if (penWidth <= 1) {
        Plot(bitmap, x, y, white);
        return;
    }
    const int low = -(penWidth / 2);
    const int high = low + penWidth - 1;
    const double centre = (low + high) / 2.0;
    const double radius2 = (penWidth / 2.0) * (penWidth / 2.0);
    for (int dy = low; dy <= high; ++dy) {
        for (int dx = low; dx <= high; ++dx) {
            const double ex = dx - centre;
            const double ey = dy - centre;
            if (ex * ex + ey * ey <= radius2) {
                Plot(bitmap, x + dx, y + dy, white);
            }
        }
    }
}

} // namespace

CMonoBitmap MakeBitmap(int width, int height) {
    CMonoBitmap bitmap;
    if (width <= 0 || height <= 0) {
        return bitmap;
    }
    bitmap.width = width;
    bitmap.height = height;
    bitmap.rowBytes = ((width + 31) / 32) * 4; // the row width of CBinaryImage::ToBitmap
    bitmap.bits.assign(static_cast<size_t>(bitmap.rowBytes) * static_cast<size_t>(height), 0);
    return bitmap;
}

void Fill(CMonoBitmap& bitmap, bool white) {
    if (!white) {
        std::fill(bitmap.bits.begin(), bitmap.bits.end(), 0);
        return;
    }
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            bitmap.SetPixel(x, y, true);
        }
    }
}

void DrawLine(CMonoBitmap& bitmap, QPoint a, QPoint b, int penWidth, bool white) {
    // Bresenham; the pen is stamped at every step.
    int x = a.x();
    int y = a.y();
    const int dx = std::abs(b.x() - x);
    const int dy = -std::abs(b.y() - y);
    const int sx = x < b.x() ? 1 : -1;
    const int sy = y < b.y() ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        Stamp(bitmap, x, y, penWidth, white);
        if (x == b.x() && y == b.y()) {
            break;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += sx;
        }
        if (twice <= dx) {
            error += dx;
            y += sy;
        }
    }
}

void FillRect(CMonoBitmap& bitmap, QPoint a, QPoint b, bool white) {
    const int left = std::max(0, std::min(a.x(), b.x()));
    const int right = std::min(bitmap.width - 1, std::max(a.x(), b.x()));
    const int top = std::max(0, std::min(a.y(), b.y()));
    const int bottom = std::min(bitmap.height - 1, std::max(a.y(), b.y()));
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            bitmap.SetPixel(x, y, white);
        }
    }
}

void FillEllipse(CMonoBitmap& bitmap, QPoint a, QPoint b, bool white) {
    const int left = std::min(a.x(), b.x());
    const int right = std::max(a.x(), b.x());
    const int top = std::min(a.y(), b.y());
    const int bottom = std::max(a.y(), b.y());
    const double cx = (left + right) / 2.0;
    const double cy = (top + bottom) / 2.0;
    const double rx = (right - left + 1) / 2.0;
    const double ry = (bottom - top + 1) / 2.0;
    for (int y = std::max(0, top); y <= std::min(bitmap.height - 1, bottom); ++y) {
        const double ey = (y - cy) / ry;
        for (int x = std::max(0, left); x <= std::min(bitmap.width - 1, right); ++x) {
            const double ex = (x - cx) / rx;
            if (ex * ex + ey * ey <= 1.0) {
                bitmap.SetPixel(x, y, white);
            }
        }
    }
}

void FloodFill(CMonoBitmap& bitmap, QPoint point, bool white) {
    if (!bitmap.IsValid() || point.x() < 0 || point.y() < 0 || point.x() >= bitmap.width ||
        point.y() >= bitmap.height || bitmap.GetPixel(point.x(), point.y()) == white) {
        return;
    }
    // Scan-line fill with an explicit stack, so that a large area cannot overflow the call stack.
    std::vector<QPoint> stack{point};
    while (!stack.empty()) {
        const QPoint seed = stack.back();
        stack.pop_back();
        const int y = seed.y();
        if (bitmap.GetPixel(seed.x(), y) == white) {
            continue;
        }
        int left = seed.x();
        while (left > 0 && bitmap.GetPixel(left - 1, y) != white) {
            --left;
        }
        int right = seed.x();
        while (right + 1 < bitmap.width && bitmap.GetPixel(right + 1, y) != white) {
            ++right;
        }
        for (int x = left; x <= right; ++x) {
            bitmap.SetPixel(x, y, white);
        }
        for (const int ny : {y - 1, y + 1}) {
            if (ny < 0 || ny >= bitmap.height) {
                continue;
            }
            bool inRun = false;
            for (int x = left; x <= right; ++x) {
                const bool open = bitmap.GetPixel(x, ny) != white;
                if (open && !inRun) {
                    stack.emplace_back(x, ny);
                }
                inRun = open;
            }
        }
    }
}

void CopyOverlap(const CMonoBitmap& source, CMonoBitmap& target) {
    if (!source.IsValid() || !target.IsValid()) {
        return;
    }
    const int width = std::min(source.width, target.width);
    const int height = std::min(source.height, target.height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            target.SetPixel(x, y, source.GetPixel(x, y));
        }
    }
}

QRect SpanRect(QPoint a, QPoint b, int margin) {
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())))
        .adjusted(-margin, -margin, margin, margin);
}

} // namespace MaskRaster
