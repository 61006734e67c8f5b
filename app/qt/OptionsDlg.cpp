#include "app/qt/OptionsDlg.h"

#include "app/qt/FormRows.h"
#include "app/qt/HotKeyEdit.h"
#include "app/qt/MqttOptionsPage.h"
#include "app/qt/SessionState.h"
#include "app/qt/SnapshotFormat.h"
#include "app/qt/UiMessages.h"
#include "app/qt/WebOptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
constexpr int kMaxLogLength = 9999; // four digits
} // namespace

COptionsDlg::COptionsDlg(CConfigMgrImpl& config, QWidget* parent) : QDialog(parent), m_config(config) {
    setWindowTitle("Options");
    const CNotificationSettings notification = m_config.GetNotificationSettings();
    const CMiscSettings misc = m_config.GetMiscSettings();

    // Window group: hot key and minimising.
    m_hotKey = new CHotKeyEdit(this);
    CHotKey stored(misc.GetHotKeyVirtualKeyCode(), misc.GetHotKeyModifiers());
    if (stored.IsEmpty()) {
        stored = CHotKey(CHotKey::kProposedVirtualKey, CHotKey::kProposedModifiers);
    }
    m_hotKey->SetHotKey(stored);
    m_minimizeMode = new QComboBox(this);
    m_minimizeMode->addItem("Minimize the window", 0);
    m_minimizeMode->addItem("Hide the window and show a tray icon", 1);
    m_minimizeMode->addItem("Hide the window (the hot key shows it again)", 2);
    int modeIndex = m_minimizeMode->findData(misc.GetMinimizeMode());
    if (modeIndex < 0) {
        // A stored value that does nothing is kept as it is unless the user picks another.
        m_minimizeMode->addItem(QString("Do nothing (%1)").arg(misc.GetMinimizeMode()),
                                misc.GetMinimizeMode());
        modeIndex = m_minimizeMode->count() - 1;
    }
    m_minimizeMode->setCurrentIndex(modeIndex);
    m_minimizeOnStartup =
        new QCheckBox("Start minimized when a document is opened from the command line", this);
    m_minimizeOnStartup->setChecked(misc.GetMinimizeOnStartup());
    auto* windowGroup = new QGroupBox("Main window", this);
    auto* windowForm = new QFormLayout(windowGroup);
    windowForm->addRow("&Hot key to show the window:", m_hotKey);
    windowForm->addRow("&When minimized:", m_minimizeMode);
    windowForm->addRow(m_minimizeOnStartup);

    // Notifications group: log length, database, unattended mode.
    // A stored length of 0 (a value missing from the settings file) means the log's default.
    const int32_t logLength = notification.GetMaximumLogLength() > 0
                                  ? notification.GetMaximumLogLength()
                                  : CNotificationSettings::kDefaultMaximumLogLength;
    m_logLength = new QLineEdit(QString::number(logLength), this);
    m_logLength->setMaxLength(4);
    m_logLength->setValidator(new QIntValidator(0, kMaxLogLength, m_logLength));
    m_databasePath = new QLineEdit(QString::fromStdString(notification.GetUserDbPath()), this);
    auto* browse = new QPushButton("Browse...", this);
    connect(browse, &QPushButton::clicked, this, &COptionsDlg::BrowseDatabase);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_databasePath, 1);
    pathRow->addWidget(browse);
    m_unattended = new QCheckBox("Unattended mode (errors are only logged, no dialog is shown)", this);
    m_unattended->setChecked(notification.GetUnattendedMode());
    auto* logGroup = new QGroupBox("Notifications", this);
    auto* logForm = new QFormLayout(logGroup);
    logForm->addRow("Maximum &log length:", m_logLength);
    FormRows::AddRow(logForm, "User &database:", pathRow, m_databasePath);
    logForm->addRow(m_unattended);

    m_disableMD = new QCheckBox("Disable motion detection while a camera is inactive", this);
    m_disableMD->setChecked(misc.GetDisableMDWhenInactive());

    // A camera's "Save Snapshot": lossless PNG by default, or smaller JPEG files.
    m_snapshotFormat = new QComboBox(this);
    m_snapshotFormat->addItem("PNG (lossless)", static_cast<int>(SnapshotFormat::EFormat::Png));
    m_snapshotFormat->addItem("JPEG (smaller files)", static_cast<int>(SnapshotFormat::EFormat::Jpeg));
    m_snapshotFormat->setCurrentIndex(
        m_snapshotFormat->findData(static_cast<int>(SnapshotFormat::Read(m_config.GetSettingsPath()))));
    auto* snapshotRow = new QFormLayout;
    snapshotRow->addRow("Snapshot file &type:", m_snapshotFormat);

    // The web interface's settings live in a group of their own.
    m_webPage = new CWebOptionsPage(m_config.GetSettingsPath(), this);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);

    m_mqtt = new CMqttOptionsPage(m_config.GetSettingsPath(), this);
    m_startup = new CStartupOptions(m_config.GetSettingsPath(), this);

    // The dialog's own settings on the first tab, the MQTT broker and the web interface on tabs
    // of their own, so that the dialog stays the height of one group of settings.
    auto* general = new QWidget(this);
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(windowGroup);
    generalLayout->addWidget(logGroup);
    generalLayout->addWidget(m_disableMD);
    generalLayout->addLayout(snapshotRow);
    generalLayout->addWidget(m_startup);
    generalLayout->addStretch(1);
    auto* tabs = new QTabWidget(this);
    tabs->addTab(general, "&General");
    tabs->addTab(m_mqtt, "&MQTT");
    tabs->addTab(m_webPage, "&Web interface");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
}

void COptionsDlg::BrowseDatabase() {
    const QString path = QFileDialog::getSaveFileName(this, "User database", m_databasePath->text(),
                                                      "Tavrix user database (*.db);;All files (*)", nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty()) {
        m_databasePath->setText(path);
    }
}

bool COptionsDlg::Validate(QString& message) const {
    if (m_hotKey->GetHotKey().IsEmpty()) {
        message = "You must enter a hotkey";
        return false;
    }
    bool number = false;
    const int length = m_logLength->text().trimmed().toInt(&number);
    if (!number || length < 2 || length > kMaxLogLength) {
        message = "The maximum log length must be a number from 2 to 9999.";
        return false;
    }
    if (m_databasePath->text().trimmed().isEmpty()) {
        message = "Please enter the file of the user database.";
        return false;
    }
    return m_webPage->Validate(message);
}

void COptionsDlg::accept() {
    QString message;
    if (!Validate(message) || !m_mqtt->Validate(message)) {
        UiMessages::ShowWarning(this, message);
        return;
    }
    if (!m_mqtt->Store()) {
        UiMessages::ShowWarning(this, "The MQTT settings could not be written to the settings file.");
        return;
    }
    CNotificationSettings notification = m_config.GetNotificationSettings();
    notification.SetMaximumLogLength(m_logLength->text().trimmed().toInt());
    notification.SetUserDbPath(QFileInfo(m_databasePath->text().trimmed()).absoluteFilePath().toStdString());
    notification.SetUnattendedMode(m_unattended->isChecked());
    m_config.SetNotificationSettings(notification);

    CMiscSettings misc = m_config.GetMiscSettings();
    misc.SetHotKeyVirtualKeyCode(m_hotKey->GetHotKey().GetVirtualKey());
    misc.SetHotKeyModifiers(m_hotKey->GetHotKey().GetModifiers());
    misc.SetMinimizeMode(m_minimizeMode->currentData().toInt());
    misc.SetMinimizeOnStartup(m_minimizeOnStartup->isChecked());
    misc.SetDisableMDWhenInactive(m_disableMD->isChecked());
    m_config.SetMiscSettings(misc);
    m_webPage->Store();
    const auto format = static_cast<SnapshotFormat::EFormat>(m_snapshotFormat->currentData().toInt());
    if (format != SnapshotFormat::Read(m_config.GetSettingsPath()) &&
        !SnapshotFormat::Write(m_config.GetSettingsPath(), format)) {
        UiMessages::ShowWarning(this, "The snapshot format could not be written to the settings file.");
    }
    if (!m_startup->Store(message)) {
        UiMessages::ShowWarning(this, message); // the other settings are kept all the same
    }
    QDialog::accept();
}
