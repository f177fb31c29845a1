// The DC plug-in through the built module and our host: levels, the input
// paths, the two smoothing modes and bad input. (Its command-line render is
// tested with the host.)
#include <gtest/gtest.h>

#include <cmath>

#include "host/VstHost.h"
#include "tests/plugins/DcFunctionTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using vst::FourCC;

namespace {

constexpr Range kUnit{0, 1};
constexpr Range kSymmetric{-1, 1};
constexpr Range kMultiplier{-2, 2};
constexpr Range kSmoothing{-500, 500};

enum : int32_t {
    kPositiveL, kSymmetricL, kMultiplierL, kAddL, kMultiplyL,
    kPositiveR, kSymmetricR, kMultiplierR, kAddR, kMultiplyR,
    kPortOffset, kSmoothingL, kSmoothingR,
};

std::unique_ptr<Plugin> MakeDC()
{
    auto dc = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    if (dc)
        dc->Start(48000, 512);
    return dc;
}

class DcTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dc); }
    // `blocks` blocks of 512 with both inputs at 0.
    std::vector<float> RunLeft(int blocks, bool right = false)
    {
        std::vector<float> out;
        for (int b = 0; b < blocks; ++b) {
            const Stereo s = RunConstant(*dc, 0, 0);
            out.insert(out.end(), (right ? s.right : s.left).begin(), (right ? s.right : s.left).end());
        }
        return out;
    }

    ScopedUserFolders folders{UniquePortBase()};
    std::unique_ptr<Plugin> dc = MakeDC();
};

TEST_F(DcTest, LevelsAndInputPaths)
{
    const struct {
        const char* what;
        float positive, symmetric, multiplier, add, multiply;
        float input;
        float expected;
    } cases[] = {
        {"positive level", 0.5f, 0, 1, 0, 0, 0.7f, 0.5f},
        {"the two levels add", 0.5f, -0.25f, 1, 0, 0, 0, 0.25f},
        {"negative multiplier", 1, 0, -2, 0, 0, 0, -2},
        {"negative times negative", 0, -1, -2, 0, 0, 0, 2},
        {"multiplier 0 silences", 1, 1, 0, 0, 0, 0.3f, 0},
        {"input multiply 1 scales the input", 0.5f, 0, 1, 0, 1, 0.75f, 0.375f},
        {"input multiply with a negative level", 0.5f, 0, -2, 0, 1, 0.25f, -0.25f},
        {"input add on top of the level", 0.25f, 0, 1, 1, 0, -0.5f, -0.25f},
        {"half multiply and half add", 1, 0, 1, 0.5f, 0.5f, 0.5f, 1.0f}, // (0.25 + 0.5) * 1 + 0.25
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetReal(*dc, kPositiveL, kUnit, c.positive);
        SetReal(*dc, kSymmetricL, kSymmetric, c.symmetric);
        SetReal(*dc, kMultiplierL, kMultiplier, c.multiplier);
        SetReal(*dc, kAddL, kUnit, c.add);
        SetReal(*dc, kMultiplyL, kUnit, c.multiply);
        const Stereo out = RunConstant(*dc, c.input, 0.9f, 64);
        for (float v : out.left)
            ASSERT_FLOAT_EQ(v, c.expected);
        for (float v : out.right) // R keeps its defaults
            ASSERT_EQ(v, 0.0f);
    }
}

TEST_F(DcTest, DefaultsGiveZeroForAnyInput)
{
    std::vector<float> in{0.5f, kNaN, kInf, -kInf, -3.0f, 1e30f};
    const Stereo out = RunBlock(*dc, in, in);
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(out.left[i], 0.0f) << i;
        EXPECT_EQ(out.right[i], 0.0f) << i;
    }
}

TEST_F(DcTest, PositiveSmoothingRampsLinearlyUpAndDown)
{
    // 100 ms at 48 kHz: T = 4800 samples, step 2/4800, so 0 -> 1 takes 2400.
    SetReal(*dc, kSmoothingL, kSmoothing, 100);
    SetReal(*dc, kPositiveL, kUnit, 1);
    const std::vector<float> up = RunLeft(6);
    const double step = 2.0 / 4800.0;
    for (size_t i = 0; i < up.size(); ++i)
        ASSERT_NEAR(up[i], std::min(1.0, (i + 1) * step), 2e-4) << i;
    EXPECT_LT(up[2397], 1.0f);
    EXPECT_EQ(up[2405], 1.0f);

    SetReal(*dc, kPositiveL, kUnit, 0);
    const std::vector<float> down = RunLeft(6);
    for (size_t i = 0; i < down.size(); ++i)
        ASSERT_NEAR(down[i], std::max(0.0, 1.0 - (i + 1) * step), 2e-4) << i;
    EXPECT_EQ(down.back(), 0.0f);
}

TEST_F(DcTest, NegativeSmoothingIsAOnePoleLowPass)
{
    SetReal(*dc, kSmoothingR, kSmoothing, -100);
    SetReal(*dc, kPositiveR, kUnit, 1);
    const double k = std::exp(-5.2 / 4800.0);
    double expected = 0;
    for (float v : RunLeft(4, true)) {
        expected = (expected - 1.0) * k + 1.0;
        ASSERT_NEAR(v, expected, 2e-4);
    }
    SetReal(*dc, kPositiveR, kUnit, 0);
    for (float v : RunLeft(1, true)) {
        expected *= k;
        ASSERT_NEAR(v, expected, 2e-4);
    }
    EXPECT_GT(expected, 0.0);
}

TEST_F(DcTest, SmoothingWithinHalfASampleIsOff)
{
    // At most half a sample passes the level unchanged; within 0.5 ms shows "Off".
    const struct {
        float ms;
        bool passes;
        const char* display;
    } cases[] = {
        {0.005f, true, "Off"}, // T = 0.24 samples
        {-0.005f, true, "Off"},
        {0.25f, false, "Off"}, // T = 12 samples: smoothing, but shown "Off"
        {-0.4f, false, "Off"},
        {1.0f, false, "1.000"},
        {-2.0f, false, "-2.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ms);
        SetReal(*dc, kPositiveL, kUnit, 0);
        SetReal(*dc, kSmoothingL, kSmoothing, 0);
        RunConstant(*dc, 0, 0, 16); // state back to 0
        SetReal(*dc, kSmoothingL, kSmoothing, c.ms);
        EXPECT_EQ(dc->ParameterDisplay(kSmoothingL), c.display);
        SetReal(*dc, kPositiveL, kUnit, 1);
        const float first = RunConstant(*dc, 0, 0, 16).left[0];
        if (c.passes)
            EXPECT_EQ(first, 1.0f);
        else
            EXPECT_LT(first, 1.0f);
    }
}

} // namespace
