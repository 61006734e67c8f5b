#pragma once
// The camera grid of a document's window: where each camera pane goes. All panes have the same
// size; the grid takes as many columns as make the pictures largest in the area (1, 2x1, 2x2,
// 3x2, 3x3, 4x4... in a landscape window), each pane shaped to the picture's aspect ratio plus the
// pane's own title bar, and the whole grid centred. Pure geometry, no widgets: the document's view
// calls it on every resize, added or removed camera. GUI thread only (no state).

#include <QRect>
#include <QSize>

#include <vector>

namespace CameraGrid {

struct CLayout {
    int columns = 0;
    int rows = 0;
    // One rectangle per pane, row by row, all of the same size.
    std::vector<QRect> panes;
};

// count: panes; area: the room for them; aspect: the pictures' width over height (4:3 when not
// known); chrome: the height each pane needs besides its picture (title bar, frame); spacing: the
// gap between panes and around the grid.
CLayout Compute(int count, QSize area, double aspect, int chrome, int spacing);

} // namespace CameraGrid
