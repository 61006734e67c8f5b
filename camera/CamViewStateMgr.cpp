#include "camera/CamViewStateMgr.h"

#include "foundation/Tracer.h"

namespace {

// The decision table: rows are tried in order and the first whose six cells all hold gives the
// state. Cells: 1 the input must be true, 0 false, -1 any value. Columns in input order:
// countdownRunning, recordFailed, activated, motion, inSchedule, deviceAvailable.
struct DecisionRow {
    int32_t state;
    int8_t cells[CCamViewStateMgr::kInputCount];
};

constexpr DecisionRow kDecisionTable[] = {
    {CCamViewStateMgr::kCntDown, {1, 0, 1, -1, 1, 1}},
    {CCamViewStateMgr::kIdle, {0, 0, 1, 0, 1, 1}},
    {CCamViewStateMgr::kInactive, {-1, -1, 0, -1, -1, 1}},
    {CCamViewStateMgr::kOffSchedule, {-1, 0, 1, -1, 0, 1}},
    {CCamViewStateMgr::kRecording, {0, 0, 1, 1, 1, 1}},
    {CCamViewStateMgr::kUnable2Rec, {-1, 1, 1, -1, -1, 1}},
    {CCamViewStateMgr::kUnavailable, {-1, -1, -1, -1, -1, 0}},
};

bool RowHolds(const DecisionRow& row, const bool (&inputs)[CCamViewStateMgr::kInputCount]) {
    for (int i = 0; i < CCamViewStateMgr::kInputCount; ++i) {
        if (row.cells[i] != -1 && (row.cells[i] == 1) != inputs[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

CCamViewStateMgr::CCamViewStateMgr(const void* owner) : m_Owner(owner) {}

void CCamViewStateMgr::Register(int32_t from, int32_t to, Reaction reaction) {
    m_Callbacks.push_back(std::make_unique<Registration>(Registration{from, to, std::move(reaction)}));
}

void CCamViewStateMgr::SetInputValue(int index, bool value) {
    if (index >= 0 && index < kInputCount) {
        m_Inputs[index] = value;
    }
}

bool CCamViewStateMgr::GetInput(int index) const {
    return index >= 0 && index < kInputCount && m_Inputs[index];
}

void CCamViewStateMgr::Update() {
    CalculateState();
    if (m_PrevState != GetState()) {
        InvokeCallbacks();
    }
}

void CCamViewStateMgr::SetInput(int index, bool value) {
    SetInputValue(index, value);
    Update();
}

void CCamViewStateMgr::CalculateState() {
    for (const DecisionRow& row : kDecisionTable) {
        if (RowHolds(row, m_Inputs)) {
            m_PrevState = GetState();
            m_CurState.store(row.state, std::memory_order_relaxed);
            TRACE("CCamViewStateMgr::CalculateState() old state %d new state %d ", m_PrevState, row.state);
            return;
        }
    }
}

void CCamViewStateMgr::InvokeCallbacks() {
    // The transition being announced; a reaction that changes an input again announces its own
    // transition before this loop goes on with this one.
    const int32_t from = m_PrevState;
    const int32_t to = GetState();
    const size_t count = m_Callbacks.size();
    for (size_t i = 0; i < count; ++i) {
        Registration* registration = m_Callbacks[i].get();
        if ((registration->from == kAnyState || registration->from == from) &&
            (registration->to == kAnyState || registration->to == to)) {
            TRACE("CCamViewStateMgr::InvokeCallbacks() object %p memptr %p from %d to %d", m_Owner,
                  static_cast<const void*>(registration), from, to);
            if (registration->reaction) {
                registration->reaction(from, to);
            }
        }
    }
}

const char* CCamViewStateMgr::GetStateName(int32_t state) {
    switch (state) {
    case kIdle:
        return "Idle";
    case kInactive:
        return "Inactive";
    case kRecording:
        return "Recording";
    case kUnable2Rec:
        return "Unable2Rec";
    case kUnavailable:
        return "Unavailable";
    case kOffSchedule:
        return "Off Schedule";
    case kCntDown:
        return "CntDown";
    case kNotCalculated:
        return "...";
    default:
        return "Unknown State";
    }
}
