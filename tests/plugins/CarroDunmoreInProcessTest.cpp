// The Carro Controller and the Dunmore Combiner built in-process: all sound
// off through the command queue, the frames shown in the indicator block,
// value lists and flags, program values nobody checked, the combiner's
// filter design and code rules, and audio paths that allocate nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "plugins/carro/ObryCorvaneCarroController.h"
#include "plugins/dunmore/ObryCorvaneDunmoreCombiner.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/CarroDunmoreTestSupport.h"
#include "tests/support/InProcessPlugin.h"

namespace {

using Carro = ObryCorvaneCarroController::ObryCorvane;
using Dunmore = ObryCorvaneDunmoreCombiner::ObryCorvane;
using corvane::test::InProcessHost;
using corvane::test::InProcessPlugin;
using corvane::test::kInf;
using corvane::test::kNaN;

constexpr int32_t kFrames = 512;

InProcessPlugin<Carro> MakeCarro(bool instrument = false)
{
    InProcessPlugin<Carro> carro(new Carro(InProcessHost, instrument));
    carro->setSampleRate(48000);
    carro->setBlockSize(kFrames);
    carro->resume();
    return carro;
}

struct Block {
    std::vector<std::vector<float>> in = std::vector<std::vector<float>>(8, std::vector<float>(kFrames, 0.0f));
    std::vector<float> left = std::vector<float>(kFrames), right = std::vector<float>(kFrames);
    float* inputs[8];
    float* outputs[2];
    Block()
    {
        for (int c = 0; c < 8; ++c)
            inputs[c] = in[c].data();
        outputs[0] = left.data();
        outputs[1] = right.data();
    }
    carrotest::Frame CarroAt(int i) const { return carrotest::FrameOf(left[i], right[i]); }
    bool AllWords(double scale) const
    {
        for (int i = 0; i < kFrames; ++i)
            for (const float v : {left[i], right[i]})
                if (!std::isfinite(v) || std::fabs(v) > 1.0f || v * scale != std::round(v * scale))
                    return false;
        return true;
    }
};

struct MidiEvents {
    std::vector<VstMidiEvent> events;
    std::vector<intptr_t> list;
    VstEvents* Pack()
    {
        list.assign(2 + events.size(), 0);
        auto* header = reinterpret_cast<VstEvents*>(list.data());
        header->numEvents = static_cast<int32_t>(events.size());
        for (size_t i = 0; i < events.size(); ++i)
            list[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
        return header;
    }
    void Add(int delta, uint8_t status, uint8_t d1, uint8_t d2)
    {
        events.push_back(corvane::test::ShortMidiEvent(delta, status, d1, d2));
    }
};

// ---------------------------------------------------------------------------
// Carro

TEST(CarroInProcess, AllSoundOffClosesEveryGroupAndReachesTheSerialLine)
{
    corvane::test::StartInProcessTransport();
    auto carro = MakeCarro();
    uint32_t size = 0;
    uint8_t writable = 0;
    EXPECT_EQ(carro->GetPropertyInfo(kObryProperty_AllSoundOff, 0, 0, &size, &writable), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(carro->GetPropertyInfo(64012, 0, 0, &size, &writable), kAudioUnitErr_InvalidProperty);

    carro->SetParameterValue(Carro::kMidiOutMidiChannel, 17, false);
    for (int32_t k = 0; k < Carro::kGateGroups; ++k)
        carro->SetParameterValue(Carro::kGatesMidiChannel + 2 * k, static_cast<float>(k + 11), false);
    MidiEvents midi;
    for (int k = 0; k < 6; ++k)
        midi.Add(0, static_cast<uint8_t>(0x90 | (k + 10)), static_cast<uint8_t>(48 + k), 100);
    carro->processEvents(midi.Pack());
    Block block;
    carro->processReplacing(block.inputs, block.outputs, kFrames);
    carrotest::Frame f = block.CarroAt(kFrames - 1);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(f.b[k], 1 << k) << k;
    ASSERT_EQ(carro->MidiOut().Queued(), 0u); // 18 bytes sent within the block

    std::thread([&] { EXPECT_EQ(carro->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0); }).join();
    EXPECT_EQ(carro->SetProperty(kObryProperty_AllSoundOff, 1, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(carro->SetProperty(64093, 0, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(carro->SetProperty(kObryProperty_ReapplyPortOffset, 0, 0, nullptr, 0), 0);
    carro->processReplacing(block.inputs, block.outputs, kFrames);
    f = block.CarroAt(kFrames - 1);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(f.b[k], 0) << k;
    // Controller 120 on 16 channels: 48 bytes, 32 of them sent in the block.
    EXPECT_EQ(carro->MidiOut().Queued(), 16u);
}

TEST(CarroInProcess, IndicatorShowsTheLastFrame)
{
    corvane::test::StartInProcessTransport();
    auto carro = MakeCarro();
    const uint8_t levels[6] = {1, 2, 3, 0xA5, 0, 0x7E};
    for (int k = 0; k < 6; ++k)
        carro->SetParameterValue(Carro::kOutput1 + k, levels[k], false);
    carro->SetParameterValue(Carro::kGatesMidiChannel + 10, 1, false);
    MidiEvents midi;
    midi.Add(0, 0x90, 48, 100);
    carro->processEvents(midi.Pack());
    Block block;
    carro->processReplacing(block.inputs, block.outputs, kFrames);
    const uint8_t* shown = carro->GetIndicatorBlock() + Carro::kIndicatorFrameBytes;
    const uint8_t expected[6] = {1, 2, 3, 0xA5, 0, 0x7F};
    EXPECT_EQ(0, memcmp(shown, expected, 6));
    carro->SetParameterValue(Carro::kTestSignal, 3, false);
    carro->processReplacing(block.inputs, block.outputs, kFrames);
    EXPECT_EQ(0, memcmp(shown, expected, 6)); // test frames leave the display alone
}

TEST(CarroInProcess, AudioPathAllocatesNothing)
{
    corvane::test::StartInProcessTransport();
    auto carro = MakeCarro();
    carro->SetParameterValue(Carro::kMidiOutMidiChannel, 17, false);
    carro->SetParameterValue(Carro::kMidiOutClock, 1, false);
    carro->SetParameterValue(Carro::kMidiClockSwing, 65, false);
    carro->SetParameterValue(Carro::kMidiOutOutput, 47, false);
    for (int32_t k = 0; k < Carro::kGateGroups; ++k) {
        carro->SetParameterValue(Carro::kGatesMidiChannel + 2 * k, static_cast<float>(k + 1), false);
        carro->SetParameterValue(Carro::kTriggerLength + 8 * k, 1, false);
    }
    carro->SetParameterValue(Carro::kInputToGate1 + 1, 7, false);
    MidiEvents midi;
    for (int n = 0; n < 60; ++n)
        midi.Add(n * 8, static_cast<uint8_t>((n % 2 ? 0x80 : 0x90) | (n % 6)), static_cast<uint8_t>(48 + n % 8), 90);
    Block block;
    for (int i = 0; i < kFrames; ++i)
        block.in[1][i] = i % 7 ? 0.3f : 0.0f;
    const uint8_t sysex[] = {0xF0, 0x7D, 1, 2, 3, 0xF7};
    VstMidiSysexEvent dump{};
    dump.type = kVstSysExType;
    dump.byteSize = sizeof dump;
    dump.dumpBytes = sizeof sysex;
    dump.sysexDump = reinterpret_cast<char*>(const_cast<uint8_t*>(sysex));
    intptr_t dumpList[3] = {1, 0, reinterpret_cast<intptr_t>(&dump)};

    int allocations = 0;
    for (int b = 0; b < 50; ++b) {
        // The host's event thread writes the queue (a SysEx copy may allocate there).
        carro->processEvents(midi.Pack());
        carro->processEvents(reinterpret_cast<VstEvents*>(dumpList));
        if (b % 10 == 5)
            carro->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0);
        if (b == 20)
            carro->SetParameterValue(Carro::kSend, 1, false);
        corvane::test::AllocationCounter counter;
        carro->processReplacing(block.inputs, block.outputs, kFrames);
        allocations += counter.Count();
        corvane::test::InProcessTime().ppqPos += kFrames / 24000.0;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(carro->MidiOut().Queued(), 0u);
}

// ---------------------------------------------------------------------------
// Dunmore

TEST(DunmoreInProcess, CodeAndTestValueRules)
{
    struct Code {
        double x;
        int32_t offset;
        int32_t code;
    };
    for (const Code& c : {Code{0.0, 0, 2048}, {1.0, 0, 4095}, {-1.0, 0, 1}, {0.0, 2050, 4095}, {0.0, -2050, 0},
                          {1.0, -2050, 2045}, {std::nan(""), 0, 2048}, {1e300, -2050, 4095}, {-1e300, 2050, 0}})
        EXPECT_EQ(Dunmore::CodeOf(c.x, c.offset), c.code) << c.x << " " << c.offset;

    // Every test value keeps to 12 bits, whatever counter another signal
    // left behind.
    for (int signal = 1; signal <= 3; ++signal)
        for (uint32_t t = 0; t < 0x8000; ++t)
            ASSERT_LE(Dunmore::TestValue(signal, t), 4095u) << signal << " " << t;
    EXPECT_EQ(Dunmore::TestValue(3, 7), 1024u * 3);
    EXPECT_EQ(Dunmore::TestValue(3, 0x7FE), (4080u + 3072u) & 0xFFF);
}

TEST(DunmoreInProcess, FilterHasUnityGainAndSettlesExactly)
{
    auto dunmore = corvane::test::MakeInProcess<Dunmore>();
    const IIRFilterCoefficientsD& c = dunmore->FilterCoefficients();
    double dc = 0, fb = 0;
    for (int j = 0; j <= Dunmore::kFilterOrder; ++j)
        dc += c.b[j];
    for (int j = 0; j < Dunmore::kFilterOrder; ++j)
        fb += c.a[j];
    EXPECT_NEAR(dc / (1.0 - fb), 1.0, 1e-9);
    EXPECT_EQ(c.gain, 1.0);
    for (int j = Dunmore::kFilterOrder + 1; j <= kIIRMaxOrder; ++j)
        EXPECT_EQ(c.b[j], 0.0);

    // A constant settles on itself in double precision; the same design run
    // in single precision settles visibly high: a code or more off.
    Dunmore::FilterState state;
    state.coefficients = &c;
    IIRFilterCoefficients single;
    ASSERT_TRUE(DesignIIRFilter(Dunmore::kFilterOrder, Dunmore::kFilterRipple, Dunmore::kFilterCutoff, &single));
    ASSERT_TRUE(NormalizeIIRGain(&single));
    BasicIIRFilterState<float, float, Dunmore::kFilterOrder> singleState;
    singleState.coefficients = &single;
    double y = 0;
    float ys = 0;
    for (int i = 0; i < 5000; ++i) {
        y = RunIIRFilter(&state, 0.9);
        ys = RunIIRFilter(&singleState, 0.9f);
    }
    EXPECT_NEAR(y, 0.9, 1e-9);
    EXPECT_EQ(Dunmore::CodeOf(y, 0), 3890);
    EXPECT_GT(Dunmore::CodeOf(ys, 0), 3890);
}

TEST(DunmoreInProcess, ValueListsFlagsAndIndicator)
{
    corvane::test::StartInProcessTransport();
    auto dunmore = corvane::test::MakeInProcess<Dunmore>();
    EXPECT_EQ(corvane::test::ValueNames(*dunmore, 0, 0), (std::vector<std::string>{"Brink", "Carro"}));
    EXPECT_EQ(corvane::test::ValueNames(*dunmore, 0, 1), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(corvane::test::ValueNames(*dunmore, 0, 8), (std::vector<std::string>{"Off", "1/2", "3/4", "5/6"}));
    for (uint32_t i = 9; i <= 12; ++i)
        EXPECT_EQ(corvane::test::ValueNames(*dunmore, 0, i),
                  (std::vector<std::string>{"Off", "1", "2", "3", "4", "5", "6"}));
    for (uint32_t i : {2u, 5u, 6u, 7u, 13u, 16u, 17u, 0xFFFFFFFFu})
        EXPECT_EQ(corvane::test::ValueNames(*dunmore, 0, i), (std::vector<std::string>{"<error>"})) << i;
    EXPECT_EQ(corvane::test::ValueNames(*dunmore, 1, 0), (std::vector<std::string>{"<error>"}));
    EXPECT_EQ(dunmore->GetParameterValueStrings(3, 99, nullptr), 0);
    for (int32_t i = 0; i < Dunmore::kNumParams; ++i)
        EXPECT_EQ(dunmore->GetParameterFlags(i), i == 6 || i == 7 ? kAudioUnitParameterFlag_ValuesHaveStrings : 0u);
    EXPECT_EQ(corvane::test::TextFor(*dunmore, 7, 0.0f), "Off");
    EXPECT_EQ(corvane::test::TextFor(*dunmore, 7, 2.0f), "<none>");
    EXPECT_EQ(corvane::test::TextFor(*dunmore, 0, 0.0f), "<refused>");
    EXPECT_STREQ(dunmore->GetShortName(), "QVDunmoreCombiner");
    EXPECT_STREQ(dunmore->GetGUIScriptName(), "gui_dunmorecombiner.lua");

    // The display copy: the own frame's bytes, five for a Brink target and
    // six for a Carro target; test signals leave it alone.
    Block block;
    dunmore->SetParameterValue(Dunmore::kTargetChannel, 4, false);
    dunmore->processReplacing(block.inputs, block.outputs, kFrames);
    uint8_t* shown = dunmore->GetIndicatorBlock() + Dunmore::kIndicatorFrameBytes;
    // 512 samples: the last frame is frame 7, channel 3's high byte of 2048.
    const uint8_t brink[6] = {0, 0, 0, 0, 0xF0, 0};
    EXPECT_EQ(0, memcmp(shown, brink, 6));
    dunmore->SetParameterValue(Dunmore::kTargetHardware, 1, false);
    dunmore->SetParameterValue(Dunmore::kTargetChannel, 5, false);
    dunmore->processReplacing(block.inputs, block.outputs, kFrames);
    const uint8_t carro[6] = {0, 0, 0, 0, 0, 0xF0};
    EXPECT_EQ(0, memcmp(shown, carro, 6));
    dunmore->SetParameterValue(Dunmore::kTestSignal, 1, false);
    dunmore->SetParameterValue(Dunmore::kTargetChannel, 0, false);
    dunmore->processReplacing(block.inputs, block.outputs, kFrames);
    EXPECT_EQ(0, memcmp(shown, carro, 6));
}

TEST(DunmoreInProcess, SwitchingTestSignalsKeepsTheChannelBits)
{
    corvane::test::StartInProcessTransport();
    auto dunmore = corvane::test::MakeInProcess<Dunmore>();
    dunmore->SetParameterValue(Dunmore::kTargetHardware, 1, false);
    dunmore->SetParameterValue(Dunmore::kTestSignal, 1, false);
    Block block;
    // The ramp's counter well past the others' 0x7FF and at a high byte of
    // channel 1: 20481, twice of which would reach into the channel bits.
    for (int b = 0; b < 40; ++b)
        dunmore->processReplacing(block.inputs, block.outputs, kFrames);
    dunmore->processReplacing(block.inputs, block.outputs, 1);
    for (const int signal : {2, 3, 1}) {
        dunmore->SetParameterValue(Dunmore::kTestSignal, static_cast<float>(signal), false);
        dunmore->processReplacing(block.inputs, block.outputs, kFrames);
        // Sample i is frame 1 + i of the packet cycle.
        for (int i = 0; i < kFrames; ++i) {
            const uint8_t byte = block.CarroAt(i).b[0];
            ASSERT_EQ(byte >> 7, (1 + i) & 1) << signal << " at " << i;
            if (byte & 0x80) {
                ASSERT_EQ((byte >> 5) & 3, ((1 + i) >> 1) & 3) << signal << " at " << i;
            }
        }
    }
}

TEST(DunmoreInProcess, UncheckedProgramValuesAndBadInput)
{
    for (const float v : {kNaN, kInf, -kInf, 1e9f, -1e9f, 7.0f, 5.5f, -1.0f}) {
        corvane::test::StartInProcessTransport();
        auto dunmore = corvane::test::MakeInProcess<Dunmore>();
        for (int32_t i = 0; i < Dunmore::kNumParams; ++i)
            if (i != Dunmore::kOSCPortOffset)
                dunmore->CurrentProgram()->SetParameter(i, v);
        Block block;
        for (int c = 0; c < 6; ++c)
            for (int i = 0; i < kFrames; ++i)
                block.in[c][i] = (i + c) % 3 == 0 ? v : 0.5f;
        for (int b = 0; b < 4; ++b) {
            dunmore->processReplacing(block.inputs, block.outputs, kFrames);
            for (int i = 0; i < kFrames; ++i) {
                ASSERT_TRUE(std::isfinite(block.left[i]) && std::isfinite(block.right[i])) << v;
                ASSERT_LE(std::fabs(block.left[i]), 1.0f);
                ASSERT_LE(std::fabs(block.right[i]), 1.0f);
            }
        }
    }
}

// Every mix of filters on and off (four side by side, pairs, single ones),
// either target, with and without the merged pair, in separate buffers, in
// place and with an output partly overlapping the merged stream: the same
// bits as a frame-by-frame model of the rules (the filter per sample, the
// code, the packet byte, the frame's words merged with the stream read just
// before the frame is written).
TEST(DunmoreInProcess, EncodingMatchesAFrameByFrameModel)
{
    enum Layout { kSeparate, kInPlace, kPartlyOverlapping };
    struct Case {
        const char* name;
        int filters; // bit k: Filter k+1 on
        int hardware;
        int thru;
        Layout layout;
        int laterFilters[3] = {-1, -1, -1}; // the filters of blocks 2, 3, 4 (-1: unchanged)
    };
    const Case cases[] = {
        {"four filters, Carro", 15, 1, 1, kSeparate},
        {"four filters, Brink, no merge", 15, 0, 0, kSeparate},
        {"no filter", 0, 1, 1, kSeparate},
        {"a pair", 6, 0, 1, kSeparate},
        {"a pair and a single one", 11, 1, 1, kSeparate},
        {"one", 8, 1, 0, kSeparate},
        {"four filters in place", 15, 1, 1, kInPlace},
        {"a pair in place", 5, 0, 1, kInPlace},
        {"four filters, output over the stream", 15, 1, 1, kPartlyOverlapping},
        {"no filter, output over the stream", 0, 0, 1, kPartlyOverlapping},
        // Filters switched between blocks: one switched on starts from rest,
        // one switched off and on again too; the others keep their state.
        {"four, a pair, four", 15, 1, 1, kSeparate, {6, 15, -1}},
        {"a pair, three, a pair", 5, 0, 1, kSeparate, {7, 5, 7}},
        {"one, all, one", 2, 1, 0, kSeparate, {15, 2, 15}},
        {"three, one, three", 11, 1, 1, kSeparate, {8, 11, 8}},
        {"one, another, the first", 1, 0, 0, kInPlace, {2, 1, 3}},
    };
    constexpr int32_t kBlocks[] = {100, 64, 37, 311};
    constexpr int32_t kTotal = 512;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        corvane::test::StartInProcessTransport();
        auto dunmore = corvane::test::MakeInProcess<Dunmore>();
        dunmore->SetParameterValue(Dunmore::kTargetHardware, static_cast<float>(k.hardware), false);
        dunmore->SetParameterValue(Dunmore::kTargetChannel, 2, false);
        dunmore->SetParameterValue(Dunmore::kInputThru, static_cast<float>(k.thru), false);
        int32_t offsets[4];
        for (int c = 0; c < 4; ++c) {
            dunmore->SetParameterValue(Dunmore::kFilter1 + c, static_cast<float>((k.filters >> c) & 1), false);
            dunmore->SetParameterValue(Dunmore::kOffset1 + c, 0.5f * static_cast<float>(c) - 0.7f, false);
            offsets[c] = static_cast<int32_t>((0.5f * static_cast<float>(c) - 0.7f) * 384.0f);
        }
        // Inputs 1/2 are the merged pair, 3..6 the CV sources (the defaults);
        // the plug-in and the model each get buffers laid out alike.
        constexpr int32_t kSpan = kTotal + 1;
        auto lay = [&](std::vector<float>& memory, float** inputs, float** outputs) {
            memory.assign(8 * kSpan, 0.0f);
            for (int c = 0; c < 6; ++c) {
                inputs[c] = &memory[c * kSpan];
                for (int i = 0; i < kTotal; ++i)
                    inputs[c][i] = i == 200 + c ? (c % 2 ? kNaN : -kInf)
                                                : 1.3f * std::sin(0.02f * static_cast<float>(i * (c + 1)) + c);
            }
            outputs[0] = k.layout == kInPlace             ? inputs[1]
                         : k.layout == kPartlyOverlapping ? inputs[0] + 1
                                                          : &memory[6 * kSpan];
            outputs[1] = k.layout == kInPlace ? inputs[0] : &memory[7 * kSpan];
        };
        std::vector<float> plugMemory, modelMemory;
        float *plugIn[6], *plugOut[2], *modelIn[6], *modelOut[2];
        lay(plugMemory, plugIn, plugOut);
        lay(modelMemory, modelIn, modelOut);

        Dunmore::FilterState filters[4];
        for (auto& f : filters)
            f.coefficients = &dunmore->FilterCoefficients();
        DunmorePacketWriter writer;
        int32_t done = 0;
        int filtersOn = k.filters;
        for (int32_t block = 0; block < 4; ++block) {
            const int32_t n = kBlocks[block];
            const int later = block > 0 ? k.laterFilters[block - 1] : -1;
            if (later >= 0) {
                for (int c = 0; c < 4; ++c) {
                    const int on = (later >> c) & 1;
                    dunmore->SetParameterValue(Dunmore::kFilter1 + c, static_cast<float>(on), false);
                    if (on && !((filtersOn >> c) & 1))
                        ResetIIRFilter(&filters[c]);
                }
                filtersOn = later;
            }
            float* plugInputs[6];
            float* plugOutputs[2] = {plugOut[0] + done, plugOut[1] + done};
            for (int c = 0; c < 6; ++c)
                plugInputs[c] = plugIn[c] + done;
            dunmore->processReplacing(plugInputs, plugOutputs, n);
            for (int32_t i = done; i < done + n; ++i) {
                int32_t codes[4];
                for (int c = 0; c < 4; ++c) {
                    const double x = modelIn[2 + c][i];
                    if ((filtersOn >> c) & 1) {
                        const double held = x != x ? 0.0 : std::fmin(std::fmax(x, -4.0), 4.0);
                        codes[c] = Dunmore::CodeOf(RunIIRFilter(&filters[c], held), offsets[c]);
                    } else {
                        codes[c] = Dunmore::CodeOf(x, offsets[c]);
                    }
                }
                uint8_t frame[kMaxExpanderFrameBytes] = {};
                frame[2] = writer.Next(codes);
                const float thruLeft = modelIn[0][i], thruRight = modelIn[1][i];
                if (k.hardware == 1) {
                    const ExpanderWordPair merge = k.thru ? ExpanderWordPair{CarroSampleWord::FromSample(thruLeft),
                                                                             CarroSampleWord::FromSample(thruRight)}
                                                          : ExpanderWordPair{0, 0};
                    WriteCarroFrame(frame, merge, &modelOut[0][i], &modelOut[1][i]);
                } else {
                    const ExpanderWordPair merge = k.thru ? ExpanderWordPair{BrinkSampleWord::FromSample(thruLeft),
                                                                             BrinkSampleWord::FromSample(thruRight)}
                                                          : ExpanderWordPair{0, 0};
                    WriteBrinkFrame(frame, merge, &modelOut[0][i], &modelOut[1][i]);
                }
            }
            done += n;
        }
        ASSERT_EQ(done, kTotal);
        for (int32_t i = 0; i < kTotal; ++i)
            for (int o = 0; o < 2; ++o)
                ASSERT_EQ(std::memcmp(&plugOut[o][i], &modelOut[o][i], sizeof(float)), 0)
                    << "output " << o << ", frame " << i << ": " << plugOut[o][i] << " vs " << modelOut[o][i];
    }
}

TEST(DunmoreInProcess, AudioPathAllocatesNothing)
{
    corvane::test::StartInProcessTransport();
    auto dunmore = corvane::test::MakeInProcess<Dunmore>();
    for (int k = 0; k < 4; ++k)
        dunmore->SetParameterValue(Dunmore::kFilter1 + k, static_cast<float>(k % 2), false);
    dunmore->SetParameterValue(Dunmore::kTargetHardware, 1, false);
    Block block;
    for (int c = 0; c < 6; ++c)
        for (int i = 0; i < kFrames; ++i)
            block.in[c][i] = std::sin(0.01f * static_cast<float>(i * (c + 1)));
    MidiEvents midi;
    for (int n = 0; n < 20; ++n)
        midi.Add(n * 25, 0x90, 60, 100); // cut the block into pieces
    int allocations = 0;
    for (int b = 0; b < 40; ++b) {
        dunmore->processEvents(midi.Pack());
        if (b == 10)
            dunmore->SetParameterValue(Dunmore::kTestSignal, 3, false);
        if (b == 20)
            dunmore->SetParameterValue(Dunmore::kTestSignal, 0, false);
        if (b == 25)
            dunmore->SetParameterValue(Dunmore::kFilter1, 1, false);
        corvane::test::AllocationCounter counter;
        dunmore->processReplacing(block.inputs, block.outputs, kFrames);
        allocations += counter.Count();
    }
    EXPECT_EQ(allocations, 0);
}

} // namespace
