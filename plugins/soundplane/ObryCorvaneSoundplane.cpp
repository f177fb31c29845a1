#include "plugins/soundplane/ObryCorvaneSoundplane.h"

#include <bit>
#include <cstring>

#include "framework/InstanceRegistry.h"
#include "framework/FactoryPreset.h"
#include "framework/IndicatorBlock.h"
#include "framework/ObryProgram.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/learner/ObryCorvaneLearner.h"

namespace ObryCorvaneSoundplane {

namespace {

constexpr const char* kTermNames[ObryCorvane::kTerms] = {"Offset", "Note", "Gate", "X", "Y", "Z"};

// The 45 rows, built once per process: names of the matrix rows are made
// from their output and term.
struct ParameterTable {
    std::string names[ObryCorvane::kNumParams];
    ParameterInfo rows[ObryCorvane::kNumParams];

    ParameterTable()
    {
        names[0] = "Voice ID";
        rows[0] = {nullptr, kAudioUnitParameterUnit_Indexed, 0, 16, 1};
        for (int32_t j = 0; j < ObryCorvane::kNumOutputs; ++j)
            for (int32_t t = 0; t < ObryCorvane::kTerms; ++t) {
                const int32_t index = ObryCorvane::kOutput1 + ObryCorvane::kTerms * j + t;
                names[index] = "Output " + std::to_string(j + 1) + " " + kTermNames[t];
                // The default matrix: 1 note, 2 gate, 3 x, 4 y, 5 z, 6 nothing.
                const float def = (j < 5 && t == j + 1) ? 1.0f : 0.0f;
                rows[index] = {nullptr, kAudioUnitParameterUnit_Generic, -1, 1, def};
            }
        for (int32_t j = 0; j < ObryCorvane::kNumOutputs; ++j) {
            const int32_t index = ObryCorvane::kOutput1Smoothing + j;
            names[index] = "Output " + std::to_string(j + 1) + " Smoothing";
            rows[index] = {nullptr, kAudioUnitParameterUnit_Milliseconds, -500, 500, 0};
        }
        names[ObryCorvane::kGateZ] = "Gate Z";
        rows[ObryCorvane::kGateZ] = {nullptr, kAudioUnitParameterUnit_Boolean, 0, 1, 0};
        names[ObryCorvane::kOSCPortOffset] = "OSC Port Offset";
        rows[ObryCorvane::kOSCPortOffset] = {nullptr, kAudioUnitParameterUnit_Indexed, 0, 100, 0};
        for (int32_t i = 0; i < ObryCorvane::kNumParams; ++i)
            rows[i].name = names[i].c_str();
    }
};

const ParameterTable& Table()
{
    static const ParameterTable table;
    return table;
}

FactoryPresetTable gPresets{{"Defaults", {}}};

bool IsSmoothing(int32_t index)
{
    return index >= ObryCorvane::kOutput1Smoothing && index < ObryCorvane::kOutput1Smoothing + ObryCorvane::kNumOutputs;
}

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return Table().rows;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 0, kNumOutputs, true, vst::FourCC("QZsl"), kOSCPortOffset, 1, &gPresets,
                      kNumParams, Parameters(), ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    calibration.Initialize();
    calibrationProperties.ClearName();
    followed = 0;
    gateZ = false;
    memset(matrix, 0, sizeof matrix);
    memset(slewStep, 0, sizeof slewStep);
    memset(lowpassCoef, 0, sizeof lowpassCoef);
    memset(smoothState, 0, sizeof smoothState);
    calibratedNote = 0.0f;
    touch = SoundplaneTouch();
    lastFrameCount = SoundplaneTouchTable::Instance().FrameCount();
    samplesSinceFrame = 0;
    stale = false;
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

float ObryCorvane::P(int32_t index)
{
    const ParameterInfo& info = parameterInfo[index];
    const float value = CurrentProgram()->GetParameter(index);
    // Values reach the program from the host, the editor, Lua, OSC and saved
    // projects; the Voice ID is used as an index.
    if (value != value)
        return info.def;
    return value < info.min ? info.min : (value > info.max ? info.max : value);
}

// audio thread: no allocation, no blocking lock
bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    const float sampleRate = getSampleRate();
    // From the parameters and the sample rate: only when one changed.
    if (SettingsChanged()) {
        const int32_t v = static_cast<int32_t>(P(kVoiceID));
        followed = v < 0 ? 0 : (v > SoundplaneTouchTable::kTouchCount ? SoundplaneTouchTable::kTouchCount : v);
        gateZ = P(kGateZ) != 0.0f;
        for (int32_t j = 0; j < kNumOutputs; ++j) {
            for (int32_t t = 0; t < kTerms; ++t)
                matrix[j][t] = P(kOutput1 + kTerms * j + t);
            SetupOutputSmoothing(P(kOutput1Smoothing + j), sampleRate, &slewStep[j], &lowpassCoef[j]);
        }
    }

    // A bridge that went quiet: count this instance's samples since the
    // last frame anyone sent.
    const SoundplaneTouchTable& table = SoundplaneTouchTable::Instance();
    const uint32_t frameCount = table.FrameCount();
    if (frameCount != lastFrameCount) {
        lastFrameCount = frameCount;
        samplesSinceFrame = 0;
    } else if (frames > 0) {
        samplesSinceFrame += static_cast<uint64_t>(frames);
    }
    const double rate = sampleRate > 0.0f && sampleRate < 1.0e7f ? sampleRate : 44100.0;
    stale = static_cast<double>(samplesSinceFrame) > kStaleSeconds * rate;

    if (followed >= 1) {
        table.Read(followed, &touch); // a busy record keeps the last whole read
        touchFresh = true;
        float note = touch.note;
        note = note <= 0.0f ? 0.0f : (note >= 127.0f ? 127.0f : note);
        calibratedNote = calibration.Lookup(note);
        WriteIndicator<float>(indicatorBlock, kIndicatorNote, note);
        WriteIndicator<float>(indicatorBlock, kIndicatorValue, calibratedNote);
    }
    return true;
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float**, float** outputs, int32_t frames)
{
    const int32_t count = numOutputs < kNumOutputs ? numOutputs : kNumOutputs;
    bool alive = false;
    float x = 0.0f, y = 0.0f, z = 0.0f;
    if (followed >= 1) {
        if (!touchFresh)
            SoundplaneTouchTable::Instance().Read(followed, &touch);
        touchFresh = false;
        alive = touch.alive && !stale;
        x = touch.x;
        y = touch.y;
        z = (gateZ && !alive) ? 0.0f : touch.z;
    }
    for (int32_t j = 0; j < count; ++j) {
        float* out = outputs[j];
        if (!out)
            continue;
        float value = 0.0f;
        if (followed >= 1) {
            const float* c = matrix[j];
            value = c[kTermOffset] + c[kTermNote] * calibratedNote + c[kTermGate] * (alive ? 1.0f : 0.0f) +
                    c[kTermX] * x + c[kTermY] * y + c[kTermZ] * z;
        }
        SampleLoops::Fill(out, frames, value);
        // What the smoothing would do with a steady value, without looking
        // at the samples: an output without smoothing keeps the value as its
        // state; a smoothed one whose state has the value's bits stays as it
        // is (every sample is at the state).
        if (!(slewStep[j] > 0.0f || lowpassCoef[j] > 0.0f)) {
            if (frames > 0)
                smoothState[j] = value;
        } else if (std::bit_cast<uint32_t>(value) != std::bit_cast<uint32_t>(smoothState[j])) {
            ApplyOutputSmoothing(out, frames, slewStep[j], lowpassCoef[j], &smoothState[j]);
        }
    }
}

// audio thread
void ObryCorvane::HandleQueuedMessage(QZ::MessageQueueItem* item)
{
    if (!item || item->type != QZ::MessageQueueItem::kValue)
        return;
    switch (item->Value()) {
    case kObryProperty_LoadBrinkCalibration: calibration.BuildBrink(); break;
    case kObryProperty_LoadDunmoreCalibration: calibration.BuildDunmore(); break;
    default: break;
    }
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kVoiceID || index == kOSCPortOffset || IsSmoothing(index) ? kAudioUnitParameterFlag_ValuesHaveStrings
                                                                              : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const auto index = static_cast<int32_t>(request.inParamID);
    if (index != kVoiceID && index != kOSCPortOffset && !IsSmoothing(index))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    if (IsSmoothing(index) ? SmoothingShowsOff(value) : value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

int32_t ObryCorvane::GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data)
{
    if (CalibrationProperties::Handles(id))
        return calibrationProperties.GetProperty(id, data);
    switch (id) {
    case kObryProperty_LearnMode:
        if (!data)
            return kAudioUnitErr_InvalidProperty;
        *static_cast<uint8_t*>(data) = InstanceRegistry::IsLearnArmed() ? 1 : 0;
        return 0;
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration: return kAudioUnitErr_InvalidProperty; // commands
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
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration:
    case kObryProperty_LearnMode:
        bytes = 1;
        canWrite = 1;
        break;
    default: return ObryCorvaneBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

// Host or editor thread: the built-in tables are only queued; the audio
// thread builds them.
int32_t ObryCorvane::SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size)
{
    if (scope != 0)
        return kAudioUnitErr_InvalidProperty;
    switch (id) {
    case kObryProperty_LoadBrinkCalibration:
    case kObryProperty_LoadDunmoreCalibration: {
        CommandQueue().Write(id); // a full queue says so on standard error
        static const char kBrink[] = "<Brink Calibration>";
        static const char kDunmore[] = "<Dunmore Calibration>";
        const char* name = id == kObryProperty_LoadBrinkCalibration ? kBrink : kDunmore;
        SetPropertyAndNotify(kObryProperty_CalibrationName, name, static_cast<uint32_t>(strlen(name) + 1));
        return 0;
    }
    case kObryProperty_CalibrationName: return calibrationProperties.SetName(data, size);
    case kObryProperty_LearnMode:
        if (!data || size < 1)
            return kAudioUnitErr_InvalidPropertyValue;
        InstanceRegistry::SetLearnArmed(*static_cast<const uint8_t*>(data) != 0);
        return 0;
    default: return ObryCorvaneBase::SetProperty(id, scope, element, data, size);
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

} // namespace ObryCorvaneSoundplane
