#include "plugins/common/Envelope.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Segment stage numbers in the order of the five times.
constexpr int32_t kTimeStages[5] = {Envelope::kA1, Envelope::kA2, Envelope::kA3, Envelope::kR1, Envelope::kR2};

} // namespace

void StoreEnvelopeLayout(void* data, int32_t firstParameter)
{
    const int32_t layout[2] = {firstParameter, kEnvParameterCount};
    memcpy(data, layout, sizeof layout);
}

EnvelopeSettings EnvelopeSettings::FromGroup(const float* group, float velocityDepth, bool resetToZero,
                                             float multiplierIndex)
{
    EnvelopeSettings s;
    for (int32_t k = 0; k < 5; ++k) {
        s.times[k] = group[kEnvTimeA1 + k];
        s.shapes[k] = group[kEnvShapeA1 + k];
    }
    s.levelA1 = group[kEnvLevelA1];
    s.levelA2 = group[kEnvLevelA2];
    s.sustain = group[kEnvSustain];
    s.levelR1 = group[kEnvLevelR1];
    s.velocityDepth = velocityDepth;
    s.resetToZero = resetToZero;
    s.multiplier = Multiplier(multiplierIndex);
    return s;
}

float EnvelopeSettings::Multiplier(float index)
{
    const float i = index > 0.0f ? (index < 3.0f ? index : 3.0f) : 0.0f; // NaN reads as 0
    return static_cast<float>(std::pow(10.0, static_cast<double>(i) - 1.0));
}

void Envelope::Reset()
{
    stage = kIdle;
    sustainStage = kSustain;
    value = 0.0;
    velocityScale = 1.0f;
    for (EnvelopeSegment& s : segments)
        s = EnvelopeSegment{};
}

void Envelope::Silence()
{
    stage = kIdle;
    value = 0.0;
}

void Envelope::SetSegment(EnvelopeSegment& segment, double seconds, float shape, double from, double to,
                          double sampleRate)
{
    // A whole number of samples, so that the segment lands on its level: a
    // fractional count would stop up to a sample's step short, and the
    // next segment (or the sustain level, set anew at the next block)
    // would carry on from there.
    double n = std::floor(seconds * sampleRate + 0.5);
    if (!(n >= 1.0)) // NaN too
        n = 1.0;
    if (n > static_cast<double>(INT32_MAX))
        n = static_cast<double>(INT32_MAX);
    double delta = to - from;
    if (!std::isfinite(delta))
        delta = 0.0;
    const double h = shape;
    double p, q;
    if (delta >= 0.0) {
        p = (1.0 - h) * delta;
        q = h * delta;
    } else {
        p = (h - 1.0) * delta;
        q = (2.0 - h) * delta;
    }
    segment.count = static_cast<int32_t>(n);
    segment.increment = (p / n + q) / n;
    segment.incrementChange = 2.0 * p / (n * n);
}

void Envelope::Start(const EnvelopeSettings& settings, float velocity, double sampleRate)
{
    const float d = settings.velocityDepth;
    velocityScale = d >= 0.0f ? d * velocity + 1.0f - d : 1.0f + d * velocity;
    stage = kA1;
    sustainStage = kSustain;
    double l1 = static_cast<double>(settings.levelA1) * velocityScale;
    const double l2 = static_cast<double>(settings.levelA2) * velocityScale;
    const double s = static_cast<double>(settings.sustain) * velocityScale;
    const double m = settings.multiplier;
    double t1 = settings.times[0] * m;
    double t2 = settings.times[1] * m;
    const double t3 = settings.times[2] * m;
    if (settings.resetToZero) {
        value = 0.0;
    } else {
        if (t1 != 0.0 && l1 != 0.0)
            t1 = t1 * std::fabs(value - l1) / l1;
        if (t1 == 0.0) {
            l1 = value;
            if (l2 != 0.0)
                t2 = t2 * std::fabs(value - l2) / l2;
        }
    }
    SetSegment(segments[kA1], t1, settings.shapes[0], value, l1, sampleRate);
    SetSegment(segments[kA2], t2, settings.shapes[1], l1, l2, sampleRate);
    SetSegment(segments[kA3], t3, settings.shapes[2], l2, s, sampleRate);
}

void Envelope::Release(const EnvelopeSettings& settings, double sampleRate)
{
    stage = sustainStage - 1;
    const double s = static_cast<double>(settings.sustain) * velocityScale;
    double r = static_cast<double>(settings.levelR1) * velocityScale;
    if (s > 0.001)
        r = r * value / s;
    const double m = settings.multiplier;
    SetSegment(segments[kR1], settings.times[3] * m, settings.shapes[3], value, r, sampleRate);
    SetSegment(segments[kR2], settings.times[4] * m, settings.shapes[4], r, 0.0, sampleRate);
}

Envelope::IndicatorSums::IndicatorSums(const EnvelopeSettings& settings) : multiplier(settings.multiplier)
{
    for (int32_t stage = kIdle; stage < kStages; ++stage) {
        double sum = 0.0;
        for (int32_t k = 0; k < 5; ++k)
            if (kTimeStages[k] >= stage)
                sum += settings.times[k];
        passed[stage] = sum;
    }
    for (int32_t k = 0; k < 5; ++k)
        total += settings.times[k];
    for (int32_t stage = kIdle; stage < kStages; ++stage) {
        double at = passed[stage];
        if (stage == kR1 || stage == kR2)
            at += 1.0;
        settled[stage] = static_cast<float>(at / total);
    }
}

void Envelope::Indicator(const EnvelopeSettings& settings, double sampleRate, float* position, float* level) const
{
    Indicator(IndicatorSums(settings), sampleRate, position, level);
}

// audio thread: no allocation, no lock
void Envelope::Run(float* out, int32_t frames)
{
    int32_t done = 0;
    while (done < frames) {
        EnvelopeSegment& s = segments[stage];
        int32_t c = frames - done;
        if (s.count == 0 && stage > kIdle) {
            --stage; // a spent segment (none is ever set up with 0 samples)
            continue;
        }
        if (s.count > 0) {
            if (s.count < c)
                c = s.count;
            s.count -= c;
            if (s.count == 0 && stage > kIdle)
                --stage;
        }
        double v = value;
        double increment = s.increment;
        const double change = s.incrementChange;
        int32_t i = 0;
        if (increment == 0.0 && change == 0.0) {
            // A flat stretch (sustain, idle): after two steps the signs of
            // the zeros have settled and a step leaves the value as it is.
            for (; i < c && i < 2; ++i) {
                v += increment;
                increment += change;
                out[done + i] = static_cast<float>(v);
            }
            std::fill(out + done + i, out + done + c, static_cast<float>(v));
            i = c;
        }
        for (; i < c; ++i) {
            v += increment;
            increment += change;
            out[done + i] = static_cast<float>(v);
        }
        value = v;
        s.increment = increment;
        done += c;
    }
}
