// CV To OSC through the built module and our host, sending to an independent
// OSC peer (python3 on 127.0.0.1): input signals arriving as OSC messages,
// the destination, the addresses and the values through the state chunk,
// and chunks that are too long, cut short, of the other byte order or full
// of texts the plug-in cannot use.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/VstHost.h"
#include "tests/plugins/OscTestSupport.h"
#include "tests/scripting/OscPeer.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using namespace corvane::test::osc;
using vst::FourCC;

namespace {

constexpr int32_t kUniqueId = 0x515A7335; // 'QZs5'

class CvToOscTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        socket = peer.Open();
        plugin = Start();
    }
    void TearDown() override
    {
        if (plugin)
            plugin->Close();
    }
    std::unique_ptr<Plugin> Start()
    {
        auto created = Plugin::Create(LoadedModule(), kUniqueId);
        if (created)
            created->Start(48000, 512);
        return created;
    }
    std::string PeerURL() const { return "osc.udp://127.0.0.1:" + std::to_string(peer.Port(socket)) + "/ignored"; }
    // Enable L and R, threshold 0.1 (a band of +-0.001), 1000 Hz.
    ProgramFields Sending(const std::string& left, const std::string& right)
    {
        return ProgramFields{"To the peer", PeerURL(), left, right, {0, 1, 0.1f, 1000, 1, 0.1f, 1000}};
    }
    void Block(float left, float right)
    {
        std::vector<std::vector<float>> inputs{std::vector<float>(512, left), std::vector<float>(512, right)};
        std::vector<std::vector<float>> outputs;
        plugin->ProcessBlock(inputs, outputs, 512);
        ASSERT_EQ(outputs.size(), 2u);
        EXPECT_EQ(outputs[0], inputs[0]);
        EXPECT_EQ(outputs[1], inputs[1]);
    }

    ScopedUserFolders folders{UniquePortBase()};
    OscPeer peer;
    int socket = -1;
    std::unique_ptr<Plugin> plugin;
};

TEST_F(CvToOscTest, InputSignalsArriveAtThePeerAsOscMessages)
{
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->EffectName(), "QV CV To OSC");
    EXPECT_EQ(plugin->NumInputs(), 2);
    EXPECT_EQ(plugin->NumOutputs(), 2);
    ASSERT_EQ(plugin->SetChunk(MakeState({{kTagChnk, MakeProgramChunk(Sending("/cv/left", "/cv/right"))}})), 1);

    Block(0.5f, -0.25f);   // both move away from 0
    Block(0.5f, -0.25f);   // constant: nothing
    Block(0.5005f, -0.25f); // inside the band: nothing
    Block(0.75f, -0.25f);  // L only
    const std::vector<OscMessage> got = peer.Receive(socket, 3);
    ASSERT_EQ(got.size(), 3u);
    const std::pair<std::string, float> want[] = {{"/cv/left", 0.5f}, {"/cv/right", -0.25f}, {"/cv/left", 0.75f}};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].address, want[i].first) << i;
        EXPECT_EQ(got[i].tags, "f") << i;
        EXPECT_FLOAT_EQ(static_cast<float>(got[i].Number(0)), want[i].second) << i;
    }
}

TEST_F(CvToOscTest, DestinationAddressesAndValuesSurviveTheStateInEitherByteOrder)
{
    ASSERT_TRUE(plugin);
    const ProgramFields sent = Sending("/a/b", "/c/d");
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "other byte order" : "our byte order");
        std::vector<uint8_t> program = MakeProgramChunk(sent);
        if (swapped)
            program = SwapProgramChunk(program);
        ASSERT_EQ(plugin->SetChunk(MakeState({{kTagChnk, program}})), 1);
        const std::vector<uint8_t> state = plugin->GetChunk();
        const std::vector<uint8_t> saved = RecordOf(state, kTagChnk);
        ASSERT_EQ(saved.size(), kProgramChunkSize);
        EXPECT_EQ(U32At(saved, 0), 0x6F627279u);
        EXPECT_EQ(U32At(saved, 8), 0x00020100u);
        for (size_t end : {size_t{43}, size_t{299}, size_t{555}, size_t{811}})
            EXPECT_EQ(saved[end], 0) << end;
        const ProgramFields read = ReadProgramChunk(saved);
        EXPECT_EQ(read.name, sent.name);
        EXPECT_EQ(read.destination, sent.destination);
        EXPECT_EQ(read.addressL, sent.addressL);
        EXPECT_EQ(read.addressR, sent.addressR);
        EXPECT_EQ(read.values, sent.values);

        // A second instance restored from that state saves the same state
        // and sends to the same place under the same addresses.
        std::unique_ptr<Plugin> second = Start();
        ASSERT_TRUE(second);
        ASSERT_EQ(second->SetChunk(state), 1);
        EXPECT_EQ(RecordOf(second->GetChunk(), kTagChnk), saved);
        std::vector<std::vector<float>> inputs{std::vector<float>(512, swapped ? 0.5f : 0.25f),
                                               std::vector<float>(512, 0.0f)};
        std::vector<std::vector<float>> outputs;
        second->ProcessBlock(inputs, outputs, 512);
        const std::vector<OscMessage> got = peer.Receive(socket, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].address, "/a/b");
        EXPECT_FLOAT_EQ(static_cast<float>(got[0].Number(0)), swapped ? 0.5f : 0.25f);
        second->Close();
    }
}

TEST_F(CvToOscTest, ChunksThatLieOrCarryUnusableTextsLoadSafely)
{
    ASSERT_TRUE(plugin);
    const ProgramFields good = Sending("/good/left", "/good/right");
    ASSERT_EQ(plugin->SetChunk(MakeState({{kTagChnk, MakeProgramChunk(good)}})), 1);

    ProgramFields unterminated = good;
    unterminated.destination = std::string(256, 'h');
    unterminated.addressL = "/" + std::string(255, 'l');
    ProgramFields unusable = good;
    unusable.addressL = "no slash";
    unusable.addressR = "/with blank";
    std::vector<uint8_t> longer = MakeProgramChunk(good);
    longer.resize(1200, 0xEE);
    const std::vector<uint8_t> whole = MakeProgramChunk(good);

    struct Case {
        const char* what;
        std::vector<uint8_t> data;
        std::string destination, addressL, addressR; // saved afterwards
    };
    const Case cases[] = {
        {"texts that fill their fields", MakeState({{kTagChnk, MakeProgramChunk(unterminated)}}),
         std::string(255, 'h'), "/" + std::string(254, 'l'), "/good/right"},
        {"addresses that are no OSC paths", MakeState({{kTagChnk, MakeProgramChunk(unusable)}}),
         good.destination, good.addressL, good.addressR},
        {"more bytes than a chunk", MakeState({{kTagChnk, longer}}), good.destination, good.addressL, good.addressR},
        {"a bare program chunk", MakeProgramChunk(unusable), good.destination, good.addressL, good.addressR},
        {"cut inside the header", std::vector<uint8_t>(whole.begin(), whole.begin() + 7), good.destination,
         good.addressL, good.addressR},
        {"a state whose length runs past its end", [] {
             std::vector<uint8_t> state = MakeState({{kTagPuid, {1, 2, 3, 4}}});
             state[8] = 0xFF;
             return state;
         }(),
         good.destination, good.addressL, good.addressR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(plugin->SetChunk(c.data), 1);
        const ProgramFields saved = ReadProgramChunk(RecordOf(plugin->GetChunk(), kTagChnk));
        EXPECT_EQ(saved.destination, c.destination);
        EXPECT_EQ(saved.addressL, c.addressL);
        EXPECT_EQ(saved.addressR, c.addressR);
        for (float v : saved.values)
            EXPECT_TRUE(std::isfinite(v));
        // Back to a known state for the next case.
        ASSERT_EQ(plugin->SetChunk(MakeState({{kTagChnk, MakeProgramChunk(good)}})), 1);
    }
}

} // namespace
