// The LFO plug-in ('QZs2'): two independent low-frequency oscillators, L and
// R, each a weighted mix of sine, triangle, square, saw, stepped random and
// noise plus an offset, combined with its audio input (added, multiplied, or
// multiplied around 1) and smoothed. An oscillator runs free, at a rate from
// the host tempo, locked to the song position, in quadrature with the other
// channel, or as a transport start/stop level; swing warps its time within
// pairs of 16th or 8th notes; a note-on can reset its phase.
//
// Threads: BeginBlock, Process and NoteOn run on the audio thread (NoteOn
// between the pieces of a block); nothing there allocates or locks. The
// parameters are read at the start of a block in which one of them changed. The
// value-name lists are built once per process on first request.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/ClockedOscillator.h"

namespace ObryCorvaneLFO {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 43;
    static constexpr int32_t kNumPrograms = 2;
    static constexpr int32_t kGroupSize = 17; // R group index = L group index + 17

    // Parameter indices; the L group, then the shared tail.
    enum Parameter : int32_t {
        kOSCPortOffset = 0,
        kSpeed = 1,
        kSpeedMultiplier,
        kSync,
        kBeatDivisor,
        kBeats,
        kTriplet,
        kPhase,
        kOffset,
        kSine,
        kTriangle,
        kSquare,
        kSaw,
        kRandom,
        kNoise,
        kPulseWidth,
        kAsymmetry,
        kInputMode,
        kSmoothingL = 35, // + channel
        kSwingL = 37,     // + 2 x channel
        kSwingTypeL = 38, // + 2 x channel
        kResetByNoteL = 41, // + channel
    };

    enum SyncMode : int32_t {
        kSyncFree = 0,
        kSyncTempo = 1,
        kSyncTransport = 2,
        kSyncQuadrature = 3,
        kSyncStartStop = 4,
        kSyncTransport2 = 5,
    };

    // Float elements of the indicator block (in units of their own width).
    static constexpr int kIndicatorPhaseF32 = 12;      // + channel: phase after the last block
    static constexpr int kIndicatorOutputF32 = 14;     // + channel: last smoothed output
    static constexpr int kIndicatorPhaseOffsetF64 = 8; // + channel: Phase/360 when locked, else -1
    static constexpr int kIndicatorRateF64 = 10;       // + channel: rate in Hz

    explicit ObryCorvane(audioMasterCallback audioMaster);

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    void NoteOn(int channel, int note, int velocity) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane LFO"; }
    const char* GetGUIScriptName() override { return "gui_lfo.lua"; }

private:
    // The clock and output stage (ClockedChannel) and the waveform mix.
    struct Channel : ClockedChannel {
        // Settings derived from the parameters when one changed.
        float swingAmount, swingType;
        float phaseOffset; // Phase in cycles
        int32_t syncMode;  // SyncMode
        double beats;      // Tempo and Transport: beats per cycle
        double freeRate;   // Free: cycles per second
        float pulseWidth;
        float sine, triangle, square, saw, random, noise;
        float offset;
        // Generator state, kept across blocks.
        float heldRandom;
        uint32_t noiseSeed;
        // Quadrature with the other channel as leader: the phase is the
        // leader's plus this many cycles at every sample.
        bool follows;
        double followOffset;
    };

    // Samples of the leader's phase a follower is computed from at once.
    static constexpr int32_t kFollowRun = 1024;

    // A parameter of the current program, its default when not finite.
    float Param(int32_t index);
    float ChannelParam(int32_t c, int32_t groupIndex) { return Param(groupIndex + kGroupSize * c); }
    // Channel c's settings from the parameters (only when one changed).
    void DeriveSettings(int32_t c, double sampleRate);
    // Channel c's settings of this block, from its derived settings, the
    // host's time and (in quadrature) the other channel.
    void SetupChannel(int32_t c, const HostTime& time, double sampleRate);
    // `phases` (when given) gets the phase each sample was computed at.
    static void Generate(Channel& ch, const float* in, float* out, int32_t frames, double increment,
                         double* phases = nullptr);
    // Both channels generated and smoothed, their clocks side by side: for
    // channels without swing whose buffers are apart as Process checks.
    void GenerateBoth(float** inputs, float** outputs, int32_t frames);
    // The follower's samples at the leader's phases plus its offset.
    static void Follow(Channel& ch, const float* in, float* out, int32_t frames, const double* leaderPhases,
                       double leaderEnd);
    void ProcessInQuadrature(float** inputs, float** outputs, int32_t frames, int32_t follower);

    Channel channels[2];
    double leaderPhases[kFollowRun];
};

} // namespace ObryCorvaneLFO
