#pragma once
// COptionsDlg: the options dialog for the per-user settings: the global hot key that shows the
// hidden main window (required; Control+Shift+Alt+C is proposed when none is stored), the
// notification log's length (up to four digits), the user database's path (stored as a full
// path), unattended mode, what minimising does and whether to start minimised, and whether motion
// detection pauses while a camera is inactive, and the start-up choices (reopening the documents
// of the last session, starting at log-in: CStartupOptions, written at OK); on tabs of their own
// the MQTT broker (MqttOptionsPage.h) and the web interface (WebOptionsPage.h). OK hands the
// changed groups to the settings manager (written at exit; a new log length applies at the next
// start, a new database path at exit).
//
// GUI thread only.

#include "persistence/ConfigMgrImpl.h"

#include <QDialog>

class CHotKeyEdit;
class CMqttOptionsPage;
class CWebOptionsPage;
class CStartupOptions;
class QCheckBox;
class QComboBox;
class QLineEdit;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(CConfigMgrImpl& config = CConfigMgrImpl::Instance(), QWidget* parent = nullptr);

    // Checks the fields; false with the message to show when the dialog must not close.
    bool Validate(QString& message) const;
    // Validates (showing the message and staying open on failure) and stores.
    void accept() override;

    CHotKeyEdit* HotKeyField() const { return m_hotKey; }
    QLineEdit* LogLengthField() const { return m_logLength; }
    QLineEdit* DatabasePathField() const { return m_databasePath; }
    QCheckBox* UnattendedField() const { return m_unattended; }
    QCheckBox* MinimizeOnStartupField() const { return m_minimizeOnStartup; }
    QComboBox* MinimizeModeField() const { return m_minimizeMode; }
    QCheckBox* DisableMDField() const { return m_disableMD; }
    QComboBox* SnapshotFormatField() const { return m_snapshotFormat; }
    CMqttOptionsPage* MqttPage() const { return m_mqtt; }
    CWebOptionsPage* WebPage() const { return m_webPage; }
    CStartupOptions* StartupOptions() const { return m_startup; }

private:
    void BrowseDatabase();

    CConfigMgrImpl& m_config;
    CHotKeyEdit* m_hotKey;
    QLineEdit* m_logLength;
    QLineEdit* m_databasePath;
    QCheckBox* m_unattended;
    QCheckBox* m_minimizeOnStartup;
    QComboBox* m_minimizeMode;
    QCheckBox* m_disableMD;
    QComboBox* m_snapshotFormat;
    CMqttOptionsPage* m_mqtt;
    CWebOptionsPage* m_webPage;
    CStartupOptions* m_startup;
};
