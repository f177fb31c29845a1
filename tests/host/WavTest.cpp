// WAV files: what the writer makes must be read by sox and by Python's wave
// module (PCM), and by our own reader; bad files give an error, not a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/Wav.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace corvane::host;
using corvane::test::Quoted;
using corvane::test::RunShell;
using corvane::test::TempDir;

namespace {

std::vector<std::vector<float>> TestSignal(int channels, size_t frames)
{
    std::vector<std::vector<float>> signal(channels, std::vector<float>(frames));
    for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i)
            signal[c][i] = static_cast<float>(0.9 * std::sin(0.01 * (c + 1) * static_cast<double>(i)));
    // Exact values and values PCM must clip.
    signal[0][0] = 1.0f;
    signal[0][1] = -1.0f;
    signal[0][2] = 0.25f;
    signal[0][3] = 1.5f;
    signal[0][4] = -7.0f;
    return signal;
}

std::string SoxInfo(const std::string& option, const std::string& path)
{
    auto result = RunShell("sox --i " + option + " " + Quoted(path));
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out.substr(0, result.out.find('\n'));
}

std::vector<float> ReadFloats(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    std::vector<float> samples(data.size() / 4);
    std::memcpy(samples.data(), data.data(), samples.size() * 4);
    return samples;
}

TEST(WavTest, FloatFilesRoundTripThroughSoxAndOurReader)
{
    TempDir folder;
    for (int channels : {1, 2, 6}) {
        const std::string path = folder.Path() + "/float" + std::to_string(channels) + ".wav";
        const auto signal = TestSignal(channels, 1001);
        std::string error;
        ASSERT_TRUE(WriteWav(path, signal, 44100, WavFormat::Float32, &error)) << error;

        EXPECT_EQ(SoxInfo("-c", path), std::to_string(channels));
        EXPECT_EQ(SoxInfo("-r", path), "44100");
        EXPECT_EQ(SoxInfo("-s", path), "1001");
        EXPECT_EQ(SoxInfo("-e", path), "Floating Point PCM");
        EXPECT_EQ(SoxInfo("-b", path), "32");
        // sox decodes the same samples (interleaved raw floats; sox clips to
        // -1..1 on the way).
        const std::string raw = folder.Path() + "/decoded.f32";
        auto converted = RunShell("sox " + Quoted(path) + " -t f32 " + Quoted(raw));
        ASSERT_EQ(converted.status, 0) << converted.err;
        const auto decoded = ReadFloats(raw);
        ASSERT_EQ(decoded.size(), 1001u * channels);
        for (size_t i = 0; i < 1001; ++i)
            for (int c = 0; c < channels; ++c)
                ASSERT_NEAR(decoded[i * channels + c], std::clamp(signal[c][i], -1.0f, 1.0f), 1e-6)
                    << c << " " << i;

        const auto read = ReadWav(path, &error);
        ASSERT_TRUE(read) << error;
        EXPECT_EQ(read->format, WavFormat::Float32);
        EXPECT_EQ(read->sampleRate, 44100);
        EXPECT_EQ(read->channels, signal);
    }
}

TEST(WavTest, Pcm16FilesAreReadByPythonWaveAndSox)
{
    TempDir folder;
    const std::string path = folder.Path() + "/pcm.wav";
    const auto signal = TestSignal(2, 500);
    ASSERT_TRUE(WriteWav(path, signal, 48000, WavFormat::Pcm16));

    EXPECT_EQ(SoxInfo("-e", path), "Signed Integer PCM");
    EXPECT_EQ(SoxInfo("-b", path), "16");
    const std::string script = "import wave, struct, sys\n"
                               "w = wave.open(sys.argv[1], 'rb')\n"
                               "frames = w.readframes(w.getnframes())\n"
                               "values = struct.unpack('<%dh' % (len(frames) // 2), frames)\n"
                               "print(w.getnchannels(), w.getframerate(), w.getsampwidth(), w.getnframes())\n"
                               "print(*values[:12])\n";
    folder.WriteFile("read.py", script);
    auto result = RunShell("python3 " + Quoted(folder.Path() + "/read.py") + " " + Quoted(path));
    ASSERT_EQ(result.status, 0) << result.err;
    std::istringstream out(result.out);
    int channels, rate, width, frames;
    out >> channels >> rate >> width >> frames;
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(frames, 500);
    // Frames 0..5 interleaved: left 1, -1, 0.25 and clipped 1.5 and -7.
    std::vector<int> values(12);
    for (int& v : values)
        out >> v;
    EXPECT_EQ(values[0], 32767);
    EXPECT_EQ(values[2], -32767);
    EXPECT_EQ(values[4], 8192);
    EXPECT_EQ(values[6], 32767);
    EXPECT_EQ(values[8], -32767);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(values[2 * i + 1] / 32767.0, signal[1][i], 1.0 / 32767) << i;

    const auto read = ReadWav(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->format, WavFormat::Pcm16);
    ASSERT_EQ(read->channels.size(), 2u);
    EXPECT_NEAR(read->channels[0][2], 0.25f, 1e-4);
}

TEST(WavTest, WriterStreamsBlocksAndReportsFailures)
{
    TempDir folder;
    const std::string path = folder.Path() + "/blocks.wav";
    const auto signal = TestSignal(2, 300);
    WavWriter writer;
    ASSERT_TRUE(writer.Open(path, 2, 8000, WavFormat::Float32));
    ASSERT_TRUE(writer.Write(signal, 100, 0));
    ASSERT_TRUE(writer.Write(signal, 200, 100));
    ASSERT_TRUE(writer.Close());
    const auto read = ReadWav(path);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->channels, signal);

    std::string error;
    EXPECT_FALSE(WavWriter().Open(folder.Path() + "/no/such/folder.wav", 2, 8000, WavFormat::Float32, &error));
    EXPECT_NE(error.find("no/such/folder.wav"), std::string::npos) << error;
    WavWriter shortInput;
    ASSERT_TRUE(shortInput.Open(path, 2, 8000, WavFormat::Pcm16));
    EXPECT_FALSE(shortInput.Write(signal, 301, 0, &error)); // more frames than the channels hold
    EXPECT_FALSE(shortInput.Write({signal[0]}, 10, 0, &error)); // too few channels
    // Up to 64 channels.
    EXPECT_TRUE(WavWriter().Open(path, 64, 8000, WavFormat::Float32));
    EXPECT_FALSE(WavWriter().Open(path, 65, 8000, WavFormat::Float32));
    EXPECT_FALSE(WavWriter().Open(path, 0, 8000, WavFormat::Float32));
}

TEST(WavTest, ReaderRejectsBadFilesWithoutCrashing)
{
    TempDir folder;
    const std::string valid = folder.Path() + "/valid.wav";
    ASSERT_TRUE(WriteWav(valid, TestSignal(2, 50), 8000, WavFormat::Pcm16));
    std::ifstream in(valid, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    auto patched = [&](size_t offset, std::string bytes) {
        std::string file = good;
        file.replace(offset, bytes.size(), bytes);
        return file;
    };
    const struct {
        const char* what;
        std::string content;
    } cases[] = {
        {"empty", ""},
        {"not RIFF", "RIFX" + good.substr(4)},
        {"header only", good.substr(0, 12)},
        {"fmt chunk larger than the file", patched(16, std::string("\xff\xff\xff\x7f", 4))},
        {"24-bit samples", patched(34, std::string("\x18\x00", 2))},
        {"no channels", patched(22, std::string("\x00\x00", 2))},
        {"no data chunk", good.substr(0, 36)},
    };
    for (const auto& c : cases) {
        folder.WriteFile("bad.wav", c.content);
        std::string error;
        EXPECT_FALSE(ReadWav(folder.Path() + "/bad.wav", &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
    // A data chunk cut short keeps the frames that are there.
    folder.WriteFile("cut.wav", good.substr(0, good.size() - 41));
    const auto cut = ReadWav(folder.Path() + "/cut.wav");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->channels[0].size(), 39u);
}

} // namespace
