#pragma once
// CWebOptionsPage: the web interface's part of the options dialog (settings group [Web]): whether
// the desktop serves it, its address and port, base path and TLS certificate and key files. Off
// by default; OK stores the group and restarts the server with it (DesktopWeb::Apply).
//
// DesktopWeb: the desktop's web server, started from the settings after the documents opened and
// stopped before the application ends. A server that cannot start is logged and the desktop runs on.
//
// GUI thread only.

#include "web/WebSettings.h"

#include <QGroupBox>

class QCheckBox;
class QLineEdit;

class CWebOptionsPage : public QGroupBox {
    Q_OBJECT
public:
    // settingsPath: the settings file ("" for the default one).
    explicit CWebOptionsPage(std::string settingsPath, QWidget* parent = nullptr);

    // False with the message to show when the fields cannot be stored.
    bool Validate(QString& message) const;
    CWebSettings GetSettings() const;
    // Stores the group and restarts the server with it; false (logged) when it could not start.
    bool Store() const;

    QCheckBox* EnabledField() const { return m_enabled; }
    QLineEdit* AddressField() const { return m_address; }
    QLineEdit* PortField() const { return m_port; }
    QLineEdit* BasePathField() const { return m_basePath; }
    QLineEdit* PublicUrlField() const { return m_publicUrl; }
    QLineEdit* CertificateField() const { return m_certificate; }
    QLineEdit* KeyField() const { return m_key; }

private:
    const std::string m_settingsPath;
    QCheckBox* m_enabled;
    QLineEdit* m_address;
    QLineEdit* m_port;
    QLineEdit* m_basePath;
    QLineEdit* m_publicUrl;
    QLineEdit* m_certificate;
    QLineEdit* m_key;
};

namespace DesktopWeb {
// (Re)starts the server of the settings file, or stops it when they disable it.
bool Apply(const std::string& settingsPath, std::string* error = nullptr);
void Stop();
bool IsRunning();
} // namespace DesktopWeb
