// QZ::LuaGui: the Lua state that lays out one plug-in editor. It runs the
// shared "gui.lua" and the plug-in's own script (a skin's copies first, then
// the built-in ones; every script defines a global only while it is nil, so
// the first definition wins), asks them for the window size and fonts, and
// lets their createUI build the element tree through the global functions
// registered here. The widgets whose construction differs per product are
// made through the virtual create operations (PluginLuaGui).
//
// Scripts are untrusted (a skin is any folder a user copies in): every call
// into Lua is protected, runs under the same time and memory limits as the
// MIDI scripts (counted in wall time here), and the state offers no way to
// run programs, load native code, load precompiled chunks, write a file or
// end the process. Its print writes lines to the module's debug output on
// standard error, as the MIDI scripts' does; a script has no other way to
// the host's standard output or error. A failing script leaves its error
// text in LastError(); the editor still opens.
//
// Threads: the host's UI thread only (construction, setupGUI, createUI and
// the button actions, which the editor window delivers from effEditIdle).
// The render thread never touches the state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/toolkit/Geometry.h"
#include "scripting/ScriptLimits.h"

struct lua_State;
class ObryAuBase;

namespace QZ {

class Manager;
class UIElement;
class NamedGroup;
struct FontRecord;
struct FontSpec;
struct TextureRecord;

class LuaGui {
public:
    // A button's action: sender is the button, context what it was given.
    using ButtonAction = void (*)(void* sender, void* context);
    struct ButtonEntry {
        ButtonAction callback = nullptr;
        int32_t commandId = 0;
    };
    using ButtonTable = std::map<std::string, ButtonEntry>;
    // A Lua button's function and a property trigger button's property.
    struct LuaButtonBinding {
        LuaGui* gui;
        int reference;
    };
    struct PropertyTriggerBinding {
        LuaGui* gui;
        uint32_t propertyId;
    };

    // Registry keys; their addresses are the keys.
    static const char kViewRefcon[];
    static const char kParamLookup[];

    // Reads the "Skin" preference and, with a skin, builds the skin's
    // resource folder from the plug-in's product name.
    explicit LuaGui(ObryAuBase* plugin);
    virtual ~LuaGui();
    LuaGui(const LuaGui&) = delete;
    LuaGui& operator=(const LuaGui&) = delete;

    // Builds the editor into manager (PluginLuaGui).
    virtual void setupGUI(Manager& manager) = 0;

    // The widgets the global functions make; each returns the new element
    // (owned by the manager), or null when it makes none. May raise Lua
    // errors (they run inside the script's protected call). `arguments` is
    // the Lua call's argument count.
    virtual UIElement* createKnob(lua_State* state, int32_t index, float x, float y, float size) = 0;
    virtual UIElement* createSlider(lua_State* state, int arguments, int32_t index, float x, float y, float w,
                                    float h, bool horizontal) = 0;
    virtual UIElement* createButton(lua_State* state, int arguments, const char* text, ButtonAction action,
                                    void* context, float x, float y, float w, float h, int32_t commandId) = 0;
    virtual UIElement* createLuaButton(lua_State* state, int arguments, const char* text, ButtonAction action,
                                       void* record, float x, float y, float w, float h, int32_t commandId,
                                       bool toggle) = 0;
    virtual UIElement* createPropertyTriggerButton(lua_State* state, int arguments, const char* text,
                                                   ButtonAction action, void* record, float x, float y, float w,
                                                   float h, int32_t commandId) = 0;
    virtual UIElement* createPropertyButton(lua_State* state, int arguments, const char* text, uint32_t propertyId,
                                            float x, float y, float w, float h, int32_t commandId) = 0;
    virtual UIElement* createDropDown(lua_State* state, int32_t index, float x, float y, float w, float h) = 0;
    // align: 'l', 'r' or 'c'.
    virtual UIElement* createLabel(lua_State* state, const char* text, float x, float y, char align) = 0;
    virtual UIElement* createTextField(lua_State* state, int32_t index, float x, float y, float w, float h,
                                       const char* format) = 0;
    virtual UIElement* createPropertyTextField(lua_State* state, uint32_t propertyId, const char* prompt, float x,
                                               float y, float w, float h) = 0;
    // Appends further metatable names whose objects count as elements.
    virtual void registerElementTypes() {}
    // The element methods that depend on the widget kind: a toggle's state
    // (false and no effect on other widgets), label and text-field colours
    // (0 background, 1 text, 2 active, 3 changed) and whether a property
    // field opens its entry dialog.
    virtual void SetElementState(UIElement* element, bool on) = 0;
    virtual bool ElementState(UIElement* element) = 0;
    virtual void SetElementColour(UIElement* element, int which, const Colour& colour) = 0;
    virtual void SetElementEditable(UIElement* element, bool editable) = 0;

    // Bindings and resources the global functions make (stable addresses).
    LuaButtonBinding* AddLuaButtonBinding(int reference);
    PropertyTriggerBinding* AddPropertyTriggerBinding(uint32_t propertyId);
    // A texture from the skin folder or, failing that, the resource table,
    // handed to the manager (which loads it when GL starts); null when
    // neither has it or no editor is open.
    TextureRecord* AddTexture(const std::string& fileName);
    // Hands a font made by font() to the manager; null stays null.
    FontRecord* AddFont(std::unique_ptr<FontRecord> font);

    // Makes the state, runs the scripts; later calls return the same state.
    // Null only when Lua could not make one.
    lua_State* setupLua();
    // Runs one script from the skin folder (nothing when there is no skin
    // or no such file) or built in (by the resource table). False when the
    // script could not be read or failed.
    bool runScript(const std::string& name, bool fromSkin);
    // The script's getWindowSize(), within the sizes the editor can be
    // resized to; 0 x 0 when it is missing or fails.
    void getWindowSize(int32_t& width, int32_t& height);
    // The script's getFont, getLabelFont and getTextFieldFont.
    void fetchFonts();
    // Sizes the manager's window, then calls the script's createUI; the
    // button function finds its actions in `buttons` while it runs.
    void createUI(const ButtonTable& buttons);
    void closeLua();

    static LuaGui* fromLuaState(lua_State* state);
    // The element at stack index `arg`, or a Lua argument error.
    static UIElement* checkElement(lua_State* state, int arg);
    // The parameter called `name`, or the Lua error "parameter not found".
    static int32_t parameterIndexForName(lua_State* state, const char* name);

    // What the editor and tests read.
    Manager* GetManager() const { return manager; }
    ObryAuBase* Plugin() const { return plugin; }
    const std::string& SkinBasePath() const { return skinBasePath; }
    lua_State* State() const { return luaState; }
    // The first error a script or callback raised, or empty.
    const std::string& LastError() const { return lastError; }
    // Every error, in order (tests and the debug output).
    const std::vector<std::string>& Errors() const { return errors; }
    // The button actions while createUI runs, else null.
    const ButtonTable* Buttons() const { return buttonTable; }
    // The fonts the scripts chose (null: none loaded); the manager's once
    // an editor is open.
    FontRecord* MainFont() const;
    FontRecord* LabelFont() const;
    FontRecord* TextFieldFont() const;
    // Whether the script's createUI is running: the element tree may grow
    // only then, before the render thread walks it.
    bool BuildingUI() const { return buildingUI; }

    // Runs a luaButton's function (record: its binding).
    static void LuaButtonAction(void* sender, void* record);
    // Sets a property trigger button's property (record: its binding).
    static void PropertyTriggerAction(void* sender, void* record);

    // Calls the font-list function on top of the stack (popping it) and
    // appends its entries {name = , size = }; an error or a result that is
    // not a table gives none.
    static void ReadFontList(lua_State* state, std::vector<FontSpec>& specs);
    // The first font of the list that loads with a face, or null.
    static std::unique_ptr<FontRecord> LoadFont(const std::vector<FontSpec>& specs);

    // Runs fn(state, context) inside a protected call under the time limit.
    // On failure records the error (prefixed with `what`) and returns false.
    using ProtectedFunction = void (*)(lua_State* state, void* context);
    bool RunProtected(const char* what, ProtectedFunction fn, void* context, int limitMs);

    // Debug trace: "@@@ " and the text on the standard output.
    static void ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

protected:
    // The font the global function `name` lists, or null.
    std::unique_ptr<FontRecord> getFontFromLua(const char* name);
    void RecordError(const std::string& text);

    // Registers the global functions of the generic API (state on top of
    // the set-up's protected call).
    static void RegisterFunctions(lua_State* state);
    // Removes what an untrusted script must not reach.
    static void Sandbox(lua_State* state);

    Manager* manager = nullptr;
    std::string skinName;
    std::string skinBasePath;
    lua_State* luaState = nullptr;
    std::vector<std::string> elementTypeNames;
    std::map<std::string, int32_t> resourceIds; // script and texture names
    std::list<LuaButtonBinding> luaButtons;
    std::list<PropertyTriggerBinding> propertyTriggers;
    ObryAuBase* plugin;

    std::map<std::string, int32_t>* parameterLookup = nullptr;
    const ButtonTable* buttonTable = nullptr;
    // The fonts until the manager takes them (fetchFonts with an editor).
    std::unique_ptr<FontRecord> mainFont, labelFont, textFieldFont;
    bool buildingUI = false;
    std::string lastError;
    std::vector<std::string> errors;

private:
    static int SetupProtected(lua_State* state);
    static int RunProtectedTrampoline(lua_State* state);

    // Counted in wall time: an editor's scripts run on the host's UI thread.
    ScriptLimits limits;
};

} // namespace QZ
