// QZ::ScriptLimits: the memory and time limits that every call into one Lua
// state runs under (an instance's MIDI scripts, or an editor's scripts).
//
// Memory: the state's allocator refuses to grow the state past its cap (Lua
// raises "not enough memory").
//
// Time: the outermost call sets a deadline; calls made from inside it keep
// it. Three things look at the clock:
// - a count hook, every kHookInstructionCount Lua instructions;
// - a watch thread, shared by all states, which at the deadline of a call
//   still running hooks every instruction, call and return of the threads
//   it runs on: a loop whose instructions each take milliseconds (a
//   concatenation of megabytes, a long string comparison) or that calls a
//   C function that works long is stopped at its next instruction, call or
//   return;
// - the sandbox's C functions whose loops in C may outrun the limit without
//   a call (require's search of a slow file system): Check.
// Past the deadline every Lua instruction raises "script stopped: it ran
// past its time limit", so a pcall inside the script cannot catch the stop
// and go on; the state stays usable for the next call.
//
// Threads: whoever uses the state (the MIDI helper's Lua lock, or the
// editor's UI thread); the watch thread sets hooks only while a call runs,
// under its own lock, which nothing else is taken under.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

struct lua_State;
struct lua_Debug;

namespace QZ {

// The time a MIDI script's limits count: the CPU time of the thread running
// it. A thread the system takes off the processor (a busy machine, a host's
// other work) is not charged for the wait, so a well-behaved callback is
// never stopped because the audio thread was descheduled in the middle of
// it; a loop in Lua is charged for every instruction. Reading it costs a
// call into the kernel, so the count hook reads it only every few thousand
// instructions.
struct ScriptClock {
    using rep = int64_t;
    using period = std::nano;
    using duration = std::chrono::duration<rep, period>;
    using time_point = std::chrono::time_point<ScriptClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept;
};

class ScriptLimits {
public:
    enum class Clock {
        Processor, // ScriptClock; waits in C functions are charged by them (ChargeWait)
        Wall,      // steady time
    };
    // A time on the limits' clock.
    using Time = std::chrono::nanoseconds;

    static constexpr int kHookInstructionCount = 4096;
    static constexpr const char* kStopMessage = "script stopped: it ran past its time limit";

    ScriptLimits(Clock clock, size_t memoryLimitBytes) : clock(clock), memoryLimit(memoryLimitBytes) {}
    ~ScriptLimits();
    ScriptLimits(const ScriptLimits&) = delete;
    ScriptLimits& operator=(const ScriptLimits&) = delete;

    // The state's allocator: lua_newstate(ScriptLimits::Allocate, &limits).
    static void* Allocate(void* limits, void* block, size_t oldSize, size_t newSize);
    // With the standard libraries open: installs the count hook, what Check
    // and ChargeWait find in the state, and the coroutine functions that
    // tell the watch which threads run. Raises when memory runs out: call it
    // protected, once per state.
    void Install(lua_State* state);

    Time Now() const;

    // Runs call() (a lua_pcall or lua_cpcall on `state`, returning its
    // status) with `deadline` as its limit when it is the outermost call.
    template <class Call>
    int Run(lua_State* state, Time deadline, Call&& call)
    {
        const bool outermost = Enter(state, deadline);
        const int status = call();
        if (outermost)
            Leave();
        else
            --depth;
        return status;
    }

    // Whether the last outermost call was stopped by its time limit (not a
    // script error that merely came late).
    bool StoppedByLimit() const { return stoppedByLimit; }
    // Whether a call is running and past its limit.
    static bool PastLimit(lua_State* state);

    // For C functions called by scripts; neither does anything in a state
    // without limits or outside a call.
    // Raises the stop when the running call is past its limit. Looks at the
    // limit's clock at most once a millisecond, so that it may follow any
    // step of a loop in C.
    static void Check(lua_State* state);
    // Counts `waited` (wall time a C function spent blocked, not running)
    // against the running call's limit, when that limit counts processor
    // time and would not see it.
    static void ChargeWait(lua_State* state, Time waited);

    // The hook.
    static void Hook(lua_State* state, lua_Debug* record);

private:
    friend class ScriptWatch;

    static ScriptLimits* For(lua_State* state);
    bool Enter(lua_State* state, Time deadline);
    void Leave();
    // Marks the stop, makes every later instruction raise, and raises.
    int Stop(lua_State* state, int level);
    // coroutine.resume and coroutine.wrap's functions: the resumed thread
    // runs, for the watch, until it yields or ends.
    static int Resume(lua_State* state);
    static int WrappedResume(lua_State* state);
    static int Wrap(lua_State* state);

    const Clock clock;
    const size_t memoryLimit;
    size_t bytes = 0;
    int depth = 0;
    std::atomic<int64_t> deadline{0}; // Time; lowered by ChargeWait, read by the watch
    bool stoppedByLimit = false;
    std::chrono::steady_clock::time_point nextCheck{};
    // Guarded by the watch's lock while a call runs: the thread whose
    // processor time counts, and the Lua threads in the call (the state,
    // then each coroutine resumed in turn).
    clockid_t threadClock{};
    std::vector<lua_State*> running;
    bool interrupted = false;
    // Counted among the states the watch runs for (Install).
    bool installed = false;
};

} // namespace QZ
