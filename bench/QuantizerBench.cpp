// Quantizer per frame: both channels quantising a moving signal, in manual
// steps and in calibrated mode over the Dunmore table filtered to a scale.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/common/Calibration.h"
#include "plugins/quantizer/ObryCorvaneQuantizer.h"

namespace {

using Quantizer = ObryCorvaneQuantizer::ObryCorvane;
using namespace corvane::bench;

void BM_Quantizer(benchmark::State& state)
{
    StartTransport();
    auto plugin = StartPlugin<Quantizer>();
    const bool calibrated = state.range(0) != 0;
    const uint8_t one = 1;
    plugin->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, &one, 1);
    for (int32_t c = 0; c < 2; ++c) {
        plugin->SetParameterValue(Quantizer::ParameterIndex(c, Quantizer::kEnable), 1, false);
        plugin->SetParameterValue(Quantizer::ParameterIndex(c, Quantizer::kMode), calibrated ? 1.0f : 0.0f, false);
        plugin->SetParameterValue(Quantizer::ParameterIndex(c, Quantizer::kEnableScale), 1, false);
        plugin->SetParameterValue(Quantizer::ParameterIndex(c, Quantizer::kSmoothing), 2, false);
    }
    std::vector<float> left(kFrames), right(kFrames), outL(kFrames), outR(kFrames);
    for (int32_t i = 0; i < kFrames; ++i) {
        left[i] = static_cast<float>(std::sin(0.01 * i));
        right[i] = static_cast<float>(std::cos(0.007 * i));
    }
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    RunBlocks(state, *plugin, inputs, outputs, 2);
}
BENCHMARK(BM_Quantizer)->ArgName("calibrated")->Arg(0)->Arg(1);

} // namespace
