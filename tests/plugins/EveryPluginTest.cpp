// Every entry of the module through our host, as a host that saves and
// reopens projects sees it: the state (whole and program only) carries every
// parameter into a fresh instance; damaged states load safely; and extreme
// parameters, a broken transport and hostile input never leave an output
// that is not a number once ordinary input comes back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "framework/StateChunk.h"
#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;

namespace {

const std::vector<ShellEntry>& Entries()
{
    static const std::vector<ShellEntry> entries = [] {
        auto shell = Plugin::Create(LoadedModule(), 0);
        return shell ? shell->EnumerateShell() : std::vector<ShellEntry>{};
    }();
    return entries;
}

std::string Describe(const ShellEntry& e)
{
    return e.name + (e.instrument ? " (instrument)" : " (effect)");
}

std::unique_ptr<Plugin> Open(const ShellEntry& e, double rate = 48000, int32_t block = 512)
{
    auto plugin = Plugin::Create(LoadedModule(), e.id);
    if (plugin)
        plugin->Start(rate, block);
    return plugin;
}

// A server port moved away from this binary's range could meet another's.
bool IsPortOffset(Plugin& plugin, int32_t index)
{
    return plugin.ParameterName(index) == "OSC Port Offset";
}

// Every parameter at a value of its own, spread over the whole range.
void SetSpread(Plugin& plugin, int salt)
{
    for (int32_t i = 0; i < plugin.NumParams(); ++i)
        if (!IsPortOffset(plugin, i))
            plugin.SetParameter(i, static_cast<float>((i * 7 + salt) % 11) / 10.0f);
}

// Blocks of constant input; true when every output sample is a number.
bool RunFinite(Plugin& plugin, float input, int blocks, int32_t frames = 256)
{
    bool finite = true;
    std::vector<std::vector<float>> in(std::max(plugin.NumInputs(), 2), std::vector<float>(frames, input)), out;
    for (int b = 0; b < blocks; ++b) {
        plugin.ProcessBlock(in, out, frames);
        for (const auto& channel : out)
            finite = finite && AllFinite(channel);
    }
    return finite;
}

// The state with every 4-byte word of every record but the plug-in's id
// replaced by `words` in turn, in either byte order: a damaged project, or
// one from a machine of the other byte order.
std::vector<uint8_t> WithWords(std::vector<uint8_t> bytes, const std::vector<uint32_t>& words, bool bigEndian)
{
    constexpr uint32_t kIdTag = 0x70756964; // 'puid'
    size_t at = 12, k = 0;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = StateChunk::LoadU32(&bytes[at + 4]);
        const size_t end = std::min<size_t>(bytes.size(), at + 8 + size);
        for (size_t i = at + 8; StateChunk::LoadU32(&bytes[at]) != kIdTag && i + 4 <= end; i += 4, ++k)
            for (size_t b = 0; b < 4; ++b) {
                const uint32_t w = words[k % words.size()];
                bytes[i + b] = static_cast<uint8_t>(bigEndian ? w >> (24 - 8 * b) : w >> (8 * b));
            }
        at += 8 + ((static_cast<size_t>(size) + 3) & ~size_t{3});
    }
    return bytes;
}

class EveryPlugin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Entries().size(), 25u); }
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(EveryPlugin, StateCarriesEveryParameterIntoAFreshInstance)
{
    for (const ShellEntry& e : Entries()) {
        SCOPED_TRACE(Describe(e));
        auto source = Open(e);
        ASSERT_TRUE(source);
        SetSpread(*source, 3);
        RunFinite(*source, 0.25f, 1); // anything the audio thread applies is in place
        for (const bool programOnly : {false, true}) {
            SCOPED_TRACE(programOnly ? "program" : "bank");
            const std::vector<uint8_t> chunk = source->GetChunk(programOnly);
            ASSERT_FALSE(chunk.empty());
            auto copy = Open(e);
            ASSERT_TRUE(copy);
            SetSpread(*copy, 8); // different values that the state must replace
            EXPECT_NE(copy->SetChunk(chunk, programOnly), 0);
            for (int32_t i = 0; i < source->NumParams(); ++i) {
                EXPECT_EQ(copy->GetParameter(i), source->GetParameter(i)) << source->ParameterName(i);
                EXPECT_EQ(copy->ParameterDisplay(i), source->ParameterDisplay(i)) << source->ParameterName(i);
            }
            EXPECT_EQ(copy->ProgramName(), source->ProgramName());
        }
    }
}

// A program name set by the host is the name it reads back and the name its
// project saves: one limit (23 characters) both ways.
TEST_F(EveryPlugin, ProgramNameHasOneLimitBothWays)
{
    const std::string names[] = {"Short", "Twenty-three characters", "Twenty-four characters!!",
                                 "A program name far longer than any host buffer"};
    for (const ShellEntry& e : Entries()) {
        SCOPED_TRACE(Describe(e));
        auto plugin = Open(e);
        ASSERT_TRUE(plugin);
        for (const std::string& name : names) {
            std::vector<char> text(name.begin(), name.end());
            text.push_back(0);
            plugin->Dispatch(effSetProgramName, 0, 0, text.data());
            const std::string kept = name.substr(0, 23);
            EXPECT_EQ(plugin->ProgramName(), kept);
            const std::vector<uint8_t> chunk = plugin->GetChunk(true);
            const std::string bytes(chunk.begin(), chunk.end());
            if (bytes.find(kept.substr(0, 10)) != std::string::npos) { // programs whose state holds the name
                EXPECT_NE(bytes.find(kept + std::string(1, '\0')), std::string::npos) << name;
            }
        }
    }
}

TEST_F(EveryPlugin, DamagedStatesLoadSafely)
{
    for (const ShellEntry& e : Entries()) {
        SCOPED_TRACE(Describe(e));
        auto source = Open(e);
        ASSERT_TRUE(source);
        SetSpread(*source, 5);
        const std::vector<uint8_t> chunk = source->GetChunk();
        ASSERT_GE(chunk.size(), 12u);
        std::vector<std::vector<uint8_t>> damaged;
        for (const size_t keep : {size_t{0}, size_t{1}, size_t{11}, size_t{12}, size_t{20}, chunk.size() / 2,
                                  chunk.size() - 1})
            damaged.emplace_back(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(keep));
        // NaN, infinities, numbers far beyond every range and lengths that lie.
        const std::vector<uint32_t> words{0x7FC00000, 0x7F800000, 0xFF800000, 0x4E6E6B28, 0xCE6E6B28, 0xFFFFFFFF};
        for (const bool bigEndian : {false, true})
            damaged.push_back(WithWords(chunk, words, bigEndian));
        for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}})
            damaged.emplace_back(chunk.size(), fill);
        for (size_t d = 0; d < damaged.size(); ++d) {
            SCOPED_TRACE("damaged state " + std::to_string(d));
            auto copy = Open(e);
            ASSERT_TRUE(copy);
            copy->SetChunk(damaged[d]);
            copy->SetChunk(damaged[d], true);
            for (int32_t i = 0; i < copy->NumParams(); ++i) {
                const float v = copy->GetParameter(i);
                EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << copy->ParameterName(i) << " = " << v;
                EXPECT_EQ(copy->ParameterDisplay(i).find("nan"), std::string::npos) << copy->ParameterName(i);
            }
            EXPECT_TRUE(RunFinite(*copy, 0.25f, 2));
        }
    }
}

TEST_F(EveryPlugin, HostileSettingsAndInputLeaveOrdinaryInputFinite)
{
    constexpr float kHuge = std::numeric_limits<float>::max();
    const float hostile[] = {kNaN, kInf, -kInf, kHuge, -kHuge, 1e-40f};
    struct Setup {
        const char* what;
        float setting; // every parameter, normalised
        double rate;
        int32_t announced, block;
        double tempo = 120, ppq = 0;
        bool answerTime = true;
    };
    const Setup setups[] = {
        {"every parameter at its minimum", 0.0f, 48000, 512, 256},
        {"every parameter at its maximum", 1.0f, 48000, 512, 256},
        {"sample rate 0", 0.5f, 0, 512, 256},
        {"sample rate NaN", 0.5f, std::numeric_limits<double>::quiet_NaN(), 512, 256},
        {"sample rate 1e30", 1.0f, 1e30, 512, 256},
        {"blocks longer than announced", 0.3f, 44100, 64, 3000},
        {"tempo NaN", 0.7f, 48000, 512, 256, std::nan("")},
        {"tempo infinite, position NaN", 0.7f, 48000, 512, 256, std::numeric_limits<double>::infinity(), std::nan("")},
        {"tempo negative, position 1e300", 0.7f, 48000, 512, 256, -120, 1e300},
        {"no time from the host", 0.7f, 48000, 512, 256, 120, 0, false},
    };
    StderrCapture quiet; // overflowing queues say so, as they should
    for (const ShellEntry& e : Entries()) {
        SCOPED_TRACE(Describe(e));
        for (const Setup& s : setups) {
            SCOPED_TRACE(s.what);
            auto plugin = Open(e, s.rate, s.announced);
            ASSERT_TRUE(plugin);
            for (int32_t i = 0; i < plugin->NumParams(); ++i)
                if (!IsPortOffset(*plugin, i))
                    plugin->SetParameter(i, s.setting);
            Transport& time = plugin->Time();
            time.playing = true;
            time.tempo = s.setting == 0.0f ? 0.0 : (s.setting == 1.0f ? 1e9 : s.tempo);
            time.ppqPos = s.setting == 0.0f ? -1e12 : (s.setting == 1.0f ? 1e12 : s.ppq);
            time.answerTime = s.answerTime;
            time.samplePos = -1;
            time.timeSigNumerator = 0;
            time.changed = true;
            plugin->SendMidi({{0, {0x90, 60, 127}}, {3, {0xB0, 64, 127}}, {5, {0xE0, 127, 127}}, {9, {0xF8, 0, 0}}});
            EXPECT_TRUE(RunFinite(*plugin, 0.5f, 3, s.block));
            for (const float x : hostile)
                RunFinite(*plugin, x, 1, s.block);
            time = Transport{};
            time.playing = true;
            plugin->SendMidi({{0, {0x80, 60, 0}}, {1, {0xB0, 123, 0}}});
            EXPECT_TRUE(RunFinite(*plugin, 0.25f, 4, s.block));
        }
    }
}

// Shared rules of the value texts: a port offset of 0 is a closed server,
// and smoothing within half a millisecond of 0 is none.
TEST_F(EveryPlugin, OffShowsAClosedPortAndSmoothingWithinHalfAMillisecond)
{
    int ports = 0, smoothings = 0;
    for (const ShellEntry& e : Entries()) {
        SCOPED_TRACE(Describe(e));
        auto plugin = Open(e);
        ASSERT_TRUE(plugin);
        for (int32_t i = 0; i < plugin->NumParams(); ++i) {
            VstParameterProperties properties{};
            plugin->Dispatch(effGetParameterProperties, i, 0, &properties);
            const std::string name = properties.label;
            std::vector<std::pair<float, bool>> shown; // normalised value, shown as "Off"
            if (name == "OSC Port Offset") {
                ++ports;
                shown = {{0.0f, true}, {0.03f, false}, {0.0f, true}};
            } else if (name.size() > 9 && name.compare(name.size() - 9, 9, "Smoothing") == 0) {
                ++smoothings; // -500..500 ms
                shown = {{0.5f, true}, {0.5004f, true}, {0.4996f, true}, {0.5006f, false}, {0.4994f, false}, {1.0f, false}};
            }
            for (const auto& [value, off] : shown) {
                plugin->SetParameter(i, value);
                EXPECT_EQ(plugin->ParameterDisplay(i) == "Off", off) << name << " at " << value << ": "
                                                                     << plugin->ParameterDisplay(i);
            }
        }
    }
    EXPECT_GE(ports, 20);
    EXPECT_GE(smoothings, 10);
}

} // namespace
