#include "plugins/common/ExpanderFrameEncoder.h"

#include <cstring>
#include <type_traits>

#include "plugins/common/SampleLoops.h"

// The vectors of eight lanes live only inside this file's functions, all
// inlined into the two entry points (each built for several instruction
// sets): no vector crosses a call, so the calling convention's change with
// AVX does not matter here, and no AVX code calls code built without it.
#pragma GCC diagnostic ignored "-Wpsabi"

// audio thread: no allocation, no lock
namespace {

// Eight samples or words in one vector (one AVX register or two SSE ones),
// for the controllers' frame encoder.
struct Lanes {
    static constexpr int32_t kLanes = 8;
    typedef float Samples __attribute__((vector_size(4 * kLanes)));
    typedef int32_t Ints __attribute__((vector_size(4 * kLanes)));
    typedef uint32_t Words __attribute__((vector_size(4 * kLanes)));

    [[gnu::always_inline]] static Samples Load(const float* p)
    {
        Samples x;
        memcpy(&x, p, sizeof x);
        return x;
    }
    [[gnu::always_inline]] static Words LoadWords(const uint32_t* p)
    {
        Words x;
        memcpy(&x, p, sizeof x);
        return x;
    }
    [[gnu::always_inline]] static void Store(float* p, Samples x) { memcpy(p, &x, sizeof x); }

    // Word::FromSample of each sample, with the same bits.
    template <class Word>
    [[gnu::always_inline]] static Words FromSamples(Samples x)
    {
        Words words;
        WordLanesFromSamples<Word, Ints>(x, words);
        return words;
    }

    // Word::ToSample of each word.
    template <class Word>
    [[gnu::always_inline]] static Samples ToSamples(Words words)
    {
        constexpr int kShift = 32 - Word::kBits;
        const Ints value = (Ints)(words << kShift) >> kShift;
        return __builtin_convertvector(value, Samples) * Word::kScale;
    }
};

constexpr int32_t kLanes = Lanes::kLanes;
using Samples = Lanes::Samples;
using Ints = Lanes::Ints;
using Words = Lanes::Words;

// The sources of a piece as the group loop reads them: everything in one
// local object, so that no output store makes the compiler read it again
// (the project builds with -fno-strict-aliasing).
template <int Bytes>
struct Plan {
    ExpanderWordPair base; // the words of the bytes that follow no input
    const float* level[Bytes];
    float scale[Bytes];
    float offset[Bytes];
    int32_t add[Bytes];
    int32_t gateCount;
    const float* gate[ExpanderFrameSources::kMaxGates];
    ExpanderWordPair gateWords[ExpanderFrameSources::kMaxGates];
    ExpanderWordPair serialWords;
    const float* thruLeft;
    const float* thruRight;
};

template <int Bytes>
[[gnu::always_inline]] inline ExpanderWordPair GateWords(int32_t gate)
{
    uint8_t frame[Bytes] = {};
    SetFrameGate(frame, Bytes, gate);
    return ExpanderFrameWords<Bytes>(frame);
}

template <int Bytes>
[[gnu::always_inline]] inline Plan<Bytes> MakePlan(const ExpanderFrameSources& s)
{
    Plan<Bytes> p{};
    uint8_t fixed[Bytes];
#pragma GCC unroll 6
    for (int32_t k = 0; k < Bytes; ++k) {
        p.level[k] = s.level[k];
        p.scale[k] = s.levelScale[k];
        p.offset[k] = s.levelOffset[k];
        p.add[k] = s.bytes[k];
        fixed[k] = s.level[k] ? 0 : s.bytes[k];
    }
    p.base = ExpanderFrameWords<Bytes>(fixed);
    p.gateCount = s.gateCount < 0 ? 0 : (s.gateCount > ExpanderFrameSources::kMaxGates ? ExpanderFrameSources::kMaxGates
                                                                                         : s.gateCount);
    for (int32_t g = 0; g < p.gateCount; ++g) {
        p.gate[g] = s.gate[g];
        p.gateWords[g] = GateWords<Bytes>(s.gateBit[g]);
    }
    p.serialWords = GateWords<Bytes>(s.serialBit);
    p.thruLeft = s.thruLeft && s.thruRight ? s.thruLeft : nullptr;
    p.thruRight = p.thruLeft ? s.thruRight : nullptr;
    return p;
}

// The words of the frames at .. at+kLanes-1, before the merge. A byte that
// follows an input replaces the piece byte; gate bits are ORed into the
// words, which is ORing them into the bytes (each byte's bits land on bits
// of their own in the words).
template <int Bytes>
[[gnu::always_inline]] inline void Group(const Plan<Bytes>& p, int32_t at, const uint32_t* serial, Words& left,
                                         Words& right)
{
    const Samples zero = {};
    left = Words{} + p.base.left;
    right = Words{} + p.base.right;
#pragma GCC unroll 6
    for (int32_t k = 0; k < Bytes; ++k)
        if (p.level[k]) {
            Samples x = Lanes::Load(p.level[k] + at);
            x = x == x ? x : zero;
            x = x < -4.0f ? zero - 4.0f : x;
            x = x > 4.0f ? zero + 4.0f : x;
            Ints v = __builtin_convertvector(x * p.scale[k] + p.offset[k], Ints) + p.add[k];
            v = v <= 0 ? Ints{} : v;
            v = v > 255 ? Ints{} + 255 : v;
            Words one[Bytes] = {};
            one[k] = (Words)v;
            Words l, r;
            ExpanderWordsOf<Bytes>(one, l, r);
            left |= l;
            right |= r;
        }
    for (int32_t g = 0; g < p.gateCount; ++g) {
        const Words on = (Words)(Lanes::Load(p.gate[g] + at) > 0.0f);
        left |= on & p.gateWords[g].left;
        right |= on & p.gateWords[g].right;
    }
    if (serial) {
        const Words on = Lanes::LoadWords(serial);
        left |= on & p.serialWords.left;
        right |= on & p.serialWords.right;
    }
}

// The merge and the samples of a group.
template <int Bytes, class Word>
[[gnu::always_inline]] inline void Write(const Plan<Bytes>& p, int32_t at, Words left, Words right, float* outLeft,
                                         float* outRight)
{
    if (p.thruLeft) {
        left |= Lanes::FromSamples<Word>(Lanes::Load(p.thruLeft + at));
        right |= Lanes::FromSamples<Word>(Lanes::Load(p.thruRight + at));
    }
    Lanes::Store(outLeft, Lanes::ToSamples<Word>(left));
    Lanes::Store(outRight, Lanes::ToSamples<Word>(right));
}

// Fewer than a group's frames (or one frame), through copies of their
// inputs: all read, then all written.
template <int Bytes, class Word>
[[gnu::always_inline]] inline ExpanderWordPair Partial(Plan<Bytes> p, int32_t at, int32_t n, const uint32_t* serial, float* left, float* right)
{
    float in[Bytes + ExpanderFrameSources::kMaxGates + 2][kLanes] = {};
    uint32_t flags[kLanes] = {};
    int32_t used = 0;
    auto take = [&](const float*& source) {
        if (source) {
            memcpy(in[used], source + at, sizeof(float) * static_cast<size_t>(n));
            source = in[used++];
        }
    };
    for (const float*& source : p.level)
        take(source);
    for (int32_t g = 0; g < p.gateCount; ++g)
        take(p.gate[g]);
    take(p.thruLeft);
    take(p.thruRight);
    if (serial)
        memcpy(flags, serial, sizeof(uint32_t) * static_cast<size_t>(n));
    Words l = {}, r = {};
    Group(p, 0, serial ? flags : nullptr, l, r);
    const ExpanderWordPair last{l[n - 1], r[n - 1]};
    float a[kLanes], b[kLanes];
    Write<Bytes, Word>(p, 0, l, r, a, b);
    memcpy(left + at, a, sizeof(float) * static_cast<size_t>(n));
    memcpy(right + at, b, sizeof(float) * static_cast<size_t>(n));
    return last;
}

template <int Bytes>
[[gnu::always_inline]] inline ExpanderWordPair Encode(const ExpanderFrameSources& sources, int32_t first,
                                                      int32_t frames, const uint32_t* serial, float* left,
                                                      float* right, bool oneAtATime)
{
    using Word = std::conditional_t<Bytes == kBrinkFrameBytes, BrinkSampleWord, CarroSampleWord>;
    const Plan<Bytes> p = MakePlan<Bytes>(sources);
    ExpanderWordPair last{0, 0};
    int32_t i = 0;
    if (!oneAtATime && frames >= kLanes) {
        Words l = {}, r = {};
        for (; i + kLanes <= frames; i += kLanes) {
            Group(p, first + i, serial ? serial + i : nullptr, l, r);
            Write<Bytes, Word>(p, first + i, l, r, left + first + i, right + first + i);
        }
        last = {l[kLanes - 1], r[kLanes - 1]};
    }
    while (i < frames) {
        const int32_t n = oneAtATime ? 1 : frames - i;
        last = Partial<Bytes, Word>(p, first + i, n, serial ? serial + i : nullptr, left, right);
        i += n;
    }
    return last;
}

} // namespace

CORVANE_SAMPLE_CLONES ExpanderWordPair EncodeBrinkFrames(const ExpanderFrameSources& sources, int32_t first,
                                                         int32_t frames, const uint32_t* serial, float* left,
                                                         float* right, bool oneAtATime)
{
    return Encode<kBrinkFrameBytes>(sources, first, frames, serial, left, right, oneAtATime);
}

CORVANE_SAMPLE_CLONES ExpanderWordPair EncodeCarroFrames(const ExpanderFrameSources& sources, int32_t first,
                                                         int32_t frames, const uint32_t* serial, float* left,
                                                         float* right, bool oneAtATime)
{
    return Encode<kCarroFrameBytes>(sources, first, frames, serial, left, right, oneAtATime);
}
