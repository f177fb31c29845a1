// DC and Function per frame: the plug-ins built in-process and run through
// processReplacing on 512-frame blocks, in the settings that cost the most
// (DC: both input paths and each smoothing mode; Function: each curve).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/function/ObryCorvaneFunction.h"

namespace {

constexpr int32_t kFrames = 512;

intptr_t QuietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Buffers {
    std::vector<float> inL, inR, outL, outR;
    float* inputs[2];
    float* outputs[2];
    Buffers() : inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames)
    {
        for (int32_t i = 0; i < kFrames; ++i) {
            inL[i] = std::sin(0.01f * static_cast<float>(i));
            inR[i] = 0.5f + 0.5f * std::cos(0.013f * static_cast<float>(i));
        }
        inputs[0] = inL.data();
        inputs[1] = inR.data();
        outputs[0] = outL.data();
        outputs[1] = outR.data();
    }
};

template <class Plugin>
void RunBlocks(benchmark::State& state, Plugin& plugin)
{
    Buffers buffers;
    for (auto _ : state) {
        plugin.processReplacing(buffers.inputs, buffers.outputs, kFrames);
        benchmark::DoNotOptimize(buffers.outL.data());
        benchmark::DoNotOptimize(buffers.outR.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class Plugin>
Plugin* Prepare()
{
    auto* plugin = new Plugin(QuietHost);
    plugin->setSampleRate(48000);
    plugin->setBlockSize(kFrames);
    plugin->resume();
    return plugin;
}

template <class Plugin>
void Finish(Plugin* plugin)
{
    plugin->close();
    delete plugin;
}

// range(0): 0 constant level, 1 input add and multiply; range(1): smoothing
// in ms (0 off, > 0 slew, < 0 low-pass).
void BM_DC(benchmark::State& state)
{
    auto* dc = Prepare<ObryCorvaneDC::ObryCorvane>();
    dc->SetParameterValue(0, 0.75f, false);
    dc->SetParameterValue(5, 0.25f, false);
    if (state.range(0)) {
        for (int32_t i : {3, 4, 8, 9})
            dc->SetParameterValue(i, 0.5f, false);
    }
    const float smoothing = static_cast<float>(state.range(1));
    dc->SetParameterValue(11, smoothing, false);
    dc->SetParameterValue(12, smoothing, false);
    RunBlocks(state, *dc);
    Finish(dc);
}
BENCHMARK(BM_DC)->ArgNames({"inputs", "smoothing_ms"})->Args({0, 0})->Args({1, 0})->Args({1, 100})->Args({1, -100});

// range(0): the function of both channels; -1 leaves both disabled.
void BM_Function(benchmark::State& state)
{
    auto* fn = Prepare<ObryCorvaneFunction::ObryCorvane>();
    if (state.range(0) >= 0) {
        for (int32_t base : {1, 7}) {
            fn->SetParameterValue(base, 1, false);
            fn->SetParameterValue(base + 1, static_cast<float>(state.range(0)), false);
            fn->SetParameterValue(base + 3, 0.25f, false);
        }
    }
    RunBlocks(state, *fn);
    Finish(fn);
}
BENCHMARK(BM_Function)->ArgName("function")->Arg(-1)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

} // namespace
