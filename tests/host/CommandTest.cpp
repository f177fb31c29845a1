// The corvane-host command against the built module.
#include <gtest/gtest.h>

#include <sstream>

#include "host/Wav.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using corvane::test::CreateDC;
using corvane::test::HostPath;
using corvane::test::ModulePath;
using corvane::test::Quoted;
using corvane::test::RunShell;
using corvane::test::ScopedUserFolders;
using corvane::test::TempDir;

namespace {

std::string Host(const std::string& arguments) { return Quoted(HostPath()) + " " + arguments; }

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class CommandTest : public ::testing::Test {
protected:
    ScopedUserFolders folders; // inherited by the command
    TempDir folder;
};

TEST_F(CommandTest, ListPrintsTheShellEntries)
{
    const auto result = RunShell(Host("list " + Quoted(ModulePath())));
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 25u) << result.out;
    EXPECT_EQ(lines[0], "0  QZs0  QV DC  effect");
    EXPECT_EQ(lines[3], "3  QZs3  QV Trigger  instrument");
    EXPECT_EQ(lines[16], "16  QZs(  QV AC Encoder (6ch)  effect");
    EXPECT_EQ(lines[24], "24  QZsn  QV Function  effect");
}

TEST_F(CommandTest, ParamsListsTheParametersWithTheirIndices)
{
    if (!CreateDC())
        GTEST_SKIP() << "the DC plug-in is not built yet";
    const auto result = RunShell(Host("params " + Quoted(ModulePath()) + " dc"));
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 13u) << result.out;
    EXPECT_EQ(lines[0], "0  Output Positive  0.000");
    EXPECT_EQ(lines[2], "2  Multiplier L  1.000");
    EXPECT_EQ(lines[10], "10  OSC Port Offset  Off");
    EXPECT_EQ(lines[12], "12  Smoothing R  Off ms");
}

TEST_F(CommandTest, BadInputFailsWithAClearMessage)
{
    const std::string module = Quoted(ModulePath());
    const std::string out = " --out " + Quoted(folder.Path() + "/x.wav");
    const struct {
        std::string arguments;
        const char* message;
    } cases[] = {
        {"", "no command"},
        {"play " + module, "unknown command 'play'"},
        {"list", "one argument"},
        {"list " + Quoted(folder.Path() + "/missing.so"), "missing.so"},
        {"render " + module + out, "needs --plugin"},
        {"render " + module + " --plugin QZs0", "needs --out"},
        {"render " + module + " --plugin nothing" + out, "no plug-in 'nothing'"},
        {"render " + module + " --plugin Sync" + out, "QZse (instrument) QZsf (effect)"},
        {"render " + module + " --plugin QZzz" + out, "no plug-in for id QZzz"},
        {"render " + module + " --plugin QZs0 --format wav" + out, "not float or pcm16"},
        {"render " + module + " --plugin QZs0 --seconds -1" + out, "--seconds"},
        {"render " + module + " --plugin QZs0 --rate abc" + out, "'abc' is not a number"},
        {"render " + module + " --plugin QZs0 --input noise" + out, "--input"},
        {"render " + module + " --plugin QZs0 --note 0:60:100" + out, "time:note:velocity:duration"},
        {"render " + module + " --plugin QZs0 --note 0:128:100:1" + out, "--note note"},
        {"render " + module + " --plugin QZs0 --timesig 4" + out, "N/D"},
        {"render " + module + " --plugin QZs0 --param Nothing=1" + out, "no parameter 'Nothing'"},
        {"render " + module + " --plugin QZs0 --param 0" + out, "NAME=VALUE"},
        {"render " + module + " --plugin QZs0 --param 0=@2" + out, "from 0 to 1"},
        {"render " + module + " --plugin QZs0 --out " + Quoted(folder.Path() + "/no/such/x.wav"),
         "no/such/x.wav"},
    };
    for (const auto& c : cases) {
        const auto result = RunShell(Host(c.arguments));
        EXPECT_NE(result.status, 0) << c.arguments;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << c.arguments << "\n" << result.err;
    }
}

TEST_F(CommandTest, RendersTheDCAtItsLevels)
{
    if (!CreateDC())
        GTEST_SKIP() << "the DC plug-in is not built yet";
    const std::string module = Quoted(ModulePath());
    const std::string floatFile = folder.Path() + "/dc.wav", pcmFile = folder.Path() + "/dc16.wav";
    const struct {
        std::string arguments;
        std::string file;
        float left, right;
    } cases[] = {
        // Defaults: 0 on both outputs whatever the input.
        {"--plugin QZs0 --input const:0.7", floatFile, 0.0f, 0.0f},
        // Real values found through the display, names and indices, value
        // names; the plug-in by id, short or full name.
        {"--plugin dc --param '0=0.5' --param 'multiplier r=-2' --param '5=1'", floatFile, 0.5f, -2.0f},
        {"--plugin 'QV DC' --param '0=@0.25' --param '6=-0.75'", floatFile, 0.25f, -0.75f},
        {"--plugin QZs0 --input const:0.25 --param 'Input Add L=1' --param 'Smoothing L=Off' "
         "--param 'OSC Port Offset=off'",
         floatFile, 0.25f, 0.0f},
        {"--plugin QZs0 --format pcm16 --param '0=0.5' --param '6=-1'", pcmFile, 16384 / 32768.0f,
         -32767 / 32768.0f},
    };
    for (const auto& c : cases) {
        const auto result = RunShell(Host("render " + module + " " + c.arguments +
                                     " --seconds 0.05 --rate 44100 --block 100 --out " + Quoted(c.file)));
        ASSERT_EQ(result.status, 0) << c.arguments << "\n" << result.err;
        std::string error;
        const auto wav = ReadWav(c.file, &error);
        ASSERT_TRUE(wav) << error;
        EXPECT_EQ(wav->sampleRate, 44100);
        ASSERT_EQ(wav->channels.size(), 2u);
        ASSERT_EQ(wav->channels[0].size(), 2205u) << c.arguments;
        for (size_t i = 0; i < 2205; ++i) {
            ASSERT_FLOAT_EQ(wav->channels[0][i], c.left) << c.arguments << " frame " << i;
            ASSERT_FLOAT_EQ(wav->channels[1][i], c.right) << c.arguments << " frame " << i;
        }
    }
    const auto soxInfo = RunShell("sox --i -e " + Quoted(floatFile));
    EXPECT_EQ(soxInfo.out, "Floating Point PCM\n");

    const auto outOfRange = RunShell(Host("render " + module + " --plugin QZs0 --param '0=2' --out " +
                                     Quoted(floatFile)));
    EXPECT_NE(outOfRange.status, 0);
    EXPECT_NE(outOfRange.err.find("outside the range"), std::string::npos) << outOfRange.err;
    // The plug-in shows "Output Positive L" and "Output Positive R" cut to
    // the same 15 characters.
    const auto ambiguous = RunShell(Host("render " + module + " --plugin QZs0 --param 'Output Positive L=1' --out " +
                                         Quoted(floatFile)));
    EXPECT_NE(ambiguous.status, 0);
    EXPECT_NE(ambiguous.err.find("could be parameter 0, 5"), std::string::npos) << ambiguous.err;
}

} // namespace
