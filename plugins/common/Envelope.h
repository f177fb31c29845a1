// The five-segment envelope of the Voice Controller and the Trigger: attack
// in three segments (A1 to "Level A1", A2 to "Level A2", A3 to "Sustain"),
// a sustain stage that holds while the note does, and release in two
// segments (R1 to "Level R1", R2 to 0). Each segment has a time and a shape
// (1 a straight line, 0 a parabola that starts flat when rising and steep
// when falling) and runs a whole number of samples.
//
// Stages count down: 6 A1, 5 A2, 4 A3, 3 sustain, 2 R1, 1 R2, 0 idle; stage
// s runs segment s, and a segment that ends hands over to the next lower
// stage. The idle and sustain segments never end.
//
// A plug-in keeps each envelope's fourteen parameters in one group, in the
// order of EnvelopeParameter (property 64015 tells the editor where the
// first group starts and how long a group is).
//
// Audio thread: everything here is arithmetic on the envelope's own state;
// no allocation, no lock. Sample rates are the caller's checked rate (> 0).
#pragma once

#include <cstdint>

#include "framework/ObryProperties.h"

// Writes the reply to kObryProperty_EnvelopeLayout (two i32, 8 bytes,
// read-only: the first envelope parameter and the parameters per envelope)
// for envelopes whose first group starts at parameter `firstParameter` (data
// holds 8 bytes, not null). Host or editor thread.
void StoreEnvelopeLayout(void* data, int32_t firstParameter);

// Offsets inside one envelope's group of parameters.
enum EnvelopeParameter : int32_t {
    kEnvTimeA1 = 0, // seconds, 0..5: A1, A2, A3, R1, R2
    kEnvShapeA1 = 5, // 0..1: A1, A2, A3, R1, R2
    kEnvLevelA1 = 10,
    kEnvLevelA2 = 11,
    kEnvSustain = 12,
    kEnvLevelR1 = 13,
    kEnvParameterCount = 14,
};

// One envelope's settings as read from the program.
struct EnvelopeSettings {
    float times[5];  // seconds as set: A1, A2, A3, R1, R2
    float shapes[5]; // A1, A2, A3, R1, R2
    float levelA1;
    float levelA2;
    float sustain;
    float levelR1;
    float velocityDepth; // -1..1
    bool resetToZero;
    float multiplier; // applied to every time: 0.1, 1, 10 or 100

    // From a group of kEnvParameterCount values in EnvelopeParameter order.
    static EnvelopeSettings FromGroup(const float* group, float velocityDepth, bool resetToZero,
                                      float multiplierIndex);
    // "Env Multiplier" 0..3 ("0.1", "1", "10", "100") as a factor.
    static float Multiplier(float index);
};

// Runs over `count` samples (a count below 0 never ends) adding `increment`
// to the value and `incrementChange` to the increment after every sample.
// Kept in double: a segment of minutes has increments far below a float's
// resolution at the value it adds to.
struct EnvelopeSegment {
    double increment = 0.0;
    double incrementChange = 0.0;
    int32_t count = -1;
};

class Envelope {
public:
    enum Stage : int32_t { kIdle = 0, kR2 = 1, kR1 = 2, kSustain = 3, kA3 = 4, kA2 = 5, kA1 = 6, kStages = 7 };

    Envelope() { Reset(); }

    // Idle at 0 with a velocity scale of 1; every segment flat and endless.
    void Reset();
    // Idle at 0 at once (all sound off); the segments stay as they are.
    void Silence();

    // A note start: from the current value (or 0 with "Reset To Zero")
    // through A1, A2, A3 to the sustain level, all scaled by the velocity
    // (0..1) through the velocity depth. A1's time shrinks with the distance
    // still to go when the value already lies between 0 and Level A1; with
    // no A1 time, A1 is skipped and A2's time shrinks likewise.
    void Start(const EnvelopeSettings& settings, float velocity, double sampleRate);
    // Release from the current value through R1 and R2 to 0; Level R1 is
    // taken relative to the sustain level when the release starts elsewhere.
    void Release(const EnvelopeSettings& settings, double sampleRate);
    // Per sub-block: at the sustain stage the value follows the (possibly
    // changed) sustain level; at the idle stage it is 0.
    void FollowSustain(float sustainLevel)
    {
        if (stage == sustainStage)
            value = static_cast<double>(sustainLevel) * velocityScale;
        else if (stage == kIdle)
            value = 0.0;
    }

    // What the indicator reads of the settings, summed once for each change
    // of them: the length of the time axis, the time up to the end of each
    // stage's segment, and each stage's position with no sample of its
    // segment left.
    struct IndicatorSums {
        IndicatorSums() = default;
        explicit IndicatorSums(const EnvelopeSettings& settings);
        double total = 1.0;
        double passed[kStages] = {};
        float settled[kStages] = {};
        float multiplier = 1.0f;
    };

    // What the editor's display shows: the position along the time axis
    // (0..1, the sustain shown one second wide) and the level.
    // The sums are made anew on each call of the first form: a caller that
    // shows its envelope every block keeps them with its settings.
    void Indicator(const EnvelopeSettings& settings, double sampleRate, float* position, float* level) const;
    void Indicator(const IndicatorSums& sums, double sampleRate, float* position, float* level) const;

    // `frames` samples of the envelope into `out`.
    void Run(float* out, int32_t frames);
    // Run of each of N envelopes into its own buffer (buffers that share no
    // sample), with the same bits: the envelopes step side by side, so
    // their chains from one sample to the next overlap.
    template <int N>
    static void RunTogether(Envelope (&envelopes)[N], float* const (&outs)[N], int32_t frames);

    // A segment from `from` to `to` in `seconds` with shape `shape`: n =
    // seconds x rate rounded to whole samples (at least 1, at most
    // INT32_MAX); after n samples the value has moved by to - from.
    static void SetSegment(EnvelopeSegment& segment, double seconds, float shape, double from, double to,
                           double sampleRate);

    int32_t CurrentStage() const { return stage; }
    int32_t SustainStage() const { return sustainStage; }
    float Value() const { return static_cast<float>(value); }
    float VelocityScale() const { return velocityScale; }
    const EnvelopeSegment& Segment(int32_t s) const { return segments[s >= 0 && s < kStages ? s : 0]; }

private:
    int32_t stage = kIdle;
    int32_t sustainStage = kSustain;
    double value = 0.0;
    float velocityScale = 1.0f;
    EnvelopeSegment segments[kStages];
};

// Inline: a plug-in shows its envelopes every block.
// The sums are made in the order the times come in; a stage with no sample
// left reads its settled position, which is what taking 0 seconds off its
// time gives (0 / rate / multiplier is +0 for a rate and a multiplier above
// 0), and a division by a multiplier of 1 is left out (it changes nothing).
inline void Envelope::Indicator(const IndicatorSums& sums, double sampleRate, float* position, float* level) const
{
    if (stage == kIdle) {
        *position = 0.0f;
        *level = 0.0f;
        return;
    }
    const int32_t count = segments[stage].count;
    if ((stage == sustainStage || count <= 0) && sampleRate > 0.0 && sums.multiplier > 0.0f) {
        *position = sums.settled[stage];
    } else {
        double passed = sums.passed[stage];
        if (stage != sustainStage) {
            double time = (count > 0 ? static_cast<double>(count) : 0.0) / sampleRate;
            if (sums.multiplier != 1.0f)
                time /= sums.multiplier;
            passed -= time;
        }
        if (stage == kR1 || stage == kR2)
            passed += 1.0;
        *position = static_cast<float>(passed / sums.total);
    }
    *level = static_cast<float>(value);
}

// audio thread: no allocation, no lock
template <int N>
void Envelope::RunTogether(Envelope (&envelopes)[N], float* const (&outs)[N], int32_t frames)
{
    int32_t done = 0;
    while (done < frames) {
        // The stretch on which no envelope changes segment.
        int32_t c = frames - done;
        double v[N], increment[N], change[N];
        bool flat = true;
#pragma GCC unroll 4
        for (int32_t k = 0; k < N; ++k) {
            Envelope& e = envelopes[k];
            while (e.segments[e.stage].count == 0 && e.stage > kIdle)
                --e.stage; // a spent segment (none is ever set up with 0 samples)
            const EnvelopeSegment& s = e.segments[e.stage];
            if (s.count > 0 && s.count < c)
                c = s.count;
            v[k] = e.value;
            increment[k] = s.increment;
            change[k] = s.incrementChange;
            flat = flat && increment[k] == 0.0 && change[k] == 0.0;
        }
        auto step = [&](int32_t at) __attribute__((always_inline)) {
#pragma GCC unroll 4
            for (int32_t k = 0; k < N; ++k) {
                v[k] += increment[k];
                increment[k] += change[k];
                outs[k][at] = static_cast<float>(v[k]);
            }
        };
        int32_t i = 0;
        if (flat) {
            // Sustain or idle everywhere: after two steps the signs of the
            // zeros have settled and a step leaves each value as it is.
            for (; i < c && i < 2; ++i)
                step(done + i);
#pragma GCC unroll 4
            for (int32_t k = 0; k < N; ++k)
                for (int32_t j = done + i; j < done + c; ++j)
                    outs[k][j] = static_cast<float>(v[k]);
            i = c;
        }
        for (; i < c; ++i)
            step(done + i);
#pragma GCC unroll 4
        for (int32_t k = 0; k < N; ++k) {
            Envelope& e = envelopes[k];
            EnvelopeSegment& s = e.segments[e.stage];
            e.value = v[k];
            s.increment = increment[k];
            if (s.count > 0) {
                s.count -= c;
                if (s.count == 0 && e.stage > kIdle)
                    --e.stage;
            }
        }
        done += c;
    }
}
