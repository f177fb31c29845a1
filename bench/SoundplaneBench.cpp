// Soundplane per frame: built in-process and run through processReplacing on
// 512-frame blocks, following a touch with the Dunmore calibration. Case 0:
// the default matrix, no smoothing; case 1: every output smoothed; case 2: as
// 0 while another thread keeps writing the touch table (as a bridge's frames
// do), so the audio thread's reads meet a writer. BM_SoundplaneTouchWrite:
// one touch record written, per write.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/SoundplaneTouchTable.h"
#include "plugins/soundplane/ObryCorvaneSoundplane.h"

namespace {

using namespace corvane::bench;
using Soundplane = ObryCorvaneSoundplane::ObryCorvane;

void BM_Soundplane(benchmark::State& state)
{
    StartTransport();
    auto plugin = StartPlugin<Soundplane>();
    const int64_t mode = state.range(0);
    plugin->SetParameterValue(Soundplane::kVoiceID, 1, false);
    if (mode == 1)
        for (int32_t j = 0; j < Soundplane::kNumOutputs; ++j)
            plugin->SetParameterValue(Soundplane::kOutput1Smoothing + j, 10.0f, false);
    const uint8_t any = 1;
    plugin->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, &any, 1);
    SoundplaneTouchTable& table = SoundplaneTouchTable::Instance();
    table.WriteTouch(1, 0.5f, 0.25f, 0.75f, 64.5f);
    bool alive[SoundplaneTouchTable::kTouchCount] = {true};
    table.WriteAlive(alive);

    std::vector<std::vector<float>> out(Soundplane::kNumOutputs, std::vector<float>(kFrames));
    float* outputs[Soundplane::kNumOutputs];
    for (int32_t j = 0; j < Soundplane::kNumOutputs; ++j)
        outputs[j] = out[j].data();
    std::atomic<bool> stop{false};
    std::thread writer;
    if (mode == 2)
        writer = std::thread([&] {
            for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
                table.BeginFrame();
                const float x = static_cast<float>(i % 100) * 0.01f;
                table.WriteTouch(1, x, x, x, 60.0f + x);
            }
        });
    for (auto _ : state) {
        plugin->processReplacing(nullptr, outputs, kFrames);
        benchmark::DoNotOptimize(out[0][kFrames - 1]);
    }
    stop = true;
    if (writer.joinable())
        writer.join();
    table.Reset();
    ReportPerFrame(state);
}
BENCHMARK(BM_Soundplane)->Arg(0)->Arg(1)->Arg(2)->UseRealTime();

void BM_SoundplaneTouchWrite(benchmark::State& state)
{
    SoundplaneTouchTable& table = SoundplaneTouchTable::Instance();
    float x = 0.0f;
    for (auto _ : state) {
        table.WriteTouch(2, x, x, x, x);
        x += 1.0f;
    }
    table.Reset();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoundplaneTouchWrite);

} // namespace
