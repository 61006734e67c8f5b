#pragma once
// CCameraWindow: one camera pane inside its document's window: a title bar with the camera's
// state as a coloured badge, its name and state ("Garage - CntDown (12)") and the button that
// switches the camera on or off (the camera view's NextState, through the document's view),
// labelled with what it will do: "Activate" or "Deactivate"; below it the live picture. The
// selected pane (the one the Camera menu acts on) has a highlighted frame. The document's view
// redraws title, badge and button when the camera reports a change (message 3024) and after a
// switch. GUI thread only.

#include <QFrame>

#include <cstdint>

class CVideoWidget;
class QLabel;
class QPushButton;

class CCameraWindow : public QFrame {
    Q_OBJECT
public:
    CCameraWindow(int32_t cameraId, QWidget* parent = nullptr);

    int32_t GetCameraId() const { return m_cameraId; }
    CVideoWidget* Video() const { return m_video; }
    QPushButton* ActivateButton() const { return m_activate; }
    QLabel* TitleLabel() const { return m_title; }
    QLabel* Badge() const { return m_badge; }

    void SetTitle(const QString& cameraName, const QString& stateText);
    // The badge: the state's name in its colour (CCamViewStateMgr's states); reason: why a camera
    // is Unavailable or Unable2Rec, shown on hover.
    void SetState(int32_t state, const QString& stateText, const QString& reason = QString());
    int32_t GetState() const { return m_state; }
    // The button offers "Deactivate" for a camera that is switched on, else "Activate".
    void SetActivated(bool activated);
    void SetSelected(bool selected);
    bool IsSelected() const { return m_selected; }
    // The height of everything but the picture: what the grid adds to each picture.
    int ChromeHeight() const;

    // The badge colours, for the tests and the screenshot.
    static QColor BadgeColour(int32_t state);

    static constexpr const char* kActivateText = "Activate";
    static constexpr const char* kDeactivateText = "Deactivate";

signals:
    void ActivateClicked(int32_t cameraId);

private:
    const int32_t m_cameraId;
    QWidget* m_titleBar;
    QLabel* m_badge;
    QLabel* m_title;
    CVideoWidget* m_video;
    QPushButton* m_activate;
    int32_t m_state = -1;
    bool m_selected = false;
};
