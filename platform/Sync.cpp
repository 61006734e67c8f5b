#include "platform/Sync.h"

#include <algorithm>
#include <chrono>

namespace platform {
namespace {

std::mutex& SyncMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

void CSyncObject::WakeWaitersLocked() {
    for (Waiter* waiter : m_waiters) {
        waiter->cv.notify_one();
    }
}

CEvent::CEvent(bool manualReset, bool initiallySignalled)
    : m_manualReset(manualReset), m_signalled(initiallySignalled) {}

void CEvent::Set() {
    std::lock_guard lock(SyncMutex());
    m_signalled = true;
    WakeWaitersLocked();
}

void CEvent::Reset() {
    std::lock_guard lock(SyncMutex());
    m_signalled = false;
}

bool CEvent::TryWait() {
    return Wait(0);
}

bool CEvent::Wait(uint32_t timeoutMs) {
    return WaitForObject(*this, timeoutMs);
}

void CEvent::ConsumeLocked() {
    if (!m_manualReset) {
        m_signalled = false;
    }
}

CSemaphore::CSemaphore(int32_t initialCount, int32_t maximumCount)
    // A negative maximum is taken as 0: such a semaphore is never signalled.
    : m_maximum(std::max(maximumCount, 0)), m_count(std::clamp(initialCount, 0, m_maximum)) {}

bool CSemaphore::Release(int32_t count, int32_t* previousCount) {
    std::lock_guard lock(SyncMutex());
    if (previousCount) {
        *previousCount = m_count;
    }
    if (count <= 0 || count > m_maximum - m_count) {
        return false;
    }
    m_count += count;
    WakeWaitersLocked();
    return true;
}

bool CSemaphore::TryWait() {
    return Wait(0);
}

bool CSemaphore::Wait(uint32_t timeoutMs) {
    return WaitForObject(*this, timeoutMs);
}

int32_t CSemaphore::GetCount() const {
    std::lock_guard lock(SyncMutex());
    return m_count;
}

int WaitForObjects(const CSyncObject* const* objects, size_t count, uint32_t timeoutMs) {
    auto* mutableObjects = const_cast<CSyncObject* const*>(objects);
    std::unique_lock lock(SyncMutex());
    auto firstSignalled = [&]() -> int {
        for (size_t i = 0; i < count; ++i) {
            if (mutableObjects[i]->IsSignalledLocked()) {
                mutableObjects[i]->ConsumeLocked();
                return static_cast<int>(i);
            }
        }
        return kWaitTimeout;
    };
    int index = firstSignalled();
    if (index != kWaitTimeout || timeoutMs == 0) {
        return index;
    }

    CSyncObject::Waiter waiter;
    for (size_t i = 0; i < count; ++i) {
        mutableObjects[i]->m_waiters.push_back(&waiter);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((index = firstSignalled()) == kWaitTimeout) {
        if (timeoutMs == kInfinite) {
            waiter.cv.wait(lock);
        } else if (waiter.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            index = firstSignalled();
            break;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        auto& list = mutableObjects[i]->m_waiters;
        list.erase(std::find(list.begin(), list.end(), &waiter));
    }
    // A signal that woke this thread but was consumed by the wait of another object may still be
    // waited for by others: pass the wake-up on.
    for (size_t i = 0; i < count; ++i) {
        if (mutableObjects[i]->IsSignalledLocked()) {
            mutableObjects[i]->WakeWaitersLocked();
        }
    }
    return index;
}

int WaitForObjects(std::initializer_list<CSyncObject*> objects, uint32_t timeoutMs) {
    return WaitForObjects(objects.begin(), objects.size(), timeoutMs);
}

} // namespace platform
