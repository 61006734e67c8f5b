#pragma once
// An integer moving average over a ring of `size` slots, holding at most size - 1 values: the
// camera view keeps one for the frame rate (20 slots: the last 19 frames) and one for the
// changed-pixel count (10 slots: the last 9) that it draws into every frame.
//
// Used by the grabber's streaming thread only; no lock, no allocation after construction.

#include <cstdint>
#include <vector>

class CRunningAverage {
public:
    // A size below 2 counts as 2 (a ring of one slot could hold no value).
    explicit CRunningAverage(int32_t size);

    // Adds a value; when size - 1 values are held already the oldest one is dropped first.
    void Add(int32_t value);
    // The sum of the values held divided by their number (integer division); 0 while none is held.
    int32_t Average() const;
    // Number of values held, 0 .. size - 1.
    int32_t Count() const;
    int32_t Size() const { return m_size; }
    // Forgets every value.
    void Clear();

private:
    std::vector<int32_t> m_items;
    int32_t m_head = 0; // oldest value
    int32_t m_pos = 0;  // next free slot
    int64_t m_sum = 0;  // of the values held; 64 bits so that large counts cannot overflow
    int32_t m_size;
};
