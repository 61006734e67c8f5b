#pragma once
// CPropActiveAreaDlg: the camera's "Active Area" page: the area mask editor on a still picture of
// the camera. The picture is the camera's next frame, asked of its camera view on a pool thread
// (it may take up to two seconds; none comes while the camera is unavailable or has no running
// preview). Without a picture nothing can be painted and the stored mask is kept as it is.
//
// Controls: "Enable Active Area" first, beside the tools Freehand, Line, Rectangle, Circle and
// Fill (one pressed at a time, Freehand at start), "Undo" (Ctrl+Z), "Redo" (Ctrl+Shift+Z),
// "Clear All", "Refresh Picture" (a new still picture; the mask stays), the zoom list 12 to 500 %
// and "Fit" (at start: the whole picture in the editor), the pen size 1 to 9 and the colour
// "Active" or "Inactive" ("Inactive" at start). The mask lies semi-transparent over the picture.
// GUI thread only.

#include "app/qt/PropertyPage.h"

#include <QImage>

#include <functional>
#include <optional>

class CBitmapPaintCtrl;
class QCheckBox;
class QComboBox;
class QLabel;
class QToolButton;

// Where the page gets the camera's still picture from: the document's view, which asks the camera
// view. Request is called on the GUI thread and calls done on the GUI thread, later, with the
// picture or nothing. The Motion page asks the same source for what the live pane shows: the
// changed-pixel count of a camera that watches (-1 otherwise) and its picture with the changed
// pixels marked (null without one); both at once, on the GUI thread. While the Motion page is shown
// it lets the running camera detect with its sliders' values (PreviewMotion) until EndMotionPreview
// puts back the document's, so that the marks and the count follow the sliders before OK.
class ISnapshotSource {
public:
    using Done = std::function<void(std::optional<QImage> picture)>;
    virtual void RequestSnapshot(int32_t cameraId, Done done) = 0;
    virtual int32_t LiveChangedPixels(int32_t /*cameraId*/) { return -1; }
    virtual QImage LivePicture(int32_t /*cameraId*/) { return {}; }
    // The decoder of a running network camera's stream ("h264 with avdec_h264 (software)");
    // empty for a local camera or one that is not running.
    virtual QString LiveDecoder(int32_t /*cameraId*/) { return {}; }
    virtual void PreviewMotion(int32_t /*cameraId*/, int32_t /*greyLevel*/, int32_t /*pixelCount*/,
                               int32_t /*erosionLevel*/) {}
    virtual void EndMotionPreview(int32_t /*cameraId*/) {}

protected:
    ~ISnapshotSource() = default;
};

class CPropActiveAreaDlg : public CCameraPage {
    Q_OBJECT
public:
    static constexpr int kZoomPercents[] = {12, 25, 50, 100, 200, 300, 400, 500};
    // The zoom list's last entry, "Fit", carries this value.
    static constexpr int kZoomFit = 0;

    // snapshots may be null (no camera view yet, as in a new document).
    CPropActiveAreaDlg(CTavrixDocData& data, int32_t cameraId, ISnapshotSource* snapshots,
                       QWidget* parent = nullptr);

    QString Title() const override { return "Active Area"; }
    void Store() override;

    CBitmapPaintCtrl* PaintCtrl() const { return m_paint; }
    QCheckBox* EnableField() const { return m_enable; }
    QComboBox* ZoomField() const { return m_zoom; }
    QComboBox* PenSizeField() const { return m_penSize; }
    QComboBox* ColourField() const { return m_colour; }
    QToolButton* ToolButton(int tool) const;
    QLabel* StatusLabel() const { return m_status; }
    QToolButton* UndoButton() const { return m_undo; }
    QToolButton* RedoButton() const { return m_redo; }
    // Asks for a new still picture of the camera (the mask painted so far stays).
    void RefreshPicture();

protected:
    void resizeEvent(QResizeEvent* event) override;

signals:
    // The snapshot request was answered (with or without a picture).
    void SnapshotFinished();

private:
    void OnSnapshot(std::optional<QImage> picture);
    void ApplyZoom();
    void UpdateUndoButtons();

    CBitmapPaintCtrl* m_paint;
    QCheckBox* m_enable;
    QComboBox* m_zoom;
    QComboBox* m_penSize;
    QComboBox* m_colour;
    QLabel* m_status;
    QToolButton* m_tools[5] = {};
    QToolButton* m_undo = nullptr;
    QToolButton* m_redo = nullptr;
    ISnapshotSource* m_snapshots = nullptr;
};
