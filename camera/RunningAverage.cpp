#include "camera/RunningAverage.h"

#include <cstddef>

CRunningAverage::CRunningAverage(int32_t size) : m_size(size < 2 ? 2 : size) {
    m_items.assign(static_cast<size_t>(m_size), 0);
}

void CRunningAverage::Add(int32_t value) {
    if (Count() == m_size - 1) {
        m_sum -= m_items[static_cast<size_t>(m_head)];
        m_head = (m_head + 1) % m_size;
    }
    m_sum += value;
    m_items[static_cast<size_t>(m_pos)] = value;
    m_pos = (m_pos + 1) % m_size;
}

int32_t CRunningAverage::Average() const {
    const int32_t count = Count();
    return count == 0 ? 0 : static_cast<int32_t>(m_sum / count);
}

int32_t CRunningAverage::Count() const {
    return ((m_pos - m_head) % m_size + m_size) % m_size;
}

void CRunningAverage::Clear() {
    m_head = 0;
    m_pos = 0;
    m_sum = 0;
}
