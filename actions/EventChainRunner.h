#pragma once
// Runs the event-action chains of a document's cameras away from the threads that raise the events,
// so that a slow action (a mail server that trickles, a stalled FTP upload, a chat client that does
// not answer) never holds a camera's frames, state changes or other events. Each camera has its own
// serial queue and worker thread: the chains of one camera run one after the other in the order
// their events were raised, each chain's actions in their order; different cameras do not wait for
// each other. The event record is copied when the event is raised, so it carries that moment.
//
// Ending: a runner ends with its document. Stop (and the destructor) lets the queued chains run for
// at most 3 s (kStopGrace), or until an earlier cut time that CutAt set; from that moment the running
// action is cut short (the mail, FTP and chat actions look at the cut time while they wait and give
// up) and what is still queued is dropped. Each cut action gets the log line "<action name> Event
// Action: Cut short, the document is closing"; a chain that did not start, or whose remaining
// actions did not run, gets one line saying so. The shutdown sets one cut time for every document
// before closing them, so that all documents together wait at most those 3 s.
//
// Threads: Post from any thread (camera streaming threads, the state manager's callbacks under the
// camera lock, recording threads, the user interface); CutAt from any thread; Stop from the thread
// that owns the document (user interface). m_lock is innermost: it is never held while an action
// runs or a log entry is written, so posting under a camera lock cannot deadlock.

#include "actions/ActionAbort.h"
#include "actions/CSEventActionChain.h"
#include "actions/CSEventRecord.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CEventChainRunner {
public:
    using Clock = CActionAbort::Clock;
    static constexpr std::chrono::milliseconds kStopGrace{3000};

    CEventChainRunner() = default;
    // Stop(now + kStopGrace) unless Stop ran.
    ~CEventChainRunner();
    CEventChainRunner(const CEventChainRunner&) = delete;
    CEventChainRunner& operator=(const CEventChainRunner&) = delete;

    // Queues a run of chain for the event in record on the queue of cameraId and returns at once.
    // After the cut time, or once Stop has begun, the chain is not run and that is logged.
    void Post(int32_t cameraId, CSEventActionChain chain, CSEventRecord record);
    // From cutAt on, running actions are cut short and queued chains dropped. An earlier cut time
    // set before stays.
    void CutAt(Clock::time_point cutAt);
    // Runs what is queued until the cut time (at the latest cutAt), then cuts; returns when every
    // worker has ended. Called again, does nothing.
    void Stop(Clock::time_point cutAt);
    // True when no chain is queued or running, waiting up to timeout for that (tests, diagnostics).
    bool WaitIdle(std::chrono::milliseconds timeout);

    static std::string CutShortText(const std::string& actionName);

private:
    struct CJob {
        CSEventActionChain chain;
        CSEventRecord record;
    };
    struct CQueue {
        std::deque<CJob> jobs;
        bool busy = false;
        std::thread thread;
    };

    void Work(CQueue& queue);
    void RunJob(CJob& job);
    bool IdleLocked() const;

    std::mutex m_lock; // guards m_queues, their jobs and flags, m_stopping, m_stopped; innermost
    std::condition_variable m_changed;
    std::map<int32_t, std::unique_ptr<CQueue>> m_queues;
    bool m_stopping = false;
    bool m_stopped = false;
    CActionAbort m_abort;
};
