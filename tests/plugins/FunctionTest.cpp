// The Function plug-in through the built module and our host: the four
// curves with their scales and offsets, disabled channels, state restore and
// bad input.
#include <gtest/gtest.h>

#include <cmath>

#include "host/VstHost.h"
#include "tests/plugins/DcFunctionTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using vst::FourCC;

namespace {

constexpr Range kBool{0, 1};
constexpr Range kFunction{0, 3};
constexpr Range kScale{-2, 2};
constexpr Range kOffset{-1, 1};

// Parameter indices: each channel's six start at its Enable parameter.
constexpr int32_t kEnableL = 1;
constexpr int32_t kEnableR = 7;
constexpr int32_t kFunctionOf = 1;
constexpr int32_t kInScaleOf = 2;
constexpr int32_t kInOffsetOf = 3;
constexpr int32_t kOutScaleOf = 4;
constexpr int32_t kOutOffsetOf = 5;
enum : int32_t { kLinear = 0, kLogarithm, kExponential, kAbsolute };

class FunctionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fn = Plugin::Create(LoadedModule(), FourCC("QZsn"));
        ASSERT_TRUE(fn);
        fn->Start(48000, 512);
    }
    void TearDown() override
    {
        if (fn)
            fn->Close();
    }

    struct Settings {
        int function;
        float inScale, inOffset, outScale, outOffset;
    };
    void Configure(int32_t enable, bool enabled, const Settings& s)
    {
        SetReal(*fn, enable, kBool, enabled ? 1.0f : 0.0f);
        SetReal(*fn, enable + kFunctionOf, kFunction, static_cast<float>(s.function));
        SetReal(*fn, enable + kInScaleOf, kScale, s.inScale);
        SetReal(*fn, enable + kInOffsetOf, kOffset, s.inOffset);
        SetReal(*fn, enable + kOutScaleOf, kScale, s.outScale);
        SetReal(*fn, enable + kOutOffsetOf, kOffset, s.outOffset);
    }

    ScopedUserFolders folders{UniquePortBase()};
    std::unique_ptr<Plugin> fn;
};

TEST_F(FunctionTest, DefaultsPassTheInput)
{
    std::vector<float> left{0.5f, -1.25f, 3.0f, 0.0f, 1e-20f}, right{-0.5f, 2.0f, 0.125f, -7.0f, 1.0f};
    const Stereo out = RunBlock(*fn, left, right);
    EXPECT_EQ(out.left, left);
    EXPECT_EQ(out.right, right);
}

TEST_F(FunctionTest, CurvesWithScalesAndOffsets)
{
    const struct {
        const char* what;
        Settings settings;
        float input;
        float expected;
    } cases[] = {
        {"log of 1 is 1", {kLogarithm, 1, 0, 1, 0}, 1.0f, 1.0f},
        {"log of 0.5 is 0", {kLogarithm, 1, 0, 1, 0}, 0.5f, 0.0f},
        {"log of 4 is 3", {kLogarithm, 1, 0, 1, 0}, 4.0f, 3.0f},
        {"log of 0 is 0", {kLogarithm, 1, 0, 1, 0}, 0.0f, 0.0f},
        {"log below 0 is 0", {kLogarithm, 1, 0, 1, 0}, -1.0f, 0.0f},
        {"log at the floor is 0", {kLogarithm, 1, 0, 1, 0}, 1e-10f, 0.0f},
        {"log of 0 scaled and offset", {kLogarithm, 1, 0, 2, -0.5f}, 0.0f, -0.5f},
        {"log of a scaled input", {kLogarithm, 2, 0, 1, 0}, 1.0f, 2.0f},
        {"log of an offset input", {kLogarithm, 1, 0.5f, 0.5f, 0.25f}, 1.5f, 1.25f}, // (1+1)*0.5+0.25
        {"exp of 1 is 1", {kExponential, 1, 0, 1, 0}, 1.0f, 1.0f},
        {"exp of 0 is 0.5", {kExponential, 1, 0, 1, 0}, 0.0f, 0.5f},
        {"exp of -1 is 0.25", {kExponential, 1, 0, 1, 0}, -1.0f, 0.25f},
        {"exp scaled and offset", {kExponential, -2, 1, -0.5f, 1}, 0.5f, 0.75f}, // 2^-1 * -0.5 + 1
        {"absolute of 0 with offset -0.5", {kAbsolute, 1, -0.5f, 1, 0}, 0.0f, 0.5f},
        {"absolute, scaled output", {kAbsolute, 1, -0.5f, 2, -1}, 0.0f, 0.0f},
        {"absolute of a negative", {kAbsolute, 1, 0, 1, 0}, -0.75f, 0.75f},
        {"absolute with negative input scale", {kAbsolute, -2, 0, 1, 0.25f}, 0.5f, 1.25f},
        {"linear is the affine map", {kLinear, 2, -1, -2, 0.5f}, 0.25f, 1.5f}, // u = -0.5
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Configure(kEnableL, true, c.settings);
        Configure(kEnableR, true, c.settings);
        const Stereo out = RunConstant(*fn, c.input, c.input, 8);
        for (int i = 0; i < 8; ++i) {
            ASSERT_NEAR(out.left[i], c.expected, 1e-6f);
            ASSERT_EQ(out.right[i], out.left[i]);
        }
    }
}

TEST_F(FunctionTest, ExponentialUndoesLogarithm)
{
    // The left channel takes the log, a second instance's right channel the
    // exponential of that: positive inputs come back.
    Configure(kEnableL, true, {kLogarithm, 1, 0, 1, 0});
    auto second = Plugin::Create(LoadedModule(), FourCC("QZsn"));
    ASSERT_TRUE(second);
    second->Start(48000, 512);
    SetReal(*second, kEnableR, kBool, 1);
    SetReal(*second, kEnableR + kFunctionOf, kFunction, kExponential);

    std::vector<float> in{0.001f, 0.1f, 0.5f, 1.0f, 1.7f, 2.0f, 10.0f, 123.0f};
    const Stereo logs = RunBlock(*fn, in, in);
    const Stereo back = RunBlock(*second, in, logs.left);
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_NEAR(back.right[i], in[i], 1e-5f * in[i]) << in[i];
    second->Close();
}

TEST_F(FunctionTest, DisabledChannelPassesItsInputAndKeepsItsSettings)
{
    Configure(kEnableL, true, {kAbsolute, 1, -0.5f, 2, 0.25f});
    std::vector<float> in{0.0f, -0.3f, 0.9f, 5.0f};
    SetReal(*fn, kEnableL, kBool, 0);
    Stereo out = RunBlock(*fn, in, in);
    EXPECT_EQ(out.left, in);
    EXPECT_EQ(out.right, in);

    SetReal(*fn, kEnableL, kBool, 1);
    out = RunBlock(*fn, in, in);
    for (size_t i = 0; i < in.size(); ++i)
        EXPECT_FLOAT_EQ(out.left[i], std::fabs(in[i] - 0.5f) * 2 + 0.25f) << i;
    EXPECT_EQ(out.right, in);
}

TEST_F(FunctionTest, BadInputGivesBadSamplesOnly)
{
    for (int function : {kLinear, kLogarithm, kExponential, kAbsolute}) {
        SCOPED_TRACE(function);
        Configure(kEnableL, true, {function, 1, 0, 1, 0});
        std::vector<float> in{0.5f, kNaN, kInf, -kInf, 0.5f};
        const Stereo out = RunBlock(*fn, in, in);
        EXPECT_TRUE(std::isfinite(out.left[0]));
        EXPECT_EQ(out.left[4], out.left[0]);
        const Stereo next = RunConstant(*fn, 0.75f, 0.75f, 16);
        EXPECT_TRUE(AllFinite(next.left));
        EXPECT_TRUE(AllFinite(next.right));
    }
}

} // namespace
