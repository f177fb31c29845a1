// The host library against the built module: loading, the host callback
// during creation, shell enumeration, and a block run through the DC.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "host/VstHost.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using corvane::test::CreateDC;
using corvane::test::LoadedModule;
using corvane::test::ScopedUserFolders;
using corvane::test::TempDir;
using vst::FourCC;

namespace {

struct ExpectedEntry {
    char id[5];
    const char* name;
    bool instrument;
};

const ExpectedEntry kFamily[] = {
    {"QZs0", "QV DC", false},
    {"QZs1", "QV Voice Controller", false},
    {"QZs2", "QV LFO", false},
    {"QZs3", "QV Trigger", true},
    {"QZs4", "QV CV Input", false},
    {"QZs5", "QV CV To OSC", false},
    {"QZs6", "QV Step LFO", false},
    {"QZs7", "QV CV To MIDI", false},
    {"QZs8", "QV Quantizer", false},
    {"QZs9", "QV AC Encoder", false},
    {"QZsa", "QV Voice Controller", true},
    {"QZsb", "QV SMUX", false},
    {"QZsc", "QV Brink Controller", true},
    {"QZsd", "QV Brink Controller", false},
    {"QZse", "QV Sync", true},
    {"QZsf", "QV Sync", false},
    {"QZs(", "QV AC Encoder (6ch)", false},
    {"QZsg", "QV Carro Controller", true},
    {"QZsh", "QV Carro Controller", false},
    {"QZsi", "QV Dunmore Combiner", false},
    {"QZsj", "QV Follower", false},
    {"QZsk", "QV Learner", true},
    {"QZsl", "QV Soundplane", true},
    {"QZsm", "QV Trigger", false},
    {"QZsn", "QV Function", false},
};

class HostTest : public ::testing::Test {
protected:
    ScopedUserFolders folders; // no user preferences or scripts of the machine
};

TEST_F(HostTest, LoadFailuresGiveAReason)
{
    TempDir folder;
    folder.WriteFile("not-a-library.so", "just text\n");
    const struct {
        std::string path;
        const char* reasonPart;
    } cases[] = {
        {folder.Path() + "/missing.so", "missing.so"},
        {folder.Path() + "/not-a-library.so", "not-a-library.so"},
        {"/lib/x86_64-linux-gnu/libm.so.6", "neither VSTPluginMain nor main"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(Module::Load(c.path, &error), nullptr) << c.path;
        EXPECT_NE(error.find(c.reasonPart), std::string::npos) << c.path << ": " << error;
    }
}

TEST_F(HostTest, CurrentIdZeroGivesTheShellWithTheWholeFamily)
{
    auto shell = Plugin::Create(LoadedModule(), 0);
    ASSERT_NE(shell, nullptr);
    // The module asked for the version and the current id before it had an
    // AEffect: the per-thread creation pointer must have found this host.
    const auto versions = shell->CallsOf(audioMasterVersion);
    ASSERT_FALSE(versions.empty());
    EXPECT_EQ(versions[0].answer, 2400);
    const auto ids = shell->CallsOf(audioMasterCurrentId);
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids[0].answer, 0);

    EXPECT_EQ(shell->Category(), kPlugCategShell);
    EXPECT_EQ(shell->UniqueId(), FourCC("QZsh"));
    EXPECT_EQ(shell->Effect()->user, shell.get());
    shell->Dispatch(effOpen);

    const auto entries = shell->EnumerateShell();
    ASSERT_EQ(entries.size(), std::size(kFamily));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(FourCCText(entries[i].id), kFamily[i].id) << i;
        EXPECT_EQ(entries[i].name, kFamily[i].name) << i;
        EXPECT_EQ(entries[i].instrument, kFamily[i].instrument) << i;
    }
    // The enumeration index is never reset: a second pass gives nothing.
    EXPECT_TRUE(shell->EnumerateShell().empty());
    char name[256] = "untouched";
    EXPECT_EQ(shell->Dispatch(effShellGetNextPlugin, 0, 0, name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(shell->Close(), 1);
    EXPECT_FALSE(shell->IsOpen());
}

TEST_F(HostTest, NoPluginWithoutAHostOrForAnUnknownId)
{
    const struct {
        const char* what;
        int32_t id;
        HostOptions options;
    } cases[] = {
        {"version 0, shell", 0, HostOptions{0, false}},
        {"version 0, DC", FourCC("QZs0"), HostOptions{0, false}},
        {"null callback", 0, HostOptions{2400, true}},
        {"unknown id", FourCC("QZzz"), HostOptions{}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Plugin::Create(LoadedModule(), c.id, c.options), nullptr) << c.what;
}

TEST_F(HostTest, EveryListedIdCreatesAPluginOfThatIdAndKind)
{
    for (const auto& expected : kFamily) {
        auto plugin = Plugin::Create(LoadedModule(), FourCC(expected.id));
        ASSERT_NE(plugin, nullptr) << expected.id;
        EXPECT_EQ(FourCCText(plugin->UniqueId()), expected.id);
        EXPECT_EQ(plugin->Category(), expected.instrument ? kPlugCategSynth : kPlugCategEffect) << expected.id;
        EXPECT_EQ(plugin->EffectName(), expected.name) << expected.id;
        // Sub-plug-ins are created through a current id, never as the shell.
        EXPECT_EQ(plugin->CallsOf(audioMasterCurrentId).at(0).answer, FourCC(expected.id));
    }
}

TEST_F(HostTest, DCRunsBlocksOfVaryingLength)
{
    auto dc = CreateDC();
    if (!dc)
        GTEST_SKIP() << "the DC plug-in is not built yet";
    dc->Start(48000, 1024);
    // Input Add L at 1 passes the left input through; the right channel
    // keeps its default level 0.
    dc->SetParameter(dc->FindParameter("Input Add L"), 1.0f);
    std::vector<std::vector<float>> inputs(2), outputs;
    for (int32_t frames : {272, 1024, 1, 0, 333}) {
        inputs[0].resize(frames);
        for (int32_t i = 0; i < frames; ++i)
            inputs[0][i] = 0.001f * static_cast<float>(i) - 0.1f;
        inputs[1].assign(frames, 0.9f);
        dc->ProcessBlock(inputs, outputs, frames);
        ASSERT_EQ(outputs.size(), 2u);
        ASSERT_EQ(outputs[0].size(), static_cast<size_t>(frames));
        for (int32_t i = 0; i < frames; ++i) {
            EXPECT_FLOAT_EQ(outputs[0][i], inputs[0][i]) << frames << " " << i;
            EXPECT_EQ(outputs[1][i], 0.0f) << frames << " " << i;
        }
    }
    EXPECT_EQ(dc->Time().samplePos, 272 + 1024 + 1 + 333);
}

} // namespace
