// Every entry of the module renders the same as when the stored hashes were
// made: the shared workload (host/Workload.h) in blocks of changing size,
// parameter automation halfway through the signal, then silence. Values
// below 1e-30 count as zero, so flushing denormals changes no hash.
//
// After a deliberate change to a plug-in's output, rewrite the stored hashes
// with CORVANE_WRITE_RENDER_HASHES=1 and commit them on their own, saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "host/Workload.h"
#include "tests/support/PluginTestSupport.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace corvane;

constexpr double kRate = 48000;
constexpr int32_t kMaxBlock = 512;
constexpr int32_t kBlocks[] = {64, 16, 512, 7, 128, 256, 1, 100};
constexpr int64_t kSignalFrames = 24000;  // automation at half of it
constexpr int64_t kSilenceFrames = 48000; // long enough for every state to decay

const char* const kPhases[] = {"signal", "changed", "silence"};

std::string HashFile()
{
    return std::string(test::SourceDir()) + "/tests/plugins/RenderHashes.txt";
}

// FNV-1a over the samples' bits, with every value below 1e-30 taken as +0
// and every NaN as one NaN.
class SampleHash {
public:
    void Add(float sample)
    {
        if (std::fabs(sample) < 1e-30f)
            sample = 0.0f;
        if (std::isnan(sample))
            sample = std::numeric_limits<float>::quiet_NaN();
        uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            value ^= (bits >> (8 * b)) & 0xFF;
            value *= 0x100000001B3ull;
        }
    }
    std::string Text() const
    {
        char text[17];
        snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
        return text;
    }

private:
    uint64_t value = 0xCBF29CE484222325ull;
};

// "ID channel phase" -> hash, for every entry.
using Hashes = std::map<std::string, std::string>;

void Render(const host::EntryWorkload& workload, Hashes& hashes)
{
    host::WorkloadRun run(test::LoadedModule(), workload, kRate, kMaxBlock);
    std::vector<std::vector<SampleHash>> phases(std::size(kPhases), std::vector<SampleHash>(run.NumOutputs()));
    size_t blockIndex = 0;
    bool changed = false;
    const int64_t total = kSignalFrames + kSilenceFrames;
    while (run.Position() < total) {
        int64_t frames = kBlocks[blockIndex++ % std::size(kBlocks)];
        const int64_t position = run.Position();
        if (position < kSignalFrames)
            frames = std::min(frames, (position < kSignalFrames / 2 ? kSignalFrames / 2 : kSignalFrames) - position);
        frames = std::min(frames, total - position);
        if (!changed && position >= kSignalFrames / 2) {
            run.ApplyChange();
            changed = true;
        }
        const size_t phase = position < kSignalFrames / 2 ? 0 : position < kSignalFrames ? 1 : 2;
        run.Block(static_cast<int32_t>(frames), phase == 2);
        for (int32_t c = 0; c < run.NumOutputs(); ++c)
            for (int64_t i = 0; i < frames; ++i)
                phases[phase][c].Add(run.Outputs()[c][i]);
    }
    for (size_t p = 0; p < std::size(kPhases); ++p)
        for (int32_t c = 0; c < run.NumOutputs(); ++c)
            hashes[std::string(workload.id) + " " + std::to_string(c) + " " + kPhases[p]] = phases[p][c].Text();
}

Hashes ReadHashes(const std::string& path)
{
    Hashes hashes;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t last = line.rfind(' ');
        if (last != std::string::npos)
            hashes[line.substr(0, last)] = line.substr(last + 1);
    }
    return hashes;
}

TEST(RenderStability, EveryEntryRendersAsStored)
{
    test::ScopedUserFolders folders;
    Hashes rendered;
    for (const host::EntryWorkload& workload : host::EntryWorkloads())
        Render(workload, rendered);

    if (getenv("CORVANE_WRITE_RENDER_HASHES")) {
        std::ofstream file(HashFile());
        file << "# Outputs of the shared workload per entry, channel and phase\n";
        for (const auto& [key, hash] : rendered)
            file << key << ' ' << hash << '\n';
        GTEST_SKIP() << "wrote " << HashFile();
    }

    const Hashes stored = ReadHashes(HashFile());
    ASSERT_EQ(stored.size(), rendered.size()) << "entries or channels differ from " << HashFile();
    for (const auto& [key, hash] : rendered) {
        const auto found = stored.find(key);
        ASSERT_NE(found, stored.end()) << key;
        EXPECT_EQ(found->second, hash) << key << " renders differently";
    }
}

// The workload must make each plug-in work: every entry with audio outputs
// moves at least one of them while the signal plays. The Learner and the
// Soundplane take their values over the network, which this set-up leaves out.
TEST(RenderStability, WorkloadMovesEveryEntryWithOutputs)
{
    test::ScopedUserFolders folders;
    for (const host::EntryWorkload& workload : host::EntryWorkloads()) {
        host::WorkloadRun run(test::LoadedModule(), workload, kRate, kMaxBlock);
        const std::string id = workload.id;
        if (run.NumOutputs() == 0 || id == "QZsk" || id == "QZsl")
            continue;
        bool moved = false;
        std::vector<float> first(run.NumOutputs(), std::numeric_limits<float>::quiet_NaN());
        while (run.Position() < kSignalFrames && !moved) {
            run.Block(kMaxBlock, false);
            for (int32_t c = 0; c < run.NumOutputs() && !moved; ++c)
                for (int32_t i = 0; i < kMaxBlock && !moved; ++i) {
                    if (std::isnan(first[c]))
                        first[c] = run.Outputs()[c][i];
                    moved = run.Outputs()[c][i] != first[c];
                }
        }
        EXPECT_TRUE(moved) << workload.id << " gives constant outputs";
    }
}

// Hosts that process in place hand the input buffers as outputs: the
// plug-ins whose loops work on groups of samples give the same either way,
// for blocks that are and are not whole groups.
TEST(RenderStability, InPlaceRendersAsSeparateBuffers)
{
    test::ScopedUserFolders folders;
    constexpr int32_t kSizes[] = {37, 64, 1, 512, 15, 8};
    for (const char* id : {"QZs0", "QZsb", "QZs9", "QZs("}) {
        const auto& all = host::EntryWorkloads();
        const auto workload
            = std::find_if(all.begin(), all.end(), [&](const auto& w) { return std::string(w.id) == id; });
        ASSERT_NE(workload, all.end()) << id;
        host::WorkloadRun separate(test::LoadedModule(), *workload, kRate, kMaxBlock);
        host::WorkloadRun inPlace(test::LoadedModule(), *workload, kRate, kMaxBlock);
        const int32_t inputs = separate.Hosted().NumInputs();
        const int32_t outputs = separate.Hosted().NumOutputs();
        ASSERT_GE(inputs, outputs) << id;
        int64_t t = 0;
        for (int32_t frames : kSizes) {
            std::vector<std::vector<float>> in(inputs, std::vector<float>(frames));
            std::vector<std::vector<float>> out(outputs, std::vector<float>(frames));
            for (int32_t c = 0; c < inputs; ++c)
                for (int32_t i = 0; i < frames; ++i)
                    in[c][i] = 1.5f * std::sin(0.05f * static_cast<float>(t + i) + static_cast<float>(c));
            std::vector<std::vector<float>> shared = in;
            std::vector<float*> inPointers, outPointers, sharedPointers;
            for (auto& channel : in)
                inPointers.push_back(channel.data());
            for (auto& channel : out)
                outPointers.push_back(channel.data());
            for (auto& channel : shared)
                sharedPointers.push_back(channel.data());
            separate.Hosted().ProcessReplacing(inPointers.data(), outPointers.data(), frames);
            inPlace.Hosted().ProcessReplacing(sharedPointers.data(), sharedPointers.data(), frames);
            for (int32_t c = 0; c < outputs; ++c)
                for (int32_t i = 0; i < frames; ++i)
                    ASSERT_EQ(shared[c][i], out[c][i])
                        << id << " channel " << c << ", block of " << frames << ", sample " << i;
            t += frames;
        }
    }
}

} // namespace
