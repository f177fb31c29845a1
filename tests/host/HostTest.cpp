// The host library against the built module: loading, the host callback
// during creation, shell enumeration, blocks run through the DC, and the
// time answers of a host that keeps no call log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include "host/VstHost.h"
#include "host/Workload.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using corvane::test::CreateDC;
using corvane::test::LoadedModule;
using corvane::test::ScopedUserFolders;
using corvane::test::TempDir;
using vst::FourCC;

namespace {

const EntryWorkload* FindWorkload(const std::string& id)
{
    for (const EntryWorkload& workload : EntryWorkloads())
        if (workload.id == id)
            return &workload;
    return nullptr;
}

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

// A host that keeps no call log answers the audio thread's time requests
// from a record made at the end of each block; whatever the test does to
// the transport in between, the plug-ins must hear what a logging host
// (which answers from the transport under its lock) tells them.
TEST_F(HostTest, UnloggedTimeAnswersFollowEveryTransportChange)
{
    const std::function<void(Plugin&)> edits[] = {
        [](Plugin&) {},
        [](Plugin& p) {
            Transport time = p.TimeNow();
            time.tempo = 90;
            p.SetTime(time);
        },
        [](Plugin& p) {
            p.Time().ppqPos += 3.5;
            p.Time().changed = true;
        },
        [](Plugin& p) { p.Time().playing = false; },
        [](Plugin& p) { p.Time().playing = true; },
        [](Plugin& p) { p.Time().timeSigNumerator = 3; },
        [](Plugin& p) { p.Time().answerTime = false; },
        [](Plugin& p) { p.Time().answerTime = true; },
        [](Plugin& p) { p.Time().tempo = 151; },
    };
    // Sync (pulses from the song position) and the LFO (locked to it).
    for (const char* id : {"QZse", "QZs2"}) {
        SCOPED_TRACE(id);
        const EntryWorkload* workload = FindWorkload(id);
        ASSERT_NE(workload, nullptr);
        WorkloadRun logged(LoadedModule(), *workload, 48000, 512, true);
        WorkloadRun unlogged(LoadedModule(), *workload, 48000, 512, false);
        int64_t differing = 0;
        for (const auto& edit : edits) {
            edit(logged.Hosted());
            edit(unlogged.Hosted());
            for (int32_t frames : {64, 16, 7, 512, 64, 64}) {
                logged.Block(frames, false);
                unlogged.Block(frames, false);
                for (int32_t c = 0; c < logged.NumOutputs(); ++c)
                    differing += std::memcmp(logged.Outputs()[c], unlogged.Outputs()[c], sizeof(float) * frames) != 0;
            }
        }
        EXPECT_EQ(differing, 0);
        EXPECT_FALSE(logged.Hosted().CallsOf(audioMasterGetTime).empty()) << "the plug-in never asked for the time";
    }
}

} // namespace

// The bench's two-step blocks (the host's own buffers filled and its
// transport moved first, the plug-in run after) hand the plug-ins what
// Block does: notes, time, silence and a period of the input that wraps.
TEST_F(HostTest, FilledBlocksRenderAsBlocksDo)
{
    // Voice Controller (notes), CV Input (the carrier), AC Encoder (six
    // inputs), LFO and Sync (the transport, moved on between the steps).
    for (const char* id : {"QZs1", "QZs4", "QZs(", "QZs2", "QZse"}) {
        const EntryWorkload* workload = FindWorkload(id);
        ASSERT_NE(workload, nullptr);
        WorkloadRun direct(LoadedModule(), *workload, 48000, 512, false);
        WorkloadRun filled(LoadedModule(), *workload, 48000, 512, false);
        int64_t differing = 0;
        int64_t frames = 0;
        for (int32_t block = 0; frames < 60000; ++block) {
            const int32_t length = (block * 97) % 513; // 0 to 512, wrapping the one-second period
            const bool silent = block % 50 >= 45;
            direct.Block(length, silent);
            filled.FillInputs(length, silent);
            filled.ProcessFilled();
            frames += length;
            for (int32_t c = 0; c < direct.NumOutputs(); ++c)
                differing += std::memcmp(direct.Outputs()[c], filled.Outputs()[c], sizeof(float) * length) != 0;
        }
        EXPECT_EQ(filled.Position(), direct.Position()) << id;
        EXPECT_EQ(differing, 0) << id;
    }
}

// The transport moves by exactly what the plain formula gives, block after
// block, through changes of block size, tempo, rate and time signature
// (AdvanceTransport keeps its step and bar length between changes).
TEST_F(HostTest, TransportStepsAsThePlainFormula)
{
    auto dc = CreateDC();
    ASSERT_TRUE(dc);
    dc->Start(48000, 512);
    Transport expected = dc->TimeNow();
    expected.playing = true;
    dc->SetTime(expected);
    const std::function<void(Transport&)> edits[] = {
        [](Transport&) {},
        [](Transport& t) { t.tempo = 97.3; },
        [](Transport& t) { t.timeSigNumerator = 7, t.timeSigDenominator = 8; },
        [](Transport& t) { t.sampleRate = 44100; },
        [](Transport& t) { t.timeSigNumerator = 3, t.timeSigDenominator = 4; },
        [](Transport& t) { t.ppqPos = -2.25; },
        [](Transport& t) { t.tempo = 300; },
    };
    std::vector<float> silence(512, 0.0f), out(2 * 512);
    float* inputs[] = {silence.data(), silence.data()};
    float* outputs[] = {out.data(), out.data() + 512};
    int64_t differing = 0;
    for (const auto& edit : edits) {
        edit(expected);
        dc->SetTime(expected);
        for (int32_t frames : {64, 64, 17, 512, 1, 64, 333, 64, 64}) {
            for (int repeat = 0; repeat < 40; ++repeat) {
                dc->ProcessReplacing(inputs, outputs, frames);
                expected.samplePos += frames;
                expected.ppqPos += frames / expected.sampleRate * expected.tempo / 60.0;
                const double barLength = expected.timeSigNumerator * 4.0 / expected.timeSigDenominator;
                const double bars = std::floor((expected.ppqPos - expected.barStartPos) / barLength);
                if (bars > 0)
                    expected.barStartPos += bars * barLength;
                const Transport now = dc->TimeNow();
                differing += now.samplePos != expected.samplePos || now.ppqPos != expected.ppqPos ||
                             now.barStartPos != expected.barStartPos;
            }
        }
    }
    EXPECT_EQ(differing, 0);
}
