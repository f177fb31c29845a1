// CV To MIDI built in-process with the fake MIDI output installed: the MIDI
// messages that input signals give, and when; the device property; the device
// name through the state chunk into a fresh instance and out to its port; the
// program chunk under lying lengths; bad input values; value texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/MidiOutputFake.h"
#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/CvToMidiTestSupport.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::platform::ScopedFakeMidiOutput;
using corvane::test::AllocationCounter;
using corvane::test::TextFor;
using corvane::test::ValueNames;
using corvane::test::ScopedUserFolders;
using corvane::test::UniquePortBase;
using namespace corvane::test::cvtomidi;
using CVToMIDI = ObryCorvaneCVToMIDI::ObryCorvane;
using P = CVToMIDI::ChannelParameter;

namespace {

constexpr char kDevice[] = "Fake Synth:Fake Synth MIDI 1 20:0";
constexpr char kOtherDevice[] = "Other Synth:Port 1 24:0";
constexpr float kRate = 48000;
constexpr uint64_t kStep = 20833; // trunc(1e9 / 48000) ns per sample
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr auto kPatience = std::chrono::seconds(10);
constexpr uint8_t kMarkerStatus = 0xFE; // written after a run to know it has all been sent

struct Message {
    int64_t sample;
    uint8_t status;
    uint8_t data1;
    uint8_t data2;
    bool operator==(const Message&) const = default;
};

void PrintTo(const Message& m, std::ostream* os)
{
    char text[48];
    snprintf(text, sizeof text, "{%lld: %02X %d %d}", static_cast<long long>(m.sample), m.status, m.data1, m.data2);
    *os << text;
}

using Owned = corvane::test::InProcessPlugin<CVToMIDI>;

// Blocks of up to 4096 frames: a note's whole length fits in one.
Owned Make()
{
    Owned plugin(new CVToMIDI(corvane::test::InProcessHost));
    plugin->setSampleRate(kRate);
    plugin->setBlockSize(4096);
    plugin->resume();
    return plugin;
}

int32_t SetDevice(CVToMIDI& plugin, const std::string& name)
{
    return plugin.SetProperty(kObryProperty_MIDIOutputDevice, 0, 0, name.c_str(),
                              static_cast<uint32_t>(name.size() + 1));
}

void SetReal(ObryCorvaneBase& plugin, int32_t index, float real)
{
    const ParameterInfo* info = plugin.GetParameterInfo(index);
    ASSERT_NE(info, nullptr) << index;
    plugin.setParameter(index, NormalizeParameterValue(info->unit, info->min, info->max, real));
    ASSERT_FLOAT_EQ(plugin.GetParameterReal(index), real) << index;
}

// One processReplacing call; outputs are checked to be copies of the inputs.
void Play(CVToMIDI& plugin, const std::vector<float>& left, const std::vector<float>& right)
{
    ASSERT_EQ(left.size(), right.size());
    std::vector<float> inL = left, inR = right, outL(left.size()), outR(left.size());
    float* inputs[2] = {inL.data(), inR.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    plugin.processReplacing(inputs, outputs, static_cast<int32_t>(left.size()));
    EXPECT_EQ(memcmp(outL.data(), left.data(), sizeof(float) * left.size()), 0);
    EXPECT_EQ(memcmp(outR.data(), right.data(), sizeof(float) * right.size()), 0);
}

// Every message sent since the last call, as (sample, bytes). The test thread
// is the audio thread here, so it may write a marker into the ring itself;
// once the marker is out, so is everything before it.
std::vector<Message> Sent(CVToMIDI& plugin, corvane::platform::FakeMidiOutputSystem& fake,
                          const char* device = kDevice)
{
    // Room for the marker first: a full ring would drop it.
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (plugin.Sender().Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    plugin.Sender().Write(0, kMarkerStatus, 0, 0);
    std::vector<corvane::platform::FakeMidiOutputSystem::SentMessage> sent;
    for (;;) {
        sent = fake.Sent();
        if (!sent.empty() && sent.back().message.bytes[0] == kMarkerStatus)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "the sender did not send the marker";
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fake.ClearSent();
    sent.pop_back();
    std::vector<Message> messages;
    for (const auto& s : sent) {
        EXPECT_EQ(s.device, device);
        EXPECT_EQ(s.message.time % kStep, 0u) << s.message.time;
        messages.push_back({static_cast<int64_t>(s.message.time / kStep), s.message.bytes[0], s.message.bytes[1],
                            s.message.bytes[2]});
    }
    return messages;
}

class CvToMidiInProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake->AddDevice(kDevice);
        fake->AddDevice(kOtherDevice);
        plugin = Make();
        ASSERT_EQ(SetDevice(*plugin, kDevice), 0);
        ASSERT_TRUE(plugin->Sender().IsDeviceOpen());
    }
    void Set(int32_t channel, P which, float real) { SetReal(*plugin, CVToMIDI::ParameterIndex(channel, which), real); }
    std::vector<Message> Sent(const char* device = kDevice) { return ::Sent(*plugin, fake.Fake(), device); }

    ScopedUserFolders folders{UniquePortBase()};
    ScopedFakeMidiOutput fake; // before the plug-in: outlives it
    Owned plugin;
};

struct ConversionCase {
    const char* what;
    int32_t channel; // the channel set up; its gate is the other input
    std::vector<std::pair<P, float>> settings;
    std::vector<float> cv;
    std::vector<float> gate;
    std::vector<Message> expected;
};

std::vector<float> Repeat(float value, size_t count)
{
    return std::vector<float>(count, value);
}

std::vector<float> Join(std::vector<float> a, const std::vector<float>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(CvToMidiInProcessTest, SignalsBecomeTheRightMessagesAtTheRightSamples)
{
    // Pitch centre 60 and slope 1 put note 60 + x at input x.
    const std::pair<P, float> centre60{P::kPitchCentre, 60}, slope1{P::kPitchSlope, 1};
    const std::pair<P, float> notes{P::kEnableNote, 1}, cc{P::kEnableCC, 1};
    const std::pair<P, float> gateOnly{P::kNoteOnMode, 1}, gated{P::kNoteOnMode, 2};
    const std::pair<P, float> offNone{P::kNoteOffMode, 0}, offLegato{P::kNoteOffMode, 2};
    const std::pair<P, float> closeSilent{P::kGateCloseMsg, 0};
    const std::vector<float> steps{0, 1, 2, 3, 2};
    const std::vector<float> gateMid{0, 1, 1, 1, 0};

    const std::vector<float> z3 = Repeat(0, 3), z1000 = Repeat(0, 1000);
    const ConversionCase cases[] = {
        {"CC follows the input (-1 -> 0, 0 -> 64, 0.99 -> 127, 1 -> 127)", 0, {cc, {P::kSendCC, 7}},
         {-1, 0, 0.99f, 1, 1, 0}, Repeat(0, 6),
         {{0, 0xB0, 7, 0}, {1, 0xB0, 7, 64}, {2, 0xB0, 7, 127}, {5, 0xB0, 7, 64}}},
        {"CC on channel 3 with its range inverted", 0,
         {cc, {P::kSendCC, 74}, {P::kChannel, 3}, {P::kCCMin, 1}, {P::kCCMax, -1}}, {1, -1, 0}, z3,
         {{0, 0xB2, 74, 0}, {1, 0xB2, 74, 127}, {2, 0xB2, 74, 64}}},
        {"CC with min equal to max stays at 0", 0, {cc, {P::kCCMin, 0.5f}, {P::kCCMax, 0.5f}}, {0.1f, 0.9f, -1}, z3,
         {{0, 0xB0, 1, 0}}},
        {"continuous notes: 0.5 -> 72, -1 -> 0, 2 -> held to 127", 0, {notes}, {0.5f, 0.5f, -1, 2}, Repeat(0, 4),
         {{0, 0x90, 72, 64}, {2, 0x80, 72, 0}, {2, 0x90, 0, 64}, {3, 0x80, 0, 0}, {3, 0x90, 127, 64}}},
        {"Normal: 60 -> 62 ends the old note first", 0, {notes, centre60, slope1}, {0, 2}, {0, 0},
         {{0, 0x90, 60, 64}, {1, 0x80, 60, 0}, {1, 0x90, 62, 64}}},
        {"Legato: 60 -> 62 ends the old note after the new one", 0, {notes, centre60, slope1, offLegato}, {0, 2},
         {0, 0}, {{0, 0x90, 60, 64}, {1, 0x90, 62, 64}, {1, 0x80, 60, 0}}},
        {"None: 60 -> 62 sends note-ons only", 0, {notes, centre60, slope1, offNone}, {0, 2}, {0, 0},
         {{0, 0x90, 60, 64}, {1, 0x90, 62, 64}}},
        {"Gate Only keeps its note while the CV moves", 0, {notes, centre60, slope1, gateOnly}, steps, gateMid,
         {{1, 0x90, 61, 64}, {4, 0x80, 61, 0}}},
        {"Gated follows the pitch while the gate is open", 0, {notes, centre60, slope1, gated}, steps, gateMid,
         {{1, 0x90, 61, 64}, {2, 0x80, 61, 0}, {2, 0x90, 62, 64}, {3, 0x80, 62, 0}, {3, 0x90, 63, 64},
          {4, 0x80, 63, 0}}},
        {"a gate exactly at the threshold neither opens nor closes", 0,
         {notes, centre60, slope1, gateOnly, {P::kGateThreshold, 0.5f}}, Repeat(0, 6),
         {0.5f, 0.6f, 0.5f, 0.4f, 0.5f, 0.6f}, {{1, 0x90, 60, 64}, {3, 0x80, 60, 0}, {5, 0x90, 60, 64}}},
        {"a reopened gate strikes the unchanged pitch again (Normal)", 0,
         {notes, centre60, slope1, gateOnly, closeSilent}, z3, {1, 0, 1},
         {{0, 0x90, 60, 64}, {2, 0x80, 60, 0}, {2, 0x90, 60, 64}}},
        {"Legato striking the sounding key again does not end it", 0,
         {notes, centre60, slope1, gateOnly, closeSilent, offLegato}, z3, {1, 0, 1},
         {{0, 0x90, 60, 64}, {2, 0x90, 60, 64}}},
        {"a disabled channel sends nothing", 0, {{P::kEnable, 0}, cc, notes}, {0, 1, -1}, z3, {}},
        {"the right channel takes its gate from the left input", 1,
         {notes, centre60, slope1, gateOnly, {P::kChannel, 16}}, {5, 5, 5}, {0, 1, 0},
         {{1, 0x9F, 65, 64}, {2, 0x8F, 65, 0}}},
        {"Max Note Length 10 ms ends a note 480 samples after its note-on", 0,
         {notes, centre60, slope1, {P::kMaxNoteLength, 10}}, z1000, z1000, {{0, 0x90, 60, 64}, {480, 0x80, 60, 0}}},
        {"the length restarts with every note", 0, {notes, centre60, slope1, {P::kMaxNoteLength, 10}, offLegato},
         Join(Repeat(0, 300), Repeat(2, 700)), z1000,
         {{0, 0x90, 60, 64}, {300, 0x90, 62, 64}, {300, 0x80, 60, 0}, {780, 0x80, 62, 0}}},
        {"no length limit when the note-off mode is None", 0,
         {notes, centre60, slope1, {P::kMaxNoteLength, 10}, offNone}, z1000, z1000, {{0, 0x90, 60, 64}}},
    };

    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(c.what);
        plugin = Make();
        ASSERT_EQ(SetDevice(*plugin, kDevice), 0);
        for (const auto& [which, value] : c.settings)
            Set(c.channel, which, value);
        if (c.channel == 0)
            Play(*plugin, c.cv, c.gate);
        else
            Play(*plugin, c.gate, c.cv);
        EXPECT_EQ(Sent(), c.expected);
    }
}

// The conversion rules sample by sample, written out for the test: the
// messages a channel on MIDI channel 1 gives for a whole block.
struct ConversionModel {
    bool cc = false, notes = false;
    int mode = 0, offMode = 1; // note-on mode; note-off mode 0 None, 1 Normal, 2 Legato
    float ccMin = -1, ccMax = 1, centre = 48, slope = 48, threshold = 0.01f;
    int maxLength = 0; // samples

    static int Byte(float v)
    {
        if (std::isnan(v))
            return -1;
        return v < 1 ? 0 : (v >= 127 ? 127 : static_cast<int>(v));
    }

    std::vector<Message> Run(const std::vector<float>& cv, const std::vector<float>& gate) const
    {
        std::vector<Message> out;
        int lastCC = 255, note = 255, lastPitch = 255, remaining = 0;
        bool open = false;
        const float scale = std::fabs(ccMax - ccMin) >= 1e-6f ? 128.0f / (ccMax - ccMin) : 0.0f;
        auto send = [&](size_t i, int status, int d1, int d2) {
            out.push_back({static_cast<int64_t>(i), static_cast<uint8_t>(status), static_cast<uint8_t>(d1),
                           static_cast<uint8_t>(d2)});
        };
        auto change = [&](size_t i, int p) {
            const int old = note;
            if (offMode == 1 && old != 255)
                send(i, 0x80, old, 0);
            send(i, 0x90, p, 64);
            if (offMode == 2 && old != 255 && old != p)
                send(i, 0x80, old, 0);
            note = lastPitch = p;
            remaining = maxLength;
        };
        for (size_t i = 0; i < cv.size(); ++i) {
            const float x = cv[i];
            if (cc) {
                const int v = Byte((x - ccMin) * scale + 0.5f);
                if (v >= 0 && v != lastCC)
                    send(i, 0xB0, 1, lastCC = v);
            }
            if (!notes)
                continue;
            if (remaining > 0 && --remaining == 0 && offMode != 0 && note != 255) {
                send(i, 0x80, note, 0);
                note = 255;
            }
            const int p = Byte(slope * x + centre + 0.5f);
            if (mode == 0) {
                if (p >= 0 && p != lastPitch)
                    change(i, p);
            } else if (!open) {
                if (gate[i] > threshold) {
                    open = true;
                    if (p >= 0)
                        change(i, p);
                }
            } else if (gate[i] < threshold) {
                open = false;
                if (note != 255) {
                    send(i, 0x80, note, 0);
                    note = 255;
                }
            } else if (mode == 2 && p >= 0 && p != lastPitch) {
                change(i, p);
            }
        }
        return out;
    }
};

// Long signals that hold still for a while and then move (and now and then
// are no number, or sit exactly at the gate threshold): the plug-in skips
// the still stretches, and gives the messages of the rules sample by sample.
TEST_F(CvToMidiInProcessTest, StillStretchesGiveTheMessagesOfSampleBySample)
{
    std::vector<float> cv, gate;
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t n) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % n;
    };
    while (cv.size() < 4000) {
        const size_t hold = 1 + next(40);
        const uint32_t kind = next(12);
        const float value = kind == 0 ? kNaN : (kind == 1 ? kInf : static_cast<float>(next(2000)) / 1000.0f - 1.0f);
        const uint32_t g = next(8);
        const float gateValue = g < 3 ? 0.0f : (g < 6 ? 1.0f : (g == 6 ? 0.01f : kNaN));
        for (size_t k = 0; k < hold && cv.size() < 4000; ++k) {
            // A slow slope on some holds: the pitch then changes inside them.
            cv.push_back(kind == 2 ? value + 0.002f * static_cast<float>(k) : value);
            gate.push_back(gateValue);
        }
    }
    struct Case {
        const char* what;
        ConversionModel model;
    };
    auto with = [](auto change) {
        ConversionModel m;
        change(m);
        return m;
    };
    const Case cases[] = {
        {"CC only", with([](ConversionModel& m) { m.cc = true; })},
        {"CC and continuous notes", with([](ConversionModel& m) { m.cc = m.notes = true; })},
        {"continuous notes of at most 0.1 ms (4 samples)",
         with([](ConversionModel& m) { m.notes = true, m.maxLength = 4; })},
        {"Gate Only, Legato, notes of at most 0.5 ms",
         with([](ConversionModel& m) { m.notes = true, m.mode = 1, m.offMode = 2, m.maxLength = 24; })},
        {"Gated, CC on a narrow range",
         with([](ConversionModel& m) { m.cc = m.notes = true, m.mode = 2, m.ccMin = 0.2f, m.ccMax = 0.3f; })},
        {"Gated, None, notes of at most 1 ms",
         with([](ConversionModel& m) { m.notes = true, m.mode = 2, m.offMode = 0, m.maxLength = 48; })},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        plugin = Make();
        ASSERT_EQ(SetDevice(*plugin, kDevice), 0);
        const ConversionModel& m = c.model;
        Set(0, P::kEnableCC, m.cc ? 1 : 0);
        Set(0, P::kEnableNote, m.notes ? 1 : 0);
        Set(0, P::kNoteOnMode, static_cast<float>(m.mode));
        Set(0, P::kNoteOffMode, static_cast<float>(m.offMode));
        Set(0, P::kCCMin, m.ccMin);
        Set(0, P::kCCMax, m.ccMax);
        Set(0, P::kMaxNoteLength, static_cast<float>(m.maxLength) / 48.0f);
        // In blocks whose messages the sender's ring holds (times count from
        // each block's start), cut where the rules say.
        const std::vector<Message> expected = m.Run(cv, gate);
        std::vector<Message> sent;
        size_t first = 0, counted = 0;
        while (first < cv.size()) {
            size_t end = std::min(cv.size(), first + 300);
            size_t inBlock = 0;
            for (size_t k = counted; k < expected.size() && static_cast<size_t>(expected[k].sample) < end; ++k)
                if (++inBlock > 40) {
                    end = static_cast<size_t>(expected[k].sample);
                    break;
                }
            end = std::max(end, first + 1);
            Play(*plugin, std::vector<float>(cv.begin() + first, cv.begin() + end),
                 std::vector<float>(gate.begin() + first, gate.begin() + end));
            for (Message message : Sent()) {
                message.sample += static_cast<int64_t>(first);
                sent.push_back(message);
            }
            while (counted < expected.size() && static_cast<size_t>(expected[counted].sample) < end)
                ++counted;
            first = end;
        }
        EXPECT_GT(expected.size(), 20u);
        EXPECT_EQ(sent, expected);
    }
}

TEST_F(CvToMidiInProcessTest, TimesCountFromTheStartOfEachProcessingCall)
{
    Set(0, P::kEnableCC, 1);
    // A host MIDI event at frame 100 cuts the block in two; the time of a
    // message after the cut still counts from the start of the call.
    corvane::test::HostEvents events;
    plugin->processEvents(events.Midi(0xB0, 20, 1, 100).Events());

    std::vector<float> cv = Join(Repeat(-1, 150), Repeat(0, 50));
    Play(*plugin, cv, Repeat(0, 200));
    EXPECT_EQ(Sent(), (std::vector<Message>{{0, 0xB0, 1, 0}, {150, 0xB0, 1, 64}}));
    Play(*plugin, Join(Repeat(0, 10), Repeat(1, 10)), Repeat(0, 20));
    EXPECT_EQ(Sent(), (std::vector<Message>{{10, 0xB0, 1, 127}}));
}

TEST_F(CvToMidiInProcessTest, NotesEndOnTheChannelTheyStartedOn)
{
    Set(0, P::kEnableNote, 1);
    Set(0, P::kPitchCentre, 60);
    Set(0, P::kPitchSlope, 1);
    Set(0, P::kMaxNoteLength, 1);
    Play(*plugin, {0}, {0});
    Set(0, P::kChannel, 5);
    Play(*plugin, {1, 1}, {0, 0});
    Play(*plugin, Repeat(1, 48), Repeat(0, 48));
    EXPECT_EQ(Sent(), (std::vector<Message>{
                          {0, 0x90, 60, 64}, {0, 0x80, 60, 0}, {0, 0x94, 61, 64}, {46, 0x84, 61, 0}}));
}

TEST_F(CvToMidiInProcessTest, BrokenInputNeverGivesDataBytesAbove127)
{
    constexpr float kMax = std::numeric_limits<float>::max();
    constexpr float kDenormal = std::numeric_limits<float>::denorm_min();
    const std::vector<float> cv{kNaN, kInf, -kInf, 1e30f, -1e30f, kMax, -kMax, kDenormal, 0.5f, kNaN, -0.0f, kInf};
    const std::vector<float> gate{kNaN, 1, kNaN, -kInf, kInf, 0, kNaN, 1, kInf, kNaN, -1, 1};

    Set(0, P::kEnableCC, 1);
    Set(0, P::kEnableNote, 1);
    // The defaults and every corner of the settings: whatever comes out is
    // well-formed.
    const float edges[][4] = {
        // CC min, CC max, pitch centre, pitch slope
        {-1, 1, 48, 48}, {1, -1, 0, -128}, {0.5f, 0.5f, 128, 128}, {-1, -0.999999f, 64, 0}, {0, 1e-7f, 0, 0.5f},
    };
    for (int mode = 0; mode < 3; ++mode) {
        for (const auto& e : edges) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " cc " << e[0] << ".." << e[1] << " pitch "
                                            << e[2] << "+" << e[3] << "x");
            // Straight into the program: not every edge is a host value.
            ObryProgram* program = plugin->CurrentProgram();
            program->SetParameter(CVToMIDI::ParameterIndex(0, P::kNoteOnMode), static_cast<float>(mode));
            program->SetParameter(CVToMIDI::ParameterIndex(0, P::kCCMin), e[0]);
            program->SetParameter(CVToMIDI::ParameterIndex(0, P::kCCMax), e[1]);
            program->SetParameter(CVToMIDI::ParameterIndex(0, P::kPitchCentre), e[2]);
            program->SetParameter(CVToMIDI::ParameterIndex(0, P::kPitchSlope), e[3]);
            Play(*plugin, cv, gate);
            Play(*plugin, gate, cv);
            for (const Message& m : Sent()) {
                EXPECT_TRUE(m.status == 0xB0 || m.status == 0x90 || m.status == 0x80) << testing::PrintToString(m);
                EXPECT_LE(m.data1, 127) << testing::PrintToString(m);
                EXPECT_LE(m.data2, 127) << testing::PrintToString(m);
            }
        }
    }
}

TEST_F(CvToMidiInProcessTest, AudioPathAllocatesNothingWhileMessagesFlow)
{
    Set(0, P::kEnableCC, 1);
    Set(0, P::kEnableNote, 1);
    Set(1, P::kEnableCC, 1);
    Set(1, P::kEnableNote, 1);
    Set(1, P::kNoteOnMode, 2);
    std::vector<float> in(512), out(512);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {out.data(), out.data()};
    int allocations;
    std::vector<Message> sent;
    std::string errors;
    {
        corvane::test::StderrCapture capture; // the ring overflows
        {
            AllocationCounter counter;
            for (int block = 0; block < 4; ++block)
                plugin->processReplacing(inputs, outputs, 512);
            allocations = counter.Count();
        }
        sent = Sent(); // and every overflow has been reported
        errors = capture.Text();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GE(sent.size(), 63u); // a full ring at least
    EXPECT_NE(errors.find("MIDISender::MessageQueue::Write() overflow\n"), std::string::npos);
}

void Listener(void* refcon, ObryAuBase*, uint32_t id, uint32_t, uint32_t)
{
    static_cast<std::vector<uint32_t>*>(refcon)->push_back(id);
}

std::string PropertyText(CVToMIDI& plugin)
{
    uint32_t size = 0;
    uint8_t writable = 0;
    EXPECT_EQ(plugin.GetPropertyInfo(kObryProperty_MIDIOutputDevice, 0, 0, &size, &writable), 0);
    EXPECT_EQ(writable, 1);
    std::vector<char> buffer(256, 'x');
    EXPECT_EQ(plugin.GetProperty(kObryProperty_MIDIOutputDevice, 0, 0, buffer.data()), 0);
    const std::string text(buffer.data());
    EXPECT_EQ(size, text.size() + 1);
    return text;
}

TEST_F(CvToMidiInProcessTest, DevicePropertyTakesOnlyWhatTheCallerGave)
{
    const std::string longest(255, 'n');
    struct Case {
        const char* what;
        std::vector<char> data; // exactly the bytes handed over
        uint32_t scope;
        int32_t result;
        std::string name; // the name afterwards
        bool open;
    };
    auto bytes = [](const std::string& text, bool withNul) {
        std::vector<char> v(text.begin(), text.end());
        if (withNul)
            v.push_back(0);
        return v;
    };
    const Case cases[] = {
        {"a name with its NUL", bytes(kOtherDevice, true), 0, 0, kOtherDevice, true},
        {"a name without a NUL ends with the data", bytes(kDevice, false), 0, 0, kDevice, true},
        {"a NUL inside ends the name", bytes(std::string(kOtherDevice) + '\0' + "junk", false), 0, 0,
         kOtherDevice, true},
        {"an unknown name opens nothing but is kept", bytes("No Such Port", true), 0, 0, "No Such Port", false},
        {"255 characters are kept", bytes(longest, false), 0, 0, longest, false},
        {"256 characters are refused", bytes(longest + "n", true), 0, kAudioUnitErr_InvalidPropertyValue, longest,
         false},
        {"a non-global scope is refused", bytes(kDevice, true), 1, kAudioUnitErr_InvalidProperty, longest, false},
        {"an empty name closes the port", bytes("", false), 0, 0, "", false},
        {"back to a port", bytes(kDevice, true), 0, 0, kDevice, true},
    };
    std::vector<uint32_t> notified;
    plugin->AddPropertyListener(kObryProperty_MIDIOutputDevice, Listener, &notified);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The copy is exactly as long as the data: reading past it is caught
        // by AddressSanitizer.
        std::unique_ptr<char[]> data(new char[c.data.size()]);
        if (!c.data.empty())
            memcpy(data.get(), c.data.data(), c.data.size());
        EXPECT_EQ(plugin->SetProperty(kObryProperty_MIDIOutputDevice, c.scope, 0, data.get(),
                                      static_cast<uint32_t>(c.data.size())),
                  c.result);
        EXPECT_EQ(PropertyText(*plugin), c.name);
        EXPECT_EQ(plugin->DeviceName(), c.name);
        EXPECT_EQ(plugin->Sender().IsDeviceOpen(), c.open);
    }
    EXPECT_TRUE(notified.empty()); // SetProperty alone tells no listener
    EXPECT_EQ(SetDevice(*plugin, kOtherDevice), 0);
    EXPECT_EQ(plugin->SetPropertyAndNotify(kObryProperty_MIDIOutputDevice, kDevice, sizeof kDevice), 0);
    EXPECT_EQ(notified, std::vector<uint32_t>{kObryProperty_MIDIOutputDevice});
    EXPECT_EQ(plugin->SetProperty(kObryProperty_MIDIOutputDevice + 1, 0, 0, kDevice, sizeof kDevice),
              kAudioUnitErr_InvalidProperty);
    EXPECT_EQ(plugin->GetPropertyInfo(kObryProperty_MIDIOutputDevice + 1, 0, 0, nullptr, nullptr),
              kAudioUnitErr_InvalidProperty);
    plugin->RemovePropertyListener(kObryProperty_MIDIOutputDevice, Listener);

    // Messages go to the port now open, and only to it.
    Set(0, P::kEnableCC, 1);
    Play(*plugin, {0}, {0});
    EXPECT_EQ(Sent(kDevice), (std::vector<Message>{{0, 0xB0, 1, 64}}));
}

std::vector<uint8_t> ChunkOf(CVToMIDI& plugin)
{
    void* data = nullptr;
    const int32_t size = plugin.getChunk(&data, false);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

TEST_F(CvToMidiInProcessTest, DeviceNameSurvivesTheStateIntoAFreshInstance)
{
    Set(0, P::kEnableCC, 1);
    Set(0, P::kChannel, 9);
    Set(1, P::kPitchSlope, -12.5f);
    const std::vector<uint8_t> state = ChunkOf(*plugin);
    const ProgramFields fields = ReadProgramChunk(RecordOf(state, kTagChnk));
    EXPECT_EQ(fields.device, kDevice);
    EXPECT_EQ(fields.name, "Defaults");

    const struct {
        const char* what;
        std::vector<uint8_t> state;
        bool swapped;
    } cases[] = {
        {"as saved", state, false},
        {"written in the other byte order", WrapInState(SwapProgramChunk(RecordOf(state, kTagChnk)), 0x515A7337),
         true},
        {"the program chunk alone", RecordOf(state, kTagChnk), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Owned fresh = Make();
        std::vector<uint32_t> notified;
        fresh->AddPropertyListener(kObryProperty_MIDIOutputDevice, Listener, &notified);
        std::vector<uint8_t> data = c.state;
        std::string printed;
        {
            StdoutCapture out;
            EXPECT_EQ(fresh->setChunk(data.data(), static_cast<int32_t>(data.size()), false), 1);
            printed = out.Text();
        }
        EXPECT_EQ(printed, c.swapped ? "brel vst byte swapping chunk\n" : "");
        EXPECT_EQ(notified, std::vector<uint32_t>{kObryProperty_MIDIOutputDevice});
        fresh->RemovePropertyListener(kObryProperty_MIDIOutputDevice, Listener);
        EXPECT_EQ(fresh->DeviceName(), kDevice);
        EXPECT_EQ(PropertyText(*fresh), kDevice);
        EXPECT_TRUE(fresh->Sender().IsDeviceOpen());
        for (int32_t i = 0; i < CVToMIDI::kNumParams; ++i)
            EXPECT_EQ(fresh->GetParameterReal(i), plugin->GetParameterReal(i)) << i;
        EXPECT_EQ(ReadProgramChunk(RecordOf(ChunkOf(*fresh), kTagChnk)).values, fields.values);

        // The restored instance plays to the restored port.
        Play(*fresh, {1}, {0});
        EXPECT_EQ(::Sent(*fresh, fake.Fake()), (std::vector<Message>{{0, 0xB8, 1, 127}}));
    }
}

TEST_F(CvToMidiInProcessTest, ProgramChunkSurvivesLyingLengths)
{
    std::vector<float> values(kParamCount), before(kParamCount);
    for (int i = 0; i < kParamCount; ++i) {
        values[i] = 0.25f * static_cast<float>(i + 1);
        before[i] = -1.0f - static_cast<float>(i);
    }
    // A device name that fills its field with no NUL.
    const std::vector<uint8_t> full = MakeProgramChunk({"Restored", std::string(256, 'D'), values});
    const std::vector<uint8_t> swapped = SwapProgramChunk(full);
    std::vector<uint8_t> longer = full;
    longer.resize(1000, 0xEE);

    const struct {
        const char* what;
        const std::vector<uint8_t>* data;
        int32_t size;
        int wholeValues; // leading values that come from the data
        bool printsSwap;
        const char* name; // the program name afterwards
        size_t deviceLength;
    } cases[] = {
        {"nothing", &full, 0, 0, false, "Old", 0},
        {"a negative size", &full, -5, 0, false, "Old", 0},
        {"three bytes", &full, 3, 0, false, "Old", 0},
        {"up to the middle of the name", &full, 16, 0, false, "Rest", 0},
        {"up to the middle of the first value", &full, 302, 0, false, "Restored", 255},
        {"the first value and half of the second", &full, 306, 1, false, "Restored", 255},
        {"all but the last byte", &full, 415, 28, false, "Restored", 255},
        {"whole", &full, 416, 29, false, "Restored", 255},
        {"more than a chunk", &longer, 1000, 29, false, "Restored", 255},
        {"swapped, whole", &swapped, 416, 29, true, "Restored", 255},
        {"swapped, cut inside the values", &swapped, 310, 2, true, "Restored", 255},
        {"swapped, header only", &swapped, 12, 0, true, "Old", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ObryProgramQVcmv1 program;
        program.SetName("Old");
        for (int i = 0; i < kParamCount; ++i)
            program.SetParameter(i, before[i]);
        std::string printed;
        {
            StdoutCapture out;
            program.SetChunk(c.data->data(), c.size);
            printed = out.Text();
        }
        EXPECT_EQ(printed, c.printsSwap ? "brel vst byte swapping chunk\n" : "");
        EXPECT_STREQ(program.GetName(), c.name);
        EXPECT_EQ(strlen(program.DeviceName()), c.deviceLength);
        for (int i = 0; i < kParamCount; ++i)
            EXPECT_EQ(program.GetParameter(i), i < c.wholeValues ? values[i] : before[i]) << i;
        // The header is always ours again, and both texts end inside their fields.
        void* out = nullptr;
        ASSERT_EQ(program.GetChunk(&out), 416);
        const uint8_t* saved = static_cast<const uint8_t*>(out);
        EXPECT_EQ(memcmp(saved, full.data(), 12), 0);
        EXPECT_EQ(saved[43], 0);
        EXPECT_EQ(saved[299], 0);
    }
}

TEST_F(CvToMidiInProcessTest, RestoredValuesAreBroughtIntoRange)
{
    std::vector<float> values(kParamCount, kNaN);
    values[2] = 99;    // Channel L above 16
    values[4] = -1e9f; // Send CC L below 0
    values[12] = kInf; // Pitch Slope L
    values[14] = -kInf;
    values[16] = 7.5f; // Channel R
    std::vector<uint8_t> state = WrapInState(MakeProgramChunk({"Broken", "", values}), 0x515A7337);
    EXPECT_EQ(plugin->setChunk(state.data(), static_cast<int32_t>(state.size()), false), 1);
    for (int32_t i = 0; i < CVToMIDI::kNumParams; ++i) {
        const ParameterInfo* info = plugin->GetParameterInfo(i);
        const float v = plugin->GetParameterReal(i);
        EXPECT_TRUE(v >= info->min && v <= info->max) << info->name << " " << v;
    }
    EXPECT_EQ(plugin->GetParameterReal(2), 16);
    EXPECT_EQ(plugin->GetParameterReal(4), 0);
    EXPECT_EQ(plugin->GetParameterReal(12), 128);
    EXPECT_EQ(plugin->GetParameterReal(14), 0);
    EXPECT_EQ(plugin->GetParameterReal(16), 7.5f);
    EXPECT_EQ(plugin->GetParameterReal(1), 1); // NaN: the default
    EXPECT_EQ(plugin->DeviceName(), "");
    EXPECT_FALSE(plugin->Sender().IsDeviceOpen());
}

} // namespace
