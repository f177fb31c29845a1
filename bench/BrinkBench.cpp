// Brink Controller per frame: the plug-in built in-process and run through
// processReplacing on 512-frame blocks with a host that plays at 120 BPM.
// Case 0: two voices holding notes, levels only; case 1: five CV inputs,
// eight gate inputs, the stream merge and the serial line sending swung
// clocks; case 2: as 1 with 63 MIDI events per block (the most the event
// queue holds), each cutting the block and going out on the serial line.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/brink/ObryCorvaneBrinkController.h"

namespace {

using namespace corvane::bench;

// range(0): 0 levels and voices, 1 inputs and clocks, 2 as 1 with MIDI events.
void BM_BrinkController(benchmark::State& state)
{
    using ObryCorvaneBrinkController::ObryCorvane;
    StartTransport();
    Owned<ObryCorvane> brink(new ObryCorvane(PlayingHost, false));
    brink->setSampleRate(static_cast<float>(kSampleRate));
    brink->setBlockSize(kFrames);
    brink->resume();
    brink->SetParameterValue(ObryCorvane::kChMidiChannel + ObryCorvane::kVoiceGroupSize, 2, false);
    brink->SetParameterValue(ObryCorvane::kChVelOutput, 2, false);
    const int64_t mode = state.range(0);
    if (mode >= 1) {
        for (int32_t k = 0; k < ObryCorvane::kCvInputs; ++k) {
            brink->SetParameterValue(ObryCorvane::kInput1 + k, static_cast<float>(k + 3), false);
            brink->SetParameterValue(ObryCorvane::kInputMode1 + k, static_cast<float>(k % 2), false);
        }
        for (int32_t i = 0; i < ObryCorvane::kGateInputs; ++i)
            brink->SetParameterValue(ObryCorvane::kInputToGate1 + i, static_cast<float>(33 + i), false);
        brink->SetParameterValue(ObryCorvane::kMidiOutClock, 1, false);
        brink->SetParameterValue(ObryCorvane::kMidiClockSwing, 62, false);
        brink->SetParameterValue(ObryCorvane::kMidiOutOutput, 32, false);
        brink->SetParameterValue(ObryCorvane::kMidiOutMidiChannel, 17, false);
        for (int32_t k = 0; k < ObryCorvane::kGateGroups; ++k) {
            brink->SetParameterValue(ObryCorvane::kGatesMidiChannel + 2 * k, static_cast<float>(k + 1), false);
            brink->SetParameterValue(ObryCorvane::kTriggerLength + 8 * k, 2, false);
        }
    }

    // Notes on and off on three channels: voices, gate groups, serial line.
    BlockEvents notes([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>((i % 2 ? 0x80 : 0x90) | (i % 3));
        bytes[1] = static_cast<char>(48 + i % 24);
        bytes[2] = 100;
    });

    // Notes held by both voices for the whole run.
    VstMidiEvent held[2] = {};
    for (int v = 0; v < 2; ++v) {
        held[v].type = kVstMidiType;
        held[v].byteSize = sizeof(VstMidiEvent);
        held[v].midiData[0] = static_cast<char>(0x90 | v);
        held[v].midiData[1] = 60;
        held[v].midiData[2] = 90;
    }
    intptr_t heldList[4] = {2, 0, reinterpret_cast<intptr_t>(&held[0]), reinterpret_cast<intptr_t>(&held[1])};
    brink->processEvents(reinterpret_cast<VstEvents*>(heldList));

    std::vector<std::vector<float>> in(8, std::vector<float>(kFrames));
    for (int c = 0; c < 8; ++c)
        for (int32_t i = 0; i < kFrames; ++i)
            in[c][i] = std::sin(0.01f * static_cast<float>(i * (c + 1)));
    std::vector<float> outL(kFrames), outR(kFrames);
    float* inputs[8];
    for (int c = 0; c < 8; ++c)
        inputs[c] = in[c].data();
    float* outputs[2] = {outL.data(), outR.data()};
    brink->processReplacing(inputs, outputs, kFrames); // takes the held notes

    RunBlocks(state, *brink, inputs, outputs, 2, mode >= 2 ? notes.Events() : nullptr);
}
BENCHMARK(BM_BrinkController)->ArgName("levels0_inputs1_midi2")->Arg(0)->Arg(1)->Arg(2);

// The word conversions alone, per frame: bytes to two samples and a merged
// stream back to words.
void BM_BrinkWords(benchmark::State& state)
{
    std::vector<float> left(kFrames), right(kFrames);
    uint8_t bytes[5] = {1, 2, 3, 4, 5};
    for (auto _ : state) {
        for (int32_t i = 0; i < kFrames; ++i) {
            bytes[0] = static_cast<uint8_t>(i);
            const ExpanderWordPair merge{BrinkSampleWord::FromSample(left[(i + 1) % kFrames]),
                                         BrinkSampleWord::FromSample(right[(i + 1) % kFrames])};
            WriteBrinkFrame(bytes, merge, &left[i], &right[i]);
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
}
BENCHMARK(BM_BrinkWords);

} // namespace
