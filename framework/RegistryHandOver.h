// The registry's hand-over: work that needs the registry lock or may
// allocate (telling the parameter listeners, learning and applying learned
// controller mappings) is queued by the thread that asks for it and done by
// one serving thread, in the order it was queued. A host may run audio on
// any number of threads and set parameters on them between blocks, and no
// thread says what it is: so every thread but the serving one hands over,
// and no audio thread ever waits for the registry.
//
// Post: any thread, the audio thread included; several threads at once (each
// instance's audio may run on a thread of its own). It never allocates,
// never takes a lock and never waits: one slot claimed with a compare-and-
// swap, plus waking the serving thread. A full ring drops the item and counts
// it; the serving thread logs the count.
//
// Start and Stop: host threads, serialised here; never the audio thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <pthread.h>

#include "platform/Event.h"
#include "platform/WorkerThread.h"

class ObryAuBase;

namespace InstanceRegistry {

struct HandOverItem {
    enum Kind : uint8_t { kParameterChanged, kControlChange };
    Kind kind = kParameterChanged;
    bool learnArmed = false; // kControlChange: learning was armed when it arrived
    uint8_t channel = 0;     // kControlChange
    uint8_t controller = 0;  // kControlChange
    uint8_t value = 0;       // kControlChange
    ObryAuBase* instance = nullptr; // the changed instance, or the receiving one
    int32_t index = 0;              // kParameterChanged
    float realValue = 0.0f;         // kParameterChanged
};

class RegistryHandOver {
public:
    static constexpr uint32_t kSize = 1024; // a power of two
    using Serve = void (*)(const HandOverItem&);

    explicit RegistryHandOver(Serve serve);
    ~RegistryHandOver(); // Stop()
    RegistryHandOver(const RegistryHandOver&) = delete;
    RegistryHandOver& operator=(const RegistryHandOver&) = delete;

    // Starts the serving thread unless it runs. False when it cannot start.
    bool Start();
    // Serves what is queued, then stops the thread. False when the thread
    // did not stop in time (it is left running; the owner must then keep
    // what it serves alive).
    bool Stop();

    bool Post(const HandOverItem& item) noexcept;
    // Whether nothing is queued (a hint: may change at once).
    bool Empty() const noexcept;
    // Until every item posted before the call has been served (at once when
    // the thread does not run). Not on the audio thread, and not with the
    // registry lock held: serving takes it.
    void WaitUntilServed();
    uint32_t DroppedCount() const noexcept { return dropped.load(std::memory_order_acquire); }
    // Whether the caller is the serving thread (then inside serve); any
    // thread, lock-free.
    bool OnServingThread() const noexcept;

private:
    struct Cell {
        std::atomic<uint32_t> sequence;
        HandOverItem item;
    };

    bool Take(HandOverItem& item) noexcept; // the serving thread only
    void Main(corvane::platform::Event& quit);

    Serve serve;
    Cell cells[kSize];
    std::atomic<uint32_t> writePosition{0};
    std::atomic<uint32_t> readPosition{0};
    std::atomic<uint32_t> dropped{0};
    uint32_t droppedLogged = 0; // the serving thread only
    std::atomic<pthread_t> servingThread{}; // while it runs; no thread has the zero id
    std::mutex servedLock;
    std::condition_variable servedChanged;
    uint32_t served = 0; // items served, under servedLock
    corvane::platform::Event wake;
    std::mutex control; // Start and Stop
    corvane::platform::WorkerThread thread{"Registry hand-over"};
};

} // namespace InstanceRegistry
