// The Brink Controller through the built module and our host: its pins, MIDI
// notes to voices and gates, CV and gate inputs, the merge of an incoming
// stream, the serial MIDI output with clocks locked to the host's position,
// state chunks, and broken host input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "framework/StateChunk.h"
#include "host/VstHost.h"
#include "tests/plugins/BrinkTestSupport.h"
#include "tests/plugins/ExpanderMidiTestSupport.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using brinktest::Frame;
using brinktest::FrameOf;
using expandertest::Cc;
using expandertest::Note;
using expandertest::Off;
using expandertest::Values;
using corvane::host::MidiMessage;
using corvane::host::Plugin;

constexpr int32_t kEffectId = vst::FourCC("QZsd");
constexpr int32_t kInstrumentId = vst::FourCC("QZsc");
using corvane::test::kInf;
using corvane::test::kNaN;

enum : int32_t {
    kOutput1 = 0, kOSCPortOffset = 5, kTestSignal = 6,
    kCh1MidiChannel = 7, kCh1RangeMin, kCh1RangeMax, kCh1GateOutput, kCh1VelOutput, kCh1NotePriority,
    kCh1RetriggerMode, kCh2MidiChannel = 14, kCh2RangeMin, kCh2RangeMax, kCh2GateOutput, kCh2VelOutput,
    kGates1MidiChannel = 21, kGates1BaseNote = 22,
    kByte1 = 31, kByte2, kByte3, kBytes, kSend, kMidiOutMidiChannel, kMidiOutOutput, kMidiOutClock,
    kMidiClockSwing, kMidiClockSwingType, kInputThru = 45, kInput1 = 46, kInputMode1 = 51,
    kMidiClockOffset = 56, kTrigger = 58, kMidiOutChannelise = 98, kAccent = 99, kInputToGate1 = 119,
};
constexpr int32_t kGatesOut1 = 6; // "Gates 1/1" as a gate output

struct Range {
    float min, max;
};

Range RangeOf(int32_t i)
{
    if (i <= 4 || i == kByte1)
        return {0, 255};
    if (i == kOSCPortOffset)
        return {0, 100};
    if (i == kTestSignal)
        return {0, 5};
    if (i >= 7 && i <= 20) {
        const Range voice[] = {{0, 16}, {0, 127}, {0, 127}, {0, 45}, {0, 5}, {0, 2}, {0, 1}};
        return voice[(i - 7) % 7];
    }
    if (i >= 21 && i <= 30)
        return (i - 21) % 2 == 0 ? Range{0, 16} : Range{0, 127};
    if (i == kByte2 || i == kByte3)
        return {0, 127};
    if (i == kBytes)
        return {1, 3};
    if (i == kMidiOutMidiChannel)
        return {0, 17};
    if (i == kMidiOutOutput || i == 42)
        return {0, 39};
    if (i == kMidiClockSwing || i == 43)
        return {0, 100};
    if (i == 41)
        return {0, 3};
    if (i == kInputThru)
        return {0, 4};
    if (i >= kInput1 && i < kInput1 + 5)
        return {0, 8};
    if (i == 56 || i == 57)
        return {-100, 100};
    if (i >= kTrigger && i < kTrigger + 40)
        return {0, 100};
    if (i == kMidiOutChannelise)
        return {0, 16};
    if (i >= kInputToGate1)
        return {0, 40};
    return {0, 1};
}

struct Output {
    std::vector<float> left, right;
    Frame At(size_t i) const { return FrameOf(left[i], right[i]); }
    size_t Size() const { return left.size(); }
    // The gate bit over the whole run (the serial line when it carries it).
    std::vector<bool> Gate(int gate) const
    {
        std::vector<bool> bits;
        for (size_t i = 0; i < Size(); ++i)
            bits.push_back(At(i).Gate(gate));
        return bits;
    }
};

using InputSignal = std::function<float(int channel, int64_t sample)>;

class Brink {
public:
    explicit Brink(int32_t id = kEffectId, double rate = 48000, int32_t block = 375) : rate(rate), block(block)
    {
        plugin = Plugin::Create(corvane::test::LoadedModule(), id);
        if (!plugin)
            throw std::runtime_error("the module gives no Brink Controller");
        plugin->Start(rate, block);
        plugin->Time().tempo = 120;
        plugin->Time().ppqPos = 0;
        plugin->Time().playing = false;
    }

    void Set(int32_t index, float real)
    {
        const Range r = RangeOf(index);
        plugin->SetParameter(index, (real - r.min) / (r.max - r.min));
    }
    float Get(int32_t index)
    {
        const Range r = RangeOf(index);
        return r.min + plugin->GetParameter(index) * (r.max - r.min);
    }

    // Runs `frames` samples in blocks; `beforeBlock` (given the block's
    // first sample) may send MIDI or change the transport.
    Output Run(int64_t frames, const InputSignal& input = {}, const std::function<void(int64_t)>& beforeBlock = {})
    {
        Output out;
        std::vector<std::vector<float>> outputs;
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
            if (beforeBlock)
                beforeBlock(done);
            std::vector<std::vector<float>> inputs(8, std::vector<float>(n, 0.0f));
            if (input)
                for (int c = 0; c < 8; ++c)
                    for (int32_t i = 0; i < n; ++i)
                        inputs[c][i] = input(c, done + i);
            plugin->ProcessBlock(inputs, outputs, n);
            out.left.insert(out.left.end(), outputs[0].begin(), outputs[0].end());
            out.right.insert(out.right.end(), outputs[1].begin(), outputs[1].end());
            done += n;
        }
        return out;
    }

    void Midi(std::vector<MidiMessage> messages) { plugin->SendMidi(messages); }
    Plugin& Host() { return *plugin; }

    double rate;
    int32_t block;

private:
    std::unique_ptr<Plugin> plugin;
};

TEST(Brink, EffectAndInstrumentAndTheirPins)
{
    for (const int32_t id : {kEffectId, kInstrumentId}) {
        Brink brink(id);
        Plugin& p = brink.Host();
        EXPECT_EQ(p.Category(), id == kInstrumentId ? kPlugCategSynth : kPlugCategEffect);
        // Eight inputs and two outputs, numbered, in stereo pairs.
        for (int32_t index = 0; index < 10; ++index) {
            VstPinProperties pin{};
            const bool input = index < 8;
            const intptr_t answer =
                p.Dispatch(input ? effGetInputProperties : effGetOutputProperties, input ? index : index - 8, 0, &pin);
            ASSERT_EQ(answer, 1);
            const int32_t number = input ? index + 1 : index - 7;
            EXPECT_EQ(std::string(pin.label), std::to_string(number));
            EXPECT_EQ(std::string(pin.shortLabel), std::to_string(number));
            EXPECT_EQ(pin.flags, kVstPinIsActive | ((number - 1) % 2 == 0 ? kVstPinIsStereo : 0));
        }
        VstPinProperties pin{};
        EXPECT_EQ(p.Dispatch(effGetInputProperties, 8, 0, &pin), 0);
        EXPECT_EQ(p.Dispatch(effGetOutputProperties, 2, 0, &pin), 0);
        EXPECT_EQ(p.Dispatch(effGetOutputProperties, -1, 0, &pin), 0);
        EXPECT_EQ(p.Dispatch(effGetInputProperties, 0, 0, nullptr), 0);
    }
}

// One scenario per row: settings, MIDI sent before one block, the bytes of
// a frame after it.
TEST(Brink, NotesDriveVoicesAndGates)
{
    const struct {
        const char* what;
        std::vector<std::pair<int32_t, float>> settings;
        std::vector<std::vector<MidiMessage>> blocks; // one MIDI batch before each block
        uint8_t expected[5];
    } rows[] = {
        {"default gate output raises byte 3; pitch 60 - 48 in byte 1", {}, {{Note(0, 60, 100)}}, {48, 0, 255, 0, 0}},
        {"gate on Gates 1/1 sets bit 0 of byte 1", {{kCh1GateOutput, kGatesOut1}}, {{Note(0, 70, 100)}},
         {88 | 1, 0, 0, 0, 0}},
        {"gate on Gates 5/8", {{kCh1GateOutput, 45}}, {{Note(0, 48, 100)}}, {0, 0, 0, 0, 0x80}},
        {"the pitch wraps every 64 notes", {{kCh1RangeMax, 127}, {kCh1GateOutput, 0}}, {{Note(0, 112, 100)}},
         {0, 0, 0, 0, 0}},
        // An idle voice still shows its note (0 at first) against the range: (0 - 60) & 63 = 4.
        {"outside the range nothing sounds", {{kCh1RangeMin, 60}}, {{Note(0, 59, 100)}}, {16, 0, 0, 0, 0}},
        {"the range's bottom note sounds", {{kCh1RangeMin, 60}}, {{Note(0, 60, 100)}}, {0, 0, 255, 0, 0}},
        {"the range's top note sounds", {{kCh1RangeMax, 70}}, {{Note(0, 70, 100)}}, {88, 0, 255, 0, 0}},
        {"other channel", {}, {{Note(1, 60, 100)}}, {64, 0, 0, 0, 0}},
        {"newest: 60 then 64, 64 released", {}, {{Note(0, 60, 100), Note(0, 64, 100)}, {Off(0, 64)}},
         {48, 0, 255, 0, 0}},
        {"newest: both released keeps the last note", {},
         {{Note(0, 60, 100), Note(0, 64, 100)}, {Off(0, 64), Off(0, 60)}}, {48, 0, 0, 0, 0}},
        {"highest, the top released", {{kCh1NotePriority, 2}},
         {{Note(0, 60, 100), Note(0, 52, 100), Note(0, 64, 100)}, {Off(0, 64)}}, {48, 0, 255, 0, 0}},
        {"velocity 127 on output 2", {{kCh1VelOutput, 2}}, {{Note(0, 60, 127)}}, {48, 255, 255, 0, 0}},
        {"velocity 64 on output 4", {{kCh1VelOutput, 4}, {kCh1GateOutput, 0}}, {{Note(0, 60, 64)}},
         {48, 0, 0, 128, 0}},
        {"voice 2 pitch in byte 2, its gate on output 4", {{kCh2MidiChannel, 2}, {kCh2RangeMin, 36}},
         {{Note(1, 40, 100)}}, {64, 16, 0, 255, 0}},
        {"levels add and hold at 255", {{kOutput1, 250}, {kOutput1 + 2, 7}}, {{Note(0, 60, 100)}},
         {255, 0, 255, 0, 0}},
        {"gate group: note 50 is gate 3", {{kGates1MidiChannel, 1}, {kCh1MidiChannel, 0}}, {{Note(0, 50, 100)}},
         {0x04, 0, 0, 0, 0}},
        {"gate group 5 on channel 16, base 120", {{kGates1MidiChannel + 8, 16}, {kGates1BaseNote + 8, 120}},
         {{Note(15, 127, 1)}}, {64, 0, 0, 0, 0x80}},
        {"below the group's base note nothing", {{kGates1MidiChannel + 8, 16}, {kGates1BaseNote + 8, 120}},
         {{Note(15, 119, 1)}}, {64, 0, 0, 0, 0}},
        {"accent: velocity 64 also opens gate 2", {{kGates1MidiChannel, 1}, {kCh1MidiChannel, 0}, {kAccent, 1}},
         {{Note(0, 48, 64)}}, {0x03, 0, 0, 0, 0}},
        {"accent: velocity 63 opens gate 1 only", {{kGates1MidiChannel, 1}, {kCh1MidiChannel, 0}, {kAccent, 1}},
         {{Note(0, 48, 63)}}, {0x01, 0, 0, 0, 0}},
        {"accent: note off closes both", {{kGates1MidiChannel, 1}, {kCh1MidiChannel, 0}, {kAccent, 1}},
         {{Note(0, 48, 100)}, {Note(0, 48, 0)}}, {0, 0, 0, 0, 0}},
        {"controller 123 ends the notes", {{kGates1MidiChannel, 1}},
         {{Note(0, 60, 100), Note(0, 49, 100)}, {Cc(0, 123, 0)}}, {48, 0, 0, 0, 0}},
        {"controller 120 clears the voice's note", {}, {{Note(0, 60, 100)}, {Cc(0, 120, 0)}}, {64, 0, 0, 0, 0}},
        {"controllers on another channel change nothing", {}, {{Note(0, 60, 100)}, {Cc(3, 120, 0), Cc(3, 123, 0)}},
         {48, 0, 255, 0, 0}},
        {"a held note lasts over blocks", {}, {{Note(0, 60, 100)}, {}}, {48, 0, 255, 0, 0}},
    };
    for (const auto& row : rows) {
        Brink brink;
        for (const auto& [index, value] : row.settings)
            brink.Set(index, value);
        Output out;
        for (const auto& batch : row.blocks) {
            brink.Midi(batch);
            out = brink.Run(375);
        }
        const Frame f = out.At(out.Size() - 1);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(f.b[k], row.expected[k]) << row.what << ", byte " << k + 1;
    }
    // Changing the voice's channel ends its notes.
    Brink brink;
    brink.Midi({Note(0, 60, 100)});
    brink.Run(375);
    brink.Set(kCh1MidiChannel, 2);
    brink.Midi({Note(5, 1, 1)}); // any message refreshes the settings
    const Frame f = brink.Run(375).At(374);
    EXPECT_EQ(f.b[2], 0);
}

TEST(Brink, NotesTakeEffectAtTheirSample)
{
    Brink brink;
    brink.Set(kCh1GateOutput, kGatesOut1);
    brink.Midi({Note(0, 60, 100, 100), Off(0, 60, 300)});
    const Output out = brink.Run(375);
    for (int i = 0; i < 375; ++i)
        EXPECT_EQ(out.At(i).Gate(0), i >= 100 && i < 300) << i;
}

// Events whose offset lies past the block's end all arrive at its end, in
// this block: none waits a block (each such wait delayed every later event).
TEST(Brink, EventsPastTheBlockEndAllArriveAtItsEnd)
{
    Brink brink;
    brink.Set(kMidiOutMidiChannel, 17);
    brink.Set(kMidiOutOutput, 39);
    brink.Set(kCh1MidiChannel, 0);
    brink.Midi({Note(0, 60, 100, 400), Note(0, 61, 100, 500), Note(0, 62, 100, 600), Note(0, 63, 100, 9000)});
    const Output out = brink.Run(4 * 375);
    const auto bytes = brinktest::DecodeSerial(out.Gate(39), 48000);
    EXPECT_EQ(Values(bytes), (std::vector<uint8_t>{0x90, 60, 100, 0x90, 61, 100, 0x90, 62, 100, 0x90, 63, 100}));
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes[0].start, 375);
    for (size_t i = 1; i < bytes.size(); ++i) // back to back on the line
        EXPECT_EQ(bytes[i].start - bytes[i - 1].start, bytes[1].start - bytes[0].start) << i;
}

TEST(Brink, TriggerLengthCutsTheGate)
{
    // 10 ms at 48000 Hz: exactly 480 samples although the note is held.
    Brink brink;
    brink.Set(kGates1MidiChannel, 1);
    brink.Set(kCh1MidiChannel, 0);
    brink.Set(kTrigger, 10);
    brink.Midi({Note(0, 48, 100, 50)});
    const Output out = brink.Run(2000);
    int64_t first = -1, count = 0;
    for (size_t i = 0; i < out.Size(); ++i)
        if (out.At(i).Gate(0)) {
            if (first < 0)
                first = static_cast<int64_t>(i);
            ++count;
        }
    EXPECT_EQ(first, 50);
    EXPECT_EQ(count, 480);
    EXPECT_FALSE(out.At(out.Size() - 1).Gate(0));
}

TEST(Brink, CvAndGateInputsAndThru)
{
    const struct {
        const char* what;
        std::vector<std::pair<int32_t, float>> settings;
        InputSignal input;
        uint8_t expected[5];
    } rows[] = {
        {"unipolar on input 3 into byte 1", {{kInput1, 3}, {kCh1MidiChannel, 0}},
         [](int c, int64_t) { return c == 2 ? 0.5f : 0.0f; }, {128, 0, 0, 0, 0}},
        {"bipolar -1 into byte 2, an unrouted input below keeps its level", {{kInput1 + 1, 1}, {kInputMode1 + 1, 1},
          {kOutput1, 9}, {kInputThru, 0}},
         [](int c, int64_t) { return c == 0 ? -1.0f : 0.0f; }, {9, 1, 0, 0, 0}},
        {"CV adds to the byte's level and holds at the ends", {{kInput1 + 4, 8}, {kOutput1 + 4, 200}},
         [](int c, int64_t) { return c == 7 ? 0.5f : 0.0f; }, {0, 0, 0, 0, 255}},
        {"gate input 4 on Gates 2/3", {{kInputToGate1 + 3, 11}},
         [](int c, int64_t) { return c == 3 ? 0.1f : 0.0f; }, {0, 0x04, 0, 0, 0}},
        {"a gate input at 0 sets nothing", {{kInputToGate1 + 3, 11}}, [](int, int64_t) { return 0.0f; },
         {0, 0, 0, 0, 0}},
        {"thru 3/4 ORs the stream into the words", {{kInputThru, 2}, {kOutput1, 0x21}},
         [](int c, int64_t) {
             const uint32_t l = 0x12349, r = 0x5678A; // bytes 12 34 56 78 9A
             if (c == 2)
                 return static_cast<float>(static_cast<double>(l) / 524288.0);
             if (c == 3)
                 return static_cast<float>(static_cast<double>(r) / 524288.0);
             return 0.0f;
         },
         {0x33, 0x34, 0x56, 0x78, 0x9A}},
        {"thru off ignores the inputs", {{kInputThru, 0}}, [](int, int64_t) { return 0.25f; }, {0, 0, 0, 0, 0}},
    };
    for (const auto& row : rows) {
        Brink brink;
        brink.Set(kCh1MidiChannel, 0); // no pitch in byte 1
        for (const auto& [index, value] : row.settings)
            brink.Set(index, value);
        const Output out = brink.Run(375, row.input);
        const Frame f = out.At(200);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(f.b[k], row.expected[k]) << row.what << ", byte " << k + 1;
    }
}

TEST(Brink, ThruPassesAnotherControllersStream)
{
    // Controller A holds a gate on Gates 1/1; controller B merges A's output
    // on inputs 1/2 and adds its own gate on Gates 5/8.
    Brink a, b;
    a.Set(kCh1GateOutput, kGatesOut1);
    a.Midi({Note(0, 60, 100)});
    const Output fromA = a.Run(375);
    b.Set(kCh1GateOutput, 45);
    b.Midi({Note(0, 49, 100)});
    const Output out = b.Run(375, [&](int c, int64_t i) {
        return c == 0 ? fromA.left[static_cast<size_t>(i)] : (c == 1 ? fromA.right[static_cast<size_t>(i)] : 0.0f);
    });
    const Frame f = out.At(374);
    EXPECT_EQ(f.b[0], 48 | 1 | 4); // A's pitch and gate, B's pitch (49 - 48) x 4
    EXPECT_EQ(f.b[4], 0x80);
}

TEST(Brink, SerialOutputForwardsMidiAndSends)
{
    Brink brink;
    brink.Set(kMidiOutMidiChannel, 17);
    brink.Set(kMidiOutOutput, 12); // Gates 2/5: bit 4 of byte 2
    brink.Set(kMidiOutChannelise, 3);
    brink.Set(kCh1MidiChannel, 0);
    brink.Midi({Note(5, 60, 100, 10)});
    Output out = brink.Run(375);
    auto append = [&out](const Output& more) {
        out.left.insert(out.left.end(), more.left.begin(), more.left.end());
        out.right.insert(out.right.end(), more.right.begin(), more.right.end());
    };
    // "Send" with three bytes, switched on twice.
    brink.Set(kBytes, 3);
    brink.Set(kByte1, 0x90);
    brink.Set(kByte2, 60);
    brink.Set(kByte3, 100);
    brink.Set(kSend, 1);
    append(brink.Run(375));
    append(brink.Run(375)); // still on: nothing more
    brink.Set(kSend, 0);
    append(brink.Run(375));
    brink.Set(kSend, 1);
    append(brink.Run(375));
    const auto bytes = brinktest::DecodeSerial(out.Gate(12), 48000);
    EXPECT_EQ(Values(bytes), (std::vector<uint8_t>{0x92, 60, 100, 0x90, 60, 100, 0x90, 60, 100}));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0].start, 10);
    for (const auto& b : bytes)
        EXPECT_TRUE(b.framed);
}

// The sample rate changes while a byte is on the line: the message arrives
// whole and framed at the new rate, with nothing broken before it.
TEST(Brink, SerialByteInFlightStartsOverAtANewRate)
{
    const struct {
        double from, to;
        int32_t after; // samples of the first byte sent at the old rate
    } cases[] = {{48000, 96000, 5}, {48000, 96000, 12}, {96000, 44100, 9}, {44100, 88200, 3}, {88200, 48000, 20}};
    for (const auto& c : cases) {
        Brink brink(kEffectId, c.from, c.after);
        brink.Set(kMidiOutMidiChannel, 17);
        brink.Set(kMidiOutOutput, 0);
        brink.Set(kCh1MidiChannel, 0);
        brink.Midi({Note(0, 0x55, 0x7F)});
        brink.Run(c.after);
        brink.Host().Suspend();
        brink.Host().Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(c.to));
        brink.Host().Resume();
        const auto bytes = brinktest::DecodeSerial(brink.Run(2000).Gate(0), c.to);
        EXPECT_EQ(Values(bytes), (std::vector<uint8_t>{0x90, 0x55, 0x7F})) << c.from << " -> " << c.to;
        for (const auto& b : bytes)
            EXPECT_TRUE(b.framed) << c.from << " -> " << c.to;
    }
}

TEST(Brink, SerialLineAtEachSampleRate)
{
    for (const double rate : {44100.0, 48000.0, 88200.0, 96000.0, 192000.0}) {
        Brink brink(kEffectId, rate, 512);
        brink.Set(kMidiOutMidiChannel, 1);
        brink.Set(kMidiOutOutput, 0);
        brink.Set(kCh1GateOutput, 0);
        brink.Set(kCh1MidiChannel, 0);
        brink.Midi({Note(0, 0x55, 0x7F), Off(0, 0x2A)});
        const auto bytes = brinktest::DecodeSerial(brink.Run(512).Gate(0), rate);
        if (rate == 192000.0) {
            EXPECT_TRUE(bytes.empty()); // no line at other rates
            continue;
        }
        EXPECT_EQ(Values(bytes), (std::vector<uint8_t>{0x90, 0x55, 0x7F, 0x80, 0x2A, 0x00})) << rate;
    }
}

// MIDI clock on gate bit 39 (the serial line), the transport playing from
// `ppq` at 120 BPM.
void PlayClock(Brink& brink, double ppq)
{
    brink.Set(kMidiOutClock, 1);
    brink.Set(kMidiOutOutput, 39);
    brink.Set(kCh1MidiChannel, 0);
    brink.Host().Time().ppqPos = ppq;
    brink.Host().Time().barStartPos = 0;
    brink.Host().Time().playing = true;
}

// Clocks on the line, read back by a receiver, against the host's song
// position: 375-sample blocks at 120 BPM and 48000 Hz move the position by
// exactly 1/64 quarter, a clock every 1000 samples.
TEST(Brink, ClockIsLockedToTheHostPosition)
{
    Brink brink;
    PlayClock(brink, 1.5);
    const Output out = brink.Run(90000);
    const auto bytes = brinktest::DecodeSerial(out.Gate(39), 48000);
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(bytes[0].value, 0xFA);
    EXPECT_EQ(bytes[0].start, 60000); // quarter 4.0, the next bar line
    EXPECT_EQ(bytes[1].value, 0xF8);
    for (size_t i = 2; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].value, 0xF8);
        EXPECT_EQ(bytes[i].start, 60000 + 1000 * static_cast<int64_t>(i - 1));
    }
    EXPECT_EQ(bytes.size(), 31u);

    // A stop sends 0xFC once, at the start of the next block.
    brink.Host().Time().playing = false;
    const Output stopped = brink.Run(3000);
    const auto stop = brinktest::DecodeSerial(stopped.Gate(39), 48000);
    ASSERT_EQ(stop.size(), 1u);
    EXPECT_EQ(stop[0].value, 0xFC);
    EXPECT_EQ(stop[0].start, 0);
}

// The clock's samples depend on the song position only, not on where the
// host's blocks start.
TEST(Brink, ClockSamplesDoNotDependOnTheBlocks)
{
    auto starts = [](int32_t block) {
        Brink brink(kEffectId, 48000, block);
        PlayClock(brink, 0);
        std::vector<int64_t> at;
        for (const auto& b : brinktest::DecodeSerial(brink.Run(120000).Gate(39), 48000))
            at.push_back(b.start);
        return at;
    };
    const std::vector<int64_t> reference = starts(375);
    ASSERT_EQ(reference.size(), 121u); // 0xFA, then a clock every 1000 samples
    for (const int32_t block : {512, 100, 333, 4096, 441})
        EXPECT_EQ(starts(block), reference) << "blocks of " << block;
}

// A jump of the host's position without a loop: the clocks go on at their
// rate from the new position, with no silence until the old count is passed
// and no doubled clocks to catch up.
TEST(Brink, ClockFollowsAJumpOfThePosition)
{
    for (const double to : {1.0, 0.25, 10.0, 1000.5}) {
        Brink brink;
        PlayClock(brink, 0);
        const Output out = brink.Run(96000, {}, [&](int64_t first) {
            if (first == 48000)
                brink.Host().Time().ppqPos = to;
        });
        const auto bytes = brinktest::DecodeSerial(out.Gate(39), 48000);
        ASSERT_EQ(bytes.size(), 97u) << "jump to " << to; // 0xFA, then a clock every 1000 samples
        EXPECT_EQ(bytes[0].value, 0xFA);
        for (size_t i = 1; i < bytes.size(); ++i) {
            ASSERT_EQ(bytes[i].value, 0xF8);
            if (i >= 3) { // the first clock waits for the 0xFA on the line
                EXPECT_EQ(bytes[i].start - bytes[i - 1].start, 1000) << "jump to " << to << ", byte " << i;
            }
        }
    }
}

TEST(Brink, BrokenHostInputKeepsOutputsFinite)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double tempo, ppq;
        bool answerTime;
    } cases[] = {{nan, 0, true}, {inf, 0, true}, {-120, 0, true}, {0, 0, true}, {120, nan, true},
                          {120, 1e300, true}, {1e300, 0, true}, {120, 0, false}};
    for (const auto& c : cases) {
        Brink brink;
        brink.Set(kMidiOutClock, 1);
        brink.Set(kMidiOutMidiChannel, 17);
        brink.Set(kInput1, 1);
        brink.Set(kInput1 + 1, 2);
        brink.Set(kInputMode1 + 1, 1);
        brink.Set(kInputToGate1, 3);
        brink.Set(kInputThru, 2);
        brink.Set(kGates1MidiChannel, 16);
        brink.Set(kGates1BaseNote, 127);
        brink.Set(kTrigger, 100);
        brink.Host().Time().tempo = c.tempo;
        brink.Host().Time().ppqPos = c.ppq;
        brink.Host().Time().playing = true;
        brink.Host().Time().answerTime = c.answerTime;
        const InputSignal junk = [](int channel, int64_t i) {
            const float values[] = {kNaN, kInf, -kInf, 1e30f, -1e30f, 0.5f, -0.5f};
            return values[(channel + i) % 7];
        };
        const Output out = brink.Run(3000, junk, [&](int64_t start) {
            brink.Midi({Note(0, 0, 1, 0), Note(0, 127, 127, 1), Note(15, 127, 127, 374), Off(15, 127, 5000),
                        Cc(15, 120, 127, 2), Cc(0, 123, 0, 3), Cc(0, 127, 127, 4),
                        {7, {0xE5, 0x7F, 0x7F}}, {8, {0xF2, 0x7F, 0x7F}}, {9, {0x12, 0x34, 0x56}}});
            brink.Host().SendSysEx({0xF0, 0x7D, 0x00, 0xF7}, 20);
            brink.Host().Time().ppqPos = c.ppq;
            (void)start;
        });
        EXPECT_TRUE(corvane::test::AllFinite(out.left) && corvane::test::AllFinite(out.right)) << c.tempo << " " << c.ppq;
        // Whatever came in, every sample is a word: a multiple of 2^-19 in -1..1.
        for (size_t i = 0; i < out.Size(); i += 97) {
            EXPECT_LE(std::fabs(out.left[i]), 1.0f);
            EXPECT_EQ(out.left[i] * 524288.0f, std::round(out.left[i] * 524288.0f));
        }
    }
}

} // namespace
