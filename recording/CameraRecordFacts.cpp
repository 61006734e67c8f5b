#include "recording/CameraRecordFacts.h"

#include "actions/CSEventRecord.h"
#include "foundation/Exceptions.h"
#include "persistence/Camera.h"
#include "persistence/TavrixDoc.h"
#include "recording/NameTemplate.h"
#include "recording/RecordContainer.h"

#include <optional>
#include <utility>

namespace {

CCamera CameraOf(const CTavrixDoc& document, int32_t cameraId) {
    std::optional<CCamera> camera = document.FindCamera(cameraId);
    if (!camera) {
        THROW_GENERAL_INFO("The camera does not exist in the document.",
                           "camera " + std::to_string(cameraId));
    }
    return std::move(*camera);
}

} // namespace

std::string CCameraRecordFacts::GetDocumentName() const {
    return m_document.GetTitle();
}

std::string CCameraRecordFacts::GetCameraName() const {
    return m_document.GetCameraName(m_cameraId);
}

std::string CCameraRecordFacts::GetRecordPath() const {
    return m_document.GetCommonFilePath();
}

CRecordSettings CCameraRecordFacts::GetRecordSettings() const {
    const CCamera camera = CameraOf(m_document, m_cameraId);
    CRecordSettings settings;
    settings.wmvActive = camera.m_wmvActive;
    settings.compressorDN = camera.m_compressorDN;
    settings.compressorData = camera.m_compressorData;
    settings.codec = camera.m_codec;
    settings.codecFormat = camera.m_codecFormat;
    settings.bitRate = camera.m_bitRate;
    settings.recordContainer = camera.m_recordContainer;
    settings.h264Encoder = camera.m_h264Encoder;
    settings.h264Preset = camera.m_h264Preset;
    return settings;
}

std::string CCameraRecordFacts::GetRecordFileName(int64_t unixTime) const {
    const CCamera camera = CameraOf(m_document, m_cameraId);
    CNameTemplate nameTemplate;
    nameTemplate.SetTime(unixTime);
    nameTemplate.SetDocument(m_document);
    nameTemplate.SetCamera(camera);
    nameTemplate.SetFileExtension(RecordFileExtension(camera.m_recordContainer, camera.m_wmvActive));
    return nameTemplate.ExpandFileName(camera.m_fileNameTemplate);
}

void CCameraRecordFacts::RaiseCameraEvent(int32_t kind, const std::string& eventString) const {
    CSEventRecord record;
    record.fileName = eventString;
    m_document.PostChain(m_cameraId, kind, std::move(record));
}
