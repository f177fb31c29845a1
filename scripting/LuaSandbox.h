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

// Whether the file starts as a precompiled Lua chunk; those are never
// loaded (Lua 5.1 runs crafted bytecode without checking it).
bool IsBinaryChunkFile(const char* path);

// Runs with the standard libraries open (may raise; call it protected):
// - debug keeps only traceback;
// - os.exit raises instead of ending the host;
// - dofile and loadfile need a file name (without one they read the host's
//   standard input), io's default input is /dev/null and io.stdin is gone;
// - only text chunks load: dofile, loadfile and loadstring refuse
//   precompiled ones and load (which takes a reader function) is gone;
// - string.find, match, gmatch and gsub refuse a costly pattern with
//   "pattern too complex for a subject of %d bytes".
void RestrictLuaLibraries(lua_State* state);

} // namespace QZ
