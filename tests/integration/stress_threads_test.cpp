// Automation, editor and audio threads on one instance, and two more instances
// on threads of their own so that any state instances share is contended too.
// Under the thread sanitizer this proves the locking; run plainly, that no
// interleaving corrupts state or audio. QUOR_STRESS_MS per effect (default 1000).
#include "tests/integration/hardening_host.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quor::test::hardening {
namespace {

class StressThreads : public EffectTest {};

TEST_P(StressThreads, HostThreadsAgainstTheAudioThread) {
    const VstInt32 n = fx->numParams;
    host.start(48000.0f, 256);
    // States to restore: corners of the parameter space, some damaged.
    std::vector<std::vector<std::uint8_t>> chunks;
    TestHost donor(GetParam());
    for (int kind = 0; kind < 8; ++kind) {
        setAll(donor, corner(n, kind, noise));
        std::vector<std::uint8_t>& bytes = chunks.emplace_back(donor.chunk());
        if (kind % 2 || n == 0) continue;
        setField(bytes, parsOffset(bytes) + 12, 0xFFFFFFFFu);
        setField(bytes, bytes.size() - 4, std::numeric_limits<float>::quiet_NaN());
        bytes.pop_back();
    }

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0}, badAudio{0}, badReadback{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (Noise own(GetParam(), 1); !stop; ++blocks)
            badAudio += !play(host, own, 256).finite();
    });
    threads.emplace_back([&] {
        for (Noise own(GetParam(), 2); !stop && n > 0;) {
            host.setParam(static_cast<VstInt32>(own.below(n)),
                          own.below(4) ? own.unit() : own.pick(hostileValues()));
            const float back = host.getParam(static_cast<VstInt32>(own.below(n)));
            badReadback += !(back >= 0.0f && back <= 1.0f);
            // A saved state stays valid until the next request of its kind, so
            // each host thread saves its own kind: this one programs, the next banks.
            if (own.below(64) == 0) badReadback += host.chunk(true).empty();
        }
    });
    threads.emplace_back([&] {
        char text[256];
        for (Noise own(GetParam(), 3); !stop;) {
            const auto kind = static_cast<VstInt32>(own.below(2)); // bank or program
            switch (own.below(64) ? own.below(3) : 3) {
            case 0:
                host.setChunk(own.pick(chunks), kind);
                break;
            case 1:
                badReadback += host.chunk().empty();
                break;
            case 2:
                for (VstInt32 i = 0; i < n; ++i) {
                    host.dispatch(effGetParamDisplay, i, 0, text);
                    badReadback += std::strlen(text) >= 64;
                }
                break;
            default: // a rate change that does not wait for the audio thread: against the protocol, harmless
                host.suspend();
                host.dispatch(effSetSampleRate, 0, 0, nullptr, kind ? 44100.0f : 48000.0f);
                host.resume();
            }
        }
    });
    for (std::uint32_t t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            TestHost neighbour(GetParam());
            if (!neighbour.loaded()) return;
            const VstInt32 count = neighbour.effect()->numParams;
            neighbour.start(t ? 44100.0f : 48000.0f, 128);
            for (Noise own(GetParam(), 4 + t); !stop;) {
                if (count > 0) neighbour.setParam(static_cast<VstInt32>(own.below(count)), own.unit());
                badAudio += !play(neighbour, own, 128).finite();
            }
        });
    const char* ms = std::getenv("QUOR_STRESS_MS");
    std::this_thread::sleep_for(std::chrono::milliseconds(ms && std::atol(ms) > 0 ? std::atol(ms) : 1000));
    stop = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(badAudio.load(), 0) << "blocks with non-finite output";
    EXPECT_EQ(badReadback.load(), 0);
    EXPECT_GT(blocks.load(), 0);

    // The state left behind is whole: a saved state restores exactly.
    host.setChunk(chunks.back());
    EXPECT_EQ(host.chunk(), chunks.back());
    host.suspend();
    host.resume();
    for (int b = 0; b < 8; ++b)
        ASSERT_TRUE(play(host, noise, 1024).finite()) << "block " << b;
}

QUOR_FOR_EACH_BUILT_EFFECT(StressThreads);

} // namespace
} // namespace quor::test::hardening
