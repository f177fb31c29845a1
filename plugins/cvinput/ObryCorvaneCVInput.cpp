#include "plugins/cvinput/ObryCorvaneCVInput.h"

#include "plugins/common/ValueNames.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "plugins/common/OffValueTexts.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"

namespace ObryCorvaneCVInput {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Mode L", kAudioUnitParameterUnit_Indexed, 0, 2, 0},
    {"Level L", kAudioUnitParameterUnit_MixerFaderCurve1, 0, 1, 0},
    {"Bipolar L", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Scale L", kAudioUnitParameterUnit_Generic, -4, 4, 1},
    {"Smoothing L", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"Mode R", kAudioUnitParameterUnit_Indexed, 0, 2, 0},
    {"Level R", kAudioUnitParameterUnit_MixerFaderCurve1, 0, 1, 0},
    {"Bipolar R", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Scale R", kAudioUnitParameterUnit_Generic, -4, 4, 1},
    {"Smoothing R", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"Tessel Offset L", kAudioUnitParameterUnit_Generic, 0, 1, 0.5f},
    {"Tessel Offset R", kAudioUnitParameterUnit_Generic, 0, 1, 0.5f},
    {"Tessel Filter Freq", kAudioUnitParameterUnit_Generic, 0, 1, 0.117f},
    {"Tessel Centre", kAudioUnitParameterUnit_Hertz, 16000, 18000, 17000},
    {"Tessel Tau 1", kAudioUnitParameterUnit_Generic, 1, 1000, 100},
    {"Tessel Tau 2", kAudioUnitParameterUnit_Generic, 1, 1000, 100},
    {"Tessel Force Smooth", kAudioUnitParameterUnit_Generic, -1, 0, -0.5f},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

// A new list per request: the reference counts of CFType objects are not
// atomic, so a list shared between instances could be retained and released
// from two host threads at once.
const char* const kModeNames[] = {"Decoder", "Generator", "Tessel Decoder"};
SharedValueNames gModeNameList(kModeNames);

// "OSC Port Offset" is parameter 0.
constexpr OffValueTexts kOffTexts{0, ObryCorvane::ParameterIndex(0, ObryCorvane::kSmoothing),
                                  ObryCorvane::ParameterIndex(1, ObryCorvane::kSmoothing)};

constexpr int32_t kLowpassOrder = 10;
constexpr double kTwoPi = 2 * std::numbers::pi;

// Tessel Offset values below this count as 0: dividing Scale by them would
// only amplify rounding noise, and by a denormal would overflow.
constexpr float kMinTesselOffset = 1e-6f;

// trunc(Mode) for any stored value; what cannot be a mode decodes.
int32_t ModeOf(float value)
{
    if (!(value > -1000.0f && value < 1000.0f))
        return ObryCorvane::kModeDecoder;
    return static_cast<int32_t>(value);
}

// audio thread: a decoder channel's samples before smoothing, with no state
// carried from sample to sample, so that the compiler vectorises them
// (plugins/common/SampleLoops.h). Unipolar: the rectified input times the
// scale. Bipolar: synchronous demodulation, the carrier's sign alternating
// from sample to sample, `firstGain` on the block's first.
CORVANE_SAMPLE_CLONES void Decode(const float* in, float* out, int32_t frames, bool bipolar, float firstGain,
                                  float scale)
{
    if (bipolar) {
        const float oddGain = -firstGain;
        SampleLoops::Map(in, out, frames, [=](float x, int32_t n) { return x * ((n & 1) ? oddGain : firstGain); });
        return;
    }
    // Plain arithmetic: groups of two vectors keep the loop's own
    // instructions from limiting it.
    SampleLoops::Map<2 * SampleLoops::kGroup>(in, out, frames,
                                              [=](float x, int32_t) { return std::fabs(x) * scale; });
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kChannels, kChannels, false, vst::FourCC("QZs4"), 0, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

void ObryCorvane::ResetChannels()
{
    for (Channel& channel : channels) {
        channel = Channel();
        channel.filter.coefficients = &lowpass;
        channel.pll.settings = &loopSettings;
    }
}

int32_t ObryCorvane::Initialize()
{
    ResetChannels();
    lowpassCutoff = -1;
    loopSettings = PLLSettings();
    // Designed here once, so the audio thread redesigns only on a change.
    UpdateLowpass();
    UpdateLoopSettings();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

// ---- audio thread: no allocation, no blocking lock ---------------------------

void ObryCorvane::UpdateLowpass()
{
    float cutoff = GetParameterReal(kTesselFilterFreqIndex);
    if (!(cutoff >= kMinTesselCutoff))
        cutoff = kMinTesselCutoff;
    if (cutoff > kMaxTesselCutoff)
        cutoff = kMaxTesselCutoff;
    if (cutoff == lowpassCutoff)
        return;
    // Stack only; the record becomes the identity should the design fail.
    DesignIIRFilter(kLowpassOrder, 0.0f, cutoff, &lowpass);
    NormalizeIIRGain(&lowpass);
    lowpassCutoff = cutoff;
}

void ObryCorvane::UpdateLoopSettings()
{
    const float fs = sampleRate;
    const float centre = GetParameterReal(kTesselCentreIndex);
    const float tau1 = GetParameterReal(kTesselTau1Index) * 1e-7f;
    const float tau2 = GetParameterReal(kTesselTau2Index) * 0.001f;
    if (fs == loopSettings.sampleRate && centre == loopSettings.centre && tau1 == loopSettings.tau1
        && tau2 == loopSettings.tau2)
        return;
    // An unusable set (a broken sample rate) leaves the loop inert, not NaN.
    SetupTwoPoleFilter(&loopSettings, fs, centre, tau1, tau2);
    // Both loops restart from the centre frequency.
    for (Channel& channel : channels)
        channel.pll.frequency = loopSettings.omega;
}

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    // All of it from the parameters and the sample rate: only when one changed.
    if (!SettingsChanged())
        return true;
    const float fs = sampleRate;
    const float forceSmooth = GetParameterReal(kTesselForceSmoothIndex);
    for (int32_t c = 0; c < kChannels; ++c) {
        Channel& channel = channels[c];
        const int32_t mode = ModeOf(GetParameterReal(ParameterIndex(c, kMode)));
        if (mode != channel.mode) {
            ResetIIRFilter(&channel.filter);
            // The generator's carrier and the decoders' smoothing share
            // `state`: start either afresh, or a decoded level would skew the
            // generator's carrier for good.
            channel.state = 0;
            channel.mode = mode;
        }

        const float scale = GetParameterReal(ParameterIndex(c, kScale));
        if (mode == kModeGenerator) {
            const float level = GetParameterReal(ParameterIndex(c, kLevel));
            channel.generatorLevel = level * level * level;
        } else {
            channel.scale = scale;
            channel.bipolar = GetParameterReal(ParameterIndex(c, kBipolar)) != 0;
            channel.tesselOffset = GetParameterReal(kTesselOffsetIndex + c);
            if (mode == kModeTesselDecoder && channel.tesselOffset >= kMinTesselOffset)
                channel.scale = scale / channel.tesselOffset;
        }

        double samples = SmoothingTimeInSamples(GetParameterReal(ParameterIndex(c, kSmoothing)), fs);
        if (mode == kModeTesselDecoder) {
            // The Tessel decoder is always low-passed at least as strongly as
            // Force Smooth asks, unless Smoothing asks for a slew limit.
            const double forced = SmoothingTimeInSamples(forceSmooth, fs);
            if (samples <= 0 && forced < samples)
                samples = forced;
        }
        SetupOutputSmoothingSamples(samples, &channel.slewStep, &channel.lowpassCoef);
    }
    UpdateLowpass();
    UpdateLoopSettings();
    return true;
}

template <class Write>
void ObryCorvane::RunTesselDecoder(Channel& channel, const float* in, int32_t frames, Write&& write)
{
    PLLState& pll = channel.pll;
    const PLLSettings& settings = *pll.settings;
    const double dt = settings.dt;
    const double loopGain = settings.loopGain;
    const double hpCoef = settings.hpCoef;
    const double omega = settings.omega;
    // A loop whose frequency strays from the centre by more than half the
    // sample rate has lost the carrier for good (only a huge input gets it
    // there, and nothing would bring it back).
    const double maxDeviation = dt > 0 ? std::numbers::pi / dt : std::numeric_limits<double>::infinity();
    const double offset = channel.tesselOffset;
    const double scale = channel.scale;
    double phase = pll.phase;
    double frequency = pll.frequency;
    double detector = pll.detector;
    // The loop and the low-pass run in one pass, sample by sample: the
    // loop's chain from one sample to the next (through the sine and cosine)
    // is the longest, and the low-pass and what `write` does (smoothing)
    // run beside it, as they never feed the loop. The filter zeroes itself
    // should its output run away.
    RunIIRFilterBlock(
        &channel.filter, frames,
        [&](int32_t i) {
            const double x = in[i];
            phase += dt * frequency;
            // Usually the phase moves less than a turn per sample and one exact
            // step (Sterbenz) brings it back; anything else takes a remainder,
            // which needs constant time for any distance where stepping by 2 pi
            // would never end on a huge or infinite phase.
            if (phase >= std::numbers::pi)
                phase -= kTwoPi;
            if (!(phase >= -std::numbers::pi && phase < std::numbers::pi)) [[unlikely]] {
                phase = std::remainder(phase, kTwoPi);
                if (phase >= std::numbers::pi)
                    phase -= kTwoPi;
            }
            const double cosine = std::cos(phase);
            const double sine = std::sin(phase);
            const double d = cosine * x * loopGain;
            frequency += detector * hpCoef + d;
            detector = d;
            // A NaN or infinite input, or a huge one that throws the loop out of
            // range, would otherwise poison the loop for good: start it afresh.
            // (The comparison is also false for a NaN or infinite frequency.)
            if (!(std::abs(frequency - omega) <= maxDeviation) || !std::isfinite(detector)) [[unlikely]] {
                phase = 0;
                frequency = omega;
                detector = 0;
            }
            return sine * x;
        },
        [&write, offset, scale](int32_t i, double lowpassed) {
            write(i, static_cast<float>((offset - lowpassed) * scale));
        });
    pll.phase = phase;
    pll.frequency = frequency;
    pll.detector = detector;
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    // Both decoded channels smooth in one loop after both are decoded, when
    // the left output holds none of the right channel's buffers (then the
    // order changes nothing); otherwise each channel runs whole, left first.
    // A Tessel decoder then smooths each sample as it makes it (its input
    // and output are one buffer or apart, so no input it reads was written),
    // and a right one also smooths the decoded left channel beside its loop.
    const bool together = channels[0].mode != kModeGenerator && channels[1].mode != kModeGenerator &&
                          SampleLoops::Apart(outputs[0], inputs[1], frames) &&
                          SampleLoops::Apart(outputs[0], outputs[1], frames);
    bool smoothed[kChannels] = {false, false};
    for (int32_t c = 0; c < kChannels; ++c) {
        Channel& channel = channels[c];
        const float* in = inputs[c];
        float* out = outputs[c];
        const uint32_t parity = channel.parity;
        if (frames & 1)
            channel.parity = 1 - channel.parity;

        switch (channel.mode) {
        case kModeGenerator: {
            const float level = channel.generatorLevel;
            float carrier = channel.state;
            for (int32_t i = 0; i < frames; ++i) {
                carrier = 1.0f - carrier;
                out[i] = (2.0f * carrier - 1.0f) * level;
            }
            channel.state = carrier;
            continue; // the generator is never smoothed
        }
        case kModeTesselDecoder:
            if (together && (in == out || SampleLoops::Apart(in, out, frames))) {
                const OutputSmoothingStep smooth(channel.slewStep, channel.lowpassCoef);
                float y = channel.state;
                if (c == 1 && !smoothed[0]) {
                    Channel& left = channels[0];
                    const OutputSmoothingStep smoothLeft(left.slewStep, left.lowpassCoef);
                    float* outLeft = outputs[0];
                    float yLeft = left.state;
                    RunTesselDecoder(channel, in, frames, [&](int32_t i, float x) {
                        yLeft = smoothLeft(yLeft, outLeft[i]);
                        outLeft[i] = yLeft;
                        y = smooth(y, x);
                        out[i] = y;
                    });
                    if (frames > 0)
                        left.state = yLeft;
                    smoothed[0] = true;
                } else {
                    RunTesselDecoder(channel, in, frames, [&](int32_t i, float x) {
                        y = smooth(y, x);
                        out[i] = y;
                    });
                }
                if (frames > 0)
                    channel.state = y;
                smoothed[c] = true;
                continue;
            }
            RunTesselDecoder(channel, in, frames, [out](int32_t i, float x) { out[i] = x; });
            break;
        default:
            // The carrier's parity is carried across blocks.
            Decode(in, out, frames, channel.bipolar, parity ? -channel.scale : channel.scale, channel.scale);
            break;
        }
        if (!together)
            ApplyOutputSmoothing(out, frames, channel.slewStep, channel.lowpassCoef, &channel.state);
    }
    if (!together || (smoothed[0] && smoothed[1]))
        return;
    if (smoothed[0]) {
        ApplyOutputSmoothing(outputs[1], frames, channels[1].slewStep, channels[1].lowpassCoef, &channels[1].state);
        return;
    }
    const float slewStep[kChannels] = {channels[0].slewStep, channels[1].slewStep};
    const float lowpassCoef[kChannels] = {channels[0].lowpassCoef, channels[1].lowpassCoef};
    ApplyOutputSmoothingPair(outputs[0], outputs[1], frames, slewStep, lowpassCoef, &channels[0].state,
                             &channels[1].state);
}

// ---- value texts (any thread) -------------------------------------------------

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (scope != 0
        || (index != static_cast<uint32_t>(ParameterIndex(0, kMode))
            && index != static_cast<uint32_t>(ParameterIndex(1, kMode))))
        return kAudioUnitErr_InvalidParameter;
    if (!outArray)
        return 0;
    *outArray = gModeNameList.Acquire();
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

} // namespace ObryCorvaneCVInput
