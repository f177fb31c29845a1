// Follower: a pitch and envelope follower. The audio input (both channels,
// or only the left or the right one) is band-limited by a low-pass and a
// high-pass state-variable section; the period between rising zero crossings
// of the filtered signal is measured once per period and becomes a pitch
// control voltage (volts per octave, hertz per volt, or through the
// calibration table), and the peak level over the analysis window becomes an
// envelope. Each output is a mix of the envelope and the pitch, then smoothed.
//
// Outputs while nothing is measured: before the first measured period (and on
// silence) the pitch output holds its last value (0 after Initialize), the
// indicator's "no pitch" flag is set, and the envelope falls to 0 at the
// release rate.
//
// Threads: BeginBlock and Process run on the audio thread (no allocation, no
// lock). The properties and the calibration name run on the host's or the
// editor's thread; the name has its own lock, which the audio thread never
// takes. The calibration values are shared without a lock (Calibration.h).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/Calibration.h"

namespace ObryCorvaneFollower {

class ObryCorvane final : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 21;
    static constexpr int32_t kChannels = 2;

    enum Parameter : int32_t {
        kInputSource = 0,
        kLowpassCutoff,
        kHighpassCutoff,
        kEnvGain,
        kEnvAttack,
        kEnvRelease,
        kEnvGate,
        kOutputPitchL, // R follows
        kOutputPitchR,
        kOutputEnvL, // R follows
        kOutputEnvR,
        kSmoothingL, // R follows
        kSmoothingR,
        kPortOffset,
        kPitchMode,
        kVoltsPerOctave,
        kHzPerVolt,
        kVScaleMode,
        kManualVScale,
        kZeroVCoarse,
        kZeroVFine,
    };
    enum Source : int32_t { kSourceBoth = 0, kSourceLeft = 1, kSourceRight = 2 };
    enum PitchMode : int32_t { kVoltsPerOctaveMode = 0, kHzPerVoltMode = 1, kCalibratedMode = 2 };
    enum VScaleMode : int32_t { kVScaleManual = 0, kVScaleBrink = 1, kVScaleDunmore = 2 };

    // Indicator block elements (f32 unless stated).
    enum Indicator : int {
        kIndicatorCalibrationPosition = 2, // "Calibrated" mode: the looked-up note position
        kIndicatorCalibrationValue = 3,    // and its value
        kIndicatorFrequency = 28,
        kIndicatorLevel = 29,
        kIndicatorEnv = 30,
        kIndicatorNoPitch = 31, // u32
        kIndicatorPitchCV = 32,
        kIndicatorPitchOut = 33,
    };

    static constexpr int32_t kRingSize = 4096; // a power of two
    static constexpr int32_t kMaxWindow = 2047;
    static constexpr float kInitialPeriod = 2047;

    explicit ObryCorvane(audioMasterCallback audioMaster);

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Follower"; }
    const char* GetGUIScriptName() override { return "gui_follower.lua"; }
    int32_t SaveExtraState(StateChunk& chunk) override;
    void RestoreExtraState(const StateChunk& records) override;

    // The parameter table, for tools and tests.
    static const ParameterInfo* Parameters();

    // For tests and the editor: the analysis as it stands (audio thread's view).
    float Frequency() const { return frequency; }
    float Period() const { return period; }
    float Level() const { return level; }
    float Env() const { return static_cast<float>(env); }
    float PitchCV() const { return pitchCV; }
    float PitchOut() const { return pitchOut; }
    bool NoPitch() const { return noPitch; }
    int32_t Window() const { return window; }
    CalibrationTable& Calibration() { return calibration; }

private:
    // A parameter's value held to its range; a NaN gives the default.
    float P(int32_t index);
    void Analyse();
    void UpdateIndicators(int32_t frames);
    // Where the output smoothing runs: in the sample loop, outputs apart or
    // one buffer for both, or over the finished block.
    enum Smoothing : int { kSmoothApart, kSmoothOneBuffer, kSmoothAfter };
    // `run` samples from `first` on: the filters, the analysis ring, the
    // envelope and the outputs.
    template <int kSmoothing>
    void FollowRun(const float* inL, const float* inR, float* outL, float* outR, int32_t first, int32_t run,
                   float useLeft, float useRight);

    // Set by BeginBlock when a parameter or the sample rate changed.
    float fL = 0, qL = 0, fH = 0, qH = 0;
    float envGain = 1;
    // The envelope runs in double: in float, (env - target) * coef + target
    // stalls a few ulps short of the target with slow times.
    double attackCoef = 0, releaseCoef = 0;
    float envGate = 0;
    int32_t source = kSourceBoth;
    int32_t pitchMode = kVoltsPerOctaveMode;
    int32_t vScaleMode = kVScaleManual;
    float zeroNote = 48;
    float voltsPerOctave = 1, hzPerVolt = 1000, manualVScale = 10;
    float outPitch[kChannels] = {};
    float outEnv[kChannels] = {};
    float slewStep[kChannels] = {};
    float lowpassCoef[kChannels] = {};
    int32_t window = 0;
    float analysisRate = 48000; // the sample rate the analysis runs at (a usable one)

    // Analysis state, reset only by Initialize.
    float lpLow = 0, lpBand = 0, hpLow = 0, hpBand = 0;
    struct Entry {
        float left, right, filtered;
    };
    Entry ring[kRingSize] = {};
    uint32_t writeIndex = 0;
    int32_t countdown = 0;
    float lastFraction = 0;
    float period = kInitialPeriod;
    float previousPeriod = kInitialPeriod;
    // Whether the window of the next analysis starts at the crossing the last
    // one found: only then is the next crossing one period away.
    bool crossingAtWindowStart = false;
    float frequency = 0;
    float pitchCV = 0;
    float pitchOut = 0;
    float level = 0;
    float target = 0;
    double env = 0;
    bool noPitch = true;
    uint32_t windowStart = 0;
    float smoothState[kChannels] = {};
    int32_t reportedDelay = -1;

    // The indicator values as displayed (smoothed).
    float shownFrequency = 0, shownLevel = 0, shownEnv = 0, shownPitchCV = 0, shownPitchOut = 0;

    CalibrationTable calibration;
    CalibrationProperties calibrationProperties{calibration}; // 64016-64018, 64121 and the name
};

} // namespace ObryCorvaneFollower
