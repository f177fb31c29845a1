// The registry's hand-over: several threads post to one mailbox at once and
// each key ends at its last value, never going back; nothing is lost while
// nobody serves (keys merge, a learn stays); a closed mailbox's news reach no
// later one; a stop that times out leaves one mailbox served at a time.
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
using InstanceRegistry::RegistryHandOver;

std::recursive_mutex gLock; // the registry lock of these tests
std::recursive_mutex& Lock()
{
    return gLock;
}

ObryAuBase* FakeInstance(uintptr_t n)
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

void Enter()
{
    gMostInside = std::max(gMostInside, ++gInside);
    std::unique_lock<std::mutex> gate(gGateLock);
    gHeld = gHold;
    gGateChanged.notify_all();
    gGateChanged.wait(gate, [] { return !gHold; });
}

void Parameter(ObryAuBase* instance, int32_t index, float value)
{
    Enter();
    gServed[{instance, index}].push_back(value);
    --gInside;
}

void Controller(ObryAuBase* instance, uint8_t channel, uint8_t controller, uint8_t value, bool learn)
{
    Enter();
    gServed[{instance, 1000 + channel * 128 + controller + (learn ? 10000 : 0)}].push_back(value);
    --gInside;
}

Mailbox* OpenLocked(RegistryHandOver& handOver, uintptr_t instance, int32_t parameters)
{
    std::lock_guard<std::recursive_mutex> held(gLock);
    return handOver.Open(FakeInstance(instance), parameters);
}

void Reset()
{
    gServed.clear();
    gInside = gMostInside = 0;
}

TEST(RegistryHandOver, ManyPostingThreadsEachKeyEndsAtItsLastValue)
{
    const struct {
        int threads;
        int each;
    } cases[] = {{1, 5000}, {4, 3000}, {8, 2000}};
    for (const auto& c : cases) {
        Reset();
        RegistryHandOver handOver(&Lock, {&Parameter, &Controller});
        Mailbox* mailbox = OpenLocked(handOver, 1, 8);
        ASSERT_TRUE(handOver.Start());
        std::vector<std::thread> posting;
        for (int t = 0; t < c.threads; ++t)
            posting.emplace_back([&, t] {
                for (int i = 0; i < c.each; ++i) {
                    handOver.PostParameter(*mailbox, t, static_cast<float>(i));
                    handOver.PostControlChange(*mailbox, static_cast<uint8_t>(t), 7,
                                               static_cast<uint8_t>(i * 127 / c.each), false);
                }
            });
        for (std::thread& t : posting)
            t.join();
        handOver.WaitUntilServed();
        {
            std::lock_guard<std::recursive_mutex> held(gLock);
            for (int t = 0; t < c.threads; ++t) {
                for (const int32_t key : {t, 1000 + t * 128 + 7}) {
                    const std::vector<float>& values = gServed[{FakeInstance(1), key}];
                    ASSERT_FALSE(values.empty()) << key;
                    EXPECT_TRUE(std::is_sorted(values.begin(), values.end())) << key; // merged, never back
                    EXPECT_EQ(values.back(), key < 1000 ? c.each - 1 : (c.each - 1) * 127 / c.each) << key;
                }
            }
            EXPECT_EQ(gMostInside, 1);
            handOver.Close(mailbox);
        }
        EXPECT_TRUE(handOver.Stop());
    }
}

TEST(RegistryHandOver, NothingIsLostWhileNobodyServes)
{
    Reset();
    RegistryHandOver handOver(&Lock, {&Parameter, &Controller});
    Mailbox* first = OpenLocked(handOver, 1, 300);
    Mailbox* closing = OpenLocked(handOver, 2, 4);
    Mailbox* again;
    for (int round = 0; round < 10; ++round)
        for (int32_t index = 0; index < 300; ++index)
            handOver.PostParameter(*first, index, static_cast<float>(round * 1000 + index));
    handOver.PostParameter(*first, 300, 1.0f);              // outside: ignored
    handOver.PostControlChange(*first, 2, 20, 90, true);    // a learn...
    handOver.PostControlChange(*first, 2, 20, 10, false);   // ...is kept when a later value merges with it
    handOver.PostControlChange(*first, 18, 150, 64, false); // channel 2, controller 22
    handOver.PostParameter(*closing, 1, 5.0f);
    handOver.PostControlChange(*closing, 0, 1, 5, true);
    {
        // A new instance at the address of one that left gets none of its news.
        std::lock_guard<std::recursive_mutex> held(gLock);
        handOver.Close(closing);
        again = handOver.Open(FakeInstance(2), 4);
    }
    EXPECT_FALSE(handOver.Empty());

    handOver.WaitUntilServed(); // no thread runs: served in place
    EXPECT_TRUE(handOver.Empty());
    EXPECT_EQ(gServed.size(), 302u);
    for (int32_t index = 0; index < 300; ++index)
        EXPECT_EQ((gServed[{FakeInstance(1), index}]), std::vector<float>{static_cast<float>(9000 + index)}) << index;
    EXPECT_EQ((gServed[{FakeInstance(1), 10000 + 1000 + 2 * 128 + 20}]), std::vector<float>{10});
    EXPECT_EQ((gServed[{FakeInstance(1), 1000 + 2 * 128 + 22}]), std::vector<float>{64});

    // Served, each mailbox takes news again, by the thread this time.
    ASSERT_TRUE(handOver.Start());
    handOver.PostParameter(*again, 3, 7.0f);
    handOver.WaitUntilServed();
    {
        std::lock_guard<std::recursive_mutex> held(gLock);
        EXPECT_EQ((gServed[{FakeInstance(2), 3}]), std::vector<float>{7.0f});
        handOver.Close(first);
        handOver.Close(again);
    }
    EXPECT_TRUE(handOver.Stop());
}

// The thread left by a stop that timed out and the one started next serve
// one mailbox at a time, and every news is served once.
TEST(RegistryHandOver, AStopThatTimesOutLeavesOneServerAtATime)
{
    Reset();
    RegistryHandOver handOver(&Lock, {&Parameter, &Controller});
    Mailbox* mailbox = OpenLocked(handOver, 3, 1000);
    ASSERT_TRUE(handOver.Start());
    {
        std::unique_lock<std::mutex> gate(gGateLock);
        gHold = true;
    }
    handOver.PostParameter(*mailbox, 0, 1.0f);
    {
        std::unique_lock<std::mutex> gate(gGateLock);
        gGateChanged.wait(gate, [] { return gHeld; });
    }
    EXPECT_FALSE(handOver.Stop(std::chrono::milliseconds(0))); // held in its serve call
    ASSERT_TRUE(handOver.Start());
    for (int32_t index = 1; index < 1000; ++index)
        handOver.PostParameter(*mailbox, index, static_cast<float>(index));
    {
        std::lock_guard<std::mutex> gate(gGateLock);
        gHold = false;
    }
    gGateChanged.notify_all();
    handOver.WaitUntilServed();
    {
        std::lock_guard<std::recursive_mutex> held(gLock);
        EXPECT_EQ(gMostInside, 1);
        for (int32_t index = 0; index < 1000; ++index)
            EXPECT_EQ((gServed[{FakeInstance(3), index}].size()), 1u) << index;
        handOver.Close(mailbox);
    }
    // Until the first thread has ended too, a stop says that one runs.
    while (!handOver.Stop())
        std::this_thread::yield();
}

} // namespace
