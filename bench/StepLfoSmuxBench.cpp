// Step LFO and SMUX per frame: each plug-in built in-process and run through
// processReplacing on 512-frame blocks with a host that plays at 120 BPM.
// Step LFO: held steps locked to the transport (the defaults), then linear
// interpolation with swing and smoothing on both channels (R in
// quadrature). SMUX: both outputs interleaved, then with the blocks cut by
// 63 MIDI events each (the most the event queue holds per block).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/smux/ObryCorvaneSMUX.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"

namespace {

using namespace corvane::bench;

// range(0): 0 defaults (held steps, transport lock), 1 linear, swing, smoothing, quadrature.
void BM_StepLFO(benchmark::State& state)
{
    using ObryCorvaneStepLFO::ObryCorvane;
    StartTransport();
    auto lfo = StartPlugin<ObryCorvane>();
    for (int32_t c = 0; c < 2; ++c)
        for (int32_t s = 0; s < ObryCorvane::kNumSteps; ++s)
            lfo->SetParameterValue(ObryCorvane::kFirstStep + ObryCorvane::kNumSteps * c + s,
                                   std::sin(0.3f * static_cast<float>(s + c)), false);
    if (state.range(0) >= 1) {
        for (int32_t c = 0; c < 2; ++c) {
            const int32_t g = ObryCorvane::kGroupSize * c;
            lfo->SetParameterValue(g + ObryCorvane::kInterpolation, 1, false);
            lfo->SetParameterValue(g + ObryCorvane::kRangeMode, 1, false);
            lfo->SetParameterValue(g + ObryCorvane::kAsymmetry, 30, false);
            lfo->SetParameterValue(g + ObryCorvane::kSwing, 62, false);
            lfo->SetParameterValue(g + ObryCorvane::kSmoothing, c == 0 ? 5.0f : -5.0f, false);
            lfo->SetParameterValue(g + ObryCorvane::kInputMode, 2, false);
            lfo->SetParameterValue(g + ObryCorvane::kBeatDivisor, 5, false);
        }
        lfo->SetParameterValue(ObryCorvane::kSync + ObryCorvane::kGroupSize, ObryCorvane::kSyncQuadrature, false);
    }

    StereoBuffers buffers([](int32_t) { return 0.5f; });
    RunBlocks(state, *lfo, buffers.inputs, buffers.outputs, 2);
}
BENCHMARK(BM_StepLFO)->ArgName("held0_linear_swing1")->Arg(0)->Arg(1);

// range(0): 0 plain blocks, 1 blocks cut by MIDI events.
void BM_SMUX(benchmark::State& state)
{
    using ObryCorvaneSMUX::ObryCorvane;
    StartTransport();
    auto smux = StartPlugin<ObryCorvane>();
    smux->SetParameterValue(ObryCorvane::kFlipR, 1, false);

    // Controller messages that cut every block into pieces.
    BlockEvents controllers([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>(0xB0);
        bytes[1] = 7;
        bytes[2] = static_cast<char>(i);
    });

    std::vector<std::vector<float>> in(4, std::vector<float>(kFrames));
    for (int32_t k = 0; k < 4; ++k)
        for (int32_t i = 0; i < kFrames; ++i)
            in[k][i] = static_cast<float>(k) + 0.001f * static_cast<float>(i);
    std::vector<float> outL(kFrames), outR(kFrames);
    float* inputs[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    float* outputs[2] = {outL.data(), outR.data()};
    RunBlocks(state, *smux, inputs, outputs, 2, state.range(0) >= 1 ? controllers.Events() : nullptr);
}
BENCHMARK(BM_SMUX)->ArgName("plain0_midi1")->Arg(0)->Arg(1);

} // namespace
