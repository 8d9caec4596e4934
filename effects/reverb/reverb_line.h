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

    float* detach() {
        delay = 0.0f;
        return install(0, nullptr);
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

    // Linear interpolation between the values written i and i + 1 writes ago,
    // i = delaySamples truncated; i = 0 addresses the oldest sample, the slot
    // about to be overwritten. Valid for 0 <= delaySamples < capacity; reads
    // come before the frame's write to the same line.
    float read(float delaySamples) const {
        const auto whole = static_cast<std::int32_t>(delaySamples);
        const float fraction = delaySamples - static_cast<float>(whole);
        std::int32_t slot = nextWrite - whole;
        if (slot < 0) slot += capacity;
        const float a = body[slot];
        const float b = body[slot - 1]; // slot - 1 = -1 reads the guard's copy of the last slot
        return a + (b - a) * fraction;
    }

    float delay = 0.0f; // samples, for lines read at one nominal delay
    std::int32_t capacity = 0;
    std::int32_t nextWrite = 0;
    std::int32_t mirrorFrom = -kGuard;
    float* storage = nullptr;
    float* body = nullptr;
};

} // namespace quor
