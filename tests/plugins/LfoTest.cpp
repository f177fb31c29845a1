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
    const Output defaults = Lfo().Run(1000, 0.3f);
    EXPECT_EQ(defaults.left, std::vector<float>(1000, 0.3f));
    EXPECT_EQ(defaults.right, std::vector<float>(1000, 0.3f));
    // Input 0.5, offset 0.25, no waveform: Add, Multiply, Combine.
    const float expected[] = {0.75f, 0.125f, 0.625f};
    for (int mode = 0; mode < 3; ++mode) {
        Lfo lfo;
        lfo.SetBoth(kOffset, 0.25f);
        lfo.SetL(kInputMode, static_cast<float>(mode));
        const Output out = lfo.Run(600, 0.5f);
        EXPECT_NEAR(out.left[0], expected[mode], 1e-6f) << "mode " << mode;
        EXPECT_NEAR(out.left[599], expected[mode], 1e-6f) << "mode " << mode;
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
    const struct {
        int32_t wave;
        float pulseWidth;
        std::function<double(double)> shape; // of the warped phase
    } rows[] = {
        {kTriangle, 50, [](double w) { return std::min(4 * w - 1, 3 - 4 * w); }},
        {kSaw, 50, [](double w) { return 2 * w - 1; }},
        {kSquare, 50, [](double w) { return w > 0.5 ? -1.0 : 1.0; }},
        {kSquare, 20, [](double w) { return w > 0.2 ? -1.0 : 1.0; }},
    };
    for (const auto& row : rows) {
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
    const struct {
        float beats, divisor;
        bool triplet;
        double hertz; // at 120 BPM: 2 quarter notes per second over the cycle's length
    } rows[] = {
        {4, 2, false, 0.5}, {1, 2, true, 3}, {3, 3, false, 120.0 / 90.0}, {128, 0, false, 120.0 / (512 * 60)},
        {5, 7, false, 120.0 / (5 * 4.0 / 128 * 60)},
    };
    for (const auto& row : rows) {
        Lfo lfo;
        lfo.SetL(kSync, kTempo);
        lfo.SetL(kSaw, 1);
        lfo.SetL(kBeats, row.beats);
        lfo.SetL(kBeatDivisor, row.divisor);
        lfo.SetL(kTriplet, row.triplet ? 1 : 0);
        const double hz = PhaseTravelled(lfo.Run(48001).left, 0, 48000);
        EXPECT_NEAR(hz, row.hertz, row.hertz * 1e-4 + 1e-6)
            << "beats " << row.beats << " divisor " << row.divisor << " triplet " << row.triplet;
    }
}

// Saws whose phase the transport, swing, notes or the other channel set: each
// scenario gives the phase each output must show at sample n (null: not
// checked). Samples next to a wrap are skipped.
TEST(Lfo, SawPhaseFollowsTransportSwingNotesAndQuadrature)
{
    using Phase = std::function<double(int64_t)>;
    struct Scenario {
        std::string what;
        int32_t block;
        std::function<void(Lfo&)> setup;
        std::function<void(Lfo&, int64_t)> beforeBlock;
        int64_t frames;
        Phase left, right;
        double tolerance;
    };
    const double oneHertz = 0.5f; // the middle of 0.05..20 Hz on its log scale
    std::vector<Scenario> scenarios;

    // Locked to the song position (divisor 1/4: a cycle of `beats` quarter
    // notes), also after a locate between blocks.
    const struct {
        int sync;
        float beats, degrees;
        double ppq;
    } locks[] = {{kTransport, 1, 90, 5.3}, {kTransport, 2, 0, 5.3}, {kTransport2, 1, 0, -0.75},
                 {kTransport, 3, 270, 1e6 + 0.4}};
    for (const auto& l : locks)
        scenarios.push_back(
            {"lock at ppq " + std::to_string(l.ppq), 480,
             [l](Lfo& lfo) {
                 lfo.SetL(kSync, static_cast<float>(l.sync));
                 lfo.SetL(kSaw, 1);
                 lfo.SetL(kBeats, l.beats);
                 lfo.SetL(kPhase, l.degrees);
                 lfo.Host().Time().ppqPos = l.ppq;
             },
             [](Lfo& lfo, int64_t frame) {
                 if (frame == 2400)
                     lfo.Host().Time().ppqPos = 17.1;
             },
             4800,
             [l](int64_t n) {
                 const double ppq = n < 2400 ? l.ppq + n / 24000.0 : 17.1 + (n - 2400) / 24000.0;
                 return std::fmod(ppq, l.beats) / l.beats + l.degrees / 360.0;
             },
             nullptr, 2e-4});

    // Stopped: Transport keeps its phase (0 for a new instance) and runs at
    // the tempo rate; Transport2 stands at the song position.
    scenarios.push_back({"stopped", kBlock,
                         [](Lfo& lfo) {
                             lfo.SetL(kSync, kTransport);
                             lfo.SetR(kSync, kTransport2);
                             lfo.SetBoth(kSaw, 1);
                             lfo.SetBoth(kBeats, 1);
                             lfo.Host().Time().playing = false;
                             lfo.Host().Time().ppqPos = 5.3;
                         },
                         nullptr, 4800, [](int64_t n) { return n * 2.0 / kRate; }, [](int64_t) { return 0.3; },
                         1e-4});

    // Swing 60 on one cycle per quarter note: Tempo runs from phase 0 at its
    // start position, the locked modes from the song position itself; before
    // 0 the position warps forwards (floored remainder).
    const struct {
        int sync;
        float swingType; // 0: pairs of 16ths (half a quarter), 1: pairs of 8ths
        double ppq;
        int32_t block;
    } swings[] = {{kTempo, 1, 0, 512},        {kTransport, 1, 0, 512},      {kTempo, 0, 0, 300},
                  {kTransport, 1, -1.3, 256}, {kTransport2, 0, 7.77, 1000}};
    for (const auto& w : swings) {
        const double pair = w.swingType >= 1 ? 1.0 : 0.5;
        scenarios.push_back(
            {"swing from ppq " + std::to_string(w.ppq), w.block,
             [w](Lfo& lfo) {
                 lfo.SetL(kSync, static_cast<float>(w.sync));
                 lfo.SetL(kSaw, 1);
                 lfo.SetL(kBeats, 1);
                 lfo.Set(kSwingL, 60);
                 lfo.Set(kSwingTypeL, w.swingType);
                 lfo.Host().Time().ppqPos = w.ppq;
             },
             nullptr, 96000,
             [w, pair](int64_t n) {
                 const double swung = Unswing(w.ppq + n / 24000.0, pair, 0.6);
                 return w.sync == kTempo ? swung - Unswing(w.ppq, pair, 0.6) : swung;
             },
             nullptr, 5e-4});
    }

    // A note-on resets L to its phase at the note's sample; R does not reset
    // by note; a note-off and a note-on of velocity 0 reset nothing.
    scenarios.push_back({"note reset", kBlock,
                         [oneHertz](Lfo& lfo) {
                             lfo.Host().SetParameter(kSpeed, oneHertz);
                             lfo.Host().SetParameter(kSpeed + kGroup, oneHertz);
                             lfo.SetBoth(kSaw, 1);
                             lfo.Set(kResetByNoteL, 1);
                             lfo.SetBoth(kPhase, 90);
                         },
                         [](Lfo& lfo, int64_t frame) {
                             if (frame == 512)
                                 lfo.Host().SendMidi({MidiMessage{100, {0x90, 60, 100}}});
                             else if (frame == 1536)
                                 lfo.Host().SendMidi({MidiMessage{10, {0x80, 60, 0}}, MidiMessage{20, {0x90, 61, 0}}});
                         },
                         2048, [](int64_t n) { return n < 612 ? n / kRate : 0.25 + (n - 612) / kRate; },
                         [](int64_t n) { return n / kRate; }, 1e-5});

    // A channel in quadrature follows the other's phase at every sample, a
    // quarter (R) or half (L) cycle ahead, from the first sample on.
    scenarios.push_back({"R in quadrature", kBlock,
                         [oneHertz](Lfo& lfo) {
                             lfo.Host().SetParameter(kSpeed, oneHertz);
                             lfo.SetR(kSync, kQuadrature);
                             lfo.SetR(kPhase, 90);
                             lfo.SetBoth(kSaw, 1);
                         },
                         nullptr, 4096, [](int64_t n) { return n / kRate; },
                         [](int64_t n) { return n / kRate + 0.25; }, 1e-5});
    scenarios.push_back({"L in quadrature", kBlock,
                         [](Lfo& lfo) {
                             lfo.Host().SetParameter(kSpeed + kGroup, std::log(2.0f / 0.05f) / std::log(400.0f));
                             lfo.SetL(kSync, kQuadrature);
                             lfo.SetL(kPhase, 180);
                             lfo.SetBoth(kSaw, 1);
                         },
                         nullptr, 2048, [](int64_t n) { return n * 2 / kRate + 0.5; },
                         [](int64_t n) { return n * 2 / kRate; }, 1e-4});

    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        Lfo lfo(s.block);
        s.setup(lfo);
        std::function<void(int64_t)> before;
        if (s.beforeBlock)
            before = [&](int64_t frame) { s.beforeBlock(lfo, frame); };
        const Output out = lfo.Run(s.frames, 0, before);
        for (int64_t n = 0; n < s.frames; ++n) {
            for (const auto& [phase, samples] : {std::pair{s.left, &out.left}, std::pair{s.right, &out.right}}) {
                if (!phase || NearWrap(phase(n)) < 1e-3)
                    continue;
                ASSERT_NEAR((*samples)[n], Saw(phase(n)), s.tolerance) << "sample " << n;
            }
        }
    }
}

TEST(Lfo, DinSyncGives24PulsesPerQuarterNoteAndARunGate)
{
    for (const auto& [ppq, block] : {std::pair{0.0, 512}, {3.0 + 0.5 / 24, 333}, {-2.01, 64}}) {
        Lfo lfo(block);
        lfo.Host().SetProgram(1);
        lfo.Host().Time().ppqPos = ppq;
        const Output out = lfo.Run(24000); // one quarter note
        int rising = 0;
        for (int n = 0; n < 24000; ++n) {
            ASSERT_EQ(out.right[n], 1.0f) << "running, sample " << n;
            if (n > 0 && out.left[n] > out.left[n - 1])
                ++rising;
            const double cycle = Frac((ppq + n / 24000.0) * 24);
            if (std::fabs(cycle - 0.5) < 1e-3 || NearWrap(cycle) < 1e-3)
                ASSERT_TRUE(out.left[n] == 0.0f || out.left[n] == 1.0f) << out.left[n];
            else
                ASSERT_EQ(out.left[n], cycle <= 0.5 ? 1.0f : 0.0f) << "ppq " << ppq << " sample " << n;
        }
        EXPECT_NEAR(rising, 24, 1);
        lfo.Host().Time().playing = false;
        EXPECT_EQ(lfo.Run(1000).right, std::vector<float>(1000, 0.0f));
        lfo.Host().Time().playing = true;
        EXPECT_EQ(lfo.Run(1000).right, std::vector<float>(1000, 1.0f));
    }
}

// The channel in quadrature takes a phase its leader got from a note or from
// its swing at the same sample: the host's block sizes change nothing.
TEST(Lfo, QuadratureIsTheSameForEveryBlockPartition)
{
    const struct {
        const char* what;
        int follower;
        float tolerance; // the swing itself moves by up to 1e-4 with the blocks
        std::function<void(Lfo&)> setup;
    } cases[] = {
        {"R follows L reset by notes", 1, 1e-6f,
         [](Lfo& lfo) {
             lfo.SetR(kSync, kQuadrature);
             lfo.SetR(kPhase, 90);
             lfo.Set(kResetByNoteL, 1);
             lfo.SetL(kPhase, 200);
             lfo.SetBoth(kSine, 1);
             lfo.SetBoth(kRandom, 0.5f);
         }},
        {"L follows a swung R", 0, 2e-4f,
         [](Lfo& lfo) {
             lfo.SetL(kSync, kQuadrature);
             lfo.SetL(kPhase, 45);
             lfo.SetR(kSync, kTempo);
             lfo.SetR(kBeats, 1);
             lfo.Set(kSwingL + 2, 70);
             lfo.SetBoth(kSaw, 1);
         }},
    };
    constexpr int64_t kFrames = 30000;
    auto render = [&](const auto& c, int32_t block) {
        Lfo lfo(block);
        c.setup(lfo);
        return lfo.Run(kFrames, 0, [&](int64_t first) {
            std::vector<MidiMessage> midi; // a note every 2500 samples, wherever the blocks fall
            for (int64_t at = (first + 2499) / 2500 * 2500; at < first + block && at < kFrames; at += 2500)
                midi.push_back(MidiMessage{static_cast<int32_t>(at - first), {0x90, 60, 100}});
            lfo.Host().SendMidi(midi);
        });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Output reference = render(c, 4096);
        for (const int32_t block : {512, 100, 7}) {
            const Output out = render(c, block);
            const auto& follower = c.follower == 1 ? out.right : out.left;
            const auto& expected = c.follower == 1 ? reference.right : reference.left;
            for (int64_t n = 0; n < kFrames; ++n)
                ASSERT_NEAR(follower[n], expected[n], c.tolerance) << "blocks of " << block << ", sample " << n;
        }
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
            // 63 controller messages per block (all the event queue holds),
            // each cutting the block.
            std::vector<MidiMessage> midi;
            for (int i = 0; withEvents && i < 63; ++i)
                midi.push_back(MidiMessage{i * 16 + 3, {0xB0, 1, static_cast<uint8_t>(i)}});
            lfo.Host().SendMidi(midi);
        });
    };
    const Output plain = render(false);
    const Output split = render(true);
    for (size_t n = 0; n < plain.left.size(); ++n)
        ASSERT_NEAR(split.left[n], plain.left[n], 1e-4f) << n;
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
                // No rate and the phase kept where it was (0 for a new instance).
                EXPECT_EQ(lfo.Run(5000).left, std::vector<float>(5000, -1.0f))
                    << "sync " << sync << " playing " << playing << " swing " << swing;
            }
        }
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

TEST(Lfo, BrokenOrMissingHostTimeKeepsOutputsFinite)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        bool answerTime;
        double tempo, ppq;
    } rows[] = {
        {false, 120, 0}, {true, nan, 0}, {true, -120, 2}, {true, inf, 0}, {true, 0, 0}, {true, 1e-300, 1},
        {true, 1e300, 0}, {true, 120, nan}, {true, 120, -inf},
    };
    for (const auto& row : rows) {
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
