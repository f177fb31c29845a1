// Timers of the Lua MIDI state: time(), requestTimedCallback,
// requestPeriodicCallback, cancelTimer, and the helper's timer set.
//
// Locks, in the only order they are ever nested: the Lua lock, then the
// timer lock, then the timer queue's own lock. The Lua functions run with the
// Lua lock held and take the timer lock inside it; a timer callback takes the
// timer lock, leaves it, and only then takes the Lua lock. Nothing waits for
// a timer callback while holding either lock.
#include <lua.hpp>

#include <cmath>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Debug.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"

namespace QZ {

using corvane::platform::TimerQueue;

// ---------------------------------------------------------------------------
// The helper's timer set.

LuaMIDIHelper::TimerSerial LuaMIDIHelper::StartTimerLocked(int reference, int64_t milliseconds, bool periodic) noexcept
{
    if (milliseconds < 0)
        milliseconds = 0;
    if (milliseconds > TimerQueue::kMaxIntervalMs)
        milliseconds = TimerQueue::kMaxIntervalMs;
    if (!timerQueue)
        return 0;
    try {
        // The record is in the set before the timer exists, and the timer
        // lock is held until its handle is stored: a callback that fires at
        // once waits for the lock and then finds the whole record.
        std::lock_guard<std::mutex> lock(timerLock);
        const TimerSerial serial = nextTimerSerial++;
        const auto inserted = timers.emplace(serial, TimerRecord{this, reference, 0, periodic && milliseconds > 0});
        TimerQueue::TimerId handle = 0;
        try {
            handle = timerQueue->Add(milliseconds, periodic ? milliseconds : 0,
                                     [this, serial](TimerQueue::TimerId) { OnTimer(serial); });
        } catch (...) {
            handle = 0;
        }
        if (handle == 0) {
            timers.erase(inserted.first);
            return 0;
        }
        inserted.first->second.handle = handle;
        return serial;
    } catch (...) {
        return 0; // no memory for the record
    }
}

bool LuaMIDIHelper::CancelTimerLocked(TimerSerial serial, int* reference) noexcept
{
    std::lock_guard<std::mutex> lock(timerLock);
    const auto found = timers.find(serial);
    if (found == timers.end())
        return false;
    if (timerQueue)
        timerQueue->Cancel(found->second.handle);
    *reference = found->second.reference;
    timers.erase(found);
    return true;
}

namespace {

// Polls for the lock until `limit` has passed (a timed mutex would do, but
// the thread sanitizer cannot follow its clock-based lock).
bool TryLockWithin(std::unique_lock<std::recursive_mutex>& lock, std::chrono::milliseconds limit)
{
    if (limit == corvane::platform::kNoTimeLimit) {
        lock.lock();
        return true;
    }
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    while (!lock.try_lock()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

void LuaMIDIHelper::RequestStop()
{
    handOverThread.RequestStop();
    // Ends the timers at once; a callback in progress goes on.
    if (timerQueue)
        timerQueue->Shutdown(std::chrono::milliseconds(0));
}

bool LuaMIDIHelper::StopTimers(std::chrono::milliseconds limit)
{
    if (abandoned)
        return false;
    const corvane::platform::StopBudget budget(limit);
    // No lock held while waiting: the callback in progress may be waiting
    // for the Lua lock or the timer lock, and must get it to end. Each wait
    // takes what the one before it left of the one limit.
    const bool handOverEnded = handOverThread.Stop(budget.Left());
    const bool timersEnded = !timerQueue || timerQueue->Shutdown(budget.Left());
    if (!handOverEnded || !timersEnded)
        return false;
    // An OSC call may hold the Lua lock, blocked as well.
    std::unique_lock<std::recursive_mutex> luaGuard(luaLock, std::defer_lock);
    if (!TryLockWithin(luaGuard, budget.Left()))
        return false;
    std::map<TimerSerial, TimerRecord> ended;
    {
        std::lock_guard<std::mutex> lock(timerLock);
        ended.swap(timers);
    }
    if (!luaState || ended.empty())
        return true;
    std::vector<int> references;
    try {
        references.reserve(ended.size());
        for (const auto& entry : ended)
            references.push_back(entry.second.reference);
    } catch (...) {
        return true; // the references stay taken until the state closes
    }
    // Releasing may need memory the state no longer has: protected.
    if (RunProtected(ReleaseReferencesProtected, &references) != 0)
        lua_pop(luaState, 1);
    return true;
}

bool LuaMIDIHelper::ScriptCallRunning()
{
    std::unique_lock<std::recursive_mutex> luaGuard(luaLock, std::try_to_lock);
    return !luaGuard.owns_lock();
}

size_t LuaMIDIHelper::TimerCount()
{
    std::lock_guard<std::mutex> lock(timerLock);
    return timers.size();
}

// Timer queue thread.
void LuaMIDIHelper::OnTimer(TimerSerial serial)
{
    int reference = LUA_NOREF;
    bool periodic = false;
    {
        std::lock_guard<std::mutex> lock(timerLock);
        const auto found = timers.find(serial);
        if (found == timers.end())
            return; // cancelled
        reference = found->second.reference;
        periodic = found->second.periodic;
        // A one-shot timer ends here; the queue forgets it by itself. The
        // reference is now this call's, released after the call.
        if (!periodic)
            timers.erase(found);
    }

    std::lock_guard<std::recursive_mutex> luaGuard(luaLock);
    if (!luaState)
        return;
    if (periodic) {
        // cancelTimer runs under the Lua lock and releases the reference at
        // once; a periodic timer cancelled while this call waited for the
        // lock must not call what its reference names now.
        std::lock_guard<std::mutex> lock(timerLock);
        if (timers.find(serial) == timers.end())
            return;
    }
    // An error in the function ends only this call; a periodic timer keeps
    // running. A one-shot timer's reference is released after its call.
    CallReference(reference, nullptr, 0, !periodic, false,
                  ScriptClock::now() + std::chrono::milliseconds(kCallTimeLimitMs));
}

// ---------------------------------------------------------------------------
// The Lua functions. Lua lock held.

namespace {

// seconds x 1000 truncated toward zero, kept within what the timer queue
// takes: a negative or NaN time is 0, a huge or infinite one the longest
// interval (about 24.8 days).
int64_t TimerMilliseconds(lua_Number seconds)
{
    const lua_Number milliseconds = seconds * 1000;
    if (!(milliseconds > 0))
        return 0;
    if (milliseconds >= static_cast<lua_Number>(TimerQueue::kMaxIntervalMs))
        return TimerQueue::kMaxIntervalMs;
    return static_cast<int64_t>(milliseconds);
}

int RequestTimer(lua_State* state, bool periodic)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const lua_Number seconds = luaL_checknumber(state, 1);
    if (!lua_isfunction(state, 2))
        return luaL_error(state, "second argument to requestTimerCallback() is not a function");
    // Everything that may raise comes before the timer exists.
    auto* handle = static_cast<LuaMIDIHelper::TimerSerial*>(lua_newuserdata(state, sizeof(LuaMIDIHelper::TimerSerial)));
    *handle = 0;
    luaL_getmetatable(state, LuaMIDIHelper::kTimerMetatable);
    lua_setmetatable(state, -2);
    lua_pushvalue(state, 2);
    const int reference = luaL_ref(state, LUA_REGISTRYINDEX);
    *handle = helper->StartTimerLocked(reference, TimerMilliseconds(seconds), periodic);
    if (*handle == 0) {
        luaL_unref(state, LUA_REGISTRYINDEX, reference);
        return luaL_error(state, "unable to create timer");
    }
    return 1; // the userdata
}

} // namespace

// time() -> seconds since the module was loaded, millisecond resolution.
int LuaTime(lua_State* state)
{
    lua_pushnumber(state, static_cast<lua_Number>(corvane::platform::MillisecondsSinceModuleLoad()) * 0.001);
    return 1;
}

int LuaRequestTimedCallback(lua_State* state)
{
    return RequestTimer(state, false);
}

int LuaRequestPeriodicCallback(lua_State* state)
{
    return RequestTimer(state, true);
}

// cancelTimer(timer): a timer that has ended or was cancelled is ignored.
int LuaCancelTimer(lua_State* state)
{
    const auto* handle =
        static_cast<const LuaMIDIHelper::TimerSerial*>(luaL_checkudata(state, 1, LuaMIDIHelper::kTimerMetatable));
    LuaMIDIHelper* helper = CheckHelper(state);
    int reference = LUA_NOREF;
    if (*handle != 0 && helper->CancelTimerLocked(*handle, &reference))
        luaL_unref(state, LUA_REGISTRYINDEX, reference);
    return 0;
}

} // namespace QZ
