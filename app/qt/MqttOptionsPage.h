#pragma once
// CMqttOptionsPage: the MQTT part of the options dialog, the settings file's group "[MQTT]":
// broker host and port, user and password (masked), TLS, node name, topic prefix, Home Assistant
// discovery and remote control. Store writes the group at once (it applies at the next start).
//
// GUI thread only.

#include <QGroupBox>
#include <string>

class QCheckBox;
class QLineEdit;
class QSpinBox;

class CMqttOptionsPage : public QGroupBox {
    Q_OBJECT
public:
    CMqttOptionsPage(std::string settingsPath, QWidget* parent = nullptr);

    // False with the message to show when a field is wrong.
    bool Validate(QString& message) const;
    // Writes the group into the settings file; false when the file cannot be written.
    bool Store() const;

    QLineEdit* HostField() const { return m_host; }
    QSpinBox* PortField() const { return m_port; }
    QLineEdit* PasswordField() const { return m_password; }
    QCheckBox* RemoteControlField() const { return m_remoteControl; }

private:
    std::string m_settingsPath;
    QLineEdit* m_host;
    QSpinBox* m_port;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QCheckBox* m_tls;
    QLineEdit* m_nodeName;
    QLineEdit* m_prefix;
    QCheckBox* m_homeAssistant;
    QCheckBox* m_remoteControl;
};
