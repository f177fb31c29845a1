// What the MIDI scripts' Lua state leaves out of the standard library, and
// the guard on its pattern functions. Scripts run on the host's threads (the
// audio thread among them) under a time limit that a count hook enforces;
// nothing here may let a script switch that limit off, end the process,
// wait on the host's standard input, or reach the state's registry, where
// the helper keeps pointers.
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
// it, and a search tries every start.
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

// Runs with the standard libraries open (may raise; call it protected):
// - debug keeps only traceback;
// - os.exit raises instead of ending the host;
// - dofile and loadfile need a file name (without one they read the host's
//   standard input), io's default input is /dev/null and io.stdin is gone;
// - only text chunks load: dofile, loadfile, loadstring and load refuse
//   precompiled ones;
// - require finds Lua files only (no C searchers, package.cpath is empty),
//   and refuses a package.path longer than kSearchPathLimit bytes or one
//   that would have it try more than kSearchEntryLimit files;
// - string.find, match, gmatch and gsub refuse a costly pattern with
//   "pattern too complex for a subject of %d bytes"; string.rep refuses a
//   result over kRepeatLimit bytes;
// - newproxy is gone and the file handles' metatable is sealed, so no script
//   can install a finalizer;
// - io.open, io.lines, io.input, io.output, dofile, loadfile and require open
//   regular files only, without ever waiting on a FIFO or device; with
//   FileAccess::ReadOnly nothing writes: no file opens for writing
//   (io.output is gone), io.write is refused and io.stdout and io.stderr
//   are gone.
void RestrictLuaLibraries(lua_State* state, FileAccess access = FileAccess::ReadWrite);

} // namespace QZ
