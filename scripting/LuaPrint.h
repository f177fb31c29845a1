// The `print` of the module's Lua states (the MIDI scripts' and the
// editor's): it writes to the debug output (standard error), never to the
// standard output, which belongs to the host.
#pragma once

struct lua_State;

namespace QZ {

// print(...): each argument through the global `tostring`, the texts joined
// by tabs and ended by a newline. A `tostring` result that is neither a text
// nor a number raises "'tostring' must return a string to 'print'". Numbers
// are written "%.14g" with '.' whatever the process's locale.
int LuaPrint(lua_State* state);

// Replaces the base library's `print` of the state with LuaPrint.
void InstallLuaPrint(lua_State* state);

} // namespace QZ
