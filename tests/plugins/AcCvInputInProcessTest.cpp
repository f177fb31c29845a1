// The AC encoders and the CV Input built in-process: the hooks the editor and
// the OSC layer read (value lists, value texts for given values), and
// an audio path that allocates nothing, also while the CV Input redesigns its
// loop and low-pass after a change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <memory>
#include <string>
#include <vector>

#include "plugins/acencoder/ObryCorvaneACEncoder.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/cvinput/ObryCorvaneCVInput.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/WiredChannels.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::AllocationCounter;
using corvane::test::ExpectRightInputWiredToLeftOutputSeesItFinished;
using corvane::test::MakeInProcess;
using corvane::test::TextFor;
using corvane::test::ValueNames;
using corvane::test::ScopedUserFolders;
using corvane::test::UniquePortBase;
using CVInput = ObryCorvaneCVInput::ObryCorvane;

namespace {

class AcCvInputInProcessTest : public ::testing::Test {
protected:
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(AcCvInputInProcessTest, AudioPathAllocatesNothingEvenWhileRedesigning)
{
    std::vector<std::vector<float>> in(6, std::vector<float>(512)), out(6, std::vector<float>(512));
    for (auto& channel : in)
        for (size_t i = 0; i < channel.size(); ++i)
            channel[i] = static_cast<float>(0.5 * std::sin(2.2 * static_cast<double>(i)));
    float* inputs[6];
    float* outputs[6];
    for (int c = 0; c < 6; ++c) {
        inputs[c] = in[c].data();
        outputs[c] = out[c].data();
    }
    auto count = [&](ObryCorvaneBase& plugin) {
        AllocationCounter counter;
        for (int block = 0; block < 3; ++block)
            plugin.processReplacing(inputs, outputs, 512);
        return counter.Count();
    };
    {
        AllocationCounter counter; // the counter sees allocations at all
        auto probe = std::make_unique<std::vector<float>>(4);
        EXPECT_GE(counter.Count(), 2);
    }

    auto encoder6 = MakeInProcess<ObryCorvaneACEncoder6::ObryCorvane>();
    for (int32_t c = 0; c < 6; c += 2)
        encoder6->SetParameterValue(ObryCorvaneACEncoder6::ObryCorvane::ParameterIndex(
                                        c, ObryCorvaneACEncoderBase::kEnable),
                                    1, false);
    EXPECT_EQ(count(*encoder6), 0);

    auto cv = MakeInProcess<CVInput>();
    const struct {
        int32_t index; // -1: the sample rate
        float value;
    } changes[] = {
        {CVInput::ParameterIndex(0, CVInput::kMode), CVInput::kModeTesselDecoder},
        {CVInput::ParameterIndex(1, CVInput::kMode), CVInput::kModeGenerator},
        {CVInput::kTesselFilterFreqIndex, 0.3f},
        {CVInput::kTesselFilterFreqIndex, 0.0f},
        {CVInput::kTesselFilterFreqIndex, 1.0f},
        {CVInput::kTesselCentreIndex, 16500},
        {CVInput::kTesselTau1Index, 3},
        {CVInput::kTesselTau2Index, 900},
        {-1, 96000},
        {CVInput::ParameterIndex(0, CVInput::kSmoothing), -40},
        {CVInput::ParameterIndex(1, CVInput::kMode), CVInput::kModeDecoder},
        {CVInput::ParameterIndex(1, CVInput::kBipolar), 1},
    };
    EXPECT_EQ(count(*cv), 0);
    for (const auto& change : changes) {
        if (change.index < 0)
            cv->setSampleRate(change.value);
        else
            cv->SetParameterValue(change.index, change.value, false);
        EXPECT_EQ(count(*cv), 0) << change.index << " = " << change.value;
    }
}

// The right channel decodes the left one's smoothed output when a host
// wires the left output to the right input.
TEST_F(AcCvInputInProcessTest, RightInputWiredToTheLeftOutputSeesItSmoothed)
{
    const struct {
        float modeR, smoothingL, smoothingR;
    } cases[] = {
        {CVInput::kModeDecoder, -10, -10},
        {CVInput::kModeDecoder, 5, -5},
        {CVInput::kModeTesselDecoder, -3, 4},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.smoothingL);
        auto make = [&] {
            auto cv = MakeInProcess<CVInput>();
            cv->SetParameterValue(CVInput::ParameterIndex(1, CVInput::kMode), k.modeR, false);
            cv->SetParameterValue(CVInput::ParameterIndex(0, CVInput::kSmoothing), k.smoothingL, false);
            cv->SetParameterValue(CVInput::ParameterIndex(1, CVInput::kSmoothing), k.smoothingR, false);
            return cv;
        };
        ExpectRightInputWiredToLeftOutputSeesItFinished(
            make, [](int32_t n) { return static_cast<float>(0.6 * std::sin(0.37 * n) * ((n & 1) ? -1 : 1)); });
    }
}

// The Tessel decoder smooths its samples in its own loop (and a right one
// also the decoded left channel): the outputs are those of an unsmoothed
// instance smoothed afterwards, in every mode pair, for slew and low-pass,
// on separate buffers, each output on its own input, and a right output
// that overlaps its input one sample on (smoothed after decoding).
TEST_F(AcCvInputInProcessTest, TesselDecoderSmoothingInItsLoopKeepsTheBits)
{
    enum class Layout { kSeparate, kInPlace, kRightShifted };
    const struct {
        int32_t modeL, modeR;
        float smoothingL, smoothingR;
    } cases[] = {
        {CVInput::kModeDecoder, CVInput::kModeTesselDecoder, -10, -3},
        {CVInput::kModeDecoder, CVInput::kModeTesselDecoder, 5, 0.2f},
        {CVInput::kModeTesselDecoder, CVInput::kModeDecoder, 4, -10},
        {CVInput::kModeTesselDecoder, CVInput::kModeTesselDecoder, -2, 7},
        {CVInput::kModeTesselDecoder, CVInput::kModeTesselDecoder, 0, -6},
    };
    const int32_t blocks[] = {64, 7, 1, 100, 16, 33};
    for (const auto& k : cases)
        for (const Layout layout : {Layout::kSeparate, Layout::kInPlace, Layout::kRightShifted}) {
            SCOPED_TRACE(testing::Message() << "modes " << k.modeL << "/" << k.modeR << ", smoothing " << k.smoothingL
                                            << "/" << k.smoothingR << ", layout " << static_cast<int>(layout));
            auto make = [&](bool smoothed) {
                auto cv = MakeInProcess<CVInput>();
                cv->SetParameterValue(CVInput::ParameterIndex(0, CVInput::kMode), static_cast<float>(k.modeL), false);
                cv->SetParameterValue(CVInput::ParameterIndex(1, CVInput::kMode), static_cast<float>(k.modeR), false);
                cv->SetParameterValue(CVInput::kTesselForceSmoothIndex, 0, false);
                cv->SetParameterValue(CVInput::ParameterIndex(0, CVInput::kSmoothing), smoothed ? k.smoothingL : 0,
                                      false);
                cv->SetParameterValue(CVInput::ParameterIndex(1, CVInput::kSmoothing), smoothed ? k.smoothingR : 0,
                                      false);
                return cv;
            };
            auto cv = make(true);
            auto plain = make(false);
            float slew[2], coef[2], state[2] = {0, 0};
            for (int c = 0; c < 2; ++c)
                SetupOutputSmoothing(cv->GetParameterReal(CVInput::ParameterIndex(c, CVInput::kSmoothing)), 48000,
                                     &slew[c], &coef[c]);
            int64_t n = 0;
            for (int round = 0; round < 3; ++round)
                for (const int32_t frames : blocks) {
                    // in0, in1 (with a sample of room), out0, out1.
                    std::vector<float> memory(static_cast<size_t>(4 * (frames + 1)));
                    for (int32_t i = 0; i <= frames; ++i, ++n) {
                        const double t = static_cast<double>(n) / 48000;
                        for (int c = 0; c < 2; ++c)
                            memory[static_cast<size_t>(c * (frames + 1) + i)] = static_cast<float>(
                                (0.5 + 0.3 * std::sin(2 * std::numbers::pi * 2 * t + c)) *
                                std::sin(2 * std::numbers::pi * 17000 * t));
                    }
                    auto run = [&](CVInput& plugin, std::vector<float>& m) {
                        float* in[2] = {m.data(), m.data() + frames + 1};
                        float* out[2] = {m.data() + 2 * (frames + 1), m.data() + 3 * (frames + 1)};
                        if (layout == Layout::kInPlace) {
                            out[0] = in[0];
                            out[1] = in[1];
                        } else if (layout == Layout::kRightShifted) {
                            out[1] = in[1] + 1;
                        }
                        plugin.processReplacing(in, out, frames);
                        return std::vector<float*>{out[0], out[1]};
                    };
                    std::vector<float> got = memory, expected = memory;
                    const std::vector<float*> gotOut = run(*cv, got);
                    const std::vector<float*> expectedOut = run(*plain, expected);
                    for (int c = 0; c < 2; ++c) {
                        ApplyOutputSmoothing(expectedOut[c], frames, slew[c], coef[c], &state[c]);
                        ASSERT_EQ(memcmp(gotOut[c], expectedOut[c], sizeof(float) * static_cast<size_t>(frames)), 0)
                            << "channel " << c << ", round " << round << ", block of " << frames;
                    }
                }
        }
}

} // namespace
