// The Voice Controller's calibration, built in-process: the built-in tables
// through queued commands, the auto-calibration against a simulated
// oscillator, and the calibration records and values of a saved state.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <thread>
#include <vector>

#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/plugins/VoiceControllerInProcessHarness.h"
#include "tests/plugins/VoiceControllerTestSupport.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace vctest;
using namespace vcinprocess;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// ---- calibration -------------------------------------------------------------

TEST(VoiceControllerInProcess, BuiltInTablesAreBuiltOnTheAudioThread)
{
    Vc vc;
    std::thread([&] { vc.Command(kObryProperty_LoadBrinkCalibration); }).join();
    EXPECT_FALSE(vc->Calibration().IsValid(48)); // only queued
    vc.Run(32);
    EXPECT_TRUE(vc->Calibration().IsValid(48));
    EXPECT_FALSE(vc->Calibration().IsValid(112));
    EXPECT_NEAR(vc->Calibration().Value(111), 63.0 / 63.75, 1e-6);
    // The Voice Controller names nothing by itself.
    EXPECT_EQ(Name(*vc), "");
    EXPECT_EQ(Property<uint64_t>(*vc, kObryProperty_CalibrationSource), 0u);

    vc.Command(kObryProperty_LoadDunmoreCalibration);
    vc.Note(72);
    const Out out = vc.Run(256);
    EXPECT_TRUE(vc->Calibration().IsValid(0));
    EXPECT_FALSE(vc->Calibration().IsValid(124));
    EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(72), 1e-6);
}

TEST(VoiceControllerInProcess, EmptyCalibrationGivesZeroPitchForEveryNote)
{
    Vc vc;
    for (int note : {0, 37, 60, 127}) {
        vc.Note(note);
        const Out out = vc.Run(128);
        for (float v : out.ch[0])
            ASSERT_EQ(v, 0.0f) << note;
    }
}

// A simulated oscillator on the input: its frequency follows the level the
// plug-in put on output 1 at the end of the previous block.
struct Oscillator {
    std::function<double(float level)> frequency;
    double phase = 0.0;
    float level = 0.0f;
    float Next(double rate)
    {
        phase += frequency(level) / rate;
        phase -= std::floor(phase);
        return static_cast<float>(std::sin(2.0 * std::numbers::pi * phase));
    }
};

// Runs until the auto-calibration has ended (or a minute of audio passed).
void Calibrate(Vc& vc, Oscillator& osc, uint32_t command, const std::function<float(float)>& broken = {})
{
    vc.Command(command);
    std::vector<float> in(512);
    std::vector<std::vector<float>> buffers(6, std::vector<float>(512));
    float* outputs[6];
    for (int c = 0; c < 6; ++c)
        outputs[c] = buffers[static_cast<size_t>(c)].data();
    bool started = false;
    for (int b = 0; b < 48000 * 60 / 512; ++b) {
        for (float& x : in)
            x = broken ? broken(osc.Next(48000)) : osc.Next(48000);
        vc.Block(in.data(), 512, outputs);
        osc.level = outputs[0][511];
        for (int c = 0; c < 6; ++c)
            for (float v : buffers[static_cast<size_t>(c)])
                ASSERT_TRUE(std::isfinite(v));
        if (vc->Mode() == ObryCorvane::kCalibrating)
            started = true;
        else if (started)
            return;
    }
    ADD_FAILURE() << "the calibration did not end";
}

void CountCall(void* refcon, ObryAuBase*, uint32_t, uint32_t, uint32_t)
{
    auto* calls = static_cast<std::vector<std::thread::id>*>(refcon);
    calls->push_back(std::this_thread::get_id());
}

TEST(VoiceControllerInProcess, AutoCalibrationInVoltsPerOctave)
{
    Vc vc;
    std::vector<std::thread::id> calls;
    ASSERT_EQ(vc->AddPropertyListener(kObryProperty_CalibrationName, CountCall, &calls), 0);
    // 1 V/oct: level -1 plays note 20.5, +1 note 100.5.
    Oscillator osc{[](float level) { return 440.0 * std::pow(2.0, (60.5 + 40.0 * level - 69.0) / 12.0); }};
    Calibrate(vc, osc, kObryProperty_CalibrateVoltsPerOctave);
    const CalibrationTable& t = vc->Calibration();
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(t.IsValid(i), i >= 21 && i <= 100) << i;
        if (i >= 21 && i <= 100) {
            EXPECT_NEAR(t.Value(i), (i - 60.5) / 40.0, 1e-3) << i;
        }
        else if (i < 21)
            EXPECT_EQ(t.Value(i), t.Value(i + 12 * ((21 - i + 11) / 12))) << i; // the octave(s) inside
        else
            EXPECT_EQ(t.Value(i), t.Value(i - 12 * ((i - 100 + 11) / 12))) << i;
    }
    // The name "<>" is there to read at once, and the listeners hear of it
    // only on a thread that asks, never on the audio thread.
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(Name(*vc), "<>");
    EXPECT_NE(Property<uint64_t>(*vc, kObryProperty_CalibrationSource), 0u);
    vc->PollCalibrationName();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::this_thread::get_id());
    vc->PollCalibrationName();
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Name(*vc), "<>");

    // Back to playing, through the new table.
    vc.Note(72);
    const Out out = vc.Run(512);
    EXPECT_NEAR(Last(out.ch[0]), (72 - 60.5) / 40.0, 1e-3);
    vc->RemovePropertyListener(kObryProperty_CalibrationName, CountCall);
}

TEST(VoiceControllerInProcess, AutoCalibrationInHertzPerVolt)
{
    Vc vc;
    Oscillator osc{[](float level) { return 440.0 + 380.0 * level; }}; // 60 .. 820 Hz
    Calibrate(vc, osc, kObryProperty_CalibrateHzPerVolt);
    const CalibrationTable& t = vc->Calibration();
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(t.IsValid(i), i >= 35 && i <= 79) << i; // 60 Hz is note 34.5, 820 Hz note 79.8
        if (t.IsValid(i)) {
            EXPECT_NEAR(t.Value(i), (440.0 * std::pow(2.0, (i - 69) / 12.0) - 440.0) / 380.0, 2e-3) << i;
        }
    }
}

// An oscillator that is not there (silence, or samples that are no
// numbers): no point is measured, nothing is valid, and the calibration
// still ends with the outputs finite.
TEST(VoiceControllerInProcess, AutoCalibrationWithoutAnOscillator)
{
    const std::function<float(float)> inputs[] = {
        [](float) { return 0.0f; },
        [](float x) { return x > 0.9f ? kInf : (x < -0.9f ? -kInf : (x > 0.5f ? kNaN : x)); },
    };
    for (const auto& broken : inputs) {
        Vc vc;
        vc.Command(kObryProperty_LoadDunmoreCalibration);
        Oscillator osc{[](float) { return 200.0; }};
        Calibrate(vc, osc, kObryProperty_CalibrateVoltsPerOctave, broken);
        for (int i = 0; i < CalibrationTableLength; ++i)
            EXPECT_FALSE(vc->Calibration().IsValid(i)) << i;
        EXPECT_EQ(vc->Mode(), ObryCorvane::kNormal);
    }
}

// While calibrating, notes reach only the scripts.
TEST(VoiceControllerInProcess, NotesWaitWhileCalibrating)
{
    Vc vc;
    vc.Command(kObryProperty_CalibrateVoltsPerOctave);
    vc.Run(512);
    ASSERT_EQ(vc->Mode(), ObryCorvane::kCalibrating);
    vc.Note(60);
    const Out out = vc.Run(1024);
    EXPECT_FALSE(vc->GateOpen());
    EXPECT_EQ(vc->HeldCount(), 0);
    EXPECT_EQ(Last(out.ch[0]), -1.0f); // the first level
    EXPECT_EQ(Last(out.ch[1]), 1.0f);  // the gate held open
    EXPECT_EQ(Last(out.ch[2]), 1.0f);  // envelopes at 1
    EXPECT_EQ(Last(out.ch[5]), 0.0f);  // trigger off
}

// ---- state ---------------------------------------------------------------------

TEST(VoiceControllerInProcess, CalibrationRecordsRoundTripIntoAFreshInstance)
{
    Vc a = WithDunmoreTable();
    ASSERT_EQ(a->SetProperty(kObryProperty_CalibrationName, 0, 0, "dunmore.cal", 12), 0);
    void* data = nullptr;
    const int32_t size = a->getChunk(&data, false);
    ASSERT_GT(size, 0);
    const std::vector<uint8_t> state(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

    Vc b;
    std::vector<std::thread::id> calls;
    b->AddPropertyListener(kObryProperty_CalibrationName, CountCall, &calls);
    ASSERT_EQ(b->setChunk(const_cast<uint8_t*>(state.data()), size, false), 1);
    EXPECT_EQ(calls.size(), 1u); // editors hear of the restored name
    EXPECT_EQ(Name(*b), "dunmore.cal");
    EXPECT_NE(Property<uint64_t>(*b, kObryProperty_CalibrationSource), 0u);
    for (int i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(b->Calibration().Value(i), a->Calibration().Value(i)) << i;
        EXPECT_EQ(b->Calibration().IsValid(i), a->Calibration().IsValid(i)) << i;
    }
    b->RemovePropertyListener(kObryProperty_CalibrationName, CountCall);

    // A state saved before any calibration was named offers nothing to transfer.
    Vc c;
    void* plain = nullptr;
    const int32_t plainSize = c->getChunk(&plain, false);
    const std::vector<uint8_t> plainState(static_cast<uint8_t*>(plain), static_cast<uint8_t*>(plain) + plainSize);
    Vc d;
    ASSERT_EQ(d->setChunk(const_cast<uint8_t*>(plainState.data()), plainSize, false), 1);
    EXPECT_EQ(Property<uint64_t>(*d, kObryProperty_CalibrationSource), 0u);
}

TEST(VoiceControllerInProcess, RestoredProgramValuesAreHeldToTheirRanges)
{
    Vc vc;
    void* data = nullptr;
    const int32_t size = vc->getChunk(&data, false);
    std::vector<uint8_t> state(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
    std::vector<Record> records = ParseState(state);
    for (Record& r : records) {
        if (r.tag != Tag("chnk"))
            continue;
        SetF32(&r.payload[kParamsOffset + 4 * kNotePriority], 1e9f);
        SetF32(&r.payload[kParamsOffset + 4 * kPortamentoMode], -7);
        SetF32(&r.payload[kParamsOffset + 4 * kEnv1Multiplier], kNaN);
        SetF32(&r.payload[kParamsOffset + 4 * kPitchLFOSpeed], kInf);
        SetF32(&r.payload[kCalibrationOffset + 4 * 60], kNaN);
        SetF32(&r.payload[kCalibrationOffset + 4 * 61], 0.25f);
    }
    state = BuildState(records);
    Vc fresh;
    ASSERT_EQ(fresh->setChunk(state.data(), static_cast<int32_t>(state.size()), false), 1);
    EXPECT_EQ(fresh->GetParameterReal(kNotePriority), 2.0f);
    EXPECT_EQ(fresh->GetParameterReal(kPortamentoMode), 0.0f);
    EXPECT_EQ(fresh->GetParameterReal(kEnv1Multiplier), 1.0f);
    EXPECT_EQ(fresh->GetParameterReal(kPitchLFOSpeed), 20.0f);
    EXPECT_EQ(fresh->Calibration().Value(60), 0.0f);
    EXPECT_FALSE(fresh->Calibration().IsValid(60));
    EXPECT_EQ(fresh->Calibration().Value(61), 0.25f);
    fresh.Note(60);
    fresh.Set(kDetune, 50);
    const Out out = fresh.Run(4096);
    EXPECT_TRUE(out.Finite());
    EXPECT_NEAR(Last(out.ch[0]), 0.125f, 1e-6f); // half-way between 0 and 0.25
}

} // namespace
