// CPU of an open editor at rest (no audio running, so nothing it shows
// changes): editors of the LFO, Step LFO and Voice Controller (whose graph
// displays show what the audio thread writes) and of the DC (knobs, fields
// and labels only), in a window of our own, laid out by their scripts, the
// render thread running at its own pace (a pass every 33 ms). Reports the
// process's CPU time (every thread: the render thread and the GL driver's,
// less this thread's own waiting) as a share of one core, per 33 ms pass,
// and the frames drawn per second after the settling passes. range(0) x
// range(1): the window size (0 x 0: the script's own); range(2) 1: every
// pass draws (how editors drew before they rested); range(3): 0 the LFO,
// 1 the DC, 2 the Step LFO, 3 the Voice Controller; range(4) 1: an audio
// thread processes blocks in real time meanwhile (a note now and then), so
// the displays are live (its own CPU time is left out); range(5) 0: every
// frame is whole (how live editors drew before), 1: frames in which only
// the displays changed redraw their area alone. Needs an X server
// (DISPLAY); skipped without one.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <time.h>

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/Manager.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"

namespace {

using namespace corvane::bench;

class SizedView : public ObryCorvaneView {
public:
    SizedView(ObryAuBase* plugin, int width, int height) : ObryCorvaneView(plugin), width(width), height(height) {}

protected:
    void GetScriptWindowSize(int32_t& w, int32_t& h) override
    {
        ObryCorvaneView::GetScriptWindowSize(w, h);
        if (width > 0 && height > 0) {
            w = width;
            h = height;
        }
    }

private:
    int width, height;
};

// Processes blocks at the pace of real time until stopped; a note starts
// and ends every few blocks (the Voice Controller's envelopes follow it).
// Keeps the CPU time it took.
class AudioThread {
public:
    explicit AudioThread(ObryAuBase& plugin) : thread([this, &plugin] { Run(plugin); }) {}
    ~AudioThread() { Stop(); }
    // Seconds of CPU the thread used; valid after Stop.
    double Stop()
    {
        stop.store(true);
        if (thread.joinable())
            thread.join();
        return cpuSeconds;
    }

private:
    void Run(ObryAuBase& plugin)
    {
        StartTransport();
        // As many channels as the plug-in has, the inputs a slow sine.
        const AEffect* effect = plugin.getAeffect();
        std::vector<std::vector<float>> in(static_cast<size_t>(std::max(effect->numInputs, 1)),
                                           std::vector<float>(kFrames));
        std::vector<std::vector<float>> out(static_cast<size_t>(std::max(effect->numOutputs, 1)),
                                            std::vector<float>(kFrames));
        std::vector<float*> inputs, outputs;
        for (auto& channel : in) {
            for (int32_t i = 0; i < kFrames; ++i)
                channel[static_cast<size_t>(i)] = std::sin(0.05f * static_cast<float>(i));
            inputs.push_back(channel.data());
        }
        for (auto& channel : out)
            outputs.push_back(channel.data());
        // One event a list: a note of middle C begins, and ends half a
        // cycle later.
        BlockEvents noteOn([](int32_t, char* bytes) {
            bytes[0] = static_cast<char>(0x90);
            bytes[1] = 60;
            bytes[2] = 100;
        });
        BlockEvents noteOff([](int32_t, char* bytes) {
            bytes[0] = static_cast<char>(0x80);
            bytes[1] = 60;
            bytes[2] = 0;
        });
        noteOn.Events()->numEvents = 1;
        noteOff.Events()->numEvents = 1;
        auto next = std::chrono::steady_clock::now();
        const auto block = std::chrono::microseconds(static_cast<int64_t>(kFrames / kSampleRate * 1e6));
        for (uint32_t b = 0; !stop.load(); ++b) {
            if (b % 32 == 0)
                plugin.processEvents(noteOn.Events());
            else if (b % 32 == 16)
                plugin.processEvents(noteOff.Events());
            plugin.processReplacing(inputs.data(), outputs.data(), kFrames);
            AdvanceTransport();
            next += block;
            std::this_thread::sleep_until(next);
        }
        timespec used{};
        clockid_t clock;
        if (pthread_getcpuclockid(pthread_self(), &clock) == 0 && clock_gettime(clock, &used) == 0)
            cpuSeconds = static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
    }

    std::atomic<bool> stop{false};
    double cpuSeconds = 0;
    std::thread thread;
};

double Seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_EditorAtRest(benchmark::State& state)
{
    Display* display = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
    if (!display) {
        state.SkipWithError("no X server");
        return;
    }
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    QZ::Manager::SetFramePacing(state.range(2) == 0);

    auto lfo = StartPlugin<ObryCorvaneLFO::ObryCorvane>();
    auto dc = StartPlugin<ObryCorvaneDC::ObryCorvane>();
    auto stepLfo = StartPlugin<ObryCorvaneStepLFO::ObryCorvane>();
    auto voices = StartPlugin<ObryCorvaneVoiceController::ObryCorvane>(false);
    ObryAuBase* const plugins[] = {lfo.get(), dc.get(), stepLfo.get(), voices.get()};
    SizedView view(plugins[state.range(3)], width, height);
    view.InitWindowSize();
    ERect* rect = nullptr;
    view.getRect(&rect);
    const int windowWidth = rect ? rect->right - rect->left : width;
    const int windowHeight = rect ? rect->bottom - rect->top : height;
    const Window parent =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(std::max(windowWidth, 1)),
                            static_cast<unsigned>(std::max(windowHeight, 1)), 0, 0, 0);
    XMapWindow(display, parent);
    XSync(display, False);
    if (!view.open(reinterpret_cast<void*>(static_cast<uintptr_t>(parent)))) {
        state.SkipWithError("the editor did not open");
        XDestroyWindow(display, parent);
        XCloseDisplay(display);
        return;
    }
    QZ::Manager& manager = *view.GetManager();
    // Set up, then past the settling passes after opening.
    while (manager.RenderPasses() < 60)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    QZ::Manager::SetLiveOnlyFrames(state.range(5) != 0);
    std::unique_ptr<AudioThread> audio;
    if (state.range(4) != 0) {
        audio = std::make_unique<AudioThread>(*plugins[state.range(3)]);
        // Past the settling passes of the first change.
        const uint64_t passes = manager.RenderPasses();
        while (manager.RenderPasses() < passes + 60)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    const uint64_t firstFrame = manager.FramesDrawn();
    const uint64_t firstLiveFrame = manager.LiveFramesDrawn();
    const double wallStart = Seconds(CLOCK_MONOTONIC);
    const double processStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double ownStart = Seconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double wall = Seconds(CLOCK_MONOTONIC) - wallStart;
    double cpu = (Seconds(CLOCK_PROCESS_CPUTIME_ID) - processStart) - (Seconds(CLOCK_THREAD_CPUTIME_ID) - ownStart);
    const double frames = static_cast<double>(manager.FramesDrawn() - firstFrame);
    const double liveFrames = static_cast<double>(manager.LiveFramesDrawn() - firstLiveFrame);
    // The audio thread's CPU over its whole life (settling included): the
    // editor's figure errs low by its share of those passes.
    if (audio)
        cpu -= audio->Stop();
    view.close();
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
    QZ::Manager::SetFramePacing(true);
    QZ::Manager::SetLiveOnlyFrames(true);
    state.counters["core_percent"] = cpu / wall * 100.0;
    state.counters["cpu_ms_per_pass"] = cpu / (wall / 0.033) * 1e3;
    state.counters["cpu_ms_per_frame_drawn"] = frames > 0 ? cpu / frames * 1e3 : 0.0;
    state.counters["frames_drawn_per_s"] = frames / wall;
    state.counters["live_only_share"] = frames > 0 ? liveFrames / frames : 0.0;
}
BENCHMARK(BM_EditorAtRest)
    ->ArgNames({"w", "h", "every_pass", "plugin", "audio", "live_only"})
    ->Args({510, 220, 0, 0, 0, 1})
    ->Args({955, 385, 0, 0, 0, 1})
    ->Args({955, 385, 1, 0, 0, 1})
    ->Args({510, 220, 0, 1, 0, 1})
    ->Args({955, 385, 0, 1, 0, 1})
    ->Args({955, 385, 1, 1, 0, 1})
    ->Args({0, 0, 0, 0, 0, 1})
    ->Args({0, 0, 1, 0, 0, 1})
    ->Args({0, 0, 0, 2, 0, 1})
    ->Args({0, 0, 1, 2, 0, 1})
    ->Args({0, 0, 0, 3, 0, 1})
    ->Args({0, 0, 1, 3, 0, 1})
    ->Args({0, 0, 0, 0, 1, 0})
    ->Args({0, 0, 0, 0, 1, 1})
    ->Args({0, 0, 0, 2, 1, 0})
    ->Args({0, 0, 0, 2, 1, 1})
    ->Args({0, 0, 0, 3, 1, 0})
    ->Args({0, 0, 0, 3, 1, 1})
    ->Iterations(30)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
