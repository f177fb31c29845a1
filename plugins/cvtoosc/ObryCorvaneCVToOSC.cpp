#include "plugins/cvtoosc/ObryCorvaneCVToOSC.h"

#include <cmath>
#include <cstring>

#include "plugins/common/OffValueTexts.h"

namespace ObryCorvaneCVToOSC {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Enable L", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Threshold L", kAudioUnitParameterUnit_Percent, 0, 1, 0.1f},
    {"Max Rate L", kAudioUnitParameterUnit_Hertz, 10, 1000, 1000},
    {"Enable R", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Threshold R", kAudioUnitParameterUnit_Percent, 0, 1, 0.1f},
    {"Max Rate R", kAudioUnitParameterUnit_Hertz, 10, 1000, 1000},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

constexpr OffValueTexts kOffTexts{ObryCorvane::kOSCPortOffset, -1, -1};

constexpr int32_t kEnable = 0;
constexpr int32_t kThreshold = 1;
constexpr int32_t kMaxRate = 2;

// `value` held to lo..hi; what is no number gives `fallback`.
float Held(float value, float lo, float hi, float fallback)
{
    if (std::isnan(value))
        return fallback;
    return value < lo ? lo : (value > hi ? hi : value);
}

// Whether one of the Count samples lies outside lower..upper and is a
// finite number (x - x is 0 for every finite x, NaN for NaN and the
// infinities). Branch-free with a constant count, so that it vectorises.
constexpr int32_t kScanChunk = 64;
template <int32_t Count>
inline bool AnyOutside(const float* x, float lower, float upper)
{
    int32_t outside = 0;
    for (int32_t i = 0; i < Count; ++i)
        outside |= static_cast<int32_t>(x[i] - x[i] == 0.0f) &
                   (static_cast<int32_t>(x[i] < lower) | static_cast<int32_t>(x[i] > upper));
    return outside != 0;
}

// The property that carries channel `channel`'s address; -1 for another id.
int32_t AddressChannel(uint32_t id)
{
    if (id == kObryProperty_OSCAddressL)
        return 0;
    if (id == kObryProperty_OSCAddressR)
        return 1;
    return -1;
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kChannels, kChannels, false, vst::FourCC("QZs5"), kOSCPortOffset, 1, &gPresets,
                      kNumParams, kParameters, ObryProgramQVcov1::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    for (Channel& channel : channels)
        channel = Channel();
    {
        std::lock_guard<std::mutex> guard(textLock);
        ApplyDestinationLocked(kDefaultDestination);
        CopyTextsToProgramLocked();
    }
    sender.Start();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

void ObryCorvane::Cleanup()
{
    NoteStop(sender.Stop(StopTimeLeft()));
    ObryCorvaneBase::Cleanup();
}

// ---- texts (host and editor threads) ------------------------------------------------

std::string ObryCorvane::Destination() const
{
    std::lock_guard<std::mutex> guard(textLock);
    return destination;
}

void ObryCorvane::ApplyDestinationLocked(const std::string& text)
{
    destination = text;
    sender.SetURL(destination.c_str());
}

void ObryCorvane::CopyTextsToProgramLocked()
{
    ObryProgramQVcov1& program = Program();
    program.SetText(ObryProgramQVcov1::kDestination, destination.c_str());
    program.SetText(ObryProgramQVcov1::kAddressL, sender.Address(0).c_str());
    program.SetText(ObryProgramQVcov1::kAddressR, sender.Address(1).c_str());
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    const int32_t channel = AddressChannel(id);
    if (id != kObryProperty_OSCDestination && channel < 0)
        return ObryCorvaneBase::GetProperty(id, scope, element, data);
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    // At most 256 bytes: a buffer of that size is always enough, even when
    // the text changed since the caller asked for its size.
    const std::string text = channel < 0 ? Destination() : sender.Address(channel);
    memcpy(data, text.c_str(), text.size() + 1);
    return 0;
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    const int32_t channel = AddressChannel(id);
    if (id != kObryProperty_OSCDestination && channel < 0)
        return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    if (size)
        *size = static_cast<uint32_t>((channel < 0 ? Destination() : sender.Address(channel)).size() + 1);
    if (writable)
        *writable = 1;
    return 0;
}

int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    const int32_t channel = AddressChannel(id);
    if (id != kObryProperty_OSCDestination && channel < 0)
        return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    if (!data && size > 0)
        return kAudioUnitErr_InvalidPropertyValue;

    std::string text;
    if (channel < 0) {
        // A destination cut short would name another host or port: refuse
        // one the state could not keep whole.
        if (!ReadPropertyText(data, size, kMaxOSCTextLength, &text))
            return kAudioUnitErr_InvalidPropertyValue;
        std::lock_guard<std::mutex> guard(textLock);
        ApplyDestinationLocked(text);
        CopyTextsToProgramLocked();
        return 0;
    }
    // An address keeps its first 255 characters; one that is no OSC
    // address would make every message a malformed packet.
    ReadPropertyText(data, size, SIZE_MAX, &text);
    if (!sender.SetAddress(channel, text))
        return kAudioUnitErr_InvalidPropertyValue;
    std::lock_guard<std::mutex> guard(textLock);
    CopyTextsToProgramLocked();
    return 0;
}

// ---- state ---------------------------------------------------------------------------

int32_t ObryCorvane::getChunk(void** data, bool isPreset)
{
    std::lock_guard<std::mutex> guard(textLock);
    CopyTextsToProgramLocked();
    return ObryCorvaneBase::getChunk(data, isPreset);
}

void ObryCorvane::SanitizeProgramValues()
{
    ObryProgramQVcov1& program = Program();
    for (int32_t i = 0; i < kNumParams; ++i) {
        const ParameterInfo& info = kParameters[i];
        const float value = program.GetParameter(i);
        const float held = Held(value, info.min, info.max, info.def);
        if (held != value || std::isnan(value))
            program.SetParameter(i, held);
    }
}

int32_t ObryCorvane::setChunk(void* data, int32_t byteSize, bool isPreset)
{
    char texts[3][ObryProgramQVcov1::kTextSize];
    {
        std::lock_guard<std::mutex> guard(textLock);
        const int32_t result = ObryCorvaneBase::setChunk(data, byteSize, isPreset);
        if (result == 0)
            return result;
        for (int32_t t = 0; t < 3; ++t) {
            memcpy(texts[t], Program().Text(t), sizeof texts[t]);
            texts[t][sizeof texts[t] - 1] = 0;
        }
    }
    // A saved project is untrusted: the program's own chunk bypasses the
    // range checks that plain values get, and a text that is refused
    // leaves the live one in place.
    SanitizeProgramValues();
    NoteParameterChange(); // the held values
    const uint32_t ids[3] = {kObryProperty_OSCDestination, kObryProperty_OSCAddressL, kObryProperty_OSCAddressR};
    for (int32_t t = 0; t < 3; ++t)
        SetPropertyAndNotify(ids[t], texts[t], static_cast<uint32_t>(strlen(texts[t]) + 1));
    std::lock_guard<std::mutex> guard(textLock);
    CopyTextsToProgramLocked();
    return 1;
}

// ---- audio thread: no allocation, no blocking, no I/O -------------------------------

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    // From the parameters and the sample rate: only when one changed.
    if (!SettingsChanged())
        return true;
    const float fs = sampleRate;
    const bool rateUsable = std::isfinite(fs) && fs >= 1.0f;
    for (int32_t c = 0; c < kChannels; ++c) {
        Channel& channel = channels[c];
        auto value = [&](int32_t which) { return GetParameterReal(ParameterIndex(c, which)); };
        const float enable = value(kEnable);
        channel.enable = enable != 0.0f && !std::isnan(enable);
        channel.threshold = Held(value(kThreshold), 0.0f, 1.0f, 0.1f) * 0.01f;
        const float rate = Held(value(kMaxRate), 10.0f, 1000.0f, 1000.0f);
        // At most 1e7 samples: a sample rate far beyond any real one must
        // not overflow the countdown.
        const double interval = rateUsable ? std::trunc(static_cast<double>(fs) / rate) : 0.0;
        channel.interval = interval < 1e7 ? static_cast<int32_t>(interval) : 10000000;
    }
    return true;
}

void ObryCorvane::ProcessChannel(int32_t index, const float* input, int32_t frames)
{
    Channel& channel = channels[index];
    if (!channel.enable || frames <= 0)
        return;
    channel.countdown -= frames < channel.countdown ? frames : channel.countdown;
    if (channel.countdown > 0)
        return; // no send is allowed in this piece: nothing to look at
    // A sample counts when it lies outside the band around the value sent
    // last. Samples that are no finite number do not count, and are never
    // sent: a NaN sent once would make every later comparison false.
    const float lower = channel.lastSent - channel.threshold;
    const float upper = channel.lastSent + channel.threshold;
    bool moved = false;
    int32_t i = 0;
    for (; i + kScanChunk <= frames && !moved; i += kScanChunk)
        moved = AnyOutside<kScanChunk>(input + i, lower, upper);
    for (; i < frames && !moved; ++i)
        moved = AnyOutside<1>(input + i, lower, upper);
    const float value = input[frames - 1];
    if (!moved || !std::isfinite(value))
        return;
    channel.lastSent = value;
    sender.Write(index, value);
    channel.countdown = channel.interval;
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    for (int32_t c = 0; c < kChannels; ++c)
        ProcessChannel(c, inputs[c], frames);
    // Copied after reading, so that a host that shares buffers between the
    // channels cannot change an input before it is read.
    for (int32_t c = 0; c < kChannels; ++c)
        if (outputs[c] != inputs[c])
            memmove(outputs[c], inputs[c], sizeof(float) * static_cast<size_t>(frames));
}

// ---- value texts (any thread) --------------------------------------------------------

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

} // namespace ObryCorvaneCVToOSC
