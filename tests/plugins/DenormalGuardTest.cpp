// Every processing call flushes denormal floats whatever mode the host runs
// in, and hands the host's floating-point mode back unchanged.
#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <cstdio>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

namespace {

using namespace corvane;

// The control bits of the SSE register: exception masks, rounding, FTZ, DAZ.
constexpr uint32_t kControlBits = 0xFFC0;

TEST(DenormalGuard, ProcessingFlushesAndRestoresTheHostsMode)
{
    const struct {
        const char* name;
        uint32_t mode;
    } modes[] = {
        {"default", 0x1F80},       {"flush to zero", 0x9F80},  {"denormals are zero", 0x1FC0},
        {"both", 0x9FC0},          {"round towards zero", 0x7F80}, {"overflow unmasked", 0x1780},
    };
    // DC passing its input through: Output Positive L 1, Input Multiply L 1.
    auto dc = host::Plugin::Create(test::LoadedModule(), vst::FourCC("QZs0"));
    ASSERT_TRUE(dc);
    dc->Start(48000, 64);
    dc->SetParameter(0, 1.0f);
    dc->SetParameter(4, 1.0f);
    std::vector<float> in(64, 1e-39f), outL(64, -1), outR(64, -1);
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {outL.data(), outR.data()};

    const uint32_t testMode = _mm_getcsr();
    for (const auto& m : modes) {
        std::fill(outL.begin(), outL.end(), -1.0f);
        _mm_setcsr(m.mode);
        dc->Effect()->processReplacing(dc->Effect(), inputs, outputs, 64);
        const uint32_t after = _mm_getcsr();
        _mm_setcsr(testMode);
        EXPECT_EQ(after & kControlBits, m.mode & kControlBits) << m.name;
        for (float y : outL)
            ASSERT_EQ(y, 0.0f) << m.name << ": a denormal input came through";
    }
}

} // namespace
