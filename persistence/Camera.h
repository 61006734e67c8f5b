#pragma once
// The stored settings of one camera of a document: capture device and format, motion parameters,
// overlay, recording format, area mask, schedule and one event-action chain per camera event.
// Owned by the document's camera map; the runtime reads copies (CTavrixDoc::FindCamera) and
// refers to a camera by its id only.
//
// A plain value: copied freely, used by one thread at a time.

#include "motion/BinaryImage.h"
#include "platform/Guid.h"

#include <cstdint>
#include <string>
#include <vector>

class CConfigStore;

class CCamera {
public:
    static constexpr const char* kDefaultFileNameTemplate = "%n_%d%m%y_%h%i%s.%t";

    CCamera() = default; // the defaults of a new camera
    CCamera(const CCamera&) = default;
    CCamera& operator=(const CCamera&) = default;
    CCamera(CCamera&&) noexcept = default;
    CCamera& operator=(CCamera&&) noexcept = default;
    virtual ~CCamera() = default;

    // Every stored field equal (the area mask by size and bits).
    bool operator==(const CCamera& other) const;

    int32_t GetId() const { return m_id; }
    void SetId(int32_t id) { m_id = id; }

    // Reads every key under prefix in the load order; a missing key throws
    // sqlite3x::database_error("nothing to read"). A failed load leaves the camera as it was.
    void Load(const std::string& prefix, CConfigStore& store);
    // Writes every key under prefix in the save order.
    void Store(const std::string& prefix, CConfigStore& store) const;

    // The chain id bound to an event kind (1 Activate .. 7 Error Occurred); -1 for none and for any
    // other kind.
    int32_t GetChainId(int32_t kind) const;
    void SetChainId(int32_t kind, int32_t chainId);
    // True when any of the seven event keys names the chain.
    bool UsesChain(int32_t chainId) const;

    int32_t m_id = -1;
    int32_t m_motionGreyLevel = 150;
    int32_t m_motionShortTermPixelCount = 200;
    int32_t m_motionStartDelay = 0;
    int32_t m_motionStopDelay = 2000;
    int32_t m_motionPreEventDelay = 2000;
    int32_t m_motionErosionLevel = 1;
    int32_t m_motionCountdown = 0;
    int32_t m_viewMode = 63;
    int32_t m_timeScheduleId = -1;
    std::string m_videoDeviceDN;
    std::string m_compressorDN;
    std::string m_camName;
    std::string m_fileNameTemplate = kDefaultFileNameTemplate;
    bool m_activateOnWindowsLock = false;
    bool m_appendVideoFiles = false;
    int32_t m_fps = 1000;
    int32_t m_videoSizeCx = 320;
    int32_t m_videoSizeCy = 240;
    GUID m_mediaSubtype = MEDIASUBTYPE_RGB24;
    bool m_hasCrossbar = false;
    int32_t m_videoInputPin = 0;
    bool m_hasTuner = false;
    int32_t m_tvFormat = 16;
    int32_t m_inputType = 0;
    int32_t m_inputConnection = 0;
    int32_t m_channel = 0;
    int32_t m_countryCode = 49;
    std::vector<uint8_t> m_compressorData; // ".CompressorData.RawData": the encoder's state
    int32_t m_codec = 0;
    int32_t m_codecFormat = 0;
    int32_t m_bitRate = 1024;
    bool m_wmvActive = true;
    // ".RecordContainer": 0 AVI or WMV as m_wmvActive says, 1 MP4, 2 Matroska. Documents written
    // before the key existed read 0; a new camera records MP4.
    int32_t m_recordContainer = 1;
    // ".StreamTimeout": seconds without a decoded frame after which a network camera counts as
    // lost and is re-connected. Documents written before the key existed read the default.
    static constexpr int32_t kDefaultStreamTimeout = 20;
    int32_t m_streamTimeout = kDefaultStreamTimeout;
    // ".DetectDeviceDN": a second stream of a network camera (rtsp, http or file name, often the
    // camera's small sub-stream) on which motion is detected while the main stream is shown and
    // recorded; empty (the default, and what documents without the key read): detection on the
    // main stream.
    std::string m_detectDeviceDN;
    // ".H264Encoder": the H.264 encoder of MP4 and Matroska, "" for the fastest that works here
    // (a VA-API encoder, else x264enc), or a GStreamer factory name. ".H264Preset": x264enc's
    // speed preset, 1 ultrafast to 9 veryslow. Documents written before the keys existed read
    // "" and 3 (veryfast), which is what they recorded with.
    std::string m_h264Encoder;
    int32_t m_h264Preset = 3;
    // ".PreEventBuffer": how a camera recorded into MP4 or Matroska keeps its pre-event time:
    // 0 automatic (raw frames below 1280x720, encoded from there up), 1 raw frames (no work while
    // idle), 2 encoded continuously as H.264 (little memory, an encoder always running). A
    // network camera sending H.264 or H.265 keeps its own stream whatever this says; AVI and WMV
    // always keep raw frames. Documents written before the key existed read 0.
    static constexpr int32_t kPreEventAutomatic = 0;
    static constexpr int32_t kPreEventRaw = 1;
    static constexpr int32_t kPreEventEncoded = 2;
    int32_t m_preEventBufferMode = kPreEventAutomatic;
    bool m_areaMaskEnabled = false;
    CBinaryImage m_areaMaskImage;
    // Chain ids of the events Activate, Deactivate, Motion Start, Motion Stop, Record Begin,
    // Record Finish, Error Occurred (".AEvent" ... ".EOEvent").
    int32_t m_aEvent = -1;
    int32_t m_dEvent = -1;
    int32_t m_msEvent = -1;
    int32_t m_mpEvent = -1;
    int32_t m_rbEvent = -1;
    int32_t m_rfEvent = -1;
    int32_t m_eoEvent = -1;

private:
    int32_t* ChainSlot(int32_t kind);
};
