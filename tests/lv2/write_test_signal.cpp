// Writes the file CI renders through every LV2 plug-in with lv2apply: two
// seconds of mono, 48 kHz float, a tone under noise bursts. Mono because
// lv2apply feeds a mono file to every audio input, the side-chain included.
//   quor_lv2_test_signal <out.wav>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quor_lv2_test_signal <out.wav>\n");
        return 2;
    }
    constexpr int kRate = 48000;
    std::vector<float> samples(2 * kRate);
    unsigned noise = 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const float white = static_cast<float>(noise >> 8) / 8388608.0f - 1.0f;
        const float burst = (i / 6000) % 2 ? 0.5f : 0.0f;
        samples[i] = 0.3f * std::sin(0.05f * static_cast<float>(i)) + burst * white;
    }
    SF_INFO info{0, kRate, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(argv[1], SFM_WRITE, &info);
    if (!file || sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size())) !=
                     static_cast<sf_count_t>(samples.size())) {
        std::fprintf(stderr, "quor_lv2_test_signal: cannot write %s: %s\n", argv[1], sf_strerror(file));
        return 1;
    }
    return sf_close(file) == 0 ? 0 : 1;
}
