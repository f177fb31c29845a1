#include "host/VstHost.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

namespace corvane::host {

namespace {

// During VSTPluginMain the plug-in calls the host with a null AEffect (it has
// none yet), so the host finds the plug-in being created through this
// per-thread pointer. Afterwards AEffect::user leads to it.
thread_local Plugin* pluginBeingCreated = nullptr;
// True while this thread is inside processReplacing (process level).
thread_local bool insideProcess = false;
// Each thread gets its own answer record: plug-in threads may ask for the
// time concurrently, and each reads the record after the callback returned.
thread_local VstTimeInfo timeAnswer{};

constexpr char kVendorString[] = "Corvane Test Host";
constexpr char kProductString[] = "corvane-host";
constexpr int32_t kProcessLevelUser = 1;
constexpr int32_t kProcessLevelRealtime = 2;
// A faulty shell that never answers 0 must not hang the enumeration.
constexpr int kMaxShellEntries = 4096;
// Bound on a chunk the host copies (a faulty size must not exhaust memory).
constexpr intptr_t kMaxChunkBytes = intptr_t(256) << 20;

// AEffect::user is written by the host thread after creation and read by any
// plug-in thread that calls the host; both go through atomic_ref.
std::atomic_ref<void*> UserField(AEffect* effect) { return std::atomic_ref<void*>(effect->user); }

} // namespace

std::string FourCCText(int32_t id)
{
    char text[16];
    const auto bits = static_cast<uint32_t>(id);
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<unsigned char>(bits >> (24 - 8 * i));
        printable = printable && c >= 0x20 && c < 0x7f;
        text[i] = static_cast<char>(c);
    }
    if (!printable)
        snprintf(text, sizeof text, "0x%08X", bits);
    else
        text[4] = 0;
    return text;
}

void HostLock::lock() noexcept
{
    while (held.exchange(true, std::memory_order_acquire))
        while (held.load(std::memory_order_relaxed))
            std::this_thread::yield();
}

// ---------------------------------------------------------------- Module

std::unique_ptr<Module> Module::Load(const std::string& path, std::string* error)
{
    // dlopen searches the library path for a bare file name; a command-line
    // user means the file in the current folder.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    void* handle = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) {
            const char* reason = dlerror();
            *error = reason ? reason : "cannot load " + path;
        }
        return nullptr;
    }
    auto entry = reinterpret_cast<EntryProc>(dlsym(handle, "VSTPluginMain"));
    if (!entry)
        entry = reinterpret_cast<EntryProc>(dlsym(handle, "main"));
    if (!entry) {
        if (error)
            *error = path + " exports neither VSTPluginMain nor main (not a VST module)";
        dlclose(handle);
        return nullptr;
    }
    std::unique_ptr<Module> module(new Module);
    module->handle = handle;
    module->entry = entry;
    module->path = path;
    return module;
}

Module::~Module()
{
    if (handle)
        dlclose(handle);
}

// ---------------------------------------------------------------- Plugin

std::unique_ptr<Plugin> Plugin::Create(Module& module, int32_t id, const HostOptions& options)
{
    std::unique_ptr<Plugin> plugin(new Plugin);
    plugin->options = options;
    plugin->currentId = id;

    Plugin* const outer = pluginBeingCreated; // creation may nest (a plug-in loading another)
    pluginBeingCreated = plugin.get();
    AEffect* effect = module.Entry()(options.nullCallback ? nullptr : &Plugin::HostCallback);
    pluginBeingCreated = outer;

    if (!effect || effect->magic != kEffectMagic)
        return nullptr;
    plugin->effect = effect;
    UserField(effect).store(plugin.get(), std::memory_order_release);
    return plugin;
}

Plugin::~Plugin()
{
    if (effect)
        Close();
}

intptr_t Plugin::HostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    Plugin* plugin = effect ? static_cast<Plugin*>(UserField(effect).load(std::memory_order_acquire)) : nullptr;
    if (!plugin)
        plugin = pluginBeingCreated;
    if (!plugin)
        return 0; // a thread the plug-in started before the host knew it
    return plugin->Answer(opcode, index, value, ptr, opt);
}

namespace {

void FillTimeInfo(const Transport& transport, VstTimeInfo* info)
{
    *info = VstTimeInfo{};
    info->samplePos = transport.samplePos;
    info->sampleRate = transport.sampleRate;
    info->ppqPos = transport.ppqPos;
    info->tempo = transport.tempo;
    info->barStartPos = transport.barStartPos;
    info->timeSigNumerator = transport.timeSigNumerator;
    info->timeSigDenominator = transport.timeSigDenominator;
    info->flags = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;
    if (transport.playing)
        info->flags |= kVstTransportPlaying;
    if (transport.recording)
        info->flags |= kVstTransportRecording;
    if (transport.changed)
        info->flags |= kVstTransportChanged;
}

} // namespace

intptr_t Plugin::Answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    // The audio thread's time request, answered as hosts do: from the record
    // made when the last block ended, while nothing has touched the transport
    // since and there is no change to report (which must be cleared) and no
    // call to log (both need the lock).
    if (opcode == audioMasterGetTime && insideProcess && !options.logCalls &&
        blockTimeVersion == transportVersion.load(std::memory_order_acquire) &&
        !(blockTime.flags & kVstTransportChanged))
        return blockTimeAnswers ? reinterpret_cast<intptr_t>(&blockTime) : 0;

    std::lock_guard<HostLock> lock(logLock);
    intptr_t answer = 0;
    switch (opcode) {
    case audioMasterVersion:
        answer = options.version;
        break;
    case audioMasterCurrentId:
        answer = currentId;
        break;
    case audioMasterGetTime:
        if (transport.answerTime) {
            FillTimeInfo(transport, &timeAnswer);
            if (transport.changed) {
                transport.changed = false;
                TransportTouched();
            }
            answer = reinterpret_cast<intptr_t>(&timeAnswer);
        }
        break;
    case audioMasterWantMidi:
    case audioMasterAutomate:
    case audioMasterBeginEdit:
    case audioMasterEndEdit:
        answer = 1;
        break;
    case audioMasterGetSampleRate:
        answer = static_cast<intptr_t>(sampleRate);
        break;
    case audioMasterGetBlockSize:
        answer = blockSize;
        break;
    case audioMasterGetVendorString:
    case audioMasterGetProductString:
        if (ptr) {
            // Both buffers are 64 bytes by the interface's promise.
            snprintf(static_cast<char*>(ptr), kVstMaxVendorStrLen, "%s",
                     opcode == audioMasterGetVendorString ? kVendorString : kProductString);
            answer = 1;
        }
        break;
    case audioMasterGetCurrentProcessLevel:
        answer = insideProcess ? kProcessLevelRealtime : kProcessLevelUser;
        break;
    default: // CanDo and everything else: 0
        break;
    }
    if (options.logCalls)
        calls.push_back(HostCall{opcode, index, value, opt, answer});
    return answer;
}

intptr_t Plugin::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt)
{
    if (!effect || !effect->dispatcher)
        return 0;
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void Plugin::Start(double rate, int32_t size)
{
    {
        std::lock_guard<HostLock> lock(logLock);
        sampleRate = rate;
        blockSize = size;
        transport.sampleRate = rate;
        TransportTouched();
    }
    Dispatch(effOpen);
    Dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(rate));
    Dispatch(effSetBlockSize, 0, size);
    Resume();
}

void Plugin::Suspend() { Dispatch(effMainsChanged, 0, 0); }
void Plugin::Resume() { Dispatch(effMainsChanged, 0, 1); }

intptr_t Plugin::Close()
{
    if (!effect)
        return 0;
    // The plug-in object (and its AEffect) is deleted inside effClose; its
    // threads may still call the host until then, which finds this object.
    const intptr_t answer = Dispatch(effClose);
    effect = nullptr;
    return answer;
}

std::vector<ShellEntry> Plugin::EnumerateShell()
{
    std::vector<ShellEntry> entries;
    for (int i = 0; i < kMaxShellEntries && effect; ++i) {
        char name[256] = {};
        const auto id = static_cast<int32_t>(Dispatch(effShellGetNextPlugin, 0, 0, name));
        if (id == 0)
            break;
        name[sizeof name - 1] = 0;
        // The shell sets its own synth flag to the kind of the entry it named.
        entries.push_back(ShellEntry{id, name, (Flags() & effFlagsIsSynth) != 0});
    }
    return entries;
}

int32_t Plugin::NumParams() const { return effect ? effect->numParams : 0; }
int32_t Plugin::NumPrograms() const { return effect ? effect->numPrograms : 0; }
int32_t Plugin::NumInputs() const { return effect ? effect->numInputs : 0; }
int32_t Plugin::NumOutputs() const { return effect ? effect->numOutputs : 0; }
int32_t Plugin::UniqueId() const { return effect ? effect->uniqueID : 0; }
int32_t Plugin::Flags() const { return effect ? effect->flags : 0; }
int32_t Plugin::Category() { return static_cast<int32_t>(Dispatch(effGetPlugCategory)); }
int32_t Plugin::VendorVersion() { return static_cast<int32_t>(Dispatch(effGetVendorVersion)); }

std::string Plugin::TextOf(int32_t opcode, int32_t index)
{
    // Far more room than the interface promises: plug-ins commonly write
    // past the nominal 8 or 32 characters.
    char text[256] = {};
    Dispatch(opcode, index, 0, text);
    text[sizeof text - 1] = 0;
    return text;
}

std::string Plugin::EffectName() { return TextOf(effGetEffectName); }
std::string Plugin::VendorString() { return TextOf(effGetVendorString); }
std::string Plugin::ProductString() { return TextOf(effGetProductString); }
std::string Plugin::ParameterName(int32_t index) { return TextOf(effGetParamName, index); }
std::string Plugin::ParameterLabel(int32_t index) { return TextOf(effGetParamLabel, index); }
std::string Plugin::ParameterDisplay(int32_t index) { return TextOf(effGetParamDisplay, index); }
std::string Plugin::ProgramName() { return TextOf(effGetProgramName); }

float Plugin::GetParameter(int32_t index)
{
    return effect && effect->getParameter ? effect->getParameter(effect, index) : 0.0f;
}

void Plugin::SetParameter(int32_t index, float normalized)
{
    if (effect && effect->setParameter)
        effect->setParameter(effect, index, normalized);
}

int32_t Plugin::FindParameter(const std::string& name)
{
    for (int32_t i = 0; i < NumParams(); ++i)
        if (ParameterName(i) == name)
            return i;
    return -1;
}

void Plugin::SetProgram(int32_t program) { Dispatch(effSetProgram, 0, program); }
int32_t Plugin::GetProgram() { return static_cast<int32_t>(Dispatch(effGetProgram)); }

std::vector<uint8_t> Plugin::GetChunk(bool programOnly)
{
    void* data = nullptr;
    const intptr_t size = Dispatch(effGetChunk, programOnly ? 1 : 0, 0, &data);
    if (size <= 0 || size > kMaxChunkBytes || !data)
        return {};
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

intptr_t Plugin::SetChunk(const std::vector<uint8_t>& data, bool programOnly)
{
    return Dispatch(effSetChunk, programOnly ? 1 : 0, static_cast<intptr_t>(data.size()),
                    const_cast<uint8_t*>(data.data()));
}

intptr_t Plugin::SendMidi(const std::vector<MidiMessage>& messages)
{
    midiEvents.assign(messages.size(), VstMidiEvent{});
    for (size_t i = 0; i < messages.size(); ++i) {
        VstMidiEvent& event = midiEvents[i];
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = messages[i].deltaFrames;
        for (int b = 0; b < 3; ++b)
            event.midiData[b] = static_cast<char>(messages[i].bytes[b]);
    }
    // VstEvents: count, reserved, then one pointer per event (at least the
    // two the record declares).
    const size_t pointers = std::max<size_t>(messages.size(), 2);
    eventList.assign(2 + pointers, 0);
    eventList[0] = static_cast<intptr_t>(messages.size()); // numEvents, padded to 8 bytes
    for (size_t i = 0; i < messages.size(); ++i)
        eventList[2 + i] = reinterpret_cast<intptr_t>(&midiEvents[i]);
    auto* events = reinterpret_cast<VstEvents*>(eventList.data());
    events->numEvents = static_cast<int32_t>(messages.size());
    return Dispatch(effProcessEvents, 0, 0, events);
}

intptr_t Plugin::SendSysEx(const std::vector<uint8_t>& dump, int32_t deltaFrames)
{
    sysexDump.assign(dump.begin(), dump.end());
    sysexEvent = VstMidiSysexEvent{};
    sysexEvent.type = kVstSysExType;
    sysexEvent.byteSize = sizeof(VstMidiSysexEvent);
    sysexEvent.deltaFrames = deltaFrames;
    sysexEvent.dumpBytes = static_cast<int32_t>(sysexDump.size());
    sysexEvent.sysexDump = sysexDump.data();
    eventList.assign(4, 0);
    eventList[2] = reinterpret_cast<intptr_t>(&sysexEvent);
    auto* events = reinterpret_cast<VstEvents*>(eventList.data());
    events->numEvents = 1;
    return Dispatch(effProcessEvents, 0, 0, events);
}

void Plugin::ProcessBlock(const std::vector<std::vector<float>>& inputs, std::vector<std::vector<float>>& outputs,
                          int32_t frames)
{
    if (!effect || frames < 0)
        return;
    const auto n = static_cast<size_t>(frames);
    const size_t bufferSize = std::max<size_t>(n, 1); // valid pointers even for an empty block
    const int32_t numInputs = std::max(NumInputs(), 0);
    const int32_t numOutputs = std::max(NumOutputs(), 0);

    // Copies of the inputs, padded with silence; a plug-in without inputs
    // (or outputs) still gets an array of valid pointers.
    std::vector<std::vector<float>> inputCopies(std::max(numInputs, 2), std::vector<float>(bufferSize, 0.0f));
    for (size_t c = 0; c < inputs.size() && c < static_cast<size_t>(numInputs); ++c)
        std::copy_n(inputs[c].begin(), std::min(n, inputs[c].size()), inputCopies[c].begin());
    outputs.assign(numOutputs, std::vector<float>(bufferSize, 0.0f));
    std::vector<std::vector<float>> spareOutputs(numOutputs < 2 ? 2 - numOutputs : 0,
                                                 std::vector<float>(bufferSize, 0.0f));

    std::vector<float*> inputPointers, outputPointers;
    for (auto& channel : inputCopies)
        inputPointers.push_back(channel.data());
    for (auto& channel : outputs)
        outputPointers.push_back(channel.data());
    for (auto& channel : spareOutputs)
        outputPointers.push_back(channel.data());

    ProcessReplacing(inputPointers.data(), outputPointers.data(), frames);
    for (auto& channel : outputs)
        channel.resize(n);
}

void Plugin::ProcessReplacing(float** inputs, float** outputs, int32_t frames)
{
    if (!effect || frames < 0)
        return;
    CallProcessReplacing(inputs, outputs, frames);
    AdvanceTransport(frames);
}

void Plugin::CallProcessReplacing(float** inputs, float** outputs, int32_t frames)
{
    if (!effect || frames < 0 || !effect->processReplacing)
        return;
    insideProcess = true;
    effect->processReplacing(effect, inputs, outputs, frames);
    insideProcess = false;
}

void Plugin::AdvanceTransport(int32_t frames)
{
    if (!effect || frames < 0)
        return;
    std::lock_guard<HostLock> lock(logLock);
    transport.samplePos += frames;
    if (transport.playing && transport.sampleRate > 0 && std::isfinite(transport.tempo)) {
        // The step and the bar length are worked out again only when what
        // they come from changed (every block makes the same divisions).
        if (frames != step.frames || transport.sampleRate != step.sampleRate || transport.tempo != step.tempo) {
            step.frames = frames;
            step.sampleRate = transport.sampleRate;
            step.tempo = transport.tempo;
            step.quarters = frames / transport.sampleRate * transport.tempo / 60.0;
        }
        transport.ppqPos += step.quarters;
        // Keep the bar start with the position: bars of numerator quarter
        // notes scaled by 4 / denominator, counted from the current bar start.
        if (transport.timeSigNumerator > 0 && transport.timeSigDenominator > 0) {
            if (transport.timeSigNumerator != step.numerator || transport.timeSigDenominator != step.denominator) {
                step.numerator = transport.timeSigNumerator;
                step.denominator = transport.timeSigDenominator;
                step.barLength = transport.timeSigNumerator * 4.0 / transport.timeSigDenominator;
            }
            // Less than a bar since its start divides to less than 1 (the
            // quotient is below 1 - 2^-53 and rounds below 1): no bar to add.
            const double span = transport.ppqPos - transport.barStartPos;
            if (span >= step.barLength) {
                const double bars = std::floor(span / step.barLength);
                if (bars > 0)
                    transport.barStartPos += bars * step.barLength;
            }
        }
    }
    // The next block's answer, made while the lock is held anyway: the
    // positions only, unless something else changed.
    const uint64_t version = transportVersion.load(std::memory_order_relaxed);
    if (version == blockTimeVersion) {
        blockTime.samplePos = transport.samplePos;
        blockTime.ppqPos = transport.ppqPos;
        blockTime.barStartPos = transport.barStartPos;
    } else {
        FillTimeInfo(transport, &blockTime);
        blockTimeAnswers = transport.answerTime;
        blockTimeVersion = version;
    }
}

void Plugin::SetTime(const Transport& time)
{
    std::lock_guard<HostLock> lock(logLock);
    transport = time;
    TransportTouched();
}

Transport Plugin::TimeNow() const
{
    std::lock_guard<HostLock> lock(logLock);
    return transport;
}

std::vector<HostCall> Plugin::Calls() const
{
    std::lock_guard<HostLock> lock(logLock);
    return calls;
}

std::vector<HostCall> Plugin::CallsOf(int32_t opcode) const
{
    std::lock_guard<HostLock> lock(logLock);
    std::vector<HostCall> matching;
    for (const HostCall& call : calls)
        if (call.opcode == opcode)
            matching.push_back(call);
    return matching;
}

void Plugin::ClearCalls()
{
    std::lock_guard<HostLock> lock(logLock);
    calls.clear();
}

} // namespace corvane::host
