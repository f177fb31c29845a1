#include "plugins/quantizer/ObryCorvaneQuantizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "plugins/common/Calibration.h"
#include "framework/FactoryPreset.h"
#include "framework/IndicatorBlock.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/ParameterValues.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"
#include "plugins/quantizer/QuantizerSteps.h"

namespace ObryCorvaneQuantizer {

namespace {

#define CHANNEL_PARAMETERS(S)                                              \
    {"Enable " S, kAudioUnitParameterUnit_Boolean, 0, 1, 0},               \
    {"Mode " S, kAudioUnitParameterUnit_Indexed, 0, 1, 0},                 \
    {"Steps " S, kAudioUnitParameterUnit_Generic, 1, 400, 96},             \
    {"Steps Fine " S, kAudioUnitParameterUnit_Generic, -1, 1, 0},          \
    {"Offset " S, kAudioUnitParameterUnit_Percent, 0, 100, 0},             \
    {"Transpose " S, kAudioUnitParameterUnit_MIDINoteNumber, -36, 36, 0},  \
    {"Smoothing " S, kAudioUnitParameterUnit_Milliseconds, -500, 500, 0}
#define SCALE_PARAMETERS(S)                                                \
    {"Enable Scale " S, kAudioUnitParameterUnit_Boolean, 0, 1, 0},         \
    {"Key " S, kAudioUnitParameterUnit_Indexed, 0, 11, 0},                 \
    {"Key Offset " S, kAudioUnitParameterUnit_MIDINoteNumber, -36, 36, 0}, \
    {"Scale " S, kAudioUnitParameterUnit_Indexed, 0, 0, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    CHANNEL_PARAMETERS("L"),
    CHANNEL_PARAMETERS("R"),
    SCALE_PARAMETERS("L"),
    SCALE_PARAMETERS("R"),
};
#undef CHANNEL_PARAMETERS
#undef SCALE_PARAMETERS

FactoryPresetTable gPresets{{"Defaults", {}}};

const char* const kModeNames[] = {"Manual", "Calibrated"};
const char* const kKeyNames[] = {"C", "C#/Db", "D", "D#/Eb", "E", "F", "F#/Gb", "G", "G#/Ab", "A", "A#/Bb", "B"};
const char* const kNoScaleNames[] = {"(none)"};
SharedValueNames gModeList(kModeNames);
SharedValueNames gKeyList(kKeyNames);
SharedValueNames gNoScaleList(kNoScaleNames);

// Fewer than one step over the range (Steps 1 with a negative Steps Fine)
// behaves as one step: the output stays inside the input range, and Steps
// 1 with Steps Fine -1 does not divide by zero.
constexpr float kMinSteps = 1.0f;

bool IsParameter(uint32_t index, int32_t left, int32_t right)
{
    return index == static_cast<uint32_t>(left) || index == static_cast<uint32_t>(right);
}

// Steps built for each instruction set (every one gives the same bits: no
// fused multiply-add in this project). Audio thread.
CORVANE_SAMPLE_CLONES void StepsClones(const EvenSteps& s, const float* in, float* out, int32_t frames)
{
    Steps(s, in, out, frames);
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kChannels, kChannels, false, vst::FourCC("QZs8"), 0, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramQVqnv1::Create)
{
    std::copy(std::begin(kParameters), std::end(kParameters), instanceParameters.begin());
    parameterInfo = instanceParameters.data();
    Initialize();
}

ObryCorvane::~ObryCorvane()
{
    if (scaleNames)
        scaleNames->Release();
}

int32_t ObryCorvane::Initialize()
{
    prepared = false;
    ForgetSettings();
    for (Channel& channel : channels)
        channel = Channel();
    liveCalibration = QuantizerCalibration{};
    {
        std::lock_guard<std::mutex> guard(calibrationLock);
        hostCalibration = QuantizerCalibration{};
        calibrationChanged.store(false);
    }
    // The scripts run here and add their scales.
    const int32_t result = ObryCorvaneBase::Initialize();
    const uint32_t count = ScaleCount();
    if (count > 0) {
        instanceParameters[ParameterIndex(0, kScale)].max = static_cast<float>(count - 1);
        instanceParameters[ParameterIndex(1, kScale)].max = static_cast<float>(count - 1);
    }
    // Build the name list now, so that the host thread seldom has to.
    CFArray* names = nullptr;
    if (GetParameterValueStrings(0, ParameterIndex(0, kScale), &names) == 0 && names)
        names->Release();
    return result;
}

// ---- scales (Lua threads) -------------------------------------------------------------

void ObryCorvane::AddScale(const char* name, uint16_t mask)
{
    // A scale without notes stays in the list (it keeps every entry): a saved
    // "Scale" index must pick the same scale as when it was saved.
    std::lock_guard<std::mutex> guard(scaleWriteLock);
    const uint32_t count = scaleCount.load(std::memory_order_relaxed);
    if (count >= kMaxScales)
        return;
    ScaleSlot& slot = scales[count];
    const size_t length = name ? strnlen(name, kScaleNameSize - 1) : 0;
    memset(slot.name, 0, sizeof slot.name);
    if (length > 0)
        memcpy(slot.name, name, length);
    slot.mask = mask;
    scaleCount.store(count + 1, std::memory_order_release);
}

std::string ObryCorvane::ScaleName(uint32_t index) const
{
    return index < ScaleCount() ? std::string(scales[index].name) : std::string();
}

uint16_t ObryCorvane::ScaleMask(uint32_t index) const
{
    return index < ScaleCount() ? scales[index].mask : 0;
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (scope != 0 || !outArray)
        return kAudioUnitErr_InvalidParameter;
    if (IsParameter(index, ParameterIndex(0, kMode), ParameterIndex(1, kMode))) {
        *outArray = gModeList.Acquire();
        return 0;
    }
    if (IsParameter(index, ParameterIndex(0, kKey), ParameterIndex(1, kKey))) {
        *outArray = gKeyList.Acquire();
        return 0;
    }
    if (!IsParameter(index, ParameterIndex(0, kScale), ParameterIndex(1, kScale)))
        return ObryCorvaneBase::GetParameterValueStrings(scope, index, outArray);
    std::lock_guard<std::mutex> guard(scaleWriteLock);
    const uint32_t count = scaleCount.load(std::memory_order_relaxed);
    if (count == 0) {
        *outArray = gNoScaleList.Acquire();
        return 0;
    }
    if (!scaleNames || scaleNamesCount != count) {
        const char* texts[kMaxScales];
        for (uint32_t i = 0; i < count; ++i)
            texts[i] = scales[i].name;
        CFArray* fresh = CFArrayCreateFromStrings(texts, count);
        if (scaleNames)
            scaleNames->Release();
        scaleNames = fresh;
        scaleNamesCount = count;
    }
    scaleNames->Retain();
    *outArray = scaleNames;
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == 0 ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    if (request.inParamID != 0)
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(0);
    if (value == 0)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

// ---- calibration (host and editor threads) -----------------------------------------

uint32_t ObryCorvane::SanitizeCalibration(QuantizerCalibration& calibration)
{
    const uint32_t count = std::min(calibration.count, QuantizerCalibration::kCapacity);
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const float level = calibration.levels[i];
        if (!std::isfinite(level) || (kept > 0 && level < calibration.levels[kept - 1]))
            continue;
        calibration.levels[kept] = level;
        calibration.notes[kept] = calibration.notes[i];
        ++kept;
    }
    for (uint32_t i = kept; i < QuantizerCalibration::kCapacity; ++i) {
        calibration.levels[i] = 0;
        calibration.notes[i] = 0;
    }
    const uint32_t dropped = calibration.count - kept;
    calibration.count = kept;
    return dropped;
}

void ObryCorvane::ApplyCalibration(const QuantizerCalibration& calibration)
{
    QuantizerCalibration usable = calibration;
    SanitizeCalibration(usable);
    std::lock_guard<std::mutex> guard(calibrationLock);
    hostCalibration = usable;
    calibrationChanged.store(true, std::memory_order_release);
}

QuantizerCalibration ObryCorvane::HostCalibration() const
{
    std::lock_guard<std::mutex> guard(calibrationLock);
    return hostCalibration;
}

std::string ObryCorvane::CalibrationName() const
{
    std::lock_guard<std::mutex> guard(calibrationLock);
    return calibrationName;
}

void ObryCorvane::BuildBuiltInCalibration(bool dunmore)
{
    QuantizerCalibration table{};
    if (dunmore) {
        table.count = 128;
        for (int32_t i = -60; i <= 67; ++i) {
            table.levels[i + 60] = static_cast<float>(i) * 0.015628817f;
            table.notes[i + 60] = i + 60;
        }
    } else {
        table.count = 64;
        for (int32_t i = 0; i < 64; ++i) {
            table.levels[i] = static_cast<float>(i) * 0.015686275f;
            table.notes[i] = i + 48;
        }
    }
    const char* name = dunmore ? "<Dunmore Calibration>" : "<Brink Calibration>";
    SetPropertyAndNotify(kObryProperty_CalibrationTable, &table, sizeof table);
    SetPropertyAndNotify(kObryProperty_CalibrationName, name, static_cast<uint32_t>(strlen(name) + 1));
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (id != kObryProperty_CalibrationName || scope != 0)
        return ObryCorvaneBase::GetProperty(id, scope, element, data);
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    // At most 256 bytes: a buffer of that size is always enough.
    std::lock_guard<std::mutex> guard(calibrationLock);
    memcpy(data, calibrationName.c_str(), calibrationName.size() + 1);
    return 0;
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    uint32_t bytes = 0;
    switch (id) {
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration:
        bytes = 1;
        break;
    case kObryProperty_CalibrationTable:
        bytes = sizeof(QuantizerCalibration);
        break;
    case kObryProperty_CalibrationName: {
        std::lock_guard<std::mutex> guard(calibrationLock);
        bytes = static_cast<uint32_t>(calibrationName.size() + 1);
        break;
    }
    default:
        return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    if (size)
        *size = bytes;
    if (writable)
        *writable = 1;
    return 0;
}

int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    switch (id) {
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration:
        BuildBuiltInCalibration(id == kObryProperty_LoadDunmoreCalibration);
        return 0;
    case kObryProperty_CalibrationTable: {
        // A short record would be read past its end.
        if (!data || size < sizeof(QuantizerCalibration))
            return kAudioUnitErr_InvalidPropertyValue;
        QuantizerCalibration incoming;
        memcpy(&incoming, data, sizeof incoming);
        ApplyCalibration(incoming);
        return 0;
    }
    case kObryProperty_CalibrationName: {
        if (!data && size > 0)
            return kAudioUnitErr_InvalidPropertyValue;
        // The name ends at its NUL or at the end of the data: never read
        // past what the caller gave.
        const char* text = static_cast<const char*>(data);
        const size_t length = text ? strnlen(text, size) : 0;
        // A longer name could not be saved whole.
        if (length > kMaxCalibrationNameLength)
            return kAudioUnitErr_InvalidPropertyValue;
        std::lock_guard<std::mutex> guard(calibrationLock);
        calibrationName.assign(text ? text : "", length);
        return 0;
    }
    case kObryProperty_ReapplyPortOffset:
        return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

// ---- state -------------------------------------------------------------------------

int32_t ObryCorvane::getChunk(void** data, bool isPreset)
{
    {
        std::lock_guard<std::mutex> guard(calibrationLock);
        Program().SetCalibration(hostCalibration);
        Program().SetCalibrationName(calibrationName.c_str());
    }
    return ObryCorvaneBase::getChunk(data, isPreset);
}

void ObryCorvane::SanitizeProgramValues()
{
    HoldProgramToRanges(Program(), parameterInfo, kNumParams);
}

int32_t ObryCorvane::setChunk(void* data, int32_t byteSize, bool isPreset)
{
    const int32_t result = ObryCorvaneBase::setChunk(data, byteSize, isPreset);
    if (result == 0)
        return result;
    // A saved project is untrusted: the program's own chunk bypasses the
    // range checks that plain values get.
    SanitizeProgramValues();
    NoteParameterChange(); // the held values
    ApplyCalibration(Program().Calibration());
    char name[ObryProgramQVqnv1::kCalibrationNameSize];
    memcpy(name, Program().CalibrationName(), sizeof name);
    name[sizeof name - 1] = 0;
    SetPropertyAndNotify(kObryProperty_CalibrationName, name, static_cast<uint32_t>(strlen(name) + 1));
    return result;
}

// ---- audio thread: no allocation, no blocking lock, no I/O --------------------------

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    // A changed table is taken over when its lock is free; otherwise the
    // host thread is writing it and the next block tries again.
    if (calibrationChanged.load(std::memory_order_acquire) && calibrationLock.try_lock()) {
        liveCalibration = hostCalibration;
        calibrationChanged.store(false, std::memory_order_relaxed);
        calibrationLock.unlock();
        prepared = false;
    }

    // The settings come from the parameters, the sample rate, the scales
    // the scripts added and the calibration: derived again only when one
    // of them changed.
    const uint32_t count = ScaleCount();
    const bool changed = SettingsChanged();
    if (!changed && prepared && count == preparedScaleCount)
        return true;
    preparedScaleCount = count;
    const float fs = sampleRate;
    for (int32_t c = 0; c < kChannels; ++c) {
        Channel& channel = channels[c];
        auto value = [&](auto which) { return GetParameterReal(ParameterIndex(c, which)); };
        channel.enabled = IsOn(value(kEnable));
        channel.mode = WholeValue(value(kMode), 0, 1, 0);
        Selection selection = channel.selection;
        if (channel.mode == 0) {
            float steps = FiniteOr(value(kSteps), 96.0f) + FiniteOr(value(kStepsFine), 0.0f);
            steps = std::max(steps, kMinSteps);
            channel.stepsHalf = steps * 0.5f;
            channel.offset = FiniteOr(value(kOffset), 0.0f) * 0.01f * 2.0f / steps;
        } else {
            selection.enabled = IsOn(value(kEnableScale)) && count > 0;
            selection.root = WholeValue(value(kKeyOffset), -36, 36, 0) + WholeValue(value(kKey), 0, 11, 0);
            if (count > 0) {
                const int32_t index = WholeValue(value(kScale), 0, static_cast<int32_t>(count) - 1, 0);
                selection.index = static_cast<uint32_t>(index);
            }
        }
        channel.transpose = std::clamp(FiniteOr(value(kTranspose), 0.0f), -36.0f, 36.0f);
        if (!prepared || !(selection == channel.selection)) {
            channel.selection = selection;
            RebuildChannelTable(channel);
        }
        SetupOutputSmoothing(value(kSmoothing), fs, &channel.slewStep, &channel.lowpassCoef);
    }
    prepared = true;
    return true;
}

void ObryCorvane::RebuildChannelTable(Channel& channel) const
{
    const QuantizerCalibration& live = liveCalibration;
    QuantizerCalibration& table = channel.table;
    const Selection& selection = channel.selection;
    const uint16_t mask = selection.enabled && selection.index < ScaleCount() ? scales[selection.index].mask : 0;
    if (mask == 0) {
        table = live;
        return;
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < live.count && i < QuantizerCalibration::kCapacity; ++i) {
        // 64-bit and a true modulo: saved notes can be any 32-bit number.
        const int64_t pitchClass = ((static_cast<int64_t>(live.notes[i]) - selection.root) % 12 + 12) % 12;
        if (mask & (1u << pitchClass)) {
            table.levels[kept] = live.levels[i];
            table.notes[kept] = live.notes[i];
            ++kept;
        }
    }
    table.count = kept;
}

void ObryCorvane::ProcessCalibrated(Channel& channel, const float* in, float* out, int32_t frames) const
{
    const QuantizerCalibration& table = channel.table;
    const int32_t n = static_cast<int32_t>(std::min(table.count, QuantizerCalibration::kCapacity));
    if (n == 0) {
        if (in != out)
            memmove(out, in, sizeof(float) * static_cast<size_t>(frames));
        return;
    }
    if (n == 1) {
        std::fill(out, out + frames, table.levels[0]);
        return;
    }
    const int32_t tr = static_cast<int32_t>(channel.transpose); // held to -36..36 by BeginBlock
    const float* levels = table.levels;
    for (int32_t i = 0; i < frames; ++i) {
        const float x = in[i];
        // First j in 1..n-1 with x < levels[j]; a NaN input counts as the bottom.
        const int32_t j = std::isnan(x)
            ? 1
            : static_cast<int32_t>(std::upper_bound(levels + 1, levels + n, x) - levels);
        if (j >= n) {
            // At or above the top: the top entry, without transposition. Its
            // note is what plays, so the display shows it too.
            out[i] = levels[n - 1];
            channel.note = table.notes[n - 1];
            continue;
        }
        const int32_t index = std::clamp(j - 1 + tr, 0, n - 1);
        out[i] = levels[index];
        channel.note = table.notes[index];
    }
}

void ObryCorvane::ProcessChannel(Channel& channel, const float* in, float* out, int32_t frames) const
{
    channel.note = -1;
    if (!channel.enabled) {
        if (in != out)
            memmove(out, in, sizeof(float) * static_cast<size_t>(frames));
    } else if (channel.mode == 0) {
        const float k = channel.stepsHalf;
        StepsClones(EvenSteps{k, 1.0f / k, channel.offset, channel.transpose}, in, out, frames);
    } else {
        ProcessCalibrated(channel, in, out, frames);
    }
    ApplyOutputSmoothing(out, frames, channel.slewStep, channel.lowpassCoef, &channel.smoothState);
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (!inputs || !outputs || frames <= 0)
        return;
    for (int32_t c = 0; c < kChannels; ++c) {
        if (!inputs[c] || !outputs[c])
            continue;
        ProcessChannel(channels[c], inputs[c], outputs[c], frames);
        WriteIndicator<int32_t>(indicatorBlock, kIndicatorNote + c, channels[c].note);
    }
}

} // namespace ObryCorvaneQuantizer
