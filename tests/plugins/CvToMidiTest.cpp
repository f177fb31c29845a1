// CV To MIDI through the built module and our host: audio passing through
// untouched (also broken samples, with every feature on) and state chunks
// that lie about their lengths. Nothing here needs a MIDI port: the messages
// and the saved device name are tested in-process with the fake output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/plugins/CvToMidiTestSupport.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using namespace corvane::test::cvtomidi;
using vst::FourCC;

namespace {

constexpr uint32_t kUniqueId = 0x515A7337; // 'QZs7'

Range RangeOf(int32_t index)
{
    if (index == 0)
        return {0, 100};
    switch ((index - 1) % 14) {
    case 1: return {1, 16};
    case 3: return {0, 127};
    case 4:
    case 5:
    case 12: return {-1, 1};
    case 7:
    case 8: return {0, 2};
    case 10: return {0, 128};
    case 11: return {-128, 128};
    case 13: return {0, 1000};
    default: return {0, 1}; // the switches and Gate Close Msg
    }
}

class CvToMidiTest : public ::testing::Test {
protected:
    void SetUp() override { plugin = Start(); }
    void TearDown() override
    {
        if (plugin)
            plugin->Close();
    }
    std::unique_ptr<Plugin> Start()
    {
        auto created = Plugin::Create(LoadedModule(), FourCC("QZs7"));
        if (created)
            created->Start(48000, 512);
        return created;
    }
    void Set(int32_t index, float real) { SetReal(*plugin, index, RangeOf(index), real); }

    ScopedUserFolders folders{UniquePortBase()};
    std::unique_ptr<Plugin> plugin;
};

TEST_F(CvToMidiTest, AudioPassesThroughUntouchedWhateverItHolds)
{
    ASSERT_TRUE(plugin);
    for (int32_t c = 0; c < 2; ++c) {
        Set(1 + 14 * c + 2, 1);  // Enable CC
        Set(1 + 14 * c + 6, 1);  // Enable Note
        Set(1 + 14 * c + 7, static_cast<float>(c + 1)); // Gate Only, Gated
        Set(1 + 14 * c + 13, 5); // Max Note Length
    }
    const std::vector<float> odd{kNaN, kInf, -kInf, 1e-45f, -0.0f, 3e38f, -3e38f, 0.5f, -1, 1};
    for (int32_t frames : {1, 7, 512}) {
        std::vector<std::vector<float>> in(2, std::vector<float>(frames)), out;
        for (int32_t i = 0; i < frames; ++i) {
            in[0][i] = odd[i % odd.size()];
            in[1][i] = static_cast<float>(std::sin(0.3 * i));
        }
        for (int block = 0; block < 3; ++block) {
            plugin->ProcessBlock(in, out, frames);
            ASSERT_EQ(out.size(), 2u);
            for (int c = 0; c < 2; ++c)
                EXPECT_EQ(memcmp(out[c].data(), in[c].data(), sizeof(float) * frames), 0) << frames << " " << c;
            std::swap(in[0], in[1]);
        }
    }
}

TEST_F(CvToMidiTest, StateChunksThatLieAboutTheirLengthsLoadSafely)
{
    ASSERT_TRUE(plugin);
    std::vector<float> broken(29, kNaN);
    broken[2] = 1e9f;
    broken[12] = -kInf;
    const std::vector<uint8_t> good = WrapInState(MakeProgramChunk({"Good", "Port", std::vector<float>(29, 1)}),
                                                  kUniqueId);
    auto withU32 = [](std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
        memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    const size_t chnkSize = 12 + 12 + 12 + 4; // the 'chnk' record's size field
    std::vector<uint8_t> random(1000);
    for (size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    auto prefix = [](const std::vector<uint8_t>& bytes, size_t count) {
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
    };

    const struct {
        const char* what;
        std::vector<uint8_t> data;
    } cases[] = {
        {"three bytes", {1, 2, 3}},
        {"a length past the end", withU32(good, 8, 100000)},
        {"a record size past the end", withU32(good, chnkSize, 0xFFFFFFF0u)},
        {"a program record of 8 bytes", withU32(good, chnkSize, 8)},
        {"a program cut short", prefix(good, 140)},
        {"values that are no numbers or out of range", WrapInState(MakeProgramChunk({"", "", broken}), kUniqueId)},
        {"noise", random},
        {"a program chunk of the other byte order, alone and cut",
         prefix(SwapProgramChunk(MakeProgramChunk({"X", "Y", broken})), 350)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            StdoutCapture quiet;
            EXPECT_EQ(plugin->SetChunk(c.data), 1);
        }
        for (int32_t i = 0; i < plugin->NumParams(); ++i) {
            const float v = plugin->GetParameter(i);
            EXPECT_TRUE(v >= 0 && v <= 1) << i << " " << v;
            EXPECT_EQ(plugin->ParameterDisplay(i).find("nan"), std::string::npos) << i;
        }
        const std::vector<uint8_t> saved = plugin->GetChunk();
        const ProgramFields fields = ReadProgramChunk(RecordOf(saved, kTagChnk));
        EXPECT_LE(fields.device.size(), 255u);
        EXPECT_LE(fields.name.size(), 31u);
        for (float v : fields.values)
            EXPECT_FALSE(std::isnan(v));
        std::vector<std::vector<float>> in(2, std::vector<float>(64, 0.5f)), out;
        plugin->ProcessBlock(in, out, 64);
        EXPECT_EQ(out[0], in[0]);
    }
}

} // namespace
