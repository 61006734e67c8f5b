#include "recording/DxEventRec.h"

#include "foundation/Exceptions.h"
#include "foundation/Tracer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr HRESULT kOpenFailed = HResultFromWin32(110); // ERROR_OPEN_FAILED
constexpr HRESULT kReadFault = HResultFromWin32(30);   // ERROR_READ_FAULT
constexpr HRESULT kSeekError = HResultFromWin32(25);   // ERROR_SEEK
constexpr HRESULT kBusy = HResultFromWin32(170);       // ERROR_BUSY

bool Mentions(const char* text, const char* what) {
    return text != nullptr && std::strstr(text, what) != nullptr;
}

// Whether a pipeline error is a full disk, also when the element reported it in other words.
bool IsDiskFull(const GError* error, const char* debug) {
    if (error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_NO_SPACE_LEFT) {
        return true;
    }
    const char* text = std::strerror(ENOSPC);
    return Mentions(debug, "ENOSPC") || Mentions(debug, text) || Mentions(error->message, text);
}

uint32_t DomainIndex(GQuark domain) {
    if (domain == GST_CORE_ERROR) {
        return 1;
    }
    if (domain == GST_LIBRARY_ERROR) {
        return 2;
    }
    if (domain == GST_RESOURCE_ERROR) {
        return 3;
    }
    if (domain == GST_STREAM_ERROR) {
        return 4;
    }
    return 15;
}

// Whether the abort descriptor has been signalled, tested without waiting.
bool IsSignalled(int fd) {
    pollfd pfd{fd, POLLIN, 0};
    int n;
    do {
        n = poll(&pfd, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n != 0; // a failed poll counts as signalled: stop dispatching
}

} // namespace

CDxEventRec::~CDxEventRec() {
    if (m_running) {
        Stop();
    }
}

void CDxEventRec::Start(GstElement* pipeline, CDxEventRecDB* callback) {
    if (m_running) {
        Stop();
    }
    GstBus* bus = pipeline != nullptr ? gst_element_get_bus(pipeline) : nullptr;
    if (bus == nullptr) {
        THROW_GENERAL("Unable to get IMediaEvent of filter graph.");
    }
    GPollFD busFd{-1, 0, 0};
    gst_bus_get_pollfd(bus, &busFd);
    if (busFd.fd < 0) {
        gst_object_unref(bus);
        THROW_GENERAL("Unable to get DirectX media event handle.");
    }
    const int abortFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int threadAbortFd = abortFd >= 0 ? fcntl(abortFd, F_DUPFD_CLOEXEC, 0) : -1;
    if (threadAbortFd < 0) {
        if (abortFd >= 0) {
            close(abortFd);
        }
        gst_object_unref(bus);
        THROW_GENERAL("Unable to create dx event thread abort event.");
    }
    // The thread waits until this object is set up: its first callback may already call Stop.
    std::promise<void> ready;
    try {
        gst_object_ref(bus); // the thread's own reference
        m_thread = std::thread(&CDxEventRec::ThreadProc, bus, threadAbortFd, callback, ready.get_future());
    } catch (const std::system_error&) {
        gst_object_unref(bus);
        gst_object_unref(bus);
        close(threadAbortFd);
        close(abortFd);
        THROW_GENERAL("Unable to create dx event thread.");
    }
    m_bus = bus;
    m_abortFd = abortFd;
    m_running = true;
    ready.set_value();
    TRACE("CDxEventRec::Start() receiver started for %p", static_cast<void*>(pipeline));
}

void CDxEventRec::Stop() {
    if (!m_running) {
        return;
    }
    const uint64_t one = 1;
    if (write(m_abortFd, &one, sizeof one) < 0) {
        TRACE("CDxEventRec::Stop() could not signal the abort event (errno %d)", errno);
    }
    if (m_thread.get_id() == std::this_thread::get_id()) {
        // Called from the callback: the thread ends by itself once the callback returns.
        m_thread.detach();
    } else if (m_thread.joinable()) {
        m_thread.join();
    }
    close(m_abortFd);
    m_abortFd = -1;
    gst_object_unref(m_bus);
    m_bus = nullptr;
    m_running = false;
    TRACE("CDxEventRec::Stop() receiver stopped");
}

void CDxEventRec::ThreadProc(GstBus* bus, int abortFd, CDxEventRecDB* callback, std::future<void> ready) {
    ready.wait();
    GPollFD busFd{-1, 0, 0};
    gst_bus_get_pollfd(bus, &busFd);
    for (;;) {
        pollfd fds[2] = {{abortFd, POLLIN, 0}, {busFd.fd, POLLIN, 0}};
        const int n = poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            TRACE("CDxEventRec::ThreadProc() wait failed (errno %d)", errno);
            break;
        }
        // The abort signal wins over pending messages.
        if (fds[0].revents != 0) {
            break;
        }
        if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            TRACE("CDxEventRec::ThreadProc() bus can no longer be waited on");
            break;
        }
        bool aborted = false;
        while (GstMessage* message = gst_bus_pop(bus)) {
            long code = 0;
            LONG_PTR param1 = 0;
            LONG_PTR param2 = 0;
            const bool pass = TranslateMessage(message, &code, &param1, &param2);
            if (!pass) {
                TRACE("CDxEventRec::ThreadProc() %s from %s not passed on", GST_MESSAGE_TYPE_NAME(message),
                      GST_MESSAGE_SRC_NAME(message) ? GST_MESSAGE_SRC_NAME(message) : "?");
            }
            gst_message_unref(message);
            // A Stop from inside an earlier callback ends the delivery here.
            if (IsSignalled(abortFd)) {
                aborted = true;
                break;
            }
            if (pass && callback != nullptr) {
                callback->DxEvent(code, param1, param2);
            }
        }
        if (aborted) {
            break;
        }
    }
    close(abortFd);
    gst_object_unref(bus);
}

bool CDxEventRec::PostEvent(GstElement* pipeline, long code, LONG_PTR param1, LONG_PTR param2) {
    GstBus* bus = pipeline != nullptr ? gst_element_get_bus(pipeline) : nullptr;
    if (bus == nullptr) {
        return false;
    }
    GstStructure* structure = gst_structure_new(
        kEventStructureName, "code", G_TYPE_INT64, static_cast<gint64>(code), "param1", G_TYPE_INT64,
        static_cast<gint64>(param1), "param2", G_TYPE_INT64, static_cast<gint64>(param2), nullptr);
    const bool posted = gst_bus_post(bus, gst_message_new_application(GST_OBJECT(pipeline), structure));
    gst_object_unref(bus);
    return posted;
}

bool CDxEventRec::TranslateMessage(GstMessage* message, long* code, LONG_PTR* param1, LONG_PTR* param2) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        *code = EC_ERRORABORT;
        *param1 = HResultFromGstError(error, debug);
        *param2 = 0;
        TRACE("CDxEventRec: error from %s: %s (%s) -> 0x%08X",
              GST_MESSAGE_SRC_NAME(message) ? GST_MESSAGE_SRC_NAME(message) : "?",
              error ? error->message : "", debug ? debug : "", static_cast<unsigned>(*param1));
        g_clear_error(&error);
        g_free(debug);
        return true;
    }
    case GST_MESSAGE_EOS:
        *code = EC_COMPLETE;
        *param1 = S_OK;
        *param2 = 0;
        return true;
    case GST_MESSAGE_APPLICATION: {
        const GstStructure* structure = gst_message_get_structure(message);
        gint64 c = 0;
        gint64 p1 = 0;
        gint64 p2 = 0;
        if (structure == nullptr || !gst_structure_has_name(structure, kEventStructureName) ||
            !gst_structure_get_int64(structure, "code", &c) ||
            !gst_structure_get_int64(structure, "param1", &p1) ||
            !gst_structure_get_int64(structure, "param2", &p2)) {
            return false;
        }
        *code = static_cast<long>(c);
        *param1 = static_cast<LONG_PTR>(p1);
        *param2 = static_cast<LONG_PTR>(p2);
        return true;
    }
    default:
        return false;
    }
}

HRESULT CDxEventRec::HResultFromGstError(const GError* error, const char* debug) {
    if (error == nullptr) {
        return E_FAIL;
    }
    if (IsDiskFull(error, debug)) {
        return HRESULT_DISK_FULL;
    }
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
            return HRESULT_FILE_NOT_FOUND;
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            return kOpenFailed;
        case GST_RESOURCE_ERROR_READ:
            return kReadFault;
        case GST_RESOURCE_ERROR_WRITE:
            return HRESULT_WRITE_FAULT;
        case GST_RESOURCE_ERROR_SEEK:
            return kSeekError;
        case GST_RESOURCE_ERROR_BUSY:
            return kBusy;
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return E_ACCESSDENIED;
        default:
            break;
        }
    }
    if ((error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION) ||
        (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FORMAT)) {
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    if (error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_NOT_IMPLEMENTED) {
        return E_NOTIMPL;
    }
    return static_cast<HRESULT>(0xA0000000u | (DomainIndex(error->domain) << 16) |
                                (static_cast<uint32_t>(error->code) & 0xFFFFu));
}
