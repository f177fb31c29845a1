// The Lua lock and queue A under load: the host's event thread queues MIDI
// while the audio thread processes blocks and delivers program changes into
// Lua, and a third thread (as the OSC listen thread and timers do) calls
// into the same state. Runs under ThreadSanitizer too.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <lua.hpp>

#include <atomic>
#include <chrono>
#include <thread>

#include "framework/InstanceRegistry.h"
#include "tests/scripting/LuaTestPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::HostEvents;
using corvane::test::kLuaTestPluginName;
using corvane::test::LuaTestPlugin;
using corvane::test::ScopedUserFolders;

namespace {

TEST(LuaMIDIConcurrencyTest, MidiOnOneThreadBlocksOnAnotherAndLuaCallsOnAThird)
{
    ScopedUserFolders folders;
    corvane::test::WriteUserScript(folders.DataHome(), kLuaTestPluginName, "count.lua", R"(
        received = 0
        checksum = 0
        calls = 0
        requestAllProgramChange(function(c, p) received = received + 1 checksum = checksum + p end)
        requestProgramChange(7, function(c, p) sevens = (sevens or 0) + 1 end)
        function bump() calls = calls + 1 end
    )");
    LuaTestPlugin plugin;
    plugin.recordHooks = false; // the hooks run on the audio thread; nothing reads them here
    QZ::LuaMIDIHelper& helper = plugin.LuaHelper();

    constexpr int kBatches = 300;
    constexpr int kPerBatch = 8; // well below the queue's 63 pending items
    constexpr int kCalls = 2000;
    std::atomic<bool> stop{false};

    std::thread audio([&] {
        while (!stop.load())
            plugin.Block(32);
    });
    std::thread osc([&] {
        for (int i = 0; i < kCalls; ++i) {
            std::lock_guard<std::recursive_mutex> lock(helper.LuaLock());
            lua_getglobal(helper.LuaState(), "bump");
            ASSERT_EQ(helper.CallLocked(0), 0);
        }
    });
    std::thread host([&] {
        for (int batch = 0; batch < kBatches; ++batch) {
            HostEvents events;
            for (int i = 0; i < kPerBatch; ++i)
                events.Midi(0xC0 | (i & 15), static_cast<uint8_t>((batch + i) & 127), 0, i * 4);
            events.Midi(0x90, 60, 100, 1); // notes go to the hooks, not into Lua
            plugin.processEvents(events.Events());
            // The batch is taken once the audio thread has served it or
            // handed it over and the hand-over thread has served that.
            while (!plugin.MidiQueueEmpty() || !helper.HandOverEmpty())
                std::this_thread::yield();
        }
    });
    host.join();
    osc.join();
    stop.store(true);
    audio.join();
    plugin.Block(32); // whatever the last block left in the queue
    while (!helper.HandOverEmpty())
        std::this_thread::yield();

    double expectedChecksum = 0;
    double expectedSevens = 0;
    for (int batch = 0; batch < kBatches; ++batch)
        for (int i = 0; i < kPerBatch; ++i) {
            const int program = (batch + i) & 127;
            expectedChecksum += program;
            expectedSevens += program == 7;
        }
    EXPECT_EQ(corvane::test::LuaNumber(helper, "received"), kBatches * kPerBatch);
    EXPECT_EQ(corvane::test::LuaNumber(helper, "checksum"), expectedChecksum);
    EXPECT_EQ(corvane::test::LuaNumber(helper, "sevens"), expectedSevens);
    EXPECT_EQ(corvane::test::LuaNumber(helper, "calls"), kCalls);
}

// A close while a timer's script is blocked in a call and a MIDI message
// waits for the state (the hand-over thread waits for the Lua lock the timer
// holds): every wait takes what is left of the one budget (here 2 s, for a
// bound a busy machine keeps), so the close takes it once, not once per
// thread. The instance is kept, which fails an in-process close, leaves the
// registry at once, and is freed once the call returns.
TEST(LuaMIDIConcurrencyTest, ThreadsHeldByOneBlockedScriptShareTheCloseBudget)
{
    ScopedUserFolders folders;
    corvane::test::FifoGate gate(folders.DataHome() + "/hold");
    corvane::test::WriteUserScript(folders.DataHome(), kLuaTestPluginName, "hold.lua",
                                   "requestTimedCallback(0, function() " + gate.Hold() +
                                       " end)\nrequestAllProgramChange(function() end)\n");
    corvane::test::InProcessPlugin<LuaTestPlugin> plugin(new LuaTestPlugin);
    plugin->SetCloseBudget(std::chrono::seconds(2));
    ASSERT_TRUE(gate.WaitUntilHeld());
    HostEvents events;
    events.Midi(0xC0, 1);
    plugin->processEvents(events.Events());
    plugin->Block(32);
    EXPECT_FALSE(plugin->LuaHelper().HandOverEmpty());
    const size_t registered = InstanceRegistry::Count();
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_NONFATAL_FAILURE(plugin.reset(), "a close kept the plug-in");
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(3));
    EXPECT_EQ(InstanceRegistry::Count(), registered - 1);
    EXPECT_EQ(ObryCorvaneBase::KeptInstances(), 1);
    gate.Release();
    EXPECT_TRUE(corvane::test::WaitFor([] { return ObryCorvaneBase::KeptInstances() == 0; }));
}

} // namespace
