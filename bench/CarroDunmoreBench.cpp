// Carro Controller and Dunmore Combiner per frame: the plug-ins built
// in-process and run through processReplacing on 512-frame blocks with a
// host that plays at 120 BPM.
// Carro case 0: levels and six gate groups holding gates; case 1: as 0 with
// eight gate inputs, the stream merge and the serial line sending swung
// clocks; case 2: as 1 with 63 MIDI events per block (the most the event
// queue holds), each cutting the block and going out on the serial line.
// Dunmore case 0: four CV channels, merge, no filter; case 1: all four
// channels filtered; case 2: a test signal.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/carro/ObryCorvaneCarroController.h"
#include "plugins/dunmore/ObryCorvaneDunmoreCombiner.h"

namespace {

using namespace corvane::bench;

struct Inputs {
    explicit Inputs(int channels) : in(static_cast<size_t>(channels), std::vector<float>(kFrames)), pointers(channels)
    {
        for (int c = 0; c < channels; ++c) {
            for (int32_t i = 0; i < kFrames; ++i)
                in[c][i] = 0.5f * std::sin(0.01f * static_cast<float>(i * (c + 1)));
            pointers[c] = in[c].data();
        }
    }
    std::vector<std::vector<float>> in;
    std::vector<float*> pointers;
};

// range(0): 0 levels and gates, 1 inputs and clocks, 2 as 1 with MIDI events.
void BM_CarroController(benchmark::State& state)
{
    using ObryCorvaneCarroController::ObryCorvane;
    StartTransport();
    Owned<ObryCorvane> carro(new ObryCorvane(PlayingHost, false));
    carro->setSampleRate(static_cast<float>(kSampleRate));
    carro->setBlockSize(kFrames);
    carro->resume();
    for (int32_t k = 0; k < ObryCorvane::kGateGroups; ++k) {
        carro->SetParameterValue(ObryCorvane::kOutput1 + k, static_cast<float>(16 * k), false);
        carro->SetParameterValue(ObryCorvane::kGatesMidiChannel + 2 * k, static_cast<float>(k % 3 + 1), false);
    }
    const int64_t mode = state.range(0);
    if (mode >= 1) {
        for (int32_t i = 0; i < ObryCorvane::kGateInputs; ++i)
            carro->SetParameterValue(ObryCorvane::kInputToGate1 + i, static_cast<float>(33 + i), false);
        carro->SetParameterValue(ObryCorvane::kMidiOutClock, 1, false);
        carro->SetParameterValue(ObryCorvane::kMidiClockSwing, 62, false);
        carro->SetParameterValue(ObryCorvane::kMidiOutOutput, 47, false);
        carro->SetParameterValue(ObryCorvane::kMidiOutMidiChannel, 17, false);
        carro->SetParameterValue(ObryCorvane::kInputThru, 2, false);
        for (int32_t k = 0; k < ObryCorvane::kGateGroups; ++k)
            carro->SetParameterValue(ObryCorvane::kTriggerLength + 8 * k, 2, false);
    }

    // Notes on and off on three channels: gate groups, serial line.
    BlockEvents notes([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>((i % 2 ? 0x80 : 0x90) | (i % 3));
        bytes[1] = static_cast<char>(48 + i % 8);
        bytes[2] = 100;
    });
    // Gates held for the whole run.
    VstMidiEvent held[3] = {};
    for (int c = 0; c < 3; ++c) {
        held[c].type = kVstMidiType;
        held[c].byteSize = sizeof(VstMidiEvent);
        held[c].midiData[0] = static_cast<char>(0x90 | c);
        held[c].midiData[1] = static_cast<char>(49 + 2 * c);
        held[c].midiData[2] = 90;
    }
    intptr_t heldList[5] = {3, 0, reinterpret_cast<intptr_t>(&held[0]), reinterpret_cast<intptr_t>(&held[1]),
                            reinterpret_cast<intptr_t>(&held[2])};
    carro->processEvents(reinterpret_cast<VstEvents*>(heldList));

    Inputs in(ObryCorvane::kNumInputs);
    std::vector<float> outL(kFrames), outR(kFrames);
    float* outputs[2] = {outL.data(), outR.data()};
    carro->processReplacing(in.pointers.data(), outputs, kFrames); // takes the held notes

    RunBlocks(state, *carro, in.pointers.data(), outputs, 2, mode >= 2 ? notes.Events() : nullptr);
}
BENCHMARK(BM_CarroController)->ArgName("levels0_inputs1_midi2")->Arg(0)->Arg(1)->Arg(2);

// range(0): 0 four channels unfiltered, 1 all filtered, 2 test signal 3.
void BM_DunmoreCombiner(benchmark::State& state)
{
    using ObryCorvaneDunmoreCombiner::ObryCorvane;
    StartTransport();
    Owned<ObryCorvane> dunmore = StartPlugin<ObryCorvane>();
    dunmore->SetParameterValue(ObryCorvane::kTargetHardware, 1, false);
    dunmore->SetParameterValue(ObryCorvane::kTargetChannel, 2, false);
    for (int32_t k = 0; k < ObryCorvane::kChannels; ++k)
        dunmore->SetParameterValue(ObryCorvane::kOffset1 + k, 0.25f * static_cast<float>(k), false);
    const int64_t mode = state.range(0);
    if (mode == 1)
        for (int32_t k = 0; k < ObryCorvane::kChannels; ++k)
            dunmore->SetParameterValue(ObryCorvane::kFilter1 + k, 1, false);
    if (mode == 2)
        dunmore->SetParameterValue(ObryCorvane::kTestSignal, 3, false);

    Inputs in(ObryCorvane::kNumInputs);
    std::vector<float> outL(kFrames), outR(kFrames);
    float* outputs[2] = {outL.data(), outR.data()};
    RunBlocks(state, *dunmore, in.pointers.data(), outputs, 2);
}
BENCHMARK(BM_DunmoreCombiner)->ArgName("plain0_filtered1_test2")->Arg(0)->Arg(1)->Arg(2);

// The Carro word conversions alone, per frame: bytes to two samples and a
// merged stream back to words.
void BM_CarroWords(benchmark::State& state)
{
    std::vector<float> left(kFrames), right(kFrames);
    uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    for (auto _ : state) {
        for (int32_t i = 0; i < kFrames; ++i) {
            bytes[0] = static_cast<uint8_t>(i);
            const ExpanderWordPair merge{CarroSampleWord::FromSample(left[(i + 1) % kFrames]),
                                         CarroSampleWord::FromSample(right[(i + 1) % kFrames])};
            WriteCarroFrame(bytes, merge, &left[i], &right[i]);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
}
BENCHMARK(BM_CarroWords);

} // namespace
