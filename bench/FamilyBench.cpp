// The module as a host runs it: every entry loaded through dlopen with the
// shared workload (host/Workload.h), all 25 together per block size, each
// entry with its signal and again after the inputs fell silent, each alone
// in its default settings, and the simple plug-ins beside a copy of the
// same channels.
//
// Counters: "rt_factor" is processing time over audio time (0.01: 1 % of a
// core); "ns_per_frame" per entry; "x_copy" the plug-in's time over a
// memcpy of its output channels.
//
// CORVANE_MODULE names another build of the module to load (BenchModule.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/BenchModule.h"
#include "host/Workload.h"

namespace {

using namespace corvane::host;
using corvane::bench::TheModule;

constexpr double kRate = 48000;
constexpr int32_t kMaxBlock = 512;

std::unique_ptr<WorkloadRun> StartRun(const EntryWorkload& workload)
{
    return std::make_unique<WorkloadRun>(TheModule(), workload, kRate, kMaxBlock, false);
}

// Seconds of audio in `iterations` blocks of `frames`, as a rate counter:
// inverted, it reads as processing time over audio time.
benchmark::Counter RealTimeFactor(int64_t iterations, int64_t frames)
{
    return benchmark::Counter(static_cast<double>(iterations * frames) / kRate,
                              benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// range(0): frames per block.
void BM_AllEntries(benchmark::State& state)
{
    const auto frames = static_cast<int32_t>(state.range(0));
    std::vector<std::unique_ptr<WorkloadRun>> runs;
    for (const EntryWorkload& workload : EntryWorkloads())
        runs.push_back(StartRun(workload));
    // A host's cycle moves its transport on and fills its track buffers,
    // then runs the plug-ins: only the second part is the plug-ins' time.
    // (Read straight from the runs' one-second tables, 12 MB in all, every
    // block's input would come from main memory, which no host's reused
    // buffers do.)
    for (auto _ : state) {
        for (auto& run : runs)
            run->FillInputs(frames, false);
        const auto start = std::chrono::steady_clock::now();
        for (auto& run : runs)
            run->ProcessFilled();
        benchmark::ClobberMemory();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["rt_factor"] = RealTimeFactor(state.iterations(), frames);
}
BENCHMARK(BM_AllEntries)->UseManualTime()->ArgName("frames")->Arg(16)->Arg(64)->Arg(512);

// range(0): the entry's index; range(1): 0 with its signal, 1 silent after
// two seconds of silence (time enough for states to sink into denormals);
// range(2): frames per block (16 shows what a call costs besides its frames).
void BM_Entry(benchmark::State& state)
{
    const auto frames = static_cast<int32_t>(state.range(2));
    const EntryWorkload& workload = EntryWorkloads().at(static_cast<size_t>(state.range(0)));
    const bool silent = state.range(1) != 0;
    auto run = StartRun(workload);
    for (int64_t i = 0; i < static_cast<int64_t>(kRate / 2) / frames; ++i)
        run->Block(frames, false);
    if (silent)
        for (int64_t i = 0; i < static_cast<int64_t>(2 * kRate) / frames; ++i)
            run->Block(frames, true);
    for (auto _ : state) {
        run->Block(frames, silent);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::string(workload.id) + (silent ? " silence" : " signal"));
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * frames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
void EveryEntry(benchmark::internal::Benchmark* bench)
{
    for (int64_t e = 0; e < static_cast<int64_t>(EntryWorkloads().size()); ++e) {
        for (int64_t silent : {0, 1})
            bench->Args({e, silent, 64});
        bench->Args({e, 0, 16});
    }
}
BENCHMARK(BM_Entry)->ArgNames({"entry", "silent", "frames"})->Apply(EveryEntry);

// range(0): the entry's index. Alone, with its default settings (the
// workload's input and notes, none of its parameters), 512-frame blocks.
void BM_EntryDefaults(benchmark::State& state)
{
    static const std::vector<EntryWorkload> defaults = [] {
        std::vector<EntryWorkload> plain = EntryWorkloads();
        for (EntryWorkload& workload : plain)
            workload.start.clear();
        return plain;
    }();
    const EntryWorkload& workload = defaults.at(static_cast<size_t>(state.range(0)));
    auto run = StartRun(workload);
    for (auto _ : state) {
        run->Block(kMaxBlock, false);
        benchmark::ClobberMemory();
    }
    state.SetLabel(workload.id);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * kMaxBlock),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EntryDefaults)->ArgName("entry")->DenseRange(0, static_cast<int>(EntryWorkloads().size()) - 1);

// The simple plug-ins in their plain settings (DC without smoothing).
const EntryWorkload kSimple[] = {
    {"QZs0", InputSignal::kSlow, {{0, "0.5"}, {2, "2"}, {3, "0.25"}, {4, "0.5"}, {5, "0.3"}, {8, "0.1"}, {9, "1"}}, {}},
    {"QZsb", InputSignal::kSlow, {{1, "On"}}, {}},
    {"QZs9", InputSignal::kSlow, {{1, "On"}, {5, "On"}}, {}},
    {"QZs(", InputSignal::kSlow, {{1, "On"}, {5, "On"}, {9, "On"}, {13, "On"}, {17, "On"}, {21, "On"}}, {}},
};

// Nanoseconds of one memcpy of `channels` x kMaxBlock floats: the least of
// several batches, so that a busy machine inflates it as little as it can.
double CopyNanoseconds(int32_t channels)
{
    std::vector<std::vector<float>> in(channels, std::vector<float>(kMaxBlock, 0.25f));
    std::vector<std::vector<float>> out(channels, std::vector<float>(kMaxBlock));
    double best = 1e30;
    for (int batch = 0; batch < 20; ++batch) {
        constexpr int kCopies = 2000;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kCopies; ++i) {
            for (int32_t c = 0; c < channels; ++c)
                std::memcpy(out[c].data(), in[c].data(), sizeof(float) * kMaxBlock);
            benchmark::ClobberMemory();
        }
        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / kCopies);
    }
    return best;
}

// range(0): index into kSimple. 512-frame blocks.
void BM_SimpleVsCopy(benchmark::State& state)
{
    const EntryWorkload& workload = kSimple[state.range(0)];
    auto run = StartRun(workload);
    const double copyNs = CopyNanoseconds(run->NumOutputs());
    for (auto _ : state) {
        run->Block(kMaxBlock, false);
        benchmark::ClobberMemory();
    }
    state.SetLabel(workload.id);
    state.counters["copy_ns"] = copyNs;
    state.counters["x_copy"] = benchmark::Counter(static_cast<double>(state.iterations()) * copyNs * 1e-9,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SimpleVsCopy)->ArgName("plugin")->DenseRange(0, static_cast<int>(std::size(kSimple)) - 1);

} // namespace
