// Every label of every dialog whose text marks a mnemonic ("&Record folder:") has the field it
// leads to as its buddy: without one Qt shows the "&" itself and the key does nothing. Names
// that come from a device or an encoder are shown as written, "&" included.

#include "actions/CSEA_InvokeCommand.h"
#include "app/qt/CameraPropertySheet.h"
#include "app/qt/CompressorSettingsDlg.h"
#include "app/qt/DevicePropertyDlg.h"
#include "app/qt/DocPropertySheet.h"
#include "app/qt/ErrorDialog.h"
#include "app/qt/OptionsDlg.h"
#include "recording/DxDeviceMgr.h"
#include "recording/TavrixElements.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>

#include <gtest/gtest.h>

#include <linux/videodev2.h>

namespace {

// "&x" marks a mnemonic; "&&" is an ampersand.
bool HasMnemonic(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '&') {
            if (text[i + 1] != '&') {
                return true;
            }
            ++i;
        }
    }
    return false;
}

::testing::AssertionResult EveryMnemonicHasABuddy(const QWidget& root) {
    int checked = 0;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        if (!HasMnemonic(label->text())) {
            continue;
        }
        ++checked;
        if (label->buddy() == nullptr) {
            return ::testing::AssertionFailure() << "'" << label->text().toStdString() << "' in "
                                                 << root.metaObject()->className() << " has no buddy";
        }
    }
    return ::testing::AssertionSuccess() << checked << " labels checked";
}

class MnemonicLabelsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitGStreamer();
        CDxDeviceMgrImpl::Instance().RefreshAll();
    }
};

TEST_F(MnemonicLabelsTest, EveryLabelWithAMnemonicLeadsToItsField) {
    CTavrixDocData data;
    CCamera* camera = data.AddCamera();
    camera->m_videoDeviceDN = "test:smpte";
    data.AddSchedule();
    CSEventActionChain* chain = data.AddChain();
    chain->AddAction(std::make_unique<CSEA_InvokeCommand>());
    camera->SetChainId(1, chain->GetId());

    CCameraPropertySheet cameraSheet(data, camera->GetId(), nullptr);
    EXPECT_TRUE(EveryMnemonicHasABuddy(cameraSheet));
    CDocPropertySheet documentSheet(data);
    EXPECT_TRUE(EveryMnemonicHasABuddy(documentSheet));
    COptionsDlg options;
    EXPECT_TRUE(EveryMnemonicHasABuddy(options));
    CErrorEntry entry;
    entry.message = "Something failed.";
    CErrorDialog error(entry);
    EXPECT_TRUE(EveryMnemonicHasABuddy(error));
    CCompressorSettingsDlg compressor("x264enc", "x264", {});
    QSignalSpy ready(&compressor, SIGNAL(EncoderReady()));
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_TRUE(EveryMnemonicHasABuddy(compressor));

    // The labels that were seen with their "&": each moves the focus to its field.
    std::vector<QString> texts;
    for (const QWidget* root :
         std::initializer_list<const QWidget*>{&cameraSheet, &documentSheet, &options}) {
        for (const QLabel* label : root->findChildren<QLabel*>()) {
            if (label->buddy() != nullptr) {
                texts.push_back(label->text());
            }
        }
    }
    for (const char* text : {"&Grey level threshold:", "Sto&p delay:", "Capture &device:", "&Record folder:",
                             "&Compressor:", "User &database:"}) {
        EXPECT_NE(std::find(texts.begin(), texts.end(), QString(text)), texts.end()) << text;
    }
}

TEST_F(MnemonicLabelsTest, DeviceControlNamesAreShownAsTheDriverWroteThem) {
    CDevicePropertyDlg dialog("test:smpte", "Test picture"); // no driver settings to read
    CDevicePropertyDlg::Control slider;
    slider.id = 1;
    slider.type = V4L2_CTRL_TYPE_INTEGER;
    slider.name = "Brightness & Contrast";
    slider.maximum = 255;
    CDevicePropertyDlg::Control check;
    check.id = 2;
    check.type = V4L2_CTRL_TYPE_BOOLEAN;
    check.name = "White &Balance";
    dialog.ShowControls({slider, check}, QString());
    EXPECT_TRUE(EveryMnemonicHasABuddy(dialog));
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains("Brightness && Contrast:")) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains("White &&Balance:")) << texts.join('|').toStdString();
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (label->text().startsWith("Brightness")) {
            EXPECT_NE(qobject_cast<QSlider*>(label->buddy()), nullptr);
        }
    }
}

} // namespace
