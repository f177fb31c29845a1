// The Follower per frame: two filter sections, the ring and the envelope per
// sample, and one analysis walk per period of the tone (here 256 samples, so
// the repeated block continues the tone seamlessly); with and without the
// output smoothing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "bench/BenchSupport.h"
#include "plugins/follower/ObryCorvaneFollower.h"

namespace {

using namespace corvane::bench;
using Follower = ObryCorvaneFollower::ObryCorvane;

void RunFollower(benchmark::State& state, float smoothing)
{
    auto plugin = StartPlugin<Follower>();
    plugin->SetParameterValue(Follower::kSmoothingL, smoothing, false);
    plugin->SetParameterValue(Follower::kSmoothingR, -smoothing, false);
    const double hz = kSampleRate / 256;
    StereoBuffers buffers([hz](int32_t i) {
        return static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * hz * i / kSampleRate));
    });
    for (int32_t i = 0; i < kFrames; ++i)
        buffers.inL[i] = buffers.inR[i];
    RunBlocks(state, *plugin, buffers.inputs, buffers.outputs, 2);
}

void BM_Follower(benchmark::State& state)
{
    RunFollower(state, 0);
}
BENCHMARK(BM_Follower);

void BM_FollowerSmoothed(benchmark::State& state)
{
    RunFollower(state, 20);
}
BENCHMARK(BM_FollowerSmoothed);

} // namespace
