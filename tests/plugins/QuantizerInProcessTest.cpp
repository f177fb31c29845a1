// The Quantizer built in-process: the built-in scales from "midi.lua", the
// calibrated mode over the built-in tables and scales, the calibration
// properties and their listeners, the program chunk (both byte orders, lying
// lengths, texts without NUL, broken tables), bad input values, and the audio
// path's allocations while scales arrive from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "plugins/common/Calibration.h"
#include "plugins/quantizer/ObryCorvaneQuantizer.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::AllocationCounter;
using corvane::test::InProcessPlugin;
using corvane::test::kInf;
using corvane::test::kNaN;
using corvane::test::ReadIndicator;
using corvane::test::ScopedUserFolders;
using corvane::test::UniquePortBase;
using corvane::test::ValueNames;
using Quantizer = ObryCorvaneQuantizer::ObryCorvane;
using Program = ObryProgramQVqnv1;

namespace {

constexpr float kBrinkStep = 0.015686275f;
constexpr int32_t kFrames = 256;

class QuantizerInProcess : public ::testing::Test {
protected:
    void SetUp() override { plugin = corvane::test::MakeInProcess<Quantizer>(); }

    void Set(int32_t index, float real) { plugin->SetParameterValue(index, real, false); }
    void SetBoth(Quantizer::ChannelParameter which, float real)
    {
        Set(Quantizer::ParameterIndex(0, which), real);
        Set(Quantizer::ParameterIndex(1, which), real);
    }
    void SetBoth(Quantizer::ScaleParameter which, float real)
    {
        Set(Quantizer::ParameterIndex(0, which), real);
        Set(Quantizer::ParameterIndex(1, which), real);
    }
    void Calibrated()
    {
        SetBoth(Quantizer::kEnable, 1);
        SetBoth(Quantizer::kMode, 1);
    }
    void LoadBrink()
    {
        const uint8_t one = 1;
        ASSERT_EQ(plugin->SetProperty(kObryProperty_LoadBrinkCalibration, 0, 0, &one, 1), 0);
    }
    // One block through processReplacing: left input `in`, right input `in` too.
    std::vector<float> Run(const std::vector<float>& in, std::vector<float>* right = nullptr)
    {
        std::vector<float> l = in, r = in, outL(in.size()), outR(in.size());
        float* inputs[2] = {l.data(), r.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        plugin->processReplacing(inputs, outputs, static_cast<int32_t>(in.size()));
        if (right)
            *right = outR;
        return outL;
    }
    float RunOne(float x) { return Run(std::vector<float>(kFrames, x)).back(); }

    ScopedUserFolders folders{UniquePortBase()};
    InProcessPlugin<Quantizer> plugin;
};

TEST_F(QuantizerInProcess, BuiltInScalesFromMidiLua)
{
    ASSERT_EQ(plugin->ScaleCount(), 12u);
    const struct {
        uint32_t index;
        const char* name;
        uint16_t mask;
    } cases[] = {
        {0, "Major", 0xAB5},
        {4, "Dorian", 0x6AD},
        {9, "Pentatonic Maj", 0x295},
        {10, "Pentatonic Min", 0x4A9},
        {11, "Octaves", 0x001},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plugin->ScaleName(c.index), c.name);
        EXPECT_EQ(plugin->ScaleMask(c.index), c.mask) << c.name;
    }
    const auto names = ValueNames(*plugin, 0, Quantizer::ParameterIndex(1, Quantizer::kScale));
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names.front(), "Major");
    EXPECT_EQ(names.back(), "Octaves");
    EXPECT_EQ(plugin->GetParameterInfo(18)->max, 11.0f);
    EXPECT_EQ(plugin->GetParameterInfo(22)->max, 11.0f);
    EXPECT_EQ(ValueNames(*plugin, 0, 2), (std::vector<std::string>{"Manual", "Calibrated"}));
    EXPECT_EQ(ValueNames(*plugin, 0, 16).at(6), "F#/Gb");
    EXPECT_EQ(ValueNames(*plugin, 1, 16), std::vector<std::string>{"<error>"});
    EXPECT_EQ(corvane::test::TextFor(*plugin, 0, 0), "Off");
    EXPECT_EQ(corvane::test::TextFor(*plugin, 3, 0), "<refused>");
}

// A user "midi.lua" in place of the built-in one. Without scales "(none)" is
// the only name and an enabled selection keeps every entry; a scale whose
// list gives no semitone (an empty list, numbers out of range) keeps its
// place in the list, so a saved "Scale" picks the same scale, and keeps
// every entry.
TEST(QuantizerUserScales, ScalesKeepTheirPlace)
{
    const struct {
        const char* script;
        std::vector<std::string> names;
        float scale;
        float level; // for an input of 1.2 Brink steps
        int32_t note;
    } cases[] = {
        {"", {"(none)"}, 5, kBrinkStep, 49},
        {"addScale('Nothing', {})\naddScale('Major', {1, 3, 5, 6, 8, 10, 12})\naddScale('Outside', {0, 17, 'x'})\n",
         {"Nothing", "Major", "Outside"}, 1, 0, 48},
        {"addScale('Nothing', {})\naddScale('Major', {1, 3, 5, 6, 8, 10, 12})\n", {"Nothing", "Major"}, 0,
         kBrinkStep, 49},
        {"addScale('Nothing', {})\naddScale('Major', {1, 3, 5, 6, 8, 10, 12})\naddScale('Outside', {0, 17, 'x'})\n",
         {"Nothing", "Major", "Outside"}, 2, kBrinkStep, 49},
    };
    for (const auto& c : cases) {
        ScopedUserFolders folders{UniquePortBase()};
        corvane::test::WriteUserScript(folders.DataHome(), "Corvane Quantizer", "midi.lua", c.script);
        auto plugin = corvane::test::MakeInProcess<Quantizer>();
        const auto count = static_cast<uint32_t>(c.names.size() == 1 && c.names[0] == "(none)" ? 0 : c.names.size());
        EXPECT_EQ(plugin->ScaleCount(), count) << c.script;
        EXPECT_EQ(ValueNames(*plugin, 0, 18), c.names);
        EXPECT_EQ(plugin->GetParameterInfo(22)->max, count > 0 ? static_cast<float>(count - 1) : 0.0f);
        const uint8_t one = 1;
        plugin->SetProperty(kObryProperty_LoadBrinkCalibration, 0, 0, &one, 1);
        for (int32_t ch = 0; ch < 2; ++ch) {
            plugin->SetParameterValue(Quantizer::ParameterIndex(ch, Quantizer::kEnable), 1, false);
            plugin->SetParameterValue(Quantizer::ParameterIndex(ch, Quantizer::kMode), 1, false);
            plugin->SetParameterValue(Quantizer::ParameterIndex(ch, Quantizer::kEnableScale), 1, false);
            plugin->SetParameterValue(Quantizer::ParameterIndex(ch, Quantizer::kScale), c.scale, false);
        }
        std::vector<float> in(kFrames, 1.2f * kBrinkStep), outL(kFrames), outR(kFrames);
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        plugin->processReplacing(inputs, outputs, kFrames);
        EXPECT_FLOAT_EQ(outL.back(), c.level) << c.script << c.scale;
        EXPECT_EQ(ReadIndicator<int32_t>(*plugin, Quantizer::kIndicatorNote + 1), c.note);
    }
}

// Every scale in three keys over the Brink table: a sweep over all entries
// outputs exactly the entries whose note is in the scale, each at or below
// its input, and the indicator shows the note of the last one.
TEST_F(QuantizerInProcess, CalibratedQuantisesToScales)
{
    LoadBrink();
    Calibrated();
    SetBoth(Quantizer::kEnableScale, 1);
    for (uint32_t scale = 0; scale < plugin->ScaleCount(); ++scale) {
        for (int key : {0, 2, 7}) {
            SetBoth(Quantizer::kScale, static_cast<float>(scale));
            SetBoth(Quantizer::kKey, static_cast<float>(key));
            const uint16_t mask = plugin->ScaleMask(scale);
            std::vector<float> sweep;
            for (int i = 0; i < 63; ++i)
                sweep.push_back((static_cast<float>(i) + 0.5f) * kBrinkStep);
            const std::vector<float> out = Run(sweep);
            auto inScale = [&](int note) { return (mask & (1u << ((note - key + 240) % 12))) != 0; };
            std::set<int> notesSeen, expected;
            for (int note = 48; note < 48 + 63; ++note)
                if (inScale(note))
                    expected.insert(note);
            const float lowest = static_cast<float>(*expected.begin() - 48) * kBrinkStep;
            for (size_t i = 0; i < out.size(); ++i) {
                const int note = static_cast<int>(std::lround(out[i] / kBrinkStep)) + 48;
                ASSERT_TRUE(inScale(note)) << "scale " << scale << " key " << key << " input " << sweep[i];
                if (sweep[i] >= lowest) {
                    ASSERT_LE(out[i], sweep[i]);
                }
                notesSeen.insert(note);
            }
            EXPECT_EQ(notesSeen, expected) << "scale " << scale << " key " << key;
            const int last = ReadIndicator<int32_t>(*plugin, Quantizer::kIndicatorNote);
            EXPECT_EQ(last, static_cast<int>(std::lround(out.back() / kBrinkStep)) + 48);
        }
    }
}

TEST_F(QuantizerInProcess, CalibratedTransposeAndEdges)
{
    LoadBrink();
    Calibrated();
    const struct {
        float transpose;
        float input;
        float expected;
        int note;
    } cases[] = {
        {0, 10.2f * kBrinkStep, 10 * kBrinkStep, 58},
        {2, 10.2f * kBrinkStep, 12 * kBrinkStep, 60},
        {-3, 10.2f * kBrinkStep, 7 * kBrinkStep, 55},
        {-36, 10.2f * kBrinkStep, 0, 48},
        {-5, 5.0f, 63 * kBrinkStep, 111}, // at the top: no transposition
        {3, -1.0f, 3 * kBrinkStep, 51},    // below the bottom: entry 0, moved
    };
    for (const auto& c : cases) {
        SetBoth(Quantizer::kTranspose, c.transpose);
        EXPECT_NEAR(RunOne(c.input), c.expected, 1e-6f) << c.transpose << " " << c.input;
        EXPECT_EQ(ReadIndicator<int32_t>(*plugin, Quantizer::kIndicatorNote), c.note);
    }
    // Manual mode reports no note.
    SetBoth(Quantizer::kMode, 0);
    SetBoth(Quantizer::kTranspose, 0);
    EXPECT_NEAR(RunOne(0.01f), 0.0f, 1e-7f);
    EXPECT_NEAR(RunOne(-0.01f), -1.0f / 48, 1e-7f);
    EXPECT_EQ(ReadIndicator<int32_t>(*plugin, Quantizer::kIndicatorNote + 1), -1);
}

// 64091 builds the Dunmore table, tells the listeners of 64120 and 64121,
// and the name reads back; a short table record is refused.
TEST_F(QuantizerInProcess, CalibrationProperties)
{
    static std::vector<uint32_t> heard;
    heard.clear();
    auto listener = [](void*, ObryAuBase*, uint32_t id, uint32_t, uint32_t) { heard.push_back(id); };
    plugin->AddPropertyListener(kObryProperty_CalibrationTable, listener, nullptr);
    plugin->AddPropertyListener(kObryProperty_CalibrationName, listener, nullptr);
    const uint8_t one = 1;
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, &one, 1), 0);
    EXPECT_EQ(heard, (std::vector<uint32_t>{kObryProperty_CalibrationTable, kObryProperty_CalibrationName}));
    const QuantizerCalibration table = plugin->HostCalibration();
    EXPECT_EQ(table.count, 128u);
    EXPECT_FLOAT_EQ(table.levels[0], -60 * 0.015628817f);
    EXPECT_EQ(table.notes[127], 127);
    uint32_t size = 0;
    ASSERT_EQ(plugin->GetPropertyInfo(kObryProperty_CalibrationName, 0, 0, &size, nullptr), 0);
    char name[256];
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationName, 0, 0, name), 0);
    EXPECT_STREQ(name, "<Dunmore Calibration>");
    EXPECT_EQ(size, strlen(name) + 1);

    Calibrated();
    EXPECT_NEAR(RunOne(0.0f), 0.0f, 1e-7f); // entry 60 (level 0) plays note 60
    EXPECT_EQ(ReadIndicator<int32_t>(*plugin, Quantizer::kIndicatorNote), 60);

    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationTable, 0, 0, &table, 100), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationTable, 1, 0, &table, sizeof table), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->SetProperty(64016, 0, 0, &one, 1), kAudioUnitErr_InvalidProperty);
    // A name without a NUL ends at the data's end; one too long for the state is refused.
    const char unterminated[4] = {'A', 'B', 'C', 'D'};
    ASSERT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 0, 0, unterminated, 3), 0);
    EXPECT_EQ(plugin->CalibrationName(), "ABC");
    const std::string longName(300, 'x');
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 0, 0, longName.c_str(), 301),
              kAudioUnitErr_InvalidPropertyValue);
}

TEST(QuantizerCalibration, SanitizeKeepsAscendingFiniteEntries)
{
    QuantizerCalibration table{};
    table.count = 1000; // lies: at most 129 entries exist
    const float levels[] = {0.0f, 0.1f, kNaN, 0.05f, 0.2f, kInf, 0.3f};
    for (int i = 0; i < 7; ++i) {
        table.levels[i] = levels[i];
        table.notes[i] = 40 + i;
    }
    for (uint32_t i = 7; i < QuantizerCalibration::kCapacity; ++i)
        table.levels[i] = 1.0f;
    Quantizer::SanitizeCalibration(table);
    ASSERT_EQ(table.count, 4u + (QuantizerCalibration::kCapacity - 7));
    EXPECT_EQ(table.notes[2], 44);
    EXPECT_EQ(table.notes[3], 46);
    EXPECT_FLOAT_EQ(table.levels[3], 0.3f);
}

std::vector<uint8_t> SwapNumberWords(const uint8_t* data)
{
    std::vector<uint8_t> bytes(data, data + Program::kChunkSize);
    auto swapAt = [&](size_t offset) { std::reverse(bytes.begin() + offset, bytes.begin() + offset + 4); };
    for (size_t o = 0; o < 12; o += 4)
        swapAt(o);
    for (size_t o = offsetof(Program::Chunk, calibration); o < offsetof(Program::Chunk, reserved); o += 4)
        swapAt(o);
    return bytes;
}

TEST(QuantizerProgram, ChunkBothByteOrdersAndLyingLengths)
{
    Program source;
    source.SetName("Scales");
    QuantizerCalibration table{};
    table.count = 3;
    table.levels[0] = -0.5f, table.levels[1] = 0.25f, table.levels[2] = 0.75f;
    table.notes[0] = 36, table.notes[1] = 48, table.notes[2] = -7;
    source.SetCalibration(table);
    source.SetCalibrationName("My Osc");
    for (int32_t i = 0; i < Program::kNumParams; ++i)
        source.SetParameter(i, static_cast<float>(i) * 1.5f - 3);
    void* data = nullptr;
    ASSERT_EQ(source.GetChunk(&data), 1848);
    const auto* bytes = static_cast<const uint8_t*>(data);
    EXPECT_EQ(memcmp(bytes, "yrbonqVQ", 8), 0); // 'obry', 'QVqn' stored little-endian

    for (bool swapped : {false, true}) {
        const std::vector<uint8_t> image = swapped ? SwapNumberWords(bytes)
                                                   : std::vector<uint8_t>(bytes, bytes + Program::kChunkSize);
        Program target;
        testing::internal::CaptureStdout();
        target.SetChunk(image.data(), static_cast<int32_t>(image.size()));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), swapped ? "QVqn vst byte swapping chunk\n" : "");
        EXPECT_STREQ(target.GetName(), "Scales");
        EXPECT_STREQ(target.CalibrationName(), "My Osc");
        EXPECT_EQ(target.Calibration().count, 3u);
        EXPECT_EQ(target.Calibration().notes[2], -7);
        EXPECT_EQ(target.Calibration().levels[1], 0.25f);
        for (int32_t i = 0; i < Program::kNumParams; ++i)
            EXPECT_EQ(target.GetParameter(i), static_cast<float>(i) * 1.5f - 3) << i;
        void* again = nullptr;
        target.GetChunk(&again);
        EXPECT_EQ(memcmp(again, bytes, Program::kChunkSize), 0);
    }

    // Lying lengths: a chunk cut inside parameter 2 keeps the old values from
    // there on (no half-written word); texts without NUL are terminated.
    std::vector<uint8_t> image(bytes, bytes + Program::kChunkSize);
    memset(image.data() + 12, 'N', 32);
    memset(image.data() + 1592, 'C', 256);
    Program target;
    target.SetParameter(2, 99);
    target.SetParameter(3, 98);
    target.SetChunk(image.data(), static_cast<int32_t>(offsetof(Program::Chunk, params) + 2 * 4 + 2));
    EXPECT_EQ(target.GetParameter(1), -1.5f);
    EXPECT_EQ(target.GetParameter(2), 99.0f);
    EXPECT_EQ(target.GetParameter(3), 98.0f);
    EXPECT_EQ(strlen(target.GetName()), 31u);
    target.SetChunk(image.data(), 100000); // claims more than it holds: only the chunk is read
    EXPECT_EQ(strlen(target.CalibrationName()), 255u);
    target.SetChunk(nullptr, 10);
    target.SetChunk(image.data(), -5);
    EXPECT_EQ(target.GetParameter(22), 30.0f);
}

// The whole plug-in state into a fresh instance: calibration, its name and
// the values; a broken saved table (count too large, NaN levels, NaN values)
// is mended on the way in.
TEST_F(QuantizerInProcess, StateRoundTripAndBrokenState)
{
    LoadBrink();
    const char name[] = "Studio VCO";
    ASSERT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 0, 0, name, sizeof name), 0);
    Calibrated();
    SetBoth(Quantizer::kEnableScale, 1);
    SetBoth(Quantizer::kScale, 9);
    Set(Quantizer::ParameterIndex(1, Quantizer::kTranspose), 2);
    std::vector<float> right;
    std::vector<float> sweep;
    for (int i = 0; i < 128; ++i)
        sweep.push_back(static_cast<float>(i) / 128.0f);
    const std::vector<float> before = Run(sweep, &right);

    void* data = nullptr;
    const int32_t size = plugin->getChunk(&data, false);
    ASSERT_GT(size, 0);
    std::vector<uint8_t> state(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

    auto fresh = corvane::test::MakeInProcess<Quantizer>();
    static int namesHeard = 0;
    namesHeard = 0;
    fresh->AddPropertyListener(kObryProperty_CalibrationName, [](void*, ObryAuBase*, uint32_t, uint32_t, uint32_t) {
        ++namesHeard;
    }, nullptr);
    ASSERT_NE(fresh->setChunk(state.data(), size, false), 0);
    EXPECT_EQ(namesHeard, 1);
    EXPECT_EQ(fresh->CalibrationName(), "Studio VCO");
    EXPECT_EQ(fresh->HostCalibration().count, 64u);
    std::swap(plugin, fresh);
    std::vector<float> rightAfter;
    EXPECT_EQ(Run(sweep, &rightAfter), before);
    EXPECT_EQ(rightAfter, right);

    // Break the saved program: find its chunk by the marker and code.
    const uint8_t tag[8] = {'y', 'r', 'b', 'o', 'n', 'q', 'V', 'Q'};
    auto at = std::search(state.begin(), state.end(), std::begin(tag), std::end(tag));
    ASSERT_NE(at, state.end());
    const size_t base = static_cast<size_t>(at - state.begin());
    const uint32_t hugeCount = 5000;
    memcpy(&state[base + 44], &hugeCount, 4);
    memcpy(&state[base + 48 + 4 * 5], &kNaN, 4);
    memcpy(&state[base + 1080 + 4 * Quantizer::ParameterIndex(0, Quantizer::kSteps)], &kNaN, 4);
    memcpy(&state[base + 1080 + 4 * Quantizer::ParameterIndex(0, Quantizer::kMode)], &kInf, 4);
    ASSERT_NE(plugin->setChunk(state.data(), size, false), 0);
    const QuantizerCalibration mended = plugin->HostCalibration();
    EXPECT_EQ(mended.count, 63u); // entry 5 dropped; the rest ascend
    EXPECT_EQ(plugin->GetParameterReal(Quantizer::ParameterIndex(0, Quantizer::kSteps)), 96.0f);
    EXPECT_EQ(plugin->GetParameterReal(Quantizer::ParameterIndex(0, Quantizer::kMode)), 1.0f);
    for (float y : Run(sweep))
        EXPECT_TRUE(std::isfinite(y));
}

// The audio path allocates nothing, also when a new table and a new scale
// selection are taken over, while another thread adds scales until the table
// is full and rewrites the calibration.
TEST_F(QuantizerInProcess, AudioPathAllocatesNothingWhileScalesArrive)
{
    LoadBrink();
    Calibrated();
    SetBoth(Quantizer::kEnableScale, 1);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 100; ++i) {
            const std::string name = "Extra " + std::to_string(i);
            plugin->AddScale(name.c_str(), static_cast<uint16_t>(0x111 << (i % 4)));
            const uint8_t one = 1;
            plugin->SetProperty(i % 2 ? kObryProperty_LoadBrinkCalibration : kObryProperty_LoadDunmoreCalibration,
                                0, 0, &one, 1);
        }
        done = true;
    });
    std::vector<float> l(kFrames, 0.3f), r(kFrames, -0.2f), outL(kFrames), outR(kFrames);
    float* inputs[2] = {l.data(), r.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    int allocations = 0;
    for (int block = 0; !done || block < 50; ++block) {
        SetBoth(Quantizer::kScale, static_cast<float>(block % 12));
        AllocationCounter counter;
        plugin->processReplacing(inputs, outputs, kFrames);
        allocations += counter.Count();
    }
    writer.join();
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(plugin->ScaleCount(), Quantizer::kMaxScales);
    EXPECT_EQ(plugin->ScaleName(12), "Extra 0");
    EXPECT_EQ(ValueNames(*plugin, 0, 18).size(), Quantizer::kMaxScales);
}

} // namespace
