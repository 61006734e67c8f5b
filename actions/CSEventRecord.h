#pragma once
// Camera event kinds and the event record that a raised event hands to every action of its chain:
// the document, the camera, the moment, the kind, the recording's file name (Record Begin and
// Record Finish) and an error text.
//
// A record is a value, copied freely; it is filled by CTavrixDoc::ActivateChain or PostChain on the
// raising thread, at the moment of the event, and read by the actions on the thread that runs the
// chain.

#include <cstdint>
#include <string>

class CTavrixDoc;

// The event kinds as stored and traced; -1 in a camera's event key means no chain.
namespace EventKind {
constexpr int32_t Illegal = 0;
constexpr int32_t Activate = 1;
constexpr int32_t Deactivate = 2;
constexpr int32_t MotionStart = 3;
constexpr int32_t MotionStop = 4;
constexpr int32_t RecordBegin = 5;
constexpr int32_t RecordFinish = 6;
constexpr int32_t ErrorOccurred = 7;
} // namespace EventKind

// The name of a kind as logs and mails show it ("Activate", "Deacticvate", ...); "Illegal" for 0
// and for any kind outside 0..7.
const char* GetEventKindName(int32_t kind);

class CSEventRecord {
public:
    CTavrixDoc* document = nullptr;
    int32_t cameraId = -1;
    int64_t time = 0; // seconds since 1970-01-01 UTC
    int32_t kind = EventKind::Illegal;
    std::string fileName;
    std::string errorText;

    const char* GetEventName() const { return GetEventKindName(kind); }
    // The document's title and the camera's name, for log entries; empty without a document or
    // for a camera that the document does not hold (any more).
    std::string GetDocumentTitle() const;
    std::string GetCameraName() const;
};
