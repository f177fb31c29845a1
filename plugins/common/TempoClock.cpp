#include "plugins/common/TempoClock.h"

#include "plugins/common/Swing.h"

HostTime HostTimeFrom(const VstTimeInfo* info)
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
    return WrapPhase(std::fmod(position, beatsPerCycle) / beatsPerCycle + offset);
}

void SwingClock::Setup(const HostTime& time, float swingPercent, float swingType, double sampleRate)
{
    pair = swingType >= 1.0f ? 1.0 : 0.5;
    swingPoint = -1.0;
    if (!std::isfinite(swingPercent) || std::fabs(swingPercent - 50.0f) <= 0.1f || !(time.tempo > 0.0) ||
        !time.playing || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return;
    const double samples = pair * 60.0 * sampleRate / time.tempo;
    if (!(samples > 0.0) || !std::isfinite(samples))
        return;
    double point = swingPercent * 0.01;
    point = point < 0.05 ? 0.05 : (point > 0.95 ? 0.95 : point);
    swingPoint = point;
    samplesPerPair = samples;
    // The floored remainder: a position before 0 lies in the pair below it.
    pairPosition = WrapPhase(time.ppq / pair) * samples;
}

double SwingClock::Unswing(double ppq) const
{
    return Active() ? SwingUnwarp(ppq, pair, swingPoint) : ppq;
}
