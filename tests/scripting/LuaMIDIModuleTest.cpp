// The Lua MIDI scripts through the built module and our host: user scripts
// of a plug-in class run in order at creation, print to standard error, and
// receive host MIDI at their frames; a runaway script is stopped and the
// plug-in keeps processing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/VstHost.h"
#include "tests/scripting/OscPeer.h"
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
    plugin.reset(); // the callbacks run on the hand-over thread, which serves what came before the close
    const std::vector<std::string> expected = {"pc\t3\t5", "pc5\t3\t5", "cp\t4\t100", "pp\t16\t60\t77",
                                               "pp60\t16\t60\t77", "pc\t1\t127"};
    EXPECT_EQ(LinesStartingWith(capture.Text(), {"pc", "cp", "pp"}), expected);
}

// A callback that overruns its budget stops the scripts' MIDI callbacks for
// good (one message pays, not every one), whichever way it tries to keep
// running; a callback that fails quickly is only reported.
TEST_F(LuaMIDIModuleTest, ARunawayCallbackStopsTheCallbacksAndTheAudioKeepsFlowing)
{
    const struct {
        const char* what;
        const char* body;
        const char* expected; // in the failure line
        bool stops;
    } cases[] = {
        {"plain loop", "while true do end", "script stopped: it ran past its time limit", true},
        {"pcall cannot swallow the stop", "while true do pcall(function() while true do end end) end",
         "script stopped", true},
        {"looping message handler", "xpcall(function() while true do end end, function() while true do end end)",
         "script stopped", true},
        {"inside a coroutine", "coroutine.wrap(function() while true do end end)()", "script stopped", true},
        {"the hook cannot be removed", "pcall(debug.sethook) while true do end", "script stopped", true},
        {"removing the hook fails", "debug.sethook()", "debug.sethook is not available to scripts", false},
        {"backtracking pattern", "string.find(string.rep('a', 40), string.rep('a?', 40) .. string.rep('a', 40))",
         "pattern too complex for a subject of 40 bytes", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Script("runaway.lua", std::string("requestAllProgramChange(function() ") + c.body +
                                  " end)\nrequestAllProgramChange(function(c, p) print('after', c, p) end)\n");
        auto plugin = CreateDC();
        ASSERT_NE(plugin, nullptr);
        StderrCapture capture;
        for (uint8_t program = 1; program <= 5; ++program) {
            plugin->SendMidi({{0, {0xC0, program, 0}}});
            Block(*plugin);
        }
        plugin.reset();
        const std::string text = capture.Text();
        const auto failures = LinesStartingWith(text, {"Lua MIDI callback failed"});
        ASSERT_EQ(failures.size(), c.stops ? 1u : 5u) << text;
        EXPECT_NE(failures[0].find(c.expected), std::string::npos) << failures[0];
        EXPECT_EQ(LinesStartingWith(text, {"Lua MIDI callbacks stopped"}).size(), c.stops ? 1u : 0u) << text;
        EXPECT_EQ(LinesStartingWith(text, {"after"}).size(), c.stops ? 0u : 5u) << text;
    }
}

// A callback that registers itself while it is served is not served again
// for the same message: each message serves the lists as they were.
TEST_F(LuaMIDIModuleTest, CallbacksRegisteredWhileServingWaitForTheNextMessage)
{
    Script("grow.lua", R"(
        calls = 0
        requestAllProgramChange(function(c, p) print("count", p, calls) end)
        local function grow() calls = calls + 1 requestAllProgramChange(grow) end
        requestAllProgramChange(grow)
    )");
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    StderrCapture capture;
    for (uint8_t program = 1; program <= 4; ++program) {
        plugin->SendMidi({{0, {0xC0, program, 0}}});
        Block(*plugin);
    }
    plugin.reset();
    EXPECT_EQ(LinesStartingWith(capture.Text(), {"count"}),
              (std::vector<std::string>{"count\t1\t0", "count\t2\t1", "count\t3\t3", "count\t4\t7"}));
}

// A script that takes the state to its memory cap from a timer: what the
// module then does in Lua on its own (releasing the one-shot timer's
// function, releasing pending timers at close) fails protected instead of
// reaching Lua's panic, which would end the host. Whether the release needs
// memory depends on the registry's layout, so several counts of pending
// timers are tried (1 and 5 ended the process before).
TEST_F(LuaMIDIModuleTest, ScriptsAtTheMemoryCapCannotEndTheHost)
{
    for (const int pending : {0, 1, 5, 64}) {
        SCOPED_TRACE(pending);
        const std::string done = folders.DataHome() + "/filled" + std::to_string(pending);
        Script("fill.lua", R"(
            keep = {}
            local function fill()
                local text = string.rep('x', 1048576)
                for _, size in ipairs({1048576, 65536, 4096, 256, 16}) do
                    pcall(function()
                        local part = {}
                        keep[#keep + 1] = part
                        local piece = string.sub(text, 1, size - 24)
                        local i = 0
                        while true do i = i + 1 part[i] = piece .. i end
                    end)
                end
            end
            for i = 1, )" + std::to_string(pending) + R"( do requestTimedCallback(1000, function() end) end
            requestTimedCallback(0, function()
                io.open(')" + done + R"(', 'w'):close()
                fill()
            end)
        )");
        auto plugin = CreateDC();
        ASSERT_NE(plugin, nullptr);
        ASSERT_TRUE(corvane::test::WaitFor([&] { return access(done.c_str(), F_OK) == 0; }));
        Block(*plugin);
        plugin.reset(); // waits for the filling timer, then releases the pending ones
    }
    // Still here: a new instance loads and runs.
    std::filesystem::remove_all(folders.DataHome() + "/Ormbury");
    auto next = CreateDC();
    ASSERT_NE(next, nullptr);
    Block(*next);
}

// What a MIDI script cannot do to the host: end it, read its standard
// input, load bytecode Lua 5.1 would run unchecked, make a search or a
// string without bound, or reach the library's own functions behind the
// guards.
TEST_F(LuaMIDIModuleTest, ScriptsCannotEndOrStallTheHost)
{
    const std::string bytecode = folders.DataHome() + "/chunk.luac";
    const struct {
        const char* expression;
        const char* expected; // what `show` prints: the ok flag, a tab, the first result or error text
    } cases[] = {
        {"os.exit(1)", "false\tos.exit is not available to scripts"},
        {"debug.sethook()", "false\tdebug.sethook is not available to scripts"},
        {"debug.getupvalue(string.find, 1)", "false\tdebug.getupvalue is not available to scripts"},
        {"debug.getinfo(1, 'f')", "false\tdebug.getinfo is not available to scripts"},
        {"debug.getregistry()", "false\tdebug.getregistry is not available to scripts"},
        {"type(debug.traceback())", "true\tstring"},
        {"io.read('*l')", "true\tnil"},
        {"io.stdin", "true\tnil"},
        {"select(2, loadstring(string.dump(function() end)))", "true\tbinary chunks are not loaded"},
        {"select(2, load(once(string.dump(function() end))))", "true\tbinary chunks are not loaded"},
        {"dofile()", "false\tbad argument #1 to 'dofile' (string expected, got no value)"},
        {"select(2, loadfile(bytecodePath))", "true\tbinary chunks are not loaded"},
        {"loadstring('return 7')()", "true\t7"},
        {"os.execute('sleep 1000')", "false\tos.execute is not available while the scripts load"},
        {"io.popen('sleep 1000')", "false\tio.popen is not available while the scripts load"},
        {"string.find('abc', 'b', 1, true)", "true\t2"},
        {"string.gsub(string.rep('a', 5000), 'a*b*', '')", "false\tpattern too complex for a subject of 5000 bytes"},
        // The guard counts quantifiers: none is linear, one ('*' or '-')
        // over 5000 bytes is too much, an escaped one is none, and a plain
        // find is never refused.
        {"string.find(string.rep('a', 5000) .. 'b', 'ab')", "true\t5000"},
        {"string.find(string.rep('a', 5000), 'a*b')", "false\tpattern too complex for a subject of 5000 bytes"},
        {"string.find(string.rep('a', 5000), 'a-b')", "false\tpattern too complex for a subject of 5000 bytes"},
        {"string.find(string.rep('a', 5000) .. '*b', 'a%*b')", "true\t5000"},
        {"string.find(string.rep('a', 5000) .. 'a*b', 'a*b', 1, true)", "true\t5001"},
        {"#string.rep('xy', 2^25 + 1)", "false\tresulting string too large"},
        // A search no pattern makes quadratic: a plain find of a long text
        // is linear (it was hours), at the library's start positions; a
        // long literal pattern counts its items, and gsub's count does not
        // switch the guard off.
        {"string.find(string.rep('a', 2^22), string.rep('a', 2^18) .. 'b', 1, true)", "true\tnil"},
        {"string.find('abcabc', 'c', -2, true)", "true\t6"},
        {"string.find('abc', '', 10, true)", "true\t4"},
        {"string.match(string.rep('a', 2^20), string.rep('a', 2^16) .. '%d')",
         "false\tpattern too complex for a subject of 1048576 bytes"},
        {"string.gsub(string.rep('a', 5000), 'a*b*', '', 1)", "false\tpattern too complex for a subject of 5000 bytes"},
        // Source text no longer than a script file may be: a longer one
        // would parse for a second in C.
        {"type(loadstring(string.rep(' ', 2^22)))", "true\tfunction"},
        {"select(2, loadstring(string.rep(' ', 2^22 + 1)))", "true\tsource text larger than a script may be"},
        {"select(2, load(pieces(string.rep(' ', 2^21), 3)))", "true\tsource text larger than a script may be"},
        // require loads as loadfile does, and what it may search is bounded
        // (the search is C code, out of the time limit's reach), at the
        // bounds and just over them.
        {"requireAlong(bytecodePath, 'chunk')", "false\terror loading module 'chunk'"},
        {"requireAlong('/none/?.lua', 'x', fifoPath)", "false\tmodule 'x' not found"},
        {"requireAlong(string.rep('?;', 2^20), 'x')", "false\tpackage.path is longer than a search may walk"},
        {"requireAlong(string.rep('/none/?;', 300), 'x')", "false\tpackage.path has more entries than"},
        {"requireAlong(string.rep('/none/' .. string.rep('a', 119) .. '/?;', 128), 'x')", "false\tmodule 'x' not found"},
        {"requireAlong(string.rep('/none/' .. string.rep('a', 119) .. '/?;', 128) .. ';', 'x')",
         "false\tpackage.path is longer than a search may walk"},
        {"requireAlong(string.rep('/none/?;', 256), 'x')", "false\tmodule 'x' not found"},
        {"requireAlong(string.rep('/none/?;', 257), 'x')", "false\tpackage.path has more entries than"},
    };
    // Held open here, so that a search that opened it would not wait.
    const std::string fifo = folders.DataHome() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int fifoHeld = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(fifoHeld, 0);
    Script("sandbox.lua", "bytecodePath = '" + bytecode + "'\nfifoPath = '" + fifo + "'\n"
                          "function requireAlong(path, name, cpath) package.path = path "
                          "package.cpath = cpath or '' return require(name) end\n"
                          "function once(text) return function() local t = text text = nil return t end end\n"
                          "function pieces(text, n) return function() n = n - 1 return n >= 0 and text or nil end end\n"
                          "local f = io.open(bytecodePath, 'wb') f:write(string.dump(function() end)) f:close()\n"
                          "function show(ok, value) print('show', ok, (tostring(value):sub(1, 200):gsub('^.-:%d+: ', ''))) end\n");
    // A file a case, each loaded within its own time limit.
    for (size_t i = 0; i < std::size(cases); ++i)
        Script("sandbox" + std::to_string(100 + i) + ".lua",
               std::string("show(pcall(function() return ") + cases[i].expression + " end))\n");
    StderrCapture capture;
    auto plugin = CreateDC();
    close(fifoHeld);
    ASSERT_NE(plugin, nullptr);
    const auto shown = LinesStartingWith(capture.Text(), {"show\t"});
    ASSERT_EQ(shown.size(), std::size(cases)) << capture.Text();
    for (size_t i = 0; i < shown.size(); ++i) {
        // The flag exactly; the text may carry a file name before it.
        const std::string expected = cases[i].expected;
        const size_t tab = expected.find('\t');
        EXPECT_EQ(shown[i].rfind("show\t" + expected.substr(0, tab + 1), 0), 0u) << cases[i].expression;
        EXPECT_NE(shown[i].find(expected.substr(tab + 1)), std::string::npos) << shown[i];
    }
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
    plugin.reset();
    EXPECT_EQ(LinesStartingWith(capture.Text(), {"pc"}), std::vector<std::string>{"pc\t2\t3"});
}

} // namespace

namespace {

// The callbacks of one message share one budget, whatever eats it: many
// short callbacks, callbacks that fail, a long C call. The first message
// stops them for good.
TEST_F(LuaMIDIModuleTest, EveryCallbackOfAMessageCountsAgainstItsBudget)
{
    const struct {
        const char* what;
        const char* script;
    } cases[] = {
        {"many short callbacks",
         "for i = 1, 4096 do requestAllProgramChange(function() local x = 0 for j = 1, 1000 do x = x + j end end) end"},
        {"many failing callbacks", "for i = 1, 4096 do requestAllProgramChange(function() local x = 0 "
                                   "for j = 1, 200 do x = x + j end error('no') end) end"},
        {"a long C call", "requestAllProgramChange(function() local s = string.rep('x', 2^25) .. 'y' end)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Script("budget.lua", c.script);
        auto plugin = CreateDC();
        ASSERT_NE(plugin, nullptr);
        StderrCapture capture;
        for (uint8_t program = 1; program <= 3; ++program) {
            plugin->SendMidi({{0, {0xC0, program, 0}}});
            Block(*plugin);
        }
        // Closed only once the callbacks have stopped: a close that came
        // while the long call still ran would leave it running.
        EXPECT_TRUE(corvane::test::WaitFor(
            [&] { return capture.SoFar().find("Lua MIDI callbacks stopped") != std::string::npos; }));
        plugin.reset();
        const std::string text = capture.Text();
        EXPECT_EQ(LinesStartingWith(text, {"Lua MIDI callbacks stopped"}).size(), 1u) << text.substr(0, 2000);
    }
}

// A callback blocked inside a C call (here a program reading a FIFO the
// test holds) keeps only its own thread: the blocks go on.
TEST_F(LuaMIDIModuleTest, ProcessingNeverWaitsForACallback)
{
    corvane::test::FifoGate gate(folders.DataHome() + "/hold");
    Script("hold.lua", "local held = false\nrequestAllProgramChange(function() if held then return end held = true " +
                           gate.Hold() + " end)\n");
    auto plugin = CreateDC();
    ASSERT_NE(plugin, nullptr);
    plugin->SendMidi({{0, {0xC0, 1, 0}}});
    Block(*plugin);
    ASSERT_TRUE(gate.WaitUntilHeld());
    for (uint8_t program = 2; program <= 4; ++program) {
        plugin->SendMidi({{0, {0xC0, program, 0}}});
        Block(*plugin);
    }
    gate.Release();
    plugin.reset();
}

} // namespace

namespace {

// A script blocked inside a C call when the host closes the plug-in (a
// timer's, a MIDI callback's, a function called over OSC) cannot hold
// effClose: within the close's one short budget the host's close returns,
// the OSC server's port free unless the blocked call is its own, and the
// instance is kept for that thread, which later comes back into a state that
// is still there, makes no request of the host, and frees the instance as it
// ends: threads and descriptors are back to what they were.
TEST_F(LuaMIDIModuleTest, ABlockedScriptDoesNotHoldTheClose)
{
    enum Trigger { kNone, kMidi, kOsc };
    const struct {
        const char* what;
        const char* registration; // wraps the blocking function `hold`
        Trigger trigger;
    } cases[] = {
        {"timer", "requestTimedCallback(0, hold)", kNone},
        {"MIDI callback", "requestAllProgramChange(hold)", kMidi},
        {"OSC call", "", kOsc},
    };
    corvane::test::OscPeer peer;
    const int control = peer.Open();
    const int port = corvane::test::UniquePortBase() + 3;
    folders.WritePreference("OSC Base Port", std::to_string(port - 3));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string round = std::to_string(&c - cases);
        corvane::test::FifoGate gate(folders.DataHome() + "/hold" + round);
        const std::string back = folders.DataHome() + "/back" + round;
        Script("hold.lua", "function hold() " + gate.Hold() + " setParameter(1, 0.5) io.open('" + back +
                               "', 'w'):close() end\n" + c.registration + "\n");
        const corvane::test::ProcessResources before;
        auto plugin = CreateDC();
        ASSERT_NE(plugin, nullptr);
        plugin->SetParameter(plugin->FindParameter("OSC Port Offset"), 0.03f);
        ASSERT_TRUE(peer.WaitForServer(port, control));
        if (c.trigger == kMidi) {
            plugin->SendMidi({{0, {0xC0, 1, 0}}});
            Block(*plugin);
        } else if (c.trigger == kOsc) {
            peer.Send(port, "/exec", "s", {"hold"});
        }
        ASSERT_TRUE(gate.WaitUntilHeld());
        const auto closing = std::chrono::steady_clock::now();
        {
            StderrCapture capture;
            EXPECT_EQ(plugin->Close(), 1);
            // Kept for a blocked script, and the log says so (it says so for no other close).
            EXPECT_NE(capture.Text().find("effClose: a script of the plug-in is blocked in a call"), std::string::npos);
        }
        // A bound a busy machine keeps too: far above the budget, far below
        // the 5 s that each stop once waited on its own.
        EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(2));
        EXPECT_EQ(corvane::test::UdpPortFree(port), c.trigger != kOsc);
        const size_t hostCalls = plugin->CallsOf(audioMasterAutomate).size();
        gate.Release();
        EXPECT_TRUE(corvane::test::WaitFor([&] { return std::filesystem::exists(back); }));
        EXPECT_TRUE(corvane::test::WaitFor([&] { return corvane::test::ProcessResources() == before; }));
        EXPECT_EQ(plugin->CallsOf(audioMasterAutomate).size(), hostCalls);
    }
}

// Steps that each cost milliseconds in C (a parse, a concatenation of
// megabytes) or one sort of millions of numbers: the script is stopped at
// its time limit with the limit's error, in a MIDI script as in a skin
// (both run while the plug-in is made), within a few steps and inside the
// sort (a MIDI script's next file finds the table unsorted). The count hook
// alone looks again only after about 500 steps of these loops, and never
// inside the sort.
TEST_F(LuaMIDIModuleTest, CostlyStepsEndAtTheTimeLimit)
{
    const struct {
        const char* what;
        const char* script;
        size_t mostSteps;
    } cases[] = {
        {"parses", "local s = string.rep('do end ', 2^19) while true do loadstring(s) print('step') end", 200},
        {"concatenations", "local s = string.rep('x', 2^25) while true do local t = s .. s print('step') end", 200},
        {"one long sort", "u = {} for i = 1, 2^22 do u[i] = -i end table.sort(u) print('step')", 0},
    };
    const std::string skinFolder = folders.DataHome() + "/Ormbury/Corvane/Skins/Test.bundle/Contents/Resources";
    for (const bool skin : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(skin ? "skin: " : "MIDI script: ") + c.what);
            std::filesystem::remove_all(folders.DataHome() + "/Ormbury");
            folders.WritePreference("Skin", skin ? "Test" : "");
            if (skin) {
                std::filesystem::create_directories(skinFolder);
                std::ofstream(skinFolder + "/gui.lua") << c.script;
            } else {
                Script("costly.lua", c.script);
                Script("sorted.lua", "if u then local s = true for i = 2, #u do s = s and u[i - 1] <= u[i] end "
                                     "print('sorted', s) end");
            }
            StderrCapture errors;
            corvane::test::FdCapture output(1); // the skin's errors
            auto plugin = CreateDC();
            ASSERT_NE(plugin, nullptr);
            const std::string printed = errors.Text();
            EXPECT_NE((printed + output.Text()).find("script stopped: it ran past its time limit"), std::string::npos);
            EXPECT_LE(LinesStartingWith(printed, {"step"}).size(), c.mostSteps);
            EXPECT_TRUE(LinesStartingWith(printed, {"sorted\ttrue"}).empty());
        }
    }
}

// require along a path whose every lookup waits 50 ms (a network home
// folder; strace delays the lookups of one file name): the search ends at
// the script's time limit with the limit's error, for a MIDI script and for
// a skin, long before its 256th lookup (it tried them all, 13 s, before).
TEST_F(LuaMIDIModuleTest, ASearchOfASlowFileSystemEndsAtTheTimeLimit)
{
    if (corvane::test::RunCommand("strace -o /dev/null true") != 0)
        GTEST_SKIP() << "needs strace, allowed to trace";
    const std::string slow = folders.DataHome() + "/slow/x.lua";
    const std::string script = "package.path = string.rep('" + slow + ";', 256) print('found', pcall(require, 'x'))";
    const std::string skinFolder = folders.DataHome() + "/Ormbury/Corvane/Skins/Test.bundle/Contents/Resources";
    for (const bool skin : {false, true}) {
        SCOPED_TRACE(skin ? "skin" : "MIDI script");
        std::filesystem::remove_all(folders.DataHome() + "/Ormbury");
        folders.WritePreference("Skin", skin ? "Test" : "");
        if (skin) {
            std::filesystem::create_directories(skinFolder);
            std::ofstream(skinFolder + "/gui.lua") << script;
        } else {
            Script("search.lua", script);
        }
        const std::string trace = folders.DataHome() + "/lookups";
        std::string output;
        // (The leak checker cannot run under a tracer.)
        ASSERT_EQ(corvane::test::RunCommand("LSAN_OPTIONS=detect_leaks=0 strace -f -o '" + trace + "' -e trace=openat "
                                            "-e inject=openat:delay_enter=50000 -P '" + slow + "' '" +
                                                corvane::test::HostPath() + "' params '" +
                                                corvane::test::ModulePath() + "' QZs0 2>&1",
                                            &output),
                  0)
            << output;
        EXPECT_NE(output.find("script stopped: it ran past its time limit"), std::string::npos) << output;
        EXPECT_EQ(output.find("found"), std::string::npos) << output;
        size_t lookups = 0;
        for (const std::string& line : corvane::test::Lines(corvane::test::ReadText(trace)))
            lookups += line.find(slow) != std::string::npos;
        EXPECT_GT(lookups, 0u);
        EXPECT_LT(lookups, 128u);
    }
}

} // namespace
