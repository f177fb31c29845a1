#include "tests/plugins/DcFunctionTestSupport.h"

#include <mutex>
#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace corvane::test {

host::Module& DcFunctionModule()
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

void SetReal(host::Plugin& plugin, int32_t index, Range range, float real)
{
    plugin.SetParameter(index, (real - range.min) / (range.max - range.min));
}

Stereo RunBlock(host::Plugin& plugin, const std::vector<float>& left, const std::vector<float>& right)
{
    std::vector<std::vector<float>> inputs{left, right}, outputs;
    plugin.ProcessBlock(inputs, outputs, static_cast<int32_t>(left.size()));
    return {outputs.at(0), outputs.at(1)};
}

Stereo RunConstant(host::Plugin& plugin, float left, float right, int32_t frames)
{
    return RunBlock(plugin, std::vector<float>(frames, left), std::vector<float>(frames, right));
}

namespace {
std::mutex gAutomateLock;
std::vector<AutomateCall> gAutomateLog;
} // namespace

intptr_t InProcessHost(AEffect*, int32_t opcode, int32_t index, intptr_t, void*, float opt)
{
    switch (opcode) {
    case audioMasterVersion: return 2400;
    case audioMasterAutomate: {
        std::lock_guard<std::mutex> guard(gAutomateLock);
        gAutomateLog.push_back({index, opt});
        return 0;
    }
    default: return 0;
    }
}

std::vector<AutomateCall> TakeAutomateLog()
{
    std::lock_guard<std::mutex> guard(gAutomateLock);
    std::vector<AutomateCall> log;
    log.swap(gAutomateLog);
    return log;
}

bool AllFinite(const std::vector<float>& samples)
{
    for (float v : samples)
        if (!std::isfinite(v))
            return false;
    return true;
}

} // namespace corvane::test
