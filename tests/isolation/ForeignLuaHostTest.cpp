// A host like the DAWs that embed a scripting language: this executable
// carries Debian's Lua 5.4 linked in whole and exports it to everything it
// loads (-Wl,--export-dynamic), and keeps a Lua state of its own alive while
// it loads the module, creates every entry, runs a MIDI script and an OSC
// /exec, opens and closes an editor, and unloads the module. The module's Lua
// 5.1 must stay its own: had it imported its Lua functions, the loader would
// have bound them to this host's 5.4 and the first plug-in would crash.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <lua.hpp>

#include <memory>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/gui/HostWindow.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/TestSupport.h"

using corvane::host::Module;
using corvane::host::Plugin;
using vst::FourCC;

namespace corvane::test {
namespace {

constexpr int32_t kDC = FourCC("QZs0");

class ForeignLuaHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        hostLua = luaL_newstate();
        ASSERT_NE(hostLua, nullptr);
        luaL_openlibs(hostLua);
        ASSERT_EQ(RunHostScript("hostRuns = 0 return _VERSION"), "Lua 5.4");
        std::string error;
        module = Module::Load(ModulePath(), &error);
        ASSERT_TRUE(module) << error;
    }

    void TearDown() override
    {
        plugins.clear();
        module.reset(); // dlclose: the module unloads here
        // The host's own scripting is untouched by the module's coming and going.
        EXPECT_EQ(RunHostScript("hostRuns = hostRuns + 1 return tostring(hostRuns) .. ' ' .. _VERSION"),
                  "1 Lua 5.4");
        lua_close(hostLua);
    }

    // Runs a chunk in the host's Lua; its first result as text, or the error.
    std::string RunHostScript(const char* chunk)
    {
        if (luaL_dostring(hostLua, chunk) != LUA_OK) {
            std::string error = std::string("error: ") + lua_tostring(hostLua, -1);
            lua_settop(hostLua, 0);
            return error;
        }
        std::string result = lua_isstring(hostLua, 1) ? lua_tostring(hostLua, 1) : "";
        lua_settop(hostLua, 0);
        return result;
    }

    Plugin& Make(int32_t id)
    {
        auto plugin = Plugin::Create(*module, id);
        if (!plugin)
            throw std::runtime_error("the module made no plug-in " + host::FourCCText(id));
        plugin->Start(48000, 256);
        plugins.push_back(std::move(plugin));
        return *plugins.back();
    }

    static void Block(Plugin& plugin)
    {
        std::vector<std::vector<float>> outputs;
        plugin.ProcessBlock({}, outputs, 256);
    }

    lua_State* hostLua = nullptr;
    std::unique_ptr<Module> module;
    std::vector<std::unique_ptr<Plugin>> plugins;
};

// The premise: what the module would bind to is this host's Lua 5.4.
TEST_F(ForeignLuaHost, TheHostOffersItsOwnLuaToWhatItLoads)
{
    Dl_info hostSymbol{}, hostCode{};
    void* exported = dlsym(RTLD_DEFAULT, "lua_newstate");
    ASSERT_NE(exported, nullptr);
    ASSERT_NE(dladdr(exported, &hostSymbol), 0);
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&ModulePath), &hostCode), 0);
    EXPECT_EQ(hostSymbol.dli_fbase, hostCode.dli_fbase) << hostSymbol.dli_fname;
    EXPECT_EQ(lua_version(hostLua), 504);
}

TEST_F(ForeignLuaHost, EveryEntryIsCreatedProcessesAndCloses)
{
    auto shell = Plugin::Create(*module, 0);
    ASSERT_TRUE(shell);
    const std::vector<host::ShellEntry> entries = shell->EnumerateShell();
    shell.reset();
    ASSERT_EQ(entries.size(), 25u);
    for (const host::ShellEntry& entry : entries) {
        Plugin& plugin = Make(entry.id);
        EXPECT_EQ(plugin.UniqueId(), entry.id);
        Block(plugin);
        plugin.SendMidi({{0, {0x90, 60, 100}}, {8, {0x80, 60, 0}}});
        Block(plugin);
        EXPECT_EQ(plugin.Close(), 1) << entry.name;
    }
}

TEST_F(ForeignLuaHost, MidiScriptsAndOscExecRunInTheModulesOwnLua)
{
    const int base = UniquePortBase();
    ScopedUserFolders folders(base);
    OscPeer peer;
    const int control = peer.Open();
    WriteUserScript(folders.DataHome(), "Corvane DC", "foreign.lua", R"(
        print("engine", _VERSION, type(setfenv), type(table.move))
        -- A system C module would call whatever Lua the host offers.
        print("loadlib", package.loadlib("liblua5.4.so.0", "luaopen_base"))
        requestAllProgramChange(function(channel, program) print("program", channel, program) end)
        function store(value) print("stored", value) end
    )");
    StderrCapture capture;
    Plugin& dc = Make(kDC);
    const int32_t portOffset = dc.FindParameter("OSC Port Offset");
    ASSERT_GE(portOffset, 0);
    dc.SetParameter(portOffset, 0.03f);
    ASSERT_TRUE(peer.WaitForServer(base + 3, control));
    peer.Send(base + 3, "/exec", "sf", {"store", "7.25"});
    ASSERT_TRUE(peer.Sync(base + 3, control));
    dc.SendMidi({{4, {0xC1, 9, 0}}});
    Block(dc);
    EXPECT_EQ(dc.Close(), 1);

    const std::string text = capture.Text();
    EXPECT_EQ(Lines(text, "engine\t"), std::vector<std::string>{"Lua 5.1\tfunction\tnil"}) << text;
    const std::vector<std::string> loadlib = Lines(text, "loadlib\t");
    ASSERT_EQ(loadlib.size(), 1u) << text;
    EXPECT_EQ(loadlib[0].rfind("nil\t", 0), 0u) << loadlib[0];
    EXPECT_NE(loadlib[0].find("dynamic libraries not enabled"), std::string::npos) << loadlib[0];
    EXPECT_EQ(Lines(text, "stored\t"), std::vector<std::string>{"7.25"}) << text;
    EXPECT_EQ(Lines(text, "program\t"), std::vector<std::string>{"2\t9"}) << text;
}

TEST_F(ForeignLuaHost, AnEditorOpensAndClosesUnderX)
{
    if (!HaveDisplay())
        GTEST_SKIP() << "no X server (DISPLAY unset)";
    Plugin& dc = Make(kDC);
    HostWindow window(600, 300, 0x00FF00);
    ASSERT_TRUE(window.Id());
    ASSERT_EQ(dc.Dispatch(effEditOpen, 0, 0, window.Handle()), 1);
    const Window child = window.Child();
    ASSERT_NE(child, 0u);
    EXPECT_TRUE(window.IsShown(child));
    // The panel is drawn: the editor script's grey, no longer the host's
    // green.
    EXPECT_TRUE(WaitFor(
        [&] {
            dc.Dispatch(effEditIdle);
            Rgb colour;
            return window.Pixel(child, 2, 2, &colour) && colour.r > 90 && colour.g > 90 && colour.g < 115;
        },
        20000));
    dc.Dispatch(effEditClose);
    EXPECT_TRUE(window.Children().empty());
    EXPECT_EQ(dc.Close(), 1);
}

} // namespace
} // namespace corvane::test
