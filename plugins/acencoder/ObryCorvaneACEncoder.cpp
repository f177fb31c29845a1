#include "plugins/acencoder/ObryCorvaneACEncoder.h"

#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

#include <cstring>

namespace {

#define AC_ENCODER_GROUP(suffix)                                                           \
    {"Enable " suffix, kAudioUnitParameterUnit_Boolean, 0, 1, 0},                          \
        {"Input Polarity " suffix, kAudioUnitParameterUnit_Indexed, 0, 1, 0},              \
        {"Min Output Level " suffix, kAudioUnitParameterUnit_Generic, 0, 1, 0},            \
        {"Max Output Level " suffix, kAudioUnitParameterUnit_Generic, 0, 1, 1}

const ParameterInfo kACEncoderParameters[ObryCorvaneACEncoder::ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    AC_ENCODER_GROUP("L"),
    AC_ENCODER_GROUP("R"),
};

const ParameterInfo kACEncoder6Parameters[ObryCorvaneACEncoder6::ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    AC_ENCODER_GROUP("L"),
    AC_ENCODER_GROUP("R"),
    AC_ENCODER_GROUP("3"),
    AC_ENCODER_GROUP("4"),
    AC_ENCODER_GROUP("5"),
    AC_ENCODER_GROUP("6"),
};

#undef AC_ENCODER_GROUP

FactoryPresetTable gACEncoderPresets{{"Defaults", {}}};
FactoryPresetTable gACEncoder6Presets{{"Defaults", {}}};

// A new list per request: the reference counts of CFType objects are not
// atomic, so a list shared between instances could be retained and released
// from two host threads at once.
const char* const kPolarityNames[] = {"Bipolar", "Unipolar"};
SharedValueNames gPolarityNameList(kPolarityNames);

void CopyText(char* destination, const char* source, size_t size)
{
    const size_t length = strnlen(source, size - 1);
    memcpy(destination, source, length);
    destination[length] = 0;
}

} // namespace

ObryCorvaneACEncoderBase::ObryCorvaneACEncoderBase(audioMasterCallback audioMaster, int32_t channels,
                                                   int32_t uniqueId, FactoryPresetTable* presets, int32_t numParams,
                                                   const ParameterInfo* parameterInfo, ObryProgramFactory factory)
    : ObryCorvaneBase(audioMaster, channels, channels, false, uniqueId, 0, 1, presets, numParams, parameterInfo,
                      factory),
      channelCount(channels < kMaxEncoderChannels ? channels : kMaxEncoderChannels)
{
}

int32_t ObryCorvaneACEncoderBase::Initialize()
{
    for (Channel& channel : channels)
        channel = Channel();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

// audio thread: no allocation, no blocking lock
bool ObryCorvaneACEncoderBase::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    if (!SettingsChanged())
        return true;
    for (int32_t k = 0; k < channelCount; ++k) {
        Channel& channel = channels[k];
        channel.enabled = GetParameterReal(ParameterIndex(k, kEnable)) != 0 ? 1 : 0;
        channel.minLevel = GetParameterReal(ParameterIndex(k, kMinOutputLevel));
        channel.maxLevel = GetParameterReal(ParameterIndex(k, kMaxOutputLevel));
        if (GetParameterReal(ParameterIndex(k, kInputPolarity)) == static_cast<float>(kUnipolar)) {
            // 0..1 in -> min..max out
            channel.offset = channel.minLevel;
            channel.scale = channel.maxLevel - channel.minLevel;
        } else {
            // -1..1 in -> min..max out
            channel.offset = (channel.maxLevel + channel.minLevel) * 0.5f;
            channel.scale = (channel.maxLevel - channel.minLevel) * 0.5f;
        }
    }
    return true;
}

// audio thread: no allocation, no blocking lock
void ObryCorvaneACEncoderBase::Process(float** inputs, float** outputs, int32_t frames)
{
    EncodeChannels(inputs, outputs, frames, channels, channelCount < numOutputs ? channelCount : numOutputs);
}

// audio thread. The input level clipped to the output range, times the
// carrier's sign; no state carried from sample to sample, so that the
// compiler vectorises it (plugins/common/SampleLoops.h).
CORVANE_SAMPLE_CLONES void ObryCorvaneACEncoderBase::EncodeChannels(float* const* inputs, float* const* outputs,
                                                                    int32_t frames, Channel* channels, int32_t count)
{
    for (int32_t k = 0; k < count; ++k) {
        const float* in = inputs[k];
        float* out = outputs[k];
        Channel& channel = channels[k];
        if (!channel.enabled) {
            if (in != out)
                memmove(out, in, sizeof(float) * static_cast<size_t>(frames));
            continue;
        }
        // The carrier (0 or 1) flips before each sample: even samples of the
        // block take the sign of 1 - carrier, odd ones the sign of carrier.
        const float carrier = channel.carrier;
        const float evenSign = 2.0f * (1.0f - carrier) - 1.0f;
        const float oddSign = 2.0f * carrier - 1.0f;
        const float scale = channel.scale;
        const float offset = channel.offset;
        const float minLevel = channel.minLevel;
        const float maxLevel = channel.maxLevel;
        SampleLoops::Map(in, out, frames, [=](float x, int32_t n) {
            float y = x * scale + offset;
            y = y > maxLevel ? maxLevel : y;
            // Written so that a NaN input lands on the minimum level instead
            // of reaching the hardware (and so that it is one vector max).
            y = y > minLevel ? y : minLevel;
            return y * ((n & 1) ? oddSign : evenSign);
        });
        if (frames & 1)
            channel.carrier = 1.0f - carrier;
    }
}

int32_t ObryCorvaneACEncoderBase::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    const bool isPolarity = index >= 1 && index < static_cast<uint32_t>(1 + kParametersPerChannel * channelCount)
                            && (index - 1) % kParametersPerChannel == kInputPolarity;
    if (scope != 0 || !isPolarity)
        return kAudioUnitErr_InvalidParameter;
    if (!outArray)
        return 0;
    *outArray = gPolarityNameList.Acquire();
    return 0;
}

uint32_t ObryCorvaneACEncoderBase::GetParameterFlags(int32_t index)
{
    return index == 0 ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvaneACEncoderBase::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    if (request.inParamID != 0)
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(0);
    if (value == 0)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

namespace ObryCorvaneACEncoder {

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneACEncoderBase(audioMaster, kChannels, vst::FourCC("QZs9"), &gACEncoderPresets, kNumParams,
                               kACEncoderParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

} // namespace ObryCorvaneACEncoder

namespace ObryCorvaneACEncoder6 {

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneACEncoderBase(audioMaster, kChannels, vst::FourCC("QZs("), &gACEncoder6Presets, kNumParams,
                               kACEncoder6Parameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

bool ObryCorvane::getEffectName(char* name)
{
    CopyText(name, "QV AC Encoder (6ch)", kVstMaxEffectNameLen);
    return true;
}

bool ObryCorvane::getProductString(char* text)
{
    CopyText(text, "QV AC Encoder (6ch)", kVstMaxProductStrLen);
    return true;
}

} // namespace ObryCorvaneACEncoder6
