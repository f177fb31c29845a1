#include "platform/TimerQueue.h"
#include "platform/Event.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

using corvane::platform::Event;
using corvane::platform::TimerQueue;
using TimerId = TimerQueue::TimerId;

namespace {
constexpr int64_t kSafetyTimeoutMs = 20000;

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

TEST(TimerQueue, OneShotFiresOnceAndCancellingItAfterwardsDoesNothing)
{
    TimerQueue queue;
    std::atomic<int> calls{0};
    Event fired;
    TimerId seenId = 0;
    TimerId id = queue.Add(1, 0, [&](TimerId self) {
        seenId = self;
        calls.fetch_add(1);
        fired.Set();
    });
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(fired.Wait(kSafetyTimeoutMs));
    // A later timer on the same thread proves the first had every chance to
    // fire again.
    Event later;
    queue.Add(30, 0, [&](TimerId) { later.Set(); });
    ASSERT_TRUE(later.Wait(kSafetyTimeoutMs));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(seenId, id);
    EXPECT_EQ(queue.PendingCount(), 0u);

    // Cancelling the ended timer does nothing, also to other timers.
    std::atomic<int> otherCalls{0};
    Event otherFired;
    TimerId other = queue.Add(20, 0, [&](TimerId) {
        otherCalls.fetch_add(1);
        otherFired.Set();
    });
    EXPECT_FALSE(queue.Cancel(id));
    EXPECT_FALSE(queue.CancelAndWait(id));
    EXPECT_FALSE(queue.Cancel(0));
    EXPECT_TRUE(otherFired.Wait(kSafetyTimeoutMs));
    EXPECT_EQ(otherCalls.load(), 1);
    EXPECT_FALSE(queue.Cancel(other));
}

TEST(TimerQueue, PeriodicRepeatsUntilCancelled)
{
    TimerQueue queue;
    std::atomic<int> calls{0};
    Event fifth;
    TimerId id = queue.Add(1, 1, [&](TimerId) {
        if (calls.fetch_add(1) + 1 == 5)
            fifth.Set();
    });
    ASSERT_TRUE(fifth.Wait(kSafetyTimeoutMs));
    EXPECT_TRUE(queue.CancelAndWait(id));
    int atCancel = calls.load();
    Pause(30);
    EXPECT_EQ(calls.load(), atCancel);
    EXPECT_EQ(queue.PendingCount(), 0u);
}

TEST(TimerQueue, FiresInDeadlineOrderAndChangeRearms)
{
    TimerQueue queue;
    std::mutex lock;
    std::vector<int> order;
    Event last;
    auto record = [&](int tag) {
        return [&, tag](TimerId) {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back(tag);
            if (order.size() == 4)
                last.Set();
        };
    };
    queue.Add(300, 0, record(3));
    queue.Add(100, 0, record(1));
    queue.Add(200, 0, record(2));
    // Armed far away first, then brought forward, as the Lua timers do.
    TimerId moved = queue.Add(1000000, 0, record(0));
    EXPECT_TRUE(queue.Change(moved, 0, 0));
    ASSERT_TRUE(last.Wait(kSafetyTimeoutMs));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(queue.Change(moved, 5, 0)); // ended
}

TEST(TimerQueue, IdsAreNeverReused)
{
    TimerQueue first, second;
    std::set<TimerId> ids;
    TimerId previous = 0;
    for (int i = 0; i < 2000; ++i) {
        TimerQueue& queue = i % 2 ? first : second;
        TimerId id = queue.Add(1000000, 0, [](TimerId) {});
        ASSERT_GT(id, previous);
        previous = id;
        ids.insert(id);
        EXPECT_TRUE(queue.Cancel(id));
    }
    EXPECT_EQ(ids.size(), 2000u);
    EXPECT_EQ(first.PendingCount() + second.PendingCount(), 0u);
}

TEST(TimerQueue, IntervalsAreClamped)
{
    TimerQueue queue;
    Event fired;
    std::atomic<int> calls{0};
    // A negative due time fires at once; a negative period means once.
    queue.Add(-5, -5, [&](TimerId) {
        calls.fetch_add(1);
        fired.Set();
    });
    ASSERT_TRUE(fired.Wait(kSafetyTimeoutMs));
    // Huge values do not overflow the deadline into the past.
    TimerId far = queue.Add(INT64_MAX, INT64_MAX, [&](TimerId) { calls.fetch_add(100); });
    Event later;
    queue.Add(20, 0, [&](TimerId) { later.Set(); });
    ASSERT_TRUE(later.Wait(kSafetyTimeoutMs));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(queue.Cancel(far));
}

TEST(TimerQueue, CancelFromInsideItsOwnCallback)
{
    TimerQueue queue;
    std::atomic<int> calls{0};
    Event done;
    std::atomic<bool> waitingForm{true};
    for (int round = 0; round < 2; ++round) {
        calls.store(0);
        queue.Add(1, 1, [&](TimerId self) {
            calls.fetch_add(1);
            // Must not wait for itself.
            if (waitingForm.load())
                queue.CancelAndWait(self);
            else
                queue.Cancel(self);
            done.Set();
        });
        ASSERT_TRUE(done.Wait(kSafetyTimeoutMs));
        Event later;
        queue.Add(20, 0, [&](TimerId) { later.Set(); });
        ASSERT_TRUE(later.Wait(kSafetyTimeoutMs));
        EXPECT_EQ(calls.load(), 1);
        waitingForm.store(false);
    }
}

TEST(TimerQueue, CancelAndWaitWaitsForARunningCallback)
{
    TimerQueue queue;
    Event entered, release;
    std::atomic<bool> callbackFinished{false};
    TimerId id = queue.Add(0, 5, [&](TimerId) {
        entered.Set();
        release.Wait(kSafetyTimeoutMs);
        callbackFinished.store(true);
    });
    ASSERT_TRUE(entered.Wait(kSafetyTimeoutMs));
    std::atomic<bool> cancelReturned{false};
    bool finishedWhenReturned = false;
    std::thread canceller([&] {
        queue.CancelAndWait(id);
        finishedWhenReturned = callbackFinished.load();
        cancelReturned.store(true);
    });
    Pause(20);
    EXPECT_FALSE(cancelReturned.load());
    // The waiting form is not needed to stop it: a plain Cancel does not wait.
    EXPECT_FALSE(queue.Cancel(id));
    release.Set();
    canceller.join();
    EXPECT_TRUE(finishedWhenReturned);
}

TEST(TimerQueue, DestructionWithAFastPeriodicTimerIsClean)
{
    for (int i = 0; i < 100; ++i) {
        std::atomic<int> calls{0};
        Event first;
        {
            TimerQueue queue;
            queue.Add(0, 1, [&](TimerId) {
                if (calls.fetch_add(1) == 0)
                    first.Set();
            });
            if (i % 2) {
                ASSERT_TRUE(first.Wait(kSafetyTimeoutMs));
            }
        }
        // After destruction no callback runs any more.
        int after = calls.load();
        std::this_thread::yield();
        EXPECT_EQ(calls.load(), after);
    }
}

TEST(TimerQueue, ShutdownEndsTimersAndRefusesNewOnes)
{
    TimerQueue queue;
    std::atomic<int> calls{0};
    queue.Add(1000000, 0, [&](TimerId) { calls.fetch_add(1); });
    queue.Shutdown();
    queue.Shutdown();
    EXPECT_EQ(queue.PendingCount(), 0u);
    EXPECT_EQ(queue.Add(0, 0, [&](TimerId) { calls.fetch_add(1); }), 0u);
    EXPECT_EQ(calls.load(), 0);
    EXPECT_EQ(queue.Add(0, 0, nullptr), 0u);
}

// A callback that does not return within the limit is left running: the
// queue can go, and the callback ends later on its own.
TEST(TimerQueue, ShutdownWithALimitLeavesABlockedCallbackRunning)
{
    Event started, release, ended;
    {
        TimerQueue queue("blocked");
        queue.Add(0, 0, [&](TimerId) {
            started.Set();
            release.Wait(kSafetyTimeoutMs);
            ended.Set();
        });
        ASSERT_TRUE(started.Wait(kSafetyTimeoutMs));
        EXPECT_FALSE(queue.Shutdown(std::chrono::milliseconds(1)));
        EXPECT_EQ(queue.Add(0, 0, [](TimerId) {}), 0u);
    }
    release.Set();
    EXPECT_TRUE(ended.Wait(kSafetyTimeoutMs));

    TimerQueue idle("idle");
    EXPECT_TRUE(idle.Shutdown(std::chrono::milliseconds(kSafetyTimeoutMs)));
}

TEST(TimerQueue, CallbacksMayDestroyTheirQueueAndThrow)
{
    auto* queue = new TimerQueue("self deleting");
    Event deleted;
    queue->Add(0, 0, [&](TimerId) {
        delete queue;
        deleted.Set();
    });
    ASSERT_TRUE(deleted.Wait(kSafetyTimeoutMs));

    corvane::test::StderrCapture capture;
    TimerQueue throwing;
    std::atomic<int> calls{0};
    Event third;
    throwing.Add(0, 1, [&](TimerId) {
        if (calls.fetch_add(1) + 1 == 3)
            third.Set();
        throw std::runtime_error("script failed");
    });
    ASSERT_TRUE(third.Wait(kSafetyTimeoutMs));
    throwing.Shutdown();
    EXPECT_NE(capture.Text().find("timer callback ended by exception: script failed"), std::string::npos);
}

TEST(TimerQueue, ManyThreadsAddAndCancel)
{
    TimerQueue queue;
    std::atomic<int> calls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                TimerId id = queue.Add(i % 3, (i + t) % 2, [&](TimerId) { calls.fetch_add(1); });
                if (i % 2)
                    queue.CancelAndWait(id);
                else
                    queue.Cancel(id);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(queue.PendingCount(), 0u);
}
