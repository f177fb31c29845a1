#include "platform/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using corvane::platform::Event;
using corvane::platform::kWaitForever;
using corvane::platform::WaitAny;

namespace {
// Long enough never to pass in a correct run; a lost wake-up fails the test
// instead of hanging it.
constexpr int64_t kSafetyTimeoutMs = 20000;
} // namespace

TEST(Event, AutoResetAndSignalsDoNotCount)
{
    Event event;
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(event.Wait(5));
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(Event, WaitAnyConsumesTheLowestSignalledIndexOnly)
{
    Event events[4];
    Event* list[5] = {&events[0], &events[1], nullptr, &events[2], &events[3]};
    EXPECT_EQ(WaitAny(list, 5, 0), -1);
    events[3].Set();
    events[1].Set();
    events[2].Set();
    EXPECT_EQ(WaitAny(list, 5, 10), 1);
    EXPECT_EQ(WaitAny(list, 5, 10), 3);
    EXPECT_EQ(WaitAny(list, 5, 10), 4);
    EXPECT_EQ(WaitAny(list, 5, 10), -1);
    EXPECT_EQ(WaitAny(list, 0, kWaitForever), -1);
    EXPECT_EQ(WaitAny(nullptr, 3, kWaitForever), -1);
    // More events than the inline bookkeeping holds.
    std::vector<Event> many(40);
    std::vector<Event*> manyList;
    for (Event& e : many)
        manyList.push_back(&e);
    many[33].Set();
    many[37].Set();
    EXPECT_EQ(WaitAny(manyList.data(), manyList.size(), 10), 33);
    EXPECT_EQ(WaitAny(manyList.data(), manyList.size(), kWaitForever), 37);
}

TEST(Event, SetWakesASleepingWaiterOfAnyEventInTheSet)
{
    // Ping-pong: every round the waiter sleeps without time-out on two
    // events and the other thread sets one of them. A lost wake-up leaves the
    // waiter asleep with the event set; the test then fails (and frees the
    // waiter by setting the quit event afresh) instead of hanging.
    Event quit, data, answer;
    constexpr int kRounds = 2000;
    std::atomic<int> answered{0};
    std::thread waiter([&] {
        Event* list[2] = {&quit, &data};
        while (WaitAny(list, 2, kWaitForever) == 1) {
            answered.fetch_add(1);
            answer.Set();
        }
    });
    int round = 0;
    for (; round < kRounds; ++round) {
        data.Set();
        if (!answer.Wait(kSafetyTimeoutMs))
            break;
    }
    EXPECT_EQ(round, kRounds);
    quit.Reset();
    quit.Set();
    waiter.join();
}

TEST(Event, ProducerAndConsumerLoseNoWakeUp)
{
    // The sender-thread pattern: publish, then Set(); the consumer sleeps
    // without time-out and drains everything published after each wake-up.
    Event data, consumerDone;
    std::atomic<int> published{0};
    std::atomic<bool> stop{false};
    constexpr int kItems = 100000;
    std::atomic<int> seen{0};
    std::thread consumer([&] {
        while (seen.load() < kItems && !stop.load()) {
            data.Wait(kWaitForever);
            seen.store(published.load(std::memory_order_acquire));
        }
        consumerDone.Set();
    });
    for (int i = 1; i <= kItems; ++i) {
        published.store(i, std::memory_order_release);
        data.Set();
    }
    bool done = consumerDone.Wait(kSafetyTimeoutMs);
    EXPECT_TRUE(done) << "consumer asleep after " << seen.load() << " items";
    if (!done) {
        stop.store(true);
        data.Reset();
        data.Set();
    }
    consumer.join();
    EXPECT_EQ(seen.load(), kItems);
}

TEST(Event, ManyWaitersOnOneEventEachTakeOneSignal)
{
    // More waiters than an event has wake-up slots: the extra ones poll.
    constexpr int kWaiters = 7;
    Event event;
    std::atomic<int> woken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kWaiters; ++i)
        threads.emplace_back([&] {
            if (event.Wait(kSafetyTimeoutMs))
                woken.fetch_add(1);
        });
    for (int i = 0; i < kWaiters; ++i) {
        event.Set();
        // Each signal wakes exactly one waiter before the next is given.
        while (woken.load() == i)
            std::this_thread::yield();
        EXPECT_EQ(woken.load(), i + 1);
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(woken.load(), kWaiters);
    EXPECT_FALSE(event.Wait(0));
}
