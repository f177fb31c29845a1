// Trigger and Sync per frame: built in-process and run through
// processReplacing on 512-frame blocks with the transport playing.
// Trigger case 0: the envelope after a held note with smoothing; case 1: the
// CV trigger scanning a fast sine; case 2: as 0 with 63 MIDI events per block
// retriggering the envelope. Sync case 0: the default clock added to the
// audio; case 1: 48ppqn with swing; case 2: as 1 into Brink data words;
// case 3: as 1 with 63 MIDI events per block cutting it.
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench/BenchSupport.h"
#include "plugins/sync/ObryCorvaneSync.h"
#include "plugins/trigger/ObryCorvaneTrigger.h"

namespace {

using namespace corvane::bench;
using Trigger = ObryCorvaneTrigger::ObryCorvane;
using Sync = ObryCorvaneSync::ObryCorvane;

template <class Plugin>
Owned<Plugin> Start()
{
    StartTransport();
    Owned<Plugin> plugin(new Plugin(PlayingHost, false));
    plugin->setSampleRate(static_cast<float>(kSampleRate));
    plugin->setBlockSize(kFrames);
    plugin->resume();
    return plugin;
}

void BM_Trigger(benchmark::State& state)
{
    auto trigger = Start<Trigger>();
    const int64_t mode = state.range(0);
    trigger->SetParameterValue(Trigger::kOutputMode, 2, false);
    trigger->SetParameterValue(Trigger::kSmoothing, -5, false);
    if (mode == 1)
        trigger->SetParameterValue(Trigger::kCVTriggerEnable, 1, false);
    BlockEvents notes([](int32_t i, char* bytes) {
        bytes[0] = static_cast<char>(i % 2 ? 0x80 : 0x90);
        bytes[1] = 60;
        bytes[2] = 100;
    });
    StereoBuffers buffers([](int32_t i) { return std::sin(0.3f * static_cast<float>(i)); });
    float* inputs[1] = {buffers.inR.data()};
    trigger->processEvents(notes.Events()); // ends on a held note
    trigger->processReplacing(inputs, buffers.outputs, kFrames);
    RunBlocks(state, *trigger, inputs, buffers.outputs, 1, mode == 2 ? notes.Events() : nullptr);
}
BENCHMARK(BM_Trigger)->ArgName("envelope0_cv1_midi2")->Arg(0)->Arg(1)->Arg(2);

void BM_Sync(benchmark::State& state)
{
    auto sync = Start<Sync>();
    const int64_t mode = state.range(0);
    if (mode >= 1) {
        sync->SetParameterValue(Sync::kDINsyncType, 2, false);
        sync->SetParameterValue(Sync::kSwing, 60, false);
    }
    if (mode == 2) {
        sync->SetParameterValue(Sync::kHardwareMode, 1, false);
        sync->SetParameterValue(Sync::kClockOutput, 7, false);
    }
    BlockEvents events([](int32_t, char* bytes) {
        bytes[0] = static_cast<char>(0xB0);
        bytes[1] = 1;
        bytes[2] = 0;
    });
    StereoBuffers buffers([](int32_t) { return 0.0f; });
    RunBlocks(state, *sync, buffers.inputs, buffers.outputs, 2, mode == 3 ? events.Events() : nullptr);
}
BENCHMARK(BM_Sync)->ArgName("default0_swing1_brink2_midi3")->Arg(0)->Arg(1)->Arg(2)->Arg(3);

} // namespace
