#include "app/qt/SessionState.h"

#include "foundation/Tracer.h"
#include "platform/SettingsFile.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QVBoxLayout>

namespace {

std::string DocumentKey(size_t index, const char* suffix = "") {
    return "Document" + std::to_string(index + 1) + suffix;
}

QString PlacementText(const CSessionDocument& document) {
    const QRect& r = document.placement;
    return QString("%1,%2,%3,%4,%5")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .arg(document.maximized);
}

void ParsePlacement(const QString& text, CSessionDocument& document) {
    const QStringList parts = text.split(',');
    if (parts.size() != 5) {
        return;
    }
    int values[5] = {};
    for (int i = 0; i < 5; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) {
            return;
        }
    }
    if (values[2] > 0 && values[3] > 0) {
        document.placement = QRect(values[0], values[1], values[2], values[3]);
    }
    document.maximized = values[4] != 0;
}

} // namespace

CSessionState CSessionState::Load(const std::string& settingsPath) {
    CSessionState session;
    platform::CSettingsFile file(settingsPath);
    if (!file.Load()) {
        return session;
    }
    const auto bytes = [&](const char* name) {
        const auto value = file.ReadString(kGroup, name);
        return value ? QByteArray::fromBase64(QByteArray::fromStdString(*value)) : QByteArray();
    };
    session.mainWindowGeometry = bytes("MainWindowGeometry");
    session.mainWindowState = bytes("MainWindowState");
    session.notifyColumns = bytes("NotificationColumns");
    const uint32_t count = file.ReadDword(kGroup, "DocumentCount").value_or(0);
    for (size_t i = 0; i < count && i < 64; ++i) {
        const auto path = file.ReadString(kGroup, DocumentKey(i));
        if (!path || path->empty()) {
            continue;
        }
        CSessionDocument document;
        document.path = QString::fromStdString(*path);
        if (const auto placement = file.ReadString(kGroup, DocumentKey(i, "Placement"))) {
            ParsePlacement(QString::fromStdString(*placement), document);
        }
        if (const auto cameras = file.ReadString(kGroup, DocumentKey(i, "ActiveCameras"))) {
            for (const QString& id : QString::fromStdString(*cameras).split(',', Qt::SkipEmptyParts)) {
                bool ok = false;
                const int value = id.trimmed().toInt(&ok);
                if (ok && value >= 0) {
                    document.activeCameras.push_back(value);
                }
            }
        }
        session.documents.push_back(std::move(document));
    }
    return session;
}

bool CSessionState::Save(const std::string& settingsPath) const {
    platform::CSettingsFile file(settingsPath);
    if (!file.Load()) {
        TRACE("CSessionState::Save() the settings file '%s' cannot be read: session not written",
              settingsPath.c_str());
        return false; // never overwrite a file that could not be read
    }
    // The documents of an earlier session go first, so that none of them is left over.
    for (const std::string& name : file.ValueNames(kGroup)) {
        if (name.rfind("Document", 0) == 0) {
            file.RemoveValue(kGroup, name);
        }
    }
    file.CreateGroup(kGroup);
    file.WriteString(kGroup, "MainWindowGeometry", mainWindowGeometry.toBase64().toStdString());
    file.WriteString(kGroup, "MainWindowState", mainWindowState.toBase64().toStdString());
    file.WriteString(kGroup, "NotificationColumns", notifyColumns.toBase64().toStdString());
    file.WriteDword(kGroup, "DocumentCount", static_cast<uint32_t>(documents.size()));
    for (size_t i = 0; i < documents.size(); ++i) {
        const CSessionDocument& document = documents[i];
        file.WriteString(kGroup, DocumentKey(i), document.path.toStdString());
        file.WriteString(kGroup, DocumentKey(i, "Placement"), PlacementText(document).toStdString());
        QStringList ids;
        for (const int32_t id : document.activeCameras) {
            ids << QString::number(id);
        }
        file.WriteString(kGroup, DocumentKey(i, "ActiveCameras"), ids.join(',').toStdString());
    }
    return file.Save();
}

bool CSessionState::ReopenDocuments(const std::string& settingsPath) {
    platform::CSettingsFile file(settingsPath);
    return !file.Load() || file.ReadDword(kGroup, "ReopenDocuments").value_or(1) != 0;
}

bool CSessionState::SetReopenDocuments(const std::string& settingsPath, bool reopen) {
    platform::CSettingsFile file(settingsPath);
    if (!file.Load()) {
        return false;
    }
    file.WriteDword(kGroup, "ReopenDocuments", reopen ? 1 : 0);
    return file.Save();
}

namespace Autostart {

QString EntryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + "/.config";
    }
    return config + "/autostart/tavrix.desktop";
}

bool IsEnabled() {
    QFile file(EntryPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QString text = QString::fromUtf8(file.readAll());
    return !text.contains(QRegularExpression("^Hidden\\s*=\\s*true", QRegularExpression::MultilineOption));
}

bool SetEnabled(bool enabled, const QString& executable) {
    const QString path = EntryPath();
    if (!enabled) {
        return !QFileInfo::exists(path) || QFile::remove(path);
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return false;
    }
    // The Exec key's quoting: the path in double quotes, with ", `, $ and \ escaped.
    QString quoted = executable;
    for (const QString special : {"\\", "\"", "`", "$"}) {
        quoted.replace(special, "\\" + special);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString entry = QString("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Tavrix\n"
                                  "Comment=Video surveillance: watch cameras, detect motion and record\n"
                                  "Exec=\"%1\"\n"
                                  "Icon=tavrix\n"
                                  "Terminal=false\n"
                                  "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted);
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace Autostart

CStartupOptions::CStartupOptions(std::string settingsPath, QWidget* parent)
    : QGroupBox("Start-up", parent), m_settingsPath(std::move(settingsPath)) {
    m_reopen = new QCheckBox("&Reopen the documents that were open at exit, with their cameras", this);
    m_reopen->setChecked(CSessionState::ReopenDocuments(m_settingsPath));
    m_autostart = new QCheckBox("&Start Tavrix when I log in", this);
    m_autostart->setChecked(Autostart::IsEnabled());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_reopen);
    layout->addWidget(m_autostart);
}

bool CStartupOptions::Store(QString& message) {
    CSessionState::SetReopenDocuments(m_settingsPath, m_reopen->isChecked());
    if (m_autostart->isChecked() != Autostart::IsEnabled() &&
        !Autostart::SetEnabled(m_autostart->isChecked(), QCoreApplication::applicationFilePath())) {
        message = QString("The autostart entry '%1' could not be %2.")
                      .arg(Autostart::EntryPath(), m_autostart->isChecked() ? "written" : "removed");
        return false;
    }
    return true;
}
