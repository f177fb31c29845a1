// The LFO built in-process: what it leaves in its indicator block for the
// editor, and its value-name lists.
#include <gtest/gtest.h>

#include <vector>

#include "plugins/lfo/ObryCorvaneLFO.h"
#include "tests/plugins/WiredChannels.h"
#include "tests/support/InProcessPlugin.h"

namespace {

using ObryCorvaneLFO::ObryCorvane;
using namespace corvane::test;

TEST(LfoInProcess, IndicatorsShowPhaseOutputOffsetAndRate)
{
    StartInProcessTransport(2.1);
    auto plugin = MakeInProcess<ObryCorvane>();
    ObryCorvane& lfo = *plugin;
    lfo.SetParameterValue(ObryCorvane::kSaw, 1, false);
    lfo.SetParameterValue(ObryCorvane::kSpeed, 2, false);
    lfo.SetParameterValue(ObryCorvane::kSpeedMultiplier, 2, false); // 20 Hz
    const int32_t r = ObryCorvane::kGroupSize;
    lfo.SetParameterValue(r + ObryCorvane::kSync, ObryCorvane::kSyncTransport, false);
    lfo.SetParameterValue(r + ObryCorvane::kBeats, 1, false);
    lfo.SetParameterValue(r + ObryCorvane::kPhase, 36, false);

    std::vector<float> in(480, 0.0f), outL(480), outR(480);
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    lfo.processReplacing(inputs, outputs, 480);

    EXPECT_NEAR(ReadIndicator<double>(lfo, ObryCorvane::kIndicatorRateF64), 20.0, 1e-4);
    EXPECT_NEAR(ReadIndicator<double>(lfo, ObryCorvane::kIndicatorRateF64 + 1), 2.0, 1e-4);
    EXPECT_EQ(ReadIndicator<double>(lfo, ObryCorvane::kIndicatorPhaseOffsetF64), -1.0);
    EXPECT_NEAR(ReadIndicator<double>(lfo, ObryCorvane::kIndicatorPhaseOffsetF64 + 1), 0.1, 1e-7);
    EXPECT_NEAR(ReadIndicator<float>(lfo, ObryCorvane::kIndicatorPhaseF32), 0.2f, 1e-6f); // 480 x 20 / 48000
    EXPECT_NEAR(ReadIndicator<float>(lfo, ObryCorvane::kIndicatorPhaseF32 + 1), 0.22f, 1e-6f); // 0.1 + 0.1 + 0.02
    EXPECT_EQ(ReadIndicator<float>(lfo, ObryCorvane::kIndicatorOutputF32), outL[479]);
    EXPECT_EQ(ReadIndicator<float>(lfo, ObryCorvane::kIndicatorOutputF32 + 1), outR[479]);
}

// The right channel adds the left one's smoothed output when a host wires
// the left output to the right input.
TEST(LfoInProcess, RightInputWiredToTheLeftOutputSeesItSmoothed)
{
    StartInProcessTransport(1.0);
    const int32_t r = ObryCorvane::kGroupSize;
    const struct {
        float smoothingL, smoothingR;
    } cases[] = {{-5, -5}, {5, -5}, {-5, 5}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.smoothingL);
        auto make = [&] {
            auto lfo = MakeInProcess<ObryCorvane>();
            lfo->SetParameterValue(ObryCorvane::kSquare, 1, false);
            lfo->SetParameterValue(ObryCorvane::kSpeed, 20, false);
            lfo->SetParameterValue(r + ObryCorvane::kSine, 0.5f, false);
            lfo->SetParameterValue(ObryCorvane::kSmoothingL, k.smoothingL, false);
            lfo->SetParameterValue(ObryCorvane::kSmoothingL + 1, k.smoothingR, false);
            return lfo;
        };
        ExpectRightInputWiredToLeftOutputSeesItFinished(make, [](int32_t) { return 0.0f; });
    }
}

} // namespace
