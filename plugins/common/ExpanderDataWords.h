// The data words that drive the Brink and Carro expanders through an audio
// interface's digital output. Every sample of a stereo frame carries a word
// instead of a waveform: the Brink takes five bytes per frame in two 20-bit
// words, the Carro six bytes in two 24-bit words. Each byte is an 8-bit
// output level or eight gates (gate g is bit (g-1) mod 8 of byte (g-1) div 8).
//
// Also here: the stream merge of a controller's "Input Thru" pair, the test
// frames, the 12-bit packet scheme of the Dunmore Combiner, and the serial
// MIDI line that a controller clocks bit by bit onto one gate bit.
//
// Audio thread: everything per sample is integer arithmetic on the caller's
// data; nothing allocates except SerialMidiLine::Reserve (not on the audio
// thread).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// A word of `Bits` bits read as two's complement and scaled so that the
// sample range is -1 .. 1 - 2^-(Bits-1). Brink words are 20 bits, Carro
// words 24; both convert to float exactly.
template <int Bits>
struct HardwareSampleWord {
    static_assert(Bits > 1 && Bits <= 24, "a word must fit a float's mantissa");
    static constexpr int kBits = Bits;
    static constexpr uint32_t kMask = (uint32_t{1} << Bits) - 1;
    static constexpr uint32_t kSignBit = uint32_t{1} << (Bits - 1);
    static constexpr uint32_t kMaxPositive = kSignBit - 1;
    static constexpr double kFullScale = static_cast<double>(kSignBit); // 2^(Bits-1)
    static constexpr float kScale = static_cast<float>(1.0 / kFullScale);

    // The sample a word stands for (bits above the word are ignored).
    static float ToSample(uint32_t word)
    {
        // The word's top bit moved to bit 31 and shifted back arithmetically:
        // the sign extension without a branch, so sample loops vectorise.
        const int32_t value = static_cast<int32_t>(word << (32 - Bits)) >> (32 - Bits);
        return static_cast<float>(value) * kScale;
    }

    // The word of a sample that arrives from elsewhere (a stream to merge):
    // trunc(x x 2^(Bits-1)) for x >= 0; for x < 0 its low Bits-1 bits with
    // the sign bit set. Every sample made by ToSample gives its word back.
    // Input is untrusted: NaN reads as 0 and values outside the word's range
    // are held to its ends, so a stray audio signal cannot wrap around.
    static uint32_t FromSample(float x)
    {
        // Without branches, so sample loops vectorise: a whole number in
        // -2^(Bits-1) .. 2^(Bits-1)-1 has the word's bits as its low Bits bits.
        x = x == x ? x : 0.0f;
        double scaled = static_cast<double>(x) * kFullScale;
        scaled = scaled >= static_cast<double>(kMaxPositive) ? static_cast<double>(kMaxPositive) : scaled;
        scaled = scaled <= -kFullScale ? -kFullScale : scaled;
        return static_cast<uint32_t>(static_cast<int32_t>(scaled)) & kMask; // toward zero
    }
};

// Word::FromSample of each lane of a vector of floats `x` into `words` (Ints:
// a vector of int32_t with the same lanes), with the same bits: the
// sample times 2^(Bits-1) is exact in single precision as in double (a power
// of two), up to an overflow to infinity that is held to the same end.
template <class Word, class Ints, class Floats, class Words>
[[gnu::always_inline]] inline void WordLanesFromSamples(const Floats& samples, Words& words)
{
    Floats x = samples;
    const Floats zero = {};
    x = x == x ? x : zero;
    Floats scaled = x * static_cast<float>(Word::kFullScale);
    scaled = scaled >= static_cast<float>(Word::kMaxPositive) ? zero + static_cast<float>(Word::kMaxPositive) : scaled;
    scaled = scaled <= -static_cast<float>(Word::kFullScale) ? zero - static_cast<float>(Word::kFullScale) : scaled;
    words = (Words)__builtin_convertvector(scaled, Ints) & Word::kMask;
}

// The samples of `frames` pairs of words, each ORed with the word of its
// sample of the merged stream when there is one (thruLeft/thruRight, else
// null): outLeft[i] = Word::ToSample(left[i] | Word::FromSample(thruLeft[i]))
// and likewise on the right. Four frames at a time in vector registers, with
// the same bits as one at a time: the sample times 2^(Bits-1) is exact in
// single precision as in double (a power of two), up to an overflow to
// infinity that is held to the same end. Both streams of a group are read
// before its outputs are written, so an output may be the same buffer as an
// input; buffers that overlap otherwise must not be handed.
template <class Word>
void WordsToSamples(const uint32_t* left, const uint32_t* right, const float* thruLeft, const float* thruRight,
                    float* outLeft, float* outRight, int32_t frames)
{
    typedef float Quad __attribute__((vector_size(16)));
    typedef int32_t QuadInt __attribute__((vector_size(16)));
    typedef uint32_t QuadWord __attribute__((vector_size(16)));
    auto fromSamples = [&](const float* p) {
        Quad x;
        memcpy(&x, p, sizeof x);
        QuadWord words;
        WordLanesFromSamples<Word, QuadInt>(x, words);
        return words;
    };
    auto toSamples = [](QuadWord words) {
        constexpr int kShift = 32 - Word::kBits;
        const QuadInt value = (QuadInt)(words << kShift) >> kShift;
        return __builtin_convertvector(value, Quad) * Word::kScale;
    };
    int32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        QuadWord l, r;
        memcpy(&l, left + i, sizeof l);
        memcpy(&r, right + i, sizeof r);
        if (thruLeft) {
            l |= fromSamples(thruLeft + i);
            r |= fromSamples(thruRight + i);
        }
        const Quad a = toSamples(l), b = toSamples(r);
        memcpy(outLeft + i, &a, sizeof a);
        memcpy(outRight + i, &b, sizeof b);
    }
    for (; i < frames; ++i) {
        const uint32_t mergeLeft = thruLeft ? Word::FromSample(thruLeft[i]) : 0;
        const uint32_t mergeRight = thruLeft ? Word::FromSample(thruRight[i]) : 0;
        outLeft[i] = Word::ToSample(left[i] | mergeLeft);
        outRight[i] = Word::ToSample(right[i] | mergeRight);
    }
}

using BrinkSampleWord = HardwareSampleWord<20>;
using CarroSampleWord = HardwareSampleWord<24>;

constexpr int32_t kBrinkFrameBytes = 5;
constexpr int32_t kCarroFrameBytes = 6;
constexpr int32_t kMaxExpanderFrameBytes = 6;

struct ExpanderWordPair {
    uint32_t left;
    uint32_t right;
};

// Brink: left = B1 << 12 | B2 << 4 | B5 >> 4, right = B3 << 12 | B4 << 4 | B5 & 0x0F.
// Carro: left = B1 << 16 | B2 << 8 | B3, right = B4 << 16 | B5 << 8 | B6.
// On plain words or on vectors of words (one frame per lane): b holds the
// frame's bytes as words. Always inlined: the vector forms are used inside
// functions built for several instruction sets.
template <int Bytes, class T>
[[gnu::always_inline]] inline void ExpanderWordsOf(const T* b, T& left, T& right)
{
    static_assert(Bytes == kBrinkFrameBytes || Bytes == kCarroFrameBytes);
    if constexpr (Bytes == kBrinkFrameBytes) {
        left = b[0] << 12 | b[1] << 4 | b[4] >> 4;
        right = b[2] << 12 | b[3] << 4 | (b[4] & 0x0F);
    } else {
        left = b[0] << 16 | b[1] << 8 | b[2];
        right = b[3] << 16 | b[4] << 8 | b[5];
    }
}

// The words of a frame of bytes. Byte k is read at bytes[k * stride]
// (frames kept byte position by byte position have the stretch's length as
// stride).
template <int Bytes>
[[gnu::always_inline]] inline ExpanderWordPair ExpanderFrameWords(const uint8_t* bytes, size_t stride = 1)
{
    uint32_t b[Bytes];
#pragma GCC unroll 6
    for (int32_t k = 0; k < Bytes; ++k)
        b[k] = bytes[static_cast<size_t>(k) * stride];
    ExpanderWordPair words;
    ExpanderWordsOf<Bytes>(b, words.left, words.right);
    return words;
}

inline ExpanderWordPair BrinkFrameWords(const uint8_t* bytes, size_t stride = 1)
{
    return ExpanderFrameWords<kBrinkFrameBytes>(bytes, stride);
}

inline ExpanderWordPair CarroFrameWords(const uint8_t* bytes, size_t stride = 1)
{
    return ExpanderFrameWords<kCarroFrameBytes>(bytes, stride);
}

// The bytes of a frame back from its words (bits above a word are ignored).
inline void BrinkFrameBytes(ExpanderWordPair words, uint8_t* bytes)
{
    bytes[0] = static_cast<uint8_t>(words.left >> 12);
    bytes[1] = static_cast<uint8_t>(words.left >> 4);
    bytes[2] = static_cast<uint8_t>(words.right >> 12);
    bytes[3] = static_cast<uint8_t>(words.right >> 4);
    bytes[4] = static_cast<uint8_t>((words.left & 0x0F) << 4 | (words.right & 0x0F));
}

inline void CarroFrameBytes(ExpanderWordPair words, uint8_t* bytes)
{
    bytes[0] = static_cast<uint8_t>(words.left >> 16);
    bytes[1] = static_cast<uint8_t>(words.left >> 8);
    bytes[2] = static_cast<uint8_t>(words.left);
    bytes[3] = static_cast<uint8_t>(words.right >> 16);
    bytes[4] = static_cast<uint8_t>(words.right >> 8);
    bytes[5] = static_cast<uint8_t>(words.right);
}

// Writes one frame: the words of `bytes` ORed bit by bit with the merge
// words (0 when nothing is merged), as the two output samples.
inline void WriteBrinkFrame(const uint8_t* bytes, ExpanderWordPair merge, float* left, float* right)
{
    const ExpanderWordPair words = BrinkFrameWords(bytes);
    *left = BrinkSampleWord::ToSample(words.left | merge.left);
    *right = BrinkSampleWord::ToSample(words.right | merge.right);
}

inline void WriteCarroFrame(const uint8_t* bytes, ExpanderWordPair merge, float* left, float* right)
{
    const ExpanderWordPair words = CarroFrameWords(bytes);
    *left = CarroSampleWord::ToSample(words.left | merge.left);
    *right = CarroSampleWord::ToSample(words.right | merge.right);
}

// Sets gate g (0-based: bit g mod 8 of byte g div 8) in a frame of
// `byteCount` bytes; gates beyond the frame are ignored.
inline void SetFrameGate(uint8_t* bytes, int32_t byteCount, int32_t gate)
{
    if (gate >= 0 && gate < 8 * byteCount)
        bytes[gate >> 3] |= static_cast<uint8_t>(1u << (gate & 7));
}

// The test frames of a controller's "Test Signal" (1..5; 5 only in the Brink
// form of 5 bytes, where it makes the left word 0 and the right word a 20-bit
// ramp). Advances the counter, kept by the caller across blocks, by one
// sample and fills `byteCount` bytes. Any other signal gives a zero frame and
// leaves the counter alone.
void ExpanderTestFrame(int32_t signal, uint32_t* counter, uint8_t* bytes, int32_t byteCount);

// The Dunmore Combiner's packets: four 12-bit value channels carried in one
// byte position, two frames per value. Frame f (0..7, kept across blocks)
// carries channel (f >> 1) & 3: on the even frame the low 7 bits of the
// value (latched there), on the odd one 0x80 | channel << 5 | its top 5 bits.
struct DunmorePacketWriter {
    uint32_t frame = 0;
    uint32_t latched = 0;

    // The byte of this frame; values outside 0..4095 are held to its ends.
    uint8_t Next(const int32_t* values)
    {
        const uint32_t channel = (frame >> 1) & 3;
        uint8_t byte;
        if ((frame & 1) == 0) {
            const int32_t v = values[channel];
            latched = static_cast<uint32_t>(v < 0 ? 0 : (v > 4095 ? 4095 : v));
            byte = static_cast<uint8_t>(latched & 0x7F);
        } else {
            byte = static_cast<uint8_t>(0x80 | channel << 5 | latched >> 7);
        }
        frame = (frame + 1) & 7;
        return byte;
    }
};

// The sample-rate class of the serial line: 1 for 44100 Hz, 2 for 48000,
// 3 for 88200, 4 for 96000; 0 (no line) for any other rate.
int32_t SerialRateClass(double sampleRate);

// The MIDI bytes a controller sends to its expander: a queue of at most
// kCapacity bytes, sent at 31250 baud by sample counting on one gate bit.
// A set gate bit is a logic 0: the start bit and every 0 data bit set it;
// the stop bit and the idle line leave it clear.
//
// Owned by one instance and used on the audio thread only (after Reserve,
// which allocates the whole ring at once so that appending never does).
class SerialMidiLine {
public:
    static constexpr size_t kCapacity = 0x100000;

    // Makes the ring. Not on the audio thread.
    void Reserve();
    // Empties the queue and idles the line (keeps the ring).
    void Clear();

    // Appends all `count` bytes, or none when they would not fit; starts an
    // idle line. False when dropped (or before Reserve).
    bool Append(const uint8_t* bytes, size_t count);
    bool Append(uint8_t byte) { return Append(&byte, 1); }
    // Appends `prefix` and then `count` bytes, as one message: all or none.
    bool Append(uint8_t prefix, const uint8_t* bytes, size_t count);

    // One sample of the line at the given rate class: true when the gate
    // bit is set in this sample. At class 0 nothing is sent and the queue waits.
    bool Step(int32_t rateClass);

    size_t Queued() const { return count; }
    bool Idle() const { return bitCounter == 0; }
    // The bit index (0 start, 1..8 data bits D0..D7, 9 stop, 10 end of byte)
    // of sample c (1-based) of a byte at a rate class; 10 beyond the byte.
    static int32_t BitIndex(int32_t rateClass, int32_t c);
    // Samples one byte takes at a rate class (0 for class 0).
    static int32_t SamplesPerByte(int32_t rateClass);

private:
    bool AppendParts(const uint8_t* first, size_t firstCount, const uint8_t* second, size_t secondCount);

    std::vector<uint8_t> ring;
    size_t head = 0;  // front byte
    size_t count = 0; // queued bytes, the front one included while it is sent
    int32_t bitCounter = 0; // sample of the byte in flight, 1-based; 0 = idle
    int32_t byteClass = 0;   // the rate class the byte in flight is sent at
    int32_t restSamples = 0; // the line rests this long before a byte starts over
};
