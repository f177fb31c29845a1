// The DC plug-in through the built module and our host: levels, the input
// paths, the two smoothing modes, value texts, state restore, bad input and
// the command-line render.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "host/VstHost.h"
#include "tests/plugins/DcFunctionTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using namespace corvane::test;
using vst::FourCC;

namespace {

constexpr Range kUnit{0, 1};
constexpr Range kSymmetric{-1, 1};
constexpr Range kMultiplier{-2, 2};
constexpr Range kSmoothing{-500, 500};
constexpr Range kPort{0, 100};

// Parameter indices of the DC.
enum : int32_t {
    kPositiveL, kSymmetricL, kMultiplierL, kAddL, kMultiplyL,
    kPositiveR, kSymmetricR, kMultiplierR, kAddR, kMultiplyR,
    kPortOffset, kSmoothingL, kSmoothingR,
};

class DcTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = Plugin::Create(LoadedModule(), FourCC("QZs0"));
        ASSERT_TRUE(dc);
        dc->Start(48000, 512);
    }
    void TearDown() override
    {
        if (dc)
            dc->Close();
    }

    ScopedUserFolders folders{UniquePortBase()};
    std::unique_ptr<Plugin> dc;
};

TEST_F(DcTest, DescribesItselfToTheHost)
{
    EXPECT_EQ(dc->UniqueId(), FourCC("QZs0"));
    EXPECT_EQ(dc->EffectName(), "QV DC");
    EXPECT_EQ(dc->ProductString(), "QV DC");
    EXPECT_EQ(dc->NumInputs(), 2);
    EXPECT_EQ(dc->NumOutputs(), 2);
    EXPECT_EQ(dc->NumPrograms(), 1);
    EXPECT_EQ(dc->Category(), kPlugCategEffect);
    EXPECT_EQ(dc->ProgramName(), "Defaults");

    struct Expected {
        const char* name; // as the host sees it: cut to 15 characters
        const char* label;
        const char* atMin;
        const char* atDefault;
        const char* atMax;
    };
    const Expected table[] = {
        {"Output Positive", "", "0.000", "0.000", "1.000"},
        {"Output Symmetri", "", "-1.000", "0.000", "1.000"},
        {"Multiplier L", "", "-2.000", "1.000", "2.000"},
        {"Input Add L", "", "0.000", "0.000", "1.000"},
        {"Input Multiply ", "", "0.000", "0.000", "1.000"},
        {"Output Positive", "", "0.000", "0.000", "1.000"},
        {"Output Symmetri", "", "-1.000", "0.000", "1.000"},
        {"Multiplier R", "", "-2.000", "1.000", "2.000"},
        {"Input Add R", "", "0.000", "0.000", "1.000"},
        {"Input Multiply ", "", "0.000", "0.000", "1.000"},
        {"OSC Port Offset", "", "Off", "Off", "100"},
        {"Smoothing L", "ms", "-500.0", "Off", "500.0"},
        {"Smoothing R", "ms", "-500.0", "Off", "500.0"},
    };
    ASSERT_EQ(dc->NumParams(), 13);
    for (int32_t i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dc->ParameterName(i), table[i].name);
        EXPECT_EQ(dc->ParameterLabel(i), table[i].label);
        EXPECT_EQ(dc->ParameterDisplay(i), table[i].atDefault);
        const float def = dc->GetParameter(i);
        if (i == 10) {
            // Leave the port alone: the maximum would open a server.
            continue;
        }
        dc->SetParameter(i, 0.0f);
        EXPECT_EQ(dc->ParameterDisplay(i), table[i].atMin);
        dc->SetParameter(i, 1.0f);
        EXPECT_EQ(dc->ParameterDisplay(i), table[i].atMax);
        dc->SetParameter(i, def);
    }
}

TEST_F(DcTest, LevelsAndInputPaths)
{
    struct Case {
        const char* what;
        float positive, symmetric, multiplier, add, multiply;
        float input;
        float expected;
    };
    const Case cases[] = {
        {"defaults ignore the input", 0, 0, 1, 0, 0, 0.7f, 0},
        {"positive level", 0.5f, 0, 1, 0, 0, 0.7f, 0.5f},
        {"symmetric level", 0, -0.75f, 1, 0, 0, 0.7f, -0.75f},
        {"the two levels add", 0.5f, -0.25f, 1, 0, 0, 0, 0.25f},
        {"negative multiplier", 1, 0, -2, 0, 0, 0, -2},
        {"negative times negative", 0, -1, -2, 0, 0, 0, 2},
        {"multiplier 0 silences", 1, 1, 0, 0, 0, 0.3f, 0},
        {"input multiply 1 scales the input", 0.5f, 0, 1, 0, 1, 0.75f, 0.375f},
        {"input multiply with a negative level", 0.5f, 0, -2, 0, 1, 0.25f, -0.25f},
        {"input add on top of the level", 0.25f, 0, 1, 1, 0, -0.5f, -0.25f},
        {"input add alone passes the input", 0, 0, 1, 1, 0, 0.625f, 0.625f},
        {"half multiply and half add", 1, 0, 1, 0.5f, 0.5f, 0.5f, 1.0f}, // (0.25 + 0.5) * 1 + 0.25
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetReal(*dc, kPositiveL, kUnit, c.positive);
        SetReal(*dc, kSymmetricL, kSymmetric, c.symmetric);
        SetReal(*dc, kMultiplierL, kMultiplier, c.multiplier);
        SetReal(*dc, kAddL, kUnit, c.add);
        SetReal(*dc, kMultiplyL, kUnit, c.multiply);
        const Stereo out = RunConstant(*dc, c.input, 0.9f, 64);
        for (float v : out.left)
            ASSERT_FLOAT_EQ(v, c.expected);
        // The right channel keeps its defaults: 0 whatever its input.
        for (float v : out.right)
            ASSERT_EQ(v, 0.0f);
    }
}

TEST_F(DcTest, ChannelsAreIndependent)
{
    SetReal(*dc, kPositiveR, kUnit, 0.5f);
    SetReal(*dc, kMultiplierR, kMultiplier, 2);
    SetReal(*dc, kAddR, kUnit, 1);
    SetReal(*dc, kSmoothingL, kSmoothing, 100);
    Stereo out = RunConstant(*dc, 0.25f, 0.25f, 32);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(out.left[i], 0.0f);
        EXPECT_FLOAT_EQ(out.right[i], 1.25f); // unsmoothed
    }
}

TEST_F(DcTest, PositiveSmoothingRampsLinearlyUpAndDown)
{
    // 100 ms at 48 kHz: T = 4800 samples, step 2/4800, so 0 -> 1 takes 2400.
    SetReal(*dc, kSmoothingL, kSmoothing, 100);
    SetReal(*dc, kPositiveL, kUnit, 1);
    std::vector<float> left;
    for (int block = 0; block < 6; ++block) {
        const Stereo out = RunConstant(*dc, 0, 0);
        left.insert(left.end(), out.left.begin(), out.left.end());
    }
    const double step = 2.0 / 4800.0;
    for (size_t i = 0; i < left.size(); ++i) {
        const double expected = std::min(1.0, (i + 1) * step);
        ASSERT_NEAR(left[i], expected, 2e-4) << i;
    }
    EXPECT_LT(left[2397], 1.0f);
    EXPECT_EQ(left[2405], 1.0f);

    // And back down at the same rate, the state carried across the change.
    SetReal(*dc, kPositiveL, kUnit, 0);
    std::vector<float> down;
    for (int block = 0; block < 6; ++block) {
        const Stereo out = RunConstant(*dc, 0, 0);
        down.insert(down.end(), out.left.begin(), out.left.end());
    }
    for (size_t i = 0; i < down.size(); ++i)
        ASSERT_NEAR(down[i], std::max(0.0, 1.0 - (i + 1) * step), 2e-4) << i;
    EXPECT_EQ(down.back(), 0.0f);
}

TEST_F(DcTest, NegativeSmoothingIsAOnePoleLowPass)
{
    SetReal(*dc, kSmoothingR, kSmoothing, -100);
    SetReal(*dc, kPositiveR, kUnit, 1);
    const double k = std::exp(-5.2 / 4800.0);
    double expected = 0;
    for (int block = 0; block < 4; ++block) {
        const Stereo out = RunConstant(*dc, 0, 0);
        for (int i = 0; i < 512; ++i) {
            expected = (expected - 1.0) * k + 1.0;
            ASSERT_NEAR(out.right[i], expected, 2e-4) << block << " " << i;
        }
    }
    // Falling from there follows the same curve towards 0.
    SetReal(*dc, kPositiveR, kUnit, 0);
    const Stereo out = RunConstant(*dc, 0, 0);
    for (int i = 0; i < 512; ++i) {
        expected = expected * k;
        ASSERT_NEAR(out.right[i], expected, 2e-4) << i;
    }
    EXPECT_GT(out.right[511], 0.0f);
}

TEST_F(DcTest, SmoothingWithinHalfASampleIsOff)
{
    // Smoothing values whose time is at most half a sample pass the level
    // unchanged; those within 0.5 ms show "Off".
    struct Case {
        float ms;
        bool passes;
        const char* display;
    };
    const Case cases[] = {
        {0.005f, true, "Off"},   // T = 0.24 samples
        {-0.005f, true, "Off"},
        {0.25f, false, "Off"},   // T = 12 samples: smoothing, but shown "Off"
        {-0.4f, false, "Off"},
        {1.0f, false, "1.000"},
        {-2.0f, false, "-2.000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        SetReal(*dc, kPositiveL, kUnit, 0);
        SetReal(*dc, kSmoothingL, kSmoothing, 0);
        RunConstant(*dc, 0, 0, 16); // state back to 0
        SetReal(*dc, kSmoothingL, kSmoothing, c.ms);
        EXPECT_EQ(dc->ParameterDisplay(kSmoothingL), c.display);
        SetReal(*dc, kPositiveL, kUnit, 1);
        const Stereo out = RunConstant(*dc, 0, 0, 16);
        if (c.passes)
            EXPECT_EQ(out.left[0], 1.0f);
        else
            EXPECT_LT(out.left[0], 1.0f);
    }
}

TEST_F(DcTest, PortOffsetShowsOffAtZeroOnly)
{
    const int32_t port = kPortOffset;
    EXPECT_EQ(dc->ParameterDisplay(port), "Off");
    SetReal(*dc, kPortOffset, kPort, 3);
    EXPECT_EQ(dc->ParameterDisplay(port), "3");
    SetReal(*dc, kPortOffset, kPort, 0);
    EXPECT_EQ(dc->ParameterDisplay(port), "Off");
}

TEST_F(DcTest, BadInputNeverPoisonsLaterBlocks)
{
    struct Case {
        const char* what;
        float add, multiply, smoothing;
    };
    const Case cases[] = {
        {"input add, no smoothing", 1, 0, 0},
        {"input add, slew", 1, 0, 20},
        {"input add, low-pass", 1, 0, -20},
        {"input multiply, low-pass", 0, 1, -20},
        {"input multiply, slew", 0, 1, 20},
    };
    const float bad[] = {kNaN, kInf, -kInf};
    for (const Case& c : cases) {
        for (float b : bad) {
            SCOPED_TRACE(testing::Message() << c.what << " with " << b);
            auto plugin = Plugin::Create(LoadedModule(), FourCC("QZs0"));
            ASSERT_TRUE(plugin);
            plugin->Start(48000, 512);
            SetReal(*plugin, kPositiveL, kUnit, 0.5f);
            SetReal(*plugin, kAddL, kUnit, c.add);
            SetReal(*plugin, kMultiplyL, kUnit, c.multiply);
            SetReal(*plugin, kSmoothingL, kSmoothing, c.smoothing);
            std::vector<float> in(512, 0.25f);
            in[100] = b;
            RunBlock(*plugin, in, in);
            // Smoothing switched off and on again must not bring it back.
            SetReal(*plugin, kSmoothingL, kSmoothing, 0);
            in.assign(512, 0.25f);
            in[511] = b;
            RunBlock(*plugin, in, in);
            SetReal(*plugin, kSmoothingL, kSmoothing, c.smoothing);
            for (int block = 0; block < 3; ++block) {
                const Stereo out = RunConstant(*plugin, 0.25f, 0.25f);
                EXPECT_TRUE(AllFinite(out.left)) << block;
                EXPECT_TRUE(AllFinite(out.right)) << block;
            }
            plugin->Close();
        }
    }
}

TEST_F(DcTest, DefaultsGiveZeroForAnyInput)
{
    std::vector<float> in{0.5f, kNaN, kInf, -kInf, -3.0f, 1e30f};
    const Stereo out = RunBlock(*dc, in, in);
    for (size_t i = 0; i < in.size(); ++i) {
        EXPECT_EQ(out.left[i], 0.0f) << i;
        EXPECT_EQ(out.right[i], 0.0f) << i;
    }
}

TEST_F(DcTest, StateSurvivesAChunkIntoAFreshInstance)
{
    SetReal(*dc, kPositiveL, kUnit, 0.75f);
    SetReal(*dc, kSymmetricR, kSymmetric, -0.5f);
    SetReal(*dc, kMultiplierR, kMultiplier, 1.5f);
    SetReal(*dc, kAddL, kUnit, 0.25f);
    SetReal(*dc, kMultiplyR, kUnit, 0.5f);
    SetReal(*dc, kSmoothingL, kSmoothing, 250);
    SetReal(*dc, kSmoothingR, kSmoothing, -125);
    std::vector<float> saved;
    for (int32_t i = 0; i < dc->NumParams(); ++i)
        saved.push_back(dc->GetParameter(i));
    const std::vector<uint8_t> chunk = dc->GetChunk();
    ASSERT_FALSE(chunk.empty());

    auto fresh = Plugin::Create(LoadedModule(), FourCC("QZs0"));
    ASSERT_TRUE(fresh);
    fresh->Start(48000, 512);
    EXPECT_EQ(fresh->SetChunk(chunk), 1);
    for (int32_t i = 0; i < fresh->NumParams(); ++i)
        EXPECT_EQ(fresh->GetParameter(i), saved[i]) << i;
    for (int32_t i = 0; i < fresh->NumParams(); ++i)
        EXPECT_EQ(fresh->ParameterDisplay(i), dc->ParameterDisplay(i)) << i;

    // Both run the same from here.
    std::vector<float> in(512);
    for (int i = 0; i < 512; ++i)
        in[i] = std::sin(i * 0.05f);
    const Stereo a = RunBlock(*dc, in, in);
    const Stereo b = RunBlock(*fresh, in, in);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    fresh->Close();
}

TEST_F(DcTest, RenderWritesAWavThatPythonReads)
{
    TempDir dir;
    const std::string wav = dir.Path() + "/dc.wav";
    std::string output;
    const std::string command = std::string("'") + HostPath() + "' render '" + ModulePath() +
                                "' --plugin QZs0 --format pcm16 --seconds 0.25 --rate 48000" +
                                " --param '0=@0.75' --param '6=@0.25'" +
                                " --out '" + wav + "' 2>&1";
    ASSERT_EQ(RunCommand(command, &output), 0) << output;

    const std::string script = dir.Path() + "/read.py";
    std::ofstream(script) << "import sys, wave, struct\n"
                             "w = wave.open(sys.argv[1], 'rb')\n"
                             "n = w.getnframes()\n"
                             "data = w.readframes(n)\n"
                             "l, r = struct.unpack('<2h', data[-4:])\n"
                             "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), n, l, r)\n";
    std::string read;
    ASSERT_EQ(RunCommand("python3 '" + script + "' '" + wav + "' 2>&1", &read), 0) << read;
    int channels = 0, width = 0, rate = 0, frames = 0, left = 0, right = 0;
    ASSERT_EQ(sscanf(read.c_str(), "%d %d %d %d %d %d", &channels, &width, &rate, &frames, &left, &right), 6)
        << read;
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(frames, 12000);
    // Output Positive L 0.75 and Output Symmetric R -0.5 in 16-bit PCM, give
    // or take the converter's rounding. (By index: the host's names of the
    // two channels' parameters are the same once cut to 15 characters.)
    EXPECT_NEAR(left, 24576, 2);
    EXPECT_NEAR(right, -16384, 2);
}

} // namespace
