// Plug-ins that derive their settings only when something changed must see
// every road a change takes: a restored state gives the same output as the
// same values set one by one, and a new sample rate or another program gives
// the output of a fresh instance set up that way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "host/Workload.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace corvane;

const host::EntryWorkload& WorkloadOf(const std::string& id)
{
    const auto& all = host::EntryWorkloads();
    const auto found = std::find_if(all.begin(), all.end(), [&](const auto& w) { return w.id == id; });
    if (found == all.end())
        throw std::runtime_error("no workload for " + id);
    return *found;
}

TEST(SettingsChange, RestoredStateActsLikeSetParameters)
{
    test::ScopedUserFolders folders;
    struct Row {
        const char* id;
        std::vector<host::ParameterSetting> more; // changed as well, where the workload's change shows too little
    };
    const Row rows[] = {
        {"QZs0", {}}, {"QZs9", {}}, {"QZsb", {}}, {"QZs1", {}}, {"QZs(", {}}, {"QZs6", {}}, {"QZs2", {}},
        {"QZse", {}}, {"QZsf", {}}, {"QZsc", {{48, "1"}}}, {"QZsd", {}}, {"QZsg", {{2, "100"}}},
        {"QZsh", {{30, "Off"}}}, {"QZsj", {}}, {"QZs8", {}}, {"QZs3", {{6, "0.5"}}}, {"QZsm", {{6, "0.5"}}},
        {"QZs4", {}}, {"QZsn", {}}, {"QZsi", {{0, "@1"}, {13, "@0"}, {9, "@0.5"}}},
    };
    for (const Row& row : rows) {
        const char* id = row.id;
        host::EntryWorkload workload = WorkloadOf(id);
        workload.change.insert(workload.change.end(), row.more.begin(), row.more.end());
        host::WorkloadRun bySetParameter(test::LoadedModule(), workload, 48000, 128);
        host::WorkloadRun byChunk(test::LoadedModule(), workload, 48000, 128);
        host::WorkloadRun unchanged(test::LoadedModule(), workload, 48000, 128);
        host::WorkloadRun source(test::LoadedModule(), workload, 48000, 128);
        source.ApplyChange();
        const std::vector<uint8_t> changed = source.Hosted().GetChunk();

        bool changeShows = false; // the change must make a difference for the test to mean anything
        for (int b = 0; b < 80; ++b) { // the change at 5120, before the second note
            if (b == 40) {
                bySetParameter.ApplyChange();
                ASSERT_EQ(byChunk.Hosted().SetChunk(changed), 1) << id;
            }
            bySetParameter.Block(128, false);
            byChunk.Block(128, false);
            unchanged.Block(128, false);
            for (int32_t c = 0; c < bySetParameter.NumOutputs(); ++c)
                for (int32_t i = 0; i < 128; ++i) {
                    ASSERT_EQ(byChunk.Outputs()[c][i], bySetParameter.Outputs()[c][i])
                        << id << " block " << b << " channel " << c << " sample " << i;
                    changeShows = changeShows || unchanged.Outputs()[c][i] != bySetParameter.Outputs()[c][i];
                }
        }
        EXPECT_TRUE(changeShows) << id;
    }
}

// Sets every parameter of `to` to the value it has in `from` (in their
// current programs), one by one as a host's automation would.
void CopyParameters(host::Plugin& from, host::Plugin& to)
{
    for (int32_t i = 0; i < from.Effect()->numParams; ++i)
        to.SetParameter(i, from.GetParameter(i));
}

// Plays `changed` and `fresh` side by side for `blocks` blocks of 128 and
// compares the last `compared` of them: true when every sample is within
// `tolerance` (0: the same).
::testing::AssertionResult SameOutput(host::WorkloadRun& changed, host::WorkloadRun& fresh, int blocks = 60,
                                      int compared = 60, float tolerance = 0)
{
    for (int b = 0; b < blocks; ++b) {
        changed.Block(128, false);
        fresh.Block(128, false);
        for (int32_t c = 0; c < changed.NumOutputs() && b >= blocks - compared; ++c)
            for (int32_t i = 0; i < 128; ++i)
                if (!(std::fabs(changed.Outputs()[c][i] - fresh.Outputs()[c][i]) <= tolerance))
                    return ::testing::AssertionFailure() << "block " << b << " channel " << c << " sample " << i
                                                         << ": " << changed.Outputs()[c][i] << " against "
                                                         << fresh.Outputs()[c][i];
    }
    return ::testing::AssertionSuccess();
}

TEST(SettingsChange, ANewRateOrProgramActsLikeAFreshInstance)
{
    test::ScopedUserFolders folders;
    struct Row {
        const char* id;
        bool rate, program; // program: the entry has a second program
        std::vector<host::ParameterSetting> more; // set up as well, where the rate would show too little
    };
    const Row rows[] = {
        {"QZs0", true, false, {}},
        {"QZs9", true, false, {}},
        {"QZsb", true, false, {}},
        {"QZs1", true, false, {}},
        {"QZs(", true, false, {}},
        {"QZs2", false, true, {}},
        {"QZs6", true, false, {}},
        {"QZse", true, false, {{13, "5"}}}, // trigger length in ms
        {"QZsf", true, false, {{13, "5"}}},
        {"QZsj", true, false, {}},
        {"QZs8", true, false, {}},
        {"QZs4", true, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        host::EntryWorkload workload = WorkloadOf(row.id);
        workload.start.insert(workload.start.end(), row.more.begin(), row.more.end());
        host::EntryWorkload defaults = workload;
        defaults.start.clear();

        // Settings derived at 44.1 kHz (by one silent frame), then the host
        // moves the plug-in to 96 kHz (suspended, as hosts do): once the
        // smoothing has forgotten that frame (half a second), as if it had
        // started at 96 kHz.
        if (row.rate) {
            host::WorkloadRun moved(test::LoadedModule(), workload, 96000, 128);
            host::WorkloadRun fresh(test::LoadedModule(), workload, 96000, 128);
            moved.Hosted().Suspend();
            moved.Hosted().Dispatch(effSetSampleRate, 0, 0, nullptr, 44100);
            moved.Hosted().Resume();
            moved.Block(1, true);
            fresh.Block(1, true);
            moved.Hosted().Suspend();
            moved.Hosted().Dispatch(effSetSampleRate, 0, 0, nullptr, 96000);
            moved.Hosted().Resume();
            EXPECT_TRUE(SameOutput(moved, fresh, 500, 100, 1e-4f)) << "after a sample rate change";
        }
        // Program 0 set up by the workload and played for a frame, then
        // program 1 chosen: as if program 1's values had been set one by one
        // on an instance that played the same frame.
        if (row.program) {
            host::WorkloadRun switched(test::LoadedModule(), workload, 48000, 128);
            host::WorkloadRun bySetParameter(test::LoadedModule(), workload, 48000, 128);
            host::WorkloadRun stayed(test::LoadedModule(), workload, 48000, 128);
            for (host::WorkloadRun* run : {&switched, &bySetParameter, &stayed})
                run->Block(1, true);
            switched.Hosted().SetProgram(1);
            ASSERT_EQ(switched.Hosted().GetProgram(), 1);
            CopyParameters(switched.Hosted(), bySetParameter.Hosted());
            bool changeShows = false; // the programs must differ for the check to mean anything
            for (int b = 0; b < 60; ++b) {
                for (host::WorkloadRun* run : {&switched, &bySetParameter, &stayed})
                    run->Block(128, false);
                for (int32_t c = 0; c < switched.NumOutputs(); ++c)
                    for (int32_t i = 0; i < 128; ++i) {
                        ASSERT_EQ(switched.Outputs()[c][i], bySetParameter.Outputs()[c][i])
                            << "block " << b << " channel " << c << " sample " << i;
                        changeShows = changeShows || switched.Outputs()[c][i] != stayed.Outputs()[c][i];
                    }
            }
            EXPECT_TRUE(changeShows);
        }
    }
}

// The Voice Controller mixes only the matrix terms above 0.001, listed when
// the matrix changes: with its outputs unsmoothed, a matrix changed on the
// way (terms switched on and off, with the pitch gliding or not) plays as an
// instance that had the new matrix from the start.
TEST(SettingsChange, VoiceControllerMatrixChangeActsLikeAFreshInstance)
{
    test::ScopedUserFolders folders;
    // Output j's column t is parameter 55 + 8j + t: offset, pitch, gate,
    // envelopes 1-3, trigger, velocity.
    const struct {
        const char* name;
        std::vector<host::ParameterSetting> start, change;
    } rows[] = {
        {"terms on and off", {}, {{58, "0.7"}, {56, "0"}, {64, "0.5"}, {69, "-0.25"}, {87, "1"}, {100, "0.0005"}}},
        {"gliding pitch", {{121, "Auto"}}, {{56, "0"}, {64, "0.75"}, {72, "0.002"}, {59, "0.5"}}},
        {"constant-time glide", {{121, "CT Auto"}}, {{64, "0"}, {56, "0.9"}, {61, "1"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        host::EntryWorkload workload = WorkloadOf("QZs1");
        workload.start.insert(workload.start.end(), row.start.begin(), row.start.end());
        host::EntryWorkload changedFromStart = workload;
        changedFromStart.start.insert(changedFromStart.start.end(), row.change.begin(), row.change.end());
        workload.change = row.change;
        host::WorkloadRun changed(test::LoadedModule(), workload, 48000, 128);
        host::WorkloadRun fresh(test::LoadedModule(), changedFromStart, 48000, 128);
        host::WorkloadRun unchanged(test::LoadedModule(), workload, 48000, 128);
        bool changeShows = false;
        for (int b = 0; b < 120; ++b) { // notes at 6000 and 12000, the change at 5120
            if (b == 40)
                changed.ApplyChange();
            for (host::WorkloadRun* run : {&changed, &fresh, &unchanged})
                run->Block(128, false);
            for (int32_t c = 0; c < changed.NumOutputs() && b >= 40; ++c)
                for (int32_t i = 0; i < 128; ++i) {
                    ASSERT_EQ(changed.Outputs()[c][i], fresh.Outputs()[c][i])
                        << "block " << b << " output " << c << " sample " << i;
                    changeShows = changeShows || changed.Outputs()[c][i] != unchanged.Outputs()[c][i];
                }
        }
        EXPECT_TRUE(changeShows);
    }
}

} // namespace
