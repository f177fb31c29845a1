// The plug-in base: the block cut at MIDI events, queues, properties, the
// OSC port rule, and an audio path that never allocates.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/framework/TestPlugin.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::TestPlugin;

namespace {

struct Buffers {
    explicit Buffers(int32_t frames, int channels = 2) : data(channels, std::vector<float>(frames, 0.5f))
    {
        for (auto& channel : data)
            pointers.push_back(channel.data());
    }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

} // namespace

TEST(PluginBase, BlockIsCutAtEventOffsets)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    plugin.setBlockSize(512);
    corvane::test::HostEvents events;
    events.Midi(0x90, 60, 100, 0).Midi(0x80, 60, 0, 100).Midi(0xB1, 7, 99, 100).Midi(0x92, 64, 0, 600);
    plugin.dispatcher(effProcessEvents, 0, 0, events.Events(), 0);
    Buffers in(512), out(512);
    plugin.processReplacing(in.pointers.data(), out.pointers.data(), 512);
    const std::vector<std::string> expected = {"NoteOn(0,60,100)", "Process(100)", "NoteOff(0,60,0)", "CC(1,7,99)",
                                               "Process(412)", "NoteOff(2,64,0)"};
    EXPECT_EQ(plugin.trace, expected);
}

TEST(PluginBase, QueuedCommandsRunBeforeTheBlock)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    plugin.CommandQueue().Write(7);
    plugin.CommandQueue().Write(9);
    Buffers in(64), out(64);
    plugin.processReplacing(in.pointers.data(), out.pointers.data(), 64);
    const std::vector<std::string> expected = {"Command(7)", "Command(9)", "Process(64)"};
    EXPECT_EQ(plugin.trace, expected);
}

TEST(PluginBase, PluginWithoutInputsReadsZeros)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin("Corvane Tester", 0, 2);
    plugin.setBlockSize(256);
    Buffers out(256);
    plugin.processReplacing(nullptr, out.pointers.data(), 256);
    ASSERT_NE(plugin.lastInputs[0], nullptr);
    EXPECT_EQ(plugin.lastInputs[0], plugin.lastInputs[1]);
    EXPECT_EQ(plugin.inputSample, 0.0f);

    // A host that hands more than it announced: the zero buffer is never
    // overrun, and every sample is processed, in pieces.
    Buffers longOut(20000);
    plugin.processReplacing(nullptr, longOut.pointers.data(), 20000);
    EXPECT_EQ(longOut.data[0][0], 1.0f);
    EXPECT_EQ(longOut.data[0][19999], 1.0f);
    EXPECT_EQ(plugin.lastInputs[0], plugin.lastInputs[1]);
}

TEST(PluginBase, PortOffsetMovesTheServer)
{
    corvane::test::ScopedUserFolders folders;
    folders.WritePreference("OSC Base Port", "7000");
    TestPlugin plugin;
    EXPECT_EQ(plugin.OSC().ListenPort(), 0);
    plugin.SetParameterValue(0, 3, false);
    EXPECT_EQ(plugin.OSC().ListenPort(), 7003);
    EXPECT_EQ(plugin.PortOffset(), 3);
    plugin.SetParameterValue(0, 0, false);
    EXPECT_EQ(plugin.OSC().ListenPort(), 0);

    // Reapplying asks the host too.
    plugin.CurrentProgram()->SetParameter(0, 5);
    corvane::test::AutomateLog().clear();
    uint8_t one = 1;
    EXPECT_EQ(plugin.SetProperty(64008, 0, 0, &one, 1), 0);
    EXPECT_EQ(plugin.OSC().ListenPort(), 7005);
    EXPECT_EQ(corvane::test::AutomateLog().size(), 1u);
    EXPECT_EQ(plugin.SetProperty(64008, 1, 0, &one, 1), kAudioUnitErr_InvalidProperty);

    // A program change applies its own offset.
    plugin.setProgram(1);
    EXPECT_EQ(plugin.OSC().ListenPort(), 7003);
    plugin.setProgram(-1);
    plugin.setProgram(2);
    EXPECT_EQ(plugin.getProgram(), 1);
}

TEST(PluginBase, PropertiesAnswerAsDocumented)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin("Corvane Voice Tester");
    uint32_t size = 0;
    uint8_t writable = 9;
    EXPECT_EQ(plugin.GetPropertyInfo(64012, 0, 0, &size, &writable), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin.GetPropertyInfo(64008, 0, 0, &size, &writable), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(plugin.GetPropertyInfo(64007, 0, 0, &size, &writable), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(writable, 0);

    uint8_t data[8] = {};
    EXPECT_EQ(plugin.GetProperty(64008, 0, 0, data), kAudioUnitErr_InvalidProperty); // write-only
    EXPECT_EQ(plugin.GetProperty(64012, 0, 0, data), kAudioUnitErr_InvalidProperty);
    // The short name drops the spaces (OSC addresses use it).
    const char* text = nullptr;
    ASSERT_EQ(plugin.GetProperty(64004, 0, 0, &text), 0);
    EXPECT_STREQ(text, "QVVoiceTester");
    const std::vector<std::string>* names = nullptr;
    ASSERT_EQ(plugin.GetProperty(64005, 0, 0, &names), 0);
    EXPECT_EQ((*names)[6], "AVeryLongParameterName");
}

TEST(PluginBase, FactoryPresetsFillThePrograms)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    ASSERT_STREQ(plugin.Program(0)->GetName(), "Defaults");
    ASSERT_STREQ(plugin.Program(1)->GetName(), "Second");
    EXPECT_EQ(plugin.Program(1)->GetParameter(0), 3.0f);
    EXPECT_EQ(plugin.Program(1)->GetParameter(1), 1.5f);
    for (int i = 2; i < 13; ++i)
        EXPECT_EQ(plugin.Program(1)->GetParameter(i), TestPlugin::kParameters[i].def) << i;
}

TEST(Programs, NamesKeepAtMostThirtyOneCharacters)
{
    ObryProgramBasic<2> program;
    const std::string thirtyOne(31, 'a');
    program.SetName(thirtyOne.c_str());
    EXPECT_EQ(std::string(program.GetName()), thirtyOne);
    const std::string longer = thirtyOne + "bcdef";
    program.SetName(longer.c_str());
    EXPECT_EQ(std::string(program.GetName()), thirtyOne);
    void* data = &program;
    EXPECT_EQ(program.GetChunk(&data), 0);
    EXPECT_EQ(data, nullptr);
    // Indices outside the values are ignored rather than written.
    program.SetParameter(0, 1.0f);
    program.SetParameter(2, 5.0f);
    program.SetParameter(-1, 5.0f);
    EXPECT_EQ(program.GetParameter(0), 1.0f);
    EXPECT_EQ(program.GetParameter(2), 0.0f);
}

TEST(PluginBase, AudioPathDoesNotAllocate)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    plugin.recordTrace = false;
    plugin.setBlockSize(512);
    Buffers in(512), out(512);
    corvane::test::HostEvents events;
    events.Midi(0x90, 60, 100, 3).Midi(0xB0, 1, 2, 200).Midi(0xE0, 0, 64, 300);
    for (int round = 0; round < 4; ++round) {
        plugin.dispatcher(effProcessEvents, 0, 0, events.Events(), 0);
        plugin.CommandQueue().Write(1);
        corvane::test::AllocationCounter counter;
        plugin.processReplacing(in.pointers.data(), out.pointers.data(), 512);
        plugin.setParameter(1, 0.75f); // host automation on the audio thread
        EXPECT_EQ(counter.Count(), 0) << round;
    }
}
