// PluginLuaGui: the editor scripts of this plug-in family. It names the
// built-in scripts and the button texture, makes the family's widgets for
// the generic functions, adds the globals for knob and slider renderers,
// the plug-in displays and the special buttons, and supplies the named
// button actions ("Prefs", "VCSave", "VCLoad", "QuantizerLoad",
// "Transfer") that the scripts' button() calls use.
//
// Threads: the host's UI thread (see LuaGui).
#pragma once

#include <deque>
#include <string>

#include "gui/luagui/LuaGui.h"

class ObryCorvaneView;

namespace QZ {

class PluginLuaGui : public LuaGui {
public:
    // A script action as a toolkit button runs it: its function and context
    // (kept for the editor's lifetime; the button points at it).
    struct ActionBinding {
        ButtonAction action;
        void* context;
    };

    // view: the editor that made this object (null for the throw-away
    // instance that only asks for the window size).
    PluginLuaGui(ObryAuBase* plugin, ObryCorvaneView* view);

    // Builds the editor: runs the scripts, fetches fonts, registers the
    // family's globals and calls createUI. Afterwards LastError() holds the
    // first script error, if any.
    void setupGUI(Manager& manager) override;

    UIElement* createKnob(lua_State* state, int32_t index, float x, float y, float size) override;
    UIElement* createSlider(lua_State* state, int arguments, int32_t index, float x, float y, float w, float h,
                            bool horizontal) override;
    UIElement* createButton(lua_State* state, int arguments, const char* text, ButtonAction action, void* context,
                            float x, float y, float w, float h, int32_t commandId) override;
    UIElement* createLuaButton(lua_State* state, int arguments, const char* text, ButtonAction action, void* record,
                               float x, float y, float w, float h, int32_t commandId, bool toggle) override;
    UIElement* createPropertyTriggerButton(lua_State* state, int arguments, const char* text, ButtonAction action,
                                           void* record, float x, float y, float w, float h,
                                           int32_t commandId) override;
    UIElement* createPropertyButton(lua_State* state, int arguments, const char* text, uint32_t propertyId, float x,
                                    float y, float w, float h, int32_t commandId) override;
    UIElement* createDropDown(lua_State* state, int32_t index, float x, float y, float w, float h) override;
    UIElement* createLabel(lua_State* state, const char* text, float x, float y, char align) override;
    UIElement* createTextField(lua_State* state, int32_t index, float x, float y, float w, float h,
                               const char* format) override;
    UIElement* createPropertyTextField(lua_State* state, uint32_t propertyId, const char* prompt, float x, float y,
                                       float w, float h) override;
    void registerElementTypes() override;
    void SetElementState(UIElement* element, bool on) override;
    bool ElementState(UIElement* element) override;
    void SetElementColour(UIElement* element, int which, const Colour& colour) override;
    void SetElementEditable(UIElement* element, bool editable) override;

    // The button actions; context is the PluginLuaGui.
    static void PrefsAction(void* sender, void* context);
    static void SaveCalibrationAction(void* sender, void* context);
    static void LoadCalibrationAction(void* sender, void* context);
    static void LoadQuantizerCalibrationAction(void* sender, void* context);
    static void TransferCalibrationAction(void* sender, void* context);

    ObryCorvaneView* View() const { return view; }

    // Globals and metatables of the family (in the set-up's protected call).
    static void RegisterPluginFunctions(lua_State* state);

    ActionBinding* BindAction(ButtonAction action, void* context);

private:
    ObryCorvaneView* view;
    std::deque<ActionBinding> actionBindings;
};

} // namespace QZ
