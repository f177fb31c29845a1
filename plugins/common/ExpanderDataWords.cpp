#include "plugins/common/ExpanderDataWords.h"

#include <cstring>

// audio thread
void ExpanderTestFrame(int32_t signal, uint32_t* counter, uint8_t* bytes, int32_t byteCount)
{
    if (byteCount <= 0)
        return;
    memset(bytes, 0, static_cast<size_t>(byteCount));
    uint32_t n = *counter;
    switch (signal) {
    case 1: // a one-sample pulse every 8 samples
        n = (n + 1) & 7;
        memset(bytes, n == 0 ? 255 : 0, static_cast<size_t>(byteCount));
        break;
    case 2: // a staircase 0, 48 .. 240
        n = (n + 1) % 6;
        memset(bytes, static_cast<int>(n * 48), static_cast<size_t>(byteCount));
        break;
    case 3: // a ramp
        n = (n + 1) & 255;
        memset(bytes, static_cast<int>(n), static_cast<size_t>(byteCount));
        break;
    case 4: // a walking bit, one step per 16384 samples
        n = (n + 1) & 0x1FFFF;
        memset(bytes, 1 << (n >> 14), static_cast<size_t>(byteCount));
        break;
    case 5: // Brink form only: left word 0, right word the 20-bit ramp n
        if (byteCount != kBrinkFrameBytes)
            return;
        n = (n + 1) & 0xFFFFF;
        bytes[2] = static_cast<uint8_t>(n >> 12);
        bytes[3] = static_cast<uint8_t>((n >> 4) & 0xFF);
        bytes[4] = static_cast<uint8_t>(n & 0x0F);
        break;
    default: return;
    }
    *counter = n;
}

int32_t SerialRateClass(double sampleRate)
{
    if (sampleRate == 44100.0)
        return 1;
    if (sampleRate == 48000.0)
        return 2;
    if (sampleRate == 88200.0)
        return 3;
    if (sampleRate == 96000.0)
        return 4;
    return 0;
}

int32_t SerialMidiLine::SamplesPerByte(int32_t rateClass)
{
    static constexpr int32_t kSamples[] = {0, 15, 16, 29, 31};
    return rateClass >= 1 && rateClass <= 4 ? kSamples[rateClass] : 0;
}

// 31250 baud is not a whole number of samples at any of these rates: each
// table spreads a byte's ten bits over the samples so that the bit edges
// stay within a sample of where they belong.
int32_t SerialMidiLine::BitIndex(int32_t rateClass, int32_t c)
{
    // A counter past the byte's samples (the rate class changed while a
    // byte was in flight) ends the byte rather than reading past a table.
    if (c < 1 || c >= SamplesPerByte(rateClass))
        return 10;
    const int32_t k = c - 1;
    switch (rateClass) {
    case 1: {
        static constexpr int8_t kTable44k[15] = {0, 1, 1, 2, 3, 3, 4, 5, 5, 6, 7, 8, 8, 9, 10};
        return kTable44k[k];
    }
    case 2: return 2 * (k / 3) + (k % 3 == 2 ? 1 : 0);
    case 3:
        if (k < 11)
            return k / 3;
        if (k < 25)
            return (c - 12) / 3 + 4;
        return (c - 26) / 3 + 9;
    case 4: return k / 3;
    default: return 10;
    }
}

void SerialMidiLine::Reserve()
{
    if (ring.size() != kCapacity)
        ring.assign(kCapacity, 0);
    Clear();
}

void SerialMidiLine::Clear()
{
    head = 0;
    count = 0;
    bitCounter = 0;
    restSamples = 0;
}

// audio thread: the ring is made by Reserve; nothing allocates here
bool SerialMidiLine::Append(const uint8_t* bytes, size_t n)
{
    return AppendParts(nullptr, 0, bytes, n);
}

bool SerialMidiLine::Append(uint8_t prefix, const uint8_t* bytes, size_t n)
{
    return AppendParts(&prefix, 1, bytes, n);
}

bool SerialMidiLine::AppendParts(const uint8_t* first, size_t firstCount, const uint8_t* second, size_t secondCount)
{
    const size_t total = firstCount + secondCount;
    if (ring.empty() || total == 0 || total > kCapacity - count)
        return false;
    size_t tail = head + count;
    if (tail >= kCapacity)
        tail -= kCapacity;
    auto put = [&](const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            ring[tail] = bytes[i];
            if (++tail == kCapacity)
                tail = 0;
        }
    };
    put(first, firstCount);
    put(second, secondCount);
    count += total;
    if (bitCounter == 0)
        bitCounter = 1;
    return true;
}

// audio thread
bool SerialMidiLine::Step(int32_t rateClass)
{
    if (bitCounter == 0 || rateClass < 1 || rateClass > 4)
        return false;
    if (rateClass != byteClass) {
        // The sample rate changed under a byte in flight: its remaining bits
        // would be read from the new rate's table (the byte cut short, or data
        // bits sent again). The line rests at the stop level for a byte's
        // time, so a receiver that took the broken part for a byte is in step
        // again, and the byte starts over at the new rate.
        if (bitCounter > 1)
            restSamples = SamplesPerByte(rateClass);
        bitCounter = 1;
        byteClass = rateClass;
    }
    if (restSamples > 0) {
        --restSamples;
        return false;
    }
    const int32_t b = BitIndex(rateClass, bitCounter);
    ++bitCounter;
    if (b == 0)
        return true; // start bit
    if (b <= 8)
        return ((ring[head] >> (b - 1)) & 1) == 0;
    if (b == 9)
        return false; // stop bit
    // End of the byte: the next one starts with the next sample.
    if (++head == kCapacity)
        head = 0;
    --count;
    bitCounter = count > 0 ? 1 : 0;
    return false;
}
