#include "recording/PreEventBuffer.h"

#include "foundation/Tracer.h"

#include <algorithm>
#include <new>

CPreEventBuffer::CPreEventBuffer(int32_t size) {
    SetBufferSize(size);
}

CPreEventBuffer::~CPreEventBuffer() {
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
    if (size < m_CurrentSize) {
        DestroyOldest(m_CurrentSize - size);
    }
    m_Size = size;
    if (m_Size < m_CurrentSize) {
        m_CurrentSize = m_Size;
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
    platform::CAutoLock bufferLock(m_BufferLock);
    platform::CAutoLock listLock(m_ListLock);
    TRACE("Add sample m_CurrentSize %d", m_CurrentSize);

    CPreEventBufferElement* element = nullptr;
    if (m_CurrentSize < m_Size) {
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
        element->sample->CopyFrom(*sample);
    }

    for (CPreEventBufferIterator* it : m_Iterators) {
        it->AddedOneSample(element);
    }
}

void CPreEventBuffer::SetLastSampleDuration(REFERENCE_TIME duration) {
    platform::CAutoLock bufferLock(m_BufferLock);
    if (m_Tail != nullptr && m_Tail->sample) {
        m_Tail->sample->SetDuration(duration);
    }
}

CPreEventBufferIterator* CPreEventBuffer::StartIterator() {
    platform::CAutoLock bufferLock(m_BufferLock);
    platform::CAutoLock listLock(m_ListLock);
    TRACE("Start iterator in PreBuffer %p.", static_cast<void*>(this));

    int32_t skipped = std::max(m_CurrentSize - m_Size, 0);
    int32_t count = std::min(m_Size, m_CurrentSize);
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
        if (m_CurrentSize > m_Size) {
            DestroyOldest(m_CurrentSize - m_Size);
        }
    }
}
