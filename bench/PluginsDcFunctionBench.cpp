// DC and Function per frame: the plug-ins built in-process and run through
// processReplacing on 512-frame blocks, in the settings that cost the most
// (DC: both input paths and each smoothing mode; Function: each curve).
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/BenchSupport.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/function/ObryCorvaneFunction.h"

namespace {

using namespace corvane::bench;

// Both inputs vary: L a slow sine, R a slow cosine within 0..1.
void RunStereoBlocks(benchmark::State& state, ObryCorvaneBase& plugin)
{
    StereoBuffers buffers([](int32_t i) { return 0.5f + 0.5f * std::cos(0.013f * static_cast<float>(i)); });
    RunBlocks(state, plugin, buffers.inputs, buffers.outputs, 2);
}

// range(0): 0 constant level, 1 input add and multiply; range(1): smoothing
// in ms (0 off, > 0 slew, < 0 low-pass).
void BM_DC(benchmark::State& state)
{
    auto dc = StartPlugin<ObryCorvaneDC::ObryCorvane>();
    dc->SetParameterValue(0, 0.75f, false);
    dc->SetParameterValue(5, 0.25f, false);
    if (state.range(0)) {
        for (int32_t i : {3, 4, 8, 9})
            dc->SetParameterValue(i, 0.5f, false);
    }
    const float smoothing = static_cast<float>(state.range(1));
    dc->SetParameterValue(11, smoothing, false);
    dc->SetParameterValue(12, smoothing, false);
    RunStereoBlocks(state, *dc);
}
BENCHMARK(BM_DC)->ArgNames({"inputs", "smoothing_ms"})->Args({0, 0})->Args({1, 0})->Args({1, 100})->Args({1, -100});

// range(0): the function of both channels; -1 leaves both disabled.
void BM_Function(benchmark::State& state)
{
    auto fn = StartPlugin<ObryCorvaneFunction::ObryCorvane>();
    if (state.range(0) >= 0) {
        for (int32_t base : {1, 7}) {
            fn->SetParameterValue(base, 1, false);
            fn->SetParameterValue(base + 1, static_cast<float>(state.range(0)), false);
            fn->SetParameterValue(base + 3, 0.25f, false);
        }
    }
    RunStereoBlocks(state, *fn);
}
BENCHMARK(BM_Function)->ArgName("function")->Arg(-1)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

} // namespace
