// The camera state manager: the whole decision table against an independent reading of it, and
// the order in which the camera view's reactions run for the transitions it depends on.

#include "camera/CamViewStateMgr.h"

#include "camera/tests/TraceCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using M = CCamViewStateMgr;

// The table read as priorities: an unavailable device wins over everything, then a camera that
// is not activated is Inactive, then a recording failure, then outside the schedule, then a
// running countdown (motion ignored), then motion, then Idle.
int32_t ExpectedState(bool countdown, bool failed, bool activated, bool motion, bool inSchedule,
                      bool device) {
    if (!device) {
        return M::kUnavailable;
    }
    if (!activated) {
        return M::kInactive;
    }
    if (failed) {
        return M::kUnable2Rec;
    }
    if (!inSchedule) {
        return M::kOffSchedule;
    }
    if (countdown) {
        return M::kCntDown;
    }
    return motion ? M::kRecording : M::kIdle;
}

// The camera view's nine registrations, in its order; each records its number.
struct CRecorder {
    std::vector<int> calls;
    std::vector<std::pair<int32_t, int32_t>> transitions;

    void RegisterCameraViewReactions(M& mgr) {
        auto note = [this](int number) {
            return [this, number](int32_t from, int32_t to) {
                calls.push_back(number);
                if (number == 1) {
                    transitions.emplace_back(from, to);
                }
            };
        };
        mgr.Register(M::kAnyState, M::kAnyState, note(1));
        mgr.RegisterOnLeave(M::kRecording, note(2));
        mgr.RegisterOnEnter(M::kRecording, note(3));
        mgr.RegisterOnLeave(M::kCntDown, note(4));
        mgr.RegisterOnEnter(M::kInactive, note(5));
        mgr.RegisterOnEnter(M::kOffSchedule, note(6));
        mgr.RegisterOnEnter(M::kIdle, note(7));
        mgr.RegisterOnEnter(M::kUnable2Rec, note(8));
        mgr.RegisterOnEnter(M::kUnavailable, note(9));
    }
    std::vector<int> Take() {
        std::vector<int> taken;
        taken.swap(calls);
        return taken;
    }
};

} // namespace

TEST(CamViewStateMgrTest, EveryInputCombinationGivesTheStateOfTheTable) {
    for (int bits = 0; bits < 64; ++bits) {
        M mgr(nullptr);
        bool in[M::kInputCount];
        for (int i = 0; i < M::kInputCount; ++i) {
            in[i] = (bits >> i) & 1;
            mgr.SetInputValue(i, in[i]);
        }
        mgr.Update();
        EXPECT_EQ(mgr.GetState(),
                  ExpectedState(in[M::kCountdownRunning], in[M::kRecordFailed], in[M::kActivated],
                                in[M::kMotion], in[M::kInSchedule], in[M::kDeviceAvailable]))
            << "inputs " << bits;
        EXPECT_EQ(mgr.GetPrevState(), M::kNotCalculated);
        for (int i = 0; i < M::kInputCount; ++i) {
            EXPECT_EQ(mgr.GetInput(i), in[i]);
        }
    }
}

TEST(CamViewStateMgrTest, NamesItsStatesAndIgnoresBadInputIndexes) {
    const char* const names[] = {"Idle",         "Inactive", "Recording", "Unable2Rec",   "Unavailable",
                                 "Off Schedule", "CntDown",  "...",       "Unknown State"};
    for (int32_t state = 0; state <= 8; ++state) {
        EXPECT_STREQ(M::GetStateName(state), names[state]);
    }
    EXPECT_STREQ(M::GetStateName(-1), "Unknown State");
    M mgr(nullptr);
    EXPECT_EQ(mgr.GetState(), M::kNotCalculated);
    mgr.SetInputValue(-1, true);
    mgr.SetInput(6, true);
    EXPECT_FALSE(mgr.GetInput(-1) || mgr.GetInput(6));
    EXPECT_EQ(mgr.GetState(), M::kUnavailable);
}

TEST(CamViewStateMgrTest, FirstStateFiresTheAnyChangeAndTheEnterReactions) {
    M mgr(nullptr);
    CRecorder recorder;
    recorder.RegisterCameraViewReactions(mgr);
    mgr.SetInputValue(M::kInSchedule, true);
    mgr.SetInputValue(M::kDeviceAvailable, true);
    mgr.Update();
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 5})); // a camera that comes up inactive: Deactivate once
    EXPECT_EQ(recorder.transitions.front(), std::make_pair(M::kNotCalculated, M::kInactive));
}

TEST(CamViewStateMgrTest, ReactionsRunInRegistrationOrderForTheCameraTransitions) {
    M mgr(nullptr);
    CRecorder recorder;
    recorder.RegisterCameraViewReactions(mgr);
    mgr.SetInputValue(M::kInSchedule, true);
    mgr.SetInputValue(M::kDeviceAvailable, true);
    mgr.Update();
    recorder.Take();

    // Activation with a countdown: both inputs, one update.
    mgr.SetInputValue(M::kCountdownRunning, true);
    mgr.SetInputValue(M::kActivated, true);
    EXPECT_TRUE(recorder.calls.empty()); // SetInputValue alone changes nothing
    mgr.Update();
    EXPECT_EQ(mgr.GetState(), M::kCntDown);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1}));
    mgr.SetInput(M::kMotion, true); // motion is ignored while counting down
    EXPECT_EQ(mgr.GetState(), M::kCntDown);
    EXPECT_TRUE(recorder.Take().empty()); // recalculated, same state: no reaction
    mgr.SetInput(M::kCountdownRunning, false);
    EXPECT_EQ(mgr.GetState(), M::kRecording);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 3, 4}));
    mgr.SetInput(M::kMotion, false);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 2, 7})); // Recording -> Idle
    mgr.SetInput(M::kMotion, true);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 3}));
    mgr.SetInput(M::kRecordFailed, true);
    EXPECT_EQ(mgr.GetState(), M::kUnable2Rec);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 2, 8})); // Recording -> Unable2Rec
    // Switching off after a failure: both inputs, one update, straight to Inactive.
    mgr.SetInputValue(M::kActivated, false);
    mgr.SetInputValue(M::kRecordFailed, false);
    mgr.Update();
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 5}));
    mgr.SetInput(M::kActivated, true);
    EXPECT_EQ(mgr.GetState(), M::kRecording);
    recorder.Take();
    mgr.SetInput(M::kInSchedule, false);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 2, 6}));
    mgr.SetInput(M::kDeviceAvailable, false);
    EXPECT_EQ(recorder.Take(), (std::vector<int>{1, 9}));
    EXPECT_EQ(recorder.transitions.back(), std::make_pair(M::kOffSchedule, M::kUnavailable));
}

TEST(CamViewStateMgrTest, ReactionThatChangesAnInputOrRegistersDoesNotDisturbTheCurrentChange) {
    M mgr(nullptr);
    std::vector<std::string> seen;
    mgr.RegisterOnEnter(M::kInactive, [&](int32_t from, int32_t to) {
        seen.push_back(std::to_string(from) + ">" + std::to_string(to));
        mgr.Register(M::kAnyState, M::kAnyState, [&](int32_t f, int32_t t) {
            seen.push_back("late " + std::to_string(f) + ">" + std::to_string(t));
        });
        mgr.SetInput(M::kDeviceAvailable, false); // re-entrant change to Unavailable
    });
    mgr.Register(M::kAnyState, M::kAnyState, [&](int32_t from, int32_t to) {
        seen.push_back("any " + std::to_string(from) + ">" + std::to_string(to));
    });
    mgr.SetInput(M::kDeviceAvailable, true);
    EXPECT_EQ(seen, (std::vector<std::string>{"7>1", "any 1>4", "late 1>4", "any 7>1"}));
    EXPECT_EQ(mgr.GetState(), M::kUnavailable);
}

TEST(CamViewStateMgrTest, TracesEveryCalculationAndEveryReaction) {
    CTraceCapture capture;
    int owner = 0;
    M mgr(&owner);
    mgr.RegisterOnEnter(M::kInactive, [](int32_t, int32_t) {});
    mgr.SetInput(M::kDeviceAvailable, true);
    mgr.Update(); // same state: traced, no reaction
    const std::string text = capture.Finish();
    EXPECT_NE(text.find("CCamViewStateMgr::CalculateState() old state 7 new state 1 \n"), std::string::npos);
    EXPECT_NE(text.find("CCamViewStateMgr::CalculateState() old state 1 new state 1 \n"), std::string::npos);
    char object[32];
    std::snprintf(object, sizeof object, "%p", static_cast<void*>(&owner));
    EXPECT_NE(text.find(std::string("CCamViewStateMgr::InvokeCallbacks() object ") + object + " memptr "),
              std::string::npos);
    EXPECT_NE(text.find(" from 7 to 1\n"), std::string::npos);
}
