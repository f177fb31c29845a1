// Plug-ins that derive their settings only when something changed must see
// every road a change takes: a restored state gives the same output as the
// same values set one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
    for (const char* id : {"QZs0", "QZs9", "QZsb", "QZs1", "QZs("}) {
        const host::EntryWorkload& workload = WorkloadOf(id);
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

} // namespace
