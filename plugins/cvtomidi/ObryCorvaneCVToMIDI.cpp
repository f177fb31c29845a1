#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"

#include <cmath>
#include <cstring>

#include "plugins/common/ParameterValues.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneCVToMIDI {

namespace {

#define CHANNEL_PARAMETERS(S)                                                     \
    {"Enable " S, kAudioUnitParameterUnit_Boolean, 0, 1, 1},                      \
    {"Channel " S, kAudioUnitParameterUnit_Indexed, 1, 16, 1},                    \
    {"Enable CC " S, kAudioUnitParameterUnit_Boolean, 0, 1, 0},                   \
    {"Send CC " S, kAudioUnitParameterUnit_Indexed, 0, 127, 1},                   \
    {"CC Min " S, kAudioUnitParameterUnit_Generic, -1, 1, -1},                    \
    {"CC Max " S, kAudioUnitParameterUnit_Generic, -1, 1, 1},                     \
    {"Enable Note " S, kAudioUnitParameterUnit_Boolean, 0, 1, 0},                 \
    {"Note On Mode " S, kAudioUnitParameterUnit_Indexed, 0, 2, 0},                \
    {"Note Off Mode " S, kAudioUnitParameterUnit_Indexed, 0, 2, 1},               \
    {"Gate Close Msg " S, kAudioUnitParameterUnit_Indexed, 0, 1, 1},              \
    {"Pitch Centre " S, kAudioUnitParameterUnit_Generic, 0, 128, 48},             \
    {"Pitch Slope " S, kAudioUnitParameterUnit_Generic, -128, 128, 48},           \
    {"Gate Threshold " S, kAudioUnitParameterUnit_Generic, -1, 1, 0.01f},         \
    {"Max Note Length " S, kAudioUnitParameterUnit_Milliseconds, 0, 1000, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    CHANNEL_PARAMETERS("L"),
    CHANNEL_PARAMETERS("R"),
};
#undef CHANNEL_PARAMETERS

FactoryPresetTable gPresets{{"Defaults", {}}};

const char* const kNoteOnModeNames[] = {"Continuous", "Gate Only", "Gated"};
const char* const kNoteOffModeNames[] = {"None", "Normal", "Legato"};
const char* const kGateCloseNames[] = {"None", "Note Off"};
SharedValueNames gNoteOnModeList(kNoteOnModeNames);
SharedValueNames gNoteOffModeList(kNoteOffModeNames);
SharedValueNames gGateCloseList(kGateCloseNames);

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kVelocity = 64;

// A MIDI data byte from trunc(value) held to 0..127; -1 when the value is no
// number (a NaN input, or inf times a zero scale), which leaves the channel's
// state as it is. Converting first would be undefined for NaN and infinities.
inline int32_t DataByte(float value)
{
    if (value != value)
        return -1;
    if (value < 1.0f)
        return 0;
    if (value >= 127.0f)
        return 127;
    return static_cast<int32_t>(value);
}

// The vectors of eight lanes live only inside QuietSamples (its helpers are
// all inlined): none crosses a call, so the calling convention's change
// with AVX does not matter here.
#pragma GCC diagnostic ignored "-Wpsabi"

// What a stretch of samples must match to change nothing (the settings and
// the channel's state as the sample loop holds them).
struct QuietTest {
    bool cc;
    float ccMin;
    float ccScale;
    int32_t lastController;
    bool notes;
    float pitchSlope;
    float pitchCentre;
    int32_t lastPitch;
    int32_t noteOnMode;
    bool gateOpen;
    float gateThreshold;
};

// The samples a quiet test looks at together.
constexpr int32_t kQuietGroup = 16;

// Eight samples at a time (one AVX register, or two SSE ones).
typedef float Octet __attribute__((vector_size(32)));
typedef int32_t OctetInt __attribute__((vector_size(32)));
typedef float Quad __attribute__((vector_size(16)));
typedef int32_t QuadInt __attribute__((vector_size(16)));

[[gnu::always_inline]] inline Octet LoadOctet(const float* p)
{
    Octet x;
    memcpy(&x, p, sizeof x);
    return x;
}

// DataByte of each lane, with the same results (the value is held inside
// the byte's range before its conversion).
[[gnu::always_inline]] inline OctetInt DataBytes(Octet value)
{
    const Octet zero = {};
    const OctetInt isNumber = value == value;
    Octet held = isNumber ? value : zero;
    held = held < 1.0f ? zero : held;
    held = held >= 127.0f ? zero + 127.0f : held;
    const OctetInt bytes = __builtin_convertvector(held, OctetInt);
    return isNumber ? bytes : OctetInt{} - 1;
}

// Whether every lane is set (each lane all ones or all zeros).
[[gnu::always_inline]] inline bool AllSet(OctetInt lanes)
{
    QuadInt halves[2];
    memcpy(halves, &lanes, sizeof halves);
    return __builtin_ia32_movmskps((Quad)(halves[0] & halves[1])) == 0xF;
}

// How many samples from the start, in whole groups and at most `limit`,
// change nothing: no controller value or pitch differs from the last one
// written and no gate crosses the threshold. Most samples of a slow CV are
// such; the caller runs the rest sample by sample. Built for each
// instruction set (comparisons and conversions only: the same answer on
// every one).
CORVANE_SAMPLE_CLONES int32_t QuietSamples(const QuietTest& t, const float* cv, const float* gate, int32_t limit)
{
    const QuietTest q = t; // in registers over the loop, whatever the loads alias
    int32_t done = 0;
    for (; done + kQuietGroup <= limit; done += kQuietGroup) {
        OctetInt same = OctetInt{} - 1;
        for (int32_t k = done; k < done + kQuietGroup; k += 8) {
            const Octet x = LoadOctet(cv + k);
            if (q.cc) {
                const OctetInt v = DataBytes((x - q.ccMin) * q.ccScale + 0.5f);
                same &= (v == q.lastController) | (v < 0);
            }
            if (!q.notes)
                continue;
            const OctetInt p = DataBytes(q.pitchSlope * x + q.pitchCentre + 0.5f);
            const OctetInt samePitch = (p == q.lastPitch) | (p < 0);
            if (q.noteOnMode == ObryCorvane::kContinuous) {
                same &= samePitch;
                continue;
            }
            const Octet g = LoadOctet(gate + k);
            if (!q.gateOpen)
                same &= ~(g > q.gateThreshold);
            else if (q.noteOnMode == ObryCorvane::kGated)
                same &= ~(g < q.gateThreshold) & samePitch;
            else
                same &= ~(g < q.gateThreshold);
        }
        if (!AllSet(same))
            break;
    }
    return done;
}

bool IsChannelParameter(uint32_t index, ObryCorvane::ChannelParameter which)
{
    return index == static_cast<uint32_t>(ObryCorvane::ParameterIndex(0, which))
        || index == static_cast<uint32_t>(ObryCorvane::ParameterIndex(1, which));
}

bool ShowsOff(int32_t index)
{
    return index == 0 || index == ObryCorvane::ParameterIndex(0, ObryCorvane::kMaxNoteLength)
        || index == ObryCorvane::ParameterIndex(1, ObryCorvane::kMaxNoteLength);
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kChannels, kChannels, false, vst::FourCC("QZs7"), 0, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramQVcmv1::Create)
{
    Initialize();
}

void ObryCorvane::ResetChannels()
{
    for (Channel& channel : channels)
        channel = Channel();
}

int32_t ObryCorvane::Initialize()
{
    ResetChannels();
    sender.Start();
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

void ObryCorvane::Cleanup()
{
    NoteStop(sender.Stop(StopTimeLeft()));
    ObryCorvaneBase::Cleanup();
}

// ---- the device name (host and editor threads) ------------------------------------

std::string ObryCorvane::DeviceName() const
{
    std::lock_guard<std::mutex> guard(deviceNameLock);
    return deviceName;
}

void ObryCorvane::ApplyDeviceName(const std::string& name)
{
    std::lock_guard<std::mutex> guard(deviceNameLock);
    deviceName = name;
    // The program keeps the name too, so that a state restored without the
    // program's own chunk does not bring back an older one.
    Program().SetDeviceName(deviceName.c_str());
    sender.OpenDevice(deviceName);
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (id != kObryProperty_MIDIOutputDevice)
        return ObryCorvaneBase::GetProperty(id, scope, element, data);
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    // At most 256 bytes: a buffer of that size is always enough, even when
    // the name changed since the caller asked for its size.
    std::lock_guard<std::mutex> guard(deviceNameLock);
    memcpy(data, deviceName.c_str(), deviceName.size() + 1);
    return 0;
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    if (id != kObryProperty_MIDIOutputDevice)
        return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    if (size) {
        std::lock_guard<std::mutex> guard(deviceNameLock);
        *size = static_cast<uint32_t>(deviceName.size() + 1);
    }
    if (writable)
        *writable = 1;
    return 0;
}

int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    if (id != kObryProperty_MIDIOutputDevice)
        return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    if (!data && size > 0)
        return kAudioUnitErr_InvalidPropertyValue;
    // The name ends at its NUL or at the end of the data, whichever is first:
    // never read past what the caller gave.
    const char* text = static_cast<const char*>(data);
    const size_t length = text ? strnlen(text, size) : 0;
    // A longer name could not be saved whole; refuse it rather than keep a
    // name that the state would bring back cut short.
    if (length > kMaxDeviceNameLength)
        return kAudioUnitErr_InvalidPropertyValue;
    ApplyDeviceName(std::string(text ? text : "", length));
    return 0;
}

// ---- state -------------------------------------------------------------------------

// The program's device name is shared with ApplyDeviceName: both chunk
// operations hold the name's lock while the program's chunk is read or
// written.
int32_t ObryCorvane::getChunk(void** data, bool isPreset)
{
    std::lock_guard<std::mutex> guard(deviceNameLock);
    Program().SetDeviceName(deviceName.c_str());
    return ObryCorvaneBase::getChunk(data, isPreset);
}

void ObryCorvane::SanitizeProgramValues()
{
    HoldProgramToRanges(Program(), kParameters, kNumParams);
}

int32_t ObryCorvane::setChunk(void* data, int32_t byteSize, bool isPreset)
{
    char name[ObryProgramQVcmv1::kDeviceNameSize];
    {
        std::lock_guard<std::mutex> guard(deviceNameLock);
        const int32_t result = ObryCorvaneBase::setChunk(data, byteSize, isPreset);
        if (result == 0)
            return result;
        memcpy(name, Program().DeviceName(), sizeof name);
        name[sizeof name - 1] = 0;
    }
    // A saved project is untrusted: the program's own chunk bypasses the
    // range checks that plain values get.
    SanitizeProgramValues();
    NoteParameterChange(); // the held values
    SetPropertyAndNotify(kObryProperty_MIDIOutputDevice, name, static_cast<uint32_t>(strlen(name) + 1));
    return 1;
}

// ---- audio thread: no allocation, no blocking, no I/O -------------------------------

void ObryCorvane::processReplacing(float** inputs, float** outputs, int32_t sampleFrames)
{
    timeBase = 0;
    ObryCorvaneBase::processReplacing(inputs, outputs, sampleFrames);
}

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    // From the parameters and the sample rate: only when one changed.
    if (!SettingsChanged())
        return true;
    const float fs = sampleRate;
    const bool rateUsable = std::isfinite(fs) && fs >= 1.0f;
    timeStep = rateUsable ? static_cast<uint64_t>(1e9 / fs) : 0;

    for (int32_t c = 0; c < kChannels; ++c) {
        Channel& channel = channels[c];
        auto value = [&](ChannelParameter which) { return GetParameterReal(ParameterIndex(c, which)); };
        channel.enable = IsOn(value(kEnable));
        channel.midiChannel = static_cast<uint8_t>(WholeValue(value(kChannel), 1, 16, 1) - 1);
        channel.ccEnable = IsOn(value(kEnableCC));
        channel.controller = static_cast<uint8_t>(WholeValue(value(kSendCC), 0, 127, 1));
        const float ccMin = FiniteOr(value(kCCMin), -1.0f);
        const float ccMax = FiniteOr(value(kCCMax), 1.0f);
        channel.ccMin = ccMin;
        channel.ccScale = std::fabs(ccMax - ccMin) >= 1e-6f ? 128.0f / (ccMax - ccMin) : 0.0f;
        channel.noteEnable = IsOn(value(kEnableNote));
        channel.noteOnMode = WholeValue(value(kNoteOnMode), kContinuous, kGated, kContinuous);
        channel.noteOffMode = WholeValue(value(kNoteOffMode), kNoteOffNone, kNoteOffLegato, kNoteOffNormal);
        channel.gateCloseNoteOff = WholeValue(value(kGateCloseMsg), 0, 1, 1) == 1;
        channel.pitchCentre = FiniteOr(value(kPitchCentre), 48.0f);
        channel.pitchSlope = FiniteOr(value(kPitchSlope), 48.0f);
        channel.gateThreshold = FiniteOr(value(kGateThreshold), 0.01f);
        float ms = FiniteOr(value(kMaxNoteLength), 0.0f);
        ms = ms < 0 ? 0 : (ms > 1000 ? 1000 : ms);
        const double samples = rateUsable ? std::trunc(static_cast<double>(ms) * 0.001 * fs) : 0.0;
        channel.maxNoteLength = samples < 2147483647.0 ? static_cast<int32_t>(samples) : 2147483647;
    }
    return true;
}

void ObryCorvane::EndNote(Channel& channel, uint64_t time)
{
    sender.Write(time, kNoteOff | channel.noteChannel, channel.note, 0);
    channel.note = kNone;
}

void ObryCorvane::ChangeNote(Channel& channel, uint8_t pitch, uint64_t time)
{
    const bool sounding = channel.note != kNone;
    const uint8_t oldNote = channel.note;
    const uint8_t oldChannel = channel.noteChannel;
    // Note-offs go to the channel the note was started on, even when the
    // Channel parameter has changed since.
    if (channel.noteOffMode == kNoteOffNormal && sounding)
        sender.Write(time, kNoteOff | oldChannel, oldNote, 0);
    sender.Write(time, kNoteOn | channel.midiChannel, pitch, kVelocity);
    // Legato ends the old note after the new one has started, unless the
    // new one is the same key: its note-off would silence the note just
    // struck.
    if (channel.noteOffMode == kNoteOffLegato && sounding && !(oldNote == pitch && oldChannel == channel.midiChannel))
        sender.Write(time, kNoteOff | oldChannel, oldNote, 0);
    channel.note = pitch;
    channel.noteChannel = channel.midiChannel;
    channel.lastPitch = pitch;
    channel.remaining = channel.maxNoteLength;
}

void ObryCorvane::ConvertChannel(Channel& channel, const float* cv, const float* gate, int32_t frames)
{
    if (!channel.enable)
        return;
    const uint64_t step = timeStep;
    uint64_t time = timeBase;
    const uint8_t ccStatus = kControlChange | channel.midiChannel;
    // The settings stay as BeginBlock left them for the whole piece: held in
    // locals, not reloaded from the channel after every call that writes MIDI.
    const bool ccEnable = channel.ccEnable;
    const uint8_t controller = channel.controller;
    const float ccMin = channel.ccMin;
    const float ccScale = channel.ccScale;
    const bool noteEnable = channel.noteEnable;
    const int32_t noteOnMode = channel.noteOnMode;
    const bool noteOffNone = channel.noteOffMode == kNoteOffNone;
    const bool gateCloseNoteOff = channel.gateCloseNoteOff;
    const float pitchSlope = channel.pitchSlope;
    const float pitchCentre = channel.pitchCentre;
    const float gateThreshold = channel.gateThreshold;
    // One sample: writes what it changes.
    auto convert = [&](int32_t i) {
        const float x = cv[i];
        if (ccEnable) {
            const int32_t v = DataByte((x - ccMin) * ccScale + 0.5f);
            if (v >= 0 && v != channel.lastController) {
                sender.Write(time, ccStatus, controller, static_cast<uint8_t>(v));
                channel.lastController = static_cast<uint8_t>(v);
            }
        }
        if (!noteEnable)
            return;

        // The maximum length counts first, so that a note of N samples ends
        // N samples after its note-on.
        if (channel.remaining > 0 && --channel.remaining == 0 && !noteOffNone && channel.note != kNone)
            EndNote(channel, time);

        const int32_t p = DataByte(pitchSlope * x + pitchCentre + 0.5f);
        if (noteOnMode == kContinuous) {
            if (p >= 0 && p != channel.lastPitch)
                ChangeNote(channel, static_cast<uint8_t>(p), time);
            return;
        }
        // Gate Only and Gated: a gate exactly at the threshold changes nothing
        // (nor does a gate that is no number).
        const float g = gate[i];
        if (!channel.gateOpen) {
            if (g > gateThreshold) {
                channel.gateOpen = true;
                if (p >= 0)
                    ChangeNote(channel, static_cast<uint8_t>(p), time);
            }
        } else if (g < gateThreshold) {
            channel.gateOpen = false;
            if (gateCloseNoteOff && channel.note != kNone)
                EndNote(channel, time);
        } else if (noteOnMode == kGated && p >= 0 && p != channel.lastPitch) {
            ChangeNote(channel, static_cast<uint8_t>(p), time);
        }
    };
    int32_t i = 0;
    while (i < frames) {
        // A note's maximum length must not run out inside the skipped
        // samples: with R samples to go, at most R - 1 of them.
        const int32_t remaining = channel.remaining;
        int32_t limit = frames - i;
        if (noteEnable && remaining > 0 && remaining - 1 < limit)
            limit = remaining - 1;
        if (limit >= kQuietGroup) {
            const QuietTest test{ccEnable,       ccMin,          ccScale,  channel.lastController,
                                 noteEnable,     pitchSlope,     pitchCentre, channel.lastPitch,
                                 noteOnMode,     channel.gateOpen, gateThreshold};
            const int32_t quiet = QuietSamples(test, cv + i, gate + i, limit);
            if (quiet > 0) {
                if (noteEnable && remaining > 0)
                    channel.remaining = remaining - quiet;
                i += quiet;
                time += static_cast<uint64_t>(quiet) * step;
                continue;
            }
        }
        const int32_t end = i + kQuietGroup < frames ? i + kQuietGroup : frames;
        for (; i < end; ++i, time += step)
            convert(i);
    }
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    // Each channel's CV is its own input, its gate the other one.
    for (int32_t c = 0; c < kChannels; ++c)
        ConvertChannel(channels[c], inputs[c], inputs[1 - c], frames);
    // Copied after converting, so that a host that shares buffers between
    // the channels cannot change a CV before it is read.
    for (int32_t c = 0; c < kChannels; ++c)
        if (outputs[c] != inputs[c])
            memmove(outputs[c], inputs[c], sizeof(float) * static_cast<size_t>(frames));
    timeBase += static_cast<uint64_t>(frames) * timeStep;
}

// ---- value texts (any thread) --------------------------------------------------------

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidParameter;
    SharedValueNames* list = nullptr;
    if (IsChannelParameter(index, kNoteOnMode))
        list = &gNoteOnModeList;
    else if (IsChannelParameter(index, kNoteOffMode))
        list = &gNoteOffModeList;
    else if (IsChannelParameter(index, kGateCloseMsg))
        list = &gGateCloseList;
    if (!list)
        return kAudioUnitErr_InvalidParameter;
    if (outArray)
        *outArray = list->Acquire();
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return ShowsOff(index) ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const int32_t index = static_cast<int32_t>(request.inParamID);
    if (!ShowsOff(index))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    if (value == 0)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

} // namespace ObryCorvaneCVToMIDI
