// effGetParameterProperties through the built module: every parameter of
// every entry has its full name and a short name that keeps it apart from
// its neighbours, flags only where they hold, and bad requests get 0.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

using corvane::host::Plugin;
using corvane::test::LoadedModule;
using vst::FourCC;

namespace {

constexpr unsigned char kStale = 0x5A;

struct Answer {
    intptr_t result;
    VstParameterProperties record;
};

Answer Ask(Plugin& plugin, int32_t index)
{
    Answer answer{};
    memset(&answer.record, kStale, sizeof answer.record);
    answer.result = plugin.Dispatch(effGetParameterProperties, index, 0, &answer.record);
    return answer;
}

// Index of the parameter whose full name is `name`, or -1.
int32_t FindByFullName(Plugin& plugin, const std::string& name)
{
    for (int32_t i = 0; i < plugin.NumParams(); ++i)
        if (Ask(plugin, i).record.label == name)
            return i;
    return -1;
}

bool AllZero(const void* bytes, size_t size)
{
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

std::vector<int32_t> ShellIds()
{
    auto shell = Plugin::Create(LoadedModule(), 0);
    std::vector<int32_t> ids;
    for (const auto& entry : shell->EnumerateShell())
        ids.push_back(entry.id);
    return ids;
}

} // namespace

TEST(ParameterProperties, EveryParameterOfEveryEntryIsNamedInFullAndApart)
{
    const std::vector<int32_t> ids = ShellIds();
    ASSERT_EQ(ids.size(), 25u);
    int32_t longNames = 0;
    for (int32_t id : ids) {
        auto plugin = Plugin::Create(LoadedModule(), id);
        ASSERT_TRUE(plugin);
        plugin->Start();
        const std::string what = corvane::host::FourCCText(id);
        std::map<std::string, int32_t> labels;
        for (int32_t i = 0; i < plugin->NumParams(); ++i) {
            const Answer answer = Ask(*plugin, i);
            const VstParameterProperties& p = answer.record;
            ASSERT_EQ(answer.result, 1) << what << " " << i;
            ASSERT_NE(memchr(p.label, 0, sizeof p.label), nullptr) << what << " " << i;
            ASSERT_NE(memchr(p.shortLabel, 0, sizeof p.shortLabel), nullptr) << what << " " << i;
            const std::string label = p.label, name = plugin->ParameterName(i);
            // The host's 15-character name is the start of the full one.
            EXPECT_EQ(label.substr(0, name.size()), name) << what << " " << i;
            EXPECT_EQ(label.size() > 15, name.size() == 15 && label != name) << what << " " << label;
            longNames += label.size() > 15 ? 1 : 0;
            if (!label.empty()) {
                EXPECT_FALSE(std::string(p.shortLabel).empty()) << what << " " << label;
                const auto [previous, fresh] = labels.emplace(label, i);
                EXPECT_TRUE(fresh) << what << ": " << label << " at " << previous->second << " and " << i;
            }
            EXPECT_EQ(p.flags & ~(kVstParameterIsSwitch | kVstParameterUsesIntegerMinMax), 0) << what << " " << i;
            if (p.flags & kVstParameterUsesIntegerMinMax) {
                EXPECT_LT(p.minInteger, p.maxInteger) << what << " " << label;
            } else {
                EXPECT_EQ(p.minInteger, 0);
                EXPECT_EQ(p.maxInteger, 0);
            }
            // Nothing else is claimed, and no byte is left as the host gave it.
            EXPECT_TRUE(AllZero(&p, offsetof(VstParameterProperties, label))) << what << " " << i;
            EXPECT_TRUE(AllZero(&p.stepInteger, 8)) << what << " " << i;
            EXPECT_TRUE(AllZero(&p.displayIndex, sizeof(VstParameterProperties) -
                                                    offsetof(VstParameterProperties, displayIndex)))
                << what << " " << i;
        }
    }
    // The names the host used to see cut short are there in full.
    EXPECT_GE(longNames, 50);
}

// A switch shows On and Off at its two ends; an integer parameter's
// bounds are the values the host reaches at 0 and 1.
TEST(ParameterProperties, FlagsAndShortNamesOfKnownParameters)
{
    struct Row {
        char id[5];
        const char* name;
        const char* shortName;
        int32_t flags;
        int32_t minInteger, maxInteger;
    };
    const Row rows[] = {
        {"QZs0", "Output Positive L", "OutPosL", 0, 0, 0},
        {"QZs0", "Output Positive R", "OutPosR", 0, 0, 0},
        {"QZs0", "Output Symmetric L", "OutSymL", 0, 0, 0},
        {"QZs0", "Smoothing L", "SmoothL", 0, 0, 0},
        {"QZs0", "OSC Port Offset", "OSPoOf", kVstParameterUsesIntegerMinMax, 0, 100},
        {"QZsg", "MIDI Clock Swing Type", "MCST", kVstParameterUsesIntegerMinMax, 0, 1},
        {"QZsb", "Flip L", "Flip L", kVstParameterIsSwitch, 0, 0},
        {"QZs8", "Enable Scale L", "EnaScaL", kVstParameterIsSwitch, 0, 0},
        {"QZs8", "Key L", "Key L", kVstParameterUsesIntegerMinMax, 0, 11},
        {"QZs8", "Steps Fine R", "SteFinR", 0, 0, 0},
    };
    for (const Row& row : rows) {
        auto plugin = Plugin::Create(LoadedModule(), FourCC(row.id));
        ASSERT_TRUE(plugin) << row.id;
        plugin->Start();
        const int32_t index = FindByFullName(*plugin, row.name);
        ASSERT_GE(index, 0) << row.id << " " << row.name;
        const VstParameterProperties p = Ask(*plugin, index).record;
        EXPECT_STREQ(p.shortLabel, row.shortName) << row.name;
        EXPECT_EQ(p.flags, row.flags) << row.name;
        EXPECT_EQ(p.minInteger, row.minInteger) << row.name;
        EXPECT_EQ(p.maxInteger, row.maxInteger) << row.name;
        if (row.flags & kVstParameterIsSwitch) {
            plugin->SetParameter(index, 0.0f);
            EXPECT_EQ(plugin->ParameterDisplay(index), "Off") << row.name;
            plugin->SetParameter(index, 1.0f);
            EXPECT_EQ(plugin->ParameterDisplay(index), "On") << row.name;
        }
        if (row.flags & kVstParameterUsesIntegerMinMax) {
            // Each whole value between the bounds is one the parameter keeps.
            const int32_t span = row.maxInteger - row.minInteger;
            for (int32_t step = 0; step <= span; step += span > 10 ? span / 10 : 1) {
                const float normalized = static_cast<float>(step) / static_cast<float>(span);
                plugin->SetParameter(index, normalized);
                EXPECT_FLOAT_EQ(plugin->GetParameter(index), normalized) << row.name << " " << step;
            }
        }
    }
}

TEST(ParameterProperties, BadIndexOrNoRecordAnswersZeroAndWritesNothing)
{
    auto plugin = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    ASSERT_TRUE(plugin);
    plugin->Start();
    const int32_t count = plugin->NumParams();
    for (int32_t index : {-1, count, count + 1000, INT_MIN, INT_MAX}) {
        const Answer answer = Ask(*plugin, index);
        EXPECT_EQ(answer.result, 0) << index;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&answer.record);
        for (size_t i = 0; i < sizeof answer.record; ++i)
            ASSERT_EQ(bytes[i], kStale) << index << " byte " << i;
    }
    EXPECT_EQ(plugin->Dispatch(effGetParameterProperties, 0, 0, nullptr), 0);
}
