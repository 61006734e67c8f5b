#include "actions/ActionAbort.h"

#include <algorithm>

namespace {
thread_local const CActionAbort* t_current = nullptr;
thread_local bool t_noticed = false;
} // namespace

void CActionAbort::CutAt(Clock::time_point cutAt) {
    const int64_t wanted =
        std::chrono::duration_cast<std::chrono::nanoseconds>(cutAt.time_since_epoch()).count();
    int64_t current = m_cutAtNs.load();
    while (wanted < current && !m_cutAtNs.compare_exchange_weak(current, wanted)) {
    }
}

CActionAbort::Clock::time_point CActionAbort::CutTime() const {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(m_cutAtNs.load())));
}

CActionAbort::CScope::CScope(const CActionAbort& token) : m_previous(t_current) {
    t_current = &token;
    t_noticed = false;
}

CActionAbort::CScope::~CScope() {
    t_current = m_previous;
}

const CActionAbort* CActionAbort::Current() {
    return t_current;
}

bool CActionAbort::TakeNoticed() {
    const bool noticed = t_noticed;
    t_noticed = false;
    return noticed;
}

bool ActionCutShort() {
    if (t_current != nullptr && t_current->IsCut()) {
        t_noticed = true;
        return true;
    }
    return false;
}

int64_t ActionTimeLeftMs(int64_t limitMs) {
    if (t_current == nullptr) {
        return limitMs;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t_current->CutTime() -
                                                                            CActionAbort::Clock::now());
    return std::clamp<int64_t>(left.count(), 0, limitMs);
}
