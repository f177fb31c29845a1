// CV To OSC built in-process, sending to an independent OSC peer (python3 on
// 127.0.0.1): when an input is sent (band, rate, broken samples), the
// destination and address properties and what they refuse, the sender's
// ring when it is full, and stopping a sender that is busy or stuck.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugins/cvtoosc/ObryCorvaneCVToOSC.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/OscTestSupport.h"
#include "tests/scripting/OscPeer.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::AllocationCounter;
using corvane::test::OscMessage;
using corvane::test::OscPeer;
using corvane::test::ScopedUserFolders;
using corvane::test::StderrCapture;
using corvane::test::StdoutCapture;
using corvane::test::UniquePortBase;
using namespace corvane::test::osc;
using CVToOSC = ObryCorvaneCVToOSC::ObryCorvane;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);
const std::string kOverflow = "OSCSender::SetParamQueue::Write() overflow\n";

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

class CvToOscInProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        socket = peer.Open();
        Make();
    }
    // A fresh instance sending to the peer.
    void Make()
    {
        plugin = corvane::test::MakeInProcess<CVToOSC>();
        SetText(kObryProperty_OSCDestination, "osc.udp://127.0.0.1:" + std::to_string(peer.Port(socket)) + "/x");
    }

    int32_t SetText(uint32_t id, const std::string& text)
    {
        return plugin->SetProperty(id, 0, 0, text.c_str(), static_cast<uint32_t>(text.size() + 1));
    }
    std::string GetText(uint32_t id)
    {
        char text[256];
        memset(text, 0x55, sizeof text);
        if (plugin->GetProperty(id, 0, 0, text) != 0)
            return "<error>";
        return std::string(text, strnlen(text, sizeof text));
    }
    // Straight into the program: the values are exactly these.
    void Enable(int32_t channel, float threshold = 0.1f, float maxRate = 1000)
    {
        plugin->CurrentProgram()->SetParameter(CVToOSC::ParameterIndex(channel, 0), 1);
        plugin->CurrentProgram()->SetParameter(CVToOSC::ParameterIndex(channel, 1), threshold);
        plugin->CurrentProgram()->SetParameter(CVToOSC::ParameterIndex(channel, 2), maxRate);
    }
    // One piece of `frames` samples through the audio path's hooks.
    void Piece(const std::vector<float>& left, const std::vector<float>& right)
    {
        std::vector<float> inL = left, inR = right, outL(left.size()), outR(left.size());
        float* inputs[2] = {inL.data(), inR.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        plugin->Process(inputs, outputs, static_cast<int32_t>(left.size()));
    }
    // A piece of 48 samples of L at `left`: at 48 kHz and a "Max Rate" of
    // 1000 Hz every such piece may send.
    void PieceOf(float left) { Piece(std::vector<float>(48, left), std::vector<float>(48, 0.0f)); }
    bool WaitUntilTaken()
    {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (plugin->Sender().Pending() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return plugin->Sender().Pending() == 0;
    }
    void Block(float left, float right, int32_t frames = 512)
    {
        std::vector<float> inL(static_cast<size_t>(frames), left), inR(static_cast<size_t>(frames), right);
        std::vector<float> outL(inL.size()), outR(inL.size());
        float* inputs[2] = {inL.data(), inR.data()};
        float* outputs[2] = {outL.data(), outR.data()};
        plugin->processReplacing(inputs, outputs, frames);
    }
    // What the sender queued while it was stopped: starts it and collects
    // that many messages at the peer.
    std::vector<OscMessage> SendQueued()
    {
        const int count = plugin->Sender().Pending();
        plugin->Sender().Start();
        return peer.Receive(socket, count);
    }

    ScopedUserFolders folders{UniquePortBase()};
    OscPeer peer;
    int socket = -1;
    corvane::test::InProcessPlugin<CVToOSC> plugin;
};

TEST_F(CvToOscInProcessTest, EachChannelIsSentUnderItsAddressOnlyWhenItMovesOutOfTheBand)
{
    Enable(0);
    Enable(1);
    ASSERT_EQ(SetText(kObryProperty_OSCAddressL, "/cv/left"), 0);
    ASSERT_EQ(SetText(kObryProperty_OSCAddressR, "/cv/right"), 0);
    plugin->Sender().Stop();
    plugin->BeginBlock(512);

    struct Step {
        const char* what;
        float left, right;
        int sent; // messages queued by this piece
    };
    const Step steps[] = {
        {"both move away from 0", 0.5f, -0.25f, 2},
        {"constant after the send", 0.5f, -0.25f, 0},
        {"inside the band of +-0.001", 0.5009f, -0.2491f, 0},
        {"just outside on the left", 0.5011f, -0.2491f, 1},
        {"no number on the left", NAN, -0.25f, 0},
        {"infinity is no value to send", INFINITY, -0.25f, 0},
        {"back to a number", 0.25f, -0.25f, 1},
    };
    int expected = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        Piece(std::vector<float>(64, step.left), std::vector<float>(64, step.right));
        expected += step.sent;
        EXPECT_EQ(plugin->Sender().Pending(), expected);
    }
    const std::vector<OscMessage> got = SendQueued();
    ASSERT_EQ(got.size(), 4u);
    const std::pair<std::string, float> want[] = {
        {"/cv/left", 0.5f}, {"/cv/right", -0.25f}, {"/cv/left", 0.5011f}, {"/cv/left", 0.25f}};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].address, want[i].first) << i;
        EXPECT_EQ(got[i].tags, "f") << i;
        EXPECT_FLOAT_EQ(static_cast<float>(got[i].Number(0)), want[i].second) << i;
    }
}

TEST_F(CvToOscInProcessTest, MaxRateSpacesTheMessagesOfAChannel)
{
    struct Case {
        float maxRate;
        int32_t piece;   // samples per processing piece
        int32_t pieces;
        int expected;    // messages of a ramp that moves on every sample
    };
    const Case cases[] = {
        {1000, 16, 30, 10},  // one every 48 samples: 480 samples
        {1000, 512, 5, 5},   // one per 512-sample block
        {10, 512, 21, 3},    // one every 4800 samples: in pieces 0, 10 and 20
        {100, 1, 960, 2},    // one every 480 samples, piece by piece
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxRate);
        Make();
        Enable(0, 0.1f, c.maxRate);
        plugin->Sender().Stop();
        plugin->BeginBlock(c.piece);
        float x = 0;
        for (int32_t p = 0; p < c.pieces; ++p) {
            std::vector<float> ramp(static_cast<size_t>(c.piece));
            for (float& v : ramp)
                v = (x += 0.01f);
            Piece(ramp, std::vector<float>(ramp.size(), 0.0f));
        }
        EXPECT_EQ(plugin->Sender().Pending(), c.expected);
        EXPECT_EQ(static_cast<int>(SendQueued().size()), c.expected);
    }
}

// "Enable" switched as the host would, between blocks: each block acts on
// the value set before it.
TEST_F(CvToOscInProcessTest, AnEnableSetBetweenBlocksActsFromTheNextBlock)
{
    plugin->Sender().Stop();
    const struct {
        float enable, left;
        int pending; // messages queued so far
    } steps[] = {{0, 0.5f, 0}, {1, 0.7f, 1}, {1, 0.9f, 2}, {0, 0.2f, 2}, {1, 0.4f, 3}};
    for (const auto& step : steps) {
        plugin->SetParameterValue(CVToOSC::ParameterIndex(0, 0), step.enable, false);
        Block(step.left, 0.0f);
        EXPECT_EQ(plugin->Sender().Pending(), step.pending) << step.enable << " " << step.left;
    }
}

TEST_F(CvToOscInProcessTest, AudioPassesThroughAndTheAudioPathAllocatesNothing)
{
    Enable(0, 0.0f);
    Enable(1, 0.0f);
    const float broken[] = {0.5f, NAN, INFINITY, -INFINITY, -3.0f, 1e-40f};
    std::vector<float> inL(512), inR(512), outL(512, 9), outR(512, 9);
    for (size_t i = 0; i < inL.size(); ++i) {
        inL[i] = broken[i % 6];
        inR[i] = -broken[(i + 1) % 6];
    }
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    plugin->processReplacing(inputs, outputs, 512); // the first block may set things up
    int allocations;
    {
        AllocationCounter counter;
        for (int block = 0; block < 20; ++block)
            plugin->processReplacing(inputs, outputs, 512);
        allocations = counter.Count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(memcmp(outL.data(), inL.data(), 512 * sizeof(float)), 0);
    EXPECT_EQ(memcmp(outR.data(), inR.data(), 512 * sizeof(float)), 0);
}

TEST_F(CvToOscInProcessTest, TheDestinationPropertyKeepsWhatTheStateCanKeep)
{
    const std::string port = std::to_string(peer.Port(socket));
    const std::string longest = "127.0.0.1:" + port + "/" + std::string(255 - 11 - port.size(), 'p');
    ASSERT_EQ(longest.size(), 255u);
    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        int32_t result;
        std::string text; // afterwards
        bool usable;
    };
    const Case cases[] = {
        {"host and port", Bytes("127.0.0.1:" + port, true), 0, "127.0.0.1:" + port, true},
        {"with the scheme and a path", Bytes("osc.udp://localhost:" + port + "/x/y", true), 0,
         "osc.udp://localhost:" + port + "/x/y", true},
        {"no NUL: the text ends with the data", Bytes("localhost:" + port, false), 0, "localhost:" + port, true},
        {"255 characters", Bytes(longest, true), 0, longest, true},
        {"256 characters are refused", Bytes(longest + "q", true), kAudioUnitErr_InvalidPropertyValue, longest, true},
        {"a host without a port", Bytes("localhost", true), 0, "localhost", false},
        {"a port out of range", Bytes("127.0.0.1:70000", true), 0, "127.0.0.1:70000", false},
        {"a host that does not resolve", Bytes("no-such-host.invalid:9000", true), 0, "no-such-host.invalid:9000",
         false},
        {"empty", Bytes("", true), 0, "", false},
        {"back to the peer", Bytes("127.0.0.1:" + port, true), 0, "127.0.0.1:" + port, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StderrCapture errors;
        EXPECT_EQ(plugin->SetProperty(kObryProperty_OSCDestination, 0, 0, c.data.data(),
                                      static_cast<uint32_t>(c.data.size())),
                  c.result);
        EXPECT_EQ(GetText(kObryProperty_OSCDestination), c.text);
        EXPECT_EQ(plugin->Sender().HasDestination(), c.usable);
        uint32_t size = 0;
        uint8_t writable = 0;
        EXPECT_EQ(plugin->GetPropertyInfo(kObryProperty_OSCDestination, 0, 0, &size, &writable), 0);
        EXPECT_EQ(size, c.text.size() + 1);
        EXPECT_EQ(writable, 1);
        const std::string text = errors.Text();
        EXPECT_EQ(text.find("cannot be used") != std::string::npos, !c.usable && c.result == 0) << text;
    }
    EXPECT_EQ(plugin->SetProperty(kObryProperty_OSCDestination, 1, 0, "127.0.0.1:1", 12),
              kAudioUnitErr_InvalidProperty);

    // Nothing reaches the peer while there is no destination; the peer's
    // port again gets the next message.
    Enable(0);
    SetText(kObryProperty_OSCDestination, "no-such-host.invalid:" + port);
    Block(0.5f, 0);
    ASSERT_TRUE(WaitUntilTaken()); // and dropped
    SetText(kObryProperty_OSCDestination, "osc.udp://localhost:" + port + "/ignored");
    Block(0.75f, 0);
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FLOAT_EQ(static_cast<float>(got[0].Number(0)), 0.75f);
}

TEST_F(CvToOscInProcessTest, AddressesMustBeOscPathsAndKeep255Characters)
{
    EXPECT_EQ(GetText(kObryProperty_OSCAddressL), "/1/foo");
    EXPECT_EQ(GetText(kObryProperty_OSCAddressR), "/2/foo");
    const std::string long300 = "/" + std::string(299, 'a');
    struct Case {
        const char* what;
        uint32_t id;
        std::vector<uint8_t> data;
        int32_t result;
        std::string text; // afterwards
    };
    const Case cases[] = {
        {"a plain path", kObryProperty_OSCAddressL, Bytes("/cv/left", true), 0, "/cv/left"},
        {"300 characters keep the first 255", kObryProperty_OSCAddressL, Bytes(long300, true), 0,
         long300.substr(0, 255)},
        {"no NUL", kObryProperty_OSCAddressR, Bytes("/right/side", false), 0, "/right/side"},
        {"no leading slash", kObryProperty_OSCAddressL, Bytes("cv/left", true), kAudioUnitErr_InvalidPropertyValue,
         long300.substr(0, 255)},
        {"empty", kObryProperty_OSCAddressR, Bytes("", true), kAudioUnitErr_InvalidPropertyValue, "/right/side"},
        {"a blank", kObryProperty_OSCAddressR, Bytes("/a b", true), kAudioUnitErr_InvalidPropertyValue,
         "/right/side"},
        {"a pattern character", kObryProperty_OSCAddressR, Bytes("/a*", true), kAudioUnitErr_InvalidPropertyValue,
         "/right/side"},
        {"a bundle marker", kObryProperty_OSCAddressR, Bytes("/#bundle", true), kAudioUnitErr_InvalidPropertyValue,
         "/right/side"},
        {"a control character", kObryProperty_OSCAddressR, Bytes("/a\tb", true), kAudioUnitErr_InvalidPropertyValue,
         "/right/side"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(plugin->SetProperty(c.id, 0, 0, c.data.data(), static_cast<uint32_t>(c.data.size())), c.result);
        EXPECT_EQ(GetText(c.id), c.text);
    }
    EXPECT_EQ(plugin->SetProperty(kObryProperty_OSCAddressL, 2, 0, "/x", 3), kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->SetProperty(kObryProperty_OSCAddressL, 0, 0, nullptr, 4), kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(plugin->SetProperty(64113, 0, 0, "/x", 3), kAudioUnitErr_InvalidProperty);

    // The long address goes out whole.
    Enable(0);
    Block(0.5f, 0);
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, long300.substr(0, 255));
}

TEST_F(CvToOscInProcessTest, AFullRingPrintsItsOverflowText)
{
    Enable(0, 0.0f);
    plugin->BeginBlock(48);
    auto gate = SendGate::Hold(plugin->Sender());
    std::string text;
    {
        StderrCapture errors;
        // The first value is taken by the sender thread, which then waits.
        PieceOf(0.001f);
        ASSERT_TRUE(gate->WaitForArrival(1));
        for (int i = 2; i <= 66; ++i)
            PieceOf(0.001f * static_cast<float>(i));
        EXPECT_EQ(plugin->Sender().Pending(), 63);
        gate->Release();
        const std::vector<OscMessage> got = peer.Receive(socket, 64);
        ASSERT_EQ(got.size(), 64u);
        EXPECT_FLOAT_EQ(static_cast<float>(got.back().Number(0)), 0.064f);
        // The sender thread writes the report; once the next value is out,
        // that report has been written.
        PieceOf(1.0f);
        ASSERT_EQ(peer.Receive(socket, 1).size(), 1u);
        text = errors.Text();
    }
    EXPECT_EQ(Occurrences(text, kOverflow), 2u) << text;
    plugin->Sender().SetBeforeSendHook({});

    // With no sender thread the writer reports at once.
    plugin->Sender().Stop();
    {
        StderrCapture errors;
        for (int i = 0; i < 64; ++i)
            PieceOf(static_cast<float>(i));
        EXPECT_EQ(plugin->Sender().Pending(), 63);
        text = errors.Text();
    }
    EXPECT_EQ(text, kOverflow);
}

TEST_F(CvToOscInProcessTest, ClosingWithTheSenderBusyStopsIt)
{
    Enable(0, 0.0f);
    plugin->BeginBlock(48);
    auto gate = SendGate::Hold(plugin->Sender());
    for (int i = 1; i <= 20; ++i)
        PieceOf(0.01f * static_cast<float>(i));
    ASSERT_TRUE(gate->WaitForArrival(1));

    CVToOSC* raw = plugin.get();
    std::thread closer([raw] { raw->close(); });
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!raw->Sender().StopRequested() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(raw->Sender().StopRequested());
    gate->Release();
    closer.join();

    // The message in progress went out; the 19 still pending did not.
    EXPECT_FALSE(raw->Sender().IsRunning());
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FLOAT_EQ(static_cast<float>(got[0].Number(0)), 0.01f);
    EXPECT_EQ(raw->Sender().Pending(), 19);
    raw->Sender().SetBeforeSendHook({});
    plugin.release();
    delete raw;
}

TEST_F(CvToOscInProcessTest, ASenderThatDoesNotStopInTimeIsLeftRunningWithWhatItUses)
{
    auto sender = std::make_unique<ObryCorvaneCVToOSC::OSCSender>();
    ASSERT_TRUE(sender->SetURL(("127.0.0.1:" + std::to_string(peer.Port(socket))).c_str()));
    auto gate = SendGate::Hold(*sender);
    sender->Start();
    sender->Write(0, 1.0f);
    sender->Write(1, 2.0f);
    ASSERT_TRUE(gate->WaitForArrival(1));
    std::string text;
    {
        StderrCapture errors;
        EXPECT_FALSE(sender->Stop(std::chrono::milliseconds(50)));
        // Destroyed while its thread waits: the thread keeps the ring and the
        // destination alive, sends what it holds, sees the stop and ends.
        sender.reset();
        text = errors.Text();
    }
    EXPECT_NE(text.find("thread did not stop in time"), std::string::npos) << text;
    gate->Release();
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, "/1/foo");
}

TEST_F(CvToOscInProcessTest, StartingTwiceWarnsAndKeepsOneThread)
{
    StdoutCapture out;
    plugin->Sender().Start();
    EXPECT_EQ(out.Count("Warning: Attempt to recreate OSC task\n"), 1u);
    EXPECT_TRUE(plugin->Sender().IsRunning());
}

TEST_F(CvToOscInProcessTest, RestoredValuesAreBroughtIntoRangeAndRefusedTextsLeaveTheLiveOnes)
{
    const std::string port = std::to_string(peer.Port(socket));
    ProgramFields fields{"Broken", "127.0.0.1:" + port, "not a path", "", {NAN, 7, -1, 1e9f, INFINITY, NAN, 5}};
    EXPECT_EQ(Restore(*plugin, MakeState({{kTagChnk, MakeProgramChunk(fields)}})), 1);
    for (int32_t i = 0; i < CVToOSC::kNumParams; ++i) {
        const ParameterInfo* info = plugin->GetParameterInfo(i);
        const float v = plugin->GetParameterReal(i);
        EXPECT_TRUE(v >= info->min && v <= info->max) << info->name << " " << v;
    }
    EXPECT_EQ(plugin->GetParameterReal(CVToOSC::kEnableL), 1);
    EXPECT_EQ(plugin->GetParameterReal(CVToOSC::kThresholdL), 0);
    EXPECT_EQ(plugin->GetParameterReal(CVToOSC::kMaxRateL), 1000);
    EXPECT_EQ(plugin->GetParameterReal(CVToOSC::kThresholdR), 0.1f); // NaN: the default
    EXPECT_EQ(plugin->GetParameterReal(CVToOSC::kMaxRateR), 10);
    EXPECT_EQ(GetText(kObryProperty_OSCAddressL), "/1/foo");
    EXPECT_EQ(GetText(kObryProperty_OSCAddressR), "/2/foo");
    // The saved state tells what the plug-in uses, not what it refused.
    const ProgramFields saved = ReadProgramChunk(RecordOf(ChunkOf(*plugin), kTagChnk));
    EXPECT_EQ(saved.destination, "127.0.0.1:" + port);
    EXPECT_EQ(saved.addressL, "/1/foo");
    EXPECT_EQ(saved.addressR, "/2/foo");
}

} // namespace
