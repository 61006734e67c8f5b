#pragma once
// One catalogued recording as the recordings catalogue stores it, and the filter a listing takes.
// Plain values: any thread.

#include <cstdint>
#include <string>
#include <vector>

enum class ERecordingState : int32_t {
    Writing = 0,  // between Record Begin and its finish
    Finished = 1, // complete on disk
    Missing = 2,  // the file was gone when the catalogue was reconciled
};

// "writing", "finished" or "missing", as listings and the API name a state.
inline const char* RecordingStateName(ERecordingState state) {
    switch (state) {
    case ERecordingState::Writing:
        return "writing";
    case ERecordingState::Missing:
        return "missing";
    case ERecordingState::Finished:
        break;
    }
    return "finished";
}

struct CRecording {
    int64_t id = 0;
    std::string documentPath; // the document's file
    std::string documentName; // its title, as log entries carry it
    int32_t cameraId = -1;
    std::string cameraName;
    std::string filePath;
    std::string container;  // "AVI", "WMV", "MP4", "Matroska"
    std::string codec;      // the video codec's description ("H.264", "Uncompressed", ...); may be empty
    int64_t startUtcMs = 0; // Record Begin, ms since 1970 UTC
    int64_t endUtcMs = 0;   // the finish; 0 while written
    std::string startLocal; // the same moments in local time, "YYYY-MM-DD HH:MM:SS"
    std::string endLocal;
    int64_t durationMs = 0;
    int64_t sizeBytes = 0;
    int64_t frames = 0;
    std::string startEvent; // the camera event that started it ("Motion Start", ...)
    ERecordingState state = ERecordingState::Writing;
    bool keep = false;              // the user keeps it: retention never removes it
    int32_t writerPid = 0;          // the process that writes it (while Writing)
    std::vector<int64_t> motionMs;  // moments of motion, ms from the file's first frame
    std::vector<uint8_t> thumbnail; // a small JPEG; empty when none was taken
};

struct CRecordingFilter {
    std::string documentPath; // empty: every document
    std::string documentName; // empty: every document (matched against the title)
    std::string cameraName;   // empty: every camera
    int64_t sinceUtcMs = 0;   // start at or after; 0: no lower bound
    int64_t untilUtcMs = 0;   // start before; 0: no upper bound
    bool includeMissing = true;
    bool withThumbnails = false;
    int64_t offset = 0; // paging: rows skipped, newest first
    int64_t limit = -1; // paging: at most this many; -1 for all
};
