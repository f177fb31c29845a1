// The LFO's output eight samples at a time gives the bits of the
// sample-by-sample mix, for every waveform weight and input mode, warped and
// not, at the phases where the shapes turn, and for phases that are not
// numbers.
#include "plugins/lfo/LfoWaveforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using ObryCorvaneLFO::Level;
using ObryCorvaneLFO::Mix;
using ObryCorvaneLFO::MixStretch;
using ObryCorvaneLFO::NoiseOf;

TEST(LfoWaveforms, EightAtATimeGivesTheSampleBySampleBits)
{
    //               pulse  sine  tri   square saw   random noise offset mode
    const Mix mixes[] = {
        {0.5f, 1, 0, 0, 0, 0, 0, 0, kInputAdd},     {0.5f, 0, 1, 0, 0, 0, 0, 0, kInputAdd},
        {0.3f, 0, 0, 1, 0, 0, 0, 0, kInputAdd},     {0.5f, 0, 0, 0, 1, 0, 0, 0, kInputAdd},
        {0.5f, 0, 0, 0, 0, 1, 0, 0, kInputAdd},     {0.5f, 0, 0, 0, 0, 0, 1, 0, kInputAdd},
        {0.5f, 0, 0, 0, 0, 0, 0, 0.25f, kInputAdd}, {0.7f, -0.3f, 0.6f, 0.45f, -0.8f, 0.35f, 0.15f, -0.1f, kInputAdd},
        {0.7f, -0.3f, 0.6f, 0.45f, -0.8f, 0.35f, 0.15f, -0.1f, kInputMultiply},
        {0.7f, -0.3f, 0.6f, 0.45f, -0.8f, 0.35f, 0.15f, -0.1f, kInputCombine},
    };
    std::vector<float> phase = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.3f, 0.7f, 0.29999998f,
                                std::numeric_limits<float>::quiet_NaN(), 1e-8f, 0.9999999f};
    for (int i = 0; i < 54; ++i)
        phase.push_back(static_cast<float>(i) / 54.0f);
    std::vector<float> held, in;
    std::vector<uint32_t> seeds;
    uint32_t seed = 12345;
    for (size_t i = 0; i < phase.size(); ++i) {
        held.push_back(std::sin(static_cast<float>(i)));
        in.push_back(std::cos(static_cast<float>(i) * 1.7f));
        seed = seed * 2654435761u + 1u;
        seeds.push_back(seed);
    }
    const int32_t frames = static_cast<int32_t>(phase.size()); // not a multiple of eight: a scalar tail too
    for (const float asymmetry : {0.5f, 0.2f, 0.0f, 1.0f}) {
        const PhaseWarp warp(asymmetry);
        for (size_t m = 0; m < std::size(mixes); ++m) {
            std::vector<float> out(phase.size());
            MixStretch(mixes[m], warp, phase.data(), seeds.data(), held.data(), in.data(), out.data(), frames);
            for (int32_t i = 0; i < frames; ++i) {
                const float level = Level(mixes[m], warp(phase[i]), held[i], NoiseOf(seeds[i]));
                const float expected = CombineWithInput(mixes[m].inputMode, level, in[i]);
                if (std::isnan(expected)) {
                    EXPECT_TRUE(std::isnan(out[i])) << "mix " << m << ", sample " << i;
                    continue;
                }
                EXPECT_EQ(std::memcmp(&expected, &out[i], sizeof expected), 0)
                    << "asymmetry " << asymmetry << ", mix " << m << ", sample " << i << ": " << expected << " vs "
                    << out[i];
            }
        }
    }
}

} // namespace
