// The Lua object types of the editor scripts: a full userdata holding one
// pointer to the native object, with the metatable of its type. Lua never
// deletes the object (no __gc): widgets belong to the element tree,
// textures, fonts and renderers to the editor.
#pragma once

#include <lua.hpp>

namespace QZ {

inline constexpr char kGroupType[] = "QZgui.Group";
inline constexpr char kElementType[] = "QZgui.Element";
inline constexpr char kTextureType[] = "QZgui.Texture";
inline constexpr char kFontType[] = "QZgui.Font";
inline constexpr char kLabelType[] = "QZgui.Label";
inline constexpr char kTextFieldType[] = "QZgui.TextField";
inline constexpr char kPropertyTextFieldType[] = "QZgui.PropertyTextFied"; // the scripts' spelling
inline constexpr char kEnvDisplayType[] = "QZgui.EnvDisplay";
inline constexpr char kCalibrationDisplayType[] = "QZgui.CalibrationDisplay";
inline constexpr char kWaveformDisplayType[] = "QZgui.WaveformDisplay";
inline constexpr char kFollowerEnvDisplayType[] = "QZgui.FollowerEnvDisplay";
inline constexpr char kFollowerPitchDisplayType[] = "QZgui.FollowerPitchDisplay";
inline constexpr char kStepEditorType[] = "QZgui.StepEditor";
inline constexpr char kFunctionDisplayType[] = "QZgui.FunctionDisplay";
inline constexpr char kKnobRendererType[] = "QZgui.KnobRenderer";
inline constexpr char kSliderRendererType[] = "QZgui.SliderRenderer";

inline void PushLuaObject(lua_State* state, void* object, const char* type)
{
    *static_cast<void**>(lua_newuserdata(state, sizeof(void*))) = object;
    luaL_getmetatable(state, type);
    lua_setmetatable(state, -2);
}

// The object at arg, or Lua's argument type error naming `type`.
template <class T>
T* CheckLuaObject(lua_State* state, int arg, const char* type)
{
    void* object = *static_cast<void**>(luaL_checkudata(state, arg, type));
    if (!object)
        luaL_argerror(state, arg, type);
    return static_cast<T*>(object);
}

// A metatable whose __index is itself, with the methods (may be null).
void RegisterLuaObjectType(lua_State* state, const char* name, const luaL_Reg* methods);

} // namespace QZ
