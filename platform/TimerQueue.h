// A timer queue: one-shot and periodic timers served by one timer thread per
// queue, started with the first timer. Deadlines are kept on the monotonic
// clock, so changes of the wall clock do not move them.
//
// Timers are named by 64-bit ids from a process-wide serial counter: an id is
// never reused, so cancelling a timer that has ended can never hit a newer
// one. Callbacks run on the queue's thread, one at a time, without the
// queue's lock held: a callback may add, change and cancel timers of its own
// queue, its own included. Intervals are clamped to 0 .. 2^31 - 1 ms.
//
// All member functions are thread-safe; none may be called on the audio
// thread (they take the queue's lock and allocate).
#pragma once

#include <chrono>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::platform {

class TimerQueue {
public:
    using TimerId = uint64_t; // 0 is never a timer
    using Callback = std::function<void(TimerId)>;
    static constexpr int64_t kMaxIntervalMs = INT32_MAX;

    // name: for diagnostics and the thread's system name.
    explicit TimerQueue(std::string name = "timer queue");
    // Shutdown().
    ~TimerQueue();
    TimerQueue(const TimerQueue&) = delete;
    TimerQueue& operator=(const TimerQueue&) = delete;

    // A timer that first fires dueMs from now and then every periodMs
    // (0: once). Returns 0 when the queue is shut down, the callback is
    // empty or the timer thread cannot be started.
    TimerId Add(int64_t dueMs, int64_t periodMs, Callback callback);

    // Re-arms a pending timer: next firing dueMs from now, then every
    // periodMs. False when the timer has ended or was cancelled.
    bool Change(TimerId id, int64_t dueMs, int64_t periodMs);

    // Ends the timer; it will not fire again. A callback already running
    // goes on. True when the timer was still pending.
    bool Cancel(TimerId id);

    // Cancel() and then waits until a running callback of this timer has
    // returned - unless called on this queue's own thread (from a callback),
    // where waiting would never end. Calls from callbacks of two queues that
    // wait for each other's timers deadlock; don't.
    bool CancelAndWait(TimerId id);

    // Ends all timers, waits for a running callback and stops the thread.
    // Afterwards Add() fails. From a callback of this queue it cannot wait;
    // the thread then ends after that callback, and destroying the queue
    // there is safe. With a time limit, a callback still running when it
    // runs out is left running: false then, and what that callback uses is
    // the caller's to keep alive; a later Shutdown waits for it again, and
    // destroying the queue instead leaves it to end on its own (the thread is
    // detached and keeps the queue's shared state).
    bool Shutdown(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

    // Timers not yet ended or cancelled (for diagnostics and tests).
    size_t PendingCount() const;

private:
    struct State;
    static void Run(std::shared_ptr<State> state);

    std::string name;
    std::shared_ptr<State> state;
    std::mutex shutdownLock; // serialises Shutdown() calls
    std::thread thread;      // written under state->lock, joined under shutdownLock
    bool callbackLeftRunning = false; // the last Shutdown timed out (under shutdownLock)
};

} // namespace corvane::platform
