// Helpers of the plug-in benchmarks: plug-ins built in-process with a host
// whose transport plays at 120 BPM, blocks of kFrames run through
// processReplacing (optionally cut by MIDI events), and the per-frame report
// every benchmark gives next to BM_CopyLoop.
//
// Everything runs on the benchmark's thread; the transport is one global
// per process, set by StartTransport at the start of each benchmark.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "plugins/base/ObryCorvaneBase.h"

namespace corvane::bench {

constexpr int32_t kFrames = 512;
constexpr double kSampleRate = 48000;
// The most MIDI events the plug-ins' event queue holds per block.
constexpr int32_t kEventsPerBlock = 63;

inline VstTimeInfo gTransport{};

// Answers the version and, with gTransport, the time; nothing else.
inline intptr_t PlayingHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    if (opcode == audioMasterVersion)
        return 2400;
    if (opcode == audioMasterGetTime)
        return reinterpret_cast<intptr_t>(&gTransport);
    return 0;
}

// Playing at 120 BPM from position 0.
inline void StartTransport()
{
    gTransport = VstTimeInfo{};
    gTransport.sampleRate = kSampleRate;
    gTransport.tempo = 120;
    gTransport.flags = kVstTempoValid | kVstPpqPosValid | kVstTransportPlaying;
}

// Moves the transport on by one block.
inline void AdvanceTransport()
{
    gTransport.samplePos += kFrames;
    gTransport.ppqPos += kFrames / kSampleRate * gTransport.tempo / 60.0;
}

// Plug-ins leave through close() and delete, as the host's effClose does.
struct Closer {
    void operator()(ObryCorvaneBase* plugin) const
    {
        plugin->close();
        delete plugin;
    }
};
template <class Plugin>
using Owned = std::unique_ptr<Plugin, Closer>;

// A plug-in with PlayingHost at kSampleRate and blocks of kFrames, resumed;
// `arguments` follow the host callback in its constructor.
template <class Plugin, class... Arguments>
Owned<Plugin> StartPlugin(Arguments... arguments)
{
    Owned<Plugin> plugin(new Plugin(PlayingHost, arguments...));
    plugin->setSampleRate(static_cast<float>(kSampleRate));
    plugin->setBlockSize(kFrames);
    plugin->resume();
    return plugin;
}

// kEventsPerBlock MIDI events spread over a block as one VstEvents list that
// can be handed to the plug-in before every block. `fill(i, bytes)` writes
// the three bytes of event i.
class BlockEvents {
public:
    template <class Fill>
    explicit BlockEvents(Fill&& fill) : midi(kEventsPerBlock), list(2 + kEventsPerBlock)
    {
        for (int32_t i = 0; i < kEventsPerBlock; ++i) {
            midi[i].type = kVstMidiType;
            midi[i].byteSize = sizeof(VstMidiEvent);
            midi[i].deltaFrames = i * (kFrames / 64) + 5;
            fill(i, midi[i].midiData);
            list[2 + i] = reinterpret_cast<intptr_t>(&midi[i]);
        }
        // VstEvents: the count, a reserved word, then the event pointers.
        Events()->numEvents = kEventsPerBlock;
    }
    VstEvents* Events() { return reinterpret_cast<VstEvents*>(list.data()); }

private:
    std::vector<VstMidiEvent> midi;
    std::vector<intptr_t> list;
};

// One block of two inputs and two outputs: L a slow sine, R `right(i)`.
struct StereoBuffers {
    template <class Right>
    explicit StereoBuffers(Right&& right) : inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames)
    {
        for (int32_t i = 0; i < kFrames; ++i) {
            inL[i] = std::sin(0.01f * static_cast<float>(i));
            inR[i] = right(i);
        }
    }
    StereoBuffers(const StereoBuffers&) = delete; // the pointers below are into this object
    StereoBuffers& operator=(const StereoBuffers&) = delete;

    std::vector<float> inL, inR, outL, outR;
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
};

// Items and "ns_per_frame" for `frames` samples per iteration.
inline void ReportPerFrame(benchmark::State& state, int64_t frames = kFrames)
{
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * frames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The benchmark loop: per iteration the events (when given), one block of
// kFrames through the AEffect's processReplacing, and the transport moved on. Reports per
// frame.
inline void RunBlocks(benchmark::State& state, ObryCorvaneBase& plugin, float** inputs, float** outputs,
                      int32_t numOutputs, VstEvents* events = nullptr)
{
    for (auto _ : state) {
        if (events)
            plugin.processEvents(events);
        // Through the entry a host calls, as a host would.
        AEffect* effect = plugin.getAeffect();
        effect->processReplacing(effect, inputs, outputs, kFrames);
        AdvanceTransport();
        for (int32_t c = 0; c < numOutputs; ++c)
            benchmark::DoNotOptimize(outputs[c]);
        benchmark::ClobberMemory();
    }
    ReportPerFrame(state);
}

} // namespace corvane::bench
