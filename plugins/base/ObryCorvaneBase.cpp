#include "plugins/base/ObryCorvaneBase.h"

#include <cmath>
#include <cstring>
#include <lua.hpp>

#include "framework/InstanceRegistry.h"
#include "framework/OSCBasePort.h"
#include "gui/editor/ObryCorvaneView.h"
#include "gui/toolkit/GLSupport.h"
#include "platform/Debug.h"
#include "platform/Preferences.h"
#include "scripting/LuaMIDIFunctions.h"

namespace {

constexpr uint32_t kTagPuid = 0x70756964; // 'puid'
constexpr uint32_t kTagVers = 0x76657273; // 'vers'
constexpr uint32_t kTagChnk = 0x63686E6B; // 'chnk'
constexpr uint32_t kTagParm = 0x7061726D; // 'parm'
constexpr uint32_t kTagLuid = 0x6C756964; // 'luid'
constexpr uint32_t kTagGuid = 0x67756964; // 'guid'

// Hosts may hand blocks longer than the block size they announced, and may
// announce any size at all: the zero buffer holds the announced size, but at
// least kMinDummyFrames and at most kMaxDummyFrames; a longer block is
// processed in pieces of the buffer's length (see processReplacing).
constexpr int32_t kMinDummyFrames = 8192;
constexpr int32_t kMaxDummyFrames = 65536;

void CopyText(char* destination, const char* source, size_t size)
{
    size_t length = strnlen(source, size - 1);
    memcpy(destination, source, length);
    destination[length] = 0;
}

} // namespace

int32_t ObryCorvaneBase::OSCBasePort()
{
    return ObryOSC::BasePort();
}

void ObryCorvaneBase::SetOSCBasePort(int32_t port)
{
    ObryOSC::SetBasePort(port);
}

ObryCorvaneBase::ObryCorvaneBase(audioMasterCallback audioMaster, int32_t numInputs, int32_t numOutputs,
                                 bool instrument, int32_t uniqueId, int32_t portOffsetIndex, int32_t numPrograms,
                                 FactoryPresetTable* presets, int32_t numParams, const ParameterInfo* parameterInfo,
                                 ObryProgramFactory factory)
    : ObryAuBase(audioMaster, numPrograms, numParams, parameterInfo, factory),
      luaMIDIHelper(this, &queueA, &oscHelper),
      oscHelper(this, &luaMIDIHelper),
      inputPointerCount(numInputs < 1 ? 2 : numInputs),
      numInputs(numInputs < 0 ? 0 : (numInputs > kMaxChannels ? kMaxChannels : numInputs)),
      numOutputs(numOutputs < 0 ? 0 : (numOutputs > kMaxChannels ? kMaxChannels : numOutputs)),
      instrument(instrument),
      presets(presets),
      portOffsetIndex(portOffsetIndex)
{
    if (inputPointerCount > kMaxChannels)
        inputPointerCount = kMaxChannels;
    memset(indicatorBlock, 0, sizeof indicatorBlock);
    if (presets)
        presets->Complete(parameterInfo, numParams);

    InstanceRegistry::Register(this);

    cEffect.numInputs = this->numInputs;
    cEffect.numOutputs = this->numOutputs;
    if (instrument)
        isSynth(true);
    setUniqueID(uniqueId);
    canMono(true);
    canProcessReplacing(true);
    programsAreChunks(true);

    if (presets) {
        const int32_t count = presets->Count() < numPrograms ? presets->Count() : numPrograms;
        for (int32_t p = 0; p < count; ++p) {
            const FactoryPreset& preset = (*presets)[p];
            for (int32_t i = 0; i < numParams; ++i)
                programs[p]->SetParameter(i, preset.values[i]);
            // Names are at most 31 characters; SetName keeps the first 31.
            programs[p]->SetName(preset.name ? preset.name->CString() : "Defaults");
        }
    }
}

ObryCorvaneBase::~ObryCorvaneBase()
{
    if (editor)
        editor->close();
    if (!leftRegistry)
        InstanceRegistry::MarkUnusable(this);
    // For owners destroyed without close.
    if (!luaMIDIHelper.StopTimers())
        luaMIDIHelper.Abandon();
    oscHelper.DestroyTask();
    if (!leftRegistry)
        InstanceRegistry::Unregister(this);
}

int32_t ObryCorvaneBase::Initialize()
{
    // Names first: the registry asks for them as soon as the instance is usable.
    const char* pluginName = GetPluginName();
    const char* productName = GetProductName();
    const char* suffix = pluginName;
    const size_t productLength = strlen(productName);
    if (strncmp(pluginName, productName, productLength) == 0 && pluginName[productLength] == ' ')
        suffix = pluginName + productLength + 1;
    shortName = "QV";
    for (const char* c = suffix; *c; ++c)
        if (*c != ' ')
            shortName += *c;
    displayName = std::string("QV ") + suffix;
    oscParameterNames.clear();
    for (int32_t i = 0; i < numParams; ++i) {
        std::string name;
        for (const char* c = parameterInfo[i].name ? parameterInfo[i].name : ""; *c; ++c)
            if (*c != ' ')
                name += *c;
        oscParameterNames.push_back(std::move(name));
    }

    BlockSizeChanged(blockSize);
    SetOSCBasePort(corvane::ReadPrefInt("OSC Base Port", ObryOSC::kDefaultBasePort));

    uint32_t count = 0;
    const ParameterInfo* table = nullptr;
    GetProperty(kObryProperty_ParameterCount, 0, 0, &count);
    GetProperty(kObryProperty_ParameterTable, 0, 0, &table);
    luaMIDIHelper.SetParameterTable(static_cast<int32_t>(count), table);

    // The Lua MIDI state runs its scripts here; the OSC helper's Init asks
    // for the same state again (setupLua makes it only once). Scripts may
    // start timers while they load: the Lua lock, which every timer callback
    // takes, stays held until the instance is complete.
    std::lock_guard<std::recursive_mutex> luaGuard(luaMIDIHelper.LuaLock());
    luaMIDIHelper.setupLua();
    oscHelper.Init();
    oscHelper.CreateTask();

    // The editor object; it opens no window (and no X connection) until the
    // host sends effEditOpen. On a machine without GL the plug-in still
    // runs, and the host is told that it has no editor.
    if (!editor) {
        auto* view = new ObryCorvaneView(this);
        editor = view;
        view->InitWindowSize();
    }
    SetFlag(effFlagsHasEditor, QZ::gl::LibraryAvailable());

    InstanceRegistry::MarkUsable(this);
    return 0;
}

void ObryCorvaneBase::resume()
{
    wantEvents();
    {
        InstanceRegistry::Lock lock(InstanceRegistry::Mutex());
        InstanceRegistry::InstanceNumber(this);
        InstanceRegistry::GlobalNumber(this);
    }
    wantEvents();
}

void ObryCorvaneBase::setBlockSize(int32_t frames)
{
    AudioEffect::setBlockSize(frames);
    BlockSizeChanged(frames);
}

void ObryCorvaneBase::BlockSizeChanged(int32_t frames)
{
    const int32_t bounded = frames < kMinDummyFrames ? kMinDummyFrames : (frames > kMaxDummyFrames ? kMaxDummyFrames : frames);
    const size_t size = static_cast<size_t>(bounded);
    if (dummyInput.size() != size)
        dummyInput.assign(size, 0.0f);
}

// audio thread: no allocation, no blocking lock
void ObryCorvaneBase::processReplacing(float** inputs, float** outputs, int32_t sampleFrames)
{
    if (!BeginBlock(sampleFrames))
        return;
    // Notes played over OSC ("/startNote", "/stopNote"), queued by the listen
    // thread so that the plug-in's note state is touched on this thread only.
    // They go to the note handling alone, not the host MIDI path: MIDI learn
    // and learned mappings are for the host's MIDI.
    while (QZ::MessageQueueItem* item = oscHelper.NoteQueue().Read()) {
        if (item->type != QZ::MessageQueueItem::kShortMIDI)
            continue;
        if (item->data[0] == 0x90 && item->data[3] > 0)
            luaMIDIHelper.NoteOn(item->data[1], item->data[2], item->data[3]);
        else if (item->data[0] == 0x80 || item->data[0] == 0x90)
            luaMIDIHelper.NoteOff(item->data[1], item->data[2], item->data[3]);
    }
    while (QZ::MessageQueueItem* item = queueB.Read())
        HandleQueuedMessage(item);

    // Only the first inputPointerCount and numOutputs entries are used (and
    // set below); clearing all 64 costs more than some plug-ins' processing.
    std::array<float*, kMaxChannels> in;
    std::array<float*, kMaxChannels> out;
    bool usesDummy = numInputs < 1;
    for (int32_t c = 0; c < inputPointerCount; ++c) {
        in[c] = numInputs >= 1 && inputs ? inputs[c] : nullptr;
        if (!in[c]) {
            in[c] = dummyInput.data();
            usesDummy = true;
        }
    }
    for (int32_t c = 0; c < numOutputs; ++c) {
        out[c] = outputs[c];
        if (!out[c]) {
            CORVANE_LOG_ONCE("processReplacing: the host gave a null output buffer\n");
            return;
        }
    }

    // A host that hands more frames than the zero buffer holds must not make
    // us read past it: the block goes through in pieces of the buffer's
    // length, each event in the piece that holds its offset (queue A hands
    // it on relative to that piece), so every sample is computed.
    const int32_t dummyFrames = static_cast<int32_t>(dummyInput.size());
    if (!usesDummy || sampleFrames <= dummyFrames) {
        ProcessBlockWithEvents(in.data(), out.data(), sampleFrames);
    } else {
        std::array<float*, kMaxChannels> pieceOut;
        for (int32_t start = 0; start < sampleFrames; start += dummyFrames) {
            const int32_t frames = sampleFrames - start < dummyFrames ? sampleFrames - start : dummyFrames;
            const bool last = start + frames == sampleFrames;
            if (last)
                queueA.SetStart(static_cast<uint32_t>(start));
            else
                queueA.SetWindow(static_cast<uint32_t>(start), static_cast<uint32_t>(start + frames));
            std::array<float*, kMaxChannels> pieceIn;
            for (int32_t c = 0; c < inputPointerCount; ++c)
                pieceIn[c] = in[c] == dummyInput.data() ? in[c] : in[c] + start;
            for (int32_t c = 0; c < numOutputs; ++c)
                pieceOut[c] = out[c] + start;
            ProcessBlockWithEvents(pieceIn.data(), pieceOut.data(), frames);
        }
        queueA.ClearWindow();
    }
    EndBlock(sampleFrames);
}

// audio thread: the plug-in's Process on copies of the pointers, which it
// may move.
void ObryCorvaneBase::ProcessPiece(float* const* inputs, float* const* outputs, int32_t frames)
{
    BeginSubBlock(frames);
    std::array<float*, kMaxChannels> in;
    std::array<float*, kMaxChannels> out;
    for (int32_t c = 0; c < inputPointerCount; ++c)
        in[c] = inputs[c];
    for (int32_t c = 0; c < numOutputs; ++c)
        out[c] = outputs[c];
    Process(in.data(), out.data(), frames);
}

// audio thread: no allocation, no blocking lock
void ObryCorvaneBase::ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames)
{
    // Most blocks bring no event: one piece, on the caller's arrays
    // themselves (its copies, which it does not read again: Process may move
    // their pointers as the pieces below move them on).
    if (queueA.Empty()) {
        if (frames > 0) {
            BeginSubBlock(frames);
            Process(inputs, outputs, frames);
        }
        return;
    }
    int32_t position = 0;
    int32_t remaining = frames;
    while (remaining > 0) {
        QZ::MessageQueueItem* item = queueA.Read();
        int32_t piece = remaining;
        if (item) {
            const int64_t delta = item->deltaFrame;
            if (delta <= position) {
                piece = 0;
            } else {
                piece = static_cast<int32_t>(delta - position < remaining ? delta - position : remaining);
                position = static_cast<int32_t>(delta < INT32_MAX ? delta : INT32_MAX);
            }
        }
        if (piece > 0) {
            ProcessPiece(inputs, outputs, piece);
            for (int32_t c = 0; c < inputPointerCount; ++c)
                inputs[c] += piece;
            for (int32_t c = 0; c < numOutputs; ++c)
                outputs[c] += piece;
            remaining -= piece;
        }
        if (item)
            luaMIDIHelper.ProcessMidiEvent(item);
    }
}

int32_t ObryCorvaneBase::processEvents(VstEvents* events)
{
    return luaMIDIHelper.processEvents(events);
}

int32_t ObryCorvaneBase::PortOffset()
{
    const float v = GetParameterReal(portOffsetIndex);
    return std::isfinite(v) ? static_cast<int32_t>(v) : 0;
}

void ObryCorvaneBase::ApplyPortOffset(float value)
{
    const int32_t offset = std::isfinite(value) ? static_cast<int32_t>(value) : 0;
    if (offset == 0) {
        oscHelper.SetListenPort(0);
        return;
    }
    const int64_t port = static_cast<int64_t>(OSCBasePort()) + offset;
    if (port < 1 || port > 65535) {
        corvane::DebugPrintf("OSC port %lld is out of range; the server stays closed\n", static_cast<long long>(port));
        oscHelper.SetListenPort(0);
        return;
    }
    oscHelper.SetListenPort(static_cast<int32_t>(port));
}

void ObryCorvaneBase::setParameter(int32_t index, float normalized)
{
    if (!IsValidParameterIndex(index))
        return;
    ObryAuBase::setParameter(index, normalized);
    NoteParameterChange();
    const float value = GetParameterReal(index);
    if (index == portOffsetIndex)
        ApplyPortOffset(value);
    oscHelper.QueueParameterUpdate(index, value);
    InstanceRegistry::NotifyListeners(this, index, value);
}

void ObryCorvaneBase::setSampleRate(float sampleRate)
{
    ObryAuBase::setSampleRate(sampleRate);
    NoteParameterChange();
}

void ObryCorvaneBase::setProgram(int32_t program)
{
    if (!IsValidProgramIndex(program))
        return;
    curProgram = program;
    NoteParameterChange();
    if (IsValidParameterIndex(portOffsetIndex))
        ApplyPortOffset(GetParameterReal(portOffsetIndex));
}

int32_t ObryCorvaneBase::canDo(char* text)
{
    return text && strcmp(text, "receiveVstMidiEvent") == 0 ? 1 : 0;
}

int32_t ObryCorvaneBase::getPlugCategory()
{
    return instrument ? kPlugCategSynth : kPlugCategEffect;
}

bool ObryCorvaneBase::getEffectName(char* name)
{
    CopyText(name, displayName.c_str(), kVstMaxEffectNameLen);
    return true;
}

bool ObryCorvaneBase::getProductString(char* text)
{
    CopyText(text, displayName.c_str(), kVstMaxProductStrLen);
    return true;
}

int32_t ObryCorvaneBase::GetProperty(uint32_t id, uint32_t, uint32_t, void* data)
{
    if (!data)
        return kAudioUnitErr_InvalidProperty;
    auto storePointer = [data](const void* p) {
        memcpy(data, &p, sizeof p);
        return 0;
    };
    switch (id) {
    case kAudioUnitProperty_ParameterStringFromValue: {
        auto* request = static_cast<AudioUnitParameterStringFromValue*>(data);
        request->outString = nullptr;
        if (!IsValidParameterIndex(static_cast<int32_t>(request->inParamID)) || !StringFromValue(*request))
            return kAudioUnitErr_InvalidParameter;
        if (request->outString)
            request->outString->Retain();
        return 0;
    }
    case kObryProperty_IndicatorBlock:
        return storePointer(indicatorBlock);
    case kObryProperty_ProductName:
        return storePointer(GetProductName());
    case kObryProperty_PluginName:
        return storePointer(GetPluginName());
    case kObryProperty_ShortName:
        return storePointer(shortName.c_str());
    case kObryProperty_OSCParameterNames:
        return storePointer(&oscParameterNames);
    case kObryProperty_OSCHelper:
        return storePointer(&oscHelper);
    case kObryProperty_ParameterCount: {
        const uint32_t count = static_cast<uint32_t>(numParams);
        memcpy(data, &count, sizeof count);
        return 0;
    }
    case kObryProperty_PortOffset: {
        const int32_t offset = PortOffset();
        memcpy(data, &offset, sizeof offset);
        return 0;
    }
    case kObryProperty_ParameterTable:
        return storePointer(parameterInfo);
    case kObryProperty_GUIScriptName:
        return storePointer(GetGUIScriptName());
    case kObryProperty_IsLearner:
        *static_cast<uint8_t*>(data) = 0;
        return 0;
    default:
        return kAudioUnitErr_InvalidProperty;
    }
}

int32_t ObryCorvaneBase::GetPropertyInfo(uint32_t id, uint32_t, uint32_t, uint32_t* size, uint8_t* writable)
{
    uint32_t bytes = 0;
    uint8_t canWrite = 0;
    switch (id) {
    case kAudioUnitProperty_ParameterStringFromValue: bytes = sizeof(AudioUnitParameterStringFromValue); break;
    case kObryProperty_IndicatorBlock:
    case kObryProperty_ProductName:
    case kObryProperty_PluginName:
    case kObryProperty_ShortName:
    case kObryProperty_OSCParameterNames:
    case kObryProperty_OSCHelper:
    case kObryProperty_ParameterTable:
    case kObryProperty_GUIScriptName: bytes = sizeof(void*); break;
    case kObryProperty_ParameterCount:
    case kObryProperty_PortOffset: bytes = 4; break;
    case kObryProperty_ReapplyPortOffset:
        bytes = 1;
        canWrite = 1;
        break;
    case kObryProperty_IsLearner: bytes = 1; break;
    default: return kAudioUnitErr_InvalidProperty;
    }
    return AnswerPropertyInfo(size, writable, bytes, canWrite);
}

int32_t ObryCorvaneBase::SetProperty(uint32_t id, uint32_t scope, uint32_t, const void*, uint32_t)
{
    if (id == kObryProperty_ReapplyPortOffset && scope == 0 && IsValidParameterIndex(portOffsetIndex)) {
        SetParameterValue(portOffsetIndex, GetParameterReal(portOffsetIndex), true);
        return 0;
    }
    return kAudioUnitErr_InvalidProperty;
}

int32_t ObryCorvaneBase::getChunk(void** data, bool)
{
    if (!data)
        return 0;
    StateChunk chunk;
    chunk.AddU32(kTagPuid, static_cast<uint32_t>(cEffect.uniqueID));
    chunk.AddU32(kTagVers, kObryVersion);
    void* own = nullptr;
    const int32_t ownSize = CurrentProgram()->GetChunk(&own);
    if (own && ownSize > 0) {
        chunk.AddRecord(kTagChnk, own, static_cast<uint32_t>(ownSize));
    } else {
        std::vector<float> values(static_cast<size_t>(numParams));
        for (int32_t i = 0; i < numParams; ++i)
            values[i] = CurrentProgram()->GetParameter(i);
        chunk.AddRecord(kTagParm, values.data(), static_cast<uint32_t>(values.size() * sizeof(float)));
    }
    if (InstanceRegistry::AnyLearnerPresent()) {
        uint32_t perType = 0, processWide = 0;
        InstanceRegistry::Lock lock;
        if (InstanceRegistry::LockAndFind(this, lock)) {
            perType = InstanceRegistry::InstanceNumber(this);
            processWide = InstanceRegistry::GlobalNumber(this);
        }
        chunk.AddU32(kTagLuid, perType);
        chunk.AddU32(kTagGuid, processWide);
    }
    SaveExtraState(chunk);
    // Only the latest buffer is kept: the host's copy is valid until the next call.
    lastChunk = chunk.Serialize();
    *data = lastChunk.data();
    return static_cast<int32_t>(lastChunk.size());
}

int32_t ObryCorvaneBase::setChunk(void* data, int32_t byteSize, bool)
{
    if (!data || byteSize <= 0)
        return 0;
    // Values reach the program below without setParameter: however this
    // ends, the plug-in re-derives its settings.
    struct NoteChangeOnReturn {
        ObryCorvaneBase& plugin;
        ~NoteChangeOnReturn() { plugin.NoteParameterChange(); }
    } noteChange{*this};
    StateChunk chunk;
    if (!chunk.Parse(data, static_cast<size_t>(byteSize))) {
        CurrentProgram()->SetChunk(data, byteSize);
        return 1;
    }
    if (const StateChunk::Record* parm = chunk.Find(kTagParm)) {
        const int32_t count = static_cast<int32_t>(parm->size / 4) < numParams ? static_cast<int32_t>(parm->size / 4)
                                                                                : numParams;
        for (int32_t i = 0; i < count; ++i) {
            // A saved project is untrusted: keep values inside their range.
            const ParameterInfo& info = parameterInfo[i];
            float v = StateChunk::LoadF32(parm->data + 4 * i);
            if (std::isnan(v))
                v = info.def;
            const float lo = info.min < info.max ? info.min : info.max;
            const float hi = info.min < info.max ? info.max : info.min;
            v = v < lo ? lo : (v > hi ? hi : v);
            CurrentProgram()->SetParameter(i, v);
        }
    }
    if (const StateChunk::Record* own = chunk.Find(kTagChnk))
        CurrentProgram()->SetChunk(own->data, static_cast<int32_t>(own->size));
    uint32_t perType = 0, processWide = 0;
    if (!chunk.ReadU32(kTagLuid, &perType))
        perType = 0;
    if (!chunk.ReadU32(kTagGuid, &processWide))
        processWide = 0;
    InstanceRegistry::SetInstanceNumbers(this, perType, processWide);
    RestoreExtraState(chunk);
    // Hosts reload projects this way: the restored "OSC Port Offset" opens
    // (or moves, or closes) the server as setting it would.
    if (IsValidParameterIndex(portOffsetIndex))
        ApplyPortOffset(GetParameterReal(portOffsetIndex));
    return 1;
}

// The plug-in's helper hands the four message kinds to the plug-in's hooks.
void ObryCorvaneBase::CorvLuaMIDIHelper::NoteOn(int channel, int note, int velocity)
{
    plugin->NoteOn(channel, note, velocity);
}

void ObryCorvaneBase::CorvLuaMIDIHelper::NoteOff(int channel, int note, int velocity)
{
    plugin->NoteOff(channel, note, velocity);
}

void ObryCorvaneBase::CorvLuaMIDIHelper::ControlChange(int channel, int controller, int value)
{
    plugin->ControlChange(channel, controller, value);
}

void ObryCorvaneBase::CorvLuaMIDIHelper::PitchWheel(int channel, int lsb, int msb)
{
    plugin->PitchWheel(channel, lsb, msb);
}

void ObryCorvaneBase::CorvLuaMIDIHelper::setGUIBoolValue(int index, bool value)
{
    if (index >= 0 && index < kIndicatorFlagCount)
        owner->GetIndicatorBlock()[kIndicatorFlagOffset + index] = value ? 1 : 0;
}

bool ObryCorvaneBase::CorvLuaMIDIHelper::getGUIBoolValue(int index)
{
    return index >= 0 && index < kIndicatorFlagCount && owner->GetIndicatorBlock()[kIndicatorFlagOffset + index] != 0;
}

void ObryCorvaneBase::CorvLuaMIDIHelper::AddScale(const char* name, uint16_t mask)
{
    plugin->AddScale(name, mask);
}

// Runs while the Lua state is made, with the Lua lock held.
void ObryCorvaneBase::CorvLuaMIDIHelper::RegisterFunctions()
{
    lua_register(LuaState(), "addScale", QZ::LuaAddScale);
}
