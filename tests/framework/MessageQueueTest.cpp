// The 64-slot ring between threads: capacity, overflow and ordering.
#include <gtest/gtest.h>

#include <thread>

#include "framework/MessageQueue.h"
#include "tests/support/TestSupport.h"

using QZ::MessageQueue;

TEST(MessageQueue, HoldsSixtyThreeItemsBeforeAndAfterReading)
{
    MessageQueue queue;
    EXPECT_EQ(queue.Read(), nullptr);
    ASSERT_TRUE(queue.Write(42));
    QZ::MessageQueueItem* first = queue.Read();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->type, QZ::MessageQueueItem::kValue);
    EXPECT_EQ(first->Value(), 42u);
    EXPECT_EQ(queue.Read(), nullptr);

    MessageQueue fresh;
    for (uint32_t i = 0; i < 63; ++i)
        ASSERT_TRUE(fresh.Write(i)) << i;
    {
        corvane::test::StderrCapture capture;
        EXPECT_FALSE(fresh.Write(63));
        EXPECT_EQ(capture.Text(), "MessageQueue::Write() overflow\n");
    }
    ASSERT_EQ(fresh.Read()->Value(), 0u);
    ASSERT_TRUE(fresh.Write(63));
    {
        corvane::test::StderrCapture capture;
        const uint8_t bytes[] = {1, 2, 3};
        EXPECT_FALSE(fresh.WriteSysEx(bytes, 3));
        EXPECT_FALSE(fresh.WriteMIDI(0x90, 1, 2, 0));
        EXPECT_EQ(capture.Text(), "MessageQueue::WriteSysEx() overflow\nMessageQueue::Write() overflow\n");
    }
    for (uint32_t i = 1; i <= 63; ++i)
        ASSERT_EQ(fresh.Read()->Value(), i);
    EXPECT_EQ(fresh.Read(), nullptr);
    for (uint32_t i = 0; i < 63; ++i)
        ASSERT_TRUE(fresh.Write(i));
}

TEST(MessageQueue, ItemsCarryMidiAndSysEx)
{
    MessageQueue queue;
    ASSERT_TRUE(queue.WriteMIDI(0x93, 0xFF, 0x80, 17));
    const uint8_t dump[] = {0x7E, 0x01, 0xF7};
    ASSERT_TRUE(queue.WriteSysEx(dump, 3));
    QZ::MessageQueueItem* midi = queue.Read();
    EXPECT_EQ(midi->type, QZ::MessageQueueItem::kShortMIDI);
    EXPECT_EQ(midi->data[0], 0x90);
    EXPECT_EQ(midi->data[1], 3);
    EXPECT_EQ(midi->data[2], 0x7F);
    EXPECT_EQ(midi->data[3], 0x00);
    EXPECT_EQ(midi->deltaFrame, 17u);
    QZ::MessageQueueItem* sysex = queue.Read();
    EXPECT_EQ(sysex->type, QZ::MessageQueueItem::kSysEx);
    EXPECT_EQ(sysex->bytes, std::vector<uint8_t>(dump, dump + 3));
    EXPECT_EQ(sysex->deltaFrame, 0u);
}

TEST(MessageQueue, TwoThreadsLoseAndReorderNothing)
{
    MessageQueue queue;
    constexpr uint32_t kCount = 1000000;
    std::thread writer([&] {
        // Bursts of 32, then wait until the reader has caught up: the ring
        // never overflows, so every item must arrive.
        for (uint32_t i = 0; i < kCount;) {
            for (int burst = 0; burst < 32 && i < kCount; ++burst, ++i)
                ASSERT_TRUE(queue.Write(i));
            while (!queue.Empty())
                std::this_thread::yield();
        }
    });
    uint32_t expected = 0;
    while (expected < kCount) {
        if (QZ::MessageQueueItem* item = queue.Read()) {
            ASSERT_EQ(item->Value(), expected);
            ++expected;
        } else {
            std::this_thread::yield();
        }
    }
    writer.join();
    EXPECT_EQ(queue.Read(), nullptr);
}
