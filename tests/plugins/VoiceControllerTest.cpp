// The Voice Controller through the built module and our host: what it tells
// the host, a note of the default program on all six outputs, the pitch
// through a calibration that arrives in a saved state, the state round trip
// into a fresh instance, state records that lie about their sizes, and
// broken input of every kind keeping the outputs finite.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/plugins/VoiceControllerTestSupport.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::host::MidiMessage;
using corvane::host::Plugin;
using namespace vctest;

constexpr int32_t kEffectId = vst::FourCC("QZs1");
constexpr int32_t kInstrumentId = vst::FourCC("QZsa");
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct Outputs {
    std::vector<float> ch[6];
    bool Finite() const
    {
        for (const auto& c : ch)
            if (!corvane::test::AllFinite(c))
                return false;
        return true;
    }
};

class Vc {
public:
    explicit Vc(int32_t id = kEffectId, double rate = 48000, int32_t block = 512) : block(block)
    {
        plugin = Plugin::Create(corvane::test::LoadedModule(), id);
        if (!plugin)
            throw std::runtime_error("the module gives no Voice Controller");
        plugin->Start(rate, block);
    }

    void Set(int32_t index, float real) { corvane::test::SetReal(*plugin, index, RangeOf(index), real); }
    void Midi(const std::vector<MidiMessage>& messages) { plugin->SendMidi(messages); }

    // `frames` samples in blocks; `input` gives the input sample, `before`
    // runs before each block with its first frame.
    Outputs Run(int64_t frames, const std::function<float(int64_t)>& input = {},
                const std::function<void(int64_t)>& before = {})
    {
        Outputs out;
        std::vector<std::vector<float>> outputs;
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
            if (before)
                before(done);
            std::vector<std::vector<float>> inputs(1, std::vector<float>(static_cast<size_t>(n), 0.0f));
            if (input)
                for (int32_t i = 0; i < n; ++i)
                    inputs[0][static_cast<size_t>(i)] = input(done + i);
            plugin->ProcessBlock(inputs, outputs, n);
            for (int c = 0; c < 6; ++c)
                out.ch[c].insert(out.ch[c].end(), outputs[static_cast<size_t>(c)].begin(),
                                 outputs[static_cast<size_t>(c)].end());
            done += n;
        }
        return out;
    }

    Plugin& Host() { return *plugin; }
    int32_t block;

private:
    std::unique_ptr<Plugin> plugin;
};

// The saved state of a fresh instance with its program chunk's calibration
// values replaced by `values` and, when given, a 'calt' and a 'calf' record.
std::vector<uint8_t> StateWithCalibration(const std::vector<float>& values, const std::vector<Record>& extra = {})
{
    Vc fresh;
    std::vector<Record> records = ParseState(fresh.Host().GetChunk());
    std::vector<Record> out;
    for (Record r : records) {
        if (r.tag == Tag("chnk")) {
            EXPECT_EQ(r.payload.size(), kProgramChunkSize);
            for (size_t i = 0; i < values.size(); ++i)
                SetF32(&r.payload[kCalibrationOffset + 4 * i], values[i]);
        }
        if (r.tag == Tag("calf") || r.tag == Tag("calt"))
            continue;
        out.push_back(r);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return BuildState(out);
}

float Param(Vc& vc, int32_t index)
{
    const corvane::test::Range r = RangeOf(index);
    const double n = vc.Host().GetParameter(index);
    if (r.logarithmic)
        return static_cast<float>(r.min * std::pow(static_cast<double>(r.max) / r.min, n));
    return static_cast<float>(r.min + n * (r.max - r.min));
}

// Default program, note 60 at sample 100: output 1 the calibrated pitch (0
// with the empty table), 2 the gate, 3-5 the envelopes (A1 of no time, A2 a
// parabola to 1 in 0.1 s, A3 to the sustain of 0.5), 6 a trigger of 0.2 ms.
TEST(VoiceController, DefaultProgramPlaysANoteOnAllSixOutputs)
{
    Vc vc;
    vc.Midi({NoteOnMsg(60, 100, 100)});
    const Outputs on = vc.Run(24000);
    ASSERT_TRUE(on.Finite());
    const double n = 0.1 * 48000; // A2 and A3 in samples
    for (size_t i = 0; i < on.ch[0].size(); ++i) {
        ASSERT_EQ(on.ch[0][i], 0.0f) << i;
        ASSERT_EQ(on.ch[1][i], i < 100 ? 0.0f : 1.0f) << i;
        ASSERT_EQ(on.ch[5][i], i >= 100 && i < 109 ? 1.0f : 0.0f) << i; // (int)(0.2 ms x 48 kHz) = 9
        for (int e = 2; e <= 4; ++e)
            ASSERT_EQ(on.ch[e][i], on.ch[2][i]) << i;
    }
    EXPECT_EQ(on.ch[2][99], 0.0f);
    EXPECT_EQ(on.ch[2][100], 0.0f); // A1: one sample from 0 to 0
    for (int k : {1, 1200, 2400, 4800}) // A2 from 0 to 1: (k / n)^2
        EXPECT_NEAR(on.ch[2][static_cast<size_t>(100 + k)], (k / n) * (k / n), 1e-6) << k;
    EXPECT_NEAR(on.ch[2][100 + 4800 + 2400], 0.5 + 0.5 * 0.25, 1e-5); // A3 1 to 0.5, half-way: parabola
    EXPECT_NEAR(on.ch[2][100 + 9600], 0.5, 1e-5);
    EXPECT_NEAR(on.ch[2][23999], 0.5, 1e-6);

    vc.Midi({NoteOffMsg(60, 0)});
    const Outputs off = vc.Run(6000);
    EXPECT_EQ(off.ch[1][0], 0.0f);
    EXPECT_NEAR(off.ch[2][2399], 0.5 * 0.25, 1e-5); // R1 from 0.5 to 0: falling parabola, steep first
    EXPECT_NEAR(off.ch[2][5999], 0.0f, 1e-6);
    EXPECT_EQ(off.ch[5][0], 0.0f);
}

// A note at the very first sample a fresh instance processes gets the whole
// trigger (9 samples of 0.2 ms), as a note anywhere else does.
TEST(VoiceController, FirstNoteGetsTheWholeTrigger)
{
    for (const int32_t delta : {0, 1, 100}) {
        Vc vc;
        vc.Midi({NoteOnMsg(60, 100, delta)});
        const Outputs on = vc.Run(512);
        for (size_t i = 0; i < on.ch[5].size(); ++i)
            ASSERT_EQ(on.ch[5][i], i >= static_cast<size_t>(delta) && i < static_cast<size_t>(delta) + 9 ? 1.0f : 0.0f)
                << "note at " << delta << ", sample " << i;
    }
}

// The calibration comes in a saved state's program chunk: note 60 plays
// value[60]; 50 cents above lies half-way to value[61]; pitches beyond the
// ends hold to notes 0 and 127.
TEST(VoiceController, PitchFollowsTheCalibrationOfARestoredState)
{
    std::vector<float> values(129);
    for (int i = 0; i < 129; ++i)
        values[static_cast<size_t>(i)] = static_cast<float>(i * i) / 20000.0f - 0.25f;
    const std::vector<uint8_t> state = StateWithCalibration(values);

    struct Case {
        int note;
        float detune;
        float transpose;
        float expected;
    };
    const Case cases[] = {
        {60, 0, 0, values[60]},
        {60, 50, 0, 0.5f * (values[60] + values[61])},
        {60, -25, 0, 0.25f * values[59] + 0.75f * values[60]},
        {100, 0, 48, values[127]},
        {10, 0, -48, values[0]},
        {127, 100, 0, values[127]},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "note " << c.note << " detune " << c.detune << " transpose "
                                        << c.transpose);
        Vc vc;
        ASSERT_EQ(vc.Host().SetChunk(state), 1);
        vc.Set(kDetune, c.detune);
        vc.Set(kTranspose, c.transpose);
        vc.Midi({NoteOnMsg(c.note, 90)});
        const Outputs out = vc.Run(256);
        EXPECT_NEAR(out.ch[0][255], c.expected, 1e-5f);
    }
}

// Everything a project keeps comes back in a fresh instance: the values,
// the calibration values, its valid flags and name; the fresh instance then
// saves the same bytes and plays the same samples.
TEST(VoiceController, StateRoundTripIntoAFreshInstance)
{
    std::vector<float> values(129);
    std::vector<uint8_t> valid(129);
    for (int i = 0; i < 129; ++i) {
        values[static_cast<size_t>(i)] = DunmoreValue(i);
        valid[static_cast<size_t>(i)] = i % 3 == 0;
    }
    const char name[] = "/home/user/my osc.cal";
    const std::vector<uint8_t> state = StateWithCalibration(
        values, {{Tag("calf"), std::vector<uint8_t>(name, name + sizeof name)},
                 {Tag("calt"), CalibrationRecord(1, 129, values, valid)}});

    Vc a;
    ASSERT_EQ(a.Host().SetChunk(state), 1);
    a.Set(kPortamentoMode, 1);
    a.Set(kPortamentoTime, 0.05f);
    a.Set(kEnv1 + 14 + 12, 0.8f); // Env 2 Sustain
    a.Set(kOutput1 + 8 * 5 + 7, 0.5f); // Output 6 Velocity
    const std::vector<uint8_t> saved = a.Host().GetChunk();

    Vc b;
    ASSERT_EQ(b.Host().SetChunk(saved), 1);
    EXPECT_EQ(b.Host().GetChunk(), saved);
    const std::vector<Record> records = ParseState(saved);
    const Record* calf = Find(records, Tag("calf"));
    ASSERT_NE(calf, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(calf->payload.data()), name);
    const Record* calt = Find(records, Tag("calt"));
    ASSERT_NE(calt, nullptr);
    ASSERT_EQ(calt->payload.size(), 656u); // 653 padded
    EXPECT_EQ(GetU32(&calt->payload[0]), 1u);
    EXPECT_EQ(GetU32(&calt->payload[4]), 129u);
    for (size_t i = 0; i < 129; ++i) {
        EXPECT_EQ(GetF32(&calt->payload[8 + 4 * i]), values[i]);
        EXPECT_EQ(calt->payload[524 + i], valid[i]);
    }

    for (Vc* vc : {&a, &b})
        vc->Midi({NoteOnMsg(50, 100, 10), NoteOnMsg(67, 80, 300), NoteOffMsg(67, 700)});
    const Outputs outA = a.Run(4096), outB = b.Run(4096);
    for (int c = 0; c < 6; ++c)
        EXPECT_EQ(outA.ch[c], outB.ch[c]) << c;
    EXPECT_NEAR(outA.ch[0][4095], DunmoreValue(50), 2e-3); // gliding back to note 50
}

// The valid flags the instance saves after restoring a state with the given
// 'calt' payload (and no program chunk); its values through output 1.
struct Restored {
    std::vector<float> values;
    std::vector<uint8_t> valid;
};

Restored RestoreCalt(const std::vector<uint8_t>& payload)
{
    Vc vc;
    vc.Host().SetChunk(BuildState({{Tag("calt"), payload}}));
    const std::vector<Record> records = ParseState(vc.Host().GetChunk());
    const Record* calt = Find(records, Tag("calt"));
    Restored r;
    if (!calt || calt->payload.size() < 653)
        return r;
    for (size_t i = 0; i < 129; ++i) {
        r.values.push_back(GetF32(&calt->payload[8 + 4 * i]));
        r.valid.push_back(calt->payload[524 + i]);
    }
    return r;
}

TEST(VoiceController, CalibrationRecordsThatLieAboutTheirSizeAreReadSafelyOrNotAtAll)
{
    std::vector<float> ramp(200);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = 0.001f * static_cast<float>(i + 1);
    const std::vector<uint8_t> ones(200, 1);

    // Count 200 with the whole 1008 bytes: 129 values, valid bytes from 808.
    std::vector<uint8_t> wide = CalibrationRecord(1, 200, ramp, std::vector<uint8_t>(200, 0));
    ASSERT_EQ(wide.size(), 1008u);
    wide[808 + 5] = 1;
    Restored r = RestoreCalt(wide);
    ASSERT_EQ(r.values.size(), 129u);
    EXPECT_EQ(r.values[128], ramp[128]);
    for (size_t i = 0; i < 129; ++i)
        EXPECT_EQ(r.valid[i], i == 5 ? 1 : 0) << i;

    struct Bad {
        const char* what;
        std::vector<uint8_t> payload;
    };
    std::vector<uint8_t> cut = CalibrationRecord(1, 200, ramp, ones);
    cut.resize(1004); // records are whole words: 4 bytes short of its count
    // 0x33333334 x 5 + 8 is 12 in 32 bits: a wrapped check would accept 23 bytes.
    std::vector<uint8_t> huge = CalibrationRecord(1, 0x33333334u, {1, 2, 3}, {1, 1, 1});
    std::vector<uint8_t> maxCount = CalibrationRecord(1, 0xFFFFFFFFu, ramp, ones);
    const Bad bad[] = {
        {"4 bytes short of its count", cut},
        {"count x 5 wrapping in 32 bits", huge},
        {"count 2^32 - 1", maxCount},
        {"version 2", CalibrationRecord(2, 129, std::vector<float>(129, 0.5f), std::vector<uint8_t>(129, 1))},
        {"8 bytes", CalibrationRecord(1, 0, {}, {})},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        const Restored restored = RestoreCalt(b.payload);
        ASSERT_EQ(restored.values.size(), 129u);
        for (size_t i = 0; i < 129; ++i) {
            EXPECT_EQ(restored.values[i], 0.0f) << i;
            EXPECT_EQ(restored.valid[i], 0) << i;
        }
    }

    // A short count changes only its entries; values that are not numbers
    // become 0 and invalid.
    Restored shortCount = RestoreCalt(CalibrationRecord(1, 3, {0.5f, kNaN, -kInf}, {1, 1, 1}));
    ASSERT_EQ(shortCount.values.size(), 129u);
    EXPECT_EQ(shortCount.values[0], 0.5f);
    EXPECT_EQ(shortCount.valid[0], 1);
    EXPECT_EQ(shortCount.values[1], 0.0f);
    EXPECT_EQ(shortCount.valid[1], 0);
    EXPECT_EQ(shortCount.values[2], 0.0f);
    EXPECT_EQ(shortCount.valid[2], 0);
}

// Program chunks: a short one overwrites only what it holds; one in the
// other byte order is turned round.
TEST(VoiceController, ProgramChunksShortOrInTheOtherByteOrder)
{
    Vc source;
    source.Set(kDetune, 33);
    source.Set(kTranspose, -7);
    std::vector<Record> records = ParseState(source.Host().GetChunk());
    const Record* chnk = Find(records, Tag("chnk"));
    ASSERT_NE(chnk, nullptr);
    std::vector<uint8_t> program = chnk->payload;
    for (size_t i = 0; i < 129; ++i)
        SetF32(&program[kCalibrationOffset + 4 * i], 0.002f * static_cast<float>(i));

    {
        // A bare program chunk (no record around it) up to the middle of the
        // Detune value: only the calibration and the values before it come in.
        Vc vc;
        vc.Set(kDetune, -80);
        vc.Set(kTranspose, 5);
        const auto cut = static_cast<long>(kParamsOffset + 4 * kDetune + 2);
        std::vector<uint8_t> part(program.begin(), program.begin() + cut);
        ASSERT_EQ(vc.Host().SetChunk(part), 1);
        EXPECT_NEAR(Param(vc, kDetune), -80, 1e-3);
        EXPECT_NEAR(Param(vc, kTranspose), 5, 1e-3);
        EXPECT_NEAR(Param(vc, kPitchLFOSpeed), 5, 1e-3);
        const std::vector<Record> after = ParseState(vc.Host().GetChunk());
        const Record* saved = Find(after, Tag("chnk"));
        ASSERT_NE(saved, nullptr);
        EXPECT_EQ(GetF32(&saved->payload[kCalibrationOffset + 4 * 100]), 0.2f);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&saved->payload[12])), "Defaults");
    }
    {
        std::vector<uint8_t> swapped = program;
        for (size_t at = 0; at < swapped.size(); at += 4)
            if (at < 12 || at >= kCalibrationOffset)
                std::swap(swapped[at], swapped[at + 3]), std::swap(swapped[at + 1], swapped[at + 2]);
        Vc vc;
        corvane::test::StderrCapture capture;
        ASSERT_EQ(vc.Host().SetChunk(BuildState({{Tag("chnk"), swapped}})), 1);
        EXPECT_NE(capture.Text().find("brel vst byte swapping chunk\n"), std::string::npos);
        EXPECT_NEAR(Param(vc, kDetune), 33, 1e-3);
        EXPECT_NEAR(Param(vc, kTranspose), -7, 1e-3);
        const std::vector<Record> after = ParseState(vc.Host().GetChunk());
        const Record* saved = Find(after, Tag("chnk"));
        ASSERT_NE(saved, nullptr);
        EXPECT_EQ(GetU32(&saved->payload[0]), Tag("obry"));
        EXPECT_EQ(GetU32(&saved->payload[4]), Tag("QZs1"));
        EXPECT_EQ(GetF32(&saved->payload[kCalibrationOffset + 4 * 100]), 0.2f);
    }
}

// Values nobody checked (a saved project), broken samples, a broken sample
// rate, MIDI of every byte and blocks longer than announced: the outputs
// stay numbers.
TEST(VoiceController, BrokenInputKeepsEveryOutputFinite)
{
    std::vector<float> values(129, 0.1f);
    values[60] = kNaN;
    values[61] = kInf;
    values[128] = -kInf;
    std::vector<uint8_t> state = StateWithCalibration(values);
    // Every parameter NaN, infinite or far outside its range.
    std::vector<Record> records = ParseState(state);
    for (Record& r : records)
        if (r.tag == Tag("chnk"))
            for (int32_t i = 0; i < kParamCount; ++i)
                SetF32(&r.payload[kParamsOffset + 4 * static_cast<size_t>(i)],
                       i % 3 == 0 ? kNaN : (i % 3 == 1 ? kInf : -1e30f));
    state = BuildState(records);

    struct Setup {
        const char* what;
        double rate;
        int32_t block;
        int32_t runBlock;
    };
    const Setup setups[] = {
        {"48 kHz", 48000, 512, 512},
        {"rate 0", 0, 512, 512},
        {"rate NaN", std::numeric_limits<double>::quiet_NaN(), 256, 256},
        {"rate 1e30", 1e30, 256, 256},
        {"blocks longer than announced", 48000, 64, 3000},
    };
    // Unsorted events past the block's end wait in the queue, which then
    // overflows (and says so): expected with this input, kept off the log.
    corvane::test::StderrCapture quiet;
    for (const Setup& s : setups) {
        SCOPED_TRACE(s.what);
        Vc vc(kEffectId, s.rate, s.block);
        vc.block = s.runBlock;
        ASSERT_EQ(vc.Host().SetChunk(state), 1);
        for (int32_t i = 0; i < kParamCount; ++i) {
            const float v = Param(vc, i);
            EXPECT_TRUE(std::isfinite(v) && v >= RangeOf(i).min - 1e-3f && v <= RangeOf(i).max + 1e-3f) << i;
        }
        uint32_t seed = 12345;
        const Outputs out = vc.Run(
            12000,
            [](int64_t i) {
                const float broken[] = {kNaN, kInf, -kInf, 1e30f, -3.0f, 0.5f};
                return broken[i % 6];
            },
            [&](int64_t) {
                std::vector<MidiMessage> midi;
                for (int k = 0; k < 40; ++k) {
                    seed = seed * 1103515245u + 12345u;
                    midi.push_back({static_cast<int32_t>(seed % 700),
                                    {static_cast<uint8_t>(0x80 | (seed >> 8 & 0x7F)), static_cast<uint8_t>(seed >> 16),
                                     static_cast<uint8_t>(seed >> 24)}});
                }
                vc.Midi(midi);
            });
        EXPECT_TRUE(out.Finite());
    }
}

} // namespace
