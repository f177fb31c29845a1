#include "plugins/common/TempoClock.h"

#include "plugins/common/Swing.h"

// audio thread
HostTime ReadHostTime(AudioEffectX& effect)
{
    return HostTimeFrom(effect.getTimeInfo(kVstTempoValid | kVstPpqPosValid));
}

double SpeedMultiplier(float index)
{
    static constexpr double kMultipliers[] = {0.1, 1.0, 10.0, 100.0};
    if (std::isnan(index))
        return 1.0;
    const int32_t i = index <= 0.0f ? 0 : (index >= 3.0f ? 3 : static_cast<int32_t>(index));
    return kMultipliers[i];
}

double BeatsPerCycle(float beats, float divisor, bool triplet)
{
    if (!std::isfinite(beats) || !std::isfinite(divisor))
        return 0.0;
    // Divisors beyond the lists' ends would only over- or underflow.
    const double d = divisor < -64.0f ? -64.0 : (divisor > 64.0f ? 64.0 : static_cast<double>(divisor));
    double cycle = 4.0 * beats * std::exp2(-d);
    if (triplet)
        cycle *= 2.0 / 3.0;
    return cycle;
}

double TempoRate(double tempo, double beatsPerCycle)
{
    if (!CanLockToPosition(beatsPerCycle) || !(tempo > 0.0) || !std::isfinite(tempo))
        return 0.0;
    const double rate = tempo / (beatsPerCycle * 60.0);
    return std::isfinite(rate) ? rate : 0.0;
}

double LockedPhase(double position, double beatsPerCycle, double offset)
{
    if (!CanLockToPosition(beatsPerCycle) || !std::isfinite(position))
        return WrapPhase(offset);
    // Cycles of a power of two quarter notes (most are): the remainder and
    // the division by multiplications, with the same bits.
    const double inverse = PowerOfTwoInverse(beatsPerCycle);
    if (inverse != 0.0 && position >= 0.0 && position <= 0x1p900)
        return WrapPhase(PowerOfTwoRemainder(position, beatsPerCycle, inverse) * inverse + offset);
    return WrapPhase(std::fmod(position, beatsPerCycle) / beatsPerCycle + offset);
}

double CyclePlace::Take(double position, double beatsPerCycle, double offset)
{
    beats = 0.0;
    if (CanLockToPosition(beatsPerCycle) && position >= 0.0 && std::isfinite(position)) {
        // For a position at or above 0, fmod's remainder is the one both of
        // LockedPhase's ways find; position less it is exact when the check
        // below holds (0, or the position at most twice it; Sterbenz).
        const double r = std::fmod(position, beatsPerCycle);
        const double kept = position - r;
        if ((kept == 0.0 || position <= 2.0 * kept) && position - kept == r) {
            beats = beatsPerCycle;
            start = kept;
            inverse = PowerOfTwoInverse(beatsPerCycle);
        }
    }
    return LockedPhase(position, beatsPerCycle, offset);
}

void SwingClock::Setup(const HostTime& time, float swingPercent, float swingType, double sampleRate)
{
    pair = swingType >= 1.0f ? 1.0 : 0.5;
    swingPoint = -1.0;
    if (!std::isfinite(swingPercent) || std::fabs(swingPercent - 50.0f) <= 0.1f || !(time.tempo > 0.0) ||
        !time.playing || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return;
    // The pair's length in samples and the split point change with the tempo,
    // the sample rate and the settings only; the place within the pair moves
    // every block.
    if (!SameBits(time.tempo, setupTempo) || !SameBits(sampleRate, setupSampleRate) || !SameBits(pair, setupPair) ||
        std::bit_cast<uint32_t>(swingPercent) != std::bit_cast<uint32_t>(setupPercent)) {
        setupTempo = time.tempo;
        setupSampleRate = sampleRate;
        setupPair = pair;
        setupPercent = swingPercent;
        setupSamples = pair * 60.0 * sampleRate / time.tempo;
        double point = swingPercent * 0.01;
        point = point < 0.05 ? 0.05 : (point > 0.95 ? 0.95 : point);
        setupPoint = point;
        unwarpFirst = 0.5 / point;
        unwarpSecond = 0.5 / (1.0 - point);
    }
    const double samples = setupSamples;
    if (!(samples > 0.0) || !std::isfinite(samples))
        return;
    swingPoint = setupPoint;
    samplesPerPair = samples;
    // The floored remainder: a position before 0 lies in the pair below it.
    // Dividing by a pair of 1/2 or 1 quarter note is multiplying by 2 or 1.
    const double pairsPerQuarter = swingType >= 1.0f ? 1.0 : 2.0;
    const double x = time.ppq * pairsPerQuarter;
    double fraction;
    if (x > pairFloor && x < pairFloor + 1.0) {
        // floor(x) is the kept whole number: WrapPhase's steps after it.
        const double wrapped = x - pairFloor;
        fraction = wrapped < 1.0 ? wrapped : 0.0;
    } else {
        fraction = WrapPhase(x);
        pairFloor = std::isfinite(x) ? std::floor(x) : std::numeric_limits<double>::quiet_NaN();
    }
    setupPpq = time.ppq;
    setupFraction = fraction;
    pairPosition = fraction * samples;
}

double SwingClock::Unswing(double ppq) const
{
    if (!Active())
        return ppq;
    if (!(ppq >= 0.0 && ppq <= 0x1p900))
        return SwingUnwarp(ppq, pair, swingPoint);
    // SwingUnwarp's steps for a pair of 1/2 or 1 quarter note, whose
    // remainder and division are exact multiplications (same bits).
    const double inverse = pair == 1.0 ? 1.0 : 2.0;
    // At the position Setup placed the pair at, a pair or more past 0, the
    // remainder is that place within the pair times the pair: the same
    // exact value (the place is the position in pairs less its whole part,
    // exact, and no finer than the position's last place, so the product
    // is exact too; both are +0 at a pair's start).
    const double r = ppq >= pair && SameBits(ppq, setupPpq) ? setupFraction * pair
                                                             : PowerOfTwoRemainder(ppq, pair, inverse);
    const double start = ppq - r;
    const double f = r * inverse;
    const double g = f < swingPoint ? unwarpFirst * f : 1.0 - unwarpSecond * (1.0 - f);
    return g * pair + start;
}
