// The registry's hand-over ring: several audio threads post at once and the
// serving thread gets every item once, each thread's in its order; a ring
// that nobody serves keeps exactly its size and counts the rest as dropped.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/RegistryHandOver.h"

namespace {

using InstanceRegistry::HandOverItem;
using InstanceRegistry::RegistryHandOver;

// What the serving thread saw: per posting thread (the item's index), the
// last sequence number (the item's value) and whether any came out of order.
struct Seen {
    static constexpr int kThreads = 8;
    int32_t last[kThreads];
    int served = 0;
    bool outOfOrder = false;
    void Reset()
    {
        for (int32_t& l : last)
            l = -1;
        served = 0;
        outOfOrder = false;
    }
};
Seen gSeen;

void Record(const HandOverItem& item)
{
    const auto sequence = static_cast<int32_t>(item.realValue);
    if (sequence <= gSeen.last[item.index])
        gSeen.outOfOrder = true;
    gSeen.last[item.index] = sequence;
    ++gSeen.served;
}

HandOverItem Numbered(int32_t thread, int32_t sequence)
{
    HandOverItem item;
    item.index = thread;
    item.realValue = static_cast<float>(sequence);
    return item;
}

TEST(RegistryHandOver, ManyPostingThreadsEachInOrder)
{
    const struct {
        int threads;
        int each;
    } cases[] = {{1, 5000}, {4, 3000}, {Seen::kThreads, 2000}};
    for (const auto& c : cases) {
        gSeen.Reset();
        RegistryHandOver handOver(&Record);
        ASSERT_TRUE(handOver.Start());
        std::atomic<int> accepted{0};
        std::vector<std::thread> posting;
        for (int t = 0; t < c.threads; ++t)
            posting.emplace_back([&, t] {
                for (int i = 0; i < c.each; ++i)
                    accepted += handOver.Post(Numbered(t, i)) ? 1 : 0;
            });
        for (std::thread& t : posting)
            t.join();
        handOver.WaitUntilServed();
        EXPECT_EQ(gSeen.served, accepted.load()) << c.threads;
        EXPECT_EQ(static_cast<int>(handOver.DroppedCount()) + accepted.load(), c.threads * c.each);
        EXPECT_FALSE(gSeen.outOfOrder) << c.threads;
        EXPECT_TRUE(handOver.Stop());
    }
}

TEST(RegistryHandOver, AFullRingKeepsItsSizeAndCountsTheRest)
{
    gSeen.Reset();
    RegistryHandOver handOver(&Record);
    int accepted = 0;
    for (int i = 0; i < static_cast<int>(RegistryHandOver::kSize) + 10; ++i)
        accepted += handOver.Post(Numbered(0, i)) ? 1 : 0;
    EXPECT_EQ(accepted, static_cast<int>(RegistryHandOver::kSize));
    EXPECT_EQ(handOver.DroppedCount(), 10u);
    EXPECT_FALSE(handOver.Empty());
    ASSERT_TRUE(handOver.Start());
    handOver.WaitUntilServed();
    EXPECT_EQ(gSeen.served, accepted);
    EXPECT_EQ(gSeen.last[0], static_cast<int32_t>(RegistryHandOver::kSize) - 1);
    EXPECT_TRUE(handOver.Empty());
    // Served, the ring takes as many again.
    EXPECT_TRUE(handOver.Post(Numbered(0, 5000)));
    handOver.WaitUntilServed();
    EXPECT_EQ(gSeen.last[0], 5000);
}

} // namespace
