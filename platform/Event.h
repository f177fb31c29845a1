// Auto-reset event: a signal that wakes one wait and is consumed by it.
// Setting an event that is already set changes nothing (signals do not
// count up), as with the events our worker threads have always waited on.
//
// Set() may be called from any thread, the audio thread included: it is one
// atomic exchange, plus one futex wake-up system call when a thread is
// sleeping on the event; it never takes a lock and never waits. Waiting
// threads register themselves with the events they wait on, so a Set()
// cannot fall between a waiter's last look and its sleep.
//
// Wait and WaitAny: any thread but the audio thread. An event must outlive
// every call that uses it; a waiter may destroy the event as soon as its wait
// returned, though: the destructor lets a Set() that is still on its way out
// finish first.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvane::platform {

// Time-out value that waits without limit.
constexpr int64_t kWaitForever = -1;

namespace detail {
struct EventWaiter;
}

class Event {
public:
    Event() = default;
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() noexcept;
    // Drops a pending signal without waiting.
    void Reset() noexcept;
    // True when signalled within timeoutMs (0 polls, negative waits without
    // limit); the signal is consumed.
    bool Wait(int64_t timeoutMs);

private:
    friend int WaitAny(Event* const events[], size_t count, int64_t timeoutMs);

    bool TryConsume() noexcept;

    // Threads that wait on one event at the same time; more than this still
    // work, but poll in short sleeps instead of being woken.
    static constexpr int kWaiterSlots = 4;

    std::atomic<uint32_t> signalled{0};
    std::atomic<uint32_t> activeSetters{0}; // Set() calls still touching this event
    std::atomic<detail::EventWaiter*> waiters[kWaiterSlots] = {};
};

// Waits until one of the events is signalled and consumes that one signal
// only. Returns the lowest index of a signalled event, or -1 when timeoutMs
// passes first (0 polls, negative waits without limit) or when there are no
// events. Null entries are ignored.
int WaitAny(Event* const events[], size_t count, int64_t timeoutMs);

} // namespace corvane::platform
