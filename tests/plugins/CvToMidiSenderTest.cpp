// The MIDISender thread and its ring with the fake MIDI output: the 63-item
// limit before and after the first read, overflow reports, stopping while a
// send is in progress, a port that never returns, and the machine's own MIDI
// outputs (none here, and no exception for it).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/MidiOutputFake.h"
#include "plugins/cvtomidi/ObryCorvaneCVToMIDI.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using corvane::platform::ScopedFakeMidiOutput;
using corvane::test::ScopedUserFolders;
using corvane::test::StderrCapture;
using corvane::test::UniquePortBase;
using CVToMIDI = ObryCorvaneCVToMIDI::ObryCorvane;

namespace {

constexpr char kDevice[] = "Fake Synth:Fake Synth MIDI 1 20:0";
constexpr auto kPatience = std::chrono::seconds(10);
const std::string kOverflow = "MIDISender::MessageQueue::Write() overflow\n";

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

std::vector<uint64_t> TimesSent(const corvane::platform::FakeMidiOutputSystem& fake)
{
    std::vector<uint64_t> times;
    for (const auto& sent : fake.Sent())
        times.push_back(sent.message.time);
    return times;
}

std::vector<uint64_t> Count(uint64_t from, uint64_t to)
{
    std::vector<uint64_t> values;
    for (uint64_t v = from; v < to; ++v)
        values.push_back(v);
    return values;
}

TEST(CvToMidiSender, RingHolds63WhileTheThreadIsBusyAndReportsEachDrop)
{
    ScopedFakeMidiOutput fake;
    fake->AddDevice(kDevice);
    StderrCapture errors;
    {
        MIDISender sender;
        sender.Start();
        ASSERT_TRUE(sender.OpenDevice(kDevice));
        fake->HoldSends();
        sender.Write(0, 0xB0, 1, 0);
        ASSERT_TRUE(fake->WaitForHeldSend(kPatience)); // message 0 is out of the ring
        for (uint64_t t = 1; t < 64; ++t)
            sender.Write(t, 0xB0, 1, static_cast<uint8_t>(t));
        EXPECT_EQ(sender.Pending(), 63);
        sender.Write(64, 0xB0, 1, 64);
        sender.Write(65, 0x90, 200, 255); // dropped too; its bytes would have been cut to 7 bits
        EXPECT_EQ(sender.Pending(), 63);
        fake->ReleaseSends();
        ASSERT_TRUE(fake->WaitForSentCount(64, kPatience));
        EXPECT_TRUE(sender.Stop());
    }
    EXPECT_EQ(TimesSent(fake.Fake()), Count(0, 64));
    EXPECT_EQ(Occurrences(errors.Text(), kOverflow), 2u);
}

TEST(CvToMidiSender, RingHolds63BeforeItsFirstReadAndDataBytesStaySevenBit)
{
    ScopedFakeMidiOutput fake;
    fake->AddDevice(kDevice);
    MIDISender sender;
    ASSERT_TRUE(sender.OpenDevice(kDevice));
    std::string text;
    {
        // No thread yet (as when its creation failed): the writer reports.
        StderrCapture errors;
        for (uint64_t t = 0; t < 65; ++t)
            sender.Write(t, 0x90, static_cast<uint8_t>(0x80 | t), 0xFF);
        EXPECT_EQ(sender.Pending(), 63);
        text = errors.Text();
    }
    EXPECT_EQ(text, kOverflow + kOverflow);
    sender.Start(); // the pending data event wakes it at once
    ASSERT_TRUE(fake->WaitForSentCount(63, kPatience));
    EXPECT_EQ(TimesSent(fake.Fake()), Count(0, 63));
    for (const auto& sent : fake->Sent()) {
        EXPECT_EQ(sent.message.bytes[0], 0x90);
        EXPECT_EQ(sent.message.bytes[1], sent.message.time);
        EXPECT_EQ(sent.message.bytes[2], 0x7F);
    }
    EXPECT_TRUE(sender.Stop());
    EXPECT_EQ(fake->OpenCount(), 0);
}

TEST(CvToMidiSender, ClosingThePlugInWithTheSenderBusyStopsIt)
{
    ScopedUserFolders folders{UniquePortBase()};
    ScopedFakeMidiOutput fake;
    fake->AddDevice(kDevice);
    auto* plugin = new CVToMIDI(corvane::test::InProcessHost);
    plugin->setSampleRate(48000);
    plugin->setBlockSize(512);
    plugin->resume();
    ASSERT_EQ(plugin->SetProperty(kObryProperty_MIDIOutputDevice, 0, 0, kDevice, sizeof kDevice), 0);
    plugin->setParameter(CVToMIDI::ParameterIndex(0, CVToMIDI::kEnableCC), 1);

    // A ramp: a new controller value on each of 20 samples.
    fake->HoldSends();
    std::vector<float> ramp(20), gate(20), outL(20), outR(20);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = -1.0f + 0.05f * static_cast<float>(i);
    float* inputs[2] = {ramp.data(), gate.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    plugin->processReplacing(inputs, outputs, 20);
    ASSERT_TRUE(fake->WaitForHeldSend(kPatience));

    std::thread closer([plugin] { plugin->close(); });
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!plugin->Sender().StopRequested() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(plugin->Sender().StopRequested());
    fake->ReleaseSends();
    closer.join();

    // The message in progress went out; the 19 still pending did not.
    EXPECT_FALSE(plugin->Sender().IsRunning());
    EXPECT_FALSE(plugin->Sender().IsDeviceOpen());
    EXPECT_EQ(fake->SentCount(), 1u);
    EXPECT_EQ(fake->OpenCount(), 0);
    // Nothing is queued once the port is closed.
    plugin->processReplacing(inputs, outputs, 20);
    EXPECT_EQ(plugin->Sender().Pending(), 19);
    EXPECT_EQ(plugin->DeviceName(), kDevice);
    delete plugin;
}

TEST(CvToMidiSender, ASenderStuckInItsPortIsLeftRunningWithWhatItUses)
{
    ScopedFakeMidiOutput fake;
    fake->AddDevice(kDevice);
    auto sender = std::make_unique<MIDISender>();
    sender->Start();
    ASSERT_TRUE(sender->OpenDevice(kDevice));
    fake->HoldSends();
    sender->Write(1, 0xB0, 1, 1);
    sender->Write(2, 0xB0, 1, 2);
    ASSERT_TRUE(fake->WaitForHeldSend(kPatience));

    EXPECT_FALSE(sender->Stop(std::chrono::milliseconds(50)));
    EXPECT_FALSE(sender->IsDeviceOpen());
    sender->Write(3, 0xB0, 1, 3); // ignored: no port
    EXPECT_EQ(sender->Pending(), 1);
    // Destroyed while its thread is still inside the port: the thread keeps
    // the ring, the events and the port alive, sends what it holds, sees the
    // stop and closes the port on its way out.
    std::string text;
    {
        StderrCapture errors;
        sender.reset();
        text = errors.Text();
    }
    EXPECT_NE(text.find("MIDISender: thread did not stop in time"), std::string::npos) << text;
    fake->ReleaseSends();
    EXPECT_TRUE(fake->WaitForOpenCount(0, kPatience));
    EXPECT_EQ(TimesSent(fake.Fake()), std::vector<uint64_t>{1});
}

TEST(CvToMidiSender, TheMachinesOutputsAreListedWithoutThrowing)
{
    corvane::platform::InstallMidiOutputSystem(nullptr);
    const bool sequencer = access("/dev/snd/seq", F_OK) == 0;
    std::vector<std::string> names{"untouched"};
    EXPECT_NO_THROW(names = corvane::platform::ListMidiOutputDevices());
    if (!sequencer) {
        EXPECT_TRUE(names.empty());
    }
    std::unique_ptr<corvane::platform::MidiOutput> port;
    EXPECT_NO_THROW(port = corvane::platform::OpenMidiOutput("Midi Through:Midi Through Port-0 14:0"));
    if (!sequencer) {
        EXPECT_EQ(port, nullptr);
    }
    EXPECT_EQ(corvane::platform::OpenMidiOutput(""), nullptr);
    EXPECT_EQ(corvane::platform::OpenMidiOutput("no such port anywhere"), nullptr);
}

} // namespace
