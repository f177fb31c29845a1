// What the scripts' Lua states leave out of the standard library, and the
// guards on the library functions whose single call could run long in C.
// Scripts run on the host's threads (the audio thread's hand-over among
// them) under a time limit that a count hook enforces (ScriptLimits);
// nothing here may let a script switch that limit off, outrun it inside a
// C function, end the process, wait on the host's standard input, or reach
// the state's registry, where the owner keeps pointers.
#pragma once

#include <cstddef>

struct lua_State;

namespace QZ {

// Subject length x pattern shape above which string.find, match, gmatch and
// gsub refuse to start: the library's matcher backtracks without limit and
// is C code, which the count hook cannot interrupt.
constexpr double kPatternWorkLimit = 1e7;

// Whether matching `pattern` against a subject of `subjectLength` bytes may
// cost more than kPatternWorkLimit steps: each quantifier ('*', '+', '-',
// '?') can try every position of the subject for each try of the ones before
// it, a search tries every start, and each try may compare every item of a
// long pattern (one of more than 16 items lowers the subject it may search
// in proportion).
bool PatternTooCostly(const char* pattern, size_t patternLength, size_t subjectLength);

// The longest script file a state loads (a larger one, or one that is not
// a regular file, is refused before anything is read).
constexpr size_t kScriptFileLimit = size_t{4} << 20;
// The longest string string.rep makes.
constexpr size_t kRepeatLimit = size_t{64} << 20;
// What one require may walk along package.path: the path's length, and the
// entries it tries (each costs a file lookup).
constexpr size_t kSearchPathLimit = size_t{16} << 10;
constexpr int kSearchEntryLimit = 256;

// luaL_loadfile for scripts: the file must be a regular file of at most
// kScriptFileLimit bytes (a FIFO or device in its place is refused, never
// waited on) holding source text: precompiled chunks are never loaded (Lua
// 5.1 runs crafted bytecode without checking it). Pushes the chunk (named "@path") and
// returns 0, or pushes a message and returns LUA_ERRFILE or the load's
// status. May raise only when memory runs out.
int LoadScriptFile(lua_State* state, const char* path);

// What a state's scripts may do with files.
enum class FileAccess { ReadWrite, ReadOnly };

// Makes a metatable made with luaL_newmetatable(name) unreachable from
// scripts: getmetatable answers false, and an __index that was the
// metatable itself becomes a table of its methods alone, so no script can
// give the type a __gc (which Lua runs with hooks off, while the state
// closes).
void SealMetatable(lua_State* state, const char* name);

// The guards on the library functions whose single call may work long in C
// without a Lua instruction or call where the time limit could stop it
// (LuaCostGuards.cpp):
// - string.find, match, gmatch and gsub refuse a costly pattern with
//   "pattern too complex for a subject of %d bytes"; a plain find (or a
//   pattern without special characters) searches in linear time;
// - string.rep refuses a result over kRepeatLimit bytes;
// - table.sort compares the elements of a large table through a call.
void GuardCostlyFunctions(lua_State* state);

// Runs with the standard libraries open (may raise; call it protected):
// - debug keeps only traceback;
// - os.exit raises instead of ending the host;
// - dofile and loadfile need a file name (without one they read the host's
//   standard input), io's default input is /dev/null and io.stdin is gone;
// - only text chunks load: dofile, loadfile, loadstring and load refuse
//   precompiled ones, and loadstring and load refuse source text longer
//   than kScriptFileLimit, as the file loaders do;
// - require finds Lua files only (no C searchers, package.cpath is empty),
//   and refuses a package.path longer than kSearchPathLimit bytes or one
//   that would have it try more than kSearchEntryLimit files;
// - every function that may wait on the file system (require's lookups,
//   dofile, loadfile, the io functions and file methods, os.remove,
//   os.rename, os.tmpname) charges its wait to a limit on processor time
//   (ScriptLimits::ChargeWait) and looks at the time limit after its work,
//   so that a loop of them, or one search along a slow file system, ends
//   at the limit;
// - the guards of GuardCostlyFunctions;
// - newproxy is gone and the file handles' metatable is sealed, so no script
//   can install a finalizer;
// - io.open, io.lines, io.input, io.output, dofile, loadfile and require open
//   regular files only, without ever waiting on a FIFO or device; with
//   FileAccess::ReadOnly no file opens for writing (io.output is gone),
//   io.write is refused and io.stdout and io.stderr are gone: a script
//   writes only through print, which its owner sends to the debug output
//   on standard error.
void RestrictLuaLibraries(lua_State* state, FileAccess access = FileAccess::ReadWrite);

} // namespace QZ
