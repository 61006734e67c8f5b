#pragma once
// CDxEventRec: the event receiver of one GStreamer pipeline. A thread of its own waits for the
// pipeline's bus (and, before it, for its own abort signal), pops every message and hands those
// that mean something to the application to a CDxEventRecDB callback as (code, param1, param2),
// the shape of the media events the camera side handles. A record context (CRecContext) starts
// one on its recording pipeline; a camera view starts one on its preview pipeline.
//
// Threads: Start and Stop are called by the owner (one thread at a time); the callback runs on
// the receiver thread. Stop may also be called from inside the callback: it then only signals
// the thread, which ends after the callback returns. PostEvent may be called from any thread.
//
// How bus messages become events (everything else is traced and not passed on):
//
//   message                          code                 param1                        param2
//   GST_MESSAGE_ERROR                EC_ERRORABORT (3)    HResultFromGstError(...)      0
//   GST_MESSAGE_EOS                  EC_COMPLETE (1)      S_OK                          0
//   application "tavrix-dx-event"    as posted            as posted                     as posted
//   (PostEvent; the camera posts EC_DEVICE_LOST (31) with param2 0 = lost, 1 = back)
//
// HResultFromGstError, for the error's domain and code:
//   resource NO_SPACE_LEFT, or any error whose texts mention ENOSPC  0x80070070 (disk full)
//   resource NOT_FOUND                                               0x80070002
//   resource OPEN_READ, OPEN_WRITE, OPEN_READ_WRITE                  0x8007006E (open failed)
//   resource READ                                                    0x8007001E (read fault)
//   resource WRITE                                                   0x8007001D (write fault)
//   resource SEEK                                                    0x80070019 (seek error)
//   resource BUSY                                                    0x800700AA (busy)
//   resource NOT_AUTHORIZED                                          0x80070005 (access denied)
//   core NEGOTIATION, stream FORMAT                                  0x80040207 (no acceptable types)
//   stream NOT_IMPLEMENTED                                           0x80004001 (not implemented)
//   any other error                 0xA0000000 | domain << 16 | code, domain 1 core, 2 library,
//                                   3 resource, 4 stream, 15 any other (stable across runs)
// A null error gives E_FAIL.

#include "platform/HResult.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <thread>

using LONG_PTR = intptr_t;

// Event codes passed to CDxEventRecDB::DxEvent.
constexpr long EC_COMPLETE = 0x01;    // the stream has ended (end-of-stream reached every sink)
constexpr long EC_USERABORT = 0x02;   // not produced here; kept for the callbacks' switch statements
constexpr long EC_ERRORABORT = 0x03;  // the pipeline failed; param1 the error's result code
constexpr long EC_DEVICE_LOST = 0x1F; // a capture device went away (param2 0) or came back (1)

// Receives the events of a pipeline, on the receiver thread.
class CDxEventRecDB {
public:
    virtual void DxEvent(long code, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~CDxEventRecDB() = default;
};

class CDxEventRec {
public:
    // The name of the application message structure that PostEvent posts.
    static constexpr const char* kEventStructureName = "tavrix-dx-event";

    CDxEventRec() = default;
    // Stops the receiver if it is running.
    ~CDxEventRec();
    CDxEventRec(const CDxEventRec&) = delete;
    CDxEventRec& operator=(const CDxEventRec&) = delete;

    // Starts receiving the events of pipeline (any element with a bus) for callback. A receiver
    // that is running is stopped first. Throws CGeneralEx "Unable to get IMediaEvent of filter
    // graph." (no bus), "Unable to get DirectX media event handle." (the bus cannot be waited
    // on), "Unable to create dx event thread abort event." or "Unable to create dx event thread.".
    void Start(GstElement* pipeline, CDxEventRecDB* callback);
    // Signals the receiver thread to end and, unless called on that thread, waits for it. Events
    // still on the bus are not delivered any more. Does nothing when not running.
    void Stop();
    bool IsRunning() const { return m_running.load(); }

    // Posts an event on the pipeline's bus; the receiver delivers it in order with the
    // pipeline's own messages. False when the pipeline has no bus or the bus refused it (a
    // pipeline going to NULL flushes its bus).
    static bool PostEvent(GstElement* pipeline, long code, LONG_PTR param1, LONG_PTR param2);

    // The event of one bus message; false when the message is not passed on (see the table).
    static bool TranslateMessage(GstMessage* message, long* code, LONG_PTR* param1, LONG_PTR* param2);
    // The result code of a pipeline error (see the table).
    static HRESULT HResultFromGstError(const GError* error, const char* debug);

private:
    // The thread owns its own bus reference and abort descriptor, so that a Stop from inside the
    // callback leaves nothing behind that the thread still reads.
    static void ThreadProc(GstBus* bus, int abortFd, CDxEventRecDB* callback, std::future<void> ready);

    GstBus* m_bus = nullptr; // reference held while running
    int m_abortFd = -1;      // eventfd signalled by Stop
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};
