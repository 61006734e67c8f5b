#include "camera/HubDocument.h"

#include "persistence/TavrixDoc.h"

CHubDocument::CHubDocument(CTavrixDoc& document) : m_document(document) {
    CCameraHub::Instance().RegisterDocument(this);
}

CHubDocument::~CHubDocument() {
    CCameraHub::Instance().UnregisterDocument(this);
}

std::string CHubDocument::GetDocumentName() {
    return m_document.GetTitle();
}

std::string CHubDocument::GetDocumentPath() {
    return m_document.GetPathName();
}

CDocumentRetention CHubDocument::GetRetention() {
    return m_document.Read([](const CTavrixDocData& data) {
        return CDocumentRetention{data.m_retentionDays, data.m_retentionMaxGiB, data.m_minFreeGiB};
    });
}

bool CHubDocument::SetRetention(const CDocumentRetention& values, std::string& error) {
    return m_document.WriteRetention(values.days, values.maxGiB, values.minFreeGiB, error);
}
