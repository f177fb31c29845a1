// Several Voice Controllers in one process as one polyphonic instrument: a
// master gives the notes of a chord to its voices through marker samples in
// its output 1; stolen voices get a note-off first; the pedal holds voices;
// pitch bend reaches every voice at the same sample; markers are only exact
// patterns read once; a full batch spills into the next frame; the master
// can go while a voice's audio thread is reading; nothing allocates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/VoiceControllerTestSupport.h"
#include "host/VstHost.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using ObryCorvaneVoiceController::BatchOfMarker;
using ObryCorvaneVoiceController::MarkerSample;
using ObryCorvaneVoiceController::ObryCorvane;

constexpr int32_t kBlock = 64;

struct Instance {
    explicit Instance(float polyMode, float number) : plugin(new ObryCorvane(corvane::test::InProcessHost, false))
    {
        plugin->setSampleRate(48000);
        plugin->setBlockSize(kBlock);
        plugin->resume();
        plugin->SetParameterValue(vctest::kPolyMode, polyMode, false);
        plugin->SetParameterValue(vctest::kPolyphonyVoice, number, false);
        // A table that gives every note its own pitch level.
        plugin->SetProperty(kObryProperty_LoadBrinkCalibration, 0, 0, nullptr, 0);
        for (auto& b : buffers)
            b.assign(kBlock, 0.0f);
    }
    void Midi(int delta, int status, int d1, int d2)
    {
        events.push_back(corvane::test::ShortMidiEvent(delta, status, d1, d2));
    }
    // Hands the waiting events over (the host's effProcessEvents).
    void SendEvents() { corvane::test::SendEvents(*plugin, events); }
    void Block(const float* input)
    {
        SendEvents();
        float* in[1] = {const_cast<float*>(input)};
        float* out[6];
        for (int c = 0; c < 6; ++c)
            out[c] = buffers[c].data();
        plugin->processReplacing(in, out, kBlock);
    }
    int32_t Role()
    {
        int32_t role = 0;
        EXPECT_EQ(plugin->GetProperty(kObryProperty_VoiceRole, 0, 0, &role), 0);
        return role;
    }
    corvane::test::InProcessPlugin<ObryCorvane> plugin;
    std::vector<float> buffers[6];
    std::vector<VstMidiEvent> events;
};

// Master first, then each voice fed the master's output 1, as a host runs a
// chain whose routing makes the voices depend on the master.
struct Rig {
    explicit Rig(int voices) : master(1, static_cast<float>(voices))
    {
        for (int v = 1; v <= voices; ++v)
            this->voices.emplace_back(std::make_unique<Instance>(2, static_cast<float>(v)));
        Blocks(1); // roles are published by the first sub-block
    }
    void Blocks(int n)
    {
        for (int i = 0; i < n; ++i) {
            master.Block(silence.data());
            for (auto& v : voices)
                v->Block(master.buffers[0].data());
        }
    }
    Instance master;
    std::vector<std::unique_ptr<Instance>> voices;
    std::vector<float> silence = std::vector<float>(kBlock, 0.0f);
};

TEST(VoiceControllerPolyphony, MarkersAreExactPatternsOnly)
{
    for (int b = 0; b < 64; ++b) {
        EXPECT_EQ(BatchOfMarker(MarkerSample(b)), b);
        EXPECT_FLOAT_EQ(MarkerSample(b), 4.0f + b * 0.03125f);
    }
    // 2.0 (the limited pass-through), values near a marker, batch 64 and
    // beyond, negatives, NaN.
    for (float x : {2.0f, 4.0001f, 3.9999f, 6.0f, 7.5f, -4.0f, 0.0f, std::nanf("")})
        EXPECT_EQ(BatchOfMarker(x), -1) << x;
}

TEST(VoiceControllerPolyphony, ChordGoesAcrossVoicesAndStealsWithNoteOff)
{
    Rig rig(2);
    EXPECT_EQ(rig.master.Role(), -1);
    EXPECT_EQ(rig.voices[0]->Role(), 1);
    EXPECT_EQ(rig.voices[1]->Role(), 2);

    rig.master.Midi(10, 0x90, 60, 100);
    rig.master.Midi(10, 0x90, 64, 100);
    rig.Blocks(1);
    // One frame for the batch: the marker sits at frame 10 of output 1,
    // outputs 2..6 are 0 there.
    EXPECT_EQ(BatchOfMarker(rig.master.buffers[0][10]), 0);
    for (int c = 1; c < 6; ++c)
        EXPECT_EQ(rig.master.buffers[c][10], 0.0f);
    EXPECT_EQ(rig.voices[0]->plugin->CurrentNote(), 60.0f);
    EXPECT_EQ(rig.voices[1]->plugin->CurrentNote(), 64.0f);
    // The gate of each voice opens at the marker's frame, not before.
    for (auto& v : rig.voices) {
        EXPECT_TRUE(v->plugin->GateOpen());
        EXPECT_EQ(v->buffers[1][9], 0.0f);
        EXPECT_EQ(v->buffers[1][10], 1.0f);
    }
    // A third note: both voices hold notes, the preferred voice 1 is stolen
    // with a note-off for 60 first.
    rig.master.Midi(0, 0x90, 67, 100);
    rig.Blocks(1);
    EXPECT_EQ(rig.voices[0]->plugin->CurrentNote(), 67.0f);
    EXPECT_EQ(rig.voices[0]->plugin->HeldCount(), 1); // 60 released, 67 held
    EXPECT_EQ(rig.master.plugin->NoteOfVoice(1), 67);
    EXPECT_EQ(rig.master.plugin->NoteOfVoice(2), 64);

    // Releasing all: every voice's gate closes, the master's too.
    rig.master.Midi(0, 0x80, 64, 0);
    rig.master.Midi(0, 0x80, 67, 0);
    rig.master.Midi(0, 0x80, 60, 0); // no longer sounding anywhere
    rig.Blocks(1);
    for (auto& v : rig.voices)
        EXPECT_FALSE(v->plugin->GateOpen());
    EXPECT_FALSE(rig.master.plugin->GateOpen());
}

TEST(VoiceControllerPolyphony, ANewNoteTakesTheQuietestVoice)
{
    {
        SCOPED_TRACE("a released voice before a held one");
        Rig rig(2);
        for (const int note : {60, 64}) {
            rig.master.Midi(0, 0x90, note, 100);
            rig.Blocks(1);
        }
        rig.master.Midi(0, 0x80, 64, 0);
        rig.Blocks(1);
        rig.master.Midi(0, 0x90, 67, 100);
        rig.Blocks(1);
        EXPECT_EQ(rig.master.plugin->NoteOfVoice(1), 60);
        EXPECT_EQ(rig.master.plugin->NoteOfVoice(2), 67);
    }
    {
        SCOPED_TRACE("of equally quiet voices, the first");
        Rig rig(3);
        for (const int note : {60, 64, 67}) {
            rig.master.Midi(0, 0x90, note, 100);
            rig.Blocks(1);
        }
        rig.master.Midi(0, 0x80, 67, 0);
        rig.master.Midi(0, 0x80, 64, 0);
        rig.Blocks(1);
        rig.master.Midi(0, 0x90, 72, 100);
        rig.Blocks(1);
        EXPECT_EQ(rig.master.plugin->NoteOfVoice(1), 60);
        EXPECT_EQ(rig.master.plugin->NoteOfVoice(2), 72);
    }
}

TEST(VoiceControllerPolyphony, PedalHoldsVoicesAndBendReachesAllAtOnce)
{
    Rig rig(2);
    rig.master.Midi(0, 0xB0, 64, 127);
    rig.master.Midi(0, 0x90, 60, 100);
    rig.master.Midi(0, 0x90, 62, 100);
    rig.Blocks(1);
    rig.master.Midi(0, 0x80, 60, 0);
    rig.master.Midi(0, 0x80, 62, 0);
    rig.Blocks(1);
    for (auto& v : rig.voices)
        EXPECT_TRUE(v->plugin->GateOpen());
    rig.master.Midi(0, 0xB0, 64, 0);
    rig.master.Midi(20, 0xE0, 0x7F, 0x7F);
    rig.Blocks(1);
    for (auto& v : rig.voices) {
        EXPECT_FALSE(v->plugin->GateOpen());
        // Bend changes the pitch output at the same frame in every voice
        // (frame 20 + the pedal's marker frame).
        EXPECT_NE(v->buffers[0][21], v->buffers[0][20]);
    }
    EXPECT_NEAR(rig.voices[0]->buffers[0][21] - rig.voices[0]->buffers[0][20],
                rig.voices[1]->buffers[0][21] - rig.voices[1]->buffers[0][20], 1e-4);
}

TEST(VoiceControllerPolyphony, MarkerReadTwiceOrConstantAudioPlaysOnce)
{
    Rig rig(1);
    rig.master.Midi(0, 0x90, 60, 100);
    rig.Blocks(1);
    Instance& voice = *rig.voices[0];
    EXPECT_EQ(voice.plugin->HeldCount(), 1);
    voice.Midi(0, 0x80, 60, 0); // the voice's own MIDI still plays it
    std::vector<float> markers(kBlock, MarkerSample(0));
    voice.Block(markers.data()); // batch 0 over and over: already taken
    EXPECT_EQ(voice.plugin->HeldCount(), 0);
    EXPECT_FALSE(voice.plugin->GateOpen());
}

TEST(VoiceControllerPolyphony, BigFrameSpillsIntoFurtherBatchesWithoutLoss)
{
    Rig rig(16);
    // 16 notes, then all notes off and 16 again in one frame: far more
    // messages than one batch holds.
    for (int n = 0; n < 16; ++n)
        rig.master.Midi(kBlock - 1, 0x90, 40 + n, 100);
    rig.master.Midi(kBlock - 1, 0xB0, 123, 0);
    for (int n = 0; n < 16; ++n)
        rig.master.Midi(kBlock - 1, 0x90, 70 + n, 100);
    rig.Blocks(2); // the last frame's markers are owed to the next block
    for (int v = 0; v < 16; ++v) {
        EXPECT_EQ(rig.voices[v]->plugin->CurrentNote(), 70.0f + v) << v;
        EXPECT_EQ(rig.voices[v]->plugin->HeldCount(), 1) << v;
    }
}

TEST(VoiceControllerPolyphony, MasterRemovedWhileVoiceReads)
{
    for (int round = 0; round < 20; ++round) {
        auto master = std::make_unique<Instance>(1, 2);
        Instance voice(2, 1);
        std::vector<float> silence(kBlock, 0.0f);
        master->Midi(0, 0x90, 60, 100);
        master->Block(silence.data());
        std::vector<float> markers(master->buffers[0]);
        for (int i = 0; i < kBlock; i += 4)
            markers[i] = MarkerSample(i % 64);
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            while (!stop.load())
                voice.Block(markers.data());
        });
        master.reset(); // host's thread, while the voice's audio thread reads
        stop.store(true);
        audio.join();
    }
}

TEST(VoiceControllerPolyphony, NoAllocationOnTheAudioPath)
{
    Rig rig(3);
    rig.Blocks(2);
    std::vector<float> silence(kBlock, 0.0f);
    for (int n = 0; n < 8; ++n)
        rig.master.Midi(n * 4, 0x90, 50 + n, 100);
    rig.master.Midi(40, 0xE0, 0, 0x50);
    rig.master.Midi(50, 0xB0, 123, 0);
    rig.master.SendEvents();
    corvane::test::AllocationCounter counter;
    rig.Blocks(2);
    EXPECT_EQ(counter.Count(), 0);
}

} // namespace

// The same chord with three instances made by the module through our host,
// the voices fed the master's output 1 as a host's routing would.
TEST(VoiceControllerPolyphony, ChordThroughTheModule)
{
    corvane::test::ScopedUserFolders folders;
    using corvane::host::Plugin;
    constexpr int32_t kFrames = 64;
    auto make = [](float polyMode, float number) {
        auto plugin = Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZs1"));
        EXPECT_TRUE(plugin);
        plugin->Start(48000, kFrames);
        plugin->SetParameter(vctest::kPolyMode, polyMode / 2.0f);               // Indexed 0..2
        plugin->SetParameter(vctest::kPolyphonyVoice, (number - 1.0f) / 15.0f); // Indexed 1..16
        return plugin;
    };
    auto master = make(1, 2);
    std::vector<std::unique_ptr<Plugin>> voices;
    voices.push_back(make(2, 1));
    voices.push_back(make(2, 2));
    std::vector<std::vector<float>> masterOut, voiceOut[2];
    const std::vector<std::vector<float>> silence{std::vector<float>(kFrames, 0.0f)};
    auto blocks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            master->ProcessBlock(silence, masterOut, kFrames);
            for (size_t v = 0; v < voices.size(); ++v)
                voices[v]->ProcessBlock({masterOut[0]}, voiceOut[v], kFrames);
        }
    };
    blocks(1); // roles are published by the first block
    master->SendMidi({{10, {0x90, 60, 100}}, {10, {0x90, 64, 100}}});
    blocks(1);
    for (auto& out : voiceOut) {
        EXPECT_EQ(out[1][9], 0.0f);
        EXPECT_EQ(out[1][10], 1.0f);
    }
    master->SendMidi({{0, {0x80, 60, 0}}, {0, {0x80, 64, 0}}});
    blocks(2);
    for (auto& out : voiceOut)
        EXPECT_EQ(out[1][kFrames - 1], 0.0f);
}
