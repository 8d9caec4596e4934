// The delay line every stage of the Reverb is built from: a ring buffer of
// samples with a four-sample guard in front of the body that mirrors the last
// four body slots, so a read that steps one slot back from slot 0 lands on a
// copy of the last slot instead of needing a second wrap.
#pragma once

#include <cstdint>
#include <cstring>

namespace quor {

struct ReverbLine {
    static constexpr std::int32_t kGuard = 4;

    ReverbLine() = default;
    ~ReverbLine() { delete[] storage; }
    ReverbLine(const ReverbLine&) = delete;
    ReverbLine& operator=(const ReverbLine&) = delete;

    // Zeroed storage for a line of `samples` slots, guard included. Throws
    // std::bad_alloc; called only where no lock is held.
    static float* allocate(std::int32_t samples) {
        return new float[static_cast<std::size_t>(samples) + kGuard]();
    }

    // Takes over `newStorage` (capacity + kGuard floats) and hands back the
    // previous storage, which the caller frees once no reader can see it.
    float* install(std::int32_t newCapacity, float* newStorage) {
        float* old = storage;
        storage = newStorage;
        body = newStorage ? newStorage + kGuard : nullptr;
        capacity = newStorage ? newCapacity : 0;
        mirrorFrom = capacity - kGuard;
        nextWrite = 0;
        return old;
    }

    void clear() {
        if (storage) std::memset(storage, 0, sizeof(float) * (static_cast<std::size_t>(capacity) + kGuard));
    }

    bool hasStorage() const { return storage != nullptr; }

    void write(float x) {
        body[nextWrite] = x;
        if (nextWrite >= mirrorFrom) storage[nextWrite - mirrorFrom] = x;
        ++nextWrite;
        if (nextWrite >= capacity) nextWrite -= capacity;
    }

    // write() for `count` samples at once, count <= capacity.
    void writeRun(const float* x, std::int32_t count) {
        if (capacity < kGuard) {
            for (std::int32_t i = 0; i < count; ++i)
                write(x[i]);
            return;
        }
        const std::int32_t n = nextWrite;
        const std::int32_t first = count < capacity - n ? count : capacity - n;
        std::memcpy(body + n, x, sizeof(float) * static_cast<std::size_t>(first));
        std::memcpy(body, x + first, sizeof(float) * static_cast<std::size_t>(count - first));
        // Refresh the guard if the run touched the last four slots.
        if (n + first > mirrorFrom || count - first > mirrorFrom)
            std::memcpy(storage, body + mirrorFrom, sizeof(float) * kGuard);
        nextWrite = n + count >= capacity ? n + count - capacity : n + count;
    }

    // A read position split into whole samples and fraction, for reads that
    // stay at one delay for a whole block.
    struct Position {
        std::int32_t whole;
        float fraction;
    };
    static Position positionOf(float delaySamples) {
        const auto whole = static_cast<std::int32_t>(delaySamples);
        return {whole, delaySamples - static_cast<float>(whole)};
    }

    // Linear interpolation between the values written i and i + 1 writes ago,
    // i = delaySamples truncated; i = 0 addresses the oldest sample, the slot
    // about to be overwritten. Valid for 0 <= delaySamples < capacity; reads
    // come before the frame's write to the same line.
    float read(float delaySamples) const { return read(positionOf(delaySamples)); }

    float read(const Position& p) const {
        std::int32_t slot = nextWrite - p.whole;
        if (slot < 0) slot += capacity;
        const float a = body[slot];
        const float b = body[slot - 1]; // slot - 1 = -1 reads the guard's copy of the last slot
        return a + (b - a) * p.fraction;
    }

    float delay = 0.0f; // samples, for lines read at one nominal delay
    std::int32_t capacity = 0;
    std::int32_t nextWrite = 0;
    std::int32_t mirrorFrom = -kGuard;
    float* storage = nullptr;
    float* body = nullptr;
};

} // namespace quor
