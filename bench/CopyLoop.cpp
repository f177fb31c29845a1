// The yardstick every other benchmark is read against: a plain copy of one
// block of samples, reported per frame like the plug-ins.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/BenchSupport.h"

static void BM_CopyLoop(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    std::vector<float> in(frames, 0.25f), out(frames);
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i)
            out[i] = in[i];
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    corvane::bench::ReportPerFrame(state, frames);
}
BENCHMARK(BM_CopyLoop)->Arg(512);
