// ObryCorvaneBase: the base class of every hosted plug-in. It owns the
// instance's Lua MIDI helper, OSC helper and two message queues, registers
// the instance process-wide, runs the audio callback (command drain, channel
// pointers, block cut at MIDI event offsets), saves and restores the state
// chunk, answers the shared properties, and offers the hooks that each
// plug-in overrides.
//
// Threads: the audio thread runs processReplacing and every hook it calls
// (no allocation, no blocking lock there); the host's UI thread runs the
// dispatcher; setParameter may come from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/MessageQueue.h"
#include "framework/ObryAuBase.h"
#include "framework/ObryProperties.h"
#include "framework/StateChunk.h"
#include "framework/FactoryPreset.h"
#include "platform/WorkerThread.h"
#include "scripting/LuaMIDIHelper.h"
#include "scripting/OSCHelper.h"

constexpr int32_t kObryVersion = 0x00020100;

class ObryCorvaneBase : public ObryAuBase {
public:
    class CorvLuaMIDIHelper : public QZ::LuaMIDIHelper {
    public:
        CorvLuaMIDIHelper(ObryCorvaneBase* owner, QZ::MessageQueue* midiQueue, QZ::OSCHelper* oscHelper)
            : LuaMIDIHelper(owner, midiQueue, oscHelper), plugin(owner)
        {
        }
        void NoteOn(int channel, int note, int velocity) override;
        void NoteOff(int channel, int note, int velocity) override;
        void ControlChange(int channel, int controller, int value) override;
        void PitchWheel(int channel, int lsb, int msb) override;
        void setGUIBoolValue(int index, bool value) override;
        bool getGUIBoolValue(int index) override;
        void AddScale(const char* name, uint16_t mask) override;
        void RegisterFunctions() override;

    private:
        ObryCorvaneBase* plugin;
    };

    static constexpr int kIndicatorBlockSize = kObryIndicatorBlockSize;
    static constexpr int kIndicatorFlagOffset = kObryIndicatorFlagOffset;
    static constexpr int kIndicatorFlagCount = kObryIndicatorFlagCount;
    static constexpr int kMaxChannels = 64;

    ObryCorvaneBase(audioMasterCallback audioMaster, int32_t numInputs, int32_t numOutputs, bool instrument,
                    int32_t uniqueId, int32_t portOffsetIndex, int32_t numPrograms, FactoryPresetTable* presets,
                    int32_t numParams, const ParameterInfo* parameterInfo, ObryProgramFactory factory);
    ~ObryCorvaneBase() override;

    // VST operations.
    void close() override;
    void resume() override;
    void setBlockSize(int32_t blockSize) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    void setParameter(int32_t index, float normalized) override;
    void setSampleRate(float sampleRate) override;
    void setProgram(int32_t program) override;
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    int32_t processEvents(VstEvents* events) override;
    int32_t getVendorVersion() override { return kObryVersion; }
    int32_t canDo(char* text) override;
    int32_t getPlugCategory() override;
    bool getEffectName(char* name) override;
    bool getProductString(char* text) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;
    uint8_t* GetIndicatorBlock() override { return indicatorBlock; }

    // The host's UI thread waits in effClose for the plug-in's threads (the
    // editor's render thread among them) to stop at most this long in all.
    // Threads still running then that no script holds are only slow and get
    // the usual stop time; a thread held by a script blocked inside a C call
    // is left to it, and the instance with it, until it returns.
    static constexpr std::chrono::milliseconds kCloseBudget{250};

    // effClose, after close: deletes the plug-in at once, or, when a thread
    // of it is still running, hands it to a thread of the module's own that
    // deletes it once that thread has ended (one such thread for all kept
    // instances, running while there are any).
    void ReleaseAfterClose() override;
    bool MustOutliveClose() const override { return keptAfterClose; }
    // Closed plug-ins kept for a thread of theirs and not freed yet
    // (diagnostics and tests).
    static int KeptInstances();

    // Hooks, in the order plug-ins meet them.
    virtual int32_t Initialize();
    // Stops the plug-in's threads, each waiting at most StopTimeLeft(), and
    // reports every stop that left a thread running through NoteStop. Runs
    // again, and must then wait again, when a close found threads running.
    virtual void Cleanup();
    virtual uint32_t Version() { return kObryVersion; }
    virtual void BlockSizeChanged(int32_t frames);
    virtual bool BeginBlock(int32_t) { return true; }
    virtual void BeginSubBlock(int32_t) {}
    virtual void EndBlock(int32_t) {}
    virtual void ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames);
    virtual void Process(float**, float**, int32_t) {}
    virtual void HandleQueuedMessage(QZ::MessageQueueItem*) {}
    virtual void NoteOn(int, int, int) {}
    virtual void NoteOff(int, int, int) {}
    virtual void ControlChange(int, int, int) {}
    virtual void PitchWheel(int, int, int) {}
    virtual void AddScale(const char*, uint16_t) {}
    virtual uint32_t GetParameterFlags(int32_t) { return 0; }
    virtual bool StringFromValue(AudioUnitParameterStringFromValue&) { return false; }
    virtual const char* GetProductName() { return "Corvane"; }
    virtual const char* GetPluginName() = 0;
    virtual const char* GetGUIScriptName() = 0;
    virtual int32_t SaveExtraState(StateChunk&) { return 0; }
    virtual void RestoreExtraState(const StateChunk&) {}

    // "QV" and the plug-in's name without blanks (QVDC, QVVoiceController).
    const char* GetShortName() const { return shortName.c_str(); }
    const std::vector<std::string>& GetOSCParameterNames() const { return oscParameterNames; }
    int32_t PortOffsetIndex() const { return portOffsetIndex; }
    // The instance id: the truncated "OSC Port Offset" value.
    int32_t PortOffset();
    bool IsInstrument() const { return instrument; }
    int32_t NumInputs() const { return numInputs; }
    int32_t NumOutputs() const { return numOutputs; }

    CorvLuaMIDIHelper& LuaHelper() { return luaMIDIHelper; }
    QZ::OSCHelper& OSC() { return oscHelper; }
    QZ::MessageQueue& CommandQueue() { return queueB; }

    // The process-wide OSC base port, refreshed by every Initialize.
    static int32_t OSCBasePort();
    static void SetOSCBasePort(int32_t port);

protected:
    // Applies an "OSC Port Offset" value to the OSC server.
    void ApplyPortOffset(float value);
    // For Cleanup: `ended` is what a stop answered (false: its thread is
    // still running).
    void NoteStop(bool ended)
    {
        if (!ended)
            threadsLeftRunning = true;
    }

    // Moves on after every change of a parameter value, of the program or
    // of the sample rate, whichever thread made it (release; read with
    // acquire), so that an unchanged block re-derives nothing.
    uint32_t ParameterChanges() const { return parameterChanges.load(std::memory_order_acquire); }
    void NoteParameterChange() { parameterChanges.fetch_add(1, std::memory_order_release); }

    // Audio thread: true on the first call and whenever a parameter, the
    // program or the sample rate changed since the last call that said so;
    // BeginBlock re-derives its settings only then. ForgetSettings (from
    // Initialize) makes the next call true.
    bool SettingsChanged()
    {
        const uint32_t changes = ParameterChanges();
        if (changes == settingsSeen)
            return false;
        settingsSeen = changes;
        return true;
    }
    void ForgetSettings() { settingsSeen = 0; }

    CorvLuaMIDIHelper luaMIDIHelper; // first: it keeps the addresses of members built after it
    QZ::OSCHelper oscHelper;
    // Host MIDI -> audio thread. Hosts send dense automation and SysEx in one
    // block: 1024 events of a block are kept; drops are counted per list.
    static constexpr int32_t kMidiQueueEvents = 1024;
    QZ::MessageQueue queueA{"MessageQueue", kMidiQueueEvents + 1, QZ::MessageQueue::Overflow::kCount};
    QZ::MessageQueue queueB;         // commands from the UI side -> audio thread
    int32_t inputPointerCount;
    int32_t numInputs;
    int32_t numOutputs;
    bool instrument;
    FactoryPresetTable* presets;
    int32_t portOffsetIndex;
    alignas(8) uint8_t indicatorBlock[kIndicatorBlockSize];
    uint32_t settingsSeen = 0; // ParameterChanges() starts at 1
    std::chrono::milliseconds closeBudgetLength = kCloseBudget; // tests give more, for bounds a busy machine keeps
    bool keptAfterClose = false; // close left a thread of it running
    bool threadsLeftRunning = false; // a stop of the current StopThreads timed out
    bool leftRegistry = false;   // a kept instance leaves the registry as it is closed
    // What Cleanup's stops may still wait: the rest of the close's budget,
    // or a worker's usual stop time outside a close.
    std::chrono::milliseconds StopTimeLeft() const;
    // Stops the editor and every thread (Cleanup) within `limit` in all;
    // false when one is still running.
    bool StopThreads(std::chrono::milliseconds limit);
    std::optional<corvane::platform::StopBudget> closeBudget; // during StopThreads
    std::atomic<uint32_t> parameterChanges{1};

private:
    // The thread that frees kept instances once their threads have ended.
    static void FreeKeptInstances();
    // BeginSubBlock and Process for one piece (ProcessBlockWithEvents).
    void ProcessPiece(float* const* inputs, float* const* outputs, int32_t frames);
    std::vector<uint8_t> lastChunk;  // the host's copy stays valid until the next getChunk
    std::vector<float> dummyInput;   // zeros for plug-ins without inputs
    std::string shortName;
    std::vector<std::string> oscParameterNames;
    std::string displayName; // "QV " and the name after the product name
};
