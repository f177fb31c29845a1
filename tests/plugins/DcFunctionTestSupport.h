// Helpers of the DC and Function tests: the module loaded once, parameter
// values set by their real value through the host interface, and a tiny host
// callback for plug-ins built in-process.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/VstHost.h"

namespace corvane::test {

// The built module, loaded once per test binary.
host::Module& DcFunctionModule();

// Range of a parameter as the host has to know it to normalise.
struct Range {
    float min;
    float max;
};

// Sets a parameter through the host interface by its real value, normalised
// linearly over `range` (every DC and Function parameter maps linearly). By
// index: the host sees names cut to 15 characters, which leaves "Output
// Positive L" and "Output Positive R" the same.
void SetReal(host::Plugin& plugin, int32_t index, Range range, float real);

// One block of `frames` samples through the plug-in, both inputs given.
struct Stereo {
    std::vector<float> left, right;
};
Stereo RunBlock(host::Plugin& plugin, const std::vector<float>& left, const std::vector<float>& right);
Stereo RunConstant(host::Plugin& plugin, float left, float right, int32_t frames = 512);

// A host callback for plug-ins constructed in-process: answers the version
// and logs audioMasterAutomate (index, value) pairs.
struct AutomateCall {
    int32_t index;
    float value;
};
intptr_t InProcessHost(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
std::vector<AutomateCall> TakeAutomateLog();

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

bool AllFinite(const std::vector<float>& samples);

} // namespace corvane::test
