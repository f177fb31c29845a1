// The Lua MIDI scripts through the built module and our host: user scripts
// of a plug-in class run in order at creation, print to standard error, and
// receive host MIDI at their frames; a runaway script is stopped and the
// plug-in keeps processing.
#include <gtest/gtest.h>

#include "host/VstHost.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using corvane::host::MidiMessage;
using corvane::test::LoadedModule;
using corvane::host::Plugin;
using corvane::test::ScopedUserFolders;
using corvane::test::StderrCapture;

namespace {

constexpr const char* kDCName = "Corvane DC";

// The lines that start with one of `prefixes`, in order.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::vector<std::string>& prefixes)
{
    std::vector<std::string> kept;
    for (const std::string& line : corvane::test::Lines(text))
        for (const std::string& prefix : prefixes)
            if (line.rfind(prefix, 0) == 0) {
                kept.push_back(line);
                break;
            }
    return kept;
}

class LuaMIDIModuleTest : public ::testing::Test {
protected:
    void Script(const std::string& fileName, const std::string& text)
    {
        corvane::test::WriteUserScript(folders.DataHome(), kDCName, fileName, text);
    }

    std::unique_ptr<Plugin> CreateDC()
    {
        auto plugin = Plugin::Create(LoadedModule(), vst::FourCC("QZs0"));
        if (plugin)
            plugin->Start(48000, 256);
        return plugin;
    }

    void Block(Plugin& plugin, int32_t frames = 256)
    {
        std::vector<std::vector<float>> outputs;
        plugin.ProcessBlock({}, outputs, frames);
        ASSERT_EQ(outputs.size(), static_cast<size_t>(plugin.NumOutputs()));
        for (const auto& channel : outputs)
            ASSERT_EQ(channel.size(), static_cast<size_t>(frames));
    }

    ScopedUserFolders folders;
};

TEST_F(LuaMIDIModuleTest, UserScriptsRunInSortedOrderAndAFailingOneDoesNotStopTheRest)
{
    Script("a.lua", "this is not lua");
    Script("b.lua", "print('b ran', 1, 2.5, nil, true)");
    Script("midi.lua", "print('user midi ran')");
    Script("z.lua", "print('z ran', type(addScale), type(requestAllCC), getNumParameters() > 0)");
    StderrCapture capture;
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    const std::string text = capture.Text();
    const std::string folder = folders.DataHome() + "/Ormbury/" + kDCName + "/Scripts/";
    const auto lines = LinesStartingWith(text, {"failed to run", "b ran", "user midi ran", "z ran"});
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0].rfind("failed to run file: " + folder + "a.lua:1:", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "b ran\t1\t2.5\tnil\ttrue");
    EXPECT_EQ(lines[2], "user midi ran");
    EXPECT_EQ(lines[3], "z ran\tfunction\tfunction\ttrue");
}

TEST_F(LuaMIDIModuleTest, ProgramChangeAndPressureReachTheScriptsAtTheirFramesWithOneBasedChannels)
{
    Script("listen.lua", R"(
        local function show(name) return function(...) print(name, ...) end end
        requestAllProgramChange(show("pc"))
        requestProgramChange(5, show("pc5"))
        requestChannelPressure(show("cp"))
        requestAllPolyPressure(show("pp"))
        requestPolyPressure(60, show("pp60"))
    )");
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    StderrCapture capture;
    plugin->SendMidi({{10, {0xC2, 5, 0}}, {20, {0xD3, 100, 0}}, {30, {0xAF, 60, 77}}, {40, {0xC0, 127, 0}}});
    Block(*plugin);
    const std::vector<std::string> expected = {"pc\t3\t5", "pc5\t3\t5", "cp\t4\t100", "pp\t16\t60\t77",
                                               "pp60\t16\t60\t77", "pc\t1\t127"};
    EXPECT_EQ(LinesStartingWith(capture.Text(), {"pc", "cp", "pp"}), expected);
}

TEST_F(LuaMIDIModuleTest, ARunawayCallbackIsStoppedAndTheAudioKeepsFlowing)
{
    Script("runaway.lua", R"(
        requestAllProgramChange(function() while true do end end)
        requestAllProgramChange(function(c, p) print("after", c, p) end)
    )");
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    StderrCapture capture;
    for (uint8_t program = 1; program <= 2; ++program) {
        plugin->SendMidi({{0, {0xC0, program, 0}}});
        Block(*plugin);
        Block(*plugin);
    }
    const std::string text = capture.Text();
    const auto stops = LinesStartingWith(text, {"Lua MIDI callback failed"});
    ASSERT_EQ(stops.size(), 2u) << text;
    EXPECT_NE(stops[0].find("runaway.lua:2: script stopped: it ran past its time limit"), std::string::npos)
        << stops[0];
    EXPECT_EQ(LinesStartingWith(text, {"after"}), (std::vector<std::string>{"after\t1\t1", "after\t1\t2"}));
}

TEST_F(LuaMIDIModuleTest, MalformedSysExFromTheHostIsDropped)
{
    Script("pc.lua", "requestAllProgramChange(function(c, p) print('pc', c, p) end)");
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    StderrCapture capture;
    plugin->SendSysEx({});
    plugin->SendSysEx({0x41, 0x10, 0xF7});
    plugin->SendSysEx({0xF0, 0x7E, 0xF7});
    plugin->SendMidi({{0, {0xC1, 3, 0}}});
    Block(*plugin);
    EXPECT_EQ(LinesStartingWith(capture.Text(), {"pc"}), std::vector<std::string>{"pc\t2\t3"});
}

} // namespace
