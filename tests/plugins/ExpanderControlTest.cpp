// The machinery the expander controllers share besides the data words: the
// serial MIDI line's bit timing, the monophonic note stack, gate groups, MIDI
// forwarding and the MIDI clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "plugins/common/ExpanderControl.h"
#include "plugins/common/MonoNoteStack.h"
#include "tests/plugins/BrinkTestSupport.h"

namespace {

std::vector<bool> RunLine(SerialMidiLine& line, int32_t rateClass, int samples)
{
    std::vector<bool> bits;
    for (int i = 0; i < samples; ++i)
        bits.push_back(line.Step(rateClass));
    return bits;
}

TEST(SerialMidiLine, ClockByteAt48kHz)
{
    SerialMidiLine line;
    line.Reserve();
    ASSERT_TRUE(line.Append(0xF8));
    EXPECT_FALSE(line.Idle());
    const std::vector<bool> bits = RunLine(line, 2, 17);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bits[i], i < 6) << "sample " << i + 1;
    EXPECT_TRUE(line.Idle());
    EXPECT_EQ(line.Queued(), 0u);
    EXPECT_FALSE(bits[16]);
}

// At every supported rate, a receiver that samples each bit in its middle
// at 31250 baud reads back what was queued.
TEST(SerialMidiLine, ReceiverAt31250BaudReadsEveryByte)
{
    const double rates[] = {0, 44100, 48000, 88200, 96000};
    std::vector<uint8_t> message;
    for (int i = 0; i < 300; ++i)
        message.push_back(static_cast<uint8_t>(i * 37 + 11));
    message.push_back(0x00);
    message.push_back(0xFF);
    for (int32_t rateClass = 1; rateClass <= 4; ++rateClass) {
        SerialMidiLine line;
        line.Reserve();
        ASSERT_TRUE(line.Append(message.data(), message.size()));
        const int samples = SerialMidiLine::SamplesPerByte(rateClass) * static_cast<int>(message.size()) + 10;
        const auto decoded = brinktest::DecodeSerial(RunLine(line, rateClass, samples), rates[rateClass]);
        const auto bytePeriod = static_cast<int64_t>(std::ceil(10 * rates[rateClass] / 31250));
        ASSERT_EQ(decoded.size(), message.size()) << "class " << rateClass;
        for (size_t i = 0; i < message.size(); ++i) {
            EXPECT_EQ(decoded[i].value, message[i]) << "class " << rateClass << " byte " << i;
            EXPECT_TRUE(decoded[i].framed);
            // Bytes follow each other as closely as whole samples allow: ten
            // bit times, rounded up, so no stop bit is cut short.
            EXPECT_EQ(decoded[i].start, static_cast<int64_t>(i) * bytePeriod);
        }
        EXPECT_TRUE(line.Idle());
    }
}

TEST(SerialMidiLine, UnknownRateWaitsAndRateChangesMidByteAreSafe)
{
    SerialMidiLine line;
    line.Reserve();
    line.Append(0x90);
    // No line at other rates: nothing is sent, the byte waits.
    EXPECT_EQ(SerialRateClass(std::nan("")), 0);
    for (bool bit : RunLine(line, 0, 100))
        EXPECT_FALSE(bit);
    EXPECT_EQ(line.Queued(), 1u);
    // Twenty samples into a byte at 88200 Hz, the rate drops to 44100 Hz: the
    // line rests for a byte's time, then the byte starts over at the new rate
    // (never read past a table, never cut short).
    RunLine(line, 3, 20);
    const int32_t byteTime = SerialMidiLine::SamplesPerByte(1);
    for (bool bit : RunLine(line, 1, byteTime))
        EXPECT_FALSE(bit);
    EXPECT_EQ(line.Queued(), 1u);
    const std::vector<bool> again = RunLine(line, 1, byteTime);
    EXPECT_TRUE(again.front()); // its start bit
    EXPECT_EQ(line.Queued(), 0u);
    EXPECT_TRUE(line.Idle());
}

TEST(SerialMidiLine, FullQueueDropsWholeMessages)
{
    SerialMidiLine line;
    EXPECT_FALSE(line.Append(0xF8)); // no ring before Reserve
    line.Reserve();
    std::vector<uint8_t> big(SerialMidiLine::kCapacity - 1, 0x55);
    ASSERT_TRUE(line.Append(big.data(), big.size()));
    const uint8_t two[] = {0x90, 0x40};
    EXPECT_FALSE(line.Append(two, 2));
    EXPECT_FALSE(line.Append(0xF0, two, 1));
    EXPECT_EQ(line.Queued(), SerialMidiLine::kCapacity - 1);
    EXPECT_TRUE(line.Append(0xF8));
    EXPECT_FALSE(line.Append(0xF8));
    // Sending one byte makes room for one; the ring wraps around.
    RunLine(line, 2, 16);
    EXPECT_TRUE(line.Append(0xFA));
    EXPECT_FALSE(line.Append(0xFA));
    line.Clear();
    EXPECT_EQ(line.Queued(), 0u);
    EXPECT_TRUE(line.Idle());
}

TEST(MonoNoteStack, PriorityPicksTheSoundingNote)
{
    struct Step {
        bool press;
        int32_t note;
        int32_t expected; // Press: the sounding note; Release: the fallback (-1 none)
    };
    const struct {
        int32_t priority;
        std::vector<Step> steps;
    } cases[] = {
        {MonoNoteStack::kNewest, {{true, 60, 60}, {true, 64, 64}, {false, 64, 60}, {false, 60, -1}}},
        {MonoNoteStack::kLowest, {{true, 60, 60}, {true, 64, 60}, {true, 55, 55}, {false, 55, 60}, {false, 60, 64}}},
        {MonoNoteStack::kHighest, {{true, 60, 60}, {true, 64, 64}, {true, 55, 64}, {false, 64, 60}}},
        // A, B pressed, A released, C pressed (B and C share order number 2),
        // C released: B sounds again.
        {MonoNoteStack::kNewest, {{true, 50, 50}, {true, 52, 52}, {false, 50, 52}, {true, 49, 49}, {false, 49, 52}}},
        // Notes outside 0..127 are held to the ends.
        {MonoNoteStack::kNewest, {{true, -5, 0}, {true, 500, 127}, {false, 200, 0}, {false, -1, -1}}},
    };
    for (const auto& c : cases) {
        MonoNoteStack stack;
        for (const Step& s : c.steps) {
            if (s.press) {
                EXPECT_EQ(stack.Press(s.note, c.priority), s.expected) << "press " << s.note;
            } else {
                EXPECT_TRUE(stack.Release(s.note));
                EXPECT_EQ(stack.Fallback(c.priority), s.expected) << "release " << s.note;
            }
        }
        EXPECT_FALSE(stack.Release(61));
    }
    // A tie of order numbers falls back to the lower note.
    MonoNoteStack tie;
    tie.Press(50, MonoNoteStack::kNewest);
    tie.Press(52, MonoNoteStack::kNewest);
    tie.Release(50);
    tie.Press(49, MonoNoteStack::kNewest);
    EXPECT_EQ(tie.Fallback(MonoNoteStack::kNewest), 49);

    // All 128 notes held: the order numbers still fit.
    MonoNoteStack stack;
    for (int32_t n = 127; n >= 0; --n)
        stack.Press(n, MonoNoteStack::kNewest);
    EXPECT_EQ(stack.HeldCount(), 128);
    EXPECT_EQ(stack.Fallback(MonoNoteStack::kNewest), 0);
    stack.Clear();
    EXPECT_EQ(stack.Fallback(MonoNoteStack::kLowest), -1);
}

struct GateParams {
    float values[130] = {};
    float operator()(int32_t index) const { return values[index]; }
};

constexpr ExpanderGateLayout kLayout{5, 21, 58, 99};

TEST(ExpanderGateGroups, TriggerLengthsAtOddRates)
{
    const struct {
        double rate;
        float ms;
        int32_t samples;
    } rows[] = {
        {48000, 10, 480}, {44100, 0.01f, 1}, {0, 50, 1}, {std::nan(""), 50, 1}, {1e300, 100, INT32_MAX},
    };
    for (const auto& row : rows) {
        GateParams p;
        p.values[21] = 1;
        p.values[22] = 0;
        p.values[58] = row.ms;
        ExpanderGateGroups groups;
        groups.Reset();
        groups.Refresh(kLayout, row.rate, p);
        groups.NoteOn(0, 0, 100);
        EXPECT_EQ(groups.SamplesToTriggerEnd(), row.samples) << row.rate << " " << row.ms;
    }
}

// Triggers of 10 and 30 samples: the nearest end, the gates each closes,
// and a note after all have ended that starts its countdown anew.
TEST(ExpanderGateGroups, TriggersEndInTurnAndStartAgain)
{
    GateParams p;
    p.values[21] = 1;      // group 1 on channel 1, base note 0
    p.values[58] = 10;     // gate 1: 10 ms (at 1 kHz: 10 samples)
    p.values[58 + 1] = 30; // gate 2: 30 ms
    ExpanderGateGroups groups;
    groups.Reset();
    groups.Refresh(kLayout, 1000, p);
    groups.NoteOn(0, 0, 100);
    groups.NoteOn(0, 1, 100);
    const struct {
        int32_t advance; // before the checks (-1: a new note on gate 1)
        int32_t nearest; // SamplesToTriggerEnd
        uint8_t bits;    // group 1's gates
    } steps[] = {
        {0, 10, 0x03}, {4, 6, 0x03}, {6, 20, 0x02}, {20, INT32_MAX, 0x00}, {-1, 10, 0x01}, {10, INT32_MAX, 0x00},
    };
    for (const auto& step : steps) {
        if (step.advance < 0)
            groups.NoteOn(0, 0, 100);
        else
            groups.Advance(step.advance);
        EXPECT_EQ(groups.SamplesToTriggerEnd(), step.nearest) << step.advance;
        EXPECT_EQ(groups.Bits(0), step.bits) << step.advance;
    }
}

std::vector<uint8_t> Drain(SerialMidiLine& line)
{
    const size_t count = line.Queued();
    const auto decoded =
        brinktest::DecodeSerial(RunLine(line, 4, static_cast<int>(count * 31 + 40)), 96000.0);
    std::vector<uint8_t> bytes;
    for (const auto& b : decoded)
        bytes.push_back(b.value);
    return bytes;
}

QZ::MessageQueueItem Short(uint8_t status, uint8_t channel, uint8_t d1, uint8_t d2)
{
    QZ::MessageQueueItem item;
    item.type = QZ::MessageQueueItem::kShortMIDI;
    item.data[0] = status;
    item.data[1] = channel;
    item.data[2] = d1;
    item.data[3] = d2;
    return item;
}

// Every pattern of open gates in every group reads back as its byte (gate j
// in bit j), and a group on no channel reads 0.
TEST(ExpanderGateGroups, EveryGatePatternIsItsByte)
{
    GateParams p;
    for (int32_t k = 0; k < 5; ++k) {
        p.values[21 + 2 * k] = static_cast<float>(k + 1); // group k on channel k + 1
        p.values[22 + 2 * k] = 8.0f * static_cast<float>(k); // base note 8k
    }
    for (uint32_t pattern = 0; pattern < 256; ++pattern) {
        ExpanderGateGroups groups;
        groups.Reset();
        groups.Refresh(kLayout, 48000, p);
        for (int32_t k = 0; k < 5; ++k)
            for (int32_t j = 0; j < 8; ++j)
                if ((pattern >> ((j + k) & 7)) & 1)
                    groups.NoteOn(k, 8 * k + j, 100);
        for (int32_t k = 0; k < 5; ++k) {
            const auto expected = static_cast<uint8_t>((pattern >> k | pattern << (8 - k)) & 0xFF);
            ASSERT_EQ(groups.Bits(k), expected) << "pattern " << pattern << ", group " << k;
        }
        EXPECT_EQ(groups.Bits(5), 0);
        EXPECT_EQ(groups.Bits(-1), 0);
    }
}

TEST(ExpanderForwarding, ChannelFilterChanneliseAndSystemMessages)
{
    struct Row {
        QZ::MessageQueueItem item;
        int32_t outChannel, channelise;
        std::vector<uint8_t> sent;
    };
    QZ::MessageQueueItem sysex;
    sysex.type = QZ::MessageQueueItem::kSysEx;
    sysex.bytes = {0x7E, 0x01, 0xF7};
    const std::vector<Row> rows = {
        {Short(0x90, 0, 60, 100), 1, 0, {0x90, 60, 100}},
        {Short(0x90, 1, 60, 100), 1, 0, {}},
        {Short(0x90, 1, 60, 100), 0, 0, {}},
        {Short(0x90, 15, 60, 100), 17, 0, {0x9F, 60, 100}},
        {Short(0x80, 3, 1, 2), 17, 10, {0x89, 1, 2}},
        {Short(0xC0, 4, 7, 0), 5, 0, {0xC4, 7}},
        {Short(0xD0, 4, 7, 0), 17, 16, {0xDF, 7}},
        {Short(0xE0, 0, 0, 64), 17, 0, {0xE0, 0, 64}},
        {Short(0xF0, 8, 0, 0), 0, 0, {0xF8}},   // clock passes whatever the channel
        {Short(0xF0, 1, 5, 0), 0, 0, {0xF1, 5}},
        {Short(0xF0, 3, 2, 0), 0, 0, {0xF3, 2}},
        {Short(0xF0, 2, 1, 2), 0, 0, {0xF2, 1, 2}},
        {Short(0xF0, 4, 1, 2), 17, 0, {}},       // undefined
        {Short(0xF0, 7, 1, 2), 17, 0, {}},       // end of SysEx alone
        {Short(0x40, 0, 1, 2), 17, 0, {}},       // no status byte
        {sysex, 0, 0, {0xF0, 0x7E, 0x01, 0xF7}},
    };
    for (const Row& row : rows) {
        SerialMidiLine line;
        line.Reserve();
        ForwardToSerialLine(line, row.item, row.outChannel, row.channelise);
        EXPECT_EQ(Drain(line), row.sent) << std::hex << int(row.item.data[0]) << " " << int(row.item.data[1]);
    }
}

struct ClockRun {
    ExpanderMidiClock clock;
    SerialMidiLine line;
    VstTimeInfo time{};
    double rate = 48000;
    std::vector<int64_t> clockSamples; // absolute samples where clocks went out
    std::vector<uint8_t> bytes;
    int64_t sample = 0;

    ClockRun()
    {
        line.Reserve();
        time.tempo = 120;
        time.flags = kVstTempoValid | kVstPpqPosValid | kVstTransportPlaying | kVstTimeSigValid;
        time.timeSigNumerator = 4;
        time.timeSigDenominator = 4;
    }

    // One block: the clock's appends are read back right away.
    void Block(int32_t frames, const ExpanderMidiClock::Settings& settings, const VstTimeInfo* info)
    {
        clock.BeginBlock(info, settings.clockOn);
        clock.BeginClocks(line, settings, rate, frames);
        Take();
        while (clock.NextClockSample() < frames) {
            const int32_t at = clock.NextClockSample();
            const size_t before = line.Queued();
            clock.SendClock(line);
            if (line.Queued() > before)
                clockSamples.push_back(sample + at);
            Take();
            ASSERT_LT(clockSamples.size(), 100000u);
        }
        sample += frames;
        time.ppqPos += frames / rate * time.tempo / 60.0;
    }
    void Take()
    {
        for (uint8_t b : Drain(line))
            bytes.push_back(b);
    }
};

ExpanderMidiClock::Settings ClockOn(float offsetMs = 0, float swing = 50, float type = 0)
{
    return ExpanderMidiClock::MakeSettings(1, offsetMs, swing, type);
}

TEST(ExpanderMidiClock, HostLoopMovesTheCountBack)
{
    // A cycle of 1 quarter from 0 to 1: the host jumps back every 24000 samples.
    ClockRun run;
    run.time.flags |= kVstCyclePosValid | kVstTransportCycleActive;
    run.time.cycleStartPos = 0;
    run.time.cycleEndPos = 1;
    for (int i = 0; i < 64 * 3; ++i) {
        run.Block(375, ClockOn(), &run.time);
        if (run.time.ppqPos >= 1.0)
            run.time.ppqPos -= 1.0;
    }
    // 24 clocks per loop, one every 1000 samples, none doubled.
    ASSERT_EQ(run.clockSamples.size(), 72u);
    for (size_t i = 0; i < run.clockSamples.size(); ++i)
        EXPECT_EQ(run.clockSamples[i], 1000 * static_cast<int64_t>(i));
    EXPECT_EQ(run.bytes.size(), 73u); // 0xFA and 72 clocks
}

TEST(ExpanderMidiClock, SwingAndOffsetMoveTheClocks)
{
    struct Case {
        float offsetMs, swing, type;
    };
    for (const Case& c : {Case{0, 60, 0}, Case{10, 50, 0}, Case{-20, 70, 1}}) {
        ClockRun run;
        run.time.ppqPos = 8; // on a bar line: clock 192 is the first one owed
        for (int i = 0; i < 200; ++i)
            run.Block(375, ClockOn(c.offsetMs, c.swing, c.type), &run.time);
        // Where clock n belongs, in samples from the start: its swung place,
        // earlier by the offset. Clocks that fell before the start are not
        // sent on their own (the first one sent catches up on them).
        const double s = c.swing * 0.01, period = c.type >= 1 ? 24 : 12;
        const double shift = c.offsetMs * 0.001 * 48000;
        std::vector<double> expected;
        for (double n = 192; expected.size() < 40; ++n) {
            const double r = std::fmod(n, period), f = r / period;
            const double g = f < 0.5 ? 2 * s * f : 1 - (1 - s) * 2 * (1 - f);
            const double at = (g * period + (n - r) - 192) * 1000 - shift;
            if (at >= 0)
                expected.push_back(at);
        }
        ASSERT_GE(run.clockSamples.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_NEAR(static_cast<double>(run.clockSamples[i]), expected[i], 1.0) << "clock " << i;
    }
}

TEST(ExpanderMidiClock, WithTheClockOffAStopSendsNothing)
{
    ClockRun quiet;
    const auto off = ExpanderMidiClock::MakeSettings(0, 0, 50, 0);
    quiet.Block(375, off, &quiet.time);
    quiet.time.flags &= ~kVstTransportPlaying;
    quiet.Block(375, off, &quiet.time);
    EXPECT_TRUE(quiet.bytes.empty());
}

// Switching the clock on while the song plays starts it at the next clock
// (with the start it still owes), instead of doubling clocks for as long as
// the song had played.
TEST(ExpanderMidiClock, SwitchedOnWhilePlayingDoesNotBurst)
{
    ClockRun run;
    run.time.ppqPos = 100;
    const auto off = ExpanderMidiClock::MakeSettings(0, 0, 50, 0);
    for (int i = 0; i < 5; ++i)
        run.Block(375, off, &run.time);
    for (int i = 0; i < 64; ++i)
        run.Block(375, ClockOn(), &run.time);
    ASSERT_EQ(run.bytes.size(), 25u);
    EXPECT_EQ(run.bytes[0], 0xFA);
    for (size_t i = 1; i < run.clockSamples.size(); ++i)
        EXPECT_EQ(run.clockSamples[i] - run.clockSamples[i - 1], 1000);
}

// A start without a tempo has no bar line to aim at: once the tempo comes,
// the start and the clocks go out from the next clock on, one at a time.
TEST(ExpanderMidiClock, StartWithoutTempoBeginsAtTheNextClock)
{
    ClockRun run;
    run.time.flags &= ~kVstTempoValid;
    run.time.ppqPos = 50;
    for (int i = 0; i < 4; ++i) {
        run.Block(375, ClockOn(), &run.time);
        run.time.ppqPos = 50;
    }
    EXPECT_TRUE(run.bytes.empty());
    run.time.flags |= kVstTempoValid;
    run.time.ppqPos = 60;
    for (int i = 0; i < 64; ++i)
        run.Block(375, ClockOn(), &run.time);
    ASSERT_EQ(run.bytes.size(), 25u);
    EXPECT_EQ(run.bytes[0], 0xFA);
    ASSERT_EQ(run.clockSamples.size(), 24u);
    EXPECT_EQ(run.clockSamples[0], 4 * 375);
    for (size_t i = 1; i < run.clockSamples.size(); ++i)
        EXPECT_EQ(run.clockSamples[i] - run.clockSamples[i - 1], 1000);
}

TEST(ExpanderMidiClock, BrokenHostTimeSendsNoClocks)
{
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double tempo, ppq, barStart;
        bool nullInfo;
        size_t maxBytes;
    } cases[] = {
        {nan, 0, 0, false, 0},     {inf, 0, 0, false, 0},     {-120, 0, 0, false, 0},
        {0, 0, 0, false, 0},       {120, 1e300, 0, false, 0},
        {1e-300, 0, 0, false, 2},  // the start and the clock at 0; the next one is ages away
        {120, 0, 0, true, 0},      // no time info: no tempo
        {120, nan, nan, false, 2}, // the position reads as 0 and stands still: the start and one clock
    };
    for (const auto& c : cases) {
        ClockRun run;
        run.time.tempo = c.tempo;
        run.time.ppqPos = c.ppq;
        run.time.barStartPos = c.barStart;
        run.time.flags |= kVstBarsValid;
        for (int i = 0; i < 20; ++i) {
            run.Block(375, ClockOn(), c.nullInfo ? nullptr : &run.time);
            run.time.ppqPos = c.ppq;
        }
        EXPECT_LE(run.bytes.size(), c.maxBytes) << c.tempo << " " << c.ppq;
    }
    // Time signatures of nothing fall back to 4/4.
    ClockRun odd;
    odd.time.timeSigNumerator = 0;
    odd.time.timeSigDenominator = -3;
    odd.time.ppqPos = 1;
    for (int i = 0; i < 200; ++i)
        odd.Block(375, ClockOn(), &odd.time);
    ASSERT_FALSE(odd.clockSamples.empty());
    EXPECT_EQ(odd.clockSamples[0], 3 * 24000);
}

} // namespace
