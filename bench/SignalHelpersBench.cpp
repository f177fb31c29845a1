// Per-sample cost of the shared signal helpers, read against BM_CopyLoop:
// FastSine, one sample through the order-10 filter (single, mixed and double
// precision), and the output smoothing in its two active modes. Each runs
// over a block of 512 samples and reports ns per sample.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/BenchSupport.h"
#include "framework/FastSine.h"
#include "plugins/common/IIRFilter.h"
#include "plugins/common/OutputSmoothing.h"

namespace {

using namespace corvane::bench;

std::vector<float> Phases(int frames)
{
    std::vector<float> phases(frames);
    for (int i = 0; i < frames; ++i)
        phases[i] = static_cast<float>(i) / frames;
    return phases;
}

void BM_FastSine(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    const std::vector<float> phases = Phases(frames);
    std::vector<float> out(frames);
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i)
            out[i] = FastSine(phases[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state, frames);
}
BENCHMARK(BM_FastSine)->Arg(kFrames);

template <typename Coefficient, typename Sample>
void BM_RunIIRFilter(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    BasicIIRFilterCoefficients<Coefficient> coefficients;
    DesignIIRFilter(10, 0.0f, 0.117f, &coefficients);
    NormalizeIIRGain(&coefficients);
    BasicIIRFilterState<Coefficient, Sample, 10> filter;
    filter.coefficients = &coefficients;
    const std::vector<float> phases = Phases(frames);
    std::vector<float> out(frames);
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i)
            out[i] = static_cast<float>(RunIIRFilter(&filter, phases[i] - 0.5f));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state, frames);
}
BENCHMARK(BM_RunIIRFilter<float, float>)->Name("BM_RunIIRFilter_Order10_Float")->Arg(kFrames);
BENCHMARK(BM_RunIIRFilter<float, double>)->Name("BM_RunIIRFilter_Order10_Mixed")->Arg(kFrames);
BENCHMARK(BM_RunIIRFilter<double, double>)->Name("BM_RunIIRFilter_Order10_Double")->Arg(kFrames);

void BM_OutputSmoothing(benchmark::State& state)
{
    const int frames = static_cast<int>(state.range(0));
    // range(1): smoothing time in ms (positive: slew limit, negative: low-pass).
    float slewStep, lowpassCoef;
    SetupOutputSmoothing(static_cast<float>(state.range(1)), 48000.0f, &slewStep, &lowpassCoef);
    std::vector<float> block(frames);
    float smoothState = 0;
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i)
            block[i] = (i & 64) ? 1.0f : -1.0f;
        ApplyOutputSmoothing(block.data(), frames, slewStep, lowpassCoef, &smoothState);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state, frames);
}
BENCHMARK(BM_OutputSmoothing)->ArgNames({"frames", "ms"})->Args({kFrames, 2})->Args({kFrames, -2});

} // namespace
