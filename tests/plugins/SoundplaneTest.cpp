// The Soundplane and the touch-surface input: touch frames built here byte by
// byte and sent by the independent OSC peer (python3 over UDP on 127.0.0.1)
// to real instances' OSC servers become the plug-in's six outputs; bad touch
// messages change nothing; the state round trip; the audio path allocates
// nothing; OSC writers and audio readers of the process-wide table at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "framework/SoundplaneTouchTable.h"
#include "host/VstHost.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/soundplane/ObryCorvaneSoundplane.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/scripting/OscPeer.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using corvane::test::AllocationCounter;
using corvane::test::OscPeer;
using corvane::test::ScopedUserFolders;
using corvane::test::StdoutCapture;
using corvane::test::UniquePortBase;
using Soundplane = ObryCorvaneSoundplane::ObryCorvane;

namespace {

// ---- An OSC encoder of the test's own (big-endian, 4-byte padded) ----------

using Arg = std::variant<int32_t, float>;

struct Msg {
    std::string address;
    std::vector<Arg> args;
};

void PutU32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutText(std::string& out, const std::string& text)
{
    out += text;
    out.push_back('\0');
    while (out.size() % 4)
        out.push_back('\0');
}

std::string Encode(const Msg& m)
{
    std::string out, tags = ",";
    for (const Arg& a : m.args)
        tags += std::holds_alternative<int32_t>(a) ? 'i' : 'f';
    PutText(out, m.address);
    PutText(out, tags);
    for (const Arg& a : m.args) {
        uint32_t word;
        if (const int32_t* i = std::get_if<int32_t>(&a))
            word = static_cast<uint32_t>(*i);
        else
            memcpy(&word, &std::get<float>(a), 4);
        PutU32(out, word);
    }
    return out;
}

// Elements are already encoded (messages or bundles).
std::string Bundle(const std::vector<std::string>& elements)
{
    std::string out;
    PutText(out, "#bundle");
    PutU32(out, 0);
    PutU32(out, 1); // immediately
    for (const std::string& e : elements) {
        PutU32(out, static_cast<uint32_t>(e.size()));
        out += e;
    }
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex.push_back(digits[c >> 4]);
        hex.push_back(digits[c & 15]);
    }
    return hex;
}

Msg Frm() { return {"/t3d/frm", {int32_t{1}}}; }
Msg Tch(int32_t id, float x, float y, float z, float note) { return {"/t3d/tch", {id, x, y, z, note}}; }
Msg Alv(std::vector<int32_t> ids)
{
    Msg m{"/t3d/alv", {}};
    for (int32_t id : ids)
        m.args.push_back(id);
    return m;
}

std::string Frame(const std::vector<Msg>& messages)
{
    std::vector<std::string> elements{Encode(Frm())};
    for (const Msg& m : messages)
        elements.push_back(Encode(m));
    return Bundle(elements);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SoundplaneTouch TouchAt(int32_t id)
{
    SoundplaneTouch t;
    EXPECT_TRUE(SoundplaneTouchTable::Instance().Read(id, &t));
    return t;
}

// ---- An in-process instance listening on base + 3 -------------------------

class SoundplaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SoundplaneTouchTable::Instance().Reset();
        plugin = corvane::test::MakeInProcess<Soundplane>();
        plugin->SetParameterValue(Soundplane::kOSCPortOffset, 3.0f, false);
        control = peer.Open();
        ASSERT_TRUE(peer.WaitForServer(port, control));
    }
    void TearDown() override { SoundplaneTouchTable::Instance().Reset(); }

    // Sends a packet and waits until the server has handled it.
    void Send(const std::string& packet)
    {
        peer.SendRaw(port, Hex(packet));
        ASSERT_TRUE(peer.Sync(port, control));
    }
    void Set(int32_t index, float value) { plugin->SetParameterValue(index, value, false); }
    // One block; the last sample of each output.
    std::vector<float> Outputs(int32_t frames = 64)
    {
        std::vector<std::vector<float>> out(Soundplane::kNumOutputs, std::vector<float>(frames, -99.0f));
        float* outputs[Soundplane::kNumOutputs];
        for (int j = 0; j < Soundplane::kNumOutputs; ++j)
            outputs[j] = out[j].data();
        plugin->processReplacing(nullptr, outputs, frames);
        std::vector<float> last;
        for (auto& o : out)
            last.push_back(o.back());
        return last;
    }

    ScopedUserFolders folders{UniquePortBase()};
    const int port = UniquePortBase() + 3;
    OscPeer peer;
    int control = -1;
    corvane::test::InProcessPlugin<Soundplane> plugin;
};

TEST_F(SoundplaneTest, TouchFramesFromThePeerBecomeTheSixOutputs)
{
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, "\1", 1), 0);
    Set(Soundplane::kVoiceID, 2);
    Outputs(); // the queued table is built on the audio thread
    Send(Frame({Tch(2, 0.25f, -0.5f, 0.75f, 61.5f), Tch(5, 9, 9, 9, 9), Alv({2, 5})}));

    const float calibrated = plugin->Calibration().Lookup(61.5f);
    EXPECT_NEAR(calibrated, 1.5f * 0.015628817f, 1e-6f);
    std::vector<float> out = Outputs();
    const std::vector<float> expected{calibrated, 1.0f, 0.25f, -0.5f, 0.75f, 0.0f};
    for (int j = 0; j < 6; ++j)
        EXPECT_FLOAT_EQ(out[j], expected[j]) << "output " << j + 1;
    EXPECT_FLOAT_EQ(corvane::test::ReadIndicator(*plugin, Soundplane::kIndicatorNote), 61.5f);
    EXPECT_FLOAT_EQ(corvane::test::ReadIndicator(*plugin, Soundplane::kIndicatorValue), calibrated);

    // The touch ends: the gate closes, z keeps its last value...
    Send(Frame({Alv({5})}));
    out = Outputs();
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_FLOAT_EQ(out[4], 0.75f);
    // ...unless Gate Z is on.
    Set(Soundplane::kGateZ, 1);
    out = Outputs();
    EXPECT_EQ(out[4], 0.0f);
    EXPECT_FLOAT_EQ(out[2], 0.25f);

    // A mixed matrix row: output 6 = 0.5 + 0.5 x gate + x - y + 0.25 z.
    Set(Soundplane::kGateZ, 0);
    Send(Frame({Alv({2})}));
    const int32_t row6 = Soundplane::kOutput1 + 5 * Soundplane::kTerms;
    Set(row6 + Soundplane::kTermOffset, 0.5f);
    Set(row6 + Soundplane::kTermGate, 0.5f);
    Set(row6 + Soundplane::kTermX, 1);
    Set(row6 + Soundplane::kTermY, -1);
    Set(row6 + Soundplane::kTermZ, 0.25f);
    EXPECT_FLOAT_EQ(Outputs()[5], 0.5f + 0.5f + 0.25f + 0.5f + 0.1875f);

    // Voice ID 0 follows nothing: every output is 0.
    Set(Soundplane::kVoiceID, 0);
    for (float v : Outputs())
        EXPECT_EQ(v, 0.0f);
}

TEST_F(SoundplaneTest, EmptyCalibrationGivesZeroAndNotesAreClamped)
{
    Set(Soundplane::kVoiceID, 1);
    Send(Frame({Tch(1, 0, 0, 0, 200.0f), Alv({1})}));
    EXPECT_EQ(Outputs()[0], 0.0f);
    EXPECT_EQ(corvane::test::ReadIndicator(*plugin, Soundplane::kIndicatorNote), 127.0f);
    Send(Frame({Tch(1, 0, 0, 0, -3.0f)}));
    Outputs();
    EXPECT_EQ(corvane::test::ReadIndicator(*plugin, Soundplane::kIndicatorNote), 0.0f);
}

TEST_F(SoundplaneTest, BadTouchMessagesChangeNothing)
{
    const SoundplaneTouch before{true, 0.1f, 0.2f, 0.3f, 40.0f};
    struct Case {
        const char* what;
        std::string packet;
        const char* printed;   // expected on standard output, or ""
        bool alive3;           // touch 3's alive flag afterwards (a later "/t3d/alv" {3} in the frame)
    };
    const Case cases[] = {
        {"id 17", Frame({Tch(17, 5, 5, 5, 5), Alv({1, 3})}), "", true},
        {"id 0", Frame({Tch(0, 5, 5, 5, 5), Alv({1, 3})}), "", true},
        {"id -2147483648", Frame({Tch(std::numeric_limits<int32_t>::min(), 5, 5, 5, 5), Alv({1, 3})}), "", true},
        {"NaN x", Frame({Tch(1, kNaN, 5, 5, 5), Alv({1, 3})}), "", true},
        {"infinite note", Frame({Tch(1, 5, 5, 5, -kInf), Alv({1, 3})}), "", true},
        {"int32 z", Frame({Msg{"/t3d/tch", {int32_t{1}, 5.0f, 5.0f, int32_t{5}, 5.0f}}, Alv({1, 3})}),
         "error while parsing message: wrong argument type\n", false},
        {"missing note", Frame({Msg{"/t3d/tch", {int32_t{1}, 5.0f, 5.0f, 5.0f}}, Alv({1, 3})}),
         "error while parsing message: missing argument\n", false},
        {"float id in alv", Frame({Msg{"/t3d/alv", {int32_t{3}, 1.0f}}}),
         "error while parsing message: wrong argument type\n", false},
        {"another address", Frame({Msg{"/t3d/xyz", {int32_t{1}}}}), "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundplaneTouchTable::Instance().Reset();
        ASSERT_TRUE(SoundplaneTouchTable::Instance().WriteTouch(1, before.x, before.y, before.z, before.note));
        bool alive[16] = {};
        alive[0] = true;
        SoundplaneTouchTable::Instance().WriteAlive(alive);
        StdoutCapture out;
        Send(c.packet);
        const SoundplaneTouch t = TouchAt(1);
        EXPECT_EQ(t.x, before.x);
        EXPECT_EQ(t.y, before.y);
        EXPECT_EQ(t.z, before.z);
        EXPECT_EQ(t.note, before.note);
        EXPECT_EQ(TouchAt(3).alive, c.alive3);
        for (int id = 1; id <= 16; ++id) {
            if (id != 1 && id != 3) {
                EXPECT_FALSE(TouchAt(id).alive) << id;
            }
        }
        if (*c.printed) {
            EXPECT_EQ(out.Count(c.printed), 1u) << out.Text();
        } else {
            EXPECT_FALSE(out.Contains("error")) << out.Text();
        }
    }
}

TEST_F(SoundplaneTest, AliveListsAndFramesThatAreNotFrames)
{
    Send(Frame({Tch(16, 1, 2, 3, 4), Alv({1, 3, 99, -1, 16})}));
    EXPECT_EQ(TouchAt(16).note, 4.0f);
    for (int id = 1; id <= 16; ++id)
        EXPECT_EQ(TouchAt(id).alive, id == 1 || id == 3 || id == 16) << id;
    Send(Frame({Alv({})}));
    for (int id = 1; id <= 16; ++id)
        EXPECT_FALSE(TouchAt(id).alive) << id;

    // A nested bundle inside a frame is skipped; the rest of the frame applies.
    Send(Bundle({Encode(Frm()), Bundle({Encode(Tch(2, 7, 7, 7, 7))}), Encode(Tch(4, 1, 2, 3, 4))}));
    EXPECT_EQ(TouchAt(2).x, 0.0f);
    EXPECT_EQ(TouchAt(4).note, 4.0f);

    // A frame never reaches the address space or the recent messages; a
    // lone "/t3d/frm" is an ordinary bundle and does.
    const int index = plugin->OSC().RecentMessageIndex();
    Send(Frame({Tch(6, 1, 1, 1, 1)}));
    // Sync's own "/ping" is the only new message.
    EXPECT_EQ(plugin->OSC().RecentMessageIndex(), (index + 1) % 5);
    Send(Bundle({Encode(Frm())}));
    const int lone = (index + 2) % 5;
    EXPECT_NE(plugin->OSC().RecentMessage(lone).find("/t3d/frm"), std::string::npos)
        << plugin->OSC().RecentMessage(lone);
}

TEST_F(SoundplaneTest, AGateClosesWhenTheBridgeFallsSilent)
{
    Set(Soundplane::kVoiceID, 1);
    Send(Frame({Tch(1, 0, 0, 0.5f, 60), Alv({1})}));
    // Up to a second of audio without frames: the touch is held.
    for (int i = 0; i < 45; ++i)
        ASSERT_EQ(Outputs(1024)[1], 1.0f) << i;
    // More than a second (48 kHz): the bridge is gone, the gate closes.
    EXPECT_EQ(Outputs(4096)[1], 0.0f);
    Set(Soundplane::kGateZ, 1);
    EXPECT_EQ(Outputs()[4], 0.0f);
    // Frames again: the touch is back.
    Send(Frame({Alv({1})}));
    EXPECT_EQ(Outputs()[1], 1.0f);
    EXPECT_EQ(Outputs()[4], 0.5f);
}

// A steady output skips the smoothing where it would change nothing (no
// smoothing: the value becomes the state; a state at the value's bits stays):
// every block, with smoothing switched on, off and changed on the way, has
// the bits of filling the block and smoothing it from the state.
TEST_F(SoundplaneTest, SteadyOutputsSmoothAsFilledBlocks)
{
    struct Step {
        float x;
        float smoothingMs; // output 1's; 0 off, below 0 low-pass
        int32_t blocks;
    };
    const Step steps[] = {
        {0.25f, 0, 3},     {0.75f, 20, 2},  {0.75f, 20, 400}, {0.5f, 20, 3},   {0.5f, 0, 2},
        {0.125f, -30, 3},  {0.125f, -30, 900}, {0.875f, -30, 2}, {0.875f, 0, 1}, {0.375f, 5, 60},
    };
    Set(Soundplane::kVoiceID, 1);
    for (int32_t t = 0; t < 6; ++t)
        Set(Soundplane::kOutput1 + t, t == 3 ? 1.0f : 0.0f); // output 1 = the touch's x
    const bool alive[SoundplaneTouchTable::kTouchCount] = {true};
    constexpr int32_t kFrames = 16;
    float state = 0.0f;
    int32_t block = 0;
    for (const Step& step : steps) {
        ASSERT_TRUE(SoundplaneTouchTable::Instance().WriteTouch(1, step.x, 0, 0, 60));
        SoundplaneTouchTable::Instance().WriteAlive(alive);
        Set(Soundplane::kOutput1Smoothing, step.smoothingMs);
        float slew = 0, lowpass = 0;
        SetupOutputSmoothing(step.smoothingMs, plugin->getSampleRate(), &slew, &lowpass);
        for (int32_t b = 0; b < step.blocks; ++b, ++block) {
            std::vector<float> expected(kFrames, step.x);
            ApplyOutputSmoothing(expected.data(), kFrames, slew, lowpass, &state);
            std::vector<std::vector<float>> out(Soundplane::kNumOutputs, std::vector<float>(kFrames, -99.0f));
            float* outputs[Soundplane::kNumOutputs];
            for (int j = 0; j < Soundplane::kNumOutputs; ++j)
                outputs[j] = out[j].data();
            plugin->processReplacing(nullptr, outputs, kFrames);
            ASSERT_EQ(memcmp(out[0].data(), expected.data(), sizeof(float) * kFrames), 0)
                << "block " << block << ": " << out[0][0] << " " << expected[0];
        }
    }
}

TEST_F(SoundplaneTest, StateRoundTripKeepsParametersCalibrationAndName)
{
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LoadBrinkCalibration, 0, 0, "\1", 1), 0);
    Outputs();
    char name[64] = {};
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationName, 0, 0, name), 0);
    EXPECT_STREQ(name, "<Brink Calibration>");
    Set(Soundplane::kVoiceID, 7);
    Set(Soundplane::kOutput1 + 3, -0.5f);
    Set(Soundplane::kOutput1Smoothing + 2, 120.0f);
    Set(Soundplane::kGateZ, 1);
    void* data = nullptr;
    const int32_t size = plugin->getChunk(&data, false);
    ASSERT_GT(size, 0);
    const std::vector<uint8_t> chunk(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);

    auto other = corvane::test::MakeInProcess<Soundplane>();
    ASSERT_NE(other->setChunk(const_cast<uint8_t*>(chunk.data()), size, false), 0);
    for (int32_t i = 0; i < Soundplane::kNumParams; ++i)
        EXPECT_EQ(other->GetParameterReal(i), plugin->GetParameterReal(i)) << i;
    for (int32_t i = 0; i < CalibrationTableLength; ++i) {
        EXPECT_EQ(other->Calibration().Value(i), plugin->Calibration().Value(i)) << i;
        EXPECT_EQ(other->Calibration().IsValid(i), plugin->Calibration().IsValid(i)) << i;
    }
    char restored[64] = {};
    ASSERT_EQ(other->GetProperty(kObryProperty_CalibrationName, 0, 0, restored), 0);
    EXPECT_STREQ(restored, "<Brink Calibration>");
}

TEST_F(SoundplaneTest, ValueTextsPropertiesAndLearnMode)
{
    struct Text {
        int32_t index;
        float value;
        const char* text;
    };
    const Text texts[] = {
        {0, 0, "Off"}, {0, 1, "<none>"}, {44, 0, "Off"}, {44, 2, "<none>"}, {37, 0.5f, "Off"},
        {42, -0.5f, "Off"}, {42, 0.6f, "<none>"}, {1, 0, "<refused>"}, {43, 0, "<refused>"},
    };
    for (const Text& t : texts)
        EXPECT_EQ(corvane::test::TextFor(*plugin, t.index, t.value), t.text) << t.index << " " << t.value;
    EXPECT_EQ(plugin->SetProperty(kObryProperty_CalibrationName, 1, 0, "x", 2), kAudioUnitErr_InvalidProperty);
    uint32_t length = 0;
    ASSERT_EQ(plugin->GetProperty(kObryProperty_CalibrationLength, 0, 0, &length), 0);
    EXPECT_EQ(length, 129u);
    const uint8_t on = 1, off = 0;
    uint8_t flag = 9;
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LearnMode, 0, 0, &on, 1), 0);
    ASSERT_EQ(plugin->GetProperty(kObryProperty_LearnMode, 0, 0, &flag), 0);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LearnMode, 0, 0, &off, 1), 0);
    ASSERT_EQ(plugin->GetProperty(kObryProperty_LearnMode, 0, 0, &flag), 0);
    EXPECT_EQ(flag, 0);
}

TEST_F(SoundplaneTest, TheAudioPathAllocatesNothing)
{
    Set(Soundplane::kVoiceID, 1);
    Set(Soundplane::kOutput1Smoothing, 20.0f);
    Send(Frame({Tch(1, 0.5f, 0.5f, 0.5f, 64), Alv({1})}));
    ASSERT_EQ(plugin->SetProperty(kObryProperty_LoadDunmoreCalibration, 0, 0, "\1", 1), 0);
    std::vector<std::vector<float>> out(6, std::vector<float>(256));
    float* outputs[6];
    for (int j = 0; j < 6; ++j)
        outputs[j] = out[j].data();
    AllocationCounter counter;
    for (int i = 0; i < 20; ++i)
        plugin->processReplacing(nullptr, outputs, 256);
    EXPECT_EQ(counter.Count(), 0);
}

// The built module: the factory's 'QZsl' is the real plug-in, and its own
// server (the module's own table) turns frames into outputs.
TEST(SoundplaneModuleTest, TheModuleServesTheSoundplane)
{
    const int base = UniquePortBase() + 20;
    ScopedUserFolders folders(base);
    auto plugin = corvane::host::Plugin::Create(corvane::test::LoadedModule(), vst::FourCC("QZsl"));
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->NumParams(), 45);
    EXPECT_EQ(plugin->NumInputs(), 0);
    EXPECT_EQ(plugin->NumOutputs(), 6);
    EXPECT_EQ(plugin->EffectName(), "QV Soundplane");
    EXPECT_EQ(plugin->ParameterName(9), "Output 2 Gate");
    EXPECT_EQ(plugin->ParameterName(36), "Output 6 Z");
    EXPECT_FLOAT_EQ(plugin->GetParameter(9), 1.0f); // default 1 of -1..1
    plugin->Start();
    plugin->SetParameter(Soundplane::kOSCPortOffset, 0.05f); // offset 5
    plugin->SetParameter(Soundplane::kVoiceID, 9.0f / 16.0f);
    OscPeer peer;
    const int control = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 5, control));
    peer.SendRaw(base + 5, Hex(Frame({Tch(9, 0.125f, 0.375f, 0.625f, 10), Alv({9})})));
    ASSERT_TRUE(peer.Sync(base + 5, control));
    std::vector<std::vector<float>> outputs;
    plugin->ProcessBlock({}, outputs, 32);
    ASSERT_EQ(outputs.size(), 6u);
    EXPECT_EQ(outputs[1][31], 1.0f);
    EXPECT_EQ(outputs[2][31], 0.125f);
    EXPECT_EQ(outputs[3][31], 0.375f);
    EXPECT_EQ(outputs[4][31], 0.625f);
    plugin->Close();
}

// Two instances' listen threads write touch frames sent by the peer, a
// third thread writes the table directly, and two audio threads read it.
// Every write keeps y = x + 1, z = x + 2, note = x + 3 for its touch, so a
// torn record shows in the outputs. A read that meets a writer every time
// keeps the instance's last whole record, so each instance reads one such
// record before the writers start (its own starting record is all zeros).
TEST(SoundplaneConcurrencyTest, WritersAndAudioReadersAreRaceFreeAndSeeWholeRecords)
{
    const int base = UniquePortBase() + 30; // ports base + 31 and + 32, inside this binary's range
    ScopedUserFolders folders(base);
    SoundplaneTouchTable::Instance().Reset();
    auto a = corvane::test::MakeInProcess<Soundplane>();
    auto b = corvane::test::MakeInProcess<Soundplane>();
    a->SetParameterValue(Soundplane::kOSCPortOffset, 1.0f, false);
    b->SetParameterValue(Soundplane::kOSCPortOffset, 2.0f, false);
    // Outputs: 1 = x (as "note" rows are 0), 4 = y, 5 = z, 6 = note-free.
    for (Soundplane* p : {a.get(), b.get()}) {
        p->SetParameterValue(Soundplane::kVoiceID, 3, false);
        p->SetParameterValue(Soundplane::kOutput1 + Soundplane::kTermNote, 0, false);
        p->SetParameterValue(Soundplane::kOutput1 + Soundplane::kTermX, 1, false);
    }
    OscPeer peer;
    const int control = peer.Open();
    ASSERT_TRUE(peer.WaitForServer(base + 1, control));
    ASSERT_TRUE(peer.WaitForServer(base + 2, control));

    ASSERT_TRUE(SoundplaneTouchTable::Instance().WriteTouch(3, 0, 1, 2, 3));
    for (Soundplane* p : {a.get(), b.get()}) {
        std::vector<std::vector<float>> out(6, std::vector<float>(32));
        float* outputs[6];
        for (int j = 0; j < 6; ++j)
            outputs[j] = out[j].data();
        p->processReplacing(nullptr, outputs, 32);
        ASSERT_EQ(out[3][31], 1.0f);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    auto audio = [&](Soundplane* p) {
        std::vector<std::vector<float>> out(6, std::vector<float>(32));
        float* outputs[6];
        for (int j = 0; j < 6; ++j)
            outputs[j] = out[j].data();
        while (!stop.load()) {
            p->processReplacing(nullptr, outputs, 32);
            const float x = out[0][31], y = out[3][31], z = out[4][31];
            if (y != x + 1 || z != x + 2)
                ++torn;
            ++reads;
        }
    };
    std::thread direct([&] {
        for (int i = 0; !stop.load(); ++i) {
            const float x = static_cast<float>(i % 1000);
            // A frame of its own, so the touch never looks stale however
            // slowly the peer's frames arrive (under a sanitizer, say).
            SoundplaneTouchTable::Instance().BeginFrame();
            SoundplaneTouchTable::Instance().WriteTouch(3, x, x + 1, x + 2, x + 3);
            bool alive[16] = {};
            alive[2] = (i & 1) != 0;
            SoundplaneTouchTable::Instance().WriteAlive(alive);
            std::this_thread::yield(); // a writer that never pauses is no surface
        }
    });
    std::thread audioA(audio, a.get()), audioB(audio, b.get());
    for (int i = 0; i < 300; ++i) {
        const float x = 2000.0f + static_cast<float>(i);
        peer.SendRaw(base + 1 + (i & 1), Hex(Frame({Tch(3, x, x + 1, x + 2, x + 3), Alv({3})})));
    }
    EXPECT_TRUE(peer.Sync(base + 1, control));
    EXPECT_TRUE(peer.Sync(base + 2, control));
    while (reads.load() < 200)
        std::this_thread::yield();
    stop = true;
    direct.join();
    audioA.join();
    audioB.join();
    EXPECT_EQ(torn.load(), 0);
    SoundplaneTouch t;
    ASSERT_TRUE(SoundplaneTouchTable::Instance().Read(3, &t));
    EXPECT_EQ(t.y, t.x + 1);
    EXPECT_EQ(t.note, t.x + 3);
    SoundplaneTouchTable::Instance().Reset();
}

} // namespace
