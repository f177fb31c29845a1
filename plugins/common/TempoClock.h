// The timing core of the clocked oscillators (LFO, Step LFO): the host's
// tempo, position and transport read once per block and checked, the cycle
// rates derived from tempo, the transport lock, and the swing clock that runs
// an oscillator faster or slower within each swung pair.
//
// Audio thread: everything here is arithmetic on the caller's data; no
// allocation, no lock. ReadHostTime calls the host once.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "framework/AudioEffectX.h"

// The host's time for one block, with only values that are safe to compute with.
struct HostTime {
    double tempo = 0.0; // BPM, finite and above 0; 0 when the host gives none
    double ppq = 0.0;   // song position in quarter notes, finite; 0 when unknown
    bool playing = true;
};

// The rule behind ReadHostTime, for a host answer that may be null. A tempo
// is used only when the host marks it valid and it is finite and above 0
// (a negative or NaN tempo counts as none); the position only when marked
// valid and finite. No answer at all means tempo 0, position 0, playing.
inline HostTime HostTimeFrom(const VstTimeInfo* info)
{
    HostTime time;
    if (!info)
        return time;
    if ((info->flags & kVstTempoValid) && std::isfinite(info->tempo) && info->tempo > 0.0)
        time.tempo = info->tempo;
    if ((info->flags & kVstPpqPosValid) && std::isfinite(info->ppqPos))
        time.ppq = info->ppqPos;
    time.playing = (info->flags & kVstTransportPlaying) != 0;
    return time;
}

// Whether two values have the same bits (what a kept result is keyed by).
inline bool SameBits(double a, double b)
{
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// One getTimeInfo request (tempo and position) for the block.
HostTime ReadHostTime(AudioEffectX& effect);

// fmod(t, p) for 0 <= t <= 2^900 and a power of two p = 1 / inverse within
// 2^-60 .. 2^60 (the caller checks): t x inverse is exact, so is its whole
// part times p, and t less that is fmod's remainder, a multiple of p's last
// place that fits in 53 bits; a subtraction whose exact result fits gives
// it in any rounding mode. Only its sign when 0 depends on the mode: fmod's
// is +0.
inline double PowerOfTwoRemainder(double t, double p, double inverse)
{
    if (t < p)
        return t;
    const double r = t - std::trunc(t * inverse) * p;
    return r == 0.0 ? 0.0 : r;
}

// The exact reciprocal of a power of two within 2^-60 .. 2^60, else 0.
inline double PowerOfTwoInverse(double p)
{
    const auto bits = std::bit_cast<uint64_t>(p);
    const uint64_t exponent = bits >> 52; // the sign bit too: negative p fails
    if ((bits & 0x000FFFFFFFFFFFFFull) != 0 || exponent < 1023 - 60 || exponent > 1023 + 60)
        return 0.0;
    return std::bit_cast<double>((2046 - exponent) << 52);
}

// x - floor(x), in 0..1 (0 for a value that is not finite).
inline double WrapPhase(double x)
{
    // Most phases are inside already: x less floor(x), +0, is x itself.
    if (x > 0.0 && x < 1.0)
        return x;
    if (!std::isfinite(x))
        return 0.0;
    const double wrapped = x - std::floor(x);
    return wrapped < 1.0 ? wrapped : 0.0; // a tiny negative x rounds up to 1
}

// The free-running rate multiplier of a "Speed Multiplier" index:
// 0.1, 1, 10 or 100 for 0..3 (indices outside are clamped; NaN counts as 1).
double SpeedMultiplier(float index);

// The length of one cycle in quarter notes: 4 x beats x 2^-divisor, times
// 2/3 for triplets. Beats 0 gives 0; a non-finite input gives 0.
double BeatsPerCycle(float beats, float divisor, bool triplet);

// Cycles per second at a tempo: tempo / (beatsPerCycle x 60). A cycle that
// is not above 0 has no rate (0): the oscillator is not locked to anything.
double TempoRate(double tempo, double beatsPerCycle);

// Whether a cycle length can lock a phase to the song position (above 0 and finite).
inline bool CanLockToPosition(double beatsPerCycle)
{
    return beatsPerCycle > 0.0 && std::isfinite(beatsPerCycle);
}

// The phase (0..1) of an oscillator locked to the song position:
// frac(fmod(position, beatsPerCycle) / beatsPerCycle + offset). The caller
// checks CanLockToPosition first; otherwise the result is the offset alone.
double LockedPhase(double position, double beatsPerCycle, double offset);

// LockedPhase for a position that moves on a little at a time (the song
// position, block after block): the start of the cycle it was last in is
// kept, and while the position stays in that cycle its remainder is one
// subtraction instead of fmod (or its multiplications). The same bits as
// LockedPhase: the kept start is a whole number of cycles exactly (checked
// when it is taken), and the subtraction is exact (the position lies above
// the start and at most twice it), so it gives the exact remainder both of
// LockedPhase's ways give. A value-initialised place keeps nothing.
struct CyclePlace {
    double beats;   // the cycle the start is kept for; 0: none
    double start;   // a whole number of cycles, 0 or above
    double inverse; // 1 / beats for a power of two (PowerOfTwoInverse), else 0

    double Phase(double position, double beatsPerCycle, double offset)
    {
        if (beatsPerCycle == beats && position > start && (start == 0.0 || position <= 2.0 * start)) {
            const double r = position - start;
            if (r < beatsPerCycle)
                return WrapPhase((inverse != 0.0 ? r * inverse : r / beatsPerCycle) + offset);
        }
        return Take(position, beatsPerCycle, offset);
    }

private:
    // LockedPhase, keeping the start of the position's cycle when it can.
    double Take(double position, double beatsPerCycle, double offset);
};

// The swing of one oscillator channel. Set up per block from the host time;
// while active, Run splits the samples of a piece into runs at the swung
// middle and at the end of each pair and gives each run the factor by which
// the oscillator's increment is scaled, so that each half of a pair covers
// half a pair's worth of phase: the first part (swingPoint of the pair) at
// 0.5 / swingPoint, the second at 0.5 / (1 - swingPoint).
struct SwingClock {
    // Percent 0..100: 50 (+-0.1) means no swing. Type 0: pairs of 16th notes
    // (half a quarter note), 1: pairs of 8th notes (a quarter note). Swing is
    // off without a tempo, with the transport stopped and without a usable
    // sample rate.
    void Setup(const HostTime& time, float swingPercent, float swingType, double sampleRate);

    bool Active() const { return swingPoint >= 0.0; }

    // The straight position of a (swung) host position: within its pair the
    // inverse of the swing, so an oscillator locked to it runs its first half
    // of the pair's phase up to the swung middle. Unchanged while inactive.
    double Unswing(double ppq) const;

    // Runs `frames` samples: generate(first, count, incrementScale) for each
    // run, first counted from the start of the piece. Without swing one run
    // with scale 1. The position within the pair moves by the samples made,
    // so a piece cut short by a MIDI event continues in the right half.
    template <class Generate>
    void Run(int32_t frames, Generate&& generate);

    // Position within the current pair, 0..1.
    double SwingPhase() const { return samplesPerPair > 0.0 ? pairPosition / samplesPerPair : 0.0; }

    double swingPoint = -1.0;    // split point, 0.05..0.95, or -1 when off
    double samplesPerPair = 0.0; // length of a pair in samples
    double pairPosition = 0.0;   // samples since the pair began, 0..samplesPerPair
    double pair = 0.5;           // length of a pair in quarter notes

    // What Setup derived from the tempo, the sample rate and the settings,
    // kept while none of them changes (by their bits; NaN never matches).
    double setupTempo = std::numeric_limits<double>::quiet_NaN();
    double setupSampleRate = 0.0;
    double setupPair = 0.0;
    float setupPercent = 0.0f;
    double setupSamples = 0.0;
    double setupPoint = 0.5;
    double unwarpFirst = 0.0, unwarpSecond = 0.0; // 0.5 / swingPoint, 0.5 / (1 - swingPoint)

    // The floor of the last position counted in pairs, kept while the
    // position moves on within that pair (NaN: none); the position Setup
    // last placed the pair at and its place within the pair (0..1), for
    // Unswing of the same position.
    double pairFloor = std::numeric_limits<double>::quiet_NaN();
    double setupPpq = std::numeric_limits<double>::quiet_NaN();
    double setupFraction = 0.0;
};

// The position is kept in samples rather than as a fraction of the pair:
// whole-sample steps then add up exactly, so where a part ends does not
// depend on how the host and the MIDI events cut the block. A sample belongs
// to the part it starts in.
template <class Generate>
void SwingClock::Run(int32_t frames, Generate&& generate)
{
    if (!Active()) {
        if (frames > 0)
            generate(0, frames, 1.0);
        return;
    }
    const double splitAt = swingPoint * samplesPerPair;
    int32_t done = 0;
    while (done < frames) {
        const bool secondPart = pairPosition >= splitAt;
        const double end = secondPart ? samplesPerPair : splitAt;
        const double factor = secondPart ? 1.0 - swingPoint : swingPoint;
        const double wanted = std::ceil(end - pairPosition);
        const int32_t remaining = frames - done;
        int32_t count = wanted >= remaining ? remaining : static_cast<int32_t>(wanted);
        if (count < 1)
            count = 1;
        generate(done, count, 0.5 / factor);
        pairPosition += count;
        if (pairPosition >= samplesPerPair) {
            pairPosition -= samplesPerPair;
            // Pairs shorter than a sample (an absurd tempo) pass several at once.
            if (pairPosition >= samplesPerPair)
                pairPosition = std::fmod(pairPosition, samplesPerPair);
        }
        done += count;
    }
}
