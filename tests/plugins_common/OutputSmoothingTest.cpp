// The output smoothing rule: coefficients per block, smoothing per sample.
#include "plugins/common/OutputSmoothing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

TEST(OutputSmoothing, CoefficientsFromTheSmoothingTime)
{
    const struct {
        float milliseconds;
        float sampleRate;
        float slewStep;
        float lowpassCoef;
    } cases[] = {
        {0.0f, 48000.0f, 0.0f, 0.0f},
        {500.0f, 44100.0f, static_cast<float>(2.0 / 22050), 0.0f},
        {-500.0f, 96000.0f, 0.0f, static_cast<float>(std::exp(-5.2 / 48000))},
        {0.005f, 48000.0f, 0.0f, 0.0f},  // 0.24 samples
        {-0.01f, 48000.0f, 0.0f, 0.0f},  // -0.48 samples
        {0.011f, 48000.0f, static_cast<float>(2.0 / (0.011f * 0.001 * 48000)), 0.0f}, // 0.528 samples
        {-0.011f, 48000.0f, 0.0f, static_cast<float>(std::exp(5.2 / (-0.011f * 0.001 * 48000)))},
        // A broken sample rate or parameter smooths nothing.
        {100.0f, kNaN, 0.0f, 0.0f},
        {kNaN, 48000.0f, 0.0f, 0.0f},
        {100.0f, kInf, 0.0f, 0.0f},
        {-100.0f, kInf, 0.0f, 0.0f},
        {100.0f, 0.0f, 0.0f, 0.0f},
    };
    for (const auto& c : cases) {
        float slewStep = -1, lowpassCoef = -1;
        SetupOutputSmoothing(c.milliseconds, c.sampleRate, &slewStep, &lowpassCoef);
        EXPECT_EQ(slewStep, c.slewStep) << c.milliseconds << " ms at " << c.sampleRate;
        EXPECT_EQ(lowpassCoef, c.lowpassCoef) << c.milliseconds << " ms at " << c.sampleRate;
    }

    // The half-sample boundaries belong to "no smoothing".
    const struct {
        double samples;
        bool slew;
        bool lowpass;
    } sampleCases[] = {
        {0.5, false, false}, {-0.5, false, false}, {std::nextafter(0.5, 1.0), true, false},
        {std::nextafter(-0.5, -1.0), false, true}, {0.0, false, false},
        {-1e12, false, true}, // far too long for single precision, but still moving
    };
    for (const auto& c : sampleCases) {
        float slewStep = -1, lowpassCoef = -1;
        SetupOutputSmoothingSamples(c.samples, &slewStep, &lowpassCoef);
        EXPECT_EQ(slewStep > 0, c.slew) << c.samples;
        EXPECT_EQ(lowpassCoef > 0, c.lowpass) << c.samples;
        EXPECT_LT(lowpassCoef, 1.0f) << c.samples;
        EXPECT_GE(slewStep, 0.0f) << c.samples;
    }
}

TEST(OutputSmoothing, WithinHalfASamplePassesTheSignalUnchanged)
{
    float slewStep, lowpassCoef;
    SetupOutputSmoothing(0.005f, 48000.0f, &slewStep, &lowpassCoef);
    const std::vector<float> input = {0.0f, 1.0f, -3.5f, 0.25f, 1e-30f, -0.0f, 7.0f};
    std::vector<float> block = input;
    float state = 42;
    ApplyOutputSmoothing(block.data(), static_cast<int32_t>(block.size()), slewStep, lowpassCoef, &state);
    EXPECT_EQ(block, input);
    EXPECT_EQ(state, 7.0f); // the block's last output
    ApplyOutputSmoothing(block.data(), 0, slewStep, lowpassCoef, &state);
    EXPECT_EQ(state, 7.0f); // an empty block leaves it
}

TEST(OutputSmoothing, StateCarriesAcrossBlocksAndModes)
{
    // Any split into blocks gives the same samples as one long block.
    for (float milliseconds : {40.0f, -40.0f}) {
        float slewStep, lowpassCoef;
        SetupOutputSmoothing(milliseconds, 48000.0f, &slewStep, &lowpassCoef);
        std::vector<float> signal(5000);
        for (size_t i = 0; i < signal.size(); ++i)
            signal[i] = (i / 700) % 2 ? 0.8f : -0.3f;
        std::vector<float> whole = signal;
        float wholeState = 0;
        ApplyOutputSmoothing(whole.data(), static_cast<int32_t>(whole.size()), slewStep, lowpassCoef, &wholeState);
        std::vector<float> pieces = signal;
        float pieceState = 0;
        for (size_t at = 0, size = 1; at < pieces.size(); at += size, size = size * 3 % 257 + 1) {
            const size_t n = std::min(size, pieces.size() - at);
            ApplyOutputSmoothing(pieces.data() + at, static_cast<int32_t>(n), slewStep, lowpassCoef, &pieceState);
        }
        EXPECT_EQ(pieces, whole) << milliseconds;
        EXPECT_EQ(pieceState, wholeState) << milliseconds;
    }

    // An unsmoothed block leaves its last sample as the state the next
    // smoothed block starts from.
    float state = 0;
    std::vector<float> off = {0.1f, 0.6f};
    ApplyOutputSmoothing(off.data(), 2, 0.0f, 0.0f, &state);
    std::vector<float> slewed = {0.0f, 0.0f};
    ApplyOutputSmoothing(slewed.data(), 2, 0.25f, 0.0f, &state);
    EXPECT_EQ(slewed, (std::vector<float>{0.6f - 0.25f, 0.6f - 0.25f - 0.25f}));
}

TEST(OutputSmoothing, NonFiniteValuesDoNotStick)
{
    const struct {
        const char* name;
        float slewStep;
        float lowpassCoef;
        float startState;
        std::vector<float> input;
        std::vector<float> expected; // NaN where NaN is expected
        float endState;
    } cases[] = {
        // Slew limiter: NaN compares as neither near nor above, one step down;
        // infinities pull one step.
        {"slew, NaN input", 0.25f, 0.0f, 0.5f, {kNaN, 0.5f}, {0.25f, 0.5f}, 0.5f},
        {"slew, infinite input", 0.25f, 0.0f, 0.5f, {kInf, -kInf, 0.5f}, {0.75f, 0.5f, 0.5f}, 0.5f},
        // Slew limiter with a poisoned state: restarts from the input.
        {"slew, NaN state", 0.25f, 0.0f, kNaN, {2.0f, 2.0f, 3.0f}, {2.0f, 2.0f, 2.25f}, 2.25f},
        {"slew, infinite state", 0.25f, 0.0f, kInf, {2.0f, 1.0f}, {2.0f, 1.75f}, 1.75f},
        // Low-pass: the bad sample comes out, the next finite one restarts.
        {"low-pass, NaN input", 0.0f, 0.5f, 0.0f, {1.0f, kNaN, 4.0f, 2.0f}, {0.5f, kNaN, 4.0f, 3.0f}, 3.0f},
        {"low-pass, infinite input", 0.0f, 0.5f, 0.0f, {kInf, 4.0f, 2.0f}, {kInf, 4.0f, 3.0f}, 3.0f},
        {"low-pass, NaN state", 0.0f, 0.5f, kNaN, {4.0f, 2.0f}, {4.0f, 3.0f}, 3.0f},
    };
    for (const auto& c : cases) {
        std::vector<float> block = c.input;
        float state = c.startState;
        ApplyOutputSmoothing(block.data(), static_cast<int32_t>(block.size()), c.slewStep, c.lowpassCoef, &state);
        for (size_t i = 0; i < block.size(); ++i) {
            if (std::isnan(c.expected[i]))
                EXPECT_TRUE(std::isnan(block[i])) << c.name << ", sample " << i;
            else
                EXPECT_EQ(block[i], c.expected[i]) << c.name << ", sample " << i;
        }
        EXPECT_EQ(state, c.endState) << c.name;
    }
}

// After the input falls silent the low-pass reaches its target exactly and
// never passes through denormal floats, even where no one flushes them.
TEST(OutputSmoothing, LowPassReachesItsTargetWithoutDenormals)
{
    const struct {
        float samples; // smoothing time
        float target;
    } cases[] = {{-5, 0}, {-480, 0}, {-24000, 0}, {-480, -0.0f}, {-480, 1e-35f}, {-480, -3e-31f}};
    for (const auto& c : cases) {
        float slew = 0, coef = 0;
        SetupOutputSmoothingSamples(c.samples, &slew, &coef);
        float state = 0.8f;
        std::vector<float> block(4096);
        bool reached = false;
        for (int b = 0; b < 400 && !reached; ++b) {
            std::fill(block.begin(), block.end(), c.target);
            ApplyOutputSmoothing(block.data(), static_cast<int32_t>(block.size()), slew, coef, &state);
            for (float y : block)
                ASSERT_FALSE(y != 0 && std::fabs(y) < std::numeric_limits<float>::min())
                    << c.samples << " samples: denormal " << y;
            reached = state == c.target;
        }
        EXPECT_TRUE(reached) << c.samples << " samples towards " << c.target << " stays at " << state;
    }
}

TEST(OutputSmoothing, OffTextWithinHalfAMillisecond)
{
    const std::pair<float, bool> cases[] = {{0.0f, true},   {0.5f, true},  {-0.5f, true},    {0.005f, true},
                                            {0.50001f, false}, {-0.6f, false}, {-500.0f, false}, {kNaN, false}};
    for (const auto& [milliseconds, off] : cases)
        EXPECT_EQ(SmoothingShowsOff(milliseconds), off) << milliseconds;
}

} // namespace

namespace {

// Two channels smoothed together give the bits of smoothing one and then
// the other, for every pairing of the modes, on separate buffers, on one
// buffer for both and on buffers that overlap by a sample (a broken host).
TEST(OutputSmoothingPair, SameAsOneChannelAfterTheOther)
{
    struct Mode {
        const char* name;
        float slewStep, lowpassCoef, state;
    };
    const Mode modes[] = {
        {"slew", 0.05f, 0, 0.2f},
        {"low-pass", 0, 0.9f, -0.3f},
        {"none", 0, 0, 0},
        {"slew from NaN", 0.05f, 0, std::numeric_limits<float>::quiet_NaN()},
        {"low-pass from infinity", 0, 0.5f, std::numeric_limits<float>::infinity()},
    };
    enum Layout { kApart, kSame, kOverlap };
    constexpr int32_t kFrames = 67;
    for (const Mode& ma : modes)
        for (const Mode& mb : modes)
            for (Layout layout : {kApart, kSame, kOverlap}) {
                SCOPED_TRACE(std::string(ma.name) + " / " + mb.name + " layout " + std::to_string(layout));
                std::vector<float> source(2 * kFrames + 1);
                for (size_t i = 0; i < source.size(); ++i)
                    source[i] = i == 40 ? std::numeric_limits<float>::quiet_NaN()
                                        : (i == 50 ? std::numeric_limits<float>::infinity()
                                                   : std::sin(0.3f * static_cast<float>(i)) * (i % 17 < 8 ? 1.0f : 0.0f));
                const size_t bAt = layout == kApart ? kFrames + 1 : (layout == kSame ? 0 : 1);
                std::vector<float> one = source, two = source;
                float oneA = ma.state, oneB = mb.state, twoA = ma.state, twoB = mb.state;
                ApplyOutputSmoothing(one.data(), kFrames, ma.slewStep, ma.lowpassCoef, &oneA);
                ApplyOutputSmoothing(one.data() + bAt, kFrames, mb.slewStep, mb.lowpassCoef, &oneB);
                const float slew[2] = {ma.slewStep, mb.slewStep};
                const float lowpass[2] = {ma.lowpassCoef, mb.lowpassCoef};
                ApplyOutputSmoothingPair(two.data(), two.data() + bAt, kFrames, slew, lowpass, &twoA, &twoB);
                ASSERT_EQ(std::memcmp(one.data(), two.data(), one.size() * sizeof(float)), 0);
                EXPECT_EQ(std::memcmp(&oneA, &twoA, sizeof oneA), 0);
                EXPECT_EQ(std::memcmp(&oneB, &twoB, sizeof oneB), 0);
            }
}

// A state that has the bits of every sample (a settled output on a steady
// input) is left alone without running the chain: the same samples and
// state as sample by sample, for every kind of value, also when one sample
// of the block differs (then the chain runs), alone and in pairs.
TEST(OutputSmoothing, SettledStateOnASteadyInputStaysAsSampleBySample)
{
    const float denormal = std::numeric_limits<float>::denorm_min();
    const float values[] = {0.0f, -0.0f, 0.5f, -1.0f, kNaN, -kNaN, kInf, -kInf, denormal, 3e38f, 1e-31f};
    const struct {
        float slew, lowpass;
    } kinds[] = {{0.01f, 0}, {0, 0.9f}, {2.5f, 0}, {0, 1e-3f}};
    for (const float v : values)
        for (const auto& kind : kinds)
            for (const int32_t frames : {1, 7, 16, 33, 64})
                for (const int32_t odd : {-1, 0, 5, 15, 32}) {
                    if (odd >= frames)
                        continue;
                    SCOPED_TRACE(testing::Message() << "value " << v << ", slew " << kind.slew << ", low-pass "
                                                    << kind.lowpass << ", " << frames << " frames, odd " << odd);
                    std::vector<float> in(static_cast<size_t>(frames), v);
                    if (odd >= 0)
                        in[static_cast<size_t>(odd)] = 0.25f;
                    // The reference: the per-sample step.
                    const OutputSmoothingStep step(kind.slew, kind.lowpass);
                    std::vector<float> expected = in;
                    float y = v;
                    for (float& x : expected)
                        x = y = step(y, x);
                    std::vector<float> got = in;
                    float state = v;
                    ApplyOutputSmoothing(got.data(), frames, kind.slew, kind.lowpass, &state);
                    EXPECT_EQ(memcmp(got.data(), expected.data(), sizeof(float) * got.size()), 0);
                    EXPECT_EQ(memcmp(&state, &y, sizeof state), 0);
                    // Paired with a moving channel, either way round.
                    std::vector<float> moving(static_cast<size_t>(frames));
                    for (int32_t i = 0; i < frames; ++i)
                        moving[static_cast<size_t>(i)] = 0.1f * static_cast<float>(i % 5);
                    std::vector<float> movingExpected = moving;
                    float movingState = 0.7f;
                    ApplyOutputSmoothing(movingExpected.data(), frames, 0.05f, 0, &movingState);
                    const float slew[2][2] = {{kind.slew, 0.05f}, {0.05f, kind.slew}};
                    const float lowpass[2][2] = {{kind.lowpass, 0}, {0, kind.lowpass}};
                    for (int first = 0; first < 2; ++first) {
                        std::vector<float> steady = in, other = moving;
                        float steadyState = v, otherState = 0.7f;
                        if (first == 0)
                            ApplyOutputSmoothingPair(steady.data(), other.data(), frames, slew[0], lowpass[0],
                                                     &steadyState, &otherState);
                        else
                            ApplyOutputSmoothingPair(other.data(), steady.data(), frames, slew[1], lowpass[1],
                                                     &otherState, &steadyState);
                        EXPECT_EQ(memcmp(steady.data(), expected.data(), sizeof(float) * steady.size()), 0);
                        EXPECT_EQ(memcmp(other.data(), movingExpected.data(), sizeof(float) * other.size()), 0);
                        EXPECT_EQ(memcmp(&steadyState, &y, sizeof y), 0);
                        EXPECT_EQ(otherState, movingState);
                    }
                }
}

} // namespace
