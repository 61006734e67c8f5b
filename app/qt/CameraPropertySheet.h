#pragma once
// CCameraPropertySheet: the camera's properties, on one full copy of the document's content:
// the pages General, Video, Record, Motion, Events and Active Area. Edit runs the sheet for a
// camera of a document: on OK the copy is assigned back to the document (which marks it
// modified); on Cancel the copy is dropped and the document is as it was. GUI thread only.

#include "app/qt/PropertySheet.h"
#include "persistence/TavrixDoc.h"

class ISnapshotSource;

class CCameraPropertySheet : public CPropertySheet {
    Q_OBJECT
public:
    // The sheet for a camera that the copy holds. snapshots may be null (no camera view yet).
    CCameraPropertySheet(CTavrixDocData& copy, int32_t cameraId, ISnapshotSource* snapshots,
                         QWidget* parent = nullptr);

    // Shows the sheet modally; true when it ended with OK and the document took the changes.
    static bool Edit(CTavrixDoc& document, int32_t cameraId, ISnapshotSource* snapshots, QWidget* parent);
};
