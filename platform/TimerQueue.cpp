#include "platform/TimerQueue.h"

#include "platform/Debug.h"
#include "platform/WorkerThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <pthread.h>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace corvane::platform {

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<uint64_t> nextTimerId{1};

int64_t ClampInterval(int64_t ms)
{
    return std::clamp<int64_t>(ms, 0, TimerQueue::kMaxIntervalMs);
}

} // namespace

struct TimerQueue::State {
    struct Timer {
        std::shared_ptr<Callback> callback;
        int64_t periodMs = 0;
        uint64_t generation = 0; // bumped by Change(); older heap entries are stale
    };
    struct Entry {
        Clock::time_point due;
        uint64_t order; // first added fires first among equal deadlines
        TimerId id;
        uint64_t generation;
    };
    // std::push_heap keeps the greatest first; "greater" puts the earliest there.
    static bool Later(const Entry& a, const Entry& b)
    {
        return a.due != b.due ? a.due > b.due : a.order > b.order;
    }

    mutable std::mutex lock;
    std::condition_variable wake;         // new earliest deadline, or stop
    std::condition_variable callbackDone; // runningId changed
    std::unordered_map<TimerId, Timer> timers;
    std::vector<Entry> heap; // may hold stale entries of cancelled or changed timers
    uint64_t nextOrder = 0;
    TimerId runningId = 0;
    std::thread::id threadId;
    bool started = false;
    bool stopping = false;
    bool finished = false; // the thread has left Run

    void PushLocked(TimerId id, const Timer& timer, Clock::time_point due)
    {
        heap.push_back(Entry{due, nextOrder++, id, timer.generation});
        std::push_heap(heap.begin(), heap.end(), Later);
    }

    bool IsCurrentLocked(const Entry& entry) const
    {
        auto it = timers.find(entry.id);
        return it != timers.end() && it->second.generation == entry.generation;
    }

    // Stale entries otherwise stay until their deadline, which may be weeks
    // away; a script that keeps adding and cancelling long timers would grow
    // the heap without bound.
    void CompactLocked()
    {
        if (heap.size() <= 2 * timers.size() + 64)
            return;
        heap.erase(std::remove_if(heap.begin(), heap.end(), [this](const Entry& e) { return !IsCurrentLocked(e); }),
                   heap.end());
        std::make_heap(heap.begin(), heap.end(), Later);
    }
};

TimerQueue::TimerQueue(std::string name) : name(std::move(name)), state(std::make_shared<State>()) {}

TimerQueue::~TimerQueue()
{
    // A callback a limited shutdown left running is left to end on its own;
    // it keeps the shared state.
    if (callbackLeftRunning) {
        std::lock_guard<std::mutex> serial(shutdownLock);
        bool finished;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            finished = state->finished;
        }
        if (finished) {
            thread.join();
        } else {
            DebugPrintf("%s: a timer callback did not end in time; it is left running\n", name.c_str());
            thread.detach();
        }
        return;
    }
    Shutdown();
}

TimerQueue::TimerId TimerQueue::Add(int64_t dueMs, int64_t periodMs, Callback callback)
{
    if (!callback)
        return 0;
    auto shared = std::make_shared<Callback>(std::move(callback));
    std::unique_lock<std::mutex> guard(state->lock);
    if (state->stopping)
        return 0;
    if (!state->started) {
        try {
            thread = std::thread(Run, state);
        } catch (const std::system_error& e) {
            guard.unlock();
            DebugPrintf("%s: failed to create timer thread: %d\n", name.c_str(), e.code().value());
            return 0;
        }
        state->threadId = thread.get_id();
        state->started = true;
    }
    TimerId id = nextTimerId.fetch_add(1, std::memory_order_relaxed);
    State::Timer& timer = state->timers[id];
    timer.callback = std::move(shared);
    timer.periodMs = ClampInterval(periodMs);
    state->PushLocked(id, timer, Clock::now() + std::chrono::milliseconds(ClampInterval(dueMs)));
    state->wake.notify_one();
    return id;
}

bool TimerQueue::Change(TimerId id, int64_t dueMs, int64_t periodMs)
{
    std::lock_guard<std::mutex> guard(state->lock);
    auto it = state->timers.find(id);
    if (it == state->timers.end())
        return false;
    it->second.periodMs = ClampInterval(periodMs);
    ++it->second.generation;
    state->PushLocked(id, it->second, Clock::now() + std::chrono::milliseconds(ClampInterval(dueMs)));
    state->CompactLocked();
    state->wake.notify_one();
    return true;
}

bool TimerQueue::Cancel(TimerId id)
{
    std::shared_ptr<Callback> callback; // destroyed after the lock is left
    std::lock_guard<std::mutex> guard(state->lock);
    auto it = state->timers.find(id);
    if (it == state->timers.end())
        return false;
    callback = std::move(it->second.callback);
    state->timers.erase(it);
    state->CompactLocked();
    return true;
}

bool TimerQueue::CancelAndWait(TimerId id)
{
    bool pending = Cancel(id);
    std::unique_lock<std::mutex> guard(state->lock);
    if (std::this_thread::get_id() != state->threadId)
        state->callbackDone.wait(guard, [&] { return state->runningId != id; });
    return pending;
}

bool TimerQueue::Shutdown(std::chrono::milliseconds limit)
{
    std::lock_guard<std::mutex> serial(shutdownLock);
    std::unordered_map<TimerId, State::Timer> ended;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->stopping = true;
        ended.swap(state->timers);
        state->heap.clear();
        state->wake.notify_all();
    }
    ended.clear(); // callbacks' captures go outside the lock
    if (!thread.joinable())
        return true;
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach(); // the thread holds the state and ends after this callback
        return true;
    }
    if (limit != std::chrono::milliseconds::max()) {
        std::unique_lock<std::mutex> guard(state->lock);
        if (!state->callbackDone.wait_for(guard, limit, [this] { return state->finished; })) {
            callbackLeftRunning = true;
            return false;
        }
    }
    thread.join();
    callbackLeftRunning = false;
    return true;
}

size_t TimerQueue::PendingCount() const
{
    std::lock_guard<std::mutex> guard(state->lock);
    return state->timers.size();
}

// timer thread
void TimerQueue::Run(std::shared_ptr<State> state)
{
    pthread_setname_np(pthread_self(), "corvane timer");
    std::unique_lock<std::mutex> guard(state->lock);
    while (!state->stopping) {
        if (state->heap.empty()) {
            state->wake.wait(guard);
            continue;
        }
        State::Entry next = state->heap.front();
        if (!state->IsCurrentLocked(next)) {
            std::pop_heap(state->heap.begin(), state->heap.end(), State::Later);
            state->heap.pop_back();
            continue;
        }
        Clock::time_point now = Clock::now();
        if (now < next.due) {
            state->wake.wait_until(guard, next.due);
            continue;
        }
        std::pop_heap(state->heap.begin(), state->heap.end(), State::Later);
        state->heap.pop_back();

        auto it = state->timers.find(next.id);
        std::shared_ptr<Callback> callback = it->second.callback;
        const int64_t periodMs = it->second.periodMs;
        if (periodMs == 0)
            state->timers.erase(it);
        state->runningId = next.id;
        guard.unlock();

        try {
            (*callback)(next.id);
        } catch (const std::exception& e) {
            DebugPrintf("timer callback ended by exception: %s\n", e.what());
        } catch (...) {
            DebugPrintf("timer callback ended by exception\n");
        }
        callback.reset();

        guard.lock();
        state->runningId = 0;
        state->callbackDone.notify_all();
        if (periodMs > 0 && !state->stopping) {
            // Still the same arming (not cancelled or changed by the callback):
            // next deadline one period on; after an overrun, one period from now.
            auto again = state->timers.find(next.id);
            if (again != state->timers.end() && again->second.generation == next.generation) {
                Clock::time_point due = next.due + std::chrono::milliseconds(periodMs);
                now = Clock::now();
                if (due <= now)
                    due = now + std::chrono::milliseconds(periodMs);
                state->PushLocked(next.id, again->second, due);
            }
        }
    }
    state->finished = true;
    state->callbackDone.notify_all();
    guard.unlock();
    WorkerThreadEnded().Set();
}

} // namespace corvane::platform

