// A worker thread with a quit event, stopped the one way every worker of the
// module is stopped: set the quit event, wait up to 5000 ms for the thread to
// finish, and when it has not, log "thread did not stop in time" and leave it
// running, detached. A thread is never killed: it may hold a lock others
// need. A thread left running keeps its quit event (shared with it), but
// anything else its body uses is the owner's to keep alive: when Stop()
// returns false the owner must leak what the body still uses.
//
// Start, Stop and the destructor: one controlling thread at a time (the
// owner's), never the audio thread. The body runs on the new thread.
#pragma once

#include "platform/Event.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace corvane::platform {

// Keeps the module's code mapped while threads of it run: a host may unload
// the module with instances still open, and a thread woken (or still
// starting, or left running by a stop that timed out) after the unmap would
// run into nothing. A handle for dlclose once they have ended; null when the
// code is not in a loaded module (linked into a program).
void* PinThisModule();

// A time budget shared by several stops in turn: each waits for what the
// ones before it left.
class StopBudget {
public:
    explicit StopBudget(std::chrono::milliseconds budget) : end(std::chrono::steady_clock::now() + budget) {}
    // What is left, never below 0.
    std::chrono::milliseconds Left() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }

private:
    std::chrono::steady_clock::time_point end;
};

class WorkerThread {
public:
    using Body = std::function<void(Event& quit)>;
    static constexpr std::chrono::milliseconds kDefaultStopTimeout{5000};

    // name: for diagnostics and the thread's system name (first 15 bytes).
    explicit WorkerThread(std::string name);
    ~WorkerThread(); // Stop()
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body(quit) on a new thread. Returns 0, EBUSY when a thread is
    // already running, or the error code of the failed thread creation.
    // An exception escaping the body is logged and ends the thread.
    int Start(Body body);

    // Sets the quit event and waits up to the stop time-out. True when the
    // thread has finished and was joined (or none was running); false when
    // it was left running. From the worker thread itself it only sets the
    // quit event and lets the thread end on its own.
    bool Stop() { return Stop(stopTimeout); }
    // The same, waiting at most `limit` (0: only a thread already ended is
    // joined).
    bool Stop(std::chrono::milliseconds limit);
    void SetStopTimeout(std::chrono::milliseconds timeout) { stopTimeout = timeout; }

    bool IsRunning() const { return thread.joinable(); }
    // The running thread's quit event; null when none runs.
    Event* QuitEvent() const;
    const std::string& Name() const { return name; }

private:
    struct Shared;

    std::string name;
    std::chrono::milliseconds stopTimeout = kDefaultStopTimeout;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

} // namespace corvane::platform
