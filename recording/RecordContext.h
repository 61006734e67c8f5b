#pragma once
// CRecContext: one recording of one camera into one video file. The camera view (the host,
// IRecContextHost) creates one when the camera enters recording and asks it to stop when the
// recording ends. Starting builds a recording pipeline of its own (CRecordPipeline): the
// "tavrixsource" element, which asks this context for every frame (GetSampleCB), and an AVI or
// WMV writer. The frames come from an iterator on the camera's pre-event buffer, so the file
// begins with the buffered frames from before the event and goes on with live frames until the
// stop flushes the iterator. A camera that keeps its pre-event time encoded (a network camera's
// own H.264 or H.265, or a local camera's continuous encoder; IRecContextHost::
// GetEncodedPreEventBuffer) records MP4 and Matroska by copying those access units instead:
// a reader on the encoded buffer feeds an appsrc, and no decoder or encoder runs for the
// recording. A stop ends the stream (end-of-stream through the pipeline, so the
// writers finish their files), stops the pipeline and closes the iterator.
//
// Threads: the host calls StartRecord, StopRecord and ForceStopRecord from its own threads; the
// work runs on a start thread and a stop thread of the context's own, so that no caller waits for
// pipeline building or flushing. m_StartStopCritSec is held for the whole of a start and of a
// stop, so a stop always runs after its start has finished. GetSampleCB runs on the source's
// streaming thread and DxEvent on the pipeline event receiver's thread.
//
// Lifetime: the context deletes itself. It lives while its start thread, its stop thread or a
// caller inside StartRecord still uses it, and until it has either failed to start or finished
// its stop; the last of them deletes it. It is in its host's record-context set from before
// StartRecord returns until its last call to the host (AddToRCSet first, RemoveFromRCSet last),
// so a host that force-stops the members of its set and waits for the set to empty may then go
// away. ForceStopRecord is allowed while the context is in the set, and from the host's
// DxEventRec; StopRecord once, while the context is in the set and the host has not been told
// of a failure (AsyncRecContextFailed).
//
// Lock order: m_StartStopCritSec, then m_iteratorLock (taken before the pre-event buffer's own
// locks), m_eventLock, m_lifeLock (innermost; neither is held while calling out or waiting). No
// lock of the context is held while the host is called, except m_StartStopCritSec on the start
// and stop threads.

#include "platform/HResult.h"
#include "platform/MediaSample.h"
#include "platform/Sync.h"
#include "recording/DxEventRec.h"
#include "recording/EncodedPreEventBuffer.h"
#include "recording/RecContextHost.h"
#include "source/ITavrixSource.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CBaseException;
class CPreEventBufferIterator;
class CRecordPipeline;

class CRecContext final : public ITavrixSourceCB, public CDxEventRecDB {
public:
    // The longest a stop waits for the end of the stream to reach the writer (an encoder may
    // still be compressing its last frames) before it stops the pipeline anyway.
    static constexpr uint32_t kEndOfStreamTimeoutMs = 30000;
    // The shortest a start waits for the pipeline to play (its first frame at the writer).
    static constexpr uint32_t kMinPrerollTimeoutMs = 2000;
    // The frame time a file gets when the capture's frame time is not known: 25 frames a second.
    static constexpr REFERENCE_TIME kDefaultFrameTime = 400000;

    // Remembers the host and its pre-event buffer; nothing is started.
    explicit CRecContext(IRecContextHost* host);
    CRecContext(const CRecContext&) = delete;
    CRecContext& operator=(const CRecContext&) = delete;

    // Starts the recording on the start thread and returns once that thread holds
    // m_StartStopCritSec; the recording may still be being built or may fail later (then the
    // host hears of it through AsyncRecContextFailed). Called once.
    void StartRecord();
    // Asks for the stop and returns at once; the stop thread ends the recording and deletes the
    // context. A second request is ignored.
    void StopRecord();
    // Stops now: frames not yet written are dropped, the file is still finished properly. Starts
    // a stop unless one was already requested.
    void ForceStopRecord();

    // ITavrixSourceCB, on the source's streaming thread: the next frame from the iterator, or
    // TAVRIX_S_END_OF_STREAM once the iterator has been flushed to its end or aborted.
    HRESULT GetSampleCB(CMediaSample* sample, REFERENCE_TIME* duration) override;
    // The same frames, lent rather than copied: the source wraps the pre-event buffer's bytes,
    // which stay unchanged until its buffer is freed (the buffer takes fresh bytes meanwhile).
    HRESULT LendSampleCB(CTavrixLentFrame* frame, REFERENCE_TIME* duration) override;
    // CDxEventRecDB, on the event receiver's thread: passes the recording pipeline's events to
    // the host's DxEventRec, of errors the first only. While the start runs, its first error is
    // held: the start fails with it when it came before the pipeline played, and otherwise
    // passes it on once the recording has started.
    void DxEvent(long code, LONG_PTR param1, LONG_PTR param2) override;

    // Frames that reached the file writer so far (any thread; for measurements).
    int64_t GetFramesWritten() const { return m_framesWritten.load(); }
    // Record contexts that exist (not yet deleted themselves), over the whole process.
    static int GetInstanceCount() { return s_instances.load(); }
    // Whether this recording copies an encoded stream (decided at the start).
    bool IsCopy() const { return m_copy.load(); }
    // Called with every recording pipeline once it is built, before it runs (tests look at its
    // elements); null for none. Any thread; the observer runs on the record start threads.
    using PipelineObserver = std::function<void(GstElement* pipeline, bool copy)>;
    static void SetPipelineObserver(PipelineObserver observer);

private:
    ~CRecContext();

    static void AsyncStart(CRecContext* rc);
    static void AsyncStop(CRecContext* rc);
    void StartRecordBlocking();
    // The start itself, with m_StartStopCritSec held.
    void StartRecordLocked();
    // False when there was nothing to stop (the start had failed).
    bool StopRecordBlocking();
    void StopRecordGraph();
    // The encoded buffer to copy from, with a reader opened on it, when the camera keeps one for
    // this container; false otherwise (the recording encodes the raw frames).
    bool OpenEncodedReader(const CRecordSettings& settings);
    // The source and writer of a recording that copies the encoded units, or that encodes the
    // raw frames (AVI, WMV, or MP4 and Matroska through the H.264 encoder).
    void BuildCopyBranch(const CRecordSettings& settings, const std::string& recordPath);
    void BuildEncodingBranch(const CRecordSettings& settings, const std::string& recordPath);
    // The next access unit of the copy, its times made to begin at 0; null at the end.
    GstBuffer* NextEncodedUnit();

    // The record file's full path, created empty so that no earlier recording is overwritten.
    std::string ReserveFileName(const std::string& recordPath, bool wmv);
    // Undoes a failed start (under m_StartStopCritSec): the pipeline, the receiver, the iterator
    // and the reserved file. Doing it twice does no harm.
    void CleanUpFailedStart();
    // After a stop (also a failed one): the receiver, the pipeline, the iterator.
    void CloseAfterStop();
    // Leaves the host's set: the last call a context makes to its host.
    void RemoveFromSet();
    void CloseIterator();
    // Aborts the iterator, or makes it open aborted when it is not open yet.
    void AbortIterator();
    void OnStartFailed(const CBaseException& exception);
    void OnStopFailed(const CBaseException& exception);
    // Raises a camera event; a failure of its chain is reported, the recording goes on.
    void RaiseEvent(int32_t kind);
    void Log(const std::string& text);
    // One more user of the context; Release deletes the context after its last user.
    void AddRef();
    void Release();
    // Releases the recording's own use, once: after a failed start or a finished stop.
    void Finish();

    static std::atomic<int> s_instances;

    IRecContextHost* const m_host;
    CPreEventBuffer* const m_buffer;

    platform::CCritSec m_StartStopCritSec;
    platform::CEvent m_startedEvent{false, false};    // the start thread holds the lock
    platform::CEvent m_streamEndedEvent{true, false}; // end-of-stream reached the bus
    platform::CEvent m_streamErrorEvent{true, false}; // an error reached the bus
    std::unique_ptr<CRecordPipeline> m_pipeline;      // the recording pipeline (graph)
    CDxEventRec m_eventRec;
    std::string m_fileName; // full path of the record file
    bool m_fileReserved = false;
    bool m_inSet = false; // in the host's record-context set
    bool m_started = false;
    REFERENCE_TIME m_frameTime = kDefaultFrameTime;
    std::atomic<int64_t> m_framesWritten{0};

    std::mutex m_iteratorLock; // m_iterator against ForceStopRecord
    std::atomic<CPreEventBufferIterator*> m_iterator{nullptr};
    CEncodedPreEventBuffer* m_encodedBuffer = nullptr; // of a copy, while the reader is open
    std::shared_ptr<CEncodedPreEventBuffer::CReader> m_encodedReader;
    std::atomic<bool> m_copy{false};
    GstClockTime m_copyBase = GST_CLOCK_TIME_NONE; // streaming thread: time of the first unit
    bool m_abortRequested = false;                 // a forced stop came before the iterator was opened

    struct CHeldEvent {
        bool held = false;
        long code = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
    };
    std::mutex m_eventLock;       // innermost
    bool m_forwardEvents = false; // the start has finished: events go to the host
    bool m_errorForwarded = false;
    CHeldEvent m_heldError; // the first error that came while the start ran

    std::mutex m_lifeLock; // innermost
    int m_users = 1;       // the recording itself, plus every thread inside
    bool m_stopRequested = false;
    bool m_startFailed = false;
    bool m_finished = false; // the recording's own use has been released
};
