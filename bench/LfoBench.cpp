// LFO per frame: the plug-in built in-process and run through processReplacing
// on 512-frame blocks with a host that plays at 120 BPM. Both channels mix
// every waveform; the swung cases run L in Transport and R in Tempo mode with
// swing on, and the MIDI case cuts every block at 63 note-ons (the most the
// event queue holds per block) that also reset the phase.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "plugins/lfo/ObryCorvaneLFO.h"

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

// range(0): 0 free running, 1 swing, 2 swing and MIDI events.
void BM_LFO(benchmark::State& state)
{
    using ObryCorvaneLFO::ObryCorvane;
    StartTransport();
    auto* lfo = new ObryCorvane(PlayingHost);
    lfo->setSampleRate(static_cast<float>(kSampleRate));
    lfo->setBlockSize(kFrames);
    lfo->resume();
    for (int32_t c = 0; c < 2; ++c) {
        const int32_t g = ObryCorvane::kGroupSize * c;
        for (int32_t wave = ObryCorvane::kSine; wave <= ObryCorvane::kNoise; ++wave)
            lfo->SetParameterValue(g + wave, 0.2f, false);
        lfo->SetParameterValue(g + ObryCorvane::kAsymmetry, 30, false);
        lfo->SetParameterValue(g + ObryCorvane::kInputMode, 2, false);
        lfo->SetParameterValue(g + ObryCorvane::kBeats, 1, false);
        lfo->SetParameterValue(g + ObryCorvane::kBeatDivisor, 4, false);
    }
    const int64_t mode = state.range(0);
    if (mode >= 1) {
        lfo->SetParameterValue(ObryCorvane::kSync, ObryCorvane::kSyncTransport, false);
        lfo->SetParameterValue(ObryCorvane::kSync + ObryCorvane::kGroupSize, ObryCorvane::kSyncTempo, false);
        lfo->SetParameterValue(ObryCorvane::kSwingL, 62, false);
        lfo->SetParameterValue(ObryCorvane::kSwingL + 2, 58, false);
        lfo->SetParameterValue(ObryCorvane::kSwingTypeL + 2, 1, false);
        lfo->SetParameterValue(ObryCorvane::kSmoothingL, 5, false);
        lfo->SetParameterValue(ObryCorvane::kSmoothingL + 1, -5, false);
    }
    if (mode >= 2) {
        lfo->SetParameterValue(ObryCorvane::kResetByNoteL, 1, false);
        lfo->SetParameterValue(ObryCorvane::kResetByNoteL + 1, 1, false);
    }

    std::vector<VstMidiEvent> notes(kEventsPerBlock);
    for (int32_t i = 0; i < kEventsPerBlock; ++i) {
        notes[i].type = kVstMidiType;
        notes[i].byteSize = sizeof(VstMidiEvent);
        notes[i].deltaFrames = i * (kFrames / 64) + 5;
        notes[i].midiData[0] = static_cast<char>(0x90);
        notes[i].midiData[1] = static_cast<char>(40 + i);
        notes[i].midiData[2] = 100;
    }
    // VstEvents with room for every pointer.
    std::vector<intptr_t> eventList(2 + kEventsPerBlock);
    auto* events = reinterpret_cast<VstEvents*>(eventList.data());
    events->numEvents = kEventsPerBlock;
    for (int32_t i = 0; i < kEventsPerBlock; ++i)
        eventList[2 + i] = reinterpret_cast<intptr_t>(&notes[i]);

    std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames);
    for (int32_t i = 0; i < kFrames; ++i) {
        inL[i] = std::sin(0.01f * static_cast<float>(i));
        inR[i] = 0.5f;
    }
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};

    for (auto _ : state) {
        if (mode >= 2)
            lfo->processEvents(events);
        lfo->processReplacing(inputs, outputs, kFrames);
        AdvanceTransport();
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    lfo->close();
    delete lfo;
}
BENCHMARK(BM_LFO)->ArgName("free0_swing1_midi2")->Arg(0)->Arg(1)->Arg(2);

} // namespace
