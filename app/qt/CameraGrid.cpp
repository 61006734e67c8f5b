#include "app/qt/CameraGrid.h"

#include <algorithm>
#include <cmath>

namespace CameraGrid {

namespace {

// The picture size of one pane for a number of columns and rows; width 0 when nothing fits.
QSize PictureSize(int columns, int rows, QSize area, double aspect, int chrome, int spacing) {
    const double cellWidth = (area.width() - spacing * (columns + 1)) / static_cast<double>(columns);
    const double cellHeight = (area.height() - spacing * (rows + 1)) / static_cast<double>(rows) - chrome;
    if (cellWidth < 1 || cellHeight < 1) {
        return {0, 0};
    }
    double width = cellWidth;
    double height = width / aspect;
    if (height > cellHeight) {
        height = cellHeight;
        width = height * aspect;
    }
    return {static_cast<int>(std::floor(width)), static_cast<int>(std::floor(height))};
}

} // namespace

CLayout Compute(int count, QSize area, double aspect, int chrome, int spacing) {
    CLayout layout;
    if (count <= 0) {
        return layout;
    }
    if (!(aspect > 0.1 && aspect < 10.0)) {
        aspect = 4.0 / 3.0;
    }
    chrome = std::max(0, chrome);
    spacing = std::max(0, spacing);
    // The column count that gives the largest pictures; on a tie the squarer grid (fewer empty
    // cells come first as columns grow).
    int bestColumns = 1;
    long long bestArea = -1;
    for (int columns = 1; columns <= count; ++columns) {
        const int rows = (count + columns - 1) / columns;
        // A column count that leaves a whole row empty is never the even grid.
        if ((rows - 1) * columns >= count) {
            continue;
        }
        const QSize picture = PictureSize(columns, rows, area, aspect, chrome, spacing);
        const long long pictureArea = static_cast<long long>(picture.width()) * picture.height();
        if (pictureArea > bestArea) {
            bestArea = pictureArea;
            bestColumns = columns;
        }
    }
    layout.columns = bestColumns;
    layout.rows = (count + bestColumns - 1) / bestColumns;
    QSize picture = PictureSize(layout.columns, layout.rows, area, aspect, chrome, spacing);
    if (picture.width() <= 0 || picture.height() <= 0) {
        picture = QSize(1, 1); // a window too small for anything: panes of one pixel, still placed
    }
    const QSize pane(picture.width(), picture.height() + chrome);
    const int gridWidth = layout.columns * pane.width() + (layout.columns - 1) * spacing;
    const int gridHeight = layout.rows * pane.height() + (layout.rows - 1) * spacing;
    const int left = std::max(0, (area.width() - gridWidth) / 2);
    const int top = std::max(0, (area.height() - gridHeight) / 2);
    for (int index = 0; index < count; ++index) {
        const int row = index / layout.columns;
        const int column = index % layout.columns;
        // The last row, when not full, is centred too.
        const int inRow = row == layout.rows - 1 ? count - row * layout.columns : layout.columns;
        const int rowLeft = left + (layout.columns - inRow) * (pane.width() + spacing) / 2;
        layout.panes.emplace_back(
            QPoint(rowLeft + column * (pane.width() + spacing), top + row * (pane.height() + spacing)), pane);
    }
    return layout;
}

} // namespace CameraGrid
