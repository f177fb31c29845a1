// The Voice Controller built in-process: its parameter table, value texts
// and properties, the output arrangement preference, notes to pitch, gate,
// trigger and velocity with each priority and retrigger mode, the pedal and
// all notes off, pitch bend, portamento, envelopes, indicators, Brink data
// words, events at their own sample and an audio path that allocates nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "framework/FastSine.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/BrinkTestSupport.h"
#include "tests/plugins/VoiceControllerInProcessHarness.h"
#include "tests/plugins/VoiceControllerTestSupport.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace vctest;
using namespace vcinprocess;

// ---- what it tells the host and the editor ----------------------------------

TEST(VoiceControllerInProcess, PropertiesAnswerAsDescribed)
{
    Vc vc;
    struct Info {
        uint32_t id;
        uint32_t size;
        uint8_t writable;
    };
    const Info infos[] = {
        {64015, 8, 0}, {64016, 8, 0}, {64017, 8, 0}, {64018, 4, 0}, {64019, 4, 0}, {64020, 8, 0},
        {64090, 1, 1}, {64091, 1, 1}, {64092, 1, 1}, {64093, 1, 1}, {64094, 1, 1}, {64121, 1, 1},
        {64008, 1, 1}, {64007, 4, 0},
    };
    for (const Info& i : infos) {
        uint32_t size = 99;
        uint8_t writable = 99;
        EXPECT_EQ(vc->GetPropertyInfo(i.id, 0, 0, &size, &writable), 0) << i.id;
        EXPECT_EQ(size, i.size) << i.id;
        EXPECT_EQ(writable, i.writable) << i.id;
    }
    uint32_t size = 0;
    EXPECT_EQ(vc->GetPropertyInfo(64012, 0, 0, &size, nullptr), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->GetPropertyInfo(64100, 0, 0, &size, nullptr), kAudioUnitErr_InvalidProperty);

    struct Layout {
        int32_t first, count;
    };
    const Layout layout = Property<Layout>(*vc, kObryProperty_EnvelopeLayout);
    EXPECT_EQ(layout.first, 12);
    EXPECT_EQ(layout.count, 14);
    EXPECT_EQ(Property<const CalibrationEntry*>(*vc, kObryProperty_CalibrationValues), vc->Calibration().entries);
    EXPECT_EQ(Property<const uint8_t*>(*vc, kObryProperty_CalibrationValid), vc->Calibration().valid);
    EXPECT_EQ(Property<uint32_t>(*vc, kObryProperty_CalibrationLength), 129u);
    EXPECT_EQ(Property<uint64_t>(*vc, kObryProperty_CalibrationSource), 0u);
    EXPECT_EQ(Name(*vc), "");
    EXPECT_EQ(vc->GetProperty(kObryProperty_CalibrationName, 0, 0, nullptr), kAudioUnitErr_InvalidProperty);

    // The role follows Poly Mode from the next sub-block: none, master (-1,
    // output 2 reserved and 0), voice (its number; its own MIDI still plays).
    struct RoleCase {
        float mode;
        int32_t role;
        int32_t processing;
        float gateOutput;
    };
    for (const RoleCase& c : {RoleCase{0, 0, ObryCorvane::kNormal, 1.0f}, RoleCase{1, -1, ObryCorvane::kMaster, 0.0f},
                              RoleCase{2, 5, ObryCorvane::kNormal, 1.0f}}) {
        vc.Set(kPolyMode, c.mode);
        vc.Set(kPolyphonyVoice, 5);
        vc.Note(60);
        const Out out = vc.Run(256);
        EXPECT_EQ(Property<int32_t>(*vc, kObryProperty_VoiceRole), c.role) << c.mode;
        EXPECT_EQ(vc->Mode(), c.processing) << c.mode;
        EXPECT_EQ(Last(out.ch[1]), c.gateOutput) << c.mode;
        vc.Off(60);
    }
    vc.Set(kPolyMode, 0);
    vc.Run(1);

    // The name: up to its NUL or its size, whichever comes first.
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationName, 0, 0, "my.cal", 7), 0);
    EXPECT_EQ(Name(*vc), "my.cal");
    const uint64_t stamp = Property<uint64_t>(*vc, kObryProperty_CalibrationSource);
    EXPECT_GE(stamp, static_cast<uint64_t>(before));
    // time() reads a coarser clock that may still show the previous second.
    EXPECT_LE(stamp, static_cast<uint64_t>(std::time(nullptr)) + 1);
    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationName, 0, 0, "abcdef", 3), 0);
    EXPECT_EQ(Name(*vc), "abc");
    // An empty name marks no calibration to transfer.
    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationName, 0, 0, "", 1), 0);
    EXPECT_EQ(Name(*vc), "");
    EXPECT_EQ(Property<uint64_t>(*vc, kObryProperty_CalibrationSource), 0u);

    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationName, 0, 0, nullptr, 5), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationName, 1, 0, "x", 2), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->SetProperty(kObryProperty_LoadBrinkCalibration, 1, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->SetProperty(kObryProperty_CalibrationValues, 0, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->SetProperty(64100, 0, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(vc->SetProperty(kObryProperty_ReapplyPortOffset, 0, 0, nullptr, 0), 0);
}

TEST(VoiceControllerInProcess, OutputArrangementPreference)
{
    struct Case {
        const char* preference; // null: none written
        bool answers;
        int32_t evenFlags, oddFlags, type;
    };
    const Case cases[] = {
        {nullptr, true, kVstPinIsActive | kVstPinIsStereo, kVstPinIsActive, 1},
        {"1", true, kVstPinIsActive | kVstPinIsStereo, kVstPinIsActive, 1},
        {"2", true, kVstPinIsActive, kVstPinIsActive, 0},
        {"0", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preference ? c.preference : "none");
        corvane::test::ScopedUserFolders folders;
        if (c.preference)
            folders.WritePreference("VC output arrangement", c.preference);
        Vc vc;
        for (int32_t index = 0; index < 6; ++index) {
            VstPinProperties pin{};
            ASSERT_EQ(vc->getOutputProperties(index, &pin), c.answers) << index;
            if (!c.answers)
                continue;
            EXPECT_EQ(std::string(pin.label), std::to_string(index + 1));
            EXPECT_EQ(std::string(pin.shortLabel), std::to_string(index + 1));
            EXPECT_EQ(pin.flags, index % 2 == 0 ? c.evenFlags : c.oddFlags) << index;
            EXPECT_EQ(pin.arrangementType, c.type);
        }
        VstPinProperties pin{};
        EXPECT_FALSE(vc->getOutputProperties(6, &pin));
        EXPECT_FALSE(vc->getOutputProperties(-1, &pin));
        EXPECT_FALSE(vc->getOutputProperties(0, nullptr));
        // Read once for the life of the instance.
        folders.WritePreference("VC output arrangement", c.answers ? "0" : "2");
        EXPECT_EQ(vc->getOutputProperties(0, &pin), c.answers);
    }
}

// ---- notes -------------------------------------------------------------------

TEST(VoiceControllerInProcess, NotePriorityAndRetrigger)
{
    struct Case {
        const char* what;
        float priority, retrigger;
        std::function<void(Vc&)> play; // after the keys before it have settled
        int pitch;                     // sounding at the end
        int triggers;                  // pulses in the last step
        int stage;                     // of envelope 1 right after the last step's events
    };
    const Case cases[] = {
        {"Lowest, release the lowest, Retrig Off", 1, 1, [](Vc& vc) { vc.Off(60); }, 64, 0, Envelope::kSustain},
        {"Lowest, release the lowest, Retrig On", 1, 0, [](Vc& vc) { vc.Off(60); }, 64, 1, Envelope::kA2},
        {"Lowest, release a higher key", 1, 0, [](Vc& vc) { vc.Off(67); }, 60, 0, Envelope::kSustain},
        {"Highest, release the highest", 2, 0, [](Vc& vc) { vc.Off(67); }, 64, 1, Envelope::kA2},
        {"Newest, a new key", 0, 0, [](Vc& vc) { vc.Note(50); }, 50, 1, Envelope::kA2},
        {"Newest, release the newest", 0, 0, [](Vc& vc) { vc.Off(64); }, 67, 1, Envelope::kA2},
        {"Newest, release an older key", 0, 0, [](Vc& vc) { vc.Off(67); }, 64, 0, Envelope::kSustain},
        {"Newest, legato with Retrig Off", 0, 1, [](Vc& vc) { vc.Note(50); }, 50, 0, Envelope::kSustain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Vc vc = WithDunmoreTable();
        vc.Set(kNotePriority, c.priority);
        vc.Set(kRetriggerMode, c.retrigger);
        vc.Note(60);
        vc.Run(256);
        vc.Note(67);
        vc.Run(256);
        vc.Note(64);
        vc.Run(48000); // all envelopes in sustain
        ASSERT_EQ(vc->EnvelopeAt(0).CurrentStage(), Envelope::kSustain);
        c.play(vc);
        const Out first = vc.Run(2);
        // A retriggered envelope starts from where it was; with no A1 time
        // it goes straight on in A2.
        EXPECT_EQ(vc->EnvelopeAt(0).CurrentStage(), c.stage);
        EXPECT_NEAR(first.ch[2][0], 0.5f, 1e-3f);
        Out out = vc.Run(4096);
        Out whole = first;
        whole.ch[5].insert(whole.ch[5].end(), out.ch[5].begin(), out.ch[5].end());
        EXPECT_EQ(whole.Rises(5), c.triggers);
        EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(c.pitch), 1e-6);
        EXPECT_EQ(Last(out.ch[1]), 1.0f);
        if (c.triggers == 1) { // A2 from 0.5 to 1 took half its time
            EXPECT_NEAR(*std::max_element(out.ch[2].begin(), out.ch[2].end()), 1.0f, 1e-3f);
        }
    }
}

// Keys A and B, A released, C pressed: B and C carry the same order number,
// so after a newer key D goes the lower of the two sounds.
TEST(VoiceControllerInProcess, NewestFallsBackToTheLowerOfTwoEquallyNewKeys)
{
    Vc vc = WithDunmoreTable();
    vc.Note(60);
    vc.Note(64, 100, 10);
    vc.Off(60, 20);
    vc.Note(62, 100, 30);
    vc.Note(50, 100, 40);
    Out out = vc.Run(256);
    EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(50), 1e-6);
    vc.Off(50);
    out = vc.Run(256);
    EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(62), 1e-6);
    vc.Off(62);
    out = vc.Run(256);
    EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(64), 1e-6);
    vc.Off(64);
    out = vc.Run(256);
    EXPECT_EQ(Last(out.ch[1]), 0.0f);
}

TEST(VoiceControllerInProcess, VelocityAndGateVoltages)
{
    Vc vc;
    vc.Set(kOutput1 + 1, 0);   // Output 1 Pitch
    vc.Set(kOutput1 + 7, 1);   // Output 1 Velocity
    vc.Set(kGateClosedVoltage, -0.25f);
    vc.Set(kGateOpenVoltage, 0.75f);
    vc.Set(kTriggerOnVoltage, -1);
    vc.Set(kTriggerOffVoltage, 0.5f);
    Out out = vc.Run(16);
    EXPECT_EQ(Last(out.ch[1]), -0.25f);
    EXPECT_EQ(Last(out.ch[5]), 0.5f);
    for (int velocity : {1, 64, 127}) {
        vc.Note(60, velocity);
        out = vc.Run(256);
        EXPECT_NEAR(Last(out.ch[0]), -1.0f + 2.0f * velocity / 127.0f, 1e-6) << velocity;
        EXPECT_EQ(out.ch[5][0], -1.0f);
        EXPECT_EQ(Last(out.ch[5]), 0.5f);
        EXPECT_EQ(Last(out.ch[1]), 0.75f);
        vc.Off(60);
        out = vc.Run(16);
        EXPECT_EQ(Last(out.ch[1]), -0.25f);
    }
    // Override Gate puts its own value on the gate.
    vc.Set(kOverrideGate, 1);
    vc.Set(kGate, 0.3f);
    out = vc.Run(16);
    EXPECT_NEAR(Last(out.ch[1]), 0.3f, 1e-6);
    // Override Pitch plays the Pitch parameter.
    Vc pitch = WithDunmoreTable();
    pitch.Set(kOverridePitch, 1);
    pitch.Set(kPitch, 40);
    out = pitch.Run(16);
    EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(40), 1e-5);
}

TEST(VoiceControllerInProcess, TriggerLengthIsAtLeastOneSample)
{
    struct Case {
        float milliseconds;
        int samples;
    };
    const Case cases[] = {{0.2f, 9}, {0, 1}, {0.01f, 1}, {1, 48}, {100, 4800}};
    for (const Case& c : cases) {
        Vc vc;
        vc.Set(kTriggerLength, c.milliseconds);
        vc.Run(16);
        vc.Note(60, 100, 3);
        const Out out = vc.Run(8000);
        const auto on = std::count(out.ch[5].begin(), out.ch[5].end(), 1.0f);
        // Whole samples of a time that went through the host's 0..1 scale.
        EXPECT_NEAR(on, c.samples, c.samples > 9 ? 1 : 0) << c.milliseconds;
        EXPECT_EQ(out.ch[5][3], 1.0f);
    }
}

TEST(VoiceControllerInProcess, PitchBendDetuneTransposeAndIndicators)
{
    struct Case {
        int bend; // 14 bits
        float range, detune, transpose;
        int note;
        double pitch;
    };
    const Case cases[] = {
        {16383, 2, 0, 0, 60, 60 + 2.0 * 8191 / 8192},
        {0, 2, 0, 0, 60, 58},
        {8192, 48, 0, 0, 60, 60},
        {0, 48, 0, 0, 30, 0},       // held to note 0
        {16383, 12, 0, 0, 90, 101.99853515625},
        {8192, 2, 50, 12, 60, 72.5},
        {8192, 2, -100, 48, 100, 127}, // held to note 127
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "bend " << c.bend << " note " << c.note);
        Vc vc = WithDunmoreTable();
        vc.Set(kPitchWheelRange, c.range);
        vc.Set(kDetune, c.detune);
        vc.Set(kTranspose, c.transpose);
        vc.Note(c.note);
        vc.Midi(0, 0xE0, c.bend & 0x7F, c.bend >> 7);
        const Out out = vc.Run(64);
        const float expected = vc->Calibration().Lookup(static_cast<float>(c.pitch));
        EXPECT_NEAR(Last(out.ch[0]), expected, 1e-6);
        EXPECT_NEAR(corvane::test::ReadIndicator<float>(*vc, 2), c.pitch, 1e-4);
        EXPECT_NEAR(corvane::test::ReadIndicator<float>(*vc, 3), expected, 1e-6);
    }
}

TEST(VoiceControllerInProcess, PitchLfoAndRandomTuningStayNearTheNote)
{
    Vc vc = WithDunmoreTable();
    vc.Set(kPitchLFODepth, 100);
    vc.Set(kPitchLFOSpeed, 20);
    vc.Set(kRandomTuning, 10);
    float low = 1e9f, high = -1e9f;
    for (int k = 0; k < 50; ++k) {
        vc.Note(60, 100, 0);
        vc.Note(61, 100, 100); // a new random value per note
        const Out out = vc.Run(200);
        vc.Off(60);
        vc.Off(61);
        for (float v : out.ch[0]) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    // One semitone of vibrato and 0.1 semitone of random tuning either way.
    EXPECT_GE(low, DunmoreValue(60 - 1.1) - 1e-5);
    EXPECT_LE(high, DunmoreValue(61 + 1.1) + 1e-5);
    EXPECT_LT(low, DunmoreValue(59.5));
    EXPECT_GT(high, DunmoreValue(61.5));
}

// The vibrato's phase step of a block is kept while the block's length, the
// rate and the speed stay: every change of one shows in the next block's
// pitch, with the bits of the step made anew.
TEST(VoiceControllerInProcess, PitchLfoPhaseFollowsEverySpeedAndBlockLength)
{
    struct Step {
        float speed;
        int32_t frames;
    };
    const Step steps[] = {{5, 64},     {5, 64},  {20, 64},    {20, 64}, {0.05f, 64}, {0.05f, 16},
                          {7.25f, 16}, {7.25f, 64}, {20, 7}, {5, 7},      {5, 500},   {19.5f, 500}};
    Vc vc;
    vc.Set(kPitchLFODepth, 100);
    float phase = 0.0f;
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "speed " << step.speed << ", " << step.frames << " frames");
        vc.Set(kPitchLFOSpeed, step.speed);
        vc.Run(step.frames);
        const float speed = vc->GetParameterReal(kPitchLFOSpeed); // as stored, a step off on the log scale
        ASSERT_NEAR(speed, step.speed, 1e-5f * step.speed);
        double next = phase + step.frames / 48000.0 * speed;
        next -= std::floor(next);
        phase = static_cast<float>(next);
        // Note 60, no detune or transposition.
        const float pitch = 60.0f + (FastSine(phase) * 100.0f + 0.0f) * 0.01f + 0.0f;
        EXPECT_EQ(corvane::test::ReadIndicator<float>(*vc, 2), pitch);
    }
}

TEST(VoiceControllerInProcess, SustainPedalAndAllNotesOff)
{
    {
        SCOPED_TRACE("pedal holds the released key until it goes up");
        Vc vc;
        vc.Note(60);
        vc.Run(20000);
        vc.Cc(64, 127);
        vc.Off(60);
        Out out = vc.Run(20000);
        EXPECT_EQ(Last(out.ch[1]), 1.0f);
        EXPECT_EQ(vc->EnvelopeAt(0).CurrentStage(), Envelope::kSustain);
        vc.Cc(64, 0);
        out = vc.Run(16);
        EXPECT_EQ(Last(out.ch[1]), 0.0f);
        EXPECT_EQ(vc->EnvelopeAt(0).CurrentStage(), Envelope::kR1);
    }
    {
        SCOPED_TRACE("a pedal value of 64 is down; up while a key is held keeps the gate");
        Vc vc;
        vc.Note(60);
        vc.Run(20000);
        vc.Cc(64, 64);
        vc.Off(60);
        Out out = vc.Run(1000);
        EXPECT_EQ(Last(out.ch[1]), 1.0f);
        vc.Note(62);
        vc.Cc(64, 0);
        out = vc.Run(1000);
        EXPECT_EQ(Last(out.ch[1]), 1.0f);
    }
    {
        SCOPED_TRACE("all notes off with keys held");
        Vc vc = WithDunmoreTable();
        vc.Note(60);
        vc.Note(64);
        vc.Note(67);
        vc.Run(20000);
        vc.Cc(123, 0);
        const Out out = vc.Run(16);
        EXPECT_EQ(Last(out.ch[1]), 0.0f);
        EXPECT_EQ(vc->HeldCount(), 0);
        EXPECT_EQ(vc->EnvelopeAt(2).CurrentStage(), Envelope::kR1);
    }
    {
        SCOPED_TRACE("all notes off under the pedal: the pedal still ends the voice");
        Vc vc;
        vc.Note(60);
        vc.Run(20000);
        vc.Cc(64, 100);
        vc.Cc(123, 0);
        Out out = vc.Run(1000);
        EXPECT_EQ(vc->HeldCount(), 0);
        EXPECT_EQ(Last(out.ch[1]), 1.0f);
        vc.Cc(64, 0);
        out = vc.Run(20000);
        EXPECT_EQ(Last(out.ch[1]), 0.0f);
        EXPECT_NEAR(Last(out.ch[2]), 0.0f, 1e-6);
        EXPECT_EQ(vc->EnvelopeAt(0).CurrentStage(), Envelope::kIdle);
    }
    for (const bool panic : {false, true}) {
        SCOPED_TRACE(panic ? "the panic property" : "controller 120");
        Vc vc = WithDunmoreTable();
        vc.Note(72);
        vc.Cc(64, 127);
        vc.Run(20000);
        if (panic)
            vc.Command(kObryProperty_AllSoundOff);
        else
            vc.Cc(120, 0);
        const Out out = vc.Run(16);
        EXPECT_EQ(out.ch[1][0], 0.0f);
        EXPECT_EQ(out.ch[2][0], 0.0f);
        EXPECT_EQ(vc->CurrentNote(), 60.0f);
        EXPECT_NEAR(Last(out.ch[0]), DunmoreValue(60), 1e-6);
        vc.Off(72); // the pedal was reset too: nothing holds a new note
        vc.Note(50);
        vc.Off(50, 8);
        const Out after = vc.Run(16);
        EXPECT_EQ(Last(after.ch[1]), 0.0f);
    }
}

// ---- portamento --------------------------------------------------------------

TEST(VoiceControllerInProcess, FingeredPortamentoGlidesOnlyFromAHeldKey)
{
    Vc vc = WithDunmoreTable();
    vc.Set(kPortamentoMode, 2);
    vc.Set(kPortamentoTime, 0.1f);
    vc.Note(60);
    Out out = vc.Run(512);
    EXPECT_EQ(out.ch[0][0], DunmoreValue(60)); // a single key: no glide
    vc.Note(72);
    out = vc.Run(2048);
    const double coef = std::exp(-4.0 / (0.1f * 48000.0));
    const double from = DunmoreValue(60), to = DunmoreValue(72);
    for (int i : {0, 1, 100, 1000, 2047})
        EXPECT_NEAR(out.ch[0][static_cast<size_t>(i)], to + (from - to) * std::pow(coef, i + 1), 1e-5) << i;
    vc.Off(60);
    vc.Off(72);
    vc.Note(48); // no key held: no glide
    out = vc.Run(16);
    EXPECT_EQ(out.ch[0][0], DunmoreValue(48));
}

TEST(VoiceControllerInProcess, ConstantTimePortamento)
{
    {
        SCOPED_TRACE("CT Auto with no time: no glide");
        Vc vc = WithDunmoreTable();
        vc.Set(kPortamentoMode, 3);
        vc.Set(kPortamentoTime, 0);
        vc.Note(60);
        vc.Run(256);
        vc.Note(72);
        const Out out = vc.Run(16);
        EXPECT_EQ(out.ch[0][0], DunmoreValue(72));
    }
    {
        SCOPED_TRACE("CT Auto, 10 ms, straight");
        Vc vc = WithDunmoreTable();
        vc.Set(kPortamentoMode, 3);
        vc.Set(kPortamentoTime, 0.01f);
        // About 480 samples: the whole samples of the time as it came
        // through the host's 0..1 scale.
        const auto length = static_cast<int>(vc->GetParameterReal(kPortamentoTime) * 48000.0);
        ASSERT_NEAR(length, 480, 1);
        vc.Note(48);
        vc.Run(1024);
        vc.Note(72);
        const Out out = vc.Run(1024);
        const double from = DunmoreValue(48), to = DunmoreValue(72);
        for (int i : {0, 120, 240, length - 1}) {
            EXPECT_NEAR(out.ch[0][static_cast<size_t>(i)], to + (from - to) * (length - i) / length, 1e-5) << i;
        }
        EXPECT_EQ(out.ch[0][static_cast<size_t>(length)], static_cast<float>(to));
    }
    {
        SCOPED_TRACE("CT Auto, shape 1: a parabola");
        Vc vc = WithDunmoreTable();
        vc.Set(kPortamentoMode, 3);
        vc.Set(kPortamentoTime, 0.01f);
        vc.Set(kPortamentoShape, 1);
        const auto length = static_cast<int>(vc->GetParameterReal(kPortamentoTime) * 48000.0);
        vc.Note(48);
        vc.Run(1024);
        vc.Note(72);
        const Out out = vc.Run(1024);
        const double from = DunmoreValue(48), to = DunmoreValue(72);
        const double t = (length - 240.0) / length;
        EXPECT_NEAR(out.ch[0][240], to + (from - to) * t * t, 1e-5);
    }
    {
        SCOPED_TRACE("a glide whose time is shortened under way stays between its ends");
        Vc vc = WithDunmoreTable();
        vc.Set(kPortamentoMode, 4);
        vc.Set(kPortamentoTime, 10);
        vc.Set(kPortamentoShape, 1);
        vc.Note(60);
        vc.Run(1024);
        vc.Note(72);
        const Out before = vc.Run(48000);
        vc.Set(kPortamentoTime, 0.01f);
        const Out out = vc.Run(2048);
        EXPECT_NEAR(out.ch[0][0], Last(before.ch[0]), 1e-3f); // goes on from where it was
        for (float v : out.ch[0]) {
            ASSERT_GE(v, DunmoreValue(60) - 1e-6f);
            ASSERT_LE(v, DunmoreValue(72) + 1e-6f);
        }
        EXPECT_EQ(Last(out.ch[0]), DunmoreValue(72));
    }
}

// ---- envelopes, indicators, Brink ---------------------------------------------

TEST(VoiceControllerInProcess, EnvelopeMultiplierAndVelocityDepth)
{
    struct Case {
        float multiplier;
        int peak; // sample of A2's end after the note at 0
    };
    for (const Case& c : {Case{0, 480}, Case{1, 4800}, Case{2, 48000}}) {
        Vc vc;
        vc.Set(kEnv1Multiplier, c.multiplier);
        vc.Note(60);
        const Out out = vc.Run(c.peak + 100);
        EXPECT_NEAR(out.ch[2][static_cast<size_t>(c.peak)], 1.0f, 1e-4f) << c.multiplier;
        EXPECT_LT(out.ch[2][static_cast<size_t>(c.peak / 2)], 0.3f);
        EXPECT_NEAR(out.ch[3][static_cast<size_t>(480)], 0.01f, 1e-4f); // envelope 2 keeps "1"
    }
    Vc vc;
    vc.Set(kEnv1VelocityDepth, -1);
    vc.Set(kEnv1VelocityDepth + 1, 1);
    vc.Note(60, 127);
    Out out = vc.Run(20000);
    EXPECT_EQ(*std::max_element(out.ch[2].begin(), out.ch[2].end()), 0.0f); // scaled by 1 + (-1) x 1
    EXPECT_NEAR(Last(out.ch[3]), 0.5f, 1e-5f);                                // scaled by 1 x 1 + 1 - 1
    EXPECT_NEAR(corvane::test::ReadIndicator<float>(*vc, 4 + 2 * 1 + 1), 0.5f, 1e-5f);
    EXPECT_NEAR(corvane::test::ReadIndicator<float>(*vc, 4 + 2 * 1), 0.2 / 1.3, 1e-5); // sustain position
    vc.Off(60);
    vc.Run(20000); // released to 0
    vc.Note(60, 1);
    out = vc.Run(20000);
    EXPECT_NEAR(Last(out.ch[3]), 0.5f / 127.0f, 1e-5f);
}

TEST(VoiceControllerInProcess, BrinkModePacksTheFirstFiveOutputs)
{
    struct Case {
        float offsets[5];
        bool bipolar3;
        uint8_t bytes[5];
    };
    const Case cases[] = {
        {{0.2f, 1, -1, 0.5f, -0.3f}, true, {51, 255, 1, 128, 0}},
        {{0, 0, 0, 2, 1}, true, {0, 0, 128, 255, 255}},
        {{0, 0, 1, 0, 0}, true, {0, 0, 255, 0, 0}},
        {{0, 0, -1, 0, 0}, false, {0, 0, 0, 0, 0}},
        {{0.1f, 0.6f, 0.5f, 0.25f, 0.75f}, false, {26, 153, 128, 64, 191}},
    };
    for (const Case& c : cases) {
        Vc vc;
        vc.Set(kBrinkMode, 1);
        vc.Set(kBipolar3, c.bipolar3 ? 1.0f : 0.0f);
        vc.Set(kOutput1Smoothing, 100); // words are never smoothed
        vc.Set(kOutput1Smoothing + 5, 100);
        for (int j = 0; j < 6; ++j)
            for (int t = 1; t < 8; ++t)
                vc.Set(kOutput1 + 8 * j + t, 0);
        for (int j = 0; j < 5; ++j)
            vc.Set(kOutput1 + 8 * j, c.offsets[j]);
        vc.Set(kOutput1 + 8 * 5, 0.7f);
        const Out out = vc.Run(64);
        for (size_t i = 0; i < 64; ++i) {
            const brinktest::Frame f = brinktest::FrameOf(out.ch[0][i], out.ch[1][i]);
            for (int k = 0; k < 5; ++k)
                ASSERT_EQ(f.b[k], c.bytes[k]) << i << " byte " << k;
        }
        EXPECT_NEAR(out.ch[2][63], c.offsets[2], 1e-6f); // outputs 3-5 keep their mix
        EXPECT_LT(out.ch[5][63], 0.7f);                  // output 6 smoothed
    }
}

// ---- blocks ----------------------------------------------------------------------

TEST(VoiceControllerInProcess, EventsActAtTheirOwnSample)
{
    Vc vc = WithDunmoreTable();
    vc.Note(60, 100, 0);
    vc.Note(64, 100, 100);
    vc.Note(67, 100, 100);
    vc.Off(67, 600); // beyond this block: after its last sample
    Out out = vc.Run(512);
    for (size_t i = 0; i < 512; ++i)
        ASSERT_EQ(out.ch[0][i], DunmoreValue(i < 100 ? 60 : 67)) << i;
    out = vc.Run(16);
    EXPECT_EQ(out.ch[0][0], DunmoreValue(64));

    // A block much longer than the one announced plays as the short ones do.
    Vc a, b;
    for (Vc* v : {&a, &b}) {
        v->Set(kPortamentoMode, 1);
        v->Note(60, 90, 0);
        v->Note(62, 90, 300);
    }
    b.block = 5000;
    const Out shortBlocks = a.Run(15000), longBlocks = b.Run(15000);
    // Equal but for the sustain level, which is set anew (to within a
    // rounding step of where the attack ended) at each block.
    for (int c = 0; c < 6; ++c) {
        ASSERT_EQ(shortBlocks.ch[c].size(), longBlocks.ch[c].size());
        for (size_t i = 0; i < shortBlocks.ch[c].size(); ++i)
            ASSERT_NEAR(shortBlocks.ch[c][i], longBlocks.ch[c][i], 1e-6f) << c << " " << i;
    }
}

// Notes, pedal, bend, commands, a whole auto-calibration: nothing on the
// audio thread allocates.
TEST(VoiceControllerInProcess, AudioThreadAllocatesNothing)
{
    Vc vc(false, 8000, 512);
    vc.Set(kBrinkMode, 1);
    vc.Set(kPortamentoMode, 3);
    vc.Set(kOutput1Smoothing + 3, -20);
    vc.Set(kPitchLFODepth, 30);
    std::vector<float> in(512);
    std::vector<std::vector<float>> buffers(6, std::vector<float>(512));
    float* outputs[6];
    for (int c = 0; c < 6; ++c)
        outputs[c] = buffers[static_cast<size_t>(c)].data();
    int allocations = 0;
    bool calibrated = false;
    for (int b = 0; b < 600; ++b) {
        for (int k = 0; k < 20; ++k) {
            const int note = 36 + (b * 7 + k * 5) % 48;
            vc.Midi(k * 25, k % 3 ? 0x90 : 0x80, note, 90);
        }
        vc.Midi(300, 0xB0, 64, b % 2 ? 127 : 0);
        vc.Midi(310, 0xE0, b % 128, b % 100);
        if (b % 50 == 0)
            vc.Cc(123, 0, 400);
        vc.SendEvents();
        if (b == 10)
            vc.Command(kObryProperty_LoadBrinkCalibration);
        if (b == 20)
            vc.Command(kObryProperty_LoadDunmoreCalibration);
        if (b == 30)
            vc.Command(kObryProperty_AllSoundOff);
        if (b == 40)
            vc.Command(kObryProperty_CalibrateHzPerVolt);
        for (int i = 0; i < 512; ++i)
            in[static_cast<size_t>(i)] = std::sin(0.3f * static_cast<float>(b * 512 + i));
        {
            corvane::test::AllocationCounter counter;
            vc.Block(in.data(), 512, outputs);
            allocations += counter.Count();
        }
        if (b > 40 && vc->Mode() == ObryCorvane::kNormal)
            calibrated = true;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_TRUE(calibrated);
    EXPECT_EQ(Name(*vc), "<>");
}

} // namespace
