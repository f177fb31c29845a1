#include "plugins/follower/ObryCorvaneFollower.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "framework/IndicatorBlock.h"
#include "plugins/common/OffValueTexts.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneFollower {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Input Source", kAudioUnitParameterUnit_Indexed, 0, 2, 0},
    {"Lowpass Cutoff", kAudioUnitParameterUnit_Hertz, 10, 1000, 800},
    {"Highpass Cutoff", kAudioUnitParameterUnit_Hertz, 10, 1000, 100},
    {"Env Gain", kAudioUnitParameterUnit_Decibels, 0, 48, 12},
    {"Env Attack", kAudioUnitParameterUnit_Milliseconds, 1, 1000, 50},
    {"Env Release", kAudioUnitParameterUnit_Milliseconds, 1, 1000, 50},
    {"Env Gate", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Output Pitch L", kAudioUnitParameterUnit_Generic, -1, 1, 1},
    {"Output Pitch R", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Output Env L", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Output Env R", kAudioUnitParameterUnit_Generic, -1, 1, 1},
    {"Smoothing L", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"Smoothing R", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Pitch Mode", kAudioUnitParameterUnit_Indexed, 0, 2, 0},
    {"Volts Per Octave", kAudioUnitParameterUnit_Generic, 0.5f, 4, 1},
    {"Hz Per Volt", kAudioUnitParameterUnit_Hertz, 10, 10000, 1000},
    {"V Scale Mode", kAudioUnitParameterUnit_Indexed, 0, 2, 0},
    {"Manual V Scale", kAudioUnitParameterUnit_Generic, 1, 15, 10},
    {"Zero V Coarse", kAudioUnitParameterUnit_MIDINoteNumber, 0, 127, 48},
    {"Zero V Fine", kAudioUnitParameterUnit_Cents, -50, 50, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

const char* const kSourceNames[] = {"L+R", "Left", "Right"};
const char* const kPitchModeNames[] = {"V/Octave", "Hz/V", "Calibrated"};
const char* const kVScaleNames[] = {"Manual", "Brink", "Dunmore"};
SharedValueNames gSourceList(kSourceNames);
SharedValueNames gPitchModeList(kPitchModeNames);
SharedValueNames gVScaleList(kVScaleNames);

constexpr OffValueTexts kOffTexts{ObryCorvane::kPortOffset, ObryCorvane::kSmoothingL, ObryCorvane::kSmoothingR};

constexpr uint32_t kRingMask = ObryCorvane::kRingSize - 1;
// 2 x (1 - 0.0001^0.25): the most damping either filter section gets.
constexpr float kMaxDamping = 1.8f;
constexpr float kBrinkVoltScale = 0.1882353f;
constexpr float kDunmoreVoltScale = 0.18754579f;
// The rate the analysis assumes when the host reports none it could use.
constexpr float kFallbackRate = 48000;

// One state-variable section's frequency and damping coefficients.
void SetupSection(float cutoff, float fs, float* f, float* q)
{
    const double w = std::min(std::max(static_cast<double>(cutoff), 0.0) * std::numbers::pi / fs,
                              std::numbers::pi / 4);
    *f = static_cast<float>(2 * std::sin(w));
    // At cutoff 0 (f = 0) 2/f is infinite and the damping is simply the most.
    *q = *f > 0 ? std::min({2.0f / *f - *f / 2, 2.0f, kMaxDamping}) : kMaxDamping;
}

// exp(-1 / (ms x fs x 0.001)): the per-sample coefficient of a time constant.
double TimeCoefficient(float milliseconds, float fs)
{
    return std::exp(-1.0 / (static_cast<double>(milliseconds) * fs * 0.001));
}

float Finite(float x)
{
    return std::isfinite(x) ? x : 0.0f;
}

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kChannels, kChannels, false, vst::FourCC("QZsj"), kPortOffset, 1, &gPresets,
                      kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    lpLow = lpBand = hpLow = hpBand = 0;
    memset(ring, 0, sizeof ring);
    writeIndex = 0;
    countdown = 0;
    lastFraction = 0;
    period = previousPeriod = kInitialPeriod;
    crossingAtWindowStart = false;
    frequency = pitchCV = pitchOut = 0;
    level = target = 0;
    env = 0;
    noPitch = true;
    windowStart = 0;
    for (float& state : smoothState)
        state = 0;
    shownFrequency = shownLevel = shownEnv = shownPitchCV = shownPitchOut = 0;
    calibration.Initialize();
    calibrationProperties.ClearName();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

// A saved state or an OSC client can leave any value in the program.
float ObryCorvane::P(int32_t index)
{
    const ParameterInfo& info = kParameters[index];
    const float value = GetParameterReal(index);
    if (std::isnan(value))
        return info.def;
    return std::clamp(value, info.min, info.max);
}

// ---- audio thread: no allocation, no blocking lock ---------------------------

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    // Everything below comes from the parameters and the sample rate alone.
    if (!SettingsChanged())
        return true;
    const float rate = sampleRate;
    const float fs = rate >= 1 && rate <= 1e7f ? rate : kFallbackRate;
    analysisRate = fs;

    SetupSection(P(kLowpassCutoff), fs, &fL, &qL);
    SetupSection(P(kHighpassCutoff), fs, &fH, &qH);

    attackCoef = TimeCoefficient(P(kEnvAttack), fs);
    releaseCoef = TimeCoefficient(P(kEnvRelease), fs);
    envGain = static_cast<float>(std::pow(10.0, P(kEnvGain) * 0.05));
    envGate = P(kEnvGate);

    source = static_cast<int32_t>(P(kInputSource));
    pitchMode = static_cast<int32_t>(P(kPitchMode));
    vScaleMode = static_cast<int32_t>(P(kVScaleMode));
    zeroNote = P(kZeroVCoarse) + P(kZeroVFine) * 0.01f;
    voltsPerOctave = P(kVoltsPerOctave);
    hzPerVolt = P(kHzPerVolt);
    manualVScale = P(kManualVScale);

    for (int32_t c = 0; c < kChannels; ++c) {
        outPitch[c] = P(kOutputPitchL + c);
        outEnv[c] = P(kOutputEnvL + c);
        SetupOutputSmoothing(P(kSmoothingL + c), fs, &slewStep[c], &lowpassCoef[c]);
    }

    const int32_t newWindow = std::min(static_cast<int32_t>(fs * 0.02f), kMaxWindow);
    // The next window no longer starts at the crossing the last one found.
    if (newWindow != window)
        crossingAtWindowStart = false;
    window = newWindow;
    return true;
}

void ObryCorvane::Analyse()
{
    const uint32_t start = (writeIndex - static_cast<uint32_t>(window)) & kRingMask;
    const float wL = source == kSourceRight ? 0.0f : source == kSourceLeft ? 1.0f : 0.5f;
    const float wR = source == kSourceLeft ? 0.0f : source == kSourceRight ? 1.0f : 0.5f;
    float peak = 0;
    float previous = 1e6f; // the first entry never counts as a crossing
    int32_t crossing = 0;
    float fraction = 0;
    for (int32_t j = 0; j < window; ++j) {
        const Entry& entry = ring[(start + static_cast<uint32_t>(j)) & kRingMask];
        peak = std::max(peak, std::fabs(wL * entry.left + wR * entry.right));
        if (entry.filtered > 0 && !(previous > 0)) {
            crossing = j;
            // previous <= 0 < filtered: within 0..1.
            fraction = previous / (previous - entry.filtered);
            break;
        }
        previous = entry.filtered;
    }

    level = std::min(peak * envGain, 1.0f);
    target = level >= envGate ? level : 0.0f;
    windowStart = start;

    if (crossing == 0) {
        noPitch = true;
        crossingAtWindowStart = false;
        countdown = std::max(static_cast<int32_t>(period), 1);
        return;
    }
    countdown = crossing;
    if (!crossingAtWindowStart) {
        // The first crossing after none (or after a new window length) lies
        // at an arbitrary distance from this window's start: it only gives
        // the next analysis its reference, not a period.
        lastFraction = fraction;
        crossingAtWindowStart = true;
        return;
    }
    const float measured = static_cast<float>(crossing) + (fraction - lastFraction);
    lastFraction = fraction;
    if (!(measured >= 1)) {
        // Cannot happen with a crossing at the window's start (the next lies
        // at least two entries on), but a zero period must never be divided by.
        noPitch = true;
        return;
    }
    noPitch = false;
    previousPeriod = period;
    period = measured;
    frequency = analysisRate / period;

    const double note = std::log2(static_cast<double>(frequency) / 440.0) * 12.0 + 69.0;
    switch (pitchMode) {
    case kHzPerVoltMode:
        pitchCV = static_cast<float>((frequency - 440.0 * std::exp2((zeroNote - 69.0) / 12.0)) / hzPerVolt);
        break;
    case kCalibratedMode: {
        const float position = static_cast<float>(std::clamp(note - (zeroNote - 48.0), 0.0, 127.0));
        pitchCV = calibration.Lookup(position);
        WriteIndicator<float>(indicatorBlock, kIndicatorCalibrationPosition, position);
        WriteIndicator<float>(indicatorBlock, kIndicatorCalibrationValue, pitchCV);
        break;
    }
    default: pitchCV = static_cast<float>((note - zeroNote) * voltsPerOctave / 12.0); break;
    }

    if (pitchMode == kCalibratedMode)
        pitchOut = pitchCV;
    else if (vScaleMode == kVScaleBrink)
        pitchOut = std::max(pitchCV, 0.0f) * kBrinkVoltScale;
    else if (vScaleMode == kVScaleDunmore)
        pitchOut = pitchCV * kDunmoreVoltScale;
    else
        pitchOut = pitchCV / manualVScale;
}

// Not SLP-vectorised: packing the four filter states into one register
// puts shuffles on their chain from sample to sample. (Clang, which builds
// only the fuzz targets, has no per-function switch for it.)
#if defined(__clang__)
#define CORVANE_NO_SLP_VECTORIZE
#else
#define CORVANE_NO_SLP_VECTORIZE [[gnu::optimize("no-tree-slp-vectorize")]]
#endif
template <int kSmoothing>
CORVANE_NO_SLP_VECTORIZE void ObryCorvane::FollowRun(const float* inL, const float* inR,
                                                                        float* outL, float* outR, int32_t first,
                                                                        int32_t run, float useLeft, float useRight)
{
    const double coef = target > env ? attackCoef : releaseCoef;
    // The states live in locals for the run: the output stores could
    // otherwise alias them, and every sample would reload them.
    float lpL = lpLow, lpB = lpBand, hpL = hpLow, hpB = hpBand;
    const float fLow = fL, qLow = qL, fHigh = fH, qHigh = qH;
    const double envTarget = static_cast<double>(target);
    double envelope = env;
    const float pitch = pitchOut;
    const float envToL = outEnv[0], envToR = outEnv[1], pitchToL = outPitch[0], pitchToR = outPitch[1];
    const OutputSmoothingStep smoothL(slewStep[0], lowpassCoef[0]), smoothR(slewStep[1], lowpassCoef[1]);
    float smoothedL = smoothState[0], smoothedR = smoothState[1];
    Entry* const entries = ring;
    uint32_t write = writeIndex;
    for (int32_t i = first; i < first + run; ++i) {
        // A NaN or infinite sample would poison the filters and the peak
        // for good: it counts as silence.
        const float left = Finite(inL[i]);
        const float right = Finite(inR[i]);
        const float x = Finite(left * useLeft + right * useRight);
        lpL += lpB * fLow;
        hpL += hpB * fHigh;
        lpB += (x - lpL - lpB * qLow) * fLow;
        float y = lpL - hpL - hpB * qHigh;
        hpB += y * fHigh;
        if (!std::isfinite(lpL + lpB + hpL + hpB + y)) [[unlikely]] {
            // Only a huge input (or a section on the edge of stability)
            // runs the filters away: start them afresh.
            lpL = lpB = hpL = hpB = 0;
            y = 0;
        }
        entries[write] = Entry{left, right, y};
        write = (write + 1) & kRingMask;
        envelope = SettleTowards((envelope - envTarget) * coef + envTarget, envTarget);
        const float shown = static_cast<float>(envelope);
        const float valueL = shown * envToL + pitch * pitchToL;
        const float valueR = shown * envToR + pitch * pitchToR;
        if constexpr (kSmoothing == kSmoothApart) {
            smoothedL = smoothL(smoothedL, valueL);
            smoothedR = smoothR(smoothedR, valueR);
            outL[i] = smoothedL;
            outR[i] = smoothedR;
        } else if constexpr (kSmoothing == kSmoothOneBuffer) {
            // The right sample overwrote the left one; the left smoothing
            // reads it, the right one reads what the left made of it.
            smoothedL = smoothL(smoothedL, valueR);
            smoothedR = smoothR(smoothedR, smoothedL);
            outL[i] = smoothedR;
        } else {
            outL[i] = valueL;
            outR[i] = valueR;
        }
    }
    lpLow = lpL;
    lpBand = lpB;
    hpLow = hpL;
    hpBand = hpB;
    env = envelope;
    writeIndex = write;
    smoothState[0] = smoothedL;
    smoothState[1] = smoothedR;
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (window != reportedDelay) {
        setInitialDelay(window);
        reportedDelay = window;
    }
    const float* inL = inputs[0];
    const float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    const float useLeft = source == kSourceRight ? 0.0f : 1.0f;
    const float useRight = source == kSourceLeft ? 0.0f : 1.0f;

    // The outputs are smoothed in the loop that makes them, their chains
    // beside the filters' and the envelope's, when that gives what
    // smoothing the finished block gives: every output the same buffer as
    // each input and the other output, or apart from it. Otherwise (a
    // broken host) the block is smoothed when it is finished.
    auto sameOrApart = [frames](const float* a, const float* b) { return SampleLoops::SameOrApart(a, b, frames); };
    const bool inLoop = sameOrApart(outL, outR) && sameOrApart(outL, inL) && sameOrApart(outL, inR) &&
                        sameOrApart(outR, inL) && sameOrApart(outR, inR);

    int32_t done = 0;
    while (done < frames) {
        if (countdown <= 0)
            Analyse();
        const int32_t run = std::min(countdown, frames - done);
        if (!inLoop)
            FollowRun<kSmoothAfter>(inL, inR, outL, outR, done, run, useLeft, useRight);
        else if (outL == outR)
            FollowRun<kSmoothOneBuffer>(inL, inR, outL, outR, done, run, useLeft, useRight);
        else
            FollowRun<kSmoothApart>(inL, inR, outL, outR, done, run, useLeft, useRight);
        countdown -= run;
        done += run;
        if (countdown == 0)
            Analyse();
    }

    if (!inLoop)
        ApplyOutputSmoothingPair(outL, outR, frames, slewStep, lowpassCoef, &smoothState[0], &smoothState[1]);
    UpdateIndicators(frames);
}

void ObryCorvane::UpdateIndicators(int32_t frames)
{
    const float k = static_cast<float>(std::exp(-frames / (0.03 * analysisRate)));
    auto show = [k](float& shown, float value) {
        shown = std::isfinite(shown) ? (shown - value) * k + value : value;
        return shown;
    };
    WriteIndicator<float>(indicatorBlock, kIndicatorFrequency, show(shownFrequency, frequency));
    WriteIndicator<float>(indicatorBlock, kIndicatorLevel, show(shownLevel, level));
    WriteIndicator<float>(indicatorBlock, kIndicatorEnv, show(shownEnv, static_cast<float>(env)));
    WriteIndicator<uint32_t>(indicatorBlock, kIndicatorNoPitch, noPitch ? 1u : 0u);
    WriteIndicator<float>(indicatorBlock, kIndicatorPitchCV, show(shownPitchCV, pitchCV));
    WriteIndicator<float>(indicatorBlock, kIndicatorPitchOut, show(shownPitchOut, pitchOut));
}

// ---- host and editor threads ---------------------------------------------------

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    SharedValueNames* list = nullptr;
    if (scope == 0) {
        switch (index) {
        case kInputSource: list = &gSourceList; break;
        case kPitchMode: list = &gPitchModeList; break;
        case kVScaleMode: list = &gVScaleList; break;
        default: break;
        }
    }
    if (!list)
        return kAudioUnitErr_InvalidParameter;
    if (outArray)
        *outArray = list->Acquire();
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (CalibrationProperties::Handles(id))
        return calibrationProperties.GetProperty(id, data);
    switch (id) {
    default: return ObryCorvaneBase::GetProperty(id, scope, element, data);
    }
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    if (CalibrationProperties::Handles(id))
        return calibrationProperties.GetPropertyInfo(id, size, writable);
    uint32_t bytes = 0;
    uint8_t canWrite = 0;
    switch (id) {
    default: return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    switch (id) {
    case kObryProperty_CalibrationName: return calibrationProperties.SetName(data, size);
    case kObryProperty_ReapplyPortOffset: return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    default: return kAudioUnitErr_InvalidProperty;
    }
}

int32_t ObryCorvane::SaveExtraState(StateChunk& chunk)
{
    calibrationProperties.Save(chunk);
    return 0;
}

void ObryCorvane::RestoreExtraState(const StateChunk& records)
{
    calibrationProperties.Restore(*this, records);
}

} // namespace ObryCorvaneFollower
