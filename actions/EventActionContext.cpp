#include "actions/EventActionContext.h"

#include "actions/CSEventRecord.h"
#include "persistence/NotificationLog.h"
#include "persistence/TavrixDoc.h"
#include "recording/RecordContainer.h"

CEventActionContext::CEventActionContext(const CSEventRecord& record) {
    m_nameTemplate.SetTime(record.time);
    m_nameTemplate.SetEventString(record.fileName);
    if (record.document) {
        m_nameTemplate.SetDocument(*record.document);
        m_documentTitle = record.document->GetTitle();
        if (std::optional<CCamera> camera = record.document->FindCamera(record.cameraId)) {
            m_nameTemplate.SetCamera(*camera);
            m_nameTemplate.SetFileExtension(
                RecordFileExtension(camera->m_recordContainer, camera->m_wmvActive));
            m_cameraName = camera->m_camName;
        }
    }
}

void CEventActionContext::Log(const std::string& text) const {
    CNotificationLog::Instance().AddEntry(m_documentTitle, m_cameraName, text);
}

void CEventActionContext::LogError(const std::string& text) const {
    CNotificationLog::Instance().AddErrorEntry(m_documentTitle, m_cameraName, text);
}
