// The LFO plug-in through the built module and our host: waveforms, rates,
// the transport lock, the DIN sync program, swing, note resets, quadrature,
// input modes, and hosts that give broken or no time information.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "host/Wav.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::host::MidiMessage;
using corvane::host::Plugin;
using corvane::test::AllFinite;
using corvane::test::PlayingPlugin;
using corvane::test::Range;
using Output = corvane::test::Stereo;

constexpr int32_t kLfoId = vst::FourCC("QZs2");
constexpr double kRate = 48000;
constexpr int32_t kBlock = 512;
constexpr int32_t kGroup = 17;

// Parameter indices of the L group (R = + 17) and of the tail.
enum : int32_t {
    kSpeed = 1, kSpeedMultiplier, kSync, kBeatDivisor, kBeats, kTriplet, kPhase, kOffset, kSine, kTriangle,
    kSquare, kSaw, kRandom, kNoise, kPulseWidth, kAsymmetry, kInputMode,
    kSmoothingL = 35, kSwingL = 37, kSwingTypeL = 38, kResetByNoteL = 41,
};
enum Sync { kFree = 0, kTempo = 1, kTransport = 2, kQuadrature = 3, kStartStop = 4, kTransport2 = 5 };

Range RangeOf(int32_t index)
{
    static const Range group[kGroup] = {
        {0.05f, 20, true}, {0, 3, false},  {0, 5, false},  {0, 7, false},    {0, 128, false},  {0, 1, false},
        {0, 360, false},   {-1, 1, false}, {-1, 1, false}, {-1, 1, false},   {-1, 1, false},   {-1, 1, false},
        {0, 1, false},     {0, 1, false},  {0, 100, false}, {-100, 100, false}, {0, 2, false},
    };
    if (index == 0)
        return {0, 100, false};
    if (index >= 1 && index <= 2 * kGroup)
        return group[(index - 1) % kGroup];
    if (index == 35 || index == 36)
        return {-500, 500, false};
    if (index == 37 || index == 39)
        return {0, 100, false};
    return {0, 1, false}; // swing types, note resets
}

double Frac(double x) { return x - std::floor(x); }

// The swung grid's inverse, written out here as the reference: within each
// pair p (from the floor of t / p), the swung middle s goes back to 0.5.
double Unswing(double t, double p, double s)
{
    const double start = std::floor(t / p) * p;
    const double f = (t - start) / p;
    const double g = f < s ? 0.5 / s * f : 1.0 - 0.5 / (1.0 - s) * (1.0 - f);
    return g * p + start;
}

float Saw(double phase) { return static_cast<float>(2.0 * Frac(phase) - 1.0); }

// Near a whole number a saw jumps.
double NearWrap(double x) { return std::fabs(x - std::round(x)); }

class Lfo : public PlayingPlugin {
public:
    explicit Lfo(int32_t block = kBlock) : PlayingPlugin(kLfoId, "LFO", block, kGroup, RangeOf) {}
};

TEST(Lfo, SecondProgramIsDinSyncWithDefaultsForTheRest)
{
    Lfo lfo;
    Plugin& p = lfo.Host();
    p.SetProgram(1);
    EXPECT_EQ(p.ProgramName(), "DIN sync (24)");
    EXPECT_EQ(p.ParameterDisplay(kSync), "Transport");
    EXPECT_EQ(p.ParameterDisplay(kSync + kGroup), "Start/Stop");
    // The preset lists no value for the two note resets: their defaults.
    EXPECT_EQ(p.ParameterDisplay(kResetByNoteL), "Off");
    EXPECT_EQ(p.ParameterDisplay(kResetByNoteL + 1), "Off");
    p.SetProgram(0);
    EXPECT_EQ(p.ParameterDisplay(kSync), "Free");
}

TEST(Lfo, DefaultsPassTheInputAndInputModesCombine)
{
    {
        Lfo lfo;
        const Output out = lfo.Run(1000, 0.3f);
        for (size_t i = 0; i < out.left.size(); ++i) {
            ASSERT_EQ(out.left[i], 0.3f) << i;
            ASSERT_EQ(out.right[i], 0.3f) << i;
        }
    }
    struct Row {
        float mode;
        float expected; // input 0.5, offset 0.25, no waveform
    };
    const Row rows[] = {{0, 0.75f}, {1, 0.125f}, {2, 0.625f}};
    for (const Row& row : rows) {
        Lfo lfo;
        lfo.SetBoth(kOffset, 0.25f);
        lfo.SetL(kInputMode, row.mode);
        lfo.SetR(kInputMode, 2 - row.mode);
        const Output out = lfo.Run(600, 0.5f);
        EXPECT_NEAR(out.left[0], row.expected, 1e-6f) << "mode " << row.mode;
        EXPECT_NEAR(out.left[599], row.expected, 1e-6f) << "mode " << row.mode;
        EXPECT_NEAR(out.right[0], rows[2 - static_cast<int>(row.mode)].expected, 1e-6f) << "mode " << row.mode;
    }
}

TEST(Lfo, OneHertzSinePeaksAQuarterInAndAsymmetryMovesThePeak)
{
    Lfo lfo;
    lfo.Host().SetParameter(kSpeed, 0.5f); // the middle of 0.05..20 Hz on its log scale: 1 Hz
    lfo.SetL(kSine, 1);
    lfo.SetR(kSine, 1);
    lfo.Host().SetParameter(kSpeed + kGroup, 0.5f);
    lfo.SetR(kAsymmetry, 50);
    const Output out = lfo.Run(48000);
    for (size_t n = 0; n < out.left.size(); ++n)
        ASSERT_NEAR(out.left[n], std::sin(2 * M_PI * n / kRate), 1e-4) << n;
    EXPECT_GT(out.left[12000], 1.0f - 1e-5f);
    EXPECT_LT(out.left[11990], out.left[12000]);
    EXPECT_LT(out.left[12010], out.left[12000]);
    EXPECT_NEAR(out.left[36000], -1.0f, 1e-5f);

    // Asymmetry 50: the warped phase reaches 0.5 at 0.75, so the peak (warped
    // 0.25) lies three eighths into the cycle.
    EXPECT_GT(out.right[18000], 1.0f - 1e-5f);
    EXPECT_LT(out.right[17990], out.right[18000]);
    EXPECT_LT(out.right[18010], out.right[18000]);
    EXPECT_NEAR(out.right[12000], std::sin(2 * M_PI / 6), 1e-4); // warped 1/6 where the plain sine peaks
    EXPECT_NEAR(out.right[36000], 0.0f, 1e-4f);                  // the warped middle
    EXPECT_LT(out.right[42000], -1.0f + 1e-5f);                  // 0.75 + 0.25 x 0.25
}

TEST(Lfo, WaveformsFollowTheWarpedPhase)
{
    struct Row {
        int32_t wave;
        float pulseWidth;
        std::function<double(double)> shape; // of the warped phase
    };
    const Row rows[] = {
        {kTriangle, 50, [](double w) { return std::min(4 * w - 1, 3 - 4 * w); }},
        {kSaw, 50, [](double w) { return 2 * w - 1; }},
        {kSquare, 50, [](double w) { return w > 0.5 ? -1.0 : 1.0; }},
        {kSquare, 20, [](double w) { return w > 0.2 ? -1.0 : 1.0; }},
    };
    for (const Row& row : rows) {
        Lfo lfo;
        lfo.Host().SetParameter(kSpeed, 0.5f);
        lfo.SetL(row.wave, 1);
        lfo.SetL(kPulseWidth, row.pulseWidth);
        lfo.SetL(kAsymmetry, -60); // a = 0.2
        const Output out = lfo.Run(48000);
        for (int n = 0; n < 48000; n += 7) {
            const double p = n / kRate;
            const double w = p >= 0.2 ? p * 0.625 + 0.375 : p * 2.5;
            if (std::fabs(w - 0.5) < 1e-4 || std::fabs(w - row.pulseWidth * 0.01) < 1e-4)
                continue;
            ASSERT_NEAR(out.left[n], row.shape(w), 2e-4) << "wave " << row.wave << " at " << n;
        }
    }
}

// Unwraps a saw's output into the phase it has run through, in cycles.
double PhaseTravelled(const std::vector<float>& saw, size_t from, size_t to)
{
    double wraps = 0;
    for (size_t n = from + 1; n <= to; ++n)
        if (saw[n] < saw[n - 1] - 1.0f)
            wraps += 1;
    return wraps + (saw[to] - saw[from]) / 2.0;
}

TEST(Lfo, TempoModeRateFollowsBeatsDivisorAndTriplet)
{
    struct Row {
        float beats, divisor;
        bool triplet;
        double hertz; // at 120 BPM: 2 quarter notes per second over the cycle's length
    };
    const Row rows[] = {
        {4, 2, false, 0.5}, {1, 2, true, 3}, {3, 3, false, 120.0 / 90.0}, {128, 0, false, 120.0 / (512 * 60)},
        {5, 7, false, 120.0 / (5 * 4.0 / 128 * 60)},
    };
    for (const Row& row : rows) {
        Lfo lfo;
        lfo.SetL(kSync, kTempo);
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, row.beats);
        lfo.SetL(kBeatDivisor, row.divisor);
        lfo.SetL(kTriplet, row.triplet ? 1 : 0);
        const Output out = lfo.Run(48001);
        const double hz = PhaseTravelled(out.left, 0, 48000);
        EXPECT_NEAR(hz, row.hertz, row.hertz * 1e-4 + 1e-6)
            << "beats " << row.beats << " divisor " << row.divisor << " triplet " << row.triplet;
    }
}

TEST(Lfo, TransportLocksThePhaseToTheSongPosition)
{
    struct Row {
        int sync;
        float beats, phaseDegrees;
        double ppq;
    };
    const Row rows[] = {
        {kTransport, 1, 90, 5.3},  {kTransport, 2, 0, 5.3}, {kTransport2, 1, 0, -0.75},
        {kTransport, 3, 270, 1e6 + 0.4},
    };
    for (const Row& row : rows) {
        Lfo lfo(480);
        lfo.SetL(kSync, static_cast<float>(row.sync));
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, row.beats);
        lfo.SetL(kPhase, row.phaseDegrees);
        lfo.Host().Time().ppqPos = row.ppq;
        const double beatsPerCycle = row.beats; // divisor 1/4: 4 x beats / 4
        const double offset = row.phaseDegrees / 360.0;
        // A locate between blocks: the next block follows the new position.
        const Output out = lfo.Run(4800, 0, [&](int64_t frame) {
            if (frame == 2400)
                lfo.Host().Time().ppqPos = 17.1;
        });
        for (int n = 0; n < 4800; ++n) {
            const double ppq = n < 2400 ? row.ppq + n / 24000.0 : 17.1 + (n - 2400) / 24000.0;
            const double phase = std::fmod(ppq, beatsPerCycle) / beatsPerCycle + offset;
            if (NearWrap(phase) < 1e-4)
                continue;
            ASSERT_NEAR(out.left[n], Saw(phase), 2e-4) << "ppq " << row.ppq << " sample " << n;
        }
    }
}

TEST(Lfo, StoppedTransportRunsFreeInTransportAndStandsInTransport2)
{
    Lfo lfo;
    lfo.SetL(kSync, kTransport);
    lfo.SetR(kSync, kTransport2);
    lfo.SetBoth(kSaw, 1);
    lfo.SetBoth(kBeats, 1);
    lfo.Host().Time().playing = false;
    lfo.Host().Time().ppqPos = 5.3;
    const Output out = lfo.Run(4800);
    // Transport: the phase keeps its place (0 for a new instance) and runs at
    // the tempo rate, 2 cycles per second.
    for (int n = 0; n < 4800; ++n)
        ASSERT_NEAR(out.left[n], Saw(n * 2.0 / kRate), 1e-4) << n;
    // Transport2: stands at the song position.
    for (int n = 0; n < 4800; ++n)
        ASSERT_NEAR(out.right[n], Saw(0.3), 1e-5) << n;
}

TEST(Lfo, DinSyncGives24PulsesPerQuarterNoteAndARunGate)
{
    struct Row {
        double ppq;
        int32_t block;
    };
    for (const Row& row : {Row{0, 512}, Row{3.0 + 0.5 / 24, 333}, Row{-2.01, 64}}) {
        Lfo lfo(row.block);
        lfo.Host().SetProgram(1);
        lfo.Host().Time().ppqPos = row.ppq;
        lfo.Host().Time().tempo = 120;
        const Output out = lfo.Run(24000); // one quarter note
        int rising = 0;
        for (int n = 0; n < 24000; ++n) {
            ASSERT_TRUE(out.left[n] == 0.0f || out.left[n] == 1.0f) << out.left[n];
            ASSERT_EQ(out.right[n], 1.0f) << "running, sample " << n;
            if (n > 0 && out.left[n] > out.left[n - 1])
                ++rising;
            const double cycle = Frac((row.ppq + n / 24000.0) * 24);
            if (std::fabs(cycle - 0.5) < 1e-3 || NearWrap(cycle) < 1e-3)
                continue;
            ASSERT_EQ(out.left[n], cycle <= 0.5 ? 1.0f : 0.0f) << "ppq " << row.ppq << " sample " << n;
        }
        EXPECT_NEAR(rising, 24, 1);

        lfo.Host().Time().playing = false;
        const Output stopped = lfo.Run(1000);
        for (float r : stopped.right)
            ASSERT_EQ(r, 0.0f);
        lfo.Host().Time().playing = true;
        const Output again = lfo.Run(1000);
        for (float r : again.right)
            ASSERT_EQ(r, 1.0f);
    }
}

TEST(Lfo, SwingWarpsTheOscillatorWithinEachPair)
{
    struct Row {
        int sync;
        float swingType; // 0: pairs of 16ths (half a quarter), 1: pairs of 8ths
        double ppq;
        int32_t block;
    };
    const Row rows[] = {
        {kTempo, 1, 0, 512},     {kTransport, 1, 0, 512},  {kTempo, 0, 0, 300},
        {kTransport, 1, -1.3, 256}, {kTransport2, 0, 7.77, 1000},
    };
    for (const Row& row : rows) {
        Lfo lfo(row.block);
        lfo.SetL(kSync, static_cast<float>(row.sync));
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, 1); // one cycle per quarter note
        lfo.Set(kSwingL, 60);
        lfo.Set(kSwingTypeL, row.swingType);
        lfo.Host().Time().ppqPos = row.ppq;
        const double pair = row.swingType >= 1 ? 1.0 : 0.5;
        const Output out = lfo.Run(96000); // four quarter notes at 120 BPM
        for (int n = 0; n < 96000; ++n) {
            const double ppq = row.ppq + n / 24000.0;
            // Tempo mode runs from phase 0 at its start position, the locked
            // modes from the song position itself.
            const double phase = row.sync == kTempo ? Unswing(ppq, pair, 0.6) - Unswing(row.ppq, pair, 0.6)
                                                    : Unswing(ppq, pair, 0.6);
            if (NearWrap(phase) < 1e-3)
                continue;
            ASSERT_NEAR(out.left[n], Saw(phase), 5e-4) << "sync " << row.sync << " ppq " << row.ppq << " sample " << n;
        }
        if (row.ppq == 0 && row.swingType == 1) {
            // The swung middle: half the cycle is done at 0.6 of the pair.
            EXPECT_NEAR(out.left[14400], 0.0f, 2e-4f);
            EXPECT_NEAR(out.left[12000], Saw(0.5 / 0.6 * 0.5), 2e-4f);
        }
        // Right has no swing: straight.
        EXPECT_EQ(out.right[1000], out.right[0]);
    }
}

TEST(Lfo, MidiEventsSplittingABlockDoNotMoveTheSwing)
{
    auto render = [](bool withEvents) {
        Lfo lfo(1024);
        lfo.SetL(kSync, kTempo);
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, 1);
        lfo.Set(kSwingL, 70);
        lfo.Set(kSwingTypeL, 0);
        return lfo.Run(48000, 0, [&](int64_t) {
            if (!withEvents)
                return;
            // 63 controller messages per block (all the event queue holds),
            // each cutting the block.
            std::vector<MidiMessage> midi;
            for (int i = 0; i < 63; ++i)
                midi.push_back(MidiMessage{i * 16 + 3, {0xB0, 1, static_cast<uint8_t>(i)}});
            lfo.Host().SendMidi(midi);
        });
    };
    const Output plain = render(false);
    const Output split = render(true);
    for (size_t n = 0; n < plain.left.size(); ++n)
        ASSERT_NEAR(split.left[n], plain.left[n], 1e-4f) << n;
}

TEST(Lfo, SwingIsOffAtFiftyOrWhenStopped)
{
    struct Row {
        float swing;
        bool playing;
    };
    for (const Row& row : {Row{50.05f, true}, Row{60, false}, Row{50, true}}) {
        Lfo lfo;
        lfo.SetL(kSync, kTempo);
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, 1);
        lfo.Host().SetParameter(kSwingL, row.swing / 100);
        lfo.Set(kSwingTypeL, 1);
        lfo.Host().Time().playing = row.playing;
        const Output out = lfo.Run(24000);
        for (int n = 0; n < 24000; n += 11)
            ASSERT_NEAR(out.left[n], Saw(n / 24000.0), 2e-4) << "swing " << row.swing << " sample " << n;
    }
}

TEST(Lfo, BeatsZeroLocksToNothingAndStaysFinite)
{
    for (int sync : {kTempo, kTransport, kTransport2}) {
        for (bool playing : {true, false}) {
            for (float swing : {50.0f, 62.0f}) {
                Lfo lfo;
                lfo.SetL(kSync, static_cast<float>(sync));
                lfo.SetBoth(kSaw, 1);
                lfo.SetL(kBeats, 0);
                lfo.SetL(kPhase, 45);
                lfo.Set(kSwingL, swing);
                lfo.Host().Time().playing = playing;
                lfo.Host().Time().ppqPos = 3.7;
                const Output out = lfo.Run(5000);
                // No rate and the phase kept where it was (0 for a new instance).
                for (size_t n = 0; n < out.left.size(); ++n)
                    ASSERT_EQ(out.left[n], -1.0f) << "sync " << sync << " playing " << playing << " n " << n;
            }
        }
    }
}

TEST(Lfo, NoteResetsThePhaseAtItsSample)
{
    Lfo lfo;
    lfo.Host().SetParameter(kSpeed, 0.5f);
    lfo.Host().SetParameter(kSpeed + kGroup, 0.5f);
    lfo.SetBoth(kSaw, 1);
    lfo.Set(kResetByNoteL, 1);
    lfo.SetL(kPhase, 90);
    lfo.SetR(kPhase, 90); // R does not reset by note
    const Output out = lfo.Run(2048, 0, [&](int64_t frame) {
        if (frame == 512) {
            lfo.Host().SendMidi({MidiMessage{100, {0x90, 60, 100}}});
        } else if (frame == 1536) {
            // A note-off and a note-on of velocity 0 reset nothing.
            lfo.Host().SendMidi({MidiMessage{10, {0x80, 60, 0}}, MidiMessage{20, {0x90, 61, 0}}});
        }
    });
    for (int n = 0; n < 612; ++n)
        ASSERT_NEAR(out.left[n], Saw(n / kRate), 1e-5) << n;
    for (int n = 612; n < 2048; ++n)
        ASSERT_NEAR(out.left[n], Saw(0.25 + (n - 612) / kRate), 1e-5) << n;
    for (int n = 0; n < 2048; ++n)
        ASSERT_NEAR(out.right[n], Saw(n / kRate), 1e-5) << n;
}

TEST(Lfo, QuadratureFollowsTheOtherChannel)
{
    {
        // R follows L a quarter cycle ahead at L's rate of the same block.
        Lfo lfo;
        lfo.Host().SetParameter(kSpeed, 0.5f);
        lfo.SetR(kSync, kQuadrature);
        lfo.SetR(kPhase, 90);
        lfo.SetBoth(kSaw, 1);
        const Output out = lfo.Run(4096);
        for (int n = 0; n < 4096; ++n) {
            ASSERT_NEAR(out.left[n], Saw(n / kRate), 1e-5) << n;
            ASSERT_NEAR(out.right[n], Saw(n / kRate + 0.25), 1e-5) << n;
        }
    }
    {
        // L in quadrature runs at R's rate of the block before: still in the
        // first block, then following R (2 Hz) from the next block on.
        Lfo lfo;
        lfo.Host().SetParameter(kSpeed + kGroup, std::log(2.0f / 0.05f) / std::log(400.0f));
        lfo.SetL(kSync, kQuadrature);
        lfo.SetL(kPhase, 180);
        lfo.SetBoth(kSaw, 1);
        const Output out = lfo.Run(2048);
        for (int n = 0; n < 2048; ++n)
            ASSERT_NEAR(out.right[n], Saw(n * 2 / kRate), 1e-4) << n;
        for (int n = 0; n < 512; ++n)
            ASSERT_EQ(out.left[n], Saw(0.5)) << n;
        for (int n = 512; n < 2048; ++n)
            ASSERT_NEAR(out.left[n], Saw(n * 2 / kRate + 0.5), 1e-4) << n;
    }
}

TEST(Lfo, NoiseAndHeldRandomFollowTheirGenerator)
{
    Lfo lfo;
    lfo.SetL(kNoise, 1);
    lfo.SetR(kRandom, 1);
    lfo.Host().SetParameter(kSpeed + kGroup, 0.5f); // 1 Hz: wraps once a second
    const Output out = lfo.Run(100000);
    uint32_t seed = 0;
    std::vector<float> noise;
    for (int n = 0; n < 100000; ++n) {
        seed = seed * 49979693u + 15485867u;
        noise.push_back((static_cast<float>(static_cast<int32_t>(seed & 0xFFFFF) - 0x80000)) * 1.9073486e-6f);
    }
    EXPECT_NEAR(out.left[0], ((15485867 & 0xFFFFF) - 0x80000) * 1.9073486e-6, 1e-6);
    for (int n = 0; n < 100000; ++n)
        ASSERT_EQ(out.left[n], noise[n]) << n;
    // The held value changes where the cycle wraps, to that sample's noise.
    std::vector<int> changes;
    for (int n = 1; n < 100000; ++n)
        if (out.right[n] != out.right[n - 1])
            changes.push_back(n);
    EXPECT_EQ(out.right[0], 0.0f);
    ASSERT_EQ(changes.size(), 2u);
    for (size_t k = 0; k < changes.size(); ++k) {
        EXPECT_NEAR(changes[k], 48000 * (k + 1) - 1, 1);
        EXPECT_EQ(out.right[changes[k]], noise[changes[k]]);
    }
}

TEST(Lfo, SmoothingRampsAndFilters)
{
    Lfo lfo;
    lfo.SetBoth(kOffset, 1);
    lfo.Set(kSmoothingL, 10);  // 480 samples: full 0..1 swing in 240
    lfo.Set(kSmoothingL + 1, -10);
    const Output out = lfo.Run(600);
    const double k = std::exp(5.2 / -480.0);
    for (int n = 0; n < 600; ++n) {
        ASSERT_NEAR(out.left[n], std::min(1.0, (n + 1) / 240.0), 1e-4) << n;
        ASSERT_NEAR(out.right[n], 1.0 - std::pow(k, n + 1), 1e-4) << n;
    }
}

TEST(Lfo, BrokenOrMissingHostTimeKeepsOutputsFinite)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        bool answerTime;
        double tempo, ppq;
    };
    const Row rows[] = {
        {false, 120, 0}, {true, nan, 0}, {true, -120, 2}, {true, inf, 0}, {true, 0, 0}, {true, 1e-300, 1},
        {true, 1e300, 0}, {true, 120, nan}, {true, 120, -inf},
    };
    for (const Row& row : rows) {
        for (int program : {0, 1}) {
            Lfo lfo(256);
            lfo.Host().SetProgram(program);
            if (program == 0) {
                lfo.SetL(kSync, kTransport);
                lfo.SetR(kSync, kTempo);
                lfo.SetBoth(kSine, 1);
                lfo.SetBoth(kSaw, 0.5f);
                lfo.SetBoth(kBeats, 1);
            }
            lfo.Set(kSwingL, 65);
            lfo.Set(kSwingL + 2, 35);
            lfo.Host().Time().answerTime = row.answerTime;
            lfo.Host().Time().tempo = row.tempo;
            lfo.Host().Time().ppqPos = row.ppq;
            const Output out = lfo.Run(10000);
            EXPECT_TRUE(AllFinite(out.left)) << "tempo " << row.tempo << " ppq " << row.ppq;
            EXPECT_TRUE(AllFinite(out.right)) << "tempo " << row.tempo << " ppq " << row.ppq;
            if (program == 1 && !row.answerTime) {
                // Without time information the transport counts as running.
                EXPECT_EQ(out.right[0], 1.0f);
                EXPECT_EQ(out.right[9999], 1.0f);
            }
            if (program == 0 && (!row.answerTime || !(row.tempo > 0) || std::isinf(row.tempo))) {
                // No usable tempo: the tempo-rate channel stands still.
                EXPECT_EQ(out.right[9999], out.right[0]) << "tempo " << row.tempo;
            }
        }
    }
}

TEST(Lfo, HostCommandRendersTransportAndNotes)
{
    corvane::test::TempDir dir;
    const std::string wav = dir.Path() + "/lfo.wav";
    const std::string command = std::string(corvane::test::HostPath()) + " render '" +
                                corvane::test::ModulePath() +
                                "' --plugin LFO --seconds 0.5 --rate 48000 --block 500"
                                " --param 'Sync L=Transport' --param 'Beats L=1' --param 'Saw L=1'"
                                " --param 'Saw R=1' --param 'Phase R=180' --param 'Reset By Note R=On'"
                                " --tempo 90 --ppq 2.25 --timesig 3/4 --play --note 0.25:60:100:0.1"
                                " --out '" + wav + "' 2>&1";
    std::string output;
    ASSERT_EQ(corvane::test::RunCommand(command, &output), 0) << output;
    std::string error;
    const auto data = corvane::host::ReadWav(wav, &error);
    ASSERT_TRUE(data) << error;
    ASSERT_EQ(data->channels.size(), 2u);
    ASSERT_EQ(data->channels[0].size(), 24000u);
    const auto& left = data->channels[0];
    const auto& right = data->channels[1];
    for (int n = 0; n < 24000; ++n) {
        const double phase = 2.25 + n * 1.5 / kRate; // 90 BPM: 1.5 quarter notes a second
        if (NearWrap(phase) > 1e-3) {
            ASSERT_NEAR(left[n], Saw(phase), 2e-4) << n;
        }
    }
    // R runs free at 5 Hz from 0 and restarts at half a cycle on the note.
    EXPECT_NEAR(right[11999], Saw(11999 * 5 / kRate), 1e-4);
    EXPECT_NEAR(right[12000], Saw(0.5), 1e-5);
    EXPECT_NEAR(right[12100], Saw(0.5 + 100 * 5 / kRate), 1e-4);
}

} // namespace
