#include "app/qt/WebOptionsPage.h"

#include "app/qt/FormRows.h"
#include "foundation/Tracer.h"
#include "web/WebLaunch.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace {

std::unique_ptr<CWebServer>& Server() {
    static std::unique_ptr<CWebServer> server;
    return server;
}

QHBoxLayout* FileRow(QWidget* parent, QLineEdit* field, const QString& title) {
    auto* browse = new QPushButton("Browse...", parent);
    QObject::connect(browse, &QPushButton::clicked, parent, [parent, field, title] {
        const QString path = QFileDialog::getOpenFileName(parent, title, field->text(),
                                                          "PEM files (*.pem *.crt *.key);;All files (*)");
        if (!path.isEmpty()) {
            field->setText(path);
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(field, 1);
    row->addWidget(browse);
    return row;
}

} // namespace

CWebOptionsPage::CWebOptionsPage(std::string settingsPath, QWidget* parent)
    : QGroupBox("Web interface", parent), m_settingsPath(std::move(settingsPath)) {
    const CWebSettings settings = CWebSettings::Load(m_settingsPath);
    m_enabled = new QCheckBox("Serve the web &interface (log in with the users of 'tavrix user add')", this);
    m_enabled->setChecked(settings.enabled);
    m_address = new QLineEdit(QString::fromStdString(settings.address), this);
    m_address->setToolTip("127.0.0.1 serves this computer only; 0.0.0.0 every network it is on");
    m_port = new QLineEdit(QString::number(settings.port), this);
    m_port->setValidator(new QIntValidator(1, 65535, m_port));
    m_basePath = new QLineEdit(QString::fromStdString(settings.basePath), this);
    m_basePath->setToolTip("The path under which a reverse proxy forwards to Tavrix, / without one");
    m_publicUrl = new QLineEdit(QString::fromStdString(settings.publicUrl), this);
    m_publicUrl->setToolTip("How other machines reach this interface, for the MQTT fleet's links "
                            "(https://cams.example.com/gate/); empty: this address");
    m_certificate = new QLineEdit(QString::fromStdString(settings.tlsCertificate), this);
    m_key = new QLineEdit(QString::fromStdString(settings.tlsKey), this);
    auto* form = new QFormLayout(this);
    form->addRow(m_enabled);
    form->addRow("&Address:", m_address);
    form->addRow("&Port:", m_port);
    form->addRow("&Base path:", m_basePath);
    form->addRow("P&ublic URL:", m_publicUrl);
    FormRows::AddRow(form, "TLS &certificate:", FileRow(this, m_certificate, "TLS certificate"),
                     m_certificate);
    FormRows::AddRow(form, "TLS &key:", FileRow(this, m_key, "TLS key"), m_key);
}

CWebSettings CWebOptionsPage::GetSettings() const {
    CWebSettings settings;
    settings.enabled = m_enabled->isChecked();
    settings.address = m_address->text().trimmed().toStdString();
    settings.port = m_port->text().trimmed().toInt();
    settings.basePath = m_basePath->text().trimmed().toStdString();
    settings.tlsCertificate = m_certificate->text().trimmed().toStdString();
    settings.tlsKey = m_key->text().trimmed().toStdString();
    settings.publicUrl = m_publicUrl->text().trimmed().toStdString();
    if (settings.basePath.empty()) {
        settings.basePath = "/";
    }
    return settings;
}

bool CWebOptionsPage::Validate(QString& message) const {
    const CWebSettings settings = GetSettings();
    std::string address;
    int port = 0;
    if (!CWebServer::ParseListen(settings.address + ":" + std::to_string(settings.port), address, port)) {
        message = "The web interface needs an IP address (such as 127.0.0.1) and a port from 1 to 65535.";
        return false;
    }
    if (settings.basePath.find_first_of("?#\\ ") != std::string::npos ||
        settings.basePath.find("..") != std::string::npos) {
        message = "The base path of the web interface is a plain path such as /tavrix/.";
        return false;
    }
    if (!settings.publicUrl.empty() && settings.publicUrl.rfind("http://", 0) != 0 &&
        settings.publicUrl.rfind("https://", 0) != 0) {
        message = "The public URL of the web interface begins with http:// or https://.";
        return false;
    }
    if (settings.tlsCertificate.empty() != settings.tlsKey.empty()) {
        message = "TLS needs both the certificate file and the key file (or neither, for plain HTTP).";
        return false;
    }
    for (const std::string& file : {settings.tlsCertificate, settings.tlsKey}) {
        if (!file.empty() && !QFileInfo(QString::fromStdString(file)).isReadable()) {
            message = QString("The file '%1' cannot be read.").arg(QString::fromStdString(file));
            return false;
        }
    }
    return true;
}

bool CWebOptionsPage::Store() const {
    const CWebSettings settings = GetSettings();
    const bool unchanged = settings == CWebSettings::Load(m_settingsPath);
    if (!settings.Save(m_settingsPath)) {
        TRACE("CWebOptionsPage::Store() the settings file cannot be written");
    }
    // Unchanged settings leave a running server and its viewers alone.
    if (unchanged && DesktopWeb::IsRunning() == settings.enabled) {
        return true;
    }
    return DesktopWeb::Apply(m_settingsPath);
}

namespace DesktopWeb {

bool Apply(const std::string& settingsPath, std::string* error) {
    Stop();
    std::string failure;
    const bool ok = WebLaunch::StartFromSettings(CWebSettings::Load(settingsPath), Server(), failure);
    if (error != nullptr) {
        *error = failure;
    }
    return ok;
}

void Stop() {
    if (Server()) {
        Server()->Stop();
        Server().reset();
    }
}

bool IsRunning() {
    return Server() && Server()->IsRunning();
}

} // namespace DesktopWeb
