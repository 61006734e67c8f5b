#pragma once
// The moment from which the event actions of a chain runner must give up: a document that closes
// (and the shutdown, which closes every document) gives its running actions a few seconds and then
// cuts them short. The actions that wait on peers (mail, FTP, chat) look at it while they wait,
// through ActionCutShort() and ActionTimeLeftMs(), and return as after a failure once it has come.
//
// CActionAbort is owned by a chain runner; CutAt may be called from any thread, IsCut is read by
// its workers. A worker installs the token of its runner for the actions it runs (CScope); an
// action executed directly, outside any runner, sees no token and is never cut.

#include <atomic>
#include <chrono>
#include <cstdint>

class CActionAbort {
public:
    using Clock = std::chrono::steady_clock;

    // Lowers the cut time to cutAt (a later time than the current one changes nothing).
    void CutAt(Clock::time_point cutAt);
    bool IsCut() const { return Clock::now() >= CutTime(); }
    Clock::time_point CutTime() const;

    // Makes token the one the actions of the calling thread look at, for the scope's life, and
    // clears the "noticed" mark.
    class CScope {
    public:
        explicit CScope(const CActionAbort& token);
        ~CScope();
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        const CActionAbort* m_previous;
    };

    // The token of the calling thread; null outside a runner's worker.
    static const CActionAbort* Current();
    // True once an action of the calling thread found the cut time passed (ActionCutShort): the
    // runner then logs that the action was cut short. Cleared by TakeNoticed.
    static bool TakeNoticed();

private:
    std::atomic<int64_t> m_cutAtNs{INT64_MAX}; // steady clock, nanoseconds since its epoch
};

// True when the chain runner of the calling thread has cut its actions short; remembers that the
// running action noticed it.
bool ActionCutShort();
// Milliseconds until the calling thread's actions are cut (0 once they are); limitMs when that is
// sooner or when the thread runs no chain. For bounding one wait.
int64_t ActionTimeLeftMs(int64_t limitMs);
