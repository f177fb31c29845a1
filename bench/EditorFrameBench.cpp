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
// 1 the DC, 2 the Step LFO, 3 the Voice Controller. Needs an X server
// (DISPLAY); skipped without one.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

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

    const uint64_t firstFrame = manager.FramesDrawn();
    const double wallStart = Seconds(CLOCK_MONOTONIC);
    const double processStart = Seconds(CLOCK_PROCESS_CPUTIME_ID);
    const double ownStart = Seconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const double wall = Seconds(CLOCK_MONOTONIC) - wallStart;
    const double cpu =
        (Seconds(CLOCK_PROCESS_CPUTIME_ID) - processStart) - (Seconds(CLOCK_THREAD_CPUTIME_ID) - ownStart);
    const double frames = static_cast<double>(manager.FramesDrawn() - firstFrame);
    view.close();
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
    QZ::Manager::SetFramePacing(true);
    state.counters["core_percent"] = cpu / wall * 100.0;
    state.counters["cpu_ms_per_pass"] = cpu / (wall / 0.033) * 1e3;
    state.counters["cpu_ms_per_frame_drawn"] = frames > 0 ? cpu / frames * 1e3 : 0.0;
    state.counters["frames_drawn_per_s"] = frames / wall;
}
BENCHMARK(BM_EditorAtRest)
    ->ArgNames({"w", "h", "every_pass", "plugin"})
    ->Args({510, 220, 0, 0})
    ->Args({955, 385, 0, 0})
    ->Args({955, 385, 1, 0})
    ->Args({510, 220, 0, 1})
    ->Args({955, 385, 0, 1})
    ->Args({955, 385, 1, 1})
    ->Args({0, 0, 0, 0})
    ->Args({0, 0, 1, 0})
    ->Args({0, 0, 0, 2})
    ->Args({0, 0, 1, 2})
    ->Args({0, 0, 0, 3})
    ->Args({0, 0, 1, 3})
    ->Iterations(30)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
