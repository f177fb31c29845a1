// The Lua MIDI helper in-process: script loading, the base helper's
// deliveries to Lua (note, CC with NRPN assembly, pitch wheel, pressure,
// program change), the plug-in's helper delivering to the hooks, the
// parameter and request functions, print, and the time limit.
#include <gtest/gtest.h>

#include <thread>

#include <lua.hpp>

#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"
#include "tests/scripting/LuaTestPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::HostEvents;
using corvane::test::HookCall;
using corvane::test::kLuaTestParameterCount;
using corvane::test::kLuaTestPluginName;
using corvane::test::Lines;
using corvane::test::LuaTestPlugin;
using corvane::test::RunLua;
using corvane::test::ScopedUserFolders;
using corvane::test::StderrCapture;

namespace {

// The base helper as a plug-in without hooks of its own would use it: every
// message kind reaches the scripts' registrations.
class BaseHelper : public QZ::LuaMIDIHelper {
public:
    BaseHelper(ObryCorvaneBase* owner, QZ::MessageQueue* queue) : LuaMIDIHelper(owner, queue, nullptr) {}
    // As the plug-in's helper does, so that the built-in script runs.
    void RegisterFunctions() override { lua_register(LuaState(), "addScale", QZ::LuaAddScale); }
    void setGUIBoolValue(int index, bool value) override { flags[index & 7] = value; }
    bool getGUIBoolValue(int index) override { return flags[index & 7]; }
    bool flags[8] = {};
};

class LuaMIDIHelperTest : public ::testing::Test {
protected:
    void Script(const std::string& fileName, const std::string& text)
    {
        corvane::test::WriteUserScript(folders.DataHome(), kLuaTestPluginName, fileName, text);
    }

    // A base helper on its own queue, owned by `plugin` for names and
    // parameters; loads the scripts written so far.
    std::unique_ptr<BaseHelper> MakeBaseHelper()
    {
        auto helper = std::make_unique<BaseHelper>(plugin.get(), &queue);
        helper->SetParameterTable(kLuaTestParameterCount, plugin->ParameterTable());
        helper->setupLua();
        return helper;
    }

    // Queues the events through processEvents and delivers them in order.
    void Deliver(BaseHelper& helper, HostEvents& events)
    {
        EXPECT_EQ(helper.processEvents(events.Events()), 1);
        while (QZ::MessageQueueItem* item = queue.Read())
            helper.ProcessMidiEvent(item);
        // The scripts' callbacks run on the hand-over thread.
        while (!helper.HandOverEmpty())
            std::this_thread::yield();
    }

    ScopedUserFolders folders;
    // Made before any script is written: its own helper runs only the
    // built-in script.
    std::unique_ptr<LuaTestPlugin> plugin = std::make_unique<LuaTestPlugin>();
    QZ::MessageQueue queue;
};

TEST_F(LuaMIDIHelperTest, NRPNIsAssembledFromItsFourControllersAndEveryControllerReachesTheCCLists)
{
    Script("nrpn.lua", R"(
        requestAllNRPN(function(c, n, v) print("nrpn", c, n, v) end)
        requestNRPN(130, function(c, n, v) print("nrpn130", c, n, v) end)
        requestNRPN(131, function(c, n, v) print("nrpn131", c, n, v) end)
        requestAllCC(function(c, cc, v) print("cc", c, cc, v) end)
        requestCC(6, function(c, cc, v) print("cc6", c, cc, v) end)
    )");
    auto helper = MakeBaseHelper();
    StderrCapture capture;
    HostEvents events;
    events.Midi(0xB2, 99, 1);
    events.Midi(0xB2, 98, 2);
    events.Midi(0xB2, 6, 3);
    events.Midi(0xB2, 38, 5);
    events.Midi(0xB5, 38, 6); // the state is shared by all channels
    Deliver(*helper, events);
    const std::vector<std::string> expected = {
        "cc\t3\t99\t1",          "cc\t3\t98\t2",          "nrpn\t3\t130\t384",    "nrpn130\t3\t130\t384",
        "cc\t3\t6\t3",           "cc6\t3\t6\t3",          "nrpn\t3\t130\t389",    "nrpn130\t3\t130\t389",
        "cc\t3\t38\t5",          "nrpn\t6\t130\t390",     "nrpn130\t6\t130\t390", "cc\t6\t38\t6",
    };
    EXPECT_EQ(Lines(capture.Text()), expected);
}

TEST_F(LuaMIDIHelperTest, EachMessageKindReachesItsListsWithOneBasedChannels)
{
    Script("all.lua", R"(
        local function show(name) return function(...) print(name, ...) end end
        requestAllNoteOn(show("on"))
        requestNoteOn(60, show("on60"))
        requestNoteOn(61, show("on61"))
        requestAllNoteOff(show("off"))
        requestNoteOff(60, show("off60"))
        requestPitchWheel(show("pw"))
        requestChannelPressure(show("cp"))
        requestAllProgramChange(show("pc"))
        requestProgramChange(5, show("pc5"))
        requestAllPolyPressure(show("pp"))
        requestPolyPressure(60, show("pp60"))
    )");
    auto helper = MakeBaseHelper();
    StderrCapture capture;
    HostEvents events;
    events.Midi(0x90, 60, 100);
    events.Midi(0x90, 60, 0); // note-on with velocity 0 is a note-off
    events.Midi(0x8F, 60, 64);
    events.Midi(0xE1, 0, 64);
    events.Midi(0xE1, 127, 127);
    events.Midi(0xE1, 0, 0);
    events.Midi(0xD3, 100);
    events.Midi(0xC2, 5);
    events.Midi(0xC2, 6);
    events.Midi(0xAF, 60, 77);
    events.Midi(0xA0, 61, 1);
    events.Midi(0xF8, 0, 0); // system messages reach nothing
    Deliver(*helper, events);
    const std::vector<std::string> expected = {
        "on\t1\t60\t100", "on60\t1\t60\t100", "off\t1\t60\t0",  "off60\t1\t60\t0", "off\t16\t60\t64",
        "off60\t16\t60\t64", "pw\t2\t8192",   "pw\t2\t16383",   "pw\t2\t0",        "cp\t4\t100",
        "pc\t3\t5",       "pc5\t3\t5",        "pc\t3\t6",       "pp\t16\t60\t77",  "pp60\t16\t60\t77",
        "pp\t1\t61\t1",
    };
    EXPECT_EQ(Lines(capture.Text()), expected);
}

TEST_F(LuaMIDIHelperTest, FailingCallbacksAreReportedAndTheNextRegistrationsStillRun)
{
    Script("fail.lua", R"(
        requestAllProgramChange(function() error("first fails") end)
        requestAllProgramChange(function(c, p)
            local ok, message = xpcall(function() error("plain") end, function(e) return "handled " .. e end)
            print("xpcall", ok, message:match("^handled .*: plain$") ~= nil)
        end)
        local function late(c, p) print("late", c, p) end
        requestAllProgramChange(function(c, p)
            print("last", c, p)
            if p == 1 then requestAllProgramChange(late) end
        end)
    )");
    auto helper = MakeBaseHelper();
    StderrCapture capture;
    HostEvents events;
    events.Midi(0xC0, 1);
    events.Midi(0xC0, 2);
    Deliver(*helper, events);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("Lua MIDI callback failed: "), std::string::npos) << text;
    EXPECT_NE(text.find("fail.lua:2: first fails"), std::string::npos) << text;
    std::vector<std::string> served;
    for (const std::string& line : Lines(text))
        if (line.rfind("last", 0) == 0 || line.rfind("late", 0) == 0 || line.rfind("xpcall", 0) == 0)
            served.push_back(line);
    // A function registered while a message is served is served from the
    // next message on: the lists are served as they were when it came.
    const std::vector<std::string> expected = {"xpcall\tfalse\ttrue", "last\t1\t1", "xpcall\tfalse\ttrue",
                                               "last\t1\t2", "late\t1\t2"};
    EXPECT_EQ(served, expected);
    // The state stays usable after the stops.
    EXPECT_EQ(RunLua(*helper, "x = 1 + 1 assert(x == 2)"), "");
}

TEST_F(LuaMIDIHelperTest, ThePlugInsHelperSendsNotesControllersAndPitchToTheHooks)
{
    Script("hooks.lua", R"(
        requestAllNoteOn(function() print("lua note") end)
        requestAllCC(function() print("lua cc") end)
        requestAllNRPN(function() print("lua nrpn") end)
        requestPitchWheel(function() print("lua pitch") end)
        requestAllProgramChange(function(c, p) print("pc", c, p) end)
    )");
    auto own = std::make_unique<LuaTestPlugin>();
    StderrCapture capture;
    HostEvents events;
    events.Midi(0x93, 60, 100, 0);
    events.Midi(0x93, 60, 0, 8); // velocity 0: NoteOff
    events.Midi(0x83, 61, 40, 8);
    events.Midi(0xB1, 99, 1, 16);
    events.Midi(0xB1, 6, 3, 16);
    events.Midi(0xE2, 0, 64, 20);
    events.Midi(0xC4, 9, 0, 30);
    own->processEvents(events.Events());
    own->Block(64);
    const std::vector<HookCall> expected = {
        {"NoteOn", 3, 60, 100}, {"NoteOff", 3, 60, 0}, {"NoteOff", 3, 61, 40},
        {"CC", 1, 99, 1},       {"CC", 1, 6, 3},       {"PitchWheel", 2, 0, 64},
    };
    EXPECT_EQ(own->hooks, expected);
    own.reset(); // the hand-over thread serves what came before the close
    // Only the kinds without hooks reach the scripts.
    EXPECT_EQ(Lines(capture.Text()), std::vector<std::string>{"pc\t5\t9"});
}

TEST_F(LuaMIDIHelperTest, SysExDumpsAreQueuedWithoutTheirStatusByteAndMalformedOnesAreDropped)
{
    auto helper = MakeBaseHelper();
    HostEvents events;
    events.Midi(0x90, 60, 100, 3);
    events.SysEx({});                         // empty
    events.SysEx({0x41, 0x10, 0xF7});         // no leading 0xF0
    events.SysEx({0xF0, 0x7E, 0x01, 0xF7}, 0); // claims no bytes
    events.SysEx({0xF0}, 1000, true);          // no dump at all
    events.SysEx({0xF0, 0x7E, 0x01, 0xF7});
    events.Midi(0x80, 60, 0, 5);
    EXPECT_EQ(helper->processEvents(events.Events()), 1);
    EXPECT_EQ(helper->processEvents(nullptr), 1);

    QZ::MessageQueueItem* item = queue.Read();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->type, QZ::MessageQueueItem::kShortMIDI);
    EXPECT_EQ(item->deltaFrame, 3u);
    item = queue.Read();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->type, QZ::MessageQueueItem::kSysEx);
    EXPECT_EQ(item->bytes, (std::vector<uint8_t>{0x7E, 0x01, 0xF7}));
    item = queue.Read();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->type, QZ::MessageQueueItem::kShortMIDI);
    EXPECT_EQ(item->data[0], 0x80);
    EXPECT_EQ(queue.Read(), nullptr);
}

TEST_F(LuaMIDIHelperTest, ParameterAndRequestFunctions)
{
    auto helper = MakeBaseHelper();
    const struct {
        const char* code;
        const char* error; // empty: must succeed
    } cases[] = {
        {"assert(getNumParameters() == 5)", ""},
        {"assert(getParameterID('Rate') == 3)", ""},
        {"assert(getParameterID('Level') == 2)", ""}, // a later duplicate name wins
        {"getParameterID('Nope')", "parameter not found: 'Nope'"},
        {"getParameterID()", "bad argument #1 to 'getParameterID'"},
        {"setParameter('3', 50) assert(near(getParameter(3), 50))", ""},
        {"setParameter('Rate', 2.5) assert(near(getParameter('Rate'), 2.5))", ""},
        {"setParameter(3.9, 4) assert(near(getParameter(3), 4))", ""},
        {"setParameter(3, 1000) assert(near(getParameter(3), 100))", ""},
        {"setParameter(3, 0/0) assert(getParameter(3) == getParameter(3))", ""},
        {"setParameter(99, 1) setParameter(-1, 1)", ""}, // no range message: nothing changes
        {"setParameter('Nope', 1)", "parameter not found: 'Nope'"},
        {"setParameter(1)", "bad argument #2 to 'setParameter'"},
        {"getParameter(-1)", "parameter out of range: -1"},
        {"getParameter(5)", "parameter out of range: 5"},
        {"getParameter(1e300)", "parameter out of range: 2147483647"},
        {"getParameter({})", "bad argument #1 to 'getParameter'"},
        {"local lo, hi = getParameterMinMax('Rate') assert(lo == 0.25 and hi == 100)", ""},
        {"getParameterMinMax(7)", "parameter out of range: 7"},
        {"assert(getParameterUnit('Rate') == 8 and getParameterUnit(0) == 1)", ""},
        {"assert(getParameterName(1) == 'Level' and getParameterName(4) == nil)", ""},
        {"getParameterName(-2)", "parameter out of range: -2"},
        {"assert(isParameterUsed(0) == true)", ""},
        {"isParameterUsed(5)", "parameter out of range: 5"},
        {"requestAllCC(nil)", "first argument to requestAllCC() is not a function"},
        {"requestAllNoteOn(1)", "first argument to requestAllNoteOn() is not a function"},
        {"requestPitchWheel('f')", "first argument to requestPitchWheel() is not a function"},
        {"requestChannelPressure()", "first argument to requestChannelPressure() is not a function"},
        {"requestNoteOn(60, 5)", "second argument to requestNoteOn() is not a function"},
        {"requestPolyPressure(60)", "second argument to requestPolyPressure() is not a function"},
        {"requestNoteOn('x', print)", "bad argument #1 to 'requestNoteOn'"},
        {"requestNRPN(1e30, print) requestCC(-1e30, print)", ""},
        {"print(setmetatable({}, {__tostring = function() return {} end}))",
         "'tostring' must return a string to 'print'"},
    };
    for (const auto& c : cases) {
        StderrCapture quiet; // print output of the cases is not checked here
        const std::string error = RunLua(
            *helper, std::string("local function near(a, b) return math.abs(a - b) < 1e-4 * math.abs(b) end ") + c.code);
        if (*c.error == 0)
            EXPECT_EQ(error, "") << c.code;
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << c.code << " gave: " << error;
    }
}

using Scales = std::vector<std::pair<std::string, uint16_t>>;

TEST_F(LuaMIDIHelperTest, TheBuiltInScriptRunsFirstUnlessTheUserHasAMidiScript)
{
    // The plug-in of the fixture found no user scripts: the built-in twelve.
    ASSERT_EQ(plugin->scales.size(), 12u);
    EXPECT_EQ(plugin->scales[0], Scales::value_type("Major", 0x0AB5));

    Script("b.lua", "addScale('B', {2, 0, 17, 'x', 16.9})");
    auto second = std::make_unique<LuaTestPlugin>();
    Scales expected = plugin->scales;
    expected.emplace_back("B", 0x8002);
    EXPECT_EQ(second->scales, expected);

    // A user "midi.lua" takes the built-in one's place, in sorted order.
    Script("midi.lua", "addScale('Mine', {1, 2})");
    Script("a.lua", "addScale('A', {})");
    auto third = std::make_unique<LuaTestPlugin>();
    EXPECT_EQ(third->scales, (Scales{{"A", 0}, {"B", 0x8002}, {"Mine", 0x0003}}));
}

TEST_F(LuaMIDIHelperTest, AScriptThatFailsToLoadOrRunDoesNotStopTheNextOnes)
{
    Script("a.lua", "this is not lua");
    Script("b.lua", "defined = 'yes' error('boom')");
    Script("c.lua", "while true do end");
    Script("d.lua", "print('d ran', defined)");
    Script("notes.txt", "print('not a script')");
    StderrCapture capture;
    auto helper = MakeBaseHelper();
    const std::string text = capture.Text();
    // Lua shortens long chunk names from the left: match the ends.
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    const std::string failed = "failed to run file: ";
    EXPECT_EQ(lines[0].rfind(failed, 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("a.lua:1: '=' expected near 'is'"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind(failed, 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("Scripts/b.lua:1: boom"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind(failed, 0), 0u) << lines[2];
    EXPECT_NE(lines[2].find("c.lua:1: script stopped: it ran past its time limit"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], "d ran\tyes");
}

// A Lua function that reaches C++ which calls Lua again: the inner calls
// run within the outer call's time limit and do not start a new one, so a
// loop of short nested calls is still stopped.
class NestingHelper : public BaseHelper {
public:
    using BaseHelper::BaseHelper;
    void RegisterFunctions() override
    {
        BaseHelper::RegisterFunctions();
        lua_pushlightuserdata(LuaState(), this);
        lua_pushcclosure(LuaState(), &NestingHelper::Nested, 1);
        lua_setglobal(LuaState(), "nested");
    }

private:
    // nested(): calls the global `inner` through CallLocked; its failure
    // goes on up.
    static int Nested(lua_State* state)
    {
        auto* self = static_cast<NestingHelper*>(lua_touserdata(state, lua_upvalueindex(1)));
        bool failed = false;
        {
            // Gone before lua_error jumps out of this frame.
            std::string error;
            lua_getglobal(state, "inner");
            failed = self->CallLocked(0, &error) != 0;
            if (failed)
                lua_pushstring(state, error.c_str());
        }
        return failed ? lua_error(state) : 0;
    }
};

TEST_F(LuaMIDIHelperTest, NestedCallsDoNotRestartTheTimeLimit)
{
    // Far more work than the limit allows (each round is microseconds, the
    // limit a quarter of a second); `rounds` tells how far the loop got.
    Script("nesting.lua", "rounds = 0\n"
                          "function inner() local x = 0 for j = 1, 200 do x = x + j end end\n"
                          "function outer() for i = 1, 3000000 do nested() rounds = i end end\n");
    auto helper = std::make_unique<NestingHelper>(plugin.get(), &queue);
    helper->SetParameterTable(kLuaTestParameterCount, plugin->ParameterTable());
    helper->setupLua();
    std::lock_guard<std::recursive_mutex> lock(helper->LuaLock());
    lua_State* state = helper->LuaState();
    ASSERT_NE(state, nullptr);
    lua_getglobal(state, "outer");
    std::string error;
    EXPECT_NE(helper->CallLocked(0, &error), 0);
    EXPECT_NE(error.find("ran past its time limit"), std::string::npos) << error;
    lua_getglobal(state, "rounds");
    EXPECT_LT(lua_tonumber(state, -1), 3000000);
    lua_pop(state, 1);
}

TEST_F(LuaMIDIHelperTest, AScriptCannotTakeMoreThanTheMemoryCap)
{
    Script("a.lua", R"(
        local ok, err = pcall(function()
            local s = "x"
            while true do s = s .. s end
        end)
        collectgarbage()
        print(ok, err)
        print(#string.rep("y", 1000))
    )");
    StderrCapture capture;
    auto helper = MakeBaseHelper();
    EXPECT_EQ(capture.Text(), "false\tnot enough memory\n1000\n");
}

} // namespace
