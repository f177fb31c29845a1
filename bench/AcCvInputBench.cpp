// The AC encoders and the CV Input per frame: the encoders' carrier, the
// CV Input's decoder and generator, and its Tessel decoder (a phase-locked
// loop with one sine and one cosine and an order-10 low-pass per sample and
// channel), the heaviest per-sample path of the family.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/acencoder/ObryCorvaneACEncoder.h"
#include "plugins/cvinput/ObryCorvaneCVInput.h"

namespace {

using namespace corvane::bench;

// Sets a real value through the host's normalised interface.
void SetReal(ObryCorvaneBase& plugin, int32_t index, float real)
{
    const ParameterInfo* info = plugin.GetParameterInfo(index);
    plugin.setParameter(index, NormalizeParameterValue(info->unit, info->min, info->max, real));
}

// Runs blocks of a modulated 17 kHz carrier through every channel.
void RunCarrierBlocks(benchmark::State& state, ObryCorvaneBase& plugin, int32_t channels)
{
    std::vector<std::vector<float>> in(channels, std::vector<float>(kFrames));
    std::vector<std::vector<float>> out(channels, std::vector<float>(kFrames));
    for (auto& channel : in)
        for (int32_t i = 0; i < kFrames; ++i)
            channel[i] = static_cast<float>((0.4 + 0.1 * std::sin(i * 0.01))
                                            * std::sin(2 * std::numbers::pi * 17000 * i / kSampleRate));
    std::vector<float*> inputs, outputs;
    for (int32_t c = 0; c < channels; ++c) {
        inputs.push_back(in[c].data());
        outputs.push_back(out[c].data());
    }
    RunBlocks(state, plugin, inputs.data(), outputs.data(), channels);
}

void BM_ACEncoder(benchmark::State& state)
{
    auto plugin = StartPlugin<ObryCorvaneACEncoder::ObryCorvane>();
    for (int32_t c = 0; c < 2; ++c)
        SetReal(*plugin, ObryCorvaneACEncoderBase::ParameterIndex(c, ObryCorvaneACEncoderBase::kEnable), 1);
    RunCarrierBlocks(state, *plugin, 2);
}
BENCHMARK(BM_ACEncoder);

void BM_ACEncoder6(benchmark::State& state)
{
    auto plugin = StartPlugin<ObryCorvaneACEncoder6::ObryCorvane>();
    for (int32_t c = 0; c < 6; ++c)
        SetReal(*plugin, ObryCorvaneACEncoderBase::ParameterIndex(c, ObryCorvaneACEncoderBase::kEnable), 1);
    RunCarrierBlocks(state, *plugin, 6);
}
BENCHMARK(BM_ACEncoder6);

// Both channels in one mode; Smoothing -10 ms low-passes the decoders.
void BM_CVInput(benchmark::State& state)
{
    using CV = ObryCorvaneCVInput::ObryCorvane;
    auto plugin = StartPlugin<CV>();
    const int32_t mode = static_cast<int32_t>(state.range(0));
    const bool bipolar = state.range(1) != 0;
    for (int32_t c = 0; c < CV::kChannels; ++c) {
        SetReal(*plugin, CV::ParameterIndex(c, CV::kMode), static_cast<float>(mode));
        SetReal(*plugin, CV::ParameterIndex(c, CV::kBipolar), bipolar ? 1.0f : 0.0f);
        SetReal(*plugin, CV::ParameterIndex(c, CV::kLevel), 0.5f);
        SetReal(*plugin, CV::ParameterIndex(c, CV::kSmoothing), -10);
    }
    static const char* const kModeNames[] = {"decoder", "generator", "tessel"};
    state.SetLabel(std::string(kModeNames[mode]) + (mode == CV::kModeDecoder && bipolar ? " bipolar" : ""));
    RunCarrierBlocks(state, *plugin, CV::kChannels);
}
BENCHMARK(BM_CVInput)
    ->Args({ObryCorvaneCVInput::ObryCorvane::kModeDecoder, 0})
    ->Args({ObryCorvaneCVInput::ObryCorvane::kModeDecoder, 1})
    ->Args({ObryCorvaneCVInput::ObryCorvane::kModeGenerator, 0})
    ->Args({ObryCorvaneCVInput::ObryCorvane::kModeTesselDecoder, 0});

} // namespace
