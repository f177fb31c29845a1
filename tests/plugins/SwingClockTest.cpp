// The swing warp and the tempo clock shared by the clocked plug-ins.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "plugins/common/ClockedOscillator.h"
#include "plugins/common/Swing.h"
#include "plugins/common/TempoClock.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Swing, WarpsAndUnwarpsWithinEachPeriod)
{
    const struct {
        double t, p, s, warped;
    } rows[] = {
        {6, 12, 0.6, 7.2},   {12, 12, 0.6, 12},   {0, 12, 0.6, 0},     {30, 12, 0.6, 31.2},
        {9, 12, 0.6, 9.6},   {0.25, 1, 0.75, 0.375}, {0.75, 1, 0.25, 0.625},
        // Before 0 a position belongs to the period below it, as after 0.
        {-6, 12, 0.6, -4.8}, {-18, 12, 0.6, -16.8}, {-12, 12, 0.6, -12},  {-0.5, 1, 0.6, -0.4},
    };
    for (const auto& row : rows) {
        EXPECT_NEAR(SwingWarp(row.t, row.p, row.s), row.warped, 1e-12) << row.t << " " << row.p << " " << row.s;
        EXPECT_NEAR(SwingUnwarp(row.warped, row.p, row.s), row.t, 1e-12) << row.t << " " << row.p << " " << row.s;
    }
}

TEST(Swing, HalfIsStraightAndTheMappingIsMonotonic)
{
    for (double s : {0.05, 0.3, 0.5, 0.6, 0.95}) {
        double last = -kInf;
        for (double t = -30; t <= 30; t += 0.0625) {
            const double warped = SwingWarp(t, 12, s);
            ASSERT_GT(warped, last) << "s " << s << " t " << t;
            ASSERT_NEAR(SwingUnwarp(warped, 12, s), t, 1e-9) << "s " << s << " t " << t;
            if (s == 0.5) {
                ASSERT_NEAR(warped, t, 1e-12);
                ASSERT_NEAR(SwingUnwarp(t, 12, s), t, 1e-12);
            }
            last = warped;
        }
    }
}

TEST(Swing, BadPeriodsLeaveThePositionAlone)
{
    for (double p : {0.0, -12.0, kNaN, kInf}) {
        EXPECT_EQ(SwingWarp(5, p, 0.6), 5) << p;
        EXPECT_EQ(SwingUnwarp(5, p, 0.6), 5) << p;
    }
    EXPECT_TRUE(std::isnan(SwingWarp(kNaN, 12, 0.6)));
}

// Positions that walk on by a step: t0 + step x i for i < count, with two
// settings (a, b) of the rule they are given to.
struct Walk {
    const char* name;
    double a, b, t0, step;
    int count;
};

// A keeper made afresh for each walk gives the bits of the plain rule at
// every position: kept(keeper, t, a, b) against plain(t, a, b).
template <class Keeper, class Kept, class Plain>
void ExpectWalksKeepTheBits(const std::vector<Walk>& walks, Kept kept, Plain plain)
{
    for (const Walk& walk : walks) {
        Keeper keeper{};
        for (int i = 0; i < walk.count; ++i) {
            const double t = walk.t0 + walk.step * i;
            ASSERT_EQ(std::bit_cast<uint64_t>(kept(keeper, t, walk.a, walk.b)),
                      std::bit_cast<uint64_t>(plain(t, walk.a, walk.b)))
                << walk.name << " at " << i << " t " << t;
        }
    }
}

// One keeper through a rising and falling walk whose settings mostly stay at
// the first of `as` and `bs` and now and then take one of the others, and
// whose position now and then is one of `odd`; with and without flushing of
// denormals. Counts the positions whose bits differ from the plain rule's.
template <class Keeper, class Kept, class Plain>
void ExpectChangesKeepTheBits(const std::vector<double>& as, const std::vector<double>& bs,
                              const std::vector<double>& odd, Kept kept, Plain plain)
{
    const uint32_t savedMode = _mm_getcsr();
    for (const uint32_t flush : {0u, 0x8040u}) {
        _mm_setcsr((savedMode & ~0x8040u) | flush);
        Keeper keeper{};
        std::mt19937 random(7);
        double t = 3.0;
        int mismatches = 0;
        for (int i = 0; i < 20000; ++i) {
            const double a = i % 500 < 480 ? as[0] : as[random() % as.size()];
            const double b = i % 700 < 690 ? bs[0] : bs[random() % bs.size()];
            t += std::uniform_real_distribution<double>(-0.05, 0.3)(random);
            volatile double opaque = i % 1000 == 999 ? odd[random() % odd.size()] : t;
            const double at = opaque; // computed at run time, in this mode
            const double mine = kept(keeper, at, a, b), theirs = plain(at, a, b);
            const bool same =
                std::bit_cast<uint64_t>(mine) == std::bit_cast<uint64_t>(theirs) || (mine != mine && theirs != theirs);
            if (!same && ++mismatches <= 5)
                ADD_FAILURE() << "flush " << flush << " at " << i << " t " << at << " a " << a << " b " << b;
        }
    }
    _mm_setcsr(savedMode);
}

// A kept unwarper gives SwingUnwarp's bits for every position in turn:
// walks that stay in one period, cross periods, jump back, start before 0,
// change the period or swing, and meet odd values.
TEST(Swing, KeptUnwarperGivesTheBitsOfSwingUnwarp)
{
    // Walks with a period and a swing.
    ExpectWalksKeepTheBits<SwingUnwarper>(
        {
            {"pulses of 24 per quarter, blocks of 16", 12, 0.6, 3.0, 24 * 16 * 2 / 48000.0, 3000},
            {"period not a binary fraction", 4.8, 0.3, 1000.1, 0.0123, 3000},
            {"long song", 12, 0.6, 9.0e9, 0.0078125, 2000},
            {"pre-roll into 0", 12, 0.6, -2.0, 0.01, 400},
            {"onto period starts", 0.5, 0.75, 0.0, 0.0625, 200},
            {"steps of more than a period", 1.5, 0.6, 7.0, 2.3, 200},
            {"backwards", 12, 0.6, 100.0, -0.37, 400},
            {"large steps near 2^53", 3, 0.6, 0x1p52, 1.0, 100},
        },
        [](SwingUnwarper& u, double t, double p, double sw) { return u.Unwarp(t, p, sw); }, SwingUnwarp);
    // One unwarper through changes of period and swing and odd values.
    ExpectChangesKeepTheBits<SwingUnwarper>(
        {12, 6, 4.8, 0.5, 1e-300, 0, -12, kNaN, kInf}, {0.6, 0.3, 0.95, 0, 1, kNaN},
        {kNaN, kInf, -kInf, 0.0, -0.0, 1e308, 1e-310, -1e-300},
        [](SwingUnwarper& u, double t, double p, double sw) { return u.Unwarp(t, p, sw); }, SwingUnwarp);
}

VstTimeInfo TimeInfo(double tempo, double ppq, int32_t flags)
{
    VstTimeInfo info{};
    info.tempo = tempo;
    info.ppqPos = ppq;
    info.flags = flags;
    return info;
}

TEST(TempoClock, HostTimeTakesOnlyValidAndUsableValues)
{
    const int32_t all = kVstTempoValid | kVstPpqPosValid | kVstTransportPlaying;
    const struct {
        double tempo, ppq;
        int32_t flags;
        double wantTempo, wantPpq;
        bool wantPlaying;
    } rows[] = {
        {120, 3.5, all, 120, 3.5, true},
        {120, 3.5, kVstTempoValid | kVstPpqPosValid, 120, 3.5, false},
        {120, 3.5, kVstPpqPosValid | kVstTransportPlaying, 0, 3.5, true},
        {120, 3.5, kVstTempoValid, 120, 0, false},
        {-120, -2, all, 0, -2, true},
        {kNaN, kNaN, all, 0, 0, true},
        {kInf, -kInf, all, 0, 0, true},
        {0, 1, all, 0, 1, true},
    };
    for (const auto& row : rows) {
        const VstTimeInfo info = TimeInfo(row.tempo, row.ppq, row.flags);
        const HostTime time = HostTimeFrom(&info);
        EXPECT_EQ(time.tempo, row.wantTempo) << row.tempo;
        EXPECT_EQ(time.ppq, row.wantPpq) << row.ppq;
        EXPECT_EQ(time.playing, row.wantPlaying) << row.flags;
    }
    const HostTime none = HostTimeFrom(nullptr);
    EXPECT_EQ(none.tempo, 0);
    EXPECT_EQ(none.ppq, 0);
    EXPECT_TRUE(none.playing);
}

TEST(TempoClock, RatesAndLocks)
{
    EXPECT_DOUBLE_EQ(TempoRate(120, BeatsPerCycle(1, 6, true)), 48);
    EXPECT_DOUBLE_EQ(TempoRate(120, BeatsPerCycle(1, 2, true)) / TempoRate(120, BeatsPerCycle(1, 2, false)), 1.5);
    EXPECT_EQ(TempoRate(120, BeatsPerCycle(0, 2, false)), 0);
    EXPECT_EQ(TempoRate(0, 1), 0);
    EXPECT_EQ(TempoRate(kNaN, 1), 0);
    EXPECT_FALSE(CanLockToPosition(BeatsPerCycle(0, 3, true)));
    EXPECT_FALSE(CanLockToPosition(BeatsPerCycle(static_cast<float>(kNaN), 3, true)));
    EXPECT_DOUBLE_EQ(LockedPhase(5.3, 1, 0.25), 0.55);
    EXPECT_DOUBLE_EQ(LockedPhase(-0.75, 1, 0), 0.25);
    EXPECT_DOUBLE_EQ(LockedPhase(5.3, 0, 0.25), 0.25);
    EXPECT_EQ(SpeedMultiplier(9), 100);
    EXPECT_EQ(SpeedMultiplier(static_cast<float>(kNaN)), 1);
    EXPECT_EQ(WrapPhase(-1e-20), 0);
    EXPECT_EQ(WrapPhase(kInf), 0);
}

// Runs the swing clock over `frames` in pieces of `piece` samples; returns
// the scale of each sample.
std::vector<double> Scales(SwingClock clock, int32_t frames, int32_t piece)
{
    std::vector<double> scales;
    for (int32_t done = 0; done < frames; done += piece)
        clock.Run(std::min(piece, frames - done), [&](int32_t first, int32_t count, double scale) {
            EXPECT_EQ(first + done, static_cast<int32_t>(scales.size()));
            scales.insert(scales.end(), static_cast<size_t>(count), scale);
        });
    return scales;
}

TEST(TempoClock, SwingClockSplitsPairsAndKeepsItsPlaceAcrossPieces)
{
    HostTime time;
    time.tempo = 120;
    time.ppq = 0;
    SwingClock clock;
    clock.Setup(time, 60, 1, 48000); // pairs of 8ths: 24000 samples, split at 14400
    ASSERT_TRUE(clock.Active());
    EXPECT_EQ(clock.samplesPerPair, 24000);
    const std::vector<double> whole = Scales(clock, 48000, 48000);
    ASSERT_EQ(whole.size(), 48000u);
    for (int n = 0; n < 48000; ++n)
        ASSERT_EQ(whole[n], n % 24000 < 14400 ? 0.5 / 0.6 : 0.5 / 0.4) << n;
    // Cut into pieces the scales are the same sample for sample.
    for (int32_t piece : {1, 7, 100, 512})
        EXPECT_EQ(Scales(clock, 48000, piece), whole) << piece;
    // Also from a position that is no whole number of samples into its pair.
    time.ppq = 0.123456789;
    clock.Setup(time, 63, 0, 44100);
    const std::vector<double> offGrid = Scales(clock, 44100, 44100);
    for (int32_t piece : {1, 13, 256})
        EXPECT_EQ(Scales(clock, 44100, piece), offGrid) << piece;
    time.ppq = 0;

    // Off at 50, when stopped and without tempo or sample rate.
    clock.Setup(time, 50.05f, 1, 48000);
    EXPECT_FALSE(clock.Active());
    time.playing = false;
    clock.Setup(time, 60, 1, 48000);
    EXPECT_FALSE(clock.Active());
    time.playing = true;
    clock.Setup(time, 60, 1, 0);
    EXPECT_FALSE(clock.Active());
    time.tempo = 0;
    clock.Setup(time, 60, 1, 48000);
    EXPECT_FALSE(clock.Active());
    EXPECT_EQ(Scales(clock, 100, 100), std::vector<double>(100, 1.0));

    // Before 0: the pair below, second half (-0.3 of a pair of 16ths is 0.4 into it).
    time.tempo = 120;
    time.ppq = -0.3;
    clock.Setup(time, 30, 0, 48000);
    EXPECT_NEAR(clock.SwingPhase(), 0.4, 1e-12);
    EXPECT_EQ(clock.swingPoint, 0.3);
    EXPECT_NEAR(clock.Unswing(-0.3), SwingUnwarp(-0.3, 0.5, 0.3), 1e-12);

    // A huge tempo still makes progress, one sample a run.
    time.tempo = 1e300;
    clock.Setup(time, 70, 0, 48000);
    EXPECT_EQ(Scales(clock, 64, 64).size(), 64u);
}

// The clock's own remainders (cycles and pairs of a power of two quarter
// notes, by multiplications) give the bits of fmod and the division, in
// and out of flush-to-zero and denormals-are-zero (set while a block is
// processed).
TEST(TempoClock, LockAndUnswingKeepTheBitsOfTheRemainderAndDivision)
{
    auto same = [](double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); };
    std::mt19937_64 random(27);
    std::vector<double> positions = {0.0, -0.0, 1e-310, 1e-300, 0.25, 0.5, 1.0, 3.0, 0x1p52, 0x1p53 + 2, 0x1p60,
                                     0x1p900, 0x1p901, 1e300, -0.75, -3.0, -1e-310, kNaN, kInf};
    for (int i = 0; i < 4000; ++i) {
        const double mantissa = std::uniform_real_distribution<double>(1.0, 2.0)(random);
        const double position = std::ldexp(mantissa, std::uniform_int_distribution<int>(-60, 40)(random));
        positions.push_back(i % 8 == 7 ? -position : position);
        // Whole pulses and sixteenths, and a hair either side of them.
        const double grid = std::floor(position * 16.0) / 16.0;
        for (double p : {grid, std::nextafter(grid, 0.0), std::nextafter(grid, kInf)})
            positions.push_back(p);
    }
    const double cycles[] = {0.25, 0.5, 1.0, 4.0, 16.0, 512.0, 0x1p-60, 0x1p60, 0x1p-61, 0x1p61,
                             1.0 / 3.0, 2.0 / 3.0, 3.0, 6.0, 0.1};
    const double offsets[] = {0.0, 0.25, -0.5, 0.999};
    // Rounding to nearest only: the build assumes it (no -frounding-math), and
    // so do the values the compiler works out.
    const struct {
        const char* name;
        uint32_t flush; // MXCSR bits
    } modes[] = {{"plain", 0}, {"FTZ and DAZ", 0x8040}, {"FTZ", 0x8000}, {"DAZ", 0x0040}};
    const uint32_t savedMode = _mm_getcsr();
    for (const auto& mode : modes) {
        _mm_setcsr((_mm_getcsr() & ~0x8040u) | mode.flush);
        int mismatches = 0;
        auto check = [&](bool ok, const char* what, double position, double length) {
            if (!ok && ++mismatches <= 5)
                ADD_FAILURE() << mode.name << ": " << what << " at " << position << " of " << length;
        };
        for (const double position : positions) {
            volatile double opaque = position; // computed at run time, in this mode
            const double t = opaque;
            for (const double cycle : cycles)
                for (const double offset : offsets)
                    check(same(LockedPhase(t, cycle, offset),
                               std::isfinite(t) ? WrapPhase(std::fmod(t, cycle) / cycle + offset) : WrapPhase(offset)),
                          "LockedPhase", t, cycle);
            for (const float type : {0.0f, 1.0f})
                for (const float percent : {5.0f, 30.0f, 62.0f, 95.0f}) {
                    SwingClock clock;
                    HostTime time;
                    time.tempo = 120;
                    clock.Setup(time, percent, type, 48000);
                    check(same(clock.Unswing(t), SwingUnwarp(t, clock.pair, clock.swingPoint)), "Unswing", t,
                          clock.pair);
                }
        }
        EXPECT_EQ(mismatches, 0) << mode.name;
    }
    _mm_setcsr(savedMode);
}

// A kept cycle place gives LockedPhase's bits for every position in turn:
// walks at a block's step, onto cycle starts, backwards, with steps of more
// than a cycle, and one place through changes of cycle, offset and odd
// positions, with and without flushing of denormals.
TEST(TempoClock, KeptCyclePlaceGivesTheBitsOfLockedPhase)
{
    // Walks with a cycle and an offset.
    ExpectWalksKeepTheBits<CyclePlace>(
        {
            {"a bar at 120 BPM, blocks of 16", 4, 0, 3.0, 16 * 2 / 48000.0, 4000},
            {"a triplet cycle", 2.0 / 3.0, 0.25, 100.1, 0.0123, 3000},
            {"a cycle of 4.8", 4.8, 0.999, 1000.1, 0.0371, 3000},
            {"long song", 0.25, 0.5, 9.0e9, 0.0078125, 2000},
            {"pre-roll into 0", 1, 0, -0.5, 0.01, 200},
            {"onto cycle starts", 0.5, 0, 0.0, 0.0625, 200},
            {"steps of more than a cycle", 1.5, 0, 7.0, 2.3, 200},
            {"backwards", 4, 0.5, 100.0, -0.37, 400},
            {"near 2^53", 2, 0, 0x1p52, 1.0, 100},
        },
        [](CyclePlace& place, double t, double cycle, double offset) { return place.Phase(t, cycle, offset); },
        LockedPhase);
    // One place through changes of cycle and offset and odd positions.
    ExpectChangesKeepTheBits<CyclePlace>(
        {4, 2, 1.0 / 3.0, 0x1p-60, 0, -4, kNaN, kInf}, {0.25, 0.75, 0.999},
        {kNaN, kInf, -kInf, 0.0, -0.0, 1e308, 1e-310, -1e-300},
        [](CyclePlace& place, double t, double cycle, double offset) { return place.Phase(t, cycle, offset); },
        LockedPhase);
}

// What the swing clock keeps from one block to the next (the pair's length,
// the split point) follows every change of tempo, sample rate and settings:
// each block's set-up equals that of a clock made afresh.
TEST(TempoClock, SwingClockSetUpAgainFollowsEveryChange)
{
    const struct {
        double tempo, ppq, sampleRate;
        float percent, type;
        bool playing;
    } blocks[] = {
        {120, 0, 48000, 60, 0, true},      {120, 0.01, 48000, 60, 0, true},   {121, 0.02, 48000, 60, 0, true},
        {121, 0.03, 44100, 60, 0, true},   {121, 0.04, 44100, 70, 0, true},   {121, 0.05, 44100, 70, 1, true},
        {121, 0.06, 44100, 50, 1, true},   {121, 0.07, 44100, 70, 1, true},   {121, 0.08, 44100, 70, 1, false},
        {121, 0.09, 44100, 70, 1, true},   {1e-300, 0.1, 44100, 70, 1, true}, {121, 0.11, 44100, 70, 1, true},
        {121, 0.12, 44100, static_cast<float>(kNaN), 1, true},                {121, 0.13, 44100, 99, 0, true},
        {90, -0.14, 96000, 99, 0, true},
    };
    SwingClock kept;
    for (const auto& b : blocks) {
        HostTime time;
        time.tempo = b.tempo;
        time.ppq = b.ppq;
        time.playing = b.playing;
        kept.Setup(time, b.percent, b.type, b.sampleRate);
        SwingClock fresh;
        fresh.Setup(time, b.percent, b.type, b.sampleRate);
        ASSERT_EQ(kept.Active(), fresh.Active()) << b.tempo << " " << b.sampleRate << " " << b.percent;
        if (!fresh.Active())
            continue;
        EXPECT_EQ(kept.swingPoint, fresh.swingPoint) << b.ppq;
        EXPECT_EQ(kept.samplesPerPair, fresh.samplesPerPair) << b.ppq;
        EXPECT_EQ(kept.pairPosition, fresh.pairPosition) << b.ppq;
        EXPECT_EQ(kept.Unswing(b.ppq), fresh.Unswing(b.ppq)) << b.ppq;
        // And the set-up is the rule's.
        const double pair = b.type >= 1.0f ? 1.0 : 0.5;
        const double samples = pair * 60.0 * b.sampleRate / b.tempo;
        EXPECT_EQ(fresh.samplesPerPair, samples) << b.ppq;
        EXPECT_EQ(fresh.pairPosition, WrapPhase(b.ppq / pair) * samples) << b.ppq;
    }
}

// A swing clock set up block after block keeps the whole part of its
// position in pairs and its place in the pair for Unswing: every block's
// place and unswung position have the bits of a fresh clock's place and of
// SwingUnwarp, through walks and through changes of swing, type and odd
// positions. a: swing percent, b: swing type.
TEST(TempoClock, KeptPairPlaceGivesTheBitsOfTheRules)
{
    auto setUp = [](SwingClock& clock, double t, double percent, double type) {
        HostTime time;
        time.tempo = 120;
        time.ppq = t;
        clock.Setup(time, static_cast<float>(percent), static_cast<float>(type), 48000);
    };
    auto place = [&](SwingClock& clock, double t, double percent, double type) {
        setUp(clock, t, percent, type);
        return clock.pairPosition;
    };
    auto freshPlace = [&](double t, double percent, double type) {
        SwingClock fresh;
        return place(fresh, t, percent, type);
    };
    auto unswung = [&](SwingClock& clock, double t, double percent, double type) {
        setUp(clock, t, percent, type);
        return clock.Unswing(t);
    };
    auto rule = [&](double t, double percent, double type) {
        SwingClock fresh;
        setUp(fresh, t, percent, type);
        return SwingUnwarp(t, fresh.pair, fresh.swingPoint);
    };
    const std::vector<Walk> walks = {
        {"sixteenths at 120 BPM, blocks of 16", 62, 0, 0.0, 16 * 2 / 48000.0, 6000},
        {"eighths", 62, 1, 3.0, 0.0123, 3000},
        {"long song", 70, 0, 9.0e9, 0.0078125, 2000},
        {"pre-roll into 0", 62, 0, -1.0, 0.01, 300},
        {"onto pair starts", 30, 0, 0.0, 0.0625, 200},
        {"backwards", 62, 1, 50.0, -0.37, 300},
    };
    ExpectWalksKeepTheBits<SwingClock>(walks, place, freshPlace);
    ExpectWalksKeepTheBits<SwingClock>(walks, unswung, rule);
    const std::vector<double> percents = {62, 30, 95, 5}, types = {0, 1};
    const std::vector<double> odd = {kNaN, kInf, -kInf, 0.0, -0.0, 1e308, 1e-310, -1e-300};
    ExpectChangesKeepTheBits<SwingClock>(percents, types, odd, place, freshPlace);
    ExpectChangesKeepTheBits<SwingClock>(percents, types, odd, unswung, rule);
}

// An oscillator channel keeps its tempo rate and increment while tempo,
// cycle and sample rate stay: each block's values equal a fresh channel's
// and the rules'.
TEST(TempoClock, KeptRatesFollowEveryChange)
{
    const struct {
        double tempo, beats, sampleRate;
    } blocks[] = {
        {0, 0, 0},          {120, 1, 48000},    {120, 1, 48000},   {121, 1, 48000},    {121, 0.25, 48000},
        {121, 0.25, 96000}, {-0.0, 0.25, 96000}, {121, 0, 96000},  {kNaN, 1, 44100},   {kNaN, 1, 44100},
        {1e300, 1e-300, 44100}, {90, 4, 0},     {90, 4, -0.0},     {90, 4, 44100},
    };
    ClockedChannel kept{};
    for (const auto& b : blocks) {
        ClockedChannel fresh{};
        const double rate = kept.TempoRateOf(b.tempo, b.beats);
        EXPECT_EQ(std::bit_cast<uint64_t>(rate), std::bit_cast<uint64_t>(fresh.TempoRateOf(b.tempo, b.beats)));
        EXPECT_EQ(std::bit_cast<uint64_t>(rate), std::bit_cast<uint64_t>(TempoRate(b.tempo, b.beats)));
        // The last rate as the next block's first: a new sample rate alone.
        for (const double hz : {rate, b.tempo, -1.0, rate}) {
            kept.SetRate(hz, b.sampleRate);
            fresh.SetRate(hz, b.sampleRate);
            EXPECT_EQ(std::bit_cast<uint64_t>(kept.increment), std::bit_cast<uint64_t>(fresh.increment))
                << b.tempo << " " << b.sampleRate << " " << hz;
            const double usable = hz >= 0.0 && std::isfinite(hz) ? hz : 0.0;
            EXPECT_EQ(kept.increment, b.sampleRate > 0.0 ? usable / b.sampleRate : 0.0) << hz;
        }
    }
}

} // namespace
