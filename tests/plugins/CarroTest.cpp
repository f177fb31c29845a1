// The Carro Controller through the built module and our host: what it tells
// the host, MIDI notes to the six gate groups, gate inputs, the merge of an
// incoming stream, test frames, the serial MIDI output and its clock on the
// last gate bit, state chunks, and broken host input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/StateChunk.h"
#include "tests/plugins/CarroDunmoreTestSupport.h"
#include "tests/plugins/ExpanderMidiTestSupport.h"

namespace {

using carrotest::Frame;
using carrotest::Hosted;
using carrotest::InputSignal;
using carrotest::Output;
using expandertest::Cc;
using expandertest::Note;
using expandertest::Off;
using expandertest::Values;
using corvane::host::MidiMessage;
using corvane::host::Plugin;
using corvane::test::kInf;
using corvane::test::kNaN;
using corvane::test::Range;

constexpr int32_t kEffectId = vst::FourCC("QZsh");
constexpr int32_t kInstrumentId = vst::FourCC("QZsg");

enum : int32_t {
    kOutput1 = 0, kOSCPortOffset = 6, kTestSignal = 7, kGates1MidiChannel = 8, kGates1BaseNote = 9,
    kByte1 = 20, kByte2, kByte3, kBytes, kSend, kMidiOutMidiChannel, kMidiOutOutput, kMidiOutClock,
    kMidiClockSwing, kMidiClockSwingType, kInputThru, kMidiClockOffset, kTrigger = 32, kMidiOutChannelise = 80,
    kAccent = 81, kInputToGate1 = 105,
};

Range CarroRange(int32_t i)
{
    if (i < 6 || i == kByte1)
        return {0, 255};
    if (i == kOSCPortOffset)
        return {0, 100};
    if (i == kTestSignal)
        return {0, 4};
    if (i >= kGates1MidiChannel && i < kByte1)
        return (i - kGates1MidiChannel) % 2 == 0 ? Range{0, 16} : Range{0, 127};
    if (i == kByte2 || i == kByte3)
        return {0, 127};
    if (i == kBytes)
        return {1, 3};
    if (i == kMidiOutMidiChannel)
        return {0, 17};
    if (i == kMidiOutOutput)
        return {0, 47};
    if (i == kMidiClockSwing)
        return {0, 100};
    if (i == kInputThru)
        return {0, 4};
    if (i == kMidiClockOffset)
        return {-100, 100};
    if (i >= kTrigger && i < kTrigger + 48)
        return {0, 100};
    if (i == kMidiOutChannelise)
        return {0, 16};
    if (i >= kInputToGate1)
        return {0, 40};
    return {0, 1};
}

class Carro : public Hosted {
public:
    explicit Carro(int32_t id = kEffectId, double rate = 48000, int32_t block = 375)
        : Hosted(id, CarroRange, rate, block)
    {
    }
};

// Every sample is a Carro word: finite, within -1..1 and a multiple of 2^-23.
void ExpectWords(const Output& out, const char* what)
{
    for (size_t i = 0; i < out.Size(); ++i)
        for (const float v : {out.left[i], out.right[i]}) {
            ASSERT_TRUE(std::isfinite(v)) << what << " at " << i;
            ASSERT_LE(std::fabs(v), 1.0f) << what << " at " << i;
            ASSERT_EQ(v, carrotest::SampleOf(carrotest::WordOf(v))) << what << " at " << i;
        }
}

// ---------------------------------------------------------------------------

// One scenario per row: settings, MIDI sent before each block, the bytes of
// the last frame.
TEST(Carro, NotesDriveTheSixGateGroups)
{
    struct Row {
        const char* what;
        std::vector<std::pair<int32_t, float>> settings;
        std::vector<std::vector<MidiMessage>> blocks;
        uint8_t expected[6];
    };
    const Row rows[] = {
        {"nothing set: all zero", {}, {{Note(0, 48, 100)}}, {0, 0, 0, 0, 0, 0}},
        {"group 1 on channel 1: note 50 is gate 3", {{kGates1MidiChannel, 1}}, {{Note(0, 50, 100)}},
         {0x04, 0, 0, 0, 0, 0}},
        {"group 6 on channel 10 with base 36: note 43 is bit 7 of byte 6",
         {{kGates1MidiChannel + 10, 10}, {kGates1BaseNote + 10, 36}}, {{Note(9, 43, 100)}}, {0, 0, 0, 0, 0, 0x80}},
        {"group 6 ignores other channels and notes outside its eight",
         {{kGates1MidiChannel + 10, 10}, {kGates1BaseNote + 10, 36}},
         {{Note(8, 43, 100), Note(9, 35, 100), Note(9, 44, 100)}}, {0, 0, 0, 0, 0, 0}},
        {"two groups on one channel overlap", {{kGates1MidiChannel + 2, 2}, {kGates1MidiChannel + 8, 2},
                                               {kGates1BaseNote + 8, 52}},
         {{Note(1, 52, 100)}}, {0, 0x10, 0, 0, 0x01, 0}},
        {"levels OR with the gates", {{kGates1MidiChannel + 6, 1}, {kOutput1 + 3, 0x21}, {kOutput1 + 5, 255}},
         {{Note(0, 55, 1)}}, {0, 0, 0, 0xA1, 0, 255}},
        {"accent 6/8: velocity 64 also opens gate 8",
         {{kGates1MidiChannel + 10, 1}, {kAccent + 20 + 3, 1}}, {{Note(0, 54, 64)}}, {0, 0, 0, 0, 0, 0xC0}},
        {"accent 6/8: velocity 63 opens gate 7 only",
         {{kGates1MidiChannel + 10, 1}, {kAccent + 20 + 3, 1}}, {{Note(0, 54, 63)}}, {0, 0, 0, 0, 0, 0x40}},
        {"accent: the note off closes both", {{kGates1MidiChannel, 1}, {kAccent, 1}},
         {{Note(0, 48, 100)}, {Note(0, 48, 0)}}, {0, 0, 0, 0, 0, 0}},
        {"controller 120 closes the channel's gates",
         {{kGates1MidiChannel, 1}, {kGates1MidiChannel + 2, 2}, {kGates1BaseNote + 2, 48}},
         {{Note(0, 48, 100), Note(1, 49, 100)}, {Cc(0, 120, 0)}}, {0, 0x02, 0, 0, 0, 0}},
        {"controller 123 as well", {{kGates1MidiChannel + 10, 16}},
         {{Note(15, 48, 100), Note(15, 55, 100)}, {Cc(15, 123, 0)}}, {0, 0, 0, 0, 0, 0}},
        {"other controllers change nothing", {{kGates1MidiChannel, 1}},
         {{Note(0, 49, 100)}, {Cc(0, 121, 0), Cc(0, 7, 0)}}, {0x02, 0, 0, 0, 0, 0}},
        {"a held gate lasts over blocks", {{kGates1MidiChannel + 4, 3}}, {{Note(2, 48, 100)}, {}, {}},
         {0, 0, 0x01, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        Carro carro;
        for (const auto& [index, value] : row.settings)
            carro.Set(index, value);
        Output out;
        for (const auto& batch : row.blocks) {
            carro.Midi(batch);
            out = carro.Run(375);
        }
        const Frame f = out.Carro(out.Size() - 1);
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(f.b[k], row.expected[k]) << row.what << ", byte " << k + 1;
    }

    // Changing a group's channel clears its gates.
    Carro carro;
    carro.Set(kGates1MidiChannel + 10, 1);
    carro.Midi({Note(0, 48, 100)});
    EXPECT_EQ(carro.Run(375).Carro(374).b[5], 1);
    carro.Set(kGates1MidiChannel + 10, 3);
    EXPECT_EQ(carro.Run(375).Carro(374).b[5], 0);
    carro.Set(kGates1MidiChannel + 10, 1);
    EXPECT_EQ(carro.Run(375).Carro(374).b[5], 0);
}

TEST(Carro, Output1At255IsANegativeLeftSample)
{
    Carro carro;
    carro.Set(kOutput1, 255);
    const Output out = carro.Run(10);
    EXPECT_EQ(carrotest::WordOf(out.left[9]), 0xFF0000u);
    EXPECT_EQ(out.left[9], static_cast<float>(-65536 * std::ldexp(1.0, -23)));
    EXPECT_EQ(out.right[9], 0.0f);
}

TEST(Carro, NotesAndTriggersTakeEffectAtTheirSample)
{
    // Group 6 gate 8 (trigger index 32 + 8 x 5 + 7) for 10 ms at 48000 Hz:
    // exactly 480 samples from sample 50, although the note is held; gate 1
    // follows its note from 100 to 300.
    Carro carro;
    carro.Set(kGates1MidiChannel + 10, 1);
    carro.Set(kTrigger + 47, 10);
    carro.Midi({Note(0, 55, 100, 50), Note(0, 48, 100, 100), Off(0, 48, 300)});
    const Output out = carro.Run(2000);
    int64_t first = -1, count = 0;
    for (size_t i = 0; i < out.Size(); ++i) {
        const Frame f = out.Carro(i);
        EXPECT_EQ(f.Gate(40), i >= 100 && i < 300) << i;
        if (f.Gate(47)) {
            if (first < 0)
                first = static_cast<int64_t>(i);
            ++count;
        }
    }
    EXPECT_EQ(first, 50);
    EXPECT_EQ(count, 480);
}

TEST(Carro, GateInputsAndThru)
{
    struct Row {
        const char* what;
        std::vector<std::pair<int32_t, float>> settings;
        InputSignal input;
        uint8_t expected[6];
    };
    const auto stream = [](uint32_t l, uint32_t r) {
        return [l, r](int c, int64_t) {
            return c == 6 ? carrotest::SampleOf(l) : (c == 7 ? carrotest::SampleOf(r) : 0.0f);
        };
    };
    const Row rows[] = {
        {"input 4 on Gates 2/3", {{kInputToGate1 + 3, 11}}, [](int c, int64_t) { return c == 3 ? 0.1f : 0.0f; },
         {0, 0x04, 0, 0, 0, 0}},
        {"input 8 on Gates 5/8, the last a gate input reaches", {{kInputToGate1 + 7, 40}, {kInputThru, 0}},
         [](int c, int64_t) { return c == 7 ? 1.0f : 0.0f; }, {0, 0, 0, 0, 0x80, 0}},
        {"a gate input at 0 or below sets nothing", {{kInputToGate1, 1}, {kInputToGate1 + 1, 2}, {kInputThru, 0}},
         [](int c, int64_t) { return c == 0 ? 0.0f : -1.0f; }, {0, 0, 0, 0, 0, 0}},
        {"thru 7/8 ORs another stream into both words", {{kInputThru, 4}, {kOutput1, 0x21}, {kOutput1 + 5, 0x0F}},
         stream(0x123456, 0x89ABCD), {0x33, 0x34, 0x56, 0x89, 0xAB, 0xCF}},
        {"thru 7/8: a negative word merges bit for bit", {{kInputThru, 4}}, stream(0xFFFFFF, 0x800000),
         {0xFF, 0xFF, 0xFF, 0x80, 0, 0}},
        {"thru off ignores the inputs", {{kInputThru, 0}}, stream(0x123456, 0x89ABCD), {0, 0, 0, 0, 0, 0}},
        {"thru 1/2 by default", {}, [](int c, int64_t) { return c == 0 ? carrotest::SampleOf(0x000102) : 0.0f; },
         {0, 1, 2, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        Carro carro;
        for (const auto& [index, value] : row.settings)
            carro.Set(index, value);
        const Output out = carro.Run(375, row.input);
        const Frame f = out.Carro(200);
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(f.b[k], row.expected[k]) << row.what << ", byte " << k + 1;
    }
}

TEST(Carro, ThruChainsTwoControllers)
{
    // A holds gate 1/1; B merges A's output on inputs 1/2 and adds Gates 6/8.
    Carro a, b;
    a.Set(kGates1MidiChannel, 1);
    a.Midi({Note(0, 48, 100)});
    const Output fromA = a.Run(375);
    b.Set(kGates1MidiChannel + 10, 1);
    b.Set(kGates1BaseNote + 10, 60);
    b.Midi({Note(0, 67, 100)});
    const Output out = b.Run(375, carrotest::StreamInto(fromA, 0));
    const Frame f = out.Carro(374);
    EXPECT_EQ(f.b[0], 0x01);
    EXPECT_EQ(f.b[5], 0x80);
}

TEST(Carro, TestSignalsFillAllSixBytes)
{
    Carro carro;
    carro.Set(kOutput1, 77);
    carro.Set(kGates1MidiChannel, 1);
    carro.Midi({Note(0, 48, 100)});
    struct Row {
        int signal;
        int64_t frames;
    };
    for (const Row row : {Row{1, 64}, Row{2, 60}, Row{3, 600}, Row{4, 20000}}) {
        carro.Set(kTestSignal, static_cast<float>(row.signal));
        const Output out = carro.Run(row.frames);
        int pulses = 0;
        uint8_t previous = 0;
        for (size_t i = 0; i < out.Size(); ++i) {
            const Frame f = out.Carro(i);
            for (int k = 1; k < 6; ++k)
                ASSERT_EQ(f.b[k], f.b[0]) << row.signal << " at " << i;
            switch (row.signal) {
            case 1:
                ASSERT_TRUE(f.b[0] == 0 || f.b[0] == 255);
                pulses += f.b[0] == 255;
                break;
            case 2:
                ASSERT_EQ(f.b[0] % 48, 0);
                if (i > 0) {
                    ASSERT_EQ(f.b[0], (previous + 48) % 288) << i;
                }
                break;
            case 3:
                if (i > 0) {
                    ASSERT_EQ(f.b[0], static_cast<uint8_t>(previous + 1)) << i;
                }
                break;
            case 4: ASSERT_EQ(__builtin_popcount(f.b[0]), 1) << i; break;
            }
            previous = f.b[0];
        }
        if (row.signal == 1) {
            EXPECT_EQ(pulses, 8);
        }
    }
    carro.Set(kTestSignal, 0);
    const Frame f = carro.Run(10).Carro(9);
    EXPECT_EQ(f.b[0], 77 | 1);
}

TEST(Carro, SerialOutputOnTheLastGateBit)
{
    // "Gates 6/8" puts the line on bit 7 of byte 6: the right word's last bit.
    Carro carro;
    carro.Set(kMidiOutMidiChannel, 17);
    carro.Set(kMidiOutOutput, 47);
    carro.Set(kMidiOutChannelise, 3);
    carro.Set(kOutput1 + 5, 0x7F);
    carro.Midi({Note(5, 60, 100, 10)});
    Output out = carro.Run(375);
    carro.Set(kBytes, 3);
    carro.Set(kByte1, 0x90);
    carro.Set(kByte2, 60);
    carro.Set(kByte3, 100);
    carro.Set(kSend, 1);
    out.Append(carro.Run(375));
    out.Append(carro.Run(375)); // still on: nothing more
    carro.Set(kSend, 0);
    out.Append(carro.Run(375));
    carro.Set(kSend, 1);
    out.Append(carro.Run(375));
    const auto bytes = brinktest::DecodeSerial(out.CarroGate(47), 48000);
    EXPECT_EQ(Values(bytes), (std::vector<uint8_t>{0x92, 60, 100, 0x90, 60, 100, 0x90, 60, 100}));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0].start, 10);
    for (const auto& b : bytes)
        EXPECT_TRUE(b.framed);
    // The line leaves the other bits of byte 6 alone.
    for (size_t i = 0; i < out.Size(); ++i)
        ASSERT_EQ(out.Carro(i).b[5] & 0x7F, 0x7F);
    // At 48000 Hz 0xF8 occupies 16 samples: set in 1-6 (start, D0-D2), clear in 7-16.
    Carro clock;
    clock.Set(kMidiOutMidiChannel, 1);
    clock.Midi({{100, {0xF8, 0, 0}}});
    const std::vector<bool> line = clock.Run(375).CarroGate(0);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(line[static_cast<size_t>(100 + i)], i < 6) << i;
}

// 375-sample blocks at 120 BPM and 48000 Hz: a clock every 1000 samples.
TEST(Carro, ClockAtTheBarLineThenEveryTwentyFourthQuarter)
{
    Carro carro;
    carro.Set(kMidiOutClock, 1);
    carro.Set(kMidiOutOutput, 47);
    carro.Host().Time().ppqPos = 1.5;
    carro.Host().Time().barStartPos = 0;
    carro.Host().Time().playing = true;
    const Output out = carro.Run(90000);
    const auto bytes = brinktest::DecodeSerial(out.CarroGate(47), 48000);
    ASSERT_EQ(bytes.size(), 31u);
    EXPECT_EQ(bytes[0].value, 0xFA);
    EXPECT_EQ(bytes[0].start, 60000);
    for (size_t i = 1; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].value, 0xF8);
        if (i >= 2) {
            EXPECT_EQ(bytes[i].start, 60000 + 1000 * static_cast<int64_t>(i - 1));
        }
    }
    carro.Host().Time().playing = false;
    const auto stop = brinktest::DecodeSerial(carro.Run(3000).CarroGate(47), 48000);
    ASSERT_EQ(stop.size(), 1u);
    EXPECT_EQ(stop[0].value, 0xFC);
    EXPECT_EQ(stop[0].start, 0);

    // Offset (index 31) and swing (28, 29) come from the Carro's own indices:
    // 10 ms early and the second 8th of each pair at 0.6 of the pair.
    Carro swung;
    swung.Set(kMidiOutClock, 1);
    swung.Set(kMidiClockOffset, -10);
    swung.Set(kMidiClockSwing, 60);
    swung.Set(kMidiClockSwingType, 1);
    swung.Host().Time().ppqPos = 4;
    swung.Host().Time().barStartPos = 4;
    swung.Host().Time().playing = true;
    const auto clocks = brinktest::DecodeSerial(swung.Run(60000).CarroGate(0), 48000);
    ASSERT_GE(clocks.size(), 40u);
    EXPECT_EQ(clocks[0].value, 0xFA);
    // (The first clock follows the start byte on the line.)
    for (size_t i = 2; i < 40; ++i) {
        const double n = static_cast<double>(i - 1); // clocks since the bar line
        const double r = std::fmod(n, 24), f = r / 24;
        const double g = f < 0.5 ? 1.2 * f : 1 - 0.8 * (1 - f);
        EXPECT_NEAR(static_cast<double>(clocks[i].start), (g * 24 + n - r) * 1000 + 480, 1.0) << "clock " << n;
    }
}

TEST(Carro, BrokenHostInputKeepsOutputsWords)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double tempo, ppq;
        bool answerTime;
    };
    const Case cases[] = {{nan, 0, true},     {inf, 0, true},     {-120, 0, true}, {0, 0, true},
                          {120, nan, true},   {120, 1e300, true}, {1e300, 0, true}, {120, 0, false}};
    for (const Case& c : cases) {
        Carro carro;
        carro.Set(kMidiOutClock, 1);
        carro.Set(kMidiOutMidiChannel, 17);
        carro.Set(kMidiOutOutput, 47);
        carro.Set(kInputToGate1, 3);
        carro.Set(kInputThru, 2);
        carro.Set(kGates1MidiChannel + 10, 16);
        carro.Set(kGates1BaseNote + 10, 127);
        carro.Set(kTrigger + 40, 100);
        carro.Host().Time().tempo = c.tempo;
        carro.Host().Time().ppqPos = c.ppq;
        carro.Host().Time().playing = true;
        carro.Host().Time().answerTime = c.answerTime;
        const InputSignal junk = [](int channel, int64_t i) {
            const float values[] = {kNaN, kInf, -kInf, 1e30f, -1e30f, 0.5f, -0.5f};
            return values[(channel + i) % 7];
        };
        const Output out = carro.Run(3000, junk, [&](int64_t) {
            carro.Midi({Note(0, 0, 1, 0), Note(15, 127, 127, 374), Off(15, 127, 5000), Cc(15, 120, 127, 2),
                        Cc(0, 123, 0, 3), {7, {0xE5, 0x7F, 0x7F}}, {8, {0xF2, 0x7F, 0x7F}}, {9, {0x12, 0x34, 0x56}}});
            carro.Host().SendSysEx({0xF0, 0x7D, 0x00, 0xF7}, 20);
            carro.Host().Time().ppqPos = c.ppq;
        });
        ExpectWords(out, "broken host input");
    }
}

} // namespace
