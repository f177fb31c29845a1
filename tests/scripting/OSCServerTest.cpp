// The OSC server of real plug-in instances, loaded through our host and
// driven over UDP on 127.0.0.1 by an independent peer (python3).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "host/VstHost.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace corvane::test {
namespace {

using host::Plugin;

constexpr int32_t kDC = vst::FourCC("QZs0");
constexpr int32_t kLFO = vst::FourCC("QZs2");

std::string ShortNameOf(Plugin& plugin)
{
    std::string name;
    for (char c : plugin.EffectName())
        if (c != ' ')
            name += c;
    return name;
}

struct Instance {
    std::unique_ptr<Plugin> plugin;
    int32_t portIndex = -1;
    // A parameter other than "OSC Port Offset" (or that one when the plug-in
    // has no other).
    int32_t other = -1;
};

class OSCServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = UniquePortBase();
        folders = std::make_unique<ScopedUserFolders>(base);
        control = peer.Open();
        replies = peer.Open();
    }
    void TearDown() override
    {
        for (Instance& instance : instances)
            instance.plugin.reset();
        instances.clear();
    }

    Instance& Make(int32_t id)
    {
        Instance instance;
        instance.plugin = Plugin::Create(LoadedModule(), id);
        if (!instance.plugin)
            throw std::runtime_error("the module made no plug-in");
        instance.plugin->Start();
        instance.portIndex = instance.plugin->FindParameter("OSC Port Offset");
        if (instance.portIndex < 0)
            throw std::runtime_error("no OSC Port Offset parameter");
        for (int32_t i = 0; i < instance.plugin->NumParams() && instance.other < 0; ++i)
            if (i != instance.portIndex)
                instance.other = i;
        if (instance.other < 0)
            instance.other = instance.portIndex;
        instances.push_back(std::move(instance));
        return instances.back();
    }

    // Every plug-in's "OSC Port Offset" is indexed 0..100.
    void SetOffset(Instance& instance, int offset)
    {
        instance.plugin->SetParameter(instance.portIndex, static_cast<float>(offset) / 100.0f);
        ASSERT_EQ(instance.plugin->ParameterDisplay(instance.portIndex), offset == 0 ? "Off" : std::to_string(offset));
    }

    Instance& Serve(int32_t id, int offset)
    {
        Instance& instance = Make(id);
        SetOffset(instance, offset);
        EXPECT_TRUE(peer.WaitForServer(Port(offset), control)) << "no server on offset " << offset;
        return instance;
    }

    int Port(int offset) const { return base + offset; }

    // One request with a reply at "/r"; the reply's messages.
    std::vector<OscMessage> Ask(int offset, const std::string& address, const std::string& tags,
                                const std::vector<std::string>& args, int count = 1)
    {
        peer.Send(Port(offset), address, tags, args);
        return peer.Receive(replies, count);
    }

    struct Info {
        double min = 0, max = 0, def = 0;
        std::string name;
        int unit = -1;
    };
    Info GetInfo(int offset, int32_t id)
    {
        Info info;
        const std::vector<OscMessage> reply =
            Ask(offset, "/getInfo", "iss", {std::to_string(id), peer.URL(replies), "/info"});
        if (reply.size() == 1 && reply[0].tags == "ifffsi") {
            info.min = reply[0].Number(1);
            info.max = reply[0].Number(2);
            info.def = reply[0].Number(3);
            info.name = reply[0].Text(4);
            info.unit = reply[0].Int(5);
        }
        return info;
    }

    int base = 0;
    std::unique_ptr<ScopedUserFolders> folders;
    OscPeer peer;
    int control = 0; // pings and syncs
    int replies = 0; // answers the tests look at
    std::list<Instance> instances; // a list: references to instances stay valid
};

TEST_F(OSCServerTest, PortOffsetOpensMovesAndClosesTheServer)
{
    Instance& dc = Make(kDC);
    // Offset 0 (the default): no server.
    EXPECT_TRUE(peer.CanBind(Port(3)));

    SetOffset(dc, 3);
    ASSERT_TRUE(peer.WaitForServer(Port(3), control));
    const std::vector<OscMessage> pong = Ask(3, "/ping", "ss", {peer.URL(replies), "/pong"});
    ASSERT_EQ(pong.size(), 1u);
    EXPECT_EQ(pong[0].address, "/pong");
    EXPECT_EQ(pong[0].tags, "ss");
    EXPECT_EQ(pong[0].Text(0), "osc.udp://127.0.0.1:" + std::to_string(Port(3)));
    EXPECT_EQ(pong[0].Text(1).rfind("Corvane ", 0), 0u) << pong[0].Text(1);
    EXPECT_EQ(pong[0].Text(1).substr(pong[0].Text(1).size() - 6), " 2.1.0");

    SetOffset(dc, 4);
    EXPECT_TRUE(peer.WaitForServer(Port(4), control));
    EXPECT_TRUE(peer.WaitUntilFree(Port(3)));

    // A request can move the server that answers it.
    peer.Send(Port(4), "/set", "if", {std::to_string(dc.portIndex), "5"});
    EXPECT_TRUE(peer.WaitForServer(Port(5), control));
    EXPECT_TRUE(peer.WaitUntilFree(Port(4)));
    EXPECT_EQ(dc.plugin->ParameterDisplay(dc.portIndex), "5");

    SetOffset(dc, 0);
    EXPECT_TRUE(peer.WaitUntilFree(Port(5)));
}

TEST_F(OSCServerTest, QueriesAnswerFromTheParameterTable)
{
    Instance& dc = Serve(kDC, 3);
    const int32_t count = dc.plugin->NumParams();

    std::vector<OscMessage> reply = Ask(3, "/getNumParameters", "ss", {peer.URL(replies), "/n"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].address, "/n");
    EXPECT_EQ(reply[0].tags, "i");
    EXPECT_EQ(reply[0].Int(0), count);

    const Info info = GetInfo(3, dc.portIndex);
    EXPECT_EQ(info.name, "OSC Port Offset");
    EXPECT_EQ(info.min, 0.0);
    EXPECT_EQ(info.max, 100.0);
    EXPECT_EQ(info.def, 0.0);
    EXPECT_EQ(info.unit, 1); // indexed

    reply = Ask(3, "/isParameterUsed", "iss", {std::to_string(dc.portIndex), peer.URL(replies), "/used"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].tags, "iT");
    EXPECT_EQ(reply[0].Int(0), dc.portIndex);

    reply = Ask(3, "/getAll", "ss", {peer.URL(replies), "/all"}, count);
    ASSERT_EQ(reply.size(), static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(reply[i].address, "/all");
        EXPECT_EQ(reply[i].tags, "if");
        EXPECT_EQ(reply[i].Int(0), i);
    }
    EXPECT_EQ(reply[dc.portIndex].Number(1), 3.0);
}

TEST_F(OSCServerTest, SetReachesTheProgramAndTheHost)
{
    Instance& dc = Serve(kDC, 3);
    if (dc.other == dc.portIndex)
        GTEST_SKIP() << "the plug-in has no parameter besides OSC Port Offset yet";
    const Info info = GetInfo(3, dc.other);
    dc.plugin->SetParameter(dc.other, 0.0f);
    dc.plugin->ClearCalls();

    peer.Send(Port(3), "/set", "if", {std::to_string(dc.other), std::to_string(info.max)});
    const std::vector<OscMessage> reply = Ask(3, "/get", "iss", {std::to_string(dc.other), peer.URL(replies), "/v"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].tags, "if");
    EXPECT_EQ(reply[0].Int(0), dc.other);
    // The real value, not the normalised one.
    EXPECT_NEAR(reply[0].Number(1), info.max, 1e-4 * std::max(1.0, std::fabs(info.max)));
    EXPECT_EQ(dc.plugin->GetParameter(dc.other), 1.0f);

    const std::vector<host::HostCall> automated = dc.plugin->CallsOf(audioMasterAutomate);
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].index, dc.other);
    EXPECT_EQ(automated[0].opt, 1.0f);
}

// Each bad request prints its line and the server goes on answering.
TEST_F(OSCServerTest, BadRequestsPrintTheirErrorAndTheServerKeepsAnswering)
{
    Instance& dc = Serve(kDC, 3);
    const std::string count = std::to_string(dc.plugin->NumParams());
    const std::string url = peer.URL(replies);
    const struct {
        std::string address, tags;
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {"/set", "if", {count, "0.5"}, "error while parsing message: /set: parameter id out of range in set"},
        {"/set", "ii", {"0", "1"}, "error while parsing message: /set: wrong argument type"},
        {"/set", "i", {"0"}, "error while parsing message: /set: missing argument"},
        {"/get", "issi", {"0", url, "/v", "1"}, "error while parsing message: /get: too many arguments"},
        {"/get", "iss", {count, url, "/v"}, "error while parsing message: /get: parameter id out of range in get"},
        {"/getInfo", "iss", {"-1", url, "/v"}, "/getInfo: parameter id out of range in getInfo"},
        {"/isParameterUsed", "iss", {count, url, "/v"}, "parameter id out of range in isParameterUsed"},
        {"/registerUpdate", "iss", {count, url, "/v"}, "parameter id out of range in registerUpdate"},
        {"/unregisterUpdate", "iss", {"-5", url, "/v"}, "/unregisterUpdate: parameter id out of range in registerUpdate"},
        // Replies go only to a usable address and port.
        {"/get", "iss", {"0", "osc.udp://127.0.0.1", "/v"}, "/get: port out of range in URL"},
        {"/get", "iss", {"0", "osc.udp://127.0.0.1:70000", "/v"}, "/get: port out of range in URL"},
        {"/getNumParameters", "ss", {"osc.udp://:9000", "/v"}, "/getNumParameters: unresolvable host in URL"},
        {"/ping", "ss", {"0.0.0.0:9000", "/v"}, "/ping: unresolvable host in URL"},
        {"/registerUpdate", "iss", {"0", "osc.udp://0.0.0.0:9000", "/v"}, "/registerUpdate: unresolvable host in URL"},
    };
    StdoutCapture out;
    for (const auto& c : cases) {
        peer.Send(Port(3), c.address, c.tags, c.args);
        ASSERT_TRUE(peer.Sync(Port(3), control)) << c.address;
        EXPECT_TRUE(out.Contains(c.expected + "\n")) << "expected: " << c.expected;
    }
    // Nothing was answered to the failed requests.
    EXPECT_EQ(peer.Drain(replies), 0);

    // Datagrams that are no OSC at all.
    peer.SendRaw(Port(3), "2f78797a"); // "/xyz" without its terminator
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_TRUE(out.Contains("osc::Exception in TaskMain(): "));
    peer.SendRaw(Port(3), "616263"); // three bytes
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_TRUE(out.Contains("osc::Exception in TaskMain(): element size must be multiple of four\n"));
    std::mt19937 random(1234);
    for (int round = 0; round < 20; ++round) {
        std::string hex;
        const int length = 4 * (1 + static_cast<int>(random() % 64));
        for (int i = 0; i < length; ++i) {
            char byte[3];
            snprintf(byte, sizeof byte, "%02x", static_cast<unsigned>(random() & 0xFF));
            hex += byte;
        }
        peer.SendRaw(Port(3), hex);
    }
    // A bundle that claims more than it holds.
    peer.SendRaw(Port(3), "2362756e646c6500" "0000000000000001" "000000ff2f61000000");
    ASSERT_TRUE(peer.Sync(Port(3), control));
    const std::vector<OscMessage> reply = Ask(3, "/getNumParameters", "ss", {url, "/n"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Int(0), dc.plugin->NumParams());
}

// Bundles whose element sizes lie: each is refused with its error and the
// server answers the next request (a size of 0xFFFFFFFC once made the
// library's walk step by nothing, for ever).
TEST_F(OSCServerTest, BundlesWithLyingElementSizesAreRefused)
{
    Serve(kDC, 3);
    const std::string header = "2362756e646c6500" "0000000000000001"; // "#bundle", time tag
    const struct {
        const char* what;
        std::string hex;
    } cases[] = {
        {"size wraps to zero", header + "fffffffc"},
        {"size wraps, more bytes after", header + "fffffffc" "2f610000"},
        {"negative size", header + "80000000" "2f610000"},
        {"size not a multiple of four", header + "00000003" "2f610000"},
        {"size past the end", header + "00000008" "2f610000"},
        {"nested size wraps", header + "00000014" + header + "fffffffc"},
        {"nested size past the end", header + "00000014" + header + "00000100"},
    };
    StdoutCapture out;
    for (const auto& c : cases) {
        const size_t before = out.Count("osc::Exception in TaskMain(): ");
        peer.SendRaw(Port(3), c.hex);
        ASSERT_TRUE(peer.Sync(Port(3), control)) << c.what;
        EXPECT_EQ(out.Count("osc::Exception in TaskMain(): "), before + 1) << c.what;
    }
}

// Bundles nested as deep as allowed (eight levels) are served; one level
// deeper, the whole packet is refused before anything in it acts, a "/set"
// at its top level included.
std::string HexWord(uint32_t word)
{
    char text[9];
    snprintf(text, sizeof text, "%08x", word);
    return text;
}

std::string SetMessageHex(int32_t index, float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    // "/set" padded to 8 bytes, ",if" padded to 4, then the arguments.
    return "2f73657400000000" "2c696600" + HexWord(static_cast<uint32_t>(index)) + HexWord(bits);
}

std::string BundleHex(const std::vector<std::string>& elements)
{
    std::string hex = "2362756e646c6500" "0000000000000001";
    for (const std::string& element : elements)
        hex += HexWord(static_cast<uint32_t>(element.size() / 2)) + element;
    return hex;
}

TEST_F(OSCServerTest, BundlesNestedDeeperThanAllowedAreRefusedWhole)
{
    Instance& dc = Serve(kDC, 3);
    if (dc.other == dc.portIndex)
        GTEST_SKIP() << "the plug-in has no parameter besides OSC Port Offset";
    const Info info = GetInfo(3, dc.other);
    struct Row {
        int levels; // bundles around the inner "/set", the outermost included
        bool served;
    };
    StdoutCapture out;
    for (const Row& row : {Row{8, true}, Row{9, false}, Row{2, true}}) {
        SCOPED_TRACE(row.levels);
        dc.plugin->SetParameter(dc.other, 0.0f);
        std::string nested = SetMessageHex(dc.other, static_cast<float>(info.max));
        for (int level = 1; level < row.levels; ++level)
            nested = BundleHex({nested});
        // The outermost bundle: a "/set" of its own first, then the nest.
        const std::string packet =
            BundleHex({SetMessageHex(dc.other, static_cast<float>(info.max)), nested});
        const size_t before = out.Count("osc::Exception in TaskMain(): ");
        peer.SendRaw(Port(3), packet);
        ASSERT_TRUE(peer.Sync(Port(3), control));
        EXPECT_EQ(out.Count("osc::Exception in TaskMain(): "), before + (row.served ? 0 : 1));
        EXPECT_EQ(dc.plugin->GetParameter(dc.other), row.served ? 1.0f : 0.0f);
    }
}

TEST_F(OSCServerTest, RepliesToBundledRequestsAndHostNames)
{
    Instance& dc = Serve(kDC, 3);
    peer.SendBundle(Port(3), "/getNumParameters", "ss", {peer.URL(replies), "/n"});
    std::vector<OscMessage> reply = peer.Receive(replies, 1);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Int(0), dc.plugin->NumParams());

    // A URL without "osc.udp://" and with a host name.
    reply = Ask(3, "/getNumParameters", "ss", {"localhost:" + std::to_string(peer.Port(replies)), "/n"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Int(0), dc.plugin->NumParams());
}

// Updates arrive in the order the changes were made, so a later update
// tells that no other one came before it.
TEST_F(OSCServerTest, UpdateRegistrations)
{
    Instance& dc = Serve(kDC, 3);
    if (dc.other == dc.portIndex)
        GTEST_SKIP() << "the plug-in has no parameter besides OSC Port Offset yet";
    const int32_t p = dc.other;
    const Info info = GetInfo(3, p);
    const std::string id = std::to_string(p), url = peer.URL(replies);
    auto registerPath = [&](const char* verb, const char* path) {
        peer.Send(Port(3), verb, "iss", {id, url, path});
        ASSERT_TRUE(peer.Sync(Port(3), control));
    };
    auto expectUpdates = [&](float normalized, double real, const std::vector<std::string>& paths) {
        dc.plugin->SetParameter(p, normalized);
        const std::vector<OscMessage> got = peer.Receive(replies, static_cast<int>(paths.size()));
        ASSERT_EQ(got.size(), paths.size());
        for (size_t i = 0; i < paths.size(); ++i) {
            EXPECT_EQ(got[i].address, paths[i]);
            EXPECT_EQ(got[i].tags, "if");
            EXPECT_EQ(got[i].Int(0), p);
            EXPECT_NEAR(got[i].Number(1), real, 1e-4 * std::max(1.0, std::fabs(real)));
        }
    };

    // The same registration twice: one update per change (a duplicate would
    // come before the second change's update).
    registerPath("/registerUpdate", "/a");
    registerPath("/registerUpdate", "/a");
    expectUpdates(1.0f, info.max, {"/a"});
    expectUpdates(0.0f, info.min, {"/a"});

    // Two paths: two updates per change, in registration order.
    registerPath("/registerUpdate", "/b");
    expectUpdates(1.0f, info.max, {"/a", "/b"});

    // "/getAllRegistered" sends the current value to each.
    peer.Send(Port(3), "/getAllRegistered");
    const std::vector<OscMessage> all = peer.Receive(replies, 2);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].address, "/a");
    EXPECT_EQ(all[1].address, "/b");

    // Unregistering one keeps the other (the queue itself is tested in-process).
    registerPath("/unregisterUpdate", "/a");
    expectUpdates(0.0f, info.min, {"/b"});
}

TEST_F(OSCServerTest, ObryAddressesReachExactlyTheNamedInstances)
{
    // Process-wide numbers 1, 2, 3 in creation order (no other instance is
    // alive); per-type numbers DC 1 and 2, LFO 1.
    Instance& a = Serve(kDC, 3);
    Instance& b = Serve(kDC, 4);
    Instance& c = Serve(kLFO, 5);
    if (a.other == a.portIndex || c.other == c.portIndex)
        GTEST_SKIP() << "the plug-ins have no parameter besides OSC Port Offset yet";
    const std::string dc = ShortNameOf(*a.plugin), lfo = ShortNameOf(*c.plugin);
    ASSERT_EQ(dc, "QVDC");
    ASSERT_EQ(lfo, "QVLFO");
    const Info infoA = GetInfo(3, a.other), infoC = GetInfo(5, c.other);
    std::string nameA;
    for (char ch : infoA.name)
        if (ch != ' ')
            nameA += ch;
    const std::string pA = std::to_string(a.other), pC = std::to_string(c.other);
    // Every case sets the parameter's maximum; it starts at its minimum.
    const std::string value = std::to_string(infoA.max);
    ASSERT_EQ(infoA.max, GetInfo(4, b.other).max);

    const struct {
        std::string address;
        bool a, b, c;
        bool matchesNothing = false; // well formed, but no instance or parameter has it
    } cases[] = {
        {"/obry/QVDC/2/" + pA, false, true, false},
        {"/obry/QVDC/1/" + nameA, true, false, false},
        {"/obry/QVDC/*/" + pA, true, true, false},
        {"/obry/QVDC/-2147483648/" + pA, true, true, false}, // negative: every instance of the kind
        {"/obry/3/" + pC, false, false, true},
        {"/obry/1/" + pA, true, false, false},
        {"/obry/+multi1/QVDC/1/0/" + std::to_string(a.other + 1), true, false, false},
        {"/obry/QVDC/2/" + pA + "/QVLFO/1/" + pC, false, true, true},
        // Malformed: nothing changes.
        {"/obry/QVDC/x/" + pA, false, false, false},
        {"/obry/QVDC/1/" + pA + "/", false, false, false},
        {"/obry/QVDC/1", false, false, false},
        {"/obry/", false, false, false},
        {"/obry/+multi2/QVDC/1/0/1", false, false, false},
        {"/obry/QVDC/2/" + pA + "/QVLFO/1/", false, false, false},
        {"/obry/+multi1/QVDC/1/" + pA + "/0", false, false, false}, // offsets count from 1
        {"/obry/QVDC/2147483648/" + pA, false, false, false},        // past 32 bits
        {"/obry/QVDC/-2147483649/" + pA, false, false, false},
        // Names and numbers that match nothing.
        {"/obry/QVNone/1/" + pA, false, false, false, true},
        {"/obry/QVDC/3/" + pA, false, false, false, true},
        {"/obry/QVDC/2147483647/" + pA, false, false, false, true},
    };
    StdoutCapture out;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.address);
        a.plugin->SetParameter(a.other, 0.0f);
        b.plugin->SetParameter(b.other, 0.0f);
        c.plugin->SetParameter(c.other, 0.0f);
        const size_t errorsBefore = out.Count("error while parsing message: /obry/");
        // Sent to C's server: the address, not the receiving server, picks
        // the instances.
        peer.Send(Port(5), k.address, "f", {value});
        ASSERT_TRUE(peer.Sync(Port(5), control));
        EXPECT_EQ(a.plugin->GetParameter(a.other), k.a ? 1.0f : 0.0f);
        EXPECT_EQ(b.plugin->GetParameter(b.other), k.b ? 1.0f : 0.0f);
        if (infoC.max == infoA.max)
            EXPECT_EQ(c.plugin->GetParameter(c.other), k.c ? 1.0f : 0.0f);
        else
            EXPECT_EQ(c.plugin->GetParameter(c.other) != 0.0f, k.c);
        const bool malformed = !k.a && !k.b && !k.c && !k.matchesNothing;
        EXPECT_EQ(out.Count("error while parsing message: /obry/") - errorsBefore, malformed ? 1u : 0u);
    }
    // A value that is not a float.
    peer.Send(Port(5), "/obry/QVDC/1/" + pA, "i", {"1"});
    ASSERT_TRUE(peer.Sync(Port(5), control));
    EXPECT_TRUE(out.Contains("error while parsing message: /obry/QVDC/1/" + pA + ": wrong argument type\n"));
}

// Hosts reload projects through effSetChunk: the restored port offset opens
// the server, and restoring another one moves it.
TEST_F(OSCServerTest, ARestoredStateOpensTheServer)
{
    std::vector<uint8_t> chunk3, chunk0;
    {
        Instance& saved = Serve(kDC, 3);
        chunk3 = saved.plugin->GetChunk();
        SetOffset(saved, 0);
        chunk0 = saved.plugin->GetChunk();
        saved.plugin.reset();
    }
    ASSERT_TRUE(peer.WaitUntilFree(Port(3)));
    Instance& restored = Make(kDC);
    ASSERT_NE(restored.plugin->SetChunk(chunk3), 0);
    EXPECT_EQ(restored.plugin->ParameterDisplay(restored.portIndex), "3");
    EXPECT_TRUE(peer.WaitForServer(Port(3), control));
    ASSERT_NE(restored.plugin->SetChunk(chunk0), 0);
    EXPECT_TRUE(peer.WaitUntilFree(Port(3)));
}

TEST_F(OSCServerTest, ATakenPortWaitsForTheNextMove)
{
    StdoutCapture out;
    Instance& first = Serve(kDC, 3);
    Instance& second = Make(kDC);
    SetOffset(second, 3);
    // The second cannot bind; it says so and waits.
    for (int i = 0; i < 500 && !out.Contains("unable to bind udp socket"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(out.Contains("std::runtime_error in TaskMain(): unable to bind udp socket\n"));
    EXPECT_TRUE(peer.Sync(Port(3), control));
    SetOffset(second, 6);
    EXPECT_TRUE(peer.WaitForServer(Port(6), control));
    EXPECT_TRUE(peer.Sync(Port(3), control));
    (void)first;
}

// Functions of the instance's MIDI Lua state, called by name.
TEST_F(OSCServerTest, ExecAndCallReachTheLuaState)
{
    WriteUserScript(folders->DataHome(), "Corvane DC", "osc.lua",
                    "function add(a, b) return a + b end\n"
                    "function mixed() return 1, 'a', nil, 2 end\n"
                    "stored = 0\n"
                    "function store(x) stored = x end\n"
                    "function getStored() return stored end\n"
                    "function boom() error('boom') end\n"
                    "function echo(...) return ... end\n"
                    "function tableResult() return {} end\n"
                    "function kinds(t, f, n, s) return type(t) .. type(f) .. type(n) .. type(s) end\n");
    Serve(kDC, 3);
    const std::string url = peer.URL(replies);
    auto call = [&](const std::string& function, const std::string& tags, std::vector<std::string> args) {
        args.insert(args.begin(), {function, url, "/r"});
        const std::vector<OscMessage> reply = Ask(3, "/call", "sss" + tags, args);
        return reply.size() == 1 ? reply[0] : OscMessage{"<none>", "", {}};
    };
    OscMessage reply = call("add", "if", {"2", "0.5"});
    EXPECT_EQ(reply.tags, "f");
    EXPECT_EQ(reply.Number(0), 2.5);
    reply = call("mixed", "", {}); // results up to the first nil
    EXPECT_EQ(reply.tags, "fs");
    EXPECT_EQ(reply.Number(0), 1.0);
    EXPECT_EQ(reply.Text(1), "a");
    peer.Send(Port(3), "/exec", "sd", {"store", "7.25"});
    EXPECT_EQ(call("getStored", "", {}).Number(0), 7.25);
    EXPECT_EQ(call("kinds", "TFNs", {"x"}).Text(0), "booleanbooleannilstring");
    // At most 16 results.
    std::vector<std::string> many;
    std::string tags;
    for (int i = 0; i < 20; ++i) {
        many.push_back(std::to_string(i));
        tags += i % 2 ? "i" : "h";
    }
    reply = call("echo", tags, many);
    EXPECT_EQ(reply.tags, std::string(16, 'f'));
    EXPECT_EQ(reply.Number(15), 15.0);

    StdoutCapture out;
    const struct {
        std::string tags;
        std::vector<std::string> args;
        std::string expected;
    } failures[] = {
        {"s", {"boom"}, "/exec: failed to exec function"},
        {"s", {"stored"}, "/exec: failed to exec function"},            // not a function
        {"s", {"os.exit"}, "/exec: failed to exec function"},           // a name, never code
        {"s", {"print('x') or os.exit"}, "/exec: failed to exec function"},
        {"s", {"no_such_function"}, "/exec: failed to exec function"},
        {"sb", {"add", "0102"}, "/exec: unhandled argument type to exec"},
        {"i", {"1"}, "/exec: wrong argument type"},
    };
    for (const auto& c : failures) {
        peer.Send(Port(3), "/exec", c.tags, c.args);
        ASSERT_TRUE(peer.Sync(Port(3), control));
        EXPECT_TRUE(out.Contains(c.expected + "\n")) << c.expected;
    }
    peer.Send(Port(3), "/call", "sss", {"tableResult", url, "/r"});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_TRUE(out.Contains("/call: unhandled argument type return from call\n"));
    EXPECT_EQ(peer.Drain(replies), 0);
    EXPECT_EQ(call("add", "ii", {"1", "2"}).Number(0), 3.0); // still usable after the failures
}

// By name the network reaches what the scripts wrote and the API meant for
// remote control, never the standard library, whatever name it goes by.
TEST_F(OSCServerTest, TheNetworkCannotReachTheStandardLibrary)
{
    const std::string marker = folders->DataHome() + "/ran";
    const std::string payload = folders->DataHome() + "/payload.lua";
    std::ofstream(payload) << "io.open('" << marker << "', 'w'):close()\n";
    WriteUserScript(folders->DataHome(), "Corvane DC", "net.lua",
                    "function mine() return 42 end\n"
                    "runFile = dofile\n"
                    "tools = { run = dofile }\n");
    Instance& dc = Serve(kDC, 3);
    const std::string url = peer.URL(replies);

    StdoutCapture out;
    const char* const refused[] = {"dofile", "loadfile", "load", "loadstring", "require", "module",
                                   "collectgarbage", "setfenv", "rawset", "print", "pcall", "runFile"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        const size_t before = out.Count("/exec: function not callable from OSC\n");
        peer.Send(Port(3), "/exec", "ss", {name, payload});
        ASSERT_TRUE(peer.Sync(Port(3), control));
        EXPECT_EQ(out.Count("/exec: function not callable from OSC\n"), before + 1);
    }
    // Without an argument dofile would read the host's standard input.
    peer.Send(Port(3), "/exec", "s", {"dofile"});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    peer.Send(Port(3), "/call", "sss", {"require", url, "/r"});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_TRUE(out.Contains("/call: function not callable from OSC\n"));
    // Library tables are no names of functions.
    for (const char* name : {"io.open", "os.execute", "debug.sethook", "package.loadlib", "tools.run"}) {
        peer.Send(Port(3), "/exec", "ss", {name, payload});
        ASSERT_TRUE(peer.Sync(Port(3), control));
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(peer.Drain(replies), 0);

    // What is meant for the network still answers.
    std::vector<OscMessage> reply = Ask(3, "/call", "sss", {"mine", url, "/r"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Number(0), 42.0);
    reply = Ask(3, "/call", "sss", {"getNumParameters", url, "/r"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Number(0), dc.plugin->NumParams());
}

// A binding is served before the built-in addresses, so none may be bound to
// one: "/set" and "/ping" stay the server's, from the network or a script.
TEST_F(OSCServerTest, BuiltInAddressesCannotBeRebound)
{
    WriteUserScript(folders->DataHome(), "Corvane DC", "bind.lua",
                    "ok = pcall(registerOSCPathForFunction, '/ping', function() end)\n"
                    "function scriptBound() return ok and 1 or 0 end\n");
    Instance& dc = Serve(kDC, 3);
    if (dc.other == dc.portIndex)
        GTEST_SKIP() << "the plug-in has no parameter besides OSC Port Offset yet";
    const std::string url = peer.URL(replies);
    StdoutCapture out;
    for (const char* path : {"/set", "/get", "/ping", "/exec", "/obry/QVDC/1/0"}) {
        SCOPED_TRACE(path);
        peer.Send(Port(3), "/exec", "ssi", {"registerOSCPathForParameter", path, std::to_string(dc.other)});
        ASSERT_TRUE(peer.Sync(Port(3), control));
    }
    EXPECT_EQ(out.Count("/exec: failed to exec function\n"), 5u);
    std::vector<OscMessage> reply = Ask(3, "/call", "sss", {"scriptBound", url, "/r"});
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].Number(0), 0.0);
    // "/set" still sets by id and value (a binding of one float would refuse
    // the id).
    const std::string max = std::to_string(GetInfo(3, dc.other).max);
    dc.plugin->SetParameter(dc.other, 0.0f);
    peer.Send(Port(3), "/set", "if", {std::to_string(dc.other), max});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_EQ(dc.plugin->GetParameter(dc.other), 1.0f);
    // Other addresses bind as before.
    dc.plugin->SetParameter(dc.other, 0.0f);
    peer.Send(Port(3), "/exec", "ssi", {"registerOSCPathForParameter", "/mine", std::to_string(dc.other)});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    peer.Send(Port(3), "/mine", "f", {max});
    ASSERT_TRUE(peer.Sync(Port(3), control));
    EXPECT_NE(dc.plugin->GetParameter(dc.other), 0.0f);
}

} // namespace
} // namespace corvane::test
