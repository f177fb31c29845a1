#include "tests/support/PluginTestSupport.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <string>

#include "tests/support/TestSupport.h"

namespace corvane::test {

host::Module& LoadedModule()
{
    static std::unique_ptr<host::Module> module = [] {
        std::string error;
        auto loaded = host::Module::Load(ModulePath(), &error);
        if (!loaded)
            throw std::runtime_error("cannot load the module: " + error);
        return loaded;
    }();
    return *module;
}

float Range::Normalise(float real) const
{
    if (logarithmic)
        return static_cast<float>(std::log(real / min) / std::log(max / min));
    return (real - min) / (max - min);
}

void SetReal(host::Plugin& plugin, int32_t index, Range range, float real)
{
    plugin.SetParameter(index, range.Normalise(real));
}

bool AllFinite(const std::vector<float>& samples)
{
    for (float v : samples)
        if (!std::isfinite(v))
            return false;
    return true;
}

Stereo RunInBlocks(host::Plugin& plugin, int64_t frames, int32_t block, float input,
                   const std::function<void(int64_t)>& beforeBlock)
{
    Stereo out;
    std::vector<std::vector<float>> outputs;
    for (int64_t done = 0; done < frames;) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(block, frames - done));
        if (beforeBlock)
            beforeBlock(done);
        const std::vector<std::vector<float>> inputs(2, std::vector<float>(n, input));
        plugin.ProcessBlock(inputs, outputs, n);
        out.left.insert(out.left.end(), outputs[0].begin(), outputs[0].end());
        out.right.insert(out.right.end(), outputs[1].begin(), outputs[1].end());
        done += n;
    }
    return out;
}

PlayingPlugin::PlayingPlugin(int32_t uniqueId, const char* what, int32_t block, int32_t groupSize,
                             Range (*rangeOf)(int32_t))
    : plugin(host::Plugin::Create(LoadedModule(), uniqueId)), block(block), groupSize(groupSize), rangeOf(rangeOf)
{
    if (!plugin)
        throw std::runtime_error(std::string("the module gives no ") + what);
    plugin->Start(48000, block);
    plugin->Time().tempo = 120;
    plugin->Time().ppqPos = 0;
    plugin->Time().playing = true;
}

void PlayingPlugin::Set(int32_t index, float real)
{
    SetReal(*plugin, index, rangeOf(index), real);
}

// ---- plug-ins built in-process ---------------------------------------------

namespace {

VstTimeInfo gTime{};
bool gAnswerTime = true;
std::mutex gAutomateLock;
std::vector<AutomateCall> gAutomateLog;

} // namespace

intptr_t InProcessHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterGetTime: return gAnswerTime ? reinterpret_cast<intptr_t>(&gTime) : 0;
    case audioMasterAutomate: {
        std::lock_guard<std::mutex> guard(gAutomateLock);
        gAutomateLog.push_back({index, opt});
        return 0;
    }
    default: return 0;
    }
}

VstTimeInfo& InProcessTime()
{
    return gTime;
}

void AnswerInProcessTime(bool answer)
{
    gAnswerTime = answer;
}

void StartInProcessTransport(double ppq)
{
    gTime = VstTimeInfo{};
    gTime.sampleRate = 48000;
    gTime.tempo = 120;
    gTime.ppqPos = ppq;
    gTime.flags = kVstTempoValid | kVstPpqPosValid | kVstTransportPlaying;
    gAnswerTime = true;
}

std::vector<AutomateCall> TakeAutomateLog()
{
    std::lock_guard<std::mutex> guard(gAutomateLock);
    std::vector<AutomateCall> log;
    log.swap(gAutomateLog);
    return log;
}

} // namespace corvane::test
