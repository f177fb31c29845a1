// Reading an expander's data stream back, written independently of the
// plug-in's encoder: output samples to 20-bit words to the five Brink bytes,
// and a serial MIDI line on one gate bit to the bytes it carries (a UART at
// 31250 baud that samples each bit in its middle).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace brinktest {

// The 20-bit two's complement word of a sample (samples are multiples of 2^-19).
inline uint32_t WordOf(float sample)
{
    const auto scaled = static_cast<int64_t>(std::llround(static_cast<double>(sample) * 524288.0));
    return static_cast<uint32_t>(scaled) & 0xFFFFF;
}

struct Frame {
    uint8_t b[5];
    bool Gate(int gate) const { return (b[gate / 8] >> (gate % 8)) & 1; } // gate 0..39
};

inline Frame FrameOf(float left, float right)
{
    const uint32_t l = WordOf(left), r = WordOf(right);
    Frame f;
    f.b[0] = static_cast<uint8_t>(l >> 12);
    f.b[1] = static_cast<uint8_t>(l >> 4);
    f.b[2] = static_cast<uint8_t>(r >> 12);
    f.b[3] = static_cast<uint8_t>(r >> 4);
    f.b[4] = static_cast<uint8_t>((l & 0x0F) << 4 | (r & 0x0F));
    return f;
}

struct SerialByte {
    int64_t start; // sample of the start bit's first sample
    uint8_t value;
    bool framed;   // start bit set and stop bit clear where they belong
};

// Decodes a line (true = gate bit set = logic 0) sampled at `rate` Hz.
inline std::vector<SerialByte> DecodeSerial(const std::vector<bool>& line, double rate)
{
    const double perBit = rate / 31250.0;
    std::vector<SerialByte> bytes;
    int64_t s = 0;
    const auto n = static_cast<int64_t>(line.size());
    auto at = [&](int64_t start, double bit) {
        const auto i = start + static_cast<int64_t>(std::floor((bit + 0.5) * perBit));
        return i < n ? line[static_cast<size_t>(i)] : false;
    };
    while (s < n) {
        if (!line[static_cast<size_t>(s)]) {
            ++s;
            continue;
        }
        const int64_t start = s;
        if (start + static_cast<int64_t>(10 * perBit) > n)
            break; // an unfinished byte at the end
        SerialByte byte{start, 0, at(start, 0) && !at(start, 9)};
        for (int k = 0; k < 8; ++k)
            if (!at(start, 1 + k))
                byte.value |= static_cast<uint8_t>(1u << k);
        bytes.push_back(byte);
        // Wait for the stop bit, then for the next start.
        s = start + static_cast<int64_t>(std::floor(9.5 * perBit)) + 1;
    }
    return bytes;
}

} // namespace brinktest
