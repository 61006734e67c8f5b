#pragma once
// CCameraWindow: one camera inside its document's window: a title with the camera's name and
// state ("Garage - CntDown (12)"), the live picture, and the button that switches the camera on or
// off (the camera view's NextState, through the document's view), labelled with what it will do:
// "Activate" or "Deactivate". The document's view redraws title and button when the camera
// reports a change (message 3024) and after a switch. GUI thread only.

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

    void SetTitle(const QString& cameraName, const QString& stateText);
    // The button offers "Deactivate" for a camera that is switched on, else "Activate".
    void SetActivated(bool activated);

    static constexpr const char* kActivateText = "Activate";
    static constexpr const char* kDeactivateText = "Deactivate";

signals:
    void ActivateClicked(int32_t cameraId);

private:
    const int32_t m_cameraId;
    QLabel* m_title;
    CVideoWidget* m_video;
    QPushButton* m_activate;
};
