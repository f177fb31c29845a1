// The expander data words: word formats and their round trips, the frame
// encoder, the stream merge, test frames and Dunmore packets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "plugins/common/ExpanderControl.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/common/ExpanderFrameEncoder.h"
#include "tests/plugins/BrinkTestSupport.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(ExpanderWords, BrinkFrameLayoutAndSamples)
{
    struct Row {
        uint8_t bytes[5];
        uint32_t left, right;
        double leftSample, rightSample;
    };
    const double step = std::ldexp(1.0, -19);
    const Row rows[] = {
        {{0x12, 0x34, 0x56, 0x78, 0x9A}, 0x12349, 0x5678A, 0x12349 * step, 0x5678A * step},
        {{0x80, 0, 0, 0, 0}, 0x80000, 0, -1.0, 0.0},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFF, 0xFFFFF, -step, -step},
        {{0x7F, 0xFF, 0x7F, 0xFF, 0xFF}, 0x7FFFF, 0x7FFFF, 1.0 - step, 1.0 - step},
        {{0, 0, 0, 0, 0x10}, 0x00001, 0, step, 0.0},
        {{0, 0, 0, 0, 0x01}, 0, 0x00001, 0.0, step},
        {{0x80, 0, 0x80, 0, 0x01}, 0x80000, 0x80001, -1.0, -1.0 + step},
    };
    for (const Row& row : rows) {
        const ExpanderWordPair words = BrinkFrameWords(row.bytes);
        EXPECT_EQ(words.left, row.left);
        EXPECT_EQ(words.right, row.right);
        float l = 0, r = 0;
        WriteBrinkFrame(row.bytes, {0, 0}, &l, &r);
        EXPECT_EQ(l, static_cast<float>(row.leftSample)) << std::hex << row.left;
        EXPECT_EQ(r, static_cast<float>(row.rightSample)) << std::hex << row.right;
        const brinktest::Frame back = brinktest::FrameOf(l, r);
        EXPECT_EQ(0, memcmp(back.b, row.bytes, 5));
    }
}

TEST(ExpanderWords, CarroFrameLayoutAndSamples)
{
    const double step = std::ldexp(1.0, -23);
    const struct {
        uint8_t bytes[6];
        uint32_t left, right;
        double leftSample, rightSample;
    } rows[] = {
        {{0xFF, 0xFF, 0xFF, 0, 0, 0}, 0xFFFFFF, 0, -step, 0.0},
        {{0xFF, 0, 0, 0, 0, 0}, 0xFF0000, 0, -65536 * step, 0.0},
        {{0x80, 0, 0, 0x7F, 0xFF, 0xFF}, 0x800000, 0x7FFFFF, -1.0, 1.0 - step},
        {{1, 2, 3, 4, 5, 6}, 0x010203, 0x040506, 0x010203 * step, 0x040506 * step},
    };
    for (const auto& row : rows) {
        const ExpanderWordPair words = CarroFrameWords(row.bytes);
        EXPECT_EQ(words.left, row.left);
        EXPECT_EQ(words.right, row.right);
        float l = 0, r = 0;
        WriteCarroFrame(row.bytes, {0, 0}, &l, &r);
        EXPECT_EQ(l, static_cast<float>(row.leftSample));
        EXPECT_EQ(r, static_cast<float>(row.rightSample));
    }
}

// Every word of both forms survives the way to a sample and back, and its
// sample is the two's complement value scaled exactly.
TEST(ExpanderWords, EveryWordRoundTrips)
{
    for (uint32_t w = 0; w <= 0xFFFFF; ++w) {
        const float x = BrinkSampleWord::ToSample(w);
        const double expected = (w & 0x80000 ? static_cast<double>(w) - 1048576.0 : w) / 524288.0;
        if (x != static_cast<float>(expected) || BrinkSampleWord::FromSample(x) != w) {
            ADD_FAILURE() << "Brink word " << std::hex << w;
            break;
        }
    }
    for (uint32_t w = 0; w <= 0xFFFFFF; ++w) {
        const float x = CarroSampleWord::ToSample(w);
        const double expected = (w & 0x800000 ? static_cast<double>(w) - 16777216.0 : w) / 8388608.0;
        if (x != static_cast<float>(expected) || CarroSampleWord::FromSample(x) != w) {
            ADD_FAILURE() << "Carro word " << std::hex << w;
            break;
        }
    }
}

// The frame encoder against the frame-by-frame rules: the piece bytes, a
// byte from an input, the gate bits, the serial bit, the merge, the sample.
// Groups of eight frames, the tail and one frame at a time, on separate
// buffers, outputs on inputs, and outputs that overlap an input otherwise.
struct EncoderCase {
    const char* what;
    int bytes; // 5 Brink, 6 Carro
    ExpanderFrameSources sources; // input pointers: channel numbers + 1 (0 none), set up below
    bool serial;
};

enum class Layout { kSeparate, kOutputsOnThruCrossed, kLeftOnLevelInput, kLeftOverlapsInputShifted };

// Input samples with every edge of the level, gate and merge rules.
float EncoderInput(int channel, int i)
{
    static const float kValues[] = {kNaN,  kInf,   -kInf,    0.0f,  -0.0f,   0.5f,     -0.5f,  1.0f,     -1.0f,
                                    0.999f, 1e-9f, -1e-9f,   2.0f,  -3.9f,   4.5f,     -1e30f, 1e30f,    0.25f,
                                    -0.75f, 0.002f, -0.002f, 3e38f, 1.5f / 524288, -1.5f / 524288, 0.33f, -kNaN};
    constexpr int kCount = sizeof kValues / sizeof kValues[0];
    return kValues[(i * (2 * channel + 3) + channel * 5) % kCount];
}

void ReferenceFrames(const EncoderCase& c, const ExpanderFrameSources& s, int first, int frames,
                     const uint32_t* serial, float* left, float* right, ExpanderWordPair* last)
{
    for (int i = first; i < first + frames; ++i) {
        uint8_t frame[6];
        memcpy(frame, s.bytes, sizeof frame);
        for (int k = 0; k < c.bytes; ++k)
            if (s.level[k]) {
                float x = s.level[k][i];
                x = std::isnan(x) ? 0.0f : std::fmin(std::fmax(x, -4.0f), 4.0f);
                const int v = static_cast<int>(x * s.levelScale[k] + s.levelOffset[k]) + s.bytes[k];
                frame[k] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        for (int g = 0; g < s.gateCount; ++g)
            if (s.gate[g][i] > 0.0f)
                SetFrameGate(frame, c.bytes, s.gateBit[g]);
        if (serial && serial[i - first])
            SetFrameGate(frame, c.bytes, s.serialBit);
        const bool brink = c.bytes == 5;
        ExpanderWordPair merge{0, 0};
        if (s.thruLeft)
            merge = brink ? ExpanderWordPair{BrinkSampleWord::FromSample(s.thruLeft[i]),
                                             BrinkSampleWord::FromSample(s.thruRight[i])}
                          : ExpanderWordPair{CarroSampleWord::FromSample(s.thruLeft[i]),
                                             CarroSampleWord::FromSample(s.thruRight[i])};
        *last = brink ? BrinkFrameWords(frame) : CarroFrameWords(frame);
        if (brink)
            WriteBrinkFrame(frame, merge, &left[i], &right[i]);
        else
            WriteCarroFrame(frame, merge, &left[i], &right[i]);
    }
}

TEST(ExpanderWords, FrameEncoderGivesTheBitsOfFrameByFrame)
{
    auto sources = [](std::initializer_list<int> bytes, std::initializer_list<std::pair<int, int>> levels,
                      std::initializer_list<std::pair<int, int>> gates, int serialBit, bool thru) {
        ExpanderFrameSources s;
        int k = 0;
        for (int b : bytes)
            s.bytes[k++] = static_cast<uint8_t>(b);
        // level: byte, mode (0 unipolar on input byte, 1 bipolar); inputs 0..5
        for (const auto& [byte, bipolar] : levels) {
            s.level[byte] = reinterpret_cast<const float*>(static_cast<uintptr_t>(byte + 1));
            s.levelScale[byte] = bipolar ? 127.0f : 255.0f;
            s.levelOffset[byte] = bipolar ? 128.5f : 0.5f;
        }
        // gates: input, gate bit
        for (const auto& [input, bit] : gates) {
            s.gate[s.gateCount] = reinterpret_cast<const float*>(static_cast<uintptr_t>(input + 1));
            s.gateBit[s.gateCount++] = bit;
        }
        s.serialBit = serialBit;
        if (thru) {
            s.thruLeft = reinterpret_cast<const float*>(uintptr_t{9});
            s.thruRight = reinterpret_cast<const float*>(uintptr_t{10});
        }
        return s;
    };
    const EncoderCase cases[] = {
        {"Brink: levels, gates, serial, thru", 5,
         sources({0x12, 0x34, 0x56, 0x78, 0x9A}, {{0, 0}, {1, 1}, {4, 1}}, {{6, 0}, {7, 39}, {6, 45}}, 36, true),
         true},
        {"Brink: levels on every byte from high piece bytes", 5,
         sources({200, 0, 255, 128, 7}, {{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}}, {}, 0, false), false},
        {"Brink: thru only", 5, sources({0, 0, 0, 0, 0}, {}, {}, 0, true), false},
        {"Carro: gates, serial on the last bit, thru", 6,
         sources({1, 2, 3, 0xF0, 0, 0x80}, {}, {{6, 47}, {7, 8}, {0, 20}}, 47, true), true},
        {"Carro: bytes only", 6, sources({255, 1, 2, 3, 4, 5}, {}, {}, 0, false), false},
    };
    const Layout layouts[] = {Layout::kSeparate, Layout::kOutputsOnThruCrossed, Layout::kLeftOnLevelInput,
                              Layout::kLeftOverlapsInputShifted};
    for (const EncoderCase& c : cases)
        for (const Layout layout : layouts)
            for (const int frames : {1, 3, 7, 8, 9, 16, 21, 64})
                for (const int first : {0, 3}) {
                    SCOPED_TRACE(testing::Message() << c.what << ", layout " << static_cast<int>(layout) << ", "
                                                    << frames << " frames from " << first);
                    // Channels 1..10 are inputs, 11 and 12 separate outputs.
                    const int stride = first + frames + 16;
                    std::vector<float> arena(static_cast<size_t>(13 * stride));
                    for (int ch = 1; ch <= 10; ++ch)
                        for (int i = 0; i < stride; ++i)
                            arena[static_cast<size_t>(ch * stride + i)] = EncoderInput(ch, i);
                    std::vector<float> expected = arena;
                    std::vector<uint32_t> serial(static_cast<size_t>(frames));
                    for (int i = 0; i < frames; ++i)
                        serial[static_cast<size_t>(i)] = (i * 7) % 5 < 2 ? ~0u : 0u;
                    auto run = [&](std::vector<float>& memory, bool reference) {
                        auto channel = [&](uintptr_t n) { return memory.data() + n * static_cast<size_t>(stride); };
                        ExpanderFrameSources s = c.sources;
                        auto place = [&](const float*& p) {
                            if (p)
                                p = channel(reinterpret_cast<uintptr_t>(p));
                        };
                        for (const float*& p : s.level)
                            place(p);
                        for (int g = 0; g < s.gateCount; ++g)
                            place(s.gate[g]);
                        place(s.thruLeft);
                        place(s.thruRight);
                        float* left = channel(11);
                        float* right = channel(12);
                        bool oneAtATime = false;
                        if (layout == Layout::kOutputsOnThruCrossed) {
                            left = channel(10);
                            right = channel(9);
                        } else if (layout == Layout::kLeftOnLevelInput) {
                            left = channel(1);
                        } else if (layout == Layout::kLeftOverlapsInputShifted) {
                            left = channel(7) + 1; // a gate input's buffer, one sample on
                            right = channel(1) + 2;
                            oneAtATime = true;
                        }
                        const uint32_t* flags = c.serial ? serial.data() : nullptr;
                        ExpanderWordPair last{0, 0};
                        if (reference)
                            ReferenceFrames(c, s, first, frames, flags, left, right, &last);
                        else if (c.bytes == 5)
                            last = EncodeBrinkFrames(s, first, frames, flags, left, right, oneAtATime);
                        else
                            last = EncodeCarroFrames(s, first, frames, flags, left, right, oneAtATime);
                        return last;
                    };
                    const ExpanderWordPair lastExpected = run(expected, true);
                    const ExpanderWordPair last = run(arena, false);
                    EXPECT_EQ(last.left, lastExpected.left);
                    EXPECT_EQ(last.right, lastExpected.right);
                    size_t differ = 0;
                    for (size_t i = 0; i < arena.size(); ++i)
                        if (memcmp(&arena[i], &expected[i], sizeof(float)) != 0 && differ++ < 3)
                            ADD_FAILURE() << "sample " << i % stride << " of channel " << i / stride << ": "
                                          << arena[i] << ", expected " << expected[i];
                }
}

// Four frames at a time give the bits of one frame at a time, with and
// without a merged stream, into separate buffers and onto the stream itself.
template <class Word>
void CheckWordsToSamples()
{
    const std::vector<float> thru = {kNaN,          kInf,        -kInf,  1.0f,   1e30f,  -1.0f,  -3.0f,  -1e30f, 0.0f,
                                     -0.0f,         -1e-9f,      0.5f,   -0.5f,  1e-38f, 3e38f,  -3e38f, 0.999999f,
                                     1.5f / 524288, -1.5f / 524288, -kNaN, 0.25f, -0.75f, 2e-45f};
    std::vector<uint32_t> left(thru.size()), right(thru.size());
    for (size_t i = 0; i < thru.size(); ++i) {
        left[i] = static_cast<uint32_t>(i * 0x2F3A5u) & Word::kMask;
        right[i] = Word::kMask - left[i];
    }
    const auto frames = static_cast<int32_t>(thru.size());
    const std::vector<float> other(thru.rbegin(), thru.rend());
    for (const bool merged : {false, true}) {
        std::vector<float> expectLeft(thru.size()), expectRight(thru.size());
        for (int32_t i = 0; i < frames; ++i)
            WordsToSamples<Word>(&left[i], &right[i], merged ? &thru[i] : nullptr, merged ? &other[i] : nullptr,
                                 &expectLeft[i], &expectRight[i], 1);
        std::vector<float> outLeft(thru.size()), outRight(thru.size());
        WordsToSamples<Word>(left.data(), right.data(), merged ? thru.data() : nullptr,
                             merged ? other.data() : nullptr, outLeft.data(), outRight.data(), frames);
        // In place: the outputs on the stream's buffers, crossed.
        std::vector<float> a = thru, b = other;
        WordsToSamples<Word>(left.data(), right.data(), merged ? a.data() : nullptr, merged ? b.data() : nullptr,
                             b.data(), a.data(), frames);
        for (int32_t i = 0; i < frames; ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i << (merged ? ", merged" : ""));
            EXPECT_EQ(memcmp(&outLeft[i], &expectLeft[i], sizeof(float)), 0) << outLeft[i] << " " << expectLeft[i];
            EXPECT_EQ(memcmp(&outRight[i], &expectRight[i], sizeof(float)), 0);
            EXPECT_EQ(memcmp(&b[i], &expectLeft[i], sizeof(float)), 0);
            EXPECT_EQ(memcmp(&a[i], &expectRight[i], sizeof(float)), 0);
        }
    }
}

TEST(ExpanderWords, GroupedSamplesGiveTheBitsOfSingleFrames)
{
    CheckWordsToSamples<BrinkSampleWord>();
    CheckWordsToSamples<CarroSampleWord>();
}

// Samples that no word made (another plug-in's audio, a broken stream) give
// a word at the nearest end of the range or by truncation toward zero.
TEST(ExpanderWords, ForeignSamplesGiveWordsInRange)
{
    const struct {
        float x;
        uint32_t brink, carro;
    } rows[] = {
        {kNaN, 0, 0},
        {kInf, 0x7FFFF, 0x7FFFFF},
        {-kInf, 0x80000, 0x800000},
        {1.0f, 0x7FFFF, 0x7FFFFF},
        {1e30f, 0x7FFFF, 0x7FFFFF},
        {-1.0f, 0x80000, 0x800000},
        {-3.0f, 0x80000, 0x800000},
        {-1e30f, 0x80000, 0x800000},
        {0.0f, 0, 0},
        {-0.0f, 0, 0},
        // Less than one step below zero is zero, not the most negative word.
        {-1e-9f, 0, 0},
        {1.5f / 524288.0f, 1, 24},
        {-1.5f / 524288.0f, 0xFFFFF, 0xFFFFE8},
        {0.5f, 0x40000, 0x400000},
        {-0.5f, 0xC0000, 0xC00000},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(BrinkSampleWord::FromSample(row.x), row.brink) << row.x;
        EXPECT_EQ(CarroSampleWord::FromSample(row.x), row.carro) << row.x;
    }
}

TEST(ExpanderWords, MergeIsBitwiseOr)
{
    const uint8_t own[5] = {0x01, 0x20, 0x03, 0x40, 0x56};
    float l0 = 0, r0 = 0;
    WriteBrinkFrame(own, {0, 0}, &l0, &r0);
    // A stream whose words are 0 leaves the own words as they are.
    float l = 0, r = 0;
    WriteBrinkFrame(own, {BrinkSampleWord::FromSample(0.0f), BrinkSampleWord::FromSample(0.0f)}, &l, &r);
    EXPECT_EQ(l, l0);
    EXPECT_EQ(r, r0);
    // A stream that sets the same gate (bit 0 of B1) and another one (bit 7 of B3).
    const uint8_t other[5] = {0x01, 0, 0x80, 0, 0};
    float ol = 0, orr = 0;
    WriteBrinkFrame(other, {0, 0}, &ol, &orr);
    WriteBrinkFrame(own, {BrinkSampleWord::FromSample(ol), BrinkSampleWord::FromSample(orr)}, &l, &r);
    const brinktest::Frame merged = brinktest::FrameOf(l, r);
    const uint8_t expected[5] = {0x01, 0x20, 0x83, 0x40, 0x56};
    EXPECT_EQ(0, memcmp(merged.b, expected, 5));
}

TEST(ExpanderWords, SetFrameGateStaysInsideTheFrame)
{
    uint8_t bytes[6] = {};
    SetFrameGate(bytes, 5, 0);
    SetFrameGate(bytes, 5, 39);
    SetFrameGate(bytes, 5, 40); // beyond a Brink frame
    SetFrameGate(bytes, 5, -1);
    const uint8_t expected[6] = {0x01, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(0, memcmp(bytes, expected, 6));
}

TEST(ExpanderWords, TestFrames)
{
    uint8_t b[5];
    uint32_t n = 0;
    std::vector<int> pulse;
    for (int i = 0; i < 16; ++i) {
        ExpanderTestFrame(1, &n, b, 5);
        pulse.push_back(b[0]);
        EXPECT_EQ(b[4], b[0]);
    }
    EXPECT_EQ(pulse, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 255}));

    n = 0;
    std::vector<int> stairs;
    for (int i = 0; i < 7; ++i) {
        ExpanderTestFrame(2, &n, b, 5);
        stairs.push_back(b[2]);
    }
    EXPECT_EQ(stairs, (std::vector<int>{48, 96, 144, 192, 240, 0, 48}));

    // Signal 5: left word 0, right word the ramp, wrapping at 20 bits.
    for (uint32_t start : {0u, 0x12344u, 0xFFFFEu, 0xFFFFFu}) {
        n = start;
        ExpanderTestFrame(5, &n, b, 5);
        const ExpanderWordPair words = BrinkFrameWords(b);
        EXPECT_EQ(words.left, 0u);
        EXPECT_EQ(words.right, (start + 1) & 0xFFFFF);
    }
    // Not a Carro signal; 0 and unknown signals give zero frames.
    uint8_t c[6] = {1, 1, 1, 1, 1, 1};
    n = 7;
    ExpanderTestFrame(5, &n, c, 6);
    ExpanderTestFrame(0, &n, c, 6);
    ExpanderTestFrame(99, &n, c, 6);
    EXPECT_EQ(n, 7u);
    for (uint8_t v : c)
        EXPECT_EQ(v, 0);
}

TEST(ExpanderWords, DunmorePackets)
{
    DunmorePacketWriter writer;
    const int32_t values[4] = {1, 0x155, 4095, 99999};
    std::vector<int> bytes;
    for (int f = 0; f < 8; ++f)
        bytes.push_back(writer.Next(values));
    EXPECT_EQ(bytes,
              (std::vector<int>{0x01, 0x80, 0x55, 0x80 | 1 << 5 | 0x02, 0x7F, 0xDF, 0x7F, 0x80 | 3 << 5 | 0x1F}));
    // The odd frame carries the value latched in the even one before it.
    int32_t changing[4] = {0x7FF, 0, 0, 0};
    DunmorePacketWriter w2;
    EXPECT_EQ(w2.Next(changing), 0x7F);
    changing[0] = 0;
    EXPECT_EQ(w2.Next(changing), 0x80 | 0x0F);
}

} // namespace
