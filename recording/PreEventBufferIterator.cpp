#include "recording/PreEventBufferIterator.h"

#include "foundation/Tracer.h"
#include "recording/PreEventBuffer.h"

CPreEventBufferIterator::CPreEventBufferIterator(CPreEventBuffer* buffer, CPreEventBufferElement* start,
                                                 int32_t count)
    : m_Buffer(buffer), m_CurrentReadPtr(start), m_SamplesToGet(count) {
    TRACE("CPreEventBufferIterator() c'tor for pre event buffer %p (%p)", static_cast<void*>(buffer),
          static_cast<void*>(this));
    TRACE("StartElement %p, SamplesToGet %d", static_cast<void*>(start), count);
    if (count > 0) {
        m_Available.Release(count);
    }
}

CPreEventBufferIterator::~CPreEventBufferIterator() {
    TRACE("CPreEventBufferIterator() d'tor %p", static_cast<void*>(this));
}

CPreEventBufferIterator::State CPreEventBufferIterator::GetState() {
    platform::CAutoLock lock(m_Lock);
    return m_State;
}

int32_t CPreEventBufferIterator::GetSamplesToGet() {
    platform::CAutoLock lock(m_Lock);
    return m_SamplesToGet;
}

void CPreEventBufferIterator::GetSample(CMediaSample* out, REFERENCE_TIME* duration, CFrameBytes** lent,
                                        int32_t* lentLength) {
    TRACE("CPreEventBufferIterator::GetSample() enter (%p)", static_cast<void*>(this));
    for (;;) {
        TRACE("CPreEventBufferIterator::GetSample() Get sample %d (%p)", GetSamplesToGet(),
              static_cast<void*>(this));
        // Wait before taking any lock, so that AddSample never waits for a blocked reader.
        const int signalled =
            platform::WaitForObjects({&m_AbortEvent, &m_FlushedEvent, &m_Available}, platform::kInfinite);
        if (signalled == 0) {
            TRACE("CPreEventBufferIterator::GetSample() abort (%p)", static_cast<void*>(this));
            return;
        }
        if (signalled == 1) {
            TRACE("CPreEventBufferIterator::GetSample() end reached during GetSample (%p)",
                  static_cast<void*>(this));
            return;
        }
        TRACE("CPreEventBufferIterator::GetSample() after sema wait (%p)", static_cast<void*>(this));

        platform::CAutoLock bufferLock(m_Buffer->m_BufferLock);
        platform::CAutoLock lock(m_Lock);
        if (m_State == State::flushed) {
            TRACE("CPreEventBufferIterator::GetSample() already finished flushing. return. (%p)",
                  static_cast<void*>(this));
            return;
        }
        if (m_VoidedWakeups > 0) {
            // The frame this count was for was recycled between the wait and the lock.
            --m_VoidedWakeups;
            TRACE("CPreEventBufferIterator::GetSample() frame recycled before it was read, wait again (%p)",
                  static_cast<void*>(this));
            continue;
        }
        if (m_CurrentReadPtr == nullptr) {
            m_CurrentReadPtr = m_Buffer->m_Tail;
        }
        CPreEventBufferElement* element = m_CurrentReadPtr;
        if (element == nullptr) {
            // Nothing in the list although a frame was counted; the counts are kept consistent so
            // this does not happen, but a count without a frame must not crash the reader.
            --m_SamplesToGet;
        } else {
            if (element->sample) {
                if (lent != nullptr) {
                    *lent = element->sample->Lend();
                    *lentLength = *lent != nullptr ? element->sample->GetLength() : 0;
                } else if (out != nullptr) {
                    element->sample->CopyTo(*out); // a frame that does not fit is skipped but counted
                }
                if (duration != nullptr) {
                    *duration = element->sample->GetDuration();
                }
            }
            m_CurrentReadPtr = element->next;
            --m_SamplesToGet;
        }
        if (m_State == State::flushing && m_SamplesToGet <= 0) {
            TRACE("CPreEventBufferIterator::GetSample() flushed last sample !");
            MarkFlushedLocked();
        }
        TRACE("CPreEventBufferIterator::GetSample() : exit");
        return;
    }
}

void CPreEventBufferIterator::FlushIterator(bool wait) {
    TRACE("CPreEventBufferIterator::FlushIterator() enter (%p)", static_cast<void*>(this));
    {
        platform::CAutoLock lock(m_Lock);
        if (m_State == State::running) {
            m_State = State::flushing;
            // With nothing counted there is nothing left to deliver: end now, so that a reader
            // blocked in GetSample returns even when nobody waits for the flush.
            if (m_SamplesToGet == 0) {
                MarkFlushedLocked();
            }
        }
    }
    if (wait) {
        WaitForFlush();
    }
    TRACE("CPreEventBufferIterator::FlushIterator() exit (%p)", static_cast<void*>(this));
}

void CPreEventBufferIterator::WaitForFlush() {
    TRACE("CPreEventBufferIterator::WaitForFlush() enter (%p)", static_cast<void*>(this));
    std::unique_lock lock(m_Lock);
    if (m_SamplesToGet != 0) {
        lock.unlock();
        TRACE("CPreEventBufferIterator::WaitForFlush() wait for event (%p)", static_cast<void*>(this));
        platform::WaitForObjects({&m_AbortEvent, &m_FlushedEvent}, platform::kInfinite);
        TRACE("CPreEventBufferIterator::WaitForFlush() got event (%p)", static_cast<void*>(this));
    } else {
        MarkFlushedLocked();
        lock.unlock();
        TRACE("CPreEventBufferIterator::WaitForFlush() no samples left, return (%p)",
              static_cast<void*>(this));
    }
    TRACE("CPreEventBufferIterator::WaitForFlush() exit (%p)", static_cast<void*>(this));
}

void CPreEventBufferIterator::AbortIterator() {
    TRACE("CPreEventBufferIterator::AbortIterator() enter (%p)", static_cast<void*>(this));
    m_AbortEvent.Set();
    TRACE("CPreEventBufferIterator::AbortIterator() exit (%p)", static_cast<void*>(this));
}

void CPreEventBufferIterator::AddedOneSample(CPreEventBufferElement* appended) {
    platform::CAutoLock lock(m_Lock);
    TRACE("CPreEventBufferIterator::AddedOneSample() enter (%p)", static_cast<void*>(this));
    if (m_State != State::running) {
        TRACE("is flushing, no add");
    } else if (m_SamplesToGet >= kMaxPending && m_CurrentReadPtr != nullptr &&
               m_CurrentReadPtr->next != nullptr) {
        // The semaphore cannot count more: the reader loses its oldest pending frame, and the
        // count and the semaphore stay as they are (one frame gone, one come).
        TRACE("CPreEventBufferIterator::AddedOneSample() %d frames pending, drop oldest %p (%p)",
              m_SamplesToGet, static_cast<void*>(m_CurrentReadPtr), static_cast<void*>(this));
        m_CurrentReadPtr = m_CurrentReadPtr->next;
    } else {
        if (m_CurrentReadPtr == nullptr) {
            // Caught up: the next frame to deliver is the one just appended, whatever else is
            // appended before the reader comes for it.
            m_CurrentReadPtr = appended;
        }
        m_Available.Release(1);
        ++m_SamplesToGet;
        TRACE("new m_SamplesToGet %d", m_SamplesToGet);
    }
    TRACE("CPreEventBufferIterator::AddedOneSample() exit (%p)", static_cast<void*>(this));
}

bool CPreEventBufferIterator::IsCurrentReadPtr(const CPreEventBufferElement* element) {
    platform::CAutoLock lock(m_Lock);
    return m_State != State::flushed && element != nullptr && element == m_CurrentReadPtr;
}

void CPreEventBufferIterator::CorrectReadPtr(CPreEventBufferElement* element) {
    platform::CAutoLock lock(m_Lock);
    TRACE("CPreEventBufferIterator::CorrectReadPtr() enter (%p)", static_cast<void*>(this));
    if (m_State == State::flushed) {
        TRACE("CPreEventBufferIterator::CorrectReadPtr() already finished flushing. return. (%p)",
              static_cast<void*>(this));
        return;
    }
    if (element != nullptr && element == m_CurrentReadPtr && m_SamplesToGet > 0) {
        TRACE("move m_CurrentReadPtr from %p to %p", static_cast<void*>(m_CurrentReadPtr),
              static_cast<void*>(element->next));
        m_CurrentReadPtr = element->next;
        TakeOneCount();
        --m_SamplesToGet;
        TRACE("new m_SamplesToGet %d", m_SamplesToGet);
        if (m_State == State::flushing && m_SamplesToGet == 0) {
            TRACE("Flushed last sample in CPreEventBufferIterator::CorrectReadPtr() !");
            MarkFlushedLocked();
        }
    }
    TRACE("CPreEventBufferIterator::CorrectReadPtr() exit (%p)", static_cast<void*>(this));
}

void CPreEventBufferIterator::TakeOneCount() {
    // When the semaphore is empty, the reader has already taken this frame's count and is on its
    // way to the locks: it must not deliver for it.
    if (!m_Available.TryWait()) {
        ++m_VoidedWakeups;
    }
}

void CPreEventBufferIterator::MarkFlushedLocked() {
    m_State = State::flushed;
    m_FlushedEvent.Set();
}
