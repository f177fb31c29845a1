// The Step LFO and SMUX built in-process: what only the plug-in object shows
// (the step-position indicator, value texts and names, parameter flags), the
// audio path's allocations, in-place buffers, and program values that a
// restored state may hold (out of range, infinite, not a number).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "plugins/smux/ObryCorvaneSMUX.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using namespace corvane::test;

namespace {

using StepLFO = ObryCorvaneStepLFO::ObryCorvane;
using SMUX = ObryCorvaneSMUX::ObryCorvane;

// One block of `frames` samples with silent inputs; the host position moves on.
std::vector<std::vector<float>> Block(ObryCorvaneBase& plugin, int32_t frames)
{
    std::vector<std::vector<float>> in(static_cast<size_t>(plugin.NumInputs()),
                                       std::vector<float>(static_cast<size_t>(frames), 0.0f));
    std::vector<std::vector<float>> out(static_cast<size_t>(plugin.NumOutputs()),
                                        std::vector<float>(static_cast<size_t>(frames), -99.0f));
    std::vector<float*> inputs, outputs;
    for (auto& c : in)
        inputs.push_back(c.data());
    for (auto& c : out)
        outputs.push_back(c.data());
    plugin.processReplacing(inputs.data(), outputs.data(), frames);
    InProcessTime().ppqPos += frames / 48000.0 * 2.0;
    return out;
}

class StepLfoSmuxInProcess : public ::testing::Test {
protected:
    void SetUp() override { StartInProcessTransport(); }
    ScopedUserFolders folders{UniquePortBase()};
};

TEST_F(StepLfoSmuxInProcess, StepPositionIndicatorFollowsTheCurrentStep)
{
    auto lfo = MakeInProcess<StepLFO>();
    EXPECT_EQ(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32), 0.0f);
    // Start 5, 16 steps, from 1.25 quarter notes (the 6th 16th): step 5 of
    // the cycle, step number 4 + 5 (0-based) in the table.
    lfo->SetParameterValue(StepLFO::kStartStep, 5, false);
    InProcessTime().ppqPos = 1.25;
    Block(*lfo, 100);
    EXPECT_EQ(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32), 9.0f);
    // R, linear: fractional.
    lfo->SetParameterValue(StepLFO::kInterpolation + StepLFO::kGroupSize, 1, false);
    InProcessTime().ppqPos = 1.375; // half-way into its 6th step
    Block(*lfo, 1);
    EXPECT_NEAR(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32 + 1), 5.5f, 1e-4f);
    EXPECT_EQ(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32), 9.0f);
    // Stopped in Transport: the sequence waits at its start.
    InProcessTime().flags &= ~kVstTransportPlaying;
    Block(*lfo, 64);
    EXPECT_EQ(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32), 4.0f);
    EXPECT_EQ(ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32 + 1), 0.0f);
}

TEST_F(StepLfoSmuxInProcess, AudioPathAllocatesNothing)
{
    auto lfo = MakeInProcess<StepLFO>();
    auto smux = MakeInProcess<SMUX>();
    lfo->SetParameterValue(StepLFO::kSwing, 60, false);
    lfo->SetParameterValue(StepLFO::kInterpolation, 1, false);
    lfo->SetParameterValue(StepLFO::kSmoothing + StepLFO::kGroupSize, 20, false);
    lfo->SetParameterValue(StepLFO::kSync + StepLFO::kGroupSize, StepLFO::kSyncQuadrature, false);
    std::vector<float> a(512, 0.25f), b(512, 0.5f), c(512, 0.75f), d(512, 1.0f), outL(512), outR(512);
    float* inputs[] = {a.data(), b.data(), c.data(), d.data()};
    float* outputs[] = {outL.data(), outR.data()};
    AllocationCounter counter;
    for (int block = 0; block < 8; ++block) {
        lfo->processReplacing(inputs, outputs, 512);
        smux->processReplacing(inputs, outputs, 511);
        InProcessTime().ppqPos += 512 / 24000.0;
    }
    EXPECT_EQ(counter.Count(), 0);
}

TEST_F(StepLfoSmuxInProcess, SmuxInterleavesOnEveryBufferLayout)
{
    // Two blocks, the first of odd length (the second starts on an odd
    // sample), on separate buffers and on buffers a host processes in place,
    // where every sample must be read before its place is written.
    constexpr int kFrames[] = {37, 40};
    constexpr int kTotal = kFrames[0] + kFrames[1];
    struct Layout {
        const char* name;
        int outputsOver; // -1: separate; else the first input the outputs lie over
    };
    const Layout layouts[] = {{"separate", -1}, {"in place 1-2", 0}, {"in place 3-4", 2}, {"over 2-3", 1}};
    for (const Layout& layout : layouts) {
        std::vector<std::vector<float>> buffers(4, std::vector<float>(kTotal));
        for (int k = 0; k < 4; ++k)
            for (int n = 0; n < kTotal; ++n)
                buffers[k][n] = static_cast<float>(100 * (k + 1) + n);
        const auto original = buffers;
        std::vector<float> separateL(kTotal), separateR(kTotal);
        auto smux = MakeInProcess<SMUX>();
        int at = 0;
        for (int frames : kFrames) {
            float* in[] = {buffers[0].data() + at, buffers[1].data() + at, buffers[2].data() + at,
                           buffers[3].data() + at};
            float* out[] = {separateL.data() + at, separateR.data() + at};
            if (layout.outputsOver >= 0) {
                out[0] = buffers[layout.outputsOver].data() + at;
                out[1] = buffers[layout.outputsOver + 1].data() + at;
            }
            smux->processReplacing(in, out, frames);
            for (int n = 0; n < frames; ++n) {
                const int t = at + n; // the pairs alternate across blocks
                EXPECT_EQ(out[0][n], original[t % 2][t]) << layout.name << " sample " << t;
                EXPECT_EQ(out[1][n], original[2 + t % 2][t]) << layout.name << " sample " << t;
            }
            at += frames;
            if (layout.outputsOver >= 0)
                break; // the inputs of the next block were overwritten
        }
    }
}

TEST_F(StepLfoSmuxInProcess, RestoredValuesOutOfRangeStayInsideTheStepTable)
{
    // A restored state copies its values straight into the program: the
    // range settings, the rates and the steps can hold anything. (A state
    // restored by the host then tells the plug-in its values changed, as
    // setProgram does here.)
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float oddValues[] = {nan, inf, -inf, 1e9f, -1e9f, 1e30f, -3.5f, 200.0f, 0.0f};
    const int32_t settings[] = {StepLFO::kSpeedMode,  StepLFO::kSpeed,      StepLFO::kSpeedMultiplier,
                                StepLFO::kSync,       StepLFO::kBeatDivisor, StepLFO::kBeats,
                                StepLFO::kPhase,      StepLFO::kAsymmetry,   StepLFO::kRangeMode,
                                StepLFO::kLengthMode, StepLFO::kStartStep,   StepLFO::kLengthInSteps,
                                StepLFO::kEndStep,    StepLFO::kInterpolation, StepLFO::kInputMode,
                                StepLFO::kSmoothing,  StepLFO::kSwing,       StepLFO::kSwingType};
    auto lfo = MakeInProcess<StepLFO>();
    ObryProgram* program = lfo->CurrentProgram();
    auto defaults = [&] {
        for (int32_t i = 0; i < StepLFO::kNumParams; ++i)
            program->SetParameter(i, StepLFO::Parameters()[i].def);
    };
    // One instance throughout: whatever state one setting leaves behind
    // must not spoil the next.
    for (float odd : oddValues) {
        for (int32_t setting : settings) {
            defaults();
            for (int32_t c = 0; c < 2; ++c) {
                for (int32_t s = 0; s < StepLFO::kNumSteps; ++s)
                    program->SetParameter(StepLFO::kFirstStep + StepLFO::kNumSteps * c + s, 0.5f);
                program->SetParameter(setting + StepLFO::kGroupSize * c, odd);
            }
            // Linear interpolation and 96 steps read every neighbour.
            if (setting != StepLFO::kInterpolation)
                program->SetParameter(StepLFO::kInterpolation, 1);
            program->SetParameter(StepLFO::kLengthInSteps + StepLFO::kGroupSize, 96);
            lfo->setProgram(0);
            for (double ppq : {0.0, 7.3, -1.0}) {
                InProcessTime().ppqPos = ppq;
                for (int block = 0; block < 3; ++block) {
                    const auto out = Block(*lfo, 97);
                    for (size_t c = 0; c < 2; ++c)
                        for (float v : out[c])
                            ASSERT_TRUE(std::isfinite(v)) << "setting " << setting << " = " << odd << " ppq " << ppq;
                }
                for (int c = 0; c < 2; ++c) {
                    const float position = ReadIndicator(*lfo, StepLFO::kIndicatorStepPositionF32 + c);
                    ASSERT_TRUE(position >= 0.0f && position <= 96.0f) << setting << " = " << odd;
                }
            }
        }
    }
    // Steps that are not finite play as 0.
    defaults();
    for (int32_t s = 0; s < StepLFO::kNumSteps; ++s)
        program->SetParameter(StepLFO::kFirstStep + s, s % 2 ? nan : inf);
    program->SetParameter(StepLFO::kSync, StepLFO::kSyncFree);
    program->SetParameter(StepLFO::kSpeed, 20);
    program->SetParameter(StepLFO::kSpeedMultiplier, 3);
    program->SetParameter(StepLFO::kRangeMode, 1);
    program->SetParameter(StepLFO::kOffset, 0.25f);
    lfo->setProgram(0);
    for (int block = 0; block < 4; ++block) {
        const auto out = Block(*lfo, 512);
        for (float v : out[0])
            ASSERT_EQ(v, 0.25f);
    }
}

} // namespace
