// A host that runs audio on many threads (one per track or per bridged
// plug-in) while the instance registry has slow work to do: a Learner holds
// 2000 restored mappings whose instances never come, so every control change
// looks for them again, and 8 learned ones, by which controller 7 of tracks 0
// to 7 drives "Multiplier L" of tracks 8 to 15. Each of 100 threads runs a DC
// of its own through the module: a control change, a 256-frame block and an
// automation step per cycle.
//
// Counter "worst_ms": the longest single host call (processEvents,
// processReplacing or setParameter) any thread saw. Counter "stale": learned
// parameters not at their controller's last value a second after the
// threads ended (something handed over was lost); the run fails when there
// is any. CORVANE_MODULE compares another build (BenchModule.h).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchModule.h"
#include "host/VstHost.h"
#include "framework/vst/VstAbi.h"

namespace {

using corvane::host::Plugin;

constexpr int kThreads = 100;
constexpr int kCycles = 50;
constexpr int32_t kFrames = 256;
constexpr uint32_t kPendingMappings = 2000;
constexpr int kLearned = 8;
constexpr int32_t kMultiplierL = 2; // DC, -2..2

// Controller 7's value in a cycle; the last one, 64, maps to 0 (normalised 0.5).
uint8_t ControllerValue(int cycle)
{
    return cycle == kCycles - 1 ? 64 : (cycle % 2 ? 0 : 127);
}

void PutU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A u32 record of a plug-in's state chunk ('Obry', version, length, then
// tag, size and payload records); 0 when there is none.
uint32_t RecordU32(const std::vector<uint8_t>& chunk, uint32_t tag)
{
    for (size_t at = 12; at + 12 <= chunk.size();) {
        uint32_t found, size, value;
        std::memcpy(&found, chunk.data() + at, 4);
        std::memcpy(&size, chunk.data() + at + 4, 4);
        if (found == tag && size == 4) {
            std::memcpy(&value, chunk.data() + at + 8, 4);
            return value;
        }
        at += 8 + ((size + 3) & ~3u);
    }
    return 0;
}

// The Learner's state with an 'mmap' record added: version 2, mappings of
// controller 7 between instances numbered from 1000 on, which never exist,
// and the learned ones between the tracks' process-wide numbers.
std::vector<uint8_t> WithMappings(std::vector<uint8_t> chunk, const std::vector<uint32_t>& trackNumbers)
{
    std::vector<uint8_t> payload;
    PutU32(payload, 2);
    for (uint32_t i = 0; i < kPendingMappings + kLearned; ++i) {
        const bool learned = i >= kPendingMappings;
        const uint32_t k = i - kPendingMappings;
        const uint32_t target = learned ? trackNumbers[k + kLearned] : 1000 + i;
        const uint32_t source = learned ? trackNumbers[k] : 999;
        for (uint32_t value : {target, uint32_t{kMultiplierL}, source, 0u, 0u, 7u, 0xC0000000u, 0x40000000u, 0u})
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
    std::vector<std::unique_ptr<Plugin>> tracks;
    std::vector<uint32_t> trackNumbers; // given while a Learner exists: its 'guid' record
    for (int t = 0; t < kThreads; ++t) {
        tracks.push_back(Started(vst::FourCC("QZs0")));
        trackNumbers.push_back(RecordU32(tracks.back()->GetChunk(), 0x67756964)); // 'guid'
    }
    learner->SetChunk(WithMappings(learner->GetChunk(), trackNumbers));
    double worst = 0;
    int stale = 0;
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
                    const uint8_t value = ControllerValue(c);
                    mine = std::max(mine, Milliseconds([&] { plugin.SendMidi({{0, {0xB0, 7, value}}}); }));
                    mine = std::max(mine, Milliseconds([&] { plugin.ProcessReplacing(inputs, outputs, kFrames); }));
                    mine = std::max(mine, Milliseconds([&] { plugin.SetParameter(0, (c % 10) / 10.0f); }));
                }
            });
        for (std::thread& thread : threads)
            thread.join();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        worst = std::max(worst, *std::max_element(worstOf.begin(), worstOf.end()));
        // The registry serves on a thread of its own: a second to catch up.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        int off;
        do {
            off = 0;
            for (int k = 0; k < kLearned; ++k)
                off += tracks[static_cast<size_t>(k + kLearned)]->GetParameter(kMultiplierL) != 0.5f ? 1 : 0;
        } while (off != 0 && std::chrono::steady_clock::now() < until);
        stale += off;
        for (int k = 0; k < kLearned; ++k) // ready for the next round
            tracks[static_cast<size_t>(k + kLearned)]->SetParameter(kMultiplierL, 0.75f);
    }
    state.counters["worst_ms"] = worst;
    state.counters["stale"] = stale;
    if (stale != 0) {
        const std::string error = std::to_string(stale) + " of " + std::to_string(kLearned * state.iterations()) +
                                  " learned parameters kept a stale value: work handed to the registry was lost";
        state.SkipWithError(error.c_str());
    }
    tracks.clear();
    learner.reset();
}
BENCHMARK(BM_RegistryManyAudioThreads)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
