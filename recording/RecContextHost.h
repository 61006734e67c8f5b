#pragma once
// What a record context (CRecContext) needs of the camera it records: the capture format, the
// pre-event buffer, the facts of its document and camera, the composition of the record file
// name, the set of running record contexts and the reports of failures and pipeline events.
// The camera view implements it; so do the tests, around a real pre-event buffer.
//
// Threads: every operation is called from a record context's own threads (start, stop and
// pipeline event threads), never from the caller of StartRecord/StopRecord. The host must not
// make these threads wait for its user interface thread.

#include "platform/HResult.h"
#include "recording/DxEventRec.h"

#include <cstdint>
#include <string>
#include <vector>

class CEncodedPreEventBuffer;
class CPreEventBuffer;
class CRecContext;

// The camera's record options, read once at the start of a recording.
struct CRecordSettings {
    bool wmvActive = true;               // ".WMVActive": WMV (ASF) when true, else AVI
    std::string compressorDN;            // ".CompressorDN": AVI encoder factory name; empty: uncompressed
    std::vector<uint8_t> compressorData; // ".CompressorData": "name=value ..." encoder settings
    int32_t codec = 0;                   // ".Codec": index into the WMV codecs present
    int32_t codecFormat = 0;             // ".CodecFormat": index into that codec's formats
    int32_t bitRate = 1024;              // ".BitRate": WMV and H.264 bit rate in units of 1024 bits
                                         // per second; 0: H.264 at constant quality
    int32_t recordContainer = 0;         // ".RecordContainer": 0 as wmvActive says, 1 MP4, 2 Matroska
    std::string h264Encoder;             // ".H264Encoder": "" the fastest that works, else a factory
    int32_t h264Preset = 3;              // ".H264Preset": x264enc speed preset (3 veryfast)
};

// Camera event kinds raised by a record context.
constexpr int32_t kEventRecordBegin = 5;
constexpr int32_t kEventRecordFinish = 6;

class IRecContextHost {
public:
    // The capture format: frames are BGR, top-down, GetFrameStride() bytes a row.
    virtual int32_t GetFrameWidth() = 0;
    virtual int32_t GetFrameHeight() = 0;
    virtual int32_t GetFrameStride() = 0;
    // Average time per frame in 100-ns units; 0 when not known.
    virtual REFERENCE_TIME GetFrameDuration() = 0;
    // The camera's pre-event buffer; it outlives every record context of the camera.
    virtual CPreEventBuffer* GetPreEventBuffer() = 0;
    // The camera's pre-event time as H.264 or H.265 access units, when it keeps it so now (a
    // network camera's own stream, a local camera's continuous encoder); null when it keeps raw
    // frames. A recording into MP4 or Matroska then copies these units. It outlives every record
    // context of the camera.
    virtual CEncodedPreEventBuffer* GetEncodedPreEventBuffer() { return nullptr; }

    // The document's name (title) and the camera's name, for log entries and reports.
    virtual std::string GetDocumentName() = 0;
    virtual std::string GetCameraName() = 0;
    // The document's record folder ("Global.CommonFilePath").
    virtual std::string GetRecordPath() = 0;
    virtual CRecordSettings GetRecordSettings() = 0;
    // The record file's name without folder, from the camera's ".FileNameTemplate" expanded for
    // the current time and file type.
    virtual std::string GetRecordFileName() = 0;
    // Raises a camera event of the camera (Record Begin, Record Finish) with the record file's
    // full path as event string: runs the camera's chain for it on the calling thread.
    virtual void RaiseCameraEvent(int32_t kind, const std::string& eventString) = 0;

    // The camera's set of record contexts. A context joins it on its start thread before
    // StartRecord returns and leaves it with its last call to the host, after its stop or its
    // failed start: a host that waits until its set is empty is no longer used afterwards.
    virtual void AddToRCSet(CRecContext* rc) = 0;
    virtual void RemoveFromRCSet(CRecContext* rc) = 0;
    // A start or stop of rc failed (already reported): the camera cannot record.
    virtual void AsyncRecContextFailed(CRecContext* rc) = 0;
    // An event of rc's recording pipeline (codes of recording/DxEventRec.h); on EC_ERRORABORT
    // the camera decides whether to call rc->ForceStopRecord().
    virtual void DxEventRec(CRecContext* rc, long code, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~IRecContextHost() = default;
};
