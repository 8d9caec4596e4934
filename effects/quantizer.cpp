// Quantizer: bit-depth and sample-rate reduction. Each input sample is
// quantized to 2^bits levels (with optional dither, with or without a zero
// level); a sample-and-hold running at 400 Hz to 40 kHz, with optional
// jitter, resamples the result. The hold instants fall between input
// samples: the held value is read from the quantized history by Catmull-Rom
// interpolation, and each jump of the held value is band-limited by adding
// the minimum-phase step residual at the jump's sub-sample position.
#include "dsp/blep_table.h"
#include "dsp/exact_floor.h"
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

constexpr float kGlideSeconds = 0.2f;          // glide of the hold rate
constexpr float kUnquantizedLevels = 65536.0f; // 16 bits: the input passes unquantized
constexpr float kSmallestJump = 1e-6f;         // smaller jumps get no residual
constexpr std::int32_t kTaps = BlepTable::kLength / BlepTable::kOversampling; // frames a residual spans
constexpr std::int32_t kHistory = 3; // older quantized inputs the interpolation reads
constexpr std::int32_t kChunk = 64;  // frames per pass
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

// Uniform 15-bit values: a 32-bit linear congruential generator (the C
// standard's example constants), bits 16 to 30. Each channel of each instance
// draws its own stream, seeded the same at every reset, so instances never
// disturb each other and the noise depends only on the frames since the last
// reset, not on block sizes.
class NoiseSource {
  public:
    NoiseSource() = default;
    explicit NoiseSource(std::uint32_t seed) : state(seed) {}
    // One value mapped to [-1, 1).
    float next() {
        state = state * 1103515245u + 12345u;
        const auto n = static_cast<float>(static_cast<std::int32_t>((state >> 16) & 0x7FFFu)) * 3.05185e-5f;
        return 2.0f * n - 1.0f;
    }

  private:
    std::uint32_t state = 1;
};

struct HoldState {
    float phase; // hold clock; an event each time it reaches 1
    float held;  // current held value
};

struct HoldChannel {
    HoldState hold;
    float history[kHistory]; // the quantized inputs before the coming frame, oldest first
    float correction[kTaps]; // band-limiting residuals for the coming frames, the next one first
    NoiseSource noise;
};

struct Quantization {
    bool quantize;
    bool zeroLevel;
    float levels;
    float stepSize;
    float halfStep;
};

// The offset added before the floor: per frame (dither), or one for the chunk.
struct OffsetPerFrame {
    const float* values;
    float at(std::int32_t i) const { return values[i]; }
#if defined(__SSE2__)
    __m128 at4(std::int32_t i) const {
        return _mm_loadu_ps(values + i);
    }
#endif
};
struct SteadyOffset {
    float value;
    float at(std::int32_t) const { return value; }
#if defined(__SSE2__)
    __m128 at4(std::int32_t) const {
        return _mm_set1_ps(value);
    }
#endif
};

// One channel's chunk: q = floor(x L + offset) s, plus half a step without a
// zero level. The offset is d + 0.5 with a zero level and d without, for a
// dither offset d (without dither d is 0, and x L + 0 floors like x L).
template <bool HalfStep, class Offset>
void quantizeChunk(const float* x, Offset offset, float* q, std::int32_t n, const Quantization& z) {
    const float l = z.levels, s = z.stepSize, half = z.halfStep;
    std::int32_t i = 0;
#if defined(__SSE2__)
    const __m128 l4 = _mm_set1_ps(l), s4 = _mm_set1_ps(s), half4 = _mm_set1_ps(half);
    for (; i + 4 <= n; i += 4) {
        const __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(x + i), l4), offset.at4(i));
        __m128 y = _mm_mul_ps(floorExact(v), s4);
        if (HalfStep) y = _mm_add_ps(y, half4);
        _mm_storeu_ps(q + i, y);
    }
#endif
    for (; i < n; ++i) {
        const float y = floorExact(x[i] * l + offset.at(i)) * s;
        q[i] = HalfStep ? y + half : y;
    }
}

template <class Offset>
void quantizeChunk(const float* x, Offset offset, float* q, std::int32_t n, const Quantization& z) {
    if (!z.quantize)
        std::copy(x, x + n, q);
    else if (z.zeroLevel)
        quantizeChunk<false>(x, offset, q, n, z);
    else
        quantizeChunk<true>(x, offset, q, n, z);
}

// The step residual laid out for the hold events: for each sub-sample
// position j of the table (0..17, the last two from rounding above 1), the
// 16 taps' entries and their differences to the next position, so that a
// jump's 16 corrections are one contiguous multiply-add.
struct ResidualByPosition {
    static constexpr std::int32_t kPositions = BlepTable::kOversampling + 2;
    float entry[kPositions][kTaps];
    float slope[kPositions][kTaps];
    ResidualByPosition() {
        const BlepTable& table = BlepTable::minblep();
        for (std::int32_t j = 0; j < kPositions; ++j)
            for (std::int32_t k = 0; k < kTaps; ++k) {
                const float* d = table.data + j + k * BlepTable::kOversampling;
                entry[j][k] = d[0];
                slope[j][k] = d[1] - d[0];
            }
    }
};
const ResidualByPosition kResidual; // built while the library loads

// The hold events of one frame (several when the clock advances by more than
// a period), each adding the step residual of its jump to the coming frames.
// invInc is 1 / the frame's clock step.
// h points at the frame's quantized input, h[-1] to h[-3] the ones before.
__attribute__((noinline)) HoldState holdEvents(HoldState s, float invInc, const float* h, float* correction) {
    // A clock no valid setting produces (an infinite or NaN step) holds still
    // instead of interpolating at a meaningless position.
    if (!std::isfinite(s.phase)) return HoldState{0.0f, s.held};
    for (std::int32_t events = 0; s.phase >= 1.0f && events < kMaxHoldEventsPerFrame; ++events) {
        s.phase = s.phase - 1.0f;
        // t: the fraction of the frame by which the event lies before the
        // newest input. Catmull-Rom gives h[-1] at t = 0 and h[-2] at t = 1,
        // so the held signal trails the input by one sample.
        const float t = s.phase * invInc;
        const float h0 = h[0], h1 = h[-1], h2 = h[-2], h3 = h[-3];
        const float v = h1 + 0.5f * ((h2 - h0) * t + (2.0f * h0 - 5.0f * h1 + 4.0f * h2 - h3) * (t * t) +
                                     (3.0f * (h1 - h2) + h3 - h0) * (t * t * t));
        const float jump = s.held - v;
        if (std::fabs(jump) > kSmallestJump) {
            // t lies in [0, 1]; rounding may carry it a hair above 1, which the
            // guard entries cover. Anything else is held inside the table.
            constexpr auto kLastPosition = static_cast<float>(ResidualByPosition::kPositions - 1);
            float x = t * static_cast<float>(BlepTable::kOversampling);
            if (!(x >= 0.0f)) x = 0.0f;
            if (x > kLastPosition) x = kLastPosition;
            const auto j = static_cast<std::int32_t>(x);
            const float w = x - static_cast<float>(j);
            const float* entry = kResidual.entry[j];
            const float* slope = kResidual.slope[j];
            std::int32_t k = 0;
#if defined(__SSE2__)
            const __m128 w4 = _mm_set1_ps(w), jump4 = _mm_set1_ps(jump);
            for (; k < kTaps; k += 4) {
                const __m128 r = _mm_add_ps(_mm_loadu_ps(entry + k), _mm_mul_ps(_mm_loadu_ps(slope + k), w4));
                _mm_storeu_ps(correction + k, _mm_add_ps(_mm_loadu_ps(correction + k), _mm_mul_ps(r, jump4)));
            }
#endif
            for (; k < kTaps; ++k)
                correction[k] += (entry[k] + slope[k] * w) * jump;
        }
        s.held = v;
    }
    // A clock that no valid setting drives this far restarts within its
    // period instead of running on.
    if (!(s.phase < 1.0f)) s.phase = s.phase - std::floor(s.phase);
    return s;
}

class Quantizer final : public HostedEffect {
  public:
    Quantizer() : HostedEffect("Quantizer", kQuantizerParams, kQuantizerParamCount), smoother(1) {}

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

    // Every state restarts, the noise streams included, so that what follows
    // a reset depends only on what is played after it.
    void reset() override {
        for (std::uint32_t c = 0; c < 2; ++c) {
            channels[c] = HoldChannel{{0.0f, 0.5f / levels}, {}, {}, NoiseSource(c + 1)};
        }
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

    // Audio thread. Each chunk is quantized first (a pass without
    // recursion), then both channels run their hold clocks side by side.
    void process(AudioBuffers& buffers, bool replacing) override {
        const bool quantize = levels < kUnquantizedLevels;
        const bool zeroLevel = values[kZero] > 0.5f;
        const Quantization z{quantize, zeroLevel, levels, 1.0f / levels, 0.5f * (1.0f / levels)};
        for (std::int32_t start = 0; start < buffers.frames; start += kChunk) {
            const std::int32_t n = std::min(kChunk, buffers.frames - start);
            const float* in[2] = {buffers.inputs[0] + start, buffers.inputs[1] + start};
            float* out[2] = {buffers.outputs[0] + start, buffers.outputs[1] + start};
            if (replacing)
                runChunk<true>(in, out, n, z);
            else
                runChunk<false>(in, out, n, z);
        }
        if (buffers.frames > 0) smoother.markActive();
    }

  private:
    template <bool Replacing>
    void runChunk(const float* const in[2], float* const out[2], std::int32_t n, const Quantization& z);

    ParamSmoother smoother; // glides rateStep alone
    float rateStep = 0.0f;  // hold-clock advance per sample, smoothed
    float jitter = 0.0f;
    float levels = 0.0f;
    float dither = 0.0f;
    HoldChannel channels[2] = {};
};

// The clock step of each frame: one for the chunk, or per channel and frame.
struct SteadyStep {
    float inc;
    float invInc;
    float at(std::int32_t, std::int32_t) const { return inc; }
    float inverse(std::int32_t, std::int32_t) const { return invInc; }
};
struct StepPerFrame {
    const float (*inc)[kChunk];
    float at(std::int32_t c, std::int32_t i) const { return inc[c][i]; }
    float inverse(std::int32_t c, std::int32_t i) const { return 1.0f / inc[c][i]; }
};

// Both channels' hold clocks over a quantized chunk, side by side: the two
// recursions are independent.
template <bool Replacing, class Step>
void holdChunk(HoldChannel* channels, const float (*q)[kHistory + kChunk],
               float (*correction)[kChunk + kTaps], float* const out[2], std::int32_t n, Step step) {
    HoldState s0 = channels[0].hold, s1 = channels[1].hold;
    for (std::int32_t i = 0; i < n; ++i) {
        s0.phase = s0.phase + step.at(0, i);
        s1.phase = s1.phase + step.at(1, i);
        if (!(s0.phase < 1.0f))
            s0 = holdEvents(s0, step.inverse(0, i), q[0] + kHistory + i, correction[0] + i);
        if (!(s1.phase < 1.0f))
            s1 = holdEvents(s1, step.inverse(1, i), q[1] + kHistory + i, correction[1] + i);
        // Once the residual has run out the output is the held value itself.
        const float y0 = s0.held + correction[0][i];
        const float y1 = s1.held + correction[1][i];
        out[0][i] = Replacing ? y0 : out[0][i] + y0;
        out[1][i] = Replacing ? y1 : out[1][i] + y1;
    }
    channels[0].hold = s0;
    channels[1].hold = s1;
}

template <bool Replacing>
void Quantizer::runChunk(const float* const in[2], float* const out[2], std::int32_t n,
                         const Quantization& z) {
    // Per channel: the history, then the chunk's quantized input; the
    // corrections for the chunk and the residual beyond it.
    float q[2][kHistory + kChunk];
    float correction[2][kChunk + kTaps];
    for (std::int32_t c = 0; c < 2; ++c) {
        std::copy(channels[c].history, channels[c].history + kHistory, q[c]);
        std::copy(channels[c].correction, channels[c].correction + kTaps, correction[c]);
        std::fill(correction[c] + kTaps, correction[c] + kTaps + n, 0.0f);
    }
    if (jitter == 0.0f && dither == 0.0f && smoother.activeRamps() == 0) {
        // Without noise the clock steps by (0 u + 1) rateStep, exactly
        // rateStep, and the dither offset is 0.
        for (std::int32_t c = 0; c < 2; ++c)
            quantizeChunk(in[c], SteadyOffset{z.zeroLevel ? 0.5f : 0.0f}, q[c] + kHistory, n, z);
        holdChunk<Replacing>(channels, q, correction, out, n, SteadyStep{rateStep, 1.0f / rateStep});
    } else {
        float step[kChunk];
        for (std::int32_t i = 0; i < n; ++i) {
            step[i] = rateStep;
            smoother.advance();
        }
        float inc[2][kChunk];
        for (std::int32_t c = 0; c < 2; ++c) {
            float offset[kChunk];
            for (std::int32_t i = 0; i < n; ++i) {
                const float u = channels[c].noise.next();
                inc[c][i] = (jitter * u + 1.0f) * step[i];
                const float d = u * dither;
                offset[i] = z.zeroLevel ? d + 0.5f : d;
            }
            quantizeChunk(in[c], OffsetPerFrame{offset}, q[c] + kHistory, n, z);
        }
        holdChunk<Replacing>(channels, q, correction, out, n, StepPerFrame{inc});
    }
    for (std::int32_t c = 0; c < 2; ++c) {
        std::copy(q[c] + n, q[c] + n + kHistory, channels[c].history);
        std::copy(correction[c] + n, correction[c] + n + kTaps, channels[c].correction);
    }
}

} // namespace

HostedEffect* createQuantizer() {
    return new Quantizer;
}

} // namespace quor
