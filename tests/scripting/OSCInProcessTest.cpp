// The OSC server's request handling fed in-process with hand-built packets:
// notes, Lua-bound addresses, registrations and the update queue, URLs, the
// recent-message ring, and a fuzz run of random packets.
#include <gtest/gtest.h>

#include <lua.hpp>

#include <cmath>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <random>
#include <sys/mman.h>
#include <unistd.h>

#include "scripting/LuaMIDIHelper.h"
#include "scripting/OSCHelper.h"
#include "tests/scripting/LuaTestPlugin.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/OscTestPlugin.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

using QZ::OSCHelper;

class OSCInProcessTest : public ::testing::Test {
protected:
    OSCInProcessTest() : folders(UniquePortBase()) {}

    // Runs Lua text in the plug-in's MIDI state.
    void RunLua(const std::string& text) { ASSERT_EQ(test::RunLua(plugin.LuaHelper(), text), ""); }
    double LuaNumber(const std::string& expression) { return test::LuaNumber(plugin.LuaHelper(), expression); }
    int LuaTop()
    {
        std::lock_guard<std::recursive_mutex> lock(plugin.LuaHelper().LuaLock());
        return lua_gettop(plugin.LuaHelper().LuaState());
    }
    int BindFunction(const std::string& path, const std::string& globalName)
    {
        std::lock_guard<std::recursive_mutex> lock(plugin.LuaHelper().LuaLock());
        lua_State* state = plugin.LuaHelper().LuaState();
        lua_getglobal(state, globalName.c_str());
        const int reference = luaL_ref(state, LUA_REGISTRYINDEX);
        plugin.OSC().AddFunctionBindingLocked(path, reference);
        return reference;
    }
    bool BindParameters(const std::string& path, const std::vector<OSCHelper::ParameterBinding>& bindings)
    {
        std::lock_guard<std::recursive_mutex> lock(plugin.LuaHelper().LuaLock());
        return plugin.OSC().AddParameterBindingsLocked(path, bindings);
    }

    ScopedUserFolders folders;
    OscTestPlugin plugin;
};

TEST_F(OSCInProcessTest, NotesReachThePluginOnTheAudioThread)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        const char* address;
        int note;
        float velocity;
        std::vector<NoteCall> expected; // after the next block
        const char* error;
    } cases[] = {
        {"/startNote", 60, 1.0f, {{true, 1, 60, 127}}, nullptr},
        {"/startNote", 61, 0.5f, {{true, 1, 61, 63}}, nullptr},
        {"/startNote", 62, 2.0f, {{true, 1, 62, 127}}, nullptr},
        // Velocity 0 is a note-off, as on any MIDI line.
        {"/startNote", 63, -1.0f, {{false, 1, 63, 0}}, nullptr},
        {"/startNote", 64, nan, {{false, 1, 64, 0}}, nullptr},
        {"/stopNote", 60, 0.25f, {{false, 1, 60, 31}}, nullptr},
        {"/stopNote", 127, 1e30f, {{false, 1, 127, 127}}, nullptr},
        {"/startNote", 0, 0.01f, {{true, 1, 0, 1}}, nullptr},
        {"/startNote", 128, 1.0f, {}, "error while parsing message: /startNote: note out of range\n"},
        {"/startNote", 316, 1.0f, {}, "error while parsing message: /startNote: note out of range\n"},
        {"/stopNote", -1, 1.0f, {}, "error while parsing message: /stopNote: note out of range\n"},
        {"/stopNote", 256 + 60, 1.0f, {}, "error while parsing message: /stopNote: note out of range\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.note));
        StdoutCapture out;
        Feed(plugin, HandPacket(c.address).Int(c.note).Float(c.velocity).Bytes());
        // Nothing reaches the plug-in outside its audio callback.
        EXPECT_TRUE(plugin.notes.empty());
        plugin.Block();
        EXPECT_EQ(plugin.notes, c.expected);
        plugin.notes.clear();
        if (c.error)
            EXPECT_TRUE(out.Contains(c.error));
        else
            EXPECT_EQ(out.Text(), "");
    }
}

TEST_F(OSCInProcessTest, ParameterPathsSetTheirBindings)
{
    // Normalised over "Level" (-5..5): 0.75 -> 2.5.
    ASSERT_TRUE(BindParameters("/knob", {plugin.OSC().MakeParameterBinding(1, true)}));
    Feed(plugin, HandPacket("/knob").Float(0.75f).Bytes());
    EXPECT_EQ(plugin.GetParameterReal(1), 2.5f);

    // A second binding of the same length: both are set, in order.
    ASSERT_TRUE(BindParameters("/knob", {plugin.OSC().MakeParameterBinding(2, false)}));
    Feed(plugin, HandPacket("/knob").Float(0.5f).Bytes());
    EXPECT_EQ(plugin.GetParameterReal(1), 0.0f);
    EXPECT_EQ(plugin.GetParameterReal(2), 0.5f);

    // Another length is refused.
    {
        StderrCapture err;
        EXPECT_FALSE(BindParameters("/knob", {{1, 0, 1}, {2, 0, 1}}));
        EXPECT_NE(err.Text().find("inconsistent sizes in RegisterOSCPathForParameter\n"), std::string::npos);
    }

    // Two positions, one of them outside the parameters (changes nothing).
    ASSERT_TRUE(BindParameters("/xy", {{2, 1.0f, 2.0f}, {99, 0.0f, 1.0f}}));
    Feed(plugin, HandPacket("/xy").Float(3.0f).Float(1.0f).Bytes());
    EXPECT_EQ(plugin.GetParameterReal(2), 7.0f);

    StdoutCapture out;
    const std::pair<std::vector<uint8_t>, const char*> bad[] = {
        {HandPacket("/xy").Float(1).Bytes(), "/xy: missing argument\n"},
        {HandPacket("/xy").Float(1).Int(2).Bytes(), "/xy: wrong argument type\n"},
        {HandPacket("/xy").Float(1).Float(2).Float(3).Bytes(), "/xy: too many arguments\n"},
    };
    for (const auto& [packet, error] : bad) {
        Feed(plugin, packet);
        EXPECT_TRUE(out.Contains(std::string("error while parsing message: ") + error)) << error;
    }
    EXPECT_EQ(plugin.GetParameterReal(2), 7.0f);
}

TEST_F(OSCInProcessTest, FunctionPathsCallEveryBoundFunction)
{
    RunLua("calls = {}\n"
           "function first(...) calls[#calls + 1] = {'first', ...} end\n"
           "function second(a) calls[#calls + 1] = {'second', a} end\n"
           "function broken() error('broken') end\n");
    BindFunction("/fn", "first");
    BindFunction("/fn", "second");
    const int top = LuaTop();
    Feed(plugin, HandPacket("/fn").Int(3).String("x").Tag('T').Tag('N').Float(0.5f).Bytes());
    EXPECT_EQ(LuaNumber("#calls"), 2);
    RunLua("c = calls[1]; ok = c[1] == 'first' and c[2] == 3 and c[3] == 'x' and c[4] == true and c[5] == nil "
           "and c[6] == 0.5; ok2 = calls[2][1] == 'second' and calls[2][2] == 3");
    EXPECT_EQ(LuaNumber("ok and 1 or 0"), 1);
    EXPECT_EQ(LuaNumber("ok2 and 1 or 0"), 1);

    StdoutCapture out;
    Feed(plugin, HandPacket("/fn").Blob({1, 2}).Bytes());
    EXPECT_TRUE(out.Contains("error while parsing message: /fn: unhandled argument type to exec\n"));
    BindFunction("/bad", "broken");
    Feed(plugin, HandPacket("/bad").Bytes());
    EXPECT_TRUE(out.Contains("error while parsing message: /bad: failed to pcall function\n"));
    // The stack is left as it was on every road.
    EXPECT_EQ(LuaTop(), top);

    // A parameter binding of the same address is served instead.
    ASSERT_TRUE(BindParameters("/fn", {{3, 0, 1}}));
    Feed(plugin, HandPacket("/fn").Float(0.25f).Bytes());
    EXPECT_EQ(plugin.GetParameterReal(3), 0.25f);
    EXPECT_EQ(LuaNumber("#calls"), 2);
}

TEST_F(OSCInProcessTest, ExecLeavesTheLuaStackAsItFoundIt)
{
    RunLua("function fine(...) return ... end function bad() error('x') end t = 1");
    const int top = LuaTop();
    StdoutCapture out;
    const std::vector<uint8_t> packets[] = {
        HandPacket("/exec").String("fine").Int(1).Bytes(),
        HandPacket("/exec").String("bad").Bytes(),
        HandPacket("/exec").String("t").Bytes(),
        HandPacket("/exec").String("").Bytes(),
        HandPacket("/call").String("fine").String("127.0.0.1").String("/r").Bytes(), // no port: refused
        HandPacket("/call").String("fine").String("127.0.0.1:9").String("/r").Tag('T').Bytes(),
    };
    for (const std::vector<uint8_t>& packet : packets) {
        Feed(plugin, packet);
        EXPECT_EQ(LuaTop(), top);
    }
    // Too many arguments for the Lua stack: refused, not a crash.
    HandPacket huge("/exec");
    huge.String("fine");
    for (int i = 0; i < 9000; ++i)
        huge.Tag('N');
    Feed(plugin, huge.Bytes());
    EXPECT_TRUE(out.Contains("error while parsing message: /exec: too many arguments\n"));
    EXPECT_EQ(LuaTop(), top);
}

TEST_F(OSCInProcessTest, RegistrationsAndTheUpdateQueue)
{
    OSCHelper& osc = plugin.OSC();
    // The notify thread stays out of the way: the test reads the queue.
    osc.DestroyTask();
    const std::string url = "osc.udp://127.0.0.1:9";
    auto packet = [&](const char* verb, int id, const std::string& path) {
        return HandPacket(verb).Int(id).String(url).String(path).Bytes();
    };
    OSCHelper::SetParamQueue::Entry entry{};

    // An unregistered parameter queues nothing.
    plugin.SetParameterValue(1, 1.0f, false);
    EXPECT_FALSE(osc.ParamQueue().Read(entry));

    Feed(plugin, packet("/registerUpdate", 1, "/a"));
    Feed(plugin, packet("/registerUpdate", 1, "/a"));
    EXPECT_EQ(osc.RegistrationCount(1), 1u);
    Feed(plugin, packet("/registerUpdate", 1, "/b"));
    EXPECT_EQ(osc.RegistrationCount(1), 2u);
    EXPECT_TRUE(osc.IsRegistered(1));
    EXPECT_FALSE(osc.IsRegistered(2));

    // 63 changes are kept, the 64th is dropped with the overflow text.
    std::vector<float> queued;
    {
        StderrCapture err;
        for (int i = 0; i < 63; ++i) {
            plugin.SetParameterValue(1, static_cast<float>(i % 10) - 4.0f, false);
            queued.push_back(plugin.GetParameterReal(1));
        }
        EXPECT_EQ(err.Text(), "");
    }
    {
        StderrCapture err;
        plugin.SetParameterValue(1, 4.5f, false);
        EXPECT_EQ(err.Text(), "OSCHelper::SetParamQueue::Write() overflow\n");
    }
    for (int i = 0; i < 63; ++i) {
        ASSERT_TRUE(osc.ParamQueue().Read(entry)) << i;
        EXPECT_EQ(entry.index, 1);
        EXPECT_EQ(entry.value, queued[static_cast<size_t>(i)]);
    }
    EXPECT_FALSE(osc.ParamQueue().Read(entry));

    // Unregistering one of two keeps the flag; the last clears it.
    Feed(plugin, packet("/unregisterUpdate", 1, "/a"));
    EXPECT_TRUE(osc.IsRegistered(1));
    Feed(plugin, packet("/unregisterUpdate", 1, "/a")); // no longer there: nothing
    EXPECT_EQ(osc.RegistrationCount(1), 1u);
    Feed(plugin, packet("/unregisterUpdate", 1, "/b"));
    EXPECT_FALSE(osc.IsRegistered(1));
    plugin.SetParameterValue(1, 2.0f, false);
    EXPECT_FALSE(osc.ParamQueue().Read(entry));

    // A client cannot grow the registrations without bound.
    StdoutCapture out;
    for (size_t i = 0; i < OSCHelper::kMaxRegistrationsPerParameter + 6; ++i)
        Feed(plugin, packet("/registerUpdate", 2, "/p" + std::to_string(i)));
    EXPECT_EQ(osc.RegistrationCount(2), OSCHelper::kMaxRegistrationsPerParameter);
    EXPECT_EQ(out.Count("error while parsing message: /registerUpdate: too many registrations for this parameter\n"),
              6u);
}

// Updates and replies go only to the machine a request came from: a
// controller registers itself from anywhere, but no datagram can point the
// server's packets at a third party.
TEST_F(OSCInProcessTest, RegistrationsAndRepliesGoOnlyToTheRequester)
{
    OSCHelper& osc = plugin.OSC();
    osc.DestroyTask();
    const struct {
        IpEndpointName from;
        const char* url;
        bool accepted;
    } cases[] = {
        {IpEndpointName(192, 0, 2, 7, 5000), "osc.udp://192.0.2.7:9000", true},  // a controller on another machine
        {IpEndpointName(127, 0, 0, 1, 5000), "osc.udp://127.0.0.2:9000", true},  // this machine, any loopback
        {IpEndpointName(127, 0, 0, 1, 5000), "localhost:9001", true},
        {IpEndpointName(192, 0, 2, 7, 5000), "osc.udp://192.0.2.8:9000", false}, // a third party
        {IpEndpointName(192, 0, 2, 7, 5000), "osc.udp://127.0.0.1:9000", false}, // our own loopback, from outside
        {IpEndpointName(127, 0, 0, 1, 5000), "osc.udp://198.51.100.1:9000", false},
    };
    StdoutCapture out;
    size_t expected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const size_t refusals = out.Count("reply address is not the requester's\n");
        Feed(plugin, HandPacket("/registerUpdate").Int(3).String(c.url).String("/u").Bytes(), c.from);
        expected += c.accepted ? 1 : 0;
        EXPECT_EQ(osc.RegistrationCount(3), expected);
        Feed(plugin, HandPacket("/getNumParameters").String(c.url).String("/n").Bytes(), c.from);
        EXPECT_EQ(out.Count("reply address is not the requester's\n"), refusals + (c.accepted ? 0 : 2));
    }
}

// A reply path may be 900 bytes long (the packet keeps room for the two
// arguments); one byte more is refused.
TEST_F(OSCInProcessTest, ReplyPathsUpTo900Bytes)
{
    OSCHelper& osc = plugin.OSC();
    osc.DestroyTask();
    StdoutCapture out;
    size_t expected = 0;
    for (const auto& [length, accepted] : {std::pair{900, true}, std::pair{901, false}, std::pair{899, true}}) {
        SCOPED_TRACE(length);
        const std::string path = "/" + std::string(static_cast<size_t>(length) - 1, 'p');
        const size_t refusals = out.Count("reply path too long");
        Feed(plugin, HandPacket("/registerUpdate").Int(3).String("localhost:9001").String(path).Bytes(),
             IpEndpointName(127, 0, 0, 1, 5000));
        expected += accepted ? 1 : 0;
        EXPECT_EQ(osc.RegistrationCount(3), expected);
        EXPECT_EQ(out.Count("reply path too long"), refusals + (accepted ? 0 : 1));
    }
}

TEST_F(OSCInProcessTest, ParseURL)
{
    const struct {
        std::string url;
        std::string host;
        int32_t port;
    } cases[] = {
        {"osc.udp://localhost:9000/some/path", "localhost", 9000},
        {"localhost:9000", "localhost", 9000},
        {"osc.udp://10.0.0.2", "10.0.0.2", -1},
        {"host:", "host", -1},
        {"host:abc", "host", -1},
        {"host:12x", "host", 12},
        {"host: -5", "host", -5},
        {":7", "", 7},
        {"host:99999999999", "host", -1},
        {"osc.udp://", "", -1},
        {"", "", -1},
        {std::string(1030, 'a') + ":80", std::string(1024, 'a'), -1},
    };
    for (const auto& c : cases) {
        int32_t port = 12345;
        EXPECT_EQ(OSCHelper::ParseURL(c.url.c_str(), &port), c.host) << c.url;
        EXPECT_EQ(port, c.port) << c.url;
    }
}

TEST_F(OSCInProcessTest, RecentMessagesRing)
{
    OSCHelper& osc = plugin.OSC();
    EXPECT_EQ(osc.RecentMessageIndex(), 0);
    for (int i = 1; i <= 7; ++i) {
        Feed(plugin, HandPacket("/nothing" + std::to_string(i)).Int(i).Bytes());
        EXPECT_EQ(osc.RecentMessageIndex(), i % OSCHelper::kRecentMessageCount);
        EXPECT_NE(osc.RecentMessage(osc.RecentMessageIndex()).find("/nothing" + std::to_string(i)), std::string::npos);
    }
    EXPECT_EQ(osc.RecentMessage(-1), "");
    EXPECT_EQ(osc.RecentMessage(5), "");
}

TEST_F(OSCInProcessTest, CreatingTheTaskTwiceWarns)
{
    StdoutCapture out;
    plugin.OSC().CreateTask();
    EXPECT_EQ(out.Text(), "Warning: Attempt to recreate OSC task\n");
}

// Random packets, structured and not, straight into the handler. Each packet
// ends at a page whose next page is inaccessible, so a read past its end
// stops the test at once.
TEST(OSCFuzzTest, RandomPacketsNeverCrashTheHandler)
{
    ScopedUserFolders folders(UniquePortBase());
    OscTestPlugin plugin(-1);
    std::mt19937 random(20240611);
    const long page = sysconf(_SC_PAGESIZE);
    const size_t span = 16 * static_cast<size_t>(page);
    auto* region = static_cast<char*>(mmap(nullptr, span + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(region, MAP_FAILED);
    ASSERT_EQ(mprotect(region + span, page, PROT_NONE), 0);

    const char* addresses[] = {"/ping", "/set", "/get", "/getAll", "/getAllRegistered", "/getNumParameters",
                               "/isParameterUsed", "/getInfo", "/registerUpdate", "/unregisterUpdate", "/exec",
                               "/call", "/startNote", "/stopNote", "/obry/QVOscTest/1/Level", "/obry/1/2",
                               "/obry/+multi1/QVOscTest/*/0/2", "/obry/QVOscTest/*/Gain/1/1", "/t3d/frm", "/x"};
    auto randomText = [&](size_t maxLength) {
        std::string text;
        const size_t length = random() % (maxLength + 1);
        for (size_t i = 0; i < length; ++i)
            text += static_cast<char>(1 + random() % 255);
        return text;
    };
    auto structured = [&]() {
        HandPacket packet(addresses[random() % (sizeof addresses / sizeof addresses[0])]);
        const int count = static_cast<int>(random() % 6);
        for (int i = 0; i < count; ++i) {
            switch (random() % 7) {
            case 0: packet.Int(static_cast<int32_t>(random() % 8) - 2); break;
            case 1: packet.Float(std::ldexp(static_cast<float>(random() % 2001) - 1000.0f, static_cast<int>(random() % 80) - 40)); break;
            case 2: packet.String(random() % 3 ? "127.0.0.1:" + std::to_string(random() % 3 ? 9 : 0) : randomText(12)); break;
            case 3: packet.String(random() % 2 ? "/r" : "print"); break;
            case 4: packet.Tag("TFN"[random() % 3]); break;
            case 5: packet.Blob({1, 2, 3}); break;
            default: packet.Float(std::numeric_limits<float>::quiet_NaN()); break;
            }
        }
        return packet.Bytes();
    };

    // The server prints a line for most of these; keep them out of the log.
    const int nullFd = open("/dev/null", O_WRONLY);
    fflush(stdout);
    const int savedOut = dup(1), savedErr = dup(2);
    dup2(nullFd, 1);
    dup2(nullFd, 2);
    for (int round = 0; round < 100000; ++round) {
        std::vector<uint8_t> packet;
        switch (round % 4) {
        case 0: // raw bytes
            packet.resize(random() % 200);
            for (uint8_t& byte : packet)
                byte = static_cast<uint8_t>(random());
            break;
        case 1: // a valid message
            packet = structured();
            break;
        case 2: { // a valid message with flipped bytes or cut short
            packet = structured();
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips && !packet.empty(); ++i)
                packet[random() % packet.size()] = static_cast<uint8_t>(random());
            if (random() % 3 == 0)
                packet.resize(random() % (packet.size() + 1));
            break;
        }
        default: { // bundles, sometimes nested, sometimes with a lying size
            std::vector<std::vector<uint8_t>> elements;
            const int count = static_cast<int>(random() % 4);
            for (int i = 0; i < count; ++i)
                elements.push_back(random() % 4 ? structured() : HandPacket::Bundle({structured()}));
            packet = HandPacket::Bundle(elements);
            if (packet.size() > 20 && random() % 2)
                packet[16 + random() % 4] = static_cast<uint8_t>(random());
            break;
        }
        }
        if (packet.size() > span)
            packet.resize(span);
        char* at = region + span - packet.size();
        if (!packet.empty())
            memcpy(at, packet.data(), packet.size());
        plugin.OSC().ProcessPacket(at, static_cast<int>(packet.size()), IpEndpointName(127, 0, 0, 1, 9));
        if (round % 64 == 0)
            plugin.Block();
    }
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    close(nullFd);
    munmap(region, span + page);

    // Still serving: a well-formed request works after all that.
    Feed(plugin, HandPacket("/set").Int(2).Float(3.0f).Bytes());
    EXPECT_EQ(plugin.GetParameterReal(2), 3.0f);
}

} // namespace
} // namespace corvane::test
