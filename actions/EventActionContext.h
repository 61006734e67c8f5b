#pragma once
// What an executing action needs from its event besides the record itself: the name template
// with the event's facts (time, document, camera and its file type, the record's file as event
// string) and the notification log entries with the document title and the camera's name. The
// document is asked once, when the context is made.
//
// Made by an action's Execute on the thread that runs the chain and dropped when it returns.

#include "recording/NameTemplate.h"

#include <string>

class CSEventRecord;

class CEventActionContext {
public:
    explicit CEventActionContext(const CSEventRecord& record);

    // Expands an action's placeholder text with the event's facts.
    std::string Expand(const std::string& text) const { return m_nameTemplate.Expand(text); }
    const CNameTemplate& GetNameTemplate() const { return m_nameTemplate; }
    // One notification log entry with the event's document title and camera name.
    void Log(const std::string& text) const;
    // The same for a failure of the action (the headless shell also writes it to standard error).
    void LogError(const std::string& text) const;

    const std::string& GetDocumentTitle() const { return m_documentTitle; }
    const std::string& GetCameraName() const { return m_cameraName; }

private:
    CNameTemplate m_nameTemplate;
    std::string m_documentTitle;
    std::string m_cameraName;
};
