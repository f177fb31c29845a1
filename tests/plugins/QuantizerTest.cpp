// The Quantizer through the built module and our host: what it tells the
// host, manual quantising, the state through the host into a fresh instance,
// and non-finite input.
#include <gtest/gtest.h>

#include <cmath>

#include "host/VstHost.h"
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
