// The camera property sheet on a real document (copy-on-edit: Cancel leaves the document as it
// was, OK assigns the copy back), the record page's choices and the encoder settings dialog on a
// real GStreamer encoder.

#include "app/qt/CameraPropertySheet.h"
#include "app/qt/CompressorSettingsDlg.h"
#include "app/qt/PropGeneralDlg.h"
#include "app/qt/PropRecordDlg.h"
#include "app/qt/UiMessages.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class CameraSheetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitGStreamer();
        CDxDeviceMgrImpl::Instance().RefreshAll();
    }
};

TEST_F(CameraSheetTest, CancelLeavesTheDocumentAndOkAssignsTheCopy) {
    QTemporaryDir dir;
    CTavrixDoc document;
    ASSERT_TRUE(document.OnNewDocument(dir.filePath("sheet.tvrx").toStdString()));
    document.Edit([](CTavrixDocData& data) { data.m_cameras.Find(0)->m_videoDeviceDN = "test:smpte"; });
    ASSERT_TRUE(document.OnSaveDocument());

    const auto rename = [](const char* name, bool ok) {
        QTimer::singleShot(0, [name, ok] {
            auto* sheet = qobject_cast<CCameraPropertySheet*>(QApplication::activeModalWidget());
            ASSERT_NE(sheet, nullptr);
            ASSERT_EQ(sheet->PageCount(), 6);
            QStringList titles;
            for (int i = 0; i < sheet->PageCount(); ++i) {
                titles << sheet->Page(i)->Title();
            }
            EXPECT_EQ(titles, (QStringList{"General", "Video", "Record", "Motion", "Events", "Active Area"}));
            static_cast<CPropGeneralDlg*>(sheet->Page(0))->NameField()->setText(name);
            ok ? sheet->accept() : sheet->reject();
        });
    };
    rename("Porch", false);
    EXPECT_FALSE(CCameraPropertySheet::Edit(document, 0, nullptr, nullptr));
    EXPECT_EQ(document.GetCameraName(0), "Default");
    EXPECT_FALSE(document.IsModified());

    rename("Porch", true);
    EXPECT_TRUE(CCameraPropertySheet::Edit(document, 0, nullptr, nullptr));
    EXPECT_EQ(document.GetCameraName(0), "Porch");
    EXPECT_TRUE(document.IsModified());
    EXPECT_EQ(document.FindCamera(0)->m_videoDeviceDN, "test:smpte");

    EXPECT_FALSE(CCameraPropertySheet::Edit(document, 5, nullptr, nullptr)) << "no such camera";
}

TEST_F(CameraSheetTest, RecordPageChoicesAndFileNameSample) {
    CTavrixDocData data;
    CCamera* camera = data.AddCamera();
    camera->m_camName = "Gate";
    camera->m_compressorData = {'q', '=', '1'}; // settings of a compressor that is not chosen
    camera->m_recordContainer = 0;              // as in a document of the earlier version
    CPropRecordDlg page(data, 0);
    EXPECT_TRUE(page.WmvField()->isChecked());
    EXPECT_EQ(page.CompressorField()->itemText(0), "<No Compression>");
    EXPECT_EQ(page.CompressorField()->currentIndex(), 0);
    EXPECT_EQ(page.CodecFormatField()->itemText(0), "<Default>");
    EXPECT_EQ(page.BitRateField()->value(), 1024);
    EXPECT_EQ(page.CodecField()->count(),
              static_cast<int>(CDxDeviceMgrImpl::Instance().GetWmvCodecs().size()));
    EXPECT_TRUE(page.SampleLabel()->text().startsWith("Gate_"));
    EXPECT_TRUE(page.SampleLabel()->text().endsWith(".wmv"));
    page.AviField()->setChecked(true);
    EXPECT_TRUE(page.SampleLabel()->text().endsWith(".avi"));
    EXPECT_FALSE(page.CompressorSettingsButton()->isEnabled()) << "nothing to set without compression";

    const int jpeg = page.CompressorField()->findData(QString("jpegenc"));
    ASSERT_GE(jpeg, 0) << "jpegenc is a compressor the AVI multiplexer takes";
    page.CompressorField()->setCurrentIndex(jpeg);
    EXPECT_TRUE(page.CompressorSettingsButton()->isEnabled());
    EXPECT_TRUE(page.CompressorData().empty()) << "another compressor starts from its defaults";
    page.TemplateField()->setText("");
    QString message;
    EXPECT_FALSE(page.Validate(message));
    page.TemplateField()->setText("%n-%y%m%d.%t");
    EXPECT_TRUE(page.Validate(message));
    page.Store();
    EXPECT_FALSE(camera->m_wmvActive);
    EXPECT_EQ(camera->m_compressorDN, "jpegenc");
    EXPECT_TRUE(camera->m_compressorData.empty());
    EXPECT_EQ(camera->m_fileNameTemplate, "%n-%y%m%d.%t");
}

// MP4 and Matroska beside AVI and WMV: a new camera shows MP4; choosing H.264 keeps the AVI/WMV
// choice and the WMV bit rate for a later return to them.
TEST_F(CameraSheetTest, RecordPageChoosesTheContainerAndKeepsTheAviAndWmvChoices) {
    CTavrixDocData data;
    CCamera* camera = data.AddCamera();
    camera->m_camName = "Gate";
    {
        CPropRecordDlg page(data, 0);
        EXPECT_TRUE(page.Mp4Field()->isChecked()) << "new cameras record MP4";
        EXPECT_TRUE(page.SampleLabel()->text().endsWith(".mp4"));
        EXPECT_TRUE(page.H264BitRateField()->isEnabled());
        EXPECT_FALSE(page.BitRateField()->isEnabled());
        EXPECT_FALSE(page.CompressorField()->isEnabled());
        page.MatroskaField()->setChecked(true);
        EXPECT_TRUE(page.SampleLabel()->text().endsWith(".mkv"));
        page.H264BitRateField()->setValue(0);
        EXPECT_EQ(page.H264BitRateField()->text(), "Constant quality");
        page.Store();
    }
    EXPECT_EQ(camera->m_recordContainer, 2);
    EXPECT_EQ(camera->m_bitRate, 0);
    EXPECT_TRUE(camera->m_wmvActive) << "the WMV choice stays for a return to AVI/WMV";
    camera->m_bitRate = 700;
    {
        CPropRecordDlg page(data, 0);
        EXPECT_TRUE(page.MatroskaField()->isChecked());
        page.WmvField()->setChecked(true);
        EXPECT_FALSE(page.H264BitRateField()->isEnabled());
        EXPECT_TRUE(page.BitRateField()->isEnabled());
        EXPECT_TRUE(page.SampleLabel()->text().endsWith(".wmv"));
        page.Store();
    }
    EXPECT_EQ(camera->m_recordContainer, 0);
    EXPECT_TRUE(camera->m_wmvActive);
    EXPECT_EQ(camera->m_bitRate, 700);
}

// The H.264 encoder and x264enc's speed are chosen like the compressor of AVI: the encoders that
// work here, automatic by default; a stored encoder that does not work here is kept.
TEST_F(CameraSheetTest, RecordPageChoosesTheH264EncoderAndItsSpeed) {
    CTavrixDocData data;
    CCamera* camera = data.AddCamera();
    EXPECT_EQ(camera->m_h264Encoder, "");
    EXPECT_EQ(camera->m_h264Preset, 3);
    {
        CPropRecordDlg page(data, 0);
        EXPECT_EQ(page.H264EncoderField()->currentData().toString(), "") << "automatic";
        EXPECT_TRUE(page.H264EncoderField()->isEnabled());
        EXPECT_EQ(page.H264PresetField()->currentText(), "veryfast");
        const int x264 = page.H264EncoderField()->findData("x264enc");
        ASSERT_GE(x264, 0) << "x264enc is offered";
        page.H264EncoderField()->setCurrentIndex(x264);
        EXPECT_TRUE(page.H264PresetField()->isEnabled());
        page.H264PresetField()->setCurrentIndex(page.H264PresetField()->findData(1));
        EXPECT_EQ(page.PreEventBufferField()->currentData().toInt(), CCamera::kPreEventAutomatic);
        page.PreEventBufferField()->setCurrentIndex(
            page.PreEventBufferField()->findData(CCamera::kPreEventEncoded));
        page.Store();
    }
    EXPECT_EQ(camera->m_h264Encoder, "x264enc");
    EXPECT_EQ(camera->m_h264Preset, 1);
    EXPECT_EQ(camera->m_preEventBufferMode, CCamera::kPreEventEncoded);
    camera->m_h264Encoder = "nosuchh264enc";
    {
        CPropRecordDlg page(data, 0);
        EXPECT_EQ(page.H264EncoderField()->currentData().toString(), "nosuchh264enc");
        EXPECT_TRUE(page.H264EncoderField()->currentText().startsWith("<not working here>"));
        EXPECT_EQ(page.H264PresetField()->currentText(), "ultrafast");
        page.AviField()->setChecked(true);
        EXPECT_FALSE(page.H264EncoderField()->isEnabled());
        EXPECT_FALSE(page.H264PresetField()->isEnabled());
        EXPECT_FALSE(page.PreEventBufferField()->isEnabled()) << "AVI keeps raw frames";
        page.Store();
    }
    EXPECT_EQ(camera->m_h264Encoder, "nosuchh264enc") << "kept as stored";
}

TEST_F(CameraSheetTest, EncoderSettingsAreTheChangedPropertiesOfTheRealEncoder) {
    std::vector<uint8_t> state;
    {
        CCompressorSettingsDlg dialog("jpegenc", "JPEG image encoder", state);
        QSignalSpy ready(&dialog, SIGNAL(EncoderReady()));
        ASSERT_TRUE(ready.wait(10000));
        auto* quality = qobject_cast<QSpinBox*>(dialog.Editor("quality"));
        ASSERT_NE(quality, nullptr);
        EXPECT_EQ(quality->value(), 85);
        EXPECT_EQ(quality->maximum(), 100);
        EXPECT_EQ(dialog.Editor("name"), nullptr) << "the element's name is not a setting";
        quality->setValue(42);
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        state = dialog.GetState();
    }
    EXPECT_EQ(std::string(state.begin(), state.end()), "quality=42");

    // The stored state is shown again; unchanged settings give the same state.
    CCompressorSettingsDlg again("jpegenc", "JPEG image encoder", state);
    QSignalSpy ready(&again, SIGNAL(EncoderReady()));
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_EQ(qobject_cast<QSpinBox*>(again.Editor("quality"))->value(), 42);
    again.accept();
    EXPECT_EQ(again.GetState(), state);
}

TEST_F(CameraSheetTest, EncoderThatCannotBeCreatedKeepsTheState) {
    const std::vector<uint8_t> state = {'a', '=', '1'};
    CCompressorSettingsDlg dialog("no-such-encoder", "Missing", state);
    QSignalSpy ready(&dialog, SIGNAL(EncoderReady()));
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_FALSE(dialog.StatusLabel()->text().isEmpty());
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.GetState(), state);
}

} // namespace
