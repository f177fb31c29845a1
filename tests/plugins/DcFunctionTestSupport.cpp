#include "tests/plugins/DcFunctionTestSupport.h"

namespace corvane::test {

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

} // namespace corvane::test
