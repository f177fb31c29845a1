// The global functions and object types every editor script can use. Each
// runs inside the protected call that runs the script or callback, so a Lua
// error raised here returns to that call.
#include <lua.hpp>

#include <cmath>
#include <cstring>

#include "framework/ObryAuBase.h"
#include "gui/luagui/LuaGui.h"
#include "gui/luagui/LuaGuiObjects.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/Textures.h"
#include "gui/toolkit/UIElement.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaSandbox.h"

namespace QZ {

namespace {

float Number(lua_State* state, int arg)
{
    return static_cast<float>(luaL_checknumber(state, arg));
}

Colour ColourAt(lua_State* state, int first, bool withAlpha)
{
    return Colour{Number(state, first), Number(state, first + 1), Number(state, first + 2),
                  withAlpha ? Number(state, first + 3) : 1.0f};
}

// The last n arguments (the colour functions read from the end, so a
// method-style call with a leading object works too).
int LastArguments(lua_State* state, int n)
{
    const int top = lua_gettop(state);
    if (top < n)
        luaL_error(state, "%d numbers expected", n);
    return top - n + 1;
}

LuaGui& Gui(lua_State* state)
{
    LuaGui* gui = LuaGui::fromLuaState(state);
    if (!gui)
        luaL_error(state, "no editor for this state");
    return *gui;
}

Manager& EditorManager(lua_State* state)
{
    Manager* manager = Gui(state).GetManager();
    if (!manager)
        luaL_error(state, "no editor is open: widgets are made in createUI");
    return *manager;
}

// The editor's manager while createUI builds the tree. Afterwards the render
// thread walks the tree and reads the banner without a lock, so a button's
// Lua function may show, hide and set, but not add or move.
Manager& BuildingManager(lua_State* state)
{
    Manager& manager = EditorManager(state);
    if (!Gui(state).BuildingUI())
        luaL_error(state, "the editor is built only in createUI");
    return manager;
}

Group& Root(lua_State* state)
{
    auto* root = dynamic_cast<Group*>(BuildingManager(state).Root());
    if (!root)
        luaL_error(state, "the editor has no root group");
    return *root;
}

int32_t ParameterByName(lua_State* state, int arg)
{
    return LuaGui::parameterIndexForName(state, luaL_checkstring(state, arg));
}

// A number (or numeric string) is an index; another string a name.
int32_t ParameterByNameOrIndex(lua_State* state, int arg)
{
    if (lua_isnumber(state, arg)) {
        const lua_Number value = lua_tonumber(state, arg);
        if (!(value > -2147483648.0 && value < 2147483648.0))
            luaL_argerror(state, arg, "parameter index out of range");
        return static_cast<int32_t>(value);
    }
    return ParameterByName(state, arg);
}

void RequireParameter(lua_State* state, int32_t index)
{
    ObryAuBase* plugin = Gui(state).Plugin();
    if (!plugin || index < 0 || index >= plugin->getNumParams())
        luaL_error(state, "parameter index out of range: %d", index);
}

int ReturnElement(lua_State* state, UIElement* element, const char* type = kElementType)
{
    if (!element)
        return 0;
    PushLuaObject(state, element, type);
    return 1;
}

// ---------------------------------------------------------------------------
// Globals

int SetGroupActiveColour(lua_State* state)
{
    NamedGroup::SetActiveColour(ColourAt(state, LastArguments(state, 4), true));
    return 0;
}

int SetGroupInactiveColour(lua_State* state)
{
    NamedGroup::SetInactiveColour(ColourAt(state, LastArguments(state, 4), true));
    return 0;
}

int MakeGroup(lua_State* state)
{
    const char* title = luaL_checkstring(state, 1);
    float margins[4] = {10, 10, 10, 10};
    if (lua_isnumber(state, 2)) {
        for (float& margin : margins)
            margin = Number(state, 2);
    } else if (lua_istable(state, 2)) {
        // At most four entries count; the rest of the four are 0.
        const int n = static_cast<int>(lua_objlen(state, 2));
        for (int i = 0; i < 4; ++i) {
            margins[i] = 0;
            if (i < n) {
                lua_rawgeti(state, 2, i + 1);
                margins[i] = lua_isnumber(state, -1) ? static_cast<float>(lua_tonumber(state, -1)) : 0.0f;
                lua_pop(state, 1);
            }
        }
    }
    Manager& manager = BuildingManager(state);
    Group& root = Root(state);
    auto* group = new NamedGroup(&manager, title, margins[0], margins[1], margins[2], margins[3]);
    root.AddChild(group);
    PushLuaObject(state, group, kGroupType);
    return 1;
}

int Knob(lua_State* state)
{
    const int32_t index = ParameterByName(state, 1);
    BuildingManager(state);
    return ReturnElement(state, Gui(state).createKnob(state, index, Number(state, 2), Number(state, 3),
                                                      Number(state, 4)));
}

int Button(lua_State* state)
{
    const char* action = luaL_checkstring(state, 1);
    const char* text = luaL_checkstring(state, 2);
    const LuaGui::ButtonTable* table = Gui(state).Buttons();
    if (!table)
        return luaL_error(state, "no button lookup table");
    const auto found = table->find(action);
    if (found == table->end())
        return luaL_error(state, "button not found: %s", action);
    LuaGui& gui = Gui(state);
    BuildingManager(state);
    return ReturnElement(state, gui.createButton(state, lua_gettop(state), text, found->second.callback, &gui,
                                                 Number(state, 3), Number(state, 4), Number(state, 5),
                                                 Number(state, 6), found->second.commandId));
}

int Slider(lua_State* state)
{
    const int32_t index = ParameterByName(state, 1);
    const char* orientation = luaL_checkstring(state, 6);
    if (orientation[0] != 'h' && orientation[0] != 'v')
        return luaL_error(state, "unknown slider orientation: %s", orientation);
    BuildingManager(state);
    return ReturnElement(state, Gui(state).createSlider(state, lua_gettop(state), index, Number(state, 2),
                                                        Number(state, 3), Number(state, 4), Number(state, 5),
                                                        orientation[0] == 'h'));
}

int LuaButton(lua_State* state)
{
    if (!lua_isfunction(state, 1))
        return luaL_error(state, "first argument to luaButton() is not a function");
    const char* text = luaL_checkstring(state, 2);
    const char* tooltip = luaL_checkstring(state, 3);
    const char* kind = luaL_checkstring(state, 4);
    const float x = Number(state, 5), y = Number(state, 6), w = Number(state, 7), h = Number(state, 8);
    LuaGui& gui = Gui(state);
    Manager& manager = BuildingManager(state);
    lua_pushvalue(state, 1);
    const int reference = luaL_ref(state, LUA_REGISTRYINDEX);
    LuaGui::LuaButtonBinding* binding = gui.AddLuaButtonBinding(reference);
    return ReturnElement(state, gui.createLuaButton(state, lua_gettop(state), text, LuaGui::LuaButtonAction, binding,
                                                    x, y, w, h, manager.CommandIdForName(tooltip), kind[0] == 't'));
}

int PropertyTriggerButton(lua_State* state)
{
    const auto id = static_cast<uint32_t>(luaL_checkinteger(state, 1));
    const char* text = luaL_checkstring(state, 2);
    const char* tooltip = luaL_checkstring(state, 3);
    const float x = Number(state, 4), y = Number(state, 5), w = Number(state, 6), h = Number(state, 7);
    LuaGui& gui = Gui(state);
    Manager& manager = BuildingManager(state);
    LuaGui::PropertyTriggerBinding* binding = gui.AddPropertyTriggerBinding(id);
    return ReturnElement(state, gui.createPropertyTriggerButton(state, lua_gettop(state), text,
                                                                LuaGui::PropertyTriggerAction, binding, x, y, w, h,
                                                                manager.CommandIdForName(tooltip)));
}

int PropertyButton(lua_State* state)
{
    const auto id = static_cast<uint32_t>(luaL_checkinteger(state, 1));
    const char* text = luaL_checkstring(state, 2);
    const char* tooltip = luaL_checkstring(state, 3);
    const float x = Number(state, 4), y = Number(state, 5), w = Number(state, 6), h = Number(state, 7);
    Manager& manager = BuildingManager(state);
    return ReturnElement(state, Gui(state).createPropertyButton(state, lua_gettop(state), text, id, x, y, w, h,
                                                                manager.CommandIdForName(tooltip)));
}

int Texture(lua_State* state)
{
    const char* name = luaL_checkstring(state, 1);
    BuildingManager(state);
    LuaGui& gui = Gui(state);
    TextureRecord* record = gui.AddTexture(name);
    if (!record)
        return luaL_error(state, "failed to find texture in resouce id lookup");
    PushLuaObject(state, record, kTextureType);
    return 1;
}

int Font(lua_State* state)
{
    if (!lua_isfunction(state, 1))
        return luaL_error(state, "font() expects a function that returns a font list");
    lua_settop(state, 1);
    BuildingManager(state);
    std::vector<FontSpec> specs;
    LuaGui::ReadFontList(state, specs);
    FontRecord* font = Gui(state).AddFont(LuaGui::LoadFont(specs));
    if (!font)
        return 0;
    PushLuaObject(state, font, kFontType);
    return 1;
}

int DropDown(lua_State* state)
{
    const int32_t index = ParameterByName(state, 1);
    BuildingManager(state);
    return ReturnElement(state, Gui(state).createDropDown(state, index, Number(state, 2), Number(state, 3),
                                                          Number(state, 4), Number(state, 5)));
}

int Label(lua_State* state)
{
    const char* text = luaL_checkstring(state, 1);
    const float x = Number(state, 2), y = Number(state, 3);
    char align = 'c';
    if (lua_type(state, 4) == LUA_TSTRING) {
        const char first = lua_tostring(state, 4)[0];
        if (first == 'l' || first == 'r')
            align = first;
    }
    BuildingManager(state);
    return ReturnElement(state, Gui(state).createLabel(state, text, x, y, align), kLabelType);
}

int TextField(lua_State* state)
{
    const int32_t index = ParameterByName(state, 1);
    const char* format = luaL_optstring(state, 6, "");
    BuildingManager(state);
    return ReturnElement(state,
                         Gui(state).createTextField(state, index, Number(state, 2), Number(state, 3), Number(state, 4),
                                                    Number(state, 5), format),
                         kTextFieldType);
}

int PropertyTextField(lua_State* state)
{
    const auto id = static_cast<uint32_t>(luaL_checkinteger(state, 1));
    const char* prompt = luaL_checkstring(state, 2);
    BuildingManager(state);
    return ReturnElement(state,
                         Gui(state).createPropertyTextField(state, id, prompt, Number(state, 3), Number(state, 4),
                                                            Number(state, 5), Number(state, 6)),
                         kPropertyTextFieldType);
}

int Add(lua_State* state)
{
    Group& root = Root(state);
    root.AddChild(LuaGui::checkElement(state, 1));
    return 0;
}

int SetBackgroundColour(lua_State* state)
{
    const Colour colour = ColourAt(state, LastArguments(state, 3), false);
    EditorManager(state).SetBackgroundColour(colour.r, colour.g, colour.b);
    return 0;
}

int SetBannerColour(lua_State* state)
{
    const Colour colour = ColourAt(state, 1, true);
    BuildingManager(state).SetBannerColour(colour);
    return 0;
}

// Process-wide (editors opened later take it too) and this editor's.
int SetBannerTextColour(lua_State* state)
{
    const Colour colour = ColourAt(state, 1, true);
    Manager& manager = BuildingManager(state);
    Manager::SetBannerTextColour(colour);
    manager.UseBannerTextColour(colour);
    return 0;
}

int SetBannerPosition(lua_State* state)
{
    Manager& manager = BuildingManager(state);
    manager.SetBannerPosition(Number(state, 1));
    const bool hide = lua_isboolean(state, 2) && !lua_toboolean(state, 2);
    manager.SetBannerMode(hide ? Manager::kBannerNone : Manager::kBannerFull);
    return 0;
}

int SetBannerBounds(lua_State* state)
{
    Box box;
    box.x0 = Number(state, 1);
    box.y0 = Number(state, 2);
    box.x1 = Number(state, 3);
    box.y1 = Number(state, 4);
    box.z0 = box.z1 = 0;
    BuildingManager(state).SetBannerBounds(box);
    return 0;
}

int SetBannerContent(lua_State* state)
{
    const char* mode = luaL_checkstring(state, 1);
    int banner = Manager::kBannerFull;
    if (strcmp(mode, "none") == 0)
        banner = Manager::kBannerNone;
    else if (mode[0] == 'n')
        banner = Manager::kBannerNameOnly;
    BuildingManager(state).SetBannerContent(banner, Number(state, 2), Number(state, 3));
    return 0;
}

int RedrawLabels(lua_State* state)
{
    EditorManager(state).SignalRenderEvent(Manager::kEventRedrawPanel);
    return 0;
}

int SetParameter(lua_State* state)
{
    const int32_t index = ParameterByNameOrIndex(state, 1);
    const float value = Number(state, 2);
    const bool automate = lua_gettop(state) < 3 || lua_toboolean(state, 3);
    RequireParameter(state, index);
    LuaGui& gui = Gui(state);
    Manager* manager = gui.GetManager();
    if (automate && manager)
        manager->BeginParameterEdit(index);
    gui.Plugin()->SetParameterValue(index, value, automate);
    if (automate && manager)
        manager->EndParameterEdit(index);
    return 0;
}

int GetParameter(lua_State* state)
{
    const int32_t index = ParameterByNameOrIndex(state, 1);
    RequireParameter(state, index);
    lua_pushnumber(state, Gui(state).Plugin()->GetParameterReal(index));
    return 1;
}

int GetParameterID(lua_State* state)
{
    lua_pushnumber(state, ParameterByName(state, 1));
    return 1;
}

int GetChannelCount(lua_State* state)
{
    lua_pushnumber(state, 2);
    return 1;
}

// ---------------------------------------------------------------------------
// Methods

NamedGroup& CheckGroup(lua_State* state)
{
    return *CheckLuaObject<NamedGroup>(state, 1, kGroupType);
}

int GroupAdd(lua_State* state)
{
    NamedGroup& group = CheckGroup(state);
    BuildingManager(state);
    group.AddChild(LuaGui::checkElement(state, 2));
    return 0;
}

Box GroupBox(NamedGroup& group)
{
    Box box;
    group.AddToBounds(box);
    return box;
}

int GroupSetPosition(lua_State* state)
{
    NamedGroup& group = CheckGroup(state);
    BuildingManager(state);
    const float x = Number(state, 2), y = Number(state, 3);
    if (lua_toboolean(state, 4)) {
        const Box box = GroupBox(group);
        group.SetOffset(x - box.x0 + group.OffsetX(), y - box.y0 + group.OffsetY(), 0);
    } else {
        group.SetOffset(x, y, 0);
    }
    return 0;
}

int GroupWidth(lua_State* state)
{
    const Box box = GroupBox(CheckGroup(state));
    lua_pushnumber(state, box.x1 - box.x0);
    return 1;
}

int GroupHeight(lua_State* state)
{
    const Box box = GroupBox(CheckGroup(state));
    lua_pushnumber(state, box.y1 - box.y0);
    return 1;
}

int GroupBounds(lua_State* state)
{
    const Box box = GroupBox(CheckGroup(state));
    lua_pushnumber(state, box.x0);
    lua_pushnumber(state, box.y0);
    lua_pushnumber(state, box.x1);
    lua_pushnumber(state, box.y1);
    return 4;
}

int GroupSetVisible(lua_State* state)
{
    CheckGroup(state).SetVisible(lua_toboolean(state, 2));
    return 0;
}

int GroupIsVisible(lua_State* state)
{
    lua_pushboolean(state, CheckGroup(state).IsVisible());
    return 1;
}

int ElementSetVisible(lua_State* state)
{
    LuaGui::checkElement(state, 1)->SetVisible(lua_toboolean(state, 2));
    return 0;
}

int ElementIsVisible(lua_State* state)
{
    lua_pushboolean(state, LuaGui::checkElement(state, 1)->IsVisible());
    return 1;
}

int ElementSetState(lua_State* state)
{
    UIElement* element = LuaGui::checkElement(state, 1);
    Gui(state).SetElementState(element, lua_toboolean(state, 2));
    return 0;
}

int ElementGetState(lua_State* state)
{
    UIElement* element = LuaGui::checkElement(state, 1);
    lua_pushboolean(state, Gui(state).ElementState(element));
    return 1;
}

template <const char* Type, int Which, bool Alpha>
int SetWidgetColour(lua_State* state)
{
    auto* element = CheckLuaObject<UIElement>(state, 1, Type);
    Colour colour = ColourAt(state, 2, Alpha);
    Gui(state).SetElementColour(element, Which, colour);
    return 0;
}

int SetEditable(lua_State* state)
{
    auto* element = CheckLuaObject<UIElement>(state, 1, kPropertyTextFieldType);
    Gui(state).SetElementEditable(element, lua_toboolean(state, 2));
    return 0;
}

const luaL_Reg kGlobals[] = {
    {"setGroupActiveColour", SetGroupActiveColour},
    {"setGroupInactiveColour", SetGroupInactiveColour},
    {"group", MakeGroup},
    {"knob", Knob},
    {"button", Button},
    {"slider", Slider},
    {"luaButton", LuaButton},
    {"propertyTriggerButton", PropertyTriggerButton},
    {"propertyButton", PropertyButton},
    {"texture", Texture},
    {"font", Font},
    {"dropDown", DropDown},
    {"label", Label},
    {"textField", TextField},
    {"propertyTextField", PropertyTextField},
    {"add", Add},
    {"setBackgroundColour", SetBackgroundColour},
    {"setBannerColour", SetBannerColour},
    {"setBannerTextColour", SetBannerTextColour},
    {"setBannerPosition", SetBannerPosition},
    {"setBannerBounds", SetBannerBounds},
    {"setBannerContent", SetBannerContent},
    {"redrawLabels", RedrawLabels},
    {"setParameter", SetParameter},
    {"getParameter", GetParameter},
    {"getParameterID", GetParameterID},
    {"sendOSC", LuaSendOSC},
    {"getChannelCount", GetChannelCount},
};

const luaL_Reg kGroupMethods[] = {
    {"add", GroupAdd},       {"setPosition", GroupSetPosition}, {"width", GroupWidth},         {"height", GroupHeight},
    {"bounds", GroupBounds}, {"setVisible", GroupSetVisible},   {"isVisible", GroupIsVisible}, {nullptr, nullptr},
};

const luaL_Reg kElementMethods[] = {
    {"setVisible", ElementSetVisible},
    {"isVisible", ElementIsVisible},
    {"setState", ElementSetState},
    {"getState", ElementGetState},
    {nullptr, nullptr},
};

const luaL_Reg kLabelMethods[] = {
    {"setBackgroundColour", SetWidgetColour<kLabelType, 0, true>},
    {"setForegroundColour", SetWidgetColour<kLabelType, 1, true>},
    {nullptr, nullptr},
};

const luaL_Reg kTextFieldMethods[] = {
    {"setBackgroundColour", SetWidgetColour<kTextFieldType, 0, false>},
    {"setActiveColour", SetWidgetColour<kTextFieldType, 2, false>},
    {"setChangedColour", SetWidgetColour<kTextFieldType, 3, false>},
    {"setTextColour", SetWidgetColour<kTextFieldType, 1, false>},
    {nullptr, nullptr},
};

const luaL_Reg kPropertyTextFieldMethods[] = {
    {"setEditable", SetEditable},
    {nullptr, nullptr},
};

} // namespace

void RegisterLuaObjectType(lua_State* state, const char* name, const luaL_Reg* methods)
{
    luaL_newmetatable(state, name);
    lua_pushvalue(state, -1);
    lua_setfield(state, -2, "__index");
    if (methods)
        luaL_register(state, nullptr, methods);
    lua_pop(state, 1);
    SealMetatable(state, name);
}

void LuaGui::RegisterFunctions(lua_State* state)
{
    for (const luaL_Reg& global : kGlobals) {
        lua_pushcclosure(state, global.func, 0);
        lua_setglobal(state, global.name);
    }
    RegisterLuaObjectType(state, kGroupType, kGroupMethods);
    RegisterLuaObjectType(state, kElementType, kElementMethods);
    lua_pushcclosure(state, ElementSetVisible, 0);
    lua_setglobal(state, "elementSetVisible");
    lua_pushcclosure(state, ElementIsVisible, 0);
    lua_setglobal(state, "elementIsVisible");
    RegisterLuaObjectType(state, kTextureType, nullptr);
    RegisterLuaObjectType(state, kFontType, nullptr);
    RegisterLuaObjectType(state, kLabelType, kLabelMethods);
    RegisterLuaObjectType(state, kTextFieldType, kTextFieldMethods);
    RegisterLuaObjectType(state, kPropertyTextFieldType, kPropertyTextFieldMethods);
}

} // namespace QZ
