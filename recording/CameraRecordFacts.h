#pragma once
// What a camera's recordings need to know of the camera's document, read fresh for each
// recording: the document's and the camera's names, the record folder ("Global.CommonFilePath"),
// the camera's record settings, the record file name from its ".FileNameTemplate", and the
// raising of its Record Begin and Record Finish events with the file name in the event record.
// A camera view holds one and answers the document side of IRecContextHost with it.
//
// Called on a record context's start and stop threads; the document's own lock guards every read.

#include "recording/RecContextHost.h"

#include <cstdint>
#include <string>

class CTavrixDoc;

class CCameraRecordFacts {
public:
    // The document must outlive this object.
    CCameraRecordFacts(CTavrixDoc& document, int32_t cameraId) : m_document(document), m_cameraId(cameraId) {}

    std::string GetDocumentName() const;
    std::string GetCameraName() const;
    std::string GetRecordPath() const;
    // Throws CGeneralEx "The camera does not exist in the document." when the camera has been
    // removed from the document (a recording of it cannot start).
    CRecordSettings GetRecordSettings() const;
    // The camera's ".FileNameTemplate" expanded for unixTime (seconds since 1970 UTC, shown in
    // local time), the document, the camera and the file type of ".RecordContainer" and ".WMVActive". Throws
    // as above.
    std::string GetRecordFileName(int64_t unixTime) const;
    // Queues the camera's chain for kind with eventString as the event record's file name.
    void RaiseCameraEvent(int32_t kind, const std::string& eventString) const;

private:
    CTavrixDoc& m_document;
    const int32_t m_cameraId;
};
