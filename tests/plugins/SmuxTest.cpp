// SMUX through the built module and our host: the interleave of input pairs,
// the Flip switches, and the parity carried across blocks of any size and
// across the pieces that MIDI events cut blocks into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

namespace {

using corvane::host::MidiMessage;
using corvane::host::Plugin;
using corvane::test::LoadedModule;
using corvane::test::Stereo;

constexpr int32_t kSmuxId = vst::FourCC("QZsb");
enum : int32_t { kFlipL = 0, kFlipR = 1 };

std::unique_ptr<Plugin> MakeSmux()
{
    auto plugin = Plugin::Create(LoadedModule(), kSmuxId);
    if (!plugin)
        throw std::runtime_error("the module gives no SMUX");
    plugin->Start(48000, 512);
    return plugin;
}

// One block with every input constant: input k (0-based) carries k + 1.
Stereo ConstantBlock(Plugin& smux, int32_t frames)
{
    std::vector<std::vector<float>> inputs;
    for (int k = 0; k < 4; ++k)
        inputs.emplace_back(static_cast<size_t>(frames), static_cast<float>(k + 1));
    std::vector<std::vector<float>> outputs;
    smux.ProcessBlock(inputs, outputs, frames);
    return {outputs[0], outputs[1]};
}

TEST(Smux, BlocksOfThreeThenFourContinueTheAlternation)
{
    const struct {
        bool flipL, flipR;
        std::vector<float> left3, left4, right3, right4;
    } rows[] = {
        {false, false, {1, 2, 1}, {2, 1, 2, 1}, {3, 4, 3}, {4, 3, 4, 3}},
        {true, false, {2, 1, 2}, {1, 2, 1, 2}, {3, 4, 3}, {4, 3, 4, 3}},
        {false, true, {1, 2, 1}, {2, 1, 2, 1}, {4, 3, 4}, {3, 4, 3, 4}},
        {true, true, {2, 1, 2}, {1, 2, 1, 2}, {4, 3, 4}, {3, 4, 3, 4}},
    };
    for (const auto& row : rows) {
        auto smux = MakeSmux();
        smux->SetParameter(kFlipL, row.flipL ? 1.0f : 0.0f);
        smux->SetParameter(kFlipR, row.flipR ? 1.0f : 0.0f);
        const Stereo first = ConstantBlock(*smux, 3);
        const Stereo empty = ConstantBlock(*smux, 0); // changes nothing
        const Stereo second = ConstantBlock(*smux, 4);
        const std::string what = std::string("flip L ") + (row.flipL ? "on" : "off") + ", R " +
                                 (row.flipR ? "on" : "off");
        EXPECT_EQ(first.left, row.left3) << what;
        EXPECT_EQ(first.right, row.right3) << what;
        EXPECT_TRUE(empty.left.empty());
        EXPECT_EQ(second.left, row.left4) << what;
        EXPECT_EQ(second.right, row.right4) << what;
    }
}

TEST(Smux, AnyBlockSizesAndEventsGiveTheSameStream)
{
    // Input k at stream sample g carries 1000 k + g: every output sample
    // shows which input and which sample it came from.
    auto smux = MakeSmux();
    smux->SetParameter(kFlipR, 1);
    std::mt19937 random(1234);
    int64_t g = 0;
    for (int block = 0; block < 300; ++block) {
        const int32_t frames = static_cast<int32_t>(random() % 40); // 0 too
        if (frames > 0 && random() % 2 == 0) {
            std::vector<MidiMessage> midi;
            for (int e = 0; e < 3; ++e)
                midi.push_back(MidiMessage{static_cast<int32_t>(random() % frames), {0xB0, 7, 64}});
            std::sort(midi.begin(), midi.end(),
                      [](const MidiMessage& a, const MidiMessage& b) { return a.deltaFrames < b.deltaFrames; });
            smux->SendMidi(midi);
        }
        std::vector<std::vector<float>> inputs(4);
        for (int k = 0; k < 4; ++k)
            for (int32_t n = 0; n < frames; ++n)
                inputs[k].push_back(static_cast<float>(1000 * k + g + n));
        std::vector<std::vector<float>> outputs;
        smux->ProcessBlock(inputs, outputs, frames);
        for (int32_t n = 0; n < frames; ++n, ++g) {
            const bool odd = g % 2 != 0;
            ASSERT_EQ(outputs[0][n], static_cast<float>((odd ? 1000 : 0) + g)) << "sample " << g;
            ASSERT_EQ(outputs[1][n], static_cast<float>((odd ? 2000 : 3000) + g)) << "sample " << g;
        }
    }
    EXPECT_GT(g, 3000);
}

} // namespace
