#include "persistence/Camera.h"

#include "persistence/ConfigStore.h"

#include "persistence/sqlite3x.h"

#include <cstring>
#include <tuple>

namespace {

bool HasKey(CConfigStore& store, const std::string& key) {
    sqlite3x::sqlite3_command find(store.Connection(), "select count(*) from t_config_data where id = ?;");
    find.bind(1, key);
    return find.executeint() > 0;
}

} // namespace

void CCamera::Load(const std::string& prefix, CConfigStore& store) {
    // Into a copy, so that a key missing half way leaves this camera untouched.
    CCamera c(*this);
    c.m_motionGreyLevel = store.GetInt(prefix + ".MotionGreyLevel");
    c.m_motionShortTermPixelCount = store.GetInt(prefix + ".MotionShortTermPixelCount");
    c.m_motionStartDelay = store.GetInt(prefix + ".MotionStartDelay");
    c.m_motionStopDelay = store.GetInt(prefix + ".MotionStopDelay");
    c.m_motionPreEventDelay = store.GetInt(prefix + ".MotionPreEventDelay");
    c.m_motionErosionLevel = store.GetInt(prefix + ".MotionErosionLevel");
    c.m_motionCountdown = store.GetInt(prefix + ".MotionCountdown");
    c.m_viewMode = store.GetInt(prefix + ".ViewMode");
    c.m_timeScheduleId = store.GetInt(prefix + ".TimeScheduleId");
    c.m_videoDeviceDN = store.GetString(prefix + ".VideoDeviceDN");
    c.m_compressorDN = store.GetString(prefix + ".CompressorDN");
    c.m_camName = store.GetString(prefix + ".CamName");
    c.m_fileNameTemplate = store.GetString(prefix + ".FileNameTemplate");
    c.m_activateOnWindowsLock = store.GetBool(prefix + ".ActivateOnWindowsLock");
    c.m_appendVideoFiles = store.GetBool(prefix + ".AppendVideoFiles");
    c.m_fps = store.GetInt(prefix + ".FPS");
    c.m_videoSizeCx = store.GetInt(prefix + ".VideoSize.cx");
    c.m_videoSizeCy = store.GetInt(prefix + ".VideoSize.cy");
    c.m_mediaSubtype = store.GetGuid(prefix + ".MediaSubtype");
    c.m_hasCrossbar = store.GetBool(prefix + ".hasCrossbar");
    c.m_videoInputPin = store.GetInt(prefix + ".VideoInputPin");
    c.m_hasTuner = store.GetBool(prefix + ".hasTuner");
    c.m_tvFormat = store.GetInt(prefix + ".TVFormat");
    c.m_inputType = store.GetInt(prefix + ".InputType");
    c.m_inputConnection = store.GetInt(prefix + ".InputConnection");
    c.m_channel = store.GetInt(prefix + ".Channel");
    c.m_countryCode = store.GetInt(prefix + ".CountryCode");
    c.m_compressorData = store.GetBlob(prefix + ".CompressorData.RawData");
    c.m_codec = store.GetInt(prefix + ".Codec");
    c.m_codecFormat = store.GetInt(prefix + ".CodecFormat");
    c.m_bitRate = store.GetInt(prefix + ".BitRate");
    c.m_wmvActive = store.GetBool(prefix + ".WMVActive");
    // Added later than the other keys: a document without it records as it always did.
    c.m_recordContainer =
        HasKey(store, prefix + ".RecordContainer") ? store.GetInt(prefix + ".RecordContainer") : 0;
    c.m_streamTimeout = HasKey(store, prefix + ".StreamTimeout") ? store.GetInt(prefix + ".StreamTimeout")
                                                                 : kDefaultStreamTimeout;
    c.m_detectDeviceDN =
        HasKey(store, prefix + ".DetectDeviceDN") ? store.GetString(prefix + ".DetectDeviceDN") : "";
    c.m_h264Encoder = HasKey(store, prefix + ".H264Encoder") ? store.GetString(prefix + ".H264Encoder") : "";
    c.m_h264Preset = HasKey(store, prefix + ".H264Preset") ? store.GetInt(prefix + ".H264Preset") : 3;
    c.m_preEventBufferMode = HasKey(store, prefix + ".PreEventBuffer")
                                 ? store.GetInt(prefix + ".PreEventBuffer")
                                 : kPreEventAutomatic;
    c.m_areaMaskEnabled = store.GetBool(prefix + ".AreaMaskEnabled");
    c.m_areaMaskImage.Load(prefix + ".AreaMaskImage", store);
    c.m_aEvent = store.GetInt(prefix + ".AEvent");
    c.m_dEvent = store.GetInt(prefix + ".DEvent");
    c.m_msEvent = store.GetInt(prefix + ".MSEvent");
    c.m_mpEvent = store.GetInt(prefix + ".MPEvent");
    c.m_rbEvent = store.GetInt(prefix + ".RBEvent");
    c.m_rfEvent = store.GetInt(prefix + ".RFEvent");
    c.m_eoEvent = store.GetInt(prefix + ".EOEvent");
    *this = std::move(c);
}

void CCamera::Store(const std::string& prefix, CConfigStore& store) const {
    store.PutString(prefix + ".CamName", m_camName);
    store.PutString(prefix + ".VideoDeviceDN", m_videoDeviceDN);
    store.PutInt(prefix + ".MotionGreyLevel", m_motionGreyLevel);
    store.PutInt(prefix + ".MotionShortTermPixelCount", m_motionShortTermPixelCount);
    store.PutInt(prefix + ".MotionStartDelay", m_motionStartDelay);
    store.PutInt(prefix + ".MotionStopDelay", m_motionStopDelay);
    store.PutInt(prefix + ".MotionErosionLevel", m_motionErosionLevel);
    store.PutInt(prefix + ".MotionCountdown", m_motionCountdown);
    store.PutInt(prefix + ".ViewMode", m_viewMode);
    store.PutString(prefix + ".CompressorDN", m_compressorDN);
    store.PutInt(prefix + ".MotionPreEventDelay", m_motionPreEventDelay);
    store.PutString(prefix + ".FileNameTemplate", m_fileNameTemplate);
    store.PutInt(prefix + ".TimeScheduleId", m_timeScheduleId);
    store.PutBool(prefix + ".AreaMaskEnabled", m_areaMaskEnabled);
    store.PutBool(prefix + ".ActivateOnWindowsLock", m_activateOnWindowsLock);
    store.PutBool(prefix + ".AppendVideoFiles", m_appendVideoFiles);
    store.PutInt(prefix + ".FPS", m_fps);
    store.PutInt(prefix + ".VideoSize.cx", m_videoSizeCx);
    store.PutInt(prefix + ".VideoSize.cy", m_videoSizeCy);
    store.PutGuid(prefix + ".MediaSubtype", m_mediaSubtype);
    store.PutBool(prefix + ".hasCrossbar", m_hasCrossbar);
    store.PutInt(prefix + ".VideoInputPin", m_videoInputPin);
    store.PutBool(prefix + ".hasTuner", m_hasTuner);
    store.PutInt(prefix + ".TVFormat", m_tvFormat);
    store.PutInt(prefix + ".InputType", m_inputType);
    store.PutInt(prefix + ".InputConnection", m_inputConnection);
    store.PutInt(prefix + ".Channel", m_channel);
    store.PutInt(prefix + ".CountryCode", m_countryCode);
    store.PutInt(prefix + ".Codec", m_codec);
    store.PutInt(prefix + ".CodecFormat", m_codecFormat);
    store.PutInt(prefix + ".BitRate", m_bitRate);
    store.PutBool(prefix + ".WMVActive", m_wmvActive);
    store.PutInt(prefix + ".RecordContainer", m_recordContainer);
    store.PutInt(prefix + ".StreamTimeout", m_streamTimeout);
    store.PutString(prefix + ".DetectDeviceDN", m_detectDeviceDN);
    store.PutString(prefix + ".H264Encoder", m_h264Encoder);
    store.PutInt(prefix + ".H264Preset", m_h264Preset);
    store.PutInt(prefix + ".PreEventBuffer", m_preEventBufferMode);
    store.PutInt(prefix + ".AEvent", m_aEvent);
    store.PutInt(prefix + ".DEvent", m_dEvent);
    store.PutInt(prefix + ".MSEvent", m_msEvent);
    store.PutInt(prefix + ".MPEvent", m_mpEvent);
    store.PutInt(prefix + ".RBEvent", m_rbEvent);
    store.PutInt(prefix + ".RFEvent", m_rfEvent);
    store.PutInt(prefix + ".EOEvent", m_eoEvent);
    m_areaMaskImage.Store(prefix + ".AreaMaskImage", store);
    store.PutBlob(prefix + ".CompressorData.RawData", m_compressorData.size(), m_compressorData.data());
}

int32_t* CCamera::ChainSlot(int32_t kind) {
    switch (kind) {
    case 1:
        return &m_aEvent;
    case 2:
        return &m_dEvent;
    case 3:
        return &m_msEvent;
    case 4:
        return &m_mpEvent;
    case 5:
        return &m_rbEvent;
    case 6:
        return &m_rfEvent;
    case 7:
        return &m_eoEvent;
    default:
        return nullptr;
    }
}

int32_t CCamera::GetChainId(int32_t kind) const {
    const int32_t* slot = const_cast<CCamera*>(this)->ChainSlot(kind);
    return slot ? *slot : -1;
}

void CCamera::SetChainId(int32_t kind, int32_t chainId) {
    if (int32_t* slot = ChainSlot(kind)) {
        *slot = chainId;
    }
}

bool CCamera::UsesChain(int32_t chainId) const {
    if (chainId == -1) {
        return false; // -1 is "no chain", not a chain
    }
    for (int32_t kind = 1; kind <= 7; ++kind) {
        if (GetChainId(kind) == chainId) {
            return true;
        }
    }
    return false;
}

namespace {
bool SameImage(const CBinaryImage& a, const CBinaryImage& b) {
    if (a.IsEmpty() || b.IsEmpty()) {
        return a.IsEmpty() == b.IsEmpty();
    }
    return a.SameSize(b) && std::memcmp(a.GetData(), b.GetData(), a.GetSize()) == 0;
}
auto Fields(const CCamera& c) {
    return std::tie(c.m_id, c.m_motionGreyLevel, c.m_motionShortTermPixelCount, c.m_motionStartDelay,
                    c.m_motionStopDelay, c.m_motionPreEventDelay, c.m_motionErosionLevel, c.m_motionCountdown,
                    c.m_viewMode, c.m_timeScheduleId, c.m_videoDeviceDN, c.m_compressorDN, c.m_camName,
                    c.m_fileNameTemplate, c.m_activateOnWindowsLock, c.m_appendVideoFiles, c.m_fps,
                    c.m_videoSizeCx, c.m_videoSizeCy, c.m_mediaSubtype, c.m_hasCrossbar, c.m_videoInputPin,
                    c.m_hasTuner, c.m_tvFormat, c.m_inputType, c.m_inputConnection, c.m_channel,
                    c.m_countryCode, c.m_compressorData, c.m_codec, c.m_codecFormat, c.m_bitRate,
                    c.m_wmvActive, c.m_recordContainer, c.m_streamTimeout, c.m_detectDeviceDN,
                    c.m_h264Encoder, c.m_h264Preset, c.m_preEventBufferMode, c.m_areaMaskEnabled, c.m_aEvent,
                    c.m_dEvent, c.m_msEvent, c.m_mpEvent, c.m_rbEvent, c.m_rfEvent, c.m_eoEvent);
}
} // namespace

bool CCamera::operator==(const CCamera& other) const {
    return Fields(*this) == Fields(other) && SameImage(m_areaMaskImage, other.m_areaMaskImage);
}
