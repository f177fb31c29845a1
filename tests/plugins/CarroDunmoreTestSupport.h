// Reading Carro frames and Dunmore packets back from output samples, written
// independently of the plug-ins' encoders: samples to 24-bit words to the six
// Carro bytes, and the bytes of one frame position to the 12-bit values of
// the four Dunmore channels. (Brink frames and the serial MIDI line:
// BrinkTestSupport.h.)
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/plugins/BrinkTestSupport.h"
#include "tests/support/PluginTestSupport.h"

namespace carrotest {

// The 24-bit two's complement word of a sample (samples are multiples of 2^-23).
inline uint32_t WordOf(float sample)
{
    const auto scaled = static_cast<int64_t>(std::llround(static_cast<double>(sample) * 8388608.0));
    return static_cast<uint32_t>(scaled) & 0xFFFFFF;
}

// The sample a 24-bit word stands for.
inline float SampleOf(uint32_t word)
{
    const int32_t value = (word & 0x800000) ? static_cast<int32_t>(word) - 0x1000000 : static_cast<int32_t>(word);
    return static_cast<float>(std::ldexp(static_cast<double>(value), -23));
}

struct Frame {
    uint8_t b[6];
    bool Gate(int gate) const { return (b[gate / 8] >> (gate % 8)) & 1; } // gate 0..47
};

inline Frame FrameOf(float left, float right)
{
    const uint32_t l = WordOf(left), r = WordOf(right);
    return {{static_cast<uint8_t>(l >> 16), static_cast<uint8_t>(l >> 8), static_cast<uint8_t>(l),
             static_cast<uint8_t>(r >> 16), static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r)}};
}

// A Dunmore value as the expander reads it: a byte with bit 7 clear holds
// the low seven bits, the byte with bit 7 set after it the channel (bits 6,
// 5) and the top five bits.
struct Packet {
    int64_t at; // sample of the high byte
    int channel;
    int value;
};

inline std::vector<Packet> DecodePackets(const std::vector<uint8_t>& bytes)
{
    std::vector<Packet> packets;
    std::optional<uint8_t> low;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = bytes[i];
        if ((b & 0x80) == 0) {
            low = b;
            continue;
        }
        if (low)
            packets.push_back({static_cast<int64_t>(i), (b >> 5) & 3, (b & 0x1F) << 7 | *low});
        low.reset();
    }
    return packets;
}

// The latest value of each channel at the end of a packet stream (-1: none).
inline std::vector<int> LastValues(const std::vector<Packet>& packets)
{
    std::vector<int> last(4, -1);
    for (const Packet& p : packets)
        last[static_cast<size_t>(p.channel)] = p.value;
    return last;
}

// ---- a plug-in of the built module --------------------------------------

using InputSignal = std::function<float(int channel, int64_t sample)>;

struct Output {
    std::vector<float> left, right;
    size_t Size() const { return left.size(); }
    Frame Carro(size_t i) const { return FrameOf(left[i], right[i]); }
    brinktest::Frame Brink(size_t i) const { return brinktest::FrameOf(left[i], right[i]); }
    void Append(const Output& more)
    {
        left.insert(left.end(), more.left.begin(), more.left.end());
        right.insert(right.end(), more.right.begin(), more.right.end());
    }
    // Byte `position` (0-based) of every Carro or Brink frame.
    std::vector<uint8_t> Bytes(int position, bool carro) const
    {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < Size(); ++i)
            bytes.push_back(carro ? Carro(i).b[position] : Brink(i).b[position]);
        return bytes;
    }
    // A Carro gate bit over the whole run (the serial line when it carries it).
    std::vector<bool> CarroGate(int gate) const
    {
        std::vector<bool> bits;
        for (size_t i = 0; i < Size(); ++i)
            bits.push_back(Carro(i).Gate(gate));
        return bits;
    }
};

// A plug-in of the built module started at `rate` with the host's transport
// at 120 BPM, stopped at position 0. Parameters are set by their real value.
class Hosted {
public:
    Hosted(int32_t id, corvane::test::Range (*rangeOf)(int32_t), double rate = 48000, int32_t block = 375)
        : rate(rate), block(block), rangeOf(rangeOf)
    {
        plugin = corvane::host::Plugin::Create(corvane::test::LoadedModule(), id);
        if (!plugin)
            throw std::runtime_error("the module gives no plug-in " + corvane::host::FourCCText(id));
        plugin->Start(rate, block);
        plugin->Time().tempo = 120;
        plugin->Time().ppqPos = 0;
        plugin->Time().playing = false;
    }

    void Set(int32_t index, float real) { corvane::test::SetReal(*plugin, index, rangeOf(index), real); }
    float Get(int32_t index)
    {
        const corvane::test::Range r = rangeOf(index);
        return r.min + plugin->GetParameter(index) * (r.max - r.min);
    }

    // Runs `frames` samples in blocks; `beforeBlock` (given the block's
    // first sample) may send MIDI or change the transport.
    Output Run(int64_t frames, const InputSignal& input = {}, const std::function<void(int64_t)>& beforeBlock = {})
    {
        Output out;
        std::vector<std::vector<float>> outputs;
        const int32_t channels = plugin->NumInputs();
        for (int64_t done = 0; done < frames;) {
            const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
            if (beforeBlock)
                beforeBlock(done);
            std::vector<std::vector<float>> inputs(static_cast<size_t>(channels), std::vector<float>(n, 0.0f));
            if (input)
                for (int c = 0; c < channels; ++c)
                    for (int32_t i = 0; i < n; ++i)
                        inputs[c][i] = input(c, done + i);
            plugin->ProcessBlock(inputs, outputs, n);
            out.left.insert(out.left.end(), outputs[0].begin(), outputs[0].end());
            out.right.insert(out.right.end(), outputs[1].begin(), outputs[1].end());
            done += n;
        }
        return out;
    }

    void Midi(const std::vector<corvane::host::MidiMessage>& messages) { plugin->SendMidi(messages); }
    corvane::host::Plugin& Host() { return *plugin; }

    double rate;
    int32_t block;

private:
    std::unique_ptr<corvane::host::Plugin> plugin;
    corvane::test::Range (*rangeOf)(int32_t);
};

// An input signal that feeds a recorded stream into one input pair.
inline InputSignal StreamInto(const Output& stream, int pair, InputSignal others = {})
{
    return [&stream, pair, others](int c, int64_t i) {
        if (c == 2 * pair)
            return stream.left[static_cast<size_t>(i)];
        if (c == 2 * pair + 1)
            return stream.right[static_cast<size_t>(i)];
        return others ? others(c, i) : 0.0f;
    };
}

} // namespace carrotest
