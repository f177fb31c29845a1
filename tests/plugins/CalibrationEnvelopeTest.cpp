// The pieces the Voice Controller is made of, on their own: the calibration
// table (lookup, built-in tables, its state record), the five-segment
// envelope (segment shapes, stages, retriggering, long times) and the
// period detector of the auto-calibration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "plugins/common/Calibration.h"
#include "plugins/common/Envelope.h"
#include "plugins/voicecontroller/AutoCalibration.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

CalibrationTable Table(float (*value)(int))
{
    CalibrationTable t;
    t.Initialize();
    for (int i = 0; i < CalibrationTableLength; ++i)
        t.SetValue(i, value(i));
    return t;
}

TEST(CalibrationTable, StartsEmptyWithEachEntryNamingItsNote)
{
    CalibrationTable t;
    t.Initialize();
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(t.entries[i].note, i < 128 ? static_cast<float>(i) : 0.0f);
        EXPECT_EQ(t.entries[i].value, 0.0f);
        EXPECT_EQ(t.valid[i], 0);
    }
    for (float p : {0.0f, 60.3f, 127.0f, 1e9f})
        EXPECT_EQ(t.Lookup(p), 0.0f);
}

TEST(CalibrationTable, LookupInterpolatesAndHoldsToTheEnds)
{
    const CalibrationTable t = Table([](int i) { return static_cast<float>(i * i) * 0.001f; });
    struct Case {
        float pitch;
        float expected;
    };
    const Case cases[] = {
        {60.0f, 3.6f},
        {60.5f, 0.5f * (3.6f + 3.721f)},
        {60.25f, 0.75f * 3.6f + 0.25f * 3.721f},
        {0.0f, 0.0f},
        {-5.0f, 0.0f},
        {-kInf, 0.0f},
        {kNaN, 0.0f},
        {126.5f, 0.5f * (15.876f + 16.129f)},
        {127.0f, 16.129f},
        {127.9f, 16.129f},
        {500.0f, 16.129f},
        {kInf, 16.129f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(t.Lookup(c.pitch), c.expected, 1e-5f) << c.pitch;
}

// A table written through its address may hold anything: the lookup gives
// 0 where it would give a NaN or an infinity, and whole notes never reach
// past their own entry.
TEST(CalibrationTable, LookupNeverPassesOnWhatIsNotANumber)
{
    CalibrationTable t = Table([](int i) { return static_cast<float>(i) * 0.01f; });
    t.entries[61].value = kNaN;
    t.entries[128].value = kInf;
    EXPECT_EQ(t.Lookup(60.5f), 0.0f);
    EXPECT_EQ(t.Lookup(61.0f), 0.0f);
    EXPECT_NEAR(t.Lookup(60.0f), 0.6f, 1e-6f);
    EXPECT_NEAR(t.Lookup(127.0f), 1.27f, 1e-6f);
    EXPECT_EQ(t.Sanitize(), 2);
    EXPECT_EQ(t.Value(61), 0.0f);
    EXPECT_EQ(t.Value(128), 0.0f);
    EXPECT_FALSE(t.IsValid(61));
}

TEST(CalibrationTable, BuiltInBrinkAndDunmoreTables)
{
    CalibrationTable t;
    t.Initialize();
    t.BuildBrink();
    EXPECT_EQ(t.Value(48), 0.0f);
    EXPECT_TRUE(t.IsValid(48));
    EXPECT_NEAR(t.Value(111), 63.0 / 63.75, 1e-6);
    EXPECT_TRUE(t.IsValid(111));
    EXPECT_FALSE(t.IsValid(112));
    EXPECT_EQ(t.Value(112), 0.0f);
    EXPECT_FALSE(t.IsValid(47));
    EXPECT_NEAR(t.Value(47), 63.0 / 63.75, 1e-6);
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(t.IsValid(i), i >= 48 && i <= 111) << i;
        EXPECT_EQ(t.entries[i].note, i < 128 ? static_cast<float>(i) : 0.0f) << i;
    }

    t.BuildDunmore();
    EXPECT_EQ(t.Value(60), 0.0f);
    EXPECT_NEAR(t.Value(0), -0.93773, 1e-5);
    EXPECT_NEAR(t.Value(123), 0.98462, 1e-5);
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(t.IsValid(i), i <= 123) << i;
        const int wrapped = i <= 123 ? i - 60 : i - 188;
        EXPECT_NEAR(t.Value(i), wrapped * 0.015628817, 1e-6) << i;
    }
}

TEST(CalibrationTable, RecordRoundTrip)
{
    CalibrationTable a;
    a.Initialize();
    a.BuildDunmore();
    a.SetValid(7, false);
    uint8_t record[CalibrationTable::kRecordSize];
    ASSERT_EQ(sizeof record, 653u);
    a.WriteRecord(record);
    CalibrationTable b;
    b.Initialize();
    ASSERT_TRUE(b.ReadRecord(record, sizeof record));
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(b.Value(i), a.Value(i));
        EXPECT_EQ(b.IsValid(i), a.IsValid(i));
    }
    EXPECT_FALSE(b.ReadRecord(record, 652)); // one byte short of its count
    EXPECT_FALSE(b.ReadRecord(nullptr, 653));
}

// ---- envelope ----------------------------------------------------------------

std::vector<float> RunEnvelope(Envelope& env, int32_t frames)
{
    std::vector<float> out(static_cast<size_t>(frames));
    env.Run(out.data(), frames);
    return out;
}

TEST(Envelope, SegmentsMoveByTheirDistanceInTheirShape)
{
    struct Case {
        const char* what;
        double from, to;
        float shape;
        double atHalf; // the value half-way through
    };
    const Case cases[] = {
        {"rising line", 0.2, 0.8, 1.0f, 0.5},
        {"rising parabola starts flat", 0.0, 1.0, 0.0f, 0.25},
        {"falling parabola starts steep", 1.0, 0.0, 0.0f, 0.25},
        {"falling line", 0.5, -0.5, 1.0f, 0.0},
        {"half shape", 0.0, 1.0, 0.5f, 0.375},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnvelopeSegment s;
        Envelope::SetSegment(s, 0.01, c.shape, c.from, c.to, 48000); // 480 samples
        EXPECT_EQ(s.count, 480);
        double v = c.from, inc = s.increment;
        for (int k = 1; k <= 480; ++k) {
            v += inc;
            inc += s.incrementChange;
            if (k == 240) {
                EXPECT_NEAR(v, c.atHalf, 1e-9);
            }
        }
        EXPECT_NEAR(v, c.to, 1e-9);
    }
    // Less than one sample is one sample; a time that is not a number too.
    EnvelopeSegment s;
    Envelope::SetSegment(s, 0.0, 0.0f, 0.0, 1.0, 48000);
    EXPECT_EQ(s.count, 1);
    EXPECT_NEAR(s.increment, 1.0, 1e-12);
    Envelope::SetSegment(s, std::numeric_limits<double>::quiet_NaN(), 0.0f, 0.0, 1.0, 48000);
    EXPECT_EQ(s.count, 1);
    Envelope::SetSegment(s, 1e12, 0.0f, 0.0, 1.0, 48000);
    EXPECT_EQ(s.count, INT32_MAX);
}

EnvelopeSettings Settings(float a1, float a2, float a3, float r1, float r2, float levelA1 = 0, float levelA2 = 1,
                          float sustain = 0.5f, float levelR1 = 0, float depth = 0, bool reset = false,
                          float multiplierIndex = 1)
{
    float group[kEnvParameterCount] = {a1, a2, a3, r1, r2, 1, 1, 1, 1, 1, levelA1, levelA2, sustain, levelR1};
    return EnvelopeSettings::FromGroup(group, depth, reset, multiplierIndex);
}

TEST(Envelope, StagesRunDownFromAttackThroughSustainToIdle)
{
    // Times that are whole numbers of samples in single precision.
    const double rate = 1000;
    Envelope env;
    const EnvelopeSettings s = Settings(0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.4f, 1.0f, 0.5f, 0.2f);
    env.Start(s, 1.0f, rate);
    EXPECT_EQ(env.CurrentStage(), Envelope::kA1);
    std::vector<float> out = RunEnvelope(env, 125);
    EXPECT_NEAR(out[124], 0.4f, 1e-6);
    EXPECT_EQ(env.CurrentStage(), Envelope::kA2);
    out = RunEnvelope(env, 250);
    EXPECT_NEAR(out[249], 1.0f, 1e-6);
    out = RunEnvelope(env, 375);
    EXPECT_NEAR(out[374], 0.5f, 1e-6);
    EXPECT_EQ(env.CurrentStage(), Envelope::kSustain);
    out = RunEnvelope(env, 1000);
    EXPECT_EQ(env.CurrentStage(), Envelope::kSustain);
    env.FollowSustain(0.7f); // the knob moved while the note is held
    EXPECT_NEAR(env.Value(), 0.7f, 1e-6);
    env.FollowSustain(0.5f);
    env.Release(s, rate);
    EXPECT_EQ(env.CurrentStage(), Envelope::kR1);
    out = RunEnvelope(env, 500);
    EXPECT_NEAR(out[499], 0.2f, 1e-6);
    out = RunEnvelope(env, 625);
    EXPECT_NEAR(out[624], 0.0f, 1e-6);
    EXPECT_EQ(env.CurrentStage(), Envelope::kIdle);
    out = RunEnvelope(env, 100);
    EXPECT_NEAR(out[99], 0.0f, 1e-6);

    // Released before the sustain: Level R1 scales by the value reached
    // against the sustain level (0.2 x 0.4 / 0.5).
    Envelope early;
    early.Start(s, 1.0f, rate);
    RunEnvelope(early, 125);
    early.Release(s, rate);
    out = RunEnvelope(early, 500);
    EXPECT_NEAR(out[499], 0.16f, 1e-6);
}

TEST(Envelope, RetriggerStartsFromTheCurrentValueWithTheFirstTimeScaled)
{
    const double rate = 48000;
    Envelope env;
    const EnvelopeSettings s = Settings(0.1f, 0.1f, 0.1f, 0.1f, 0, 1.0f, 1.0f, 0.5f);
    env.Start(s, 1.0f, rate);
    RunEnvelope(env, 48000);
    ASSERT_EQ(env.CurrentStage(), Envelope::kSustain);
    env.Start(s, 1.0f, rate);
    // From 0.5 to Level A1 = 1: half the distance, half of 0.1 s (a
    // sample either way: 0.1 s is no whole number of float samples).
    EXPECT_NEAR(env.Segment(Envelope::kA1).count, 2400, 1);

    // No A1 time: A1 is skipped at the current value and A2 shrinks.
    const EnvelopeSettings noA1 = Settings(0, 0.1f, 0.1f, 0.1f, 0, 0.0f, 1.0f, 0.5f);
    Envelope skip;
    skip.Start(noA1, 1.0f, rate);
    RunEnvelope(skip, 48000);
    skip.Start(noA1, 1.0f, rate);
    EXPECT_EQ(skip.Segment(Envelope::kA1).count, 1);
    EXPECT_NEAR(skip.Segment(Envelope::kA2).count, 2400, 1);

    // Reset To Zero: from 0 again, whole times.
    const EnvelopeSettings reset = Settings(0.1f, 0.1f, 0.1f, 0.1f, 0, 1.0f, 1.0f, 0.5f, 0, 0, true);
    Envelope fromZero;
    fromZero.Start(reset, 1.0f, rate);
    RunEnvelope(fromZero, 48000);
    fromZero.Start(reset, 1.0f, rate);
    EXPECT_EQ(fromZero.Value(), 0.0f);
    EXPECT_EQ(fromZero.Segment(Envelope::kA1).count, 4800);
}

TEST(Envelope, VelocityDepthAndMultiplier)
{
    struct Case {
        float depth, velocity, scale;
    };
    const Case cases[] = {{0, 0.3f, 1}, {-1, 1, 0}, {1, 0, 0}, {1, 0.5f, 0.5f}, {-0.5f, 1, 0.5f}, {0.5f, 0, 0.5f}};
    for (const Case& c : cases) {
        Envelope env;
        env.Start(Settings(0, 0.25f, 0, 0, 0, 0, 1, 0.5f, 0, c.depth), c.velocity, 1000);
        EXPECT_NEAR(env.VelocityScale(), c.scale, 1e-6) << c.depth << " " << c.velocity;
        const std::vector<float> out = RunEnvelope(env, 300);
        EXPECT_NEAR(out[299], 0.5f * c.scale, 1e-6);
    }
    const float multipliers[] = {0.1f, 1, 10, 100};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(EnvelopeSettings::Multiplier(static_cast<float>(i)), multipliers[i], 1e-5f * multipliers[i]);
        Envelope env;
        env.Start(Settings(0, 0.1f, 0, 0, 0, 0, 1, 1, 0, 0, false, static_cast<float>(i)), 1, 1000);
        EXPECT_EQ(env.Segment(Envelope::kA2).count, static_cast<int32_t>(std::lround(100 * multipliers[i])));
    }
}

// Minutes-long segments: every increment is far below a float's resolution
// at the level it adds to, and the segment still lands on its target.
TEST(Envelope, LongSegmentsLandOnTheirTarget)
{
    const double rate = 48000;
    Envelope env;
    // A2 of 5 s x 100 = 500 s to 1.0, a straight line.
    float group[kEnvParameterCount] = {0, 5, 0, 0, 0, 1, 1, 1, 1, 1, 0, 1, 1, 0};
    env.Start(EnvelopeSettings::FromGroup(group, 0, false, 3), 1, rate);
    std::vector<float> out(48000);
    RunEnvelope(env, 1); // A1
    for (int second = 0; second < 500; ++second) {
        env.Run(out.data(), 48000);
        if (second == 249) {
            EXPECT_NEAR(out.back(), 0.5f, 1e-5f);
        }
    }
    EXPECT_NEAR(env.Value(), 1.0f, 1e-5f);
    RunEnvelope(env, 1); // A3 of no time
    EXPECT_EQ(env.CurrentStage(), Envelope::kSustain);
}

TEST(Envelope, IndicatorShowsThePositionAlongTheTimeAxis)
{
    const double rate = 1000;
    const EnvelopeSettings s = Settings(0.1f, 0.2f, 0.3f, 0.4f, 0.5f);
    Envelope env;
    float position = -1, level = -1;
    env.Indicator(s, rate, &position, &level);
    EXPECT_EQ(position, 0.0f);
    env.Start(s, 1, rate);
    RunEnvelope(env, 100 + 50); // A1 done, half of A2 left
    env.Indicator(s, rate, &position, &level);
    const double total = 1 + 0.1 + 0.2 + 0.3 + 0.4 + 0.5;
    EXPECT_NEAR(position, (0.1 + 0.2 - 0.15) / total, 1e-6);
    EXPECT_NEAR(level, env.Value(), 1e-7);
    RunEnvelope(env, 150 + 300);
    env.Indicator(s, rate, &position, &level);
    EXPECT_NEAR(position, 0.6 / total, 1e-6); // sustain
    env.Release(s, rate);
    RunEnvelope(env, 400 + 100);
    env.Indicator(s, rate, &position, &level);
    EXPECT_NEAR(position, (0.6 + 0.4 + 0.5 - 0.4 + 1) / total, 1e-6); // R2 with 0.4 s left
}

// ---- period detector ---------------------------------------------------------

TEST(PeriodDetector, FindsPeriodsBetweenRisingCrossingsAcrossFeeds)
{
    PeriodDetector d;
    d.Reset();
    const double period = 97.3;
    std::vector<float> x(1000);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(std::sin(2 * std::numbers::pi * (static_cast<double>(i) + 0.3) / period));
    for (size_t at = 0; at < x.size(); at += 37)
        d.Feed(x.data() + at, static_cast<int32_t>(std::min<size_t>(37, x.size() - at)));
    ASSERT_TRUE(d.Full());
    EXPECT_NEAR(d.Median(), period, 0.02);

    // Samples that are not numbers make no crossing and no NaN period.
    PeriodDetector broken;
    broken.Reset();
    const float bad[] = {-1, kInf, -kInf, 1, -1, kNaN, 1, -kInf, 0.5f, -0.5f, 0.5f, -0.5f, 0.5f};
    broken.Feed(bad, 13);
    for (int i = 0; i < broken.count; ++i)
        EXPECT_TRUE(std::isfinite(broken.periods[i]));
}

// Three envelopes stepped side by side give each one's bits as run alone:
// segments of different lengths and shapes ending inside a block, on its
// last sample or exactly at a block's start, sustain and idle stretches,
// notes that start and release between blocks, and one-sample segments.
// The indicator's rule written out directly, every sum and division in
// turn, against the one made from the settings' sums.
void IndicatorByRule(const Envelope& env, const EnvelopeSettings& s, double rate, float* position, float* level)
{
    const int32_t stage = env.CurrentStage();
    *position = 0.0f;
    *level = 0.0f;
    if (stage == Envelope::kIdle)
        return;
    const int32_t timeStages[5] = {Envelope::kA1, Envelope::kA2, Envelope::kA3, Envelope::kR1, Envelope::kR2};
    double total = 1.0, passed = 0.0;
    for (int32_t k = 0; k < 5; ++k) {
        total += s.times[k];
        if (timeStages[k] >= stage)
            passed += s.times[k];
    }
    if (stage != env.SustainStage()) {
        const int32_t count = env.Segment(stage).count;
        passed -= (count > 0 ? static_cast<double>(count) : 0.0) / rate / s.multiplier;
    }
    if (stage == Envelope::kR1 || stage == Envelope::kR2)
        passed += 1.0;
    *position = static_cast<float>(passed / total);
    *level = env.Value();
}

TEST(Envelope, IndicatorFromSumsGivesTheBitsOfTheRule)
{
    struct Case {
        const char* name;
        EnvelopeSettings settings;
        double rate;
    };
    const Case cases[] = {
        {"multiplier 1", Settings(0.013f, 0.021f, 0.005f, 0.017f, 0.009f, 0.4f), 48000},
        {"multiplier 0.1", Settings(0.13f, 0.21f, 0.05f, 0.17f, 0.09f, 0.4f, 1, 0.5f, 0, 0, false, 0), 44100},
        {"multiplier between steps", Settings(0.013f, 0.021f, 0.005f, 0.017f, 0.009f, 0.4f, 1, 0.5f, 0.2f, 0, false, 1.37f), 1000},
        {"multiplier 100", Settings(0.0003f, 0.0002f, 0.0001f, 0.0004f, 0.0002f, 0.4f, 1, 0.5f, 0, 0, false, 3), 96000},
        {"no A1 and no R1 time", Settings(0, 0.008f, 0.016f, 0, 0.03f, 0.9f, 0.1f, 0.7f, 0.3f), 1000},
        {"no times at all", Settings(0, 0, 0, 0, 0), 48000},
    };
    const int32_t blocks[] = {16, 7, 640, 1, 13, 2000, 8, 5, 4000, 17, 3, 640, 9, 10000, 64, 20000, 50000};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Envelope::IndicatorSums sums(c.settings);
        Envelope env;
        int32_t stagesSeen = 0;
        for (int32_t b = 0; b < 3 * static_cast<int32_t>(std::size(blocks)); ++b) {
            const int32_t round = b / static_cast<int32_t>(std::size(blocks));
            if (b % static_cast<int32_t>(std::size(blocks)) == 0)
                env.Start(c.settings, round == 1 ? 0.5f : 1.0f, c.rate);
            stagesSeen |= 1 << env.CurrentStage();
            if (b % static_cast<int32_t>(std::size(blocks)) == 9)
                env.Release(c.settings, c.rate);
            float expected[2], fromSums[2], fromSettings[2];
            IndicatorByRule(env, c.settings, c.rate, &expected[0], &expected[1]);
            env.Indicator(sums, c.rate, &fromSums[0], &fromSums[1]);
            env.Indicator(c.settings, c.rate, &fromSettings[0], &fromSettings[1]);
            EXPECT_EQ(memcmp(fromSums, expected, sizeof expected), 0) << "block " << b << " stage " << env.CurrentStage();
            EXPECT_EQ(memcmp(fromSettings, expected, sizeof expected), 0) << "block " << b;
            RunEnvelope(env, blocks[b % static_cast<int32_t>(std::size(blocks))]);
        }
        EXPECT_TRUE(stagesSeen & (1 << Envelope::kSustain));
        EXPECT_TRUE(stagesSeen & (1 << Envelope::kIdle));
    }
}

TEST(Envelope, RunTogetherGivesTheBitsOfEachAlone)
{
    const double rate = 1000;
    struct Event {
        int32_t block; // before this block
        int32_t envelope;
        bool start; // else release
        float velocity;
    };
    const EnvelopeSettings settings[3] = {
        Settings(0.013f, 0.021f, 0.005f, 0.017f, 0.009f, 0.4f, 1.0f, 0.5f, 0.2f),
        [] {
            EnvelopeSettings s = Settings(0.0f, 0.008f, 0.016f, 0.001f, 0.03f, 0.9f, 0.1f, 0.7f, 0.3f, 0.5f);
            s.shapes[1] = 0.0f;
            s.shapes[3] = 0.25f;
            return s;
        }(),
        [] {
            EnvelopeSettings s = Settings(0.002f, 0.064f, 0.001f, 0.064f, 0.001f, 1.0f, 0.0f, 0.0f, 0.5f, -0.5f, true);
            s.shapes[0] = 0.0f;
            s.shapes[4] = 0.5f;
            return s;
        }(),
    };
    const Event events[] = {
        {0, 0, true, 1.0f},  {0, 2, true, 0.5f},  {1, 1, true, 0.8f}, {3, 0, false, 0},   {4, 2, false, 0},
        {5, 1, false, 0},    {6, 0, true, 0.3f},  {6, 1, true, 1.0f}, {8, 2, true, 1.0f}, {9, 0, false, 0},
        {9, 1, false, 0},    {10, 2, false, 0},   {12, 1, true, 0.6f},
    };
    const int32_t blocks[] = {16, 7, 32, 1, 13, 64, 8, 5, 40, 17, 3, 64, 9, 100, 64};
    Envelope together[3], alone[3];
    size_t next = 0;
    for (int32_t b = 0; b < static_cast<int32_t>(std::size(blocks)); ++b) {
        for (; next < std::size(events) && events[next].block == b; ++next) {
            const Event& e = events[next];
            for (Envelope* env : {&together[e.envelope], &alone[e.envelope]}) {
                if (e.start)
                    env->Start(settings[e.envelope], e.velocity, rate);
                else
                    env->Release(settings[e.envelope], rate);
            }
        }
        const int32_t n = blocks[b];
        std::vector<float> a(static_cast<size_t>(n)), b1(a), b2(a);
        float* const outs[3] = {a.data(), b1.data(), b2.data()};
        Envelope::RunTogether(together, outs, n);
        for (int32_t k = 0; k < 3; ++k) {
            SCOPED_TRACE(testing::Message() << "block " << b << ", envelope " << k);
            const std::vector<float> expected = RunEnvelope(alone[k], n);
            EXPECT_EQ(memcmp(outs[k], expected.data(), sizeof(float) * static_cast<size_t>(n)), 0);
            EXPECT_EQ(together[k].CurrentStage(), alone[k].CurrentStage());
            EXPECT_EQ(together[k].Value(), alone[k].Value());
        }
    }
}

} // namespace

// A flat stretch (sustain, idle) is filled after its first steps; the output
// must keep the bits of stepping every sample, the signs of zeros included.
TEST(Envelope, FlatStretchesGiveTheBitsOfStepByStep)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float sustain;  // followed while the note is held
        float velocity; // 0 with depth 1 scales the sustain to 0
        float held;     // the held stretch's samples: the value plus a flat step of +0
    } rows[] = {{0.5f, 1.0f, 0.5f},  {-0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f},
                {0.25f, 0.0f, 0.0f}, {nan, 1.0f, nan},    {-0.5f, 1.0f, -0.5f}};
    const EnvelopeSettings s = Settings(0.001f, 0.001f, 0.001f, 0.001f, 0.001f, 1.0f, 1.0f, 0.5f, 0.2f, 1.0f);
    auto render = [&](const auto& row, int32_t block) {
        Envelope env;
        std::vector<float> out(2000);
        auto run = [&](size_t from, size_t to) {
            for (size_t i = from; i < to; i += static_cast<size_t>(block))
                env.Run(out.data() + i, static_cast<int32_t>(std::min(to - i, static_cast<size_t>(block))));
        };
        run(0, 100); // idle
        env.Start(s, row.velocity, 1000);
        run(100, 400);
        env.FollowSustain(row.sustain);
        run(400, 1000);
        env.Release(s, 1000);
        run(1000, 2000);
        return out;
    };
    for (const auto& row : rows) {
        const std::vector<float> stepped = render(row, 1);
        for (const int32_t block : {3, 64, 1000}) {
            const std::vector<float> filled = render(row, block);
            EXPECT_EQ(memcmp(stepped.data(), filled.data(), stepped.size() * sizeof(float)), 0)
                << "sustain " << row.sustain << ", velocity " << row.velocity << ", blocks of " << block;
        }
        for (size_t i = 400; i < 1000; ++i)
            ASSERT_EQ(memcmp(&stepped[i], &row.held, sizeof(float)), 0) << "sustain " << row.sustain << " at " << i;
    }
}
