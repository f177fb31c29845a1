// The rest of the Lua MIDI API in-process, on real Lua states of real plug-in
// objects: timers (one-shot, periodic, cancelling, stale handles, clamped
// times, stopping at Cleanup), time(), indicators, the "Others" functions
// across instances, sendOSC to an independent OSC peer, the OSC bindings,
// addScale, and the functions' error texts.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <chrono>
#include <cmath>
#include <thread>

#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"
#include "tests/scripting/LuaTestPlugin.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class LuaAPITest : public ::testing::Test {
protected:
    LuaAPITest() : folders(UniquePortBase()) {}

    QZ::LuaMIDIHelper& Lua() { return plugin->LuaHelper(); }
    std::string Run(const std::string& code) { return RunLua(Lua(), code); }
    double Number(const std::string& expression) { return LuaNumber(Lua(), expression); }
    std::string Text(const std::string& expression) { return LuaText(Lua(), expression); }
    bool WaitUntil(const std::string& condition)
    {
        return WaitFor([&] { return Text("tostring(" + condition + ")") == "true"; });
    }

    ScopedUserFolders folders;
    std::unique_ptr<LuaTestPlugin> plugin = std::make_unique<LuaTestPlugin>();
    OscPeer peer;
};

TEST_F(LuaAPITest, ErrorTextsThroughPcall)
{
    const std::string url = peer.URL(peer.Open());
    const struct {
        std::string code; // the body of a function called through pcall
        std::string error;
    } cases[] = {
        {"setGUIBoolValue(8, true)", "indicator id out of range: 8"},
        {"setGUIBoolValue(-1, true)", "indicator id out of range: -1"},
        {"getGUIBoolValue(8)", "indicator id out of range: 8"},
        {"setOthersGUIBoolValue(1, 9, true)", "indicator id out of range: 9"},
        {"getOthersGUIBoolValue(1, -3)", "indicator id out of range: -3"},
        {"setGUIBoolValue(1e300, true)", "indicator id out of range: 2147483647"},
        {"setGUIBoolValue('x', true)", "bad argument #1 to 'setGUIBoolValue' (number expected, got string)"},
        {"requestTimedCallback(1, 5)", "second argument to requestTimerCallback() is not a function"},
        {"requestPeriodicCallback(1)", "second argument to requestTimerCallback() is not a function"},
        {"requestTimedCallback('x', print)",
         "bad argument #1 to 'requestTimedCallback' (number expected, got string)"},
        {"cancelTimer({})", "bad argument #1 to 'cancelTimer' (QZ::LuaMIDIHelper::Timer expected, got table)"},
        {"cancelTimer(io.stdout)",
         "bad argument #1 to 'cancelTimer' (QZ::LuaMIDIHelper::Timer expected, got userdata)"},
        {"sendOSC('" + url + "', '/a', 'i', {1, 2})", "format string length mismatch in sendOSC"},
        {"sendOSC('" + url + "', '/a', 'ii', {1})", "format string length mismatch in sendOSC"},
        {"sendOSC('" + url + "', '/a', {true})", "unhandled argument type return from call"},
        {"sendOSC('" + url + "', '/a', 'ii', {1, {}})", "unhandled argument type return from call"},
        {"sendOSC('" + url + "', '/a', 5)", "bad argument #3 to 'sendOSC' (table expected, got number)"},
        {"sendOSC('" + url + "', '/a', 'f', 5)", "bad argument #4 to 'sendOSC' (table expected, got number)"},
        {"sendOSC('" + url + "', '/a', {string.rep('x', 2000)})", "out of buffer memory"},
        {"sendOSC('" + url + "', string.rep('/x', 600), {})", "out of buffer memory"},
        {"sendOSC('osc.udp://127.0.0.1:0', '/a', {})", "port out of range in URL"},
        {"sendOSC('osc.udp://127.0.0.1:70000', '/a', {})", "port out of range in URL"},
        {"sendOSC('127.0.0.1', '/a', {})", "port out of range in URL"},
        {"sendOSC('osc.udp://0.0.0.0:9000', '/a', {})", "unresolvable host in URL"},
        {"sendOSC('osc.udp://:9000', '/a', {})", "unresolvable host in URL"},
        {"sendOSC('osc.udp://no-such-host.invalid:9000', '/a', {})", "unresolvable host in URL"},
        {"registerOSCPathForFunction('/f', 1)", "second argument to registerOSCPathForFunction is not a function"},
        {"registerOSCPathForParameter('/p', 'Nope')", "parameter not found: 'Nope'"},
        {"registerOSCPathForParameterNormalized('/p', {1, 'Nope'})", "parameter not found: 'Nope'"},
        {"registerOSCPathForParameter('/p', {1, true})",
         "bad argument #2 to 'registerOSCPathForParameter' (parameter number or name expected in the table, got "
         "boolean)"},
        {"setOthersParameter(1, 'Nope', 1)", "parameter not found: 'Nope'"},
        {"getOthersParameter(1, 'Nope')", "parameter not found: 'Nope'"},
        {"addScale('x')", "bad argument #2 to 'addScale' (table expected, got no value)"},
        {"addScale('x', 5)", "bad argument #2 to 'addScale' (table expected, got number)"},
        {"addScale({}, {})", "bad argument #1 to 'addScale' (string expected, got table)"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Run("ok, message = pcall(function() " + c.code + " end)"), "") << c.code;
        EXPECT_EQ(Text("tostring(ok)"), "false") << c.code;
        EXPECT_EQ(Text("message"), "test:1: " + c.error) << c.code;
    }
    // Called by pcall directly the message has no position at all.
    ASSERT_EQ(Run("ok, message = pcall(setGUIBoolValue, 8, true)"), "");
    EXPECT_EQ(Text("message"), "indicator id out of range: 8");
    // No failed call left anything on the stack or broke the state.
    EXPECT_EQ(Run("assert(getNumParameters() == 5)"), "");
    std::lock_guard<std::recursive_mutex> lock(Lua().LuaLock());
    EXPECT_EQ(lua_gettop(Lua().LuaState()), 0);
}

TEST_F(LuaAPITest, AOneShotTimerFiresOnceAndCancellingItAfterwardsDoesNothing)
{
    ASSERT_EQ(Run("fired = 0 started = time() once = requestTimedCallback(0.0015, function() fired = fired + 1 "
                  "firedAt = time() end)"),
              "");
    EXPECT_EQ(Text("type(once)"), "userdata");
    EXPECT_EQ(Text("tostring(getmetatable(once) ~= nil)"), "true");
    ASSERT_TRUE(WaitUntil("fired == 1"));
    EXPECT_TRUE(WaitFor([&] { return Lua().TimerCount() == 0; }));
    Pause(30);
    EXPECT_EQ(Number("fired"), 1);
    EXPECT_GE(Number("firedAt - started"), 0.0);
    EXPECT_EQ(Run("cancelTimer(once) cancelTimer(once)"), "");
    EXPECT_EQ(Number("fired"), 1);
}

TEST_F(LuaAPITest, APeriodicTimerFiresUntilCancelled)
{
    ASSERT_EQ(Run("ticks = 0 periodic = requestPeriodicCallback(0.005, function() ticks = ticks + 1 "
                  "setParameter('Rate', ticks) end)"),
              "");
    ASSERT_TRUE(WaitUntil("ticks >= 3"));
    // Cancelling runs under the Lua lock, so the count read with it is final.
    ASSERT_EQ(Run("cancelTimer(periodic) atCancel = ticks"), "");
    EXPECT_EQ(Lua().TimerCount(), 0u);
    Pause(40);
    EXPECT_EQ(Number("ticks"), Number("atCancel"));
    EXPECT_EQ(Run("cancelTimer(periodic)"), "");
    EXPECT_NEAR(plugin->GetParameterReal(3), Number("atCancel"), 1e-3);
}

TEST_F(LuaAPITest, CallbacksMayCancelThemselvesStartTimersAndFail)
{
    ASSERT_EQ(Run(R"(
        selfTicks = 0
        selfTimer = requestPeriodicCallback(0.001, function()
            selfTicks = selfTicks + 1
            if selfTicks == 3 then cancelTimer(selfTimer) end
        end)
        chained = 0
        requestTimedCallback(0, function()
            requestTimedCallback(0, function() chained = chained + 1 end)
        end)
        failures = 0
        failing = requestPeriodicCallback(0.001, function() failures = failures + 1 error("boom") end)
    )"),
              "");
    ASSERT_TRUE(WaitUntil("selfTicks == 3 and chained == 1 and failures >= 3"));
    ASSERT_EQ(Run("cancelTimer(failing)"), "");
    Pause(30);
    EXPECT_EQ(Number("selfTicks"), 3);
    EXPECT_EQ(Number("chained"), 1);
    EXPECT_EQ(Lua().TimerCount(), 0u);
}

// A handle of an ended or cancelled timer must never reach a timer made
// later, even one whose record lands where the old one was.
TEST_F(LuaAPITest, AStaleTimerHandleNeverCancelsANewerTimer)
{
    ASSERT_EQ(Run("fired = false old = requestTimedCallback(0, function() fired = true end)"), "");
    ASSERT_TRUE(WaitUntil("fired"));
    for (int round = 0; round < 40; ++round) {
        ASSERT_EQ(Run("ticks = 0 current = requestPeriodicCallback(0.001, function() ticks = ticks + 1 end) "
                      "cancelTimer(old) cancelTimer(old)"),
                  "");
        ASSERT_TRUE(WaitUntil("ticks >= 2")) << "round " << round;
        ASSERT_EQ(Lua().TimerCount(), 1u);
        ASSERT_EQ(Run("cancelTimer(current) old = current"), "");
    }
    EXPECT_EQ(Lua().TimerCount(), 0u);
}

TEST_F(LuaAPITest, TimesBeyondTheQueuesRangeAreClamped)
{
    // Huge and infinite times must not wrap into short ones; NaN and
    // negative times fire at once.
    ASSERT_EQ(Run(R"(
        early = 0
        for _, seconds in ipairs({1e10, 1e300, math.huge, 2147484, 4294968}) do
            requestTimedCallback(seconds, function() early = early + 1 end)
            requestPeriodicCallback(seconds, function() early = early + 1 end)
        end
        prompt = 0
        requestTimedCallback(0/0, function() prompt = prompt + 1 end)
        requestTimedCallback(-1, function() prompt = prompt + 1 end)
        requestTimedCallback(-math.huge, function() prompt = prompt + 1 end)
        requestPeriodicCallback(0/0, function() prompt = prompt + 1 end)
        requestTimedCallback(0.02, function() sentinel = true end)
    )"),
              "");
    ASSERT_TRUE(WaitUntil("sentinel == true"));
    EXPECT_EQ(Number("early"), 0);
    EXPECT_EQ(Number("prompt"), 4); // a periodic timer of 0 ms fires once
    EXPECT_EQ(Lua().TimerCount(), 10u);
}

TEST_F(LuaAPITest, CleanupStopsTheTimersAndRefusesNewOnes)
{
    ASSERT_EQ(Run("ticks = 0 requestPeriodicCallback(0.001, function() ticks = ticks + 1 setParameter(1, ticks % 10) "
                  "end) requestTimedCallback(1000, print)"),
              "");
    ASSERT_TRUE(WaitUntil("ticks >= 2"));
    plugin->Cleanup();
    EXPECT_EQ(Lua().TimerCount(), 0u);
    const double atCleanup = Number("ticks");
    Pause(30);
    EXPECT_EQ(Number("ticks"), atCleanup);
    EXPECT_EQ(Run("requestTimedCallback(0, print)"), "test:1: unable to create timer");
}

TEST_F(LuaAPITest, IndicatorsOfTheOwnInstance)
{
    const uint8_t* flags = plugin->GetIndicatorBlock() + ObryCorvaneBase::kIndicatorFlagOffset;
    const struct {
        const char* code;
        int index;
        uint8_t flag;
    } cases[] = {
        {"setGUIBoolValue(0, 0)", 0, 1}, // 0 is true in Lua
        {"setGUIBoolValue(0, nil)", 0, 0},
        {"setGUIBoolValue(7, 'x')", 7, 1},
        {"setGUIBoolValue(7, false)", 7, 0},
        {"setGUIBoolValue(3.9, true)", 3, 1},
        {"setGUIBoolValue(3)", 3, 0},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Run(c.code), "") << c.code;
        EXPECT_EQ(flags[c.index], c.flag) << c.code;
        EXPECT_EQ(Text("tostring(getGUIBoolValue(" + std::to_string(c.index) + "))"),
                  c.flag ? "true" : "false")
            << c.code;
    }
}

TEST_F(LuaAPITest, OthersFunctionsReachEveryInstanceWithTheId)
{
    LuaTestPlugin second, third;
    plugin->SetParameterValue(0, 1, false);
    second.SetParameterValue(0, 2, false);
    third.SetParameterValue(0, 2, false);
    ASSERT_EQ(plugin->PortOffset(), 1);
    ASSERT_EQ(second.PortOffset(), 2);

    ASSERT_EQ(Run("setOthersParameter(2, 'Level', 3.5) setOthersParameter(2, 1, -7) setOthersParameter(2, 99, 1)"),
              "");
    for (LuaTestPlugin* other : {&second, &third}) {
        EXPECT_FLOAT_EQ(other->GetParameterReal(2), 3.5f);
        EXPECT_FLOAT_EQ(other->GetParameterReal(1), -7.0f);
    }
    EXPECT_FLOAT_EQ(plugin->GetParameterReal(2), 1.0f);
    EXPECT_FLOAT_EQ(plugin->GetParameterReal(1), 0.0f);
    EXPECT_NEAR(Number("getOthersParameter(2, 'Level')"), 3.5, 1e-6);
    EXPECT_NEAR(Number("getOthersParameter('2', 1)"), -7.0, 1e-6); // Lua reads the text as a number
    EXPECT_EQ(Number("getOthersParameter('x', 1)"), 0.0);           // any other id counts as 0: nobody
    EXPECT_EQ(Number("getOthersParameter(99, 1)"), 0.0);
    EXPECT_EQ(Number("getOthersParameter(1, 99)"), 0.0);

    ASSERT_EQ(Run("setOthersGUIBoolValue(2, 3, 0)"), "");
    const int flag = ObryCorvaneBase::kIndicatorFlagOffset + 3;
    EXPECT_EQ(second.GetIndicatorBlock()[flag], 1);
    EXPECT_EQ(third.GetIndicatorBlock()[flag], 1);
    EXPECT_EQ(plugin->GetIndicatorBlock()[flag], 0);
    EXPECT_EQ(Text("tostring(getOthersGUIBoolValue(2, 3))"), "true");
    EXPECT_EQ(Text("tostring(getOthersGUIBoolValue(1, 3))"), "false");
    ASSERT_EQ(Run("setOthersGUIBoolValue(2, 3, false)"), "");
    EXPECT_EQ(second.GetIndicatorBlock()[flag], 0);
}

TEST_F(LuaAPITest, SendOSCArrivesAtAnIndependentPeer)
{
    const int socket = peer.Open();
    const std::string url = peer.URL(socket);
    const struct {
        std::string arguments; // after url and path
        std::string tags;
        std::vector<std::string> values;
    } cases[] = {
        {"'if', {1, 2.5}", "if", {"1", "2.5"}},
        {"'ii', {1.9, -2.7}", "ii", {"1", "-2"}},
        {"'ii', {1e20, -1e20}", "ii", {"2147483647", "-2147483648"}},
        {"'xi', {'3', '7'}", "fi", {"3", "7"}},
        {"{1, 'x', '2', nil}", "fsf", {"1", "x", "2"}},
        {"{'x', nil}", "s", {"x"}},
        {"{1, nil, 3}", "fNf", {"1", "N", "3"}},
        {"{}", "", {}},
        {"'i', {1}, 'extra'", "", {}}, // any other argument count sends no values
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Run("sendOSC('" + url + "', '/a', " + c.arguments + ")"), "") << c.arguments;
        const std::vector<OscMessage> received = peer.Receive(socket, 1);
        ASSERT_EQ(received.size(), 1u) << c.arguments;
        EXPECT_EQ(received[0].address, "/a");
        EXPECT_EQ(received[0].tags, c.tags) << c.arguments;
        ASSERT_EQ(received[0].args.size(), c.values.size()) << c.arguments;
        for (size_t i = 0; i < c.values.size(); ++i) {
            if (c.tags[i] == 'f')
                EXPECT_DOUBLE_EQ(received[0].Number(i), std::stod(c.values[i])) << c.arguments;
            else
                EXPECT_EQ(received[0].args[i], c.values[i]) << c.arguments;
        }
    }
    // Without "osc.udp://" too.
    ASSERT_EQ(Run("sendOSC('127.0.0.1:" + std::to_string(peer.Port(socket)) + "', '/b', {})"), "");
    const std::vector<OscMessage> plain = peer.Receive(socket, 1);
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].address, "/b");
}

TEST_F(LuaAPITest, OSCBindingsWithoutAServerDoNothing)
{
    struct NoServer : QZ::LuaMIDIHelper {
        NoServer(ObryCorvaneBase* owner, QZ::MessageQueue* queue) : LuaMIDIHelper(owner, queue, nullptr) {}
        void setGUIBoolValue(int, bool) override {}
        bool getGUIBoolValue(int) override { return false; }
    };
    QZ::MessageQueue queue;
    NoServer helper(plugin.get(), &queue);
    helper.SetParameterTable(kLuaTestParameterCount, plugin->ParameterTable());
    ASSERT_NE(helper.setupLua(), nullptr);
    EXPECT_EQ(RunLua(helper, "registerOSCPathForParameter('/p', 1) registerOSCPathForParameterNormalized('/p', "
                                "{1, 'Rate'}) registerOSCPathForFunction('/f', print)"),
              "");
    EXPECT_EQ(RunLua(helper, "registerOSCPathForFunction('/f', 1)"),
              "test:1: second argument to registerOSCPathForFunction is not a function");
}

TEST_F(LuaAPITest, AddScaleHandsTheMaskToThePlugIn)
{
    plugin->scales.clear(); // the built-in script's
    ASSERT_EQ(Run(R"(
        addScale("Major", {1, 3, 5, 6, 8, 10, 12})
        addScale("Odd", {0, 17, 2.9, "3", "x", -1, 16, {}})
        addScale("Empty", {})
        addScale("Holes", setmetatable({}, {__len = function() return 5 end}))
    )"),
              "");
    const std::vector<std::pair<std::string, uint16_t>> expected = {
        {"Major", 0x0AB5}, {"Odd", 0x8006}, {"Empty", 0}, {"Holes", 0}};
    EXPECT_EQ(plugin->scales, expected);
}

} // namespace
} // namespace corvane::test
