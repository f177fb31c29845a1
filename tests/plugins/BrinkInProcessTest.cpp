// The Brink Controller built in-process: the all-sound-off property through
// the command queue, the frame shown in its indicator block, its value-name
// lists, program values nobody checked, and an audio path that allocates
// nothing; routes that follow every change and buffers that overlap partly.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "plugins/brink/ObryCorvaneBrinkController.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/BrinkTestSupport.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

namespace {

using ObryCorvaneBrinkController::ObryCorvane;

using corvane::test::InProcessTime;
using corvane::test::StartInProcessTransport;

struct Block {
    std::vector<std::vector<float>> in = std::vector<std::vector<float>>(8, std::vector<float>(512, 0.0f));
    std::vector<float> left = std::vector<float>(512), right = std::vector<float>(512);
    float* inputs[8];
    float* outputs[2];
    Block()
    {
        for (int c = 0; c < 8; ++c)
            inputs[c] = in[c].data();
        outputs[0] = left.data();
        outputs[1] = right.data();
    }
};

corvane::test::InProcessPlugin<ObryCorvane> Make(bool instrument = false)
{
    corvane::test::InProcessPlugin<ObryCorvane> brink(new ObryCorvane(corvane::test::InProcessHost, instrument));
    brink->setSampleRate(48000);
    brink->setBlockSize(512);
    brink->resume();
    return brink;
}

TEST(BrinkInProcess, AllSoundOffRunsOnTheAudioThread)
{
    StartInProcessTransport(0);
    auto brink = Make();
    brink->SetParameterValue(ObryCorvane::kMidiOutMidiChannel, 17, false);
    brink->SetParameterValue(ObryCorvane::kGatesMidiChannel + 2, 2, false); // group 2 on channel 2
    brink->SetParameterValue(ObryCorvane::kChGateOutput, 6, false);          // Gates 1/1

    uint32_t size = 0;
    uint8_t writable = 0;
    EXPECT_EQ(brink->GetPropertyInfo(kObryProperty_AllSoundOff, 0, 0, &size, &writable), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(writable, 1);
    EXPECT_EQ(brink->GetPropertyInfo(kObryProperty_IndicatorBlock, 0, 0, &size, &writable), 0);
    EXPECT_EQ(size, sizeof(void*));
    EXPECT_EQ(brink->GetPropertyInfo(64012, 0, 0, &size, &writable), kAudioUnitErr_InvalidProperty);

    corvane::test::HostEvents midi;
    midi.Midi(0x90, 60, 100, 0);
    midi.Midi(0x91, 50, 100, 0);
    brink->processEvents(midi.Events());
    Block block;
    brink->processReplacing(block.inputs, block.outputs, 512);
    brinktest::Frame f = brinktest::FrameOf(block.left[511], block.right[511]);
    EXPECT_EQ(f.b[0], 48 | 1);
    EXPECT_EQ(f.b[1], 0x04);
    // The two notes went out on the serial line within the block.
    const size_t forwarded = brink->MidiOut().Queued();
    EXPECT_EQ(forwarded, 0u);

    // Set from another thread: nothing happens until the audio thread runs.
    std::thread([&] {
        EXPECT_EQ(brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0);
    }).join();
    EXPECT_EQ(brink->MidiOut().Queued(), forwarded);
    EXPECT_EQ(brink->SetProperty(kObryProperty_AllSoundOff, 1, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(brink->SetProperty(64093, 0, 0, nullptr, 0), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(brink->SetProperty(kObryProperty_ReapplyPortOffset, 0, 0, nullptr, 0), 0);

    brink->processReplacing(block.inputs, block.outputs, 512);
    f = brinktest::FrameOf(block.left[511], block.right[511]);
    EXPECT_EQ(f.b[0], 64); // the voice's note went back to 0
    EXPECT_EQ(f.b[1], 0);
    // Controller 120 on all 16 channels went to the serial output too:
    // 48 bytes, of which the block sent 32 (16 samples a byte).
    EXPECT_EQ(brink->MidiOut().Queued(), 16u);

    brink->processReplacing(block.inputs, block.outputs, 512);
    EXPECT_EQ(brink->MidiOut().Queued(), 0u);

    // Many requests while no audio runs: one waits, the queue does not
    // overflow, and the next block does the work once.
    {
        corvane::test::StderrCapture capture;
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0);
        EXPECT_EQ(capture.Text(), "");
    }
    brink->processReplacing(block.inputs, block.outputs, 512);
    EXPECT_EQ(brink->MidiOut().Queued(), 48u - 32u);
    brink->processReplacing(block.inputs, block.outputs, 512);
    EXPECT_EQ(brink->MidiOut().Queued(), 0u);
    EXPECT_EQ(brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0);
    brink->processReplacing(block.inputs, block.outputs, 512);
    EXPECT_EQ(brink->MidiOut().Queued(), 48u - 32u);
}

// The editor presses "all sound off" while audio runs: every request is
// either done by a block after it or covered by one that is.
TEST(BrinkInProcess, AllSoundOffFromAnotherThreadWhileAudioRuns)
{
    StartInProcessTransport(0);
    auto brink = Make();
    std::atomic<bool> stop{false};
    std::thread editor([&] {
        while (!stop.load())
            brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0);
    });
    Block block;
    corvane::test::HostEvents midi;
    midi.Midi(0x90, 60, 100, 0);
    for (int b = 0; b < 300; ++b) {
        brink->processEvents(midi.Events());
        brink->processReplacing(block.inputs, block.outputs, 512);
    }
    stop = true;
    editor.join();
    // The last request is still done: the note goes.
    brink->processEvents(midi.Events());
    brink->processReplacing(block.inputs, block.outputs, 512);
    brinktest::Frame f = brinktest::FrameOf(block.left[511], block.right[511]);
    EXPECT_EQ(f.b[2], 255);
    EXPECT_EQ(brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0), 0);
    brink->processReplacing(block.inputs, block.outputs, 512);
    f = brinktest::FrameOf(block.left[511], block.right[511]);
    EXPECT_EQ(f.b[2], 0);
}

TEST(BrinkInProcess, IndicatorShowsTheLastFrame)
{
    StartInProcessTransport(0);
    auto brink = Make();
    brink->SetParameterValue(ObryCorvane::kOutput1 + 1, 17, false);
    brink->SetParameterValue(ObryCorvane::kOutput1 + 4, 0xA5, false);
    corvane::test::HostEvents midi;
    midi.Midi(0x90, 72, 100, 0);
    brink->processEvents(midi.Events());
    Block block;
    brink->processReplacing(block.inputs, block.outputs, 512);
    const uint8_t* shown = brink->GetIndicatorBlock() + ObryCorvane::kIndicatorFrameBytes;
    const uint8_t expected[5] = {96, 17, 255, 0, 0xA5};
    EXPECT_EQ(0, memcmp(shown, expected, 5));
    // Test signals leave the display alone.
    brink->SetParameterValue(ObryCorvane::kTestSignal, 3, false);
    brink->processReplacing(block.inputs, block.outputs, 512);
    EXPECT_EQ(0, memcmp(shown, expected, 5));
}

// The routes of the inputs (CV inputs, gate inputs, Input Thru) are kept
// from piece to piece: after every change of one, a block has the bits of a
// fresh instance made with the new settings.
TEST(BrinkInProcess, RoutesFollowEveryChange)
{
    struct Case {
        const char* name;
        int32_t parameter;
        float before, after;
    };
    const Case cases[] = {
        {"CV input routed, then off", ObryCorvane::kInput1, 2, 0},
        {"CV input off, then routed", ObryCorvane::kInput1 + 3, 0, 3},
        {"CV input moved", ObryCorvane::kInput1 + 2, 4, 7},
        {"CV input made bipolar", ObryCorvane::kInputMode1 + 1, 0, 1},
        {"Input Thru on, then off", ObryCorvane::kInputThru, 1, 0},
        {"Input Thru off, then on", ObryCorvane::kInputThru, 0, 2},
        {"Input Thru moved", ObryCorvane::kInputThru, 1, 3},
        {"gate input routed, then off", ObryCorvane::kInputToGate1 + 3, 5, 0},
        {"gate input off, then routed", ObryCorvane::kInputToGate1 + 6, 0, 12},
    };
    StartInProcessTransport(0);
    Block block;
    for (int c = 0; c < 8; ++c)
        for (int i = 0; i < 512; ++i)
            block.in[c][i] = 0.05f * static_cast<float>(c) - 0.1f + 0.002f * static_cast<float>(i % 97);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto changed = Make();
        auto fresh = Make();
        // Another CV input stays routed; no stream merged (its words would
        // cover the bytes) unless the case says so.
        for (auto* brink : {&changed, &fresh}) {
            (*brink)->SetParameterValue(ObryCorvane::kInput1 + 1, 1, false);
            (*brink)->SetParameterValue(ObryCorvane::kInputThru, 0, false);
        }
        changed->SetParameterValue(c.parameter, c.before, false);
        for (int b = 0; b < 3; ++b)
            changed->processReplacing(block.inputs, block.outputs, 64);
        changed->SetParameterValue(c.parameter, c.after, false);
        fresh->SetParameterValue(c.parameter, c.after, false);
        Block expected;
        for (int ch = 0; ch < 8; ++ch)
            expected.in[ch] = block.in[ch];
        changed->processReplacing(block.inputs, block.outputs, 512);
        fresh->processReplacing(expected.inputs, expected.outputs, 512);
        EXPECT_EQ(memcmp(block.left.data(), expected.left.data(), 512 * sizeof(float)), 0);
        EXPECT_EQ(memcmp(block.right.data(), expected.right.data(), 512 * sizeof(float)), 0);
    }
}

// An output that starts a sample after a routed input's buffer (a broken
// host): the frames go one at a time, each read before it is written, as
// blocks of one frame each give.
TEST(BrinkInProcess, PartlyOverlappingBuffersGoFrameByFrame)
{
    struct Case {
        const char* name;
        int32_t parameter; // routes input 2, whose buffer the left output overlaps
        float value;
    };
    const Case cases[] = {
        {"CV input", ObryCorvane::kInput1, 2},
        {"gate input", ObryCorvane::kInputToGate1 + 1, 9},
        {"Input Thru", ObryCorvane::kInputThru, 1},
    };
    StartInProcessTransport(0);
    constexpr int kFrames = 64;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> memory[2], right[2];
        std::vector<std::vector<float>> in(8, std::vector<float>(kFrames + 1));
        for (int ch = 0; ch < 8; ++ch)
            for (int i = 0; i <= kFrames; ++i)
                in[ch][i] = 0.05f * static_cast<float>(ch) - 0.1f + 0.007f * static_cast<float>(i);
        for (int run = 0; run < 2; ++run) {
            auto brink = Make();
            brink->SetParameterValue(ObryCorvane::kInputThru, 0, false);
            brink->SetParameterValue(c.parameter, c.value, false);
            memory[run] = in[1];
            right[run].assign(kFrames, 0.0f);
            float* inputs[8];
            for (int ch = 0; ch < 8; ++ch)
                inputs[ch] = in[ch].data();
            inputs[1] = memory[run].data();
            float* outputs[2] = {memory[run].data() + 1, right[run].data()};
            if (run == 0) {
                brink->processReplacing(inputs, outputs, kFrames);
                continue;
            }
            for (int i = 0; i < kFrames; ++i) {
                float* at[8];
                for (int ch = 0; ch < 8; ++ch)
                    at[ch] = inputs[ch] + i;
                float* out[2] = {outputs[0] + i, outputs[1] + i};
                brink->processReplacing(at, out, 1);
            }
        }
        EXPECT_EQ(memcmp(memory[0].data(), memory[1].data(), (kFrames + 1) * sizeof(float)), 0);
        EXPECT_EQ(memcmp(right[0].data(), right[1].data(), kFrames * sizeof(float)), 0);
    }
}

TEST(BrinkInProcess, AudioPathAllocatesNothing)
{
    StartInProcessTransport(0);
    auto brink = Make();
    brink->SetParameterValue(ObryCorvane::kMidiOutMidiChannel, 17, false);
    brink->SetParameterValue(ObryCorvane::kMidiOutClock, 1, false);
    brink->SetParameterValue(ObryCorvane::kMidiClockSwing, 65, false);
    brink->SetParameterValue(ObryCorvane::kGatesMidiChannel, 1, false);
    brink->SetParameterValue(ObryCorvane::kTriggerLength, 1, false);
    brink->SetParameterValue(ObryCorvane::kInput1, 3, false);
    brink->SetParameterValue(ObryCorvane::kInputToGate1 + 1, 7, false);
    corvane::test::HostEvents midi;
    for (int n = 0; n < 60; ++n)
        midi.Midi(static_cast<uint8_t>(n % 2 ? 0x80 : 0x90), static_cast<uint8_t>(40 + n % 20), 90, n * 8);
    Block block;
    for (int i = 0; i < 512; ++i)
        block.in[2][i] = 0.3f;
    corvane::test::HostEvents dump;
    dump.SysEx({0xF0, 0x7D, 1, 2, 3, 0xF7});

    int allocations = 0;
    for (int b = 0; b < 50; ++b) {
        // The host's event thread writes the queue (a SysEx copy may allocate there).
        brink->processEvents(midi.Events());
        brink->processEvents(dump.Events());
        if (b % 10 == 5)
            brink->SetProperty(kObryProperty_AllSoundOff, 0, 0, nullptr, 0);
        corvane::test::AllocationCounter counter;
        brink->processReplacing(block.inputs, block.outputs, 512);
        allocations += counter.Count();
        InProcessTime().ppqPos += 512 / 24000.0;
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(brink->MidiOut().Queued(), 0u);
}

} // namespace

namespace {

// The serial line (gate bit 39) of `frames` samples with the MIDI clock on,
// from song position 0, in host blocks of `block` samples, every input
// pointer null (the host gives none): the zero buffer takes their place.
std::vector<bool> ClockLine(int32_t frames, int32_t block)
{
    StartInProcessTransport(0);
    InProcessTime().flags |= kVstBarsValid;
    InProcessTime().barStartPos = 0;
    auto brink = Make();
    brink->SetParameterValue(ObryCorvane::kMidiOutClock, 1, false);
    brink->SetParameterValue(ObryCorvane::kMidiOutOutput, 39, false);
    brink->SetParameterValue(ObryCorvane::kChMidiChannel, 0, false);
    std::vector<float> left(static_cast<size_t>(frames)), right(static_cast<size_t>(frames));
    for (int32_t done = 0; done < frames; done += block) {
        InProcessTime().ppqPos = done / 24000.0;
        float* outputs[2] = {left.data() + done, right.data() + done};
        brink->processReplacing(nullptr, outputs, std::min(block, frames - done));
    }
    std::vector<bool> line;
    for (int32_t i = 0; i < frames; ++i)
        line.push_back(brinktest::FrameOf(left[static_cast<size_t>(i)], right[static_cast<size_t>(i)]).Gate(39));
    return line;
}

} // namespace

// A block far longer than announced is processed in pieces: the clocks of
// every piece fall where blocks of the announced size put them.
TEST(BrinkInProcess, LongBlockClocksAsShortOnes)
{
    const std::vector<bool> reference = ClockLine(40000, 500);
    const auto bytes = brinktest::DecodeSerial(reference, 48000);
    ASSERT_EQ(bytes.size(), 41u); // 0xFA and a clock every 1000 samples
    EXPECT_EQ(ClockLine(40000, 40000), reference);
    EXPECT_EQ(ClockLine(40000, 20000), reference);
}
