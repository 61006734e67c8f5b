#pragma once
// CTavrixView: the window of one open document inside the main frame's multi-document area. It
// shows one camera window per camera view of the document's view logic (CTavrixViewCore): the
// live picture, a title with the camera's name and state, and the "Activate" / "Deactivate"
// button. The view
// logic tells it through hooks when camera views come and go, when a camera changed (message
// 3024) and when a pipeline needs a video output.
//
// It is also where the camera property sheet gets a camera's still picture from: the picture is
// taken on a pool thread from a snapshot handle prepared here, so that a camera view rebuilt or
// destroyed meanwhile does no harm.
//
// GUI thread only.

#include "app/qt/PropActiveAreaDlg.h"
#include "camera/TavrixViewCore.h"

#include <QWidget>

#include <map>

class CCameraWindow;
class CTavrixDoc;
class QGridLayout;
class QLabel;

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

    // Runs the camera property sheet for a camera; true when it ended with OK (the camera views
    // have then been brought in step with the document).
    bool EditCamera(int32_t cameraId);
    // The document property sheet.
    bool EditDocument();
    // Adds a camera ("Camera_" + id) and shows its property sheet; Cancel adds nothing.
    bool AddCamera();
    bool DeleteCamera(int32_t cameraId);

    // ISnapshotSource
    void RequestSnapshot(int32_t cameraId, Done done) override;

signals:
    // The document's content or modified flag changed.
    void DocumentChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CCameraWindow* EnsureCameraWindow(int32_t cameraId);
    void RemoveCameraWindow(int32_t cameraId);
    void UpdateCameraTitle(CCameraView& cameraView);
    // The camera's button: switches it on or off and relabels the button.
    void SwitchCamera(int32_t cameraId);
    void Relayout();
    void AfterEdit();

    CTavrixViewCore* m_core = nullptr;
    QGridLayout* m_grid;
    QLabel* m_empty;
    std::map<int32_t, CCameraWindow*> m_cameraWindows;
    int32_t m_currentCameraId = -1;
};
