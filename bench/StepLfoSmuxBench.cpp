// Step LFO and SMUX per frame: each plug-in built in-process and run through
// processReplacing on 512-frame blocks with a host that plays at 120 BPM.
// Step LFO: held steps locked to the transport (the defaults), then linear
// interpolation with swing and smoothing on both channels (R in
// quadrature). SMUX: both outputs interleaved, then with the blocks cut by
// 63 MIDI events each (the most the event queue holds per block).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plugins/smux/ObryCorvaneSMUX.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"

namespace {

constexpr int32_t kFrames = 512;
constexpr double kSampleRate = 48000;
constexpr int32_t kEventsPerBlock = 63;

VstTimeInfo gTime{};

intptr_t PlayingHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterGetTime)
        return reinterpret_cast<intptr_t>(&gTime);
    return 0;
}

void StartTransport()
{
    gTime = VstTimeInfo{};
    gTime.sampleRate = kSampleRate;
    gTime.tempo = 120;
    gTime.flags = kVstTempoValid | kVstPpqPosValid | kVstTransportPlaying;
}

void AdvanceTransport()
{
    gTime.samplePos += kFrames;
    gTime.ppqPos += kFrames / kSampleRate * gTime.tempo / 60.0;
}

template <class Plugin>
Plugin* Start()
{
    auto* plugin = new Plugin(PlayingHost);
    plugin->setSampleRate(static_cast<float>(kSampleRate));
    plugin->setBlockSize(kFrames);
    plugin->resume();
    return plugin;
}

void ReportPerFrame(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// range(0): 0 defaults (held steps, transport lock), 1 linear, swing, smoothing, quadrature.
void BM_StepLFO(benchmark::State& state)
{
    using ObryCorvaneStepLFO::ObryCorvane;
    StartTransport();
    auto* lfo = Start<ObryCorvane>();
    for (int32_t c = 0; c < 2; ++c)
        for (int32_t s = 0; s < ObryCorvane::kNumSteps; ++s)
            lfo->SetParameterValue(ObryCorvane::kFirstStep + ObryCorvane::kNumSteps * c + s,
                                   std::sin(0.3f * static_cast<float>(s + c)), false);
    if (state.range(0) >= 1) {
        for (int32_t c = 0; c < 2; ++c) {
            const int32_t g = ObryCorvane::kGroupSize * c;
            lfo->SetParameterValue(g + ObryCorvane::kInterpolation, 1, false);
            lfo->SetParameterValue(g + ObryCorvane::kRangeMode, 1, false);
            lfo->SetParameterValue(g + ObryCorvane::kAsymmetry, 30, false);
            lfo->SetParameterValue(g + ObryCorvane::kSwing, 62, false);
            lfo->SetParameterValue(g + ObryCorvane::kSmoothing, c == 0 ? 5.0f : -5.0f, false);
            lfo->SetParameterValue(g + ObryCorvane::kInputMode, 2, false);
            lfo->SetParameterValue(g + ObryCorvane::kBeatDivisor, 5, false);
        }
        lfo->SetParameterValue(ObryCorvane::kSync + ObryCorvane::kGroupSize, ObryCorvane::kSyncQuadrature, false);
    }

    std::vector<float> inL(kFrames), inR(kFrames, 0.5f), outL(kFrames), outR(kFrames);
    for (int32_t i = 0; i < kFrames; ++i)
        inL[i] = std::sin(0.01f * static_cast<float>(i));
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    for (auto _ : state) {
        lfo->processReplacing(inputs, outputs, kFrames);
        AdvanceTransport();
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
    lfo->close();
    delete lfo;
}
BENCHMARK(BM_StepLFO)->ArgName("held0_linear_swing1")->Arg(0)->Arg(1);

// range(0): 0 plain blocks, 1 blocks cut by MIDI events.
void BM_SMUX(benchmark::State& state)
{
    using ObryCorvaneSMUX::ObryCorvane;
    StartTransport();
    auto* smux = Start<ObryCorvane>();
    smux->SetParameterValue(ObryCorvane::kFlipR, 1, false);

    std::vector<VstMidiEvent> notes(kEventsPerBlock);
    for (int32_t i = 0; i < kEventsPerBlock; ++i) {
        notes[i] = VstMidiEvent{};
        notes[i].type = kVstMidiType;
        notes[i].byteSize = sizeof(VstMidiEvent);
        notes[i].deltaFrames = i * (kFrames / 64) + 5;
        notes[i].midiData[0] = static_cast<char>(0xB0);
        notes[i].midiData[1] = 7;
        notes[i].midiData[2] = static_cast<char>(i);
    }
    std::vector<intptr_t> eventList(2 + kEventsPerBlock);
    auto* events = reinterpret_cast<VstEvents*>(eventList.data());
    events->numEvents = kEventsPerBlock;
    for (int32_t i = 0; i < kEventsPerBlock; ++i)
        eventList[2 + i] = reinterpret_cast<intptr_t>(&notes[i]);

    std::vector<std::vector<float>> in(4, std::vector<float>(kFrames));
    for (int32_t k = 0; k < 4; ++k)
        for (int32_t i = 0; i < kFrames; ++i)
            in[k][i] = static_cast<float>(k) + 0.001f * static_cast<float>(i);
    std::vector<float> outL(kFrames), outR(kFrames);
    float* inputs[4] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    float* outputs[2] = {outL.data(), outR.data()};
    const bool withEvents = state.range(0) >= 1;
    for (auto _ : state) {
        if (withEvents)
            smux->processEvents(events);
        smux->processReplacing(inputs, outputs, kFrames);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
    smux->close();
    delete smux;
}
BENCHMARK(BM_SMUX)->ArgName("plain0_midi1")->Arg(0)->Arg(1);

} // namespace
