// The web interface's group of the options dialog: off by default, its checks, and the settings
// group [Web] it writes.
#include "app/qt/WebOptionsPage.h"
#include "app/qt/OptionsDlg.h"
#include "app/qt/UiMessages.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

class WebOptionsPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path =
            QDir::tempPath().toStdString() + "/tavrix-web-options-" + std::to_string(::getpid()) + ".conf";
        std::remove(m_path.c_str());
        UiMessages::SetHook([this](const QString& text) {
            m_messages << text;
            return true;
        });
    }
    void TearDown() override {
        UiMessages::SetHook({});
        std::remove(m_path.c_str());
    }
    std::string m_path;
    QStringList m_messages;
};

TEST_F(WebOptionsPageTest, IsOffByDefaultOnLoopbackAndRefusesWhatCannotServe) {
    CWebOptionsPage page(m_path);
    EXPECT_FALSE(page.EnabledField()->isChecked());
    EXPECT_EQ(page.AddressField()->text(), "127.0.0.1");
    EXPECT_EQ(page.PortField()->text(), "8080");
    QString message;
    EXPECT_TRUE(page.Validate(message));

    page.AddressField()->setText("my-host");
    EXPECT_FALSE(page.Validate(message));
    EXPECT_TRUE(message.contains("IP address"));
    page.AddressField()->setText("0.0.0.0");
    page.CertificateField()->setText("/etc/hostname");
    EXPECT_FALSE(page.Validate(message)) << "a certificate without its key";
    EXPECT_TRUE(message.contains("both"));
    page.KeyField()->setText("/nonexistent/key.pem");
    EXPECT_FALSE(page.Validate(message));
    page.CertificateField()->clear();
    page.KeyField()->clear();
    page.BasePathField()->setText("/../etc");
    EXPECT_FALSE(page.Validate(message));
    page.BasePathField()->setText("/");
    page.PublicUrlField()->setText("javascript:alert(1)");
    EXPECT_FALSE(page.Validate(message)) << "the fleet's links take web addresses only";
    EXPECT_TRUE(message.contains("public URL"));
    page.PublicUrlField()->setText("https://cams.example.com/gate/");
    EXPECT_TRUE(page.Validate(message)) << message.toStdString();
}

TEST_F(WebOptionsPageTest, OkOfTheOptionsDialogStoresTheWebGroup) {
    CConfigMgrImpl config(m_path);
    COptionsDlg dialog(config);
    ASSERT_NE(dialog.WebPage(), nullptr);
    dialog.WebPage()->PortField()->setText("9443");
    dialog.WebPage()->BasePathField()->setText("/tavrix/");
    dialog.WebPage()->PublicUrlField()->setText("https://cams.example.com/gate/");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << m_messages.join("; ").toStdString();
    platform::CSettingsFile file(m_path);
    ASSERT_TRUE(file.Load());
    EXPECT_EQ(file.ReadDword("Web", "Enabled"), 0u);
    EXPECT_EQ(file.ReadDword("Web", "Port"), 9443u);
    EXPECT_EQ(file.ReadString("Web", "BasePath"), "/tavrix/");
    EXPECT_EQ(file.ReadString("Web", "Address"), "127.0.0.1");
    EXPECT_FALSE(DesktopWeb::IsRunning()) << "disabled: no server";
    const CWebSettings reread = CWebSettings::Load(m_path);
    EXPECT_EQ(reread.port, 9443);
    EXPECT_EQ(reread.publicUrl, "https://cams.example.com/gate/");
    EXPECT_FALSE(reread.enabled);
}

} // namespace
