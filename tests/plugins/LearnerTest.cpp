// The Learner built in-process beside a DC and an LFO, with an independent
// OSC peer (python3 on 127.0.0.1): parameter changes sent in the three
// address forms, two Learners, its state ('ipep', 'mmap') and the 'luid' and
// 'guid' records of other instances, learning a controller through the
// registry, forgetting and removing mappings (with scripted answers), the
// address texts and the clipboard, and a Learner destroyed while changes are
// being reported from another thread. Nothing handed over to the registry is
// lost, from 100 audio threads or from a project restored by parameters.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "platform/ClipboardFake.h"
#include "platform/MessageBox.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "framework/LearnTargetAddress.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "tests/plugins/AllocationCounter.h"
#include "tests/plugins/OscTestSupport.h"
#include "tests/scripting/OscPeer.h"
#include "tests/scripting/ScriptFolders.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::platform::MessageBoxAnswer;
using corvane::test::InProcessPlugin;
using corvane::test::MakeInProcess;
using corvane::test::OscMessage;
using corvane::test::OscPeer;
using corvane::test::ScopedUserFolders;
using corvane::test::StderrCapture;
using corvane::test::UniquePortBase;
using namespace corvane::test::osc;
using Learner = ObryCorvaneLearner::ObryCorvane;
using DC = ObryCorvaneDC::ObryCorvane;
using LFO = ObryCorvaneLFO::ObryCorvane;

namespace {

constexpr int32_t kMultiplierL = 2; // DC "Multiplier L", -2..2
constexpr int32_t kOutputPositiveL = 0;
const std::string kOverflow = "OSCSender::SetParamQueue::Write() overflow\n";

// Blocking takes of the registry lock by the threads a test runs as a host's
// audio threads.
thread_local bool tAudioThread = false;
std::atomic<uint32_t> gAudioLockTakes{0};
void CountAudioLockTakes()
{
    if (tAudioThread)
        gAudioLockTakes.fetch_add(1, std::memory_order_relaxed);
}
// Counts them from now, after a positive control (a take on a thread marked
// as an audio thread counts); the count to compare with.
uint32_t ObserveAudioLockTakes()
{
    InstanceRegistry::ObserveLockTakes(&CountAudioLockTakes);
    const uint32_t before = gAudioLockTakes.load();
    tAudioThread = true;
    InstanceRegistry::Count();
    tAudioThread = false;
    EXPECT_GT(gAudioLockTakes.load(), before);
    return gAudioLockTakes.load();
}

// The latest value each (instance, parameter) was told, as a listener of the
// registry hears it (under the registry lock).
struct Heard final : IObryParameterNotificationReceiver {
    Heard() { InstanceRegistry::AddListener(this); }
    ~Heard() override { InstanceRegistry::RemoveListener(this); }
    void ParameterChanged(ObryAuBase* instance, int32_t index, float value) override
    {
        latest[{instance, index}] = value;
    }
    // How many parameters of `plugins` were told, each expected at its value now.
    template <class Plugins>
    size_t CountToldAsNow(const Plugins& plugins)
    {
        InstanceRegistry::Lock held(InstanceRegistry::Mutex());
        size_t told = 0;
        for (const auto& plugin : plugins)
            for (int32_t index = 0; index < plugin->getNumParams(); ++index)
                if (const auto found = latest.find({plugin.get(), index}); found != latest.end()) {
                    EXPECT_EQ(found->second, plugin->GetParameterReal(index)) << index;
                    ++told;
                }
        return told;
    }
    std::map<std::pair<ObryAuBase*, int32_t>, float> latest;
};

class LearnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InstanceRegistry::ResetMappings();
        socket = peer.Open();
        // Process-wide numbers by creation: DC 1, LFO 2, Learner 3.
        dc = MakeInProcess<DC>();
        lfo = MakeInProcess<LFO>();
        learner = MakeLearner(socket);
    }
    void TearDown() override
    {
        learner.reset();
        lfo.reset();
        dc.reset();
        InstanceRegistry::ResetMappings();
    }

    InProcessPlugin<Learner> MakeLearner(int peerSocket)
    {
        InProcessPlugin<Learner> made = MakeInProcess<Learner>();
        const std::string url = "127.0.0.1:" + std::to_string(peer.Port(peerSocket));
        EXPECT_EQ(made->SetProperty(kObryProperty_OSCDestination, 0, 0, url.c_str(),
                                    static_cast<uint32_t>(url.size() + 1)),
                  0);
        return made;
    }
    // Straight into the program: telling the registry would report the
    // Learner's own change.
    static void SendMode(Learner& l, Learner::SendMode mode)
    {
        l.CurrentProgram()->SetParameter(Learner::kSendOSC, mode);
    }
    int32_t Command(uint32_t id)
    {
        const uint8_t one = 1;
        return learner->SetProperty(id, 0, 0, &one, 1);
    }
    void Arm(bool on)
    {
        const uint8_t flag = on ? 1 : 0;
        ASSERT_EQ(learner->SetProperty(kObryProperty_LearnMode, 0, 0, &flag, 1), 0);
    }

    ScopedUserFolders folders{UniquePortBase()};
    OscPeer peer;
    int socket = -1;
    InProcessPlugin<DC> dc;
    InProcessPlugin<LFO> lfo;
    InProcessPlugin<Learner> learner;
};

TEST_F(LearnerTest, IsAnInstrumentWithASilentOutputAndTheSendModeNames)
{
    EXPECT_EQ(InstanceRegistry::GlobalNumber(learner.get()), 3u);
    uint8_t isLearner = 0;
    EXPECT_EQ(learner->GetProperty(kObryProperty_IsLearner, 0, 0, &isLearner), 0);
    EXPECT_EQ(isLearner, 1);
    EXPECT_TRUE(InstanceRegistry::AnyLearnerPresent());
    EXPECT_EQ(learner->getPlugCategory(), kPlugCategSynth);
    EXPECT_EQ(learner->NumInputs(), 0);
    EXPECT_EQ(learner->NumOutputs(), 1);
    EXPECT_EQ(corvane::test::ValueNames(*learner, 0, Learner::kSendOSC),
              (std::vector<std::string>{"Off", "Long", "Compact", "Short"}));
    EXPECT_EQ(corvane::test::ValueNames(*learner, 1, Learner::kSendOSC), std::vector<std::string>{"<error>"});
    EXPECT_EQ(corvane::test::ValueNames(*learner, 0, Learner::kOSCPortOffset), std::vector<std::string>{"<error>"});
    EXPECT_EQ(corvane::test::TextFor(*learner, 0, 0), "Off");

    std::vector<float> out(256, 7.0f);
    float* outputs[1] = {out.data()};
    learner->processReplacing(nullptr, outputs, 256);
    EXPECT_EQ(out, std::vector<float>(256, 0.0f));
}

TEST_F(LearnerTest, ChangesAreSentInEachAddressForm)
{
    struct Case {
        Learner::SendMode mode;
        ObryCorvaneBase* instance;
        int32_t index;
        float value;
        const char* address;
    };
    const Case cases[] = {
        {Learner::kSendLong, lfo.get(), 1, 2.5f, "/obry/QVLFO/1/SpeedL"},
        {Learner::kSendCompact, lfo.get(), 1, 3.0f, "/obry/QVLFO/1/1"},
        {Learner::kSendShort, lfo.get(), 1, 4.0f, "/obry/2/1"},
        {Learner::kSendLong, dc.get(), kMultiplierL, -1.5f, "/obry/QVDC/1/MultiplierL"},
        {Learner::kSendShort, dc.get(), kOutputPositiveL, 0.25f, "/obry/1/0"},
        // The Learner's own parameters are reported like any other.
        {Learner::kSendCompact, learner.get(), Learner::kOSCPortOffset, 0, "/obry/QVLearner/1/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        SendMode(*learner, c.mode);
        c.instance->SetParameterValue(c.index, c.value, false);
        const std::vector<OscMessage> got = peer.Receive(socket, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].address, c.address);
        EXPECT_EQ(got[0].tags, "f");
        EXPECT_NEAR(got[0].Number(0), c.value, 1e-5);
    }

    // Off queues nothing: the next message to arrive is the one sent after.
    SendMode(*learner, Learner::kSendOff);
    lfo->SetParameterValue(1, 7.0f, false);
    InstanceRegistry::WaitForHandOver(); // told while Off, wherever it ran
    EXPECT_EQ(learner->Sender().Pending(), 0);
    SendMode(*learner, Learner::kSendShort);
    dc->SetParameterValue(kOutputPositiveL, 0.5f, false);
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, "/obry/1/0");
}

TEST_F(LearnerTest, TwoLearnersEachSendEveryChangeToTheirOwnDestination)
{
    const int other = peer.Open();
    InProcessPlugin<Learner> second = MakeLearner(other);
    SendMode(*learner, Learner::kSendShort);
    SendMode(*second, Learner::kSendLong);
    dc->SetParameterValue(kOutputPositiveL, 0.75f, false);
    const std::vector<OscMessage> first = peer.Receive(socket, 1);
    const std::vector<OscMessage> fromSecond = peer.Receive(other, 1);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(fromSecond.size(), 1u);
    EXPECT_EQ(first[0].address, "/obry/1/0");
    EXPECT_EQ(fromSecond[0].address, "/obry/QVDC/1/OutputPositiveL");
}

TEST_F(LearnerTest, OtherInstancesSaveTheirNumbersOnlyWhileALearnerExists)
{
    const std::vector<uint32_t> withLearner = TagsOf(ChunkOf(*dc));
    EXPECT_EQ(withLearner, (std::vector<uint32_t>{kTagPuid, kTagVers, kTagParm, kTagLuid, kTagGuid}));
    EXPECT_EQ(RecordOf(ChunkOf(*lfo), kTagLuid), (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(RecordOf(ChunkOf(*lfo), kTagGuid), (std::vector<uint8_t>{2, 0, 0, 0}));
    // The Learner's own state: its destination and, with no mappings, no 'mmap'.
    EXPECT_EQ(TagsOf(ChunkOf(*learner)), (std::vector<uint32_t>{kTagPuid, kTagVers, kTagParm, kTagLuid, kTagGuid,
                                                                kTagIpep}));

    learner.reset();
    EXPECT_FALSE(InstanceRegistry::AnyLearnerPresent());
    EXPECT_EQ(TagsOf(ChunkOf(*dc)), (std::vector<uint32_t>{kTagPuid, kTagVers, kTagParm}));
}

TEST_F(LearnerTest, LearnModeLearnsAControllerThroughTheRegistry)
{
    uint8_t flag = 7;
    EXPECT_EQ(learner->GetProperty(kObryProperty_LearnMode, 0, 0, &flag), 0);
    EXPECT_EQ(flag, 0);
    Arm(true);
    EXPECT_TRUE(InstanceRegistry::IsLearnArmed());
    EXPECT_EQ(learner->GetProperty(kObryProperty_LearnMode, 0, 0, &flag), 0);
    EXPECT_EQ(flag, 1);

    // An edit gesture on the DC's "Multiplier L", then controller 7 on
    // channel 1 arrives at the LFO.
    InstanceRegistry::SetLearnTarget(dc.get(), kMultiplierL);
    SendControlChange(*lfo, 0, 7, 127);
    EXPECT_EQ(InstanceRegistry::DescribeMapping(dc.get(), kMultiplierL), "Corvane LFO 1 (2) Ch1 CC7");
    EXPECT_EQ(dc->GetParameterReal(kMultiplierL), 2.0f);
    Arm(false);

    struct Step {
        int value;
        float expected;
    };
    for (const Step& step : {Step{0, -2.0f}, Step{64, 0.0f}, Step{1, -2.0f}, Step{127, 2.0f}}) {
        SendControlChange(*lfo, 0, 7, step.value);
        EXPECT_EQ(dc->GetParameterReal(kMultiplierL), step.expected) << step.value;
    }
    // Another controller or channel drives nothing.
    SendControlChange(*lfo, 1, 7, 0);
    SendControlChange(*lfo, 0, 8, 0);
    EXPECT_EQ(dc->GetParameterReal(kMultiplierL), 2.0f);

    // Forgetting the learn target's mapping.
    EXPECT_EQ(Command(kObryProperty_ForgetTargetMapping), 0);
    EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    EXPECT_EQ(InstanceRegistry::DescribeMapping(dc.get(), kMultiplierL), "");
    SendControlChange(*lfo, 0, 7, 0);
    EXPECT_EQ(dc->GetParameterReal(kMultiplierL), 2.0f);
    // With no learn target there is nothing to forget.
    InstanceRegistry::SetLearnTarget(nullptr, -1);
    EXPECT_EQ(Command(kObryProperty_ForgetTargetMapping), 0);
}

// With a Learner listening, a learned mapping and a script registered for
// program changes, what the host does on its audio thread (automation between
// blocks, controllers in a block) neither allocates nor asks for the registry
// lock there; all of it still arrives, handed over. The test holds the lock
// meanwhile, so the serving thread finds each parameter's and controller's
// changes merged into the latest, and tells a learned controller's change as
// it serves the controller: before the automation that came after it.
TEST_F(LearnerTest, AudioThreadNeitherAllocatesNorWaitsForTheRegistry)
{
    corvane::test::WriteUserScript(folders.DataHome(), "Corvane LFO", "cc.lua",
                                   "requestAllProgramChange(function(c, p) seen = (seen or 0) + 1 end)\n");
    InProcessPlugin<LFO> scripted = MakeInProcess<LFO>();
    SendMode(*learner, Learner::kSendShort);
    Arm(true);
    InstanceRegistry::SetLearnTarget(dc.get(), kMultiplierL);
    SendControlChange(*scripted, 0, 7, 127);
    Arm(false);
    ASSERT_EQ(InstanceRegistry::MappingCount(), 1u);
    peer.Receive(socket, 1); // the learned change, reported

    const struct {
        const char* what;
        int automation; // host setParameter calls after the block
        std::vector<uint8_t> controllers; // values of controller 7 in the block
        float multiplier; // DC "Multiplier L" afterwards
        std::vector<std::string> reported; // the Learner's OSC messages in turn, one per parameter changed
    } cases[] = {
        {"automation", 40, {}, 2.0f, {"/obry/1/0"}},
        {"a mapped controller", 0, {0}, -2.0f, {"/obry/1/2"}},
        {"both, many controllers", 20, {127, 64, 0, 127}, 2.0f, {"/obry/1/2", "/obry/1/0"}},
    };
    std::vector<float> in(64), outL(64), outR(64);
    float* inputs[2] = {in.data(), in.data()};
    float* outputs[2] = {outL.data(), outR.data()};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The controllers, then a program change for the script.
        std::vector<VstMidiEvent> midi(c.controllers.size() + 1, VstMidiEvent{});
        std::vector<intptr_t> list(2 + std::max<size_t>(midi.size(), 2), 0);
        for (size_t i = 0; i < midi.size(); ++i) {
            const bool program = i == c.controllers.size();
            midi[i].type = kVstMidiType;
            midi[i].byteSize = sizeof midi[i];
            midi[i].deltaFrames = static_cast<int32_t>(i * 10);
            midi[i].midiData[0] = static_cast<char>(program ? 0xC0 : 0xB0);
            midi[i].midiData[1] = static_cast<char>(program ? 5 : 7);
            midi[i].midiData[2] = static_cast<char>(program ? 0 : c.controllers[i]);
            list[2 + i] = reinterpret_cast<intptr_t>(&midi[i]);
        }
        auto* events = reinterpret_cast<VstEvents*>(list.data());
        events->numEvents = static_cast<int32_t>(midi.size());
        scripted->processReplacing(inputs, outputs, 64);
        const uint32_t takes = ObserveAudioLockTakes();
        int allocations;
        {
            InstanceRegistry::Lock held(InstanceRegistry::Mutex());
            tAudioThread = true;
            corvane::test::AllocationCounter counter;
            scripted->processEvents(events);
            scripted->processReplacing(inputs, outputs, 64);
            for (int i = 0; i < c.automation; ++i)
                dc->setParameter(kOutputPositiveL, static_cast<float>(i % 10) / 10.0f);
            allocations = counter.Count();
            tAudioThread = false;
        }
        InstanceRegistry::ObserveLockTakes(nullptr);
        EXPECT_EQ(allocations, 0);
        EXPECT_EQ(gAudioLockTakes.load(), takes);
        InstanceRegistry::WaitForHandOver();
        EXPECT_EQ(dc->GetParameterReal(kMultiplierL), c.multiplier);
        const std::vector<OscMessage> reports = peer.Receive(socket, static_cast<int>(c.reported.size()));
        ASSERT_EQ(reports.size(), c.reported.size());
        for (size_t i = 0; i < reports.size(); ++i) { // each parameter's latest value
            EXPECT_EQ(reports[i].address, c.reported[i]);
            EXPECT_FLOAT_EQ(reports[i].Number(0), c.reported[i] == "/obry/1/2" ? c.multiplier : 0.9f);
        }
    }
    EXPECT_EQ(scripted->LuaHelper().HandedOverCount(), 3u); // every program change, for the script
}

// However many threads a host runs audio on (here more than the 64 a table
// of threads once held), none of them waits for the registry, and nothing
// they hand over is lost while serving is slow: the Learner holds 2000
// restored mappings whose instances never come, so every control change
// looks for them again. Each of 100 threads runs 20 blocks, each of whichever
// of 16 tracks is free: it automates the track and sends controller 7, which
// tracks 0 to 7 have learned to drive "Multiplier L" of tracks 8 to 15.
TEST_F(LearnerTest, AnyNumberOfAudioThreadsHandTheirWorkOver)
{
    constexpr int kThreads = 100, kBlocks = 20, kTracks = 16, kLearned = 8;
    std::vector<InProcessPlugin<DC>> tracks;
    for (int i = 0; i < kTracks; ++i)
        tracks.push_back(MakeInProcess<DC>());
    const auto number = [&](int track) { return InstanceRegistry::GlobalNumber(tracks[track].get()); };
    // 'mmap' version 2, then per mapping: target, its parameter, source, channel, kind, controller, range.
    std::vector<uint32_t> words{2};
    for (int k = -2000; k < kLearned; ++k)
        words.insert(words.end(), {k < 0 ? 3000u + k : number(k + kLearned), uint32_t{kMultiplierL},
                                   k < 0 ? 999u : number(k), 0u, 0u, 7u, 0xC0000000u, 0x40000000u, 0u});
    std::vector<uint8_t> mmap(words.size() * 4);
    std::memcpy(mmap.data(), words.data(), mmap.size());
    ASSERT_EQ(Restore(*learner, MakeState({{kTagMmap, mmap}})), 1);
    ASSERT_EQ(InstanceRegistry::MappingCount(), size_t{kLearned});
    ASSERT_EQ(InstanceRegistry::PendingMappingCount(), 2000u);
    Heard heard;

    const uint8_t kValues[3] = {0, 64, 127}; // mapped onto -2..2: -2, 0 and 2
    std::mutex turns[kTracks];               // the host runs one block of a track at a time
    int last[kTracks] = {};                  // of kValues, under the track's turn
    std::mutex doneLock;
    std::condition_variable allDone;
    int done = 0;
    const uint32_t takes = ObserveAudioLockTakes();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            tAudioThread = true;
            for (int b = 0; b < kBlocks; ++b) {
                const int i = (t + b) % kTracks;
                std::lock_guard<std::mutex> turn(turns[i]);
                last[i] = (t + b) % 3;
                tracks[i]->setParameter(kOutputPositiveL, static_cast<float>((t * kBlocks + b) % 1000) / 1000.0f);
                SendControlChange(*tracks[i], 0, 7, kValues[last[i]], false);
            }
            // Every thread lives until all have run: each is a thread of its own.
            std::unique_lock<std::mutex> wait(doneLock);
            ++done;
            allDone.notify_all();
            allDone.wait(wait, [&] { return done == kThreads; });
        });
    for (std::thread& thread : threads)
        thread.join();
    InstanceRegistry::ObserveLockTakes(nullptr);
    EXPECT_EQ(gAudioLockTakes.load(), takes);
    InstanceRegistry::WaitForHandOver();
    for (int k = 0; k < kLearned; ++k)
        EXPECT_EQ(tracks[k + kLearned]->GetParameterReal(kMultiplierL), -2.0f + 2.0f * last[k]) << k;
    // Each automation's and each learned parameter's last value was told.
    EXPECT_EQ(heard.CountToldAsNow(tracks), size_t{kTracks + kLearned});
}

// A host restoring a project by parameters: one thread sets every parameter
// of 20 Step LFOs once, and each is told.
TEST_F(LearnerTest, AProjectRestoredByParametersLosesNoNews)
{
    using StepLFO = ObryCorvaneStepLFO::ObryCorvane;
    std::vector<InProcessPlugin<StepLFO>> steps;
    for (int i = 0; i < 20; ++i)
        steps.push_back(MakeInProcess<StepLFO>());
    Heard heard;
    size_t set = 0;
    for (InProcessPlugin<StepLFO>& step : steps)
        for (int32_t index = 0; index < StepLFO::kNumParams; ++index)
            if (std::string(step->GetParameterInfo(index)->name) != "OSC Port Offset") // it would open a server
                step->setParameter(index, static_cast<float>((index * 7 + set++) % 11) / 10.0f);
    InstanceRegistry::WaitForHandOver();
    EXPECT_EQ(heard.CountToldAsNow(steps), set);
}

TEST_F(LearnerTest, RemovingAllMappingsAsksFirst)
{
    Arm(true);
    InstanceRegistry::SetLearnTarget(dc.get(), kMultiplierL);
    SendControlChange(*lfo, 0, 7, 100);
    InstanceRegistry::SetLearnTarget(lfo.get(), 1);
    SendControlChange(*dc, 2, 9, 100);
    Arm(false);
    ASSERT_EQ(InstanceRegistry::MappingCount(), 2u);

    const std::string question =
        "Remove All Mappings: This will completely remove all currently set up MIDI mappings.\nAre you sure?";
    {
        corvane::platform::ScopedScriptedAnswers answers({MessageBoxAnswer::kNo});
        EXPECT_EQ(Command(kObryProperty_RemoveAllMappings), 0);
        EXPECT_EQ(answers.Questions(), std::vector<std::string>{question});
        EXPECT_EQ(InstanceRegistry::MappingCount(), 2u);
    }
    {
        corvane::platform::ScopedScriptedAnswers answers({MessageBoxAnswer::kYes});
        EXPECT_EQ(Command(kObryProperty_RemoveAllMappings), 0);
        EXPECT_EQ(answers.Questions(), std::vector<std::string>{question});
        EXPECT_EQ(InstanceRegistry::MappingCount(), 0u);
    }
    SendControlChange(*lfo, 0, 7, 0);
    EXPECT_NE(dc->GetParameterReal(kMultiplierL), -2.0f);
}

TEST_F(LearnerTest, ItsStateRestoresTheMappingsAndTheDestination)
{
    Arm(true);
    InstanceRegistry::SetLearnTarget(dc.get(), kMultiplierL);
    SendControlChange(*lfo, 3, 21, 100);
    Arm(false);
    const std::string destination = "127.0.0.1:" + std::to_string(peer.Port(socket));
    const std::vector<uint8_t> saved = ChunkOf(*learner);
    EXPECT_EQ(RecordOf(saved, kTagIpep), Bytes(destination + std::string(4 - destination.size() % 4, '\0'), false));

    // 'mmap': version 2, one record of 36 bytes.
    const std::vector<uint8_t> mmap = RecordOf(saved, kTagMmap);
    ASSERT_EQ(mmap.size(), 40u);
    EXPECT_EQ(U32At(mmap, 0), 2u);
    EXPECT_EQ(U32At(mmap, 4), 1u);            // target: the DC
    EXPECT_EQ(U32At(mmap, 8), 2u);            // "Multiplier L"
    EXPECT_EQ(U32At(mmap, 12), 2u);           // source: the LFO
    EXPECT_EQ(U32At(mmap, 16), 3u);           // channel 4
    EXPECT_EQ(U32At(mmap, 20), 0u);           // control change
    EXPECT_EQ(U32At(mmap, 24), 21u);
    EXPECT_EQ(U32At(mmap, 28), 0xC0000000u);  // -2.0f
    EXPECT_EQ(U32At(mmap, 32), 0x40000000u);  // 2.0f

    const char elsewhere[] = "localhost:9";
    const auto setElsewhere = [&] {
        ASSERT_EQ(learner->SetProperty(kObryProperty_OSCDestination, 0, 0, elsewhere, sizeof elsewhere), 0);
    };
    const auto destinationNow = [&] { return learner->Destination(); };

    struct Case {
        const char* what;
        std::vector<uint8_t> state;
        std::string destination; // afterwards
        size_t mappings;
    };
    const std::vector<uint8_t> version3 = [&] {
        std::vector<uint8_t> payload = mmap;
        payload[0] = 3;
        return payload;
    }();
    const Case cases[] = {
        {"the whole state", saved, destination, 1},
        {"no 'ipep': the destination stays", MakeState({{kTagMmap, mmap}}), elsewhere, 1},
        {"no 'mmap': no mappings", MakeState({{kTagIpep, Bytes(destination, true)}}), destination, 0},
        {"'mmap' of version 3: no mappings", MakeState({{kTagMmap, version3}}), elsewhere, 0},
        {"a destination too long to keep",
         MakeState({{kTagIpep, Bytes(std::string(300, 'x'), true)}, {kTagMmap, mmap}}), elsewhere, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setElsewhere();
        InstanceRegistry::ResetMappings();
        EXPECT_EQ(Restore(*learner, c.state), 1);
        EXPECT_EQ(destinationNow(), c.destination);
        EXPECT_EQ(InstanceRegistry::MappingCount(), c.mappings);
        EXPECT_EQ(InstanceRegistry::PendingMappingCount(), 0u);
        if (c.mappings) {
            EXPECT_EQ(InstanceRegistry::DescribeMapping(dc.get(), kMultiplierL), "Corvane LFO 1 (2) Ch4 CC21");
        }
    }

    // The restored mapping works, and the restored destination is used.
    EXPECT_EQ(Restore(*learner, saved), 1);
    SendMode(*learner, Learner::kSendShort); // the saved state had it Off
    SendControlChange(*lfo, 3, 21, 127);
    EXPECT_EQ(dc->GetParameterReal(kMultiplierL), 2.0f);
    const std::vector<OscMessage> got = peer.Receive(socket, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].address, "/obry/1/2");
}

TEST_F(LearnerTest, TheLearnTargetsAddressesGoToTheEditorsClipboard)
{
    InstanceRegistry::SetLearnTarget(lfo.get(), 1);
    const LearnTargetAddressTexts texts = BuildLearnTargetAddressTexts();
    EXPECT_EQ(texts.nameLine, "Corvane LFO 1 (2) : Speed L");
    EXPECT_EQ(texts.byName, "/obry/QVLFO/1/SpeedL");
    EXPECT_EQ(texts.byIndex, "/obry/QVLFO/1/1");
    EXPECT_EQ(texts.byNumber, "/obry/2/1");

    // No editor window open: nothing is copied anywhere.
    {
        StderrCapture errors;
        EXPECT_EQ(Command(kObryProperty_CopyOSCAddressLong), 0);
        EXPECT_NE(errors.Text().find("nothing copied"), std::string::npos);
    }
    auto clipboard = std::make_shared<corvane::platform::FakeClipboard>();
    corvane::platform::RegisterClipboard(static_cast<ObryCorvaneBase*>(learner.get()), clipboard);
    const std::pair<uint32_t, const char*> commands[] = {{kObryProperty_CopyOSCAddressLong, "/obry/QVLFO/1/SpeedL"},
                                                         {kObryProperty_CopyOSCAddressCompact, "/obry/QVLFO/1/1"},
                                                         {kObryProperty_CopyOSCAddressShort, "/obry/2/1"}};
    for (const auto& [id, text] : commands) {
        EXPECT_EQ(Command(id), 0);
        EXPECT_EQ(clipboard->Text(), text);
    }
    EXPECT_EQ(clipboard->SetCount(), 3);

    // A mapping shows in the name line.
    Arm(true);
    SendControlChange(*dc, 0, 1, 5);
    Arm(false);
    EXPECT_EQ(BuildLearnTargetAddressTexts().nameLine, "Corvane LFO 1 (2) : Speed L <- Corvane DC 1 (1) Ch1 CC1");

    // A target whose instance is gone: nothing to copy.
    lfo.reset();
    EXPECT_FALSE(BuildLearnTargetAddressTexts().hasTarget);
    EXPECT_EQ(BuildLearnTargetAddressTexts().byNumber, "/obry/");
    EXPECT_EQ(Command(kObryProperty_CopyOSCAddressShort), 0);
    EXPECT_EQ(clipboard->SetCount(), 3);
    corvane::platform::UnregisterClipboard(static_cast<ObryCorvaneBase*>(learner.get()));
}

TEST_F(LearnerTest, PropertiesAnswerAndRefuseAsTheyShould)
{
    struct Info {
        uint32_t id;
        uint32_t size;
        uint8_t writable;
    };
    const std::string destination = learner->Destination();
    for (const Info& i : {Info{kObryProperty_IsLearner, 1, 0},
                          Info{kObryProperty_OSCDestination, static_cast<uint32_t>(destination.size() + 1), 1},
                          Info{kObryProperty_LearnMode, 1, 1}, Info{kObryProperty_ForgetTargetMapping, 1, 1},
                          Info{kObryProperty_RemoveAllMappings, 1, 1}, Info{kObryProperty_CopyOSCAddressLong, 1, 1},
                          Info{kObryProperty_CopyOSCAddressCompact, 1, 1},
                          Info{kObryProperty_CopyOSCAddressShort, 1, 1}}) {
        uint32_t size = 99;
        uint8_t writable = 99;
        EXPECT_EQ(learner->GetPropertyInfo(i.id, 0, 0, &size, &writable), 0) << i.id;
        EXPECT_EQ(size, i.size) << i.id;
        EXPECT_EQ(writable, i.writable) << i.id;
    }
    uint8_t byte = 0;
    char text[256];
    EXPECT_EQ(learner->GetProperty(kObryProperty_OSCDestination, 0, 0, text), 0);
    EXPECT_EQ(std::string(text), destination);
    for (uint32_t id : {kObryProperty_ForgetTargetMapping, kObryProperty_RemoveAllMappings,
                        kObryProperty_CopyOSCAddressShort, 64111u, 64112u})
        EXPECT_EQ(learner->GetProperty(id, 0, 0, &byte), kAudioUnitErr_InvalidProperty) << id;
    // Other scopes, the CV To OSC address ids and the rest of the range are refused.
    EXPECT_EQ(learner->SetProperty(kObryProperty_LearnMode, 1, 0, &byte, 1), kAudioUnitErr_InvalidProperty);
    for (uint32_t id : {64111u, 64112u, 64120u, 64136u, 64013u})
        EXPECT_EQ(learner->SetProperty(id, 0, 0, "/x", 3), kAudioUnitErr_InvalidProperty) << id;
    EXPECT_EQ(learner->SetProperty(kObryProperty_LearnMode, 0, 0, nullptr, 0), kAudioUnitErr_InvalidPropertyValue);
    const std::string tooLong(256, 'a');
    EXPECT_EQ(learner->SetProperty(kObryProperty_OSCDestination, 0, 0, tooLong.c_str(), 257),
              kAudioUnitErr_InvalidPropertyValue);
    EXPECT_EQ(learner->Destination(), destination);
    // 64008 as in the base: the port offset is applied again.
    EXPECT_EQ(learner->SetProperty(kObryProperty_ReapplyPortOffset, 0, 0, &byte, 1), 0);
}

TEST_F(LearnerTest, AFullRingPrintsItsOverflowText)
{
    SendMode(*learner, Learner::kSendShort);
    auto gate = SendGate::Hold(learner->Sender());
    std::string text;
    {
        StderrCapture errors;
        dc->SetParameterValue(kOutputPositiveL, 0.001f, false);
        ASSERT_TRUE(gate->WaitForArrival(1));
        // Each change is served before the next: changes of one parameter
        // that come faster than they are served merge into the latest.
        for (int i = 2; i <= 65; ++i) {
            dc->SetParameterValue(kOutputPositiveL, 0.001f * static_cast<float>(i), false);
            InstanceRegistry::WaitForHandOver();
        }
        EXPECT_EQ(learner->Sender().Pending(), 63);
        gate->Release();
        ASSERT_EQ(peer.Receive(socket, 64).size(), 64u);
        dc->SetParameterValue(kOutputPositiveL, 1.0f, false);
        ASSERT_EQ(peer.Receive(socket, 1).size(), 1u);
        text = errors.Text();
    }
    learner->Sender().SetBeforeSendHook({});
    size_t count = 0;
    for (size_t at = text.find(kOverflow); at != std::string::npos; at = text.find(kOverflow, at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << text;
}

// Learners come and go while another thread changes parameters, each change
// reported to every Learner that listens at that moment.
TEST_F(LearnerTest, ALearnerDestroyedWhileTheRegistryCallsItsListenerIsSafe)
{
    learner.reset();
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    DC* target = dc.get();
    std::thread changer([&] {
        float v = 0;
        while (!stop.load()) {
            target->SetParameterValue(kOutputPositiveL, v, false);
            v = v > 0.9f ? 0.0f : v + 0.01f;
            changes.fetch_add(1);
        }
    });
    StderrCapture errors; // overflows are expected under this load
    for (int round = 0; round < 12; ++round) {
        InProcessPlugin<Learner> passing = MakeLearner(socket);
        SendMode(*passing, round % 2 ? Learner::kSendShort : Learner::kSendLong);
        const int seen = changes.load();
        while (changes.load() < seen + 50)
            std::this_thread::yield();
        if (round == 0) { // the changes reach the network while a Learner listens
            EXPECT_EQ(peer.Receive(socket, 1).size(), 1u);
        }
        if (round % 3 == 0)
            passing->close(); // closed first, deleted after
        passing.reset();
    }
    stop.store(true);
    changer.join();
    peer.Drain(socket);
}

} // namespace
