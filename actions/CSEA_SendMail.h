#pragma once
// The "Send Mail" event action (class id 2): sends one e-mail per event through the SMTP client, optionally
// with the recording attached. Property table and defaults are fixed here; Execute runs on the thread that
// runs the chain (the camera's chain queue), blocks it for the whole SMTP dialogue, which the client
// bounds, and keeps no state between calls.

#include "actions/CSEventAction.h"

class CSEA_SendMail : public CSEventAction {
public:
    static constexpr int32_t kClassId = 2;

    CSEA_SendMail();
    int32_t GetClassId() const override { return kClassId; }
    std::string GetName() const override { return "Send Mail"; }
    bool Execute(const CSEventRecord& record) override;
    const CSEAPropertyRow* GetPropertyTable() const override;

    // The mail's text: the event, the document, the camera, the file and the error text, each line
    // ended by "\n".
    static std::string BuildBody(const CSEventRecord& record, const std::string& documentTitle,
                                 const std::string& cameraName);
    // The "Subject" property, or "Tavrix event occurred" when it is empty.
    static std::string BuildSubject(const std::string& subject);
};
