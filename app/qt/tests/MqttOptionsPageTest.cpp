// The MQTT part of the options dialog: it shows the settings file's [MQTT] group, masks the
// password, refuses a wrong host and writes the group on OK, keeping the file its owner's alone.

#include "app/qt/MqttOptionsPage.h"
#include "app/qt/OptionsDlg.h"
#include "app/qt/UiMessages.h"
#include "mqtt/MqttSettings.h"
#include "persistence/ConfigMgrImpl.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace {

TEST(MqttOptionsPageTest, ShowsStoresAndChecksTheMqttGroupWithAMaskedPassword) {
    const std::string path =
        QDir::tempPath().toStdString() + "/tavrix-mqtt-options-" + std::to_string(::getpid()) + ".conf";
    std::filesystem::remove(path);
    {
        platform::CSettingsFile file(path);
        file.WriteString("MQTT", "Host", "broker.lan");
        file.WriteString("MQTT", "Password", "old-secret");
        ASSERT_TRUE(file.Save());
    }
    QStringList messages;
    UiMessages::SetHook([&](const QString& text) {
        messages << text;
        return true;
    });
    CConfigMgrImpl config(path);
    COptionsDlg dialog(config);
    CMqttOptionsPage* page = dialog.MqttPage();
    EXPECT_EQ(page->HostField()->text(), "broker.lan");
    EXPECT_EQ(page->PortField()->value(), 1883);
    EXPECT_EQ(page->PasswordField()->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(page->RemoteControlField()->isChecked());

    page->HostField()->setText("broker.lan:0");
    dialog.accept();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    page->HostField()->setText("10.1.2.3");
    page->PortField()->setValue(1884);
    page->PasswordField()->setText("new-secret");
    page->RemoteControlField()->setChecked(true);
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted) << messages.join("|").toStdString();
    platform::CSettingsFile file(path);
    ASSERT_TRUE(file.Load());
    const CMqttSettings stored = CMqttSettings::Load(file);
    EXPECT_EQ(stored.host, "10.1.2.3");
    EXPECT_EQ(stored.port, 1884);
    EXPECT_EQ(stored.password, "new-secret");
    EXPECT_TRUE(stored.remoteControl);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    UiMessages::SetHook({});
    std::filesystem::remove(path);
}

} // namespace
