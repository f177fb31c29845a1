#include "scripting/ScriptLimits.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <pthread.h>

#include "platform/Debug.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"

namespace QZ {

namespace {

// Registry keys (their addresses): the limits, and the library's resume.
const char kLimitsKey = 0;

void PushRegistryValue(lua_State* state, const char* key)
{
    lua_pushlightuserdata(state, const_cast<char*>(key));
    lua_rawget(state, LUA_REGISTRYINDEX);
}

ScriptLimits::Time ThreadTime(clockid_t clock)
{
    timespec spent{};
    clock_gettime(clock, &spent);
    return ScriptLimits::Time(int64_t{spent.tv_sec} * 1000000000 + spent.tv_nsec);
}

ScriptLimits::Time SteadyTime()
{
    return std::chrono::duration_cast<ScriptLimits::Time>(std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

// The thread that interrupts calls still running at their deadline. It runs
// while any state with limits exists (started with the first, ended with
// the last), so closing the last instance leaves no thread behind.
class ScriptWatch {
public:
    static ScriptWatch& Instance()
    {
        static ScriptWatch watch;
        return watch;
    }

    // Guards the calls and what the watch reads of their limits.
    std::mutex lock;

    // A state with limits is made, or goes.
    void StateMade()
    {
        std::lock_guard<std::mutex> hold(control);
        if (states++ == 0)
            if (const int error = thread.Start([this](corvane::platform::Event& quit) { Main(quit); }))
                corvane::DebugPrintf("Lua: no time limit watch (%d); long instructions run to the next hook\n",
                                     error);
    }
    void StateGone()
    {
        std::lock_guard<std::mutex> hold(control);
        if (--states == 0)
            thread.Stop();
    }

    // Lock held. A call starts or ends.
    void Add(ScriptLimits* limits)
    {
        active.push_back(limits);
        if (sleeping) {
            sleeping = false;
            wake.Set();
        }
    }
    void Remove(ScriptLimits* limits) { std::erase(active, limits); }

private:
    // A look at least this often while calls run: they are many and short,
    // and waking the thread for each would cost more than the looks.
    static constexpr int64_t kLookEveryMs = 100;

    void Main(corvane::platform::Event& quit)
    {
        corvane::platform::Event* const events[] = {&quit, &wake};
        int64_t waitMs = 0;
        while (corvane::platform::WaitAny(events, 2, waitMs) != 0) {
            std::lock_guard<std::mutex> hold(lock);
            waitMs = LookLocked();
        }
    }

    // Interrupts the calls past their deadline; the wait until the next look.
    int64_t LookLocked()
    {
        int64_t waitMs = corvane::platform::kWaitForever;
        for (ScriptLimits* limits : active) {
            if (limits->interrupted)
                continue;
            const ScriptLimits::Time now = limits->clock == ScriptLimits::Clock::Processor
                                               ? ThreadTime(limits->threadClock)
                                               : SteadyTime();
            const ScriptLimits::Time left = ScriptLimits::Time(limits->deadline.load(std::memory_order_relaxed)) - now;
            if (left <= ScriptLimits::Time::zero()) {
                // Lua lets a hook be set from outside the running thread (a
                // signal handler does it): the thread sees it at its next
                // instruction, call or return.
                for (lua_State* state : limits->running)
                    lua_sethook(state, ScriptLimits::Hook, LUA_MASKCOUNT | LUA_MASKCALL | LUA_MASKRET, 1);
                limits->interrupted = true;
                continue;
            }
            // A processor-time limit cannot end sooner than the same wall time.
            const int64_t leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            waitMs = waitMs < 0 ? leftMs : std::min(waitMs, leftMs);
        }
        if (active.empty()) {
            sleeping = true;
            return corvane::platform::kWaitForever;
        }
        return waitMs < 0 ? kLookEveryMs : std::min(waitMs, kLookEveryMs);
    }

    std::vector<ScriptLimits*> active; // calls running; guarded by lock
    bool sleeping = false;             // waiting for a call to start; guarded by lock
    corvane::platform::Event wake;
    // Starts and stops the thread (never taken inside `lock`).
    std::mutex control;
    int states = 0; // guarded by control
    corvane::platform::WorkerThread thread{"Lua time watch"};
};

ScriptClock::time_point ScriptClock::now() noexcept
{
    return time_point(ThreadTime(CLOCK_THREAD_CPUTIME_ID));
}

ScriptLimits::~ScriptLimits()
{
    if (installed)
        ScriptWatch::Instance().StateGone();
}

ScriptLimits::Time ScriptLimits::Now() const
{
    return clock == Clock::Processor ? ScriptClock::now().time_since_epoch() : SteadyTime();
}

void* ScriptLimits::Allocate(void* limitsPointer, void* block, size_t oldSize, size_t newSize)
{
    auto* limits = static_cast<ScriptLimits*>(limitsPointer);
    if (newSize == 0) {
        free(block);
        limits->bytes -= oldSize;
        return nullptr;
    }
    if (newSize > oldSize && limits->bytes - oldSize + newSize > limits->memoryLimit)
        return nullptr; // Lua raises "not enough memory"
    void* moved = realloc(block, newSize);
    if (!moved)
        return newSize <= oldSize ? block : nullptr; // a failed shrink keeps the old block
    limits->bytes = limits->bytes - oldSize + newSize;
    return moved;
}

void ScriptLimits::Install(lua_State* state)
{
    lua_pushlightuserdata(state, const_cast<char*>(&kLimitsKey));
    lua_pushlightuserdata(state, this);
    lua_rawset(state, LUA_REGISTRYINDEX);
    lua_getglobal(state, "coroutine");
    if (lua_istable(state, -1)) {
        lua_getfield(state, -1, "resume");
        lua_pushcclosure(state, Resume, 1);
        lua_pushvalue(state, -1);
        lua_setfield(state, -3, "resume");
        // wrap's function resumes through that resume (upvalue 2).
        lua_getfield(state, -2, "create");
        lua_insert(state, -2);
        lua_pushcclosure(state, Wrap, 2);
        lua_setfield(state, -2, "wrap");
    }
    lua_pop(state, 1);
    lua_sethook(state, Hook, LUA_MASKCOUNT, kHookInstructionCount);
    if (!installed) {
        ScriptWatch::Instance().StateMade();
        installed = true;
    }
}

ScriptLimits* ScriptLimits::For(lua_State* state)
{
    PushRegistryValue(state, &kLimitsKey);
    auto* limits = static_cast<ScriptLimits*>(lua_touserdata(state, -1));
    lua_pop(state, 1);
    return limits;
}

bool ScriptLimits::Enter(lua_State* state, Time newDeadline)
{
    if (depth++ > 0)
        return false;
    deadline.store(newDeadline.count(), std::memory_order_relaxed);
    stoppedByLimit = false;
    // A stop left every instruction hooked.
    lua_sethook(state, Hook, LUA_MASKCOUNT, kHookInstructionCount);
    ScriptWatch& watch = ScriptWatch::Instance();
    std::lock_guard<std::mutex> hold(watch.lock);
    pthread_getcpuclockid(pthread_self(), &threadClock);
    running.assign(1, state);
    interrupted = false;
    watch.Add(this);
    return true;
}

void ScriptLimits::Leave()
{
    --depth;
    ScriptWatch& watch = ScriptWatch::Instance();
    std::lock_guard<std::mutex> hold(watch.lock);
    watch.Remove(this);
    running.clear();
}

bool ScriptLimits::PastLimit(lua_State* state)
{
    const ScriptLimits* limits = For(state);
    return limits && limits->depth > 0 && limits->Now().count() >= limits->deadline.load(std::memory_order_relaxed);
}

int ScriptLimits::Stop(lua_State* state, int level)
{
    stoppedByLimit = true;
    // From now on every instruction raises, so a pcall inside the script
    // cannot swallow the stop and carry on.
    lua_sethook(state, Hook, LUA_MASKCOUNT, 1);
    luaL_where(state, level);
    if (lua_objlen(state, -1) == 0) { // a C function's call or return: the script's place is above it
        lua_pop(state, 1);
        luaL_where(state, level + 1);
    }
    lua_pushstring(state, kStopMessage);
    lua_concat(state, 2);
    return lua_error(state);
}

// Runs inside the Lua VM of the state or of one of its coroutines: every
// kHookInstructionCount instructions, and after the watch's interruption at
// every instruction, call and return.
void ScriptLimits::Hook(lua_State* state, lua_Debug*)
{
    ScriptLimits* limits = For(state);
    if (limits && limits->depth > 0 && limits->Now().count() >= limits->deadline.load(std::memory_order_relaxed))
        limits->Stop(state, 0);
    if (lua_gethookmask(state) != LUA_MASKCOUNT || lua_gethookcount(state) != kHookInstructionCount)
        lua_sethook(state, Hook, LUA_MASKCOUNT, kHookInstructionCount);
}

void ScriptLimits::Check(lua_State* state)
{
    ScriptLimits* limits = For(state);
    if (!limits || limits->depth == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < limits->nextCheck)
        return;
    limits->nextCheck = now + std::chrono::milliseconds(1);
    if (limits->Now().count() >= limits->deadline.load(std::memory_order_relaxed))
        limits->Stop(state, 1);
}

void ScriptLimits::ChargeWait(lua_State* state, Time waited)
{
    ScriptLimits* limits = For(state);
    if (limits && limits->depth > 0 && limits->clock == Clock::Processor && waited > Time::zero())
        limits->deadline.fetch_sub(waited.count(), std::memory_order_relaxed);
}

// coroutine.resume(co, ...) with upvalue 1 the library's own.
int ScriptLimits::Resume(lua_State* state)
{
    lua_State* thread = lua_tothread(state, 1);
    luaL_argcheck(state, thread, 1, "coroutine expected");
    ScriptLimits* limits = For(state);
    const bool tracked = limits && limits->depth > 0;
    if (tracked) {
        std::lock_guard<std::mutex> hold(ScriptWatch::Instance().lock);
        limits->running.push_back(thread);
    }
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    // Protected, so that the thread leaves the list whatever happens.
    const int status = lua_pcall(state, lua_gettop(state) - 1, LUA_MULTRET, 0);
    if (tracked) {
        std::lock_guard<std::mutex> hold(ScriptWatch::Instance().lock);
        limits->running.pop_back();
    }
    if (status != 0)
        return lua_error(state);
    return lua_gettop(state);
}

// The function coroutine.wrap returns: upvalue 1 the coroutine, upvalue 2
// Resume. As the library's: the coroutine's results, or its error raised
// again with the caller's position.
int ScriptLimits::WrappedResume(lua_State* state)
{
    lua_pushvalue(state, lua_upvalueindex(2));
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    if (!lua_toboolean(state, 1)) {
        if (lua_isstring(state, 2)) {
            luaL_where(state, 1);
            lua_insert(state, 2);
            lua_concat(state, 2);
        }
        lua_settop(state, 2);
        return lua_error(state);
    }
    return lua_gettop(state) - 1;
}

// coroutine.wrap(f) with upvalue 1 the library's create, 2 Resume.
int ScriptLimits::Wrap(lua_State* state)
{
    luaL_argcheck(state, lua_isfunction(state, 1) && !lua_iscfunction(state, 1), 1, "Lua function expected");
    lua_settop(state, 1);
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, 1, 1);
    lua_pushvalue(state, lua_upvalueindex(2));
    lua_pushcclosure(state, WrappedResume, 2);
    return 1;
}

} // namespace QZ
