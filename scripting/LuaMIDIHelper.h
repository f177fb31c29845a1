// QZ::LuaMIDIHelper: the instance's Lua MIDI state and the road of host MIDI
// into the instance.
//
// It turns the host's MIDI events into items of the owner's MIDI queue
// (queue A) and, when the audio thread takes them out again, delivers each
// one at its frame: note-on, note-off, control change and pitch wheel to the
// virtual hooks (the base class serves the scripts' registrations there, the
// plug-in's helper calls the plug-in), program change, channel pressure and
// polyphonic pressure to the scripts' registrations, and every short message
// to the instance registry (MIDI learn and learned mappings).
//
// The Lua state runs the built-in "midi.lua" and the user's scripts of the
// plug-in class; OSC function calls and timers call into it too.
//
// Threads and locks:
// - processEvents: the host's event thread; queue writes only, no Lua.
// - ProcessMidiEvent and the deliveries: the audio thread. A delivery checks
//   an atomic count first and touches nothing else when no script registered
//   for that kind of message; otherwise it hands the message over to the
//   hand-over thread, which calls the registrations, in order, a few
//   milliseconds later. The audio thread never runs Lua and never waits for
//   the Lua lock (a script may hold it, or block inside a C call).
// - Every use of the Lua state (script loading, deliveries, CallLocked, the
//   Lua functions) holds the Lua lock, a re-entrant mutex, from the first
//   push to the end of the call.
// - Every call into Lua runs under a time limit (kCallTimeLimitMs, loading a
//   script kLoadTimeLimitMs) counted in the thread's processor time
//   (ScriptLimits); a script that runs past it is stopped with a Lua error,
//   and the state stays usable. The MIDI callbacks of one message
//   share kCallbackBudgetMs; a script that overruns it is stopped with a
//   message and its MIDI callbacks are not called again until the plug-in
//   is loaded anew. The state's memory is capped at kMemoryLimitBytes; an
//   allocation beyond it fails as Lua's "not enough memory" error.
// - Every call from C++ into Lua runs protected (lua_cpcall or lua_pcall),
//   and the state's panic function never returns into Lua, which would end
//   the process: it jumps back to the protected entry of its thread.
// - Timers: the helper's timer queue runs the scripts' timers on its own
//   thread. The timer lock guards the set of live timers. It may be taken
//   while the Lua lock is held (the timer functions), never the reverse: a
//   timer callback leaves the timer lock before it takes the Lua lock.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/MessageQueue.h"
#include "framework/ParameterInfo.h"
#include "framework/vst/VstAbi.h"
#include "platform/Event.h"
#include "platform/TimerQueue.h"
#include "platform/WorkerThread.h"
#include "scripting/ScriptLimits.h"

struct lua_State;
class ObryAuBase;

namespace QZ {

class OSCHelper;

class LuaMIDIHelper {
public:
    static constexpr int kCallTimeLimitMs = 250;
    static constexpr int kLoadTimeLimitMs = 1000;
    static constexpr int kCallbackBudgetMs = 2;
    // All MIDI registrations of a state together; beyond it a request raises.
    static constexpr size_t kMaxRegistrations = 4096;
    // Messages waiting for the hand-over thread.
    static constexpr uint32_t kHandOverSize = 256;
    static constexpr size_t kMemoryLimitBytes = size_t{256} << 20;

    // Registry keys of the Lua state.
    static constexpr const char* kRefconKey = "QZ::LuaMIDIHelper::kRefcon";
    static constexpr const char* kParamLookupKey = "QZ::LuaMIDIHelper::kParamLookup";
    static constexpr const char* kTimerMetatable = "QZ::LuaMIDIHelper::Timer";

    // The kinds of message scripts can register for. Pitch wheel and channel
    // pressure have only the list for every message.
    enum Kind : int {
        kNoteOn,
        kNoteOff,
        kControlChange,
        kNRPN,
        kProgramChange,
        kPolyPressure,
        kPitchWheel,
        kChannelPressure,
        kKindCount
    };
    // `number` of AddRegistration for the list that receives every message;
    // the request functions keep numbers above it.
    static constexpr int kEveryNumber = INT32_MIN;

    // Keeps only the addresses of the owner, the queue and the OSC helper
    // (which may be null): the owner builds them after this helper. The owner
    // may be null too (no user scripts, no parameters set).
    LuaMIDIHelper(ObryAuBase* owner, MessageQueue* midiQueue, OSCHelper* oscHelper);
    virtual ~LuaMIDIHelper();
    LuaMIDIHelper(const LuaMIDIHelper&) = delete;
    LuaMIDIHelper& operator=(const LuaMIDIHelper&) = delete;

    // Audio thread. Channel 0-15. The base class serves the scripts'
    // registrations; the plug-in's helper calls the plug-in's hooks instead.
    virtual void NoteOn(int channel, int note, int velocity);
    virtual void NoteOff(int channel, int note, int velocity);
    // Also assembles NRPN numbers and values from controllers 99, 98, 6, 38.
    virtual void ControlChange(int channel, int controller, int value);
    virtual void PitchWheel(int channel, int lsb, int msb);
    // Audio thread: one queue-A item at its frame.
    virtual void ProcessMidiEvent(MessageQueueItem* item);
    virtual bool isParameterUsed(int32_t index);
    // Indicator flags 0-7 of the owner's editor.
    virtual void setGUIBoolValue(int index, bool value) = 0;
    virtual bool getGUIBoolValue(int index) = 0;
    // A scale from the Lua "addScale" (Lua lock held); the plug-in's helper
    // hands it to the plug-in. May allocate and throw.
    virtual void AddScale(const char*, uint16_t) {}
    // Adds the subclass's own Lua globals; runs once while the state is made,
    // with the Lua lock held (LuaState() is valid).
    virtual void RegisterFunctions() {}

    // Audio thread; always reach the scripts' registrations.
    void ChannelPressure(int channel, int pressure);
    void ProgramChange(int channel, int program);
    void PolyPressure(int channel, int note, int pressure);

    // Host thread (effProcessEvents): queues the events; answers 1.
    int32_t processEvents(const VstEvents* events);

    // Set by the owner's Initialize before the state is made.
    void SetParameterTable(int32_t count, const ParameterInfo* table)
    {
        parameterCount = table && count > 0 ? count : 0;
        parameterTable = table;
    }
    int32_t ParameterCount() const { return parameterCount; }
    const ParameterInfo* ParameterTable() const { return parameterTable; }

    // Makes the state and runs the scripts on the first call; later calls
    // return the same state. Null only when Lua could not make a state. Not
    // on the audio thread (loads files, allocates).
    lua_State* setupLua();
    // Frees the state and the name map. Not on the audio thread.
    void closeLua();

    // The Lua lock. Callers that push a function and arguments take it first
    // and hold it across CallLocked.
    std::recursive_mutex& LuaLock() { return luaLock; }
    // The state (null before setupLua). Use only with the Lua lock held.
    lua_State* LuaState() const { return luaState; }

    // Calls the function below `argumentCount` pushed arguments with no
    // results, under the time limit, holding the Lua lock. Leaves the stack
    // as it was before the function was pushed; on failure copies the error
    // text to *errorText when given. Returns lua_pcall's status.
    int CallLocked(int argumentCount, std::string* errorText = nullptr);

    // Lua lock held. lua_cpcall(body, context) behind a recovery point for
    // the panic function; LUA_ERRRUN when the state panicked. Every call
    // from C++ into the state goes through here.
    int RunProtected(int (*body)(lua_State*), void* context);

    // For the Lua functions (Lua lock held). Null when the state has no
    // helper.
    static LuaMIDIHelper* GetHelper(lua_State* state);
    // The index of a parameter name; raises "parameter not found: '%s'".
    static int32_t LookupParameterID(lua_State* state, const char* name);

    // Lua lock held (called by the request functions). Appends a registry
    // reference to the list of `kind`, or of `number` within it; false when
    // the state has kMaxRegistrations already. Throws std::bad_alloc when
    // memory runs out.
    bool AddRegistration(Kind kind, int number, int reference);

    // Any thread: whether every message handed over from the audio thread
    // has been served.
    bool HandOverEmpty() const
    {
        return handOverRead.load(std::memory_order_acquire) == handOverWrite.load(std::memory_order_acquire);
    }

    // Whether the MIDI callbacks were stopped for overrunning their budget.
    bool CallbacksStopped() const { return callbacksStopped.load(std::memory_order_acquire); }
    // Messages handed over so far, and those dropped because the hand-over
    // ring was full (diagnostics and tests).
    uint32_t HandedOverCount() const { return handOverWrite.load(std::memory_order_acquire); }
    uint32_t DroppedCount() const { return handOverDropped.load(std::memory_order_acquire); }

    ObryAuBase* Owner() const { return owner; }
    OSCHelper* GetOSCHelper() const { return oscHelper; }

    // A script's timer: the registry reference of its function and the
    // queue's timer. Owned by the timer set until the timer ends or is
    // cancelled. Timers are named by serial numbers that are never reused,
    // so a late callback or a kept Lua handle can never reach a newer timer.
    using TimerSerial = uint64_t; // 0 is never a timer
    struct TimerRecord {
        LuaMIDIHelper* helper;
        int reference;
        corvane::platform::TimerQueue::TimerId handle;
        bool periodic; // false for one-shot timers and periods of 0 ms
    };

    // Lua lock held (the timer functions). Calls the function of `reference`
    // after `milliseconds` and then, when periodic, every `milliseconds`
    // (clamped to 0 .. 2^31 - 1; a period of 0 fires once). The timer owns
    // the reference from then on. 0 when no timer could be made (timers
    // stopped, no thread, no memory); the reference stays the caller's.
    TimerSerial StartTimerLocked(int reference, int64_t milliseconds, bool periodic) noexcept;
    // Lua lock held. Ends the timer when it still runs, without waiting for
    // a callback in progress (which will then not call Lua); returns true
    // and hands back the function's reference, now the caller's to release.
    // False for a timer that has ended or was cancelled.
    bool CancelTimerLocked(TimerSerial serial, int* reference) noexcept;
    // Asks the hand-over thread and the timers to end for good, without
    // waiting: no timer fires again and no new one starts (messages handed
    // over before are still served).
    void RequestStop();
    // Ends every timer and the hand-over thread for good: waits for a
    // callback in progress, releases the functions, and refuses new timers
    // from then on (messages handed over before are served first). Called by
    // the owner's Cleanup (the host's UI thread, or the thread that frees a
    // closed plug-in) and by the destructor. The caller must hold neither the
    // Lua lock nor the timer lock: a callback in progress may be waiting for
    // either, and this waits for it - up to `limit` in all (kNoTimeLimit: no
    // limit). False while a callback still runs (blocked inside a C call: a
    // FIFO, a program): it comes back into this helper, which the owner must
    // keep; a later call waits for it again.
    bool StopTimers(std::chrono::milliseconds limit = corvane::platform::WorkerThread::kDefaultStopTimeout);
    // Whether a thread is inside a call into the state now (holds the Lua
    // lock): after a stop that timed out, a script blocked in a call.
    bool ScriptCallRunning();
    // Gives up on a callback that does not end (the destructor's last
    // resort): the state, its lock and the timer queue stay for it, never
    // freed, and the module stays mapped.
    void Abandon();
    // Whether Abandon ran.
    bool Abandoned() const { return abandoned; }
    // Live timers (diagnostics and tests).
    size_t TimerCount();

protected:
    ObryAuBase* owner;
    MessageQueue* midiQueue;
    OSCHelper* oscHelper;
    int32_t parameterCount = 0;
    const ParameterInfo* parameterTable = nullptr;

private:
    struct Registrations {
        std::vector<int> every;
        std::map<int, std::vector<int>> byNumber;
        // Every registration of the kind; read without the lock by the audio
        // thread to skip Lua work when nothing is registered.
        std::atomic<int> count{0};
    };
    using NameMap = std::map<std::string, int32_t, std::less<>>;

    // Steps of setupLua that may raise; run under lua_cpcall.
    static int SetupProtected(lua_State* state);
    void LoadScripts();
    // Runs the chunk on top of the stack with no arguments; the time limit is
    // kLoadTimeLimitMs.
    int RunChunk(const char* failureFormat);
    static int LoadChunkProtected(lua_State* state);
    // lua_pcall with `limitMs` as the time limit (the outermost call sets it).
    int ProtectedCall(int argumentCount, int limitMs);
    int ProtectedCallUntil(int argumentCount, ScriptClock::time_point until);
    // Lua lock held, protected: calls registry function `reference` with
    // `argumentCount` numbers, then releases the reference when asked; a
    // failure is printed when `report`.
    struct ReferenceCall;
    static int CallReferenceProtected(lua_State* state);
    int CallReference(int reference, const double* arguments, int argumentCount, bool release, bool report,
                      ScriptClock::time_point until);
    static int ReleaseReferencesProtected(lua_State* state);

    // A message whose callbacks are still to be called.
    struct PendingMessage {
        Kind kind;
        int number;
        int argumentCount;
        double arguments[3];
    };
    // Audio thread: hands the message over to the hand-over thread (no Lua,
    // no lock, no allocation); a full ring drops it and counts the drop.
    void Deliver(Kind kind, int number, const double* arguments, int argumentCount);
    // Lua lock held. The list of every message, then the list of `number`,
    // each as long as it was when the message came: callbacks that register
    // more are not served them for this message. All of them together get
    // kCallbackBudgetMs of the thread's time: the clock is read between two
    // callbacks too, so neither many short callbacks nor one long C call
    // inside a callback escapes the budget.
    void ServeLocked(const PendingMessage& message);
    // Audio thread: false when the ring is full.
    bool HandOver(const PendingMessage& message);
    void HandOverMain(corvane::platform::Event& quit);

    static int Panic(lua_State* state);
    static int NotWhileLoading(lua_State* state);
    // xpcall whose message handler is skipped once the call is past its time
    // limit: Lua runs handlers with hooks off, so a looping handler could not
    // be stopped.
    static int GuardedXpcall(lua_State* state);
    static int StopAwareHandler(lua_State* state);

    lua_State* luaState = nullptr;
    std::recursive_mutex luaLock;
    std::array<Registrations, kKindCount> registrations;
    NameMap* parameterLookup = nullptr;

    // NRPN assembly: one set for all channels. Audio thread only.
    uint8_t nrpnNumberLSB = 0;
    uint8_t nrpnNumberMSB = 0;
    uint8_t nrpnValueLSB = 0;
    uint8_t nrpnValueMSB = 0;

    // Audio thread writes, the hand-over thread reads.
    PendingMessage handOver[kHandOverSize] = {};
    std::atomic<uint32_t> handOverWrite{0};
    std::atomic<uint32_t> handOverRead{0};
    std::atomic<uint32_t> handOverDropped{0};
    corvane::platform::Event handOverWake;
    corvane::platform::WorkerThread handOverThread{"Lua MIDI hand-over"};
    std::atomic<bool> callbacksStopped{false};
    // Set by Abandon (controlling thread only).
    bool abandoned = false;
    // While LoadScripts runs (Lua lock held).
    bool loadingScripts = false;

    // Guarded by the Lua lock.
    ScriptLimits limits{ScriptLimits::Clock::Processor, kMemoryLimitBytes};
    size_t registrationTotal = 0;

    // Timer queue thread: one firing of the timer `serial`.
    void OnTimer(TimerSerial serial);

    // Made with the helper; its thread starts with the first timer. Deleted
    // by the destructor, without the timer lock, before the state closes.
    std::unique_ptr<corvane::platform::TimerQueue> timerQueue;
    std::mutex timerLock;
    std::map<TimerSerial, TimerRecord> timers; // guarded by timerLock
    TimerSerial nextTimerSerial = 1;           // guarded by timerLock
};

} // namespace QZ
