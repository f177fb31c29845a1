// The module as a host sees it: entry, shell enumeration, factory by id,
// dispatcher defaults and the host-boundary checks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using corvane::host::Plugin;
using corvane::test::LoadedModule;
using vst::FourCC;

namespace {

struct Expected {
    char id[5];
    const char* name;
    bool instrument;
};

const Expected kEntries[25] = {
    {"QZs0", "QV DC", false}, {"QZs1", "QV Voice Controller", false}, {"QZs2", "QV LFO", false},
    {"QZs3", "QV Trigger", true}, {"QZs4", "QV CV Input", false}, {"QZs5", "QV CV To OSC", false},
    {"QZs6", "QV Step LFO", false}, {"QZs7", "QV CV To MIDI", false}, {"QZs8", "QV Quantizer", false},
    {"QZs9", "QV AC Encoder", false}, {"QZsa", "QV Voice Controller", true}, {"QZsb", "QV SMUX", false},
    {"QZsc", "QV Brink Controller", true}, {"QZsd", "QV Brink Controller", false}, {"QZse", "QV Sync", true},
    {"QZsf", "QV Sync", false}, {"QZs(", "QV AC Encoder (6ch)", false}, {"QZsg", "QV Carro Controller", true},
    {"QZsh", "QV Carro Controller", false}, {"QZsi", "QV Dunmore Combiner", false}, {"QZsj", "QV Follower", false},
    {"QZsk", "QV Learner", true}, {"QZsl", "QV Soundplane", true}, {"QZsm", "QV Trigger", false},
    {"QZsn", "QV Function", false},
};

} // namespace

TEST(ModuleEntry, ShellListsTheFamilyOnceThenNothing)
{
    auto shell = Plugin::Create(LoadedModule(), 0);
    ASSERT_TRUE(shell);
    EXPECT_EQ(shell->Category(), 10);
    EXPECT_EQ(shell->VendorString(), "Ormbury");
    EXPECT_EQ(shell->EffectName(), "Corvane");
    EXPECT_EQ(shell->ProductString(), "Corvane");
    EXPECT_EQ(shell->VendorVersion(), 0x00020100);
    EXPECT_EQ(shell->UniqueId(), FourCC("QZsh"));

    for (int i = 0; i < 25; ++i) {
        char name[64];
        memset(name, 'x', sizeof name);
        const intptr_t id = shell->Dispatch(effShellGetNextPlugin, 0, 0, name);
        EXPECT_EQ(id, FourCC(kEntries[i].id)) << i;
        EXPECT_STREQ(name, kEntries[i].name) << i;
        EXPECT_EQ((shell->Flags() & effFlagsIsSynth) != 0, kEntries[i].instrument) << i;
    }
    for (int extra = 0; extra < 3; ++extra) {
        char name[64] = "stale";
        EXPECT_EQ(shell->Dispatch(effShellGetNextPlugin, 0, 0, name), 0);
        EXPECT_STREQ(name, "");
    }
}

TEST(ModuleEntry, EveryIdGivesItsEntryWithTheRightKindAndNames)
{
    for (const Expected& e : kEntries) {
        auto plugin = Plugin::Create(LoadedModule(), FourCC(e.id));
        ASSERT_TRUE(plugin) << e.id;
        plugin->Start();
        EXPECT_EQ(plugin->UniqueId(), FourCC(e.id)) << e.id;
        EXPECT_EQ(plugin->Category(), e.instrument ? 2 : 1) << e.id;
        EXPECT_NE(plugin->Category(), 10) << e.id;
        EXPECT_EQ((plugin->Flags() & effFlagsIsSynth) != 0, e.instrument) << e.id;
        const int32_t required = effFlagsCanMono | effFlagsCanReplacing | effFlagsProgramChunks;
        EXPECT_EQ(plugin->Flags() & required, required) << e.id;
        EXPECT_EQ(plugin->EffectName(), e.name) << e.id;
        EXPECT_EQ(plugin->ProductString(), e.name) << e.id;
        EXPECT_EQ(plugin->VendorString(), "Ormbury") << e.id;
        EXPECT_EQ(plugin->VendorVersion(), 0x00020100) << e.id;
        char yes[] = "receiveVstMidiEvent";
        char longer[] = "receiveVstMidiEvents";
        char other[] = "sendVstMidiEvent";
        EXPECT_EQ(plugin->Dispatch(effCanDo, 0, 0, yes), 1);
        EXPECT_EQ(plugin->Dispatch(effCanDo, 0, 0, longer), 0);
        EXPECT_EQ(plugin->Dispatch(effCanDo, 0, 0, other), 0);
        EXPECT_EQ(plugin->Dispatch(effIdentify), FourCC("NvEf"));
        EXPECT_EQ(plugin->Dispatch(effGetVstVersion), 2400);
        EXPECT_EQ(plugin->Close(), 1);
    }
}

TEST(ModuleEntry, RefusesUnknownIdsAndHostsWithoutVersion)
{
    EXPECT_FALSE(Plugin::Create(LoadedModule(), FourCC("QZzz")));
    EXPECT_FALSE(Plugin::Create(LoadedModule(), FourCC("QZsh") + 1000));

    corvane::host::HostOptions noVersion;
    noVersion.version = 0;
    EXPECT_FALSE(Plugin::Create(LoadedModule(), 0, noVersion));
    EXPECT_FALSE(Plugin::Create(LoadedModule(), FourCC("QZs0"), noVersion));

    corvane::host::HostOptions nullHost;
    nullHost.nullCallback = true;
    EXPECT_FALSE(Plugin::Create(LoadedModule(), 0, nullHost));
}

TEST(ModuleEntry, ShellIdAsCurrentIdGivesTheCarroEffect)
{
    auto plugin = Plugin::Create(LoadedModule(), FourCC("QZsh"));
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->Category(), 1);
    EXPECT_EQ(plugin->EffectName(), "QV Carro Controller");
    char name[64] = "";
    EXPECT_EQ(plugin->Dispatch(effShellGetNextPlugin, 0, 0, name), 0);
}

TEST(ModuleEntry, HostIndicesOutsideTheTablesAreRefused)
{
    auto plugin = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    ASSERT_TRUE(plugin);
    plugin->Start();
    const int32_t params = plugin->NumParams();
    const int32_t programs = plugin->NumPrograms();
    ASSERT_GT(params, 0);

    for (int32_t program : {-1, programs, programs + 5, INT32_MIN}) {
        plugin->Dispatch(effSetProgram, 0, program);
        EXPECT_EQ(plugin->GetProgram(), 0) << program;
    }
    char name[64] = "stale";
    EXPECT_EQ(plugin->Dispatch(effGetProgramNameIndexed, programs, 0, name), 0);
    EXPECT_EQ(plugin->Dispatch(effGetProgramNameIndexed, -1, 0, name), 0);

    for (int32_t index : {-1, params, params + 100, INT32_MIN, INT32_MAX}) {
        AEffect* e = plugin->Effect();
        e->setParameter(e, index, 0.5f);
        EXPECT_EQ(e->getParameter(e, index), 0.0f) << index;
        for (int32_t opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay}) {
            char text[256];
            memset(text, 'x', sizeof text);
            plugin->Dispatch(opcode, index, 0, text);
            EXPECT_STREQ(text, "") << opcode << " " << index;
        }
        EXPECT_EQ(plugin->Dispatch(effCanBeAutomated, index), 0) << index;
    }
    EXPECT_EQ(plugin->Dispatch(effCanBeAutomated, 0), 1);

    // Null pointers where the host should pass buffers.
    for (int32_t opcode : {effGetParamName, effGetParamDisplay, effGetProgramName, effGetEffectName, effCanDo,
                           effGetChunk, effSetChunk, effProcessEvents, effShellGetNextPlugin})
        plugin->Dispatch(opcode, 0, 0, nullptr);
}

TEST(ModuleEntry, KeysRequiredIsInvertedAndDefaultsHold)
{
    auto plugin = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->Dispatch(effKeysRequired), 1);
    EXPECT_EQ(plugin->Dispatch(effGetNumProgramCategories), 1);
    EXPECT_EQ(plugin->Dispatch(effGetCurrentMidiProgram), -1);
    EXPECT_EQ(plugin->Dispatch(effEditOpen), 0);
    EXPECT_EQ(plugin->Dispatch(1000), 0);
    EXPECT_EQ(plugin->Dispatch(-5), 0);
}

TEST(ModuleEntry, ResumeAsksForMidiAndCloseDeletes)
{
    auto plugin = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    ASSERT_TRUE(plugin);
    plugin->ClearCalls();
    plugin->Start();
    EXPECT_GE(plugin->CallsOf(audioMasterWantMidi).size(), 1u);
    EXPECT_EQ(plugin->Close(), 1);
    EXPECT_FALSE(plugin->IsOpen());
}

TEST(ModuleEntry, ExportsOnlyTheTwoEntryPoints)
{
    std::string out;
    ASSERT_EQ(corvane::test::RunCommand(std::string("nm -D --defined-only ") + corvane::test::ModulePath(), &out), 0);
    std::set<std::string> functions;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(start, end - start);
        start = end + 1;
        // "<address> T name": keep code symbols.
        if (line.size() > 19 && (line[17] == 'T' || line[17] == 't' || line[17] == 'W'))
            functions.insert(line.substr(19));
    }
    std::set<std::string> expected{"VSTPluginMain", "main"};
    EXPECT_EQ(functions, expected) << out;
}
