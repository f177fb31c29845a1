// The registry's hand-over: work that needs the registry lock or may
// allocate (telling the parameter listeners, learning and applying learned
// controller mappings) is left in the asking instance's mailbox by the
// thread that asks for it, and done by a serving thread. A host may run
// audio on any number of threads and set parameters on them between blocks,
// and no thread says what it is: so every thread but the serving one hands
// over, and no audio thread ever waits for the registry.
//
// A mailbox keeps, for one registered instance, the latest value of each of
// its parameters and of each (channel, controller) it received, with a flag
// per key that says it changed since it was served. Nothing handed over is
// lost, however many threads post however fast: changes of one key that come
// faster than they are served merge into the latest, which always arrives;
// a control change that came while learning was armed is learned even when
// later changes of its controller merge with it. A mailbox's memory is fixed
// when it opens. A mailbox with news is listed once for the serving thread,
// which serves the listed mailboxes oldest first, each key once.
//
// Post...: any thread, the audio thread included, several at once. They
// never allocate, never take a lock and never wait: a few atomic
// operations, plus waking the serving thread when the mailbox was not
// listed yet.
//
// A round takes the whole pending list and serves each mailbox with the
// registry lock (the lock function given) held, taken again for each one.
// Open and Close run with the lock held; a mailbox a round still holds is
// only marked closed, and the round deletes it unserved. Any number of
// threads may serve (a thread left running by a stop that timed out beside
// the next one started): a mailbox is in one round's hands at a time, and
// the lock lets one mailbox be served at a time.
//
// Start, Stop: host threads, serialised here; never the audio thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <pthread.h>

#include "platform/Event.h"
#include "platform/WorkerThread.h"

class ObryAuBase;

namespace InstanceRegistry {

class Mailbox {
public:
    static constexpr int32_t kControllers = 16 * 128; // channel x controller number

    Mailbox(ObryAuBase* instance, int32_t parameterCount);
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    ObryAuBase* Instance() const { return instance; }

private:
    friend class RegistryHandOver;

    // A set of changed keys, one bit each.
    struct Flags {
        explicit Flags(int32_t keys);
        void Set(int32_t key) noexcept;
        uint64_t TakeWord(int32_t word) noexcept { return words[word].exchange(0, std::memory_order_seq_cst); }
        int32_t wordCount;
        std::unique_ptr<std::atomic<uint64_t>[]> words;
    };

    ObryAuBase* const instance; // not owned
    const int32_t parameterCount;
    std::unique_ptr<std::atomic<float>[]> parameterValues;
    Flags changedParameters;
    std::atomic<uint8_t> controllerValues[kControllers] = {};
    Flags changedControllers{kControllers};
    Flags learnControllers{kControllers};
    std::atomic<bool> listed{false}; // in the pending list, or about to be
    bool closed = false;             // under the registry lock
    Mailbox* next = nullptr;         // the pending list's link
};

class RegistryHandOver {
public:
    // What serving a mailbox does with each changed key, with the registry
    // lock held.
    struct Serve {
        void (*parameterChanged)(ObryAuBase* instance, int32_t index, float value);
        void (*controlChange)(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool learn);
    };
    using LockFunction = std::recursive_mutex& (*)();

    RegistryHandOver(LockFunction lock, Serve serve);
    ~RegistryHandOver(); // Stop()
    RegistryHandOver(const RegistryHandOver&) = delete;
    RegistryHandOver& operator=(const RegistryHandOver&) = delete;

    // With the registry lock held, on a thread that may allocate: a mailbox
    // for `instance` and its parameters; the hand-over owns it. Close: the
    // mailbox and what is still in it go (the news of an instance that
    // leaves reach no one, and no later instance at the same address).
    Mailbox* Open(ObryAuBase* instance, int32_t parameterCount);
    void Close(Mailbox* mailbox);

    // Any thread (see above). An index outside the mailbox's parameters is
    // ignored; channel and controller are taken modulo 16 and 128.
    void PostParameter(Mailbox& mailbox, int32_t index, float value) noexcept;
    void PostControlChange(Mailbox& mailbox, uint8_t channel, uint8_t controller, uint8_t value,
                           bool learn) noexcept;

    // Starts the serving thread unless it runs. A thread that a stop left
    // running (it serves what is listed, then ends) is set aside and a new
    // one serves beside it. False when it cannot start.
    bool Start();
    // Serves what is listed, then stops the thread, waiting at most `limit`.
    // False when a serving thread still runs (this one, or one left by an
    // earlier stop): the owner must then keep the hand-over alive.
    bool Stop(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);

    // Whether the caller is serving a mailbox now (then inside a Serve
    // function, with the lock held); any thread, lock-free.
    bool OnServingThread() const noexcept;

    // For tests only. WaitUntilServed: until everything posted before the
    // call has been served, by the serving thread or, when none runs, in
    // place; not on the audio thread, not with the registry lock held.
    // Empty: whether no mailbox is listed (a hint: may change at once).
    void WaitUntilServed();
    bool Empty() const noexcept;

private:
    // One round: takes the pending list and serves it, oldest first. False
    // when nothing was listed. Counted: the same, kept in the tickets.
    bool ServeRound();
    bool ServeCountedRound();
    void ServeMailboxLocked(Mailbox& mailbox);
    void List(Mailbox& mailbox) noexcept;
    void Main(corvane::platform::Event& quit);

    LockFunction lock;
    Serve serve;
    std::atomic<Mailbox*> pending{nullptr}; // newest first
    std::atomic<pthread_t> serving{};       // the thread serving a mailbox, under the lock; no thread has the zero id
    std::atomic<int32_t> threadsAlive{0};   // serving threads started and not yet ended
    // WaitUntilServed's tickets, under roundsLock.
    std::mutex roundsLock;
    std::condition_variable roundDone;
    uint64_t ticketsDrawn = 0;
    uint64_t ticketsOfEndedRounds = 0; // the tickets drawn when the rounds ended so far began
    uint64_t ticketsServed = 0;
    int32_t roundsRunning = 0;
    corvane::platform::Event wake;
    std::mutex control; // Start and Stop; guards what follows
    std::unique_ptr<corvane::platform::WorkerThread> thread = MakeThread();
    bool stopTimedOut = false; // the last stop left `thread` running
    // Threads left running by stops that timed out, until they have ended.
    std::vector<std::unique_ptr<corvane::platform::WorkerThread>> setAside;
    static std::unique_ptr<corvane::platform::WorkerThread> MakeThread();
    void JoinEndedLocked();
};

} // namespace InstanceRegistry
