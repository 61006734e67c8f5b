#pragma once
// CDispatcherBridge: delivers the message dispatcher's messages (2024, 3024, 3025 and posted
// calls) on the GUI thread. Every post from a worker thread wakes the bridge, which queues one
// delivery call on the GUI thread; posts made while that call is pending ride along with it, so
// a burst of messages costs one call. Workers never wait for the GUI thread.
//
// Created and destroyed on the GUI thread; the wake hook runs on the posting threads.

#include "camera/MessageDispatcher.h"

#include <atomic>
#include <memory>

class CDispatcherBridge {
public:
    explicit CDispatcherBridge(CMessageDispatcher& dispatcher);
    ~CDispatcherBridge();
    CDispatcherBridge(const CDispatcherBridge&) = delete;
    CDispatcherBridge& operator=(const CDispatcherBridge&) = delete;

private:
    struct CState {
        CMessageDispatcher* dispatcher;
        std::atomic<bool> pending{false};
    };
    // Shared with the queued calls: a call still queued when the bridge goes does nothing.
    std::shared_ptr<CState> m_state;
};
