// CV To OSC per frame, both channels enabled: "Quiet" holds constant inputs,
// so every block looks at every sample and sends nothing; "Sending" moves
// both inputs on every sample, so each channel queues one message per block
// and the sender thread sends them over UDP beside the audio thread. And the
// Learner: the cost of one reported parameter change (address built and
// queued under the registry lock) with "Send OSC" Short and Long.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "plugins/cvtoosc/ObryCorvaneCVToOSC.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/learner/ObryCorvaneLearner.h"

namespace {

using corvane::bench::kFrames;
using CVToOSC = ObryCorvaneCVToOSC::ObryCorvane;
using Learner = ObryCorvaneLearner::ObryCorvane;

// The discard port of this machine: nobody needs to listen, send errors
// are ignored.
constexpr char kDestination[] = "127.0.0.1:9";

// The full ring's overflow reports (written by the sender thread, never by
// the audio thread) would swamp the output while a benchmark runs.
class QuietErrors {
public:
    QuietErrors()
    {
        fflush(stderr);
        saved = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    }
    ~QuietErrors()
    {
        if (saved >= 0) {
            dup2(saved, STDERR_FILENO);
            close(saved);
        }
    }

private:
    int saved = -1;
};

corvane::bench::Owned<CVToOSC> StartCvToOsc()
{
    auto plugin = corvane::bench::StartPlugin<CVToOSC>();
    plugin->SetProperty(kObryProperty_OSCDestination, 0, 0, kDestination, sizeof kDestination);
    for (int32_t c = 0; c < 2; ++c)
        plugin->setParameter(CVToOSC::ParameterIndex(c, 0), 1);
    return plugin;
}

void BM_CvToOscQuiet(benchmark::State& state)
{
    auto plugin = StartCvToOsc();
    corvane::bench::StereoBuffers buffers([](int32_t) { return 0.25f; });
    for (float& v : buffers.inL)
        v = 0.5f;
    plugin->processReplacing(buffers.inputs, buffers.outputs, kFrames); // the one send
    for (auto _ : state) {
        plugin->processReplacing(buffers.inputs, buffers.outputs, kFrames);
        benchmark::DoNotOptimize(buffers.outL[kFrames - 1]);
        benchmark::ClobberMemory();
    }
    corvane::bench::ReportPerFrame(state);
}
BENCHMARK(BM_CvToOscQuiet);

void BM_CvToOscSending(benchmark::State& state)
{
    QuietErrors quiet;
    auto plugin = StartCvToOsc();
    corvane::bench::StereoBuffers buffers([](int32_t i) { return std::cos(0.02f * static_cast<float>(i)); });
    float offset = 0;
    for (auto _ : state) {
        // A new level each block, so that both channels send every block.
        offset = offset > 1.0f ? 0.0f : offset + 0.01f;
        buffers.inL[kFrames - 1] = offset;
        buffers.inR[kFrames - 1] = -offset;
        plugin->processReplacing(buffers.inputs, buffers.outputs, kFrames);
        benchmark::DoNotOptimize(buffers.outL[kFrames - 1]);
        benchmark::ClobberMemory();
    }
    corvane::bench::ReportPerFrame(state);
}
BENCHMARK(BM_CvToOscSending);

void LearnerChange(benchmark::State& state, Learner::SendMode mode)
{
    QuietErrors quiet;
    auto dc = corvane::bench::StartPlugin<ObryCorvaneDC::ObryCorvane>();
    auto learner = corvane::bench::StartPlugin<Learner>();
    learner->SetProperty(kObryProperty_OSCDestination, 0, 0, kDestination, sizeof kDestination);
    learner->CurrentProgram()->SetParameter(Learner::kSendOSC, static_cast<float>(mode));
    float value = 0;
    for (auto _ : state) {
        value = value > 0.9f ? 0.0f : value + 0.001f;
        dc->SetParameterValue(0, value, false);
    }
    state.SetItemsProcessed(state.iterations());
    // Seconds per change, shown with an SI prefix ("120n" is 120 ns).
    state.counters["ns_per_change"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_LearnerReportShort(benchmark::State& state)
{
    LearnerChange(state, Learner::kSendShort);
}
BENCHMARK(BM_LearnerReportShort);

void BM_LearnerReportLong(benchmark::State& state)
{
    LearnerChange(state, Learner::kSendLong);
}
BENCHMARK(BM_LearnerReportLong);

} // namespace
