// Real-time safety as a host sees it: no heap call inside process, nor inside
// setParameter made on the processing thread, for every built plug-in and
// every parameter. The test binary replaces the C allocator (so it is never
// built with a sanitizer, which replaces it too) and counts the calls a
// thread makes while it is flagged as the audio thread.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

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
void* aligned_alloc(std::size_t alignment, std::size_t n) {
    counted();
    return __libc_memalign(alignment, n);
}
void* memalign(std::size_t alignment, std::size_t n) {
    counted();
    return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    counted();
    void* p = __libc_memalign(alignment, n);
    if (!p) return 12; // ENOMEM
    *out = p;
    return 0;
}
}

namespace quor::test {
namespace {

constexpr int kFrames = 64;

// Blocks of noise through the replacing call, with every buffer made before
// counting starts.
class AudioThread {
  public:
    explicit AudioThread(AEffect* effect)
        : fx(effect), in(static_cast<std::size_t>(effect->numInputs)), out(2) {
        unsigned seed = 1;
        for (auto& channel : in)
            for (float& x : channel)
                x = static_cast<float>((seed = seed * 1103515245u + 12345u) >> 9) * (2.0f / 8388608.0f) -
                    1.0f;
        for (std::size_t c = 0; c < in.size(); ++c)
            inputs.push_back(in[c].data());
        for (auto& channel : out)
            outputs.push_back(channel.data());
    }
    // A parameter change as automation delivers it, then the block it belongs to.
    void block(VstInt32 index = -1, float value = 0.0f) {
        onAudioThread = true;
        if (index >= 0) fx->setParameter(fx, index, value);
        fx->processReplacing(fx, inputs.data(), outputs.data(), kFrames);
        onAudioThread = false;
    }

  private:
    AEffect* fx;
    std::vector<std::array<float, kFrames>> in, out;
    std::vector<float*> inputs, outputs;
};

class HeapCalls : public ::testing::TestWithParam<std::string> {};

TEST_P(HeapCalls, NoneInProcessOrInSetParameterOnTheAudioThread) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    for (float rate : {48000.0f, 192000.0f}) {
        host.start(rate, kFrames);
        AudioThread audio(host.effect());
        audioHeapCalls = 0;
        for (int b = 0; b < 8; ++b)
            audio.block();
        for (VstInt32 p = 0; p < host.effect()->numParams; ++p) {
            const float before = host.getParam(p);
            for (float v : {0.0f, 1.0f, 0.37f, 0.5f, 0.91f, before})
                for (int b = 0; b < 3; ++b)
                    audio.block(p, b == 0 ? v : v * 0.999f);
        }
        // The reset after a suspend happens in the first block after it.
        host.suspend();
        host.resume();
        for (int b = 0; b < 4; ++b)
            audio.block();
        EXPECT_EQ(audioHeapCalls.load(), 0) << rate << " Hz";
        host.suspend();
    }
}

// The heaviest Reverb, its size automated on the audio thread before every block.
TEST(HeapCalls, ReverbSizeAutomatedAtTheHighestDensity) {
    if (pluginPath("Reverb").empty()) GTEST_SKIP();
    TestHost host("Reverb");
    host.setParam(14, 1.0f); // Tail Density 16
    host.setParam(15, 1.0f); // Size 1
    host.start(192000.0f, kFrames);
    AudioThread audio(host.effect());
    audioHeapCalls = 0;
    for (int b = 0; b < 400; ++b)
        audio.block(b % 50 == 0 ? 13 : 15, b % 50 == 0 ? static_cast<float>(b / 50 % 2) : 1.0f - 0.002f * b);
    EXPECT_EQ(audioHeapCalls.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Effects, HeapCalls, ::testing::ValuesIn(builtEffects()), [](const auto& info) {
    std::string name;
    for (char c : info.param)
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
});

} // namespace
} // namespace quor::test
