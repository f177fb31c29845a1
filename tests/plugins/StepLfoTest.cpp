// The Step LFO through the built module and our host: the step grid locked to
// the song position, speed and sync modes, the step range, interpolation,
// the range floor, input modes, swing, smoothing, and hosts that give
// broken, zero or no time information.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::host::Plugin;
using corvane::test::AllFinite;
using corvane::test::PlayingPlugin;
using corvane::test::Range;
using Output = corvane::test::Stereo;

constexpr int32_t kStepLfoId = vst::FourCC("QZs6");
constexpr double kRate = 48000;
constexpr int32_t kBlock = 512;
constexpr int32_t kGroup = 21;
constexpr int32_t kFirstStepL = 43;
constexpr int32_t kFirstStepR = 43 + 96;
// At 120 BPM and 48 kHz a 16th note (the default step) lasts 6000 samples.
constexpr int32_t kSixteenth = 6000;

// Parameter indices of the L group (R = + 21).
enum : int32_t {
    kSpeedMode = 1, kSpeed, kSpeedMultiplier, kSync, kBeatDivisor, kBeats, kTriplet, kPhase, kOffset, kMultiplier,
    kAsymmetry, kRangeMode, kLengthMode, kStartStep, kLengthInSteps, kEndStep, kInterpolation, kInputMode,
    kSmoothing, kSwing, kSwingType,
};
enum Sync { kFree = 0, kTempo = 1, kTransport = 2, kQuadrature = 3 };

Range RangeOf(int32_t index)
{
    static const Range group[kGroup] = {
        {0, 1, false},    {0.05f, 20, true}, {0, 3, false},   {0, 3, false},  {0, 5, false},       {0, 128, false},
        {0, 1, false},    {0, 360, false},   {-1, 1, false},  {-2, 2, false}, {-100, 100, false},  {0, 1, false},
        {0, 1, false},    {1, 96, false},    {1, 96, false},  {1, 96, false}, {0, 1, false},       {0, 2, false},
        {-500, 500, false}, {0, 100, false}, {0, 1, false},
    };
    if (index == 0)
        return {0, 100, false};
    if (index >= 1 && index <= 2 * kGroup)
        return group[(index - 1) % kGroup];
    return {-1, 1, false}; // the steps
}

// The value NumberSteps gives step s (0-based): distinct, positive and exact
// in binary.
float StepValue(int32_t s)
{
    return static_cast<float>(s + 1) / 32.0f;
}

class StepLfo : public PlayingPlugin {
public:
    explicit StepLfo(int32_t block = kBlock) : PlayingPlugin(kStepLfoId, "Step LFO", block, kGroup, RangeOf) {}

    // Step s (0-based) of channel c.
    void SetStep(int32_t c, int32_t s, float value) { Set((c == 0 ? kFirstStepL : kFirstStepR) + s, value); }
    // Steps 0..15 of both channels: StepValue.
    void NumberSteps()
    {
        for (int32_t s = 0; s < 16; ++s) {
            SetStep(0, s, StepValue(s));
            SetStep(1, s, StepValue(s));
        }
    }
};

// Frames at which the value differs from the one before.
std::vector<int64_t> Changes(const std::vector<float>& samples)
{
    std::vector<int64_t> at;
    for (size_t n = 1; n < samples.size(); ++n)
        if (samples[n] != samples[n - 1])
            at.push_back(static_cast<int64_t>(n));
    return at;
}

// Checks that samples hold `expected(k)` over the k-th window of `length`
// samples, away from its edges (a step change may fall one sample either way).
void ExpectSteps(const std::vector<float>& samples, int64_t length, const std::function<float(int64_t)>& expected,
                 const std::string& what)
{
    for (int64_t k = 0; (k + 1) * length <= static_cast<int64_t>(samples.size()); ++k)
        for (int64_t n = k * length + 2; n < (k + 1) * length - 2; n += 97)
            ASSERT_EQ(samples[n], expected(k)) << what << ": window " << k << " sample " << n;
}

TEST(StepLfo, DefaultStepsLastASixteenthLockedToTheSongPosition)
{
    // Defaults: "Step" speed mode, Transport sync, 1/16, 1 beat, steps 1..16.
    StepLfo lfo;
    lfo.NumberSteps();
    // 2.25 quarter notes in: the 10th 16th note of the bar, step index 9.
    lfo.Host().Time().ppqPos = 2.25;
    const Output out = lfo.Run(16 * kSixteenth + 9000);
    ExpectSteps(out.left, kSixteenth, [](int64_t k) { return StepValue(static_cast<int32_t>((9 + k) % 16)); },
                "from 2.25");
    for (int64_t at : Changes(out.left))
        EXPECT_LE(std::abs(at - std::llround(static_cast<double>(at) / kSixteenth) * kSixteenth), 1) << at;
    EXPECT_EQ(Changes(out.left).size(), 17u);
    EXPECT_EQ(out.right, out.left); // R has the same settings and steps

    // Started in the middle of a 16th, the first step is cut short: the grid
    // belongs to the song, not to the start of playback.
    StepLfo mid;
    mid.NumberSteps();
    mid.Host().Time().ppqPos = 0.1; // 0.4 of the first 16th
    const Output midOut = mid.Run(2 * kSixteenth);
    EXPECT_EQ(midOut.left[0], StepValue(0));
    const std::vector<int64_t> changes = Changes(midOut.left);
    ASSERT_FALSE(changes.empty());
    EXPECT_NEAR(static_cast<double>(changes[0]), 0.6 * kSixteenth, 1.0);

    // A host that jumps (a loop back to 3.0) moves the sequence with it at once.
    StepLfo jump;
    jump.NumberSteps();
    const Output jumped = jump.Run(20 * kBlock, 0, [&](int64_t frame) {
        if (frame == 10 * kBlock)
            jump.Host().Time().ppqPos = 3.0;
    });
    EXPECT_EQ(jumped.left[10 * kBlock - 1], StepValue(0));
    EXPECT_EQ(jumped.left[10 * kBlock], StepValue(12));
    EXPECT_EQ(jumped.left[20 * kBlock - 1], StepValue(12));
}

TEST(StepLfo, StepRangeStartLengthAndStartEnd)
{
    const struct {
        const char* what;
        float lengthMode, start, length, end;
        int32_t first, count; // the cycle's steps, 0-based
    } rows[] = {
        {"start 90 length 16 stops at 96", 0, 90, 16, 1, 89, 7},
        {"start 3 length 4", 0, 3, 4, 1, 2, 4},
        {"start 96 length 96", 0, 96, 96, 1, 95, 1},
        {"start/end 3..5", 1, 3, 16, 5, 2, 3},
        {"start/end with end below start", 1, 10, 16, 3, 9, 1},
        {"start/end with end at start", 1, 10, 16, 10, 9, 1},
    };
    for (const auto& row : rows) {
        StepLfo lfo;
        for (int32_t s = 0; s < 96; ++s)
            lfo.SetStep(0, s, static_cast<float>(s) / 128.0f);
        lfo.SetL(kLengthMode, row.lengthMode);
        lfo.SetL(kStartStep, row.start);
        lfo.SetL(kLengthInSteps, row.length);
        lfo.SetL(kEndStep, row.end);
        // Each step lasts a 16th ("Step" speed mode): two cycles.
        const Output out = lfo.Run(2 * row.count * kSixteenth);
        ExpectSteps(out.left, kSixteenth,
                    [&](int64_t k) { return static_cast<float>(row.first + k % row.count) / 128.0f; }, row.what);
    }
}

TEST(StepLfo, UnipolarCutsNegativeStepsAtZeroBeforeScaling)
{
    const struct {
        float rangeMode, step, multiplier, offset, expected;
    } rows[] = {
        {0, -0.5f, 1, 0, 0.0f},      {1, -0.5f, 1, 0, -0.5f},    {0, -0.5f, 2, 0.25f, 0.25f},
        {1, -0.5f, 2, 0.25f, -0.75f}, {0, 0.5f, -1, 0, -0.5f},   {0, -1.0f, -2, -1, -1.0f},
    };
    for (const auto& row : rows) {
        StepLfo lfo;
        lfo.SetL(kRangeMode, row.rangeMode);
        lfo.SetL(kLengthInSteps, 1);
        lfo.SetStep(0, 0, row.step);
        lfo.SetL(kMultiplier, row.multiplier);
        lfo.SetL(kOffset, row.offset);
        const Output out = lfo.Run(kBlock);
        EXPECT_FLOAT_EQ(out.left[0], row.expected) << "range " << row.rangeMode << " step " << row.step;
        EXPECT_FLOAT_EQ(out.left[kBlock - 1], row.expected);
    }
}

TEST(StepLfo, LinearInterpolationGlidesAndWrapsToTheRangeStart)
{
    StepLfo lfo;
    lfo.SetL(kInterpolation, 1);
    lfo.SetL(kStartStep, 5);
    lfo.SetL(kLengthInSteps, 4);
    const float values[] = {0.25f, 0.5f, 0.75f, 1.0f};
    for (int32_t s = 0; s < 4; ++s)
        lfo.SetStep(0, 4 + s, values[s]);
    lfo.SetStep(0, 3, -1.0f); // around the range: never reached
    lfo.SetStep(0, 8, -1.0f);
    lfo.SetStep(0, 0, -1.0f);
    const Output out = lfo.Run(2 * 4 * kSixteenth);
    const struct {
        int64_t frame;
        float expected;
    } points[] = {
        {0, 0.25f},         {3000, 0.375f},      {9000, 0.625f},       {15000, 0.875f},
        {18000, 1.0f},      {19500, 0.8125f},    {21000, 0.625f},      {22500, 0.4375f},
        {24000, 0.25f},     {27000, 0.375f},     {45000, 0.625f},
    };
    for (const auto& p : points)
        EXPECT_NEAR(out.left[p.frame], p.expected, 1e-3f) << p.frame;
    for (float v : out.left)
        ASSERT_GE(v, 0.25f - 1e-3f);
}

TEST(StepLfo, SpeedModesAndRates)
{
    const struct {
        const char* what;
        float sync, speedMode, speed, multiplier, divisor, beats, triplet;
        int64_t samplesPerStep;
    } rows[] = {
        {"free, cycle at 2 Hz over 16 steps", kFree, 0, 2, 1, 4, 1, 0, 1500},
        {"free, 2 steps per second x 10", kFree, 1, 2, 2, 4, 1, 0, 2400},
        {"tempo, step of an 8th triplet", kTempo, 1, 5, 1, 3, 1, 1, 8000},
        {"tempo, step of two 16ths", kTempo, 1, 5, 1, 4, 2, 0, 12000},
        {"tempo, cycle of 4 quarter notes", kTempo, 0, 5, 1, 2, 4, 0, 6000},
        {"transport, cycle of a whole note", kTransport, 0, 5, 1, 0, 1, 0, 6000},
    };
    for (const auto& row : rows) {
        StepLfo lfo;
        lfo.NumberSteps();
        lfo.SetL(kSync, row.sync);
        lfo.SetL(kSpeedMode, row.speedMode);
        lfo.SetL(kSpeed, row.speed);
        lfo.SetL(kSpeedMultiplier, row.multiplier);
        lfo.SetL(kBeatDivisor, row.divisor);
        lfo.SetL(kBeats, row.beats);
        lfo.SetL(kTriplet, row.triplet);
        const int64_t frames = 5 * row.samplesPerStep + 100;
        const Output out = lfo.Run(frames);
        const std::vector<int64_t> changes = Changes(out.left);
        ASSERT_EQ(changes.size(), 5u) << row.what;
        for (size_t k = 0; k < changes.size(); ++k)
            EXPECT_NEAR(static_cast<double>(changes[k]), static_cast<double>((k + 1) * row.samplesPerStep), 1.0)
                << row.what << " change " << k;
        ExpectSteps(out.left, row.samplesPerStep, [](int64_t k) { return StepValue(static_cast<int32_t>(k)); },
                    row.what);
    }
}

TEST(StepLfo, PhaseAndQuadratureShiftTheSequence)
{
    StepLfo lfo;
    lfo.NumberSteps();
    lfo.SetL(kPhase, 45);       // two 16ths ahead of the song
    lfo.SetR(kSync, kQuadrature);
    lfo.SetR(kPhase, 90);       // four steps ahead of L
    lfo.Host().Time().ppqPos = 1.0;
    const Output out = lfo.Run(20 * kSixteenth);
    ExpectSteps(out.left, kSixteenth, [](int64_t k) { return StepValue(static_cast<int32_t>((6 + k) % 16)); }, "L");
    ExpectSteps(out.right, kSixteenth, [](int64_t k) { return StepValue(static_cast<int32_t>((10 + k) % 16)); },
                "R");
}

// R in quadrature takes the phase L's swing gives it at the same sample, so
// the host's block sizes change nothing (but a step change moved by a
// sample where the swing's own rounding lands a step edge differently).
TEST(StepLfo, QuadratureFollowsASwungLeaderWhateverTheBlocks)
{
    auto render = [](int32_t block) {
        StepLfo lfo(block);
        lfo.NumberSteps();
        lfo.SetL(kSwing, 66);
        lfo.SetR(kSync, kQuadrature);
        lfo.SetR(kPhase, 90);
        return lfo.Run(16 * kSixteenth);
    };
    const Output reference = render(4096);
    const size_t edges = Changes(reference.right).size();
    ASSERT_GE(edges, 15u);
    for (const int32_t block : {512, 100, 7}) {
        const Output out = render(block);
        size_t differing = 0;
        for (size_t n = 0; n < out.right.size(); ++n)
            differing += out.right[n] != reference.right[n] ? 1 : 0;
        EXPECT_LE(differing, edges) << "blocks of " << block;
    }
}

TEST(StepLfo, SwingStretchesTheFirstStepOfEachPair)
{
    struct Row {
        float swingType;
        int64_t lengths[4]; // of steps 0..3
    };
    // 66 %: the first part of each pair runs to 0.66 of it. Pairs of 16ths
    // (12000 samples) give 7920 + 4080; pairs of 8ths (24000) stretch steps
    // 0 and 1 to 7920 each and squeeze 2 and 3 to 4080.
    for (const Row& row : {Row{0, {7920, 4080, 7920, 4080}}, Row{1, {7920, 7920, 4080, 4080}}}) {
        StepLfo lfo;
        lfo.NumberSteps();
        lfo.SetL(kSwing, 66);
        lfo.SetL(kSwingType, row.swingType);
        const Output out = lfo.Run(4 * kSixteenth + 100);
        const std::vector<int64_t> changes = Changes(out.left);
        ASSERT_EQ(changes.size(), 4u) << "type " << row.swingType;
        int64_t at = 0;
        for (int k = 0; k < 4; ++k) {
            at += row.lengths[k];
            EXPECT_NEAR(static_cast<double>(changes[k]), static_cast<double>(at), 2.0)
                << "type " << row.swingType << " change " << k;
        }
        EXPECT_EQ(Changes(out.right).size(), 4u);
        EXPECT_NEAR(static_cast<double>(Changes(out.right)[0]), kSixteenth, 1.0); // R has no swing
    }
}

TEST(StepLfo, InputModesAndScalingAndAStoppedTransportPassesTheInput)
{
    const struct {
        bool playing;
        float inputMode, input, expected; // step 0.5, multiplier 2, offset -0.25
    } rows[] = {
        {true, 0, 0.5f, 1.25f}, {true, 1, 0.5f, 0.375f}, {true, 2, 0.5f, 0.875f}, {true, 1, -2.0f, -1.5f},
        {false, 0, 0.3f, 0.3f}, {false, 1, 0.3f, 0.0f},  {false, 2, 0.3f, 0.3f},
    };
    for (const auto& row : rows) {
        StepLfo lfo;
        lfo.SetL(kLengthInSteps, 1);
        lfo.SetStep(0, 0, 0.5f);
        lfo.SetL(kMultiplier, 2);
        lfo.SetL(kOffset, -0.25f);
        lfo.SetL(kInputMode, row.inputMode);
        lfo.Host().Time().playing = row.playing;
        lfo.Host().Time().ppqPos = 1.3;
        const Output out = lfo.Run(kBlock, row.input);
        EXPECT_FLOAT_EQ(out.left[100], row.expected) << "playing " << row.playing << " mode " << row.inputMode;
        EXPECT_FLOAT_EQ(out.left[kBlock - 1], row.expected);
    }
}

TEST(StepLfo, BeatsZeroInEveryTimedModeStaysFiniteAndInsideTheTable)
{
    // Beats 0 gives a cycle of no length; in Transport (the default sync) it
    // must not lock: no position, no rate, the sequence stands.
    for (int sync : {kTempo, kTransport}) {
        for (bool playing : {true, false}) {
            for (float speedMode : {0.0f, 1.0f}) {
                for (float swing : {50.0f, 62.0f}) {
                    for (double ppq : {0.0, 3.7, -2.5, 1e12}) {
                        StepLfo lfo;
                        lfo.NumberSteps();
                        lfo.SetStep(0, 95, -1.0f);
                        lfo.SetL(kSync, static_cast<float>(sync));
                        lfo.SetL(kSpeedMode, speedMode);
                        lfo.SetL(kBeats, 0);
                        lfo.SetL(kTriplet, 1);
                        lfo.SetL(kPhase, 45);
                        lfo.SetL(kInterpolation, swing > 50 ? 1.0f : 0.0f);
                        lfo.SetL(kSwing, swing);
                        lfo.SetR(kSync, kQuadrature); // follows L's (zero) rate
                        lfo.Host().Time().playing = playing;
                        lfo.Host().Time().ppqPos = ppq;
                        const Output out = lfo.Run(3000);
                        const std::string what = "sync " + std::to_string(sync) + " playing " +
                                                 std::to_string(playing) + " ppq " + std::to_string(ppq);
                        ASSERT_TRUE(AllFinite(out.left)) << what;
                        ASSERT_TRUE(AllFinite(out.right)) << what;
                        // The phase stays where it was: 0 for a new instance.
                        const float expected = sync == kTransport && !playing ? 0.0f : StepValue(0);
                        for (size_t n = 0; n < out.left.size(); n += 11)
                            ASSERT_EQ(out.left[n], expected) << what << " sample " << n;
                    }
                }
            }
        }
    }
}

TEST(StepLfo, BrokenOrMissingHostTempoMeansNoTempo)
{
    struct Row {
        const char* what;
        double tempo;
        bool answerTime;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Row rows[] = {
        {"NaN tempo", nan, true},    {"negative tempo", -120, true}, {"zero tempo", 0, true},
        {"infinite tempo", inf, true}, {"no time info", 120, false},
    };
    for (const Row& row : rows) {
        for (int sync : {kTempo, kTransport}) {
            StepLfo lfo;
            lfo.NumberSteps();
            lfo.SetL(kSync, static_cast<float>(sync));
            lfo.SetL(kSwing, 70);
            lfo.Host().Time().tempo = row.tempo;
            lfo.Host().Time().answerTime = row.answerTime;
            // The song position stands at the second 16th (our host would
            // move it backwards at a negative tempo).
            const Output out = lfo.Run(2 * kSixteenth, 0, [&](int64_t) { lfo.Host().Time().ppqPos = 0.3; });
            ASSERT_TRUE(AllFinite(out.left)) << row.what;
            // No rate: Tempo stands at its first step; Transport stands where
            // the position puts it (at 0 without time information).
            const float expected = sync == kTransport && row.answerTime ? StepValue(1) : StepValue(0);
            for (size_t n = 0; n < out.left.size(); n += 13)
                ASSERT_EQ(out.left[n], expected) << row.what << " sync " << sync << " sample " << n;
        }
    }
    // The same instance runs again as soon as the host gives a tempo: from
    // the block at 6144 on, one step later.
    StepLfo lfo;
    lfo.NumberSteps();
    lfo.SetL(kSync, kTempo);
    lfo.Host().Time().tempo = nan;
    const Output out = lfo.Run(3 * kSixteenth, 0, [&](int64_t frame) {
        if (frame >= kSixteenth)
            lfo.Host().Time().tempo = 120;
    });
    const std::vector<int64_t> changes = Changes(out.left);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_NEAR(static_cast<double>(changes[0]), 12 * kBlock + kSixteenth, 1.0);
}

// Both channels' clocks step side by side when the left output holds none of
// the right channel's buffers and the right output none of the left input;
// a block cut into more swing runs than that path keeps falls back to each
// channel alone. Either way the bits are those of each channel alone, which
// a right output laid over the left input always gets.
TEST(StepLfo, ChannelsSideBySideGiveTheBitsOfEachAlone)
{
    auto render = [](int32_t block, bool overLeftInput) {
        StepLfo lfo(block);
        lfo.NumberSteps();
        lfo.Host().Time().tempo = 960; // pairs of 16ths last 1500 samples
        lfo.SetL(kSwing, 66);
        lfo.SetR(kSwing, 58);
        lfo.SetR(kSwingType, 1);
        lfo.SetR(kSync, kFree);
        lfo.SetR(kSpeed, 3.7f);
        lfo.SetL(kInterpolation, 1);
        lfo.SetBoth(kSmoothing, 2);
        Output out;
        std::vector<float> left(block), right(block), inLeft(block), inRight(block);
        for (int64_t done = 0; done < 4 * 8192; done += block) {
            std::fill(inLeft.begin(), inLeft.end(), 0.0f);
            std::fill(inRight.begin(), inRight.end(), 0.0f);
            float* inputs[2] = {inLeft.data(), inRight.data()};
            float* outputs[2] = {left.data(), overLeftInput ? inLeft.data() : right.data()};
            lfo.Host().ProcessReplacing(inputs, outputs, block);
            out.left.insert(out.left.end(), left.begin(), left.end());
            out.right.insert(out.right.end(), outputs[1], outputs[1] + block);
        }
        return out;
    };
    for (const int32_t block : {7, 64, 100, 1000, 8192}) {
        const Output alone = render(block, true);
        const Output sideBySide = render(block, false);
        ASSERT_GE(Changes(alone.left).size(), 20u) << "blocks of " << block;
        for (size_t n = 0; n < alone.left.size(); ++n) {
            ASSERT_EQ(std::bit_cast<uint32_t>(sideBySide.left[n]), std::bit_cast<uint32_t>(alone.left[n]))
                << "blocks of " << block << ", left sample " << n;
            ASSERT_EQ(std::bit_cast<uint32_t>(sideBySide.right[n]), std::bit_cast<uint32_t>(alone.right[n]))
                << "blocks of " << block << ", right sample " << n;
        }
    }
}

} // namespace
