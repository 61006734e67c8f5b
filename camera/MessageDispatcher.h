#pragma once
// The messages that worker threads send to the user interface thread, and their delivery: the
// notification list changed (2024, to the main frame), a camera changed and wants redrawing (3024)
// and a camera's capture device came back and wants its pipeline rebuilt (3025, both to the
// document's view; wParam the camera id), a camera's re-connection watchdog asks to try its lost
// device again (3026, the same way), plus the view update hints that the application
// broadcasts to every document's view (5 activate all cameras, 6 deactivate all, 7 workstation
// locked, 8 unlocked).
//
// A target (a document's view, the main frame) registers on the delivering thread and gets an id,
// the stand-in for a window handle; workers post to that id from any thread and never wait. The
// delivering thread takes the queued messages with DeliverPending and hands each to its target;
// a message to a target that has unregistered meanwhile is dropped, as a message to a destroyed
// window is. The headless shell delivers with Run on its main thread; the Qt shell installs a
// wake hook that queues a DeliverPending call on the GUI thread.
//
// Delivery is the message pump's boundary: an exception that escapes a handler is reported
// (ReportException, no document or camera) and delivery goes on.
//
// Threads: Post, PostCall, Quit and SetWakeHook from any thread; Register, Unregister,
// DeliverPending and Run on the one delivering thread.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace ViewMessage {
constexpr uint32_t kNotificationListChanged = 2024;
constexpr uint32_t kCameraChanged = 3024;     // WM_USER + 2000
constexpr uint32_t kCameraReconnected = 3025; // WM_USER + 2001
constexpr uint32_t kCameraRetryDevice = 3026; // WM_USER + 2002
} // namespace ViewMessage

namespace ViewHint {
constexpr int kActivateAll = 5;
constexpr int kDeactivateAll = 6;
constexpr int kWindowsLocked = 7;
constexpr int kWindowsUnlocked = 8;
} // namespace ViewHint

class IMessageTarget {
public:
    virtual void OnMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;

protected:
    ~IMessageTarget() = default;
};

class CMessageDispatcher {
public:
    using TargetId = uint32_t;
    static constexpr TargetId kNoTarget = 0;

    // The process-wide dispatcher of the shells.
    static CMessageDispatcher& Instance();

    CMessageDispatcher() = default;
    CMessageDispatcher(const CMessageDispatcher&) = delete;
    CMessageDispatcher& operator=(const CMessageDispatcher&) = delete;

    TargetId Register(IMessageTarget* target);
    // Messages still queued for the target are dropped when they come up.
    void Unregister(TargetId target);

    // Queues a message; never waits for the delivering thread.
    void Post(TargetId target, uint32_t message, uintptr_t wParam, intptr_t lParam = 0);
    // Queues a call to run on the delivering thread, in order with the messages.
    void PostCall(std::function<void()> call);
    // Called on the posting thread after every post, outside the dispatcher's lock; it must not
    // block. The Qt shell's hook queues a DeliverPending call on the GUI thread.
    void SetWakeHook(std::function<void()> hook);

    // Delivers what was queued before the call (not what its handlers post); returns how many.
    size_t DeliverPending();
    // Delivers messages as they come until Quit; a Quit before Run makes Run return at once.
    void Run();
    // Like Run, but returns after timeoutMs at the latest; true when it ended by Quit.
    bool RunFor(uint32_t timeoutMs);
    void Quit();
    // Makes Run deliver again after a Quit.
    void ResetQuit();
    size_t GetQueuedCount() const;

private:
    struct Item {
        TargetId target = kNoTarget; // kNoTarget: a call
        uint32_t message = 0;
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
        std::function<void()> call;
    };
    void Enqueue(Item item);
    void Deliver(Item& item);
    void DeliverOne(Item& item);

    mutable std::mutex m_lock; // guards everything below; never held while delivering
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    std::map<TargetId, IMessageTarget*> m_targets;
    TargetId m_nextId = 1;
    bool m_quit = false;
    std::function<void()> m_wakeHook;
};
