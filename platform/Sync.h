#pragma once
// Events, semaphores and multi-object waits with Win32 semantics, which the camera, buffer and timer code
// relies on: manual- and auto-reset events, counting semaphores with a maximum, and waits on several objects
// where the first signalled object in argument order wins. Built on the standard library: one process-wide
// mutex guards the state of every object, and each waiting thread registers its own condition
// variable with the objects it waits on, so a signal wakes only the threads that wait for it.
//
// Any thread may use any object. Objects must outlive the waits on them.

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;
// Returned by the waits when the time-out passed with nothing signalled.
constexpr int kWaitTimeout = -1;

// Re-entrant critical section, as Win32 critical sections are.
using CCritSec = std::recursive_mutex;
using CAutoLock = std::lock_guard<std::recursive_mutex>;

class CSyncObject {
public:
    CSyncObject() = default;
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;
    virtual ~CSyncObject() = default;

protected:
    friend int WaitForObjects(const CSyncObject* const* objects, size_t count, uint32_t timeoutMs);
    struct Waiter {
        std::condition_variable cv;
    };
    // Both called with the process-wide sync mutex held.
    virtual bool IsSignalledLocked() const = 0;
    virtual void ConsumeLocked() = 0; // a wait was satisfied by this object
    void WakeWaitersLocked();

private:
    std::vector<Waiter*> m_waiters;
};

class CEvent final : public CSyncObject {
public:
    CEvent(bool manualReset, bool initiallySignalled);
    void Set();
    void Reset();
    // Tests the event without waiting. For an auto-reset event a signalled state is consumed.
    bool TryWait();
    bool Wait(uint32_t timeoutMs = kInfinite);
    bool IsManualReset() const { return m_manualReset; }

protected:
    bool IsSignalledLocked() const override { return m_signalled; }
    void ConsumeLocked() override;

private:
    const bool m_manualReset;
    bool m_signalled;
};

class CSemaphore final : public CSyncObject {
public:
    CSemaphore(int32_t initialCount, int32_t maximumCount);
    // Adds count; fails (returns false, count unchanged) when the maximum would be exceeded or count
    // is not positive. previousCount, when given, receives the count before the release.
    bool Release(int32_t count = 1, int32_t* previousCount = nullptr);
    // Takes one count without waiting; false when the count is 0.
    bool TryWait();
    bool Wait(uint32_t timeoutMs = kInfinite);
    int32_t GetCount() const;
    int32_t GetMaximum() const { return m_maximum; }

protected:
    bool IsSignalledLocked() const override { return m_count > 0; }
    void ConsumeLocked() override { --m_count; }

private:
    const int32_t m_maximum;
    int32_t m_count;
};

// Waits until one of the objects is signalled or timeoutMs passes (kInfinite: no limit). Returns
// the index of the object that satisfied the wait, the lowest index when several are signalled at
// once, or kWaitTimeout. The winning object is consumed (auto-reset event cleared, one semaphore
// count taken); the others are left untouched.
int WaitForObjects(const CSyncObject* const* objects, size_t count, uint32_t timeoutMs);
int WaitForObjects(std::initializer_list<CSyncObject*> objects, uint32_t timeoutMs);
inline bool WaitForObject(CSyncObject& object, uint32_t timeoutMs) {
    return WaitForObjects({&object}, timeoutMs) == 0;
}

} // namespace platform
