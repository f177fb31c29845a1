// The yardstick every other benchmark is read against: a plain copy of one
// block of samples, reported per frame like the plug-ins.
#include <benchmark/benchmark.h>

#include <vector>

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
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["ns_per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations() * frames),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CopyLoop)->Arg(512);
