// The plug-in base's close: every thread of the instance (the editor's
// render thread, the Lua hand-over and timers, the OSC server, the senders)
// is asked to end at once and waited for within one budget; an instance that
// a script blocked in a call keeps is freed, once that call has returned, by
// one thread of the module's own that serves every such instance.
#include "plugins/base/ObryCorvaneBase.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "gui/editor/CarbonVSTEditor.h"
#include "platform/Debug.h"

namespace {

// Closed instances waiting for a thread of theirs to end, and the thread
// that frees them: it runs while there are any, and keeps the module mapped
// until it has ended (a host may unload the module meanwhile).
struct KeptList {
    std::mutex lock;
    std::vector<ObryCorvaneBase*> waiting; // guarded by lock
    bool freeing = false;                   // the freeing thread runs; guarded by lock
    std::atomic<int> count{0};
};

KeptList& Kept()
{
    static KeptList kept;
    return kept;
}

} // namespace

// The host's UI thread (or the thread that frees a closed plug-in), which
// holds no Lua lock: stopping the timers waits for a callback in progress,
// which may be waiting for that lock.
void ObryCorvaneBase::Cleanup()
{
    // A close asked every thread to end as it began; here each is waited for
    // in turn, with what is left of one budget. The OSC server first: unless
    // a script holds its thread, it has ended by now, and its port is free
    // when the close returns, even when a blocked timer then takes the rest
    // of the budget. Outside a close DestroyTask asks it to end itself.
    NoteStop(oscHelper.DestroyTask(StopTimeLeft()));
    NoteStop(luaMIDIHelper.StopTimers(StopTimeLeft()));
}

std::chrono::milliseconds ObryCorvaneBase::StopTimeLeft() const
{
    return closeBudget ? closeBudget->Left() : corvane::platform::WorkerThread::kDefaultStopTimeout;
}

bool ObryCorvaneBase::StopThreads(std::chrono::milliseconds limit)
{
    closeBudget.emplace(limit);
    threadsLeftRunning = false;
    // The editor first: its render thread reads this instance.
    if (auto* view = dynamic_cast<QZ::CarbonVSTEditor*>(editor)) {
        NoteStop(view->Close(StopTimeLeft()));
        NoteStop(view->ReleaseStranded(StopTimeLeft()));
    } else if (editor) {
        editor->close();
    }
    Cleanup();
    closeBudget.reset();
    return !threadsLeftRunning;
}

void ObryCorvaneBase::close()
{
    // The host's UI thread is frozen while this runs. Every thread is asked
    // to end at once, the editor's included (a host may close the plug-in
    // with its editor still open), so that they end side by side; then one
    // budget for the waits for all of them.
    if (auto* view = dynamic_cast<QZ::CarbonVSTEditor*>(editor))
        view->RequestClose();
    luaMIDIHelper.RequestStop();
    oscHelper.RequestStop();
    InstanceRegistry::MarkUnusable(this);
    bool stopped = StopThreads(closeBudgetLength);
    // Threads that are not held by a script are only slow (a busy machine):
    // they end soon and are waited for. A script blocked inside a C call (a
    // FIFO, a program, a name lookup) keeps its thread, which comes back into
    // this instance: it stays until then.
    const bool scriptBlocked = !stopped && luaMIDIHelper.ScriptCallRunning();
    if (!stopped && !scriptBlocked)
        stopped = StopThreads(corvane::platform::WorkerThread::kDefaultStopTimeout);
    keptAfterClose = !stopped;
    if (!keptAfterClose)
        return;
    corvane::DebugPrintf(scriptBlocked ? "effClose: a script of the plug-in is blocked in a call; the plug-in is "
                                         "freed when the call returns\n"
                                       : "effClose: a thread of the plug-in did not stop in time; the plug-in is "
                                         "freed when it ends\n");
    // A kept instance is no longer found through the registry, hands it no
    // more work (a script that comes back and sets a parameter), and what is
    // freed later touches the registry no more.
    InstanceRegistry::Unregister(this);
    leftRegistry = true;
}

void ObryCorvaneBase::ReleaseAfterClose()
{
    ForgetHost();
    if (!keptAfterClose) {
        delete this;
        return;
    }
    KeptList& kept = Kept();
    std::lock_guard<std::mutex> hold(kept.lock);
    kept.waiting.push_back(this);
    kept.count.fetch_add(1, std::memory_order_acq_rel);
    if (kept.freeing)
        return;
    const int error = corvane::platform::RunDetached("Corvane release", FreeKeptInstances);
    if (error != 0)
        corvane::DebugPrintf("effClose: no thread to free kept plug-ins (%d); they stay in memory\n", error);
    else
        kept.freeing = true;
}

// The freeing thread: whenever a thread of the module has ended, each kept
// instance whose threads have all ended now is deleted.
void ObryCorvaneBase::FreeKeptInstances()
{
    KeptList& kept = Kept();
    for (;;) {
        std::vector<ObryCorvaneBase*> ended;
        {
            std::lock_guard<std::mutex> hold(kept.lock);
            for (ObryCorvaneBase* instance : kept.waiting)
                if (instance->StopThreads(std::chrono::milliseconds(0)))
                    ended.push_back(instance);
            std::erase_if(kept.waiting, [&](ObryCorvaneBase* instance) {
                return std::find(ended.begin(), ended.end(), instance) != ended.end();
            });
            if (ended.empty() && kept.waiting.empty()) {
                kept.freeing = false;
                return;
            }
        }
        for (ObryCorvaneBase* instance : ended) {
            delete instance;
            kept.count.fetch_sub(1, std::memory_order_acq_rel);
        }
        // The threads end when the calls that hold them return; the wait is
        // bounded only so that nothing depends on every end being told.
        if (ended.empty())
            corvane::platform::WorkerThreadEnded().Wait(1000);
    }
}

int ObryCorvaneBase::KeptInstances()
{
    return Kept().count.load(std::memory_order_acquire);
}
