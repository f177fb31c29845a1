#include "plugins/trigger/ObryCorvaneTrigger.h"
#include "plugins/common/ParameterUnits.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "framework/IndicatorBlock.h"
#include "plugins/common/OffValueTexts.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/ParameterValues.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneTrigger {

namespace {

using namespace ParameterUnit;

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    {"Output Mode", kIndexed, 0, 3, 0},
    {"Trigger Note", kAudioUnitParameterUnit_MIDINoteNumber, 0, 127, 60},
    {"Override Gate", kBoolean, 0, 1, 0},
    {"Gate", kGeneric, 0, 1, 0},
    {"Min Voltage", kGeneric, -1, 1, 0},
    {"Max Voltage", kGeneric, -1, 1, 1},
    {"Env 1 Time A1", kSeconds, 0, 5, 0},
    {"Env 1 Time A2", kSeconds, 0, 5, 0.1f},
    {"Env 1 Time A3", kSeconds, 0, 5, 0.1f},
    {"Env 1 Time R1", kSeconds, 0, 5, 0.1f},
    {"Env 1 Time R2", kSeconds, 0, 5, 0},
    {"Env 1 Shape A1", kGeneric, 0, 1, 0},
    {"Env 1 Shape A2", kGeneric, 0, 1, 0},
    {"Env 1 Shape A3", kGeneric, 0, 1, 0},
    {"Env 1 Shape R1", kGeneric, 0, 1, 0},
    {"Env 1 Shape R2", kGeneric, 0, 1, 0},
    {"Env 1 Level A1", kGain, 0, 1, 0},
    {"Env 1 Level A2", kGain, 0, 1, 1},
    {"Env 1 Sustain", kGain, 0, 1, 0.5f},
    {"Env 1 Level R1", kGain, 0, 1, 0},
    {"Env 1 Velocity Depth", kGeneric, -1, 1, 0},
    {"Env 1 Reset To Zero", kBoolean, 0, 1, 0},
    {"Smoothing", kMilliseconds, -500, 500, 0},
    {"Trigger Length", kMilliseconds, 0, 100, 0.2f},
    {"CV Trigger Enable", kBoolean, 0, 1, 0},
    {"CV Trigger Threshold", kGeneric, -1, 1, 0},
    {"Env 1 Multiplier", kIndexed, 0, 3, 1},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

const char* const kModeNames[] = {"Gate", "Trigger", "Envelope", "Velocity"};
const char* const kMultiplierNames[] = {"0.1", "1", "10", "100"};
SharedValueNames gModeList(kModeNames);
SharedValueNames gMultiplierList(kMultiplierNames);

// "OSC Port Offset" reads "Off" at 0, Smoothing while it smooths nothing.
constexpr OffValueTexts kOffTexts{ObryCorvane::kOSCPortOffset, ObryCorvane::kSmoothing, ObryCorvane::kSmoothing};

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster, bool isSynth)
    : ObryCorvaneBase(audioMaster, isSynth ? 0 : 1, 1, isSynth, vst::FourCC(isSynth ? "QZs3" : "QZsm"),
                      kOSCPortOffset, 1, &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    gateOn = false;
    pedalDown = false;
    noteOnVelocity = 0.0f;
    releaseVelocity = 0.0f;
    triggerRemaining = 0;
    triggerLength = 1;
    minVoltage = 0.0f;
    maxVoltage = 1.0f;
    overrideOn = false;
    overrideValue = 0.0f;
    outputMode = kModeGate;
    cvTrigger = false;
    cvThreshold = 0.0f;
    slewStep = 0.0f;
    lowpassCoef = 0.0f;
    smoothState = 0.0f;
    envelope.Reset();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0)
        return kAudioUnitErr_InvalidParameter;
    if (index == kOutputMode) {
        *outArray = gModeList.Acquire();
        return 0;
    }
    if (index == kEnv1Multiplier) {
        *outArray = gMultiplierList.Acquire();
        return 0;
    }
    return kAudioUnitErr_InvalidParameter;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (id != kObryProperty_EnvelopeLayout)
        return ObryCorvaneBase::GetProperty(id, scope, element, data);
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    StoreEnvelopeLayout(data, kEnv1);
    return 0;
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    uint32_t bytes = 0;
    uint8_t canWrite = 0;
    switch (id) {
    case kObryProperty_EnvelopeLayout: bytes = 8; break;
    case kObryProperty_AllSoundOff:
        bytes = 1;
        canWrite = 1;
        break;
    default: return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

// Host or editor thread: the panic only goes into the queue; the audio
// thread silences the output.
int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (id != kObryProperty_AllSoundOff)
        return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    CommandQueue().Write(kObryProperty_AllSoundOff); // a full queue says so on standard error
    return 0;
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

EnvelopeSettings ObryCorvane::Settings()
{
    float group[kEnvParameterCount];
    for (int32_t k = 0; k < kEnvParameterCount; ++k)
        group[k] = P(kEnv1 + k);
    return EnvelopeSettings::FromGroup(group, P(kEnv1VelocityDepth), P(kEnv1ResetToZero) != 0.0f,
                                       P(kEnv1Multiplier));
}

// The settings are derived again only when a parameter, the program or the
// sample rate changed; the envelope follows the sustain level and shows its
// place every piece.
void ObryCorvane::BeginSubBlock(int32_t)
{
    if (SettingsChanged())
        DeriveSettings();
    envelope.FollowSustain(envelopeSettings.sustain);
    float position = 0.0f, level = 0.0f;
    envelope.Indicator(indicatorSums, settingsRate, &position, &level);
    WriteIndicator<float>(indicatorBlock, kIndicatorEnvelope, position);
    WriteIndicator<float>(indicatorBlock, kIndicatorEnvelope + 1, level);
}

void ObryCorvane::DeriveSettings()
{
    const double rate = Rate();
    settingsRate = rate;
    envelopeSettings = Settings();
    indicatorSums = Envelope::IndicatorSums(envelopeSettings);
    minVoltage = P(kMinVoltage);
    maxVoltage = P(kMaxVoltage);
    // At most 100 ms at a checked rate: the product fits an int.
    triggerLength = std::max(1, static_cast<int32_t>(P(kTriggerLength) * rate * 0.001));
    cvTrigger = P(kCVTriggerEnable) != 0.0f;
    if (cvTrigger)
        cvThreshold = P(kCVTriggerThreshold);
    outputMode = static_cast<int32_t>(P(kOutputMode));
    overrideOn = outputMode == kModeGate && P(kOverrideGate) != 0.0f;
    if (overrideOn)
        overrideValue = minVoltage + (maxVoltage - minVoltage) * P(kGate);
    SetupOutputSmoothing(P(kSmoothing), static_cast<float>(rate), &slewStep, &lowpassCoef);
}

// The block is cut at every queue-A event, so that each acts at its own
// sample: an event is delivered after the piece that ends at its offset.
void ObryCorvane::ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames)
{
    int64_t position = 0;
    int32_t offset = 0;
    int32_t left = frames;
    bool settingsRead = false; // an event before the first piece needs them too
    while (left > 0) {
        QZ::MessageQueueItem* item = queueA.Read();
        int32_t piece = left;
        if (item) {
            const int64_t delta = item->deltaFrame;
            if (delta <= position) {
                piece = 0;
            } else {
                piece = static_cast<int32_t>(std::min<int64_t>(delta - position, left));
                position = delta;
            }
        }
        if (piece > 0) {
            BeginSubBlock(piece);
            settingsRead = true;
            if (cvTrigger)
                ScanCVTrigger(inputs[0] + offset, outputs[0] + offset, piece);
            else
                Render(outputs[0] + offset, piece);
            offset += piece;
            left -= piece;
        }
        if (item) {
            if (!settingsRead) {
                BeginSubBlock(0);
                settingsRead = true;
            }
            luaMIDIHelper.ProcessMidiEvent(item);
            HandleMIDIMessage(*item);
        }
    }
}

void ObryCorvane::HandleQueuedMessage(QZ::MessageQueueItem* item)
{
    if (!item)
        return;
    if (item->type == QZ::MessageQueueItem::kShortMIDI)
        HandleMIDIMessage(*item);
    else if (item->type == QZ::MessageQueueItem::kValue && item->Value() == kObryProperty_AllSoundOff)
        Silence();
}

void ObryCorvane::HandleMIDIMessage(const QZ::MessageQueueItem& item)
{
    if (item.type != QZ::MessageQueueItem::kShortMIDI)
        return;
    // The channel is not looked at: every channel plays the trigger.
    const int32_t status = item.data[0] & 0xF0;
    const int32_t data1 = item.data[2] & 0x7F;
    const int32_t data2 = item.data[3] & 0x7F;
    switch (status) {
    case 0x90:
        if (data2 > 0) {
            if (data1 == static_cast<int32_t>(P(kTriggerNote))) {
                noteOnVelocity = static_cast<float>(data2) / 127.0f;
                StartEnvelope(noteOnVelocity);
            }
            break;
        }
        [[fallthrough]];
    case 0x80:
        if (data1 == static_cast<int32_t>(P(kTriggerNote)))
            ReleaseEnvelope(static_cast<float>(data2) / 127.0f);
        break;
    case 0xB0:
        if (data1 == 64) {
            pedalDown = data2 >= 64; // shown to scripts only: it does not hold the note
        } else if (data1 == 120) {
            Silence();
        } else if (data1 == 123) {
            if (gateOn)
                ReleaseEnvelope(releaseVelocity);
            gateOn = false;
        }
        break;
    default: break;
    }
}

// Every note start retriggers, also while the gate is open.
void ObryCorvane::StartEnvelope(float velocity)
{
    triggerRemaining = triggerLength;
    gateOn = true;
    envelope.Start(Settings(), velocity, Rate());
}

void ObryCorvane::ReleaseEnvelope(float velocity)
{
    releaseVelocity = velocity;
    gateOn = false;
    envelope.Release(Settings(), Rate());
}

// Controller 120 and the panic.
void ObryCorvane::Silence()
{
    gateOn = false;
    pedalDown = false;
    triggerRemaining = 0;
    envelope.Silence();
}

// Cuts the piece at every crossing of the threshold: the samples before a
// crossing are rendered with the old state, the crossing sample starts or
// releases the envelope. A NaN input counts as at or below the threshold.
void ObryCorvane::ScanCVTrigger(const float* input, float* output, int32_t frames)
{
    int32_t done = 0;
    int32_t i = 0;
    while (i < frames) {
        // Eight samples on the gate's side of the threshold at a time.
        constexpr int32_t kGroup = 8;
        const float threshold = cvThreshold;
        const bool open = gateOn;
        while (i + kGroup <= frames) {
            int32_t sameSide = 0;
            for (int32_t k = 0; k < kGroup; ++k)
                sameSide += (input[i + k] > threshold) == open ? 1 : 0;
            if (sameSide != kGroup)
                break;
            i += kGroup;
        }
        if (i >= frames)
            break;
        const bool above = input[i] > cvThreshold;
        if (above == gateOn) {
            ++i;
            continue;
        }
        if (i > done)
            Render(output + done, i - done);
        done = i;
        if (above) {
            noteOnVelocity = 1.0f;
            StartEnvelope(1.0f);
        } else {
            ReleaseEnvelope(1.0f);
        }
    }
    if (frames > done)
        Render(output + done, frames - done);
}

void ObryCorvane::Render(float* output, int32_t frames)
{
    const float low = minVoltage;
    const float span = maxVoltage - minVoltage;
    if (overrideOn) {
        std::fill(output, output + frames, overrideValue);
    } else {
        switch (outputMode) {
        case kModeGate: std::fill(output, output + frames, gateOn ? maxVoltage : minVoltage); break;
        case kModeTrigger: {
            const int32_t high = std::min(frames, triggerRemaining);
            std::fill(output, output + high, maxVoltage);
            std::fill(output + high, output + frames, minVoltage);
            triggerRemaining -= high;
            break;
        }
        case kModeEnvelope:
            envelope.Run(output, frames);
            SampleLoops::Map(output, output, frames, [span, low](float x, int32_t) { return x * span + low; });
            break;
        default: std::fill(output, output + frames, low + span * noteOnVelocity); break;
        }
    }
    ApplyOutputSmoothing(output, frames, slewStep, lowpassCoef, &smoothState);
}

} // namespace ObryCorvaneTrigger
