// Parameter changes on their way to the audio thread: a bounded queue of
// (index, value) pairs that any number of threads push and one owner drains,
// in the order the pushes took their places. Lock-free and allocation-free
// after construction (a bounded multi-producer queue with a sequence number
// per cell), so the audio thread may push too.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace quor {

class ValueQueue {
  public:
    // capacity: a power of two.
    explicit ValueQueue(std::size_t capacity) : mask(capacity - 1), cells(new Cell[capacity]) {
        for (std::size_t i = 0; i < capacity; ++i)
            cells[i].sequence.store(i, std::memory_order_relaxed);
    }

    // False when the queue is full; the caller then relies on its own record
    // of the latest value.
    bool push(std::int32_t index, float value) {
        std::size_t at = tail.load(std::memory_order_relaxed);
        for (;;) {
            Cell& cell = cells[at & mask];
            const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
            const auto lag = static_cast<std::ptrdiff_t>(sequence) - static_cast<std::ptrdiff_t>(at);
            if (lag == 0) {
                if (tail.compare_exchange_weak(at, at + 1, std::memory_order_relaxed)) {
                    cell.index = index;
                    cell.value = value;
                    cell.sequence.store(at + 1, std::memory_order_release);
                    return true;
                }
            } else if (lag < 0) {
                return false;
            } else {
                at = tail.load(std::memory_order_relaxed);
            }
        }
    }

    // One consumer at a time (the effect's owner).
    bool pop(std::int32_t& index, float& value) {
        Cell& cell = cells[head & mask];
        const std::size_t sequence = cell.sequence.load(std::memory_order_acquire);
        if (sequence != head + 1) return false;
        index = cell.index;
        value = cell.value;
        cell.sequence.store(head + mask + 1, std::memory_order_release);
        ++head;
        return true;
    }

  private:
    struct Cell {
        std::atomic<std::size_t> sequence{0};
        std::int32_t index = 0;
        float value = 0.0f;
    };

    const std::size_t mask;
    std::unique_ptr<Cell[]> cells;
    alignas(64) std::atomic<std::size_t> tail{0};
    alignas(64) std::size_t head = 0;
};

} // namespace quor
