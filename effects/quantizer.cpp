// Quantizer: bit-depth and sample-rate reduction. Each input sample is
// quantized to 2^bits levels (with optional dither, with or without a zero
// level); a sample-and-hold running at 400 Hz to 40 kHz, with optional
// jitter, resamples the result. The hold instants fall between input
// samples: the held value is read from the quantized history by Catmull-Rom
// interpolation, and each jump of the held value is band-limited by adding
// the minimum-phase step residual at the jump's sub-sample position.
#include "dsp/blep_table.h"
#include "dsp/param_smoother.h"
#include "dsp/taper.h"
#include "effects/effects.h"
#include "framework/effect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quor {

namespace {

enum QuantizerParam { kRate, kJitter, kBits, kDither, kZero, kQuantizerParamCount };

const ParamInfo kQuantizerParams[kQuantizerParamCount] = {
    {"Rate", 0.0f, 1.0f, 0, 0.4f},   {"Jitter", 0.0f, 1.0f, 0, 0.0f}, {"Bits", 0.0f, 1.0f, 0, 0.4f},
    {"Dither", 0.0f, 1.0f, 0, 0.0f}, {"Zero", 0.0f, 1.0f, 1, 0.0f},
};

constexpr float kGlideSeconds = 0.2f; // glide of the hold rate
constexpr std::int32_t kSmootherCapacity = 5;
constexpr float kUnquantizedLevels = 65536.0f; // 16 bits: the input passes unquantized
constexpr float kSmallestJump = 1e-6f;         // smaller jumps get no residual
constexpr std::int32_t kRingSize = 32;         // correction ring, a power of two above the taps
// Hold events per frame. The fastest hold rate at the lowest rate the host
// adapter runs an effect at, with full jitter, needs 8; anything beyond
// that comes only from values no host sends, and is dropped.
constexpr std::int32_t kMaxHoldEventsPerFrame = 64;

// 400 Hz x 100^v: 400 Hz to 40 kHz.
float holdRateHz(float v) {
    const float e = std::exp(4.6051702f * v);
    return e * 200.0f + e * 200.0f;
}
// 16^v: 1 to 16 bits.
float bitsFromValue(float v) {
    return std::exp(2.7725887f * v);
}
// 0 to 0.5, of the hold rate (jitter) or of a quantization step (dither).
float noiseAmount(float v) {
    return Taper(v, -1.5f) * 0.5f;
}

bool validRate(float hz) {
    return hz > 0.0f && std::isfinite(hz);
}

// Uniform 15-bit values, one stream per instance so that instances never
// disturb each other and a render repeats bit for bit: a 32-bit linear
// congruential generator (the C standard's example constants), bits 16 to 30.
class NoiseSource {
  public:
    std::int32_t next() {
        state = state * 1103515245u + 12345u;
        return static_cast<std::int32_t>((state >> 16) & 0x7FFFu);
    }
    void restart() { state = kSeed; }

  private:
    static constexpr std::uint32_t kSeed = 1;
    std::uint32_t state = kSeed;
};

struct HoldChannel {
    float phase;            // hold clock; an event each time it reaches 1
    float held;             // current held value
    std::int32_t ringIndex; // next correction slot to consume
    std::int32_t pending;   // slots still to consume
    float lastCorrection;
    float correction[kRingSize]; // band-limiting corrections for the coming samples
    float history[4];            // newest quantized input first
};

class Quantizer final : public HostedEffect {
  public:
    Quantizer()
        : HostedEffect("Quantizer", kQuantizerParams, kQuantizerParamCount), smoother(kSmootherCapacity) {}

    void sampleRateChanged() override {
        if (!validRate(sampleRate)) return;
        smoother.configure(kGlideSeconds, sampleRate);
        parameterChanged(kRate);
    }

    void parameterChanged(std::int32_t index) override {
        const float v = values[index];
        switch (index) {
        case kRate:
            if (validRate(sampleRate)) smoother.setTarget(&rateStep, 1.0f / (sampleRate / holdRateHz(v)));
            break;
        case kJitter:
            jitter = noiseAmount(v);
            break;
        case kBits:
            levels = std::exp2(bitsFromValue(v));
            break;
        case kDither:
            dither = noiseAmount(v);
            break;
        default:
            break; // Zero is read at the start of each block
        }
    }

    // Every state restarts, the noise stream included, so that what follows
    // a reset depends only on what is played after it.
    void reset() override {
        for (HoldChannel& ch : channels) {
            ch = HoldChannel{};
            ch.held = 0.5f / levels;
        }
        noise.restart();
    }
    void clear() override { rateStep = 0.0f; }

    void formatValue(std::int32_t index, char* text, std::int32_t maxLength) override {
        const float v = values[index];
        if (index == kRate)
            std::sprintf(text, "%0.1f Hz", static_cast<double>(holdRateHz(v)));
        else if (index == kBits)
            std::sprintf(text, "%0.1f bits", static_cast<double>(bitsFromValue(v)));
        else
            HostedEffect::formatValue(index, text, maxLength);
    }

    // Audio thread.
    void process(AudioBuffers& buffers, bool replacing) override;

  private:
    struct Block {
        bool quantize;
        bool zeroLevel;
        float levels;
        float stepSize;
        float halfStep;
        bool replacing;
    };
    template <bool Gliding>
    void runChannel(HoldChannel& ch, const float* in, float* out, std::int32_t frames, const Block& b);
    static void holdEvents(HoldChannel& ch, float& phase, float& held, std::int32_t ring,
                           std::int32_t& pending, float inc, const float* h);

    ParamSmoother smoother;
    float rateStep = 0.0f; // hold-clock advance per sample, smoothed
    float jitter = 0.0f;
    float levels = 0.0f;
    float dither = 0.0f;
    HoldChannel channels[2] = {};
    NoiseSource noise;
};

void Quantizer::process(AudioBuffers& buffers, bool replacing) {
    Block b;
    b.zeroLevel = values[kZero] > 0.5f;
    b.levels = levels;
    b.stepSize = 1.0f / levels;
    b.halfStep = 0.5f * b.stepSize;
    b.quantize = levels < kUnquantizedLevels;
    b.replacing = replacing;
    const bool gliding = smoother.activeRamps() > 0;
    smoother.beginBlock();
    for (std::int32_t c = 0; c < 2; ++c) {
        smoother.beginChannel();
        if (gliding)
            runChannel<true>(channels[c], buffers.inputs[c], buffers.outputs[c], buffers.frames, b);
        else
            runChannel<false>(channels[c], buffers.inputs[c], buffers.outputs[c], buffers.frames, b);
    }
    if (buffers.frames > 0) smoother.markActive();
}

template <bool Gliding>
void Quantizer::runChannel(HoldChannel& ch, const float* in, float* out, std::int32_t frames,
                           const Block& b) {
    float phase = ch.phase;
    float held = ch.held;
    float last = ch.lastCorrection;
    std::int32_t ring = ch.ringIndex;
    std::int32_t pending = ch.pending;
    float h[4] = {ch.history[0], ch.history[1], ch.history[2], ch.history[3]};
    const float blockStep = rateStep;
    const float jitterAmount = jitter;
    const float ditherAmount = dither;
    for (std::int32_t i = 0; i < frames; ++i) {
        // One noise value per frame and channel, shared by jitter and dither.
        const float n = static_cast<float>(noise.next()) * 3.05185e-5f;
        const float u = 2.0f * n - 1.0f;
        const float inc = (jitterAmount * u + 1.0f) * (Gliding ? rateStep : blockStep);
        const float x = in[i]; // read before out[i] is written: in and out may be one buffer
        float q = x;
        if (b.quantize) {
            const float d = u * ditherAmount;
            q = b.zeroLevel ? std::floor(x * b.levels + (d + 0.5f)) * b.stepSize
                            : std::floor(x * b.levels + d) * b.stepSize + b.halfStep;
        }
        h[3] = h[2];
        h[2] = h[1];
        h[1] = h[0];
        h[0] = q;
        phase = phase + inc;
        if (!(phase < 1.0f)) holdEvents(ch, phase, held, ring, pending, inc, h);
        if (pending > 0) {
            --pending;
            last = ch.correction[ring];
            ch.correction[ring] = 0.0f;
            ring = (ring + 1) & (kRingSize - 1);
        } else {
            last = 0.0f; // the residual has ended: the output is the held value itself
        }
        const float y = held + last;
        out[i] = b.replacing ? y : out[i] + y;
        if (Gliding) smoother.advance();
    }
    ch.phase = phase;
    ch.held = held;
    ch.lastCorrection = last;
    ch.ringIndex = ring;
    ch.pending = pending;
    std::copy(h, h + 4, ch.history);
}

// The hold events of one frame (several when the clock advances by more than
// a period), each adding the step residual of its jump to the ring. t is the
// fraction of the frame by which the event lies before the newest sample.
void Quantizer::holdEvents(HoldChannel& ch, float& phase, float& held, std::int32_t ring,
                           std::int32_t& pending, float inc, const float* h) {
    const BlepTable& table = BlepTable::minblep();
    const float invInc = 1.0f / inc;
    for (std::int32_t events = 0; phase >= 1.0f && events < kMaxHoldEventsPerFrame; ++events) {
        phase = phase - 1.0f;
        const float t = phase * invInc;
        // Catmull-Rom through the history: h[1] at t = 0, h[2] at t = 1, so the
        // held signal trails the input by one sample.
        const float v =
            h[1] + 0.5f * ((h[2] - h[0]) * t + (2.0f * h[0] - 5.0f * h[1] + 4.0f * h[2] - h[3]) * (t * t) +
                           (3.0f * (h[1] - h[2]) + h[3] - h[0]) * (t * t * t));
        const float jump = held - v;
        if (std::fabs(jump) > kSmallestJump) {
            // t lies in [0, 1]; rounding may carry it a hair above 1, which the
            // guard entries cover. Anything else is held inside the table.
            float x = t * static_cast<float>(table.stride);
            if (!(x >= 0.0f)) x = 0.0f;
            if (x > static_cast<float>(table.stride + 1)) x = static_cast<float>(table.stride + 1);
            const auto j = static_cast<std::int32_t>(x);
            const float w = x - static_cast<float>(j);
            const float* d = table.data + j;
            for (std::int32_t k = 0; k < table.taps; ++k, d += table.stride) {
                float& slot = ch.correction[(ring + k) & (kRingSize - 1)];
                slot += (d[0] + (d[1] - d[0]) * w) * jump;
            }
            pending = std::max(pending, table.taps);
        }
        held = v;
    }
    // A clock that no valid setting drives this far (or a non-finite one)
    // restarts within its period instead of running on.
    if (!(phase < 1.0f)) phase = std::isfinite(phase) ? phase - std::floor(phase) : 0.0f;
}

} // namespace

HostedEffect* createQuantizer() {
    return new Quantizer;
}

} // namespace quor
