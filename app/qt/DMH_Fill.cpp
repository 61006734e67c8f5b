#include "app/qt/DMH_Fill.h"

#include "app/qt/MaskRaster.h"

bool CDMH_Fill::OnButtonUp(QPoint point, QRect& dirtyRect) {
    CMonoBitmap* target = Target();
    if (target == nullptr) {
        return false;
    }
    MaskRaster::FloodFill(*target, point, White());
    dirtyRect = QRect(); // the filled area may be anywhere: repaint everything
    return true;
}
