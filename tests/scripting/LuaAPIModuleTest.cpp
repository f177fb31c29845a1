// The Lua MIDI API through the built module and our host: user scripts of
// the DC plug-in start timers, set indicators, reach other instances, send
// OSC to an independent peer (python3 over UDP on 127.0.0.1) and bind OSC
// addresses of their instance's server. Scripts run code on demand through
// program-change registrations and report on the standard error with print.
// (The functions' error texts are tested in-process.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "host/VstHost.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

using host::Plugin;

constexpr const char* kDCName = "Corvane DC";
constexpr int32_t kDC = vst::FourCC("QZs0");
// The DC plug-in's parameters used here.
constexpr int32_t kOutputSymmetricL = 1; // -1..1
constexpr int32_t kMultiplierL = 2;      // -2..2
constexpr int32_t kInputAddL = 3;        // 0..1
constexpr int32_t kMultiplierR = 7;      // -2..2
constexpr int32_t kInputAddR = 8;        // 0..1
constexpr int32_t kPortOffset = 10;      // 0..100, indexed
constexpr int32_t kSmoothingL = 11;      // -500..500
constexpr int32_t kSmoothingR = 12;      // -500..500

// Every instance runs this; `URL` is defined before it by the test.
constexpr const char* kScript = R"(
oneShots = 0
ticks = 0
once = requestTimedCallback(0.001, function()
    oneShots = oneShots + 1
    setParameter("Input Add L", 1)
end)
periodic = requestPeriodicCallback(0.005, function()
    ticks = ticks + 1
    setParameter("Smoothing L", math.min(ticks, 400))
end)

registerOSCPathForParameter("/lvl", {"Multiplier L", "Multiplier R"})
registerOSCPathForParameterNormalized("/nrm", "Smoothing R")
registerOSCPathForFunction("/fn", function(value, text)
    setParameter("Input Add R", value)
    print("fn\t" .. text)
end)

requestProgramChange(1, function()
    cancelTimer(periodic)
    atCancel = ticks
    cancelTimer(once)
    cancelTimer(once)
    cancelTimer(periodic)
end)
requestProgramChange(2, function()
    print("timers\t" .. oneShots .. "\t" .. tostring(ticks == atCancel) .. "\t" .. tostring(atCancel >= 3))
end)
requestProgramChange(3, function() setOthersParameter(2, "Output Symmetric L", 0.5) end)
requestProgramChange(4, function() sendOSC(URL, "/a", "if", {1, 2.5}) end)
requestProgramChange(5, function()
    setGUIBoolValue(0, 0)
    print("indicator\t" .. tostring(getGUIBoolValue(0)) .. "\t" .. tostring(getOthersGUIBoolValue(2, 0)))
end)
requestProgramChange(6, function()
    print("values\t" .. getParameter("Multiplier L") .. "\t" .. getParameter("Multiplier R") .. "\t"
          .. getParameter("Smoothing R") .. "\t" .. getParameter("Input Add R"))
end)
)";

class LuaAPIModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = UniquePortBase();
        folders = std::make_unique<ScopedUserFolders>(base);
        control = peer.Open();
        target = peer.Open();
        WriteUserScript(folders->DataHome(), kDCName, "api.lua",
                        "URL = '" + peer.URL(target) + "'\n" + std::string(kScript));
    }
    void TearDown() override { instances.clear(); }

    Plugin& Make()
    {
        auto plugin = Plugin::Create(LoadedModule(), kDC);
        if (!plugin)
            throw std::runtime_error("the module made no DC plug-in");
        plugin->Start(48000, 64);
        instances.push_back(std::move(plugin));
        return *instances.back();
    }

    // Opens the instance's server at base + offset.
    void Serve(Plugin& plugin, int offset)
    {
        plugin.SetParameter(kPortOffset, static_cast<float>(offset) / 100.0f);
        ASSERT_TRUE(peer.WaitForServer(base + offset, control)) << "no server at offset " << offset;
    }

    // Runs the script's program-change registration `program` on this thread.
    static void Call(Plugin& plugin, uint8_t program)
    {
        plugin.SendMidi({{0, {0xC0, program, 0}}});
        std::vector<std::vector<float>> outputs;
        plugin.ProcessBlock({}, outputs, 64);
    }

    static double Real(Plugin& plugin, int32_t index, double min, double max)
    {
        return min + (max - min) * plugin.GetParameter(index);
    }

    int base = 0;
    std::unique_ptr<ScopedUserFolders> folders;
    OscPeer peer;
    int control = -1;
    int target = -1;
    std::vector<std::unique_ptr<Plugin>> instances;
};

TEST_F(LuaAPIModuleTest, TimersFireOnceOrUntilCancelled)
{
    Plugin& plugin = Make();
    ASSERT_TRUE(WaitFor([&] { return plugin.GetParameter(kInputAddL) == 1.0f; })) << "the one-shot never fired";
    ASSERT_TRUE(WaitFor([&] { return Real(plugin, kSmoothingL, -500, 500) > 2.99; })) << "fewer than 3 ticks";
    Call(plugin, 1); // cancels both, the ended one-shot twice
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    StderrCapture capture;
    Call(plugin, 2);
    EXPECT_EQ(Lines(capture.Text(), "timers\t"), std::vector<std::string>{"1\ttrue\ttrue"});
}

TEST_F(LuaAPIModuleTest, OthersReachOnlyTheInstanceWithThatId)
{
    Plugin& first = Make();
    Plugin& second = Make();
    Serve(first, 1);
    Serve(second, 2);
    Call(first, 3); // setOthersParameter(2, "Output Symmetric L", 0.5)
    EXPECT_FLOAT_EQ(second.GetParameter(kOutputSymmetricL), 0.75f);
    EXPECT_FLOAT_EQ(first.GetParameter(kOutputSymmetricL), 0.5f);

    // Each sets its own indicator 0, then reads it and the one of id 2.
    StderrCapture capture;
    Call(first, 5);
    Call(second, 5);
    EXPECT_EQ(Lines(capture.Text(), "indicator\t"), (std::vector<std::string>{"true\tfalse", "true\ttrue"}));
}

TEST_F(LuaAPIModuleTest, SendOSCArrivesAtAnIndependentPeer)
{
    Plugin& plugin = Make();
    peer.Drain(target);
    Call(plugin, 4);
    const std::vector<OscMessage> received = peer.Receive(target, 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].address, "/a");
    EXPECT_EQ(received[0].tags, "if");
    EXPECT_EQ(received[0].Int(0), 1);
    EXPECT_DOUBLE_EQ(received[0].Number(1), 2.5);
}

TEST_F(LuaAPIModuleTest, AddressesBoundByAScriptSetParametersAndCallFunctions)
{
    Plugin& plugin = Make();
    Serve(plugin, 3);
    StderrCapture capture;
    peer.Send(base + 3, "/lvl", "ff", {"1.25", "-0.5"});
    peer.Send(base + 3, "/nrm", "f", {"0.75"});
    peer.Send(base + 3, "/fn", "fs", {"0.25", "hello"});
    ASSERT_TRUE(peer.Sync(base + 3, control));
    EXPECT_NEAR(Real(plugin, kMultiplierL, -2, 2), 1.25, 1e-5);
    EXPECT_NEAR(Real(plugin, kMultiplierR, -2, 2), -0.5, 1e-5);
    EXPECT_NEAR(Real(plugin, kSmoothingR, -500, 500), 250, 1e-3); // -500 + 0.75 x 1000
    EXPECT_NEAR(Real(plugin, kInputAddR, 0, 1), 0.25, 1e-6);
    Call(plugin, 6);
    const std::string text = capture.Text();
    EXPECT_EQ(Lines(text, "fn\t"), std::vector<std::string>{"hello"}) << text;
    EXPECT_EQ(Lines(text, "values\t"), std::vector<std::string>{"1.25\t-0.5\t250\t0.25"}) << text;
}

} // namespace
} // namespace corvane::test
