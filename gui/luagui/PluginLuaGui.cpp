#include "gui/luagui/PluginLuaGui.h"

#include <lua.hpp>

#include <cmath>
#include <string>

#include "framework/ObryAuBase.h"
#include "gui/controls/Buttons.h"
#include "gui/controls/DropDowns.h"
#include "gui/controls/Knobs.h"
#include "gui/controls/Renderers.h"
#include "gui/controls/Sliders.h"
#include "gui/controls/TextFields.h"
#include "gui/dialogs/CalibrationActions.h"
#include "gui/dialogs/PreferencesPanel.h"
#include "gui/dialogs/PropertyDialogs.h"
#include "gui/displays/FollowerDisplays.h"
#include "gui/displays/GraphDisplays.h"
#include "gui/displays/StepEditor.h"
#include "gui/displays/TextDisplays.h"
#include "gui/luagui/LuaGuiObjects.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/QJmanager.h"
#include "gui/toolkit/Textures.h"

namespace QZ {

namespace {

// Script and texture names and their resource ids.
const struct {
    const char* name;
    int32_t id;
} kResources[] = {
    {"buttons.png", 120},
    {"gui.lua", 135},
    {"gui_acencoder.lua", 150},
    {"gui_cvinput.lua", 151},
    {"gui_cvtomidi.lua", 152},
    {"gui_cvtoosc.lua", 153},
    {"gui_dc.lua", 154},
    {"gui_brinkcontroller.lua", 155},
    {"gui_carrocontroller.lua", 156},
    {"gui_dunmorecombiner.lua", 157},
    {"gui_lfo.lua", 158},
    {"gui_quantizer.lua", 159},
    {"gui_smux.lua", 161},
    {"gui_steplfo.lua", 164},
    {"gui_sync.lua", 160},
    {"gui_trigger.lua", 162},
    {"gui_voicecontroller.lua", 163},
    {"gui_acencoder6.lua", 165},
    {"gui_follower.lua", 166},
    {"gui_learner.lua", 168},
    {"gui_soundplane.lua", 167},
    {"gui_function.lua", 169},
};

float Number(lua_State* state, int arg)
{
    return static_cast<float>(luaL_checknumber(state, arg));
}

PluginLuaGui& Gui(lua_State* state)
{
    auto* gui = dynamic_cast<PluginLuaGui*>(LuaGui::fromLuaState(state));
    if (!gui)
        luaL_error(state, "no editor for this state");
    return *gui;
}

// The editor's manager while createUI builds the tree (afterwards the
// render thread walks it without a lock: nothing may be added).
Manager& EditorManager(lua_State* state)
{
    Manager* manager = Gui(state).GetManager();
    if (!manager)
        luaL_error(state, "no editor is open: widgets are made in createUI");
    if (!Gui(state).BuildingUI())
        luaL_error(state, "the editor is built only in createUI");
    return *manager;
}

// An integer id in [0, limit], or the Lua error "<function> id out of range".
int32_t CheckId(lua_State* state, int arg, int32_t limit, const char* function)
{
    const lua_Number value = luaL_checknumber(state, arg);
    if (!(value >= 0 && value < limit + 1.0))
        luaL_error(state, "%s id out of range", function);
    return static_cast<int32_t>(value);
}

// A display from its Create function (which sets `error` when it makes
// none), pushed as `type`, or the display's error raised. Lua errors jump
// over C++ frames, so the error text is on the Lua stack, and the C++
// string gone, before the error is raised.
template <class Make>
int PushDisplay(lua_State* state, const char* type, Make make)
{
    UIElement* display = nullptr;
    {
        std::string error;
        display = make(error);
        if (!display)
            lua_pushstring(state, error.empty() ? "display could not be made" : error.c_str());
    }
    if (!display) {
        luaL_where(state, 1);
        lua_insert(state, -2);
        lua_concat(state, 2);
        return lua_error(state);
    }
    PushLuaObject(state, display, type);
    return 1;
}

// ---------------------------------------------------------------------------
// Globals

// The panel's background image: tiled, or once at its own size from the
// window's origin for a mode beginning with 'b'.
int SetBackgroundTexture(lua_State* state)
{
    Manager& manager = EditorManager(state);
    auto* texture = CheckLuaObject<TextureRecord>(state, 1, kTextureType);
    const char* mode = luaL_optstring(state, 2, "tile");
    if (auto* panel = dynamic_cast<QJmanager*>(&manager)) {
        panel->SetBackgroundTexture(texture, mode[0] == 'b' ? QJmanager::kBackgroundOnce : QJmanager::kBackgroundTiled);
    }
    return 0;
}

// Renderers belong to the manager from the moment they are made; the Lua
// object only points at them.
int ArcKnobRendererFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    auto* texture = CheckLuaObject<TextureRecord>(state, 1, kTextureType);
    const float faceLeft = Number(state, 2), faceTop = Number(state, 3), side = Number(state, 4);
    const float arcLeft = Number(state, 5), arcTop = Number(state, 6);
    auto* renderer = new ArcKnobRenderer(&manager, texture, faceLeft, faceTop, side, arcLeft, arcTop);
    manager.adoptRenderer(renderer);
    PushLuaObject(state, static_cast<KnobRendererBase*>(renderer), kKnobRendererType);
    return 1;
}

int SpinKnobRendererFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    auto* texture = CheckLuaObject<TextureRecord>(state, 1, kTextureType);
    const float left = Number(state, 2), top = Number(state, 3), side = Number(state, 4);
    auto* renderer = new TexturedKnobRenderer(&manager, texture, left, top, side);
    manager.adoptRenderer(renderer);
    PushLuaObject(state, static_cast<KnobRendererBase*>(renderer), kKnobRendererType);
    return 1;
}

int SliderRendererFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    auto* texture = CheckLuaObject<TextureRecord>(state, 1, kTextureType);
    auto* normalMap = CheckLuaObject<TextureRecord>(state, 2, kTextureType);
    auto* renderer = new TexturedSliderRenderer(&manager, texture, normalMap);
    manager.adoptRenderer(renderer);
    PushLuaObject(state, renderer, kSliderRendererType);
    return 1;
}

int CalibrationDisplayFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    return PushDisplay(state, kCalibrationDisplayType,
                       [&](std::string& error) { return CalibrationDisplay::Create(manager, x, y, w, h, error); });
}

int EnvelopeDisplayFn(lua_State* state)
{
    const int32_t id = CheckId(state, 1, 2, "envelopeDisplay");
    Manager& manager = EditorManager(state);
    const float x = Number(state, 2), y = Number(state, 3), w = Number(state, 4), h = Number(state, 5);
    return PushDisplay(state, kEnvDisplayType,
                       [&](std::string& error) { return EnvDisplay::Create(manager, id, x, y, w, h, error); });
}

int WaveformDisplayFn(lua_State* state)
{
    const int32_t id = CheckId(state, 1, 1, "waveformDisplay");
    Manager& manager = EditorManager(state);
    const float x = Number(state, 2), y = Number(state, 3), w = Number(state, 4), h = Number(state, 5);
    return PushDisplay(state, kWaveformDisplayType,
                       [&](std::string& error) { return WaveformDisplay::Create(manager, id, x, y, w, h, error); });
}

int StepEditorFn(lua_State* state)
{
    const int32_t id = CheckId(state, 1, 1, "stepEditor");
    Manager& manager = EditorManager(state);
    const float x = Number(state, 2), y = Number(state, 3), w = Number(state, 4), h = Number(state, 5);
    return PushDisplay(state, kStepEditorType,
                       [&](std::string& error) { return StepEditor::Create(manager, id, x, y, w, h, error); });
}

int FunctionDisplayFn(lua_State* state)
{
    const int32_t id = CheckId(state, 1, 1, "functionDisplay");
    Manager& manager = EditorManager(state);
    const float x = Number(state, 2), y = Number(state, 3), w = Number(state, 4), h = Number(state, 5);
    return PushDisplay(state, kFunctionDisplayType,
                       [&](std::string& error) { return FunctionDisplay::Create(manager, id, x, y, w, h, error); });
}

int FollowerEnvDisplayFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    return PushDisplay(state, kFollowerEnvDisplayType,
                       [&](std::string& error) { return FollowerEnvDisplay::Create(manager, x, y, w, h, error); });
}

int FollowerPitchDisplayFn(lua_State* state)
{
    Manager& manager = EditorManager(state);
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    return PushDisplay(state, kFollowerPitchDisplayType,
                       [&](std::string& error) { return FollowerPitchDisplay::Create(manager, x, y, w, h, error); });
}

int InfoDisplayFn(lua_State* state)
{
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    const lua_Number count = luaL_checknumber(state, 5);
    // InfoDisplay keeps at most six entries and none below one.
    const auto n = static_cast<int32_t>(count > 6 ? 6 : count < 0 ? 0 : count);
    Manager& manager = EditorManager(state);
    return PushDisplay(state, kElementType,
                       [&](std::string& error) { return InfoDisplay::Create(manager, x, y, w, h, n, error); });
}

int QuantizerInfoDisplayFn(lua_State* state)
{
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    const lua_Number index = luaL_checknumber(state, 5);
    if (!(index >= 0 && index < 2))
        return luaL_error(state, "infoDisplay index out of range: %d", static_cast<int>(index));
    Manager& manager = EditorManager(state);
    return PushDisplay(state, kElementType, [&](std::string& error) {
        return QuantizerInfoDisplay::Create(manager, x, y, w, h, static_cast<int32_t>(index), error);
    });
}

int FollowerInfoDisplayFn(lua_State* state)
{
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    Manager& manager = EditorManager(state);
    return PushDisplay(state, kElementType,
                       [&](std::string& error) { return FollowerInfoDisplay::Create(manager, x, y, w, h, error); });
}

// The Learner's panel; while it exists the banner shows the instance's
// numbers.
int LearnerInfoDisplayFn(lua_State* state)
{
    const float x = Number(state, 1), y = Number(state, 2), w = Number(state, 3), h = Number(state, 4);
    Manager& manager = EditorManager(state);
    manager.SetShowInstanceNumber(true);
    return PushDisplay(state, kElementType,
                       [&](std::string& error) { return LearnerInfoDisplay::Create(manager, x, y, w, h, error); });
}

int ParamButton(lua_State* state)
{
    const int32_t index = LuaGui::parameterIndexForName(state, luaL_checkstring(state, 1));
    const char* text = luaL_checkstring(state, 2);
    const float x = Number(state, 3), y = Number(state, 4), w = Number(state, 5), h = Number(state, 6);
    Manager& manager = EditorManager(state);
    PushLuaObject(state, static_cast<UIElement*>(new CorvButton(&manager, text, x, y, w, h, index)), kElementType);
    return 1;
}

// The MIDI Browser for the button's property (the button is the context).
void MidiBrowse(Button* sender, void* context)
{
    auto* button = static_cast<MIDIBrowseButton*>(context);
    if (sender && button && button->GetManager())
        ShowMIDIBrowser(*button->GetManager(), button->PropertyId());
}

int MidiBrowseButton(lua_State* state)
{
    const char* text = luaL_checkstring(state, 1);
    const char* tooltip = luaL_checkstring(state, 2);
    const auto property = static_cast<uint32_t>(luaL_checkinteger(state, 3));
    const float x = Number(state, 4), y = Number(state, 5), w = Number(state, 6), h = Number(state, 7);
    Manager& manager = EditorManager(state);
    auto* button =
        new MIDIBrowseButton(&manager, text, MidiBrowse, property, x, y, w, h, manager.CommandIdForName(tooltip));
    PushLuaObject(state, static_cast<UIElement*>(button), kElementType);
    return 1;
}

const luaL_Reg kGlobals[] = {
    {"setBackgroundTexture", SetBackgroundTexture},
    {"arcKnobRenderer", ArcKnobRendererFn},
    {"spinKnobRenderer", SpinKnobRendererFn},
    {"sliderRenderer", SliderRendererFn},
    {"calibrationDisplay", CalibrationDisplayFn},
    {"envelopeDisplay", EnvelopeDisplayFn},
    {"paramButton", ParamButton},
    {"midiBrowseButton", MidiBrowseButton},
    {"infoDisplay", InfoDisplayFn},
    {"waveformDisplay", WaveformDisplayFn},
    {"quantizerInfoDisplay", QuantizerInfoDisplayFn},
    {"stepEditor", StepEditorFn},
    {"followerInfoDisplay", FollowerInfoDisplayFn},
    {"followerEnvDisplay", FollowerEnvDisplayFn},
    {"followerPitchDisplay", FollowerPitchDisplayFn},
    {"learnerInfoDisplay", LearnerInfoDisplayFn},
    {"functionDisplay", FunctionDisplayFn},
};

// Display colour methods: (display, r, g, b, a).
template <class D, const char* Type, auto Set>
int SetDisplayColour(lua_State* state)
{
    D* display = CheckLuaObject<D>(state, 1, Type);
    (display->*Set)(Colour{Number(state, 2), Number(state, 3), Number(state, 4), Number(state, 5)});
    return 0;
}

template <class D, const char* Type>
constexpr luaL_Reg kBackgroundMethod{"setBackgroundColour", SetDisplayColour<D, Type, &D::SetBackgroundColour>};
template <class D, const char* Type>
constexpr luaL_Reg kFillMethod{"setFillColour", SetDisplayColour<D, Type, &D::SetFillColour>};
template <class D, const char* Type>
constexpr luaL_Reg kLineMethod{"setLineColour", SetDisplayColour<D, Type, &D::SetLineColour>};
constexpr luaL_Reg kEnd{nullptr, nullptr};

const luaL_Reg kEnvMethods[] = {kBackgroundMethod<EnvDisplay, kEnvDisplayType>,
                                kFillMethod<EnvDisplay, kEnvDisplayType>, kLineMethod<EnvDisplay, kEnvDisplayType>,
                                kEnd};
const luaL_Reg kCalibrationMethods[] = {kBackgroundMethod<CalibrationDisplay, kCalibrationDisplayType>,
                                        kLineMethod<CalibrationDisplay, kCalibrationDisplayType>, kEnd};
const luaL_Reg kWaveformMethods[] = {kBackgroundMethod<WaveformDisplay, kWaveformDisplayType>,
                                     kLineMethod<WaveformDisplay, kWaveformDisplayType>, kEnd};
const luaL_Reg kFollowerEnvMethods[] = {
    kBackgroundMethod<FollowerEnvDisplay, kFollowerEnvDisplayType>,
    kFillMethod<FollowerEnvDisplay, kFollowerEnvDisplayType>,
    kLineMethod<FollowerEnvDisplay, kFollowerEnvDisplayType>,
    {"setPeakLineColour",
     SetDisplayColour<FollowerEnvDisplay, kFollowerEnvDisplayType, &FollowerEnvDisplay::SetPeakLineColour>},
    kEnd};
const luaL_Reg kFollowerPitchMethods[] = {kBackgroundMethod<FollowerPitchDisplay, kFollowerPitchDisplayType>,
                                          kFillMethod<FollowerPitchDisplay, kFollowerPitchDisplayType>,
                                          kLineMethod<FollowerPitchDisplay, kFollowerPitchDisplayType>, kEnd};
const luaL_Reg kStepEditorMethods[] = {kBackgroundMethod<StepEditor, kStepEditorType>,
                                       kFillMethod<StepEditor, kStepEditorType>,
                                       kLineMethod<StepEditor, kStepEditorType>, kEnd};
const luaL_Reg kFunctionMethods[] = {kBackgroundMethod<FunctionDisplay, kFunctionDisplayType>,
                                     kLineMethod<FunctionDisplay, kFunctionDisplayType>, kEnd};

const struct {
    const char* type;
    const luaL_Reg* methods;
} kDisplayTypes[] = {
    {kEnvDisplayType, kEnvMethods},
    {kCalibrationDisplayType, kCalibrationMethods},
    {kWaveformDisplayType, kWaveformMethods},
    {kFollowerEnvDisplayType, kFollowerEnvMethods},
    {kFollowerPitchDisplayType, kFollowerPitchMethods},
    {kStepEditorType, kStepEditorMethods},
    {kFunctionDisplayType, kFunctionMethods},
};

// Runs a script action bound to a toolkit button: the sender is the button.
void RunBoundAction(Button* button, void* binding)
{
    auto* bound = static_cast<PluginLuaGui::ActionBinding*>(binding);
    if (bound && bound->action)
        bound->action(button, bound->context);
}

// The Enter Property dialog of a property text field, starting from the
// property's value as it is now.
void EnterProperty(PropertyTextField* field, void*)
{
    if (field && field->Editable() && field->GetManager())
        ShowEnterPropertyDialog(*field->GetManager(), field->PropertyId(), field->Prompt(), field->ReadPropertyText());
}

} // namespace

PluginLuaGui::PluginLuaGui(ObryAuBase* plugin, ObryCorvaneView* view) : LuaGui(plugin), view(view)
{
    for (const auto& resource : kResources)
        resourceIds[resource.name] = resource.id;
}

void PluginLuaGui::RegisterPluginFunctions(lua_State* state)
{
    for (const luaL_Reg& global : kGlobals) {
        lua_pushcclosure(state, global.func, 0);
        lua_setglobal(state, global.name);
    }
    for (const auto& display : kDisplayTypes)
        RegisterLuaObjectType(state, display.type, display.methods);
    RegisterLuaObjectType(state, kKnobRendererType, nullptr);
    RegisterLuaObjectType(state, kSliderRendererType, nullptr);
}

void PluginLuaGui::registerElementTypes()
{
    for (const auto& display : kDisplayTypes)
        elementTypeNames.push_back(display.type);
}

void PluginLuaGui::setupGUI(Manager& editorManager)
{
    manager = &editorManager;
    if (!manager->Root())
        manager->SetRootElement(new Group(manager));
    if (!setupLua())
        return;
    fetchFonts();
    manager->RegisterCommandNames();
    manager->SetDrawPopups(true);

    const ButtonTable buttons = {
        {"Prefs", {PrefsAction, -2}},
        {"VCSave", {SaveCalibrationAction, -3}},
        {"VCLoad", {LoadCalibrationAction, -4}},
        {"QuantizerLoad", {LoadQuantizerCalibrationAction, -5}},
        {"Transfer", {TransferCalibrationAction, -6}},
    };
    RunProtected(
        "registering the editor's functions failed: ",
        [](lua_State* state, void*) { RegisterPluginFunctions(state); }, nullptr, 1000);
    createUI(buttons);
}

// ---------------------------------------------------------------------------
// Widgets

UIElement* PluginLuaGui::createKnob(lua_State* state, int32_t index, float x, float y, float size)
{
    lua_getglobal(state, "theKnobRenderer");
    auto* renderer = CheckLuaObject<KnobRendererBase>(state, lua_gettop(state), kKnobRendererType);
    lua_pop(state, 1);
    if (auto* arc = dynamic_cast<ArcKnobRenderer*>(renderer))
        return new ArcKnob(manager, arc, index, x, y, size);
    if (auto* spin = dynamic_cast<TexturedKnobRenderer*>(renderer))
        return new BrelKnob(manager, spin, index, x, y, size);
    return nullptr;
}

UIElement* PluginLuaGui::createSlider(lua_State* state, int, int32_t index, float x, float y, float w, float h,
                                      bool horizontal)
{
    float thumb[4];
    for (int arg = 7; arg <= 10; ++arg)
        thumb[arg - 7] = Number(state, arg);
    lua_getglobal(state, "theSliderRenderer");
    auto* renderer = CheckLuaObject<TexturedSliderRenderer>(state, lua_gettop(state), kSliderRendererType);
    lua_pop(state, 1);
    return new TexturedSlider(manager, renderer, thumb[0], thumb[1], thumb[2], thumb[3], index, x, y, w, h,
                              horizontal);
}

PluginLuaGui::ActionBinding* PluginLuaGui::BindAction(ButtonAction action, void* context)
{
    actionBindings.push_back(ActionBinding{action, context});
    return &actionBindings.back();
}

UIElement* PluginLuaGui::createButton(lua_State*, int, const char* text, ButtonAction action, void* context, float x,
                                      float y, float w, float h, int32_t commandId)
{
    return new BrelButton(manager, text, RunBoundAction, BindAction(action, context), x, y, w, h, commandId);
}

UIElement* PluginLuaGui::createLuaButton(lua_State*, int, const char* text, ButtonAction action, void* record,
                                         float x, float y, float w, float h, int32_t commandId, bool toggle)
{
    return new BrelStatefulButton(manager, text, RunBoundAction, BindAction(action, record), x, y, w, h, commandId,
                                  toggle);
}

UIElement* PluginLuaGui::createPropertyTriggerButton(lua_State*, int, const char* text, ButtonAction action,
                                                     void* record, float x, float y, float w, float h,
                                                     int32_t commandId)
{
    return new BrelStatefulButton(manager, text, RunBoundAction, BindAction(action, record), x, y, w, h, commandId,
                                  false);
}

UIElement* PluginLuaGui::createPropertyButton(lua_State*, int, const char* text, uint32_t propertyId, float x,
                                              float y, float w, float h, int32_t commandId)
{
    return new BrelPropertyButton(manager, text, propertyId, x, y, w, h, commandId);
}

UIElement* PluginLuaGui::createDropDown(lua_State*, int32_t index, float x, float y, float w, float h)
{
    return new QJDropDown(manager, index, x, y, w, h);
}

UIElement* PluginLuaGui::createLabel(lua_State*, const char* text, float x, float y, char align)
{
    return new Label(manager, text, x, y, align);
}

UIElement* PluginLuaGui::createTextField(lua_State*, int32_t index, float x, float y, float w, float h,
                                         const char* format)
{
    return new TextField(manager, index, x, y, w, h, format);
}

UIElement* PluginLuaGui::createPropertyTextField(lua_State*, uint32_t propertyId, const char* prompt, float x,
                                                 float y, float w, float h)
{
    auto* field = new PropertyTextField(manager, propertyId, prompt, x, y, w, h);
    field->SetAction(EnterProperty, nullptr);
    return field;
}

void PluginLuaGui::SetElementState(UIElement* element, bool on)
{
    if (auto* button = dynamic_cast<StatefulButton*>(element))
        button->SetState(on);
}

bool PluginLuaGui::ElementState(UIElement* element)
{
    auto* button = dynamic_cast<StatefulButton*>(element);
    return button && button->State();
}

void PluginLuaGui::SetElementColour(UIElement* element, int which, const Colour& colour)
{
    if (auto* label = dynamic_cast<Label*>(element)) {
        if (which == 0)
            label->SetBackgroundColour(colour);
        else if (which == 1)
            label->SetForegroundColour(colour);
    } else if (auto* field = dynamic_cast<TextField*>(element)) {
        field->SetColour(which, colour);
    }
    if (manager)
        manager->SignalRenderEvent(Manager::kEventRedrawPanel); // labels live in the panel
}

void PluginLuaGui::SetElementEditable(UIElement* element, bool editable)
{
    if (auto* field = dynamic_cast<PropertyTextField*>(element))
        field->SetEditable(editable);
}

// ---------------------------------------------------------------------------
// Button actions

// The About and Preferences panel, drawn over the editor's controls.
void PluginLuaGui::PrefsAction(void*, void* context)
{
    auto* gui = static_cast<PluginLuaGui*>(context);
    if (gui && gui->GetManager())
        ShowPreferencesDialog(*gui->GetManager());
}

void PluginLuaGui::SaveCalibrationAction(void*, void* context)
{
    auto* gui = static_cast<PluginLuaGui*>(context);
    if (gui && gui->GetManager())
        SaveCalibrationFile(*gui->GetManager());
}

void PluginLuaGui::LoadCalibrationAction(void*, void* context)
{
    auto* gui = static_cast<PluginLuaGui*>(context);
    if (gui && gui->GetManager())
        LoadCalibrationFile(*gui->GetManager());
}

void PluginLuaGui::LoadQuantizerCalibrationAction(void*, void* context)
{
    auto* gui = static_cast<PluginLuaGui*>(context);
    if (gui && gui->GetManager())
        LoadQuantizerCalibrationFile(*gui->GetManager());
}

void PluginLuaGui::TransferCalibrationAction(void*, void* context)
{
    auto* gui = static_cast<PluginLuaGui*>(context);
    if (gui && gui->GetManager())
        TransferCalibration(*gui->GetManager());
}

} // namespace QZ
