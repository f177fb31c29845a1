// The Follower built in-process: the analysis and indicator values, the
// calibrated pitch mode, the calibration table and name in the state chunk,
// the hooks the editor and the OSC layer read, broken parameters and sample
// rates, and an audio path that allocates nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "plugins/common/OutputSmoothing.h"
#include "plugins/follower/ObryCorvaneFollower.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;
using Follower = ObryCorvaneFollower::ObryCorvane;

namespace {

// Runs `blocks` blocks of 512 of a sine of `hz` on both inputs.
void RunSine(Follower& plugin, double hz, double amplitude, int blocks, double rate = 48000)
{
    // Made once, before any allocation counter looks.
    static int64_t position = 0;
    static std::vector<float> left(512), right(512), outL(512), outR(512);
    float* inputs[2] = {left.data(), right.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < 512; ++i, ++position)
            left[i] = right[i] =
                static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(position) / rate));
        plugin.processReplacing(inputs, outputs, 512);
    }
}

class FollowerInProcessTest : public ::testing::Test {
protected:
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(FollowerInProcessTest, AnalysisAndIndicators)
{
    auto plugin = MakeInProcess<Follower>();
    RunSine(*plugin, 0, 0, 20); // silence
    EXPECT_TRUE(plugin->NoPitch());
    EXPECT_EQ(plugin->Level(), 0);
    EXPECT_EQ(plugin->Period(), 2047); // silence repeats the analysis every 2047 samples
    EXPECT_EQ(ReadIndicator<uint32_t>(*plugin, Follower::kIndicatorNoPitch), 1u);

    RunSine(*plugin, 100, 0.1, 60);
    EXPECT_EQ(plugin->Window(), 960);
    EXPECT_NEAR(plugin->Period(), 480, 0.01);
    EXPECT_NEAR(plugin->Frequency(), 100, 0.01);
    const double cv = (std::log2(100 / 440.0) * 12 + 69 - 48) / 12;
    EXPECT_NEAR(plugin->PitchCV(), cv, 1e-4);
    EXPECT_NEAR(plugin->PitchOut(), cv / 10, 1e-5);
    EXPECT_FALSE(plugin->NoPitch());
    EXPECT_EQ(ReadIndicator<uint32_t>(*plugin, Follower::kIndicatorNoPitch), 0u);
    // The display values settle (30 ms time constant) on the analysis values.
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorFrequency), 100, 0.05);
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorLevel), plugin->Level(), 1e-4);
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorEnv), plugin->Env(), 1e-3);
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorPitchCV), cv, 1e-3);
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorPitchOut), cv / 10, 1e-4);
}

TEST_F(FollowerInProcessTest, CalibratedModeLooksTheNoteUp)
{
    auto plugin = MakeInProcess<Follower>();
    for (int32_t i = 0; i < CalibrationTableLength; ++i)
        plugin->Calibration().SetValue(i, static_cast<float>(i) * 0.01f);
    plugin->SetParameterValue(Follower::kPitchMode, Follower::kCalibratedMode, false);
    plugin->SetParameterValue(Follower::kZeroVCoarse, 60, false); // p = note - 12
    RunSine(*plugin, 200, 0.1, 60);
    const double position = std::log2(200 / 440.0) * 12 + 69 - 12;
    EXPECT_NEAR(plugin->PitchCV(), position * 0.01, 1e-5);
    EXPECT_FLOAT_EQ(plugin->PitchOut(), plugin->PitchCV()); // no voltage scale
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorCalibrationPosition), position, 1e-3);
    EXPECT_FLOAT_EQ(ReadIndicator(*plugin, Follower::kIndicatorCalibrationValue), plugin->PitchCV());

    // A pitch above the table holds to its end; a NaN in the table gives 0, not NaN.
    plugin->SetParameterValue(Follower::kZeroVCoarse, 0, false);
    plugin->Calibration().SetValue(127, std::numeric_limits<float>::quiet_NaN());
    plugin->Calibration().SetValue(128, 5);
    plugin->SetParameterValue(Follower::kLowpassCutoff, 1000, false);
    RunSine(*plugin, 900, 0.3, 60);
    EXPECT_NEAR(ReadIndicator(*plugin, Follower::kIndicatorCalibrationPosition), 127, 1e-6);
    EXPECT_TRUE(std::isfinite(plugin->PitchOut()));
}

TEST_F(FollowerInProcessTest, CalibrationAndNameTravelInTheChunk)
{
    auto a = MakeInProcess<Follower>();
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        a->Calibration().SetValue(i, 0.5f - static_cast<float>(i) * 0.003f);
        a->Calibration().SetValid(i, i % 2 == 0);
    }
    const char name[] = "Osc 2";
    ASSERT_EQ(a->SetProperty(kObryProperty_CalibrationName, 0, 0, name, sizeof name), 0);
    void* data = nullptr;
    const int32_t size = a->getChunk(&data, false);
    ASSERT_GT(size, 0);
    const std::vector<uint8_t> state(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

    auto b = MakeInProcess<Follower>();
    ASSERT_EQ(b->setChunk(const_cast<uint8_t*>(state.data()), size, false), 1);
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(b->Calibration().Value(i), a->Calibration().Value(i)) << i;
        EXPECT_EQ(b->Calibration().IsValid(i), a->Calibration().IsValid(i)) << i;
    }
    uint32_t bytes = 0;
    uint8_t writable = 0;
    ASSERT_EQ(b->GetPropertyInfo(kObryProperty_CalibrationName, 0, 0, &bytes, &writable), 0);
    EXPECT_EQ(bytes, sizeof name);
    EXPECT_EQ(writable, 1);
    char text[64] = {};
    ASSERT_EQ(b->GetProperty(kObryProperty_CalibrationName, 0, 0, text), 0);
    EXPECT_STREQ(text, name);
}

TEST_F(FollowerInProcessTest, PropertiesNamesAndValueTexts)
{
    auto plugin = MakeInProcess<Follower>();
    const void* address = nullptr;
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationValues, 0, 0, &address), 0);
    EXPECT_EQ(address, plugin->Calibration().entries);
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationValid, 0, 0, &address), 0);
    EXPECT_EQ(address, plugin->Calibration().valid);
    uint32_t length = 0;
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationLength, 0, 0, &length), 0);
    EXPECT_EQ(length, 129u);
    // Initialize gives entry i the note i.
    EXPECT_EQ(plugin->Calibration().entries[60].note, 60);

    const char name[] = "x";
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 1, 0, name, 2), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 0, 0, nullptr, 2), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationValues, 0, 0, name, 2), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->SetProperty(kObryProperty_PortOffset, 0, 0, name, 2), kAudioUnitErr_InvalidProperty);
    // A size shorter than the text cuts it; no NUL needed.
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 0, 0, "abcdef", 3), 0);
    char text[16] = {};
    plugin->GetProperty(kObryProperty_CalibrationName, 0, 0, text);
    EXPECT_STREQ(text, "abc");

    const std::vector<std::string> refused{"<error>"};
    for (uint32_t index = 0; index < 22; ++index) {
        std::vector<std::string> expected = refused;
        if (index == 0)
            expected = {"L+R", "Left", "Right"};
        if (index == 14)
            expected = {"V/Octave", "Hz/V", "Calibrated"};
        if (index == 17)
            expected = {"Manual", "Brink", "Dunmore"};
        EXPECT_EQ(ValueNames(*plugin, 0, index), expected) << index;
        EXPECT_EQ(plugin->GetParameterFlags(static_cast<int32_t>(index)),
                  index >= 11 && index <= 13 ? kAudioUnitParameterFlag_ValuesHaveStrings : 0u)
            << index;
    }
    EXPECT_EQ(ValueNames(*plugin, 1, 0), refused);
    EXPECT_EQ(TextFor(*plugin, 11, 0.4f), "Off");
    EXPECT_EQ(TextFor(*plugin, 12, -3), "<none>");
    EXPECT_EQ(TextFor(*plugin, 13, 0), "Off");
    EXPECT_EQ(TextFor(*plugin, 13, 4), "<none>");
    EXPECT_EQ(TextFor(*plugin, 3, 0), "<refused>");
    char effectName[kVstMaxEffectNameLen + 1] = {};
    plugin->getEffectName(effectName);
    EXPECT_STREQ(effectName, "QV Follower");
    EXPECT_STREQ(plugin->GetGUIScriptName(), "gui_follower.lua");
}

// The outputs smoothed in the sample loop give what smoothing the finished
// block gives (the samples in the output buffers as the loop left them,
// then ApplyOutputSmoothingPair), whatever the buffers: apart, in place,
// crossed, one buffer for both outputs, partly overlapping; with both
// channels smoothed and with one of them only.
TEST_F(FollowerInProcessTest, SmoothingInTheLoopMatchesSmoothingTheFinishedBlock)
{
    enum Layout { kApart, kInPlace, kCrossed, kOneBuffer, kOverlapping };
    struct Case {
        const char* name;
        Layout layout;
        float smoothingL, smoothingR;
    };
    const Case cases[] = {
        {"apart", kApart, 20, -20},         {"apart, R alone", kApart, 0, -3},
        {"in place", kInPlace, 20, -20},    {"crossed", kCrossed, -5, 2},
        {"one buffer", kOneBuffer, 20, -20}, {"one buffer, L alone", kOneBuffer, 4, 0},
        {"overlapping", kOverlapping, 20, -20},
    };
    constexpr int32_t kBlock = 300;
    constexpr int kBlocks = 12;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        // `plugin` smooths; `raw` is the same without smoothing, on buffers of its own.
        auto plugin = MakeInProcess<Follower>();
        auto raw = MakeInProcess<Follower>();
        for (Follower* f : {plugin.get(), raw.get()}) {
            f->SetParameterValue(Follower::kEnvGain, 6, false);
            f->SetParameterValue(Follower::kOutputPitchL, 1, false);
            f->SetParameterValue(Follower::kOutputEnvL, 0.5f, false);
            f->SetParameterValue(Follower::kOutputPitchR, -0.3f, false);
            f->SetParameterValue(Follower::kOutputEnvR, 1, false);
        }
        plugin->SetParameterValue(Follower::kSmoothingL, k.smoothingL, false);
        plugin->SetParameterValue(Follower::kSmoothingR, k.smoothingR, false);
        float slewStep[2], lowpassCoef[2], state[2] = {0, 0};
        // The times as the plug-in holds them (set as real values, they are
        // stored normalised).
        for (int c = 0; c < 2; ++c)
            SetupOutputSmoothing(plugin->GetParameterReal(Follower::kSmoothingL + c), 48000, &slewStep[c],
                                 &lowpassCoef[c]);

        std::vector<float> memory(4 * (kBlock + 1)), model(4 * (kBlock + 1));
        std::vector<float> rawIn[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
        std::vector<float> rawOut[2] = {std::vector<float>(kBlock), std::vector<float>(kBlock)};
        float* in[2] = {&memory[0], &memory[kBlock + 1]};
        auto outputsIn = [&](std::vector<float>& m, float** out) {
            float* base = m.data();
            float* a = base + 2 * (kBlock + 1);
            float* b = base + 3 * (kBlock + 1);
            switch (k.layout) {
            case kApart: out[0] = a, out[1] = b; break;
            case kInPlace: out[0] = base, out[1] = base + kBlock + 1; break;
            case kCrossed: out[0] = base + kBlock + 1, out[1] = base; break;
            case kOneBuffer: out[0] = out[1] = a; break;
            case kOverlapping: out[0] = a, out[1] = a + 1; break;
            }
        };
        float* out[2];
        float* modelOut[2];
        outputsIn(memory, out);
        outputsIn(model, modelOut);
        int64_t position = 0;
        for (int block = 0; block < kBlocks; ++block) {
            for (int i = 0; i < kBlock; ++i, ++position) {
                const double t = static_cast<double>(position) / 48000;
                // A tone whose level jumps, so the envelope and the pitch move.
                const double level = block % 4 == 3 ? 0.05 : 0.4;
                const float x = static_cast<float>(level * std::sin(2 * std::numbers::pi * 220 * t));
                in[0][i] = rawIn[0][i] = x;
                in[1][i] = rawIn[1][i] = 0.5f * x;
            }
            float* rawInputs[2] = {rawIn[0].data(), rawIn[1].data()};
            float* rawOutputs[2] = {rawOut[0].data(), rawOut[1].data()};
            raw->processReplacing(rawInputs, rawOutputs, kBlock);
            plugin->processReplacing(in, out, kBlock);
            // The model: the raw samples written sample by sample into the
            // same layout, then the finished block smoothed.
            for (int i = 0; i < kBlock; ++i) {
                modelOut[0][i] = rawOut[0][i];
                modelOut[1][i] = rawOut[1][i];
            }
            ApplyOutputSmoothingPair(modelOut[0], modelOut[1], kBlock, slewStep, lowpassCoef, &state[0], &state[1]);
            for (int o = 0; o < 2; ++o)
                for (int i = 0; i < kBlock; ++i)
                    ASSERT_EQ(std::memcmp(&out[o][i], &modelOut[o][i], sizeof(float)), 0)
                        << "block " << block << ", output " << o << ", frame " << i << ": " << out[o][i] << " vs "
                        << modelOut[o][i];
        }
    }
}

TEST_F(FollowerInProcessTest, AudioPathAllocatesNothing)
{
    auto plugin = MakeInProcess<Follower>();
    const struct {
        int32_t index; // -1: the sample rate
        float value;
    } changes[] = {
        {Follower::kPitchMode, 1}, {Follower::kPitchMode, 2}, {Follower::kVScaleMode, 1},
        {Follower::kSmoothingL, -30}, {Follower::kSmoothingR, 40}, {-1, 96000}, {Follower::kInputSource, 2},
    };
    RunSine(*plugin, 100, 0.1, 2);
    {
        AllocationCounter counter;
        RunSine(*plugin, 100, 0.1, 4);
        EXPECT_EQ(counter.Count(), 0);
    }
    for (const auto& change : changes) {
        if (change.index < 0)
            plugin->setSampleRate(change.value);
        else
            plugin->SetParameterValue(change.index, change.value, false);
        AllocationCounter counter;
        RunSine(*plugin, 100, 0.1, 4);
        EXPECT_EQ(counter.Count(), 0) << change.index;
    }
}

} // namespace
