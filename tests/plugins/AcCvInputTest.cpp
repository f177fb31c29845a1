// The AC encoders and the CV Input through the built module and our host:
// the carrier and its level ranges, decoding an encoder's output back into a
// level, the generator, the Tessel decoder's loop and low-pass, and the
// whole CV Input parameter space under silent, periodic and broken input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using corvane::test::AllFinite;
using corvane::test::kInf;
using corvane::test::kNaN;
using corvane::test::LoadedModule;
using corvane::test::Range;
using corvane::test::ScopedUserFolders;
using corvane::test::UniquePortBase;
using vst::FourCC;

namespace {

constexpr float kMaxFloat = std::numeric_limits<float>::max();
constexpr double kRate = 48000;

using Block = std::vector<std::vector<float>>;

int32_t EncoderIndex(int32_t channel, int32_t offset)
{
    return 1 + 4 * channel + offset;
}
enum EncoderParameter : int32_t { kEnable, kPolarity, kMinLevel, kMaxLevel };
const Range kEncoderRanges[] = {{0, 1}, {0, 1}, {0, 1}, {0, 1}};

void SetEncoder(Plugin& plugin, int32_t channel, EncoderParameter which, float real)
{
    plugin.SetParameter(EncoderIndex(channel, which), kEncoderRanges[which].Normalise(real));
}

enum CvParameter : int32_t {
    kPortOffset = 0,
    kModeL = 1, kLevelL, kBipolarL, kScaleL, kSmoothingL,
    kModeR = 6, kLevelR, kBipolarR, kScaleR, kSmoothingR,
    kTesselOffsetL = 11, kTesselOffsetR, kTesselFilterFreq, kTesselCentre, kTesselTau1, kTesselTau2,
    kTesselForceSmooth,
    kCvParameterCount
};
enum CvMode : int32_t { kDecoder = 0, kGenerator = 1, kTesselDecoder = 2 };

struct CvParameterInfo {
    const char* name;
    Range range;
    float def;
};
const CvParameterInfo kCvParameters[kCvParameterCount] = {
    {"OSC Port Offset", {0, 100}, 0},
    {"Mode L", {0, 2}, 0},
    {"Level L", {0, 1}, 0},
    {"Bipolar L", {0, 1}, 0},
    {"Scale L", {-4, 4}, 1},
    {"Smoothing L", {-500, 500}, 0},
    {"Mode R", {0, 2}, 0},
    {"Level R", {0, 1}, 0},
    {"Bipolar R", {0, 1}, 0},
    {"Scale R", {-4, 4}, 1},
    {"Smoothing R", {-500, 500}, 0},
    {"Tessel Offset L", {0, 1}, 0.5f},
    {"Tessel Offset R", {0, 1}, 0.5f},
    {"Tessel Filter Freq", {0, 1}, 0.117f},
    {"Tessel Centre", {16000, 18000, true}, 17000},
    {"Tessel Tau 1", {1, 1000}, 100},
    {"Tessel Tau 2", {1, 1000}, 100},
    {"Tessel Force Smooth", {-1, 0}, -0.5f},
};

void SetCv(Plugin& plugin, int32_t index, float real)
{
    plugin.SetParameter(index, kCvParameters[index].range.Normalise(real));
}

// One block; every input channel gets `in`.
Block RunBlock(Plugin& plugin, const std::vector<float>& in)
{
    Block inputs(static_cast<size_t>(plugin.NumInputs()), in), outputs;
    plugin.ProcessBlock(inputs, outputs, static_cast<int32_t>(in.size()));
    return outputs;
}

Block RunConstant(Plugin& plugin, float value, int32_t frames)
{
    return RunBlock(plugin, std::vector<float>(static_cast<size_t>(frames), value));
}

// A sine of `hz` at the test rate, `frames` long, from sample `start` on.
std::vector<float> Sine(double hz, double amplitude, int32_t frames, int64_t start = 0)
{
    std::vector<float> samples(static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i)
        samples[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * (start + i) / kRate));
    return samples;
}

class AcCvInputTest : public ::testing::Test {
protected:
    std::unique_ptr<Plugin> Make(const char (&id)[5], double rate = kRate, int32_t blockSize = 512)
    {
        auto plugin = Plugin::Create(LoadedModule(), FourCC(id));
        if (plugin)
            plugin->Start(rate, blockSize);
        return plugin;
    }

    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(AcCvInputTest, EncoderMapsTheInputIntoItsRangeOnAnAlternatingCarrier)
{
    const struct {
        const char* what;
        float polarity, minLevel, maxLevel, input, amplitude;
    } table[] = {
        {"bipolar default, input 0", 0, 0, 1, 0, 0.5f},
        {"bipolar default, input 1", 0, 0, 1, 1, 1},
        {"bipolar default, input -2 clamps to min", 0, 0, 1, -2, 0},
        {"unipolar 0.2..0.8, input 0.5", 1, 0.2f, 0.8f, 0.5f, 0.5f},
        {"unipolar 0.2..0.8, input 0", 1, 0.2f, 0.8f, 0, 0.2f},
        {"NaN lands on the minimum", 1, 0.2f, 0.8f, kNaN, 0.2f},
        {"+inf lands on the maximum", 0, 0.2f, 0.8f, kInf, 0.8f},
        {"-inf lands on the minimum", 0, 0.2f, 0.8f, -kInf, 0.2f},
    };
    for (const auto& c : table) {
        SCOPED_TRACE(c.what);
        auto encoder = Make("QZs9");
        ASSERT_TRUE(encoder);
        SetEncoder(*encoder, 0, kEnable, 1);
        SetEncoder(*encoder, 0, kPolarity, c.polarity);
        SetEncoder(*encoder, 0, kMinLevel, c.minLevel);
        SetEncoder(*encoder, 0, kMaxLevel, c.maxLevel);
        const Block out = RunConstant(*encoder, c.input, 64);
        for (size_t i = 0; i < out[0].size(); ++i)
            ASSERT_NEAR(out[0][i], i % 2 == 0 ? c.amplitude : -c.amplitude, 1e-6) << "sample " << i;
        // R is not enabled: its input passes unchanged.
        for (size_t i = 0; i < out[1].size(); ++i)
            ASSERT_TRUE(out[1][i] == c.input || (std::isnan(c.input) && std::isnan(out[1][i])));
    }
}

TEST_F(AcCvInputTest, EncoderCarrierKeepsAlternatingAcrossBlocksOfAnyLength)
{
    auto encoder = Make("QZs9");
    ASSERT_TRUE(encoder);
    SetEncoder(*encoder, 1, kEnable, 1);
    std::vector<float> right;
    for (int32_t frames : {3, 2, 1, 1, 7, 5, 64, 9, 1}) {
        const Block out = RunConstant(*encoder, 0.2f, frames);
        right.insert(right.end(), out[1].begin(), out[1].end());
    }
    for (size_t i = 0; i < right.size(); ++i)
        ASSERT_FLOAT_EQ(right[i], i % 2 == 0 ? 0.6f : -0.6f) << "sample " << i;
}

TEST_F(AcCvInputTest, SixChannelEncoderHasIndependentChannels)
{
    auto encoder = Make("QZs(");
    ASSERT_TRUE(encoder);
    SetEncoder(*encoder, 5, kEnable, 1);
    SetEncoder(*encoder, 5, kPolarity, 1);
    SetEncoder(*encoder, 5, kMinLevel, 0.2f);
    SetEncoder(*encoder, 5, kMaxLevel, 0.8f);
    SetEncoder(*encoder, 2, kEnable, 1);

    Block inputs(6), outputs;
    for (int32_t c = 0; c < 6; ++c)
        inputs[c].assign(33, 0.1f * static_cast<float>(c + 1));
    encoder->ProcessBlock(inputs, outputs, 33);
    ASSERT_EQ(outputs.size(), 6u);
    for (int32_t c = 0; c < 6; ++c) {
        SCOPED_TRACE(c);
        for (size_t i = 0; i < 33; ++i) {
            const float sign = i % 2 == 0 ? 1.0f : -1.0f;
            if (c == 5) // unipolar 0.2..0.8: 0.6 -> 0.56
                ASSERT_NEAR(outputs[c][i], sign * 0.56f, 1e-6);
            else if (c == 2) // bipolar 0..1: 0.3 -> 0.65
                ASSERT_NEAR(outputs[c][i], sign * 0.65f, 1e-6);
            else
                ASSERT_EQ(outputs[c][i], inputs[c][i]);
        }
    }
}

TEST_F(AcCvInputTest, DecoderTurnsTheEncodersCarrierBackIntoItsLevel)
{
    for (const bool bipolar : {false, true}) {
        SCOPED_TRACE(bipolar ? "bipolar (synchronous)" : "unipolar (rectifying)");
        auto encoder = Make("QZs9");
        auto cv = Make("QZs4");
        ASSERT_TRUE(encoder && cv);
        SetEncoder(*encoder, 0, kEnable, 1);
        SetCv(*cv, kBipolarL, bipolar ? 1 : 0);
        SetCv(*cv, kScaleL, 1);
        // Odd lengths move the parity of both ends on together.
        for (int32_t frames : {1, 3, 64, 5, 2, 7, 511}) {
            const Block encoded = RunConstant(*encoder, 0.2f, frames);
            Block decoded;
            cv->ProcessBlock(encoded, decoded, frames);
            for (int32_t i = 0; i < frames; ++i)
                ASSERT_FLOAT_EQ(decoded[0][i], 0.6f) << "block of " << frames << ", sample " << i;
        }
    }
}

TEST_F(AcCvInputTest, SmoothedDecoderSettlesOnTheEncodedLevel)
{
    auto encoder = Make("QZs9");
    auto cv = Make("QZs4");
    ASSERT_TRUE(encoder && cv);
    SetEncoder(*encoder, 0, kEnable, 1);
    SetEncoder(*encoder, 0, kPolarity, 1);
    SetCv(*cv, kSmoothingL, -10);
    Block decoded;
    for (int i = 0; i < 20; ++i)
        cv->ProcessBlock(RunConstant(*encoder, 0.7f, 512), decoded, 512);
    EXPECT_NEAR(decoded[0].back(), 0.7f, 1e-4);
}

TEST_F(AcCvInputTest, GeneratorLevelIsTheCubeOfLevelWhateverRanBefore)
{
    auto cv = Make("QZs4");
    ASSERT_TRUE(cv);
    auto expectCarrier = [&](const char* when) {
        SCOPED_TRACE(when);
        std::vector<float> left;
        for (int32_t frames : {5, 2, 9}) {
            const Block out = RunConstant(*cv, 0.9f, frames);
            left.insert(left.end(), out[0].begin(), out[0].end());
        }
        for (size_t i = 0; i < left.size(); ++i)
            ASSERT_EQ(left[i], i % 2 == 0 ? 0.125f : -0.125f) << "sample " << i;
    };

    SetCv(*cv, kLevelL, 0.5f);
    SetCv(*cv, kModeL, kGenerator);
    expectCarrier("fresh");

    // Decoding leaves a smoothed level behind; the generator must not start
    // from it.
    for (const float smoothing : {-10.0f, 0.0f, 20.0f}) {
        SetCv(*cv, kModeL, kDecoder);
        SetCv(*cv, kSmoothingL, smoothing);
        RunConstant(*cv, 0.6f, 4096);
        SetCv(*cv, kModeL, kGenerator);
        expectCarrier(smoothing < 0 ? "after low-passed decoding" : smoothing > 0 ? "after slewed decoding"
                                                                                   : "after plain decoding");
    }
    SetCv(*cv, kModeL, kTesselDecoder);
    RunBlock(*cv, Sine(17000, 0.5, 1000));
    SetCv(*cv, kModeL, kGenerator);
    expectCarrier("after the Tessel decoder");
}

TEST_F(AcCvInputTest, TesselDecoderOnSilenceSettlesThroughForceSmooth)
{
    // Silence demodulates to 0, so the output is Tessel Offset x Scale /
    // Tessel Offset = Scale, reached through the one-pole low-pass that
    // Force Smooth imposes even with Smoothing off.
    struct Case {
        float forceSmooth; // ms
        float scale;
    };
    for (const Case c : {Case{-0.5f, 1}, Case{-1, -2.5f}, Case{0, 1}}) {
        SCOPED_TRACE(c.forceSmooth);
        auto cv = Make("QZs4");
        ASSERT_TRUE(cv);
        SetCv(*cv, kModeL, kTesselDecoder);
        SetCv(*cv, kTesselForceSmooth, c.forceSmooth);
        SetCv(*cv, kScaleL, c.scale);
        const Block out = RunConstant(*cv, 0, 2048);
        const double samples = c.forceSmooth * 0.001 * kRate;
        const double k = samples < -0.5 ? std::exp(5.2 / samples) : 0;
        EXPECT_NEAR(out[0][0], c.scale * (1 - k), 1e-5);
        for (size_t i = 1; i < out[0].size(); ++i)
            ASSERT_GE(std::abs(out[0][i]), std::abs(out[0][i - 1]) - 1e-7) << i;
        EXPECT_NEAR(out[0].back(), c.scale, 1e-5);
        // R stays a decoder of silence.
        EXPECT_EQ(out[1].back(), 0.0f);
    }
}

// Locked on a steady carrier, the loop's in-phase product is about half the
// carrier's amplitude A, so the output (Tessel Offset 0.5, Scale 1) settles
// near 1 - A and stays there.
TEST_F(AcCvInputTest, TesselDecoderLocksOntoTheCarrierAndReadsItsAmplitude)
{
    for (const double hz : {16800.0, 17000.0, 17200.0}) {
        for (const double amplitude : {0.2, 0.5, 0.8}) {
            SCOPED_TRACE(testing::Message() << hz << " Hz, amplitude " << amplitude);
            auto cv = Make("QZs4");
            ASSERT_TRUE(cv);
            SetCv(*cv, kModeL, kTesselDecoder);
            std::vector<float> out;
            for (int64_t start = 0; start < 48000; start += 512)
                out = RunBlock(*cv, Sine(hz, amplitude, 512, start))[0];
            const auto [low, high] = std::minmax_element(out.begin(), out.end());
            EXPECT_LT(*high - *low, 1e-3);
            EXPECT_NEAR(out.back(), 1 - amplitude, 0.03);
        }
    }
}

// The order-10 low-pass must decay over the whole Tessel Filter Freq range:
// an impulse-like burst through the loop leaves a response that stays
// bounded and dies away. Without smoothing the output is
// (Tessel Offset - filtered) x Scale / Tessel Offset = 1 - 2 x filtered.
TEST_F(AcCvInputTest, TesselLowpassIsStableOverTheWholeCutoffRange)
{
    auto cv = Make("QZs4");
    ASSERT_TRUE(cv);
    SetCv(*cv, kModeL, kTesselDecoder);
    SetCv(*cv, kTesselForceSmooth, 0);

    std::vector<float> cutoffs;
    for (int i = 0; i <= 100; ++i)
        cutoffs.push_back(0.01f * static_cast<float>(i));
    for (float extra : {0.0679f, 0.068f, 0.44f, 0.445f, 0.447f, 0.45f, 0.455f, 0.47f, 0.475f, 0.48f, 0.485f,
                        0.49f, 0.495f, 0.499f, 0.5f, 0.501f})
        cutoffs.push_back(extra);

    std::vector<float> burst(8192, 0.0f);
    for (int i = 0; i < 8; ++i)
        burst[i] = 1.0f;
    for (float cutoff : cutoffs) {
        SCOPED_TRACE(cutoff);
        SetCv(*cv, kTesselFilterFreq, cutoff);
        // A mode change starts the filter afresh.
        SetCv(*cv, kModeL, kDecoder);
        RunConstant(*cv, 0, 1);
        SetCv(*cv, kModeL, kTesselDecoder);
        const Block out = RunBlock(*cv, burst);
        double peak = 0, tail = 0;
        for (size_t i = 0; i < out[0].size(); ++i) {
            const double deviation = std::abs(out[0][i] - 1.0);
            ASSERT_TRUE(std::isfinite(deviation)) << i;
            peak = std::max(peak, deviation);
            if (i >= out[0].size() - 2048)
                tail = std::max(tail, deviation);
        }
        EXPECT_GT(peak, 1e-3) << "the burst must reach the filter";
        EXPECT_LT(peak, 5.0);
        EXPECT_LT(tail, 1e-6);
    }
}

TEST_F(AcCvInputTest, TesselFilterFreqIsHeldToTheUsableSpan)
{
    // Cutoffs outside the span design the filter at its nearest end: the
    // output is then sample for sample that of the end itself.
    auto response = [&](float cutoff) {
        auto cv = Make("QZs4");
        SetCv(*cv, kModeL, kTesselDecoder);
        SetCv(*cv, kTesselForceSmooth, 0);
        SetCv(*cv, kTesselFilterFreq, cutoff);
        return RunBlock(*cv, Sine(16900, 0.5, 4096))[0];
    };
    const std::vector<float> bottom = response(0.068f);
    const std::vector<float> top = response(0.48f);
    EXPECT_NE(bottom, top);
    EXPECT_NE(bottom, response(0.117f));
    for (float below : {0.0f, 0.03f, 0.067f})
        EXPECT_EQ(response(below), bottom) << below;
    for (float above : {0.49f, 0.5f, 0.75f, 1.0f})
        EXPECT_EQ(response(above), top) << above;
}

// One bad sample restarts the loop and the filter: from the next sample on,
// the decoder runs exactly as a fresh one fed the same input.
TEST_F(AcCvInputTest, TesselLoopRecoversFromOneBadSample)
{
    const std::vector<float> carrier = Sine(17100, 0.4, 3000, 123);
    auto fresh = Make("QZs4");
    ASSERT_TRUE(fresh);
    SetCv(*fresh, kModeL, kTesselDecoder);
    SetCv(*fresh, kTesselForceSmooth, 0);
    const std::vector<float> expected = RunBlock(*fresh, carrier)[0];

    for (float bad : {kNaN, kInf, -kInf, kMaxFloat, -kMaxFloat}) {
        SCOPED_TRACE(bad);
        auto cv = Make("QZs4");
        ASSERT_TRUE(cv);
        SetCv(*cv, kModeL, kTesselDecoder);
        SetCv(*cv, kTesselForceSmooth, 0);
        std::vector<float> before = Sine(16800, 0.7, 777);
        before.back() = bad;
        const Block hit = RunBlock(*cv, before);
        EXPECT_TRUE(std::isfinite(hit[0].back()));
        EXPECT_EQ(RunBlock(*cv, carrier)[0], expected);
    }
}

} // namespace
