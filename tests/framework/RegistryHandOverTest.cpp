// The registry's hand-over: several threads post to one mailbox at once and
// each key ends at its last value, never going back; nothing is lost while
// nobody serves (keys merge, a learn stays); a closed mailbox's news reach no
// one; a stop that times out leaves one mailbox served at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/RegistryHandOver.h"

namespace {

using InstanceRegistry::Mailbox;

std::recursive_mutex gLock; // the registry lock of these tests

ObryAuBase* Fake(uintptr_t n)
{
    return reinterpret_cast<ObryAuBase*>(0x1000 + n * 64); // never dereferenced
}

// What was served, under gLock: per (instance, key) every value in turn.
// Controllers are keys 1000 + channel * 128 + controller, a learn adds 10000.
std::map<std::pair<ObryAuBase*, int32_t>, std::vector<float>> gServed;
int gInside = 0, gMostInside = 0; // serve calls running at once
std::mutex gGateLock;
std::condition_variable gGateChanged;
bool gHold = false, gHeld = false; // a serve call waits while gHold

void Record(ObryAuBase* instance, int32_t key, float value)
{
    gMostInside = std::max(gMostInside, ++gInside);
    {
        std::unique_lock<std::mutex> gate(gGateLock);
        gHeld = gHold;
        gGateChanged.notify_all();
        gGateChanged.wait(gate, [] { return !gHold; });
    }
    gServed[{instance, key}].push_back(value);
    --gInside;
}

// A hand-over serving into gServed, from nothing served.
struct HandOver : InstanceRegistry::RegistryHandOver {
    HandOver()
        : RegistryHandOver([]() -> std::recursive_mutex& { return gLock; },
                           {[](ObryAuBase* instance, int32_t index, float value) { Record(instance, index, value); },
                            [](ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool learn) {
                                Record(instance, 1000 + channel * 128 + controller + (learn ? 10000 : 0), value);
                            }})
    {
        gServed.clear();
        gInside = gMostInside = 0;
    }
    Mailbox* Open(uintptr_t instance, int32_t parameters)
    {
        std::lock_guard<std::recursive_mutex> held(gLock);
        return RegistryHandOver::Open(Fake(instance), parameters);
    }
    void Close(Mailbox* mailbox)
    {
        std::lock_guard<std::recursive_mutex> held(gLock);
        RegistryHandOver::Close(mailbox);
    }
};

TEST(RegistryHandOver, ManyPostingThreadsEachKeyEndsAtItsLastValue)
{
    const struct {
        int threads;
        int each;
    } cases[] = {{1, 5000}, {4, 3000}, {8, 2000}};
    for (const auto& c : cases) {
        HandOver handOver;
        Mailbox* mailbox = handOver.Open(1, 8);
        ASSERT_TRUE(handOver.Start());
        std::vector<std::thread> posting;
        for (int t = 0; t < c.threads; ++t)
            posting.emplace_back([&, t] {
                for (int i = 0; i < c.each; ++i) {
                    const auto value = static_cast<uint8_t>(i * 127 / (c.each - 1));
                    handOver.PostParameter(*mailbox, t, value);
                    handOver.PostControlChange(*mailbox, static_cast<uint8_t>(t), 7, value, false);
                }
            });
        for (std::thread& t : posting)
            t.join();
        handOver.WaitUntilServed();
        for (int t = 0; t < c.threads; ++t)
            for (const int32_t key : {t, 1000 + t * 128 + 7}) {
                const std::vector<float>& values = gServed[{Fake(1), key}];
                EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << key; // merged, never back
                EXPECT_EQ(values.empty() ? -1.0f : values.back(), 127.0f) << key;
            }
        handOver.Close(mailbox);
    }
}

TEST(RegistryHandOver, NothingIsLostWhileNobodyServes)
{
    HandOver handOver;
    Mailbox* first = handOver.Open(1, 300);
    Mailbox* closing = handOver.Open(2, 4);
    for (int round = 0; round < 10; ++round)
        for (int32_t index = 0; index < 300; ++index)
            handOver.PostParameter(*first, index, static_cast<float>(round * 1000 + index));
    handOver.PostParameter(*first, 300, 1.0f);              // outside: ignored
    handOver.PostControlChange(*first, 2, 20, 90, true);    // a learn...
    handOver.PostControlChange(*first, 2, 20, 10, false);   // ...is kept when a later value merges with it
    handOver.PostControlChange(*first, 18, 150, 64, false); // channel 2, controller 22
    handOver.PostParameter(*closing, 1, 5.0f); // an instance that leaves: its news reach no one (none at its address)
    handOver.PostControlChange(*closing, 0, 1, 5, true);
    handOver.Close(closing);

    handOver.WaitUntilServed(); // no thread runs: served in place
    EXPECT_TRUE(handOver.Empty());
    EXPECT_EQ(gServed.size(), 302u);
    for (int32_t index = 0; index < 300; ++index)
        EXPECT_EQ((gServed[{Fake(1), index}]), std::vector<float>{static_cast<float>(9000 + index)}) << index;
    EXPECT_EQ((gServed[{Fake(1), 10000 + 1000 + 2 * 128 + 20}]), std::vector<float>{10});
    EXPECT_EQ((gServed[{Fake(1), 1000 + 2 * 128 + 22}]), std::vector<float>{64});
    handOver.Close(first);
}

// A stop that times out (the thread held in a serve call) leaves that thread
// running; a start then serves beside it, one mailbox at a time, and goes on
// once the thread left running has ended: every news is served once.
TEST(RegistryHandOver, AStopThatTimesOutLeavesOneServerAtATime)
{
    HandOver handOver;
    Mailbox* mailbox = handOver.Open(3, 1000);
    ASSERT_TRUE(handOver.Start());
    std::unique_lock<std::mutex> gate(gGateLock);
    gHold = true;
    handOver.PostParameter(*mailbox, 0, 1.0f);
    gGateChanged.wait(gate, [] { return gHeld; });
    EXPECT_FALSE(handOver.Stop(std::chrono::milliseconds(0))); // held in its serve call
    EXPECT_TRUE(handOver.Start());
    for (int32_t index = 1; index < 1000; ++index)
        handOver.PostParameter(*mailbox, index, static_cast<float>(index));
    corvane::platform::WorkerThreadEnded().Reset();
    gHold = false;
    gGateChanged.notify_all();
    gate.unlock();
    ASSERT_TRUE(corvane::platform::WorkerThreadEnded().Wait(60000)); // the one left running
    handOver.PostParameter(*mailbox, 0, 2.0f);
    const auto servedTwice = [&] {
        std::lock_guard<std::recursive_mutex> held(gLock);
        return gServed[{Fake(3), 0}].size() == 2;
    };
    for (int i = 0; i < 10000 && !servedTwice(); ++i) // a bound against a hang only
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    while (!handOver.Stop()) // serves what is listed first
        std::this_thread::yield();
    EXPECT_EQ(gMostInside, 1);
    EXPECT_EQ((gServed[{Fake(3), 0}]), (std::vector<float>{1.0f, 2.0f}));
    for (int32_t index = 1; index < 1000; ++index)
        EXPECT_EQ((gServed[{Fake(3), index}].size()), 1u) << index;
    handOver.Close(mailbox);
}

} // namespace
