// The Voice Controller's face to the host and the editor: its description,
// parameters and value texts, pin properties, properties, state chunk and
// calibration name. The mono voice is in VoiceControllerMidi.cpp, the audio
// rendering in VoiceControllerRender.cpp.
#include "plugins/voicecontroller/ObryCorvaneVoiceController.h"
#include "plugins/common/ParameterUnits.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "framework/StateChunk.h"
#include "platform/Preferences.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneVoiceController {

namespace {

using namespace ParameterUnit;

constexpr uint32_t kTagChnk = 0x63686E6B; // 'chnk'

#define VC_ENV(N)                                                                                                   \
    {"Env " N " Time A1", kSeconds, 0, 5, 0}, {"Env " N " Time A2", kSeconds, 0, 5, 0.1f},                          \
        {"Env " N " Time A3", kSeconds, 0, 5, 0.1f}, {"Env " N " Time R1", kSeconds, 0, 5, 0.1f},                   \
        {"Env " N " Time R2", kSeconds, 0, 5, 0}, {"Env " N " Shape A1", kGeneric, 0, 1, 0},                        \
        {"Env " N " Shape A2", kGeneric, 0, 1, 0}, {"Env " N " Shape A3", kGeneric, 0, 1, 0},                       \
        {"Env " N " Shape R1", kGeneric, 0, 1, 0}, {"Env " N " Shape R2", kGeneric, 0, 1, 0},                       \
        {"Env " N " Level A1", kGain, 0, 1, 0}, {"Env " N " Level A2", kGain, 0, 1, 1},                             \
        {"Env " N " Sustain", kGain, 0, 1, 0.5f}, {"Env " N " Level R1", kGain, 0, 1, 0}
#define VC_OUTPUT(M, PITCH, GATE, ENV1, ENV2, ENV3, TRIGGER)                                                        \
    {"Output " M " Offset", kGeneric, -1, 1, 0}, {"Output " M " Pitch", kGeneric, -1, 1, PITCH},                    \
        {"Output " M " Gate", kGeneric, -1, 1, GATE}, {"Output " M " Env1", kGeneric, -1, 1, ENV1},                 \
        {"Output " M " Env2", kGeneric, -1, 1, ENV2}, {"Output " M " Env3", kGeneric, -1, 1, ENV3},                 \
        {"Output " M " Trigger", kGeneric, -1, 1, TRIGGER}, {"Output " M " Velocity", kGeneric, -1, 1, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Gate Closed Voltage", kGeneric, -1, 1, 0},
    {"Gate Open Voltage", kGeneric, -1, 1, 1},
    {"Trigger Off Voltage", kGeneric, -1, 1, 0},
    {"Trigger On Voltage", kGeneric, -1, 1, 1},
    {"Override Pitch", kBoolean, 0, 1, 0},
    {"Pitch", kNote, 0, 127, 64},
    {"Override Gate", kBoolean, 0, 1, 0},
    {"Gate", kGeneric, 0, 1, 0},
    {"Pitch Wheel Range", kSemitones, 0, 48, 2},
    {"Detune", kCents, -100, 100, 0},
    {"Pitch LFO Depth", kCents, 0, 100, 0},
    {"Pitch LFO Speed", kHertz, 0.05f, 20, 5},
    VC_ENV("1"),
    VC_ENV("2"),
    VC_ENV("3"),
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    VC_OUTPUT("1", 1, 0, 0, 0, 0, 0),
    VC_OUTPUT("2", 0, 1, 0, 0, 0, 0),
    VC_OUTPUT("3", 0, 0, 1, 0, 0, 0),
    VC_OUTPUT("4", 0, 0, 0, 1, 0, 0),
    VC_OUTPUT("5", 0, 0, 0, 0, 1, 0),
    VC_OUTPUT("6", 0, 0, 0, 0, 0, 1),
    {"Velocity Min Voltage", kGeneric, -1, 1, -1},
    {"Velocity Max Voltage", kGeneric, -1, 1, 1},
    {"Env 1 Velocity Depth", kGeneric, -1, 1, 0},
    {"Env 2 Velocity Depth", kGeneric, -1, 1, 0},
    {"Env 3 Velocity Depth", kGeneric, -1, 1, 0},
    {"Note Priority", kIndexed, 0, 2, 0},
    {"Retrigger Mode", kIndexed, 0, 1, 0},
    {"Poly Mode", kIndexed, 0, 2, 0},
    {"Polyphony/Voice", kIndexed, 1, 16, 1},
    {"Env 1 Reset To Zero", kBoolean, 0, 1, 0},
    {"Env 2 Reset To Zero", kBoolean, 0, 1, 0},
    {"Env 3 Reset To Zero", kBoolean, 0, 1, 0},
    {"Output 1 Smoothing", kMilliseconds, -500, 500, 0},
    {"Output 2 Smoothing", kMilliseconds, -500, 500, 0},
    {"Output 3 Smoothing", kMilliseconds, -500, 500, 0},
    {"Output 4 Smoothing", kMilliseconds, -500, 500, 0},
    {"Output 5 Smoothing", kMilliseconds, -500, 500, 0},
    {"Output 6 Smoothing", kMilliseconds, -500, 500, 0},
    {"Portamento Mode", kIndexed, 0, 4, 0},
    {"Portamento Time", kGeneric, 0, 10, 0.1f},
    {"Portamento Shape", kGeneric, 0, 1, 0},
    {"Random Tuning", kCents, 0, 10, 0},
    {"Env 1 Multiplier", kIndexed, 0, 3, 1},
    {"Env 2 Multiplier", kIndexed, 0, 3, 1},
    {"Env 3 Multiplier", kIndexed, 0, 3, 1},
    {"Brink Mode", kBoolean, 0, 1, 0},
    {"Bipolar 3", kBoolean, 0, 1, 0},
    {"Bipolar 4", kBoolean, 0, 1, 0},
    {"Bipolar 5", kBoolean, 0, 1, 0},
    {"Transpose", kSemitones, -48, 48, 0},
    {"Trigger Length", kMilliseconds, 0, 100, 0.2f},
};

#undef VC_ENV
#undef VC_OUTPUT

static_assert(ObryCorvane::kEnv1 + 3 * kEnvParameterCount == ObryCorvane::kOSCPortOffset);
static_assert(ObryCorvane::kOutput1 + ObryCorvane::kNumOutputs * ObryCorvane::kTerms ==
              ObryCorvane::kVelocityMinVoltage);

FactoryPresetTable gPresets{{"Defaults", {}}};

// The value-name lists, built once per process and shared by all instances.
const char* const kPriorityNames[] = {"Newest", "Lowest", "Highest"};
const char* const kRetriggerNames[] = {"Retrig On", "Retrig Off"};
const char* const kPolyModeNames[] = {"Poly Off", "Master", "Voice"};
const char* const kPortamentoNames[] = {"Off", "Auto", "Fingered", "CT Auto", "CT Fingered"};
const char* const kMultiplierNames[] = {"0.1", "1", "10", "100"};

SharedValueNames gPriorityList(kPriorityNames);
SharedValueNames gRetriggerList(kRetriggerNames);
SharedValueNames gPolyModeList(kPolyModeNames);
SharedValueNames gPortamentoList(kPortamentoNames);
SharedValueNames gMultiplierList(kMultiplierNames);

bool IsSmoothing(int32_t index)
{
    return index >= ObryCorvane::kOutput1Smoothing && index < ObryCorvane::kOutput1Smoothing + ObryCorvane::kNumOutputs;
}

// Seconds since 1970, at least 1 (0 means "no name set"). Any thread: no
// allocation, no lock.
uint64_t NowSeconds()
{
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return seconds > 0 ? static_cast<uint64_t>(seconds) : 1;
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster, bool isSynth)
    : ObryCorvaneBase(audioMaster, kNumInputs, kNumOutputs, isSynth, vst::FourCC(isSynth ? "QZsa" : "QZs1"),
                      kOSCPortOffset, 1, &gPresets, kNumParams, kParameters, ObryProgramCorvVCv1::Create)
{
    Initialize();
}

ObryCorvane::~ObryCorvane()
{
    // Other instances' audio threads may still be reading the slot: it
    // outlives this instance and only goes back to the directory.
    PolyphonySlots::Release(polySlot);
}

void ObryCorvane::close()
{
    polySlot->live.store(false, std::memory_order_release);
    polySlot->role.store(0, std::memory_order_release);
    ObryCorvaneBase::close();
}

int32_t ObryCorvane::Initialize()
{
    notes.Clear();
    currentNote = 60.0f;
    noteOnVelocity = 0.0f;
    releaseVelocity = 0.0f;
    pitchBend = 0.0f;
    randomValue = 0.0f;
    randomState = 0;
    lfoPhase = 0.0f;
    gateOn = false;
    pedalDown = false;
    triggerRemaining = 0;
    triggerLength = 1;
    glideOn = false;
    glideMode = kGlideOff;
    glidedPitch = 0.0f;
    glideCoefficient = 0.0f;
    glideStep = 0.0f;
    glideLength = 0;
    glideRemaining = 0;
    glideStart = 0.0f;
    glideShape = 0.0f;
    for (Envelope& envelope : envelopes)
        envelope.Reset();
    for (int32_t j = 0; j < kNumOutputs; ++j) {
        for (float& c : matrix[j])
            c = 0.0f;
        slewStep[j] = 0.0f;
        lowpassCoef[j] = 0.0f;
        smoothState[j] = 0.0f;
    }
    MakeMixTerms();
    pitchTarget = 0.0f;
    gateValue = 0.0f;
    triggerOnValue = 1.0f;
    triggerOffValue = 0.0f;
    mappedVelocity = 0.0f;
    brinkMode = false;
    for (bool& b : bipolar)
        b = false;
    processingMode = kNormal;
    polyMode = 0;
    polyphony = 1;
    voiceNumber = 1;
    preferredVoice = 1;
    for (int8_t& v : heldVoice)
        v = 0;
    polyHeldCount = 0;
    masterPedalDown = false;
    for (int32_t& n : voiceToNote)
        n = -1;
    batchIndex = 0;
    owedCount = 0;
    readMaster = nullptr;
    readGeneration = 0;
    lastBatchSerial = 0;
    polySlot->ClearBatches();
    polySlot->role.store(0, std::memory_order_release);
    polySlot->score.store(0, std::memory_order_release);
    calibration.Initialize();
    autoCalibration.Abort();
    calibrationFinishedAt.store(0, std::memory_order_relaxed);
    nameListenersOwed.store(false, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(nameLock);
        calibrationName.clear();
        calibrationTimestamp = 0;
    }
    ForgetSettings();
    const int32_t result = ObryCorvaneBase::Initialize();
    // Usable through the registry from here on: the others may find it.
    polySlot->live.store(true, std::memory_order_release);
    return result;
}

float ObryCorvane::P(int32_t index)
{
    const ParameterInfo& info = parameterInfo[index];
    const float value = Program()->GetParameter(index);
    // Values reach the program from the host, the editor, Lua, OSC and
    // saved projects; several are used as indices, counts and divisors.
    if (value != value)
        return info.def;
    return value < info.min ? info.min : (value > info.max ? info.max : value);
}

double ObryCorvane::Rate()
{
    const double rate = getSampleRate();
    return std::isfinite(rate) && rate >= 1.0 && rate <= 1.0e8 ? rate : 44100.0;
}

EnvelopeSettings ObryCorvane::SettingsOf(int32_t e)
{
    float group[kEnvParameterCount];
    for (int32_t k = 0; k < kEnvParameterCount; ++k)
        group[k] = P(kEnv1 + kEnvParameterCount * e + k);
    return EnvelopeSettings::FromGroup(group, P(kEnv1VelocityDepth + e), P(kEnv1ResetToZero + e) != 0.0f,
                                       P(kEnv1Multiplier + e));
}

// ---------------------------------------------------------------------------
// host and editor threads

bool ObryCorvane::getOutputProperties(int32_t index, VstPinProperties* properties)
{
    if (!properties || index < 0 || index >= kNumOutputs)
        return false;
    int32_t arrangement = outputArrangement.load(std::memory_order_acquire);
    if (arrangement < 0) {
        arrangement = corvane::ReadPrefInt("VC output arrangement", 1);
        if (arrangement < 0)
            arrangement = 1; // a negative value would read as "not read yet" for ever
        outputArrangement.store(arrangement, std::memory_order_release);
    }
    if (arrangement == 0)
        return false;
    *properties = VstPinProperties{};
    char number[16];
    snprintf(number, sizeof number, "%d", index + 1);
    memcpy(properties->label, number, strnlen(number, sizeof properties->label - 1));
    memcpy(properties->shortLabel, number, strnlen(number, sizeof properties->shortLabel - 1));
    if (arrangement == 2) {
        properties->flags = kVstPinIsActive;
        properties->arrangementType = 0; // six mono outputs
    } else {
        properties->flags = kVstPinIsActive | (index % 2 == 0 ? kVstPinIsStereo : 0);
        properties->arrangementType = 1; // three stereo pairs
    }
    return true;
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return kAudioUnitErr_InvalidParameter;
    if (scope != 0)
        return kAudioUnitErr_InvalidParameter;
    SharedValueNames* names = nullptr;
    switch (index) {
    case kNotePriority: names = &gPriorityList; break;
    case kRetriggerMode: names = &gRetriggerList; break;
    case kPolyMode: names = &gPolyModeList; break;
    case kPortamentoMode: names = &gPortamentoList; break;
    case kEnv1Multiplier:
    case kEnv1Multiplier + 1:
    case kEnv1Multiplier + 2: names = &gMultiplierList; break;
    default: return kAudioUnitErr_InvalidParameter;
    }
    *outArray = names->Acquire();
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kOSCPortOffset || IsSmoothing(index) ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const auto index = static_cast<int32_t>(request.inParamID);
    if (index != kOSCPortOffset && !IsSmoothing(index))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    if (index == kOSCPortOffset ? value == 0.0f : SmoothingShowsOff(value))
        request.outString = CFStringMakeConstant("Off");
    return true;
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    if (IsCalibrationTableProperty(id))
        return GetCalibrationTableProperty(calibration, id, data);
    switch (id) {
    case kObryProperty_EnvelopeLayout: StoreEnvelopeLayout(data, kEnv1); return 0;
    case kObryProperty_VoiceRole: {
        // As the audio thread last published it (each sub-block).
        const int32_t role = polySlot->role.load(std::memory_order_acquire);
        memcpy(data, &role, sizeof role);
        return 0;
    }
    case kObryProperty_CalibrationSource: {
        std::lock_guard<std::mutex> lock(nameLock);
        CommitFinishedCalibrationLocked();
        memcpy(data, &calibrationTimestamp, sizeof calibrationTimestamp);
        return 0;
    }
    case kObryProperty_CalibrationName: {
        std::lock_guard<std::mutex> lock(nameLock);
        CommitFinishedCalibrationLocked();
        memcpy(data, calibrationName.c_str(), calibrationName.size() + 1);
        return 0;
    }
    default: return ObryCorvaneBase::GetProperty(id, scope, element, data);
    }
}

int32_t ObryCorvane::GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                                     uint8_t* writable)
{
    uint32_t bytes = 0;
    uint8_t canWrite = 0;
    switch (id) {
    case kObryProperty_EnvelopeLayout:
    case kObryProperty_CalibrationValues:
    case kObryProperty_CalibrationValid:
    case kObryProperty_CalibrationSource: bytes = 8; break;
    case kObryProperty_CalibrationLength:
    case kObryProperty_VoiceRole: bytes = 4; break;
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration:
    case kObryProperty_CalibrateVoltsPerOctave:
    case kObryProperty_CalibrateHzPerVolt:
    case kObryProperty_AllSoundOff:
        bytes = 1;
        canWrite = 1;
        break;
    case kObryProperty_CalibrationName: {
        std::lock_guard<std::mutex> lock(nameLock);
        CommitFinishedCalibrationLocked();
        bytes = static_cast<uint32_t>(calibrationName.size() + 1);
        canWrite = 1;
        break;
    }
    default: return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

// Host or editor thread: commands only go into the queue; the audio thread
// does the work.
int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    switch (id) {
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration:
    case kObryProperty_CalibrateVoltsPerOctave:
    case kObryProperty_CalibrateHzPerVolt:
    case kObryProperty_AllSoundOff:
        if (scope != 0)
            return kAudioUnitErr_InvalidProperty;
        CommandQueue().Write(id); // a full queue says so on standard error
        return 0;
    case kObryProperty_CalibrationName: {
        if (scope != 0 || !data)
            return kAudioUnitErr_InvalidProperty;
        // The text ends at its NUL or at `size`, whichever comes first: a
        // caller's size is not trusted to include the NUL.
        const auto* text = static_cast<const char*>(data);
        std::string name(text, strnlen(text, size));
        std::lock_guard<std::mutex> lock(nameLock);
        calibrationFinishedAt.store(0, std::memory_order_relaxed); // this name is newer
        calibrationName = std::move(name);
        // Only a named table can be transferred: an empty name (a state saved
        // before any calibration) must not offer an empty table to others.
        calibrationTimestamp = calibrationName.empty() ? 0 : NowSeconds();
        return 0;
    }
    default: return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
    }
}

void ObryCorvane::CommitFinishedCalibrationLocked()
{
    const uint64_t finishedAt = calibrationFinishedAt.exchange(0, std::memory_order_acq_rel);
    if (finishedAt == 0)
        return;
    calibrationName = "<>";
    calibrationTimestamp = finishedAt;
    nameListenersOwed.store(true, std::memory_order_release);
}

void ObryCorvane::PollCalibrationName()
{
    std::string name;
    {
        std::lock_guard<std::mutex> lock(nameLock);
        CommitFinishedCalibrationLocked();
        if (!nameListenersOwed.exchange(false, std::memory_order_acq_rel))
            return;
        name = calibrationName;
    }
    SetPropertyAndNotify(kObryProperty_CalibrationName, name.c_str(), static_cast<uint32_t>(name.size() + 1));
}

int32_t ObryCorvane::getChunk(void** data, bool isPreset)
{
    PollCalibrationName();
    ObryProgramCorvVCv1* program = Program();
    for (int32_t i = 0; i < CalibrationTableLength; ++i)
        program->SetCalibration(i, calibration.Value(i));
    return ObryCorvaneBase::getChunk(data, isPreset);
}

int32_t ObryCorvane::SaveExtraState(StateChunk& chunk)
{
    std::string name;
    {
        std::lock_guard<std::mutex> lock(nameLock);
        CommitFinishedCalibrationLocked();
        name = calibrationName;
    }
    // The program keeps only the values; the valid flags and the name
    // would otherwise be lost with every saved project.
    SaveCalibrationRecords(chunk, calibration, name);
    return 0;
}

int32_t ObryCorvane::setChunk(void* data, int32_t byteSize, bool isPreset)
{
    restoredRecords = false;
    restoredProgramChunk = false;
    const int32_t result = ObryCorvaneBase::setChunk(data, byteSize, isPreset);
    if (result == 0)
        return result;
    // The program chunk's values go straight into the program: hold them to
    // their ranges like every other road in.
    ObryProgramCorvVCv1* program = Program();
    for (int32_t i = 0; i < kNumParams; ++i) {
        const float value = program->GetParameter(i);
        const float held = P(i);
        if (!(value == held))
            program->SetParameter(i, held);
    }
    // The program carries the values when it came in whole ('chnk', or data
    // in no known format); a state of records alone brings them in 'calt'.
    if (!restoredRecords || restoredProgramChunk)
        for (int32_t i = 0; i < CalibrationTableLength; ++i)
            calibration.SetValue(i, program->Calibration(i));
    calibration.Sanitize();
    NoteParameterChange();
    return result;
}

void ObryCorvane::RestoreExtraState(const StateChunk& records)
{
    restoredRecords = true;
    restoredProgramChunk = records.Find(kTagChnk) != nullptr;
    RestoreCalibrationRecords(*this, records, calibration);
}

} // namespace ObryCorvaneVoiceController
