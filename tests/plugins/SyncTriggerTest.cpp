// The Trigger and Sync plug-ins: through the built module and our host (pins,
// names, notes to a gate, the clock against the host's transport, state
// chunks) and built in-process (output modes, CV triggering, envelopes,
// clocks locked to the host position with swing, offset, loops and the
// expander data words, broken input, no allocation on the audio thread).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/sync/ObryCorvaneSync.h"
#include "plugins/trigger/ObryCorvaneTrigger.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/PluginTestSupport.h"

namespace {

using corvane::host::MidiMessage;
using corvane::host::Plugin;
using corvane::test::kInf;
using corvane::test::kNaN;
using Trigger = ObryCorvaneTrigger::ObryCorvane;
using Sync = ObryCorvaneSync::ObryCorvane;

constexpr double kRate = 48000;
constexpr int kQuarter = 24000; // samples per quarter note at 120 BPM

// ---- helpers ---------------------------------------------------------------

// A plug-in built in-process at 48 kHz; events and blocks as a host sends them.
template <class P>
class Local {
public:
    explicit Local(bool isSynth, int32_t block = 500) : plugin(new P(corvane::test::InProcessHost, isSynth)), block(block)
    {
        plugin->setSampleRate(static_cast<float>(kRate));
        plugin->setBlockSize(block);
        plugin->resume();
    }
    P* operator->() const { return plugin.get(); }
    void Set(int32_t index, float real) { plugin->SetParameterValue(index, real, false); }
    void Midi(int delta, int status, int data1, int data2)
    {
        events.push_back(corvane::test::ShortMidiEvent(delta, status, data1, data2));
    }
    // One block: the waiting events, then processReplacing with two input
    // channels from `input` (sample index from the run's start).
    void Block(int64_t first, int32_t frames, const std::function<float(int64_t)>& input,
               std::vector<float>& left, std::vector<float>& right)
    {
        corvane::test::SendEvents(*plugin, events);
        for (int32_t i = 0; i < frames; ++i)
            in[static_cast<size_t>(i)] = input ? input(first + i) : 0.0f;
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        {
            corvane::test::AllocationCounter counter;
            plugin->processReplacing(inputs, outputs, frames);
            allocations += counter.Count();
        }
        left.insert(left.end(), outL.begin(), outL.begin() + frames);
        right.insert(right.end(), outR.begin(), outR.begin() + frames);
    }
    // Runs `frames` samples; `beforeBlock` gets each block's first sample.
    corvane::test::Stereo Run(int64_t frames, const std::function<float(int64_t)>& input = {},
                              const std::function<void(int64_t)>& beforeBlock = {})
    {
        corvane::test::Stereo out;
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
            if (beforeBlock)
                beforeBlock(done);
            Block(done, n, input, out.left, out.right);
            done += n;
        }
        return out;
    }

    corvane::test::InProcessPlugin<P> plugin;
    int32_t block;
    std::vector<VstMidiEvent> events;
    int allocations = 0; // made by processReplacing
    std::vector<float> in = std::vector<float>(4096), outL = std::vector<float>(4096), outR = std::vector<float>(4096);
};

// The samples where a signal rises above `level`.
std::vector<int64_t> Rises(const std::vector<float>& s, float level = 0.5f)
{
    std::vector<int64_t> at;
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] > level && (i == 0 || s[i - 1] <= level))
            at.push_back(static_cast<int64_t>(i));
    return at;
}

// Transport of the in-process host: 120 BPM, 4/4, bars valid, advanced per
// block from the run's first sample.
void Transport(double ppq, bool playing = true)
{
    corvane::test::StartInProcessTransport(ppq);
    VstTimeInfo& t = corvane::test::InProcessTime();
    t.flags |= kVstBarsValid | kVstTimeSigValid;
    if (!playing)
        t.flags &= ~kVstTransportPlaying;
    t.timeSigNumerator = 4;
    t.timeSigDenominator = 4;
    t.barStartPos = std::floor(ppq / 4) * 4;
}
std::function<void(int64_t)> Playing(double startPpq)
{
    return [startPpq](int64_t first) {
        VstTimeInfo& t = corvane::test::InProcessTime();
        t.ppqPos = startPpq + static_cast<double>(first) / kQuarter;
        t.barStartPos = std::floor(t.ppqPos / 4) * 4;
    };
}

// ---- through the module ----------------------------------------------------

TEST(SyncTriggerModule, TriggerGateFollowsTheTriggerNoteOnAnyChannel)
{
    auto plugin = Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZs3"));
    ASSERT_TRUE(plugin);
    plugin->Start(kRate, 256);
    std::vector<std::vector<float>> out;
    const auto block = [&](std::vector<MidiMessage> midi) {
        plugin->SendMidi(midi);
        plugin->ProcessBlock({}, out, 256);
        return out[0];
    };
    EXPECT_EQ(block({{10, {0x95, 61, 100}}})[255], 0.0f); // another note does nothing
    const auto on = block({{100, {0x9C, 60, 100}}});
    EXPECT_EQ(on[99], 0.0f);
    EXPECT_EQ(on[100], 1.0f);
    const auto off = block({{50, {0x83, 60, 0}}});
    EXPECT_EQ(off[49], 1.0f);
    EXPECT_EQ(off[50], 0.0f);
}

// A note at the first sample a fresh instance processes gets a trigger of the
// set length, as a note anywhere else does (it got one sample).
TEST(SyncTriggerModule, FirstNoteGetsTheWholeTrigger)
{
    const struct {
        int32_t delta;
        float lengthMs;
        size_t samples;
    } cases[] = {{0, 10, 480}, {0, 1, 48}, {1, 10, 480}, {200, 1, 48}};
    for (const auto& c : cases) {
        auto plugin = Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZs3"));
        ASSERT_TRUE(plugin);
        plugin->Start(kRate, 1024);
        for (const auto& [index, real] : {std::pair{Trigger::kOutputMode, 1.0f}, {Trigger::kTriggerLength, c.lengthMs}}) {
            const ParameterInfo& info = Trigger::Parameters()[index];
            corvane::test::SetReal(*plugin, index, {info.min, info.max}, real);
        }
        std::vector<std::vector<float>> out;
        plugin->SendMidi({{c.delta, {0x90, 60, 100}}});
        plugin->ProcessBlock({}, out, 1024);
        EXPECT_EQ(Rises(out[0]), std::vector<int64_t>{c.delta});
        size_t high = 0;
        for (float v : out[0])
            high += v > 0.5f ? 1 : 0;
        EXPECT_EQ(high, c.samples) << "note at " << c.delta;
    }
}

TEST(SyncTriggerModule, SyncClockFollowsTheHostTransport)
{
    auto plugin = Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZsf"));
    ASSERT_TRUE(plugin);
    plugin->Start(kRate, 400);
    plugin->Time().playing = true;
    std::vector<float> left, right;
    std::vector<std::vector<float>> out;
    const std::vector<std::vector<float>> in(2, std::vector<float>(400, 0.25f)); // audio passes through
    for (int b = 0; b < 240; ++b) { // two seconds: four quarter notes
        if (b == 180)
            plugin->Time().playing = false;
        plugin->ProcessBlock(in, out, 400);
        left.insert(left.end(), out[0].begin(), out[0].end());
        right.insert(right.end(), out[1].begin(), out[1].end());
    }
    EXPECT_EQ(Rises(left, 0.75f), (std::vector<int64_t>{0, kQuarter, 2 * kQuarter}));
    EXPECT_FLOAT_EQ(left[kQuarter / 2 - 1], 1.25f);
    EXPECT_FLOAT_EQ(left[kQuarter / 2], 0.25f);
    EXPECT_FLOAT_EQ(right[0], 1.25f); // run high from the first pulse
    EXPECT_FLOAT_EQ(right[180 * 400 - 1], 1.25f);
    EXPECT_FLOAT_EQ(right[180 * 400], 0.25f); // and low once stopped
}

// ---- Trigger in-process ----------------------------------------------------

TEST(Trigger, OutputModes)
{
    struct Event {
        int delta, status, data1, data2;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<int32_t, float>> params;
        std::vector<Event> events;
        std::vector<std::pair<int, float>> expect; // sample, value
    };
    const Case cases[] = {
        {"gate", {}, {{100, 0x90, 60, 1}, {300, 0x80, 60, 0}}, {{99, 0}, {100, 1}, {299, 1}, {300, 0}}},
        {"gate ignores other notes and the pedal", {}, {{10, 0x90, 59, 100}, {20, 0xB0, 64, 127}},
         {{10, 0}, {499, 0}}},
        {"trigger of length 0 is one sample", {{Trigger::kOutputMode, 1}, {Trigger::kTriggerLength, 0}},
         {{100, 0x91, 60, 100}}, {{99, 0}, {100, 1}, {101, 0}}},
        {"trigger of 1 ms", {{Trigger::kOutputMode, 1}, {Trigger::kTriggerLength, 1}}, {{100, 0x90, 60, 100}},
         {{147, 1}, {148, 0}}},
        {"velocity", {{Trigger::kOutputMode, 3}, {Trigger::kMinVoltage, -0.5f}}, {{0, 0x90, 60, 64}},
         {{1, -0.5f + 1.5f * 64 / 127}}},
        {"idle envelope sits at min", {{Trigger::kOutputMode, 2}, {Trigger::kMinVoltage, -1}}, {}, {{0, -1}, {499, -1}}},
        {"override gate", {{Trigger::kOverrideGate, 1}, {Trigger::kGate, 0.5f}}, {{0, 0x90, 60, 100}},
         {{0, 0.5f}, {499, 0.5f}}},
        {"override only in gate mode", {{Trigger::kOverrideGate, 1}, {Trigger::kGate, 0.5f}, {Trigger::kOutputMode, 3}},
         {{0, 0x90, 60, 127}}, {{0, 1}}},
        {"other trigger note", {{Trigger::kTriggerNote, 36}}, {{0, 0x90, 60, 100}, {5, 0x90, 36, 100}},
         {{4, 0}, {5, 1}}},
        {"controller 120 closes at once", {}, {{0, 0x90, 60, 100}, {7, 0xB0, 120, 0}}, {{6, 1}, {7, 0}}},
        {"controller 123 closes", {}, {{0, 0x90, 60, 100}, {7, 0xB0, 123, 0}}, {{6, 1}, {7, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Trigger> t(false);
        for (auto [i, v] : c.params)
            t.Set(i, v);
        for (const Event& e : c.events)
            t.Midi(e.delta, e.status, e.data1, e.data2);
        const auto out = t.Run(500);
        for (auto [at, value] : c.expect)
            EXPECT_NEAR(out.left[static_cast<size_t>(at)], value, 1e-6) << at;
    }
}

TEST(Trigger, EnvelopeFromNotesAndEveryWayToStopIt)
{
    // Defaults: A2 0.1 s to 1, A3 0.1 s to the sustain 0.5, R1 0.1 s to 0.
    struct Case {
        const char* name;
        std::function<void(Local<Trigger>&)> stop;
        float afterStop; // the value 1 ms after the stop
    };
    const Case cases[] = {
        {"note-off releases", [](Local<Trigger>& t) { t.Midi(0, 0x80, 60, 64); }, 0.495f},
        {"controller 123 releases", [](Local<Trigger>& t) { t.Midi(0, 0xB0, 123, 0); }, 0.495f},
        {"controller 120 silences", [](Local<Trigger>& t) { t.Midi(0, 0xB0, 120, 0); }, 0.0f},
        {"all sound off silences",
         [](Local<Trigger>& t) { EXPECT_EQ(t->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0); }, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Trigger> t(true, 480);
        t.Set(Trigger::kOutputMode, 2);
        t.Midi(0, 0x90, 60, 127);
        auto out = t.Run(24000); // half a second: at the sustain
        EXPECT_NEAR(out.left[4799], 1.0f, 1e-3);  // A2's peak after 0.1 s
        EXPECT_NEAR(out.left[23999], 0.5f, 1e-6); // sustain
        EXPECT_NEAR(corvane::test::ReadIndicator(*t.plugin, Trigger::kIndicatorEnvelope + 1), 0.5f, 1e-6);
        c.stop(t);
        out = t.Run(9600);
        EXPECT_NEAR(out.left[47], c.afterStop, 0.01f);
        EXPECT_NEAR(out.left[9599], 0.0f, 1e-6);
    }
}

TEST(Trigger, CvCrossingsStartAndReleaseWithVelocityOne)
{
    // A slow sine, and crossings at every position of a group of samples
    // (NaN counts as below the threshold).
    const std::function<float(int64_t)> inputs[] = {
        [](int64_t i) { return std::sin(static_cast<float>(i) * 0.01f); },
        [](int64_t i) {
            if (i % 37 == 5)
                return std::numeric_limits<float>::quiet_NaN();
            return (i * 7919) % 23 < 11 || (i / 50) % 3 == 0 ? 1.0f : -1.0f;
        },
    };
    for (const auto& input : inputs) {
        Local<Trigger> t(false, 256);
        t.Set(Trigger::kCVTriggerEnable, 1);
        const auto gate = t.Run(4000, input);
        for (size_t i = 0; i < gate.left.size(); ++i)
            ASSERT_EQ(gate.left[i], input(static_cast<int64_t>(i)) > 0.0f ? 1.0f : 0.0f) << i;
    }
    Local<Trigger> t(false, 256);
    t.Set(Trigger::kCVTriggerEnable, 1);
    const auto sine = [](int64_t i) { return std::sin(static_cast<float>(i) * 0.01f); };
    t.Run(4000, sine);
    t.Set(Trigger::kOutputMode, 3);
    t.Set(Trigger::kMinVoltage, -1);
    EXPECT_EQ(t.Run(1, sine).left[0], 1.0f); // a CV start has velocity 1

    // The instrument's all-zero input lies above a negative threshold.
    Local<Trigger> synth(true);
    synth.Set(Trigger::kCVTriggerEnable, 1);
    synth.Set(Trigger::kCVTriggerThreshold, -0.5f);
    EXPECT_EQ(synth.Run(10).left[0], 1.0f);
}

TEST(Trigger, PropertiesAndTexts)
{
    Local<Trigger> t(false);
    int32_t layout[2] = {};
    EXPECT_EQ(t->GetProperty(kObryProperty_EnvelopeLayout, 0, 0, layout), 0);
    EXPECT_EQ(layout[0], 7);
    EXPECT_EQ(layout[1], 14);
    EXPECT_EQ(corvane::test::ValueNames(*t.plugin, 0, 1),
              (std::vector<std::string>{"Gate", "Trigger", "Envelope", "Velocity"}));
    EXPECT_EQ(corvane::test::ValueNames(*t.plugin, 0, 27), (std::vector<std::string>{"0.1", "1", "10", "100"}));
    EXPECT_EQ(corvane::test::ValueNames(*t.plugin, 0, 2), (std::vector<std::string>{"<error>"}));
    EXPECT_EQ(corvane::test::TextFor(*t.plugin, 0, 0), "Off");
    EXPECT_EQ(corvane::test::TextFor(*t.plugin, 23, 0.4f), "Off");
    EXPECT_EQ(corvane::test::TextFor(*t.plugin, 23, 2), "<none>");
    EXPECT_EQ(corvane::test::TextFor(*t.plugin, 5, 0), "<refused>");
}

// ---- Sync in-process -------------------------------------------------------

struct SyncCase {
    const char* name;
    std::vector<std::pair<int32_t, float>> params;
    double startPpq;
    std::vector<int64_t> rises; // clock on output 1 (the first ones)
    int64_t highFor;            // samples the first pulse stays high
    int64_t runRise = -1;       // when run rises, if not with the first clock rise
};

TEST(Sync, ClockLockedToTheHostPosition)
{
    const SyncCase cases[] = {
        {"defaults: a pulse per quarter", {}, 0, {0, kQuarter, 2 * kQuarter, 3 * kQuarter}, kQuarter / 2},
        {"24ppqn /2 is 12 per quarter", {{Sync::kDINsyncType, 1}, {Sync::kDivisor, 1}}, 0, {0, 2000, 4000, 6000}, 1000},
        {"multiplier divides", {{Sync::kPPQN, 4}, {Sync::kMultiplier, 2}}, 0, {0, 12000, 24000}, 6000},
        {"swing 66 on sixteenths", {{Sync::kPPQN, 4}, {Sync::kSwing, 66}}, 0, {0, 7920, 12000, 19920, 24000}, 3960},
        {"swing 66 on eighths", {{Sync::kPPQN, 2}, {Sync::kSwing, 66}, {Sync::kSwingType, 1}}, 0,
         {0, 15840, 24000}, 7920},
        {"offset -10 ms plays early", {{Sync::kOffset, -10}}, 0, {0, kQuarter - 480, 2 * kQuarter - 480}, 11760},
        {"offset +10 ms plays late", {{Sync::kOffset, 10}}, 0, {480, kQuarter + 480}, 12000},
        {"trigger length 5 ms", {{Sync::kTriggerLength, 5}}, 0, {0, kQuarter}, 240},
        {"mid-bar start waits for the bar line", {}, 1.5, {60000, 84000}, kQuarter / 2},
        {"1st delay: a late first pulse", {{Sync::kFirstDelay, 1}}, 0, {6000, kQuarter}, 6000, 0},
    };
    for (const SyncCase& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Sync> s(false, 500);
        for (auto [i, v] : c.params)
            s.Set(i, v);
        Transport(c.startPpq);
        // A MIDI event in every block cuts it in two pieces.
        const auto out = s.Run(4 * kQuarter, {}, [&](int64_t first) {
            Playing(c.startPpq)(first);
            s.Midi(123, 0x90, 60, 1);
        });
        const auto rises = Rises(out.left);
        ASSERT_GE(rises.size(), c.rises.size());
        EXPECT_EQ(std::vector<int64_t>(rises.begin(), rises.begin() + static_cast<long>(c.rises.size())), c.rises);
        const auto first = static_cast<size_t>(c.rises[0]);
        EXPECT_EQ(out.left[first + static_cast<size_t>(c.highFor) - 1], 1.0f);
        EXPECT_EQ(out.left[first + static_cast<size_t>(c.highFor)], 0.0f);
        // Run rises with the first pulse (output 2).
        EXPECT_EQ(Rises(out.right).front(), c.runRise < 0 ? c.rises[0] : c.runRise);
    }
}

// What the clock keeps from block to block (the swung time of the coming
// pulse, the pulse length in samples, the offset in pulses) follows a change
// made between two pulses. PPQN 4: a pulse every 6000 samples; the change
// comes at sample 3000, once pulse 1 has been placed.
TEST(Sync, ChangeBetweenPulsesMovesTheComingOne)
{
    const struct {
        const char* name;
        std::vector<std::pair<int32_t, float>> before, after;
        std::vector<int64_t> rises;
    } cases[] = {
        {"swing 66 to 75", {{Sync::kSwing, 66}}, {{Sync::kSwing, 75}}, {0, 9000, 12000, 21000, 24000}},
        {"swing 75 to 66", {{Sync::kSwing, 75}}, {{Sync::kSwing, 66}}, {0, 7920, 12000, 19920, 24000}},
        {"sixteenths to eighths", {{Sync::kSwing, 75}}, {{Sync::kSwingType, 1}}, {0, 9000, 18000, 21000, 24000}},
        {"offset 0 to +10 ms", {}, {{Sync::kOffset, 10}}, {0, 6480, 12480, 18480}},
        {"offset +10 to -10 ms", {{Sync::kOffset, 10}}, {{Sync::kOffset, -10}}, {480, 5520, 11520, 17520, 23520}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Sync> s(false, 500);
        s.Set(Sync::kPPQN, 4);
        for (auto [i, v] : c.before)
            s.Set(i, v);
        Transport(0);
        const auto out = s.Run(kQuarter + 1, {}, [&](int64_t first) {
            Playing(0)(first);
            if (first == 3000)
                for (auto [i, v] : c.after)
                    s.Set(i, v);
        });
        EXPECT_EQ(Rises(out.left), c.rises);
    }
}

// The host's tempo changing while it plays: the coming pulses follow at
// once. PPQN 4; 120 BPM, then 100 BPM (28800 samples a quarter) from sample
// 3000, quarter 0.125.
TEST(Sync, TempoChangeWhilePlayingMovesTheComingPulses)
{
    Local<Sync> s(false, 500);
    s.Set(Sync::kPPQN, 4);
    Transport(0);
    const auto out = s.Run(kQuarter + 1, {}, [](int64_t first) {
        VstTimeInfo& t = corvane::test::InProcessTime();
        t.tempo = first < 3000 ? 120 : 100;
        t.ppqPos = first < 3000 ? static_cast<double>(first) / kQuarter : 0.125 + (first - 3000) / 28800.0;
    });
    EXPECT_EQ(Rises(out.left), (std::vector<int64_t>{0, 6600, 13800, 21000}));
}

TEST(Sync, LoopJumpKeepsTheClockAndStopEndsIt)
{
    Local<Sync> s(false, 500);
    Transport(0);
    VstTimeInfo& t = corvane::test::InProcessTime();
    t.flags |= kVstCyclePosValid | kVstTransportCycleActive;
    t.cycleStartPos = 0;
    t.cycleEndPos = 4;
    const auto out = s.Run(10 * kQuarter, {}, [](int64_t first) {
        VstTimeInfo& time = corvane::test::InProcessTime();
        time.ppqPos = std::fmod(static_cast<double>(first) / kQuarter, 4.0);
        time.barStartPos = std::floor(time.ppqPos / 4) * 4;
        if (first >= 9 * kQuarter)
            time.flags &= ~kVstTransportPlaying;
    });
    std::vector<int64_t> expected;
    for (int q = 0; q < 9; ++q)
        expected.push_back(int64_t{q} * kQuarter);
    EXPECT_EQ(Rises(out.left), expected);
    for (int64_t r : expected) // no short double pulses around the jump
        EXPECT_EQ(out.left[static_cast<size_t>(r + kQuarter / 2 - 1)], 1.0f) << r;
    EXPECT_EQ(out.right[9 * kQuarter - 1], 1.0f);
    EXPECT_EQ(out.right[9 * kQuarter], 0.0f);
}

TEST(Sync, RelocationForwardRestartsTheCountersOnTheGrid)
{
    Local<Sync> s(false, 500);
    Transport(0);
    // Two quarters from 0, then the host jumps to 10.5 and plays on.
    const auto out = s.Run(4 * kQuarter, {}, [](int64_t first) {
        const double played = static_cast<double>(first) / kQuarter;
        corvane::test::InProcessTime().ppqPos = played < 2 ? played : played + 8.5;
    });
    // The next pulse after 10.5 is quarter 11, half a quarter after the jump.
    EXPECT_EQ(Rises(out.left), (std::vector<int64_t>{0, kQuarter, 2 * kQuarter + kQuarter / 2, 3 * kQuarter + kQuarter / 2}));
}

// A sequencer counts rising edges: a rate change must not merge a pulse into
// the one before it. PPQN 1 -> 2 at 1.25 quarters, while the pulse of
// quarter 1 is high up to 1.5, where the next one is due: that one comes as
// the first of a double pulse once the low part is over.
TEST(Sync, RateChangeKeepsEveryPulseAnEdge)
{
    const struct {
        const char* name;
        int64_t changeAt;
        float to;
        std::vector<int64_t> rises;
    } cases[] = {
        {"while a pulse is high", 30000, 2, {0, 24000, 48000, 54000, 60000, 72000, 84000}},
        {"while the clock is low", 18000, 2, {0, 24000, 36000, 48000, 60000, 72000, 84000}},
        {"to a slower rate", 6000, 0.5f, {0, 48000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Sync> s(false, 500);
        Transport(0);
        const auto out = s.Run(4 * kQuarter, {}, [&](int64_t first) {
            Playing(0)(first);
            if (first == c.changeAt)
                s.Set(c.to >= 1 ? Sync::kPPQN : Sync::kMultiplier, c.to >= 1 ? c.to : 1 / c.to);
        });
        EXPECT_EQ(Rises(out.left), c.rises);
    }
}

TEST(Sync, OutputAssignments)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int32_t, float>> params;
        float left, right; // at sample 0 (clock high, run high)
    };
    const Case cases[] = {
        {"output 4 adds the clock to output 2", {{Sync::kClockOutput, 4}}, 0, 2},
        {"both on output 1", {{Sync::kRunOutput, 1}, {Sync::kClockHigh, 0.5f}}, 1.5f, 0},
        {"gates are ignored without hardware", {{Sync::kClockOutput, 7}}, 0, 1},
        {"type off adds nothing", {{Sync::kDINsyncType, 0}}, 0, 0},
        {"muted clock sits low", {{Sync::kMuteClocks, 1}, {Sync::kClockLow, -0.25f}}, -0.25f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Sync> s(true, 500);
        for (auto [i, v] : c.params)
            s.Set(i, v);
        Transport(0);
        const auto out = s.Run(500);
        EXPECT_FLOAT_EQ(out.left[0], c.left);
        EXPECT_FLOAT_EQ(out.right[0], c.right);
    }
}

TEST(Sync, ExpanderGateBitsAndLevels)
{
    struct Case {
        const char* name;
        float mode, clockOut, runOut, clockLow, clockHigh;
        bool carro;
    };
    const Case cases[] = {
        {"brink gate 1/1", 1, 7, 0, 0, 1, false},
        {"brink gate 1/1 inverted", 1, 7, 0, 1, 0, false},
        {"carro gate 6/8", 2, 54, 0, 0, 1, true},
        {"brink levels on outputs 3 and 5", 1, 3, 5, 0, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Local<Sync> s(false, 500);
        s.Set(Sync::kHardwareMode, c.mode);
        s.Set(Sync::kClockOutput, c.clockOut);
        s.Set(Sync::kRunOutput, c.runOut);
        s.Set(Sync::kClockLow, c.clockLow);
        s.Set(Sync::kClockHigh, c.clockHigh);
        Transport(0);
        const auto out = s.Run(kQuarter, [](int64_t) { return 0.0f; });
        for (size_t i : {size_t{0}, size_t{kQuarter / 2}}) {
            const bool high = i == 0;
            uint8_t bytes[6] = {};
            if (c.carro) {
                const uint32_t l = CarroSampleWord::FromSample(out.left[i]), r = CarroSampleWord::FromSample(out.right[i]);
                bytes[0] = static_cast<uint8_t>(l >> 16);
                bytes[5] = static_cast<uint8_t>(r);
            } else {
                const uint32_t l = BrinkSampleWord::FromSample(out.left[i]), r = BrinkSampleWord::FromSample(out.right[i]);
                bytes[0] = static_cast<uint8_t>(l >> 12);
                bytes[2] = static_cast<uint8_t>(r >> 12);
                bytes[4] = static_cast<uint8_t>((l & 15) << 4 | (r & 15));
            }
            if (c.clockOut == 3) {
                EXPECT_EQ(bytes[2], high ? 255 : 0) << i;
                EXPECT_EQ(bytes[4], 255) << i; // run (output 5) stays high
            } else if (c.carro) {
                EXPECT_EQ(bytes[5] >> 7 & 1, high ? 1 : 0) << i;
            } else {
                EXPECT_EQ(bytes[0] & 1, high == (c.clockLow <= c.clockHigh) ? 1 : 0) << i;
            }
        }
        // The indicator shows the last frame's bytes (the clock low by now).
        if (!c.carro && c.clockOut == 7) {
            EXPECT_EQ(s->GetIndicatorBlock()[Sync::kIndicatorFrameBytes] & 1, c.clockLow > c.clockHigh ? 1 : 0);
        }
    }
}

// ---- broken input and the audio thread -------------------------------------

// Without hardware and with nothing added, each output is its input with
// broken samples (NaN, infinities) as silence, whatever buffers the host
// hands: separate, in place, or the left output on the right input.
TEST(Sync, BrokenInputPassesAsSilenceInEveryBufferLayout)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> left = {0.5f, kNaN, inf, -inf, -0.0f, 1e-40f, -3.0f, 3e38f, -kNaN, 0.25f,
                                     1.0f, 2.0f, -inf, 4.0f, kNaN, 6.0f, 7.0f, 8.0f, -9.0f};
    std::vector<float> right(left.rbegin(), left.rend());
    const auto frames = static_cast<int32_t>(left.size());
    auto expected = [](float x) { return (std::isfinite(x) ? x : 0.0f) + 0.0f; };
    enum Layout { kSeparate, kInPlace, kLeftOnRightInput };
    for (const Layout layout : {kSeparate, kInPlace, kLeftOnRightInput}) {
        SCOPED_TRACE(layout);
        Local<Sync> s(true, 64);
        s.Set(Sync::kDINsyncType, 0);
        std::vector<float> a = left, b = right, c(left.size()), d(left.size());
        float* inputs[2] = {a.data(), b.data()};
        float* outputs[2] = {c.data(), d.data()};
        if (layout == kInPlace) {
            outputs[0] = a.data();
            outputs[1] = b.data();
        } else if (layout == kLeftOnRightInput) {
            outputs[0] = b.data();
        }
        s->processReplacing(inputs, outputs, frames);
        for (int32_t i = 0; i < frames; ++i) {
            const float l = expected(left[i]), r = expected(right[i]);
            EXPECT_EQ(memcmp(&outputs[0][i], &l, sizeof l), 0) << "left " << i << ": " << outputs[0][i];
            EXPECT_EQ(memcmp(&outputs[1][i], &r, sizeof r), 0) << "right " << i << ": " << outputs[1][i];
        }
    }
}

TEST(SyncTrigger, NoAllocationOnTheAudioThread)
{
    Local<Trigger> t(false, 512);
    Local<Sync> s(false, 512);
    Transport(0);
    const auto input = [](int64_t i) { return std::sin(static_cast<float>(i) * 0.02f); };
    // Warm up: the first blocks may set up what stays (Lua, queues).
    t.Run(512, input);
    s.Run(512, input);
    t.allocations = s.allocations = 0;
    for (int b = 0; b < 40; ++b) {
        t.Set(Trigger::kOutputMode, static_cast<float>(b % 4));
        t.Set(Trigger::kCVTriggerEnable, static_cast<float>(b / 4 % 2));
        t.Midi(b * 7 % 512, 0x90, 60, 100);
        t.Midi(b * 11 % 512, 0x80, 60, 0);
        if (b == 20)
            t->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0);
        s.Set(Sync::kHardwareMode, static_cast<float>(b % 3));
        s.Set(Sync::kClockOutput, static_cast<float>(b % 55));
        s.Set(Sync::kSwing, b % 2 ? 70.0f : 50.0f);
        s.Midi(100, 0x90, 60, 100); // cuts the block
        Playing(0)(static_cast<int64_t>(b) * 512);
        t.Run(512, input);
        s.Run(512, input);
    }
    EXPECT_EQ(t.allocations, 0);
    EXPECT_EQ(s.allocations, 0);
}

} // namespace
