// LFO per frame: the plug-in built in-process and run through processReplacing
// on 512-frame blocks with a host that plays at 120 BPM. Both channels mix
// every waveform; the swung cases run L in Transport and R in Tempo mode with
// swing on, and the MIDI case cuts every block at 63 note-ons (the most the
// event queue holds per block) that also reset the phase.
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "plugins/lfo/ObryCorvaneLFO.h"

namespace {

using namespace corvane::bench;

// range(0): 0 free running, 1 swing, 2 swing and MIDI events.
void BM_LFO(benchmark::State& state)
{
    using ObryCorvaneLFO::ObryCorvane;
    StartTransport();
    auto lfo = StartPlugin<ObryCorvane>();
    for (int32_t c = 0; c < 2; ++c) {
        const int32_t g = ObryCorvane::kGroupSize * c;
        for (int32_t wave = ObryCorvane::kSine; wave <= ObryCorvane::kNoise; ++wave)
            lfo->SetParameterValue(g + wave, 0.2f, false);
        lfo->SetParameterValue(g + ObryCorvane::kAsymmetry, 30, false);
        lfo->SetParameterValue(g + ObryCorvane::kInputMode, 2, false);
        lfo->SetParameterValue(g + ObryCorvane::kBeats, 1, false);
        lfo->SetParameterValue(g + ObryCorvane::kBeatDivisor, 4, false);
    }
    const int64_t mode = state.range(0);
    if (mode >= 1) {
        lfo->SetParameterValue(ObryCorvane::kSync, ObryCorvane::kSyncTransport, false);
        lfo->SetParameterValue(ObryCorvane::kSync + ObryCorvane::kGroupSize, ObryCorvane::kSyncTempo, false);
        lfo->SetParameterValue(ObryCorvane::kSwingL, 62, false);
        lfo->SetParameterValue(ObryCorvane::kSwingL + 2, 58, false);
        lfo->SetParameterValue(ObryCorvane::kSwingTypeL + 2, 1, false);
        lfo->SetParameterValue(ObryCorvane::kSmoothingL, 5, false);
        lfo->SetParameterValue(ObryCorvane::kSmoothingL + 1, -5, false);
    }
    if (mode >= 2) {
        lfo->SetParameterValue(ObryCorvane::kResetByNoteL, 1, false);
        lfo->SetParameterValue(ObryCorvane::kResetByNoteL + 1, 1, false);
    }

    // Note-ons, which also reset the phase.
    BlockEvents notes([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>(0x90);
        bytes[1] = static_cast<char>(40 + i);
        bytes[2] = 100;
    });

    StereoBuffers buffers([](int32_t) { return 0.5f; });
    RunBlocks(state, *lfo, buffers.inputs, buffers.outputs, 2, mode >= 2 ? notes.Events() : nullptr);
}
BENCHMARK(BM_LFO)->ArgName("free0_swing1_midi2")->Arg(0)->Arg(1)->Arg(2);

} // namespace
