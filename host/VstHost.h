// A small VST 2.4 host: loads a module with dlopen, answers the host
// callback, creates plug-ins by id, feeds blocks and MIDI, saves and restores
// chunks. Used by the tests as a library and by the corvane-host command.
//
// Every request the plug-in makes through the callback is logged (thread-safe)
// so tests can see what the host was asked and what it answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/vst/VstAbi.h"

namespace corvane::host {

// One request the plug-in made through the host callback.
struct HostCall {
    int32_t opcode;
    int32_t index;
    intptr_t value;
    float opt;
    intptr_t answer;
};

// What the host answers to audioMasterGetTime. Advanced by ProcessBlock while
// playing (sample position always, ppq position from the tempo).
struct Transport {
    bool answerTime = true; // false: GetTime answers null, as scanning hosts do
    double sampleRate = 48000;
    double samplePos = 0;
    double ppqPos = 0;
    double tempo = 120;
    double barStartPos = 0;
    int32_t timeSigNumerator = 4;
    int32_t timeSigDenominator = 4;
    bool playing = false;
    bool recording = false;
    bool changed = false; // reported once in the next GetTime answer
};

struct ShellEntry {
    int32_t id;
    std::string name;
    bool instrument;
};

struct MidiMessage {
    int32_t deltaFrames;
    uint8_t bytes[3];
};

// The loaded module. Plug-ins must be closed before it goes.
class Module {
public:
    // Null with a reason in *error when the file cannot be loaded or exports
    // no entry point.
    static std::unique_ptr<Module> Load(const std::string& path, std::string* error = nullptr);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    using EntryProc = AEffect* (*)(audioMasterCallback);
    EntryProc Entry() const { return entry; }
    const std::string& Path() const { return path; }

private:
    Module() = default;
    void* handle = nullptr;
    EntryProc entry = nullptr;
    std::string path;
};

struct HostOptions {
    int32_t version = 2400;    // answer to audioMasterVersion (0: "no host")
    bool nullCallback = false; // hand the module a null host callback
    bool logCalls = true;      // false: keep no call log (long benchmark runs)
};

// The host's lock. Held only for a transport step, an answer or a log entry,
// and taken by the audio thread once or twice per block, where a mutex call
// costs as much as the lightest plug-in's whole block: waiters spin, yielding.
class HostLock {
public:
    void lock() noexcept;
    void unlock() noexcept { held.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held{false};
};

class Plugin {
public:
    // Asks the module for the plug-in with current id `id` (0: the shell).
    // Null when the module gives none.
    static std::unique_ptr<Plugin> Create(Module& module, int32_t id, const HostOptions& options = {});
    ~Plugin(); // closes the plug-in when still open
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    AEffect* Effect() const { return effect; }
    intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0);

    // Lifecycle: open, sample rate, block size, resume (mains on).
    void Start(double sampleRate = 48000, int32_t blockSize = 512);
    void Suspend();
    void Resume();
    // effClose; the plug-in object is gone afterwards. Returns the answer.
    intptr_t Close();
    bool IsOpen() const { return effect != nullptr; }

    // Shell enumeration: effShellGetNextPlugin until it answers 0.
    std::vector<ShellEntry> EnumerateShell();

    int32_t NumParams() const;
    int32_t NumPrograms() const;
    int32_t NumInputs() const;
    int32_t NumOutputs() const;
    int32_t UniqueId() const;
    int32_t Flags() const;
    int32_t Category();
    std::string EffectName();
    std::string VendorString();
    std::string ProductString();
    int32_t VendorVersion();

    float GetParameter(int32_t index);
    void SetParameter(int32_t index, float normalized);
    std::string ParameterName(int32_t index);
    std::string ParameterLabel(int32_t index);
    std::string ParameterDisplay(int32_t index);
    // Index of the parameter whose name is `name`, or -1.
    int32_t FindParameter(const std::string& name);

    std::string ProgramName();
    void SetProgram(int32_t program);
    int32_t GetProgram();

    std::vector<uint8_t> GetChunk(bool programOnly = false);
    intptr_t SetChunk(const std::vector<uint8_t>& data, bool programOnly = false);

    // Sends MIDI (and SysEx dumps) with effProcessEvents.
    intptr_t SendMidi(const std::vector<MidiMessage>& messages);
    intptr_t SendSysEx(const std::vector<uint8_t>& dump, int32_t deltaFrames = 0);

    // One processReplacing call. `inputs` has NumInputs() channels (missing
    // ones are silence); `outputs` is resized to NumOutputs() x frames.
    void ProcessBlock(const std::vector<std::vector<float>>& inputs, std::vector<std::vector<float>>& outputs,
                      int32_t frames);
    // One processReplacing call on the caller's channel pointers, as a host's
    // audio thread makes it: no copies, no allocation. Moves the transport on.
    void ProcessReplacing(float** inputs, float** outputs, int32_t frames);
    // The same in the two steps a host's cycle takes when it runs many
    // plug-ins: the call alone, and the transport moved on past it (a host
    // steps its transport once per cycle, not inside each plug-in's call).
    // Every CallProcessReplacing needs its MoveTransport before the next.
    void CallProcessReplacing(float** inputs, float** outputs, int32_t frames);
    void MoveTransport(int32_t frames) { AdvanceTransport(frames); }

    // Transport the host reports; tests change it between blocks. Time() is
    // unguarded: while a plug-in thread (timer, OSC) may ask for the time, use
    // SetTime and TimeNow, which take the host's lock.
    Transport& Time()
    {
        TransportTouched(); // the caller is about to change it
        return transport;
    }
    void SetTime(const Transport& time);
    Transport TimeNow() const;

    // Host call log.
    std::vector<HostCall> Calls() const;
    std::vector<HostCall> CallsOf(int32_t opcode) const;
    void ClearCalls();

private:
    Plugin() = default;
    static intptr_t HostCallback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    intptr_t Answer(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    void AdvanceTransport(int32_t frames);

    std::string TextOf(int32_t opcode, int32_t index = 0);

    AEffect* effect = nullptr;
    HostOptions options;
    int32_t currentId = 0; // answer to audioMasterCurrentId
    // Guards the log, the transport and the rate and block size: plug-in
    // threads (OSC, timers) call the host while the test thread processes.
    mutable HostLock logLock;
    Transport transport;
    // Every change of the transport besides a block's step counts here.
    void TransportTouched() { transportVersion.fetch_add(1, std::memory_order_release); }
    std::atomic<uint64_t> transportVersion{1};
    // The time answer for the next block, made by AdvanceTransport on the
    // thread that processes (only it reads them), valid while
    // transportVersion still equals blockTimeVersion.
    VstTimeInfo blockTime{};
    bool blockTimeAnswers = false;
    uint64_t blockTimeVersion = 0;
    // AdvanceTransport's quarters per block and bar length, and what they
    // were made from (thread that processes).
    struct Step {
        int32_t frames = -1;
        double sampleRate = 0;
        double tempo = 0;
        double quarters = 0;
        int32_t numerator = 0;
        int32_t denominator = 0;
        double barLength = 0;
    } step;
    double sampleRate = 48000;
    int32_t blockSize = 512;
    std::vector<HostCall> calls;
    // The last events sent stay alive until the next send, as hosts keep them
    // valid at least until the next processReplacing.
    std::vector<VstMidiEvent> midiEvents;
    std::vector<intptr_t> eventList;
    std::vector<char> sysexDump;
    VstMidiSysexEvent sysexEvent{};
};

// The four-character text of an id ("QZs0"), or "0x%08X" when a byte is not
// printable.
std::string FourCCText(int32_t id);

} // namespace corvane::host
