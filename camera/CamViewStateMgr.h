#pragma once
// The state of one camera, derived from six inputs with a fixed decision table, and the reactions
// that run when it changes. One per camera view, which sets the inputs (activation, motion,
// schedule, countdown, device availability, recording failures) and registers its reactions
// (starting and stopping recordings, raising camera events, logging the change).
//
// Threads: the user-interface thread, the grabber's streaming thread, the schedule service and
// countdown threads, pipeline event threads and record-context threads, always with the camera
// view's camera lock held around SetInput, SetInputValue and Update; the reactions therefore run
// with that lock held. The manager has no lock of its own. GetState alone may be read without the
// lock, by the per-frame work and the title text.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CCamViewStateMgr {
public:
    // Camera states, stored and traced as these integers.
    static constexpr int32_t kIdle = 0;
    static constexpr int32_t kInactive = 1;
    static constexpr int32_t kRecording = 2;
    static constexpr int32_t kUnable2Rec = 3;
    static constexpr int32_t kUnavailable = 4;
    static constexpr int32_t kOffSchedule = 5;
    static constexpr int32_t kCntDown = 6;
    static constexpr int32_t kNotCalculated = 7; // also "any state" in a registration
    static constexpr int32_t kAnyState = 7;

    // Input indexes.
    static constexpr int kCountdownRunning = 0;
    static constexpr int kRecordFailed = 1;
    static constexpr int kActivated = 2;
    static constexpr int kMotion = 3;
    static constexpr int kInSchedule = 4;
    static constexpr int kDeviceAvailable = 5;
    static constexpr int kInputCount = 6;

    using Reaction = std::function<void(int32_t oldState, int32_t newState)>;

    // owner: the object the reactions belong to (the camera view); only traced.
    explicit CCamViewStateMgr(const void* owner);
    CCamViewStateMgr(const CCamViewStateMgr&) = delete;
    CCamViewStateMgr& operator=(const CCamViewStateMgr&) = delete;

    // Appends a reaction for changes from `from` to `to` (kAnyState matches every state).
    // Reactions run in registration order.
    void Register(int32_t from, int32_t to, Reaction reaction);
    void RegisterOnEnter(int32_t state, Reaction reaction) {
        Register(kAnyState, state, std::move(reaction));
    }
    void RegisterOnLeave(int32_t state, Reaction reaction) {
        Register(state, kAnyState, std::move(reaction));
    }

    // Stores an input without recalculating; an index outside 0..5 is ignored.
    void SetInputValue(int index, bool value);
    // Recalculates the state and runs the matching reactions when it changed.
    void Update();
    void SetInput(int index, bool value);
    // False for an index outside 0..5.
    bool GetInput(int index) const;
    int32_t GetState() const { return m_CurState.load(std::memory_order_relaxed); }
    int32_t GetPrevState() const { return m_PrevState; }

    // "Idle", "Inactive", ..., "..." for 7, "Unknown State" otherwise.
    static const char* GetStateName(int32_t state);

private:
    struct Registration {
        int32_t from;
        int32_t to;
        Reaction reaction;
    };

    void CalculateState();
    void InvokeCallbacks();

    int32_t m_PrevState = kNotCalculated;
    std::atomic<int32_t> m_CurState{kNotCalculated};
    bool m_Inputs[kInputCount] = {};
    // Held by pointer so that a registration keeps its address (its traced id) and stays valid
    // while reactions run, even if one of them registers another.
    std::vector<std::unique_ptr<Registration>> m_Callbacks;
    const void* const m_Owner;
};
