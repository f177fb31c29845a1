// A host that runs audio on many threads (one per track or per bridged
// plug-in) while the instance registry has slow work to do: a Learner holds
// 2000 restored mappings whose instances never come, so every control change
// looks for them again. Each of 100 threads runs a DC of its own through the
// module: a control change, a block and an automation step per cycle.
//
// Counter "worst_ms": the longest single host call (processEvents,
// processReplacing or setParameter) any thread saw. CORVANE_MODULE compares
// another build (BenchModule.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bench/BenchModule.h"
#include "host/VstHost.h"
#include "framework/vst/VstAbi.h"

namespace {

using corvane::host::Plugin;

constexpr int kThreads = 100;
constexpr int kCycles = 50;
constexpr int32_t kFrames = 64;
constexpr uint32_t kPendingMappings = 2000;

void PutU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The Learner's state with an 'mmap' record added: version 2, mappings of
// controller 7 between instances numbered from 1000 on, which never exist.
std::vector<uint8_t> WithPendingMappings(std::vector<uint8_t> chunk)
{
    std::vector<uint8_t> payload;
    PutU32(payload, 2);
    for (uint32_t i = 0; i < kPendingMappings; ++i) {
        for (uint32_t value : {1000 + i, 0u, 999u, 0u, 0u, 7u, 0u, 0x3F800000u, 0u})
            PutU32(payload, value);
    }
    PutU32(chunk, 0x6D6D6170); // 'mmap'
    PutU32(chunk, static_cast<uint32_t>(payload.size()));
    chunk.insert(chunk.end(), payload.begin(), payload.end());
    uint32_t length;
    std::memcpy(&length, chunk.data() + 8, 4);
    length += 8 + static_cast<uint32_t>(payload.size());
    std::memcpy(chunk.data() + 8, &length, 4);
    return chunk;
}

std::unique_ptr<Plugin> Started(int32_t id)
{
    corvane::host::HostOptions options;
    options.logCalls = false;
    auto plugin = Plugin::Create(corvane::bench::TheModule(), id, options);
    if (!plugin)
        throw std::runtime_error("the module gave no plug-in");
    plugin->Start(48000, kFrames);
    return plugin;
}

template <class Call>
double Milliseconds(Call call)
{
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_RegistryManyAudioThreads(benchmark::State& state)
{
    auto learner = Started(vst::FourCC("QZsk"));
    learner->SetChunk(WithPendingMappings(learner->GetChunk()));
    std::vector<std::unique_ptr<Plugin>> tracks;
    for (int t = 0; t < kThreads; ++t)
        tracks.push_back(Started(vst::FourCC("QZs0")));
    double worst = 0;
    for (auto _ : state) {
        std::vector<double> worstOf(kThreads, 0.0);
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                Plugin& plugin = *tracks[static_cast<size_t>(t)];
                std::vector<float> in(kFrames), outL(kFrames), outR(kFrames);
                float* inputs[2] = {in.data(), in.data()};
                float* outputs[2] = {outL.data(), outR.data()};
                double& mine = worstOf[static_cast<size_t>(t)];
                for (int c = 0; c < kCycles; ++c) {
                    const auto value = static_cast<uint8_t>(c & 127);
                    mine = std::max(mine, Milliseconds([&] { plugin.SendMidi({{0, {0xB0, 7, value}}}); }));
                    mine = std::max(mine, Milliseconds([&] { plugin.ProcessReplacing(inputs, outputs, kFrames); }));
                    mine = std::max(mine, Milliseconds([&] { plugin.SetParameter(0, (c % 10) / 10.0f); }));
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        worst = std::max(worst, *std::max_element(worstOf.begin(), worstOf.end()));
    }
    state.counters["worst_ms"] = worst;
    tracks.clear();
    learner.reset();
}
BENCHMARK(BM_RegistryManyAudioThreads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
