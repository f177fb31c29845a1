// Helpers of the DC and Function tests: one block through a hosted plug-in
// with both inputs given. The module, parameter ranges and the in-process
// host come from tests/support/PluginTestSupport.h (every DC and Function
// parameter maps linearly).
#pragma once

#include <cstdint>
#include <vector>

#include "host/VstHost.h"
#include "tests/support/PluginTestSupport.h"

namespace corvane::test {

// One block of `frames` samples through the plug-in, both inputs given.
Stereo RunBlock(host::Plugin& plugin, const std::vector<float>& left, const std::vector<float>& right);
Stereo RunConstant(host::Plugin& plugin, float left, float right, int32_t frames = 512);

} // namespace corvane::test
