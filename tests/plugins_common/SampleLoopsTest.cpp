// The vectorised sample loops against a plain loop, one sample at a time:
// every buffer arrangement a host can hand (separate, in place, and the
// overlaps only a broken host makes), every length around the group size,
// and the parity the alternating patterns rely on.
#include "plugins/common/SampleLoops.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// A shape that shows both the value and the parity it was given.
float Shape(float x, int32_t n)
{
    return (x * 0.75f + 0.125f) * ((n & 1) ? -1.0f : 1.0f);
}

// Built with the clones, as the plug-ins build theirs, with groups of one
// and of two vectors.
CORVANE_SAMPLE_CLONES void MapShape(const float* in, float* out, int32_t frames)
{
    SampleLoops::Map(in, out, frames, [](float x, int32_t n) { return Shape(x, n); });
}
CORVANE_SAMPLE_CLONES void MapShapeInPairs(const float* in, float* out, int32_t frames)
{
    SampleLoops::Map<2 * SampleLoops::kGroup>(in, out, frames, [](float x, int32_t n) { return Shape(x, n); });
}

TEST(SampleLoops, MapGivesWhatAPlainLoopGives)
{
    // Offsets of the output from the input within one buffer: 0 is in
    // place; ±1 and ±5 overlap; ±40 are apart for every length below 40.
    const int32_t offsets[] = {0, 1, -1, 5, -5, 40, -40};
    for (auto map : {MapShape, MapShapeInPairs}) {
        for (int32_t frames = 0; frames <= 4 * SampleLoops::kGroup + 3; ++frames)
            for (int32_t offset : offsets) {
                std::vector<float> buffer(128), expected;
                for (size_t i = 0; i < buffer.size(); ++i)
                    buffer[i] = 0.01f * static_cast<float>(i) - 0.3f;
                expected = buffer;
                const int32_t in = 50, out = 50 + offset;
                for (int32_t n = 0; n < frames; ++n) // one sample after another, reading before writing
                    expected[out + n] = Shape(expected[in + n], n);
                map(buffer.data() + in, buffer.data() + out, frames);
                EXPECT_EQ(buffer, expected) << frames << " frames, output at input " << offset;
            }
    }
}

TEST(SampleLoops, FillWritesExactlyItsFrames)
{
    for (int32_t frames = 0; frames <= 2 * SampleLoops::kGroup + 3; ++frames) {
        std::vector<float> buffer(40, -1.0f);
        SampleLoops::Fill(buffer.data() + 1, frames, 0.5f);
        for (int32_t i = 0; i < 40; ++i)
            EXPECT_EQ(buffer[i], i >= 1 && i <= frames ? 0.5f : -1.0f) << frames << " frames, sample " << i;
    }
}

TEST(SampleLoops, ApartOnlyWhenNoSampleIsShared)
{
    float buffer[32];
    EXPECT_TRUE(SampleLoops::Apart(buffer, buffer + 8, 8));
    EXPECT_TRUE(SampleLoops::Apart(buffer + 8, buffer, 8));
    EXPECT_FALSE(SampleLoops::Apart(buffer, buffer + 7, 8));
    EXPECT_FALSE(SampleLoops::Apart(buffer + 7, buffer, 8));
    EXPECT_FALSE(SampleLoops::Apart(buffer, buffer, 1));
    EXPECT_TRUE(SampleLoops::Apart(buffer, buffer, 0));
}

} // namespace
