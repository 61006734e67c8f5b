#pragma once
// CPropVideoDlg: the camera's "Video" page: the capture device (a listed one, or a network camera or
// video file entered in CNetworkCameraBox), its capture format (media
// subtype, frame size, frames a second) and, for analogue capture cards, the video input of the
// crossbar and the TV tuner's settings. The choices come from the device's capabilities, which the
// device manager reads on a pool thread (opening a device may take seconds); until they arrive,
// and for a device that cannot be opened, the stored values are shown and kept. A stored value
// the device does not offer is listed too, so that nothing changes unless the user picks it.
// The frame rate offers the device's best as a choice of its own ("Best: 30 frames/s",
// CFrameRateBox), which a new camera has. A running network camera shows the decoder its stream
// goes through ("Decoder: h264 with avdec_h264 (software)"), read from the live view when the
// page is made.
// GUI thread only.

#include "app/qt/PropertyPage.h"
#include "recording/VideoDeviceCaps.h"

#include <optional>

class CFrameRateBox;
class ISnapshotSource;
class CNetworkCameraBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CPropVideoDlg : public CCameraPage {
    Q_OBJECT
public:
    // live may be null (no camera view yet, as in a new document).
    CPropVideoDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr,
                  ISnapshotSource* live = nullptr);

    QString Title() const override { return "Video"; }
    bool Validate(QString& message) override;
    void Store() override;

    QComboBox* DeviceField() const { return m_device; }
    CNetworkCameraBox* NetworkBox() const { return m_network; }
    QComboBox* SubtypeField() const { return m_subtype; }
    QComboBox* SizeField() const { return m_size; }
    CFrameRateBox* FpsField() const { return m_fps; }
    QLabel* StatusLabel() const { return m_status; }
    // The network camera's detection stream (".DetectDeviceDN"); shown for network cameras only,
    // its password masked (the stored name is kept while the text is not changed).
    QLineEdit* DetectField() const { return m_detect; }
    // "Decoder: ..." of the running network camera; hidden for other cameras.
    QLabel* DecoderLabel() const { return m_decoder; }
    bool CapsLoaded() const { return m_caps.has_value(); }

signals:
    // The capabilities of the chosen device arrived (or could not be read).
    void CapsFinished();

private:
    void OnDeviceChanged();
    void OnCaps(const QString& deviceName, std::optional<CVideoDeviceCaps> caps, const QString& error);
    // Fills the format and capture card fields from caps (or only the stored values without).
    void FillFormats(bool keepStored);
    void ShowDeviceProperties();
    // After a network camera's test: its stream's size joins the sizes offered.
    void OfferStreamSize();
    // The display name chosen: a listed device's, or the network box's.
    QString CurrentDevice() const;
    bool IsNetworkChosen() const;

    QComboBox* m_device;
    QPushButton* m_deviceProperties;
    CNetworkCameraBox* m_network; // shown while the device list's network entry is chosen
    QLabel* m_status;
    QLabel* m_decoder;
    QLineEdit* m_detect;
    QWidget* m_detectRow;     // the field with its label
    QString m_detectShown;    // the stored detection stream as the field first showed it
    QString m_runningDecoder; // of the camera's running stream, as the page was made
    QComboBox* m_subtype;
    QComboBox* m_size;
    CFrameRateBox* m_fps;
    QCheckBox* m_hasCrossbar;
    QComboBox* m_videoInput;
    QCheckBox* m_hasTuner;
    QComboBox* m_tvFormat;
    QSpinBox* m_channel;
    QSpinBox* m_countryCode;
    QComboBox* m_inputType;
    QSpinBox* m_inputConnection;

    std::optional<CVideoDeviceCaps> m_caps; // of the device chosen now, once read
    QString m_capsDevice;                   // the device m_caps belongs to
};
