#include "scripting/LuaMIDIHelper.h"

#include <lua.hpp>

#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "framework/InstanceRegistry.h"
#include "framework/ObryProperties.h"
#include "platform/Debug.h"
#include "platform/Resources.h"
#include "platform/UserFolders.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaPrint.h"
#include "scripting/LuaSandbox.h"

namespace QZ {

namespace {

constexpr uint32_t kScriptResourceType = 256;
constexpr uint32_t kMidiScriptResourceId = 136;

const char* FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path.c_str() : path.c_str() + slash + 1;
}

const char* ErrorText(lua_State* state)
{
    const char* text = lua_tostring(state, -1);
    return text ? text : "(error object is not a string)";
}

// The recovery point of the innermost RunProtected of this thread.
thread_local std::jmp_buf* tPanicRecovery = nullptr;

// What a script's load runs: a POD, since a Lua error unwinds past C++
// destructors.
struct ChunkLoad {
    LuaMIDIHelper* helper;
    const char* path;   // a file, or null for the buffer
    const char* buffer;
    size_t size;
    const char* failureFormat;
};

} // namespace

// Lua ends the process when this returns. Every call from C++ into the state
// runs inside RunProtected, so an error outside Lua's own protection lands
// here only with a recovery point to jump to.
int LuaMIDIHelper::Panic(lua_State* state)
{
    corvane::DebugPrintf("PANIC: unprotected error in call to Lua API (%s)\n", ErrorText(state));
    if (tPanicRecovery)
        std::longjmp(*tPanicRecovery, 1);
    // No C++ caller to go back to: the thread must not go on into exit().
    corvane::DebugPrintf("PANIC outside a protected entry: the Lua thread parks\n");
    for (;;)
        pause();
}

int LuaMIDIHelper::RunProtected(int (*body)(lua_State*), void* context)
{
    std::jmp_buf recovery;
    std::jmp_buf* const outer = tPanicRecovery;
    tPanicRecovery = &recovery;
    int status = LUA_ERRRUN;
    if (setjmp(recovery) == 0)
        status = lua_cpcall(luaState, body, context);
    tPanicRecovery = outer;
    return status;
}

LuaMIDIHelper::LuaMIDIHelper(ObryAuBase* owner, MessageQueue* midiQueue, OSCHelper* oscHelper)
    : owner(owner),
      midiQueue(midiQueue),
      oscHelper(oscHelper),
      timerQueue(std::make_unique<corvane::platform::TimerQueue>("Lua MIDI timers"))
{
}

LuaMIDIHelper::~LuaMIDIHelper()
{
    // The timers go first, without the timer lock (a running callback takes
    // it): they call into the state that closes below.
    if (abandoned || !StopTimers()) {
        Abandon();
        return;
    }
    timerQueue.reset();
    closeLua();
}

void LuaMIDIHelper::Abandon()
{
    if (abandoned)
        return;
    abandoned = true;
    // A callback still runs in this helper's state and queue: neither may
    // go (nor may the lock it holds be waited for), and it may come back at
    // any time.
    corvane::platform::PinThisModule();
    (void)timerQueue.release();
    corvane::DebugPrintf("Lua MIDI: a script is blocked and was left running; its state stays open\n");
}

bool LuaMIDIHelper::isParameterUsed(int32_t)
{
    return true;
}

// ---------------------------------------------------------------------------
// The Lua state. UI thread (Initialize) and destruction; never the audio
// thread.

lua_State* LuaMIDIHelper::setupLua()
{
    std::lock_guard<std::recursive_mutex> lock(luaLock);
    if (luaState)
        return luaState;

    // The name map: a later duplicate name wins.
    parameterLookup = new NameMap;
    for (int32_t i = 0; i < parameterCount; ++i)
        if (parameterTable[i].name)
            (*parameterLookup)[parameterTable[i].name] = i;

    luaState = lua_newstate(ScriptLimits::Allocate, &limits);
    if (!luaState) {
        corvane::DebugPrintf("setupLua: Lua could not make a state\n");
        delete parameterLookup;
        parameterLookup = nullptr;
        return nullptr;
    }
    lua_atpanic(luaState, Panic);
    if (lua_cpcall(luaState, SetupProtected, this) != 0) {
        corvane::DebugPrintf("setupLua: %s\n", ErrorText(luaState));
        closeLua();
        return nullptr;
    }
    LoadScripts();
    if (!handOverThread.IsRunning()) {
        const int error = handOverThread.Start([this](corvane::platform::Event& quit) { HandOverMain(quit); });
        if (error != 0)
            corvane::DebugPrintf("Lua MIDI: no hand-over thread (%d); MIDI that meets a busy state is dropped\n",
                                 error);
    }
    return luaState;
}

int LuaMIDIHelper::SetupProtected(lua_State* state)
{
    auto* helper = static_cast<LuaMIDIHelper*>(lua_touserdata(state, 1));
    luaL_openlibs(state);
    helper->limits.Install(state);
    RestrictLuaLibraries(state);
    InstallLuaPrint(state);
    lua_getglobal(state, "xpcall");
    lua_pushcclosure(state, GuardedXpcall, 1);
    lua_setglobal(state, "xpcall");
    RegisterMIDIFunctions(state);
    luaL_newmetatable(state, kTimerMetatable);
    lua_pop(state, 1);
    SealMetatable(state, kTimerMetatable);
    // Programs run from callbacks (their own thread), never while the
    // scripts load on the host's thread, which no limit could then free.
    for (const auto& [library, function, shown] : {std::array<const char*, 3>{"os", "execute", "os.execute"},
                                                   std::array<const char*, 3>{"io", "popen", "io.popen"}}) {
        lua_getglobal(state, library);
        if (lua_istable(state, -1)) {
            lua_getfield(state, -1, function);
            lua_pushstring(state, shown);
            lua_pushcclosure(state, NotWhileLoading, 2);
            lua_setfield(state, -2, function);
        }
        lua_pop(state, 1);
    }
    helper->RegisterFunctions();

    lua_pushlightuserdata(state, helper);
    lua_setfield(state, LUA_REGISTRYINDEX, kRefconKey);
    lua_pushlightuserdata(state, helper->parameterLookup);
    lua_setfield(state, LUA_REGISTRYINDEX, kParamLookupKey);

    // The same values as the editor's state.
    lua_pushboolean(state, 0);
    lua_setglobal(state, "isMac");
    lua_pushboolean(state, 1);
    lua_setglobal(state, "isWin");
    lua_pushboolean(state, 1);
    lua_setglobal(state, "isVST");
    lua_pushboolean(state, 0);
    lua_setglobal(state, "isAU");
    lua_pushinteger(state, 2);
    lua_setglobal(state, "majorVersion");
    lua_pushinteger(state, 1);
    lua_setglobal(state, "minorVersion");
    lua_pushinteger(state, 0);
    lua_setglobal(state, "dotVersion");
    lua_pushinteger(state, 20100);
    lua_setglobal(state, "version");
    return 0;
}

// os.execute and io.popen (upvalue 1 the library's own, 2 its name):
// refused while the scripts load.
int LuaMIDIHelper::NotWhileLoading(lua_State* state)
{
    const LuaMIDIHelper* helper = GetHelper(state);
    if (helper && helper->loadingScripts)
        return luaL_error(state, "%s is not available while the scripts load; call it from a callback",
                          lua_tostring(state, lua_upvalueindex(2)));
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    return lua_gettop(state);
}

// Lua lock held. The built-in script first, unless the user's folder has a
// "midi.lua" of its own; then the user's scripts in folder order.
void LuaMIDIHelper::LoadScripts()
{
    struct Loading {
        bool& flag;
        explicit Loading(bool& f) : flag(f) { flag = true; }
        ~Loading() { flag = false; }
    } loading(loadingScripts);
    lua_State* state = luaState;
    std::vector<std::string> scripts;
    if (owner) {
        const char* pluginName = nullptr;
        if (owner->GetProperty(kObryProperty_PluginName, 0, 0, &pluginName) == 0 && pluginName)
            scripts = corvane::EnumerateUserScripts(pluginName);
    }

    bool userHasMidiScript = false;
    for (const std::string& path : scripts)
        if (strncasecmp(FileNameOf(path), "midi.lua", 8) == 0)
            userHasMidiScript = true;

    if (!userHasMidiScript) {
        const corvane::platform::EmbeddedResource* resource =
            corvane::platform::FindResource(kScriptResourceType, kMidiScriptResourceId);
        if (!resource) {
            corvane::DebugPrintf("failed to run buffer: %s\n", "the built-in midi.lua is missing");
        } else {
            ChunkLoad load{this, nullptr, reinterpret_cast<const char*>(resource->bytes), resource->size,
                           "failed to run buffer: %s\n"};
            if (RunProtected(LoadChunkProtected, &load) != 0) {
                corvane::DebugPrintf("failed to run buffer: %s\n", ErrorText(state));
                lua_pop(state, 1);
            }
        }
    }

    for (const std::string& path : scripts) {
        ChunkLoad load{this, path.c_str(), nullptr, 0, "failed to run file: %s\n"};
        if (RunProtected(LoadChunkProtected, &load) != 0) {
            corvane::DebugPrintf("failed to run file: %s\n", ErrorText(state));
            lua_pop(state, 1);
        }
    }
    lua_settop(state, 0);
}

// Protected: loads one script and runs it.
int LuaMIDIHelper::LoadChunkProtected(lua_State* state)
{
    const auto& load = *static_cast<const ChunkLoad*>(lua_touserdata(state, 1));
    const int status = load.path ? LoadScriptFile(state, load.path)
                                 : luaL_loadbuffer(state, load.buffer, load.size, "midi.lua");
    if (status != 0) {
        corvane::DebugPrintf(load.failureFormat, ErrorText(state));
        return 0;
    }
    load.helper->RunChunk(load.failureFormat);
    return 0;
}

int LuaMIDIHelper::RunChunk(const char* failureFormat)
{
    const int status = ProtectedCall(0, kLoadTimeLimitMs);
    if (status != 0) {
        corvane::DebugPrintf(failureFormat, ErrorText(luaState));
        lua_pop(luaState, 1);
    }
    return status;
}

void LuaMIDIHelper::closeLua()
{
    if (abandoned)
        return; // a callback left running holds the state
    std::lock_guard<std::recursive_mutex> lock(luaLock);
    if (!luaState)
        return;
    lua_close(luaState);
    luaState = nullptr;
    delete parameterLookup;
    parameterLookup = nullptr;
    registrationTotal = 0;
    // The references named values of the closed state.
    for (Registrations& kind : registrations) {
        kind.count.store(0, std::memory_order_release);
        kind.every.clear();
        kind.byNumber.clear();
    }
}

// ---------------------------------------------------------------------------
// Calls into Lua. Lua lock held.

int LuaMIDIHelper::ProtectedCall(int argumentCount, int limitMs)
{
    return ProtectedCallUntil(argumentCount, ScriptClock::now() + std::chrono::milliseconds(limitMs));
}

int LuaMIDIHelper::ProtectedCallUntil(int argumentCount, ScriptClock::time_point until)
{
    // A call made from inside another one (a Lua function reaching C++ that
    // calls Lua again) runs within the outer call's limit.
    return limits.Run(luaState, until.time_since_epoch(),
                      [&] { return lua_pcall(luaState, argumentCount, 0, 0); });
}

// xpcall(f, handler): the base library's xpcall (upvalue 1) with the handler
// wrapped.
int LuaMIDIHelper::GuardedXpcall(lua_State* state)
{
    lua_settop(state, 2);
    lua_pushvalue(state, 2);
    lua_pushcclosure(state, StopAwareHandler, 1);
    lua_replace(state, 2);
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, 2, LUA_MULTRET);
    return lua_gettop(state);
}

// The script's handler (upvalue 1), unless the error is the time limit's
// stop: that message passes unchanged.
int LuaMIDIHelper::StopAwareHandler(lua_State* state)
{
    if (ScriptLimits::PastLimit(state))
        return 1;
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, 1);
    return 1;
}

int LuaMIDIHelper::CallLocked(int argumentCount, std::string* errorText)
{
    std::lock_guard<std::recursive_mutex> lock(luaLock);
    if (!luaState)
        return LUA_ERRRUN;
    const int base = lua_gettop(luaState) - argumentCount - 1;
    const int status = ProtectedCall(argumentCount, kCallTimeLimitMs);
    if (status != 0) {
        if (errorText)
            *errorText = ErrorText(luaState);
        lua_settop(luaState, base < 0 ? 0 : base);
    }
    return status;
}

LuaMIDIHelper* LuaMIDIHelper::GetHelper(lua_State* state)
{
    lua_getfield(state, LUA_REGISTRYINDEX, kRefconKey);
    void* helper = nullptr;
    if (lua_islightuserdata(state, -1))
        helper = lua_touserdata(state, -1);
    else if (lua_type(state, -1) == LUA_TUSERDATA && lua_objlen(state, -1) >= sizeof helper)
        memcpy(&helper, lua_touserdata(state, -1), sizeof helper);
    lua_pop(state, 1);
    return static_cast<LuaMIDIHelper*>(helper);
}

int32_t LuaMIDIHelper::LookupParameterID(lua_State* state, const char* name)
{
    int32_t index = -1;
    {
        lua_getfield(state, LUA_REGISTRYINDEX, kParamLookupKey);
        const auto* map = static_cast<const NameMap*>(lua_touserdata(state, -1));
        lua_pop(state, 1);
        if (map && name) {
            const auto found = map->find(std::string_view(name));
            if (found != map->end())
                index = found->second;
        }
    }
    if (index < 0)
        return luaL_error(state, "parameter not found: '%s'", name ? name : "");
    return index;
}

bool LuaMIDIHelper::AddRegistration(Kind kind, int number, int reference)
{
    if (registrationTotal >= kMaxRegistrations)
        return false;
    Registrations& list = registrations[kind];
    if (number == kEveryNumber)
        list.every.push_back(reference);
    else
        list.byNumber[number].push_back(reference);
    ++registrationTotal;
    list.count.fetch_add(1, std::memory_order_release);
    return true;
}

// ---------------------------------------------------------------------------
// Host's event thread: queue writes only.

int32_t LuaMIDIHelper::processEvents(const VstEvents* events)
{
    if (!events || events->numEvents <= 0 || !midiQueue)
        return 1;
    // The host's list is longer than the two entries the struct declares.
    VstEvent* const* list = events->events;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = list[i];
        if (!event)
            continue;
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            const int32_t delta = midi->deltaFrames > 0 ? midi->deltaFrames : 0;
            midiQueue->WriteMIDI(static_cast<uint8_t>(midi->midiData[0]), static_cast<uint8_t>(midi->midiData[1]),
                                 static_cast<uint8_t>(midi->midiData[2]), static_cast<uint32_t>(delta));
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            // An empty dump, or one that does not start with 0xF0, is dropped:
            // its length minus the status byte would be meaningless.
            if (sysex->dumpBytes < 1 || !sysex->sysexDump || static_cast<uint8_t>(sysex->sysexDump[0]) != 0xF0)
                continue;
            midiQueue->WriteSysEx(reinterpret_cast<const uint8_t*>(sysex->sysexDump) + 1,
                                  static_cast<uint32_t>(sysex->dumpBytes - 1));
        }
    }
    // One line per list, not per event: a host flooding the queue would
    // otherwise flood the log from its audio thread as well.
    if (const uint32_t dropped = midiQueue->TakeDropped())
        corvane::DebugPrintf("MessageQueue::Write() overflow: %u events dropped\n", dropped);
    return 1;
}

// ---------------------------------------------------------------------------
// Audio thread. The hooks are C++; what some script registered for is
// handed over to the hand-over thread.

void LuaMIDIHelper::ProcessMidiEvent(MessageQueueItem* item)
{
    if (!item || item->type != MessageQueueItem::kShortMIDI)
        return;
    const int status = item->data[0];
    const int channel = item->data[1];
    const int data1 = item->data[2];
    const int data2 = item->data[3];
    switch (status) {
    case 0x80: NoteOff(channel, data1, data2); break;
    case 0x90:
        if (data2 == 0)
            NoteOff(channel, data1, 0);
        else
            NoteOn(channel, data1, data2);
        break;
    case 0xA0: PolyPressure(channel, data1, data2); break;
    case 0xB0: ControlChange(channel, data1, data2); break;
    case 0xC0: ProgramChange(channel, data1); break;
    case 0xD0: ChannelPressure(channel, data1); break;
    case 0xE0: PitchWheel(channel, data1, data2); break;
    default: break;
    }
    if (owner)
        InstanceRegistry::HandleMIDIMessage(item, owner);
}

void LuaMIDIHelper::NoteOn(int channel, int note, int velocity)
{
    const double arguments[] = {double(channel + 1), double(note), double(velocity)};
    Deliver(kNoteOn, note, arguments, 3);
}

void LuaMIDIHelper::NoteOff(int channel, int note, int velocity)
{
    const double arguments[] = {double(channel + 1), double(note), double(velocity)};
    Deliver(kNoteOff, note, arguments, 3);
}

void LuaMIDIHelper::ControlChange(int channel, int controller, int value)
{
    const auto byte = static_cast<uint8_t>(value & 0x7F);
    bool dataEntry = false;
    switch (controller) {
    case 99: nrpnNumberMSB = byte; break;
    case 98: nrpnNumberLSB = byte; break;
    case 6:
        nrpnValueMSB = byte;
        dataEntry = true;
        break;
    case 38:
        nrpnValueLSB = byte;
        dataEntry = true;
        break;
    default: break;
    }
    if (dataEntry) {
        const int number = nrpnNumberMSB * 128 + nrpnNumberLSB;
        const int nrpnValue = nrpnValueMSB * 128 + nrpnValueLSB;
        const double arguments[] = {double(channel + 1), double(number), double(nrpnValue)};
        Deliver(kNRPN, number, arguments, 3);
    }
    const double arguments[] = {double(channel + 1), double(controller), double(value)};
    Deliver(kControlChange, controller, arguments, 3);
}

void LuaMIDIHelper::PitchWheel(int channel, int lsb, int msb)
{
    const double arguments[] = {double(channel + 1), double(msb * 128 + lsb)};
    Deliver(kPitchWheel, kEveryNumber, arguments, 2);
}

void LuaMIDIHelper::ChannelPressure(int channel, int pressure)
{
    const double arguments[] = {double(channel + 1), double(pressure)};
    Deliver(kChannelPressure, kEveryNumber, arguments, 2);
}

void LuaMIDIHelper::ProgramChange(int channel, int program)
{
    const double arguments[] = {double(channel + 1), double(program)};
    Deliver(kProgramChange, program, arguments, 2);
}

void LuaMIDIHelper::PolyPressure(int channel, int note, int pressure)
{
    const double arguments[] = {double(channel + 1), double(note), double(pressure)};
    Deliver(kPolyPressure, note, arguments, 3);
}

// Audio thread: no allocation, no Lua, no lock.
void LuaMIDIHelper::Deliver(Kind kind, int number, const double* arguments, int argumentCount)
{
    if (registrations[kind].count.load(std::memory_order_acquire) == 0 ||
        callbacksStopped.load(std::memory_order_acquire))
        return;
    PendingMessage message{kind, number, argumentCount, {0.0, 0.0, 0.0}};
    for (int a = 0; a < argumentCount && a < 3; ++a)
        message.arguments[a] = arguments[a];
    if (!HandOver(message))
        handOverDropped.fetch_add(1, std::memory_order_relaxed);
}

bool LuaMIDIHelper::HandOver(const PendingMessage& message)
{
    const uint32_t write = handOverWrite.load(std::memory_order_relaxed);
    if (write - handOverRead.load(std::memory_order_acquire) >= kHandOverSize)
        return false;
    handOver[write % kHandOverSize] = message;
    handOverWrite.store(write + 1, std::memory_order_release);
    handOverWake.Set();
    return true;
}

// The hand-over thread: serves the scripts' MIDI registrations, in the order
// the audio thread delivered the messages. The read index moves past a
// message only once it has been served.
void LuaMIDIHelper::HandOverMain(corvane::platform::Event& quit)
{
    corvane::platform::Event* const events[] = {&quit, &handOverWake};
    uint32_t droppedReported = 0;
    for (;;) {
        // What was delivered before the quit is still served (the host sent
        // it before it closed the plug-in); each message within its budget.
        const bool quitting = corvane::platform::WaitAny(events, 2, corvane::platform::kWaitForever) != 1;
        uint32_t read = handOverRead.load(std::memory_order_relaxed);
        while (read != handOverWrite.load(std::memory_order_acquire)) {
            const PendingMessage message = handOver[read % kHandOverSize];
            {
                std::lock_guard<std::recursive_mutex> lock(luaLock);
                if (luaState && !callbacksStopped.load(std::memory_order_acquire))
                    ServeLocked(message);
            }
            handOverRead.store(++read, std::memory_order_release);
        }
        const uint32_t dropped = handOverDropped.load(std::memory_order_relaxed);
        if (dropped != droppedReported) {
            corvane::DebugPrintf("Lua MIDI: %u messages dropped, the hand-over was full\n", dropped - droppedReported);
            droppedReported = dropped;
        }
        if (quitting || quit.Wait(0)) {
            quit.Set();
            return;
        }
    }
}

namespace {

// The registry references of one list at the time a message came.
struct ListView {
    const std::vector<int>* references;
    size_t count;
};

} // namespace

void LuaMIDIHelper::ServeLocked(const PendingMessage& message)
{
    const Registrations& list = registrations[message.kind];
    ListView views[2] = {{&list.every, list.every.size()}, {nullptr, 0}};
    if (message.number != kEveryNumber) {
        const auto found = list.byNumber.find(message.number);
        if (found != list.byNumber.end())
            views[1] = {&found->second, found->second.size()};
    }
    const auto until = ScriptClock::now() + std::chrono::milliseconds(kCallbackBudgetMs);
    for (const ListView& view : views) {
        // By index: a callback may register more functions, which may move
        // the list (those are not served this message).
        for (size_t i = 0; i < view.count; ++i) {
            if (callbacksStopped.load(std::memory_order_relaxed))
                return;
            const int status = CallReference((*view.references)[i], message.arguments, message.argumentCount,
                                             false, true, until);
            if ((status != 0 && limits.StoppedByLimit()) || ScriptClock::now() >= until) {
                callbacksStopped.store(true, std::memory_order_release);
                corvane::DebugPrintf("Lua MIDI callbacks stopped: they ran past their %d ms budget; they run again "
                                     "when the plug-in is loaded anew\n",
                                     kCallbackBudgetMs);
                return;
            }
        }
    }
}

struct LuaMIDIHelper::ReferenceCall {
    LuaMIDIHelper* helper;
    int reference;
    const double* arguments;
    int argumentCount;
    bool release;
    bool report;
    ScriptClock::time_point until;
    int status;
};

// Protected (RunProtected): the pushes, the call and the release can each
// raise (a full stack or memory), and must not reach the panic function.
int LuaMIDIHelper::CallReferenceProtected(lua_State* state)
{
    auto& call = *static_cast<ReferenceCall*>(lua_touserdata(state, 1));
    lua_settop(state, 0);
    luaL_checkstack(state, call.argumentCount + 2, "too many arguments");
    lua_rawgeti(state, LUA_REGISTRYINDEX, call.reference);
    for (int a = 0; a < call.argumentCount; ++a)
        lua_pushnumber(state, call.arguments[a]);
    call.status = call.helper->ProtectedCallUntil(call.argumentCount, call.until);
    if (call.status != 0) {
        if (call.report)
            corvane::DebugPrintf("Lua MIDI callback failed: %s\n", ErrorText(state));
        lua_pop(state, 1);
    }
    if (call.release)
        luaL_unref(state, LUA_REGISTRYINDEX, call.reference);
    return 0;
}

int LuaMIDIHelper::CallReference(int reference, const double* arguments, int argumentCount, bool release,
                                 bool report, ScriptClock::time_point until)
{
    ReferenceCall call{this, reference, arguments, argumentCount, release, report, until, LUA_ERRRUN};
    const int top = lua_gettop(luaState);
    const int status = RunProtected(CallReferenceProtected, &call);
    if (status != 0)
        corvane::DebugPrintf("Lua MIDI call failed: %s\n", ErrorText(luaState));
    lua_settop(luaState, top);
    return status != 0 ? status : call.status;
}

int LuaMIDIHelper::ReleaseReferencesProtected(lua_State* state)
{
    const auto& references = *static_cast<const std::vector<int>*>(lua_touserdata(state, 1));
    for (const int reference : references)
        luaL_unref(state, LUA_REGISTRYINDEX, reference);
    return 0;
}

} // namespace QZ
