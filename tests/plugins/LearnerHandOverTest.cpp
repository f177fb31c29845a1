// What instances hand over to the registry, heard by a Learner (with an OSC
// peer on 127.0.0.1) and by a listener of the test: nothing is lost when many
// audio threads post at once while serving is slow, nor when one thread sets
// every parameter of a project; a learned controller's change is told in its
// turn, before news handed over after it.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/InstanceRegistry.h"
#include "plugins/dc/ObryCorvaneDC.h"
#include "plugins/learner/ObryCorvaneLearner.h"
#include "plugins/lfo/ObryCorvaneLFO.h"
#include "plugins/steplfo/ObryCorvaneStepLFO.h"
#include "tests/plugins/OscTestSupport.h"
#include "tests/scripting/OscPeer.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::InProcessPlugin;
using corvane::test::MakeInProcess;
using corvane::test::OscMessage;
using namespace corvane::test::osc;
using Learner = ObryCorvaneLearner::ObryCorvane;
using DC = ObryCorvaneDC::ObryCorvane;

namespace {

constexpr int32_t kOutputPositiveL = 0; // DC, 0..1
constexpr int32_t kMultiplierL = 2;     // DC, -2..2

// The latest value each (instance, parameter) was told, as a listener of the
// registry hears it.
class Heard final : public IObryParameterNotificationReceiver {
public:
    Heard() { InstanceRegistry::AddListener(this); }
    ~Heard() override { InstanceRegistry::RemoveListener(this); }
    void ParameterChanged(ObryAuBase* instance, int32_t index, float value) override
    {
        std::lock_guard<std::mutex> guard(lock);
        latest[{instance, index}] = value;
    }
    std::map<std::pair<ObryAuBase*, int32_t>, float> Latest()
    {
        std::lock_guard<std::mutex> guard(lock);
        return latest;
    }

private:
    std::mutex lock;
    std::map<std::pair<ObryAuBase*, int32_t>, float> latest;
};

void PutU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

class LearnerHandOver : public ::testing::Test {
protected:
    void SetUp() override { InstanceRegistry::ResetMappings(); }
    void TearDown() override { InstanceRegistry::ResetMappings(); }
    corvane::test::ScopedUserFolders folders{corvane::test::UniquePortBase()};
    InProcessPlugin<Learner> learner = MakeInProcess<Learner>();
};

// A host that runs audio on 100 threads, each track's blocks on whichever
// thread is free, while serving is slow: the Learner holds 2000 restored
// mappings whose instances never come, so every control change looks for them
// again. Each block automates its track and sends controller 7, which 8
// tracks have learned to drive another track's "Multiplier L".
TEST_F(LearnerHandOver, ManyAudioThreadsLoseNothingWhileServingIsSlow)
{
    constexpr int kThreads = 100, kBlocks = 20, kTracks = 16, kLearned = 8;
    std::vector<InProcessPlugin<DC>> tracks;
    for (int i = 0; i < kTracks; ++i)
        tracks.push_back(MakeInProcess<DC>());
    std::vector<uint8_t> mmap;
    PutU32(mmap, 2);
    for (uint32_t i = 0; i < 2000 + kLearned; ++i) {
        const bool learned = i >= 2000;
        const size_t k = i - 2000;
        const uint32_t target = learned ? InstanceRegistry::GlobalNumber(tracks[k + kLearned].get()) : 1000 + i;
        const uint32_t source = learned ? InstanceRegistry::GlobalNumber(tracks[k].get()) : 999;
        for (uint32_t value : {target, uint32_t{kMultiplierL}, source, 0u, 0u, 7u, 0xC0000000u, 0x40000000u, 0u})
            PutU32(mmap, value);
    }
    ASSERT_EQ(Restore(*learner, MakeState({{kTagMmap, mmap}})), 1);
    ASSERT_EQ(InstanceRegistry::MappingCount(), size_t{kLearned});
    ASSERT_EQ(InstanceRegistry::PendingMappingCount(), 2000u);
    Heard heard;

    const uint8_t kValues[3] = {0, 64, 127}; // mapped onto -2..2: -2, 0 and 2
    struct Track {
        std::mutex turn; // the host runs one block of a track at a time
        int controller = 0; // of kValues
        float automation = 0;
    } state[kTracks];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int b = 0; b < kBlocks; ++b) {
                const int i = (t + b) % kTracks;
                std::lock_guard<std::mutex> turn(state[i].turn);
                state[i].controller = (t + b) % 3;
                state[i].automation = static_cast<float>((t * kBlocks + b) % 1000) / 1000.0f;
                tracks[i]->setParameter(kOutputPositiveL, state[i].automation);
                SendControlChange(*tracks[i], 0, 7, kValues[state[i].controller], false);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    InstanceRegistry::WaitForHandOver();
    const auto latest = heard.Latest();
    for (int i = 0; i < kTracks; ++i) {
        const auto told = latest.find({tracks[i].get(), kOutputPositiveL});
        ASSERT_NE(told, latest.end()) << i;
        EXPECT_EQ(told->second, state[i].automation) << i;
    }
    for (int k = 0; k < kLearned; ++k)
        EXPECT_EQ(tracks[k + kLearned]->GetParameterReal(kMultiplierL), -2.0f + 2.0f * state[k].controller) << k;
}

// A host restoring a project by parameters: one thread sets every parameter
// of 20 Step LFOs once, beside a Learner.
TEST_F(LearnerHandOver, AProjectRestoredByParametersLosesNoNews)
{
    using StepLFO = ObryCorvaneStepLFO::ObryCorvane;
    std::vector<InProcessPlugin<StepLFO>> steps;
    for (int i = 0; i < 20; ++i)
        steps.push_back(MakeInProcess<StepLFO>());
    Heard heard;
    size_t set = 0;
    for (InProcessPlugin<StepLFO>& step : steps)
        for (int32_t index = 0; index < StepLFO::kNumParams; ++index) {
            if (std::string(step->GetParameterInfo(index)->name) == "OSC Port Offset")
                continue; // it would open a server
            step->setParameter(index, static_cast<float>((index * 7 + set) % 11) / 10.0f);
            ++set;
        }
    InstanceRegistry::WaitForHandOver();
    const auto latest = heard.Latest();
    EXPECT_EQ(latest.size(), set);
    for (InProcessPlugin<StepLFO>& step : steps)
        for (int32_t index = 0; index < StepLFO::kNumParams; ++index) {
            const auto told = latest.find({step.get(), index});
            if (told != latest.end()) {
                EXPECT_EQ(told->second, step->GetParameterReal(index)) << index;
            }
        }
}

// The serving thread tells a learned controller's change at once, while it
// serves the controller: before news that reached the hand-over after the
// controller did.
TEST_F(LearnerHandOver, ALearnedControllersChangeIsToldInItsTurn)
{
    corvane::test::OscPeer peer;
    const int socket = peer.Open();
    const std::string url = "127.0.0.1:" + std::to_string(peer.Port(socket));
    ASSERT_EQ(learner->SetProperty(kObryProperty_OSCDestination, 0, 0, url.c_str(),
                                   static_cast<uint32_t>(url.size() + 1)),
              0);
    InProcessPlugin<DC> dc = MakeInProcess<DC>();
    InProcessPlugin<ObryCorvaneLFO::ObryCorvane> lfo = MakeInProcess<ObryCorvaneLFO::ObryCorvane>();
    InstanceRegistry::SetLearnArmed(true);
    InstanceRegistry::SetLearnTarget(dc.get(), kMultiplierL);
    SendControlChange(*lfo, 0, 7, 127);
    InstanceRegistry::SetLearnArmed(false);
    ASSERT_EQ(InstanceRegistry::MappingCount(), 1u);
    learner->CurrentProgram()->SetParameter(Learner::kSendOSC, Learner::kSendShort);
    {
        InstanceRegistry::Lock held(InstanceRegistry::Mutex()); // served together, once let go
        SendControlChange(*lfo, 0, 7, 0, false);
        dc->setParameter(kOutputPositiveL, 0.5f);
    }
    InstanceRegistry::WaitForHandOver();
    const uint32_t number = InstanceRegistry::GlobalNumber(dc.get());
    const std::vector<OscMessage> reports = peer.Receive(socket, 2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].address, "/obry/" + std::to_string(number) + "/2"); // Multiplier L, -2
    EXPECT_EQ(reports[0].Number(0), -2.0);
    EXPECT_EQ(reports[1].address, "/obry/" + std::to_string(number) + "/0");
}

} // namespace
