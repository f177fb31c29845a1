#include "plugins/sync/ObryCorvaneSync.h"
#include "plugins/common/ParameterUnits.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "framework/IndicatorBlock.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/common/Swing.h"
#include "plugins/common/TempoClock.h"
#include "plugins/common/ParameterValues.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneSync {

namespace {

using namespace ParameterUnit;

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"DINsync Type", kIndexed, 0, 3, 3},
    {"Clock Output", kIndexed, 0, 54, 1},
    {"Run Output", kIndexed, 0, 54, 2},
    {"Swing", kAudioUnitParameterUnit_Percent, 0, 100, 50},
    {"Swing Type", kIndexed, 0, 1, 0},
    {"Offset", kMilliseconds, -100, 100, 0},
    {"PPQN", kIndexed, 1, 96, 1},
    {"Divisor", kIndexed, 0, 6, 0},
    {"1st Delay", kBoolean, 0, 1, 0},
    {"Clock Low", kGeneric, -1, 1, 0},
    {"Clock High", kGeneric, -1, 1, 1},
    {"Run Low", kGeneric, -1, 1, 0},
    {"Run High", kGeneric, -1, 1, 1},
    {"Trigger Length", kMilliseconds, 0, 100, 0},
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    {"QZ Hardware Mode", kIndexed, 0, 2, 0},
    {"Multiplier", kIndexed, 1, 96, 1},
    {"Mute Clocks", kBoolean, 0, 1, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

#define SYNC_GATE_ROW(K)                                                                                             \
    "Gates " K "/1", "Gates " K "/2", "Gates " K "/3", "Gates " K "/4", "Gates " K "/5", "Gates " K "/6",            \
        "Gates " K "/7", "Gates " K "/8"
const char* const kOutputNames[] = {"Off",           "Output 1",       "Output 2",       "Output 3",
                                    "Output 4",      "Output 5",       "Output 6",       SYNC_GATE_ROW("1"),
                                    SYNC_GATE_ROW("2"), SYNC_GATE_ROW("3"), SYNC_GATE_ROW("4"), SYNC_GATE_ROW("5"),
                                    SYNC_GATE_ROW("6")};
#undef SYNC_GATE_ROW
static_assert(sizeof kOutputNames / sizeof kOutputNames[0] == 55);

const char* const kTypeNames[] = {"Off", "24ppqn", "48ppqn", "Custom"};
const char* const kSwingTypeNames[] = {"16", "8"};
const char* const kDivisorNames[] = {"1", "/2", "/4", "/8", "/16", "/32", "/64"};
const char* const kHardwareNames[] = {"Off", "Brink", "Carro"};

SharedValueNames gTypeList(kTypeNames);
SharedValueNames gOutputList(kOutputNames);
SharedValueNames gSwingTypeList(kSwingTypeNames);
SharedValueNames gDivisorList(kDivisorNames);
SharedValueNames gHardwareList(kHardwareNames);

// Pulse indices and sample counts made from host positions are held well
// inside int64 (and far beyond any song): a NaN or absurd position must not
// make an undefined conversion.
constexpr double kIndexLimit = 1.0e15;
constexpr double kOffsetLimit = 1.0e12;

int64_t ToIndex(double v)
{
    if (!(v == v))
        return 0;
    v = std::clamp(v, -kIndexLimit, kIndexLimit);
    return static_cast<int64_t>(v); // toward zero
}

// An output level as an expander byte: 0..1 as 0..255 (NaN gives 0).
uint8_t LevelByte(float level)
{
    const float v = level * 255.0f + 0.5f;
    if (!(v > 0.0f))
        return 0;
    return v >= 255.0f ? 255 : static_cast<uint8_t>(v);
}

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster, bool isSynth)
    : ObryCorvaneBase(audioMaster, 2, 2, isSynth, vst::FourCC(isSynth ? "QZse" : "QZsf"), kOSCPortOffset, 1,
                      &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    playing = false;
    tempo = 0.0;
    position = 0.0;
    lastBlockPosition = 0.0;
    blockOffset = 0;
    started = false;
    run = false;
    pulseState = kIdle;
    pulseRemaining = 0;
    highAtLastSample = false;
    pulsePeriod = 0;
    lastPulse = 0;
    nextPulse = 1;
    storedQ = 0.0;
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kTriggerLength || index == kOSCPortOffset ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0)
        return kAudioUnitErr_InvalidParameter;
    SharedValueNames* list = nullptr;
    switch (index) {
    case kDINsyncType: list = &gTypeList; break;
    case kClockOutput:
    case kRunOutput: list = &gOutputList; break;
    case kSwingType: list = &gSwingTypeList; break;
    case kDivisor: list = &gDivisorList; break;
    case kHardwareMode: list = &gHardwareList; break;
    default: return kAudioUnitErr_InvalidParameter;
    }
    *outArray = list->Acquire();
    return 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const auto index = static_cast<int32_t>(request.inParamID);
    if (index != kTriggerLength && index != kOSCPortOffset)
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    if (value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

float ObryCorvane::P(int32_t index)
{
    return HeldToRange(kParameters[index], CurrentProgram()->GetParameter(index));
}

double ObryCorvane::Rate()
{
    return UsableSampleRate(getSampleRate());
}

double ObryCorvane::PulsesPerQuarter() const
{
    return pulsesPerQuarter;
}

// The settings, re-derived only when a parameter, the program or the sample
// rate changed: at block start and before every piece.
void ObryCorvane::BeginSubBlock(int32_t)
{
    if (!SettingsChanged())
        return;
    hardwareMode = static_cast<int32_t>(P(kHardwareMode));
    type = static_cast<int32_t>(P(kDINsyncType));
    clockAssignment = static_cast<int32_t>(P(kClockOutput));
    runAssignment = static_cast<int32_t>(P(kRunOutput));
    offsetSeconds = P(kOffset) * 0.001;
    ppqn = std::max(1.0f, P(kPPQN));
    divisorFactor = std::exp2(-static_cast<double>(P(kDivisor)));
    const double length = P(kTriggerLength) * Rate() * 0.001;
    triggerLength = length < 1.0 ? 0 : static_cast<int64_t>(length);
    clockLow = P(kClockLow);
    clockHigh = P(kClockHigh);
    runLow = P(kRunLow);
    runHigh = P(kRunHigh);
    multiplier = std::max(1, static_cast<int32_t>(P(kMultiplier)));
    mute = P(kMuteClocks) != 0.0f;
    const double base = type == kType24 ? 24.0 : (type == kType48 ? 48.0 : ppqn);
    pulsesPerQuarter = base * divisorFactor / multiplier;
    const float swing = P(kSwing);
    swingOn = std::fabs(swing - 50.0f) > 0.1f;
    if (swingOn) {
        swingFraction = std::clamp(swing * 0.01, 0.05, 0.95);
        swingPeriod = PulsesPerQuarter() * (P(kSwingType) >= 1.0f ? 1.0 : 0.5);
    }
}

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    BeginSubBlock(frames);
    const bool wasPlaying = playing;
    lastBlockPosition = position;
    playing = true;
    tempo = 0.0;
    position = 0.0;
    blockOffset = 0;

    bool barValid = false, cycleActive = false;
    double barStart = 0.0, cycleStart = 0.0, cycleEnd = 0.0;
    int32_t numerator = 4, denominator = 4;
    if (const VstTimeInfo* info = getTimeInfo(kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstCyclePosValid |
                                              kVstTimeSigValid | kVstTransportPlaying)) {
        // Only finite values count; a tempo must also be above 0.
        if ((info->flags & kVstTempoValid) && std::isfinite(info->tempo) && info->tempo > 0.0)
            tempo = info->tempo;
        if ((info->flags & kVstPpqPosValid) && std::isfinite(info->ppqPos))
            position = info->ppqPos;
        if (info->flags & kVstTimeSigValid) {
            numerator = info->timeSigNumerator;
            denominator = info->timeSigDenominator;
        }
        if ((info->flags & kVstBarsValid) && std::isfinite(info->barStartPos)) {
            barValid = true;
            barStart = info->barStartPos;
        }
        if ((info->flags & kVstCyclePosValid) && std::isfinite(info->cycleStartPos) &&
            std::isfinite(info->cycleEndPos)) {
            cycleStart = info->cycleStartPos;
            cycleEnd = info->cycleEndPos;
            cycleActive = (info->flags & kVstTransportCycleActive) != 0;
        }
        playing = (info->flags & kVstTransportPlaying) != 0;
    }

    const double q = PulsesPerQuarter();
    if (!wasPlaying && playing) {
        started = true;
        pulseState = kIdle;
        run = false;
        nextPulse = 1;
        if (tempo > 0.0) {
            // Odd or absurd signatures fall back to 4/4.
            const double bar = numerator > 0 && denominator > 0 && numerator <= 1000 && denominator <= 1000
                                   ? numerator * 4.0 / denominator
                                   : 4.0;
            double start = barValid ? barStart : std::floor(position / bar) * bar;
            if (start != position)
                start += bar;
            // A stale bar start from the host would put the first pulse in
            // the past: move it on by whole bars to the next bar line.
            if (start < position)
                start += std::ceil((position - start) / bar) * bar;
            if (type != kTypeOff) {
                storedQ = q;
                nextPulse = ToIndex(q * start);
                lastPulse = nextPulse - 1;
            }
        }
    } else if (playing) {
        if (position <= lastBlockPosition && cycleActive && type != kTypeOff && cycleEnd > cycleStart) {
            lastPulse -= ToIndex(q * (cycleEnd - cycleStart));
            nextPulse = lastPulse + 1;
        }
    } else if (wasPlaying) {
        started = false;
        pulseState = kIdle;
        run = false;
    }
    return true;
}

double ObryCorvane::SwungPulse(int64_t n)
{
    if (!swingOn)
        return static_cast<double>(n);
    // Mostly the pulse of the block before, or the one after it.
    for (const WarpedPulse& w : warped)
        if (w.valid && w.n == n && SameBits(w.period, swingPeriod) && SameBits(w.fraction, swingFraction))
            return w.t;
    WarpedPulse& w = warped[nextWarped];
    nextWarped ^= 1;
    w = {true, n, swingPeriod, swingFraction, SwingWarp(static_cast<double>(n), swingPeriod, swingFraction)};
    return w.t;
}

int64_t ObryCorvane::OffsetOf(int64_t n, double x, double samplesPerPulse)
{
    const double t = SwungPulse(n);
    // The host's position comes in binary fractions of quarter notes: a
    // pulse that falls on a whole sample can land a hair below it, and a
    // bare truncation would then move it one sample early.
    const double samples = (t - x) * samplesPerPulse + 1.0e-6;
    if (!(samples > 0.0))
        return 0;
    return samples >= kOffsetLimit ? static_cast<int64_t>(kOffsetLimit) : static_cast<int64_t>(samples);
}

void ObryCorvane::EnterPulseState(int32_t state, int64_t samples)
{
    if (state >= kHigh && triggerLength > 0)
        samples = std::min(samples, triggerLength);
    pulseState = state;
    pulseRemaining = std::max<int64_t>(samples, 1);
}

void ObryCorvane::EndOfPulseState()
{
    switch (pulseState) {
    case kLow: pulseState = kIdle; break;
    case kLowBeforeShort: EnterPulseState(kHighShort, pulsePeriod / 4); break;
    case kHigh: EnterPulseState(kLow, pulsePeriod / 4); break;
    case kHighDouble: EnterPulseState(kLowBeforeShort, pulsePeriod / 4); break;
    case kHighShort: EnterPulseState(kLow, pulsePeriod / 8); break;
    default: pulseState = kIdle; break;
    }
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    const double q = PulsesPerQuarter();
    bool pulses = type != kTypeOff && tempo > 0.0 && playing;
    double samplesPerPulse = 0.0, x = 0.0;
    if (pulses) {
        // These change with the tempo, the sample rate and the settings only.
        const double rate = Rate();
        if (!timing.valid || !SameBits(rate, timing.rate) || !SameBits(q, timing.q) || !SameBits(tempo, timing.tempo) ||
            !SameBits(offsetSeconds, timing.offsetSeconds))
            timing = {true, rate, q, tempo, offsetSeconds, rate * (60.0 / q) / tempo, offsetSeconds * tempo * q / 60.0};
        samplesPerPulse = timing.samplesPerPulse;
        // The piece's own start: a block cut by MIDI events goes on from
        // where the previous piece ended, not from the block's start. A
        // negative offset plays the clock early, so it moves the position
        // the pulses are measured from forward.
        x = q * position - timing.offsetPulses + static_cast<double>(blockOffset) / samplesPerPulse;
        pulses = std::isfinite(samplesPerPulse) && samplesPerPulse > 0.0 && std::isfinite(x) &&
                 std::fabs(x) < kIndexLimit;
    }
    int64_t n = 0, pulseOffset = 0;
    if (pulses) {
        const double straight = swingOn ? unwarper.Unwarp(x, swingPeriod, swingFraction) : x;
        n = ToIndex(std::ceil(straight));
        pulseOffset = OffsetOf(n, x, samplesPerPulse);
        if (q == storedQ) {
            if (n == nextPulse + 1) {
                n = nextPulse; // overdue: now
                pulseOffset = 0;
            } else if (n < nextPulse) {
                n = nextPulse;
                pulseOffset = OffsetOf(n, x, samplesPerPulse);
            } else if (n > nextPulse) {
                // The host moved on by more than a pulse: the counters start
                // again from here rather than catch up pulse by pulse.
                nextPulse = n;
                lastPulse = n - 1;
            }
        }
    }

    int32_t i = 0;
    while (i < frames) {
        if (pulses && i >= pulseOffset) {
            if (q != storedQ) {
                storedQ = q;
                nextPulse = n;
                lastPulse = n - 1;
                // A pulse that was high at the sample before would run on into
                // this one with no rising edge between them: its low part is
                // kept, and this pulse comes when that is over, as one due
                // while a pulse is under way does.
                if (!highAtLastSample)
                    pulseState = kIdle;
            }
            const int64_t k = n - lastPulse;
            const int64_t oldOffset = pulseOffset;
            ++n;
            pulseOffset = OffsetOf(n, x, samplesPerPulse);
            if (pulseState == kIdle && k > 0) {
                pulsePeriod = std::max<int64_t>(pulseOffset - oldOffset, 8);
                if (started) {
                    run = true;
                    started = false;
                    lastPulse += 1;
                    if (P(kFirstDelay) == 0.0f)
                        EnterPulseState(kHigh, pulsePeriod / 2);
                    else
                        EnterPulseState(kLowBeforeShort, pulsePeriod / 4);
                } else if (k == 1) {
                    EnterPulseState(kHigh, pulsePeriod / 2);
                    lastPulse += 1;
                } else {
                    EnterPulseState(kHighDouble, pulsePeriod / 4);
                    lastPulse += 2;
                }
            }
        }
        int64_t end = frames;
        if (pulses && pulseOffset > i)
            end = std::min<int64_t>(end, pulseOffset);
        if (pulseState != kIdle)
            end = std::min<int64_t>(end, i + pulseRemaining);
        const auto length = static_cast<int32_t>(std::max<int64_t>(end - i, 1));
        BeginSubBlock(length);
        RenderStretch(inputs, outputs, i, length);
        highAtLastSample = pulseState >= kHigh;
        if (pulseState != kIdle) {
            pulseRemaining -= length;
            if (pulseRemaining <= 0)
                EndOfPulseState();
        }
        i += length;
    }
    if (pulses)
        nextPulse = n;
    blockOffset += frames;
}

namespace {

// x when finite, else +0, without a branch (by the exponent's bits), so
// that sample loops vectorise.
inline float FiniteOrZero(float x)
{
    const auto bits = std::bit_cast<uint32_t>(x);
    const uint32_t keep = (bits & 0x7F800000u) != 0x7F800000u ? 0xFFFFFFFFu : 0u;
    return std::bit_cast<float>(bits & keep);
}

} // namespace

void ObryCorvane::RenderStretch(float** inputs, float** outputs, int32_t first, int32_t frames)
{
    const bool clockHighNow = pulseState >= kHigh && !mute;
    const float clock = clockHighNow ? clockHigh : clockLow;
    const float runLevel = run ? runHigh : runLow;
    const float* inL = inputs[0] + first;
    const float* inR = inputs[1] + first;
    float* outL = outputs[0] + first;
    float* outR = outputs[1] + first;

    if (hardwareMode == kHardwareOff) {
        float addL = 0.0f, addR = 0.0f;
        if (type != kTypeOff) {
            const struct {
                int32_t assignment;
                float level;
            } signals[2] = {{clockAssignment, clock}, {runAssignment, runLevel}};
            for (const auto& s : signals) {
                if (s.assignment == 1)
                    addL += s.level;
                else if (s.assignment >= 2 && s.assignment <= 6)
                    addR += s.level;
            }
        }
        // A broken input sample (NaN, infinity) must not take the clock
        // and run levels with it: it passes as silence. Channel by channel
        // in vector registers unless the left output holds right input
        // samples, which sample by sample are read before they are written.
        if (SampleLoops::Apart(outL, inR, frames)) {
            SampleLoops::Map(inL, outL, frames, [addL](float x, int32_t) { return FiniteOrZero(x) + addL; });
            SampleLoops::Map(inR, outR, frames, [addR](float x, int32_t) { return FiniteOrZero(x) + addR; });
            return;
        }
        for (int32_t i = 0; i < frames; ++i) {
            const float l = inL[i], r = inR[i];
            outL[i] = FiniteOrZero(l) + addL;
            outR[i] = FiniteOrZero(r) + addR;
        }
        return;
    }

    const bool carro = hardwareMode == kHardwareCarro;
    const int32_t byteCount = carro ? kCarroFrameBytes : kBrinkFrameBytes;
    uint8_t bytes[kMaxExpanderFrameBytes] = {};
    const struct {
        int32_t assignment;
        float level, low, high;
        bool isHigh;
    } signals[2] = {{clockAssignment, clock, clockLow, clockHigh, clockHighNow},
                    {runAssignment, runLevel, runLow, runHigh, run}};
    for (const auto& s : signals) {
        if (s.assignment >= 1 && s.assignment < kFirstGateAssignment) {
            bytes[std::min(s.assignment, 5) - 1] = LevelByte(s.level);
        } else if (s.assignment >= kFirstGateAssignment) {
            // An inverted pair (Low above High) sets the bit while the signal is low.
            if (s.isHigh == (s.low <= s.high))
                SetFrameGate(bytes, byteCount, s.assignment - kFirstGateAssignment);
        }
    }
    for (int32_t i = 0; i < frames; ++i) {
        if (carro)
            WriteCarroFrame(bytes, {CarroSampleWord::FromSample(inL[i]), CarroSampleWord::FromSample(inR[i])},
                            &outL[i], &outR[i]);
        else
            WriteBrinkFrame(bytes, {BrinkSampleWord::FromSample(inL[i]), BrinkSampleWord::FromSample(inR[i])},
                            &outL[i], &outR[i]);
    }
    if (frames > 0) {
        uint8_t shown[kMaxExpanderFrameBytes] = {};
        if (carro) {
            const uint32_t left = CarroSampleWord::FromSample(outL[frames - 1]);
            const uint32_t right = CarroSampleWord::FromSample(outR[frames - 1]);
            const uint32_t words[2] = {left, right};
            for (int w = 0; w < 2; ++w)
                for (int b = 0; b < 3; ++b)
                    shown[3 * w + b] = static_cast<uint8_t>(words[w] >> (16 - 8 * b));
        } else {
            const uint32_t left = BrinkSampleWord::FromSample(outL[frames - 1]);
            const uint32_t right = BrinkSampleWord::FromSample(outR[frames - 1]);
            shown[0] = static_cast<uint8_t>(left >> 12);
            shown[1] = static_cast<uint8_t>(left >> 4);
            shown[2] = static_cast<uint8_t>(right >> 12);
            shown[3] = static_cast<uint8_t>(right >> 4);
            shown[4] = static_cast<uint8_t>((left & 0x0F) << 4 | (right & 0x0F));
        }
        WriteIndicatorBytes(indicatorBlock, kIndicatorFrameBytes, shown, kMaxExpanderFrameBytes);
    }
}

} // namespace ObryCorvaneSync
