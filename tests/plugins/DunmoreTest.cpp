// The Dunmore Combiner through the built module and our host: what it tells
// the host, CV to 12-bit codes read back from the packets in its output, the
// byte position in Brink and Carro frames, chains with a controller and with
// other combiners, the filter, test signals, state chunks and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "framework/StateChunk.h"
#include "tests/plugins/CarroDunmoreTestSupport.h"

namespace {

using carrotest::DecodePackets;
using carrotest::Hosted;
using carrotest::InputSignal;
using carrotest::LastValues;
using carrotest::Output;
using carrotest::Packet;
using corvane::host::MidiMessage;
using corvane::host::Plugin;
using corvane::test::kInf;
using corvane::test::kNaN;
using corvane::test::Range;

constexpr int32_t kDunmoreId = vst::FourCC("QZsi");
constexpr int32_t kCarroId = vst::FourCC("QZsh");

enum : int32_t {
    kTargetHardware = 0, kTargetChannel = 1, kOffset1 = 2, kOSCPortOffset = 6, kTestSignal = 7, kInputThru = 8,
    kInput1 = 9, kFilter1 = 13,
};
constexpr float kBrink = 0, kCarro = 1;

Range DunmoreRange(int32_t i)
{
    if (i == kTargetChannel)
        return {0, 5};
    if (i >= kOffset1 && i < kOffset1 + 4)
        return {-5.34f, 5.34f};
    if (i == kOSCPortOffset)
        return {0, 100};
    if (i == kTestSignal || i == kInputThru)
        return {0, 3};
    if (i >= kInput1 && i < kInput1 + 4)
        return {0, 6};
    return {0, 1};
}

Range CarroRange(int32_t i)
{
    if (i < 6)
        return {0, 255};
    if (i >= 8 && i < 20)
        return i % 2 == 0 ? Range{0, 16} : Range{0, 127};
    return {0, 1}; // only the indices above are set here
}

class Dunmore : public Hosted {
public:
    explicit Dunmore(int32_t block = 375) : Hosted(kDunmoreId, DunmoreRange, 48000, block) {}
};

// A constant on each input channel (index = channel).
InputSignal Constants(std::vector<float> values)
{
    return [values](int c, int64_t) { return c < static_cast<int>(values.size()) ? values[c] : 0.0f; };
}

// ---------------------------------------------------------------------------

TEST(Dunmore, ZeroInputSendsTheMidCodePair)
{
    // Carro target, byte 1; channel 1 reads input 1 at 0.0: 0x00 then
    // 0x80 | 0 << 5 | 0x10; the other channels read silent inputs too.
    Dunmore dunmore;
    dunmore.Set(kTargetHardware, kCarro);
    dunmore.Set(kInputThru, 0);
    dunmore.Set(kInput1, 1);
    const Output out = dunmore.Run(16);
    const std::vector<uint8_t> bytes = out.Bytes(0, true);
    const uint8_t expected[] = {0x00, 0x90, 0x00, 0xB0, 0x00, 0xD0, 0x00, 0xF0};
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(bytes[i], expected[i % 8]) << i;
        for (int k = 1; k < 6; ++k)
            EXPECT_EQ(out.Carro(i).b[k], 0) << i;
    }
}

TEST(Dunmore, InputsAndOffsetsToCodes)
{
    struct Row {
        float input;
        float offset;
        int code;
    };
    const Row rows[] = {
        // Offset codes: 5.34 x 384 = 2050.56, 2.67 x 384 = 1025.28.
        {0.0f, 0, 2048},     {1.0f, 0, 4095},       {-1.0f, 0, 1},       {0.5f, 0, 3072},  {-0.5f, 0, 1025},
        {2.0f, 0, 4095},     {-3.0f, 0, 0},         {0.0f, 5.34f, 4095}, {0.0f, -5.34f, 0}, {0.0f, 2.67f, 3073},
        {1.0f, -2.67f, 3070}, {-1.0f, 5.34f, 2051}, {kNaN, 0, 2048},     {kInf, 0, 4095},  {-kInf, 0, 0},
        {1e30f, -5.34f, 4095},
    };
    for (const Row& row : rows) {
        // The channel under test is channel 3, moved to input 5; the others
        // read their default inputs 3, 4 and 6.
        Dunmore dunmore;
        dunmore.Set(kTargetHardware, kCarro);
        dunmore.Set(kTargetChannel, 3);
        dunmore.Set(kInputThru, 0);
        dunmore.Set(kInput1 + 2, 5);
        dunmore.Set(kOffset1 + 2, row.offset);
        const Output out = dunmore.Run(64, Constants({0, 0, 0.25f, -0.25f, row.input, 0}));
        const auto packets = DecodePackets(out.Bytes(3, true));
        ASSERT_EQ(packets.size(), 32u);
        const auto last = LastValues(packets);
        EXPECT_EQ(last[2], row.code) << row.input << " offset " << row.offset;
        EXPECT_EQ(last[0], 2560);  // input 3 at 0.25: trunc(511.75 + 2048.5)
        EXPECT_EQ(last[1], 1536);  // input 4 at -0.25: trunc(-511.75 + 2048.5)
        EXPECT_EQ(last[3], 2048);  // input 6 at 0
        for (const Packet& p : packets)
            EXPECT_EQ(p.channel, static_cast<int>((p.at >> 1) & 3)) << p.at;
    }
    // An unrouted channel reads 0.
    Dunmore dunmore;
    dunmore.Set(kTargetHardware, kCarro);
    dunmore.Set(kInput1 + 1, 0);
    const auto last = LastValues(DecodePackets(dunmore.Run(64, Constants({0, 0, 1, 1, 1, 1})).Bytes(0, true)));
    EXPECT_EQ(last, (std::vector<int>{4095, 2048, 4095, 4095}));
}

// The bytes of frame i of a Carro (six) or Brink (five) stream.
void FrameAt(const Output& out, size_t i, bool carro, uint8_t* frame)
{
    if (carro)
        memcpy(frame, out.Carro(i).b, 6);
    else
        memcpy(frame, out.Brink(i).b, 5);
}

// The own byte at the target position; every other bit from the merged stream.
TEST(Dunmore, TargetPositionAndMerge)
{
    struct Row {
        float hardware;
        int position; // 0..5
    };
    const Row rows[] = {{kBrink, 0}, {kBrink, 2}, {kBrink, 4}, {kBrink, 5}, {kCarro, 0}, {kCarro, 3}, {kCarro, 5}};
    for (const Row& row : rows) {
        const bool carro = row.hardware == kCarro;
        const uint8_t streamBytes[6] = {0x12, 0x34, 0x00, 0x78, 0x9A, 0x00};
        // The merged stream: a Brink or Carro frame with B3 and B6 empty.
        float sl, sr;
        if (carro) {
            sl = carrotest::SampleOf(0x123400);
            sr = carrotest::SampleOf(0x789A00);
        } else {
            sl = static_cast<float>(std::ldexp(static_cast<double>(0x12349), -19));
            sr = static_cast<float>(std::ldexp(static_cast<double>(0x0078A), -19));
        }
        Dunmore dunmore;
        dunmore.Set(kTargetHardware, row.hardware);
        dunmore.Set(kTargetChannel, static_cast<float>(row.position));
        dunmore.Set(kInput1, 3); // channel 1 reads input 3
        const Output out = dunmore.Run(64, Constants({sl, sr, 0.5f}));
        const int bytes = carro ? 6 : 5;
        std::vector<uint8_t> own;
        for (size_t i = 0; i < out.Size(); ++i) {
            uint8_t frame[6] = {};
            FrameAt(out, i, carro, frame);
            for (int k = 0; k < bytes; ++k) {
                const uint8_t from = streamBytes[k];
                if (k == row.position) {
                    EXPECT_EQ(frame[k] & from, from) << "the stream's bits stay, byte " << k + 1;
                } else {
                    ASSERT_EQ(frame[k], from) << "position " << row.position << ", byte " << k + 1 << " at " << i;
                }
            }
            if (row.position < bytes)
                own.push_back(static_cast<uint8_t>(frame[row.position] & ~streamBytes[row.position]));
        }
        if (row.position >= bytes)
            continue; // a Brink frame has no sixth byte: nothing is sent
        // Position 3 and 6 were empty in the stream: the packets read back.
        if (streamBytes[row.position] == 0) {
            const auto last = LastValues(DecodePackets(own));
            EXPECT_EQ(last[0], 3072) << row.position;
        }
    }
}

// A target changed between blocks moves the own byte at once, whatever
// position and hardware came before; every other byte stays empty.
TEST(Dunmore, TargetChangedBetweenBlocksMovesTheByte)
{
    struct Row {
        float hardware;
        int position;
    };
    const Row rows[] = {{kBrink, 0}, {kBrink, 4}, {kCarro, 4}, {kCarro, 1}, {kBrink, 1}, {kBrink, 5}, {kCarro, 5},
                        {kBrink, 3}};
    Dunmore dunmore;
    for (const Row& row : rows) {
        dunmore.Set(kTargetHardware, row.hardware);
        dunmore.Set(kTargetChannel, static_cast<float>(row.position));
        const Output out = dunmore.Run(16, Constants({0, 0, 0.5f}));
        const bool carro = row.hardware == kCarro;
        const int bytes = carro ? 6 : 5;
        for (size_t i = 0; i < out.Size(); ++i) {
            uint8_t frame[6] = {};
            FrameAt(out, i, carro, frame);
            for (int k = 0; k < bytes; ++k) {
                if (k != row.position) {
                    ASSERT_EQ(frame[k], 0) << "position " << row.position << ", byte " << k + 1 << " at " << i;
                }
            }
            // Every second frame carries a packet's high byte, 0x80 set.
            if (row.position < bytes && (i & 1) == 1) {
                EXPECT_EQ(frame[row.position] & 0x80, 0x80) << "position " << row.position << " at " << i;
            }
        }
    }
}

TEST(Dunmore, ChainsWithAControllerAndAnotherCombiner)
{
    // A Carro controller holds Gates 2/1 and Output 6 = 0x0F; combiner A puts
    // its packets into byte 3, combiner B (fed A's output) into byte 6.
    Hosted carro(kCarroId, CarroRange);
    carro.Set(1, 0x40);  // Output 2
    carro.Set(5, 0x0F);  // Output 6 (shares byte 6 with B: bits combine)
    carro.Set(10, 1);    // Gates 2 MIDI Channel
    carro.Midi({MidiMessage{0, {0x90, 48, 100}}});
    const Output fromCarro = carro.Run(800);

    Dunmore a, b;
    a.Set(kTargetHardware, kCarro);
    a.Set(kTargetChannel, 2);
    b.Set(kTargetHardware, kCarro);
    b.Set(kTargetChannel, 5);
    b.Set(kInputThru, 2); // 3/4
    const Output fromA = a.Run(800, carrotest::StreamInto(fromCarro, 0, Constants({0, 0, 0.5f, -0.5f, 1.0f, -1.0f})));
    const Output fromB =
        b.Run(800, carrotest::StreamInto(fromA, 1, Constants({0.25f, 0.75f, 0, 0, -0.25f, -0.75f})));
    for (size_t i = 0; i < fromB.Size(); ++i) {
        const carrotest::Frame f = fromB.Carro(i);
        ASSERT_EQ(f.b[0], 0);
        ASSERT_EQ(f.b[1], 0x41);
        ASSERT_EQ(f.b[3], 0);
        ASSERT_EQ(f.b[4], 0);
    }
    EXPECT_EQ(LastValues(DecodePackets(fromB.Bytes(2, true))), (std::vector<int>{3072, 1025, 4095, 1}));
    // Byte 6 carries B's packets ORed with the controller's 0x0F: the low
    // bits are lost to the controller, but the marker and channel bits of
    // every packet come through.
    const auto packets = DecodePackets(fromB.Bytes(5, true));
    ASSERT_FALSE(packets.empty());
    for (const Packet& p : packets)
        EXPECT_EQ(p.channel, static_cast<int>((p.at >> 1) & 3));
}

TEST(Dunmore, FilterSettlesExactlyAndStartsFromRest)
{
    Dunmore dunmore(256);
    dunmore.Set(kTargetHardware, kCarro);
    dunmore.Set(kInputThru, 0);
    dunmore.Set(kFilter1 + 1, 1); // channel 2 reads input 4
    // A step from 0 to 0.3: the filtered code rises from the middle and
    // settles on exactly the unfiltered code.
    const Output step = dunmore.Run(4096, Constants({0, 0, 0, 0.3f, 0, 0}));
    std::vector<int> codes;
    for (const Packet& p : DecodePackets(step.Bytes(0, true)))
        if (p.channel == 1)
            codes.push_back(p.value);
    ASSERT_GT(codes.size(), 500u);
    EXPECT_LT(codes[0], 2200);
    for (size_t i = codes.size() - 100; i < codes.size(); ++i)
        EXPECT_EQ(codes[i], 2662) << i;
    const int peak = *std::max_element(codes.begin(), codes.end());
    EXPECT_GT(peak, 2662); // a Chebyshev step overshoots

    // Off: the raw code at once. On again: from rest, not from what the
    // filter held when it was switched off.
    dunmore.Set(kFilter1 + 1, 0);
    const auto off = LastValues(DecodePackets(dunmore.Run(256, Constants({0, 0, 0, 0.3f})).Bytes(0, true)));
    EXPECT_EQ(off[1], 2662);
    dunmore.Set(kFilter1 + 1, 1);
    std::vector<int> again;
    for (const Packet& p : DecodePackets(dunmore.Run(256, Constants({0, 0, 0, 0.3f})).Bytes(0, true)))
        if (p.channel == 1)
            again.push_back(p.value);
    ASSERT_FALSE(again.empty());
    EXPECT_LT(again[0], 2200);

    // An unfiltered channel beside it follows its input sample by sample.
    const auto others = LastValues(DecodePackets(dunmore.Run(64, Constants({0, 0, -1, 0.3f})).Bytes(0, true)));
    EXPECT_EQ(others[0], 1);
}

TEST(Dunmore, TestSignals)
{
    for (const int signal : {1, 2, 3}) {
        Dunmore dunmore;
        dunmore.Set(kTargetHardware, kCarro);
        dunmore.Set(kTargetChannel, 4);
        dunmore.Set(kTestSignal, static_cast<float>(signal));
        // Test signals send the own byte alone: the thru stream is ignored.
        const Output out = dunmore.Run(2048 * 8, Constants({0.5f, 0.5f, 1, 1, 1, 1}));
        const auto packets = DecodePackets(out.Bytes(4, true));
        ASSERT_EQ(packets.size(), out.Size() / 2);
        for (size_t k = 0; k < packets.size(); ++k) {
            const int channel = static_cast<int>(k % 4);
            const int m = static_cast<int>(k / 4) % (signal == 1 ? 4096 : 256);
            const int expected = signal == 1 ? m : (signal == 2 ? 16 * m : (16 * m + 1024 * channel) & 0xFFF);
            ASSERT_EQ(packets[k].channel, channel) << signal << " packet " << k;
            ASSERT_EQ(packets[k].value, expected) << signal << " packet " << k;
        }
        for (size_t i = 0; i < out.Size(); ++i)
            for (int b : {0, 1, 2, 3, 5})
                ASSERT_EQ(out.Carro(i).b[b], 0) << i;
    }
}

TEST(Dunmore, BadInputKeepsOutputsWords)
{
    for (const float hardware : {kBrink, kCarro}) {
        Dunmore dunmore;
        dunmore.Set(kTargetHardware, hardware);
        dunmore.Set(kTargetChannel, 1);
        for (int k = 0; k < 4; k += 2)
            dunmore.Set(kFilter1 + k, 1);
        const InputSignal junk = [](int channel, int64_t i) {
            const float values[] = {kNaN, kInf, -kInf, 1e30f, -1e30f, 0.5f, -0.5f, 1e-40f};
            return values[(channel * 3 + i) % 8];
        };
        const Output out = dunmore.Run(3000, junk);
        const double scale = hardware == kCarro ? 8388608.0 : 524288.0;
        for (size_t i = 0; i < out.Size(); ++i)
            for (const float v : {out.left[i], out.right[i]}) {
                ASSERT_TRUE(std::isfinite(v)) << i;
                ASSERT_LE(std::fabs(v), 1.0f);
                ASSERT_EQ(v * scale, std::round(v * scale)) << i;
            }
        // The filters recover: clean input afterwards settles exactly.
        const auto last = LastValues(DecodePackets(
            dunmore.Run(4000, Constants({0, 0, 0.3f, 0.3f, 0.3f, 0.3f})).Bytes(1, hardware == kCarro)));
        EXPECT_EQ(last, (std::vector<int>{2662, 2662, 2662, 2662}));
    }
}

} // namespace
