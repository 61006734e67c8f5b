#include "app/qt/PropRecordDlg.h"

#include "app/qt/CompressorSettingsDlg.h"
#include "app/qt/FormRows.h"
#include "recording/DxDeviceMgr.h"
#include "recording/NameTemplate.h"
#include "recording/RecordContainer.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <ctime>

CPropRecordDlg::CPropRecordDlg(CTavrixDocData& data, int32_t cameraId, QWidget* parent)
    : CCameraPage(data, cameraId, parent) {
    const CCamera& camera = Camera();
    CDxDeviceMgrImpl& devices = CDxDeviceMgrImpl::Instance();

    m_avi = new QRadioButton("&AVI", this);
    m_wmv = new QRadioButton("&WMV", this);
    m_mp4 = new QRadioButton("MP&4 (H.264)", this);
    m_matroska = new QRadioButton("&Matroska (H.264)", this);
    auto* formats = new QButtonGroup(this);
    for (QRadioButton* button : {m_avi, m_wmv, m_mp4, m_matroska}) {
        formats->addButton(button);
    }
    switch (static_cast<ERecordContainer>(camera.m_recordContainer)) {
    case ERecordContainer::Mp4:
        m_mp4->setChecked(true);
        break;
    case ERecordContainer::Matroska:
        m_matroska->setChecked(true);
        break;
    default: // 0, and a value this version does not know: what ".WMVActive" says
        (camera.m_wmvActive ? m_wmv : m_avi)->setChecked(true);
        break;
    }

    // AVI: compressor and its settings.
    m_compressor = new QComboBox(this);
    m_compressor->addItem(kNoCompression, QString());
    for (const auto& [displayName, friendlyName] : devices.GetCompressors()) {
        m_compressor->addItem(QString::fromStdString(friendlyName), QString::fromStdString(displayName));
    }
    int index = m_compressor->findData(QString::fromStdString(camera.m_compressorDN));
    if (index < 0) {
        m_compressor->addItem(QString("<not present> %1").arg(QString::fromStdString(camera.m_compressorDN)),
                              QString::fromStdString(camera.m_compressorDN));
        index = m_compressor->count() - 1;
    }
    m_compressor->setCurrentIndex(index);
    m_compressorData = camera.m_compressorData;
    m_dataCompressor = QString::fromStdString(camera.m_compressorDN);
    m_compressorSettings = new QPushButton("&Settings...", this);
    connect(m_compressorSettings, &QPushButton::clicked, this, &CPropRecordDlg::EditCompressorSettings);
    connect(m_compressor, &QComboBox::currentIndexChanged, this, &CPropRecordDlg::OnCompressorChanged);

    // WMV: codec, format, bit rate.
    m_codec = new QComboBox(this);
    const auto codecs = devices.GetWmvCodecs();
    for (size_t i = 0; i < codecs.size(); ++i) {
        m_codec->addItem(QString::fromStdString(codecs[i].second), static_cast<int>(i));
    }
    index = m_codec->findData(camera.m_codec);
    if (index < 0) {
        m_codec->addItem(QString("<not present> codec %1").arg(camera.m_codec), camera.m_codec);
        index = m_codec->count() - 1;
    }
    m_codec->setCurrentIndex(index);
    m_codecFormat = new QComboBox(this);
    FillCodecFormats();
    connect(m_codec, &QComboBox::currentIndexChanged, this, &CPropRecordDlg::FillCodecFormats);
    m_bitRate = new QSpinBox(this);
    m_bitRate->setRange(1, 1000000);
    // 0 is H.264's constant quality; WMV then starts from the default bit rate.
    m_bitRate->setValue(camera.m_bitRate > 0 ? camera.m_bitRate : CCamera().m_bitRate);
    m_bitRate->setSuffix(" kbit/s");

    // MP4 and Matroska: H.264 at a bit rate or at constant quality.
    m_h264BitRate = new QSpinBox(this);
    m_h264BitRate->setRange(0, 1000000);
    m_h264BitRate->setSpecialValueText("Constant quality");
    m_h264BitRate->setValue(std::max(0, camera.m_bitRate));
    m_h264BitRate->setSuffix(" kbit/s");
    // The encoders that work here, found by encoding a test frame with each; a stored one that
    // does not is kept and shown as such (the recording falls back to the automatic choice).
    m_h264Encoder = new QComboBox(this);
    m_h264Encoder->addItem(kAutomaticEncoder, QString());
    for (const std::string& name : WorkingH264Encoders()) {
        m_h264Encoder->addItem(QString::fromStdString(name), QString::fromStdString(name));
    }
    index = m_h264Encoder->findData(QString::fromStdString(camera.m_h264Encoder));
    if (index < 0) {
        m_h264Encoder->addItem(
            QString("<not working here> %1").arg(QString::fromStdString(camera.m_h264Encoder)),
            QString::fromStdString(camera.m_h264Encoder));
        index = m_h264Encoder->count() - 1;
    }
    m_h264Encoder->setCurrentIndex(index);
    m_h264Preset = new QComboBox(this);
    for (int32_t preset = 1; preset <= 9; ++preset) {
        m_h264Preset->addItem(X264PresetName(preset), preset);
    }
    index = m_h264Preset->findData(camera.m_h264Preset);
    m_h264Preset->setCurrentIndex(index >= 0 ? index : m_h264Preset->findData(CCamera().m_h264Preset));
    m_h264Preset->setToolTip("x264enc: faster presets take less processor time for larger files");
    // ".PreEventBuffer": how a local camera keeps the seconds before an event.
    m_preEventBuffer = new QComboBox(this);
    m_preEventBuffer->addItem("Automatic: encoded from 1280x720 up", CCamera::kPreEventAutomatic);
    m_preEventBuffer->addItem("Raw frames: no work while idle", CCamera::kPreEventRaw);
    m_preEventBuffer->addItem("Encoded H.264: little memory, encoder always running",
                              CCamera::kPreEventEncoded);
    index = m_preEventBuffer->findData(camera.m_preEventBufferMode);
    m_preEventBuffer->setCurrentIndex(index >= 0 ? index : 0);
    m_preEventBuffer->setToolTip("Local cameras. A network camera sending H.264 or H.265 keeps its own "
                                 "stream, which recordings copy as it is.");

    m_template = new QLineEdit(QString::fromStdString(camera.m_fileNameTemplate), this);
    m_template->setToolTip(
        "%n camera, %o document, %d day, %m month, %y year, %h hour, %i minute, %s second, "
        "%t file type, %% a percent sign");
    m_sample = new QLabel(this);
    m_sample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_append = new QCheckBox("A&ppend to existing video files", this);
    m_append->setChecked(camera.m_appendVideoFiles);

    auto* formatRow = new QHBoxLayout;
    formatRow->addWidget(m_avi);
    formatRow->addWidget(m_wmv);
    formatRow->addWidget(m_mp4);
    formatRow->addWidget(m_matroska);
    formatRow->addStretch(1);

    auto* aviGroup = new QGroupBox("AVI", this);
    auto* aviForm = new QFormLayout(aviGroup);
    auto* compressorRow = new QHBoxLayout;
    compressorRow->addWidget(m_compressor, 1);
    compressorRow->addWidget(m_compressorSettings);
    FormRows::AddRow(aviForm, "&Compressor:", compressorRow, m_compressor);

    auto* wmvGroup = new QGroupBox("WMV", this);
    auto* wmvForm = new QFormLayout(wmvGroup);
    wmvForm->addRow("C&odec:", m_codec);
    wmvForm->addRow("&Format:", m_codecFormat);
    wmvForm->addRow("&Bit rate:", m_bitRate);

    auto* h264Group = new QGroupBox("MP4 and Matroska (H.264)", this);
    auto* h264Form = new QFormLayout(h264Group);
    h264Form->addRow("B&it rate:", m_h264BitRate);
    h264Form->addRow("&Encoder:", m_h264Encoder);
    h264Form->addRow("S&peed:", m_h264Preset);
    h264Form->addRow("P&re-event buffer:", m_preEventBuffer);

    auto* fileForm = new QFormLayout;
    fileForm->addRow("File &name template:", m_template);
    fileForm->addRow("Example:", m_sample);
    fileForm->addRow(m_append);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(formatRow);
    layout->addWidget(aviGroup);
    layout->addWidget(wmvGroup);
    layout->addWidget(h264Group);
    layout->addLayout(fileForm);
    layout->addStretch(1);

    for (QRadioButton* button : {m_avi, m_wmv, m_mp4, m_matroska}) {
        connect(button, &QRadioButton::toggled, this, &CPropRecordDlg::UpdateEnabling);
        connect(button, &QRadioButton::toggled, this, &CPropRecordDlg::UpdateSample);
    }
    connect(m_template, &QLineEdit::textChanged, this, &CPropRecordDlg::UpdateSample);
    connect(m_h264Encoder, &QComboBox::currentIndexChanged, this, &CPropRecordDlg::UpdateEnabling);
    UpdateEnabling();
    UpdateSample();
}

void CPropRecordDlg::FillCodecFormats() {
    // The codecs offer one format each: their own default.
    const int32_t stored = Camera().m_codecFormat;
    m_codecFormat->clear();
    m_codecFormat->addItem(kDefaultFormat, 0);
    if (stored != 0 && m_codec->currentData().toInt() == Camera().m_codec) {
        m_codecFormat->addItem(QString("<not present> format %1").arg(stored), stored);
        m_codecFormat->setCurrentIndex(1);
    }
}

void CPropRecordDlg::UpdateEnabling() {
    const bool avi = m_avi->isChecked();
    const bool wmv = m_wmv->isChecked();
    m_compressor->setEnabled(avi);
    m_compressorSettings->setEnabled(avi && !m_compressor->currentData().toString().isEmpty());
    m_codec->setEnabled(wmv);
    m_codecFormat->setEnabled(wmv);
    m_bitRate->setEnabled(wmv);
    const bool h264 = IsH264Container(ChosenContainer());
    m_h264BitRate->setEnabled(h264);
    m_h264Encoder->setEnabled(h264);
    m_preEventBuffer->setEnabled(h264);
    const QString encoder = m_h264Encoder->currentData().toString();
    const std::string automatic = FindH264Encoder();
    m_h264Preset->setEnabled(h264 && (encoder == "x264enc" || (encoder.isEmpty() && automatic == "x264enc")));
}

int32_t CPropRecordDlg::ChosenContainer() const {
    if (m_mp4->isChecked()) {
        return static_cast<int32_t>(ERecordContainer::Mp4);
    }
    if (m_matroska->isChecked()) {
        return static_cast<int32_t>(ERecordContainer::Matroska);
    }
    return static_cast<int32_t>(ERecordContainer::AsWmvActive);
}

void CPropRecordDlg::UpdateSample() {
    CNameTemplate nameTemplate;
    nameTemplate.SetTime(static_cast<int64_t>(std::time(nullptr)));
    nameTemplate.SetCameraName(Camera().m_camName);
    nameTemplate.SetDocumentName("Document");
    nameTemplate.SetEventString("");
    nameTemplate.SetFileExtension(RecordFileExtension(ChosenContainer(), m_wmv->isChecked()));
    m_sample->setText(QString::fromStdString(nameTemplate.Expand(m_template->text().toStdString())));
}

void CPropRecordDlg::OnCompressorChanged() {
    // Settings belong to one encoder: another compressor starts from its defaults.
    const QString compressor = m_compressor->currentData().toString();
    if (compressor != m_dataCompressor) {
        m_compressorData.clear();
        m_dataCompressor = compressor;
    }
    UpdateEnabling();
}

void CPropRecordDlg::EditCompressorSettings() {
    const QString compressor = m_compressor->currentData().toString();
    if (compressor.isEmpty()) {
        return;
    }
    CCompressorSettingsDlg dialog(compressor.toStdString(), m_compressor->currentText(), m_compressorData,
                                  this);
    if (dialog.exec() == QDialog::Accepted) {
        m_compressorData = dialog.GetState();
        m_dataCompressor = compressor;
    }
}

bool CPropRecordDlg::Validate(QString& message) {
    const QString text = m_template->text().trimmed();
    if (text.isEmpty()) {
        message = "Please enter a file name template.";
        return false;
    }
    return true;
}

void CPropRecordDlg::Store() {
    CCamera& camera = Camera();
    camera.m_recordContainer = ChosenContainer();
    if (!IsH264Container(camera.m_recordContainer)) {
        camera.m_wmvActive = m_wmv->isChecked();
    }
    camera.m_compressorDN = m_compressor->currentData().toString().toStdString();
    camera.m_compressorData = m_compressorData;
    camera.m_codec = m_codec->currentData().toInt();
    camera.m_codecFormat = m_codecFormat->currentData().toInt();
    // One key serves both: the bit rate of the format that records.
    camera.m_bitRate =
        IsH264Container(camera.m_recordContainer) ? m_h264BitRate->value() : m_bitRate->value();
    camera.m_h264Encoder = m_h264Encoder->currentData().toString().toStdString();
    camera.m_h264Preset = m_h264Preset->currentData().toInt();
    camera.m_preEventBufferMode = m_preEventBuffer->currentData().toInt();
    camera.m_fileNameTemplate = m_template->text().trimmed().toStdString();
    camera.m_appendVideoFiles = m_append->isChecked();
}
