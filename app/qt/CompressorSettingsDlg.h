#pragma once
// CCompressorSettingsDlg: the settings of a video encoder for AVI recordings, edited as the
// encoder's own properties (each with an editor of its kind: check box, list of named values,
// number, or text in GStreamer's notation). The dialog starts from the camera's stored state and
// ends with the state of the properties that differ from their defaults, the form in which the
// camera stores it (".CompressorData"). A value that the property refuses is named and the dialog
// stays open.
//
// The encoder is created on a pool thread (creating it may load its plugin). GUI thread only for
// the dialog itself.

#include <gst/gst.h>

#include <QDialog>

#include <cstdint>
#include <string>
#include <vector>

class QFormLayout;
class QLabel;

class CCompressorSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CCompressorSettingsDlg(const std::string& compressor, const QString& friendlyName,
                           const std::vector<uint8_t>& state, QWidget* parent = nullptr);
    ~CCompressorSettingsDlg() override;

    // The state after OK.
    const std::vector<uint8_t>& GetState() const { return m_state; }
    // The editor of a property, or null (available once EncoderReady was emitted).
    QWidget* Editor(const QString& property) const;
    QLabel* StatusLabel() const { return m_status; }

    void accept() override;

signals:
    void EncoderReady();

private:
    struct Row {
        GParamSpec* param = nullptr;
        QWidget* editor = nullptr;
    };
    void ShowEncoder(GstElement* encoder, const QStringList& problems);
    // Writes the editors into the encoder; false with the message for a value that is refused.
    bool ApplyEditors(QString& message);

    GstElement* m_encoder = nullptr; // owned
    std::vector<Row> m_rows;
    std::vector<uint8_t> m_state;
    QLabel* m_status;
    QFormLayout* m_form;
};
