#include "recording/RecordContext.h"

#include "foundation/ErrorReport.h"
#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"
#include "grabber/VideoFormat.h"
#include "persistence/NotificationLog.h"
#include "recording/AviRepair.h"
#include "recording/PreEventBuffer.h"
#include "recording/RecordContainer.h"
#include "recording/RecordFilePath.h"
#include "recording/RecordPipeline.h"
#include "recording/WmvWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// GetSample leaves the duration untouched when it returns without a frame.
constexpr REFERENCE_TIME kNoFrame = std::numeric_limits<REFERENCE_TIME>::min();
// After a pipeline error the end of the stream may still come (the writers finish their files
// when the source gives up), but need not.
constexpr uint32_t kEndOfStreamAfterErrorMs = 2000;
// Names tried for one recording: "name.avi", "name_1.avi", ... "name_999.avi".
constexpr int kMaxNameAttempts = 1000;

} // namespace

std::atomic<int> CRecContext::s_instances{0};

namespace {
std::mutex s_observerLock;
CRecContext::PipelineObserver s_observer;
} // namespace

void CRecContext::SetPipelineObserver(PipelineObserver observer) {
    std::lock_guard<std::mutex> lock(s_observerLock);
    s_observer = std::move(observer);
}

CRecContext::CRecContext(IRecContextHost* host) : m_host(host), m_buffer(host->GetPreEventBuffer()) {
    s_instances.fetch_add(1);
}

CRecContext::~CRecContext() {
    m_eventRec.Stop();
    m_pipeline.reset();
    CloseIterator();
    if (!m_fileName.empty()) {
        avirepair::EndRecording(m_fileName);
    }
    s_instances.fetch_sub(1);
}

void CRecContext::AddRef() {
    std::lock_guard<std::mutex> lock(m_lifeLock);
    ++m_users;
}

void CRecContext::Release() {
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(m_lifeLock);
        last = --m_users == 0;
    }
    if (last) {
        delete this;
    }
}

void CRecContext::Finish() {
    {
        std::lock_guard<std::mutex> lock(m_lifeLock);
        if (m_finished) {
            return;
        }
        m_finished = true;
    }
    Release();
}

// ---- requests of the host ----

void CRecContext::StartRecord() {
    TRACE("CRecContext::StartRecord() enter RC %p", static_cast<void*>(this));
    AddRef(); // the start thread
    AddRef(); // this call, until the start thread holds the lock
    try {
        std::thread(&CRecContext::AsyncStart, this).detach();
    } catch (const std::system_error& error) {
        Release();
        const CGeneralEx failure(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__,
                                 "Unable to create record start thread.", error.what());
        OnStartFailed(failure);
        TRACE("CRecContext::StartRecord() exit RC %p", static_cast<void*>(this));
        Release();
        return;
    }
    TRACE("CRecContext::StartRecord() exit RC %p", static_cast<void*>(this));
    m_startedEvent.Wait();
    Release();
}

void CRecContext::StopRecord() {
    TRACE("CRecContext::StopRecord() enter RC %p", static_cast<void*>(this));
    {
        std::lock_guard<std::mutex> lock(m_lifeLock);
        if (m_stopRequested) {
            TRACE("CRecContext::StopRecord() stop already requested RC %p", static_cast<void*>(this));
            return;
        }
        m_stopRequested = true;
        ++m_users; // the stop thread
    }
    try {
        std::thread(&CRecContext::AsyncStop, this).detach();
    } catch (const std::system_error& error) {
        {
            std::lock_guard<std::mutex> lock(m_lifeLock);
            m_stopRequested = false; // a later request may succeed
            --m_users;
        }
        const CGeneralEx failure(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__,
                                 "Unable to create record stop thread.", error.what());
        ReportException(failure, m_host->GetDocumentName(), m_host->GetCameraName());
    }
    TRACE("CRecContext::StopRecord() leave RC %p", static_cast<void*>(this));
}

void CRecContext::ForceStopRecord() {
    TRACE("CRecContext::ForceStopRecord() entered");
    TRACE("CRecContext::ForceStopRecord signal iterator to abort");
    AbortIterator();
    bool requested = false;
    {
        std::lock_guard<std::mutex> lock(m_lifeLock);
        requested = m_stopRequested;
    }
    if (!requested) {
        TRACE("CRecContext::ForceStopRecord no active stopping thread found. Start one...");
        StopRecord();
    } else {
        TRACE("CRecContext::ForceStopRecord Stop already in progress. Keep calm...");
    }
    TRACE("CRecContext::ForceStopRecord() finished");
}

// ---- callbacks ----

HRESULT CRecContext::GetSampleCB(CMediaSample* sample, REFERENCE_TIME* duration) {
    TRACE("CRecContext::GetSampleCB() entered");
    // Opened before the pipeline starts and closed only after it has stopped.
    CPreEventBufferIterator* it = m_iterator.load();
    REFERENCE_TIME frameDuration = kNoFrame;
    if (it != nullptr) {
        it->GetSample(sample, &frameDuration);
    }
    TRACE("CRecContext::GetSampleCB() finished");
    if (frameDuration == kNoFrame) {
        return TAVRIX_S_END_OF_STREAM; // flushed to the end, or aborted
    }
    // The newest frame's duration is not known until the next frame arrives: one frame time.
    *duration = frameDuration > 0 ? frameDuration : m_frameTime;
    return S_OK;
}

HRESULT CRecContext::LendSampleCB(CTavrixLentFrame* frame, REFERENCE_TIME* duration) {
    // The frame callback of the recording, as GetSampleCB: its trace lines stay the same.
    TRACE("CRecContext::GetSampleCB() entered");
    CPreEventBufferIterator* it = m_iterator.load();
    REFERENCE_TIME frameDuration = kNoFrame;
    CFrameBytes* bytes = nullptr;
    int32_t length = 0;
    if (it != nullptr) {
        it->GetSample(nullptr, &frameDuration, &bytes, &length);
    }
    TRACE("CRecContext::GetSampleCB() finished");
    if (frameDuration == kNoFrame) {
        if (bytes != nullptr) {
            bytes->Release();
        }
        return TAVRIX_S_END_OF_STREAM; // flushed to the end, or aborted
    }
    if (bytes == nullptr) {
        return S_FALSE; // a frame whose memory could not be had: nothing to deliver
    }
    frame->data = bytes->Data();
    frame->size = static_cast<size_t>(length);
    frame->owner = bytes;
    frame->release = [](void* owner) { static_cast<CFrameBytes*>(owner)->Release(); };
    *duration = frameDuration > 0 ? frameDuration : m_frameTime;
    return S_OK;
}

void CRecContext::DxEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    TRACE("CRecContext::DxEvent() --> Rec DX Event code: %#04x Params: %d, %d", static_cast<unsigned>(code),
          static_cast<int>(param1), static_cast<int>(param2));
    if (code == EC_ERRORABORT) {
        // Nothing more reaches the file: a stop must not wait for frames to be taken.
        AbortIterator();
        m_streamErrorEvent.Set();
    } else if (code == EC_COMPLETE) {
        m_streamEndedEvent.Set();
    }
    bool forward = false;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        if (m_forwardEvents) {
            forward = code != EC_ERRORABORT || !m_errorForwarded;
            m_errorForwarded = m_errorForwarded || code == EC_ERRORABORT;
        } else if (code == EC_ERRORABORT && !m_heldError.held) {
            // The start decides: a failure of its own, or passed on once it has finished.
            m_heldError = {true, code, param1, param2};
        }
    }
    if (forward) {
        m_host->DxEventRec(this, code, param1, param2);
    } else {
        TRACE("CRecContext::DxEvent() event %#04x not passed on RC %p", static_cast<unsigned>(code),
              static_cast<void*>(this));
    }
}

// ---- start ----

void CRecContext::AsyncStart(CRecContext* rc) {
    TRACE("CRecContext::AsyncStart() started RC %p", static_cast<void*>(rc));
    try {
        rc->StartRecordBlocking();
    } catch (const CBaseException& exception) {
        rc->OnStartFailed(exception);
    } catch (const std::exception& error) {
        const CGeneralEx failure(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__,
                                 "Unable to start the recording.", error.what());
        rc->OnStartFailed(failure);
    }
    TRACE("CRecContext::AsyncStart() exit thread RC %p", static_cast<void*>(rc));
    rc->Release();
}

void CRecContext::StartRecordBlocking() {
    TRACE("CRecContext::StartRecordBlocking() entered");
    platform::CAutoLock lock(m_StartStopCritSec);
    TRACE("CRecContext::StartRecordBlocking() got crit sec");
    try {
        StartRecordLocked();
    } catch (...) {
        // Undone before the lock is released: a stop waiting for it must find the start failed,
        // or it would leave the host's set while this thread still reports to the host.
        CleanUpFailedStart();
        throw;
    }
}

void CRecContext::StartRecordLocked() {
    if (m_started) {
        TRACE("CRecContext::StartRecordBlocking() rc started twice RC %p", static_cast<void*>(this));
        TRACER_STOP_HERE();
    }
    // In the host's set before StartRecord returns, so that a host that waits for its set to
    // empty never goes away under a context that is still starting.
    m_host->AddToRCSet(this);
    m_inSet = true;
    m_startedEvent.Set();

    const std::string recordPath = m_host->GetRecordPath();
    struct stat status {};
    if (recordPath.empty() || stat(recordPath.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        THROW_GENERAL_INFO("The record path is invalid.", recordPath);
    }

    m_pipeline = std::make_unique<CRecordPipeline>(m_framesWritten);
    m_pipeline->Create();
    m_eventRec.Start(m_pipeline->GetPipeline(), this);

    const CRecordSettings settings = m_host->GetRecordSettings();
    if (!IsKnownRecordContainer(settings.recordContainer)) {
        THROW_GENERAL_INFO("Unable to set record file name.", "unknown record container " +
                                                                  std::to_string(settings.recordContainer) +
                                                                  " (0 AVI or WMV, 1 MP4, 2 Matroska)");
    }
    const bool h264 = IsH264Container(settings.recordContainer);
    const REFERENCE_TIME frameDuration = m_host->GetFrameDuration();
    m_frameTime = frameDuration > 0 ? frameDuration : kDefaultFrameTime;
    const bool copy = h264 && OpenEncodedReader(settings);
    if (copy) {
        BuildCopyBranch(settings, recordPath);
    } else {
        BuildEncodingBranch(settings, recordPath);
    }
    m_pipeline->Render();
    {
        std::lock_guard<std::mutex> observerLock(s_observerLock);
        if (s_observer) {
            s_observer(m_pipeline->GetPipeline(), copy);
        }
    }

    if (!copy) {
        std::lock_guard<std::mutex> iteratorLock(m_iteratorLock);
        CPreEventBufferIterator* it = m_buffer->StartIterator();
        if (m_abortRequested) {
            it->AbortIterator();
        }
        m_iterator.store(it);
    }

    const uint32_t frameMs = static_cast<uint32_t>(std::min<REFERENCE_TIME>(m_frameTime / 10000, 60000));
    const bool playing = m_pipeline->Run(std::max(kMinPrerollTimeoutMs, 3 * frameMs));
    if (!playing) {
        TRACE("CRecContext::StartRecordBlocking() the recording graph waits for its first frame RC %p",
              static_cast<void*>(this));
    }
    // An error before the pipeline played failed the start (Run threw). From here on the host
    // hears of the pipeline's events, beginning with an error that came since.
    CHeldEvent held;
    {
        std::lock_guard<std::mutex> eventLock(m_eventLock);
        m_forwardEvents = true;
        held = m_heldError;
        m_errorForwarded = held.held;
    }

    m_started = true;
    Log("Started recording to '" + m_fileName + "'");
    RaiseEvent(kEventRecordBegin);
    if (held.held) {
        m_host->DxEventRec(this, held.code, held.param1, held.param2);
    }
    TRACE("CRecContext::StartRecordBlocking() finished");
}

void CRecContext::BuildCopyBranch(const CRecordSettings& settings, const std::string& recordPath) {
    GstCaps* caps = m_encodedReader->GetCaps();
    const std::string codec = m_encodedBuffer->GetCodec();
    try {
        m_pipeline->AddEncodedSource(caps, [this] { return NextEncodedUnit(); });
    } catch (...) {
        gst_caps_unref(caps);
        throw;
    }
    gst_caps_unref(caps);
    m_fileName = ReserveFileName(recordPath, false);
    m_pipeline->BuildCopy(settings.recordContainer, codec, m_fileName, m_host->GetCameraName());
}

void CRecContext::BuildEncodingBranch(const CRecordSettings& settings, const std::string& recordPath) {
    const bool h264 = IsH264Container(settings.recordContainer);
    const int32_t width = m_host->GetFrameWidth();
    const int32_t height = m_host->GetFrameHeight();
    const int32_t stride = m_host->GetFrameStride();
    // A camera view keeps its frames as I420 of the camera's size: they go to the source as
    // they are. Frames kept as they came are BGR rows of the host's stride.
    int32_t bufferedWidth = 0;
    int32_t bufferedHeight = 0;
    const bool i420 =
        m_buffer->GetFrameFormat(&bufferedWidth, &bufferedHeight) == CPreEventBuffer::EFrameFormat::I420 &&
        bufferedWidth == width && bufferedHeight == height;
    if (!i420 && width > 0 && stride != BgrRowStride(width)) {
        // The pre-event buffer's frames are copied as they are into the source's frames.
        THROW_DIRECTX_INFO(VFW_E_INVALIDMEDIATYPE, "Could not set the video format of TavrixSource filter.",
                           "row stride " + std::to_string(stride) + " for a width of " +
                               std::to_string(width));
    }
    m_pipeline->AddSource(this, width, height, m_frameTime, i420 ? kTavrixFormatI420 : kTavrixFormatBgr);
    m_fileName = ReserveFileName(recordPath, settings.wmvActive && !h264);
    if (h264) {
        m_pipeline->BuildH264(settings.recordContainer, static_cast<int64_t>(settings.bitRate) * 1024,
                              m_fileName, m_frameTime, settings.h264Encoder, settings.h264Preset,
                              [this](const std::string& text) { Log(text); });
    } else if (settings.wmvActive) {
        m_pipeline->BuildWmv(settings.codec, settings.codecFormat,
                             static_cast<int64_t>(settings.bitRate) * 1024, m_fileName, width, height,
                             m_frameTime);
    } else {
        m_pipeline->BuildAvi(settings.compressorDN, settings.compressorData, m_fileName,
                             [this](const std::string& text) { Log(text); });
    }
}

bool CRecContext::OpenEncodedReader(const CRecordSettings& settings) {
    CEncodedPreEventBuffer* encoded = m_host->GetEncodedPreEventBuffer();
    if (encoded == nullptr || !IsH264Container(settings.recordContainer) || encoded->GetCodec().empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_iteratorLock);
    m_encodedBuffer = encoded;
    m_encodedReader = encoded->OpenReader();
    if (m_abortRequested) {
        m_encodedReader->Abort();
    }
    m_copy.store(true);
    TRACE("CRecContext::StartRecordBlocking() copies the camera's %s stream RC %p",
          encoded->GetCodec().c_str(), static_cast<void*>(this));
    return true;
}

GstBuffer* CRecContext::NextEncodedUnit() {
    // Opened before the pipeline starts and closed only after it has stopped.
    CEncodedPreEventBuffer::CReader* reader = m_encodedReader.get();
    GstBuffer* unit = reader != nullptr ? reader->Next() : nullptr;
    if (unit == nullptr) {
        return nullptr;
    }
    const GstClockTime dts = GST_BUFFER_DTS(unit);
    const GstClockTime pts = GST_BUFFER_PTS(unit);
    if (!GST_CLOCK_TIME_IS_VALID(m_copyBase)) {
        m_copyBase = GST_CLOCK_TIME_IS_VALID(dts) ? dts : GST_CLOCK_TIME_IS_VALID(pts) ? pts : 0;
    }
    // The camera's stream and its pre-event buffer share the unit's memory; only the times of
    // this copy's buffer are changed.
    unit = gst_buffer_make_writable(unit);
    const auto rebase = [this](GstClockTime time) {
        return GST_CLOCK_TIME_IS_VALID(time) ? (time > m_copyBase ? time - m_copyBase : 0)
                                             : GST_CLOCK_TIME_NONE;
    };
    GST_BUFFER_DTS(unit) = rebase(dts);
    GST_BUFFER_PTS(unit) = rebase(pts);
    return unit;
}

std::string CRecContext::ReserveFileName(const std::string& recordPath, bool wmv) {
    const char* const message = wmv ? "Failed to set target filename" : "Unable to set record file name.";
    // Inside the record folder only; the template's own sub-folders are made here.
    const CRecordFilePath prepared = PrepareRecordFilePath(recordPath, m_host->GetRecordFileName());
    if (FAILED(prepared.hr)) {
        THROW_DIRECTX_INFO(prepared.hr, message, prepared.problem);
    }
    const std::string& name = prepared.relative;
    const std::string folder = prepared.path.substr(0, prepared.path.size() - name.size());
    const size_t slash = name.rfind('/');
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        // A file of an earlier recording with the same name (two recordings in one second) is
        // kept: this one gets "_1", "_2", ... before its extension.
        const std::string candidate =
            folder + (attempt == 0 ? name : stem + "_" + std::to_string(attempt) + extension);
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            close(fd);
            m_fileReserved = true;
            avirepair::BeginRecording(candidate); // not a file a crash left
            return candidate;
        }
        if (errno != EEXIST) {
            const int error = errno;
            THROW_DIRECTX_INFO(HResultFromErrno(error), message, candidate + ": " + std::strerror(error));
        }
    }
    THROW_DIRECTX_INFO(E_FAIL, message, folder + name + " and its numbered variants exist");
}

void CRecContext::OnStartFailed(const CBaseException& exception) {
    m_startedEvent.Set(); // in case the start failed before it could release StartRecord
    {
        // Already done when the start thread ran; not when it could not be created.
        platform::CAutoLock lock(m_StartStopCritSec);
        CleanUpFailedStart();
    }
    m_host->AsyncRecContextFailed(this);
    ReportException(exception, m_host->GetDocumentName(), m_host->GetCameraName());
    RemoveFromSet(); // the last call to the host
    Finish();
}

void CRecContext::CleanUpFailedStart() {
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        m_forwardEvents = false;
    }
    {
        std::lock_guard<std::mutex> lock(m_lifeLock);
        m_startFailed = true;
    }
    AbortIterator(); // no frame wait may hold up the pipeline's stop
    m_pipeline.reset();
    m_eventRec.Stop();
    CloseIterator();
    if (m_fileReserved) {
        // A recording that never started leaves no file behind.
        unlink(m_fileName.c_str());
        m_fileReserved = false;
    }
    m_started = false;
}

// ---- stop ----

void CRecContext::AsyncStop(CRecContext* rc) {
    TRACE("CRecContext::AsyncStop() started RC %p", static_cast<void*>(rc));
    bool stopped = true;
    try {
        stopped = rc->StopRecordBlocking();
    } catch (const CBaseException& exception) {
        rc->OnStopFailed(exception);
    } catch (const std::exception& error) {
        const CGeneralEx failure(TAVRIX_THROW_SOURCE, "CGeneralEx", __LINE__, "Unable to stop the recording.",
                                 error.what());
        rc->OnStopFailed(failure);
    }
    // A stop after a failed start has nothing to do and must not call the host: the start
    // has left the host's set, and the host may be gone.
    if (stopped) {
        rc->RemoveFromSet(); // the last call to the host
    }
    rc->Finish();
    TRACE("CRecContext::AsyncStop() exit thread RC %p", static_cast<void*>(rc));
    rc->Release();
}

bool CRecContext::StopRecordBlocking() {
    TRACE("CRecContext::StopRecordBlocking() entered");
    platform::CAutoLock lock(m_StartStopCritSec);
    TRACE("CRecContext::StopRecordBlocking() got m_StartStopCritSec");
    {
        std::lock_guard<std::mutex> lifeLock(m_lifeLock);
        if (m_startFailed) {
            TRACE("CRecContext::StopRecordBlocking() start failed, nothing to stop RC %p",
                  static_cast<void*>(this));
            return false;
        }
    }
    if (!m_started) {
        TRACE("CRecContext::StopRecordBlocking() rc started twice RC %p", static_cast<void*>(this));
        TRACER_STOP_HERE();
    }
    TRACE("CRecContext::StopRecordBlocking() start flushing the iterator");
    if (CPreEventBufferIterator* it = m_iterator.load()) {
        it->FlushIterator(true);
    }
    {
        // A copy delivers the units buffered until now; the end of the stream follows them.
        std::lock_guard<std::mutex> iteratorLock(m_iteratorLock);
        if (m_encodedReader) {
            m_encodedReader->Flush();
        }
    }
    TRACE("CRecContext::StopRecordBlocking() finished flushing the iterator");
    if (m_started) {
        try {
            StopRecordGraph();
        } catch (...) {
            CloseAfterStop();
            throw;
        }
    }
    CloseAfterStop();
    return true;
}

void CRecContext::StopRecordGraph() {
    TRACE("CRecContext::StopRecordGraph() entered");
    Log("Finished recording to '" + m_fileName + "'");
    if (m_pipeline) {
        // The source ends the stream once the iterator is flushed or aborted; the writers finish
        // their files when the end of the stream reaches them.
        platform::CSyncObject* const ends[] = {&m_streamEndedEvent, &m_streamErrorEvent};
        int ended = platform::WaitForObjects(ends, 2, kEndOfStreamTimeoutMs);
        if (ended == 1) {
            ended = m_streamEndedEvent.Wait(kEndOfStreamAfterErrorMs) ? 0 : platform::kWaitTimeout;
        }
        if (ended != 0) {
            TRACE("CRecContext::StopRecordGraph() the end of the stream did not reach the writer");
        }
        TRACE("CRecContext::StopRecordGraph() stop the record graph.");
        m_pipeline->Stop();
        TRACE("CRecContext::StopRecordGraph() stop finished.");
        TRACE("CRecContext::StopRecordGraph() Stop abort event receiver.");
        m_eventRec.Stop();
        TRACE("CRecContext::StopRecordGraph() stop abort event receiver finished.");
        m_pipeline.reset();
    }
    RaiseEvent(kEventRecordFinish);
    TRACE("CRecContext::StopRecordGraph() finished");
}

void CRecContext::CloseAfterStop() {
    AbortIterator(); // after a failed stop a frame wait could still hold up the pipeline
    m_eventRec.Stop();
    m_pipeline.reset();
    CloseIterator();
    m_started = false;
}

void CRecContext::OnStopFailed(const CBaseException& exception) {
    m_host->AsyncRecContextFailed(this);
    ReportException(exception, m_host->GetDocumentName(), m_host->GetCameraName());
}

// ---- helpers ----

void CRecContext::RemoveFromSet() {
    if (m_inSet) {
        m_inSet = false;
        m_host->RemoveFromRCSet(this);
    }
}

void CRecContext::AbortIterator() {
    std::lock_guard<std::mutex> lock(m_iteratorLock);
    if (m_encodedReader) {
        m_encodedReader->Abort();
    }
    if (CPreEventBufferIterator* it = m_iterator.load()) {
        it->AbortIterator();
    } else {
        m_abortRequested = true;
    }
}

void CRecContext::CloseIterator() {
    std::lock_guard<std::mutex> lock(m_iteratorLock);
    if (CPreEventBufferIterator* it = m_iterator.exchange(nullptr)) {
        m_buffer->StopIterator(it);
    }
    if (m_encodedReader) {
        m_encodedBuffer->CloseReader(m_encodedReader);
        m_encodedReader.reset();
    }
}

void CRecContext::RaiseEvent(int32_t kind) {
    try {
        m_host->RaiseCameraEvent(kind, m_fileName);
    } catch (const CBaseException& exception) {
        // The chain's failure does not undo the recording.
        ReportException(exception, m_host->GetDocumentName(), m_host->GetCameraName());
    }
}

void CRecContext::Log(const std::string& text) {
    CNotificationLog::Instance().AddEntry(m_host->GetDocumentName(), m_host->GetCameraName(), text);
}
