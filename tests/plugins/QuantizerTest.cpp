// The Quantizer through the built module and our host: what it tells the
// host, manual quantising, the state through the host into a fresh instance,
// and non-finite input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host/VstHost.h"
#include "plugins/quantizer/QuantizerSteps.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using vst::FourCC;

namespace {

enum : int32_t { kEnableL = 1, kModeL, kStepsL, kStepsFineL, kOffsetL, kTransposeL, kSmoothingL, kEnableR };

Range RangeOf(int32_t index)
{
    switch ((index - 1) % 7) {
    case 0: return {0, 1};
    case 1: return {0, 1};
    case 2: return {1, 400};
    case 3: return {-1, 1};
    case 4: return {0, 100};
    case 5: return {-36, 36};
    default: return {-500, 500};
    }
}

class QuantizerModule : public ::testing::Test {
protected:
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(QuantizerModule, ManualSteps)
{
    PlayingPlugin q(FourCC("QZs8"), "Quantizer", 256, 7, RangeOf);
    q.SetL(kEnableL, 1);
    const struct {
        float steps, fine, offset, transpose, input, expected;
    } cases[] = {
        {96, 0, 0, 0, 0.01f, 0},
        {96, 0, 0, 0, 0.0f, 0}, // exactly on a step
        {96, 0, 0, 0, -0.01f, -1.0f / 48},
        {96, 0, 0, 2, 0.01f, 2.0f / 48},
        {96, 0, 50, 0, 0.01f, -1.0f / 48 + 1.0f / 96},
        {4, 0, 0, 0, 0.7f, 0.5f},
        {4, 0, 0, -1, 0.7f, 0},
        // Exactly on a negative step: the step itself, as for positive ones.
        {96, 0, 0, 0, -0.25f, -0.25f},
        {96, 0, 0, 0, -1.0f, -1.0f},
        {96, 0, 0, 0, -1.0f / 48, -1.0f / 48},
        {96, 0, 0, 0, 0.25f, 0.25f},
        // Fewer than one step behaves as one step.
        {1, -1, 0, 0, -0.5f, -2.0f},
        {1, -1, 0, 0, 0.5f, 0},
        {1, -0.5f, 0, 0, 1.5f, 0},
        {1, 0, 0, 0, -0.5f, -2.0f},
    };
    for (const auto& c : cases) {
        q.SetL(kStepsL, c.steps);
        q.SetL(kStepsFineL, c.fine);
        q.SetL(kOffsetL, c.offset);
        q.SetL(kTransposeL, c.transpose);
        const Stereo out = q.Run(256, c.input);
        EXPECT_NEAR(out.left.back(), c.expected, 1e-5f)
            << c.steps << "+" << c.fine << " " << c.offset << " " << c.input;
        EXPECT_EQ(out.right.back(), c.input); // disabled: passes through
    }
}

} // namespace

// The even steps eight at a time give the bits of one sample at a time, for
// broken, signed-zero, huge and in-between inputs, apart and in place.
TEST(QuantizerSteps, VectorRunsGiveTheBitsOfSingleSteps)
{
    using namespace ObryCorvaneQuantizer;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> inputs = {0.0f,   -0.0f, 0.49f,  -0.49f, 0.5f,  -0.5f, 1.0f,  -1.0f, 0.999f, -1e-30f,
                                       nan,    inf,   -inf,   3e9f,   -3e9f, 9e5f,  -9e5f, 0.26f, -0.74f, 2.5f,
                                       0.125f, 1e-7f, -1e-7f, 0.3f,   -0.3f, 7.0f,  -7.25f};
    const EvenSteps settings[] = {
        {6.0f, 1.0f / 6.0f, 0.0f, 0.0f},     {6.0f, 1.0f / 6.0f, 0.0f, 3.0f},  {0.5f, 2.0f, -0.25f, -1.0f},
        {1e6f, 1e-6f, 0.0f, 0.0f},           {12.0f, 1.0f / 12.0f, 1.0f, 0.0f}, {4.0f, 0.25f, -0.0f, -0.0f},
    };
    const auto frames = static_cast<int32_t>(inputs.size());
    for (const EvenSteps& s : settings) {
        std::vector<float> expected(inputs.size());
        for (size_t i = 0; i < inputs.size(); ++i)
            Steps(s, &inputs[i], &expected[i], 1);
        std::vector<float> apart(inputs.size());
        Steps(s, inputs.data(), apart.data(), frames);
        std::vector<float> inPlace = inputs;
        Steps(s, inPlace.data(), inPlace.data(), frames);
        for (size_t i = 0; i < inputs.size(); ++i) {
            EXPECT_EQ(memcmp(&apart[i], &expected[i], sizeof(float)), 0)
                << "k " << s.k << ", input " << inputs[i] << ": " << apart[i] << " not " << expected[i];
            EXPECT_EQ(memcmp(&inPlace[i], &expected[i], sizeof(float)), 0) << "in place, input " << inputs[i];
        }
    }
}
