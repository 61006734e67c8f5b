#pragma once
// CTavrixView: the window of one open document inside the main frame's multi-document area. It
// shows one camera pane (CCameraWindow) per camera view of the document's view logic
// (CTavrixViewCore): the live picture, a title bar with the state badge, the camera's name and
// state, and the "Activate" / "Deactivate" button. The view logic tells it through hooks when
// camera views come and go, when a camera changed (message 3024) and when a pipeline needs a video
// output.
//
// The panes form an even grid that keeps the pictures' aspect ratio (CameraGrid), laid out again
// when the window resizes and when cameras come or go. A click selects a pane (its frame is
// highlighted; the Camera menu acts on it); a double-click or Enter enlarges it to the whole
// window and back (Escape goes back too). Small panes get their state and changed-pixel count in
// the interface's font under the picture, where the frame's own small text would be unreadable.
// "Save Snapshot" writes a camera's current picture into the record folder, as PNG or JPEG as the
// options say (SnapshotFormat). A camera whose active area is enabled shows its mask over the
// live picture, semi-transparent as in the mask editor, unless "Show Active Area" is switched off
// for its pane. One camera can fill the screen alone (its pane becomes a full-screen window of its
// own; F11, Escape or a double-click bring it back into the grid).
//
// It is also where the camera property sheet gets a camera's still picture from: the picture is
// taken on a pool thread from a snapshot handle prepared here, so that a camera view rebuilt or
// destroyed meanwhile does no harm.
//
// GUI thread only.

#include "app/qt/PropActiveAreaDlg.h"
#include "camera/TavrixViewCore.h"

#include <QDateTime>
#include <QWidget>

#include <functional>

#include <map>
#include <set>
#include <string>

class CBinaryImage;
class CCamera;
class CCameraWindow;
class CTavrixDoc;
struct CTavrixDocData;
class QLabel;
class QTimer;

class CTavrixView : public QWidget, public ISnapshotSource {
    Q_OBJECT
public:
    explicit CTavrixView(QWidget* parent = nullptr);
    ~CTavrixView() override;

    // The hooks to hand to the view logic when the document is opened.
    CTavrixViewCore::CHooks MakeHooks();
    // The view logic, once the document is open (the application object owns it).
    void Attach(CTavrixViewCore* core);
    CTavrixViewCore* Core() const { return m_core; }
    CTavrixDoc* Document() const;

    // The window's title: the document's title, marked when it has unsaved changes.
    void UpdateTitle();
    CCameraWindow* FindCameraWindow(int32_t cameraId) const;
    std::vector<CCameraWindow*> CameraWindows() const;
    // Labels every camera's button with what it will do now (after broadcasts that may switch a
    // camera without changing its state).
    void UpdateCameraButtons();
    // The camera chosen for the camera commands: the one whose window was used last, else the
    // first.
    int32_t CurrentCameraId() const;
    // Selects a pane (its frame highlighted); an unknown id selects none.
    void SelectCamera(int32_t cameraId);
    // Enlarges a camera to the whole window, or (-1) shows the grid again.
    void SetEnlargedCamera(int32_t cameraId);
    int32_t EnlargedCameraId() const { return m_enlargedId; }
    void ToggleEnlarged(int32_t cameraId);
    // The grid's columns and rows as laid out last (1x1 while a camera is enlarged).
    int GridColumns() const { return m_columns; }
    int GridRows() const { return m_rows; }
    // Saves the camera's current picture into its record folder, in the format of the options, and
    // logs where. The result arrives later (the picture is taken on a pool thread): done(path or
    // empty on failure).
    void SaveSnapshot(int32_t cameraId, std::function<void(const QString& path)> done = {});
    // The snapshot's file: "<record folder>/<camera>_<ddMMyyyy_hhmmss>.png" (".jpg" for JPEG), the
    // camera name made safe for a file name.
    static QString SnapshotPath(const QString& folder, const QString& cameraName, const QDateTime& when,
                                const QString& suffix = "png");
    // One camera alone on the whole screen, or (-1) back into the grid.
    void SetFullScreenCamera(int32_t cameraId);
    int32_t FullScreenCameraId() const { return m_fullScreenId; }
    // The active area over a camera's live picture (shown by default when the mask is enabled).
    void SetMaskShown(int32_t cameraId, bool shown);
    bool IsMaskShown(int32_t cameraId) const { return m_maskHidden.count(cameraId) == 0; }
    // The semi-transparent picture of a mask's inactive pixels (null for an empty mask).
    static QImage MaskOverlay(const CBinaryImage& mask);
    // Brings every pane's title, badge, button and caption up to date.
    void UpdateAllCameras();

    // Runs the camera property sheet for a camera; true when it ended with OK (the camera views
    // have then been brought in step with the document).
    bool EditCamera(int32_t cameraId);
    // The document property sheet.
    bool EditDocument();
    // Adds a camera and shows its property sheet; Cancel adds nothing. The new camera takes the
    // first capture device no camera of the document uses, named after it ("Camera_" + id when
    // every device is in use: it then shares the first camera's device).
    bool AddCamera();
    // The choice of AddCamera over the devices present (display name -> friendly name).
    static void ChooseNewCameraDevice(CTavrixDocData& data, CCamera& camera,
                                      const std::map<std::string, std::string>& devices);
    bool DeleteCamera(int32_t cameraId);

    // ISnapshotSource
    void RequestSnapshot(int32_t cameraId, Done done) override;
    int32_t LiveChangedPixels(int32_t cameraId) override;
    QImage LivePicture(int32_t cameraId) override;
    QString LiveDecoder(int32_t cameraId) override;
    void PreviewMotion(int32_t cameraId, int32_t greyLevel, int32_t pixelCount,
                       int32_t erosionLevel) override;
    void EndMotionPreview(int32_t cameraId) override;

signals:
    // The document's content or modified flag changed.
    void DocumentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CCameraWindow* EnsureCameraWindow(int32_t cameraId);
    void RemoveCameraWindow(int32_t cameraId);
    void UpdateCameraTitle(CCameraView& cameraView);
    // The camera's button: switches it on or off and relabels the button.
    void SwitchCamera(int32_t cameraId);
    void Relayout();
    void AfterEdit();
    // The captions of small panes: state and changed-pixel count, refreshed twice a second.
    void UpdateCaptions();
    // Gives every pane its mask overlay (after an edit or a camera view coming).
    void UpdateMaskOverlays();
    // Keys of a pane shown alone on the screen; true when the key was used.
    bool FullScreenKey(int key);
    void ShowContextMenu(int32_t cameraId, const QPoint& globalPos);
    // The camera whose pane is `watched` or holds it, or -1.
    int32_t CameraOf(QObject* watched) const;

    CTavrixViewCore* m_core = nullptr;
    QLabel* m_empty;
    QTimer* m_captionTimer;
    std::map<int32_t, CCameraWindow*> m_cameraWindows;
    int32_t m_currentCameraId = -1;
    int32_t m_enlargedId = -1;
    int32_t m_fullScreenId = -1;
    std::set<int32_t> m_maskHidden; // panes whose active area is not drawn
    int m_columns = 0;
    int m_rows = 0;
};
