#include "recording/PreEventBuffer.h"

#include "foundation/Tracer.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <unistd.h>

std::atomic<int32_t> CPreEventBuffer::s_buffers{0};

CPreEventBuffer::CPreEventBuffer(int32_t size) {
    s_buffers.fetch_add(1);
    SetBufferSize(size);
}

CPreEventBuffer::~CPreEventBuffer() {
    s_buffers.fetch_sub(1);
    platform::CAutoLock bufferLock(m_BufferLock);
    {
        // Iterators still open when the camera goes away are the buffer's to destroy.
        platform::CAutoLock listLock(m_ListLock);
        for (CPreEventBufferIterator* it : m_Iterators) {
            delete it;
        }
        m_Iterators.clear();
    }
    while (CPreEventBufferElement* element = UnlinkHead()) {
        delete element;
    }
    m_CurrentSize = 0;
}

int32_t CPreEventBuffer::GetBufferSize() {
    platform::CAutoLock bufferLock(m_BufferLock);
    return m_Size;
}

int32_t CPreEventBuffer::GetCurrentSize() {
    platform::CAutoLock bufferLock(m_BufferLock);
    return m_CurrentSize;
}

int32_t CPreEventBuffer::GetWindow() {
    platform::CAutoLock bufferLock(m_BufferLock);
    return m_Window;
}

int64_t CPreEventBuffer::GetHeldBytes() {
    platform::CAutoLock bufferLock(m_BufferLock);
    int64_t bytes = 0;
    for (const CPreEventBufferElement* element = m_Head; element != nullptr; element = element->next) {
        bytes += element->sample ? element->sample->GetCapacity() : 0;
    }
    return bytes;
}

int64_t CPreEventBuffer::PhysicalMemoryBytes() {
    static const int64_t bytes = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        return pages > 0 && pageSize > 0 ? static_cast<int64_t>(pages) * pageSize : int64_t{1} << 30;
    }();
    return bytes;
}

int64_t CPreEventBuffer::MemoryCapPerCamera(int64_t physicalBytes, int32_t cameras) {
    return physicalBytes / 4 / std::max<int32_t>(cameras, 1);
}

std::string CPreEventBuffer::FormatBytes(int64_t bytes) {
    char text[32];
    const double value = static_cast<double>(bytes);
    if (bytes >= 1000LL * 1000 * 1000) {
        std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
    } else if (bytes >= 1000LL * 1000) {
        std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
    } else if (bytes >= 1000) {
        std::snprintf(text, sizeof text, "%.0f KB", value / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%lld bytes", static_cast<long long>(bytes));
    }
    return text;
}

int64_t CPreEventBuffer::GetMemoryCap() {
    platform::CAutoLock bufferLock(m_BufferLock);
    return MemoryCapLocked();
}

int64_t CPreEventBuffer::MemoryCapLocked() const {
    return m_MemoryCap > 0 ? m_MemoryCap : MemoryCapPerCamera(PhysicalMemoryBytes(), s_buffers.load());
}

void CPreEventBuffer::SetMemoryCap(int64_t bytes) {
    platform::CAutoLock bufferLock(m_BufferLock);
    m_MemoryCap = std::max<int64_t>(bytes, 0);
    m_CutTold = false;
    UpdateWindow(m_FrameBytes, false); // told with the next frame
}

int64_t CPreEventBuffer::OverrunLimit() const {
    const int64_t designLimit = 10 * static_cast<int64_t>(m_Window);
    if (m_FrameBytes <= 0) {
        return designLimit;
    }
    // An overrun may hold at most twice the camera's share of memory.
    const int64_t memoryLimit = std::max<int64_t>(m_Window, 2 * MemoryCapLocked() / m_FrameBytes);
    return std::min(designLimit, memoryLimit);
}

std::string CPreEventBuffer::UpdateWindow(int64_t frameBytes, bool tell) {
    m_FrameBytes = frameBytes;
    if (frameBytes <= 0) {
        m_Window = m_Size;
        return {};
    }
    const int64_t cap = MemoryCapLocked();
    const int64_t fitting = std::max<int64_t>(cap / frameBytes, 1);
    const int32_t window = static_cast<int32_t>(std::min<int64_t>(m_Size, fitting));
    const bool changed = window != m_Window;
    m_Window = window;
    if (window >= m_Size || (m_CutTold && !changed)) {
        return {};
    }
    TRACE("CPreEventBuffer cut the window of %p from %d to %d frames (%lld bytes a frame, cap %lld bytes)",
          static_cast<void*>(this), m_Size, window, static_cast<long long>(frameBytes),
          static_cast<long long>(cap));
    if (m_CutTold || !tell || m_FrameDuration <= 0) {
        // Told once per target length, when the frame time is known (from the second frame on),
        // so that the line can say how many seconds are kept; a changed share is traced only.
        return {};
    }
    m_CutTold = true;
    char seconds[48];
    std::snprintf(seconds, sizeof seconds, " (%.1f s)", static_cast<double>(window) * m_FrameDuration / 1e7);
    return "Pre-event buffer cut to " + std::to_string(window) + " of " + std::to_string(m_Size) + " frames" +
           seconds + ": the pre-event time would take " + FormatBytes(frameBytes * m_Size) +
           ", more than this camera's share of memory (" + FormatBytes(cap) + ").";
}

CPreEventBufferElement* CPreEventBuffer::UnlinkHead() {
    CPreEventBufferElement* element = m_Head;
    if (element == nullptr) {
        return nullptr;
    }
    // The element keeps its next pointer: iterators standing on it move on to that element.
    m_Head = element->next;
    if (m_Head == nullptr) {
        m_Tail = nullptr;
    }
    return element;
}

void CPreEventBuffer::DestroyOldest(int32_t count) {
    platform::CAutoLock listLock(m_ListLock);
    for (int32_t i = 0; i < count; ++i) {
        CPreEventBufferElement* element = UnlinkHead();
        if (element == nullptr) {
            break;
        }
        for (CPreEventBufferIterator* it : m_Iterators) {
            it->CorrectReadPtr(element);
        }
        delete element;
        --m_CurrentSize;
    }
}

void CPreEventBuffer::SetBufferSize(int32_t size) {
    size = std::max(size, 0);
    platform::CAutoLock bufferLock(m_BufferLock);
    TRACE("SetBufferSize() to %d", size);
    if (size != m_Size) {
        m_CutTold = false;
    }
    m_Size = size;
    UpdateWindow(m_FrameBytes, false); // a cut is told with the next frame, on its thread
    if (m_Window < m_CurrentSize) {
        DestroyOldest(m_CurrentSize - m_Window);
    }
    if (m_Window < m_CurrentSize) {
        m_CurrentSize = m_Window;
    }
    // Iterators keep their positions; one that stood on a destroyed element was moved on to the
    // oldest element that remains.
    platform::CAutoLock listLock(m_ListLock);
    for (CPreEventBufferIterator* it : m_Iterators) {
        TRACE("Correct iterator %p -> Head %p Size %d", static_cast<void*>(it), static_cast<void*>(m_Head),
              m_CurrentSize);
    }
}

void CPreEventBuffer::AddSample(const CMediaSample* sample) {
    if (sample == nullptr || sample->GetSize() <= 0 || sample->GetPointer() == nullptr) {
        TRACE("Add sample ignored: no frame bytes");
        return;
    }
    std::string notice;
    {
        platform::CAutoLock bufferLock(m_BufferLock);
        AddFrameLocked(
            sample->GetSize(), [sample](CSampleBuffer& copy) { copy.CopyFrom(*sample); }, notice);
        m_FrameFormat = EFrameFormat::AsAdded;
    }
    TellNotice(notice);
}

void CPreEventBuffer::AddBgrFrameAsI420(const uint8_t* bgr, int32_t width, int32_t height, int32_t stride) {
    const CI420Layout layout = CI420Layout::For(width, height);
    if (bgr == nullptr || layout.size == 0 || stride < width * 3) {
        TRACE("Add frame ignored: no frame or no size");
        return;
    }
    std::string notice;
    {
        platform::CAutoLock bufferLock(m_BufferLock);
        AddFrameLocked(
            static_cast<int64_t>(layout.size),
            [&](CSampleBuffer& copy) { copy.ConvertFrom(bgr, stride, layout); }, notice);
        m_FrameFormat = EFrameFormat::I420;
        m_FrameWidth = width;
        m_FrameHeight = height;
    }
    TellNotice(notice);
}

void CPreEventBuffer::AddI420Frame(const uint8_t* const planes[3], const int32_t strides[3], int32_t width,
                                   int32_t height) {
    const CI420Layout layout = CI420Layout::For(width, height);
    if (layout.size == 0 || planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr ||
        strides[0] < width || strides[1] < (width + 1) / 2 || strides[2] < (width + 1) / 2) {
        TRACE("Add frame ignored: no frame or no size");
        return;
    }
    std::string notice;
    {
        platform::CAutoLock bufferLock(m_BufferLock);
        AddFrameLocked(
            static_cast<int64_t>(layout.size),
            [&](CSampleBuffer& copy) { copy.CopyI420From(planes, strides, layout); }, notice);
        m_FrameFormat = EFrameFormat::I420;
        m_FrameWidth = width;
        m_FrameHeight = height;
    }
    TellNotice(notice);
}

CPreEventBuffer::EFrameFormat CPreEventBuffer::GetFrameFormat(int32_t* width, int32_t* height) {
    platform::CAutoLock bufferLock(m_BufferLock);
    if (width != nullptr) {
        *width = m_FrameWidth;
    }
    if (height != nullptr) {
        *height = m_FrameHeight;
    }
    return m_Tail != nullptr ? m_FrameFormat : EFrameFormat::AsAdded;
}

void CPreEventBuffer::TellNotice(const std::string& notice) {
    if (!notice.empty() && m_notice) {
        m_notice(notice);
    }
}

template <typename Fill>
void CPreEventBuffer::AddFrameLocked(int64_t frameBytes, const Fill& fill, std::string& notice) {
    platform::CAutoLock listLock(m_ListLock);
    TRACE("Add sample m_CurrentSize %d", m_CurrentSize);
    // The frame size, or the number of cameras sharing the memory, may have changed.
    notice = UpdateWindow(frameBytes, true);
    if (m_Iterators.empty() && m_CurrentSize > m_Window) {
        DestroyOldest(m_CurrentSize - m_Window); // a cut window gives its memory back
    }

    CPreEventBufferElement* element = nullptr;
    if (m_CurrentSize < m_Window) {
        TRACE("create new, buffer not full");
    } else {
        TRACE("try to reuse element");
        if (m_CurrentSize > OverrunLimit()) {
            TRACE("do reuse forced");
            element = UnlinkHead();
            if (element != nullptr) {
                for (CPreEventBufferIterator* it : m_Iterators) {
                    it->CorrectReadPtr(element);
                }
            }
        } else if (std::any_of(m_Iterators.begin(), m_Iterators.end(), [this](CPreEventBufferIterator* it) {
                       return it->IsCurrentReadPtr(m_Head);
                   })) {
            TRACE("reuse not possible --> overrun");
        } else {
            TRACE("do reuse");
            element = UnlinkHead();
        }
    }

    if (element == nullptr) {
        element = new (std::nothrow) CPreEventBufferElement;
        if (element == nullptr) {
            TRACE("Add sample dropped: no memory for a new element");
            return;
        }
        ++m_CurrentSize;
    }
    element->next = nullptr;
    if (m_Tail != nullptr) {
        m_Tail->next = element;
    } else {
        m_Head = element;
    }
    m_Tail = element;

    if (!element->sample) {
        element->sample.reset(new (std::nothrow) CSampleBuffer);
    }
    if (element->sample) {
        fill(*element->sample);
    }

    for (CPreEventBufferIterator* it : m_Iterators) {
        it->AddedOneSample(element);
    }
}

void CPreEventBuffer::SetLastSampleDuration(REFERENCE_TIME duration) {
    platform::CAutoLock bufferLock(m_BufferLock);
    if (m_Tail != nullptr && m_Tail->sample) {
        m_Tail->sample->SetDuration(duration);
        m_FrameDuration = duration;
    }
}

CPreEventBufferIterator* CPreEventBuffer::StartIterator() {
    platform::CAutoLock bufferLock(m_BufferLock);
    platform::CAutoLock listLock(m_ListLock);
    TRACE("Start iterator in PreBuffer %p.", static_cast<void*>(this));

    int32_t skipped = std::max(m_CurrentSize - m_Window, 0);
    int32_t count = std::min(m_Window, m_CurrentSize);
    if (count > CPreEventBufferIterator::kMaxPending) {
        // More frames than one iterator can have pending: start with the newest that fit.
        skipped += count - CPreEventBufferIterator::kMaxPending;
        count = CPreEventBufferIterator::kMaxPending;
    }
    CPreEventBufferElement* start = m_Head;
    for (int32_t i = 0; i < skipped && start != nullptr; ++i) {
        start = start->next;
    }

    auto* it = new CPreEventBufferIterator(this, start, count);
    TRACE("Created %p; Skipped %d frames, starting now with %p.", static_cast<void*>(it), skipped,
          static_cast<void*>(start));
    m_Iterators.push_back(it);
    return it;
}

void CPreEventBuffer::StopIterator(CPreEventBufferIterator* it) {
    platform::CAutoLock bufferLock(m_BufferLock);
    platform::CAutoLock listLock(m_ListLock);
    TRACE("Stop iterator %p in PreBuffer %p.", static_cast<void*>(it), static_cast<void*>(this));

    const auto found = std::find(m_Iterators.begin(), m_Iterators.end(), it);
    if (found == m_Iterators.end()) {
        TRACE("Iterator %p is not open on PreBuffer %p, nothing to stop.", static_cast<void*>(it),
              static_cast<void*>(this));
        return;
    }
    m_Iterators.erase(std::remove(m_Iterators.begin(), m_Iterators.end(), it), m_Iterators.end());
    delete it;

    if (m_Iterators.empty()) {
        TRACE("Stopped last iterator. Shrink PreBuffer list.");
        if (m_CurrentSize > m_Window) {
            DestroyOldest(m_CurrentSize - m_Window);
        }
    }
}
