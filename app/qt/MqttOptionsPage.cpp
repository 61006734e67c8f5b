#include "app/qt/MqttOptionsPage.h"

#include "mqtt/MqttSettings.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>

CMqttOptionsPage::CMqttOptionsPage(std::string settingsPath, QWidget* parent)
    : QGroupBox("MQTT broker (applies at the next start)", parent), m_settingsPath(std::move(settingsPath)) {
    platform::CSettingsFile file(m_settingsPath);
    file.Load();
    const CMqttSettings settings = CMqttSettings::Load(file);
    const auto line = [this](const std::string& text) {
        return new QLineEdit(QString::fromStdString(text), this);
    };
    m_host = line(settings.host);
    m_host->setPlaceholderText("none: MQTT is off");
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    m_port->setValue(settings.port);
    m_user = line(settings.user);
    m_password = line(settings.password);
    m_password->setEchoMode(QLineEdit::Password);
    m_tls = new QCheckBox("Use TLS", this);
    m_tls->setChecked(settings.tls);
    m_nodeName = line(settings.nodeName);
    m_prefix = line(settings.prefix);
    m_homeAssistant = new QCheckBox("Home Assistant discovery", this);
    m_homeAssistant->setChecked(settings.homeAssistant);
    m_remoteControl = new QCheckBox("Allow cameras to be switched on and off over MQTT", this);
    m_remoteControl->setChecked(settings.remoteControl);

    auto* form = new QFormLayout(this);
    form->addRow("H&ost:", m_host);
    form->addRow("Po&rt:", m_port);
    form->addRow("&User:", m_user);
    form->addRow("Pa&ssword:", m_password);
    form->addRow(m_tls);
    form->addRow("&Node name:", m_nodeName);
    form->addRow("Topic pre&fix:", m_prefix);
    form->addRow(m_homeAssistant);
    form->addRow(m_remoteControl);
}

bool CMqttOptionsPage::Validate(QString& message) const {
    const QString host = m_host->text().trimmed();
    if (!host.isEmpty() && !CMqttSettings::ParseHostPort(host.toStdString())) {
        message = "The MQTT host must be a host name or an address.";
        return false;
    }
    if (m_nodeName->text().contains(QRegularExpression("[/+#]"))) {
        message = "The MQTT node name must not contain '/', '+' or '#'.";
        return false;
    }
    if (m_prefix->text().contains(QRegularExpression("[+#]"))) {
        message = "The MQTT topic prefix must not contain '+' or '#'.";
        return false;
    }
    return true;
}

bool CMqttOptionsPage::Store() const {
    platform::CSettingsFile file(m_settingsPath);
    file.Load();
    CMqttSettings settings = CMqttSettings::Load(file);
    settings.host = m_host->text().trimmed().toStdString();
    settings.port = static_cast<uint16_t>(m_port->value());
    settings.user = m_user->text().toStdString();
    settings.password = m_password->text().toStdString();
    settings.tls = m_tls->isChecked();
    settings.nodeName = m_nodeName->text().trimmed().toStdString();
    settings.prefix = m_prefix->text().trimmed().toStdString();
    settings.homeAssistant = m_homeAssistant->isChecked();
    settings.remoteControl = m_remoteControl->isChecked();
    settings.Save(file);
    return file.Save();
}
