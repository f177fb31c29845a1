// The process-wide instance registry: numbering, addressing, learned MIDI
// mappings and their saved form, and use from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "framework/InstanceRegistry.h"
#include "framework/MessageQueue.h"
#include "framework/StateChunk.h"
#include "tests/framework/TestPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::TestPlugin;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { InstanceRegistry::ResetMappings(); }
    void TearDown() override { InstanceRegistry::ResetMappings(); }
    corvane::test::ScopedUserFolders folders;
};

QZ::MessageQueueItem ControlChange(int channel, int controller, int value)
{
    QZ::MessageQueueItem item;
    item.type = QZ::MessageQueueItem::kShortMIDI;
    item.data[0] = 0xB0;
    item.data[1] = static_cast<uint8_t>(channel);
    item.data[2] = static_cast<uint8_t>(controller);
    item.data[3] = static_cast<uint8_t>(value);
    return item;
}

void Learn(TestPlugin& receiver, TestPlugin& target, int32_t index, int controller, int channel = 0)
{
    InstanceRegistry::SetLearnTarget(&target, index);
    InstanceRegistry::SetLearnArmed(true);
    QZ::MessageQueueItem item = ControlChange(channel, controller, 0);
    InstanceRegistry::HandleMIDIMessage(&item, &receiver);
    InstanceRegistry::WaitForHandOver(); // learning is done by the serving thread
    InstanceRegistry::SetLearnArmed(false);
}

float Send(TestPlugin& receiver, TestPlugin& target, int32_t index, int controller, int value, int channel = 0)
{
    QZ::MessageQueueItem item = ControlChange(channel, controller, value);
    InstanceRegistry::HandleMIDIMessage(&item, &receiver);
    InstanceRegistry::WaitForHandOver();
    return target.GetParameterReal(index);
}

} // namespace

TEST_F(Registry, PerTypeNumbersAreLowestFreeWithinAKind)
{
    auto a = std::make_unique<TestPlugin>("Corvane Alpha");
    auto b = std::make_unique<TestPlugin>("Corvane Alpha");
    auto c = std::make_unique<TestPlugin>("Corvane Alpha");
    auto other = std::make_unique<TestPlugin>("Corvane Beta");
    EXPECT_EQ(InstanceRegistry::InstanceNumber(a.get()), 1u);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(b.get()), 2u);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(c.get()), 3u);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(other.get()), 1u);
    const uint32_t bGlobal = InstanceRegistry::GlobalNumber(b.get());
    b.reset();
    auto d = std::make_unique<TestPlugin>("Corvane Alpha");
    EXPECT_EQ(InstanceRegistry::InstanceNumber(d.get()), 2u);
    EXPECT_EQ(InstanceRegistry::GlobalNumber(d.get()), bGlobal);

    // A restored state claims number 1: the holder moves to the lowest free.
    auto restored = std::make_unique<TestPlugin>("Corvane Alpha");
    InstanceRegistry::SetInstanceNumbers(restored.get(), 1, 0);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(restored.get()), 1u);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(a.get()), 4u);
    EXPECT_EQ(InstanceRegistry::InstanceNumber(c.get()), 3u);
    // Claiming a process-wide number moves its holder too; numbers stay unique.
    const uint32_t aGlobal = InstanceRegistry::GlobalNumber(a.get());
    InstanceRegistry::SetInstanceNumbers(restored.get(), 0, aGlobal);
    EXPECT_EQ(InstanceRegistry::GlobalNumber(restored.get()), aGlobal);
    EXPECT_NE(InstanceRegistry::GlobalNumber(a.get()), aGlobal);
    EXPECT_NE(InstanceRegistry::GlobalNumber(a.get()), 0u);
}

TEST_F(Registry, ControlValuesMapOntoTheTargetRange)
{
    TestPlugin receiver("Corvane Gamma"), target("Corvane Gamma");
    Learn(receiver, target, 1, 20); // Level, -5..5: centred
    Learn(receiver, target, 5, 21); // Positive, 0..10
    Learn(receiver, target, 4, 22); // Enabled, Boolean
    Learn(receiver, target, 3, 23); // Choice, Indexed 0..3
    EXPECT_EQ(InstanceRegistry::MappingCount(), 4u);
    // 64 is the centre; 1..63 and 65..127 spread evenly on either side.
    const std::pair<int, float> centred[] = {{64, 0.0f},           {0, -5.0f}, {1, -5.0f}, {127, 5.0f},
                                             {63, -5.0f / 63.0f}, {65, 5.0f / 63.0f}};
    for (const auto& [value, expected] : centred)
        EXPECT_NEAR(Send(receiver, target, 1, 20, value), expected, 1e-5f) << value;
    EXPECT_FLOAT_EQ(Send(receiver, target, 5, 21, 127), 10.0f);
    EXPECT_FLOAT_EQ(Send(receiver, target, 5, 21, 0), 0.0f);
    for (int value : {1, 5, 64, 127})
        EXPECT_EQ(Send(receiver, target, 4, 22, value), 1.0f) << value;
    EXPECT_EQ(Send(receiver, target, 4, 22, 0), 0.0f);
    EXPECT_EQ(Send(receiver, target, 3, 23, 100), 2.0f);
    // Another channel is another source.
    QZ::MessageQueueItem item = ControlChange(5, 21, 64);
    InstanceRegistry::HandleMIDIMessage(&item, &receiver);
    InstanceRegistry::WaitForHandOver();
    EXPECT_FLOAT_EQ(target.GetParameterReal(5), 0.0f);

    const std::string text = InstanceRegistry::DescribeMapping(&target, 5);
    char expected[64];
    snprintf(expected, sizeof expected, "Corvane Gamma %u (%u) Ch1 CC21", InstanceRegistry::InstanceNumber(&receiver),
             InstanceRegistry::GlobalNumber(&receiver));
    EXPECT_EQ(text, expected);
    EXPECT_EQ(InstanceRegistry::DescribeMapping(&target, 7), "");
    InstanceRegistry::RemoveMapping(&target, 5);
    EXPECT_EQ(InstanceRegistry::DescribeMapping(&target, 5), "");
    EXPECT_EQ(InstanceRegistry::MappingCount(), 3u);
}

TEST_F(Registry, RecentControlChangesAreCopies)
{
    auto receiver = std::make_unique<TestPlugin>("Corvane Delta");
    for (int i = 0; i < 7; ++i) {
        QZ::MessageQueueItem item = ControlChange(2, 10 + i, i);
        InstanceRegistry::HandleMIDIMessage(&item, receiver.get());
    }
    const uint32_t number = InstanceRegistry::GlobalNumber(receiver.get());
    receiver.reset();
    RecentControlChange recent[5];
    InstanceRegistry::GetRecentControlChanges(recent);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(recent[i].controller, 16 - i);
        EXPECT_EQ(recent[i].channel, 2);
        EXPECT_EQ(recent[i].instanceNumber, number);
    }
}

TEST_F(Registry, MappingsSaveAndRestoreByProcessWideNumbers)
{
    StateChunk empty;
    InstanceRegistry::SaveMappings(empty);
    EXPECT_EQ(empty.Serialize().size(), 12u); // no mappings, no record

    auto receiver = std::make_unique<TestPlugin>("Corvane Eps");
    auto target = std::make_unique<TestPlugin>("Corvane Eps");
    Learn(*receiver, *target, 1, 30, 11); // channel 12
    StateChunk saved;
    InstanceRegistry::SaveMappings(saved);
    const std::vector<uint8_t> bytes = saved.Serialize();
    ASSERT_EQ(bytes.size(), 12u + 8u + 4u + 36u);
    const uint32_t targetNumber = InstanceRegistry::GlobalNumber(target.get());
    const uint32_t receiverNumber = InstanceRegistry::GlobalNumber(receiver.get());

    // The project is closed and opened again: mappings come back before the
    // instances they name exist, and bind once they do.
    receiver.reset();
    target.reset();
    EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    StateChunk parsed;
    ASSERT_TRUE(parsed.Parse(bytes.data(), bytes.size()));
    InstanceRegistry::LoadMappings(parsed);
    EXPECT_EQ(InstanceRegistry::PendingMappingCount(), 1u);
    auto newReceiver = std::make_unique<TestPlugin>("Corvane Eps");
    auto newTarget = std::make_unique<TestPlugin>("Corvane Eps");
    InstanceRegistry::SetInstanceNumbers(newTarget.get(), 0, targetNumber);
    InstanceRegistry::SetInstanceNumbers(newReceiver.get(), 0, receiverNumber);
    EXPECT_EQ(InstanceRegistry::PendingMappingCount(), 0u);
    EXPECT_FLOAT_EQ(Send(*newReceiver, *newTarget, 1, 30, 127, 11), 5.0f);
    EXPECT_FLOAT_EQ(Send(*newReceiver, *newTarget, 1, 30, 0, 3), 5.0f); // another channel: no change

    // Another version clears and loads nothing.
    std::vector<uint8_t> v3 = bytes;
    v3[20] = 3;
    ASSERT_TRUE(parsed.Parse(v3.data(), v3.size()));
    InstanceRegistry::LoadMappings(parsed);
    EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    EXPECT_EQ(InstanceRegistry::PendingMappingCount(), 0u);

    // A record naming a parameter the target does not have is dropped.
    std::vector<uint8_t> bad = bytes;
    bad[24 + 4] = 200;
    bad[24 + 0] = static_cast<uint8_t>(InstanceRegistry::GlobalNumber(newTarget.get()));
    bad[24 + 8] = static_cast<uint8_t>(InstanceRegistry::GlobalNumber(newReceiver.get()));
    ASSERT_TRUE(parsed.Parse(bad.data(), bad.size()));
    InstanceRegistry::LoadMappings(parsed);
    EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    EXPECT_EQ(InstanceRegistry::PendingMappingCount(), 0u);
    // The first parameter is a parameter like any other.
    std::vector<uint8_t> first = bad;
    for (size_t i = 0; i < 4; ++i)
        first[24 + 4 + i] = 0;
    ASSERT_TRUE(parsed.Parse(first.data(), first.size()));
    InstanceRegistry::LoadMappings(parsed);
    EXPECT_EQ(InstanceRegistry::MappingCount(), 1u);
}

TEST_F(Registry, AnInstanceThatLeavesTakesItsMappingsAndLearnTarget)
{
    auto receiver = std::make_unique<TestPlugin>("Corvane Zeta");
    auto target = std::make_unique<TestPlugin>("Corvane Zeta");
    Learn(*receiver, *target, 1, 40);
    InstanceRegistry::SetLearnTarget(target.get(), 2);
    target.reset();
    EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    uint32_t number;
    int32_t index;
    EXPECT_FALSE(InstanceRegistry::GetLearnTarget(&number, &index));
    // A new instance (possibly at the same address) inherits nothing.
    auto newcomer = std::make_unique<TestPlugin>("Corvane Zeta");
    EXPECT_FLOAT_EQ(Send(*receiver, *newcomer, 1, 40, 127), 0.0f);
}

TEST_F(Registry, AddressesReachExactlyTheNamedInstances)
{
    auto a1 = std::make_unique<TestPlugin>("Corvane Eta");
    auto a2 = std::make_unique<TestPlugin>("Corvane Eta");
    auto b1 = std::make_unique<TestPlugin>("Corvane Theta");
    ObryParameterAddress address;
    address.shortName = "QVEta";
    address.instanceNumber = 2;
    address.parameterName = "Level";
    InstanceRegistry::SetParameterByAddress(address, 3.0f);
    EXPECT_EQ(a1->GetParameterReal(1), 0.0f);
    EXPECT_EQ(a2->GetParameterReal(1), 3.0f);
    address.instanceNumber = -1;
    InstanceRegistry::SetParameterByAddress(address, -2.0f);
    EXPECT_EQ(a1->GetParameterReal(1), -2.0f);
    EXPECT_EQ(a2->GetParameterReal(1), -2.0f);
    EXPECT_EQ(b1->GetParameterReal(1), 0.0f);

    ObryParameterAddress byNumber;
    byNumber.instanceNumber = static_cast<int32_t>(InstanceRegistry::GlobalNumber(b1.get()));
    byNumber.parameterIndex = 4;
    byNumber.indexOffset = 1;
    InstanceRegistry::SetParameterByAddress(byNumber, 6.0f);
    EXPECT_EQ(b1->GetParameterReal(5), 6.0f);
    EXPECT_EQ(a1->GetParameterReal(5), 0.0f);
    byNumber.indexOffset = 100; // past the table: nothing happens
    InstanceRegistry::SetParameterByAddress(byNumber, 1.0f);

    // Lookups by instance id (the OSC port offset).
    a2->SetParameterValue(0, 7, false);
    InstanceRegistry::SetParameterOfId(7, 5, 4.0f);
    InstanceRegistry::SetParameterOfId(7, 999, 4.0f);
    EXPECT_EQ(a2->GetParameterReal(5), 4.0f);
    EXPECT_EQ(InstanceRegistry::GetParameterOfId(7, 5), 4.0f);
    EXPECT_EQ(InstanceRegistry::GetParameterOfId(8, 5), 0.0f);
    InstanceRegistry::SetIndicatorOfId(7, 3, 1);
    InstanceRegistry::SetIndicatorOfId(7, 8, 1); // outside the flags: ignored
    EXPECT_EQ(InstanceRegistry::GetIndicatorOfId(7, 3), 1);
    EXPECT_EQ(a2->GetIndicatorBlock()[136 + 3], 1);
}

TEST_F(Registry, ConcurrentUseFromSeveralThreads)
{
    auto receiver = std::make_unique<TestPlugin>("Corvane Iota");
    auto target = std::make_unique<TestPlugin>("Corvane Iota");
    Learn(*receiver, *target, 5, 50);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        int value = 0;
        while (!stop) {
            QZ::MessageQueueItem item = ControlChange(0, 50, value++ & 127);
            InstanceRegistry::HandleMIDIMessage(&item, receiver.get());
        }
    });
    std::thread network([&] {
        ObryParameterAddress address;
        address.shortName = "QVIota";
        address.instanceNumber = -1;
        address.parameterIndex = 1;
        while (!stop)
            InstanceRegistry::SetParameterByAddress(address, 1.0f);
    });
    for (int round = 0; round < 40; ++round) {
        auto transient = std::make_unique<TestPlugin>("Corvane Iota");
        InstanceRegistry::SetLearnTarget(transient.get(), 1);
        InstanceRegistry::InstanceNumber(transient.get());
        RecentControlChange recent[5];
        InstanceRegistry::GetRecentControlChanges(recent);
    }
    stop = true;
    audio.join();
    network.join();
    EXPECT_EQ(InstanceRegistry::MappingCount(), 1u);
}
