#include "app/qt/PropGeneralDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

CPropGeneralDlg::CPropGeneralDlg(CTavrixDocData& data, int32_t cameraId, bool lockNotificationInstalled,
                                 QWidget* parent)
    : CCameraPage(data, cameraId, parent) {
    const CCamera& camera = Camera();
    m_name = new QLineEdit(QString::fromStdString(camera.m_camName), this);

    m_schedule = new QComboBox(this);
    m_schedule->addItem("<Always active>", -1);
    for (const auto& [id, schedule] : m_data.m_schedules) {
        m_schedule->addItem(QString::fromStdString(schedule->GetName()), id);
    }
    int index = m_schedule->findData(camera.m_timeScheduleId);
    if (index < 0) {
        // A schedule id the document does not hold (a damaged file): kept until the user picks one.
        m_schedule->addItem(QString("<Unknown schedule %1>").arg(camera.m_timeScheduleId),
                            camera.m_timeScheduleId);
        index = m_schedule->count() - 1;
    }
    m_schedule->setCurrentIndex(index);

    m_activateOnLock = new QCheckBox("Activate while the workstation is locked", this);
    m_activateOnLock->setChecked(camera.m_activateOnWindowsLock);
    m_activateOnLock->setEnabled(lockNotificationInstalled);
    if (!lockNotificationInstalled) {
        m_activateOnLock->setToolTip("No source of session lock notifications was found on this system.");
    }

    static const char* const kViewModeTexts[] = {"Camera name",   "Changed pixels in red",
                                                 "Date and time", "Changed pixel count",
                                                 "Frame rate",    "Transparent texts"};
    auto* overlay = new QGroupBox("Overlay", this);
    auto* overlayLayout = new QVBoxLayout(overlay);
    for (int bit = 0; bit < 6; ++bit) {
        auto* box = new QCheckBox(kViewModeTexts[bit], overlay);
        box->setChecked((camera.m_viewMode >> bit) & 1);
        overlayLayout->addWidget(box);
        m_viewMode[static_cast<size_t>(bit)] = box;
    }

    auto* form = new QFormLayout;
    form->addRow("&Name:", m_name);
    form->addRow("&Time schedule:", m_schedule);
    form->addRow(m_activateOnLock);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(overlay);
    layout->addStretch(1);
}

bool CPropGeneralDlg::Validate(QString& message) {
    if (m_name->text().trimmed().isEmpty()) {
        message = "Please enter a name for the camera.";
        return false;
    }
    return true;
}

void CPropGeneralDlg::Store() {
    CCamera& camera = Camera();
    camera.m_camName = m_name->text().trimmed().toStdString();
    camera.m_timeScheduleId = m_schedule->currentData().toInt();
    camera.m_activateOnWindowsLock = m_activateOnLock->isChecked();
    int32_t viewMode = camera.m_viewMode & ~0x3F; // bits beyond the six overlay flags stay
    for (int bit = 0; bit < 6; ++bit) {
        if (m_viewMode[static_cast<size_t>(bit)]->isChecked()) {
            viewMode |= 1 << bit;
        }
    }
    camera.m_viewMode = viewMode;
}
