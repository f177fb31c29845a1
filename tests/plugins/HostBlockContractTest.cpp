// What a host may do with blocks and events, through the built module and our
// host: event lists far longer than a ring of 64 (dense automation), blocks
// longer than the size announced, and absurd announced sizes. The Trigger
// instrument shows where its trigger note arrived: its gate rises there.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using corvane::host::MidiMessage;
using corvane::host::Plugin;

// Resident memory of this process in bytes (0 when unknown).
long long ResidentBytes()
{
    long long pages = 0, resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%lld %lld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return resident * 4096;
}

std::unique_ptr<Plugin> TriggerInstrument(int32_t announced)
{
    auto plugin = Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZs3"));
    if (plugin)
        plugin->Start(48000, announced);
    return plugin;
}

size_t FirstRise(const std::vector<float>& s)
{
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] > 0.5f)
            return i;
    return s.size();
}

struct BlockCase {
    const char* name;
    int32_t announced;  // effSetBlockSize
    int32_t frames;     // the block handed over
    int fillers;        // controller messages at offset 0 before the note
    int32_t noteAt;     // the trigger note's offset
    bool dropped;       // the queue is full before the note: it is lost, and the count told
};

class HostBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(HostBlocks, TheTriggerNoteActsAtItsOffset)
{
    const BlockCase& c = GetParam();
    auto plugin = TriggerInstrument(c.announced);
    ASSERT_TRUE(plugin);
    std::vector<MidiMessage> midi;
    for (int i = 0; i < c.fillers; ++i)
        midi.push_back({0, {0xB0, 1, static_cast<uint8_t>(i & 127)}});
    midi.push_back({c.noteAt, {0x90, 60, 100}});
    std::vector<std::vector<float>> out;
    std::string told;
    {
        corvane::test::StderrCapture err;
        plugin->SendMidi(midi);
        plugin->ProcessBlock({}, out, c.frames);
        told = err.Text();
    }
    const size_t expected = c.dropped ? out[0].size() : static_cast<size_t>(c.noteAt);
    EXPECT_EQ(FirstRise(out[0]), expected);
    EXPECT_EQ(out[0].back(), c.dropped ? 0.0f : 1.0f);
    const std::string count = std::to_string(c.fillers + 1 - 1024) + " events dropped";
    EXPECT_EQ(told.find("overflow") != std::string::npos, c.dropped) << told;
    if (c.dropped) {
        EXPECT_NE(told.find(count), std::string::npos) << told;
    }
}

const BlockCase kBlocks[] = {
    {"a_plain_block", 512, 512, 0, 100, false},
    {"1023_controllers_then_the_note", 512, 512, 1023, 100, false},
    {"2000_controllers_drop_the_note_and_say_so_once", 512, 512, 2000, 100, true},
    {"a_block_far_longer_than_announced", 512, 200000, 0, 150000, false},
    {"the_note_where_one_piece_ends", 512, 140000, 0, 65536, false},
    {"an_announced_size_of_a_gigabyte", 268435456, 70000, 0, 69999, false},
    {"the_largest_announced_size", 2147483647, 512, 0, 10, false},
};
INSTANTIATE_TEST_SUITE_P(Cases, HostBlocks, ::testing::ValuesIn(kBlocks),
                         [](const auto& info) { return std::string(info.param.name); });

// The zero input buffer an instance keeps is bounded whatever size the host
// announces (a gigabyte was committed for 2^28 frames).
TEST(HostBlocks, AnnouncedSizeDoesNotCommitMemory)
{
    auto plugin = TriggerInstrument(512);
    ASSERT_TRUE(plugin);
    const long long before = ResidentBytes();
    plugin->Dispatch(effSetBlockSize, 0, 268435456);
    EXPECT_LT(ResidentBytes() - before, 16LL << 20);
}

} // namespace
