#pragma once
// CPropRecordDlg: the camera's "Record" page: the file format (AVI, WMV, MP4 or Matroska), for AVI
// the video compressor ("<No Compression>" for none) and its settings (stored as
// ".CompressorData"), for WMV the codec, its format ("<Default>" for the codec's own) and the bit
// rate, for MP4 and Matroska (H.264) the bit rate or constant quality, the file name template with
// a sample of the name it gives, and whether video files are appended to. AVI and WMV store
// ".RecordContainer" 0 and their choice in ".WMVActive"; MP4 and Matroska leave ".WMVActive" as
// it was, so that going back to AVI/WMV finds the earlier choice.
// GUI thread only.

#include "app/qt/PropertyPage.h"

#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

class CPropRecordDlg : public CCameraPage {
    Q_OBJECT
public:
    static constexpr const char* kNoCompression = "<No Compression>";
    static constexpr const char* kDefaultFormat = "<Default>";
    static constexpr const char* kAutomaticEncoder = "<Automatic: hardware when it works>";

    CPropRecordDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent = nullptr);

    QString Title() const override { return "Record"; }
    bool Validate(QString& message) override;
    void Store() override;

    QRadioButton* WmvField() const { return m_wmv; }
    QRadioButton* AviField() const { return m_avi; }
    QRadioButton* Mp4Field() const { return m_mp4; }
    QRadioButton* MatroskaField() const { return m_matroska; }
    // Bit rate of MP4 and Matroska in kbit/s; 0 is constant quality.
    QSpinBox* H264BitRateField() const { return m_h264BitRate; }
    // ".H264Encoder" (item data: the factory, "" automatic) and ".H264Preset" (item data 1..9).
    QComboBox* H264EncoderField() const { return m_h264Encoder; }
    QComboBox* H264PresetField() const { return m_h264Preset; }
    // ".PreEventBuffer" (item data 0 automatic, 1 raw, 2 encoded).
    QComboBox* PreEventBufferField() const { return m_preEventBuffer; }
    QComboBox* CompressorField() const { return m_compressor; }
    QPushButton* CompressorSettingsButton() const { return m_compressorSettings; }
    QComboBox* CodecField() const { return m_codec; }
    QComboBox* CodecFormatField() const { return m_codecFormat; }
    QSpinBox* BitRateField() const { return m_bitRate; }
    QLineEdit* TemplateField() const { return m_template; }
    QLabel* SampleLabel() const { return m_sample; }
    const std::vector<uint8_t>& CompressorData() const { return m_compressorData; }

private:
    void UpdateEnabling();
    void UpdateSample();
    void OnCompressorChanged();
    void EditCompressorSettings();
    void FillCodecFormats();
    // The ".RecordContainer" value of the format chosen now.
    int32_t ChosenContainer() const;

    QRadioButton* m_avi;
    QRadioButton* m_wmv;
    QRadioButton* m_mp4;
    QRadioButton* m_matroska;
    QSpinBox* m_h264BitRate;
    QComboBox* m_h264Encoder;
    QComboBox* m_h264Preset;
    QComboBox* m_preEventBuffer;
    QComboBox* m_compressor;
    QPushButton* m_compressorSettings;
    QComboBox* m_codec;
    QComboBox* m_codecFormat;
    QSpinBox* m_bitRate;
    QLineEdit* m_template;
    QLabel* m_sample;
    QCheckBox* m_append;
    std::vector<uint8_t> m_compressorData; // of the compressor chosen now
    QString m_dataCompressor;              // the compressor m_compressorData belongs to
};
