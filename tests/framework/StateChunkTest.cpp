// The saved state: layout, restore rules, and untrusted data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/StateChunk.h"
#include "host/VstHost.h"
#include "tests/framework/TestPlugin.h"
#include "tests/support/TestSupport.h"

using corvane::test::TestPlugin;

namespace {

constexpr uint32_t Tag(const char (&code)[5])
{
    return static_cast<uint32_t>(vst::FourCC(code));
}

std::vector<uint8_t> GetChunk(ObryCorvaneBase& plugin)
{
    void* data = nullptr;
    const int32_t size = plugin.getChunk(&data, false);
    const auto* bytes = static_cast<const uint8_t*>(data);
    return std::vector<uint8_t>(bytes, bytes + size);
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> ChunkWithRecords(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& records)
{
    StateChunk chunk;
    for (const auto& [tag, payload] : records)
        chunk.AddRecord(tag, payload.data(), static_cast<uint32_t>(payload.size()));
    return chunk.Serialize();
}

std::vector<uint8_t> Floats(std::initializer_list<float> values)
{
    std::vector<uint8_t> out;
    for (float v : values) {
        uint32_t bits;
        memcpy(&bits, &v, 4);
        Put32(out, bits);
    }
    return out;
}

// A program that keeps whatever chunk it is given.
struct RecordingProgram : ObryProgramBasic<13> {
    static ObryProgram* Create() { return new RecordingProgram; }
    void SetChunk(const void* data, int32_t size) override
    {
        received.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    }
    std::vector<uint8_t> received;
};

struct RecordingPlugin : ObryCorvaneBase {
    RecordingPlugin()
        : ObryCorvaneBase(corvane::test::TestHostCallback, 2, 2, false, vst::FourCC("QRec"), 0, 1, nullptr, 13,
                          TestPlugin::kParameters, RecordingProgram::Create)
    {
        Initialize();
    }
    ~RecordingPlugin() override { close(); }
    const char* GetPluginName() override { return "Corvane Recorder"; }
    const char* GetGUIScriptName() override { return "gui_recorder.lua"; }
    RecordingProgram& Program() { return *static_cast<RecordingProgram*>(CurrentProgram()); }
};

} // namespace

TEST(StateChunk, LayoutOfAThirteenParameterPlugin)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    const std::vector<uint8_t> chunk = GetChunk(plugin);
    ASSERT_EQ(chunk.size(), 96u);
    EXPECT_EQ(StateChunk::LoadU32(chunk.data()), Tag("Obry"));
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 4), 1u);
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 8), 84u);
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 12), Tag("puid"));
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 20), static_cast<uint32_t>(vst::FourCC("QTst")));
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 24), Tag("vers"));
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 32), 0x00020100u);
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 36), Tag("parm"));
    EXPECT_EQ(StateChunk::LoadU32(chunk.data() + 40), 52u);
    EXPECT_EQ(StateChunk::LoadF32(chunk.data() + 44 + 4 * 2), 1000.0f);

    // A text record of five characters and its NUL is padded to 8.
    StateChunk text;
    text.AddRecord(Tag("name"), "hello", 6);
    const std::vector<uint8_t> bytes = text.Serialize();
    ASSERT_EQ(bytes.size(), 12u + 8u + 8u);
    EXPECT_EQ(StateChunk::LoadU32(bytes.data() + 16), 8u);
    StateChunk parsed;
    ASSERT_TRUE(parsed.Parse(bytes.data(), bytes.size()));
    EXPECT_EQ(StateChunk::ReadString(*parsed.Find(Tag("name"))), "hello");
    // A text record that lacks its NUL: the last byte stands for it.
    StateChunk bare;
    bare.AddRecord(Tag("bare"), "abcd", 4);
    const std::vector<uint8_t> bareBytes = bare.Serialize();
    ASSERT_TRUE(parsed.Parse(bareBytes.data(), bareBytes.size()));
    EXPECT_EQ(StateChunk::ReadString(*parsed.Find(Tag("bare"))), "abc");
}

TEST(StateChunk, RestoreReplacesOnlyWhatTheRecordHas)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    plugin.CurrentProgram()->SetParameter(1, 4.0f);
    plugin.CurrentProgram()->SetParameter(5, 7.0f);
    // Fewer values than parameters: only the first ones change.
    auto fewer = ChunkWithRecords({{Tag("parm"), Floats({9, -1, 500})}});
    EXPECT_EQ(plugin.setChunk(fewer.data(), static_cast<int32_t>(fewer.size()), false), 1);
    EXPECT_EQ(plugin.GetParameterReal(0), 9.0f);
    EXPECT_EQ(plugin.GetParameterReal(1), -1.0f);
    EXPECT_EQ(plugin.GetParameterReal(2), 500.0f);
    EXPECT_EQ(plugin.GetParameterReal(5), 7.0f);
    // The restored OSC Port Offset (parameter 0) moves the server, as hosts
    // reload projects this way.
    EXPECT_EQ(plugin.OSC().ListenPort(), ObryCorvaneBase::OSCBasePort() + 9);

    // More values than parameters: the rest are ignored; the later of two
    // records with one tag counts; values outside the range are clamped.
    std::vector<uint8_t> many;
    for (int i = 0; i < 20; ++i) {
        uint32_t bits;
        float v = 2.0f;
        memcpy(&bits, &v, 4);
        Put32(many, bits);
    }
    auto twice = ChunkWithRecords({{Tag("parm"), Floats({1, 1, 1})}, {Tag("parm"), many}});
    EXPECT_EQ(plugin.setChunk(twice.data(), static_cast<int32_t>(twice.size()), false), 1);
    for (int i = 0; i < 13; ++i) {
        const ParameterInfo& info = TestPlugin::kParameters[i];
        const float expected = 2.0f < info.min ? info.min : (2.0f > info.max ? info.max : 2.0f);
        EXPECT_EQ(plugin.GetParameterReal(i), expected) << i;
    }
    auto nan = ChunkWithRecords({{Tag("parm"), Floats({0, std::numeric_limits<float>::quiet_NaN()})}});
    plugin.setChunk(nan.data(), static_cast<int32_t>(nan.size()), false);
    EXPECT_EQ(plugin.GetParameterReal(1), TestPlugin::kParameters[1].def);
}

TEST(StateChunk, ForeignDataGoesWholeToTheProgram)
{
    corvane::test::ScopedUserFolders folders;
    RecordingPlugin plugin;
    std::vector<uint8_t> foreign = {'x', 'y', 'z', 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(plugin.setChunk(foreign.data(), static_cast<int32_t>(foreign.size()), false), 1);
    EXPECT_EQ(plugin.Program().received, foreign);

    // A record cut short is not ours either.
    auto good = ChunkWithRecords({{Tag("parm"), Floats({1, 2})}});
    std::vector<uint8_t> cut(good.begin(), good.end() - 3);
    EXPECT_EQ(plugin.setChunk(cut.data(), static_cast<int32_t>(cut.size()), false), 1);
    EXPECT_EQ(plugin.Program().received, cut);

    // 'chnk' goes to the program as its own chunk.
    auto own = ChunkWithRecords({{Tag("chnk"), {9, 8, 7, 6}}});
    plugin.setChunk(own.data(), static_cast<int32_t>(own.size()), false);
    EXPECT_EQ(plugin.Program().received, (std::vector<uint8_t>{9, 8, 7, 6}));
}

TEST(StateChunk, ParserRejectsEveryMalformedShape)
{
    auto good = ChunkWithRecords({{Tag("parm"), Floats({1, 2})}, {Tag("abcd"), {1}}});
    StateChunk parsed;
    ASSERT_TRUE(parsed.Parse(good.data(), good.size()));
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(parsed.Parse(good.data(), cut)) << cut;
    // One to seven stray bytes after the last record.
    for (size_t extra = 1; extra < 8; ++extra) {
        std::vector<uint8_t> longer = good;
        longer.resize(good.size() + extra, 0xAB);
        EXPECT_FALSE(parsed.Parse(longer.data(), longer.size())) << extra;
    }
    // A record size that wraps 32-bit arithmetic.
    std::vector<uint8_t> huge = good;
    huge[16] = huge[17] = huge[18] = huge[19] = 0xFF;
    EXPECT_FALSE(parsed.Parse(huge.data(), huge.size()));
    std::vector<uint8_t> bigLength = good;
    bigLength[8] = bigLength[9] = bigLength[10] = bigLength[11] = 0xFF;
    EXPECT_FALSE(parsed.Parse(bigLength.data(), bigLength.size()));
}

TEST(StateChunk, SurvivesAHundredThousandMutatedChunks)
{
    corvane::test::ScopedUserFolders folders;
    TestPlugin plugin;
    plugin.CurrentProgram()->SetParameter(3, 2);
    const std::vector<uint8_t> base = GetChunk(plugin);
    std::mt19937 random(1234);
    for (int round = 0; round < 100000; ++round) {
        std::vector<uint8_t> data = base;
        const int mutations = 1 + static_cast<int>(random() % 6);
        for (int m = 0; m < mutations; ++m) {
            switch (random() % 4) {
            case 0: data[random() % data.size()] = static_cast<uint8_t>(random()); break;
            case 1: data.resize(random() % (data.size() + 1)); break;
            case 2: data.resize(data.size() + random() % 9, static_cast<uint8_t>(random())); break;
            case 3:
                if (data.size() > 12) // corrupt a record header
                    data[12 + random() % (data.size() - 12)] = static_cast<uint8_t>(random() % 4 == 0 ? 0xFF : random());
                break;
            }
            if (data.empty())
                break;
        }
        if (data.empty())
            continue;
        // Unaligned on purpose: foreign chunks need not be.
        std::vector<uint8_t> shifted(data.size() + 1);
        memcpy(shifted.data() + 1, data.data(), data.size());
        plugin.setChunk(shifted.data() + 1, static_cast<int32_t>(data.size()), false);
        for (int i = 0; i < 13; ++i) {
            const float v = plugin.GetParameterReal(i);
            ASSERT_FALSE(std::isnan(v)) << round;
        }
    }
}

TEST(StateChunk, RoundTripsThroughAFreshInstanceInAnotherProcess)
{
    std::string error;
    auto module = corvane::host::Module::Load(corvane::test::ModulePath(), &error);
    ASSERT_TRUE(module) << error;
    std::vector<uint8_t> saved;
    {
        auto plugin = corvane::host::Plugin::Create(*module, vst::FourCC("QZs0"));
        ASSERT_TRUE(plugin);
        plugin->Start();
        for (int32_t i = 0; i < plugin->NumParams(); ++i)
            plugin->SetParameter(i, static_cast<float>((i * 37) % 100) / 100.0f);
        saved = plugin->GetChunk();
        // The DC: 13 parameters and no program chunk of its own.
        ASSERT_EQ(saved.size(), 96u);
        EXPECT_EQ(StateChunk::LoadU32(saved.data() + 8), 84u);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string childError;
        auto childModule = corvane::host::Module::Load(corvane::test::ModulePath(), &childError);
        if (!childModule)
            _exit(2);
        auto fresh = corvane::host::Plugin::Create(*childModule, vst::FourCC("QZs0"));
        if (!fresh)
            _exit(3);
        fresh->Start();
        if (fresh->SetChunk(saved) != 1)
            _exit(4);
        const bool same = fresh->GetChunk() == saved;
        fresh.reset();
        _exit(same ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
