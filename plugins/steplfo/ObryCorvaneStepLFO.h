// The Step LFO ('QZs6'): on each of two channels, L and R, a cyclic sequence
// of up to 96 step values taken from a range of the channel's 96-entry step
// table, each step held or glided linearly into the next, cut at 0 when
// unipolar, scaled and offset, combined with the audio input (added,
// multiplied, or multiplied around 1) and smoothed. The timing and output
// stage are the LFO's (plugins/common/TempoClock.h, ClockedOscillator.h):
// free rate, tempo rate, lock to the song position, quadrature with the
// other channel, swing. In "Step" speed mode
// Speed and the beat length are those of one step rather than the cycle.
//
// Indicator block: f32 element 26 + c is channel c's step position after the
// last block (0-based step number, fractional while interpolating), for the
// step editor's marker.
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock); the parameters (the step values among them) are read from the
// current program at the start of a block in which one of them changed.
// The name and value-text hooks run on the host's UI thread.
#pragma once

#include <cstdint>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/ClockedOscillator.h"

namespace ObryCorvaneStepLFO {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumSteps = 96;
    static constexpr int32_t kGroupSize = 21; // R group index = L group index + 21
    static constexpr int32_t kFirstStep = 43; // "Step 1 L"; "Step 1 R" = 43 + 96
    static constexpr int32_t kNumParams = kFirstStep + 2 * kNumSteps; // 235
    static constexpr int32_t kNumChannels = 2;

    // Parameter indices of the L group.
    enum Parameter : int32_t {
        kOSCPortOffset = 0,
        kSpeedMode = 1,
        kSpeed,
        kSpeedMultiplier,
        kSync,
        kBeatDivisor,
        kBeats,
        kTriplet,
        kPhase,
        kOffset,
        kMultiplier,
        kAsymmetry,
        kRangeMode,
        kLengthMode,
        kStartStep,
        kLengthInSteps,
        kEndStep,
        kInterpolation,
        kInputMode,
        kSmoothing,
        kSwing,
        kSwingType,
    };

    enum SyncMode : int32_t { kSyncFree = 0, kSyncTempo = 1, kSyncTransport = 2, kSyncQuadrature = 3 };

    static constexpr int kIndicatorStepPositionF32 = 26; // + channel

    // The output floor of "Unipolar" and "Bipolar" range modes.
    static constexpr float kUnipolarFloor = 0.0f;
    static constexpr float kBipolarFloor = -1e6f;

    explicit ObryCorvane(audioMasterCallback audioMaster);
    ~ObryCorvane() override = default;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Step LFO"; }
    const char* GetGUIScriptName() override { return "gui_steplfo.lua"; }

    static const ParameterInfo* Parameters();

private:
    // The clock and output stage (ClockedChannel) and the step sequence.
    struct Channel : ClockedChannel {
        // Settings derived from the parameters when one changed.
        float steps[kNumSteps]; // the program's step values (non-finite ones as 0)
        int32_t start;          // 0-based first step of the cycle
        int32_t count;          // steps in the cycle, 1 .. 96 - start
        float floor;            // kUnipolarFloor or kBipolarFloor
        bool linear;            // glide from step to step
        int32_t syncMode;       // SyncMode
        float swingAmount, swingType;
        double phaseOffset;                       // Phase in cycles
        double beats;                             // Tempo and Transport: beats per cycle
        double freeRate;                          // Free: cycles per second
        float offsetSetting, multiplierSetting;   // Offset and Multiplier
        // Settings of this block, from those above and the host's time.
        float offset;
        float multiplier;
        // State kept across blocks.
        float stepPosition;
        // Quadrature with the other channel as leader: the phase is the
        // leader's plus this many cycles at every sample.
        bool follows;
        double followOffset;
    };

    // Samples of the leader's phase a follower is computed from at once.
    static constexpr int32_t kFollowRun = 1024;

    // A parameter of the current program; its default when not finite.
    float Param(int32_t index);
    float ChannelParam(int32_t c, int32_t groupIndex) { return Param(groupIndex + kGroupSize * c); }
    // Channel c's settings from the parameters (only when one changed).
    void DeriveSettings(int32_t c, double sampleRate);
    // Channel c's settings of this block, from its derived settings, the
    // host's time and (in quadrature) the other channel.
    void SetupChannel(int32_t c, const HostTime& time, double sampleRate);
    // `record` (when given) gets the phase each sample was computed at; with
    // `leader` the phases are the leader's plus the follow offset instead
    // (`leaderEnd`: the leader's phase after the last sample).
    static void Generate(Channel& ch, const float* in, float* out, int32_t frames, double increment,
                         double* record = nullptr, const double* leader = nullptr, double leaderEnd = 0.0);
    void ProcessInQuadrature(float** inputs, float** outputs, int32_t frames, int32_t follower);
    // Both channels generated and smoothed, each whole, left first.
    void RunBothChannels(float** inputs, float** outputs, int32_t frames);
    // The same from both channels' runs of the block (ClockRuns), their
    // clocks side by side: for buffers apart as Process checks.
    void GenerateBoth(float** inputs, float** outputs, int32_t frames, const ClockRuns* runs);

    Channel channels[kNumChannels];
    double leaderPhases[kFollowRun];
};

} // namespace ObryCorvaneStepLFO
