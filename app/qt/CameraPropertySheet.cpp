#include "app/qt/CameraPropertySheet.h"

#include "app/qt/PropActiveAreaDlg.h"
#include "app/qt/PropEventsDlg.h"
#include "app/qt/PropGeneralDlg.h"
#include "app/qt/PropMotionDlg.h"
#include "app/qt/PropRecordDlg.h"
#include "app/qt/PropVideoDlg.h"
#include "persistence/ConfigMgrImpl.h"

CCameraPropertySheet::CCameraPropertySheet(CTavrixDocData& copy, int32_t cameraId, ISnapshotSource* snapshots,
                                           QWidget* parent)
    : CPropertySheet(QString("Camera Properties - %1")
                         .arg(QString::fromStdString(copy.m_cameras.Find(cameraId)->m_camName)),
                     parent) {
    const bool lockInstalled = CConfigMgrImpl::Instance().GetMiscSettings().GetLockNotificationInstalled();
    AddPage(new CPropGeneralDlg(copy, cameraId, lockInstalled, this));
    AddPage(new CPropVideoDlg(copy, cameraId, this, snapshots));
    AddPage(new CPropRecordDlg(copy, cameraId, this));
    AddPage(new CPropMotionDlg(copy, cameraId, this, snapshots));
    AddPage(new CPropEventsDlg(copy, cameraId, this));
    AddPage(new CPropActiveAreaDlg(copy, cameraId, snapshots, this));
}

bool CCameraPropertySheet::Edit(CTavrixDoc& document, int32_t cameraId, ISnapshotSource* snapshots,
                                QWidget* parent) {
    CTavrixDocData copy = document.GetData();
    if (copy.m_cameras.Find(cameraId) == nullptr) {
        return false;
    }
    CCameraPropertySheet sheet(copy, cameraId, snapshots, parent);
    if (sheet.exec() != QDialog::Accepted) {
        return false;
    }
    document.SetData(copy);
    return true;
}
