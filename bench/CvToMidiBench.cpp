// CV To MIDI per frame: both channels converting with controllers and notes
// on. "Quiet" sends nothing (no port open: each message is dropped at the
// first check); "Busy" has a port open (the fake output) and a signal that
// changes the controller and the note on most samples, so the ring fills and
// the sender thread works beside the audio thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

#include "platform/MidiOutputFake.h"
#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"

namespace {

constexpr int32_t kFrames = 512;
constexpr float kRate = 48000;
constexpr char kDevice[] = "Bench Synth";

intptr_t BenchHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float)
{
    return opcode == audioMasterVersion ? 2400 : 0;
}

struct Closer {
    void operator()(ObryCorvaneBase* plugin) const
    {
        plugin->close();
        delete plugin;
    }
};
using CVToMIDI = ObryCorvaneCVToMIDI::ObryCorvane;

std::unique_ptr<CVToMIDI, Closer> Start()
{
    std::unique_ptr<CVToMIDI, Closer> plugin(new CVToMIDI(BenchHost));
    plugin->setSampleRate(kRate);
    plugin->setBlockSize(kFrames);
    plugin->resume();
    for (int32_t c = 0; c < 2; ++c) {
        plugin->setParameter(CVToMIDI::ParameterIndex(c, CVToMIDI::kEnableCC), 1);
        plugin->setParameter(CVToMIDI::ParameterIndex(c, CVToMIDI::kEnableNote), 1);
        // Gated on the right: its gate is the left input.
        plugin->setParameter(CVToMIDI::ParameterIndex(c, CVToMIDI::kNoteOnMode), c == 0 ? 0.0f : 1.0f);
    }
    return plugin;
}

void RunBlocks(benchmark::State& state, CVToMIDI& plugin, double rate)
{
    std::vector<float> left(kFrames), right(kFrames), outL(kFrames), outR(kFrames);
    for (int32_t i = 0; i < kFrames; ++i) {
        left[i] = static_cast<float>(std::sin(rate * i));
        right[i] = static_cast<float>(std::cos(rate * 0.7 * i));
    }
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    for (auto _ : state) {
        plugin.processReplacing(inputs, outputs, kFrames);
        benchmark::DoNotOptimize(outputs[0][kFrames - 1]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.counters["ns_per_frame"] = benchmark::Counter(static_cast<double>(state.iterations() * kFrames),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_CvToMidiQuiet(benchmark::State& state)
{
    auto plugin = Start();
    RunBlocks(state, *plugin, 0.01);
}
BENCHMARK(BM_CvToMidiQuiet);

void BM_CvToMidiBusy(benchmark::State& state)
{
    corvane::platform::ScopedFakeMidiOutput fake;
    fake->AddDevice(kDevice);
    auto plugin = Start();
    fake->SetRecording(false);
    plugin->SetProperty(kObryProperty_MIDIOutputDevice, 0, 0, kDevice, sizeof kDevice);
    // The full ring's overflow reports (written by the sender thread, never
    // by the audio thread) would swamp the output: send them to /dev/null.
    fflush(stderr);
    const int savedErr = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    RunBlocks(state, *plugin, 0.2);
    plugin.reset();
    if (savedErr >= 0) {
        dup2(savedErr, STDERR_FILENO);
        close(savedErr);
    }
    state.counters["messages_sent"] = static_cast<double>(fake->SentCount());
}
BENCHMARK(BM_CvToMidiBusy);

} // namespace
