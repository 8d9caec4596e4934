// No heap call inside process, nor inside setParameter made on the audio
// thread. The C allocator is replaced (so never with a sanitizer, which
// replaces it too) to count the calls of a thread flagged as the audio thread.
#include "tests/integration/hardening_host.h"

#include <atomic>

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);
}

namespace {

thread_local bool onAudioThread = false; // static TLS of the executable: reading it never allocates
std::atomic<long> audioHeapCalls{0};

void counted() {
    if (onAudioThread) audioHeapCalls.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" {
void* malloc(std::size_t n) {
    counted();
    return __libc_malloc(n);
}
void* calloc(std::size_t count, std::size_t n) {
    counted();
    return __libc_calloc(count, n);
}
void* realloc(void* p, std::size_t n) {
    counted();
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (p) counted();
    __libc_free(p);
}
void* memalign(std::size_t alignment, std::size_t n) {
    counted();
    return __libc_memalign(alignment, n);
}
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    return memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = memalign(alignment, n);
    if (!p) return 12; // ENOMEM
    *out = p;
    return 0;
}
}

namespace quor::test::hardening {
namespace {

class HeapCalls : public EffectTest {};

TEST_P(HeapCalls, NoneInProcessOrInSetParameterOnTheAudioThread) {
    constexpr int kFrames = 64;
    for (float rate : {48000.0f, 192000.0f}) {
        host.start(rate, kFrames);
        Block block(fx, kFrames, noise); // every buffer made before counting starts
        std::vector<float*> in = pointers(block.in), out = pointers(block.out);
        // A parameter change as automation delivers it, then its block.
        const auto play = [&](VstInt32 index = -1, float value = 0.0f) {
            onAudioThread = true;
            if (index >= 0) host.setParam(index, value);
            fx->processReplacing(fx, in.data(), out.data(), kFrames);
            onAudioThread = false;
        };
        audioHeapCalls = 0;
        for (int b = 0; b < 8; ++b)
            play();
        for (VstInt32 p = 0; p < fx->numParams; ++p) {
            const float before = host.getParam(p);
            for (float v : {0.0f, 1.0f, 0.37f, 0.5f, 0.91f, before})
                for (int b = 0; b < 3; ++b)
                    play(p, b == 0 ? v : v * 0.999f);
        }
        // The reset after a suspend happens in the first block after it.
        host.suspend();
        host.resume();
        for (int b = 0; b < 4; ++b)
            play();
        EXPECT_EQ(audioHeapCalls.load(), 0) << rate << " Hz";
        host.suspend();
    }
}

QUOR_FOR_EACH_BUILT_EFFECT(HeapCalls);

} // namespace
} // namespace quor::test::hardening
