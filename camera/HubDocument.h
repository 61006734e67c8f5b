#pragma once
// CHubDocument: an open document as the camera hub's document directory sees it. A document's
// view owns one for as long as it shows the document, so both shells register every document
// they open; the web server and other outside users reach the document through the hub.
//
// Threads: constructed and destroyed on the user-interface thread; see IDocumentControl.

#include "camera/CameraHub.h"

class CTavrixDoc;

class CHubDocument final : public IDocumentControl {
public:
    explicit CHubDocument(CTavrixDoc& document);
    ~CHubDocument();
    CHubDocument(const CHubDocument&) = delete;
    CHubDocument& operator=(const CHubDocument&) = delete;

    std::string GetDocumentName() override;
    std::string GetDocumentPath() override;
    CDocumentRetention GetRetention() override;
    bool SetRetention(const CDocumentRetention& values, std::string& error) override;

private:
    CTavrixDoc& m_document;
};
