#include "gui/luagui/LuaGui.h"

#include <lua.hpp>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "framework/ObryAuBase.h"
#include "framework/ObryProperties.h"
#include "framework/ParameterInfo.h"
#include "gui/toolkit/Fonts.h"
#include "gui/toolkit/Manager.h"
#include "gui/toolkit/Textures.h"
#include "platform/FileText.h"
#include "platform/Preferences.h"
#include "platform/Resources.h"
#include "platform/UserFolders.h"
#include "scripting/LuaMIDIHelper.h"
#include "scripting/LuaPrint.h"
#include "scripting/LuaSandbox.h"

namespace QZ {

const char LuaGui::kViewRefcon[] = "QZgui::kViewRefcon";
const char LuaGui::kParamLookup[] = "QZgui::kParamLookup";

namespace {

// The editor scripts live under the same limits as the MIDI scripts.
constexpr int kCallLimitMs = LuaMIDIHelper::kCallTimeLimitMs;
constexpr int kLoadLimitMs = LuaMIDIHelper::kLoadTimeLimitMs;
constexpr size_t kMemoryLimit = LuaMIDIHelper::kMemoryLimitBytes;
constexpr uint32_t kScriptResourceType = 256;

const char* ErrorText(lua_State* state, int index = -1)
{
    const char* text = lua_tostring(state, index);
    return text ? text : "(error object is not a string)";
}

// Every entry into the state is a protected call, so this is never reached;
// it would only report before Lua gives up.
int Panic(lua_State* state)
{
    LuaGui::ConsolePrintf("unprotected error in the editor's Lua: %s\n", ErrorText(state));
    return 0;
}

} // namespace

void LuaGui::ConsolePrintf(const char* format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    fprintf(stdout, "@@@ %s", text);
    fflush(stdout);
}

LuaGui::LuaGui(ObryAuBase* plugin) : plugin(plugin), limits(ScriptLimits::Clock::Wall, kMemoryLimit)
{
    std::string skin;
    if (corvane::ReadSkinPref(skin))
        skinName = skin;
    if (!skinName.empty() && plugin) {
        const char* product = nullptr;
        if (plugin->GetProperty(kObryProperty_ProductName, 0, 0, &product) == 0 && product)
            skinBasePath = corvane::GetSkinBundlePath(skinName, product);
    }
}

LuaGui::~LuaGui()
{
    closeLua();
}

void LuaGui::RecordError(const std::string& text)
{
    ConsolePrintf("%s\n", text.c_str());
    if (lastError.empty())
        lastError = text;
    errors.push_back(text);
}

struct ProtectedCall {
    LuaGui::ProtectedFunction fn;
    void* context;
};

int LuaGui::RunProtectedTrampoline(lua_State* state)
{
    auto* call = static_cast<ProtectedCall*>(lua_touserdata(state, 1));
    lua_settop(state, 0);
    call->fn(state, call->context);
    return 0;
}

bool LuaGui::RunProtected(const char* what, ProtectedFunction fn, void* context, int limitMs)
{
    if (!luaState)
        return false;
    ProtectedCall call{fn, context};
    const int top = lua_gettop(luaState);
    const int status = limits.Run(luaState, limits.Now() + std::chrono::milliseconds(limitMs),
                                  [&] { return lua_cpcall(luaState, RunProtectedTrampoline, &call); });
    if (status != 0) {
        RecordError(std::string(what) + ErrorText(luaState));
        lua_settop(luaState, top);
        return false;
    }
    lua_settop(luaState, top);
    return true;
}

// ---------------------------------------------------------------------------
// The state.

void LuaGui::Sandbox(lua_State* state)
{
    // What the MIDI scripts may not do either (the time limit's hook, the
    // registry, the host's standard input, costly patterns, native code,
    // precompiled chunks), nothing written...
    RestrictLuaLibraries(state, FileAccess::ReadOnly);
    // ...and, for a skin's scripts, nothing that runs programs or touches
    // files other than by reading.
    static const char* const kRemoved[][2] = {
        {"os", "execute"}, {"os", "remove"}, {"os", "rename"}, {"os", "tmpname"}, {"io", "popen"},
        {"package", "loadlib"},
    };
    for (const auto& entry : kRemoved) {
        lua_getglobal(state, entry[0]);
        if (lua_istable(state, -1)) {
            lua_pushnil(state);
            lua_setfield(state, -2, entry[1]);
        }
        lua_pop(state, 1);
    }
    // print goes to the module's debug output, as the MIDI scripts' does.
    InstallLuaPrint(state);
    // loadstring takes source text only.
    lua_getglobal(state, "loadstring");
    lua_pushcclosure(
        state,
        [](lua_State* s) -> int {
            size_t length = 0;
            const char* text = luaL_checklstring(s, 1, &length);
            if (length > 0 && text[0] == LUA_SIGNATURE[0]) {
                lua_pushnil(s);
                lua_pushstring(s, "precompiled chunks are not loaded");
                return 2;
            }
            lua_pushvalue(s, lua_upvalueindex(1));
            lua_insert(s, 1);
            lua_call(s, lua_gettop(s) - 1, LUA_MULTRET);
            return lua_gettop(s);
        },
        1);
    lua_setglobal(state, "loadstring");
}

int LuaGui::SetupProtected(lua_State* state)
{
    auto* gui = static_cast<LuaGui*>(lua_touserdata(state, 1));
    luaL_openlibs(state);
    gui->limits.Install(state);
    Sandbox(state);
    RegisterFunctions(state);
    gui->registerElementTypes();

    lua_pushlightuserdata(state, gui);
    lua_setfield(state, LUA_REGISTRYINDEX, kViewRefcon);
    lua_pushlightuserdata(state, gui->parameterLookup);
    lua_setfield(state, LUA_REGISTRYINDEX, kParamLookup);

    static const struct {
        const char* name;
        int value;
    } kFlags[] = {{"isMac", 0}, {"isWin", 1}, {"isVST", 1}, {"isAU", 0}};
    for (const auto& flag : kFlags) {
        lua_pushboolean(state, flag.value);
        lua_setglobal(state, flag.name);
    }
    static const struct {
        const char* name;
        lua_Number value;
    } kNumbers[] = {{"majorVersion", 2}, {"minorVersion", 1}, {"dotVersion", 0}, {"version", 20100}};
    for (const auto& number : kNumbers) {
        lua_pushnumber(state, number.value);
        lua_setglobal(state, number.name);
    }
    return 0;
}

lua_State* LuaGui::setupLua()
{
    if (luaState)
        return luaState;

    parameterLookup = new std::map<std::string, int32_t>;
    int32_t count = 0;
    const ParameterInfo* table = nullptr;
    if (plugin && plugin->GetProperty(kObryProperty_ParameterCount, 0, 0, &count) == 0 &&
        plugin->GetProperty(kObryProperty_ParameterTable, 0, 0, &table) == 0 && table)
        for (int32_t i = 0; i < count; ++i)
            if (table[i].name)
                (*parameterLookup)[table[i].name] = i; // a later duplicate wins

    elementTypeNames = {"QZgui.Element", "QZgui.Label", "QZgui.TextField", "QZgui.PropertyTextFied"};
    luaState = lua_newstate(ScriptLimits::Allocate, &limits);
    if (!luaState) {
        RecordError("Lua could not make a state");
        delete parameterLookup;
        parameterLookup = nullptr;
        return nullptr;
    }
    lua_atpanic(luaState, Panic);
    if (lua_cpcall(luaState, SetupProtected, this) != 0) {
        RecordError(std::string("setting up the editor's Lua failed: ") + ErrorText(luaState));
        closeLua();
        return nullptr;
    }

    const char* scriptName = nullptr;
    if (plugin && (plugin->GetProperty(kObryProperty_GUIScriptName, 0, 0, &scriptName) != 0 || !scriptName ||
                   !*scriptName))
        scriptName = nullptr;
    // A skin whose scripts cannot be read or fail leaves a state half made:
    // the editor starts again from the built-in scripts alone.
    bool skinLoaded = runScript("gui.lua", true);
    if (scriptName && skinLoaded)
        skinLoaded = runScript(scriptName, true);
    if (!skinLoaded) {
        RecordError("the skin failed to load; the built-in scripts are used");
        closeLua();
        skinBasePath.clear();
        return setupLua();
    }
    runScript("gui.lua", false);
    if (scriptName)
        runScript(scriptName, false);
    return luaState;
}

bool LuaGui::runScript(const std::string& name, bool fromSkin)
{
    if (!luaState)
        return false;
    std::string fileText;
    const char* bytes = nullptr;
    size_t size = 0;
    if (fromSkin) {
        if (skinBasePath.empty())
            return true;
        // Never a FIFO or device, never more than a script may be: a skin
        // must not be able to stall or swamp the host's thread.
        const std::string path = skinBasePath + "/Contents/Resources/" + name;
        switch (corvane::ReadWholeFile(path, kScriptFileLimit, fileText)) {
        case corvane::FileRead::Ok: break;
        case corvane::FileRead::Missing: return true; // a missing file counts as an empty script
        case corvane::FileRead::TooLarge:
            RecordError("failed to run buffer: " + name + ": larger than a script may be");
            return false;
        case corvane::FileRead::Failed:
            RecordError("failed to run buffer: " + name + ": not a readable regular file");
            return false;
        }
        bytes = fileText.data();
        size = fileText.size();
    } else {
        const auto found = resourceIds.find(name);
        const corvane::platform::EmbeddedResource* resource =
            found == resourceIds.end()
                ? nullptr
                : corvane::platform::FindResource(kScriptResourceType, static_cast<uint32_t>(found->second));
        if (!resource) {
            RecordError("failed to run buffer: failed to find " + name + " in resource id lookup");
            return false;
        }
        bytes = reinterpret_cast<const char*>(resource->bytes);
        size = resource->size;
    }
    if (size > 0 && bytes[0] == LUA_SIGNATURE[0]) {
        RecordError("failed to run buffer: " + name + ": precompiled chunks are not loaded");
        return false;
    }
    struct Chunk {
        const char* bytes;
        size_t size;
        const char* name;
    } chunk{bytes, size, name.c_str()};
    return RunProtected(
        "failed to run buffer: ",
        [](lua_State* state, void* context) {
            auto* c = static_cast<Chunk*>(context);
            if (luaL_loadbuffer(state, c->bytes, c->size, c->name) != 0)
                lua_error(state);
            lua_call(state, 0, 0);
        },
        &chunk, kLoadLimitMs);
}

void LuaGui::getWindowSize(int32_t& width, int32_t& height)
{
    struct Size {
        lua_Number width = 0, height = 0;
    } size;
    width = 0;
    height = 0;
    if (!RunProtected(
            "getWindowSize failed: ",
            [](lua_State* state, void* context) {
                auto* s = static_cast<Size*>(context);
                lua_getglobal(state, "getWindowSize");
                lua_call(state, 0, 2);
                s->width = lua_isnumber(state, 1) ? lua_tonumber(state, 1) : 0;
                s->height = lua_isnumber(state, 2) ? lua_tonumber(state, 2) : 0;
            },
            &size, kCallLimitMs))
        return;
    // Truncated toward zero; what is not a finite number in int range is 0.
    auto toInt = [](lua_Number v) -> int32_t { return v > -2147483648.0 && v < 2147483648.0 ? int32_t(v) : 0; };
    width = toInt(size.width);
    height = toInt(size.height);
    // The window the host makes from this answer must be one the editor can
    // draw; a script asking for 16384 x 16384 would cost gigabytes in the
    // host and the X server.
    if (width > 0 && height > 0) {
        width = std::clamp(width, Manager::kMinResizeWidth, Manager::kMaxResizeWidth);
        height = std::clamp(height, Manager::kMinResizeHeight, Manager::kMaxResizeHeight);
    }
}

void LuaGui::ReadFontList(lua_State* state, std::vector<FontSpec>& specs)
{
    if (lua_pcall(state, 0, 1, 0) != 0 || !lua_istable(state, -1)) {
        lua_pop(state, 1);
        return;
    }
    for (int i = 1; i <= 64; ++i) {
        lua_rawgeti(state, -1, i);
        if (!lua_istable(state, -1)) {
            lua_pop(state, 1);
            break;
        }
        // Raw reads and no conversion on the Lua side: nothing here may
        // raise a Lua error while the C++ string below is alive.
        lua_pushliteral(state, "name");
        lua_rawget(state, -2);
        lua_pushliteral(state, "size");
        lua_rawget(state, -3);
        const int nameType = lua_type(state, -2);
        const lua_Number size = lua_type(state, -1) == LUA_TNUMBER ? lua_tonumber(state, -1) : 0;
        FontSpec spec;
        if (nameType == LUA_TSTRING) {
            size_t length = 0;
            const char* text = lua_tolstring(state, -2, &length);
            spec.name.assign(text, length);
        } else if (nameType == LUA_TNUMBER) {
            char text[32];
            snprintf(text, sizeof text, "%.14g", lua_tonumber(state, -2));
            spec.name = text;
        }
        spec.size = size > 0 && size < 4096 ? static_cast<uint32_t>(size) : 0;
        lua_pop(state, 3);
        if (!spec.name.empty())
            specs.push_back(spec);
    }
    lua_pop(state, 1);
}

std::unique_ptr<FontRecord> LuaGui::LoadFont(const std::vector<FontSpec>& specs)
{
    if (specs.empty())
        return nullptr;
    std::unique_ptr<FontRecord> font = LoadFirstAvailableFont(specs);
    if (font && !font->HasFont())
        font.reset();
    return font;
}

std::unique_ptr<FontRecord> LuaGui::getFontFromLua(const char* name)
{
    struct List {
        const char* name;
        std::vector<FontSpec> specs;
    } list{name, {}};
    RunProtected(
        "font list failed: ",
        [](lua_State* state, void* context) {
            auto* l = static_cast<List*>(context);
            lua_getglobal(state, l->name);
            if (lua_isfunction(state, -1))
                ReadFontList(state, l->specs);
        },
        &list, kCallLimitMs);
    return LoadFont(list.specs);
}

void LuaGui::fetchFonts()
{
    if (!luaState)
        return;
    textFieldFont = getFontFromLua("getTextFieldFont");
    labelFont = getFontFromLua("getLabelFont");
    mainFont = getFontFromLua("getFont");
    // The manager owns an open editor's fonts: its render thread draws with
    // them, and may outlive this object when it does not stop.
    if (manager) {
        manager->SetTextFieldFont(std::move(textFieldFont));
        manager->SetLabelFont(std::move(labelFont));
        manager->SetMainFont(std::move(mainFont));
    }
}

FontRecord* LuaGui::MainFont() const
{
    return manager ? manager->MainFont() : mainFont.get();
}

FontRecord* LuaGui::LabelFont() const
{
    return manager ? manager->LabelFont() : labelFont.get();
}

FontRecord* LuaGui::TextFieldFont() const
{
    return manager ? manager->TextFieldFont() : textFieldFont.get();
}

void LuaGui::createUI(const ButtonTable& buttons)
{
    if (!luaState)
        return;
    int32_t width = 0, height = 0;
    getWindowSize(width, height);
    if (manager && width > 0 && height > 0)
        manager->SetWindowSize(width, height);
    // The table is kept here, not in the state: publishing it there could
    // fail for want of memory and leave a stale pointer behind.
    buttonTable = &buttons;
    buildingUI = true;
    RunProtected(
        "createUI failed: ",
        [](lua_State* state, void*) {
            lua_getglobal(state, "createUI");
            lua_call(state, 0, 0);
        },
        nullptr, kLoadLimitMs);
    buildingUI = false;
    buttonTable = nullptr;
}

void LuaGui::closeLua()
{
    if (luaState)
        lua_close(luaState);
    luaState = nullptr;
    delete parameterLookup;
    parameterLookup = nullptr;
}

LuaGui* LuaGui::fromLuaState(lua_State* state)
{
    lua_getfield(state, LUA_REGISTRYINDEX, kViewRefcon);
    void* gui = lua_isuserdata(state, -1) ? lua_touserdata(state, -1) : nullptr;
    lua_pop(state, 1);
    return static_cast<LuaGui*>(gui);
}

int32_t LuaGui::parameterIndexForName(lua_State* state, const char* name)
{
    lua_getfield(state, LUA_REGISTRYINDEX, kParamLookup);
    auto* lookup = static_cast<std::map<std::string, int32_t>*>(lua_touserdata(state, -1));
    lua_pop(state, 1);
    if (lookup && name) {
        const auto found = lookup->find(name);
        if (found != lookup->end())
            return found->second;
    }
    return luaL_error(state, "parameter not found: '%s'", name ? name : "(nil)");
}

UIElement* LuaGui::checkElement(lua_State* state, int arg)
{
    if (!lua_isuserdata(state, arg))
        luaL_argerror(state, arg, "element expected");
    LuaGui* gui = fromLuaState(state);
    if (gui && lua_getmetatable(state, arg)) {
        for (const std::string& name : gui->elementTypeNames) {
            luaL_getmetatable(state, name.c_str());
            const bool same = lua_rawequal(state, -1, -2);
            lua_pop(state, 1);
            if (same) {
                lua_pop(state, 1);
                auto** slot = static_cast<UIElement**>(lua_touserdata(state, arg));
                if (lua_objlen(state, arg) < sizeof(UIElement*) || !*slot)
                    luaL_argerror(state, arg, "element expected");
                return *slot;
            }
        }
        lua_pop(state, 1);
    }
    const char* message = lua_pushfstring(state, "%s expected, got %s", "element", luaL_typename(state, arg));
    luaL_argerror(state, arg, message);
    return nullptr;
}

LuaGui::LuaButtonBinding* LuaGui::AddLuaButtonBinding(int reference)
{
    luaButtons.push_back(LuaButtonBinding{this, reference});
    return &luaButtons.back();
}

LuaGui::PropertyTriggerBinding* LuaGui::AddPropertyTriggerBinding(uint32_t propertyId)
{
    propertyTriggers.push_back(PropertyTriggerBinding{this, propertyId});
    return &propertyTriggers.back();
}

TextureRecord* LuaGui::AddTexture(const std::string& fileName)
{
    if (!manager)
        return nullptr;
    auto record = std::make_unique<TextureRecord>();
    const std::string skinFile =
        skinBasePath.empty() ? std::string() : skinBasePath + "/Contents/Resources/" + fileName;
    if (!skinFile.empty() && access(skinFile.c_str(), R_OK) == 0) {
        record->fileName = skinFile;
    } else {
        const auto found = resourceIds.find(fileName);
        if (found == resourceIds.end())
            return nullptr;
        record->resourceId = found->second;
    }
    // The render thread loads it (LoadPNGTexture) when GL starts.
    return manager->AddTexture(std::move(record));
}

FontRecord* LuaGui::AddFont(std::unique_ptr<FontRecord> font)
{
    if (!font || !manager)
        return nullptr;
    return manager->AddFont(std::move(font));
}

void LuaGui::LuaButtonAction(void*, void* record)
{
    auto* binding = static_cast<LuaButtonBinding*>(record);
    if (!binding || !binding->gui)
        return;
    binding->gui->RunProtected(
        "luaButton failed: ",
        [](lua_State* state, void* context) {
            lua_rawgeti(state, LUA_REGISTRYINDEX, static_cast<LuaButtonBinding*>(context)->reference);
            lua_call(state, 0, 0);
        },
        binding, kCallLimitMs);
}

void LuaGui::PropertyTriggerAction(void*, void* record)
{
    auto* binding = static_cast<PropertyTriggerBinding*>(record);
    if (!binding || !binding->gui || !binding->gui->plugin)
        return;
    const uint8_t one = 1;
    binding->gui->plugin->SetPropertyAndNotify(binding->propertyId, &one, 1);
}

} // namespace QZ
