#include "platform/Event.h"

#include <chrono>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <mutex>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvane::platform {

namespace detail {

// What a sleeping thread waits on: a futex word that a Set() raises to 1.
// Waiters are pooled and never freed, because a Set() that read a waiter's
// address just before the waiter unregistered may still write to it; such a
// late write only causes a spurious wake-up, which every wait loop handles.
struct EventWaiter {
    std::atomic<uint32_t> word{0};
    EventWaiter* nextFree = nullptr;
};

} // namespace detail

namespace {

using detail::EventWaiter;
using Clock = std::chrono::steady_clock;

// Sleep used by a waiter that found no free slot on some event.
constexpr std::chrono::milliseconds kUnregisteredPollInterval{1};

struct WaiterPool {
    std::mutex lock;
    EventWaiter* free = nullptr;
    // At unload: the waiters in use belong to threads that are still
    // waiting (a thread that did not stop in time); those are left alone.
    ~WaiterPool()
    {
        while (EventWaiter* waiter = free) {
            free = waiter->nextFree;
            delete waiter;
        }
    }
};

WaiterPool& Pool()
{
    static WaiterPool pool;
    return pool;
}

EventWaiter* AcquireWaiter()
{
    WaiterPool& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    if (EventWaiter* waiter = pool.free) {
        pool.free = waiter->nextFree;
        return waiter;
    }
    return new EventWaiter;
}

void ReleaseWaiter(EventWaiter* waiter)
{
    WaiterPool& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    waiter->nextFree = pool.free;
    pool.free = waiter;
}

uint32_t* FutexAddress(std::atomic<uint32_t>& word)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while word == 0, at most for the given time (null: no limit).
void FutexSleep(std::atomic<uint32_t>& word, const timespec* timeout)
{
    syscall(SYS_futex, FutexAddress(word), FUTEX_WAIT_PRIVATE, 0u, timeout, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>& word)
{
    syscall(SYS_futex, FutexAddress(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

timespec ToTimespec(Clock::duration duration)
{
    if (duration < Clock::duration::zero())
        duration = Clock::duration::zero();
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
    auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(duration - seconds);
    timespec result;
    result.tv_sec = static_cast<time_t>(seconds.count());
    result.tv_nsec = static_cast<long>(nanoseconds.count());
    return result;
}

} // namespace

Event::~Event()
{
    // A waiter woken by Set() may destroy the event while that Set() still
    // reads the waiter slots; it is a few instructions from done.
    while (activeSetters.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

// any thread, audio thread included: no lock, no wait
void Event::Set() noexcept
{
    activeSetters.fetch_add(1, std::memory_order_seq_cst);
    // Already set: whoever set it first wakes the waiters.
    if (signalled.exchange(1, std::memory_order_seq_cst) == 0) {
        // seq_cst pairs with the waiter's registration followed by its look
        // at the flag: either it sees our 1 or we see its registration.
        for (std::atomic<EventWaiter*>& slot : waiters) {
            EventWaiter* waiter = slot.load(std::memory_order_seq_cst);
            if (waiter && waiter->word.exchange(1, std::memory_order_seq_cst) == 0)
                FutexWake(waiter->word);
        }
    }
    // Last touch of the event.
    activeSetters.fetch_sub(1, std::memory_order_release);
}

void Event::Reset() noexcept
{
    signalled.store(0, std::memory_order_seq_cst);
}

bool Event::TryConsume() noexcept
{
    if (signalled.load(std::memory_order_seq_cst) == 0)
        return false;
    return signalled.exchange(0, std::memory_order_seq_cst) != 0;
}

bool Event::Wait(int64_t timeoutMs)
{
    Event* self = this;
    return WaitAny(&self, 1, timeoutMs) == 0;
}

int WaitAny(Event* const events[], size_t count, int64_t timeoutMs)
{
    if (!events || count == 0 || count > static_cast<size_t>(INT_MAX))
        return -1;
    auto consumeLowest = [&]() -> int {
        for (size_t i = 0; i < count; ++i)
            if (events[i] && events[i]->TryConsume())
                return static_cast<int>(i);
        return -1;
    };
    int hit = consumeLowest();
    if (hit >= 0 || timeoutMs == 0)
        return hit;

    // Beyond 2^31 - 1 ms (24.8 days) a time-out is as good as none, and the
    // deadline arithmetic stays far from overflow.
    if (timeoutMs > INT32_MAX)
        timeoutMs = INT32_MAX;
    const bool limited = timeoutMs > 0;
    const Clock::time_point deadline =
        limited ? Clock::now() + std::chrono::milliseconds(timeoutMs) : Clock::time_point::max();

    // Slot taken in each event, -1 when all its slots were busy.
    constexpr size_t kInlineSlots = 16;
    int inlineSlots[kInlineSlots];
    std::vector<int> spillSlots;
    int* slotOf = inlineSlots;
    if (count > kInlineSlots) {
        spillSlots.resize(count);
        slotOf = spillSlots.data();
    }

    EventWaiter* waiter = AcquireWaiter();
    for (;;) {
        waiter->word.store(0, std::memory_order_seq_cst);
        bool allRegistered = true;
        for (size_t i = 0; i < count; ++i) {
            slotOf[i] = -1;
            if (!events[i])
                continue;
            for (int s = 0; s < Event::kWaiterSlots; ++s) {
                EventWaiter* expected = nullptr;
                if (events[i]->waiters[s].compare_exchange_strong(expected, waiter, std::memory_order_seq_cst)) {
                    slotOf[i] = s;
                    break;
                }
            }
            if (slotOf[i] < 0)
                allRegistered = false;
        }

        hit = consumeLowest();
        bool timedOut = false;
        if (hit < 0) {
            Clock::time_point now = Clock::now();
            if (limited && now >= deadline) {
                timedOut = true;
            } else if (allRegistered && !limited) {
                FutexSleep(waiter->word, nullptr);
            } else {
                Clock::duration sleep = limited ? deadline - now : Clock::duration::max();
                if (!allRegistered && sleep > kUnregisteredPollInterval)
                    sleep = kUnregisteredPollInterval;
                timespec timeout = ToTimespec(sleep);
                FutexSleep(waiter->word, &timeout);
            }
        }

        for (size_t i = 0; i < count; ++i)
            if (slotOf[i] >= 0)
                events[i]->waiters[slotOf[i]].store(nullptr, std::memory_order_seq_cst);

        if (hit >= 0)
            break;
        hit = consumeLowest();
        if (hit >= 0 || timedOut)
            break;
    }
    ReleaseWaiter(waiter);
    return hit;
}

} // namespace corvane::platform
