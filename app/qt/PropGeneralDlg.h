#pragma once
// CPropGeneralDlg: the camera's "General" page: its name, the time schedule it follows
// ("<Always active>" for none), activation on workstation lock (offered only where lock
// notifications are available) and the overlay texts drawn into its picture (".ViewMode" bits).
// GUI thread only.

#include "app/qt/PropertyPage.h"

#include <array>

class QCheckBox;
class QComboBox;
class QLineEdit;

class CPropGeneralDlg : public CCameraPage {
    Q_OBJECT
public:
    // lockNotificationInstalled: whether a source of session lock notifications is present.
    CPropGeneralDlg(CTavrixDocData& data, int32_t cameraId, bool lockNotificationInstalled,
                    QWidget* parent = nullptr);

    QString Title() const override { return "General"; }
    bool Validate(QString& message) override;
    void Store() override;

    QLineEdit* NameField() const { return m_name; }
    QComboBox* ScheduleField() const { return m_schedule; }
    QCheckBox* LockField() const { return m_activateOnLock; }
    QCheckBox* ViewModeField(int bit) const { return m_viewMode[static_cast<size_t>(bit)]; }

private:
    QLineEdit* m_name;
    QComboBox* m_schedule;
    QCheckBox* m_activateOnLock;
    std::array<QCheckBox*, 6> m_viewMode{};
};
