// DC and Function built in-process: what only the plug-in object shows (the
// indicator block, value texts for a given value, value names, parameter
// flags), automation of bad values, and an audio path that never allocates.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>
#include <vector>

#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/function/ObryCorvaneFunction.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/DcFunctionTestSupport.h"
#include "tests/plugins/WiredChannels.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

void Process(ObryCorvaneBase& plugin, std::vector<float>& left, std::vector<float>& right, std::vector<float>& outL,
             std::vector<float>& outR)
{
    outL.assign(left.size(), -99.0f);
    outR.assign(right.size(), -99.0f);
    float* inputs[] = {left.data(), right.data()};
    float* outputs[] = {outL.data(), outR.data()};
    plugin.processReplacing(inputs, outputs, static_cast<int32_t>(left.size()));
}

float Indicator(ObryCorvaneBase& plugin, int element)
{
    uint8_t* block = nullptr;
    EXPECT_EQ(plugin.GetProperty(kObryProperty_IndicatorBlock, 0, 0, &block), 0);
    EXPECT_EQ(block, plugin.GetIndicatorBlock());
    return ReadIndicator(plugin, element);
}

class InProcessTest : public ::testing::Test {
protected:
    void SetUp() override { TakeAutomateLog(); }
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(InProcessTest, FunctionIndicatorsShowTheFirstSampleOfTheBlock)
{
    auto fn = MakeInProcess<ObryCorvaneFunction::ObryCorvane>();
    // Left: Exponential with input scale 2 and offset -1; right disabled.
    fn->SetParameterValue(1, 1, false);
    fn->SetParameterValue(2, 2, false);
    fn->SetParameterValue(3, 2, false);
    fn->SetParameterValue(4, -1, false);
    fn->SetParameterValue(5, 0.5f, false);
    fn->SetParameterValue(6, 0.25f, false);
    std::vector<float> left{1.5f, 0.0f, 9.0f}, right{-0.375f, 4.0f, 4.0f}, outL, outR;
    Process(*fn, left, right, outL, outR);
    // u = 1.5 * 2 - 1 = 2; 2^(2 - 1) * 0.5 + 0.25 = 1.25
    EXPECT_FLOAT_EQ(Indicator(*fn, 12), 2.0f);
    EXPECT_FLOAT_EQ(Indicator(*fn, 14), 1.25f);
    EXPECT_FLOAT_EQ(outL[0], 1.25f);
    // A disabled channel shows its raw input on both.
    EXPECT_EQ(Indicator(*fn, 13), -0.375f);
    EXPECT_EQ(Indicator(*fn, 15), -0.375f);

    // The next block's first sample replaces them; an empty block does not.
    left = {0.5f};
    right = {0.125f};
    Process(*fn, left, right, outL, outR);
    EXPECT_FLOAT_EQ(Indicator(*fn, 12), 0.0f);
    EXPECT_FLOAT_EQ(Indicator(*fn, 14), 0.5f); // 2^-1 * 0.5 + 0.25
    EXPECT_EQ(Indicator(*fn, 13), 0.125f);
    left.clear();
    right.clear();
    Process(*fn, left, right, outL, outR);
    EXPECT_FLOAT_EQ(Indicator(*fn, 14), 0.5f);

    // Nothing else in the block is touched (the registry's flags included).
    for (int e = 0; e < ObryCorvaneBase::kIndicatorBlockSize / 4; ++e) {
        if (e < 12 || e > 15) {
            EXPECT_EQ(Indicator(*fn, e), 0.0f) << e;
        }
    }
}

TEST_F(InProcessTest, AutomationOfBadValuesReachesTheHostInRange)
{
    auto dc = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    const std::pair<float, float> cases[] = {{250.0f, 0.75f}, {900.0f, 1.0f}, {-3e9f, 0.0f}, {kNaN, 0.0f}, {kInf, 1.0f}};
    for (const auto& [real, normalised] : cases) {
        SCOPED_TRACE(real);
        dc->SetParameterValue(11, real, true); // Smoothing L, -500..500 ms
        const auto log = TakeAutomateLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].index, 11);
        EXPECT_NEAR(log[0].value, normalised, 1e-6f);
        EXPECT_NEAR(dc->getParameter(11), normalised, 1e-6f);
    }
    dc->SetParameterValue(4, 0.5f, false);
    EXPECT_TRUE(TakeAutomateLog().empty());
}

TEST_F(InProcessTest, AudioPathAllocatesNothing)
{
    auto dc = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
    auto fn = MakeInProcess<ObryCorvaneFunction::ObryCorvane>();
    std::vector<float> left(512, 0.25f), right(512, -0.5f), outL, outR;
    left[7] = kNaN;
    right[9] = kInf;
    outL.resize(512);
    outR.resize(512);
    auto count = [&](ObryCorvaneBase& plugin) {
        float* inputs[] = {left.data(), right.data()};
        float* outputs[] = {outL.data(), outR.data()};
        AllocationCounter counter;
        for (int block = 0; block < 4; ++block)
            plugin.processReplacing(inputs, outputs, 512);
        return counter.Count();
    };
    {
        AllocationCounter counter; // the counter itself sees allocations
        auto probe = std::make_unique<std::vector<float>>(4);
        EXPECT_GE(counter.Count(), 2);
    }
    dc->SetParameterValue(3, 0.5f, false);
    dc->SetParameterValue(9, 0.5f, false);
    for (float smoothing : {0.0f, 100.0f, -100.0f}) {
        dc->SetParameterValue(11, smoothing, false);
        dc->SetParameterValue(12, -smoothing, false);
        EXPECT_EQ(count(*dc), 0) << smoothing;
    }
    EXPECT_EQ(count(*fn), 0); // both disabled
    for (float function : {0.0f, 1.0f, 2.0f, 3.0f}) {
        fn->SetParameterValue(1, 1, false);
        fn->SetParameterValue(2, function, false);
        EXPECT_EQ(count(*fn), 0) << function;
    }
}

TEST_F(InProcessTest, BrokenSampleRatesLeaveTheDCRunning)
{
    // A host may announce any rate: the smoothing must neither freeze nor
    // produce NaN.
    for (float rate : {0.0f, -48000.0f, kNaN, kInf, 1e30f}) {
        SCOPED_TRACE(rate);
        auto dc = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
        dc->setSampleRate(rate);
        dc->SetParameterValue(0, 1, false);
        dc->SetParameterValue(11, -500, false);
        dc->SetParameterValue(12, 500, false);
        std::vector<float> left(64, 0.0f), right(64, 0.0f), outL, outR;
        Process(*dc, left, right, outL, outR);
        EXPECT_TRUE(AllFinite(outL));
        EXPECT_TRUE(AllFinite(outR));
    }
}

// The two channels smooth side by side on separate buffers; a host that
// hands the left output as the right input gets the right channel shaped
// from the left one's finished output, and one that hands a single buffer
// for both outputs gets the right channel's, as when each channel runs
// whole, left first.
TEST_F(InProcessTest, DcChannelsInSharedBuffersRunLeftFirst)
{
    const struct {
        float smoothingL, smoothingR;
    } cases[] = {{-10, 5}, {4, -3}, {-7, -2}, {0, 6}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.smoothingL << " / " << k.smoothingR);
        auto make = [&] {
            auto dc = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
            dc->SetParameterValue(0, 0.5f, false); // L: 0.5 + input
            dc->SetParameterValue(3, 1, false);
            dc->SetParameterValue(5, 0.25f, false); // R: 0.25 x input
            dc->SetParameterValue(9, 1, false);
            dc->SetParameterValue(11, k.smoothingL, false);
            dc->SetParameterValue(12, k.smoothingR, false);
            return dc;
        };
        ExpectRightInputWiredToLeftOutputSeesItFinished(
            make, [](int32_t n) { return static_cast<float>(0.6 * std::sin(0.37 * n) + ((n / 50) & 1)); });

        // One buffer for both outputs: the right channel's smoothed samples.
        auto shared = make();
        auto alone = make();
        std::vector<float> in0(64), in1(64), one(64), outL(64), outR(64);
        for (int block = 0; block < 4; ++block) {
            for (int32_t i = 0; i < 64; ++i) {
                in0[i] = static_cast<float>(std::sin(0.1 * (64 * block + i)));
                in1[i] = static_cast<float>(std::cos(0.23 * (64 * block + i)));
            }
            float* inputs[2] = {in0.data(), in1.data()};
            float* sharedOut[2] = {one.data(), one.data()};
            shared->processReplacing(inputs, sharedOut, 64);
            float* aloneOut[2] = {outL.data(), outR.data()};
            alone->processReplacing(inputs, aloneOut, 64);
            ASSERT_EQ(one, outR) << "block " << block;
        }
    }
}

} // namespace

namespace {

// Function's output one sample after another, each read before it is
// written: what every layout of the buffers must give.
void FunctionBySample(int function, const float* in, float* out, int32_t frames, float inScale, float inOffset,
                      float outScale, float outOffset)
{
    for (int32_t i = 0; i < frames; ++i) {
        const float u = in[i] * inScale + inOffset;
        float f = u;
        if (function == 1)
            f = u > 1e-10f ? std::log2(u) + 1.0f : 0.0f;
        else if (function == 2)
            f = std::exp2(u - 1.0f);
        else if (function == 3)
            f = std::fabs(u);
        out[i] = f * outScale + outOffset;
    }
}

// Every curve on separate buffers, in place and on buffers shifted by a
// sample either way (a broken host), over block lengths that leave a part
// group or none: the bits of the sample-by-sample rule.
TEST(FunctionInProcess, EveryCurveOnEveryBufferLayoutGivesTheSampleBySampleBits)
{
    const int32_t shifts[] = {0, 1, -1, 200}; // output from input; 200: apart
    const int32_t lengths[] = {1, 15, 16, 37, 64, 100};
    for (int function = 0; function < 4; ++function)
        for (int32_t shift : shifts)
            for (int32_t frames : lengths) {
                SCOPED_TRACE(testing::Message() << "function " << function << " shift " << shift << " frames "
                                                << frames);
                auto fn = MakeInProcess<ObryCorvaneFunction::ObryCorvane>();
                fn->SetParameterValue(1, 1, false);
                fn->SetParameterValue(2, static_cast<float>(function), false);
                fn->SetParameterValue(3, 1.5f, false);
                fn->SetParameterValue(4, 0.25f, false);
                fn->SetParameterValue(5, -0.75f, false);
                fn->SetParameterValue(6, 0.125f, false);
                std::vector<float> arena(512), right(frames, 0.5f), rightOut(frames);
                for (size_t i = 0; i < arena.size(); ++i)
                    arena[i] = static_cast<float>(0.8 * std::sin(0.21 * static_cast<double>(i)) - 0.1);
                std::vector<float> expected = arena;
                const int32_t from = 100;
                FunctionBySample(function, expected.data() + from, expected.data() + from + shift, frames, 1.5f,
                                 0.25f, -0.75f, 0.125f);
                float* inputs[2] = {arena.data() + from, right.data()};
                float* outputs[2] = {arena.data() + from + shift, rightOut.data()};
                fn->processReplacing(inputs, outputs, frames);
                for (size_t i = 0; i < arena.size(); ++i)
                    ASSERT_EQ(std::bit_cast<uint32_t>(arena[i]), std::bit_cast<uint32_t>(expected[i])) << i;
            }
}

} // namespace

namespace {

// DC's two channels as each runs whole, left first: shaped, then smoothed
// (the rule written out with the shared smoothing step), on one arena
// holding every buffer.
struct DcByChannel {
    float level[2], add[2], multiply[2], slewStep[2], lowpassCoef[2], state[2];

    void Run(std::vector<float>& arena, const int32_t in[2], const int32_t out[2], int32_t frames)
    {
        for (int c = 0; c < 2; ++c) {
            for (int32_t i = 0; i < frames; ++i) {
                const float x = arena[static_cast<size_t>(in[c] + i)];
                arena[static_cast<size_t>(out[c] + i)] =
                    add[c] == 0.0f && multiply[c] == 0.0f ? level[c]
                                                          : (x * multiply[c] + (1.0f - multiply[c])) * level[c] +
                                                                x * add[c];
            }
            ApplyOutputSmoothing(arena.data() + out[c], frames, slewStep[c], lowpassCoef[c], &state[c]);
        }
    }
};

// Every buffer layout a host may hand (separate, in place, the left input
// as the right output, wired, shared, shifted by a sample) with every kind
// of smoothing, over moving, steady and NaN inputs: the bits of each
// channel run whole, left first.
TEST(DcInProcess, EveryBufferLayoutAndSmoothingGivesTheChannelsRunWholeLeftFirst)
{
    const struct {
        int32_t in[2], out[2];
    } layouts[] = {
        {{0, 100}, {200, 300}}, // separate
        {{0, 100}, {0, 100}},   // in place
        {{0, 100}, {200, 0}},   // left input as the right output
        {{0, 100}, {100, 200}}, // left output wired to the right input
        {{0, 100}, {200, 200}}, // one buffer for both outputs
        {{1, 100}, {0, 200}},   // shifted by a sample
        {{0, 100}, {201, 1}},   // right output over the left input, shifted
    };
    const float smoothings[][2] = {{-5, 5}, {5, -5}, {0, 3}, {2, 0}, {0, 0}, {-1, -1}};
    constexpr int32_t kFrames = 64;
    for (const auto& layout : layouts)
        for (const auto& smoothing : smoothings) {
            SCOPED_TRACE(testing::Message() << "layout " << (&layout - layouts) << " smoothing " << smoothing[0]
                                            << " / " << smoothing[1]);
            auto dc = MakeInProcess<ObryCorvaneDC::ObryCorvane>();
            dc->SetParameterValue(0, 0.5f, false); // L: 0.5 + input
            dc->SetParameterValue(3, 1, false);
            dc->SetParameterValue(5, 0.25f, false); // R: 0.25 x input
            dc->SetParameterValue(9, 1, false);
            dc->SetParameterValue(11, smoothing[0], false);
            dc->SetParameterValue(12, smoothing[1], false);
            // The settings as the plug-in holds them.
            auto p = [&](int32_t index) { return dc->GetParameterReal(index); };
            DcByChannel reference{};
            for (int c = 0; c < 2; ++c) {
                reference.level[c] = p(5 * c + 2) * (p(5 * c) + p(5 * c + 1));
                reference.add[c] = p(5 * c + 3);
                reference.multiply[c] = p(5 * c + 4);
                SetupOutputSmoothing(p(11 + c), 48000, &reference.slewStep[c], &reference.lowpassCoef[c]);
            }
            std::vector<float> arena(400), expected;
            for (int block = 0; block < 8; ++block) {
                for (size_t i = 0; i < arena.size(); ++i) {
                    const double t = static_cast<double>(block * 400 + static_cast<int>(i));
                    arena[i] = block % 3 == 1 ? 0.3f : static_cast<float>(0.7 * std::sin(0.05 * t));
                }
                if (block % 3 == 2)
                    arena[7] = arena[107] = std::nanf("");
                expected = arena;
                reference.Run(expected, layout.in, layout.out, kFrames);
                float* inputs[2] = {arena.data() + layout.in[0], arena.data() + layout.in[1]};
                float* outputs[2] = {arena.data() + layout.out[0], arena.data() + layout.out[1]};
                dc->processReplacing(inputs, outputs, kFrames);
                for (size_t i = 0; i < arena.size(); ++i)
                    ASSERT_EQ(std::bit_cast<uint32_t>(arena[i]), std::bit_cast<uint32_t>(expected[i]))
                        << "block " << block << " sample " << i;
            }
        }
}

} // namespace
