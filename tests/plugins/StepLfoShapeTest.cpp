// The Step LFO's output eight samples at a time gives the bits of one sample
// at a time: held and gliding steps, every input mode, warped phases, the
// floor, phases at the cycle's ends and phases that are not numbers.
#include "plugins/steplfo/StepLfoShape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using ObryCorvaneStepLFO::StepSample;
using ObryCorvaneStepLFO::StepShape;
using ObryCorvaneStepLFO::StepStretch;

TEST(StepLfoShape, EightAtATimeGivesTheSampleBySampleBits)
{
    const float steps[] = {0.5f, -0.5f, 1.0f, 0.25f, -1.0f, 0.75f, 0.1f, -0.3f};
    struct Case {
        const char* name;
        float asymmetry;
        int32_t first, count;
        float minimum, multiplier, offset;
        bool linear;
        int32_t inputMode;
    };
    const Case cases[] = {
        {"held", 0.5f, 0, 8, -2.0f, 1.0f, 0.0f, false, kInputAdd},
        {"gliding", 0.5f, 0, 8, -2.0f, 1.0f, 0.0f, true, kInputAdd},
        {"gliding, warped, a floor", 0.2f, 2, 5, -0.4f, 0.8f, 0.1f, true, kInputAdd},
        {"held, flat rise", 0.0f, 1, 3, -2.0f, 1.5f, -0.2f, false, kInputMultiply},
        {"gliding, flat fall", 1.0f, 0, 7, 0.2f, -1.0f, 0.3f, true, kInputCombine},
        {"one step", 0.5f, 4, 1, -2.0f, 1.0f, 0.0f, true, kInputAdd},
    };
    std::vector<float> phase = {0.0f,        1e-8f, 0.2f, 0.5f, 0.99999994f, 1.0f, 0.125f, 0.6f,
                                std::numeric_limits<float>::quiet_NaN(), -0.0f};
    for (int i = 0; i < 61; ++i)
        phase.push_back(static_cast<float>(i) / 61.0f);
    std::vector<float> in;
    for (size_t i = 0; i < phase.size(); ++i)
        in.push_back(std::sin(static_cast<float>(i) * 0.7f));
    const int32_t frames = static_cast<int32_t>(phase.size()); // not a multiple of eight: a scalar tail too
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const StepShape shape{PhaseWarp(k.asymmetry), steps + k.first,  k.count,  static_cast<float>(k.count),
                              k.minimum,              k.multiplier,      k.offset, k.linear, k.inputMode};
        std::vector<float> out(phase.size());
        StepStretch(shape, phase.data(), in.data(), out.data(), frames);
        for (int32_t i = 0; i < frames; ++i) {
            const float expected = StepSample(shape, phase[i], in[i]);
            EXPECT_EQ(std::memcmp(&expected, &out[i], sizeof expected), 0)
                << "sample " << i << ": " << expected << " vs " << out[i];
        }
    }
}

} // namespace
