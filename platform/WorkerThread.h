// A worker thread with a quit event, stopped the one way every worker of the
// module is stopped: set the quit event and wait for the thread to finish, at
// most for a given time. A thread is never killed (it may hold a lock others
// need): one that has not finished when the time is up is left running, and
// a later Stop waits for it again. Anything its body uses is the owner's to
// keep alive meanwhile. Destroying a worker whose thread still runs (after a
// stop that timed out, or after waiting the usual stop time) logs "thread did
// not stop in time" and leaves the thread running, detached, with its quit
// event (shared with it); the owner must then leak what the body still uses.
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

// Runs `body` once on a new detached thread that keeps the module's code
// mapped until it has ended, even when the host unloads the module
// meanwhile: the thread holds a pin for the body's run and lets go of it only
// where no code of the module runs after it. Returns 0 or the error code of
// the failed thread creation (the body then does not run).
int RunDetached(std::string name, std::function<void()> body);

// Set whenever a thread of a WorkerThread or of a TimerQueue ends (any
// thread may wait on it: a wait that began before an end returns).
Event& WorkerThreadEnded();

// A wait without a time limit, for Stop and the stops built on it.
constexpr std::chrono::milliseconds kNoTimeLimit = std::chrono::milliseconds::max();

// A time budget shared by several stops in turn: each waits for what the
// ones before it left.
class StopBudget {
public:
    explicit StopBudget(std::chrono::milliseconds budget)
        : unlimited(budget == kNoTimeLimit),
          end(unlimited ? std::chrono::steady_clock::time_point{} : std::chrono::steady_clock::now() + budget)
    {
    }
    // What is left, never below 0; kNoTimeLimit for an unlimited budget.
    std::chrono::milliseconds Left() const
    {
        if (unlimited)
            return kNoTimeLimit;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        return left.count() > 0 ? left : std::chrono::milliseconds(0);
    }

private:
    bool unlimited;
    std::chrono::steady_clock::time_point end;
};

class WorkerThread {
public:
    using Body = std::function<void(Event& quit)>;
    static constexpr std::chrono::milliseconds kDefaultStopTimeout{5000};

    // name: for diagnostics and the thread's system name (first 15 bytes).
    explicit WorkerThread(std::string name);
    ~WorkerThread(); // Stop(kDefaultStopTimeout), then leaves a stuck thread running (see above)
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs body(quit) on a new thread. Returns 0, EBUSY when a thread is
    // already running (also one a stop left running), or the error code of
    // the failed thread creation. An exception escaping the body is logged
    // and ends the thread.
    int Start(Body body);

    // Sets the quit event without waiting.
    void RequestStop();
    // Sets the quit event and waits at most `limit` (0: only a thread that
    // has already finished is joined; kNoTimeLimit: no limit). True when the
    // thread has finished and was joined (or none was running); false when
    // it is still running. From the worker thread itself it only sets the
    // quit event and lets the thread end on its own (detached).
    bool Stop(std::chrono::milliseconds limit = kDefaultStopTimeout);

    bool IsRunning() const { return thread.joinable(); }
    // The running thread's quit event; null when none runs.
    Event* QuitEvent() const;
    const std::string& Name() const { return name; }

private:
    struct Shared;

    std::string name;
    std::shared_ptr<Shared> shared;
    std::thread thread;
    bool stopTimedOut = false; // the last Stop left the thread running
};

} // namespace corvane::platform
