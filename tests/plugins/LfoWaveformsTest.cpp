// The LFO's waveform mix four samples at a time gives the bits of the
// sample-by-sample mix, for every waveform weight, at the phases where the
// shapes turn, and for phases that are not numbers.
#include "plugins/lfo/LfoWaveforms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using ObryCorvaneLFO::Level;
using ObryCorvaneLFO::Mix;
using ObryCorvaneLFO::MixLevels;

TEST(LfoWaveforms, FourAtATimeGivesTheSampleBySampleBits)
{
    //               pulse  sine  tri   square saw   random noise offset
    const Mix mixes[] = {
        {0.5f, 1, 0, 0, 0, 0, 0, 0, 0},        {0.5f, 0, 1, 0, 0, 0, 0, 0, 0},
        {0.3f, 0, 0, 1, 0, 0, 0, 0, 0},        {0.5f, 0, 0, 0, 1, 0, 0, 0, 0},
        {0.5f, 0, 0, 0, 0, 1, 0, 0, 0},        {0.5f, 0, 0, 0, 0, 0, 1, 0, 0},
        {0.5f, 0, 0, 0, 0, 0, 0, 0.25f, 0},    {0.7f, -0.3f, 0.6f, 0.45f, -0.8f, 0.35f, 0.15f, -0.1f, 0},
    };
    std::vector<float> warped = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f, 0.3f, 0.7f, 0.29999998f,
                                 std::numeric_limits<float>::quiet_NaN(), 1e-8f, 0.9999999f};
    for (int i = 0; i < 53; ++i)
        warped.push_back(static_cast<float>(i) / 53.0f);
    std::vector<float> held, noise;
    for (size_t i = 0; i < warped.size(); ++i) {
        held.push_back(std::sin(static_cast<float>(i)));
        noise.push_back(std::cos(static_cast<float>(i) * 1.7f));
    }
    const int32_t frames = static_cast<int32_t>(warped.size()); // not a multiple of four: a scalar tail too
    for (size_t m = 0; m < std::size(mixes); ++m) {
        std::vector<float> levels(warped.size());
        MixLevels(mixes[m], warped.data(), held.data(), noise.data(), levels.data(), frames);
        for (int32_t i = 0; i < frames; ++i) {
            const float expected = Level(mixes[m], warped[i], held[i], noise[i]);
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(levels[i])) << "mix " << m << ", sample " << i;
                continue;
            }
            EXPECT_EQ(std::memcmp(&expected, &levels[i], sizeof expected), 0)
                << "mix " << m << ", sample " << i << ": " << expected << " vs " << levels[i];
        }
    }
}

} // namespace
