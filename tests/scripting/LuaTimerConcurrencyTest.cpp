// Timers against closing and against the other threads that use the Lua
// state, through the built module and our host. Closing an instance whose
// 1 ms periodic timer is running must stop the timer before anything it
// uses goes away; timers made and cancelled at once from timer callbacks,
// the audio thread and OSC function calls must never meet a wrong or freed
// record. Also runs under AddressSanitizer and ThreadSanitizer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
constexpr int32_t kPortOffset = 10; // 0..100, indexed
constexpr int32_t kSmoothingL = 11; // -500..500: the scripts' tick counter

void Block(Plugin& plugin, const std::vector<host::MidiMessage>& midi = {})
{
    if (!midi.empty())
        plugin.SendMidi(midi);
    std::vector<std::vector<float>> outputs;
    plugin.ProcessBlock({}, outputs, 64);
}

size_t AutomateCalls(const Plugin& plugin)
{
    return plugin.CallsOf(audioMasterAutomate).size();
}

TEST(LuaTimerConcurrencyTest, ClosingWithAOneMillisecondTimerRunningIsClean)
{
    ScopedUserFolders folders(UniquePortBase());
    WriteUserScript(folders.DataHome(), kDCName, "tick.lua", R"(
        ticks = 0
        requestPeriodicCallback(0.001, function()
            ticks = ticks + 1
            setParameter("Smoothing L", ticks % 400 + 1)
        end)
        -- a second timer that keeps the Lua lock a little longer
        requestPeriodicCallback(0.001, function()
            local sum = 0
            for i = 1, 2000 do sum = sum + i end
        end)
        requestAllProgramChange(function(c, p) setParameter("Multiplier L", p / 64 - 1) end)
    )");
    for (int round = 0; round < 100; ++round) {
        auto plugin = Plugin::Create(LoadedModule(), kDC);
        ASSERT_NE(plugin, nullptr);
        plugin->Start(48000, 64);
        // The timer is running (it has moved the counter off 0).
        ASSERT_TRUE(WaitFor([&] { return plugin->GetParameter(kSmoothingL) != 0.5f; })) << "round " << round;
        // The audio thread takes the Lua lock too, right up to the close.
        Block(*plugin, {{0, {0xC0, static_cast<uint8_t>(round), 0}}});
        plugin->Close();
        // Nothing calls the host for the closed instance afterwards.
        const size_t atClose = AutomateCalls(*plugin);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        ASSERT_EQ(AutomateCalls(*plugin), atClose) << "round " << round;
    }
}

TEST(LuaTimerConcurrencyTest, TimersMadeAndCancelledFromEveryThreadThenClosed)
{
    const int base = UniquePortBase();
    ScopedUserFolders folders(base);
    // Every path keeps at most a few timers alive and cancels handles that
    // may have ended, been cancelled by another path, or still run.
    WriteUserScript(folders.DataHome(), kDCName, "churn.lua", R"(
        handles = {}
        made = 0
        local function churn(slot, seconds, periodic)
            local old = handles[slot]
            if old then cancelTimer(old) cancelTimer(old) end
            local f = function() made = made + 1 end
            if periodic then
                handles[slot] = requestPeriodicCallback(seconds, f)
            else
                handles[slot] = requestTimedCallback(seconds, f)
            end
            for _, h in pairs(handles) do if math.random() < 0.3 then cancelTimer(h) end end
        end
        requestPeriodicCallback(0.001, function()
            churn(1, 0, false)
            churn(2, 0.001, true)
            setParameter("Smoothing L", made % 400 + 1)
        end)
        requestAllProgramChange(function(c, p) churn(3 + p % 3, 0.001 * (p % 4), p % 2 == 0) end)
        registerOSCPathForFunction("/churn", function(n) churn(6 + n % 3, 0, n % 2 == 1) end)
    )");
    auto plugin = Plugin::Create(LoadedModule(), kDC);
    ASSERT_NE(plugin, nullptr);
    plugin->Start(48000, 64);
    plugin->SetParameter(kPortOffset, 0.07f);
    OscPeer peer;
    const int control = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 7, control));

    std::atomic<bool> stop{false};
    std::thread oscSender([&] {
        for (int n = 0; !stop.load(); ++n) {
            peer.Send(base + 7, "/churn", "i", {std::to_string(n)});
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int block = 0; block < 400; ++block) {
        Block(*plugin, {{0, {0xC0, static_cast<uint8_t>(block & 127), 0}}, {8, {0xC1, 3, 0}}});
        std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    ASSERT_TRUE(WaitFor([&] { return plugin->GetParameter(kSmoothingL) != 0.5f; }));
    stop.store(true);
    oscSender.join();
    ASSERT_TRUE(peer.Sync(base + 7, control));
    plugin->Close();
    const size_t atClose = AutomateCalls(*plugin);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(AutomateCalls(*plugin), atClose);
}

// While a timer holds the Lua lock (here: blocked reading a pipe the test
// holds), the audio thread does not wait for it: its blocks return, and the
// MIDI that meets the busy state is served after the timer, in order.
TEST(LuaTimerConcurrencyTest, TheAudioThreadHandsMIDIOverWhileATimerHoldsTheLua)
{
    ScopedUserFolders folders(UniquePortBase());
    const std::string pipePath = folders.DataHome() + "/hold";
    const std::string served = folders.DataHome() + "/served";
    ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    WriteUserScript(folders.DataHome(), kDCName, "hold.lua",
                    "requestTimedCallback(0, function() os.execute(\"head -n 1 '" + pipePath +
                        "' > /dev/null\") end)\n"
                        "requestAllProgramChange(function(c, p) local f = io.open('" + served +
                        "', 'a') f:write(p, ' ') f:close() end)\n");
    auto plugin = Plugin::Create(LoadedModule(), kDC);
    ASSERT_NE(plugin, nullptr);
    plugin->Start(48000, 64);
    // Opening the writing end returns once the timer has opened the reading
    // end: from then on the timer holds the Lua lock until we write a line.
    struct Release {
        int fd = -1;
        void Now()
        {
            if (fd >= 0 && write(fd, "go\n", 3) == 3)
                close(fd);
            fd = -1;
        }
        ~Release() { Now(); }
    } release;
    ASSERT_TRUE(WaitFor([&] {
        release.fd = open(pipePath.c_str(), O_WRONLY | O_NONBLOCK);
        return release.fd >= 0;
    }));
    for (uint8_t program = 1; program <= 3; ++program) {
        Block(*plugin, {{0, {0xC0, program, 0}}}); // returns although the lock is held
    }
    EXPECT_EQ(ReadText(served), "");
    release.Now();
    EXPECT_TRUE(WaitFor([&] { return ReadText(served) == "1 2 3 "; }))
        << ReadText(served);
    // Later messages keep their place behind the handed-over ones.
    Block(*plugin, {{0, {0xC0, 4, 0}}});
    EXPECT_TRUE(WaitFor([&] { return ReadText(served) == "1 2 3 4 "; }))
        << ReadText(served);
}

} // namespace
} // namespace corvane::test
