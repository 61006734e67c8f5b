#include "actions/CSEventRecord.h"

#include "persistence/TavrixDoc.h"

const char* GetEventKindName(int32_t kind) {
    static const char* const kNames[] = {"Illegal",     "Activate",     "Deacticvate",   "Motion Start",
                                         "Motion Stop", "Record Begin", "Record Finish", "Error Occurred"};
    return kind >= 0 && kind <= 7 ? kNames[kind] : kNames[0];
}

std::string CSEventRecord::GetDocumentTitle() const {
    return document ? document->GetTitle() : std::string();
}

std::string CSEventRecord::GetCameraName() const {
    return document ? document->GetCameraName(cameraId) : std::string();
}
