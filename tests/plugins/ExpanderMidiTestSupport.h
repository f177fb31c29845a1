// The MIDI the expander controller tests send and read back: short channel
// messages for the host to deliver, and the values of the bytes a serial
// MIDI line carried.
#pragma once

#include <cstdint>
#include <vector>

#include "host/VstHost.h"
#include "tests/plugins/BrinkTestSupport.h"

namespace expandertest {

inline corvane::host::MidiMessage Note(int channel, int note, int velocity, int delta = 0)
{
    return {delta, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)}};
}

inline corvane::host::MidiMessage Off(int channel, int note, int delta = 0)
{
    return {delta, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(note), 0}};
}

inline corvane::host::MidiMessage Cc(int channel, int controller, int value, int delta = 0)
{
    return {delta,
            {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller), static_cast<uint8_t>(value)}};
}

inline std::vector<uint8_t> Values(const std::vector<brinktest::SerialByte>& bytes)
{
    std::vector<uint8_t> values;
    for (const auto& b : bytes)
        values.push_back(b.value);
    return values;
}

} // namespace expandertest
