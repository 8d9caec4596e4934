// Host threads against the audio thread: an automation thread writes and
// reads parameters while a second host thread restores, saves and displays
// the state and now and then switches the sample rate, and the audio thread
// processes without pause. Run under the
// thread sanitizer this proves the locking; run plainly it proves that no
// interleaving corrupts the state or the audio.
//
// Each effect gets a bounded time (QUOR_STRESS_MS, default 1000 ms).
#include "tests/integration/hardening_host.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quor::test::hardening {
namespace {

class StressThreads : public ::testing::TestWithParam<std::string> {};

std::chrono::milliseconds stressTime() {
    const char* env = std::getenv("QUOR_STRESS_MS");
    const long ms = env ? std::strtol(env, nullptr, 10) : 1000;
    return std::chrono::milliseconds(ms > 0 ? ms : 1000);
}

TEST_P(StressThreads, HostThreadsAgainstTheAudioThread) {
    TestHost host(GetParam());
    TestHost donor(GetParam());
    ASSERT_TRUE(host.loaded() && donor.loaded());
    AEffect* fx = host.effect();
    const VstInt32 n = fx->numParams;
    host.start(48000.0f, 256);

    // States to restore, made beforehand: corners of the parameter space and
    // a few damaged copies of them.
    std::vector<std::vector<std::uint8_t>> chunks;
    Noise prep(seedFor(GetParam(), 30));
    for (int kind = 0; kind < 8; ++kind) {
        setAll(donor, cornerSetting(n, kind, prep));
        chunks.push_back(donor.chunk());
    }
    for (int k = 0; k < 4; ++k) {
        std::vector<std::uint8_t> damaged = chunks[static_cast<std::size_t>(k)];
        if (damaged.size() > 40) {
            writeFloat(damaged, damaged.size() - 4, std::numeric_limits<float>::quiet_NaN());
            writeU32(damaged, parsOffset(damaged) + 12, 0xFFFFFFFFu);
            damaged.resize(damaged.size() - 2);
        }
        chunks.push_back(damaged);
    }

    std::atomic<bool> stop{false};
    std::atomic<long> badAudio{-1};
    std::atomic<long> blocks{0};
    std::atomic<long> badReadback{0};

    std::thread audio([&] {
        Noise noise(seedFor(GetParam(), 31));
        Block block(fx->numInputs, 256);
        while (!stop.load(std::memory_order_relaxed)) {
            block.fillNoise(noise, 1.0f);
            block.processReplacing(fx);
            const long bad = firstNonFinite(block);
            if (bad >= 0 && badAudio.load() < 0) badAudio = blocks.load();
            ++blocks;
        }
    });

    std::thread automation([&] {
        Noise noise(seedFor(GetParam(), 32));
        const std::vector<float> extremes = extremeValues();
        while (!stop.load(std::memory_order_relaxed)) {
            if (n == 0) {
                std::this_thread::yield();
                continue;
            }
            const auto index = static_cast<VstInt32>(noise.below(static_cast<std::uint32_t>(n)));
            const float value = noise.below(4)
                                    ? noise.unit()
                                    : extremes[noise.below(static_cast<std::uint32_t>(extremes.size()))];
            fx->setParameter(fx, index, value);
            const float back =
                fx->getParameter(fx, static_cast<VstInt32>(noise.below(static_cast<std::uint32_t>(n))));
            if (!(back >= 0.0f && back <= 1.0f)) ++badReadback;
        }
    });

    std::thread editor([&] {
        Noise noise(seedFor(GetParam(), 33));
        char text[256];
        float rate = 48000.0f;
        while (!stop.load(std::memory_order_relaxed)) {
            if (noise.below(64) == 0) {
                // A host that changes the rate without waiting for the audio
                // thread to stop: against the protocol, but it must not hurt.
                rate = rate == 48000.0f ? 44100.0f : 48000.0f;
                fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
                fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, rate);
                fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
                continue;
            }
            switch (noise.below(4)) {
            case 0: {
                const auto& bytes = chunks[noise.below(static_cast<std::uint32_t>(chunks.size()))];
                std::vector<std::uint8_t> copy(bytes);
                fx->dispatcher(fx, effSetChunk, static_cast<VstInt32>(noise.below(2)),
                               static_cast<VstIntPtr>(copy.size()), copy.data(), 0.0f);
                break;
            }
            case 1: {
                void* data = nullptr;
                const VstIntPtr size =
                    fx->dispatcher(fx, effGetChunk, static_cast<VstInt32>(noise.below(2)), 0, &data, 0.0f);
                if (size <= 0 || !data) ++badReadback;
                break;
            }
            default:
                for (VstInt32 i = 0; i < n; ++i) {
                    fx->dispatcher(fx, effGetParamDisplay, i, 0, text, 0.0f);
                    if (std::strlen(text) >= 64) ++badReadback;
                }
                break;
            }
        }
    });

    std::this_thread::sleep_for(stressTime());
    stop = true;
    audio.join();
    automation.join();
    editor.join();

    EXPECT_EQ(badAudio.load(), -1) << "non-finite output in block " << badAudio.load();
    EXPECT_EQ(badReadback.load(), 0);
    EXPECT_GT(blocks.load(), 0);

    // The state left behind is whole: restoring a known state gives exactly
    // the values a quiet instance gets from it.
    TestHost quiet(GetParam());
    ASSERT_TRUE(quiet.loaded());
    quiet.start(48000.0f, 256);
    host.suspend();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    host.resume();
    host.setChunk(chunks[3]);
    quiet.setChunk(chunks[3]);
    EXPECT_EQ(host.chunk(), quiet.chunk());
    EXPECT_EQ(allParams(host), allParams(quiet));
    for (VstInt32 i = 0; i < n; ++i)
        EXPECT_EQ(host.paramDisplay(i), quiet.paramDisplay(i)) << "parameter " << i;

    // And it still plays: after a reset, noise in gives finite audio out.
    host.suspend();
    host.resume();
    Noise noise(9);
    for (int b = 0; b < 8; ++b) {
        Block block(fx->numInputs, 1024);
        block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        ASSERT_EQ(firstNonFinite(block), -1) << "block " << b;
    }
}

// A host that runs tracks on several cores: instances of one effect created,
// automated and processed at the same time on separate threads. Any state
// the instances share (tables, caches, random sources) must be safe for that.
TEST_P(StressThreads, InstancesOnSeparateThreads) {
    constexpr int kInstances = 3;
    std::atomic<int> failures{0};
    std::atomic<long> blocks{0};
    const auto until = std::chrono::steady_clock::now() + stressTime() / 2;
    std::vector<std::thread> tracks;
    for (int t = 0; t < kInstances; ++t) {
        tracks.emplace_back([&, t] {
            TestHost host(GetParam());
            if (!host.loaded()) {
                ++failures;
                return;
            }
            AEffect* fx = host.effect();
            host.start(t == 0 ? 44100.0f : 48000.0f, 128);
            Noise noise(seedFor(GetParam(), 40 + static_cast<std::uint32_t>(t)));
            Block block(fx->numInputs, 128);
            while (std::chrono::steady_clock::now() < until) {
                if (fx->numParams > 0)
                    fx->setParameter(
                        fx, static_cast<VstInt32>(noise.below(static_cast<std::uint32_t>(fx->numParams))),
                        noise.unit());
                block.fillNoise(noise, 1.0f);
                block.processReplacing(fx);
                if (firstNonFinite(block) >= 0) ++failures;
                ++blocks;
            }
        });
    }
    for (auto& track : tracks)
        track.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(blocks.load(), 0);
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(StressThreads);
INSTANTIATE_TEST_SUITE_P(Effects, StressThreads, ::testing::ValuesIn(builtEffects()), effectTestName);

} // namespace
} // namespace quor::test::hardening
